// The scroll area over tall content: glides on a clock only the test moves, the toolkit's scroll bar
// mirroring and driving it, edge shadows only where content lies hidden, smooth wheel and auto size.
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
    explicit Fixture(int barMode = KelScrollBar::VisibleWhenScrollable)
    {
        window.resize(300, 240);
        area = new KelScrollArea(&window);
        area->setGeometry(10, 20, 200, 200);
        area->setWidget(makeContent(kRows, &rows));
        bar = new KelScrollBar(-1, area, Qt::Vertical, barMode, &window);
        bar->setGeometry(220, 20, 12, 200);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        area->wheelAnimator()->setClock([this] { return now; });
    }

    int value() const { return area->verticalScrollBar()->value(); }

    // Shows only the first rows (all with -1) and lets the area lay them out.
    void showRows(int count)
    {
        for (int i = 0; i < rows.size(); ++i)
            rows.at(i)->setVisible(count < 0 || i < count);
        area->updateLayout();
        QCoreApplication::processEvents();
    }

    void wheel(int angle)
    {
        QWheelEvent event(QPointF(10, 10), QPointF(area->viewport()->mapToGlobal(QPoint(10, 10))), QPoint(),
            QPoint(0, angle), Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(area->viewport(), &event);
    }

    // Ticks the wheel animator on time until its burst is over; the values on the way.
    QList<int> drainWheel()
    {
        QList<int> values;
        for (int ticks = 0; area->wheelAnimator()->isScrolling() && ticks < 1000; ++ticks) {
            now += 8;
            area->wheelAnimator()->tick();
            values << value();
        }
        return values;
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
};

} // namespace

class TestKelScrollArea : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { m_driver.install(); }
    void cleanupTestCase() { m_driver.uninstall(); }

    void animatedScrollGlidesToThePosition()
    {
        Fixture f;
        f.area->scrollToPosition(QPoint(0, 1000), true);
        // Nothing moves before the clock does.
        QCOMPARE(f.value(), 0);
        advanceAnimations(f.area, 30);
        QVERIFY(f.value() > 0 && f.value() < 1000);
        runAnimations(f.area);
        QCOMPARE(f.value(), 1000);

        // Targets are clamped to the range; retargeted halfway there is no jump back to the old start.
        f.area->scrollToPosition(QPoint(0, 5000), true);
        runAnimations(f.area);
        QCOMPARE(f.value(), f.area->verticalScrollBar()->maximum());
        f.area->scrollToPosition(QPoint(0, 100), true);
        advanceAnimations(f.area, 150);
        const int halfway = f.value();
        QVERIFY(halfway > 100 && halfway < 1800);
        f.area->scrollToPosition(QPoint(0, 0), true);
        QCOMPARE(f.value(), halfway);
        runAnimations(f.area);
        QCOMPARE(f.value(), 0);

        // The user drags the toolkit bar, or a move without animation comes: the glide stops there.
        f.area->scrollToPosition(QPoint(0, 1500), true);
        advanceAnimations(f.area, 60);
        f.bar->setValue(120);
        QVERIFY(!f.area->isScrollAnimating());
        runAnimations(f.area);
        QCOMPARE(f.value(), 120);
        f.area->scrollToPosition(QPoint(0, 1500), true);
        advanceAnimations(f.area, 60);
        f.area->scrollToPosition(QPoint(0, 300), false);
        runAnimations(f.area);
        QCOMPARE(f.value(), 300);
    }

    void ensureRectVisible_data()
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

    void ensureRectVisible()
    {
        QFETCH(int, start);
        QFETCH(QRect, rect);
        QFETCH(int, marginAbove);
        QFETCH(int, marginBelow);
        QFETCH(int, expected);
        for (const bool animated : { false, true }) {
            Fixture f;
            f.area->verticalScrollBar()->setValue(start);
            f.area->setEnsureVisibleMargins(QMargins(0, marginAbove, 0, marginBelow));
            f.area->ensureRectVisible(rect, animated);
            QCOMPARE(f.area->isScrollAnimating(), animated && expected != start);
            runAnimations(f.area);
            QCOMPARE(f.value(), expected);
        }
    }

    void scrollToRefusesStrangers()
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
        f.area->scrollTo(nullptr, false);
        QVERIFY(!f.area->isScrollAnimating());
        QCOMPARE(f.value(), 2 * kRowHeight);
    }

    void toolkitScrollBarMirrorsAndDrives()
    {
        Fixture f;
        QScrollBar* own = f.area->verticalScrollBar();
        QVERIFY(!own->isVisible());
        QCOMPARE(f.bar->pageStep(), own->pageStep());
        // The viewport has the whole width now that the area's own bar is off.
        QCOMPARE(f.area->viewport()->width(), 200);
        f.bar->setValue(f.bar->maximum());
        QCOMPARE(f.area->widget()->y(), -own->maximum());
        // Attached late to a scrolled area, a bar starts where the area stands.
        KelScrollBar late(-1, Qt::Horizontal, KelScrollBar::NoSpecialVisibility);
        late.attachTo(f.area, Qt::Vertical);
        QCOMPARE(late.value(), own->maximum());
        f.area->resize(180, 150);
        QCOMPARE(f.bar->maximum(), kRows * kRowHeight - 150);

        // Content that shrinks to fit: the bar has nothing to scroll and hides; it comes back with the rows.
        QSignalSpy available(f.bar, &KelScrollBar::scrollAvailableChanged);
        f.showRows(3);
        QVERIFY(!f.bar->isVisible());
        QCOMPARE(available.last().at(0).toBool(), false);
        f.showRows(-1);
        QCOMPARE(f.bar->maximum(), kRows * kRowHeight - 150);
        QVERIFY(f.bar->isVisible());
    }

    void scrollBarPaintsNothingWithNothingToScroll_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<int>("rows");
        QTest::addColumn<bool>("painted");
        QTest::newRow("transparent, fits") << int(KelScrollBar::TransparentWhenNotScrollable) << 3 << false;
        QTest::newRow("transparent, scrolls") << int(KelScrollBar::TransparentWhenNotScrollable) << kRows << true;
        QTest::newRow("plain, fits") << int(KelScrollBar::NoSpecialVisibility) << 3 << true;
    }

    void scrollBarPaintsNothingWithNothingToScroll()
    {
        QFETCH(int, mode);
        QFETCH(int, rows);
        Fixture f(mode);
        f.showRows(rows);
        QVERIFY(f.bar->isVisible());
        // Over a magenta window what the bar leaves unpainted shows.
        f.window.setAutoFillBackground(true);
        f.window.setPalette(QPalette(QColor(255, 0, 255)));
        const QImage image = f.window.grab().toImage();
        const QRect bar = QRectF(
            f.bar->geometry().topLeft() * image.devicePixelRatioF(), QSizeF(f.bar->size()) * image.devicePixelRatioF())
                              .toRect();
        bool untouched = true;
        for (int y = bar.top(); y <= bar.bottom(); ++y)
            for (int x = bar.left(); x <= bar.right(); ++x)
                untouched = untouched && image.pixelColor(x, y) == QColor(255, 0, 255);
        QTEST(!untouched, "painted");
    }

    void edgeShadowsTrackTheScroll()
    {
        Fixture f;
        f.area->setEdgeShadows(Qt::TopEdge | Qt::BottomEdge, kShadowType, true);
        QVERIFY(!f.area->edgeShadow(Qt::LeftEdge));
        QCOMPARE(f.area->edgeShadow(Qt::BottomEdge)->geometry().bottom(), f.area->geometry().bottom());
        // At the top only the bottom one, in the middle both, at the end (a glide counts too) only the top one.
        QVERIFY(!f.shadowShown(Qt::TopEdge));
        QVERIFY(f.shadowShown(Qt::BottomEdge));
        f.bar->setValue(900);
        QVERIFY(f.shadowShown(Qt::TopEdge));
        QVERIFY(f.shadowShown(Qt::BottomEdge));
        f.area->scrollToPosition(QPoint(0, 100000), true);
        QVERIFY(f.shadowShown(Qt::TopEdge));
        QVERIFY(!f.shadowShown(Qt::BottomEdge));
        // Scrolling while hidden leaves the strips hidden with their area; shown again they match.
        f.area->hide();
        f.bar->setValue(0);
        QVERIFY(!f.shadowShown(Qt::BottomEdge));
        f.area->show();
        QVERIFY(!f.shadowShown(Qt::TopEdge));
        QVERIFY(f.shadowShown(Qt::BottomEdge));
        // Content that fits: none.
        f.showRows(2);
        QVERIFY(!f.shadowShown(Qt::TopEdge));
        QVERIFY(!f.shadowShown(Qt::BottomEdge));

        // Untracked strips stay as made; the old ones are gone, and the new ones go with their area.
        QPointer<KelLinearShadowWidget> old = f.area->edgeShadow(Qt::TopEdge);
        f.area->setEdgeShadows(Qt::LeftEdge | Qt::RightEdge, kShadowType, false);
        QVERIFY(!old);
        QVERIFY(f.shadowShown(Qt::LeftEdge));
        QPointer<KelLinearShadowWidget> right = f.area->edgeShadow(Qt::RightEdge);
        delete f.area;
        QVERIFY(!right);
    }

    void wheelScrollsSmoothly()
    {
        Fixture f;
        f.area->setEdgeShadows(Qt::TopEdge | Qt::BottomEdge, kShadowType, true);
        f.wheel(-120);
        // The wheel is swallowed and replayed in steps by the area's animator, the toolkit bar along with it.
        QCOMPARE(f.value(), 0);
        QVERIFY(f.drainWheel().size() > 10);
        QVERIFY(f.value() > 0);
        QCOMPARE(f.bar->value(), f.value());
        QVERIFY(f.shadowShown(Qt::TopEdge));
        // A glide under way yields to the wheel.
        f.area->scrollToPosition(QPoint(0, 1500), true);
        advanceAnimations(f.area, 30);
        f.wheel(120);
        f.drainWheel();
        QVERIFY(!f.area->isScrollAnimating());
        QVERIFY(f.value() < 1500);
    }

    void autoSizeFollowsTheContent()
    {
        QWidget window;
        auto* area = new KelScrollArea(&window);
        area->setWidget(makeContent(10));
        QSignalSpy changed(area, &KelScrollArea::autoSizeEnabledChanged);
        area->setAutoSizeEnabled(true);
        area->setAutoSizeEnabled(true);
        QCOMPARE(changed.count(), 1);
        QCOMPARE(area->sizeHint().height(), 500);
        QCOMPARE(area->minimumSizeHint().height(), 32);

        // A content widget set later is followed: its resize asks the window's layout to look again.
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        auto* other = makeContent(2);
        area->setWidget(other);
        QCOMPARE(area->sizeHint().height(), 100);
        QCoreApplication::processEvents();
        int requests = 0;
        struct Counter : QObject {
            int* count;
            bool eventFilter(QObject*, QEvent* event) override
            {
                *count += event->type() == QEvent::LayoutRequest ? 1 : 0;
                return false;
            }
        } counter;
        counter.count = &requests;
        window.installEventFilter(&counter);
        other->resize(100, 300);
        QCoreApplication::processEvents();
        QVERIFY(requests > 0);

        area->setAutoSizeEnabled(false);
        QCOMPARE(changed.count(), 2);
        QCOMPARE(area->sizeHint(), area->QScrollArea::sizeHint());
    }

private:
    FrozenAnimationDriver m_driver;
};

int main(int argc, char** argv)
{
    return runKelAppTest<KelApplication, TestKelScrollArea>(argc, argv, QStringLiteral("kel-scroll-test"));
}

#include "tst_kelscrollarea.moc"
