#include "colortesthelpers.h"

#include "animators/kelwidgetstateanimator.h"
#include "styles/kelcolors.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QSpinBox>
#include <QTest>

Q_DECLARE_METATYPE(QColor)

namespace {

QColor rgba(int r, int g, int b, int a = 255) { return QColor(r, g, b, a); }

// A frame-like set: white that darkens on hover and press, navy when checked, and a disabled
// colour of each state.
KelStateColors frameColors()
{
    KelStateColors colors(Qt::white, rgba(0, 0, 0, 24), rgba(0, 0, 0, 46), rgba(0, 0, 128), rgba(255, 255, 255, 30),
        rgba(255, 255, 255, 60));
    colors.unchecked.disabled = QColor(0xf1f1f1);
    colors.checked.disabled = QColor(0x808080);
    return colors;
}

} // namespace

class TestKelColors : public QObject {
    Q_OBJECT

private slots:
    void blendColorOver_data()
    {
        QTest::addColumn<QColor>("bottom");
        QTest::addColumn<QColor>("top");
        QTest::addColumn<QColor>("expected");
        QTest::newRow("transparent top") << QColor(Qt::red) << QColor(Qt::transparent) << QColor(Qt::red);
        QTest::newRow("opaque top") << QColor(Qt::red) << QColor(Qt::blue) << QColor(Qt::blue);
        QTest::newRow("white half over black") << QColor(Qt::black) << rgba(255, 255, 255, 128) << rgba(128, 128, 128);
        QTest::newRow("light overlay") << QColor(Qt::white) << rgba(0, 0, 0, 24) << rgba(231, 231, 231);
        QTest::newRow("both translucent") << rgba(255, 0, 0, 128) << rgba(0, 0, 255, 128) << rgba(85, 0, 170, 192);
        QTest::newRow("over nothing") << QColor(Qt::transparent) << rgba(0, 200, 0, 100) << rgba(0, 200, 0, 100);
    }
    void blendColorOver()
    {
        QFETCH(QColor, bottom);
        QFETCH(QColor, top);
        QFETCH(QColor, expected);
        COMPARE_COLOR(::blendColorOver(bottom, top), expected);
    }

    void interpolation_data()
    {
        QTest::addColumn<QColor>("from");
        QTest::addColumn<QColor>("to");
        QTest::addColumn<double>("progress");
        QTest::addColumn<int>("mode");
        QTest::addColumn<QColor>("expected");
        const QColor black(Qt::black);
        const QColor orange(255, 100, 50);
        QTest::newRow("linear half") << black << orange << 0.5 << 0 << rgba(127, 50, 25);
        QTest::newRow("linear quarter") << black << orange << 0.25 << 0 << rgba(63, 25, 12);
        QTest::newRow("beyond the end") << black << orange << 1.5 << 0 << orange;
        QTest::newRow("before the start") << black << orange << -0.2 << 0 << black;
        QTest::newRow("fuzzy start") << black << orange << 1e-13 << 1 << black;
        QTest::newRow("fuzzy end") << black << orange << 1.0 - 1e-13 << 1 << orange;
        QTest::newRow("root mean square") << black << QColor(Qt::white) << 0.5 << 1 << rgba(180, 180, 180);
        QTest::newRow("fade in from transparent")
            << QColor(Qt::transparent) << QColor(Qt::red) << 0.5 << 1 << rgba(255, 0, 0, 127);
        QTest::newRow("fade out to transparent")
            << QColor(Qt::red) << QColor(Qt::transparent) << 0.25 << 1 << rgba(255, 0, 0, 191);
        QTest::newRow("alpha mixes linearly")
            << rgba(0, 0, 255, 255) << rgba(0, 0, 255, 55) << 0.5 << 1 << rgba(0, 0, 255, 155);
        QTest::newRow("unknown mode") << black << orange << 0.3 << 7 << orange;
        QTest::newRow("equal ends") << orange << orange << 0.3 << 0 << orange;
    }
    void interpolation()
    {
        QFETCH(QColor, from);
        QFETCH(QColor, to);
        QFETCH(double, progress);
        QFETCH(int, mode);
        QFETCH(QColor, expected);
        COMPARE_COLOR(interpolateColor(from, to, progress, mode), expected);
    }

    void interpolateIntTruncatesTowardZero()
    {
        QCOMPARE(interpolateInt(0, 10, 0.55), 5);
        QCOMPARE(interpolateInt(10, 0, 0.55), 4);
        QCOMPARE(interpolateInt(0, -10, 0.55), -5);
        QCOMPARE(interpolateInt(3, 9, 1e-13), 3);
        QCOMPARE(interpolateInt(3, 9, 1.0 - 1e-13), 9);
        QCOMPARE(interpolateInt(3, 9, 2.0), 15); // not clamped here; colours clamp first
    }

    void darkColors_data()
    {
        QTest::addColumn<QColor>("color");
        QTest::addColumn<bool>("dark");
        QTest::newRow("#808080 at the edge") << QColor(0x808080) << false;
        QTest::newRow("#7f7f7f below it") << QColor(0x7f7f7f) << true;
        QTest::newRow("black") << QColor(Qt::black) << true;
        QTest::newRow("white") << QColor(Qt::white) << false;
        QTest::newRow("pure green weighs less than half") << QColor(Qt::green) << true;
        QTest::newRow("yellow") << QColor(Qt::yellow) << false;
        QTest::newRow("invalid") << QColor() << false;
        QTest::newRow("transparent") << QColor(Qt::transparent) << false;
        QTest::newRow("translucent black still dark") << rgba(0, 0, 0, 30) << true;
    }
    void darkColors()
    {
        QFETCH(QColor, color);
        QFETCH(bool, dark);
        QCOMPARE(isDarkColor(color), dark);
    }

    void stateColors_data()
    {
        QTest::addColumn<bool>("checked");
        QTest::addColumn<double>("hovered");
        QTest::addColumn<double>("pressed");
        QTest::addColumn<double>("disabled");
        QTest::addColumn<QColor>("expected");
        QTest::newRow("normal") << false << 0.0 << 0.0 << 0.0 << QColor(Qt::white);
        QTest::newRow("hovered") << false << 1.0 << 0.0 << 0.0 << rgba(231, 231, 231);
        QTest::newRow("hover fading in") << false << 0.5 << 0.0 << 0.0 << rgba(243, 243, 243);
        QTest::newRow("pressed") << false << 1.0 << 1.0 << 0.0 << rgba(209, 209, 209);
        QTest::newRow("press half way") << false << 1.0 << 0.5 << 0.0 << rgba(220, 220, 220);
        QTest::newRow("checked") << true << 0.0 << 0.0 << 0.0 << rgba(0, 0, 128);
        QTest::newRow("checked and hovered") << true << 1.0 << 0.0 << 0.0 << rgba(30, 30, 143);
        QTest::newRow("disabled") << false << 0.0 << 0.0 << 1.0 << QColor(0xf1f1f1);
        QTest::newRow("disabling half way") << false << 0.0 << 0.0 << 0.5 << rgba(248, 248, 248);
        QTest::newRow("checked and disabled") << true << 0.0 << 0.0 << 1.0 << QColor(0x808080);
    }
    // Each state is reached through the animator's own setters without animation; part-way
    // values are written as progress.
    void stateColors()
    {
        QFETCH(bool, checked);
        QFETCH(double, hovered);
        QFETCH(double, pressed);
        QFETCH(double, disabled);
        QFETCH(QColor, expected);
        KelWidgetStateAnimator animator(0);
        animator.setChecked(checked, false);
        animator.setHovered(hovered > 0, false);
        animator.setPressed(pressed > 0, false);
        animator.setDisabled(disabled > 0, false);
        QCOMPARE(animator.checkedProgress(), checked ? 1.0 : 0.0);
        animator.setHoveredProgress(hovered);
        animator.setPressedProgress(pressed);
        animator.setDisabledProgress(disabled);
        COMPARE_COLOR(blendStateColor(frameColors(), &animator), expected);
    }

    void checkFadeMixesTheSets()
    {
        KelWidgetStateAnimator animator(0);
        animator.setCheckedProgress(0.5);
        // Root mean square of white and navy.
        COMPARE_COLOR(blendStateColor(frameColors(), &animator), rgba(180, 180, 202));
        COMPARE_COLOR(blendStateColor(frameColors(), nullptr), QColor(Qt::white));
    }

    void missingDisabledColourFadesTheAlpha()
    {
        KelWidgetStateAnimator animator(0);
        animator.setDisabled(true, false);
        // Base dimming 0.6: a fully disabled widget keeps 40 % of its alpha.
        QCOMPARE(animator.opacity(), 0.4);
        COMPARE_COLOR(blendStateColor(KelStateColors(Qt::red), &animator), rgba(255, 0, 0, 102));
        KelStateColors transparentDisabled(Qt::red);
        transparentDisabled.unchecked.disabled = QColor(Qt::transparent);
        COMPARE_COLOR(blendStateColor(transparentDisabled, &animator), rgba(255, 0, 0, 102));
        animator.setDisabledDimming(0.25);
        COMPARE_COLOR(blendStateColor(KelStateColors(Qt::red), &animator), rgba(255, 0, 0, 191));
        // No colour stays no colour.
        QVERIFY(!blendStateColor(KelStateColors(QColor()), &animator).isValid());
    }

    // A real field: hidden and disabled, it takes the disabled colour at once; focused, the
    // checked one (text fields show focus as the checked state).
    void stateColoursFollowAWatchedWidget()
    {
        QWidget window;
        auto* edit = new QLineEdit(&window);
        auto* other = new QLineEdit(&window);
        KelWidgetStateAnimator animator(2);
        edit->setEnabled(false);
        animator.setWidget(edit);
        COMPARE_COLOR(blendStateColor(frameColors(), &animator), QColor(0xf1f1f1));
        edit->setEnabled(true);
        window.show();
        QApplication::setActiveWindow(&window);
        QVERIFY(QTest::qWaitForWindowActive(&window));
        edit->setFocus();
        QTRY_COMPARE(animator.checkedProgress(), 1.0);
        QTRY_COMPARE(animator.disabledProgress(), 0.0);
        COMPARE_COLOR(blendStateColor(frameColors(), &animator), rgba(0, 0, 128));
        other->setFocus();
        QTRY_COMPARE(animator.checkedProgress(), 0.0);
        COMPARE_COLOR(blendStateColor(frameColors(), &animator), QColor(Qt::white));
    }

    void paletteSetters()
    {
        QWidget widget;
        QVERIFY(!widget.autoFillBackground());
        setPaletteColor(&widget, QPalette::Window, Qt::red);
        QCOMPARE(widget.palette().color(QPalette::Active, QPalette::Window), QColor(Qt::red));
        QCOMPARE(widget.palette().color(QPalette::Inactive, QPalette::Window), QColor(Qt::red));
        QCOMPARE(widget.palette().color(QPalette::Disabled, QPalette::Window), rgba(255, 0, 0, 153));
        QVERIFY(widget.autoFillBackground());

        // A colour already set changes nothing, not even the filling.
        QWidget preset;
        QPalette palette = preset.palette();
        palette.setColor(QPalette::Window, Qt::blue);
        preset.setPalette(palette);
        setPaletteColor(&preset, QPalette::Window, Qt::blue);
        QVERIFY(!preset.autoFillBackground());
        QCOMPARE(preset.palette().color(QPalette::Disabled, QPalette::Window), QColor(Qt::blue));

        // Other roles leave the filling alone.
        QWidget text;
        setPaletteColor(&text, QPalette::WindowText, Qt::green);
        QVERIFY(!text.autoFillBackground());

        QLabel label;
        setWidgetForegroundColor(&label, Qt::darkRed);
        QCOMPARE(label.palette().color(label.foregroundRole()), QColor(Qt::darkRed));
        QSpinBox spin;
        setWidgetForegroundColor(&spin, Qt::darkBlue);
        QCOMPARE(spin.palette().color(QPalette::Active, QPalette::Text), QColor(Qt::darkBlue));
        setWidgetBackgroundColor(&label, Qt::yellow);
        QCOMPARE(label.palette().color(label.backgroundRole()), QColor(Qt::yellow));
        setWidgetForegroundColor(nullptr, Qt::red);
        setWidgetBackgroundColor(nullptr, Qt::red);
        setWidgetBackgroundBrush(nullptr, Qt::red);

        QWidget brushed;
        const QBrush pattern(Qt::cyan, Qt::Dense4Pattern);
        setWidgetBackgroundBrush(&brushed, pattern);
        for (QPalette::ColorGroup group : { QPalette::Active, QPalette::Inactive, QPalette::Disabled })
            QCOMPARE(brushed.palette().brush(group, brushed.backgroundRole()), pattern);
        QVERIFY(brushed.autoFillBackground());

        QCOMPARE(colorWithAlpha(Qt::white, 0.5).alpha(), 128);
        QCOMPARE(colorWithAlpha(Qt::white, 2.0).alpha(), 255);
    }
};

QTEST_MAIN(TestKelColors)
#include "tst_kelcolors.moc"
