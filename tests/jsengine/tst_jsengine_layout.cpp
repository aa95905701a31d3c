// Layout and page turning of the reading engine in a real web page.

#include "chapterbuilder.h"
#include "enginepage.h"
#include "jsengine/jsengine.h"
#include "temphome.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

class TestJsEngineLayout : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void resources();
    void initBuildsStructure_data();
    void initBuildsStructure();
    void pageCountMatchesContent_data();
    void pageCountMatchesContent();
    void shortAndEmptyChapters_data();
    void shortAndEmptyChapters();
    void pageTurning_data();
    void pageTurning();
    void callbacks();
    void imagesFitOneColumn();
    void styles();
    void withoutInit();

private:
    QString m_xhtml;
    QString m_html;
    QString m_short;
    QString m_empty;
    TempHome m_home;
    QTemporaryDir m_dir;
};

static QString readResource(const QString& name)
{
    jsengine::initResources();
    QFile file(name);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

void TestJsEngineLayout::initTestCase()
{
    QVERIFY(m_dir.isValid());
    ChapterBuilder builder(7);
    builder.addHeading(1, QStringLiteral("Chapter One"));
    builder.addRaw(QStringLiteral("<p>First line<br/>second line<br/>third line</p>\n"));
    builder.addRealisticContent(40000);
    m_xhtml = builder.write(m_dir.filePath(QStringLiteral("x")), QStringLiteral("chapter.xhtml"));
    m_html = builder.write(m_dir.filePath(QStringLiteral("h")), QStringLiteral("chapter.html"));

    ChapterBuilder shortBuilder(3);
    shortBuilder.addHeading(1, QStringLiteral("Short"));
    shortBuilder.addProse(1, 20, 30);
    m_short = shortBuilder.write(m_dir.filePath(QStringLiteral("s")), QStringLiteral("short.xhtml"));

    m_empty = ChapterBuilder().write(m_dir.filePath(QStringLiteral("e")), QStringLiteral("empty.xhtml"));
    QVERIFY(!m_xhtml.isEmpty() && !m_html.isEmpty() && !m_short.isEmpty() && !m_empty.isEmpty());
}

void TestJsEngineLayout::resources()
{
    const QString script = readResource(QStringLiteral(":/jsengine/script.js"));
    QVERIFY(!script.isEmpty());
    QCOMPARE(jsengine::script(), script);
    QVERIFY(jsengine::scriptWithInit(QStringLiteral("ab'c")).endsWith(QLatin1String("init('ab\\'c');")));
    QVERIFY(readResource(QStringLiteral(":/jsengine/styles.css")).contains(QLatin1String("span.bluenote")));
    // Qt WebChannel's own client script, copied out of the library at build time.
    const QString channel = readResource(QStringLiteral(":/jsengine/qwebchannel.js"));
    QVERIFY(channel.contains(QLatin1String("QWebChannel")));
    QVERIFY(channel.size() > 1000);
}

void TestJsEngineLayout::initBuildsStructure_data()
{
    QTest::addColumn<bool>("xhtml");
    QTest::newRow("xhtml") << true;
    QTest::newRow("html") << false;
}

void TestJsEngineLayout::initBuildsStructure()
{
    QFETCH(bool, xhtml);
    EnginePage page;
    QVERIFY(page.load(xhtml ? m_xhtml : m_html));
    const int paragraphs = page.evaluateInt(QStringLiteral("document.getElementsByTagName('p').length"));
    const int breaks = page.evaluateInt(QStringLiteral("document.getElementsByTagName('br').length"));
    QCOMPARE(breaks, 2);

    QCOMPARE(page.injectEngine(QStringLiteral("u1")), QVariant(true));
    // body > content element > (column container > book body + end marker) + note marks.
    const QString shape = page.evaluateString(
        QStringLiteral("var c = document.body.firstChild;"
                       "[document.body.childNodes.length, c.id, c.firstChild.id, c.firstChild.lastChild.id,"
                       " c.lastChild.id, c.lastChild.tagName.toLowerCase()].join(' ')"));
    QCOMPARE(shape, QStringLiteral("1 u10 u11 u12 kelnotes_u1 span"));
    QCOMPARE(page.evaluateInt(QStringLiteral("document.getElementById('u11').getElementsByTagName('p').length")),
        paragraphs);
    // Every line break has an empty span before it.
    QCOMPARE(page.evaluateInt(QStringLiteral("var b = document.getElementsByTagName('br'), n = 0;"
                                             "for (var i = 0; i < b.length; ++i)"
                                             "  if (b[i].previousSibling.tagName.toLowerCase() == 'span') ++n; n")),
        2);

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

void TestJsEngineLayout::pageCountMatchesContent_data()
{
    QTest::addColumn<bool>("xhtml");
    QTest::addColumn<int>("columns");
    QTest::addColumn<QSize>("viewport");
    for (bool xhtml : { true, false }) {
        for (int columns : { 1, 2 }) {
            for (const QSize size : { QSize(800, 600), QSize(1100, 700), QSize(500, 820) }) {
                QTest::addRow("%s %d col %dx%d", xhtml ? "xhtml" : "html", columns, size.width(), size.height())
                    << xhtml << columns << size;
            }
        }
    }
}

void TestJsEngineLayout::pageCountMatchesContent()
{
    QFETCH(bool, xhtml);
    QFETCH(int, columns);
    QFETCH(QSize, viewport);
    EnginePage page;
    QVERIFY(page.load(xhtml ? m_xhtml : m_html));
    page.injectEngine();
    PageFormat format;
    format.columnCount = columns;
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

void TestJsEngineLayout::shortAndEmptyChapters_data()
{
    QTest::addColumn<bool>("empty");
    QTest::addColumn<int>("columns");
    QTest::newRow("short, 1 column") << false << 1;
    QTest::newRow("short, 2 columns") << false << 2;
    QTest::newRow("empty, 1 column") << true << 1;
    QTest::newRow("empty, 2 columns") << true << 2;
}

void TestJsEngineLayout::shortAndEmptyChapters()
{
    QFETCH(bool, empty);
    QFETCH(int, columns);
    EnginePage page;
    QCOMPARE(page.open(empty ? m_empty : m_short, PageFormat::withColumns(columns)), columns);
    QCOMPARE(page.next(), -1);
    QCOMPARE(page.prev(), -1);
    QCOMPARE(page.moveEnd(), 1);
    if (empty) {
        // Nothing visible: an empty position and a JavaScript null for the bookmark.
        QCOMPARE(page.evaluate(QStringLiteral("getReadingPosXPath();")), QVariant(QString(QLatin1String(""))));
        QCOMPARE(jsengine::resultKind(page.evaluate(QStringLiteral("getBookmarkData();"))), jsengine::ResultKind::Null);
    } else {
        QVERIFY(page.getReadingPosXPath().startsWith(QLatin1String("/html[1]/body[1]/div[1]/div[1]/h1[1]")));
    }
}

void TestJsEngineLayout::pageTurning_data()
{
    QTest::addColumn<int>("columns");
    QTest::newRow("1 column") << 1;
    QTest::newRow("2 columns") << 2;
}

void TestJsEngineLayout::pageTurning()
{
    QFETCH(int, columns);
    EnginePage page;
    const PageFormat format = PageFormat::withColumns(columns);
    const int count = page.open(m_xhtml, format);
    QVERIFY(count > 0);
    const QString left = QStringLiteral("document.getElementById('%1').style.left").arg(page.uid() + "0");
    const auto expectedLeft = [&](int first) {
        return QStringLiteral("%1px").arg((first - 1) * -(format.width / columns) + format.gap / 2);
    };

    int expected = 1;
    while (expected + columns <= count) {
        expected += columns;
        QCOMPARE(page.next(), expected);
        QCOMPARE(page.current(), expected);
        QCOMPARE(page.evaluateString(left), expectedLeft(expected));
    }
    // The last screen: no further turn and no movement.
    QCOMPARE(page.next(), -1);
    QCOMPARE(page.current(), expected);
    QCOMPARE(page.evaluateString(left), expectedLeft(expected));
    QCOMPARE(page.moveEnd(), count - columns + 1);
    while (expected > 1) {
        expected -= columns;
        QCOMPARE(page.prev(), expected);
    }
    QCOMPARE(page.prev(), -1);
    QCOMPARE(page.current(), 1);
    QCOMPARE(page.evaluateString(left), expectedLeft(1));

    // A page shows its whole screen: with two columns page 4 is the right half of 3 and 4.
    QCOMPARE(page.moveToPage(4), columns == 2 ? 3 : 4);
    QCOMPARE(page.moveToPage(0), -1);
    QCOMPARE(page.moveToPage(count + 1), -1);
    QCOMPARE(page.current(), columns == 2 ? 3 : 4);
    QCOMPARE(page.moveHome(), 1);
    QCOMPARE(page.evaluateInt(QStringLiteral("getCurrentPage()")), 1);
    QCOMPARE(page.evaluateInt(QStringLiteral("pageCount()")), count);
    QCOMPARE(page.evaluate(QStringLiteral("calculatePageCount().pageCount")).toInt(), count);

    // What is on screen: the text at the viewport's left edge belongs to the current page.
    page.moveToPage(5);
    QCOMPARE(page.pageAtX(format.gap / 2 + 1), page.current());
}

void TestJsEngineLayout::callbacks()
{
    EnginePage page;
    QVERIFY(page.load(m_xhtml));
    page.injectEngine();
    page.evaluate(QStringLiteral("var calls = [];"
                                 "var wchhelper = {"
                                 "  onCurrentPageChanged: function (p) { calls.push('page ' + p); },"
                                 "  onPageCountChanged: function (c) { calls.push('count ' + c); } };"));
    const int count = page.applyPageFormat(PageFormat()).value(QStringLiteral("pageCount")).toInt();
    page.next();
    page.next();
    page.prev();
    page.next(); // back on page 3
    page.applyPageFormat(PageFormat()); // same layout: no change to report
    // The first layout moves from no page (0) to page 1.
    QCOMPARE(page.evaluateString(QStringLiteral("calls.join(',')")),
        QStringLiteral("count %1,page 1,page 2,page 3,page 2,page 3").arg(count));
}

void TestJsEngineLayout::imagesFitOneColumn()
{
    ChapterBuilder builder(5);
    builder.addProse(2);
    builder.addImage(900, 300); // wider than a column
    builder.addProse(1);
    builder.addImage(200, 1200); // taller than a page
    builder.addImage(120, 80); // small: unchanged
    const QString file = builder.write(m_dir.filePath(QStringLiteral("img")), QStringLiteral("images.xhtml"));
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
        const QList<QSizeF> natural = { QSizeF(900, 300), QSizeF(200, 1200), QSizeF(120, 80) };
        for (int i = 0; i < 3; ++i) {
            const double w = sizes[i].toList()[0].toDouble();
            const double h = sizes[i].toList()[1].toDouble();
            QVERIFY2(w <= columnWidth + 0.5 && h <= maxHeight + 0.5, qPrintable(QStringLiteral("%1x%2").arg(w).arg(h)));
            QVERIFY(qAbs(w / h - natural[i].width() / natural[i].height()) < 0.02);
        }
        QCOMPARE(sizes[2].toList()[0].toDouble(), 120.0);
    }
}

void TestJsEngineLayout::styles()
{
    EnginePage page;
    QVERIFY(page.load(m_short));
    // Before init nothing is added.
    page.evaluate(jsengine::script() + QStringLiteral("replaceOrAddStyle('early', 'p { color: red; }');"));
    QCOMPARE(page.evaluateInt(QStringLiteral("document.getElementsByTagName('style').length")), 1);
    page.evaluate(QStringLiteral("init('ab');"));
    page.evaluate(QStringLiteral("replaceOrAddStyle('s', 'p { color: #ff0000; }');"));
    page.evaluate(QStringLiteral("replaceOrAddStyle('s', 'p { color: #00ff00; }');"));
    QCOMPARE(page.evaluateInt(QStringLiteral("document.querySelectorAll('#s_ab').length")), 1);
    QCOMPARE(page.evaluateString(QStringLiteral("getComputedStyle(document.getElementsByTagName('p')[0]).color")),
        QStringLiteral("rgb(0, 255, 0)"));
    QCOMPARE(page.evaluateString(QStringLiteral("document.getElementById('s_ab').parentNode.tagName.toLowerCase()")),
        QStringLiteral("head"));
}

void TestJsEngineLayout::withoutInit()
{
    EnginePage page;
    QVERIFY(page.load(m_short));
    page.evaluate(jsengine::script());
    const QVariantMap result = page.evaluate(EnginePage::pageFormatScript(PageFormat())).toMap();
    QCOMPARE(result.value(QStringLiteral("loaded")), QVariant(false));
    QCOMPARE(result.value(QStringLiteral("pageCount")).toInt(), -1);
    QCOMPARE(page.next(), -1);
    QCOMPARE(page.moveToPage(1), -1);
    QCOMPARE(page.evaluate(QStringLiteral("getReadingPosXPath();")), QVariant(QString(QLatin1String(""))));
    // An unknown function arrives invalid, unlike null.
    QCOMPARE(jsengine::resultKind(page.evaluate(QStringLiteral("noSuchFunction();"))), jsengine::ResultKind::Invalid);
    QCOMPARE(jsengine::resultKind(page.evaluate(QStringLiteral("selectedNoteId();"))), jsengine::ResultKind::Null);
}

QTEST_MAIN(TestJsEngineLayout)
#include "tst_jsengine_layout.moc"
