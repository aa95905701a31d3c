// Property and wheel animators, the pixmap cache, the flow layout and the layout replacer.
#include "../kel-effects/animationclock.h"
#include "animators/kelprogressanimator.h"
#include "animators/kelpropertyanimator.h"
#include "animators/kelwheelanimator.h"
#include "layouts/kelflowlayout.h"
#include "layouts/kellayoutreplacer.h"
#include "utils/kelpixmapcache.h"

#include <QApplication>
#include <QBoxLayout>
#include <QLabel>
#include <QPropertyAnimation>
#include <QScrollArea>
#include <QScrollBar>
#include <QSignalSpy>
#include <QWheelEvent>
#include <QtTest>

#include <memory>

namespace {

KelAnimationParams params(QEasingCurve::Type forward, int forwardMs, QEasingCurve::Type backward, int backwardMs)
{
    return KelAnimationParams { forward, forwardMs, backward, backwardMs, 0.0, 1.0 };
}

QPropertyAnimation* animationOf(KelProgressAnimator& animator) { return animator.findChild<QPropertyAnimation*>(); }

// The tests never enter the event loop for animations, so time passes only here.
void advance(KelProgressAnimator& animator, int msecs) { advanceAnimations(&animator, msecs); }

// Records the run notifications of one progress animator.
struct Runs {
    explicit Runs(KelProgressAnimator& animator)
        : started(&animator, &KelProgressAnimator::started)
        , finished(&animator, &KelProgressAnimator::finished)
    {
    }
    KelPropertyAnimator::Pos lastFinished() const { return finished.last().at(0).value<KelPropertyAnimator::Pos>(); }
    QSignalSpy started;
    QSignalSpy finished;
};

// Records the wheel events that reach a scroll bar.
class WheelRecorder : public QObject {
public:
    explicit WheelRecorder(QObject* watched) { watched->installEventFilter(this); }
    QList<QPoint> deltas;
    int sum() const
    {
        int total = 0;
        for (const QPoint& delta : deltas)
            total += delta.x() + delta.y();
        return total;
    }

protected:
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::Wheel)
            deltas.append(static_cast<QWheelEvent*>(event)->angleDelta());
        return false;
    }
};

// A scroll area over content of the given size, with a wheel animator on a clock that only the test moves.
struct WheelFixture {
    explicit WheelFixture(QSize content)
    {
        area.resize(200, 200);
        auto* widget = new QWidget;
        widget->setFixedSize(content);
        area.setWidget(widget);
        area.show();
        QCoreApplication::processEvents();
        animator = new KelWheelAnimator(&area);
        animator->setClock([this] { return now; });
        vertical.reset(new WheelRecorder(area.verticalScrollBar()));
        horizontal.reset(new WheelRecorder(area.horizontalScrollBar()));
    }

    void wheel(QPoint angle)
    {
        QWheelEvent event(QPointF(10, 10), QPointF(area.viewport()->mapToGlobal(QPoint(10, 10))), QPoint(), angle,
            Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
        QVERIFY(QApplication::sendEvent(area.viewport(), &event));
    }

    // Ticks on time until the burst is over; returns the number of ticks.
    int drain()
    {
        int ticks = 0;
        for (; animator->isScrolling() && ticks < 1000; ++ticks) {
            now += 8;
            animator->tick();
        }
        return ticks;
    }

    qint64 now = 1000;
    QScrollArea area;
    KelWheelAnimator* animator = nullptr;
    std::unique_ptr<WheelRecorder> vertical;
    std::unique_ptr<WheelRecorder> horizontal;
};

// A notch moves 120 / wheelScrollLines; the wheel event itself counts towards acceleration.
double notch(int eventsInWindow)
{
    const double plain = 120.0 / QApplication::wheelScrollLines();
    return plain + 2.5 * plain * qMin(eventsInWindow / 15.0, 1.0);
}

// 256 x 256 at 32 bits is 256 KB: four of them fill one megabyte exactly.
QPixmap quarterMegabyte()
{
    QPixmap pixmap(256, 256);
    pixmap.fill(Qt::red);
    return pixmap;
}

// A widget with a chosen size hint; its minimum size hint is half of it.
class Box : public QWidget {
public:
    Box(QSize hint, QWidget* parent = nullptr)
        : QWidget(parent)
        , m_hint(hint)
    {
    }
    QSize sizeHint() const override { return m_hint; }
    QSize minimumSizeHint() const override { return m_hint / 2; }

private:
    QSize m_hint;
};

// A shown container with a flow layout: margins 5, 6, 7, 8, spacings 10 and 4.
struct FlowFixture {
    FlowFixture()
    {
        layout = new KelFlowLayout(&container, QMargins(5, 6, 7, 8), 10, 4);
        container.resize(200, 400);
        container.show();
    }
    void add(QSize hint, int count = 1)
    {
        for (int i = 0; i < count; ++i) {
            boxes.append(new Box(hint));
            layout->addWidget(boxes.last());
        }
    }
    void setWidth(int width)
    {
        // Children added to a shown container are shown from the event loop, and so are layout requests.
        QCoreApplication::processEvents();
        container.resize(width, 400);
        QCoreApplication::processEvents();
        layout->activate();
    }
    QRect geometry(int i) const { return boxes.at(i)->geometry(); }

    QWidget container;
    KelFlowLayout* layout = nullptr;
    QList<Box*> boxes;
};

enum LayoutId { ListId = 0, GridId = 1 };

// A header, the switchable area and a footer; the area starts as a list with a flow grid in reserve.
struct ReplacerFixture {
    ReplacerFixture()
    {
        root = new QVBoxLayout(&host);
        root->setContentsMargins(0, 0, 0, 0);
        root->addWidget(new QLabel("header"));
        root->addWidget(new QLabel("footer"));
        list = new QVBoxLayout;
        grid = new KelFlowLayout(nullptr, QMargins(), 0, 12);
        replacer = new KelLayoutReplacer(&host);
        replacer->registerLayout(ListId, list);
        replacer->registerLayout(GridId, grid);
        replacer->setCurrentLayoutId(ListId);
        root->insertLayout(1, list);
    }
    // Named widgets added through the replacer, none of them shown yet.
    void addWidgets(const QString& names)
    {
        for (const QChar& name : names) {
            auto* widget = new QLabel(QString(name));
            widget->setObjectName(QString(name));
            widget->setFixedSize(40, 20);
            replacer->insertWidget(-1, widget);
        }
    }
    QLabel* widget(const char* name) { return host.findChild<QLabel*>(name); }
    QString order() const
    {
        QString names;
        for (int i = 0; i < replacer->currentLayout()->count(); ++i)
            names += replacer->currentLayout()->itemAt(i)->widget()->objectName();
        return names;
    }

    QWidget host;
    QVBoxLayout* root = nullptr;
    QVBoxLayout* list = nullptr;
    KelFlowLayout* grid = nullptr;
    KelLayoutReplacer* replacer = nullptr;
};

} // namespace

class TestKelAnimation : public QObject {
    Q_OBJECT
private slots:
    void runsFollowTheirDirectionsCurveAndDuration()
    {
        KelProgressAnimator animator(nullptr, params(QEasingCurve::OutCubic, 200, QEasingCurve::InCubic, 400));
        Runs runs(animator);
        animator.animateToEnd();
        QCOMPARE(runs.started.last().at(0).value<KelPropertyAnimator::Pos>(), KelPropertyAnimator::End);
        advance(animator, 100);
        QVERIFY(qAbs(animator.progress() - QEasingCurve(QEasingCurve::OutCubic).valueForProgress(0.5)) < 1e-9);
        QCOMPARE(runs.finished.count(), 0);
        advance(animator, 100);
        QCOMPARE(animator.progress(), 1.0);
        QVERIFY(!animator.isActive());
        QCOMPARE(runs.lastFinished(), KelPropertyAnimator::End);

        // The way back uses the backward curve and duration.
        animator.animateToStart();
        advance(animator, 200);
        QVERIFY(qAbs(animator.progress() - QEasingCurve(QEasingCurve::InCubic).valueForProgress(0.5)) < 1e-9);
        advance(animator, 200);
        QCOMPARE(animator.progress(), 0.0);
        QCOMPARE(runs.started.count(), 2);
        QCOMPARE(runs.finished.count(), 2);
        QCOMPARE(runs.lastFinished(), KelPropertyAnimator::Start);

        // Asking for the end it runs to or sits at starts nothing new.
        animator.animateToEnd();
        advance(animator, 80);
        animator.animateToEnd();
        animator.setPos(KelPropertyAnimator::End, true);
        QCOMPARE(animationOf(animator)->currentTime(), 80);
        advance(animator, 120);
        animator.animateToEnd();
        QCOMPARE(runs.started.count(), 3);
        QCOMPARE(runs.finished.count(), 3);
    }

    void reversalContinuesWithoutJump()
    {
        KelProgressAnimator animator(nullptr, params(QEasingCurve::Linear, 200, QEasingCurve::InQuad, 400));
        Runs runs(animator);
        animator.animateToEnd();
        advance(animator, 100);
        animator.animateToStart();
        // The value stays where it was (within the inverse's precision) and the run is not restarted.
        QVERIFY2(qAbs(animator.progress() - 0.5) < 0.03, qPrintable(QString::number(animator.progress())));
        QCOMPARE(runs.started.count(), 1);
        // InQuad reaches 0.5 at about 0.707 of its 400 ms, so roughly 283 ms remain.
        const int remaining = animationOf(animator)->currentTime();
        QVERIFY2(remaining > 270 && remaining < 295, qPrintable(QString::number(remaining)));
        double previous = animator.progress();
        for (int elapsed = 0; elapsed < remaining - 20; elapsed += 20) {
            advance(animator, 20);
            QVERIFY(animator.progress() < previous && previous - animator.progress() < 0.1);
            previous = animator.progress();
        }
        advance(animator, 40);
        QCOMPARE(animator.progress(), 0.0);
        QCOMPARE(runs.finished.count(), 1);
        QCOMPARE(runs.lastFinished(), KelPropertyAnimator::Start);
    }

    void pausedAndZeroLengthRunsFinishOnce()
    {
        KelProgressAnimator animator(nullptr, params(QEasingCurve::Linear, 200, QEasingCurve::Linear, 200));
        Runs runs(animator);
        animator.animateToEnd();
        advance(animator, 100);
        animationOf(animator)->pause();
        animator.jumpToStart();
        QCOMPARE(animator.progress(), 0.0);
        QCOMPARE(runs.finished.count(), 1);

        // New params put the paused run exactly on its end: it must still finish, with the end value in place.
        animator.animateToEnd();
        advance(animator, 100);
        animationOf(animator)->pause();
        animator.setAnimationParams(params(QEasingCurve::Linear, 300, QEasingCurve::Linear, 100));
        QCOMPARE(animator.progress(), 1.0);
        QVERIFY(!animator.isActive());
        QCOMPARE(runs.finished.count(), 2);

        // Zero durations move at once and run nothing.
        KelProgressAnimator instant(nullptr, params(QEasingCurve::Type(0), 0, QEasingCurve::Type(0), 0));
        Runs instantRuns(instant);
        instant.animateToEnd();
        QCOMPARE(instant.progress(), 1.0);
        instant.animateToStart();
        QCOMPARE(instant.progress(), 0.0);
        instant.setPos(KelPropertyAnimator::End, true);
        QCOMPARE(instant.progress(), 1.0);
        QVERIFY(!instant.isActive());
        QCOMPARE(instantRuns.started.count(), 0); // nothing ran
        QCOMPARE(instantRuns.finished.count(), 0);

        // A zero backward duration cuts a forward run short; the next run starts from the start value.
        KelProgressAnimator cut(nullptr, params(QEasingCurve::Linear, 200, QEasingCurve::Linear, 0));
        Runs cutRuns(cut);
        cut.animateToEnd();
        advance(cut, 100);
        cut.animateToStart();
        QCOMPARE(cut.progress(), 0.0);
        QVERIFY(!cut.isActive());
        QCOMPARE(cutRuns.lastFinished(), KelPropertyAnimator::Start);
        cut.animateToEnd();
        advance(cut, 50);
        QVERIFY(qAbs(cut.progress() - 0.25) < 1e-9);
    }

    void wheelNotchScrollsSmoothly()
    {
        WheelFixture f(QSize(100, 2000));
        QScrollBar* bar = f.area.verticalScrollBar();
        f.wheel(QPoint(0, -120));
        QCOMPARE(bar->value(), 0); // swallowed: nothing moved yet
        QCOMPARE(f.drain(), 24);
        QCOMPARE(f.vertical->deltas.size(), 24);
        // The cosine profile: slow at both ends, fastest in the middle.
        QVERIFY(f.vertical->deltas.first().y() > f.vertical->deltas.at(12).y());
        QVERIFY(f.vertical->deltas.last().y() > f.vertical->deltas.at(12).y());
        QVERIFY(qAbs(f.vertical->sum() + notch(1)) <= 3);
        QVERIFY2(qAbs(bar->value() - qRound(notch(1) / 40.0 * bar->singleStep())) <= 1,
            qPrintable(QString::number(bar->value())));

        // A late tick catches up without compounding.
        f.now += 1000;
        f.vertical->deltas.clear();
        f.wheel(QPoint(0, -120));
        f.now += 8;
        f.animator->tick();
        // 100 ms late: this tick alone consumes 3 x 4 = 12 steps; the ticks after it are on time again.
        f.now += 100;
        f.animator->tick();
        QCOMPARE(f.drain(), 11);
        QVERIFY(qAbs(f.vertical->sum() + notch(1)) <= 12);

        // A stalled thread is capped at 64 steps per tick, which finishes any run at once.
        f.vertical->deltas.clear();
        f.now += 10000;
        f.wheel(QPoint(0, -120));
        f.now += 8;
        f.animator->tick();
        f.now += 3600 * 1000;
        f.animator->tick();
        QVERIFY(!f.animator->isScrolling());
        QCOMPARE(f.vertical->deltas.size(), 2);
    }

    void quickNotchesAccelerateWithinBounds()
    {
        WheelFixture f(QSize(100, 20000));
        // Fourteen notches within the window, then one more: that one runs at 3.5 times the plain delta.
        for (int i = 0; i < 14; ++i) {
            f.wheel(QPoint(0, -120));
            f.now += 10;
        }
        f.drain();
        f.vertical->deltas.clear();
        f.wheel(QPoint(0, -120));
        f.drain();
        QVERIFY2(qAbs(f.vertical->sum() + notch(15)) <= 12, qPrintable(QString::number(f.vertical->sum())));

        // However many more arrive, a run never exceeds 3.5 times.
        f.now += 1000;
        f.vertical->deltas.clear();
        double expected = 0;
        for (int i = 1; i <= 30; ++i) {
            f.wheel(QPoint(0, -120));
            expected += notch(i);
        }
        f.drain();
        QVERIFY2(qAbs(f.vertical->sum() + expected) <= 12, qPrintable(QString::number(f.vertical->sum())));
    }

    void wheelDirection_data()
    {
        QTest::addColumn<QSize>("content");
        QTest::addColumn<bool>("swapped");
        QTest::addColumn<bool>("vertical");
        QTest::addColumn<bool>("horizontal");
        QTest::newRow("only horizontal scrolls") << QSize(2000, 100) << false << false << true;
        QTest::newRow("swapped") << QSize(2000, 2000) << true << false << true;
        QTest::newRow("nothing scrolls") << QSize(50, 50) << false << false << false;
    }
    void wheelDirection()
    {
        QFETCH(QSize, content);
        QFETCH(bool, swapped);
        QFETCH(bool, vertical);
        QFETCH(bool, horizontal);
        WheelFixture f(content);
        f.animator->setOrientationSwapped(swapped);
        f.wheel(QPoint(0, -120));
        QCOMPARE(f.drain(), 24);
        QCOMPARE(f.vertical->deltas.isEmpty(), !vertical);
        QCOMPARE(f.horizontal->deltas.isEmpty(), !horizontal);
        QCOMPARE(f.area.verticalScrollBar()->value() > 0, vertical);
        QCOMPARE(f.area.horizontalScrollBar()->value() > 0, horizontal);
    }

    void pixmapCacheCostsKilobytesAndEvictsLeastRecentlyUsed()
    {
        QCOMPARE(KelPixmapCache::costOf(quarterMegabyte()), 256);
        QCOMPARE(KelPixmapCache::costOf(QPixmap()), 1);
        KelPixmapCache cache;
        // Absurd limits neither overflow nor go negative.
        cache.setCacheLimit(std::numeric_limits<int>::max());
        QCOMPARE(cache.cacheLimitKb(), std::numeric_limits<int>::max());
        cache.setCacheLimit(-5);
        QCOMPARE(cache.cacheLimitKb(), 0);

        cache.setCacheLimit(50);
        QPixmap found;
        cache.insert("icon", quarterMegabyte());
        QVERIFY(cache.find("icon", &found));
        QCOMPARE(found.toImage().pixelColor(5, 5), QColor(Qt::red));
        QVERIFY(!cache.find("Icon", nullptr));
        // Replacing an entry frees the old cost.
        cache.insert("icon", QPixmap(16, 16));
        QCOMPARE(cache.totalCostKb(), 1);
        cache.remove("icon");
        QVERIFY(!cache.find("icon", &found));
        QCOMPARE(cache.totalCostKb(), 0);

        // The least recently used go first.
        cache.setCacheLimit(1);
        for (const char* key : { "a", "b", "c", "d" })
            cache.insert(key, quarterMegabyte());
        // Finding "a" (even without a copy) makes it recent, so "b" is the one to go.
        QVERIFY(cache.find("a", nullptr));
        cache.insert("e", quarterMegabyte());
        QVERIFY(cache.find("a", nullptr));
        QVERIFY(!cache.find("b", nullptr));
        // A half-megabyte pixmap needs two places: the two least recently used ("c" then "d") go.
        cache.insert("f", QPixmap(512, 256));
        QVERIFY(!cache.find("c", nullptr));
        QVERIFY(!cache.find("d", nullptr));
        QVERIFY(cache.find("e", nullptr) && cache.find("a", nullptr) && cache.find("f", nullptr));
        QCOMPARE(cache.totalCostKb(), 1024);

        // An oversized pixmap is refused, forgets its key and evicts nothing.
        cache.insert("f", QPixmap(1024, 1024));
        QVERIFY(!cache.find("f", nullptr));
        QCOMPARE(cache.count(), 2);
        // A lower limit evicts at once.
        cache.setCacheLimit(0);
        QCOMPARE(cache.count(), 0);
    }

    void flowWrapsAsTheWidthChanges()
    {
        FlowFixture f;
        f.add(QSize(50, 30), 7);
        // Content from x 5 to 193 (exclusive): three items per row at x 5, 65 and 125.
        f.setWidth(200);
        QCOMPARE(f.geometry(2), QRect(125, 6, 50, 30));
        QCOMPARE(f.geometry(3), QRect(5, 40, 50, 30));
        QCOMPARE(f.geometry(6), QRect(5, 74, 50, 30));
        QCOMPARE(f.layout->heightForWidth(200), 6 + 3 * 30 + 2 * 4 + 8);
        // The fourth item ends exactly on the content edge (235) and stays in the row.
        f.setWidth(242);
        QCOMPARE(f.geometry(3), QRect(185, 6, 50, 30));
        f.setWidth(241);
        QCOMPARE(f.geometry(3), QRect(5, 40, 50, 30));
        QCOMPARE(f.layout->heightForWidth(500), 6 + 30 + 8);
        QCOMPARE(f.layout->heightForWidth(30), 6 + 7 * 30 + 6 * 4 + 8); // one per row
    }

    void flowStretchModes_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<int>("items");
        QTest::addColumn<QSize>("cell");
        QTest::addColumn<QPoint>("lastPos");
        // Content 400 wide (x 5 to 405) with spacing 10: 3 columns of 410 / 3 - 10 = 126, heights scaled by 1.26.
        QTest::newRow("no stretch") << int(KelFlowLayout::NoStretch) << 4 << QSize(100, 50) << QPoint(5, 60);
        QTest::newRow("stretch, one row") << int(KelFlowLayout::Stretch) << 2 << QSize(126, 63) << QPoint(141, 6);
        QTest::newRow("when wrapped, fits")
            << int(KelFlowLayout::StretchWhenWrapped) << 3 << QSize(100, 50) << QPoint(225, 6);
        QTest::newRow("when wrapped, one more")
            << int(KelFlowLayout::StretchWhenWrapped) << 4 << QSize(126, 63) << QPoint(5, 73);
    }
    void flowStretchModes()
    {
        QFETCH(int, mode);
        QFETCH(int, items);
        QFETCH(QSize, cell);
        QFETCH(QPoint, lastPos);
        FlowFixture f;
        f.add(QSize(100, 50), items);
        f.layout->setUniformItemSizes(true);
        f.layout->setStretchMode(KelFlowLayout::StretchMode(mode));
        f.setWidth(412);
        for (int i = 0; i < items; ++i)
            QCOMPARE(f.geometry(i).size(), cell);
        QCOMPARE(f.geometry(items - 1).topLeft(), lastPos);
        QCOMPARE(f.layout->heightForWidth(412), lastPos.y() + cell.height() + 8);
    }

    void flowHiddenItemsTakeNoPlace()
    {
        FlowFixture f;
        f.add(QSize(50, 30));
        f.add(QSize(70, 40), 3);
        f.boxes.at(0)->hide();
        f.add(QSize(20, 90));
        f.layout->setUniformItemSizes(true);
        f.setWidth(200);
        // The first visible item sets the uniform size; the hidden one leaves no gap.
        QCOMPARE(f.geometry(1), QRect(5, 6, 70, 40));
        QCOMPARE(f.geometry(2), QRect(85, 6, 70, 40));
        QCOMPARE(f.geometry(4), QRect(85, 50, 70, 40));
        QCOMPARE(f.layout->minimumSize(), QSize(35 + 12, 20 + 14));

        // Stretching counts the visible items only. At 260 the row has room for two columns, and two of the five
        // items are visible: no widening. A third visible one wraps, so all widen to 258 / 2 - 10 = 119.
        f.layout->setStretchMode(KelFlowLayout::StretchWhenWrapped);
        f.boxes.at(3)->hide();
        f.boxes.at(4)->hide();
        f.setWidth(260);
        QCOMPARE(f.geometry(2), QRect(85, 6, 70, 40));
        f.boxes.at(3)->show();
        f.setWidth(260);
        QCOMPARE(f.geometry(3), QRect(5, 78, 119, 68));
    }

    void flowItemList()
    {
        FlowFixture f;
        f.add(QSize(50, 30), 3);
        QVERIFY(!f.layout->itemAt(-1) && !f.layout->itemAt(3));
        QVERIFY(!f.layout->takeAt(-1) && !f.layout->takeAt(3));
        auto* first = new Box(QSize(20, 20));
        f.layout->insertWidget(0, first);
        f.layout->insertWidget(0, nullptr);
        f.layout->insertWidget(0, &f.container);
        QCOMPARE(f.layout->count(), 4);
        f.setWidth(400);
        QCOMPARE(first->geometry().topLeft(), QPoint(5, 6));
        QCOMPARE(f.geometry(0).topLeft(), QPoint(35, 6));
        delete f.layout->takeAt(0);
        f.setWidth(401);
        QCOMPARE(f.geometry(0).topLeft(), QPoint(5, 6));
    }

    void replacerCarriesItemsAndPlace()
    {
        ReplacerFixture f;
        f.addWidgets("PQRST");
        f.host.resize(130, 300);
        f.host.show();
        QSignalSpy changed(f.replacer, &KelLayoutReplacer::currentLayoutIdChanged);
        // Listeners before the switch still see the old layout current.
        QList<QLayout*> currentBefore;
        connect(f.replacer, &KelLayoutReplacer::currentLayoutIdAboutToChange,
            [&] { currentBefore.append(f.replacer->currentLayout()); });
        f.replacer->setCurrentLayoutId(GridId);
        QCOMPARE(changed.first(), QVariantList({ GridId, ListId }));
        QCOMPARE(currentBefore, QList<QLayout*>({ f.list }));
        QCOMPARE(f.root->indexOf(f.grid), 1);
        QCOMPARE(f.root->indexOf(f.list), -1);
        QCOMPARE(f.list->count(), 0);
        QCOMPARE(f.order(), QString("PQRST"));

        // The grid now places the widgets: three in a row of 130, below the header.
        QCoreApplication::processEvents();
        f.root->activate();
        QCOMPARE(f.widget("S")->pos(), QPoint(0, f.widget("P")->y() + 20 + 12));

        // And back: the list stands where the grid stood, with the items in order.
        f.replacer->setCurrentLayoutId(ListId);
        QCOMPARE(f.root->indexOf(f.list), 1);
        QCOMPARE(f.grid->parent(), f.replacer);
        QCOMPARE(f.order(), QString("PQRST"));

        // Selecting the current or an unknown layout changes nothing.
        f.replacer->setCurrentLayoutId(ListId);
        QTest::ignoreMessage(QtWarningMsg, "7 is not registered and can't be selected as current!");
        f.replacer->setCurrentLayoutId(7);
        QCOMPARE(changed.count(), 2);
        QCOMPARE(f.order(), QString("PQRST"));
    }

    void replacerMovesItems_data()
    {
        QTest::addColumn<int>("layoutId");
        QTest::addColumn<int>("first");
        QTest::addColumn<int>("last");
        QTest::addColumn<int>("destination");
        QTest::addColumn<QString>("expected");
        for (int id : { int(ListId), int(GridId) }) {
            const char* name = id == ListId ? "list" : "grid";
            QTest::addRow("%s: down", name) << id << 2 << 3 << 6 << "PQTURSV";
            QTest::addRow("%s: to the end", name) << id << 0 << 0 << 7 << "QRSTUVP";
            QTest::addRow("%s: negative first", name) << id << -1 << 2 << 5 << "PQRSTUV";
        }
    }
    void replacerMovesItems()
    {
        QFETCH(int, layoutId);
        QFETCH(int, first);
        QFETCH(int, last);
        QFETCH(int, destination);
        QFETCH(QString, expected);
        ReplacerFixture f;
        f.replacer->setCurrentLayoutId(layoutId);
        f.addWidgets("PQRSTUV");
        f.replacer->moveItems(first, last, destination);
        QCOMPARE(f.order(), expected);
    }

    void replacerOwnership()
    {
        QPointer<QLayout> list = new QVBoxLayout;
        QPointer<QLayout> grid = new KelFlowLayout;
        QPointer<QLayout> replaced = new QHBoxLayout;
        QWidget host;
        auto* root = new QVBoxLayout(&host);
        {
            KelLayoutReplacer replacer;
            replacer.registerLayout(ListId, replaced);
            replacer.registerLayout(ListId, list);
            replacer.registerLayout(GridId, grid);
            replacer.setCurrentLayoutId(ListId);
            QCOMPARE(replacer.currentLayout(), list.data());
            root->addLayout(list);
            // A destroyed layout cannot be selected; the current one stays.
            delete grid;
            QTest::ignoreMessage(QtWarningMsg, "Layout with id 1 is destroyed and can't be selected as current!");
            replacer.setCurrentLayoutId(GridId);
            QCOMPARE(root->indexOf(list), 0);
        }
        // The current layout stays in place; the one replaced by a later registration is the caller's again.
        QCOMPARE(list->parent(), root);
        QVERIFY(replaced);
        delete replaced;
    }
};

QTEST_MAIN(TestKelAnimation)
#include "tst_kelanimation.moc"
