// The scroll area over tall content: glides to a position on a clock only the test moves, the toolkit's
// scroll bar mirroring and driving it, edge shadows only where content lies hidden, smooth wheel scrolling
// and the auto-size mode.
#include "../kel-effects/animationclock.h"
#include "../kelapp/kelapptest.h"

#include "animators/kelwheelanimator.h"
#include "kelapplication.h"
#include "widgets/kellinearshadowwidget.h"
#include "widgets/kelscrollarea.h"
#include "widgets/kelscrollbar.h"

#include <QScrollBar>
#include <QVBoxLayout>
#include <QtTest>

#include <memory>

namespace {

const int kShadowType = 41;
const int kRowHeight = 50;
const int kRows = 40;

// A column of fixed-height rows, as tall as they are together.
QWidget* makeContent(int rows, QList<QWidget*>* rowWidgets = nullptr)
{
    auto* content = new QWidget;
    auto* layout = new QVBoxLayout(content);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    for (int i = 0; i < rows; ++i) {
        auto* row = new QWidget;
        row->setFixedHeight(kRowHeight);
        layout->addWidget(row);
        if (rowWidgets)
            rowWidgets->append(row);
    }
    return content;
}

// A 200 x 200 area over 2000 pixels of rows, inside a shown window, with the toolkit's vertical bar beside it.
struct Fixture {
    Fixture()
    {
        window.resize(300, 240);
        area = new KelScrollArea(&window);
        area->setGeometry(10, 20, 200, 200);
        area->setWidget(makeContent(kRows, &rows));
        bar = new KelScrollBar(-1, area, Qt::Vertical, KelScrollBar::VisibleWhenScrollable, &window);
        bar->setGeometry(220, 20, 12, 200);
        window.show();
        exposed = QTest::qWaitForWindowExposed(&window);
        area->wheelAnimator()->setClock([this] { return now; });
    }

    int value() const { return area->verticalScrollBar()->value(); }

    void wheel(int angle)
    {
        QWheelEvent event(QPointF(10, 10), QPointF(area->viewport()->mapToGlobal(QPoint(10, 10))), QPoint(),
            QPoint(0, angle), Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(area->viewport(), &event);
    }

    // Ticks the wheel animator on time until its burst is over.
    void drainWheel()
    {
        for (int ticks = 0; area->wheelAnimator()->isScrolling() && ticks < 1000; ++ticks) {
            now += 8;
            area->wheelAnimator()->tick();
        }
    }

    // Whether the strip ends up shown, once its fade is over.
    bool shadowShown(Qt::Edge edge)
    {
        runAnimations(&window);
        KelLinearShadowWidget* shadow = area->edgeShadow(edge);
        return shadow && shadow->isVisible();
    }

    QWidget window;
    KelScrollArea* area = nullptr;
    KelScrollBar* bar = nullptr;
    QList<QWidget*> rows;
    qint64 now = 1000;
    bool exposed = false;
};

} // namespace

class TestKelScrollArea : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { m_driver.install(); }
    void cleanupTestCase() { m_driver.uninstall(); }

    void animatedScrollGlidesToThePosition();
    void glideGivesWayToTheUser();
    void ensureRectVisible_data();
    void ensureRectVisible();
    void scrollToRefusesStrangers();
    void toolkitScrollBarMirrorsAndDrives();
    void edgeShadowsTrackTheScroll();
    void edgeShadowsFollowHidingAndReplacement();
    void wheelScrollsSmoothly();
    void autoSizeFollowsTheContent();
    void signalsOfGeometryAndVisibility();

private:
    FrozenAnimationDriver m_driver;
};

void TestKelScrollArea::animatedScrollGlidesToThePosition()
{
    Fixture f;
    QCOMPARE(f.area->verticalScrollBar()->maximum(), kRows * kRowHeight - 200);

    f.area->scrollToPosition(QPoint(0, 1000), true);
    // Nothing moves before the clock does.
    QCOMPARE(f.value(), 0);
    QVERIFY(f.area->isScrollAnimating());

    QList<int> values;
    for (int t = 0; t < 300 && f.area->isScrollAnimating(); t += 30) {
        advanceAnimations(f.area, 30);
        values << f.value();
        // The toolkit bar follows every step.
        QCOMPARE(f.bar->value(), f.value());
    }
    QVERIFY(!f.area->isScrollAnimating());
    QCOMPARE(f.value(), 1000);
    QCOMPARE(f.rows.first()->mapTo(&f.window, QPoint()).y() - f.area->y(), -1000);
    // Monotonic, fast at first and slow at the end.
    for (int i = 1; i < values.size(); ++i)
        QVERIFY(values.at(i) >= values.at(i - 1));
    QVERIFY(values.first() > 200);
    QVERIFY(values.at(values.size() - 1) - values.at(values.size() - 2) < values.at(1) - values.at(0));

    // A second glide starts from where the area stands, also back up; targets are clamped to the range.
    f.area->scrollToPosition(QPoint(0, 5000), true);
    advanceAnimations(f.area, 10);
    QVERIFY(f.value() >= 1000);
    runAnimations(f.area);
    QCOMPARE(f.value(), f.area->verticalScrollBar()->maximum());
    f.area->scrollToPosition(QPoint(0, 100), true);
    advanceAnimations(f.area, 150);
    QVERIFY(f.value() > 100 && f.value() < 1800);
    // Retargeted halfway: no jump back to the old start.
    const int halfway = f.value();
    f.area->scrollToPosition(QPoint(0, 0), true);
    QCOMPARE(f.value(), halfway);
    runAnimations(f.area);
    QCOMPARE(f.value(), 0);

    // Not animated: at once.
    f.area->scrollToPosition(QPoint(0, 640), false);
    QCOMPARE(f.value(), 640);
    QVERIFY(!f.area->isScrollAnimating());
}

void TestKelScrollArea::glideGivesWayToTheUser()
{
    Fixture f;
    f.area->scrollToPosition(QPoint(0, 1500), true);
    advanceAnimations(f.area, 60);
    QVERIFY(f.area->isScrollAnimating());
    // The user drags the toolkit bar: the glide stops where the user put it.
    f.bar->setValue(120);
    QVERIFY(!f.area->isScrollAnimating());
    runAnimations(f.area);
    QCOMPARE(f.value(), 120);

    // A non-animated move also ends a running glide.
    f.area->scrollToPosition(QPoint(0, 1500), true);
    advanceAnimations(f.area, 60);
    f.area->scrollToPosition(QPoint(0, 300), false);
    runAnimations(f.area);
    QCOMPARE(f.value(), 300);
}

void TestKelScrollArea::ensureRectVisible_data()
{
    QTest::addColumn<int>("start");
    QTest::addColumn<QRect>("rect");
    QTest::addColumn<int>("marginAbove");
    QTest::addColumn<int>("marginBelow");
    QTest::addColumn<int>("expected");
    // The viewport is 200 pixels high.
    QTest::newRow("inside") << 100 << QRect(0, 150, 50, 100) << 0 << 0 << 100;
    QTest::newRow("inside with margins") << 100 << QRect(0, 150, 50, 100) << 40 << 40 << 100;
    QTest::newRow("margin pokes out below") << 100 << QRect(0, 150, 50, 100) << 0 << 60 << 110;
    QTest::newRow("below: bottom aligned") << 0 << QRect(0, 1000, 50, 40) << 0 << 0 << 840;
    QTest::newRow("below with margin") << 0 << QRect(0, 1000, 50, 40) << 0 << 10 << 850;
    QTest::newRow("taller than the viewport: top") << 0 << QRect(0, 1000, 50, 500) << 0 << 0 << 1000;
    QTest::newRow("above: top aligned") << 1000 << QRect(0, 400, 50, 40) << 0 << 0 << 400;
    QTest::newRow("above with margin") << 1000 << QRect(0, 400, 50, 40) << 16 << 0 << 384;
}

void TestKelScrollArea::ensureRectVisible()
{
    QFETCH(int, start);
    QFETCH(QRect, rect);
    QFETCH(int, marginAbove);
    QFETCH(int, marginBelow);
    const QMargins margins(0, marginAbove, 0, marginBelow);
    QFETCH(int, expected);
    for (const bool animated : { false, true }) {
        Fixture f;
        f.area->verticalScrollBar()->setValue(start);
        f.area->setEnsureVisibleMargins(margins);
        f.area->ensureRectVisible(rect, animated);
        QCOMPARE(f.area->isScrollAnimating(), animated && expected != start);
        runAnimations(f.area);
        QCOMPARE(f.value(), expected);
    }
}

void TestKelScrollArea::scrollToRefusesStrangers()
{
    Fixture f;
    // A row below the view: its bottom lands on the viewport's bottom.
    f.area->scrollTo(f.rows.at(10), false);
    QCOMPARE(f.value(), 11 * kRowHeight - 200);
    f.area->scrollTo(f.rows.at(2), true);
    runAnimations(f.area);
    QCOMPARE(f.value(), 2 * kRowHeight);

    QWidget stranger(&f.window);
    QTest::ignoreMessage(
        QtWarningMsg, QRegularExpression("Trying to scroll to .* which is not ancestor of scroll area"));
    f.area->scrollTo(&stranger, true);
    QVERIFY(!f.area->isScrollAnimating());
    QCOMPARE(f.value(), 2 * kRowHeight);
    // Nothing at all for no widget.
    f.area->scrollTo(nullptr, false);
    QCOMPARE(f.value(), 2 * kRowHeight);
}

void TestKelScrollArea::toolkitScrollBarMirrorsAndDrives()
{
    Fixture f;
    QScrollBar* own = f.area->verticalScrollBar();
    QCOMPARE(f.area->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
    QVERIFY(!own->isVisible());
    QVERIFY(f.bar->isVisible());
    QCOMPARE(f.bar->maximum(), own->maximum());
    QCOMPARE(f.bar->pageStep(), own->pageStep());
    // The viewport has the whole width now that the area's own bar is off.
    QCOMPARE(f.area->viewport()->width(), 200);

    // Driving: the bar moves the content.
    f.bar->setValue(700);
    QCOMPARE(own->value(), 700);
    QCOMPARE(f.area->widget()->y(), -700);
    // Mirroring: a scroll of the area moves the bar.
    f.area->scrollToPosition(QPoint(0, 250), false);
    QCOMPARE(f.bar->value(), 250);

    // Content that shrinks to fit: the bar has nothing to scroll and hides; it comes back with the rows.
    QSignalSpy available(f.bar, &KelScrollBar::scrollAvailableChanged);
    for (int i = 3; i < f.rows.size(); ++i)
        f.rows.at(i)->hide();
    f.area->updateLayout();
    QCoreApplication::processEvents();
    QCOMPARE(own->maximum(), 0);
    QVERIFY(!f.bar->isScrollAvailable());
    QVERIFY(!f.bar->isVisible());
    QVERIFY(!available.isEmpty());
    QCOMPARE(available.last().at(0).toBool(), false);
    for (QWidget* row : qAsConst(f.rows))
        row->show();
    f.area->updateLayout();
    QCoreApplication::processEvents();
    QCOMPARE(f.bar->maximum(), kRows * kRowHeight - 200);
    QVERIFY(f.bar->isVisible());
}

void TestKelScrollArea::edgeShadowsTrackTheScroll()
{
    Fixture f;
    f.area->setEdgeShadows(Qt::TopEdge | Qt::BottomEdge, kShadowType, true);
    QVERIFY(f.area->edgeShadow(Qt::TopEdge));
    QVERIFY(!f.area->edgeShadow(Qt::LeftEdge));
    KelLinearShadowWidget* bottom = f.area->edgeShadow(Qt::BottomEdge);
    QCOMPARE(bottom->placement(), int(KelLinearShadowWidget::Inside));
    QCOMPARE(bottom->parentWidget(), &f.window);
    QCOMPARE(bottom->geometry().bottom(), f.area->geometry().bottom());

    // At the top only the bottom one.
    QVERIFY(!f.shadowShown(Qt::TopEdge));
    QVERIFY(f.shadowShown(Qt::BottomEdge));
    // In the middle (through the toolkit bar) both.
    f.bar->setValue(900);
    QVERIFY(f.shadowShown(Qt::TopEdge));
    QVERIFY(f.shadowShown(Qt::BottomEdge));
    // At the end only the top one; a glide there counts too.
    f.area->scrollToPosition(QPoint(0, 100000), true);
    QVERIFY(f.shadowShown(Qt::TopEdge));
    QVERIFY(!f.shadowShown(Qt::BottomEdge));
    // Content that fits: none.
    for (int i = 2; i < f.rows.size(); ++i)
        f.rows.at(i)->hide();
    f.area->updateLayout();
    QCoreApplication::processEvents();
    QVERIFY(!f.shadowShown(Qt::TopEdge));
    QVERIFY(!f.shadowShown(Qt::BottomEdge));

    // Untracked strips stay as made; the old ones are gone.
    QPointer<KelLinearShadowWidget> old = f.area->edgeShadow(Qt::TopEdge);
    f.area->setEdgeShadows(Qt::LeftEdge | Qt::RightEdge, kShadowType, false);
    QVERIFY(!old);
    QVERIFY(!f.area->edgeShadow(Qt::TopEdge));
    QVERIFY(f.shadowShown(Qt::LeftEdge));
    f.bar->setValue(10);
    QVERIFY(f.shadowShown(Qt::RightEdge));
}

void TestKelScrollArea::edgeShadowsFollowHidingAndReplacement()
{
    Fixture f;
    f.area->setEdgeShadows(Qt::TopEdge | Qt::BottomEdge, kShadowType, true);
    QVERIFY(f.shadowShown(Qt::BottomEdge));
    // Scrolling while hidden leaves the strips hidden with their area.
    f.area->hide();
    f.bar->setValue(f.bar->maximum());
    QVERIFY(!f.shadowShown(Qt::TopEdge));
    QVERIFY(!f.shadowShown(Qt::BottomEdge));
    // Shown again: the strips match the new position.
    f.area->show();
    QVERIFY(f.shadowShown(Qt::TopEdge));
    QVERIFY(!f.shadowShown(Qt::BottomEdge));

    // The strips go with their area.
    QPointer<KelLinearShadowWidget> top = f.area->edgeShadow(Qt::TopEdge);
    delete f.area;
    QVERIFY(!top);
}

void TestKelScrollArea::wheelScrollsSmoothly()
{
    Fixture f;
    f.area->setEdgeShadows(Qt::TopEdge | Qt::BottomEdge, kShadowType, true);
    f.wheel(-120);
    // The wheel is swallowed and replayed in steps.
    QCOMPARE(f.value(), 0);
    QVERIFY(f.area->wheelAnimator()->isScrolling());
    QList<int> values;
    for (int ticks = 0; f.area->wheelAnimator()->isScrolling() && ticks < 1000; ++ticks) {
        f.now += 8;
        f.area->wheelAnimator()->tick();
        values << f.value();
    }
    QVERIFY(values.size() > 10);
    QVERIFY(f.value() > 0);
    // Step by step, never all at once, and the toolkit bar along with it.
    QVERIFY(values.at(values.size() / 4) < f.value());
    QCOMPARE(f.bar->value(), f.value());
    QVERIFY(f.shadowShown(Qt::TopEdge));

    // A notch back up returns to the top; a glide under way yields to the wheel.
    const int down = f.value();
    f.area->scrollToPosition(QPoint(0, 1500), true);
    advanceAnimations(f.area, 30);
    f.wheel(120);
    f.drainWheel();
    QVERIFY(!f.area->isScrollAnimating());
    runAnimations(f.area);
    QVERIFY(f.value() < 1500);
    f.area->scrollToPosition(QPoint(0, down), false);
    f.wheel(120);
    f.drainWheel();
    QCOMPARE(f.value(), 0);
    QVERIFY(!f.shadowShown(Qt::TopEdge));
}

void TestKelScrollArea::autoSizeFollowsTheContent()
{
    QWidget window;
    auto* area = new KelScrollArea(&window);
    auto* content = makeContent(10);
    area->setWidget(content);
    QSignalSpy changed(area, &KelScrollArea::autoSizeEnabledChanged);
    area->setAutoSizeEnabled(true);
    area->setAutoSizeEnabled(true);
    QCOMPARE(changed.count(), 1);
    QCOMPARE(area->sizeHint().height(), 500);
    QCOMPARE(area->minimumSizeHint().height(), 32);

    // A content resize asks the area's layout to look again (a shown area: hidden ones ask nobody).
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    int requests = 0;
    struct Counter : QObject {
        int* count;
        bool eventFilter(QObject*, QEvent* event) override
        {
            if (event->type() == QEvent::LayoutRequest)
                ++*count;
            return false;
        }
    } counter;
    counter.count = &requests;
    window.installEventFilter(&counter);
    QCoreApplication::processEvents();
    requests = 0;
    content->resize(100, 700);
    QCoreApplication::processEvents();
    QVERIFY(requests > 0);

    // A content widget set later is followed too.
    auto* other = makeContent(2);
    area->setWidget(other);
    QCOMPARE(area->sizeHint().height(), 100);
    QCoreApplication::processEvents();
    requests = 0;
    other->resize(100, 300);
    QCoreApplication::processEvents();
    QVERIFY(requests > 0);

    area->setAutoSizeEnabled(false);
    QCOMPARE(changed.count(), 2);
    QCOMPARE(changed.last().at(0).toBool(), false);
    QVERIFY(area->minimumSizeHint().height() != 32 || area->sizeHint().height() != 100);
    QCOMPARE(area->sizeHint(), area->QScrollArea::sizeHint());
}

void TestKelScrollArea::signalsOfGeometryAndVisibility()
{
    Fixture f;
    QSignalSpy resized(f.area, &KelScrollArea::resized);
    QSignalSpy moved(f.area, &KelScrollArea::moved);
    QSignalSpy geometry(f.area, &KelScrollArea::geometryChanged);
    QSignalSpy visibility(f.area, &KelScrollArea::visibilityChanged);
    QSignalSpy showed(f.area, &KelScrollArea::showed);
    QSignalSpy hided(f.area, &KelScrollArea::hided);

    f.area->updateLayout();
    QCOMPARE(resized.count(), 1);
    QCOMPARE(resized.last().at(0).toSize(), QSize(200, 200));
    QCOMPARE(geometry.count(), 1);
    f.area->move(30, 20);
    QCOMPARE(moved.count(), 1);
    QCOMPARE(moved.last().at(0).toPoint(), QPoint(30, 20));
    QCOMPARE(geometry.last().at(0).toRect(), QRect(30, 20, 200, 200));
    f.area->resize(180, 150);
    QCOMPARE(resized.last().at(0).toSize(), QSize(180, 150));
    QCOMPARE(f.bar->maximum(), kRows * kRowHeight - 150);

    f.area->hide();
    f.area->show();
    QCOMPARE(hided.count(), 1);
    QCOMPARE(showed.count(), 1);
    QCOMPARE(visibility.count(), 2);
    QCOMPARE(visibility.at(0).at(0).toBool(), false);
    QCOMPARE(visibility.at(1).at(0).toBool(), true);
}

int main(int argc, char** argv)
{
    return runKelAppTest<KelApplication, TestKelScrollArea>(argc, argv, QStringLiteral("kel-scroll-test"));
}

#include "tst_kelscrollarea.moc"
