// Opening a large FB2 book for reading: FbDocument::load of a 5 MB book with 400 chapters in
// 20 parts and 20 illustrations (reading, images written, chapter pages written), against
// FbBook::load alone. Target: the whole conversion under 0.6 s. (On ext4 without a journal most
// of the rest is the kernel allocating inodes for the new pages.)
#include "fb2builder.h"
#include "formats/fb2/fbbook.h"
#include "formats/fb2/fbdocument.h"
#include "mobiwriter.h"

#include <QDir>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <functional>

namespace {

const QString kSentence = QStringLiteral("The fog lay over the town and the lamps burned dimly, as if through "
                                         "milk; people hurried home without looking at one another. ");

QByteArray book(int targetBytes)
{
    Fb2Builder builder;
    builder.setBookTitle(QStringLiteral("Fog"));
    QString body = Fb2Builder::title({ QStringLiteral("Fog") });
    int size = 0;
    int chapter = 0;
    for (int part = 1; size < targetBytes; ++part) {
        QString parts = Fb2Builder::p(kSentence);
        for (int k = 0; k < 20; ++k) {
            ++chapter;
            QString content;
            for (int i = 0; i < 25; ++i)
                content += Fb2Builder::p(kSentence.repeated(2 + i % 4));
            if (chapter % 20 == 0)
                content += Fb2Builder::image(QStringLiteral("pic%1.jpg").arg(chapter / 20));
            parts += Fb2Builder::section(content, QStringLiteral("Chapter %1").arg(chapter));
        }
        const QString section = Fb2Builder::section(parts, QStringLiteral("Part %1").arg(part));
        body += section;
        size += section.toUtf8().size();
    }
    builder.addBody(body);
    for (int i = 1; i <= chapter / 20; ++i)
        builder.addBinary(QStringLiteral("pic%1.jpg").arg(i),
            MobiWriter::image(QSize(800, 1200), QColor::fromHsv(i * 17 % 360, 120, 200), "JPG"), "image/jpeg");
    return builder.bytes();
}

void measure(const char* label, const std::function<int()>& run)
{
    QList<qint64> times;
    int count = 0;
    for (int i = 0; i < 7; ++i) {
        QElapsedTimer timer;
        timer.start();
        count = run();
        times.append(timer.nsecsElapsed() / 1000);
    }
    std::sort(times.begin(), times.end());
    std::printf("%-24s median %7.1f ms  best %7.1f ms  (%d)\n", label, times.at(times.size() / 2) / 1000.0,
        times.first() / 1000.0, count);
}

} // namespace

int main(int argc, char** argv)
{
    QGuiApplication app(argc, argv);
    qSetMessagePattern(QStringLiteral("%{if-warning}%{message}%{endif}"));
    QTemporaryDir dir;
    const QByteArray bytes = book(5 * 1024 * 1024);
    const QString path = dir.filePath(QStringLiteral("fog.fb2"));
    QFile file(path);
    file.open(QIODevice::WriteOnly);
    file.write(bytes);
    file.close();
    std::printf("book: %.2f MB\n", bytes.size() / 1048576.0);

    measure("FbBook::load", [&path] {
        fb2::FbBook book;
        book.load(path, QString());
        return book.bodies.isEmpty() ? 0 : book.bodies.first().sections.size();
    });
    const QString out = dir.filePath(QStringLiteral("out"));
    QDir().mkpath(out);
    measure("FbDocument::load", [&path, &out] {
        fb2::FbDocument document(path);
        document.load(out);
        return document.chapters().size();
    });
    return 0;
}
