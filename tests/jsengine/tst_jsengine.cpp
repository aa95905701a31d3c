// The reading engine in a real web page, as the reader drives it: layout and page turning,
// reading positions through re-layouts, notes, reading aloud and escaped text.

#include "chapterbuilder.h"
#include "enginepage.h"
#include "jsengine/jsengine.h"
#include "temphome.h"

#include <QTemporaryDir>
#include <QUrl>
#include <QtTest>

namespace {

using jsengine::ResultKind;

ResultKind kindOf(EnginePage& page, const QString& script) { return jsengine::resultKind(page.evaluate(script)); }

// Where a position's character is, measured by the test itself: the page of the character,
// the page of the nearest non-blank character before it (0 when there is none) and the
// character. Only the path lookup is the engine's.
struct CharInfo {
    int page = -1;
    int previousPage = -1;
    QString character;
};

CharInfo charInfo(EnginePage& page, const QString& position)
{
    const QString script = QStringLiteral(R"((function (text) {
        var m = /&offset=(\d+)$/.exec(text);
        var offset = m ? parseInt(m[1], 10) : 0;
        var element = getElementByXpath(m ? text.substring(0, m.index) : text);
        if (!element)
            return null;
        var columns = document.getElementById('%1');
        var left = columns.getBoundingClientRect().left;
        var all = [];
        var walker = document.createTreeWalker(columns, NodeFilter.SHOW_TEXT, null, false);
        for (var n = walker.nextNode(); n; n = walker.nextNode())
            all.push(n);
        var node = null;
        walker = document.createTreeWalker(element, NodeFilter.SHOW_TEXT, null, false);
        for (var t = walker.nextNode(); t; t = walker.nextNode()) {
            if (offset < t.data.length) { node = t; break; }
            offset -= t.data.length;
        }
        if (!node) {
            var r0 = element.getBoundingClientRect();
            return [Math.floor((r0.left - left) / %2) + 1, 0, ''];
        }
        function pageOf(n, i) {
            var range = document.createRange();
            range.setStart(n, i);
            range.setEnd(n, i + 1);
            var rects = range.getClientRects();
            for (var k = 0; k < rects.length; ++k)
                if (rects[k].height > 0)
                    return Math.floor((rects[k].left - left) / %2) + 1;
            return -1;
        }
        var previous = 0;
        var index = all.indexOf(node);
        var from = offset - 1;
        for (var j = index; j >= 0 && !previous; --j, from = j >= 0 ? all[j].data.length - 1 : 0) {
            for (var i = from; i >= 0; --i) {
                if (/\S/.test(all[j].data.charAt(i))) {
                    var p = pageOf(all[j], i);
                    if (p > 0) { previous = p; break; }
                }
            }
        }
        return [pageOf(node, offset), previous, node.data.charAt(offset)];
    })('%3'))")
                               .arg(page.uid() + "1")
                               .arg(double(page.format().width) / page.format().columnCount)
                               .arg(jsengine::escaped(position));
    const QVariantList list = page.evaluate(script).toList();
    CharInfo info;
    if (list.size() == 3) {
        info.page = list[0].toInt();
        info.previousPage = list[1].toInt();
        info.character = list[2].toString();
    }
    return info;
}

QString kelpathLink(const QString& position)
{
    return QStringLiteral("kelpath=") + QString::fromLatin1(QUrl::toPercentEncoding(position));
}

// Line boxes of the text inside a range, worked out by the test, the boxes of a note's mark
// spans (both as [left, top, width, height]), and a selection made by the test.
const char* const kNoteHelpers = R"(
function testTextRects(range) {
    var out = [];
    var root = range.commonAncestorContainer;
    if (root.nodeType === 3)
        root = root.parentNode;
    var walker = document.createTreeWalker(root, NodeFilter.SHOW_TEXT, null, false);
    for (var n = walker.nextNode(); n; n = walker.nextNode()) {
        if (!range.intersectsNode(n))
            continue;
        var s = n === range.startContainer ? range.startOffset : 0;
        var e = n === range.endContainer ? range.endOffset : n.data.length;
        if (s >= e)
            continue;
        var r = document.createRange();
        r.setStart(n, s);
        r.setEnd(n, e);
        var rects = r.getClientRects();
        for (var i = 0; i < rects.length; ++i)
            if (rects[i].width > 0 && rects[i].height > 0)
                out.push([rects[i].left, rects[i].top, rects[i].width, rects[i].height]);
    }
    return out;
}
function testMarkRects(id) {
    var mark = document.getElementById('kelnote_' + id);
    if (!mark)
        return null;
    var out = [];
    for (var i = 0; i < mark.childNodes.length; ++i) {
        var r = mark.childNodes[i].getBoundingClientRect();
        out.push([r.left, r.top, r.width, r.height]);
    }
    return out;
}
function testSelect(startNode, startOffset, endNode, endOffset) {
    var range = document.createRange();
    range.setStart(startNode, startOffset);
    range.setEnd(endNode, endOffset);
    var selection = window.getSelection();
    selection.removeAllRanges();
    selection.addRange(range);
    return range.toString();
}
)";

bool sameRects(const QVariant& actual, const QVariant& expected)
{
    const QVariantList a = actual.toList();
    const QVariantList e = expected.toList();
    if (a.isEmpty() || a.size() != e.size())
        return false;
    for (int i = 0; i < a.size(); ++i) {
        for (int k = 0; k < 4; ++k) {
            if (qAbs(a[i].toList().value(k).toDouble() - e[i].toList().value(k).toDouble()) > 0.5)
                return false;
        }
    }
    return true;
}

QString noteFromParamsCall(const QVariantMap& range, const QString& style, const QString& id)
{
    return QStringLiteral("createNoteFromParams('%1',%2,'%3',%4,'%5','%6');")
        .arg(jsengine::escaped(range.value(QStringLiteral("start")).toString()))
        .arg(range.value(QStringLiteral("startOffset")).toInt())
        .arg(jsengine::escaped(range.value(QStringLiteral("end")).toString()))
        .arg(range.value(QStringLiteral("endOffset")).toInt())
        .arg(jsengine::escaped(style), jsengine::escaped(id));
}

// All non-blank text of the column container, as the test reads it.
QString allText(EnginePage& page)
{
    return page.evaluateString(QStringLiteral(
        "var w = document.createTreeWalker(document.getElementById('%1'), NodeFilter.SHOW_TEXT, null, false),"
        " t = ''; for (var n = w.nextNode(); n; n = w.nextNode()) if (/\\S/.test(n.data)) t += n.data; t")
                                   .arg(page.uid() + "1"));
}

// One turn of the reader's read-aloud loop: the chunk it would speak, or an empty text at the
// end of the chapter.
QString nextSpokenChunk(EnginePage& page, int* turnedTo)
{
    for (;;) {
        page.evaluate(QStringLiteral("pushSpeechElement()"));
        const int p = page.evaluateInt(QStringLiteral("ensureVisibleLastSpeechElement()"));
        if (p > 0 && turnedTo)
            *turnedTo = p;
        const QVariant text = page.evaluate(QStringLiteral("getTTSText()"));
        if (!text.toString().isEmpty())
            return text.toString();
        if (page.evaluate(QStringLiteral("endOfTextStream()")).toBool())
            return QString();
    }
}

} // namespace

class TestJsEngine : public QObject {
    Q_OBJECT

    QString chapter(const char* name) const { return m_files.value(QLatin1String(name)); }
    void add(const char* name, const ChapterBuilder& builder, const char* fileName = "c.xhtml")
    {
        const QString file = builder.write(m_dir.filePath(QLatin1String(name)), QLatin1String(fileName));
        QVERIFY2(!file.isEmpty(), name);
        m_files.insert(QLatin1String(name), file);
    }

    void openNotes(EnginePage& page, const PageFormat& format = PageFormat())
    {
        QVERIFY(page.open(chapter("notes"), format) > 0);
        page.evaluate(QString::fromUtf8(kNoteHelpers));
    }

    TempHome m_home;
    QTemporaryDir m_dir;
    QHash<QString, QString> m_files;

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        ChapterBuilder realistic(11);
        realistic.addHeading(1, QStringLiteral("Realistic"));
        realistic.addRealisticContent(40000);
        add("realistic", realistic);
        add("realistic html", realistic, "c.html");

        // Paragraphs longer than a screen: most screens begin inside a paragraph.
        ChapterBuilder longParagraphs(12);
        longParagraphs.addHeading(1, QStringLiteral("Long"));
        longParagraphs.addProse(12, 500, 800);
        add("long paragraphs", longParagraphs);

        // Short paragraphs: every screen has paragraphs that start on it.
        ChapterBuilder shortParagraphs(13);
        shortParagraphs.addProse(150, 8, 30);
        add("short paragraphs", shortParagraphs);

        ChapterBuilder anchors(14);
        anchors.addProse(20);
        anchors.addRaw(QStringLiteral("<h2 id=\"target\">Target</h2>\n<p id=\"say 'hi' \\ there\">Quoted id.</p>\n"));
        anchors.addProse(20);
        add("anchors", anchors);

        ChapterBuilder shortChapter(3);
        shortChapter.addHeading(1, QStringLiteral("Short"));
        shortChapter.addProse(1, 20, 30);
        add("short", shortChapter);
        add("empty", ChapterBuilder());

        ChapterBuilder notes(21);
        notes.addHeading(1, QStringLiteral("Notes"));
        notes.addProse(3, 30, 60);
        notes.addRaw(QStringLiteral(
            "<p id=\"p1\">Alpha beta <b>gamma delta</b> epsilon zeta eta theta.</p>\n"
            "<p id=\"p2\">Second paragraph with <em>emphasis <b>nested bold</b> words</em> and more text here.</p>\n"
            "<p id=\"p3\">Кириллица здесь, и 漢字もここに。 Mixed text to the end.</p>\n"));
        notes.addProse(1, 400, 400);
        notes.addRaw(QStringLiteral("<p id=\"long\">") + notes.sentence(300, 300) + QStringLiteral("</p>\n"));
        notes.addProse(4);
        add("notes", notes);

        ChapterBuilder chunks;
        chunks.addHeading(1, QStringLiteral("Chapter Two"));
        chunks.addRaw(QStringLiteral("<p>Mr. Smith went home. He slept.</p>\n"
                                     "<p>Hello <b>world</b>. Next one starts here. Dr. Who? Yes!</p>\n"
                                     "<ul><li>First item</li><li>Second <em>item</em> ends</li></ul>\n"
                                     "<table><tr><td>Cell one</td><td>Cell two.</td></tr></table>\n"
                                     "<pre>code line one\ncode line two</pre>\n"
                                     "<p>Съешь же ещё этих булок. Да выпей чаю.</p>\n"
                                     "<p>天地玄黄，宇宙洪荒。日月盈昃。</p>\n"
                                     "<p>Last \"quoted sentence.\" Final words</p>\n"
                                     "<script type=\"text/javascript\">var notRead = 1;</script>\n"));
        add("chunks", chunks);
    }

    void initRunsOnce()
    {
        EnginePage page;
        QVERIFY(page.load(chapter("realistic")));
        // Before init: no layout, no page, no position.
        page.evaluate(jsengine::script());
        const QVariantMap unready = page.evaluate(EnginePage::pageFormatScript(PageFormat())).toMap();
        QCOMPARE(unready.value(QStringLiteral("loaded")), QVariant(false));
        QCOMPARE(unready.value(QStringLiteral("pageCount")).toInt(), -1);
        QCOMPARE(page.next(), -1);
        QCOMPARE(page.moveToPage(1), -1);
        QCOMPARE(page.evaluate(QStringLiteral("getReadingPosXPath();")), QVariant(QString(QLatin1String(""))));
        // An unknown function arrives invalid, unlike null.
        QCOMPARE(kindOf(page, QStringLiteral("noSuchFunction();")), ResultKind::Invalid);
        QCOMPARE(kindOf(page, QStringLiteral("selectedNoteId();")), ResultKind::Null);

        QCOMPARE(page.injectEngine(QStringLiteral("u1")), QVariant(true));
        page.applyPageFormat(PageFormat());
        page.moveToPage(3);
        const QString before = page.evaluateString(QStringLiteral("document.body.innerHTML"));
        // A second init, and even the whole script evaluated again, change nothing.
        QCOMPARE(page.evaluate(QStringLiteral("init('u2');")), QVariant(false));
        QCOMPARE(page.injectEngine(QStringLiteral("u3")), QVariant(false));
        QCOMPARE(page.evaluateString(QStringLiteral("document.body.innerHTML")), before);
        QCOMPARE(page.current(), 3);
        QCOMPARE(page.evaluateString(QStringLiteral("page.chapterUid")), QStringLiteral("u1"));
    }

    void pageCountMatchesContent_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("columns");
        QTest::addColumn<QSize>("viewport");
        for (const char* name : { "realistic", "realistic html" }) {
            for (int columns : { 1, 2 }) {
                for (const QSize size : { QSize(800, 600), QSize(1100, 700), QSize(500, 820) }) {
                    QTest::addRow("%s %d col %dx%d", name, columns, size.width(), size.height())
                        << QString::fromLatin1(name) << columns << size;
                }
            }
        }
    }

    void pageCountMatchesContent()
    {
        QFETCH(QString, name);
        QFETCH(int, columns);
        QFETCH(QSize, viewport);
        EnginePage page;
        QVERIFY(page.load(m_files.value(name)));
        page.injectEngine();
        PageFormat format = PageFormat::withColumns(columns);
        format.width = viewport.width();
        format.height = viewport.height();
        const QVariantMap result = page.applyPageFormat(format);
        QCOMPARE(result.value(QStringLiteral("loaded")), QVariant(true));
        QCOMPARE(result.value(QStringLiteral("currentPage")).toInt(), 1);
        const int count = result.value(QStringLiteral("pageCount")).toInt();
        QCOMPARE(page.count(), count);

        // The count is the content's real extent, rounded up to whole screens.
        const int last = page.lastContentPage();
        QVERIFY2(last > 10, qPrintable(QString::number(last)));
        QCOMPARE(count, (last + columns - 1) / columns * columns);

        // The last screen shows the end of the chapter.
        const int end = page.moveEnd();
        QCOMPARE(end, count - columns + 1);
        QVERIFY(page.lastContentPage() >= end);
        QVERIFY(page.pageAtX(viewport.width() - 1) >= last);
    }

    void shortAndEmptyChapters_data()
    {
        QTest::addColumn<bool>("empty");
        QTest::addColumn<int>("columns");
        QTest::newRow("short, 1 column") << false << 1;
        QTest::newRow("short, 2 columns") << false << 2;
        QTest::newRow("empty, 1 column") << true << 1;
        QTest::newRow("empty, 2 columns") << true << 2;
    }

    void shortAndEmptyChapters()
    {
        QFETCH(bool, empty);
        QFETCH(int, columns);
        EnginePage page;
        QCOMPARE(page.open(chapter(empty ? "empty" : "short"), PageFormat::withColumns(columns)), columns);
        QCOMPARE(page.next(), -1);
        QCOMPARE(page.prev(), -1);
        QCOMPARE(page.moveEnd(), 1);
        if (empty) {
            // Nothing visible: an empty position and a JavaScript null for the bookmark.
            QCOMPARE(page.evaluate(QStringLiteral("getReadingPosXPath();")), QVariant(QString(QLatin1String(""))));
            QCOMPARE(kindOf(page, QStringLiteral("getBookmarkData();")), ResultKind::Null);
        } else {
            QVERIFY(page.getReadingPosXPath().startsWith(QLatin1String("/html[1]/body[1]/div[1]/div[1]/h1[1]")));
        }
    }

    void imagesFitOneColumn()
    {
        ChapterBuilder builder(5);
        builder.addProse(2);
        builder.addImage(900, 300); // wider than a column
        builder.addProse(1);
        builder.addImage(200, 1200); // taller than a page
        builder.addImage(120, 80); // small: unchanged
        const QString file = builder.write(m_dir.filePath(QStringLiteral("img")), QStringLiteral("images.xhtml"));
        const QList<QSizeF> natural = { QSizeF(900, 300), QSizeF(200, 1200), QSizeF(120, 80) };
        for (int columns : { 1, 2 }) {
            EnginePage page;
            const PageFormat format = PageFormat::withColumns(columns);
            QVERIFY(page.open(file, format) > 0);
            const double columnWidth = format.width / columns - format.gap;
            const double maxHeight = format.height - 2 * format.margin - format.gap;
            const QVariantList sizes
                = page.evaluate(QStringLiteral("var out = [], im = document.getElementsByTagName('img');"
                                               "for (var i = 0; i < im.length; ++i) {"
                                               "  var r = im[i].getBoundingClientRect();"
                                               "  out.push([r.width, r.height]); } out"))
                      .toList();
            QCOMPARE(sizes.size(), 3);
            for (int i = 0; i < 3; ++i) {
                const double w = sizes[i].toList()[0].toDouble();
                const double h = sizes[i].toList()[1].toDouble();
                QVERIFY2(
                    w <= columnWidth + 0.5 && h <= maxHeight + 0.5, qPrintable(QStringLiteral("%1x%2").arg(w).arg(h)));
                QVERIFY(qAbs(w / h - natural[i].width() / natural[i].height()) < 0.02);
            }
            QCOMPARE(sizes[2].toList()[0].toDouble(), 120.0);
        }
    }

    void everyScreenRoundTrips_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("columns");
        // The bookmark of each screen: -1 not checked, 0 not after the screen, 1 on the screen.
        QTest::addColumn<int>("bookmark");
        // The layout the reader changes to afterwards: "" none, else columns, width, height,
        // font size and line spacing.
        QTest::addColumn<QList<int>>("relayout");
        const QList<int> none;
        QTest::newRow("realistic html, 1 column") << "realistic html" << 1 << -1 << none;
        QTest::newRow("realistic html, 2 columns") << "realistic html" << 2 << -1 << none;
        QTest::newRow("long paragraphs, 1 column") << "long paragraphs" << 1 << -1 << none;
        QTest::newRow("short paragraphs, 1 column") << "short paragraphs" << 1 << 1 << none;
        QTest::newRow("short paragraphs, 2 columns") << "short paragraphs" << 2 << 1 << none;
        QTest::newRow("font larger") << "realistic" << 1 << -1 << QList<int> { 1, 800, 600, 26, 110 };
        QTest::newRow("font smaller, 2 columns") << "realistic" << 2 << -1 << QList<int> { 2, 800, 600, 15, 110 };
        QTest::newRow("font larger, long paragraphs")
            << "long paragraphs" << 2 << 0 << QList<int> { 2, 800, 600, 24, 110 };
        QTest::newRow("viewport") << "realistic" << 1 << -1 << QList<int> { 1, 640, 720, 20, 110 };
        QTest::newRow("viewport, 2 columns") << "long paragraphs" << 2 << -1 << QList<int> { 2, 1000, 500, 20, 110 };
        QTest::newRow("1 to 2 columns") << "realistic" << 1 << -1 << QList<int> { 2, 800, 600, 20, 110 };
        QTest::newRow("2 to 1 column") << "long paragraphs" << 2 << -1 << QList<int> { 1, 800, 600, 20, 110 };
        QTest::newRow("line spacing") << "realistic" << 2 << -1 << QList<int> { 2, 800, 600, 20, 160 };
    }

    void everyScreenRoundTrips()
    {
        QFETCH(QString, name);
        QFETCH(int, columns);
        QFETCH(int, bookmark);
        QFETCH(QList<int>, relayout);
        const PageFormat format = PageFormat::withColumns(columns);
        EnginePage page;
        const int count = page.open(m_files.value(name), format);
        QVERIFY(count > 10 * columns);

        for (int screen = 1; screen <= count; screen += columns) {
            QCOMPARE(page.moveToPage(screen), screen);
            const QString position = page.getReadingPosXPath();
            QVERIFY(position.startsWith(QLatin1String("/html[1]/body[1]/div[1]/div[1]/"), Qt::CaseInsensitive));

            // The position is the screen's first visible character.
            const CharInfo info = charInfo(page, position);
            QVERIFY2(info.page >= screen && info.page < screen + columns,
                qPrintable(QStringLiteral("%1 on page %2, screen %3").arg(position).arg(info.page).arg(screen)));
            QVERIFY2(info.previousPage < screen, qPrintable(position));
            QVERIFY(!info.character.trimmed().isEmpty() || position.indexOf(QLatin1String("&offset=")) < 0);

            if (bookmark >= 0) {
                // The bookmark names an element with its text, on this screen whenever one starts on it.
                const QVariant data = page.evaluate(QStringLiteral("getBookmarkData();"));
                QCOMPARE(jsengine::resultKind(data), ResultKind::Value);
                const QString path = data.toMap().value(QStringLiteral("path")).toString();
                const QString text = data.toMap().value(QStringLiteral("text")).toString();
                QVERIFY(!text.trimmed().isEmpty());
                QCOMPARE(text, page.evaluateString(QStringLiteral("getElementByXpath('%1').innerText").arg(path)));
                const int bookmarkPage = page.getPageByKelLink(path);
                QVERIFY(bookmarkPage < screen + columns);
                QVERIFY2(bookmark == 0 || bookmarkPage >= screen, qPrintable(path));
                QCOMPARE(page.current(), screen);
            }

            // Reading it back, from elsewhere in the chapter, returns the same screen.
            page.moveHome();
            QCOMPARE(page.setReadingPosByXPath(position), screen);
            QCOMPARE(page.current(), screen);
            const int linked = page.getPageByKelLink(kelpathLink(position));
            QVERIFY(linked >= screen && linked < screen + columns);
            if (relayout.isEmpty())
                continue;

            // The reader changes the page's font size or view, then lays out again: the pinned
            // character stays on screen.
            PageFormat changed = format;
            changed.columnCount = relayout[0];
            changed.width = relayout[1];
            changed.height = relayout[2];
            changed.fontSize = relayout[3];
            changed.lineSpacing = relayout[4];
            const int current = page.applyPageFormat(changed).value(QStringLiteral("currentPage")).toInt();
            QCOMPARE(page.current(), current);
            const CharInfo moved = charInfo(page, position);
            QVERIFY2(moved.page >= current && moved.page < current + changed.columnCount,
                qPrintable(QStringLiteral("screen %1: %2 on page %3, now showing %4")
                               .arg(screen)
                               .arg(position)
                               .arg(moved.page)
                               .arg(current)));

            // The new layout's own position round-trips too.
            const QString newPosition = page.getReadingPosXPath();
            page.moveHome();
            QCOMPARE(page.setReadingPosByXPath(newPosition), current);

            // Back to the first layout: the same screen as before.
            page.setReadingPosByXPath(position);
            QCOMPARE(page.applyPageFormat(format).value(QStringLiteral("currentPage")).toInt(), screen);
        }
    }

    void olderPositionForms()
    {
        EnginePage page;
        QVERIFY(page.open(chapter("anchors")) > 0);
        const QString body = QStringLiteral("/html[1]/body[1]/div[1]/div[1]");

        // An element path without an offset: the element's first line.
        const int target = page.setReadingPosById(QStringLiteral("target"));
        QVERIFY(target > 1);
        const QString heading = body + QStringLiteral("/h2[1]");
        page.moveHome();
        QCOMPARE(page.setReadingPosByXPath(heading), target);
        // As links: bare, as an anchor, encoded, in any letter case, a text node for its element.
        for (const QString& link : { heading, QStringLiteral("#target"), kelpathLink(heading), heading.toUpper(),
                 heading + QStringLiteral("/text()[1]"), heading + QStringLiteral("/text()") })
            QCOMPARE(page.getPageByKelLink(link), target);

        // With an offset, a character inside a long paragraph: a later page than its start.
        const QString paragraph = body + QStringLiteral("/p[3]");
        const int start = page.getPageByKelLink(paragraph);
        const int length
            = page.evaluateInt(QStringLiteral("getElementByXpath('%1').textContent.length").arg(paragraph));
        const int end = page.getPageByKelLink(paragraph + QStringLiteral("&offset=%1").arg(length - 1));
        QVERIFY(start >= 1 && end >= start);
        QCOMPARE(page.getPageByKelLink(kelpathLink(paragraph + QStringLiteral("&offset=%1").arg(length - 1))), end);
        // The reader cuts a note link at "&": the element alone still resolves.
        QCOMPARE(page.getPageByKelLink(kelpathLink(paragraph)), start);
        // An offset past the text falls back to the element.
        QCOMPARE(page.getPageByKelLink(paragraph + QStringLiteral("&offset=999999")), start);

        // What does not resolve gives -1 and moves nothing.
        page.moveToPage(3);
        for (const QString& bad : { QString(), QStringLiteral("/"), QStringLiteral("#missing"), QStringLiteral("#"),
                 body + QStringLiteral("/p[999]"), body + QStringLiteral("/p[0]"), QStringLiteral("///p[x]"),
                 QStringLiteral("kelpath=%E0%A4%A"), QStringLiteral("kelpath=%2Fnothing%5B1%5D") }) {
            QCOMPARE(page.getPageByKelLink(bad), -1);
            if (!bad.startsWith(QLatin1Char('#')) && !bad.startsWith(QLatin1String("kelpath")))
                QCOMPARE(page.setReadingPosByXPath(bad), -1);
        }
        QCOMPARE(page.setReadingPosById(QStringLiteral("missing")), -1);
        QCOMPARE(page.current(), 3);
    }

    void escapedText()
    {
        const QStringList texts = { QStringLiteral("plain"), QStringLiteral("it's \"quoted\""),
            QStringLiteral("back\\slash\\"), QStringLiteral("line\nbreak\r\n"), QStringLiteral("tab\tnul") + QChar(0),
            QStringLiteral("sep") + QChar(0x2028) + QChar(0x2029) + QStringLiteral("end"),
            QStringLiteral("кириллица 漢字 \U0001F600"), QStringLiteral("'); throw 1; ('") };
        EnginePage page;
        QVERIFY(page.load(chapter("anchors")));
        for (const QString& text : texts) {
            const QVariant back = page.evaluate(QStringLiteral("'%1'").arg(jsengine::escaped(text)));
            QCOMPARE(back.toString(), text);
        }
        QVERIFY(jsengine::scriptWithInit(QStringLiteral("ab'c")).endsWith(QLatin1String("init('ab\\'c');")));

        page.injectEngine();
        page.applyPageFormat(PageFormat());
        const int quoted = page.setReadingPosById(QStringLiteral("say 'hi' \\ there"));
        QVERIFY(quoted > 1);
        QCOMPARE(page.getPageByKelLink(QStringLiteral("#say 'hi' \\ there")), quoted);
        // Text that would break out of the call stays text.
        const QString before = page.evaluateString(QStringLiteral("document.body.innerHTML"));
        QCOMPARE(page.setReadingPosById(QStringLiteral("'); document.body.innerHTML = ''; ('")), -1);
        QCOMPARE(page.setReadingPosByXPath(QStringLiteral("/html[1]'); document.body.innerHTML = ''; ('")), -1);
        QCOMPARE(page.evaluateString(QStringLiteral("document.body.innerHTML")), before);
    }

    void noteFromSelection_data()
    {
        QTest::addColumn<QString>("selection"); // arguments of testSelect
        QTest::addColumn<QString>("text");
        const QString p1 = QStringLiteral("document.getElementById('p1')");
        const QString p2 = QStringLiteral("document.getElementById('p2')");
        QTest::newRow("inside one text") << p1 + ".firstChild, 6, " + p1 + ".firstChild, 10"
                                         << "beta";
        QTest::newRow("into an inline element") << p1 + ".firstChild, 6, " + p1 + ".childNodes[1].firstChild, 5"
                                                << "beta gamma";
        QTest::newRow("from an inline element to the next paragraph")
            << p1 + ".childNodes[1].firstChild, 6, " + p2 + ".childNodes[1].childNodes[1].firstChild, 6"
            << "delta epsilon zeta eta theta.\nSecond paragraph with emphasis nested";
        QTest::newRow("element boundaries") << p2 + ", 0, " + p2 + ", " + p2 + ".childNodes.length"
                                            << "Second paragraph with emphasis nested bold words and more text here.";
        QTest::newRow("cyrillic and cjk") << "document.getElementById('p3').firstChild, 10, "
                                             "document.getElementById('p3').firstChild, 25"
                                          << QStringLiteral("здесь, и 漢字もここに");
        QTest::newRow("across a column break") << "document.getElementById('long').firstChild, 5, "
                                                  "document.getElementById('long').firstChild, 1800"
                                               << QString();
    }

    void noteFromSelection()
    {
        QFETCH(QString, selection);
        QFETCH(QString, text);
        const PageFormat format = PageFormat::withColumns(2);
        EnginePage page;
        openNotes(page, format);
        const QString selected = page.evaluateString(QStringLiteral("testSelect(%1)").arg(selection));
        if (!text.isEmpty())
            QCOMPARE(selected.simplified(), text.simplified());
        const QVariant expected = page.evaluate(QStringLiteral("testTextRects(window.getSelection().getRangeAt(0))"));

        const QVariantMap range
            = page.evaluate(QStringLiteral("createNoteFromSelection('note-1', 'yellownote');")).toMap();
        for (const char* key : { "start", "startOffset", "end", "endOffset" })
            QVERIFY2(range.contains(QLatin1String(key)), key);
        QVERIFY(range.value(QStringLiteral("start"))
                    .toString()
                    .startsWith(QLatin1String("/html[1]/body[1]/div[1]/div[1]/")));
        QCOMPARE(page.evaluateInt(QStringLiteral("window.getSelection().rangeCount")), 0);

        // One mark span per line of text, over exactly that text, in the note colour.
        QVERIFY2(sameRects(page.evaluate(QStringLiteral("testMarkRects('note-1')")), expected),
            qPrintable(QStringLiteral("%1 rects expected").arg(expected.toList().size())));
        QCOMPARE(page.evaluateString(QStringLiteral(
                     "getComputedStyle(document.getElementById('kelnote_note-1').firstChild).backgroundColor")),
            QStringLiteral("rgb(243, 227, 162)"));
        if (text.isEmpty()) {
            // The long note runs over two pages of the screen.
            const QVariantList rects = expected.toList();
            QVERIFY(
                page.pageAtX(rects.first().toList()[0].toDouble()) < page.pageAtX(rects.last().toList()[0].toDouble()));
        }

        // A fresh document restores the note from its paths and offsets: same text, same marks.
        EnginePage restored;
        openNotes(restored, format);
        restored.evaluate(noteFromParamsCall(range, QStringLiteral("yellownote"), QStringLiteral("note-1")));
        QCOMPARE(restored.evaluateString(QStringLiteral("notes['note-1'].r.toString()")), selected);
        QVERIFY(sameRects(restored.evaluate(QStringLiteral("testMarkRects('note-1')")), expected));

        // After a re-layout and a page turn the marks still cover the note's text.
        PageFormat changed = format;
        changed.fontSize = 25;
        changed.width = 700;
        restored.applyPageFormat(changed);
        restored.next();
        QVERIFY(sameRects(restored.evaluate(QStringLiteral("testMarkRects('note-1')")),
            restored.evaluate(QStringLiteral("testTextRects(notes['note-1'].r)"))));
    }

    void sentenceChunks()
    {
        EnginePage page;
        QVERIFY(page.open(chapter("chunks")) > 0);
        QStringList chunks;
        while (page.evaluate(QStringLiteral("pushSpeechElement()")).toBool()) {
            chunks << page.evaluate(QStringLiteral("getTTSText()")).toString();
            QVERIFY(chunks.size() < 100);
        }
        const QStringList expected = { QStringLiteral("Chapter Two"), QStringLiteral("Mr. Smith went home. "),
            QStringLiteral("He slept."), QStringLiteral("Hello world. "), QStringLiteral("Next one starts here. "),
            QStringLiteral("Dr. Who? "), QStringLiteral("Yes!"), QStringLiteral("First item"),
            QStringLiteral("Second item ends"), QStringLiteral("Cell one"), QStringLiteral("Cell two."),
            QStringLiteral("code line one\ncode line two"), QStringLiteral("Съешь же ещё этих булок. "),
            QStringLiteral("Да выпей чаю."), QStringLiteral("天地玄黄，宇宙洪荒。日月盈昃。"),
            QStringLiteral("Last \"quoted sentence.\" "), QStringLiteral("Final words") };
        QCOMPARE(chunks, expected);
        // The end is reported once and stays the end.
        QCOMPARE(page.evaluate(QStringLiteral("endOfTextStream()")), QVariant(true));
        QCOMPARE(page.evaluate(QStringLiteral("getTTSText()")), QVariant(QString(QLatin1String(""))));
        QCOMPARE(page.evaluate(QStringLiteral("pushSpeechElement()")), QVariant(false));
        QCOMPARE(page.evaluateInt(QStringLiteral("ensureVisibleLastSpeechElement()")), -1);

        // Stopping resets: reading starts again from the first sentence.
        page.evaluate(QStringLiteral("stopTTS()"));
        QCOMPARE(page.evaluate(QStringLiteral("document.getElementById('keltts_' + page.chapterUid) === null")),
            QVariant(true));
        QCOMPARE(page.evaluate(QStringLiteral("endOfTextStream()")), QVariant(false));
        QCOMPARE(page.evaluate(QStringLiteral("pushSpeechElement()")), QVariant(true));
        QCOMPARE(page.evaluate(QStringLiteral("getTTSText()")).toString(), QStringLiteral("Chapter Two"));
    }

    void readerWalkReachesTheEndOnce_data()
    {
        QTest::addColumn<int>("columns");
        QTest::addColumn<int>("start"); // the screen reading starts on
        QTest::newRow("1 column") << 1 << 1;
        QTest::newRow("2 columns") << 2 << 1;
        QTest::newRow("2 columns, from a later screen") << 2 << 7;
    }

    void readerWalkReachesTheEndOnce()
    {
        QFETCH(int, columns);
        QFETCH(int, start);
        EnginePage page;
        const int count = page.open(chapter("realistic"), PageFormat::withColumns(columns));
        QVERIFY(count > start);
        page.moveToPage(start);

        page.evaluate(QStringLiteral("findFirstVisibleSpeechNode();"));
        QString spoken;
        int screen = start;
        int turns = 0;
        for (;;) {
            int turnedTo = 0;
            const QString chunk = nextSpokenChunk(page, &turnedTo);
            if (chunk.isEmpty())
                break;
            if (turnedTo > 0) {
                // Pages turn forward, one screen at a time, as the reading goes on.
                QCOMPARE(turnedTo, screen + columns);
                screen = turnedTo;
                ++turns;
            }
            QCOMPARE(page.current(), screen);
            // The chunk being read starts on the screen shown.
            const QVariantList first
                = page.evaluate(QStringLiteral("(function () {"
                                               "var h = document.getElementById('keltts_' + page.chapterUid);"
                                               "if (!h.firstChild) return [];"
                                               "var r = h.firstChild.getBoundingClientRect();"
                                               "return [r.left, r.top]; })()"))
                      .toList();
            if (first.isEmpty()) {
                // Only text without any installed font is drawn with no width (CJK here).
                QVERIFY2(!chunk.contains(QRegularExpression(QStringLiteral("[A-Za-z\\x{0400}-\\x{04ff}]"))),
                    qPrintable(chunk));
            } else {
                const int chunkPage = page.pageAtX(first.value(0).toDouble());
                QVERIFY2(chunkPage >= screen && chunkPage < screen + columns,
                    qPrintable(QStringLiteral("%1 on %2, screen %3").arg(chunk).arg(chunkPage).arg(screen)));
            }
            // Reading from a later screen begins at a sentence.
            QVERIFY2(
                !spoken.isEmpty() || start == 1 || chunk.at(0).isUpper() || !chunk.at(0).isLetter(), qPrintable(chunk));
            spoken += chunk;
        }
        // Every word once, in order, up to the end.
        if (start == 1)
            QCOMPARE(spoken, allText(page));
        else
            QVERIFY(allText(page).endsWith(spoken));
        QCOMPARE(page.evaluate(QStringLiteral("endOfTextStream()")), QVariant(true));
        QVERIFY(page.lastContentPage() < screen + columns);
        QVERIFY(turns >= (count - start) / columns - 2);
        QVERIFY(nextSpokenChunk(page, nullptr).isEmpty());
    }
};

QTEST_MAIN(TestJsEngine)
#include "tst_jsengine.moc"
