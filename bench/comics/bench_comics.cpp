// A 300-page comic: ComicDocument::load (listing and ordering only) and page requests
// (unpack and decode one 1400 x 2100 JPEG page), as CBZ and as CBR. Targets: load under
// 20 ms, a page under 60 ms.
#include "formats/comics/comicdocument.h"
#include "mobiwriter.h"
#include "rarwriter.h"
#include "temphome.h"
#include "zipwriter.h"

#include <QElapsedTimer>
#include <QGuiApplication>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>

namespace {

const int kPages = 300;

void measure(const char* label, const QString& path)
{
    QList<qint64> loads;
    for (int i = 0; i < 7; ++i) {
        QElapsedTimer timer;
        timer.start();
        ComicDocument document;
        document.load(path);
        loads.append(timer.nsecsElapsed() / 1000);
    }
    std::sort(loads.begin(), loads.end());

    ComicDocument document;
    document.load(path);
    QList<qint64> pages;
    for (int page = 1; page <= document.pageCount(); page += 15) {
        QElapsedTimer timer;
        timer.start();
        const QImage image = document.requestImage(page, 1.0);
        pages.append(timer.nsecsElapsed() / 1000);
        if (image.isNull())
            std::printf("%s: page %d failed\n", label, page);
    }
    std::sort(pages.begin(), pages.end());
    std::printf("%-4s %d pages  load median %6.1f ms  page median %6.1f ms  worst %6.1f ms\n", label,
        document.pageCount(), loads.at(loads.size() / 2) / 1000.0, pages.at(pages.size() / 2) / 1000.0,
        pages.last() / 1000.0);
}

} // namespace

int main(int argc, char** argv)
{
    QGuiApplication app(argc, argv);
    qSetMessagePattern(QStringLiteral("%{if-warning}%{message}%{endif}"));
    TempHome home;
    QTemporaryDir dir;
    ZipWriter zip(dir.filePath(QStringLiteral("comic.cbz")));
    RarWriter rar(dir.filePath(QStringLiteral("comic.cbr")));
    for (int i = 1; i <= kPages; ++i) {
        const QString name = QStringLiteral("Issue 1/page %1.jpg").arg(i);
        const QByteArray page = MobiWriter::image(QSize(1400, 2100), QColor::fromHsv(i % 360, 90, 220), "JPG");
        zip.add(name, page, false);
        rar.add(name, page);
    }
    zip.write();
    rar.write();
    measure("CBZ", dir.filePath(QStringLiteral("comic.cbz")));
    measure("CBR", dir.filePath(QStringLiteral("comic.cbr")));
    return 0;
}
