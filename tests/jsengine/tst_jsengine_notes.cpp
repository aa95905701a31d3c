// Notes of the reading engine: made from a selection, restored by path and offset in a fresh
// document, drawn as marks over the same text, found, restyled and removed.

#include "chapterbuilder.h"
#include "enginepage.h"
#include "jsengine/jsengine.h"
#include "temphome.h"

#include <QTemporaryDir>
#include <QtTest>

namespace {

// Line boxes of the text inside a range, worked out by the test, and the boxes of a note's
// mark spans; both as [left, top, width, height] in viewport pixels.
const char* const kRectHelpers = R"(
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

} // namespace

class TestJsEngineNotes : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void noteFromSelection_data();
    void noteFromSelection();
    void lookupRestyleRemove();
    void refusedNotes();

private:
    void openChapter(EnginePage& page, const PageFormat& format = PageFormat());

    TempHome m_home;
    QTemporaryDir m_dir;
    QString m_file;
};

void TestJsEngineNotes::initTestCase()
{
    QVERIFY(m_dir.isValid());
    ChapterBuilder builder(21);
    builder.addHeading(1, QStringLiteral("Notes"));
    builder.addProse(3, 30, 60);
    builder.addRaw(QStringLiteral(
        "<p id=\"p1\">Alpha beta <b>gamma delta</b> epsilon zeta eta theta.</p>\n"
        "<p id=\"p2\">Second paragraph with <em>emphasis <b>nested bold</b> words</em> and more text here.</p>\n"
        "<p id=\"p3\">Кириллица здесь, и 漢字もここに。 Mixed text to the end.</p>\n"));
    builder.addProse(1, 400, 400);
    builder.addRaw(QStringLiteral("<p id=\"long\">"));
    builder.addRaw(builder.sentence(300, 300));
    builder.addRaw(QStringLiteral("</p>\n"));
    builder.addProse(4);
    m_file = builder.write(m_dir.path(), QStringLiteral("notes.xhtml"));
    QVERIFY(!m_file.isEmpty());
}

void TestJsEngineNotes::openChapter(EnginePage& page, const PageFormat& format)
{
    QVERIFY(page.open(m_file, format) > 0);
    page.evaluate(QString::fromUtf8(kRectHelpers));
}

void TestJsEngineNotes::noteFromSelection_data()
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

void TestJsEngineNotes::noteFromSelection()
{
    QFETCH(QString, selection);
    QFETCH(QString, text);
    PageFormat format;
    format.columnCount = 2;
    EnginePage page;
    openChapter(page, format);
    const QString selected = page.evaluateString(QStringLiteral("testSelect(%1)").arg(selection));
    if (!text.isEmpty())
        QCOMPARE(selected.simplified(), text.simplified());
    const QVariant expected = page.evaluate(QStringLiteral("testTextRects(window.getSelection().getRangeAt(0))"));

    const QVariant result = page.evaluate(QStringLiteral("createNoteFromSelection('%1', '%2');")
                                              .arg(QStringLiteral("note-1"), QStringLiteral("yellownote")));
    const QVariantMap range = result.toMap();
    for (const char* key : { "start", "startOffset", "end", "endOffset" })
        QVERIFY2(range.contains(QLatin1String(key)), key);
    QVERIFY(
        range.value(QStringLiteral("start")).toString().startsWith(QLatin1String("/html[1]/body[1]/div[1]/div[1]/")));
    QCOMPARE(page.evaluateInt(QStringLiteral("window.getSelection().rangeCount")), 0);

    // One mark span per line of text, over exactly that text, in the note colour.
    QVERIFY2(sameRects(page.evaluate(QStringLiteral("testMarkRects('note-1')")), expected),
        qPrintable(QStringLiteral("%1 rects expected").arg(expected.toList().size())));
    QCOMPARE(page.evaluateString(QStringLiteral("document.getElementById('kelnote_note-1').firstChild.className")),
        QStringLiteral("yellownote"));
    QCOMPARE(page.evaluateString(QStringLiteral(
                 "getComputedStyle(document.getElementById('kelnote_note-1').firstChild).backgroundColor")),
        QStringLiteral("rgb(243, 227, 162)"));
    if (text.isEmpty()) {
        // The long note runs over two pages of the screen.
        const QVariantList rects = expected.toList();
        QVERIFY(page.pageAtX(rects.first().toList()[0].toDouble()) < page.pageAtX(rects.last().toList()[0].toDouble()));
    }

    // A fresh document restores the note from its paths and offsets: same text, same marks.
    EnginePage restored;
    openChapter(restored, format);
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

void TestJsEngineNotes::lookupRestyleRemove()
{
    EnginePage page;
    openChapter(page);
    page.evaluate(QStringLiteral("testSelect(document.getElementById('p2').firstChild, 0,"
                                 " document.getElementById('p2').firstChild, 6)"));
    const QVariantMap range = page.evaluate(QStringLiteral("createNoteFromSelection('%1', '%2');")
                                                .arg(QStringLiteral("n2"), QStringLiteral("bluenote")))
                                  .toMap();
    QVERIFY(!range.isEmpty());
    const QVariantList rect = page.evaluate(QStringLiteral("testMarkRects('n2')[0]")).toList();
    QCOMPARE(rect.size(), 4);
    const int x = qRound(rect[0].toDouble() + rect[2].toDouble() / 2);
    const int y = qRound(rect[1].toDouble() + rect[3].toDouble() / 2);

    // By point (the reader's mouse release) and by the selection's focus.
    const QString atPoint = QStringLiteral("selectedNoteIdAtPoint(%1, %2);");
    QCOMPARE(page.evaluate(atPoint.arg(x).arg(y)), QVariant(QStringLiteral("n2")));
    QCOMPARE(jsengine::resultKind(page.evaluate(atPoint.arg(x).arg(y + 200))), jsengine::ResultKind::Null);
    page.evaluate(QStringLiteral("testSelect(document.getElementById('p2').firstChild, 3,"
                                 " document.getElementById('p2').firstChild, 3)"));
    QCOMPARE(page.evaluate(QStringLiteral("selectedNoteId();")), QVariant(QStringLiteral("n2")));
    page.evaluate(QStringLiteral("testSelect(document.getElementById('p1').firstChild, 3,"
                                 " document.getElementById('p1').firstChild, 3)"));
    QCOMPARE(jsengine::resultKind(page.evaluate(QStringLiteral("selectedNoteId();"))), jsengine::ResultKind::Null);

    page.evaluate(QStringLiteral("setNoteStyleById('%1', '%2');").arg(QStringLiteral("n2"), QStringLiteral("rednote")));
    QCOMPARE(page.evaluateString(QStringLiteral("var m = document.getElementById('kelnote_n2'), c = [m.className];"
                                                "for (var i = 0; i < m.childNodes.length; ++i)"
                                                "  c.push(m.childNodes[i].className); c.join(' ')")),
        QStringLiteral("rednote rednote"));

    page.evaluate(QStringLiteral("removeNoteById('%1');").arg(QStringLiteral("n2")));
    QCOMPARE(page.evaluate(QStringLiteral("document.getElementById('kelnote_n2') === null")), QVariant(true));
    QCOMPARE(jsengine::resultKind(page.evaluate(atPoint.arg(x).arg(y))), jsengine::ResultKind::Null);
    // Once removed, the same id can be drawn again.
    page.evaluate(noteFromParamsCall(range, QStringLiteral("greennote"), QStringLiteral("n2")));
    QCOMPARE(page.evaluate(atPoint.arg(x).arg(y)), QVariant(QStringLiteral("n2")));
}

void TestJsEngineNotes::refusedNotes()
{
    EnginePage page;
    openChapter(page);
    const QString p1 = QStringLiteral("/html[1]/body[1]/div[1]/div[1]/p[4]");
    QCOMPARE(page.evaluateString(QStringLiteral("getElementByXpath('%1').id").arg(p1)), QStringLiteral("p1"));
    const auto call = [&](const QString& start, int so, const QString& end, int eo, const QString& id) {
        QVariantMap range;
        range[QStringLiteral("start")] = start;
        range[QStringLiteral("startOffset")] = so;
        range[QStringLiteral("end")] = end;
        range[QStringLiteral("endOffset")] = eo;
        return page.evaluate(noteFromParamsCall(range, QStringLiteral("purplenote"), id));
    };
    // A note stored by an earlier version: offsets count the text of the whole paragraph.
    QCOMPARE(jsengine::resultKind(call(p1, 11, p1, 22, QStringLiteral("a"))), jsengine::ResultKind::Value);
    QCOMPARE(page.evaluateString(QStringLiteral("notes['a'].r.toString()")), QStringLiteral("gamma delta"));
    const int marks = page.evaluateInt(QStringLiteral("testMarkRects('a').length"));

    // The same id again draws nothing twice.
    QCOMPARE(jsengine::resultKind(call(p1, 0, p1, 5, QStringLiteral("a"))), jsengine::ResultKind::Null);
    QCOMPARE(page.evaluateInt(QStringLiteral("testMarkRects('a').length")), marks);
    QCOMPARE(page.evaluateString(QStringLiteral("notes['a'].r.toString()")), QStringLiteral("gamma delta"));

    QCOMPARE(jsengine::resultKind(call(QStringLiteral("/html[1]/p[9]"), 0, p1, 5, QStringLiteral("b"))),
        jsengine::ResultKind::Null);
    QCOMPARE(jsengine::resultKind(call(p1, 0, QStringLiteral("/nothing[1]"), 5, QStringLiteral("b"))),
        jsengine::ResultKind::Null);
    QCOMPARE(jsengine::resultKind(call(p1, 0, p1, 5000, QStringLiteral("b"))), jsengine::ResultKind::Null);
    QCOMPARE(jsengine::resultKind(call(p1, 20, p1, 5, QStringLiteral("b"))), jsengine::ResultKind::Null);
    QCOMPARE(page.evaluate(QStringLiteral("document.getElementById('kelnote_b') === null")), QVariant(true));

    // No selection, or an empty one, makes no note.
    page.evaluate(QStringLiteral("window.getSelection().removeAllRanges()"));
    const QString fromSelection = QStringLiteral("createNoteFromSelection('%1', '%2');");
    QCOMPARE(jsengine::resultKind(page.evaluate(fromSelection.arg(QStringLiteral("c"), QStringLiteral("bluenote")))),
        jsengine::ResultKind::Null);
    page.evaluate(QStringLiteral("testSelect(document.getElementById('p1').firstChild, 3,"
                                 " document.getElementById('p1').firstChild, 3)"));
    QCOMPARE(jsengine::resultKind(page.evaluate(fromSelection.arg(QStringLiteral("c"), QStringLiteral("bluenote")))),
        jsengine::ResultKind::Null);

    // Ids are text, whatever they hold.
    for (const QString& id : { QStringLiteral("__proto__"), QStringLiteral("it's \\ odd") }) {
        QCOMPARE(jsengine::resultKind(call(p1, 0, p1, 5, id)), jsengine::ResultKind::Value);
        QCOMPARE(
            page.evaluate(QStringLiteral("document.getElementById('kelnote_%1') !== null").arg(jsengine::escaped(id))),
            QVariant(true));
        page.evaluate(QStringLiteral("removeNoteById('%1');").arg(jsengine::escaped(id)));
        QCOMPARE(
            page.evaluate(QStringLiteral("document.getElementById('kelnote_%1') === null").arg(jsengine::escaped(id))),
            QVariant(true));
    }
}

QTEST_MAIN(TestJsEngineNotes)
#include "tst_jsengine_notes.moc"
