// Opening, reading and keeping a text book, end to end: a generated EPUB in a real library,
// page numbers from the real helper, a real text viewer offscreen.

#include "appdirs.h"
#include "bookcontext.h"
#include "bookpageparams.h"
#include "dataexchangesvc.h"
#include "enums.h"
#include "formats/textdocument.h"
#include "mainwindow/readingpage/bookcontextwatcher.h"
#include "models/bookmodel.h"
#include "models/booksearchmodel.h"
#include "readingfixture.h"
#include "readingstatefile.h"
#include "testfiles.h"
#include "textbookchapter.h"
#include "textviewer.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSignalSpy>
#include <QWebFrame>
#include <QtTest>

#include <memory>

namespace {

// The screen shown holds the book page.
bool shows(const QSharedPointer<BookContext>& context, int page)
{
    return ReadingFixture::waitFor([&] {
        const int current = context->currentPage();
        return current > 0 && current <= page && page < current + context->pageParams()->columnCount();
    });
}

bool pageAgrees(const ReadingFixture& fixture, const QSharedPointer<BookContext>& context)
{
    TextViewer* viewer = fixture.viewer();
    const int start = fixture.pageCounter()->chapterStartPage(viewer->chapterPage()->source());
    return context->currentPage() == start + viewer->chapterPage()->currentPage();
}

// received: signals through a connection that has no QObject to end it.
struct Counts {
    int received = 0;
    int changes = 0;
    int resets = 0;
};

class Probe : public BookContextWatcher {
public:
    explicit Probe(std::shared_ptr<Counts> counts)
        : m_counts(std::move(counts))
    {
    }

protected:
    void onBookContextChanged(QSharedPointer<BookContext> context) override
    {
        ++m_counts->changes;
        std::shared_ptr<Counts> counts = m_counts;
        m_bookConnections.append(
            QObject::connect(context.data(), &BookContext::pageCountChanged, [counts] { ++counts->received; }));
    }
    void resetBookState() override { ++m_counts->resets; }

private:
    std::shared_ptr<Counts> m_counts;
};

const QByteArray kOddNote(R"({"Source":1,"Comment":"keep me"})");

} // namespace

class TestBookContext : public QObject {
    Q_OBJECT

private slots:
    void readAnnotateAndReopen()
    {
        ReadingFixture fixture;
        const int id = fixture.addEpub(QStringLiteral("three.epub"), 3, 9000);
        QSharedPointer<BookContext> context = fixture.open(id);
        QVERIFY(context);
        TextViewer* viewer = fixture.viewer();
        const int pageCount = context->pageCount();
        QCOMPARE(pageCount, fixture.pageCounter()->totalPageCount());
        QVERIFY2(pageCount > 10, qPrintable(QString::number(pageCount)));
        QCOMPARE(context->currentPage(), 1);
        QCOMPARE(context->currentChapterTitle(), QStringLiteral("Chapter 1"));
        // Progress written on page turns must not clear the favourite mark.
        QVERIFY(fixture.books()->setData(fixture.books()->indexById(id), true, int(Enums::ToFavorite)));

        // Key presses, one screen each, across the end of the first chapter.
        const int columns = context->pageParams()->columnCount();
        const QString first = viewer->chapterPage()->source();
        int before = 1;
        while (viewer->chapterPage()->source() == first) {
            QTest::keyClick(viewer, Qt::Key_Right);
            QVERIFY(ReadingFixture::waitFor([&] { return context->currentPage() > before; }, 20000));
            QVERIFY(context->currentPage() - before <= columns);
            QVERIFY(pageAgrees(fixture, context));
            before = context->currentPage();
        }
        QCOMPARE(viewer->chapterPage()->currentPage(), 1);
        QTest::keyClick(viewer, Qt::Key_Left);
        QVERIFY(ReadingFixture::waitFor([&] { return context->currentPage() < before; }));
        QCOMPARE(viewer->chapterPage()->source(), first);

        // A page of the last chapter, then the search hit there, then back twice.
        context->navigateToPage(pageCount - 1);
        QVERIFY(shows(context, pageCount - 1));
        QVERIFY(pageAgrees(fixture, context));
        context->search(QLatin1String(ReadingFixture::kRareWord));
        QVERIFY(ReadingFixture::waitFor([&] { return context->searchModel()->rowCount() > 0; }));
        QCOMPARE(context->searchModel()->rowCount(), 1);
        const SearchItem hit = context->searchModel()->items().first();
        QVERIFY(hit.link->page > fixture.pageCounter()->chapterStartPage(viewer->chapterPage()->source()));
        QCOMPARE(hit.title, QStringLiteral("Chapter 3"));
        context->navigateToPage(3);
        QVERIFY(shows(context, 3));
        context->navigateToLink(hit.link);
        QVERIFY(shows(context, hit.link->page));
        QCOMPARE(context->backToPageLink()->page, 3);
        context->goBackToPage();
        QVERIFY(shows(context, 3));
        context->goBackToPage();
        QVERIFY(shows(context, hit.link->page));

        // A bookmark (once only) and a note on a screen that starts inside a paragraph.
        context->navigateToPage(3);
        QVERIFY(shows(context, 3));
        QSignalSpy bookmarked(context.data(), &BookContext::bookmarkAdded);
        context->addBookmark();
        context->addBookmark();
        QCOMPARE(bookmarked.count(), 1);
        const QString selected = fixture.selectOnScreen(12);
        QVERIFY(!selected.isEmpty());
        QVERIFY(context->addNoteAtCurrentSelection(NoteItem::Yellow));
        QCOMPARE(context->notes().size(), 1);
        const NoteItem note = context->notes().first();
        QCOMPARE(note.context, selected);
        QCOMPARE(note.link->page, 3);
        const QString noteParagraph = QStringLiteral("getPageByXPathWithOffset('%1', 0)").arg(note.startPath);
        QVERIFY(viewer->chapterPage()->mainFrame()->evaluateJavaScript(noteParagraph).toInt() < 3);
        QCOMPARE(context->bookmarks().first().link->page, 3);
        const QString bookmarkSource = context->bookmarks().first().link->source;
        // Saved while the book is still open: a reader killed now keeps the note.
        const QString stateFile = ReadingStateFile::filePath(bookDataDir(fixture.books()->bookById(id).full_path));
        QVERIFY(ReadingFixture::waitFor([&] {
            ReadingState saved;
            return ReadingStateFile::read(stateFile, &saved) && saved.notes.size() == 1
                && saved.notes.first().startPath == note.startPath;
        }));

        context.reset();
        fixture.close();
        const BookDto row = fixture.books()->bookById(id);
        QCOMPARE(row.notes_count, 1);
        QCOMPARE(row.max_position, 3 * 100 / pageCount);
        QCOMPARE(row.is_favorite, 1);

        context = fixture.open(id);
        QVERIFY(context);
        QCOMPARE(context->currentPage(), 3);
        QCOMPARE(context->bookmarks().size(), 1);
        QCOMPARE(context->bookmarks().first().link->source, bookmarkSource);
        QVERIFY(ReadingFixture::waitFor([&] { return context->bookmarks().first().link->page == 3; }));
        QCOMPARE(context->notes().size(), 1);
        const NoteItem reread = context->notes().first();
        QVERIFY(reread.startPath == note.startPath && reread.endPath == note.endPath);
        QVERIFY(reread.startOffset == note.startOffset && reread.endOffset == note.endOffset);
        QCOMPARE(reread.color, NoteItem::Yellow);
        QCOMPARE(reread.link->page, 3);
        // The note is drawn again in its chapter.
        const QVariant marks = fixture.viewer()->chapterPage()->mainFrame()->evaluateJavaScript(
            QStringLiteral("document.getElementsByClassName('yellownote').length"));
        QVERIFY(marks.toInt() > 0);
    }

    // A damaged state file is kept as ".bak" and the older data folder's file used when there is
    // one; a note this version cannot read stays in the file after the book was read and saved.
    void stateFileFallbacks_data()
    {
        // Empty: no such file.
        QTest::addColumn<QByteArray>("current");
        QTest::addColumn<QByteArray>("legacy");
        QTest::addColumn<int>("fontSize");
        QTest::addColumn<bool>("damaged");
        const QByteArray good("{\"FontSettings\": {\"Size\": 14}}");
        QTest::newRow("current not JSON")
            << QByteArray("{\"FontSettings\": {\"Size\": 31") << QByteArray() << 20 << true;
        QTest::newRow("current an array")
            << QByteArray("[{\"FontSettings\": {\"Size\": 31}}]") << QByteArray() << 20 << true;
        QTest::newRow("older folder only") << QByteArray() << good << 14 << false;
        QTest::newRow("bad current, good older") << QByteArray("{") << good << 14 << true;
        QTest::newRow("unread note") << QByteArray(
            R"({"FontSettings":{"Size":14},"Notes":{"Items":[)" + kOddNote + "]}}")
                                     << QByteArray() << 14 << false;
    }

    void stateFileFallbacks()
    {
        QFETCH(QByteArray, current);
        QFETCH(QByteArray, legacy);
        QFETCH(int, fontSize);
        QFETCH(bool, damaged);
        ReadingFixture fixture;
        const int id = fixture.addEpub(QStringLiteral("damaged.epub"), 2, 3000);
        const QString bookPath = fixture.books()->bookById(id).full_path;
        const QString path = ReadingStateFile::filePath(bookDataDir(bookPath));
        const QString legacyDir = legacyBookDataDir(bookPath);
        QVERIFY(current.isEmpty() || testfiles::write(path, current));
        QVERIFY(legacy.isEmpty() || testfiles::write(ReadingStateFile::filePath(legacyDir), legacy));
        QVERIFY(fixture.open(id, false));
        QCOMPARE(fixture.context()->pageParams()->fontSize(), fontSize);
        fixture.close();
        QCOMPARE(testfiles::read(path + QStringLiteral(".bak")), damaged ? current : QByteArray());
        ReadingState state;
        QVERIFY(ReadingStateFile::read(path, &state));
        QCOMPARE(state.fontSize.value_or(0), fontSize);
        const QJsonArray notes
            = QJsonDocument::fromJson(testfiles::read(path)).object()["Notes"].toObject()["Items"].toArray();
        QCOMPARE(notes.contains(QJsonDocument::fromJson(kOddNote).object()), current.contains(kOddNote));
    }

    // The reading page's parts follow the open book through the watcher: each connection to a
    // book exists once, and none outlives its book or its watcher.
    void watcherFollowsOneBook_data()
    {
        // Steps: "a"/"b" set that book, "0" sets none, "x" destroys the watcher. Then book a
        // and book b each change their page count once.
        QTest::addColumn<QString>("steps");
        QTest::addColumn<int>("received");
        QTest::addColumn<int>("changes");
        QTest::addColumn<int>("resets");
        QTest::newRow("one book") << "a" << 1 << 1 << 0;
        QTest::newRow("same book again") << "aa" << 1 << 2 << 1;
        QTest::newRow("another book") << "ab" << 1 << 2 << 1;
        QTest::newRow("none after a book") << "a0" << 0 << 1 << 1;
        QTest::newRow("none without a book") << "0" << 0 << 0 << 0;
        QTest::newRow("watcher destroyed") << "ax" << 0 << 1 << 0;
    }

    void watcherFollowsOneBook()
    {
        QFETCH(QString, steps);
        QFETCH(int, received);
        QFETCH(int, changes);
        QFETCH(int, resets);
        const QSharedPointer<BookContext> a = QSharedPointer<BookContext>::create();
        const QSharedPointer<BookContext> b = QSharedPointer<BookContext>::create();
        auto counts = std::make_shared<Counts>();
        auto probe = std::make_unique<Probe>(counts);
        for (const QChar step : steps) {
            if (step == QLatin1Char('x'))
                probe.reset();
            else
                probe->setBookContext(step == QLatin1Char('a') ? a : step == QLatin1Char('b') ? b : nullptr);
        }
        a->setPageCount(10);
        b->setPageCount(10);
        QCOMPARE(counts->received, received);
        QCOMPARE(counts->changes, changes);
        QCOMPARE(counts->resets, resets);
    }

    void refusedBooksLeaveNoViewer_data()
    {
        QTest::addColumn<QString>("suffix");
        QTest::addColumn<int>("format");
        QTest::newRow("unknown format code") << "epub" << 12;
        QTest::newRow("no document for djvu") << "djvu" << 4;
    }

    void refusedBooksLeaveNoViewer()
    {
        QFETCH(QString, suffix);
        QFETCH(int, format);
        ReadingFixture fixture;
        BookDto book = fixture.books()->bookById(fixture.addEpub(QStringLiteral("refused.epub"), 1, 1000));
        if (suffix != QLatin1String("epub")) {
            book.full_path.replace(QLatin1String(".epub"), QLatin1Char('.') + suffix);
            QVERIFY(QFile::copy(fixture.home().filePath(QStringLiteral("refused.epub")), book.full_path));
        }
        book.format = format;
        QWidget area;
        BookContext context;
        QVERIFY(!context.readBook(book, &area));
        QVERIFY(!context.viewer() && area.children().isEmpty());
    }

    void wheelTurnsOneScreenPerNotch_data()
    {
        QTest::addColumn<QList<QPoint>>("deltas");
        QTest::addColumn<int>("screens");
        QTest::newRow("mouse notch") << QList<QPoint> { { 0, -120 } } << 1;
        QTest::newRow("touchpad steps") << QList<QPoint> { { 0, -40 }, { 0, -50 }, { 0, -30 } } << 1;
        QTest::newRow("less than a notch") << QList<QPoint> { { 0, -40 }, { 0, -40 } } << 0;
        QTest::newRow("direction changed") << QList<QPoint> { { 0, -80 }, { 0, 40 }, { 0, -80 } } << 0;
        QTest::newRow("horizontal") << QList<QPoint> { { -120, 0 }, { -240, 0 } } << 0;
        QTest::newRow("two notches") << QList<QPoint> { { 0, -240 } } << 2;
    }

    void wheelTurnsOneScreenPerNotch()
    {
        QFETCH(QList<QPoint>, deltas);
        QFETCH(int, screens);
        ReadingFixture fixture;
        QVERIFY(fixture.open(fixture.addEpub(QStringLiteral("wheel.epub"), 1, 9000), false));
        TextViewer* viewer = fixture.viewer();
        for (const QPoint& delta : deltas) {
            QWheelEvent event(QPointF(400, 300), QPointF(400, 300), QPoint(), delta, Qt::NoButton, Qt::NoModifier,
                Qt::NoScrollPhase, false);
            QApplication::sendEvent(viewer, &event);
        }
        QCOMPARE(viewer->chapterPage()->currentPage(), 1 + screens * fixture.context()->pageParams()->columnCount());
    }
};

QTEST_MAIN(TestBookContext)
#include "tst_bookcontext.moc"
