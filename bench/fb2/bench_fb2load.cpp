// Load time of large FB2 and TXT books: a 5 MB FB2 file, a 5 MB UTF-8 text file and the same
// text as a cp1251 entry of a ZIP archive (encoding detection). Target: each under 0.3 s.
#include "epubbuilder.h"
#include "fb2builder.h"
#include "formats/fb2/fbbook.h"
#include "zipwriter.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTextCodec>
#include <QtGlobal>

#include <algorithm>
#include <cstdio>

namespace {

const QString kSentence = QStringLiteral("Над городом стоял туман, и фонари горели тускло, как будто сквозь "
                                         "молоко; прохожие спешили домой, не глядя друг на друга. ");

QString paragraph(int i) { return kSentence.repeated(2 + i % 4); }

QByteArray fb2Book(int targetBytes)
{
    Fb2Builder builder;
    builder.setBookTitle(QStringLiteral("Туман"));
    builder.addAuthor({ QStringLiteral("Анна"), QString(), QStringLiteral("Берг"), QString(), QString() });
    QString body = Fb2Builder::title({ QStringLiteral("Туман") });
    int size = 0;
    for (int chapter = 1; size < targetBytes; ++chapter) {
        QString content;
        for (int i = 0; i < 30; ++i) {
            content += Fb2Builder::pXml(Fb2Builder::esc(paragraph(i)) + QStringLiteral("<emphasis>конец</emphasis> ")
                + QStringLiteral("<a l:href=\"#n%1\" type=\"note\">%1</a>").arg(chapter));
        }
        content += Fb2Builder::poem({ { QStringLiteral("Строка один"), QStringLiteral("Строка два") } });
        if (chapter % 20 == 0)
            content += Fb2Builder::image(QStringLiteral("pic%1.png").arg(chapter / 20 % 5));
        const QString section = Fb2Builder::section(content, QStringLiteral("Глава %1").arg(chapter));
        body += section;
        size += section.toUtf8().size();
    }
    builder.addBody(body);
    builder.addBody(Fb2Builder::section(Fb2Builder::p(kSentence), QStringLiteral("1"), QStringLiteral("n1")),
        QStringLiteral("notes"));
    for (int i = 0; i < 5; ++i)
        builder.addBinary(QStringLiteral("pic%1.png").arg(i), EpubBuilder::png(400, 300, 0x336699 + i));
    return builder.bytes();
}

QString textBook(int targetBytes)
{
    QString text;
    int bytes = 0;
    for (int i = 0; bytes < targetBytes; ++i) {
        const QString line = paragraph(i) + QLatin1Char('\n');
        text += line;
        bytes += line.toUtf8().size();
    }
    return text;
}

void measure(const char* label, const QString& path, qint64 bytes)
{
    QList<qint64> times;
    int sections = 0;
    for (int run = 0; run < 7; ++run) {
        QElapsedTimer timer;
        timer.start();
        fb2::FbBook book;
        if (!book.load(path, QString())) {
            std::printf("%s: load failed\n", label);
            return;
        }
        times.append(timer.nsecsElapsed() / 1000);
        sections = book.bodies.isEmpty() ? 0 : book.bodies.first().sections.size();
    }
    std::sort(times.begin(), times.end());
    std::printf("%-28s %6.2f MB  median %7.1f ms  best %7.1f ms  (%d sections)\n", label, bytes / 1048576.0,
        times.at(times.size() / 2) / 1000.0, times.first() / 1000.0, sections);
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    qSetMessagePattern(QStringLiteral("%{if-warning}%{message}%{endif}"));
    QTemporaryDir dir;
    const int target = 5 * 1024 * 1024;

    const QByteArray fb2 = fb2Book(target);
    QFile fb2File(dir.filePath(QStringLiteral("book.fb2")));
    fb2File.open(QIODevice::WriteOnly);
    fb2File.write(fb2);
    fb2File.close();

    const QString text = textBook(target);
    const QByteArray utf8 = text.toUtf8();
    QFile txtFile(dir.filePath(QStringLiteral("book.txt")));
    txtFile.open(QIODevice::WriteOnly);
    txtFile.write(utf8);
    txtFile.close();

    const QByteArray cp1251 = QTextCodec::codecForName("windows-1251")->fromUnicode(text);
    ZipWriter::write(dir.filePath(QStringLiteral("book.zip")), { { QStringLiteral("book.txt"), cp1251 } });

    measure("FB2 file", fb2File.fileName(), fb2.size());
    measure("TXT file (UTF-8)", txtFile.fileName(), utf8.size());
    measure("TXT in ZIP (cp1251, guessed)", dir.filePath(QStringLiteral("book.zip")), cp1251.size());
    return 0;
}
