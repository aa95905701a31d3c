// A MOBI book of many unclosed headings (each one a contents entry) opened in the reading page of
// the real application's main window, in a temporary HOME: the book opened (converted, first screen),
// the contents box shown and scrolled to its end, then ten seconds of the event loop while the box
// measures its rows, with a 16 ms timer measuring how late the GUI thread answers; the widgets the
// box made and the peak memory of the process (VmHWM).
// Usage: bench_readingpage [headings, default 250000] [1: count pages with the helper, default 0]
//                          [one heading in N has a title, the others are empty; default 1]
// Targets: a key answered within 2 s of opening; the reader under 1.5 GB.

#include "application.h"
#include "bookcontext.h"
#include "dataexchangesvc.h"
#include "formats/bookformat.h"
#include "mainwindow/mainwindow.h"
#include "mainwindow/readingpage/readingpage.h"
#include "mainwindow/readingpage/tocbox.h"
#include "mobiwriter.h"
#include "models/bookmodel.h"
#include "models/tocmodel.h"
#include "readingservices.h"
#include "settingsprovider.h"
#include "temphome.h"
#include "testpaths.h"
#include "ui.h"

#include <QElapsedTimer>
#include <QFile>
#include <QScrollBar>
#include <QTest>
#include <QTextStream>
#include <QTimer>
#include <QUuid>

namespace {

QString peakMemory()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return QStringLiteral("?");
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmHWM:"))
            return QString::number(line.mid(6).trimmed().split(' ').value(0).toLongLong() / 1024)
                + QStringLiteral(" MB");
    }
    return QStringLiteral("?");
}

// Runs the event loop for the time, or until the condition holds.
void spin(int ms, const std::function<bool()>& done = {})
{
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < ms && !(done && done()))
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
}

} // namespace

int main(int argc, char* argv[])
{
    TempHome home;
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QCoreApplication::setApplicationName(QStringLiteral("Reading Page Bench"));
    Application app(QUuid::createUuid().toString(), argc, argv);
    registerSettingsMetaTypes();
    app.setSettings(new SettingsProvider(
        KelApplication::configFilePath(QStringLiteral("settings.ini")), QSettings::IniFormat, &app));
    Ui::instance()->setMessageBoxHandler([](KelMessageBoxRequest&) { return 1; });
    app.init();
    const int headings = argc > 1 ? QString::fromLocal8Bit(argv[1]).toInt() : 250000;
    const bool helper = argc > 2 && QString::fromLocal8Bit(argv[2]) == QLatin1String("1");
    // One heading in this many has a title, the others are empty.
    const int titledEvery = argc > 3 ? qMax(1, QString::fromLocal8Bit(argv[3]).toInt()) : 1;
    QTextStream out(stdout);

    QByteArray text = "<html><head></head><body>";
    for (int i = 1; i <= headings; ++i)
        text += i % titledEvery == 0 || i == 1 ? "<h1>Entry " + QByteArray::number(i) : QByteArray("<h1>");
    text += "</body></html>";
    MobiWriter writer;
    writer.setText(text);
    const QString path = home.path() + QStringLiteral("/headings.mobi");
    BookDto book;
    book.full_path = path;
    book.title = QStringLiteral("Headings");
    book.format = int(BookFormat::Mobi);
    const int id = writer.write(path) ? app.bookModel()->addBook(book) : -1;
    if (id < 0) {
        out << "cannot write the book\n" << Qt::flush;
        return 1;
    }
    std::unique_ptr<DataExchangeSvc> pageCounter;
    if (helper)
        pageCounter = std::make_unique<DataExchangeSvc>(testpaths::binDir() + QStringLiteral("/zuvezedoda"), nullptr);
    ReadingServices::setDataExchangeSvc(pageCounter.get());

    auto* window = qobject_cast<MainWindow*>(Ui::instance()->mainWindow());
    window->resize(1280, 900);
    window->show();
    QTest::qWaitForWindowExposed(window);
    spin(200);
    out << headings << " headings, " << text.size() << " bytes of text, page counting " << (helper ? "on" : "off")
        << "; memory before: " << peakMemory() << "\n"
        << Qt::flush;

    QElapsedTimer tick;
    qint64 worstLate = 0;
    QTimer probe;
    probe.setInterval(16);
    QObject::connect(&probe, &QTimer::timeout, [&] { worstLate = qMax(worstLate, tick.restart() - 16); });
    QElapsedTimer timer;
    timer.start();
    ReadingPage* page = window->readingPage();
    window->openBook(id);
    const QSharedPointer<BookContext> context = page->bookContext();
    if (!context) {
        out << "cannot open the book\n" << Qt::flush;
        return 1;
    }
    out << "opened (openBook returned): " << timer.elapsed() << " ms, " << context->tocModel()->rowCount()
        << " contents entries\n"
        << Qt::flush;
    tick.start();
    probe.start();
    spin(10000);
    out << "10 s after opening: worst GUI lateness " << worstLate << " ms, page " << context->currentPage()
        << "; memory " << peakMemory() << "\n"
        << Qt::flush;

    worstLate = 0;
    timer.restart();
    page->showSideBar(ReadingEnums::Toc);
    auto* box = static_cast<TocBox*>(page->sideBar(ReadingEnums::Toc));
    ReadingModelWidget* list = box->modelWidget();
    spin(5000, [&] { return list->isVisible() && list->itemCount() > 0; });
    list->viewport()->repaint();
    out << "contents shown: " << timer.elapsed() << " ms, " << list->itemCount() << " rows with widgets\n" << Qt::flush;
    timer.restart();
    QScrollBar* bar = list->verticalScrollBar();
    const QModelIndex last = list->model()->index(list->model()->rowCount() - 1, 0);
    spin(10000, [&] {
        bar->setValue(bar->maximum());
        return list->itemForIndex(last) != nullptr;
    });
    list->viewport()->repaint();
    out << "scrolled to the last entry: " << timer.elapsed() << " ms\n" << Qt::flush;
    timer.restart();
    spin(10000);
    probe.stop();
    out << "10 s of measuring the rows: worst GUI lateness " << worstLate << " ms (target: a key within 2000 ms), "
        << box->findChildren<QWidget*>().size() << " widgets in the box; peak memory " << peakMemory()
        << " (target under 1.5 GB)\n"
        << Qt::flush;

    // The same contents in a box of their own, the window with the book hidden: the list's own share.
    window->hide();
    spin(2000);
    TocBox alone;
    alone.resize(360, 900);
    alone.show();
    QTest::qWaitForWindowExposed(&alone);
    worstLate = 0;
    timer.restart();
    tick.restart();
    probe.start();
    alone.setBookContext(context);
    const qint64 filled = timer.elapsed();
    spin(5000, [&] { return alone.modelWidget()->itemCount() > 0; });
    alone.modelWidget()->viewport()->repaint();
    out << "contents in a box of their own: filled in " << filled << " ms, shown in " << timer.elapsed() << " ms";
    timer.restart();
    spin(10000);
    probe.stop();
    out << "; then 10 s of measuring: worst GUI lateness " << worstLate << " ms, "
        << alone.findChildren<QWidget*>().size() << " widgets in the box\n"
        << Qt::flush;
    QElapsedTimer rows;
    rows.start();
    const QAbstractItemModel* entries = alone.modelWidget()->model();
    const int sample = qMin(10000, entries->rowCount());
    for (int row = 0; row < sample; ++row)
        alone.modelWidget()->rowHeight(entries->index(row, 0));
    out << "a row measured without a widget in " << rows.nsecsElapsed() / 1000 / qMax(1, sample) << " us\n";
    return 0;
}
