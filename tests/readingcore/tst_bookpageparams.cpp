// Page parameters: change signals and bounds, the exact scripts the engine receives, and what
// those scripts do to a real chapter laid out by the engine.

#include "bookpageparams.h"
#include "chapterbuilder.h"
#include "enginepage.h"
#include "noteitem.h"
#include "temphome.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QWebSettings>
#include <QtTest>

namespace {

const QString kEmptyColorScript
    = QStringLiteral("replaceOrAddStyle('body_style_1', 'body{ background-color: #000000 !important; color: #000000}');"
                     "replaceOrAddStyle('note_red_style', 'span.rednote{ background-color: #000000; }');"
                     "replaceOrAddStyle('note_blue_style', 'span.bluenote{ background-color: #000000; }');"
                     "replaceOrAddStyle('note_purple_style', 'span.purplenote{ background-color: #000000; }');"
                     "replaceOrAddStyle('note_yellow_style', 'span.yellownote{ background-color: #000000; }');"
                     "replaceOrAddStyle('note_green_style', 'span.greennote{ background-color: #000000; }');"
                     "replaceOrAddStyle('note_underline_style', 'span.underlinenote{ text-decoration: underline; }');");

// The day look: white page, black text, the note colours of the note styles.
ViewerColors dayColors()
{
    ViewerColors colors;
    colors.background = Qt::white;
    colors.text = Qt::black;
    for (int i = NoteItem::Blue; i <= NoteItem::Green; ++i)
        colors.noteColors.insert(i, NoteItem::styleColor(i));
    return colors;
}

} // namespace

class TestBookPageParams : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void settersEmitOnChange();
    void pageColors();
    void scriptTexts_data();
    void scriptTexts();
    void sameFormatAsTheEngineHarness();
    void stylesInARealPage();
    void layoutInARealPage_data();
    void layoutInARealPage();

private:
    bool openChapter(EnginePage& page);
    QVariantMap apply(EnginePage& page, const BookPageParams& params);

    TempHome m_home;
    QTemporaryDir m_dir;
    QString m_file;
};

void TestBookPageParams::initTestCase()
{
    QVERIFY(m_dir.isValid());
    ChapterBuilder builder(7);
    builder.addHeading(1, QStringLiteral("Page parameters"));
    builder.addRealisticContent(30000);
    builder.addRaw(QStringLiteral("<p id=\"marked\">Marked <span class=\"rednote\" id=\"red\">red</span> and "
                                  "<span class=\"underlinenote\" id=\"under\">underlined</span> words.</p>\n"));
    m_file = builder.write(m_dir.path(), QStringLiteral("chapter.xhtml"));
    QVERIFY(!m_file.isEmpty());
}

void TestBookPageParams::settersEmitOnChange()
{
    BookPageParams params;
    QSignalSpy fontSize(&params, &BookPageParams::fontSizeChanged);
    params.setFontSize(40);
    params.setFontSize(32);
    params.setFontSize(3);
    params.setFontSize(8);
    QCOMPARE(fontSize.count(), 2);
    QCOMPARE(fontSize.at(0).at(0).toInt(), 32);
    QCOMPARE(fontSize.at(1).at(0).toInt(), 8);
    QCOMPARE(params.fontSize(), 8);

    QSignalSpy columns(&params, &BookPageParams::columnCountChanged);
    params.setColumnCount(2);
    params.setColumnCount(1);
    params.setColumnCount(0); // what a failed settings conversion gives
    params.setColumnCount(3);
    QCOMPARE(columns.count(), 2);
    QCOMPARE(columns.at(0).at(0).toInt(), 1);
    QCOMPARE(columns.at(1).at(0).toInt(), 2);

    // Each setter signals a change only.
    QSignalSpy spacing(&params, &BookPageParams::lineSpacingChanged);
    QSignalSpy alignment(&params, &BookPageParams::textAlignmentChanged);
    QSignalSpy family(&params, &BookPageParams::fontFamilyChanged);
    QSignalSpy pageTurn(&params, &BookPageParams::showPageTurnChanged);
    for (int i = 0; i < 2; ++i) {
        params.setLineSpacing(150);
        params.setTextAlignment(Enums::CenterTextAlign);
        params.setFontFamily(QStringLiteral("DejaVu Sans"));
        params.setShowPageTurn(true);
    }
    QCOMPARE(spacing.count() + alignment.count() + family.count() + pageTurn.count(), 4);
    QCOMPARE(alignment.at(0).at(0).value<Enums::TextAlignment>(), Enums::CenterTextAlign);
    QCOMPARE(family.at(0).at(0).toString(), QStringLiteral("DejaVu Sans"));

    // Width and height are the viewer's to set before each layout; they signal nothing.
    params.setWidth(640);
    params.setHeight(480);
    QCOMPARE(params.pageDimScript(), QStringLiteral("setPageDim(2,60, 640, 480, 20);"));
}

void TestBookPageParams::pageColors()
{
    BookPageParams params;
    QSignalSpy changed(&params, &BookPageParams::pageColorsChanged);
    params.setPageColors(ViewerColors());
    QCOMPARE(changed.count(), 0);

    ViewerColors colors = dayColors();
    params.setPageColors(colors);
    params.setPageColors(colors);
    QCOMPARE(changed.count(), 1);
    QCOMPARE(changed.at(0).at(0).value<ViewerColors>(), colors);

    colors.noteColors[NoteItem::Red] = QColor(QStringLiteral("#ff0000"));
    params.setPageColors(colors);
    colors.noteColors.insert(9, Qt::gray); // one more key is a change too
    params.setPageColors(colors);
    colors.text = QColor(QStringLiteral("#101010"));
    params.setPageColors(colors);
    QCOMPARE(changed.count(), 4);
    QCOMPARE(params.noteColors().value(NoteItem::Red), QColor(QStringLiteral("#ff0000")));
    QCOMPARE(params.text(), QColor(QStringLiteral("#101010")));
}

void TestBookPageParams::scriptTexts_data()
{
    QTest::addColumn<int>("alignment");
    QTest::addColumn<int>("lineSpacing");
    QTest::addColumn<QString>("textStyle");
    const QString speech
        = QStringLiteral("replaceOrAddStyle('speech_style', 'span.speechActive{ background-color: #f3e3a2;  }');");
    const auto textStyle = [&](const char* align, int spacing) {
        return QStringLiteral("replaceOrAddStyle('body_style_2', 'body{ text-align: %1 !important; }');"
                              "replaceOrAddStyle('linespacing_style', 'p{ line-height: %2% !important; }');")
                   .arg(QLatin1String(align))
                   .arg(spacing)
            + speech;
    };
    QTest::newRow("origin") << 0 << 110 << textStyle("inherit", 110);
    QTest::newRow("left") << 1 << 100 << textStyle("left", 100);
    QTest::newRow("right") << 2 << 125 << textStyle("right", 125);
    QTest::newRow("center") << 3 << 90 << textStyle("center", 90);
    QTest::newRow("justify") << 4 << 200 << textStyle("justify", 200);
    QTest::newRow("out of range") << 7 << 110 << textStyle("inherit", 110);
    QTest::newRow("negative") << -1 << 110 << textStyle("inherit", 110);
}

void TestBookPageParams::scriptTexts()
{
    QFETCH(int, alignment);
    QFETCH(int, lineSpacing);
    QFETCH(QString, textStyle);
    BookPageParams params;
    params.setTextAlignment(Enums::TextAlignment(alignment));
    params.setLineSpacing(lineSpacing);
    QCOMPARE(params.textStyleScript(), textStyle);

    // An empty note-colour map still gives all six note rules.
    QCOMPARE(params.colorScript(), kEmptyColorScript);
    QCOMPARE(
        params.pageFormatScript(), kEmptyColorScript + textStyle + QStringLiteral("setPageDim(2,60, 100, 100, 20);"));

    // Each note rule takes its own index: red 3, blue 1, purple 2, yellow 4, green 5.
    ViewerColors colors;
    colors.background = QColor(QStringLiteral("#fbf0d9"));
    colors.text = QColor(QStringLiteral("#5f4b32"));
    colors.noteColors = { { 1, QColor(QStringLiteral("#000001")) }, { 2, QColor(QStringLiteral("#000002")) },
        { 3, QColor(QStringLiteral("#000003")) }, { 4, QColor(QStringLiteral("#000004")) },
        { 5, QColor(QStringLiteral("#000005")) }, { 6, QColor(QStringLiteral("#000006")) } };
    params.setPageColors(colors);
    QCOMPARE(params.colorScript(),
        QStringLiteral(
            "replaceOrAddStyle('body_style_1', 'body{ background-color: #fbf0d9 !important; color: #5f4b32}');"
            "replaceOrAddStyle('note_red_style', 'span.rednote{ background-color: #000003; }');"
            "replaceOrAddStyle('note_blue_style', 'span.bluenote{ background-color: #000001; }');"
            "replaceOrAddStyle('note_purple_style', 'span.purplenote{ background-color: #000002; }');"
            "replaceOrAddStyle('note_yellow_style', 'span.yellownote{ background-color: #000004; }');"
            "replaceOrAddStyle('note_green_style', 'span.greennote{ background-color: #000005; }');"
            "replaceOrAddStyle('note_underline_style', 'span.underlinenote{ text-decoration: underline; }');"));
}

void TestBookPageParams::sameFormatAsTheEngineHarness()
{
    // The engine's own tests lay chapters out with the reader's format; both must agree.
    for (const int columns : { 1, 2 }) {
        PageFormat format = PageFormat::withColumns(columns);
        format.lineSpacing = 130;
        BookPageParams params;
        params.setPageColors(dayColors());
        params.setColumnCount(columns);
        params.setLineSpacing(format.lineSpacing);
        params.setWidth(format.width);
        params.setHeight(format.height);
        QCOMPARE(params.pageFormatScript(), EnginePage::pageFormatScript(format));
    }
}

bool TestBookPageParams::openChapter(EnginePage& page) { return page.load(m_file) && page.injectEngine().toBool(); }

QVariantMap TestBookPageParams::apply(EnginePage& page, const BookPageParams& params)
{
    page.setViewportSize(QSize(params.width(), params.height()));
    page.settings()->setFontSize(QWebSettings::DefaultFontSize, params.fontSize());
    return page.evaluate(params.pageFormatScript()).toMap();
}

void TestBookPageParams::stylesInARealPage()
{
    EnginePage page;
    QVERIFY(openChapter(page));
    BookPageParams params;
    ViewerColors colors = dayColors();
    colors.background = QColor(QStringLiteral("#fbf0d9"));
    colors.text = QColor(QStringLiteral("#5f4b32"));
    params.setPageColors(colors);
    params.setTextAlignment(Enums::CenterTextAlign);
    params.setLineSpacing(150);
    params.setWidth(800);
    params.setHeight(600);
    QVERIFY(apply(page, params).value(QStringLiteral("loaded")).toBool());

    const auto style = [&](const QString& selector, const QString& property) {
        return page
            .evaluateString(QStringLiteral("getComputedStyle(document.querySelector('%1')).%2").arg(selector, property))
            .remove(QLatin1Char(' '));
    };
    QCOMPARE(style(QStringLiteral("body"), QStringLiteral("backgroundColor")), QStringLiteral("rgb(251,240,217)"));
    QCOMPARE(style(QStringLiteral("p"), QStringLiteral("color")), QStringLiteral("rgb(95,75,50)"));
    QCOMPARE(style(QStringLiteral("p"), QStringLiteral("textAlign")), QStringLiteral("center"));
    QCOMPARE(style(QStringLiteral("p"), QStringLiteral("lineHeight")), QStringLiteral("30px")); // 150 % of 20 px
    QCOMPARE(style(QStringLiteral("#red"), QStringLiteral("backgroundColor")), QStringLiteral("rgb(243,162,162)"));
    QVERIFY(style(QStringLiteral("#under"), QStringLiteral("textDecoration")).startsWith(QLatin1String("underline")));

    // A second application replaces the rules instead of adding to them.
    params.setTextAlignment(Enums::RightTextAlign);
    QVERIFY(apply(page, params).value(QStringLiteral("loaded")).toBool());
    QCOMPARE(style(QStringLiteral("p"), QStringLiteral("textAlign")), QStringLiteral("right"));
    QCOMPARE(page.evaluateInt(QStringLiteral("document.querySelectorAll('style[id^=\"body_style_2_\"]').length")), 1);
}

void TestBookPageParams::layoutInARealPage_data()
{
    QTest::addColumn<int>("columns");
    QTest::newRow("one column") << 1;
    QTest::newRow("two columns") << 2;
}

void TestBookPageParams::layoutInARealPage()
{
    QFETCH(int, columns);
    EnginePage page;
    QVERIFY(openChapter(page));
    BookPageParams params;
    params.setPageColors(dayColors());
    params.setColumnCount(columns);
    params.setWidth(800);
    params.setHeight(600);
    const QVariantMap layout = apply(page, params);
    const int count = layout.value(QStringLiteral("pageCount")).toInt();
    QCOMPARE(layout.value(QStringLiteral("currentPage")).toInt(), 1);
    QVERIFY2(count >= 4, qPrintable(QString::number(count)));
    QCOMPARE(count % columns, 0);
    QCOMPARE(count, page.count());

    // The text column is a page wide less the gap, and starts half a gap in.
    const QVariantList box
        = page.evaluate(QStringLiteral("(function(){ var r = document.getElementById('%1')"
                                       ".getBoundingClientRect(); return [r.left, r.top, r.width]; })()")
                            .arg(page.uid() + QLatin1Char('0')))
              .toList();
    QCOMPARE(box.value(0).toDouble(), 30.0);
    QCOMPARE(box.value(1).toDouble(), 20.0);
    QCOMPARE(box.value(2).toDouble(), 800.0 / columns - 60);

    // More line spacing and a larger font both need more pages; smaller ones fewer.
    params.setLineSpacing(200);
    const int spacious = apply(page, params).value(QStringLiteral("pageCount")).toInt();
    QVERIFY2(spacious > count, qPrintable(QStringLiteral("%1 > %2").arg(spacious).arg(count)));
    params.setLineSpacing(110);
    params.setFontSize(12);
    const int small = apply(page, params).value(QStringLiteral("pageCount")).toInt();
    QVERIFY2(small < count, qPrintable(QStringLiteral("%1 < %2").arg(small).arg(count)));
}

QTEST_MAIN(TestBookPageParams)
#include "tst_bookpageparams.moc"
