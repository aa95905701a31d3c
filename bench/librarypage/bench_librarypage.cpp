// The library page over a large library, in the main window of the real application in a temporary
// HOME: the page shown after the model loads the books again, two six-letter queries typed key by key
// into the search field (each keystroke to the repainted list) and cleared, one matching every title
// and one about 1 % of them, among all books and in a folder holding them all, and 100 generated
// books added through the page while a 16 ms timer measures how late the GUI thread answers.
// Usage: bench_librarypage [book count, default 10000]

#include "../common/libraryapplication.h"

#include "application.h"
#include "enums.h"
#include "import/bookimporter.h"
#include "itemviews/kellistwidget.h"
#include "librarybooks.h"
#include "mainwindow/librarypage/booktableheader.h"
#include "mainwindow/librarypage/librarypage.h"
#include "models/bookmodel.h"
#include "models/bookprovider.h"
#include "models/booksortfiltermodel.h"
#include "models/foldermodel.h"
#include "widgets/kelbutton.h"

#include <algorithm>

#include <QElapsedTimer>
#include <QScrollBar>
#include <QSignalSpy>
#include <QSqlDatabase>
#include <QTest>
#include <QTextStream>
#include <QTimer>

int main(int argc, char* argv[])
{
    LibraryApplication bench("Library Page Bench", argc, argv);
    Application& app = bench.app();
    const int count = argc > 1 ? QString::fromLocal8Bit(argv[1]).toInt() : 10000;
    QTextStream out(stdout);
    LibraryPage* page = bench.window->libraryPage();

    QElapsedTimer timer;
    timer.start();
    // Every book is also in one folder, which the searches run in a second time.
    const int folder = app.folderModel()->findOrAddCategory(QStringLiteral("Everything"));
    QSqlDatabase::database().transaction();
    for (int i = 0; i < count; ++i) {
        BookDto book;
        // One title in a hundred holds "lantern", which the second query narrows to.
        book.title = QStringLiteral("Volume %1 of the %2 works").arg(i).arg(i % 100 ? "collected" : "lantern");
        book.author = QStringLiteral("Author %1").arg(i % 211);
        book.full_path = bench.path() + QStringLiteral("/books/%1.epub").arg(i);
        book.time_added = 1700000000 + i;
        const int id = app.bookModel()->addBook(book);
        BookProvider::instance()->addBookToCategory(id, folder);
    }
    QSqlDatabase::database().commit();
    app.folderModel()->reload();
    out << count << " books stored: " << timer.elapsed() << " ms\n";
    // The window paints the stored books for the first time (cover shadows and texts drawn, side-bar
    // counts): the loading below is measured on a settled window.
    timer.restart();
    QCoreApplication::processEvents();
    page->repaint();
    out << "window settled after storing: " << timer.elapsed() << " ms\n";

    timer.restart();
    app.bookModel()->selectAll();
    const qint64 loaded = timer.elapsed();
    QCoreApplication::processEvents();
    page->repaint();
    out << "page shown after loading: " << timer.elapsed() << " ms (target under 100 ms; the model's own load "
        << loaded << " ms), " << page->listWidget()->itemCount() << " item widgets\n";

    for (const int category : { int(Enums::AllBooks), int(Enums::MaxBookFormat) + folder })
        for (const QString& query : { QStringLiteral("volume"), QStringLiteral("lanter") }) {
            app.bookSortFilterModel()->setFilterCategory(category);
            QCoreApplication::processEvents();
            qint64 slowest = 0;
            out << (category == Enums::AllBooks ? "all books, " : "folder of all books, ") << "query \"" << query
                << "\":";
            for (int i = 0; i <= query.size(); ++i) {
                timer.restart();
                if (i < query.size())
                    QTest::keyClick(page->searchLineEdit(), query.at(i).toLatin1());
                else
                    page->searchLineEdit()->clear();
                QCoreApplication::processEvents();
                page->repaint();
                const qint64 ms = timer.elapsed();
                slowest = qMax(slowest, ms);
                out << " " << (i < query.size() ? QString(query.at(i)) : QStringLiteral("cleared")) << " " << ms
                    << " ms (" << app.bookSortFilterModel()->rowCount() << " books),";
            }
            out << " slowest " << slowest << " ms (target under 50 ms)\n";
        }

    // Scrolling down the whole list in 120 px steps, in cards and in the table.
    for (int mode : { int(Enums::View_Cards), int(Enums::View_Table) }) {
        page->viewModeButton(mode)->setChecked(true);
        QCoreApplication::processEvents();
        QScrollBar* bar = page->listWidget()->verticalScrollBar();
        bar->setValue(0);
        QVector<qint64> steps;
        for (int step = 0; step < 300 && bar->value() < bar->maximum(); ++step) {
            QElapsedTimer frame;
            frame.start();
            bar->setValue(bar->value() + 120);
            QCoreApplication::processEvents();
            page->listWidget()->viewport()->repaint();
            steps << frame.nsecsElapsed() / 1000;
        }
        std::sort(steps.begin(), steps.end());
        const auto at = [&steps](double q) { return steps.isEmpty() ? 0 : steps[int(q * (steps.size() - 1))]; };
        out << (mode == Enums::View_Cards ? "cards" : "table") << " scrolling, " << steps.size()
            << " steps of 120 px: median " << at(0.5) / 1000.0 << " ms, 99th " << at(0.99) / 1000.0 << " ms, worst "
            << at(1.0) / 1000.0 << " ms, " << page->listWidget()->itemCount() << " item widgets\n";
    }

    QStringList files;
    for (int i = 0; i < 100; ++i) {
        librarybooks::BookRecipe book;
        book.title = QStringLiteral("Added %1").arg(i);
        files << bench.path() + QStringLiteral("/new/added%1.%2").arg(i).arg(i % 2 ? "epub" : "fb2");
        QDir().mkpath(bench.path() + QStringLiteral("/new"));
        librarybooks::write(files.last(), book);
    }
    QElapsedTimer tick;
    qint64 worstLate = 0;
    QTimer probe;
    probe.setInterval(16);
    QObject::connect(&probe, &QTimer::timeout, [&] { worstLate = qMax(worstLate, tick.restart() - 16); });
    QSignalSpy progress(bookimporter::instance(), &bookimporter::progress);
    timer.restart();
    tick.start();
    probe.start();
    page->addFiles(files);
    // Until the page answers: the books are stored and shown by then.
    bench.answers = 0;
    while (bench.answers == 0 && timer.elapsed() < 120000)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    probe.stop();
    out << "100 books added in " << timer.elapsed() << " ms, " << progress.size()
        << " progress steps, worst GUI lateness " << worstLate << " ms (target under 50 ms)\n";
    return 0;
}
