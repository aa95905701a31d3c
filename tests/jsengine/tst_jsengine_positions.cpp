// Reading positions of the reading engine: every screen maps to a position and back, through
// re-layouts, in the forms the reader stores and links.

#include "chapterbuilder.h"
#include "enginepage.h"
#include "jsengine/jsengine.h"
#include "temphome.h"

#include <QTemporaryDir>
#include <QUrl>
#include <QtTest>

namespace {

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

} // namespace

class TestJsEnginePositions : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void everyScreenRoundTrips_data();
    void everyScreenRoundTrips();
    void positionSurvivesRelayout_data();
    void positionSurvivesRelayout();
    void olderPositionForms();
    void bookmarks_data();
    void bookmarks();
    void escapedText();

private:
    QString chapter(const QString& name) const { return m_files.value(name); }

    TempHome m_home;
    QTemporaryDir m_dir;
    QHash<QString, QString> m_files;
};

void TestJsEnginePositions::initTestCase()
{
    QVERIFY(m_dir.isValid());
    ChapterBuilder realistic(11);
    realistic.addHeading(1, QStringLiteral("Realistic"));
    realistic.addRealisticContent(40000);
    m_files[QStringLiteral("realistic")]
        = realistic.write(m_dir.filePath(QStringLiteral("r")), QStringLiteral("c.xhtml"));
    m_files[QStringLiteral("realistic html")]
        = realistic.write(m_dir.filePath(QStringLiteral("rh")), QStringLiteral("c.html"));

    // Paragraphs longer than a screen: most screens begin inside a paragraph.
    ChapterBuilder longParagraphs(12);
    longParagraphs.addHeading(1, QStringLiteral("Long"));
    longParagraphs.addProse(12, 500, 800);
    m_files[QStringLiteral("long paragraphs")]
        = longParagraphs.write(m_dir.filePath(QStringLiteral("l")), QStringLiteral("c.xhtml"));

    // Short paragraphs: every screen has paragraphs that start on it.
    ChapterBuilder shortParagraphs(13);
    shortParagraphs.addProse(150, 8, 30);
    m_files[QStringLiteral("short paragraphs")]
        = shortParagraphs.write(m_dir.filePath(QStringLiteral("s")), QStringLiteral("c.xhtml"));

    ChapterBuilder anchors(14);
    anchors.addProse(20);
    anchors.addRaw(QStringLiteral("<h2 id=\"target\">Target</h2>\n<p id=\"say 'hi' \\ there\">Quoted id.</p>\n"));
    anchors.addProse(20);
    m_files[QStringLiteral("anchors")] = anchors.write(m_dir.filePath(QStringLiteral("a")), QStringLiteral("c.xhtml"));
    for (const QString& file : qAsConst(m_files))
        QVERIFY(!file.isEmpty());
}

void TestJsEnginePositions::everyScreenRoundTrips_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("columns");
    for (const char* name : { "realistic", "realistic html", "long paragraphs" }) {
        for (int columns : { 1, 2 })
            QTest::addRow("%s, %d columns", name, columns) << QString::fromLatin1(name) << columns;
    }
}

void TestJsEnginePositions::everyScreenRoundTrips()
{
    QFETCH(QString, name);
    QFETCH(int, columns);
    EnginePage page;
    const PageFormat format = PageFormat::withColumns(columns);
    const int count = page.open(chapter(name), format);
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

        // Reading it back, from elsewhere in the chapter, returns the same screen.
        page.moveHome();
        QCOMPARE(page.setReadingPosByXPath(position), screen);
        QCOMPARE(page.current(), screen);
        const int linked = page.getPageByKelLink(kelpathLink(position));
        QVERIFY(linked >= screen && linked < screen + columns);
    }
}

void TestJsEnginePositions::positionSurvivesRelayout_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("columns");
    QTest::addColumn<int>("newColumns");
    QTest::addColumn<QSize>("newSize");
    QTest::addColumn<int>("newFontSize");
    QTest::addColumn<int>("newLineSpacing");
    const QSize size(800, 600);
    QTest::newRow("font larger") << "realistic" << 1 << 1 << size << 26 << 110;
    QTest::newRow("font smaller, 2 columns") << "realistic" << 2 << 2 << size << 15 << 110;
    QTest::newRow("font larger, long paragraphs") << "long paragraphs" << 2 << 2 << size << 24 << 110;
    QTest::newRow("viewport") << "realistic" << 1 << 1 << QSize(640, 720) << 20 << 110;
    QTest::newRow("viewport, 2 columns") << "long paragraphs" << 2 << 2 << QSize(1000, 500) << 20 << 110;
    QTest::newRow("1 to 2 columns") << "realistic" << 1 << 2 << size << 20 << 110;
    QTest::newRow("2 to 1 column") << "long paragraphs" << 2 << 1 << size << 20 << 110;
    QTest::newRow("line spacing") << "realistic" << 2 << 2 << size << 20 << 160;
}

void TestJsEnginePositions::positionSurvivesRelayout()
{
    QFETCH(QString, name);
    QFETCH(int, columns);
    QFETCH(int, newColumns);
    QFETCH(QSize, newSize);
    QFETCH(int, newFontSize);
    QFETCH(int, newLineSpacing);
    const PageFormat format = PageFormat::withColumns(columns);
    PageFormat changed = format;
    changed.columnCount = newColumns;
    changed.width = newSize.width();
    changed.height = newSize.height();
    changed.fontSize = newFontSize;
    changed.lineSpacing = newLineSpacing;
    EnginePage page;
    const int count = page.open(chapter(name), format);
    QVERIFY(count > 0);

    for (int screen = 1; screen <= count; screen += columns) {
        page.moveToPage(screen);
        const QString position = page.getReadingPosXPath();

        // The reader changes the page's font size or view, then lays out again: the pinned
        // character stays on screen.
        const int current = page.applyPageFormat(changed).value(QStringLiteral("currentPage")).toInt();
        QCOMPARE(page.current(), current);
        const CharInfo info = charInfo(page, position);
        QVERIFY2(info.page >= current && info.page < current + newColumns,
            qPrintable(QStringLiteral("screen %1: %2 on page %3, now showing %4")
                           .arg(screen)
                           .arg(position)
                           .arg(info.page)
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

void TestJsEnginePositions::olderPositionForms()
{
    EnginePage page;
    QVERIFY(page.open(chapter(QStringLiteral("anchors"))) > 0);
    const QString body = QStringLiteral("/html[1]/body[1]/div[1]/div[1]");

    // An element path without an offset: the element's first line.
    const int target = page.setReadingPosById(QStringLiteral("target"));
    QVERIFY(target > 1);
    const QString heading = body + QStringLiteral("/h2[1]");
    page.moveHome();
    QCOMPARE(page.setReadingPosByXPath(heading), target);
    QCOMPARE(page.getPageByKelLink(heading), target);
    QCOMPARE(page.getPageByKelLink(QStringLiteral("#target")), target);
    QCOMPARE(page.getPageByKelLink(kelpathLink(heading)), target);
    // Paths in any letter case, and a text node standing for its element.
    QCOMPARE(page.getPageByKelLink(heading.toUpper()), target);
    QCOMPARE(page.getPageByKelLink(heading + QStringLiteral("/text()[1]")), target);
    QCOMPARE(page.getPageByKelLink(heading + QStringLiteral("/text()")), target);

    // With an offset, a character inside a long paragraph: a later page than its start.
    const QString paragraph = body + QStringLiteral("/p[3]");
    const int start = page.getPageByKelLink(paragraph);
    const int length = page.evaluateInt(QStringLiteral("getElementByXpath('%1').textContent.length").arg(paragraph));
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

void TestJsEnginePositions::bookmarks_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("columns");
    QTest::addColumn<bool>("exact");
    QTest::newRow("short paragraphs, 1 column") << "short paragraphs" << 1 << true;
    QTest::newRow("short paragraphs, 2 columns") << "short paragraphs" << 2 << true;
    QTest::newRow("long paragraphs, 2 columns") << "long paragraphs" << 2 << false;
}

void TestJsEnginePositions::bookmarks()
{
    QFETCH(QString, name);
    QFETCH(int, columns);
    QFETCH(bool, exact);
    EnginePage page;
    const PageFormat format = PageFormat::withColumns(columns);
    const int count = page.open(chapter(name), format);
    QVERIFY(count > 0);
    for (int screen = 1; screen <= count; screen += columns) {
        page.moveToPage(screen);
        const QVariant data = page.evaluate(QStringLiteral("getBookmarkData();"));
        QCOMPARE(jsengine::resultKind(data), jsengine::ResultKind::Value);
        const QVariantMap map = data.toMap();
        const QString path = map.value(QStringLiteral("path")).toString();
        QVERIFY(!map.value(QStringLiteral("text")).toString().trimmed().isEmpty());
        QCOMPARE(map.value(QStringLiteral("text")).toString(),
            page.evaluateString(QStringLiteral("getElementByXpath('%1').innerText").arg(path)));
        // The bookmark's element is on this screen whenever one starts on it.
        const int bookmarkPage = page.getPageByKelLink(path);
        QVERIFY(bookmarkPage < screen + columns);
        if (exact)
            QVERIFY2(bookmarkPage >= screen, qPrintable(QStringLiteral("%1 on %2").arg(path).arg(bookmarkPage)));
        QCOMPARE(page.current(), screen);
    }
}

void TestJsEnginePositions::escapedText()
{
    const QStringList texts = { QStringLiteral("plain"), QStringLiteral("it's \"quoted\""),
        QStringLiteral("back\\slash\\"), QStringLiteral("line\nbreak\r\n"), QStringLiteral("tab\tnul") + QChar(0),
        QStringLiteral("sep") + QChar(0x2028) + QChar(0x2029) + QStringLiteral("end"),
        QStringLiteral("кириллица 漢字 \U0001F600"), QStringLiteral("'); throw 1; ('") };
    EnginePage page;
    QVERIFY(page.load(chapter(QStringLiteral("anchors"))));
    for (const QString& text : texts) {
        const QVariant back = page.evaluate(QStringLiteral("'%1'").arg(jsengine::escaped(text)));
        QCOMPARE(back.toString(), text);
    }

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

QTEST_MAIN(TestJsEnginePositions)
#include "tst_jsengine_positions.moc"
