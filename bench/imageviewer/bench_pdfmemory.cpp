// The memory of the reader while a long PDF is read page by page: the image viewer, shown, turns
// through a generated 500-page book (text, charts and photographs) one page at a time, and the
// process's resident size is printed every ten turns, with its peak. Target: under 300 MB after
// 100 turns.
//
//     QT_QPA_PLATFORM=offscreen bench_pdfmemory [turns]
//
// The engine is taken from beside the benchmark's build (bin/).
#include "bookcontext.h"
#include "bookpageparams.h"
#include "imageviewer.h"
#include "pdfbenchbook.h"
#include "temphome.h"
#include "testfiles.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QRegularExpression>

#include <cstdio>

namespace {

// A line of /proc/self/status in MB ("VmRSS", "VmHWM"); -1 when it cannot be read.
double statusMb(const char* key)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    const QRegularExpression line(
        QStringLiteral("^%1:\\s+(\\d+) kB$").arg(QLatin1String(key)), QRegularExpression::MultilineOption);
    const QRegularExpressionMatch match = line.match(QString::fromLatin1(status.readAll()));
    return match.hasMatch() ? match.captured(1).toDouble() / 1024.0 : -1;
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    pdfbench::prepareRun();
    TempHome home;
    const int turns = argc > 1 ? qMax(1, atoi(argv[1])) : 100;
    const int pages = 500;
    const QString path = home.filePath(QStringLiteral("long.pdf"));
    if (!testfiles::write(path, pdfbench::makeBook(pages)))
        return 1;
    std::printf("wrote %d pages, %.1f MB\n", pages, QFile(path).size() / 1048576.0);

    BookDto book;
    book.id = -1;
    book.full_path = path;
    book.format = 3;
    auto context = QSharedPointer<BookContext>::create();
    context->pageParams()->setColumnCount(1);
    if (!context->readBook(book, nullptr) || !context->viewer() || !context->viewer()->readBook(context)) {
        std::fprintf(stderr, "the viewer could not open %s\n", qPrintable(path));
        return 1;
    }
    auto* viewer = dynamic_cast<ImageViewer*>(context->viewer());
    viewer->resize(1280, 1000);
    viewer->show();
    const auto settle = [viewer] {
        while (viewer->isRendering())
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        // The page is drawn, with its copy for the view's scale.
        viewer->grab();
        QCoreApplication::processEvents();
    };
    settle();
    std::printf("opened: %.1f MB resident\n", statusMb("VmRSS"));
    QElapsedTimer timer;
    timer.start();
    for (int turn = 1; turn <= turns; ++turn) {
        viewer->goPage(1 + turn % pages);
        settle();
        if (turn % 10 == 0)
            std::printf("after %3d turns: %.1f MB resident\n", turn, statusMb("VmRSS"));
    }
    const double resident = statusMb("VmRSS");
    std::printf("%d turns in %lld ms: %.1f MB resident, peak %.1f MB (target under 300 MB)\n", turns, timer.elapsed(),
        resident, statusMb("VmHWM"));
    delete viewer;
    return 0;
}
