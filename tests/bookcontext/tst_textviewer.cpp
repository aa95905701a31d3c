// The text viewer as a reader meets it, on generated books whose structure once went wrong:
// clicks on either half of a page, quick key presses across chapter ends, contents links
// without their folder, and an image inside an FB2 paragraph. Real books of the library, the
// real page-counting helper, real mouse and key events.

#include "readingfixture.h"

#include "bookcontext.h"
#include "bookpageparams.h"
#include "chapterbuilder.h"
#include "epubbuilder.h"
#include "fb2builder.h"
#include "formats/epub/epubconversion.h"
#include "formats/textdocument.h"
#include "hotkeys.h"
#include "models/bookmodel.h"
#include "models/tocmodel.h"
#include "textbookchapter.h"
#include "textviewer.h"

#include <QApplication>
#include <QWebFrame>
#include <QtTest>

namespace {

int addBook(ReadingFixture& fixture, const QString& path, int format)
{
    BookDto book;
    book.full_path = path;
    book.title = QFileInfo(path).completeBaseName();
    book.format = format;
    return fixture.books()->addBook(book);
}

// Chapters of about one and a half screens each, so quick turns cross chapter ends often.
int addShortChapters(ReadingFixture& fixture, const QString& fileName, int chapters)
{
    EpubBuilder epub;
    for (int i = 1; i <= chapters; ++i) {
        ChapterBuilder chapter { quint32(100 + i) };
        chapter.addHeading(1, QStringLiteral("Part %1").arg(i));
        chapter.addProse(6, 60, 80);
        epub.addItem(QStringLiteral("c%1").arg(i), QStringLiteral("p%1.xhtml").arg(i), chapter.xhtml());
    }
    const QString path = fixture.home().filePath(fileName);
    return epub.write(path) ? addBook(fixture, path, 0) : -1;
}

QWidget* keyTarget(TextViewer* viewer)
{
    // Where a key press goes: the focused widget, or the window when nothing has the focus
    // (the viewer hides while a chapter loads).
    QWidget* focus = QApplication::focusWidget();
    return focus ? focus : viewer->window();
}

void pressKey(QWidget* widget, Hotkeys::Id id)
{
    const int code = Hotkeys::sequences(id).value(0)[0];
    QTest::keyClick(
        widget, Qt::Key(code & ~Qt::KeyboardModifierMask), Qt::KeyboardModifiers(code & Qt::KeyboardModifierMask));
}

} // namespace

class TestTextViewer : public QObject {
    Q_OBJECT

    std::unique_ptr<ReadingFixture> m_fixture;

    int screenPage(const QSharedPointer<BookContext>& context) { return context->currentPage(); }

private slots:
    void initTestCase() { m_fixture = std::make_unique<ReadingFixture>(); }
    void cleanup() { m_fixture->close(); }
    void cleanupTestCase() { m_fixture.reset(); }

    // A chapter that turns out not to be showable when it is reached before the background
    // conversion: the page turn goes on to the chapter after it, and back over it.
    void brokenChapterIsPassedOver()
    {
        EpubBuilder epub;
        epub.addChapter(QStringLiteral("c1"), QStringLiteral("p1.xhtml"), QStringLiteral("One"),
            QStringLiteral("<h1>Part 1</h1><p>Short.</p>"));
        epub.addItem(QStringLiteral("c2"), QStringLiteral("p2.xhtml"),
            "<html>" + QByteArray("<div>").repeated(40000) + QByteArray("</div>").repeated(40000) + "</html>");
        epub.addChapter(QStringLiteral("c3"), QStringLiteral("p3.xhtml"), QStringLiteral("Three"),
            QStringLiteral("<h1>Part 3</h1><p>Short.</p>"));
        const QString path = m_fixture->home().filePath(QStringLiteral("broken.epub"));
        QVERIFY(epub.write(path));
        const int id = addBook(*m_fixture, path, 0);
        struct Release {
            ~Release() { epub::EpubConversion::holdBackgroundWork(false); }
        } release;
        epub::EpubConversion::holdBackgroundWork(true);
        const QSharedPointer<BookContext> context = m_fixture->open(id, false);
        QVERIFY(context);
        TextViewer* viewer = m_fixture->viewer();
        const auto shows = [viewer](const char* source) {
            return ReadingFixture::waitFor(
                [&] {
                    return viewer->isVisible() && viewer->chapterPage()->source() == QLatin1String(source)
                        && viewer->chapterPage()->currentPage() > 0;
                },
                20000);
        };
        QVERIFY(shows("p1.xhtml"));
        QTest::keyClick(viewer, Qt::Key_Right);
        QVERIFY(shows("p3.xhtml"));
        QCOMPARE(context->textDocument()->chapters(), (QStringList { "p1.xhtml", "p3.xhtml" }));
        QTest::keyClick(viewer, Qt::Key_Left);
        QVERIFY(shows("p1.xhtml"));
    }

    // A click on the right half of the page turns forward, on the left half back.
    void clickHalves()
    {
        const int id = m_fixture->addEpub(QStringLiteral("clicks.epub"), 2, 6000);
        QVERIFY(id > 0);
        const QSharedPointer<BookContext> context = m_fixture->open(id);
        QVERIFY(context);
        TextViewer* viewer = m_fixture->viewer();
        TextBookChapter* chapter = viewer->chapterPage();
        const int columns = context->pageParams()->columnCount();
        QCOMPARE(chapter->currentPage(), 1);
        for (const int x : { viewer->width() * 3 / 4, viewer->width() - 20, viewer->width() / 2 + 5 }) {
            const int before = chapter->currentPage();
            QTest::mouseClick(viewer, Qt::LeftButton, {}, QPoint(x, viewer->height() / 2));
            QTRY_COMPARE(chapter->currentPage(), before + columns);
        }
        for (const int x : { 20, viewer->width() / 4 }) {
            const int before = chapter->currentPage();
            QTest::mouseClick(viewer, Qt::LeftButton, {}, QPoint(x, viewer->height() / 2));
            QTRY_COMPARE(chapter->currentPage(), before - columns);
        }
        // A press held past the click interval is the same click at its release.
        const int before = chapter->currentPage();
        QTest::mousePress(viewer, Qt::LeftButton, {}, QPoint(viewer->width() - 40, 100));
        QTest::qWait(400);
        QTest::mouseRelease(viewer, Qt::LeftButton, {}, QPoint(viewer->width() - 40, 100));
        QTRY_COMPARE(chapter->currentPage(), before + columns);
    }

    // Page-turn keys pressed faster than chapters load are all made, none lost.
    void quickKeyPresses_data()
    {
        QTest::addColumn<int>("forward");
        QTest::addColumn<int>("back");
        QTest::newRow("forward") << 20 << 0;
        QTest::newRow("forward and back") << 14 << 6;
    }
    void quickKeyPresses()
    {
        QFETCH(int, forward);
        QFETCH(int, back);
        const int id = addShortChapters(*m_fixture, QStringLiteral("keys%1.epub").arg(forward), 12);
        QVERIFY(id > 0);
        const QSharedPointer<BookContext> context = m_fixture->open(id);
        QVERIFY(context);
        TextViewer* viewer = m_fixture->viewer();
        context->pageParams()->setColumnCount(1);
        QTRY_VERIFY(context->pageCount() > forward + 4);
        QTRY_COMPARE(viewer->chapterPage()->currentPage(), 1);
        QTRY_COMPARE(screenPage(context), 1);
        viewer->setFocus();
        for (int i = 0; i < forward; ++i)
            pressKey(keyTarget(viewer), Hotkeys::Id::Nav_NextPage);
        for (int i = 0; i < back; ++i)
            pressKey(keyTarget(viewer), Hotkeys::Id::Nav_PrevPage);
        QVERIFY(ReadingFixture::waitFor(
            [&] { return viewer->isVisible() && screenPage(context) == 1 + forward - back; }, 20000));
        QTest::qWait(300);
        QCOMPARE(screenPage(context), 1 + forward - back);
    }

    // The last screen of the first chapter, through another layout and back (a larger window, the
    // other column count, a larger font): the chapter's pages change twice while the page number
    // ends where it was, and the chapter title follows the last page numbers, not the other
    // layout's. Every page number and total the context gives, and every progress the library
    // keeps meanwhile, is that of a layout counted whole: never an old total beside new page
    // numbers.
    void chapterTitleAfterLayoutRoundTrip_data()
    {
        QTest::addColumn<QString>("change");
        for (const char* change : { "window", "columns", "font size" })
            QTest::newRow(change) << change;
    }
    void chapterTitleAfterLayoutRoundTrip()
    {
        QFETCH(QString, change);
        const int id = m_fixture->addEpub(QStringLiteral("resized %1.epub").arg(change), 2, 6000);
        const QSharedPointer<BookContext> context = m_fixture->open(id);
        QVERIFY(context);
        TextViewer* viewer = m_fixture->viewer();
        QTRY_VERIFY(context->pageCount() > 4);
        context->navigateToLink(QStringLiteral("ch1.xhtml?kelpath=end"));
        QTRY_VERIFY(viewer->chapterPage()->currentPage() > 2);
        QTRY_COMPARE(context->currentChapterTitle(), QStringLiteral("Chapter 1"));
        const int page = context->currentPage();
        const int count = context->pageCount();
        const auto progress = [&] { return m_fixture->books()->bookById(id).max_position; };
        QSet<QPair<int, int>> counted { { page, count } };
        QSet<int> countedProgress { progress() };
        QList<QPair<int, int>> shown;
        QList<int> kept;
        QObject guard;
        const auto record = [&] {
            if (context->currentPage() > 0 && context->pageCount() > 0)
                shown.append({ context->currentPage(), context->pageCount() });
        };
        connect(context.data(), &BookContext::currentPageChanged, &guard, record);
        connect(context.data(), &BookContext::pageCountChanged, &guard, record);
        connect(m_fixture->books(), &QAbstractItemModel::dataChanged, &guard, [&] { kept.append(progress()); });

        BookPageParams* params = context->pageParams();
        const int columns = params->columnCount();
        const int fontSize = params->fontSize();
        const auto layOut = [&](bool other) {
            if (change == QLatin1String("window"))
                viewer->resize(other ? QSize(1600, 1200) : QSize(800, 600));
            else if (change == QLatin1String("columns"))
                params->setColumnCount(other ? 3 - columns : columns);
            else
                params->setFontSize(other ? fontSize + 8 : fontSize);
        };
        layOut(true);
        QTRY_VERIFY_WITH_TIMEOUT(context->pageCount() > 0 && context->pageCount() != count, 20000);
        QTRY_VERIFY(context->currentPage() > 0 && context->currentPage() != page);
        counted.insert({ context->currentPage(), context->pageCount() });
        countedProgress.insert(progress());
        layOut(false);
        QTRY_VERIFY_WITH_TIMEOUT(context->pageCount() == count, 20000);
        QTRY_COMPARE(context->currentPage(), page);
        QTest::qWait(300);
        QCOMPARE(context->currentChapterTitle(), QStringLiteral("Chapter 1"));
        countedProgress.insert(progress());
        for (const QPair<int, int>& pages : qAsConst(shown))
            QVERIFY2(counted.contains(pages), qPrintable(QStringLiteral("%1 / %2").arg(pages.first).arg(pages.second)));
        for (int percent : qAsConst(kept))
            QVERIFY2(countedProgress.contains(percent), qPrintable(QString::number(percent)));
    }

    // Contents links without the chapters' folder lead to their chapter in the contents, the
    // chapter names and the viewer; an entry that leads nowhere is disabled.
    void contentsLinksWithoutTheirFolder()
    {
        EpubBuilder epub;
        epub.setVersion(3);
        epub.setWriteNcx(false);
        QList<EpubBuilder::NavPoint> contents;
        for (int i = 1; i <= 3; ++i) {
            ChapterBuilder chapter { quint32(200 + i) };
            chapter.addHeading(1, QStringLiteral("Guide %1").arg(i));
            chapter.addProse(8);
            epub.addItem(QStringLiteral("g%1").arg(i), QStringLiteral("guide/g%1.xhtml").arg(i), chapter.xhtml());
            contents.append({ QStringLiteral("Guide %1").arg(i), QStringLiteral("g%1.xhtml").arg(i), {} });
        }
        contents.append({ QStringLiteral("Missing"), QStringLiteral("missing.xhtml"), {} });
        epub.setNavPoints(contents);
        const QString path = m_fixture->home().filePath(QStringLiteral("folderless.epub"));
        QVERIFY(epub.write(path));
        const int id = addBook(*m_fixture, path, 0);
        const QSharedPointer<BookContext> context = m_fixture->open(id);
        QVERIFY(context);
        const QList<TocPoint> toc = context->toc();
        QCOMPARE(toc.size(), 4);
        QCOMPARE(toc.at(2).link->source, QStringLiteral("guide/g3.xhtml"));
        QTRY_VERIFY(toc.at(2).link->page > 1);

        TocModel* model = context->tocModel();
        QVERIFY(model->flags(model->index(2, 0)).testFlag(Qt::ItemIsEnabled));
        QVERIFY(!model->flags(model->index(3, 0)).testFlag(Qt::ItemIsEnabled));

        context->navigateToLink(toc.at(2).link->source);
        TextViewer* viewer = m_fixture->viewer();
        QTRY_COMPARE(viewer->chapterPage()->source(), QStringLiteral("guide/g3.xhtml"));
        QTRY_COMPARE(context->currentPage(), toc.at(2).link->page);
        QCOMPARE(context->currentChapterTitle(), QStringLiteral("Guide 3"));
    }

    // A bookmark made on a screen inside a paragraph of 40,000 characters: the screen's page
    // and the screen's first words, not the paragraph's first page and its whole text.
    void bookmarkInsideALongParagraph()
    {
        EpubBuilder epub;
        ChapterBuilder chapter(300);
        chapter.addHeading(1, QStringLiteral("One paragraph"));
        QString words;
        while (words.size() < 40000)
            words += chapter.sentence(20, 40) + QLatin1Char(' ');
        chapter.addParagraph(words);
        epub.addChapter(QStringLiteral("c1"), QStringLiteral("long.xhtml"), QStringLiteral("Long"), chapter.bodyHtml());
        const QString path = m_fixture->home().filePath(QStringLiteral("paragraph.epub"));
        QVERIFY(epub.write(path));
        const QSharedPointer<BookContext> context = m_fixture->open(addBook(*m_fixture, path, 0));
        QVERIFY(context);
        QTRY_VERIFY(context->pageCount() > 10);
        context->navigateToPage(7);
        QTRY_VERIFY(context->currentPage() == 7 || context->currentPage() == 6);
        const int screen = context->currentPage();
        context->addBookmark();
        QCOMPARE(context->bookmarks().size(), 1);
        const BookmarkItem bookmark = context->bookmarks().first();
        QVERIFY2(bookmark.text.size() <= 200 && bookmark.text.size() > 100, qPrintable(bookmark.text));
        QVERIFY(words.simplified().contains(bookmark.text));
        QVERIFY(!words.simplified().startsWith(bookmark.text.left(40)));
        QTRY_COMPARE(context->bookmarks().first().link->page, screen);
    }

    // An image inside an FB2 paragraph, whose binary id names no format, is shown.
    void inlineFb2Image()
    {
        Fb2Builder fb2;
        fb2.addBody(Fb2Builder::section(Fb2Builder::p(QStringLiteral("Before the picture."))
                + QStringLiteral("<p>Text <image l:href=\"#img_3\"/> around it.</p>")
                + Fb2Builder::p(QStringLiteral("After it.")),
            QStringLiteral("Pictures")));
        fb2.addBinary(QStringLiteral("img_3"), EpubBuilder::png(40, 30));
        const QString path = m_fixture->home().filePath(QStringLiteral("inline.fb2"));
        QVERIFY(fb2.write(path));
        const QSharedPointer<BookContext> context = m_fixture->open(addBook(*m_fixture, path, 2));
        QVERIFY(context);
        // The section's page follows the body's.
        TextViewer* viewer = m_fixture->viewer();
        const QString section = context->textDocument()->chapters().last();
        viewer->goLink(section, false);
        QTRY_COMPARE(viewer->chapterPage()->source(), section);
        QTRY_VERIFY(viewer->isVisible());
        QWebFrame* frame = viewer->chapterPage()->mainFrame();
        QTRY_COMPARE(frame->evaluateJavaScript(QStringLiteral("document.images.length")).toInt(), 1);
        QTRY_COMPARE(frame->evaluateJavaScript(QStringLiteral("document.images[0].naturalWidth")).toInt(), 40);
    }
};

QTEST_MAIN(TestTextViewer)
#include "tst_textviewer.moc"
