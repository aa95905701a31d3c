// Opening a large text book and turning its pages, with the page-counting helper running.
// The first screen is measured on the book reopened (its files in the cache: it is opened once
// before measuring) and, in alternate runs, on a copy of it opened for the first time (a new data
// folder, nothing unpacked yet).
// Usage: bench_bookcontext [chapters, default 100] [bytes per chapter, default 170000, about 5 MB in all]
// Targets: the first screen within 120 ms of readBook; a page turn (key press to repaint)
// under 50 ms; the page count of a 1.2 MB book within 1 s of its first screen. A chapter change (a new chapter file
// loaded) is reported beside it.

#include "bookcontext.h"
#include "models/bookmodel.h"
#include "readingfixture.h"
#include "textbookchapter.h"
#include "textviewer.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTest>
#include <QTextStream>

#include <algorithm>

namespace {

qint64 median(QList<qint64> values)
{
    std::sort(values.begin(), values.end());
    return values.isEmpty() ? -1 : values.at(values.size() / 2);
}

} // namespace

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QTextStream out(stdout);
    const int chapters = argc > 1 ? QString::fromLocal8Bit(argv[1]).toInt() : 100;
    const int bytes = argc > 2 ? QString::fromLocal8Bit(argv[2]).toInt() : 170000;
    ReadingFixture fixture;
    const int id = fixture.addEpub(QStringLiteral("large.epub"), chapters, bytes);
    if (id < 0 || !fixture.open(id)) {
        out << "cannot open the book\n";
        return 1;
    }
    out << "book: " << chapters << " chapters, "
        << QFileInfo(fixture.home().filePath(QStringLiteral("large.epub"))).size() << " bytes, "
        << fixture.context()->pageCount() << " pages\n";
    fixture.close();

    QList<qint64> opening;
    QList<qint64> firstOpening;
    for (int run = 0; run < 10; ++run) {
        // Every other run opens a copy of the book the reader has never seen.
        const bool fresh = run % 2 == 1;
        int openId = id;
        if (fresh) {
            const QString copy = fixture.home().filePath(QStringLiteral("large-%1.epub").arg(run));
            BookDto book;
            book.full_path = copy;
            book.title = QFileInfo(copy).fileName();
            book.format = 0;
            if (!QFile::copy(fixture.home().filePath(QStringLiteral("large.epub")), copy)
                || (openId = fixture.books()->addBook(book)) < 0) {
                out << "cannot copy the book\n";
                return 1;
            }
        }
        QElapsedTimer timer;
        timer.start();
        if (!fixture.open(openId, false)) {
            out << "cannot open the book\n";
            return 1;
        }
        fixture.viewer()->repaint();
        (fresh ? firstOpening : opening) << timer.elapsed();
        fixture.close();
        // The closed book lets go of its files (and of any conversion) before the next run.
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    out << "first screen after readBook: median " << median(opening) << " ms, worst "
        << *std::max_element(opening.begin(), opening.end()) << " ms (target 120)\n";
    out << "first screen, book not unpacked yet: median " << median(firstOpening) << " ms, worst "
        << *std::max_element(firstOpening.begin(), firstOpening.end()) << " ms (target 120)\n";

    // The footer's page count: from the first screen of a book of about 1.2 MB until the
    // helper's count has arrived (the helper runs already, as it does after the first book).
    const int countId = fixture.addEpub(QStringLiteral("count.epub"), 27, bytes);
    if (countId < 0 || !fixture.open(countId)) {
        out << "cannot open the book to count\n";
        return 1;
    }
    int countPages = -1;
    fixture.close();
    QList<qint64> counting;
    for (int run = 0; run < 5; ++run) {
        if (!fixture.open(countId, false)) {
            out << "cannot reopen the book to count\n";
            return 1;
        }
        fixture.viewer()->repaint();
        QElapsedTimer timer;
        timer.start();
        const QSharedPointer<BookContext> context = fixture.context();
        if (!ReadingFixture::waitFor([context] { return context->pageCount() > 0; }, 20000)) {
            out << "no page count within 20 s\n";
            return 1;
        }
        counting << timer.elapsed();
        countPages = context->pageCount();
        fixture.close();
    }
    out << "page count after the first screen, "
        << QFileInfo(fixture.home().filePath(QStringLiteral("count.epub"))).size() << " bytes, " << countPages
        << " pages: median " << median(counting) << " ms, worst " << *std::max_element(counting.begin(), counting.end())
        << " ms (target 1000)\n";

    fixture.open(id);
    TextViewer* viewer = fixture.viewer();
    QList<qint64> turns;
    QList<qint64> chapterChanges;
    for (int press = 0; press < 5000 && chapterChanges.size() < 3; ++press) {
        const QString source = viewer->chapterPage()->source();
        QElapsedTimer timer;
        timer.start();
        QTest::keyClick(viewer, Qt::Key_Right);
        if (viewer->chapterPage()->source() == source) {
            viewer->repaint();
            turns << timer.elapsed();
            continue;
        }
        ReadingFixture::waitFor(
            [viewer] { return viewer->isVisible() && viewer->chapterPage()->currentPage() > 0; }, 10000);
        viewer->repaint();
        chapterChanges << timer.elapsed();
    }
    out << "page turn within a chapter: median " << median(turns) << " ms, worst "
        << *std::max_element(turns.begin(), turns.end()) << " ms over " << turns.size() << " turns (target 50)\n";
    if (!chapterChanges.isEmpty())
        out << "chapter change: median " << median(chapterChanges) << " ms over " << chapterChanges.size() << "\n";
    return 0;
}
