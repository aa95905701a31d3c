#include "applooktest.h"

#include "animators/kelwidgetstateanimator.h"
#include "eventfilters/kelgeometrywatcher.h"
#include "painting/keliconsprovider.h"
#include "widgets/installscrollbars.h"
#include "widgets/kelscrollbar.h"
#include "widgets/metroprogressbar.h"

#include <QApplication>
#include <QHoverEvent>
#include <QPushButton>
#include <QScrollArea>
#include <QStyle>
#include <QVBoxLayout>

#include <functional>
#include <memory>

namespace {

qint64 g_now = 0;
qint64 fakeClock() { return g_now; }

bool isWhite(const QColor& c) { return c.alpha() > 200 && c.red() > 235 && c.green() > 235 && c.blue() > 235; }
// A half-faded white dot over a half-faded blue ring: far more red than the ring has.
bool isDot(const QColor& c) { return c.alpha() > 60 && c.red() > 120; }

// The matching pixels of one device row: their count and the centre of the run, in logical pixels.
struct Run {
    int count = 0;
    double center = 0.0;
};

Run whiteRun(const QImage& image, int deviceRow, bool (*matches)(const QColor&) = &isWhite)
{
    Run run;
    int first = -1;
    for (int x = 0; x < image.width(); ++x) {
        if (!matches(image.pixelColor(x, deviceRow)))
            continue;
        if (first < 0)
            first = x;
        ++run.count;
        run.center = (first + x + 1) / 2.0;
    }
    const double ratio = image.devicePixelRatio();
    run.center /= ratio;
    run.count = qRound(run.count / ratio);
    return run;
}

// Paints the icon for a checked animator at the progress.
QImage iconImage(const char* name, double ratio, bool checked, double progress)
{
    KelWidgetStateAnimator animator(0);
    animator.setChecked(checked, false);
    animator.setCheckedProgress(progress);
    KelIcon* icon = KelIconsProvider::instance()->icon(name);
    return icon->statePixmap(ratio, icon->defaultSize(), QColor(), &animator).toImage();
}

// The thickness of the vertical bar's handle: painted columns of one row inside the bar's strip.
int handleThickness(QWidget* area, int row)
{
    const QImage image = area->grab().toImage();
    const QColor background = image.pixelColor(5, row);
    int painted = 0;
    for (int x = image.width() - 18; x < image.width(); ++x)
        painted += image.pixelColor(x, row) != background;
    return painted;
}

} // namespace

class TestAppLookWidgets : public QObject {
    Q_OBJECT

    std::unique_ptr<Profiles> m_profiles;

private slots:
    void initTestCase() { m_profiles.reset(new Profiles); }
    void cleanup() { MetroProgressBar::setClock(nullptr); }

    void animatedIcons_data()
    {
        QTest::addColumn<double>("ratio");
        QTest::newRow("1") << 1.0;
        QTest::newRow("1.5") << 1.5;
    }

    void animatedIcons()
    {
        QFETCH(double, ratio);
        const int middle = int(9 * ratio);
        // The toggle's knob (12 px high) is round at the ends and 10 px longer half way, centred.
        const Run off = whiteRun(iconImage("ToggleIcon", ratio, false, 0.0), middle);
        const Run half = whiteRun(iconImage("ToggleIcon", ratio, true, 0.5), middle);
        const Run on = whiteRun(iconImage("ToggleIcon", ratio, true, 1.0), middle);
        QVERIFY2(qAbs(off.count - 12) <= 1 && qAbs(on.count - 12) <= 1, qPrintable(QString::number(off.count)));
        QVERIFY2(qAbs(half.count - 22) <= 1, qPrintable(QString::number(half.count)));
        QVERIFY(qAbs(off.center - 9) <= 0.75 && qAbs(on.center - 19) <= 0.75);
        QVERIFY2(qAbs(half.center - 14) <= 0.75, qPrintable(QString::number(half.center)));

        // The check mark draws itself while checking, and is gone at once while unchecking.
        int marked = 0;
        int unmarked = 0;
        const QImage checking = iconImage("CheckBoxIcon", ratio, true, 1.0);
        const QImage unchecking = iconImage("CheckBoxIcon", ratio, false, 0.7);
        for (int y = 0; y < checking.height(); ++y) {
            marked += whiteRun(checking, y).count;
            unmarked += whiteRun(unchecking, y).count;
        }
        QVERIFY(marked > 5);
        QCOMPARE(unmarked, 0);

        // The radio dot grows from the centre: half its size half way, the full 8 px dot at the end.
        const Run early = whiteRun(iconImage("RadioIcon", ratio, true, 0.5), middle, &isDot);
        const Run full = whiteRun(iconImage("RadioIcon", ratio, true, 1.0), middle, &isDot);
        QVERIFY2(
            qAbs(early.count - 4) <= 1 && qAbs(early.center - 9) <= 0.75, qPrintable(QString::number(early.count)));
        QVERIFY2(qAbs(full.count - 8) <= 1 && qAbs(full.center - 9) <= 0.75, qPrintable(QString::number(full.count)));
    }

    void metroDotsFollowTheClock_data()
    {
        QTest::addColumn<int>("elapsed");
        QTest::addColumn<int>("movedDots"); // dots that left the start
        QTest::addColumn<bool>("atRest"); // every dot at its end point
        QTest::newRow("start") << 0 << 0 << false;
        QTest::newRow("first delay") << 249 << 1 << false;
        QTest::newRow("all running") << 1500 << 5 << false;
        QTest::newRow("rest begins") << 2750 << 5 << true;
        QTest::newRow("rest ends") << 3499 << 5 << true;
        QTest::newRow("next cycle") << 3500 << 0 << false;
    }

    void metroDotsFollowTheClock()
    {
        QFETCH(int, elapsed);
        QFETCH(int, movedDots);
        QFETCH(bool, atRest);
        MetroProgressBar::setClock(&fakeClock);
        g_now = 10000;
        MetroProgressBar bar;
        bar.setRange(0, 0);
        bar.setDotRadius(5);
        QCOMPARE(bar.height(), 10);
        bar.resize(300, 10);
        bar.show();
        QVERIFY(QTest::qWaitForWindowExposed(&bar));
        bar.repaint();
        QVERIFY(bar.isAnimating());
        g_now += elapsed;
        const QVector<QPointF> dots = bar.dotCenters();
        QCOMPARE(dots.size(), 5);
        const double start = -50; // the run-in stretch: 5 dots 10 px apart
        const double length = 300 + 75 - start;
        int moved = 0;
        for (int i = 0; i < dots.size(); ++i) {
            moved += dots[i].x() > start + 0.01;
            QCOMPARE(dots[i].y(), 5.0);
            if (atRest)
                QVERIFY(qAbs(dots[i].x() - (start + length * (1.0 - 0.03 * i))) < 0.05);
        }
        QCOMPARE(moved, movedDots);
        if (elapsed == 249)
            QVERIFY(dots[0].x() > 0); // the first dot is on its way and in view

        // No timer while hidden or while the bar shows a real range.
        bar.setRange(0, 100);
        bar.repaint();
        QVERIFY(!bar.isAnimating());
        bar.setRange(0, 0);
        bar.repaint();
        QVERIFY(bar.isAnimating());
        bar.hide();
        QVERIFY(!bar.isAnimating());
    }

    void scrollBars()
    {
        Profiles::use(QStringLiteral("DayStyle"));
        Host host;
        auto* layout = new QVBoxLayout(&host);
        auto* area = new QScrollArea;
        area->setFrameShape(QFrame::NoFrame);
        layout->addWidget(area);
        auto* content = new QWidget;
        content->setMinimumSize(100, 1000);
        area->setWidget(content);
        area->setWidgetResizable(true);
        host.resize(200, 200);
        installScrollBars(area, 1);
        installScrollBars(area, 1);
        host.show();
        QVERIFY(QTest::qWaitForWindowExposed(&host));
        const QList<KelScrollBar*> bars = area->findChildren<KelScrollBar*>();
        QCOMPARE(bars.size(), 2);
        QCOMPARE(area->findChildren<KelGeometryWatcher*>().size(), 2);
        KelScrollBar* vertical = bars[0]->orientation() == Qt::Vertical ? bars[0] : bars[1];
        QVERIFY(vertical->isVisible());
        QCOMPARE(vertical->width(), 18);
        QCOMPARE(content->contentsMargins().right(), 18);

        // A quick pass does not widen the bar; a mouse that rests does.
        const int row = 20;
        QCOMPARE(handleThickness(area, row), 6);
        QHoverEvent enter(QEvent::HoverEnter, QPointF(9, row), QPointF(-1, -1));
        QHoverEvent leave(QEvent::HoverLeave, QPointF(-1, -1), QPointF(9, row));
        QCoreApplication::sendEvent(vertical, &enter);
        QCoreApplication::processEvents();
        QCoreApplication::sendEvent(vertical, &leave);
        QTest::qWait(400);
        QCOMPARE(handleThickness(area, row), 6);
        QCoreApplication::sendEvent(vertical, &enter);
        QTRY_COMPARE(handleThickness(area, row), 12);
        QCoreApplication::sendEvent(vertical, &leave);
        QTRY_COMPARE_WITH_TIMEOUT(handleThickness(area, row), 6, 2000);

        // Short content hides the bar and gives the reserved margin back.
        content->setMinimumSize(10, 10);
        QTRY_VERIFY(!vertical->isVisible());
        QCOMPARE(content->contentsMargins().right(), 0);

        // Deleting the area deletes its bars' styles, never the application's.
        QStyle* appStyle = QApplication::style();
        delete area;
        QCOMPARE(QApplication::style(), appStyle);
        QPushButton button(QStringLiteral("still styled"));
        QVERIFY(!button.grab().isNull());
        QVERIFY(appStyle->pixelMetric(QStyle::PM_ButtonMargin) >= 0);
    }

    void scrollBarsHonourAlwaysOff()
    {
        QScrollArea area;
        area.setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        installScrollBars(&area, 0);
        const QList<KelScrollBar*> bars = area.findChildren<KelScrollBar*>();
        QCOMPARE(bars.size(), 1);
        QCOMPARE(bars[0]->orientation(), Qt::Horizontal);
    }
};

int main(int argc, char** argv)
{
    return runKelAppTest<KelApplication, TestAppLookWidgets>(argc, argv, QStringLiteral("app-look-widgets-test"));
}

#include "tst_applookwidgets.moc"
