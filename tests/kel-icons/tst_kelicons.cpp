// Icons: loading, state variants, caches, painting and bounds; the event watchers.
#include "../kel-effects/widgetimages.h"
#include "../kelapp/kelapptest.h"
#include "windowwaits.h"

#include "animators/kelwidgetstateanimator.h"
#include "eventfilters/kelchildwatcher.h"
#include "eventfilters/kelgeometrywatcher.h"
#include "eventfilters/kelglobalmousewatcher.h"
#include "eventfilters/kelscrollareawatcher.h"
#include "eventfilters/keltooltipeventfilter.h"
#include "kelapplication.h"
#include "kelui.h"
#include "painting/kelicon.h"
#include "painting/keliconsprovider.h"
#include "painting/kelqicon.h"
#include "painting/kelsvgicon.h"
#include "testfiles.h"
#include "utils/kelpixmapcache.h"

#include <QLabel>
#include <QPainter>
#include <QRegularExpression>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QToolTip>
#include <QWindow>
#include <QtTest>

#include <memory>

Q_DECLARE_METATYPE(Qt::MouseButton)

using namespace KelPainting;

namespace {

const QColor green(0, 255, 0);
const QColor red(255, 0, 0);
const QColor blue(0, 0, 255);
const QColor transparent(0, 0, 0, 0);

// Two colour halves side by side, left and right.
void writePng(const QString& path, const QSize& size, const QColor& left, const QColor& right)
{
    QImage image(size, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    for (int y = 0; y < size.height(); ++y)
        for (int x = 0; x < size.width(); ++x)
            image.setPixelColor(x, y, x < size.width() / 2 ? left : right);
    QVERIFY(image.save(path, "PNG"));
}

// Compares with a tolerance for the rounding of blends; transparent pixels match whatever their colour.
bool pixelIs(const QPixmap& pixmap, int x, int y, const QColor& expected, int tolerance = 3)
{
    const QColor actual = pixmap.toImage().pixelColor(x, y);
    if (expected.alpha() == 0 || actual.alpha() == 0)
        return qAbs(actual.alpha() - expected.alpha()) <= tolerance;
    return sameColor(actual, expected, tolerance);
}

KelPixmapCache* iconsCache() { return KelUi::instance()->iconsCache(); }

KelIconsProvider* provider() { return KelIconsProvider::instance(); }

// An icon the application draws itself; it counts its deletions.
class DrawnIcon : public KelIcon {
public:
    DrawnIcon(const QString& name, int* deletions)
        : m_deletions(deletions)
    {
        setName(name);
        setDefaultSize(QSize(4, 4));
    }
    ~DrawnIcon() override { ++*m_deletions; }
    bool isValid() const override { return true; }

private:
    int* m_deletions;
};

// Counts the enter and leave events it gets and where the last enter happened.
class HoverRecorder : public QWidget {
public:
    using QWidget::QWidget;
    int enters = 0;
    int leaves = 0;
    QPoint lastEnterPos;
    void reset() { enters = leaves = 0; }

protected:
    void enterEvent(QEvent* event) override
    {
        ++enters;
        if (event->type() == QEvent::Enter)
            lastEnterPos = static_cast<QEnterEvent*>(event)->pos();
    }
    void leaveEvent(QEvent*) override { ++leaves; }
};

QWidget* addChild(QWidget* parent, const QRect& geometry)
{
    auto* child = new QWidget(parent);
    child->setGeometry(geometry);
    return child;
}

bool showAndWait(QWidget& window)
{
    window.show();
    return QTest::qWaitForWindowExposed(&window, windowwaits::kTimeoutMs);
}

// Moves the mouse over the window the way the system does, to a point in the window's coordinates.
void moveMouse(QWidget& window, const QPoint& pos) { QTest::mouseMove(window.windowHandle(), pos); }

// Where the system reports a logical global position: scaled by the ratio around the screen's origin.
QPoint expectedRaw(const QWidget& window, const QPoint& logicalGlobal)
{
    const QPoint origin = window.windowHandle()->screen()->geometry().topLeft();
    return (logicalGlobal - origin) * window.devicePixelRatioF() + origin;
}

} // namespace

class TestKelIcons : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        qRegisterMetaType<Qt::MouseButton>();
        QCOMPARE(QGuiApplication::primaryScreen()->devicePixelRatio(),
            qEnvironmentVariable("QT_SCALE_FACTOR", QStringLiteral("1")).toDouble());
        QVERIFY(m_dir.isValid());
        // Left half opaque blue, right half blue at half alpha; the hovered variant is green.
        writePng(file("close.png"), QSize(8, 8), blue, QColor(0, 0, 255, 128));
        writePng(file("closeHigh.png"), QSize(8, 8), green, green);
        writePng(file("bad.png"), QSize(8, 8), blue, blue);
        QVERIFY(testfiles::write(file("badHigh.png"), "this is not an image at all"));
        QVERIFY(testfiles::write(file("garbage.png"), "this is not an image at all"));
        writePng(file("long.png"), QSize(5000, 1), blue, blue);
    }

    void failedLoadIsKeptUnderEmptyName()
    {
        // The extension picks the kind in any case; a missing file gives the one null icon.
        QVERIFY(dynamic_cast<KelSvgIcon*>(provider()->icon(QStringLiteral(":/svg/wide.SVG"))));
        KelIcon* missing = provider()->icon(QStringLiteral(":/svg/nothing-here.svg"));
        QVERIFY(!missing->isValid());
        QCOMPARE(provider()->icon(QStringLiteral("no such name")), missing);
        QTest::ignoreMessage(
            QtWarningMsg, QRegularExpression("^Can't load icon file: .*garbage.png returned size is null$"));
        KelIcon* garbage = provider()->icon(file("garbage.png"));
        QVERIFY(!garbage->isValid());
        QCOMPARE(provider()->icon(QString()), garbage);
        QTest::ignoreMessage(QtCriticalMsg, "Pixmap requested for invalid KelQIcon: path: ");
        QVERIFY(garbage->pixmap(1.0, QSize(8, 8), QColor(), Normal).isNull());
        // The next request loads the file again; the earlier icon stays usable for whoever holds it.
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("^Can't load icon file:"));
        QVERIFY(provider()->icon(file("garbage.png")) != garbage);

        QVERIFY(!provider()->icon(QStringLiteral(":/svg/broken.svg"))->isValid());
    }

    void registeredIconsAndOwnership()
    {
        int deletions = 0;
        {
            KelIconsProvider local;
            auto* first = new DrawnIcon(QStringLiteral("drawn-check"), &deletions);
            local.registerIcon(first);
            QTest::ignoreMessage(QtWarningMsg, "drawn-check is already registered in IconsProvider");
            local.registerIcon(new DrawnIcon(QStringLiteral("drawn-check"), &deletions));
            QCOMPARE(local.icon(QStringLiteral("drawn-check")), first);
            QTest::ignoreMessage(QtWarningMsg, "drawn-check is already registered in IconsProvider");
            local.registerIcon(first);
            QTest::ignoreMessage(QtWarningMsg, "Trying to register null icon");
            local.registerIcon(nullptr);
            QCOMPARE(deletions, 0);
        }
        // The refused icon goes with the provider too, and nothing is deleted twice.
        QCOMPARE(deletions, 2);
    }

    void stateVariantsAndFallbacks()
    {
        // square.svg has hovered and pressed files only: checked states fall back to the pressed drawing.
        KelIcon* square = provider()->icon(QStringLiteral(":/svg/square.svg"));
        const QList<QPair<WidgetState, QColor>> svgRows
            = { { Normal, transparent }, { Hovered, green }, { Pressed, red }, { Disabled, transparent },
                  { Checked, red }, { CheckedHovered, red }, { CheckedPressed, red }, { CheckedDisabled, red } };
        for (const auto& row : svgRows)
            QVERIFY2(pixelIs(square->pixmap(1.0, QSize(), QColor(), row.first), 12, 8, row.second),
                qPrintable(QString::number(row.first)));
        QVERIFY(square->pixmap(1.0, QSize(), QColor(), WidgetState(0)).isNull());

        // close.png has a hovered file only.
        KelIcon* close = provider()->icon(file("close.png"));
        QVERIFY(pixelIs(close->pixmap(1.0, QSize(), QColor(), Hovered), 1, 1, green));
        for (WidgetState state : { Normal, Pressed, CheckedHovered, CheckedDisabled })
            QVERIFY(pixelIs(close->pixmap(1.0, QSize(), QColor(), state), 1, 1, blue));
        // Raster images are not enlarged: the file's 8 x 8 sits in the middle of a larger canvas.
        const QPixmap canvas = close->pixmap(2.0, QSize(16, 16), QColor(), Normal);
        QCOMPARE(canvas.size(), QSize(32, 32));
        QVERIFY(pixelIs(canvas, 7, 8, transparent) && pixelIs(canvas, 8, 8, blue));
        QVERIFY(pixelIs(canvas, 23, 23, QColor(0, 0, 255, 128)));

        // A variant file that exists but does not decode gives no fallback: the state draws nothing.
        KelIcon* bad = provider()->icon(file("bad.png"));
        QVERIFY(!bad->pixmap(1.0, QSize(), QColor(), Normal).isNull());
        QVERIFY(bad->pixmap(1.0, QSize(), QColor(), Hovered).isNull());
        QVERIFY(bad->pixmap(1.0, QSize(), QColor(), WidgetState(3)).isNull());
    }

    void cacheHits()
    {
        KelPixmapCache* cache = iconsCache();
        KelIcon* square = provider()->icon(QStringLiteral(":/svg/square.svg"));
        const int before = cache->count();
        const QPixmap first = square->pixmap(2.0, QSize(20, 20), QColor(1, 2, 3, 200), Pressed);
        QCOMPARE(square->pixmap(2.0, QSize(20, 20), QColor(1, 2, 3, 200), Pressed).cacheKey(), first.cacheKey());
        QCOMPARE(cache->count(), before + 1);
        // The colour's alpha is part of the SVG key but not of the raster one.
        square->pixmap(1.0, QSize(), QColor(9, 9, 9, 255), Normal);
        square->pixmap(1.0, QSize(), QColor(9, 9, 9, 100), Normal);
        QCOMPARE(cache->count(), before + 3);
        KelIcon* close = provider()->icon(file("close.png"));
        close->pixmap(1.5, QSize(), QColor(9, 9, 9, 255), Normal);
        close->pixmap(1.5, QSize(), QColor(9, 9, 9, 100), Normal);
        QCOMPARE(cache->count(), before + 4);
    }

    void stateFades_data()
    {
        QTest::addColumn<bool>("checked");
        QTest::addColumn<bool>("pressed");
        QTest::addColumn<bool>("disabled");
        QTest::addColumn<double>("hovered");
        QTest::addColumn<double>("pressedProgress");
        QTest::addColumn<QColor>("tint");
        QTest::addColumn<QColor>("left");
        QTest::addColumn<QColor>("right");
        const QColor none;
        QTest::newRow("hovered half way")
            << false << false << false << 0.5 << 0.0 << none << QColor(0, 128, 0) << QColor(0, 255, 0, 128);
        QTest::newRow("pressed a quarter")
            << false << true << false << 1.0 << 0.25 << none << QColor(64, 0, 0) << QColor(255, 0, 0, 64);
        // 1 - 1 x 0.6 of the base dimming; no hover shows on a disabled widget.
        QTest::newRow("disabled") << false << false << true << 1.0 << 0.0 << none << QColor(0, 0, 0, 102)
                                  << transparent;
        QTest::newRow("checked hovered") << true << false << false << 1.0 << 0.0 << none << red << red;
        QTest::newRow("tinted draws the base only")
            << false << true << true << 1.0 << 1.0 << QColor(255, 255, 255) << QColor(255, 255, 255) << transparent;
    }
    void stateFades()
    {
        QFETCH(bool, checked);
        QFETCH(bool, pressed);
        QFETCH(bool, disabled);
        QFETCH(double, hovered);
        QFETCH(double, pressedProgress);
        QFETCH(QColor, tint);
        QFETCH(QColor, left);
        QFETCH(QColor, right);
        KelWidgetStateAnimator animator(0);
        animator.setChecked(checked, false);
        animator.setPressed(pressed, false);
        animator.setDisabled(disabled, false);
        animator.setHoveredProgress(hovered);
        animator.setPressedProgress(pressedProgress);
        KelIcon* square = provider()->icon(QStringLiteral(":/svg/square.svg"));
        for (double ratio : { 1.0, 2.0 }) {
            const QPixmap pixmap = square->statePixmap(ratio, QSize(), tint, &animator);
            QCOMPARE(pixmap.size(), QSize(16, 16) * ratio);
            QVERIFY(pixelIs(pixmap, int(2 * ratio), int(8 * ratio), left, 4));
            QVERIFY(pixelIs(pixmap, int(12 * ratio), int(8 * ratio), right, 4));
        }
    }

    void paintSnapsAndAligns_data()
    {
        QTest::addColumn<double>("ratio");
        QTest::addColumn<QRect>("rect");
        QTest::addColumn<int>("alignment");
        QTest::addColumn<QPoint>("firstInkDevicePixel");
        const int topLeft = int(Qt::AlignLeft | Qt::AlignTop);
        // At 1.25 the corner at 3 moves to 3.2, on device pixel 4.
        QTest::newRow("fractional ratio") << 1.25 << QRect(3, 3, 20, 20) << topLeft << QPoint(4, 4);
        QTest::newRow("centred") << 1.0 << QRect(0, 0, 32, 32) << int(Qt::AlignCenter) << QPoint(8, 8);
        QTest::newRow("bottom right") << 1.0 << QRect(0, 0, 32, 32) << int(Qt::AlignRight | Qt::AlignBottom)
                                      << QPoint(16, 16);
    }
    void paintSnapsAndAligns()
    {
        QFETCH(double, ratio);
        QFETCH(QRect, rect);
        QFETCH(int, alignment);
        QFETCH(QPoint, firstInkDevicePixel);
        KelIcon* square = provider()->icon(QStringLiteral(":/svg/square.svg"));
        QImage image = makeImage(QSize(40, 40), ratio);
        QPainter painter(&image);
        square->paint(&painter, rect, Qt::Alignment(alignment), QSize(), QColor(), Normal);
        painter.end();
        const QPoint ink = firstInkDevicePixel;
        QCOMPARE(qAlpha(image.pixel(ink.x(), ink.y() + 3)), 255);
        QCOMPARE(qAlpha(image.pixel(ink.x() - 1, ink.y() + 3)), 0);
        QCOMPARE(qAlpha(image.pixel(ink.x() + 3, ink.y())), 255);
        QCOMPARE(qAlpha(image.pixel(ink.x() + 3, ink.y() - 1)), 0);
    }

    void sizesAreBounded()
    {
        // A file whose declared size is absurd renders at most 4096 device pixels a side.
        KelIcon* huge = provider()->icon(QStringLiteral(":/svg/huge.svg"));
        QCOMPARE(huge->defaultSize(), QSize(100000, 50000));
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("^Icon size bounded:"));
        QCOMPARE(huge->pixmap(1.0, QSize(), QColor(), Normal).size(), QSize(4096, 2048));
        KelIcon* square = provider()->icon(QStringLiteral(":/svg/square.svg"));
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("^Icon size bounded:"));
        const QPixmap pixmap = square->pixmap(2.0, QSize(3000, 1000), QColor(Qt::red), Normal);
        QVERIFY(pixmap.width() <= 4096 && pixmap.height() <= 4096);
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("^Icon size bounded:"));
        QVERIFY(square->createPixmap(1.0, QSize(1 << 20, 8)).width() <= 4096);
        for (double ratio : { 0.0, -1.0, 1000.0, std::nan("") }) {
            QTest::ignoreMessage(QtWarningMsg, QRegularExpression("^Invalid size requested for KelSvgIcon: "));
            QVERIFY(square->pixmap(ratio, QSize(16, 16), QColor(), Normal).isNull());
        }
        // A raster file larger than any icon is refused before it is decoded.
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("is too large"));
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("^Can't load icon file:"));
        QVERIFY(!provider()->icon(file("long.png"))->isValid());
    }

    void globalMouseWatchersReportMovesAndPresses()
    {
        QWidget window;
        window.setGeometry(40, 50, 200, 150);
        // Presses on the child also travel to its parent.
        addChild(&window, QRect(100, 0, 100, 150));
        QVERIFY(showAndWait(window));
        auto* watcher = new KelGlobalMouseWatcher;
        QSignalSpy moved(watcher, &KelGlobalMouseWatcher::mouseMoved);
        QSignalSpy pressed(watcher, &KelGlobalMouseWatcher::mousePressed);
        moveMouse(window, QPoint(10, 20));
        // The same point again is no move.
        QMouseEvent again(QEvent::MouseMove, QPointF(10, 20), QPointF(window.mapToGlobal(QPoint(10, 20))), Qt::NoButton,
            Qt::NoButton, Qt::NoModifier);
        QCoreApplication::sendEvent(window.windowHandle(), &again);
        moveMouse(window, QPoint(150, 30));
        QCOMPARE(moved.count(), 2);
        QCOMPARE(moved.at(1).at(0).toPoint(), expectedRaw(window, window.mapToGlobal(QPoint(150, 30))));
        // A press on a child reaches the child and its parents, but is reported once.
        QTest::mousePress(window.windowHandle(), Qt::RightButton, Qt::NoModifier, QPoint(150, 30));
        QTest::mouseRelease(window.windowHandle(), Qt::RightButton, Qt::NoModifier, QPoint(150, 30));
        QCOMPARE(pressed.count(), 1);
        QCOMPARE(pressed.at(0).at(0).toPoint(), expectedRaw(window, window.mapToGlobal(QPoint(150, 30))));
        QCOMPARE(pressed.at(0).at(1).value<Qt::MouseButton>(), Qt::RightButton);

        // Watchers share one filter, which goes with the last of them.
        auto first = std::make_unique<KelGlobalMouseWatcher>();
        auto* second = new KelGlobalMouseWatcher;
        auto* third = new KelGlobalMouseWatcher;
        QSignalSpy secondMoved(second, &KelGlobalMouseWatcher::mouseMoved);
        // A listener that deletes a watcher still due in the same pass.
        connect(first.get(), &KelGlobalMouseWatcher::mouseMoved, this, [&third]() {
            delete third;
            third = nullptr;
        });
        moveMouse(window, QPoint(5, 5));
        QVERIFY(!third);
        QCOMPARE(secondMoved.count(), 1);
        delete second;
        delete watcher;
        QVERIFY(KelGlobalMouseWatcher::isHookInstalled());
        first.reset();
        QVERIFY(!KelGlobalMouseWatcher::isHookInstalled());
    }

    void geometryWatcherModes()
    {
        QWidget window;
        window.setGeometry(100, 100, 300, 200);
        QWidget* child = addChild(addChild(&window, QRect(10, 10, 200, 150)), QRect(5, 6, 50, 40));
        QVERIFY(showAndWait(window));
        auto* inParent = new KelGeometryWatcher(child, KelGeometryWatcher::WidgetGeometry);
        auto* inWindow = new KelGeometryWatcher(child, KelGeometryWatcher::WindowGeometry);
        auto* onScreen = new KelGeometryWatcher(child, KelGeometryWatcher::ScreenGeometry);
        QSignalSpy geometry(inParent, &KelGeometryWatcher::geometryChanged);
        QSignalSpy visibility(inParent, &KelGeometryWatcher::visibilityChanged);
        QSignalSpy windowRects(inWindow, &KelGeometryWatcher::windowGeometryChanged);
        QSignalSpy screenRects(onScreen, &KelGeometryWatcher::screenGeometryChanged);

        child->move(8, 9);
        child->resize(60, 40);
        QCOMPARE(geometry.count(), 2);
        QCOMPARE(geometry.at(1).at(0).toRect(), QRect(8, 9, 60, 40));
        QCOMPARE(windowRects.at(0).at(0).toRect(), QRect(18, 19, 50, 40));
        child->hide();
        child->show();
        QCOMPARE(visibility.count(), 2);
        QCOMPARE(geometry.count(), 2); // showing again at the same place is no geometry change

        // The window moves, the child stays where it is in it: only its place on the screen changes.
        const int screenChanges = screenRects.count();
        window.move(160, 130);
        QTRY_COMPARE(screenRects.count(), screenChanges + 1);
        QCOMPARE(screenRects.last().at(0).toRect(), QRect(child->mapToGlobal(QPoint(0, 0)), QSize(60, 40)));
        QCOMPARE(windowRects.count(), 2);
        QCOMPARE(geometry.count(), 2);
    }

    void geometryWatcherFollowsReparenting()
    {
        QWidget first;
        first.setGeometry(100, 100, 200, 200);
        QWidget second;
        second.setGeometry(400, 100, 200, 200);
        auto* child = addChild(&first, QRect(10, 10, 30, 30));
        QVERIFY(showAndWait(first));
        QVERIFY(showAndWait(second));
        auto* watcher = new KelGeometryWatcher(child, KelGeometryWatcher::ScreenGeometry);
        QSignalSpy parents(watcher, &KelGeometryWatcher::parentWidgetChanged);
        QSignalSpy screenRects(watcher, &KelGeometryWatcher::screenGeometryChanged);
        child->setParent(&second);
        child->show();
        QCOMPARE(parents.at(0).at(0).value<QWidget*>(), &second);
        // The filter went with the child: the old window no longer counts, the new one does.
        const int before = screenRects.count();
        first.move(120, 120);
        QTest::qWait(20);
        QCOMPARE(screenRects.count(), before);
        second.move(420, 120);
        QTRY_COMPARE(screenRects.count(), before + 1);
    }

    void childWatcherWithoutRecursion()
    {
        QWidget window;
        window.setGeometry(100, 100, 300, 100);
        auto* early = addChild(&window, QRect(0, 0, 100, 100));
        QVERIFY(showAndWait(window));
        KelChildWatcher watcher(KelChildWatcher::WatchAdded | KelChildWatcher::WatchRemoved
                | KelChildWatcher::WatchEnter | KelChildWatcher::WatchLeave,
            &window);
        QSignalSpy added(&watcher, &KelChildWatcher::childWidgetAdded);
        QSignalSpy removed(&watcher, &KelChildWatcher::childWidgetRemoved);
        QSignalSpy entered(&watcher, &KelChildWatcher::childWidgetEntered);
        QSignalSpy leaved(&watcher, &KelChildWatcher::childWidgetLeaved);
        auto* late = addChild(&window, QRect(100, 0, 100, 100));
        late->show();
        new QObject(&window); // not a widget
        QCOMPARE(added.count(), 1);
        QVERIFY(!watcher.isTracked(early));

        // Only the child added afterwards reports the mouse.
        for (int x : { 50, 150, 250, 50 })
            moveMouse(window, QPoint(x, 50));
        QCOMPARE(entered.count(), 1);
        QCOMPARE(entered.at(0).at(0).value<QWidget*>(), late);
        QCOMPARE(leaved.count(), 1);
        const QObject* lateObject = late;
        delete late;
        // The pointer of a deleted child is only compared.
        QCOMPARE(*static_cast<QObject* const*>(removed.at(0).at(0).constData()), lateObject);
    }

    void childWatcherRecursive()
    {
        QWidget window;
        window.setGeometry(100, 100, 300, 100);
        QWidget* panel = addChild(&window, QRect(0, 0, 200, 100));
        QWidget* inner = addChild(panel, QRect(100, 0, 100, 100));
        QVERIFY(showAndWait(window));
        KelChildWatcher watcher(
            KelChildWatcher::WatchAdded | KelChildWatcher::WatchEnter | KelChildWatcher::Recursive, &window, this);
        QSignalSpy added(&watcher, &KelChildWatcher::childWidgetAdded);
        QSignalSpy entered(&watcher, &KelChildWatcher::childWidgetEntered);
        auto* later = new QWidget(inner);
        QCOMPARE(added.count(), 1);
        QVERIFY(watcher.isTracked(later));
        moveMouse(window, QPoint(250, 50));
        moveMouse(window, QPoint(150, 50));
        QCOMPARE(entered.last().at(0).value<QWidget*>(), inner);
        // A sub-tree taken elsewhere leaves with its children.
        QWidget elsewhere;
        panel->setParent(&elsewhere);
        QVERIFY(!watcher.isTracked(inner));
        QVERIFY(!watcher.isTracked(later));
        new QWidget(inner);
        QCOMPARE(added.count(), 1);
    }

    void scrollAreaWatcherMovesHoverWithContent()
    {
        QScrollArea area;
        area.setGeometry(100, 100, 140, 120);
        area.setFrameShape(QFrame::NoFrame);
        area.setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        area.setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
        auto* content = new QWidget;
        content->resize(100, 400);
        QList<HoverRecorder*> items;
        for (int i = 0; i < 4; ++i) {
            items << new HoverRecorder(content);
            items.last()->setGeometry(0, i * 100, 100, 100);
        }
        area.setWidget(content);
        auto* watcher = new KelScrollAreaWatcher(&area);
        QVERIFY(showAndWait(area));
        QVERIFY((new QWidget(items[3]))->hasMouseTracking());

        // The mouse comes to rest over the first item.
        const QPoint global = area.viewport()->mapToGlobal(QPoint(50, 50));
        QCursor::setPos(global);
        QCoreApplication::processEvents();
        moveMouse(area, area.mapFromGlobal(global));
        QCOMPARE(watcher->hoveredWidget(), items[0]);
        for (HoverRecorder* item : qAsConst(items))
            item->reset();

        // The content scrolls under the still mouse: the hover goes from the first item to the second.
        area.verticalScrollBar()->setValue(100);
        QCOMPARE(items[0]->leaves, 1);
        QCOMPARE(items[1]->enters, 1);
        QCOMPARE(items[1]->lastEnterPos, QPoint(50, 50));

        // A relayout is checked on the next turn of the event loop.
        items[1]->move(0, 300);
        items[3]->move(0, 100);
        QCoreApplication::postEvent(area.viewport(), new QEvent(QEvent::LayoutRequest));
        QTRY_COMPARE(watcher->hoveredWidget(), items[3]);

        // The mouse leaves the viewport: so does the hover.
        QEvent leave(QEvent::Leave);
        QCoreApplication::sendEvent(area.viewport(), &leave);
        QCOMPARE(items[3]->leaves, 1);
        QVERIFY(!watcher->hoveredWidget());
    }

    void tooltipTextComputedWhenAsked()
    {
        QLabel label(QStringLiteral("Some text"));
        label.setGeometry(100, 100, 200, 40);
        QVERIFY(showAndWait(label));
        QString answer = QStringLiteral("Computed now");
        label.installEventFilter(new KelTooltipEventFilter(&label, [&](const QPoint&) { return answer; }));
        QHelpEvent help(QEvent::ToolTip, QPoint(12, 8), label.mapToGlobal(QPoint(12, 8)));
        QVERIFY(QCoreApplication::sendEvent(&label, &help));
        QTRY_VERIFY(QToolTip::isVisible());
        QCOMPARE(QToolTip::text(), QStringLiteral("Computed now"));
        // An empty answer hides the tooltip that is up.
        answer.clear();
        QHelpEvent again(QEvent::ToolTip, QPoint(30, 8), label.mapToGlobal(QPoint(30, 8)));
        QVERIFY(QCoreApplication::sendEvent(&label, &again));
        QTRY_VERIFY(!QToolTip::isVisible());
    }

private:
    QString file(const QString& name) const { return m_dir.filePath(name); }

    QTemporaryDir m_dir;
};

int main(int argc, char** argv)
{
    return runKelAppTest<KelApplication, TestKelIcons>(argc, argv, QStringLiteral("Kel Icons Test"));
}

#include "tst_kelicons.moc"
