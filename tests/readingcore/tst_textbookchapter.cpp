// The chapter page: a generated chapter loaded and laid out as the text viewer does it, then
// driven through the reading engine: page format and fonts, reading positions, page turns
// across the chapter's edges, reading links and their pages, bookmarks and notes made and
// restored, and hostile text in every call.

#include "bookpageparams.h"
#include "chapterbuilder.h"
#include "enginepage.h"
#include "jsengine/jsengine.h"
#include "temphome.h"
#include "testfiles.h"
#include "textbookchapter.h"

#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QUrl>
#include <QWebFrame>
#include <QWebSettings>
#include <QtTest>
#include <memory>

namespace {

const QString kSource = QStringLiteral("Text/Chapter1.xhtml");
const QString kUid = QStringLiteral("c0ffee00c0ffee00c0ffee00c0ffee00");
// An element id that would end a single-quoted string and run code if it were not escaped.
const QString kHostileId = QStringLiteral("q'u\"o\\te');window.pwned=1;//");
const QString kMarkedText = QStringLiteral("The quick brown fox jumps over the lazy dog near the river bank.");

using ChapterPtr = std::unique_ptr<TextBookChapter>;

int engineInt(TextBookChapter& page, const QString& script)
{
    return page.mainFrame()->evaluateJavaScript(script).toInt();
}

QString engineText(TextBookChapter& page, const QString& script)
{
    return page.mainFrame()->evaluateJavaScript(script).toString();
}

// The position of an element among its siblings of the same tag, as element paths count it.
int siblingIndex(TextBookChapter& page, const QString& elementId)
{
    return engineInt(page,
        QStringLiteral("(function () { var e = document.getElementById('%1'), i = 1;"
                       " for (var s = e.previousElementSibling; s; s = s.previousElementSibling)"
                       " if (s.tagName === e.tagName) ++i; return i; })()")
            .arg(jsengine::escaped(elementId)));
}

QVariant markBoxes(TextBookChapter& page, const QString& noteId)
{
    return page.mainFrame()->evaluateJavaScript(
        QStringLiteral("(function () { var m = document.getElementById('kelnote_' + '%1'); if (!m) return null;"
                       " var out = []; for (var i = 0; i < m.childNodes.length; ++i) {"
                       " var r = m.childNodes[i].getBoundingClientRect(); out.push([m.childNodes[i].className,"
                       " Math.round(r.left), Math.round(r.top), Math.round(r.width), Math.round(r.height)]); }"
                       " return out; })()")
            .arg(jsengine::escaped(noteId)));
}

bool pwned(TextBookChapter& page)
{
    return engineText(page, QStringLiteral("typeof window.pwned")) != QLatin1String("undefined");
}

// Selects the characters [start, end) of the first text node of an element.
QString selectText(TextBookChapter& page, const QString& elementId, int start, int end)
{
    return engineText(page,
        QStringLiteral(
            "(function () { var t = document.getElementById('%1').firstChild; var r = document.createRange();"
            " r.setStart(t, %2); r.setEnd(t, %3); var s = window.getSelection(); s.removeAllRanges();"
            " s.addRange(r); return r.toString(); })()")
            .arg(jsengine::escaped(elementId))
            .arg(start)
            .arg(end));
}

} // namespace

class TestTextBookChapter : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void pageFormatAndFonts();
    void readingPositions_data();
    void readingPositions();
    void turningPages_data();
    void turningPages();
    void readingLinks();
    void linkPages_data();
    void linkPages();
    void bookmarks();
    void notes();
    void hostileTextIsEscaped();

private:
    // Loads a chapter and lays it out as the text viewer does after a load: the engine with its
    // init call, the page size into the parameters, then the page parameters.
    ChapterPtr open(const QString& file, int columns = 1, bool layOut = true);

    TempHome m_home;
    QTemporaryDir m_dir;
    QString m_chapter;
    QString m_fontProbe;
    BookPageParams m_params;
};

void TestTextBookChapter::initTestCase()
{
    QVERIFY(m_dir.isValid());
    ChapterBuilder builder(42);
    builder.addHeading(1, QStringLiteral("Chapter One"));
    builder.addRaw(QStringLiteral("<p id=\"opening\">Opening words of the chapter, kept short.</p>\n"));
    builder.addProse(12);
    builder.addRaw(QStringLiteral("<p id=\"mid\">The middle of the chapter starts here.</p>\n"));
    builder.addProse(10);
    builder.addRaw(QStringLiteral("<p id=\"marked\">%1</p>\n").arg(kMarkedText));
    builder.addRaw(
        QStringLiteral("<p id=\"q'u&quot;o\\te');window.pwned=1;//\">A paragraph with an awkward id.</p>\n"));
    builder.addProse(8);
    builder.addRaw(QStringLiteral("<p id=\"closing\">Closing words.</p>\n"));
    m_chapter = builder.write(m_dir.filePath(QStringLiteral("Text")), QStringLiteral("Chapter1.xhtml"));
    QVERIFY(!m_chapter.isEmpty());

    // No font named: the page's standard font decides the glyph widths.
    m_fontProbe = m_dir.filePath(QStringLiteral("probe.html"));
    QVERIFY(testfiles::write(m_fontProbe,
        "<!DOCTYPE html><html><head><meta charset=\"utf-8\"></head><body>"
        "<p><span id=\"narrow\">iiiiiiiiii</span><br/><span id=\"wide\">MMMMMMMMMM</span></p></body></html>"));

    ViewerColors colors;
    colors.background = Qt::white;
    colors.text = Qt::black;
    for (int i = NoteItem::Blue; i <= NoteItem::Green; ++i)
        colors.noteColors.insert(i, NoteItem::styleColor(i));
    m_params.setPageColors(colors);
    m_params.setFontFamily(QStringLiteral("Original font"));
}

ChapterPtr TestTextBookChapter::open(const QString& file, int columns, bool layOut)
{
    ChapterPtr page(new TextBookChapter);
    page->setLinkDelegationPolicy(QWebPage::DelegateAllLinks);
    page->mainFrame()->setScrollBarPolicy(Qt::Horizontal, Qt::ScrollBarAlwaysOff);
    page->mainFrame()->setScrollBarPolicy(Qt::Vertical, Qt::ScrollBarAlwaysOff);
    page->setSource(kSource);
    if (!loadWebPage(page.get(), file))
        return nullptr;
    page->mainFrame()->evaluateJavaScript(jsengine::scriptWithInit(kUid));
    page->setViewportSize(QSize(800, 600));
    m_params.setColumnCount(columns);
    m_params.setWidth(800);
    m_params.setHeight(600);
    if (layOut)
        page->applyPageParams(&m_params);
    return page;
}

void TestTextBookChapter::pageFormatAndFonts()
{
    ChapterPtr page = open(m_chapter, 1, false);
    QVERIFY(page);
    QSignalSpy count(page.get(), &TextBookChapter::pageCountChanged);
    QSignalSpy current(page.get(), &TextBookChapter::currentPageChanged);
    QSignalSpy formatted(page.get(), &TextBookChapter::pageFormattingChanged);

    // Without the engine the call fails: nothing is reported and both stay unknown.
    ChapterPtr bare(new TextBookChapter);
    QVERIFY(loadWebPage(bare.get(), m_chapter));
    QSignalSpy bareFormatted(bare.get(), &TextBookChapter::pageFormattingChanged);
    bare->applyPageParams(&m_params);
    QCOMPARE(bareFormatted.count(), 0);
    QCOMPARE(bare->pageCount(), -1);
    QCOMPARE(bare->currentPage(), -1);

    m_params.setFontSize(20);
    page->applyPageParams(&m_params);
    QCOMPARE(count.count(), 1);
    QCOMPARE(current.count(), 1);
    QCOMPARE(formatted.count(), 1);
    const int pages = page->pageCount();
    QVERIFY2(pages >= 6, qPrintable(QString::number(pages)));
    QCOMPARE(page->currentPage(), 1);
    QCOMPARE(pages, engineInt(*page, QStringLiteral("page.count")));
    QCOMPARE(page->settings()->fontSize(QWebSettings::DefaultFontSize), 20);

    // The same format again: only the formatting is reported.
    page->applyPageParams(&m_params);
    QCOMPARE(count.count(), 1);
    QCOMPARE(current.count(), 1);
    QCOMPARE(formatted.count(), 2);

    // A narrower window alone: more pages, reported; the formatting always.
    m_params.setWidth(500);
    page->setViewportSize(QSize(500, 600));
    page->applyPageParams(&m_params);
    QCOMPARE(count.count(), 2);
    QCOMPARE(formatted.count(), 3);
    QVERIFY(page->pageCount() > pages);

    // A larger default font size reaches the page and needs more pages still.
    const int narrowPages = page->pageCount();
    m_params.setFontSize(26);
    page->applyPageParams(&m_params);
    QCOMPARE(page->settings()->fontSize(QWebSettings::DefaultFontSize), 26);
    QCOMPARE(engineText(*page, QStringLiteral("getComputedStyle(document.getElementById('mid')).fontSize")),
        QStringLiteral("26px"));
    QVERIFY(page->pageCount() > narrowPages);
    m_params.setFontSize(20);

    // The font family becomes the page's standard font; "Original font" (any case) resets it.
    ChapterPtr probe = open(m_fontProbe);
    QVERIFY(probe);
    const auto widths = [&] {
        return qMakePair(
            engineInt(*probe, QStringLiteral("document.getElementById('narrow').getBoundingClientRect().width")),
            engineInt(*probe, QStringLiteral("document.getElementById('wide').getBoundingClientRect().width")));
    };
    m_params.setFontFamily(QStringLiteral("DejaVu Sans Mono"));
    probe->applyPageParams(&m_params);
    QCOMPARE(probe->settings()->fontFamily(QWebSettings::StandardFont), QStringLiteral("DejaVu Sans Mono"));
    QCOMPARE(widths().first, widths().second); // monospaced
    m_params.setFontFamily(QStringLiteral("ORIGINAL FONT"));
    probe->applyPageParams(&m_params);
    QVERIFY(probe->settings()->fontFamily(QWebSettings::StandardFont) != QLatin1String("DejaVu Sans Mono"));
    QVERIFY(widths().first < widths().second);
    m_params.setFontFamily(QStringLiteral("Original font"));
    m_params.setWidth(800);

    // Colours alone go through their own script.
    ViewerColors colors = m_params.pageColors();
    colors.background = QColor(QStringLiteral("#102030"));
    m_params.setPageColors(colors);
    page->applyPageColors(&m_params);
    QCOMPARE(engineText(*page, QStringLiteral("getComputedStyle(document.body).backgroundColor")),
        QStringLiteral("rgb(16, 32, 48)"));
    colors.background = Qt::white;
    m_params.setPageColors(colors);
}

void TestTextBookChapter::readingPositions_data()
{
    QTest::addColumn<int>("columns");
    QTest::addColumn<QString>("position");
    // The expected first page on screen: a number, or what the engine gives for a script.
    QTest::addColumn<QString>("expected");
    QTest::newRow("page 3") << 1 << "3"
                            << "3";
    QTest::newRow("page 4 of two columns") << 2 << "4"
                                           << "3";
    QTest::newRow("anchor") << 1 << "#mid"
                            << "getPageByKelLink('#mid')";
    QTest::newRow("start any case") << 1 << "StArT"
                                    << "1";
    QTest::newRow("end any case") << 1 << "END"
                                  << "page.count";
    QTest::newRow("end of two columns") << 2 << "end"
                                        << "page.count - 1";
    QTest::newRow("element path") << 1 << "/html[1]/body[1]/div[1]/div[1]/p[@]"
                                  << "getPageByKelLink('#closing')";
    QTest::newRow("path with offset") << 1 << "/html[1]/body[1]/div[1]/div[1]/p[@]&offset=5"
                                      << "getPageByKelLink('#closing')";
    QTest::newRow("none of these") << 1 << "chapter" << QString();
    QTest::newRow("page 0") << 1 << "0" << QString();
    QTest::newRow("unknown anchor") << 1 << "#nowhere" << QString();
    QTest::newRow("unknown path") << 1 << "/html[1]/body[1]/div[1]/div[1]/p[999]" << QString();
}

void TestTextBookChapter::readingPositions()
{
    QFETCH(int, columns);
    QFETCH(QString, position);
    QFETCH(QString, expected);
    ChapterPtr page = open(m_chapter, columns);
    QVERIFY(page);
    // Start away from the first screen, so a move that does nothing shows.
    QVERIFY(page->setReadingPosition(QStringLiteral("#mid")));
    const int before = page->currentPage();
    QVERIFY(before > columns);

    // The path of the closing paragraph, counted among its siblings.
    const int closingIndex = siblingIndex(*page, QStringLiteral("closing"));
    position.replace(QLatin1String("[@]"), QStringLiteral("[%1]").arg(closingIndex));
    int want = before;
    if (!expected.isEmpty()) {
        bool isNumber = false;
        want = expected.toInt(&isNumber);
        if (!isNumber)
            want = engineInt(*page, expected);
        want -= (want - 1) % columns; // the first page of its screen
    }

    QSignalSpy current(page.get(), &TextBookChapter::currentPageChanged);
    QVERIFY(page->setReadingPosition(position));
    QCOMPARE(current.count(), 1); // in every case
    QCOMPARE(page->currentPage(), want);
    QCOMPARE(engineInt(*page, QStringLiteral("page.current")), want);
}

void TestTextBookChapter::turningPages_data()
{
    QTest::addColumn<int>("columns");
    QTest::newRow("one column") << 1;
    QTest::newRow("two columns") << 2;
}

void TestTextBookChapter::turningPages()
{
    QFETCH(int, columns);
    // Before the engine runs, page turns do nothing.
    ChapterPtr unready(new TextBookChapter);
    QVERIFY(loadWebPage(unready.get(), m_chapter));
    QSignalSpy unreadyEdge(unready.get(), &TextBookChapter::nextChapterRequest);
    QSignalSpy unreadyCurrent(unready.get(), &TextBookChapter::currentPageChanged);
    unready->next();
    unready->prev();
    QCOMPARE(unreadyEdge.count() + unreadyCurrent.count(), 0);

    ChapterPtr page = open(m_chapter, columns);
    QVERIFY(page);
    const int count = page->pageCount();
    QSignalSpy current(page.get(), &TextBookChapter::currentPageChanged);
    QSignalSpy nextChapter(page.get(), &TextBookChapter::nextChapterRequest);
    QSignalSpy prevChapter(page.get(), &TextBookChapter::prevChapterRequest);

    page->prev(); // on the first screen: the previous chapter is asked for
    QCOMPARE(prevChapter.count(), 1);
    QCOMPARE(page->currentPage(), 1);

    int turns = 0;
    while (nextChapter.isEmpty() && turns <= count) {
        const int before = page->currentPage();
        page->next();
        if (nextChapter.isEmpty()) {
            ++turns;
            QCOMPARE(page->currentPage(), before + columns);
            QCOMPARE(current.count(), turns);
        }
    }
    QCOMPARE(nextChapter.count(), 1);
    QCOMPARE(page->currentPage(), count - columns + 1); // the last screen, unchanged
    QCOMPARE(turns, count / columns - 1);

    page->prev();
    QCOMPARE(page->currentPage(), count - 2 * columns + 1);
    QCOMPARE(prevChapter.count(), 1);
}

void TestTextBookChapter::readingLinks()
{
    QCOMPARE(TextBookChapter::readingLink(QStringLiteral("a b.xhtml"), QStringLiteral("/html[1]/p[2]&offset=3é~")),
        QStringLiteral("a b.xhtml?kelpath=%2Fhtml%5B1%5D%2Fp%5B2%5D%26offset%3D3%C3%A9~"));

    ChapterPtr page = open(m_chapter);
    QVERIFY(page);
    QVERIFY(page->setReadingPosition(QStringLiteral("4")));
    const QString path = engineText(*page, QStringLiteral("getReadingPosXPath();"));
    QVERIFY(path.startsWith(QLatin1String("/html[1]/body[1]/div[1]/div[1]/")));

    const QString link = page->getReadingLink();
    QCOMPARE(link, TextBookChapter::readingLink(kSource, path));
    QString reported;
    QSignalSpy reportedSignal(page.get(), &TextBookChapter::readingPositionReported);
    page->getReadingPosition([&](const QString& position) { reported = position; });
    QCOMPARE(reported, path);
    QCOMPARE(reportedSignal.count(), 1);
    QCOMPARE(reportedSignal.at(0).at(0).toString(), path);

    // The decoded link brings a fresh load of the chapter back to the same page.
    const QString decoded = QUrl::fromPercentEncoding(link.mid(link.indexOf(QLatin1String("kelpath=")) + 8).toUtf8());
    QCOMPARE(decoded, path);
    ChapterPtr reopened = open(m_chapter);
    QVERIFY(reopened);
    reopened->setReadingPosition(decoded);
    QCOMPARE(reopened->currentPage(), 4);

    // Without the engine there is no link and no report.
    ChapterPtr bare(new TextBookChapter);
    QVERIFY(loadWebPage(bare.get(), m_chapter));
    QTest::ignoreMessage(QtWarningMsg, "data not valid!!!");
    QVERIFY(bare->getReadingLink().isEmpty());
    bool called = false;
    QTest::ignoreMessage(QtWarningMsg, "data not valid");
    bare->getReadingPosition([&](const QString&) { called = true; });
    QVERIFY(!called);
}

void TestTextBookChapter::linkPages_data()
{
    QTest::addColumn<QString>("linkSource");
    QTest::addColumn<int>("pageMode");
    QTest::addColumn<int>("offset");
    // What the engine is asked for, evaluated by the test; "" for no page at all.
    QTest::addColumn<QString>("engineLink");

    const QString midPath = QStringLiteral("/html[1]/body[1]/div[1]/div[1]/p[@mid]");
    const QString encoded = QString::fromLatin1(QUrl::toPercentEncoding(midPath));
    QTest::newRow("anchor") << kSource + "#mid" << 1 << 10 << "#mid";
    QTest::newRow("reading path") << kSource + "?kelpath=" + encoded << 1 << 0 << "kelpath=" + encoded;
    QTest::newRow("note link cut at the offset")
        << kSource + "?kelpath=" + encoded + "&offset=12" << 1 << 5 << "kelpath=" + encoded;
    QTest::newRow("other page mode") << kSource + "#closing" << 2 << 3 << "#closing";
    QTest::newRow("unknown anchor keeps no page") << kSource + "#nowhere" << 1 << 10 << QString();
    QTest::newRow("unresolvable path") << kSource + "?kelpath=%2Fnothing%5B9%5D" << 1 << 10 << QString();
}

void TestTextBookChapter::linkPages()
{
    QFETCH(QString, linkSource);
    QFETCH(int, pageMode);
    QFETCH(int, offset);
    QFETCH(QString, engineLink);
    ChapterPtr page = open(m_chapter);
    QVERIFY(page);
    const QString midIndex = QString::number(siblingIndex(*page, QStringLiteral("mid")));
    linkSource.replace(QLatin1String("%5B%40mid%5D"), QStringLiteral("%5B") + midIndex + QStringLiteral("%5D"));
    engineLink.replace(QLatin1String("%5B%40mid%5D"), QStringLiteral("%5B") + midIndex + QStringLiteral("%5D"));

    int want = -1;
    if (!engineLink.isEmpty()) {
        const int inChapter
            = engineInt(*page, QStringLiteral("getPageByKelLink('%1');").arg(jsengine::escaped(engineLink)));
        QVERIFY(inChapter > 1);
        want = (pageMode == 1 ? inChapter : 2 * inChapter - 1) + offset;
    }
    BookLinkPtr link(new BookLink(linkSource, 77));
    bool done = false;
    page->resolveLinkPage(link, pageMode, offset, [&] { done = true; });
    QVERIFY(done);
    QCOMPARE(link->page, want);
}

void TestTextBookChapter::bookmarks()
{
    // With the engine running but no layout yet nothing is visible: no bookmark.
    ChapterPtr unlaid = open(m_chapter, 1, false);
    QVERIFY(unlaid);
    QSignalSpy none(unlaid.get(), &TextBookChapter::newBookmarkCreated);
    unlaid->createBookmarkForCurrentPage();
    QCOMPARE(none.count(), 0);

    ChapterPtr page = open(m_chapter);
    QVERIFY(page);
    QVERIFY(page->setReadingPosition(QStringLiteral("3")));
    QSignalSpy created(page.get(), &TextBookChapter::newBookmarkCreated);
    const QDateTime before = QDateTime::currentDateTime();
    page->createBookmarkForCurrentPage();
    QCOMPARE(created.count(), 1);
    const BookmarkItem bookmark = created.at(0).at(0).value<BookmarkItem>();
    QVERIFY(bookmark.link->source.startsWith(kSource + QStringLiteral("?kelpath=%2Fhtml%5B1%5D")));
    QCOMPARE(bookmark.link->page, -1);
    QVERIFY(bookmark.title.isEmpty());
    QVERIFY(!bookmark.flag);
    QVERIFY(bookmark.date >= before.addSecs(-1) && bookmark.date <= QDateTime::currentDateTime());
    QVERIFY(QRegularExpression(QStringLiteral("^[0-9a-f]{32}$")).match(bookmark.id).hasMatch());
    const QString path
        = QUrl::fromPercentEncoding(bookmark.link->source.mid(kSource.size() + 9).toUtf8()); // after "?kelpath="
    QCOMPARE(bookmark.text,
        engineText(*page, QStringLiteral("getElementByXpath('%1').innerText").arg(jsengine::escaped(path))));
    QVERIFY(!bookmark.text.trimmed().isEmpty());

    // Its link gives the page it was made on, in this load and in a fresh one.
    page->resolveLinkPage(bookmark.link, 1, 0, nullptr);
    QCOMPARE(bookmark.link->page, 3);
    ChapterPtr reopened = open(m_chapter);
    QVERIFY(reopened);
    reopened->setReadingPosition(path);
    QCOMPARE(reopened->currentPage(), 3);
}

void TestTextBookChapter::notes()
{
    ChapterPtr page = open(m_chapter);
    QVERIFY(page);
    QVERIFY(page->setReadingPosition(QStringLiteral("#marked")));
    QSignalSpy created(page.get(), &TextBookChapter::newNoteCreated);

    // No selection: no note.
    page->createNoteFromSelection(QStringLiteral("n0"), NoteItem::Blue);
    QCOMPARE(created.count(), 0);

    const QString selected = selectText(*page, QStringLiteral("marked"), 4, 19);
    QCOMPARE(selected, QStringLiteral("quick brown fox"));
    page->createNoteFromSelection(QStringLiteral("n1"), NoteItem::Red);
    QCOMPARE(created.count(), 1);
    const NoteItem note = created.at(0).at(0).value<NoteItem>();
    QCOMPARE(note.id, QStringLiteral("n1"));
    QCOMPARE(note.color, NoteItem::Red);
    QCOMPARE(note.chapter, kSource);
    QCOMPARE(note.context, selected);
    QVERIFY(note.startPath.startsWith(QLatin1String("/html[1]/body[1]/div[1]/div[1]/p[")));
    QCOMPARE(note.endPath, note.startPath);
    QCOMPARE(note.startOffset, 4);
    QCOMPARE(note.endOffset, 19);
    QCOMPARE(note.link->source, TextBookChapter::readingLink(kSource, note.startPath) + QStringLiteral("&offset=4"));
    QVERIFY(note.date.isValid());
    const QVariant marks = markBoxes(*page, note.id);
    QVERIFY(!marks.toList().isEmpty());
    QCOMPARE(marks.toList().first().toList().first().toString(), QStringLiteral("rednote"));

    // Restored in a fresh load of the chapter: the same marks over the same words.
    NoteItem second = note;
    second.id = QStringLiteral("n2");
    second.color = NoteItem::Underline;
    second.startOffset = 20;
    second.endOffset = 25;
    ChapterPtr reopened = open(m_chapter);
    QVERIFY(reopened);
    QVERIFY(reopened->setReadingPosition(QStringLiteral("#marked")));
    reopened->addNotes({ note, second, note }); // the repeated id is drawn once
    QCOMPARE(markBoxes(*reopened, note.id), marks);
    QCOMPARE(
        markBoxes(*reopened, second.id).toList().first().toList().first().toString(), QStringLiteral("underlinenote"));
    QCOMPARE(
        engineInt(*reopened, QStringLiteral("document.getElementById('kelnotes_%1').childNodes.length").arg(kUid)), 2);

    // Found under a point of its mark and under the selection's focus.
    const QVariantList box = marks.toList().first().toList();
    const QPoint inside(box[1].toInt() + box[3].toInt() / 2, box[2].toInt() + box[4].toInt() / 2);
    QString found = QStringLiteral("unset");
    reopened->findNoteId(inside, [&](const QString& id) { found = id; });
    QCOMPARE(found, note.id);
    reopened->findNoteId(QPoint(1, 1), [&](const QString& id) { found = id; });
    QCOMPARE(found, QString());
    selectText(*reopened, QStringLiteral("marked"), 6, 8);
    reopened->findNoteId(QPoint(0, 0), [&](const QString& id) { found = id; });
    QCOMPARE(found, note.id);

    // Restyled, then removed.
    reopened->setNoteStyle(note.id, QStringLiteral("green"));
    for (const QVariant& mark : markBoxes(*reopened, note.id).toList())
        QCOMPARE(mark.toList().first().toString(), QStringLiteral("greennote"));
    QCOMPARE(engineText(*reopened, QStringLiteral("document.getElementById('kelnote_n1').className")),
        QStringLiteral("greennote"));
    reopened->removeNote(note.id);
    QVERIFY(markBoxes(*reopened, note.id).isNull());
    reopened->findNoteId(inside, [&](const QString& id) { found = id; });
    QCOMPARE(found, QString());
    QVERIFY(!markBoxes(*reopened, second.id).isNull());

    // An empty list evaluates nothing and breaks nothing.
    reopened->addNotes({});
    QVERIFY(!markBoxes(*reopened, second.id).isNull());
}

void TestTextBookChapter::hostileTextIsEscaped()
{
    ChapterPtr page = open(m_chapter);
    QVERIFY(page);
    const QStringList hostile = { QStringLiteral("x');window.pwned=1;('"), QStringLiteral("x\\');window.pwned=1;//"),
        QStringLiteral("x\");window.pwned=1;//"), QStringLiteral("x\n');window.pwned=1;//"),
        QStringLiteral("x\u2028');window.pwned=1;//"), QStringLiteral("</script><script>window.pwned=1</script>") };

    // An anchor with quotes and a backslash is found as it is written.
    const int anchorPage
        = engineInt(*page, QStringLiteral("getPageByKelLink('#%1')").arg(jsengine::escaped(kHostileId)));
    QVERIFY(anchorPage > 1);
    page->setReadingPosition(QLatin1Char('#') + kHostileId);
    QCOMPARE(page->currentPage(), anchorPage);
    BookLinkPtr anchorLink(new BookLink(kSource + QLatin1Char('#') + kHostileId, -1));
    page->resolveLinkPage(anchorLink, 1, 0, nullptr);
    QCOMPARE(anchorLink->page, anchorPage);

    for (const QString& text : hostile) {
        page->setReadingPosition(QLatin1Char('#') + text);
        page->setReadingPosition(QStringLiteral("/html[1]/body[1]") + text);
        BookLinkPtr link(new BookLink(kSource + QStringLiteral("?kelpath=") + text, -1));
        page->resolveLinkPage(link, 1, 0, nullptr);
        QCOMPARE(link->page, -1);
        page->removeNote(text);
        page->setNoteStyle(text, text);
    }
    QVERIFY(!pwned(*page));

    // Note ids and style names reach the page verbatim.
    QVERIFY(page->setReadingPosition(QStringLiteral("#marked")));
    QSignalSpy created(page.get(), &TextBookChapter::newNoteCreated);
    for (int i = 0; i < hostile.size(); ++i) {
        selectText(*page, QStringLiteral("marked"), 4 + i, 10 + i);
        page->createNoteFromSelection(hostile.at(i), NoteItem::Yellow);
    }
    QCOMPARE(created.count(), hostile.size());
    for (const QString& id : hostile) {
        QVERIFY2(!markBoxes(*page, id).isNull(), qPrintable(id));
        page->setNoteStyle(id, QStringLiteral("red'x"));
        QCOMPARE(markBoxes(*page, id).toList().first().toList().first().toString(), QStringLiteral("red'xnote"));
        page->removeNote(id);
        QVERIFY(markBoxes(*page, id).isNull());
    }

    // Stored notes with hostile paths and ids, and a colour outside the style table.
    QList<NoteItem> stored;
    for (const QString& text : hostile) {
        NoteItem note;
        note.id = text;
        note.startPath = QStringLiteral("/html[1]/body[1]/div[1]/div[1]/p[1]") + text;
        note.endPath = text;
        note.startOffset = 0;
        note.endOffset = 3;
        stored.append(note);
    }
    NoteItem strange = created.at(0).at(0).value<NoteItem>();
    strange.id = QStringLiteral("strange");
    strange.color = NoteItem::NoteColor(99);
    stored.append(strange);
    page->addNotes(stored);
    QCOMPARE(markBoxes(*page, QStringLiteral("strange")).toList().first().toList().first().toString(),
        QStringLiteral("note"));
    for (const QString& text : hostile)
        QVERIFY(markBoxes(*page, text).isNull());
    QVERIFY(!pwned(*page));
}

QTEST_MAIN(TestTextBookChapter)
#include "tst_textbookchapter.moc"
