// Reading aloud and search of the reading engine: sentence chunks over block and inline
// elements, the walk to the end of the chapter as the reader drives it, and search hits with
// their positions.

#include "chapterbuilder.h"
#include "enginepage.h"
#include "jsengine/jsengine.h"
#include "temphome.h"

#include <QTemporaryDir>
#include <QtTest>

namespace {

// All non-blank text of the column container, as the test reads it.
QString allText(EnginePage& page)
{
    return page.evaluateString(QStringLiteral(
        "var w = document.createTreeWalker(document.getElementById('%1'), NodeFilter.SHOW_TEXT, null, false),"
        " t = ''; for (var n = w.nextNode(); n; n = w.nextNode()) if (/\\S/.test(n.data)) t += n.data; t")
                                   .arg(page.uid() + "1"));
}

// The boxes of the current chunk's text and of the highlight's spans, as [left, top, w, h].
const char* const kChunkRects = R"((function () {
    var t = text2speech, out = [], spans = [];
    for (var i = t.startNode; i <= t.endNode; ++i) {
        var r = document.createRange();
        r.setStart(t.nodes[i], i === t.startNode ? t.startOffset : 0);
        r.setEnd(t.nodes[i], i === t.endNode ? t.endOffset : t.nodes[i].data.length);
        var rects = r.getClientRects();
        for (var k = 0; k < rects.length; ++k)
            if (rects[k].width > 0 && rects[k].height > 0)
                out.push(Math.round(rects[k].left) + ',' + Math.round(rects[k].top) + ',' + Math.round(rects[k].width));
    }
    var h = document.getElementById('keltts_' + page.chapterUid);
    for (var j = 0; h && j < h.childNodes.length; ++j) {
        var b = h.childNodes[j].getBoundingClientRect();
        spans.push(Math.round(b.left) + ',' + Math.round(b.top) + ',' + Math.round(b.width));
    }
    return [out.join(' '), spans.join(' '), h ? h.className : ''];
})())";

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

class TestJsEngineSpeech : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void sentenceChunks();
    void readerWalkReachesTheEndOnce_data();
    void readerWalkReachesTheEndOnce();
    void startsOnTheScreen();
    void highlight();
    void search();

private:
    TempHome m_home;
    QTemporaryDir m_dir;
    QString m_chunks;
    QString m_realistic;
};

void TestJsEngineSpeech::initTestCase()
{
    QVERIFY(m_dir.isValid());
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
    m_chunks = chunks.write(m_dir.filePath(QStringLiteral("c")), QStringLiteral("chunks.xhtml"));

    ChapterBuilder realistic(31);
    realistic.addHeading(1, QStringLiteral("Realistic"));
    realistic.addRealisticContent(30000);
    m_realistic = realistic.write(m_dir.filePath(QStringLiteral("r")), QStringLiteral("realistic.xhtml"));
    QVERIFY(!m_chunks.isEmpty() && !m_realistic.isEmpty());
}

void TestJsEngineSpeech::sentenceChunks()
{
    EnginePage page;
    QVERIFY(page.open(m_chunks) > 0);
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
    QCOMPARE(page.evaluate(QStringLiteral("endOfTextStream()")), QVariant(false));
    QCOMPARE(page.evaluate(QStringLiteral("pushSpeechElement()")), QVariant(true));
    QCOMPARE(page.evaluate(QStringLiteral("getTTSText()")).toString(), QStringLiteral("Chapter Two"));
}

void TestJsEngineSpeech::readerWalkReachesTheEndOnce_data()
{
    QTest::addColumn<int>("columns");
    QTest::newRow("1 column") << 1;
    QTest::newRow("2 columns") << 2;
}

void TestJsEngineSpeech::readerWalkReachesTheEndOnce()
{
    QFETCH(int, columns);
    EnginePage page;
    const PageFormat format = PageFormat::withColumns(columns);
    const int count = page.open(m_realistic, format);
    QVERIFY(count > 0);

    page.evaluate(QStringLiteral("findFirstVisibleSpeechNode();"));
    QString spoken;
    int screen = 1;
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
            QVERIFY2(
                !chunk.contains(QRegularExpression(QStringLiteral("[A-Za-z\\x{0400}-\\x{04ff}]"))), qPrintable(chunk));
        } else {
            const int chunkPage = page.pageAtX(first.value(0).toDouble());
            QVERIFY2(chunkPage >= screen && chunkPage < screen + columns,
                qPrintable(QStringLiteral("%1 on %2, screen %3").arg(chunk).arg(chunkPage).arg(screen)));
        }
        spoken += chunk;
    }
    // Every word once, in order, up to the end.
    QCOMPARE(spoken, allText(page));
    QCOMPARE(page.evaluate(QStringLiteral("endOfTextStream()")), QVariant(true));
    QVERIFY(page.lastContentPage() < screen + columns);
    QVERIFY(turns >= count / columns - 2);
    QVERIFY(nextSpokenChunk(page, nullptr).isEmpty());
}

void TestJsEngineSpeech::startsOnTheScreen()
{
    EnginePage page;
    const PageFormat format = PageFormat::withColumns(2);
    const int count = page.open(m_realistic, format);
    QVERIFY(count > 0);
    for (int screen = 3; screen < count; screen += 4) {
        page.moveToPage(screen);
        page.evaluate(QStringLiteral("findFirstVisibleSpeechNode();"));
        int turnedTo = 0;
        const QString chunk = nextSpokenChunk(page, &turnedTo);
        QVERIFY(!chunk.isEmpty());
        // No page turn: the first chunk starts on this screen, with a capital letter or a
        // paragraph's first character.
        QCOMPARE(turnedTo, 0);
        QCOMPARE(page.current(), screen);
        const QVariantList first
            = page.evaluate(QStringLiteral("(function () {"
                                           "var t = text2speech, n = t.nodes[t.startNode];"
                                           "var r = document.createRange();"
                                           "r.setStart(n, t.startOffset); r.setEnd(n, t.startOffset + 1);"
                                           "return [r.getClientRects()[0].left, t.startOffset]; })()"))
                  .toList();
        const int chunkPage = page.pageAtX(first.value(0).toDouble());
        QVERIFY(chunkPage >= screen && chunkPage < screen + 2);
        QVERIFY2(first.value(1).toInt() == 0 || chunk.at(0).isUpper(), qPrintable(chunk));
    }
}

void TestJsEngineSpeech::highlight()
{
    EnginePage page;
    QVERIFY(page.open(m_realistic) > 0);
    for (int i = 0; i < 6; ++i)
        page.evaluate(QStringLiteral("pushSpeechElement()"));
    QVariantList rects = page.evaluate(QString::fromLatin1(kChunkRects)).toList();
    QVERIFY(!rects.value(0).toString().isEmpty());
    QCOMPARE(rects.value(1), rects.value(0));
    QCOMPARE(rects.value(2).toString(), QStringLiteral("speechActive"));
    QCOMPARE(page.evaluateString(QStringLiteral(
                 "getComputedStyle(document.getElementById('keltts_' + page.chapterUid).firstChild).backgroundColor")),
        QStringLiteral("rgb(243, 227, 162)"));

    // A re-layout moves the highlight with its words.
    PageFormat changed;
    changed.width = 600;
    changed.fontSize = 27;
    page.applyPageFormat(changed);
    rects = page.evaluate(QString::fromLatin1(kChunkRects)).toList();
    QCOMPARE(rects.value(1), rects.value(0));

    page.evaluate(QStringLiteral("stopTTS()"));
    QCOMPARE(
        page.evaluate(QStringLiteral("document.getElementById('keltts_' + page.chapterUid) === null")), QVariant(true));
    QCOMPARE(page.evaluate(QStringLiteral("getTTSText()")), QVariant(QString(QLatin1String(""))));
}

void TestJsEngineSpeech::search()
{
    EnginePage page;
    const PageFormat format = PageFormat::withColumns(2);
    QVERIFY(page.open(m_realistic, format) > 0);
    page.moveToPage(5);

    for (const QString& query : { QStringLiteral("mr. SMITH"), QStringLiteral("СЪЕШЬ"), QStringLiteral("宇宙") }) {
        const QVariantList hits
            = page.evaluate(QStringLiteral("findText('%1')").arg(jsengine::escaped(query))).toList();
        const int expected = page.evaluateInt(
            QStringLiteral("var w = document.createTreeWalker(document.body, NodeFilter.SHOW_TEXT, null, false),"
                           " k = 0; for (var n = w.nextNode(); n; n = w.nextNode())"
                           "  if (n.data.toLowerCase().indexOf('%1') >= 0) ++k; k")
                .arg(jsengine::escaped(query.toLower())));
        QVERIFY2(expected > 0, qPrintable(query));
        QCOMPARE(hits.size(), expected);
        for (const QVariant& hit : hits) {
            const QVariantMap map = hit.toMap();
            const QString source = map.value(QStringLiteral("source")).toString();
            const int offset = map.value(QStringLiteral("offset")).toInt();
            QVERIFY(source.contains(QLatin1String("/text()[")));
            QVERIFY(map.value(QStringLiteral("text")).toString().contains(query, Qt::CaseInsensitive));
            // The source names the text node and the offset the match.
            const QString found = page.evaluateString(QStringLiteral("getElementByXpath('%1').data.substr(%2, %3)")
                                                          .arg(source)
                                                          .arg(offset)
                                                          .arg(query.size()));
            QCOMPARE(found.toLower(), query.toLower());
            // The hit's page is where the match is drawn.
            const QVariantList left
                = page.evaluate(QStringLiteral("(function () {"
                                               "var n = getElementByXpath('%1'), r = document.createRange();"
                                               "r.setStart(n, %2); r.setEnd(n, %2 + 1);"
                                               "return [r.getClientRects()[0].left]; })()")
                                    .arg(source)
                                    .arg(offset))
                      .toList();
            const int drawn = page.pageAtX(left.value(0).toDouble());
            QCOMPARE(
                page.evaluateInt(QStringLiteral("getPageByXPathWithOffset('%1', %2)").arg(source).arg(offset)), drawn);
            QCOMPARE(page.getPageByKelLink(source + QStringLiteral("&offset=%1").arg(offset)), drawn);
        }
    }
    QCOMPARE(page.evaluate(QStringLiteral("findText('')")).toList().size(), 0);
    QCOMPARE(
        page.evaluate(QStringLiteral("findText('%1')").arg(jsengine::escaped(QStringLiteral("(a+[")))).toList().size(),
        0);
    QCOMPARE(page.current(), 5);
}

QTEST_MAIN(TestJsEngineSpeech)
#include "tst_jsengine_speech.moc"
