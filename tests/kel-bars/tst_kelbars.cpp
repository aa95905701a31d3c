// Icon labels, progress bars and scroll bars, drawn at the screen's device pixel ratio.
#include "../kel-button/buttontesthelpers.h"
#include "../kelapp/kelapptest.h"

#include "animators/kelwidgetstateanimator.h"
#include "kelapplication.h"
#include "styles/kelstyle.h"
#include "widgets/keliconlabel.h"
#include "widgets/kelprogressbar.h"
#include "widgets/kelscrollbar.h"

#include <QFontMetrics>
#include <QScreen>
#include <QScrollArea>
#include <QSignalSpy>
#include <QtTest>

namespace {

const QColor kIconColor(0, 200, 0);
const QColor kTextColor(220, 0, 0);
const QColor kBackground(255, 255, 255);
const QColor kPanelColor(255, 0, 255);

void resizeNow(QWidget* widget, const QSize& size)
{
    widget->resize(size);
    QResizeEvent event(size, QSize());
    QCoreApplication::sendEvent(widget, &event);
}

// A window with a scroll area whose content is as tall as asked, and a bar beside it.
struct ScrollScene {
    explicit ScrollScene(int visibilityMode)
        : area(new QScrollArea(&window))
        , content(new QWidget)
    {
        window.resize(240, 120);
        area->setGeometry(0, 0, 200, 100);
        area->setFrameShape(QFrame::NoFrame);
        content->resize(100, 50);
        area->setWidget(content);
        bar = new KelScrollBar(-1, area, Qt::Vertical, visibilityMode, &window);
        bar->setGeometry(210, 0, 16, 100);
        window.show();
    }
    // The scroll area lays its scroll bars out on its own event-loop pass.
    void setContentHeight(int height)
    {
        content->resize(100, height);
        QCoreApplication::processEvents();
    }
    QWidget window;
    QScrollArea* area;
    QWidget* content;
    KelScrollBar* bar = nullptr;
};

// A magenta panel under a widget, grabbed together, so that what the widget leaves unpainted shows.
QImage grabOverPanel(QWidget* panel)
{
    panel->setAutoFillBackground(true);
    QPalette palette = panel->palette();
    palette.setColor(QPalette::Window, kPanelColor);
    panel->setPalette(palette);
    return grabImage(panel);
}

} // namespace

class TestKelBars : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
#ifdef KEL_TEST_SCALE_FACTOR
        QCOMPARE(QGuiApplication::primaryScreen()->devicePixelRatio(), double(KEL_TEST_SCALE_FACTOR));
#endif
    }

    void iconLabelSizeHintFollowsItsContent()
    {
        KelIconLabel label(-1);
        label.setIcon(solidIcon("bars-green-16", QSize(16, 16), kIconColor));
        label.setSpacing(6);
        label.setFont(14, QFont::Normal);
        label.setText(QStringLiteral("Pages"));
        const QSize text = QFontMetrics(label.font()).size(0, QStringLiteral("Pages"));
        QCOMPARE(label.sizeHint(), QSize(16 + 6 + text.width(), qMax(16, text.height())));

        // A longer text through the painter resets the cached hints for the next layout pass.
        label.setText(QStringLiteral("Pages and chapters"));
        const QSize longer = QFontMetrics(label.font()).size(0, QStringLiteral("Pages and chapters"));
        QCOMPARE(label.sizeHint().width(), 16 + 6 + longer.width());

        // A bigger font re-measures the text.
        const int before = label.sizeHint().width();
        QFont big = label.font();
        big.setPixelSize(28);
        label.QWidget::setFont(big);
        QVERIFY(label.sizeHint().width() > before);
        QCOMPARE(label.sizePolicy().horizontalPolicy(), QSizePolicy::Fixed);
        QCOMPARE(label.minimumSize(), QSize(0, 0));
    }

    void iconLabelPaintsFrameIconAndText()
    {
        QWidget panel;
        panel.resize(200, 40);
        KelIconLabel* label = new KelIconLabel(-1, &panel);
        label->setIcon(solidIcon("bars-green-16", QSize(16, 16), kIconColor));
        label->setContentColors(KelStateColors(kTextColor));
        label->setBackgroundColors(KelStateColors(kBackground));
        label->setSpacing(8);
        label->setFont(14, QFont::Bold);
        label->setText(QStringLiteral("WWW"));
        label->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
        label->setGeometry(10, 5, 120, 30);
        resizeNow(label, QSize(120, 30));

        const QImage image = grabOverPanel(&panel);
        QVERIFY(nearColor(pixelAt(image, 10 + 8, 5 + 15), kIconColor));
        QVERIFY(nearColor(pixelAt(image, 10 + 110, 5 + 2), kBackground));
        QVERIFY(nearColor(pixelAt(image, 5, 5), kPanelColor));
        const QRectF textArea(10 + 16 + 8, 5, 60, 30);
        QVERIFY(countColor(image, textArea, kTextColor) > 10);
        // No click handling: a press goes on to the parent.
        QVERIFY(!label->testAttribute(Qt::WA_Hover));
    }

    void iconLabelFadesWhenDisabled()
    {
        KelIconLabel label(-1);
        KelWidgetStateAnimator* animator = label.stateAnimator();
        QCOMPARE(animator->disabledProgress(), 0.0);
        label.resize(60, 20);
        label.show();
        QVERIFY(QTest::qWaitForWindowExposed(&label));
        label.setEnabled(false);
        QTRY_COMPARE(animator->disabledProgress(), 1.0);
        label.setEnabled(true);
        QTRY_COMPARE(animator->disabledProgress(), 0.0);
    }

    void iconLabelStylesOnConstruction()
    {
        KelStyle* style = kelStyle();
        // A push-button role takes the style's push-button paddings at once, or only when asked.
        KelIconLabel styled(11, QStringLiteral("bars-green-16"), nullptr, false);
        QCOMPARE(styled.paddings(), style->margins(4));
        QCOMPARE(styled.icon()->name(), QStringLiteral("bars-green-16"));
        KelIconLabel deferred(11, nullptr, true);
        QCOMPARE(deferred.paddings(), QMargins());
        deferred.applyStyle();
        QCOMPARE(deferred.paddings(), style->margins(4));
    }

    void progressStates_data()
    {
        QTest::addColumn<QList<int>>("states");
        QTest::addColumn<int>("minimum");
        QTest::addColumn<int>("maximum");
        QTest::addColumn<int>("value");
        QTest::newRow("busy") << QList<int> { 1 } << 0 << 0 << -1;
        QTest::newRow("busy and back") << QList<int> { 1, 0 } << 10 << 200 << 120;
        QTest::newRow("paused keeps the range") << QList<int> { 2 } << 10 << 200 << 120;
        QTest::newRow("paused then normal") << QList<int> { 2, 0 } << 10 << 200 << 120;
        QTest::newRow("busy then paused") << QList<int> { 1, 2 } << 10 << 200 << 120;
        QTest::newRow("busy paused normal") << QList<int> { 1, 2, 0 } << 10 << 200 << 120;
        QTest::newRow("busy twice keeps the first range") << QList<int> { 1, 1, 0 } << 10 << 200 << 120;
    }

    void progressStates()
    {
        QFETCH(QList<int>, states);
        KelProgressBar bar(-1);
        QCOMPARE(bar.alignment(), Qt::AlignHCenter | Qt::AlignVCenter);
        bar.setRange(10, 200);
        bar.setValue(120);
        for (int state : states)
            bar.setState(KelProgressBar::State(state));
        QCOMPARE(bar.state(), KelProgressBar::State(states.last()));
        QTEST(bar.minimum(), "minimum");
        QTEST(bar.maximum(), "maximum");
        if (bar.maximum() != 0)
            QTEST(bar.value(), "value");
    }

    void progressBarDrawsItsValue()
    {
        QWidget panel;
        panel.resize(220, 40);
        KelProgressBar* bar = new KelProgressBar(-1, &panel);
        bar->setTextVisible(false);
        bar->setGeometry(10, 10, 200, 20);
        bar->setRange(0, 100);
        bar->setValue(50);
        QImage image = grabOverPanel(&panel);
        const QColor filled = pixelAt(image, 10 + 50, 20);
        const QColor empty = pixelAt(image, 10 + 150, 20);
        QVERIFY(filled != empty);

        // Back from busy mode the same half is filled again.
        bar->setState(KelProgressBar::Indeterminate);
        bar->setState(KelProgressBar::Normal);
        image = grabOverPanel(&panel);
        QCOMPARE(pixelAt(image, 10 + 50, 20), filled);
        QCOMPARE(pixelAt(image, 10 + 150, 20), empty);
    }

    void scrollBarMirrorsTheArea()
    {
        ScrollScene scene(KelScrollBar::NoSpecialVisibility);
        QVERIFY(QTest::qWaitForWindowExposed(&scene.window));
        QScrollBar* own = scene.area->verticalScrollBar();
        QCOMPARE(scene.bar->source(), own);
        QCOMPARE(scene.area->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
        QCOMPARE(scene.bar->objectName(), QStringLiteral("KelVerticalScrollBar"));

        scene.setContentHeight(1000);
        QCOMPARE(own->maximum(), 900);
        QCOMPARE(scene.bar->maximum(), 900);
        QCOMPARE(scene.bar->pageStep(), own->pageStep());
        QCOMPARE(scene.bar->singleStep(), own->singleStep());
        QVERIFY(!own->isVisible());

        // Scrolling the area moves the bar; a click on the bar's lower track scrolls the area by a page.
        own->setValue(30);
        QCOMPARE(scene.bar->value(), 30);
        QTest::mouseClick(scene.bar, Qt::LeftButton, Qt::NoModifier, QPoint(8, 95));
        QTRY_VERIFY(own->value() > 30);
        QCOMPARE(own->value(), scene.bar->value());
        QCOMPARE(scene.content->y(), -own->value());

        // Keys on the bar scroll the area as well.
        scene.bar->setValue(0);
        QCOMPARE(own->value(), 0);
        QTest::keyClick(scene.bar, Qt::Key_End);
        QCOMPARE(own->value(), 900);
    }

    void scrollBarHidesWithNothingToScroll()
    {
        ScrollScene scene(KelScrollBar::VisibleWhenScrollable);
        QSignalSpy available(scene.bar, &KelScrollBar::scrollAvailableChanged);
        QVERIFY(QTest::qWaitForWindowExposed(&scene.window));
        QVERIFY(!scene.bar->isScrollAvailable());
        QVERIFY(!scene.bar->isVisible());

        scene.setContentHeight(400);
        QVERIFY(scene.bar->isVisible());
        QVERIFY(!available.isEmpty());
        QCOMPARE(available.last().at(0).toBool(), true);

        scene.setContentHeight(500);
        QCOMPARE(available.last().at(0).toBool(), true);
        const int calls = available.count();

        scene.setContentHeight(60);
        QVERIFY(!scene.bar->isVisible());
        QVERIFY(available.count() > calls);
        QCOMPARE(available.last().at(0).toBool(), false);
    }

    void scrollBarPaintsNothingWithNothingToScroll_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<int>("contentHeight");
        QTest::addColumn<bool>("painted");
        QTest::newRow("transparent, fits") << int(KelScrollBar::TransparentWhenNotScrollable) << 60 << false;
        QTest::newRow("transparent, scrolls") << int(KelScrollBar::TransparentWhenNotScrollable) << 600 << true;
        QTest::newRow("plain, fits") << int(KelScrollBar::NoSpecialVisibility) << 60 << true;
    }

    void scrollBarPaintsNothingWithNothingToScroll()
    {
        QFETCH(int, mode);
        QFETCH(int, contentHeight);
        QFETCH(bool, painted);
        ScrollScene scene(mode);
        QVERIFY(QTest::qWaitForWindowExposed(&scene.window));
        scene.setContentHeight(contentHeight);
        QVERIFY(scene.bar->isVisible());
        const QImage image = grabOverPanel(&scene.window);
        const QRectF barArea(210, 0, 16, 100);
        const int panelPixels = countColor(image, barArea, kPanelColor, 0);
        const double ratio = image.devicePixelRatioF();
        const int all = int(16 * ratio) * int(100 * ratio);
        QCOMPARE(panelPixels == all, !painted);
    }

    void scrollBarStartsInStepWhenShownLate()
    {
        QScrollArea area;
        area.resize(200, 100);
        QWidget* content = new QWidget;
        content->resize(100, 700);
        area.setWidget(content);
        area.show();
        QVERIFY(QTest::qWaitForWindowExposed(&area));
        area.verticalScrollBar()->setValue(250);

        KelScrollBar bar(-1, Qt::Horizontal, KelScrollBar::NoSpecialVisibility);
        QCOMPARE(bar.objectName(), QStringLiteral("KelHorizontalScrollBar"));
        bar.attachTo(&area, Qt::Vertical);
        QCOMPARE(bar.orientation(), Qt::Vertical);
        QCOMPARE(bar.value(), 250);
        QVERIFY(!bar.testAttribute(Qt::WA_OpaquePaintEvent));
        QVERIFY(!bar.autoFillBackground());
    }
};

int main(int argc, char** argv)
{
#ifdef KEL_TEST_SCALE_FACTOR
    qputenv("QT_SCALE_FACTOR", QByteArray::number(KEL_TEST_SCALE_FACTOR));
#endif
    return runKelAppTest<KelApplication, TestKelBars>(argc, argv, QStringLiteral("Kel Bars Test"));
}

#include "tst_kelbars.moc"
