// The reading core: the viewers' mouse recogniser, the page parameters and the chapter page,
// the latter on a generated chapter loaded and laid out as the text viewer does it and driven
// through the reading engine, with hostile text in every call.

#include "abstractviewer.h"
#include "bookpageparams.h"
#include "chapterbuilder.h"
#include "enginepage.h"
#include "jsengine/jsengine.h"
#include "temphome.h"
#include "testfiles.h"
#include "textbookchapter.h"
#include "textrows.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QMouseEvent>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QUrl>
#include <QWebFrame>
#include <QWebSettings>
#include <QtTest>
#include <memory>

namespace {

// A viewer widget as the real ones are built: a Qt widget first, the interface second.
class FakeViewer : public QWidget, public AbstractViewer {
    Q_OBJECT
public:
    FakeViewer()
        : AbstractViewer(2)
    {
    }
    bool supports(Features) const override { return false; }
    bool readBook(QSharedPointer<BookContext>) override { return false; }

    bool press(Qt::MouseButton button, QPoint pos = QPoint(100, 100))
    {
        QMouseEvent event(QEvent::MouseButtonPress, pos, button, button, Qt::NoModifier);
        return handleMousePressEvent(&event);
    }
    bool move(QPoint pos, Qt::MouseButtons held = Qt::LeftButton)
    {
        QMouseEvent event(QEvent::MouseMove, pos, Qt::NoButton, held, Qt::NoModifier);
        return handleMouseMoveEvent(&event, Qt::LeftButton | Qt::MiddleButton);
    }
    void release(Qt::MouseButton button, QPoint pos = QPoint(100, 100))
    {
        QMouseEvent event(QEvent::MouseButtonRelease, pos, button, Qt::NoButton, Qt::NoModifier);
        handleMouseReleaseEvent(&event);
    }

    int clicks = 0;
    qint64 lastClickAt = -1;
    int dragStarts = 0;
    int dragEnds = 0;
    QList<QPoint> dragDeltas;
    QElapsedTimer clock;

protected:
    void onMouseClicked() override
    {
        ++clicks;
        lastClickAt = clock.elapsed();
    }
    void onDragStart() override { ++dragStarts; }
    void onDragMove(const QPoint& delta) override { dragDeltas.append(delta); }
    void onDragEnd() override { ++dragEnds; }
};

// Longer than the click interval, so every pending decision has been taken.
constexpr int kSettleMs = 450;

const QString kSource = QStringLiteral("Text/Chapter1.xhtml");
const QString kUid = QStringLiteral("c0ffee00c0ffee00c0ffee00c0ffee00");
// An element id that would end a single-quoted string and run code if it were not escaped.
const QString kHostileId = QStringLiteral("q'u\"o\\te');window.pwned=1;//");

using ChapterPtr = std::unique_ptr<TextBookChapter>;

QVariant engine(TextBookChapter& page, const QString& script) { return page.mainFrame()->evaluateJavaScript(script); }
int engineInt(TextBookChapter& page, const QString& script) { return engine(page, script).toInt(); }
QString engineText(TextBookChapter& page, const QString& script) { return engine(page, script).toString(); }

// The position of an element among its siblings of the same tag, as element paths count it.
int siblingIndex(TextBookChapter& page, const QString& elementId)
{
    return engineInt(page,
        QStringLiteral("(function () { var e = document.getElementById('%1'), i = 1;"
                       " for (var s = e.previousElementSibling; s; s = s.previousElementSibling)"
                       " if (s.tagName === e.tagName) ++i; return i; })()")
            .arg(jsengine::escaped(elementId)));
}

// The class and box of each span of a note's mark; null without a mark.
QVariant markBoxes(TextBookChapter& page, const QString& noteId)
{
    return engine(page,
        QStringLiteral("(function () { var m = document.getElementById('kelnote_' + '%1'); if (!m) return null;"
                       " var out = []; for (var i = 0; i < m.childNodes.length; ++i) {"
                       " var r = m.childNodes[i].getBoundingClientRect(); out.push([m.childNodes[i].className,"
                       " Math.round(r.left), Math.round(r.top), Math.round(r.width), Math.round(r.height)]); }"
                       " return out; })()")
            .arg(jsengine::escaped(noteId)));
}

QString markClass(TextBookChapter& page, const QString& noteId)
{
    return markBoxes(page, noteId).toList().value(0).toList().value(0).toString();
}

QList<QVariantList> signalArguments(const QSignalSpy& spy) { return spy; }

bool pwned(TextBookChapter& page) { return engineText(page, QStringLiteral("typeof window.pwned")) != "undefined"; }

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

class TestReadingCore : public QObject {
    Q_OBJECT

    // Loads a chapter and lays it out as the text viewer does after a load: the engine with its
    // init call, the page size into the parameters, then the page parameters.
    ChapterPtr open(const QString& file, int columns = 1, bool layOut = true)
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

    TempHome m_home;
    QTemporaryDir m_dir;
    QString m_chapter;
    QString m_fontProbe;
    BookPageParams m_params;

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        ChapterBuilder builder(42);
        builder.addHeading(1, QStringLiteral("Chapter One"));
        builder.addRaw(QStringLiteral("<p id=\"opening\">Opening words of the chapter, kept short.</p>\n"));
        builder.addProse(12);
        builder.addRaw(QStringLiteral("<p id=\"mid\">The middle of the chapter starts here.</p>\n"));
        builder.addProse(10);
        builder.addRaw(
            QStringLiteral("<p id=\"marked\">The quick brown fox jumps over the lazy dog near the river bank.</p>\n"
                           "<p id=\"q'u&quot;o\\te');window.pwned=1;//\">A paragraph with an awkward id.</p>\n"
                           "<p id=\"red\">Marked <span class=\"rednote\">red</span> and "
                           "<span class=\"underlinenote\" id=\"under\">underlined</span> words.</p>\n"));
        builder.addProse(8);
        builder.addRaw(QStringLiteral("<p id=\"closing\">Closing words.</p>\n"));
        m_chapter = builder.write(m_dir.filePath(QStringLiteral("Text")), QStringLiteral("Chapter1.xhtml"));
        QVERIFY(!m_chapter.isEmpty());

        // No font named: the page's standard font decides the glyph widths.
        m_fontProbe = m_dir.filePath(QStringLiteral("probe.html"));
        QVERIFY(testfiles::write(m_fontProbe,
            "<!DOCTYPE html><html><head><meta charset=\"utf-8\"></head><body>"
            "<p><span id=\"narrow\">iiiiiiiiii</span><br/><span id=\"wide\">MMMMMMMMMM</span></p></body></html>"));
        m_params.setPageColors(dayColors());
        m_params.setFontFamily(QStringLiteral("Original font"));
    }

    void mouseGestures_data()
    {
        // Steps: P/R left press/release, M/N middle, E/S right, d a move within the start-drag
        // distance, '.' a wait past the click interval.
        QTest::addColumn<QString>("steps");
        QTest::addColumn<int>("clicks");
        QTest::addColumn<int>("fullscreen");
        QTest::addColumn<int>("pressed");
        QTest::newRow("quick click, reported by the timer") << "PR" << 1 << 0 << 1;
        QTest::newRow("held press, reported at the release") << "P.R" << 1 << 0 << 1;
        QTest::newRow("move within the drag distance") << "PdR" << 1 << 0 << 1;
        QTest::newRow("double click") << "PRPR" << 0 << 1 << 1;
        QTest::newRow("double click, then a click") << "PRPR.PR" << 1 << 1 << 2;
        QTest::newRow("middle button") << "MN" << 0 << 1 << 0;
        QTest::newRow("right button") << "ES" << 0 << 0 << 0;
    }

    void mouseGestures()
    {
        QFETCH(QString, steps);
        QFETCH(int, clicks);
        QFETCH(int, fullscreen);
        QFETCH(int, pressed);
        FakeViewer viewer;
        QSignalSpy pressedSpy(viewer.userEvents(), &AbstractViewer::UserEvents::mousePressed);
        QSignalSpy fullscreenSpy(viewer.userEvents(), &AbstractViewer::UserEvents::fullscreenPressed);
        viewer.clock.start();
        const QPoint moved(100 + QApplication::startDragDistance(), 100);
        for (const QChar step : steps) {
            switch (step.toLatin1()) {
            case 'P':
                // The second press of a double click is consumed; a first one is left to the widget.
                QCOMPARE(
                    viewer.press(Qt::LeftButton), fullscreenSpy.isEmpty() && !pressedSpy.isEmpty() && !viewer.clicks);
                break;
            case 'R':
                viewer.release(Qt::LeftButton);
                break;
            case 'M':
                QVERIFY(viewer.press(Qt::MiddleButton));
                QCOMPARE(fullscreenSpy.count(), 0); // at the release
                break;
            case 'N':
                viewer.release(Qt::MiddleButton);
                break;
            case 'E':
                QVERIFY(!viewer.press(Qt::RightButton));
                break;
            case 'S':
                viewer.release(Qt::RightButton);
                break;
            case 'd':
                QVERIFY(!viewer.move(moved));
                break;
            case '.':
                QTest::qWait(kSettleMs);
                break;
            }
        }
        // Released before the event loop ran again: a second press may still make a double click.
        if (steps.endsWith(QLatin1String("PR")) && clicks > 0)
            QCOMPARE(viewer.clicks, clicks - 1);
        QTest::qWait(kSettleMs);
        QCOMPARE(viewer.clicks, clicks);
        QCOMPARE(fullscreenSpy.count(), fullscreen);
        QCOMPARE(pressedSpy.count(), pressed);
        QCOMPARE(viewer.dragStarts, 0);
        // Qt's coarse timers may fire up to 5 % early.
        if (steps == QLatin1String("PR"))
            QVERIFY2(viewer.lastClickAt >= 280, qPrintable(QString::number(viewer.lastClickAt)));
    }

    void dragThreshold()
    {
        FakeViewer viewer;
        const int distance = QApplication::startDragDistance();
        QVERIFY(!viewer.move(QPoint(10, 10))); // no press yet

        viewer.press(Qt::LeftButton, QPoint(100, 100));
        QVERIFY(!viewer.move(QPoint(100 + distance, 100)));
        QVERIFY(!viewer.move(QPoint(100 + distance + 1, 100), Qt::RightButton)); // not a dragging button
        QCOMPARE(viewer.dragStarts, 0);
        QVERIFY(viewer.move(QPoint(100 + distance + 1, 100)));
        QVERIFY(viewer.move(QPoint(90, 130)));
        QCOMPARE(viewer.dragStarts, 1);
        QCOMPARE(viewer.dragDeltas, (QList<QPoint> { QPoint(-(distance + 1), 0), QPoint(10, -30) }));
        viewer.release(Qt::LeftButton, QPoint(90, 130));
        QCOMPARE(viewer.dragEnds, 1);
        QTest::qWait(kSettleMs);
        QCOMPARE(viewer.clicks, 0);
        QVERIFY(!viewer.move(QPoint(10, 10))); // released: no press any more
    }

    void pageParamsSignalChangesOnly()
    {
        // Sizes and column counts are brought into range (a failed settings conversion gives 0);
        // a value that changes nothing signals nothing.
        BookPageParams params;
        QSignalSpy fontSize(&params, &BookPageParams::fontSizeChanged);
        QSignalSpy columns(&params, &BookPageParams::columnCountChanged);
        for (int size : { 40, 32, 3, 8 })
            params.setFontSize(size);
        for (int count : { 2, 1, 0, 3 })
            params.setColumnCount(count);
        QCOMPARE(signalArguments(fontSize), (QList<QVariantList> { { 32 }, { 8 } }));
        QCOMPARE(signalArguments(columns), (QList<QVariantList> { { 1 }, { 2 } }));
    }

    void stylesInARealPage()
    {
        ViewerColors colors = dayColors();
        colors.background = QColor(QStringLiteral("#fbf0d9"));
        colors.text = QColor(QStringLiteral("#5f4b32"));
        m_params.setPageColors(colors);
        m_params.setTextAlignment(Enums::CenterTextAlign);
        m_params.setLineSpacing(150);
        ChapterPtr page = open(m_chapter);
        QVERIFY(page);
        const auto style = [&](const QString& selector, const QString& property) {
            return engineText(
                *page, QStringLiteral("getComputedStyle(document.querySelector('%1')).%2").arg(selector, property))
                .remove(QLatin1Char(' '));
        };
        QCOMPARE(style(QStringLiteral("body"), QStringLiteral("backgroundColor")), QStringLiteral("rgb(251,240,217)"));
        QCOMPARE(style(QStringLiteral("p"), QStringLiteral("color")), QStringLiteral("rgb(95,75,50)"));
        QCOMPARE(style(QStringLiteral("p"), QStringLiteral("textAlign")), QStringLiteral("center"));
        QCOMPARE(style(QStringLiteral("p"), QStringLiteral("lineHeight")), QStringLiteral("30px")); // 150 % of 20 px
        QCOMPARE(
            style(QStringLiteral(".rednote"), QStringLiteral("backgroundColor")), QStringLiteral("rgb(243,162,162)"));
        QVERIFY(
            style(QStringLiteral("#under"), QStringLiteral("textDecoration")).startsWith(QLatin1String("underline")));

        // A second application replaces the rules instead of adding to them.
        m_params.setTextAlignment(Enums::RightTextAlign);
        page->applyPageParams(&m_params);
        QCOMPARE(style(QStringLiteral("p"), QStringLiteral("textAlign")), QStringLiteral("right"));
        QCOMPARE(
            engineInt(*page, QStringLiteral("document.querySelectorAll('style[id^=\"body_style_2_\"]').length")), 1);
        m_params.setPageColors(dayColors());
        m_params.setTextAlignment(Enums::JustifyTextAlign);
        m_params.setLineSpacing(110);
    }

    void pageFormatAndFonts()
    {
        ChapterPtr page = open(m_chapter, 1, false);
        QVERIFY(page);
        QSignalSpy count(page.get(), &TextBookChapter::pageCountChanged);
        QSignalSpy current(page.get(), &TextBookChapter::currentPageChanged);
        QSignalSpy formatted(page.get(), &TextBookChapter::pageFormattingChanged);
        m_params.setFontSize(20);
        page->applyPageParams(&m_params);
        QCOMPARE(count.count(), 1);
        QCOMPARE(current.count(), 1);
        QCOMPARE(formatted.count(), 1);
        const int pages = page->pageCount();
        QVERIFY2(pages >= 6, qPrintable(QString::number(pages)));
        QCOMPARE(page->currentPage(), 1);
        QCOMPARE(pages, engineInt(*page, QStringLiteral("page.count")));

        // The same format again: only the formatting is reported.
        page->applyPageParams(&m_params);
        QCOMPARE(count.count(), 1);
        QCOMPARE(current.count(), 1);
        QCOMPARE(formatted.count(), 2);

        // A narrower window alone: more pages, reported.
        m_params.setWidth(500);
        page->setViewportSize(QSize(500, 600));
        page->applyPageParams(&m_params);
        QCOMPARE(count.count(), 2);
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
        QCOMPARE(widths().first, widths().second); // monospaced
        m_params.setFontFamily(QStringLiteral("ORIGINAL FONT"));
        probe->applyPageParams(&m_params);
        QVERIFY(probe->settings()->fontFamily(QWebSettings::StandardFont) != QLatin1String("DejaVu Sans Mono"));
        QVERIFY(widths().first < widths().second);
        m_params.setFontFamily(QStringLiteral("Original font"));

        // Colours alone go through their own script.
        ViewerColors colors = dayColors();
        colors.background = QColor(QStringLiteral("#102030"));
        m_params.setPageColors(colors);
        page->applyPageColors(&m_params);
        QCOMPARE(engineText(*page, QStringLiteral("getComputedStyle(document.body).backgroundColor")),
            QStringLiteral("rgb(16, 32, 48)"));
        m_params.setPageColors(dayColors());
    }

    void readingPositions_data()
    {
        QTest::addColumn<QString>("columns");
        QTest::addColumn<QString>("position");
        // The expected first page on screen: a number, or what the engine gives for a script; none
        // for a position that leaves the page where it was.
        QTest::addColumn<QString>("expected");
        addTextRows({
            { "page 3", "1", "3", "3" },
            { "page 4 of two columns", "2", "4", "3" },
            { "anchor", "1", "#mid", "getPageByKelLink('#mid')" },
            { "start any case", "1", "StArT", "1" },
            { "end any case", "1", "END", "page.count" },
            { "end of two columns", "2", "end", "page.count - 1" },
            { "element path", "1", "/html[1]/body[1]/div[1]/div[1]/p[@]", "getPageByKelLink('#closing')" },
            { "path with offset", "1", "/html[1]/body[1]/div[1]/div[1]/p[@]&offset=5", "getPageByKelLink('#closing')" },
            { "none of these", "1", "chapter", nullptr },
            { "page 0", "1", "0", nullptr },
            { "past the end", "1", "999", nullptr },
            { "unknown anchor", "1", "#nowhere", nullptr },
            { "unknown path", "1", "/html[1]/body[1]/div[1]/div[1]/p[999]", nullptr },
        });
    }

    void readingPositions()
    {
        QFETCH(QString, columns);
        QFETCH(QString, position);
        QFETCH(QString, expected);
        const int screen = columns.toInt(); // pages
        ChapterPtr page = open(m_chapter, screen);
        QVERIFY(page);
        // Start away from the first screen, so a move that does nothing shows.
        QVERIFY(page->setReadingPosition(QStringLiteral("#mid")));
        const int before = page->currentPage();
        QVERIFY(before > screen);

        position.replace(
            QLatin1String("[@]"), QStringLiteral("[%1]").arg(siblingIndex(*page, QStringLiteral("closing"))));
        int want = before;
        if (!expected.isNull()) {
            bool isNumber = false;
            want = expected.toInt(&isNumber);
            if (!isNumber)
                want = engineInt(*page, expected);
            want -= (want - 1) % screen; // the first page of its screen
        }
        QSignalSpy current(page.get(), &TextBookChapter::currentPageChanged);
        QVERIFY(page->setReadingPosition(position));
        QCOMPARE(current.count(), 1); // in every case
        QCOMPARE(page->currentPage(), want);
        QCOMPARE(engineInt(*page, QStringLiteral("page.current")), want);
    }

    void turningPages_data()
    {
        QTest::addColumn<int>("columns");
        QTest::newRow("one column") << 1;
        QTest::newRow("two columns") << 2;
    }

    void turningPages()
    {
        QFETCH(int, columns);
        ChapterPtr page = open(m_chapter, columns);
        QVERIFY(page);
        const int count = page->pageCount();
        QSignalSpy current(page.get(), &TextBookChapter::currentPageChanged);
        QSignalSpy nextChapter(page.get(), &TextBookChapter::nextChapterRequest);
        QSignalSpy prevChapter(page.get(), &TextBookChapter::prevChapterRequest);
        // The screen shown: the content moved left by a page width per page, half a gap in.
        const auto shows = [&](int first) {
            return page->currentPage() == first
                && engineText(*page, QStringLiteral("document.getElementById('%1').style.left").arg(kUid + "0"))
                == QStringLiteral("%1px").arg((first - 1) * -(800 / columns) + 30);
        };

        page->prev(); // on the first screen: the previous chapter is asked for
        QCOMPARE(prevChapter.count(), 1);
        QVERIFY(shows(1));

        int turns = 0;
        while (nextChapter.isEmpty() && turns <= count) {
            const int before = page->currentPage();
            page->next();
            if (nextChapter.isEmpty()) {
                ++turns;
                QVERIFY(shows(before + columns));
                QCOMPARE(current.count(), turns);
            }
        }
        QCOMPARE(nextChapter.count(), 1);
        QVERIFY(shows(count - columns + 1)); // the last screen, unchanged
        QCOMPARE(turns, count / columns - 1);

        page->prev();
        QVERIFY(shows(count - 2 * columns + 1));
        QCOMPARE(prevChapter.count(), 1);
    }

    void linkPages_data()
    {
        QTest::addColumn<QString>("linkSource");
        QTest::addColumn<int>("pageMode");
        QTest::addColumn<int>("offset");
        // What the engine is asked for, evaluated by the test; "" for no page at all.
        QTest::addColumn<QString>("engineLink");

        const QString encoded = QString::fromLatin1(QUrl::toPercentEncoding("/html[1]/body[1]/div[1]/div[1]/p[@mid]"));
        QTest::newRow("anchor") << kSource + "#mid" << 1 << 10 << "#mid";
        QTest::newRow("reading path") << kSource + "?kelpath=" + encoded << 1 << 0 << "kelpath=" + encoded;
        QTest::newRow("note link cut at the offset")
            << kSource + "?kelpath=" + encoded + "&offset=12" << 1 << 5 << "kelpath=" + encoded;
        QTest::newRow("other page mode") << kSource + "#closing" << 2 << 3 << "#closing";
        QTest::newRow("unknown anchor keeps no page") << kSource + "#nowhere" << 1 << 10 << QString();
        QTest::newRow("unresolvable path") << kSource + "?kelpath=%2Fnothing%5B9%5D" << 1 << 10 << QString();
    }

    void linkPages()
    {
        QFETCH(QString, linkSource);
        QFETCH(int, pageMode);
        QFETCH(int, offset);
        QFETCH(QString, engineLink);
        ChapterPtr page = open(m_chapter);
        QVERIFY(page);
        const QString midIndex = QStringLiteral("%5B%1%5D").arg(siblingIndex(*page, QStringLiteral("mid")));
        linkSource.replace(QLatin1String("%5B%40mid%5D"), midIndex);
        engineLink.replace(QLatin1String("%5B%40mid%5D"), midIndex);

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

    void notes()
    {
        ChapterPtr page = open(m_chapter);
        QVERIFY(page);
        QVERIFY(page->setReadingPosition(QStringLiteral("#marked")));
        QSignalSpy created(page.get(), &TextBookChapter::newNoteCreated);
        page->createNoteFromSelection(QStringLiteral("n0"), NoteItem::Blue); // no selection: no note
        QCOMPARE(created.count(), 0);

        const QString selected = selectText(*page, QStringLiteral("marked"), 4, 19);
        QCOMPARE(selected, QStringLiteral("quick brown fox"));
        page->createNoteFromSelection(QStringLiteral("n1"), NoteItem::Red);
        QCOMPARE(created.count(), 1);
        const NoteItem note = created.at(0).at(0).value<NoteItem>();
        QCOMPARE(QVariantList({ note.id, note.color, note.chapter, note.context, note.startOffset, note.endOffset }),
            QVariantList({ "n1", NoteItem::Red, kSource, selected, 4, 19 }));
        QVERIFY(note.startPath.startsWith(QLatin1String("/html[1]/body[1]/div[1]/div[1]/p[")));
        QCOMPARE(note.endPath, note.startPath);
        QCOMPARE(
            note.link->source, TextBookChapter::readingLink(kSource, note.startPath) + QStringLiteral("&offset=4"));
        // The path is percent-encoded whole, so a link holds no quote, markup or second "&".
        QCOMPARE(TextBookChapter::readingLink(QStringLiteral("a b.xhtml"), QStringLiteral("/html[1]/p[2]&offset=3é~")),
            QStringLiteral("a b.xhtml?kelpath=%2Fhtml%5B1%5D%2Fp%5B2%5D%26offset%3D3%C3%A9~"));
        QVERIFY(note.date.isValid());
        const QVariant marks = markBoxes(*page, note.id);
        QCOMPARE(markClass(*page, note.id), QStringLiteral("rednote"));

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
        QCOMPARE(markClass(*reopened, second.id), QStringLiteral("underlinenote"));
        QCOMPARE(
            engineInt(*reopened, QStringLiteral("document.getElementById('kelnotes_%1').childNodes.length").arg(kUid)),
            2);

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
    }

    void hostileTextIsEscaped()
    {
        ChapterPtr page = open(m_chapter);
        QVERIFY(page);
        const QStringList hostile = { QStringLiteral("x');window.pwned=1;('"),
            QStringLiteral("x\\');window.pwned=1;//"), QStringLiteral("x\");window.pwned=1;//"),
            QStringLiteral("x\n');window.pwned=1;//"), QStringLiteral("x\u2028');window.pwned=1;//"),
            QStringLiteral("</script><script>window.pwned=1</script>") };

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
            QCOMPARE(markClass(*page, id), QStringLiteral("red'xnote"));
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
        QCOMPARE(markClass(*page, QStringLiteral("strange")), QStringLiteral("note"));
        for (const QString& text : hostile)
            QVERIFY(markBoxes(*page, text).isNull());
        QVERIFY(!pwned(*page));
    }
};

QTEST_MAIN(TestReadingCore)
#include "tst_readingcore.moc"
