// Opening, reading and keeping a text book, end to end: a generated EPUB in a real library,
// page numbers from the real helper, a real text viewer offscreen.

#include "appdirs.h"
#include "bookcontext.h"
#include "bookpageparams.h"
#include "dataexchangesvc.h"
#include "enums.h"
#include "formats/textdocument.h"
#include "models/bookmodel.h"
#include "models/booksearchmodel.h"
#include "readingfixture.h"
#include "readingstatefile.h"
#include "testpaths.h"
#include "textbookchapter.h"
#include "textviewer.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSignalSpy>
#include <QWebFrame>
#include <QtTest>

#include <csignal>

namespace {

int startPage(const ReadingFixture& fixture, TextViewer* viewer)
{
    return fixture.pageCounter()->chapterStartPage(viewer->chapterPage()->source());
}

// The book page shown equals the counter's chapter start plus the engine's page in it.
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
    return context->currentPage() == startPage(fixture, viewer) + viewer->chapterPage()->currentPage();
}

QString settingsPath(ReadingFixture& fixture, int id)
{
    return ReadingStateFile::filePath(bookDataDir(fixture.books()->bookById(id).full_path));
}

} // namespace

class TestBookContext : public QObject {
    Q_OBJECT

private slots:
    void readAnnotateAndReopen()
    {
        ReadingFixture fixture;
        QVERIFY(fixture.isReady());
        const int id = fixture.addEpub(QStringLiteral("three.epub"), 3, 9000);
        QSharedPointer<BookContext> context = fixture.open(id);
        QVERIFY(context);
        TextViewer* viewer = fixture.viewer();
        const int pageCount = context->pageCount();
        QCOMPARE(pageCount, fixture.pageCounter()->totalPageCount());
        QVERIFY2(pageCount > 10, qPrintable(QString::number(pageCount)));
        QCOMPARE(context->currentPage(), 1);
        QCOMPARE(context->currentChapterTitle(), QStringLiteral("Chapter 1"));

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

        // A bookmark (once only) and a note on a screen inside the first chapter's prose.
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
        QCOMPARE(context->bookmarks().first().link->page, 3);
        const QString bookmarkSource = context->bookmarks().first().link->source;

        context.reset();
        fixture.close();
        const BookDto row = fixture.books()->bookById(id);
        QCOMPARE(row.notes_count, 1);
        QCOMPARE(row.max_position, 3 * 100 / pageCount);

        context = fixture.open(id);
        QVERIFY(context);
        QCOMPARE(context->currentPage(), 3);
        QCOMPARE(context->bookmarks().size(), 1);
        QCOMPARE(context->bookmarks().first().link->source, bookmarkSource);
        // Page numbers come with the first pagination after opening.
        QVERIFY(ReadingFixture::waitFor([&] { return context->bookmarks().first().link->page == 3; }));
        QCOMPARE(context->notes().size(), 1);
        const NoteItem reread = context->notes().first();
        QCOMPARE(reread.startPath, note.startPath);
        QCOMPARE(reread.endPath, note.endPath);
        QCOMPARE(reread.startOffset, note.startOffset);
        QCOMPARE(reread.endOffset, note.endOffset);
        QCOMPARE(reread.color, NoteItem::Yellow);
        QCOMPARE(reread.link->page, 3);
        // The note is drawn again in its chapter.
        const QVariant marks = fixture.viewer()->chapterPage()->mainFrame()->evaluateJavaScript(
            QStringLiteral("document.getElementsByClassName('yellownote').length"));
        QVERIFY(marks.toInt() > 0);
    }

    void killedReaderKeepsNote()
    {
        QProcess child;
        child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        child.start(testpaths::binDir() + QStringLiteral("/../tests/bookcontext_child"), QStringList());
        QVERIFY(child.waitForStarted());
        QString output;
        QVERIFY(ReadingFixture::waitFor(
            [&] {
                output += QString::fromLocal8Bit(child.readAllStandardOutput());
                return output.contains(QLatin1String("NOTE ")) || child.state() == QProcess::NotRunning;
            },
            120000));
        QTest::qWait(3000);
        ::kill(pid_t(child.processId()), SIGKILL);
        QVERIFY(child.waitForFinished());
        const QStringList lines = output.split(QLatin1Char('\n'));
        auto value = [&lines](const char* key) {
            for (const QString& line : lines) {
                if (line.startsWith(QLatin1String(key)))
                    return line.mid(int(qstrlen(key)) + 1);
            }
            return QString();
        };
        QVERIFY2(!value("NOTE").isEmpty(), qPrintable(output));
        QFile file(value("SETTINGS"));
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QJsonArray notes = QJsonDocument::fromJson(file.readAll())
                                     .object()
                                     .value(QStringLiteral("Notes"))
                                     .toObject()
                                     .value(QStringLiteral("Items"))
                                     .toArray();
        QDir(value("HOME")).removeRecursively();
        QCOMPARE(notes.size(), 1);
        QCOMPARE(notes.first().toObject().value(QStringLiteral("StartPath")).toString(), value("NOTE"));
    }

    void unreadableStateIsKept_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::newRow("not JSON") << QByteArray("{\"FontSettings\": {\"Size\": 31");
        QTest::newRow("array") << QByteArray("[{\"FontSettings\": {\"Size\": 31}}]");
    }

    void unreadableStateIsKept()
    {
        QFETCH(QByteArray, content);
        ReadingFixture fixture;
        const int id = fixture.addEpub(QStringLiteral("damaged.epub"), 2, 3000);
        const QString path = settingsPath(fixture, id);
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(content);
        file.close();
        QSharedPointer<BookContext> context = fixture.open(id, false);
        QVERIFY(context);
        QCOMPARE(context->pageParams()->fontSize(), 20);
        context.reset();
        fixture.close();
        QFile backup(path + QStringLiteral(".bak"));
        QVERIFY(backup.open(QIODevice::ReadOnly));
        QCOMPARE(backup.readAll(), content);
        ReadingState state;
        QVERIFY(ReadingStateFile::read(path, &state));
    }

    void favouriteSurvivesPageTurns()
    {
        ReadingFixture fixture;
        const int id = fixture.addEpub(QStringLiteral("favourite.epub"), 2, 9000);
        const QSharedPointer<BookContext> context = fixture.open(id);
        QVERIFY(context);
        BookModel* books = fixture.books();
        QVERIFY(books->setData(books->indexById(id), true, int(Enums::ToFavorite)));
        for (int turn = 0; turn < 3; ++turn) {
            const int before = context->currentPage();
            QTest::keyClick(fixture.viewer(), Qt::Key_Right);
            QVERIFY(ReadingFixture::waitFor([&] { return context->currentPage() > before; }));
        }
        const BookDto row = books->bookById(id);
        QCOMPARE(row.is_favorite, 1);
        QCOMPARE(row.max_position, context->currentPage() * 100 / context->pageCount());
    }
};

QTEST_MAIN(TestBookContext)
#include "tst_bookcontext.moc"
