#include "colortesthelpers.h"

#include "styles/kelqproxystyle.h"
#include "styles/kelstyle.h"
#include "utils/kelgeometryutils.h"

#include <QApplication>
#include <QCommonStyle>
#include <QEasingCurve>
#include <QFontInfo>
#include <QLabel>
#include <QPainter>
#include <QScrollBar>
#include <QStyleOption>
#include <QTest>

Q_DECLARE_METATYPE(QColor)

namespace {

QColor rgba(int r, int g, int b, int a = 255) { return QColor(r, g, b, a); }

// A program style that changes only the plain window border (role 3).
class BorderStyle : public KelStyle {
public:
    QColor color(int role) const override { return role == 3 ? QColor(Qt::red) : KelStyle::color(role); }
};

class DarkStyle : public KelStyle {
public:
    bool isDarkTheme() const override { return true; }
    int metric(int kind) const override { return kind == 0 ? 5 : KelStyle::metric(kind); }
};

// Records what the proxy hands down to the platform style.
class RecordingStyle : public QCommonStyle {
public:
    mutable QList<PrimitiveElement> drawn;
    void drawPrimitive(PrimitiveElement element, const QStyleOption*, QPainter*, const QWidget*) const override
    {
        drawn.append(element);
    }
    int pixelMetric(PixelMetric, const QStyleOption*, const QWidget*) const override { return 77; }
    int styleHint(StyleHint, const QStyleOption*, const QWidget*, QStyleHintReturn*) const override { return 5; }
};

bool marked(const QWidget* widget, const char* property) { return widget->property(property).toBool(); }

} // namespace

class TestKelStyle : public QObject {
    Q_OBJECT

private slots:
    void currentStyleWithoutToolkitApplication()
    {
        KelStyle* style = kelStyle();
        QVERIFY(style);
        QCOMPARE(kelStyle(), style);
        QCOMPARE(style->id(), QStringLiteral("KelStyle"));
        QCOMPARE(style->title(), QStringLiteral("KelStyle"));
        QVERIFY(style->styleIconPath().isEmpty());
        QVERIFY(!style->isDarkTheme());
    }

    void colorRoles_data()
    {
        QTest::addColumn<int>("role");
        QTest::addColumn<QColor>("expected");
        QTest::newRow("accent") << 0 << QColor();
        QTest::newRow("pressed overlay") << 1 << rgba(0, 0, 0, 46);
        QTest::newRow("window") << 2 << QColor(0xffffff);
        QTest::newRow("window border") << 3 << rgba(0, 0, 0, 56);
        QTest::newRow("window shadow") << 4 << rgba(0, 0, 0, 56);
        QTest::newRow("blocked window") << 5 << rgba(0, 0, 0, 64);
        QTest::newRow("dialog") << 6 << QColor(0xf4f4f4);
        QTest::newRow("popup menu") << 9 << QColor(0xffffff);
        QTest::newRow("menu disabled text") << 12 << rgba(0, 0, 0, 46);
        QTest::newRow("further popup") << 13 << QColor(0xffffff);
        QTest::newRow("dark text") << 16 << QColor(0x2c2b30);
        QTest::newRow("light text") << 17 << QColor(0xf4f4f4);
        QTest::newRow("link") << 18 << QColor(0x458bcf);
        QTest::newRow("error") << 19 << QColor(0xff373a);
        QTest::newRow("success") << 20 << QColor(0x47ad74);
        QTest::newRow("push button") << 21 << QColor(0x656565);
        QTest::newRow("unknown") << 22 << QColor();
        QTest::newRow("program role") << 1000 << QColor();
    }
    void colorRoles()
    {
        QFETCH(int, role);
        QFETCH(QColor, expected);
        KelStyle style;
        COMPARE_COLOR(style.color(role), expected);
    }

    // Derived roles are asked again through the virtual, so one override moves them all.
    void derivedRolesFollowOverrides()
    {
        KelStyle base;
        for (int role : { 4, 7, 10, 8, 11, 14, 15 })
            QCOMPARE(base.color(role), base.color(3));
        BorderStyle border;
        for (int role : { 3, 4, 7, 10, 8, 11, 14, 15 })
            QCOMPARE(border.color(role), QColor(Qt::red));
        QCOMPARE(border.color(2), base.color(2));

        DarkStyle dark;
        QCOMPARE(dark.color(5), rgba(0, 0, 0, 128));
        QCOMPARE(dark.color(1), rgba(255, 255, 255, 60));
        QCOMPARE(dark.metric(3), 5);
        QCOMPARE(dark.metric(7), 5);
        QCOMPARE(dark.metric(13), 5);
    }

    void metricsSizesAndMargins()
    {
        KelStyle style;
        const QList<QPair<int, int>> metrics = { { 0, 1 }, { 1, 20 }, { 2, 0 }, { 4, 20 }, { 6, 1 }, { 10, 3 },
            { 11, 150 }, { 12, 200 }, { 14, 20 }, { 16, 150 }, { 17, 150 }, { 18, 8 }, { 19, 0 }, { 20, 8 }, { 21, 8 },
            { 22, 1 }, { 23, 0 }, { 24, 1 }, { 25, 24 }, { 26, 24 }, { 27, 24 }, { 28, 0 }, { 29, 12 }, { 30, 1 },
            { 31, 8 }, { 32, 1 }, { 33, 16 }, { 34, 14 }, { 35, 14 }, { 36, 0 }, { -1, 0 } };
        for (const auto& metric : metrics)
            QCOMPARE(style.metric(metric.first), metric.second);
        QCOMPARE(style.metric(13), style.metric(7));
        QCOMPARE(style.metric(7), style.metric(0));

        QCOMPARE(style.opacity(0), 0.6);
        QCOMPARE(style.opacity(1), 0.57);
        QCOMPARE(style.opacity(2), 0.0);
        QCOMPARE(style.size(0), QSize(92, 36));
        QCOMPARE(style.size(1), QSize(0, 0));
        QCOMPARE(style.margins(0), QMargins(16, 16, 16, 16));
        QCOMPARE(style.margins(1), QMargins(16, 8, 8, 16));
        QCOMPARE(style.margins(2), QMargins(4, 4, 4, 4));
        QCOMPARE(style.margins(3), QMargins());
        QCOMPARE(style.margins(4), QMargins(16, 4, 16, 4));
        QCOMPARE(style.margins(6), QMargins(12, 4, 12, 4));
        QCOMPARE(style.margins(7), QMargins(8, 0, 8, 0));
        QCOMPARE(style.margins(8), QMargins());
    }

    void arrowsAnimationsAndIcons()
    {
        KelStyle style;
        QCOMPARE(style.arrowSpec(0), (KelArrowSpec { QSize(8, 5), QMargins(0, 1, 0, 0), Qt::DownArrow, 0.0 }));
        QCOMPARE(style.arrowSpec(1), (KelArrowSpec { QSize(5, 8), QMargins(0, 1, 0, 0), Qt::RightArrow, 0.0 }));
        QCOMPARE(style.arrowSpec(2), (KelArrowSpec { QSize(8, 5), QMargins(8, 4, 8, 2), Qt::UpArrow, 0.0 }));
        QCOMPARE(style.arrowSpec(3), (KelArrowSpec { QSize(8, 5), QMargins(8, 2, 8, 4), Qt::DownArrow, 0.0 }));
        QCOMPARE(style.arrowSpec(9), (KelArrowSpec { QSize(0, 0), QMargins(), Qt::DownArrow, 0.0 }));

        QCOMPARE(style.animationSpec(3),
            (KelAnimationParams { QEasingCurve::OutCubic, 300, QEasingCurve::InCubic, 500, 0.0, 1.0 }));
        QCOMPARE(style.animationSpec(4),
            (KelAnimationParams { QEasingCurve::OutCubic, 150, QEasingCurve::InCubic, 350, 0.0, 1.0 }));
        QCOMPARE(style.animationSpec(5), KelAnimationParams());

        QCOMPARE(style.iconPath(1), QStringLiteral(":/kelui/checkbox.svg"));
        QCOMPARE(style.iconPath(2), QStringLiteral(":/kelui/radio.svg"));
        QCOMPARE(style.iconPath(4), QStringLiteral(":/kelui/close-10.svg"));
        QCOMPARE(style.iconPath(12), QStringLiteral(":/kelui/titlebar-close.svg"));
        // Known kinds without an icon give an empty text, unknown kinds a null one.
        for (int kind : { 0, 5, 6, 7, 8 }) {
            QVERIFY(style.iconPath(kind).isEmpty());
            QVERIFY(!style.iconPath(kind).isNull());
        }
        QVERIFY(style.iconPath(13).isNull());
    }

    void colorSets()
    {
        KelStyle style;
        const QColor hover = rgba(0, 0, 0, 24);
        const QColor press = rgba(0, 0, 0, 46);
        QCOMPARE(style.colorSet(0), KelStateColors(Qt::transparent, hover, press, press, press, press));
        QCOMPARE(style.colorSet(2), style.colorSet(0));
        // The push button: the accent is a program colour, so the base style has none.
        const KelStateColors push = style.colorSet(3);
        QCOMPARE(push.unchecked.normal, QColor(0x656565));
        QCOMPARE(push.checked.hovered, hover);
        const KelStateColors frame = style.colorSet(4);
        QCOMPARE(frame.unchecked.normal, QColor(Qt::white));
        QCOMPARE(frame.checked.disabled, QColor(0xf4f4f4));
        const KelStateColors border = style.colorSet(5);
        QCOMPARE(border.unchecked.normal, QColor(0xe2e2e2));
        QCOMPARE(border.unchecked.hovered, hover);
        QCOMPARE(border.checked.normal, press);
        QCOMPARE(border.checked.disabled, QColor(0xf1f1f1));
        QCOMPARE(style.colorSet(6), border);
        QCOMPARE(style.colorSet(8).checked.hovered, rgba(232, 17, 35));
        QCOMPARE(style.colorSet(8).unchecked.pressed, rgba(169, 40, 49));
        QCOMPARE(style.colorSet(9), KelStateColors(style.defaultTextColor()));
        QCOMPARE(style.colorSet(10), KelStateColors(QColor()));

        DarkStyle dark;
        QCOMPARE(dark.colorSet(7).unchecked.hovered, rgba(255, 255, 255, 30));
        QCOMPARE(dark.colorSet(9).checked.normal, QColor(0xf4f4f4));
    }

    void textAndOverlayColours()
    {
        KelStyle light;
        DarkStyle dark;
        QCOMPARE(light.defaultTextColor(), QColor(0x2c2b30));
        QCOMPARE(dark.defaultTextColor(), QColor(0xf4f4f4));
        QCOMPARE(light.inverseTextColor(), QColor(0xf4f4f4));
        COMPARE_COLOR(light.defaultSecondTextColor(), rgba(0x2c, 0x2b, 0x30, 145));
        QCOMPARE(light.textColorFor(Qt::black), QColor(0xf4f4f4));
        QCOMPARE(dark.textColorFor(Qt::white), QColor(0x2c2b30));
        QCOMPARE(dark.textColorFor(QColor()), QColor(0xf4f4f4));
        QCOMPARE(light.textColorFor(Qt::transparent), QColor(0x2c2b30));
        QCOMPARE(dark.hoverOverlayColor(Qt::transparent), rgba(255, 255, 255, 30));
        QCOMPARE(dark.hoverOverlayColor(Qt::white), rgba(0, 0, 0, 24));
        QCOMPARE(light.hoverOverlayColor(Qt::black), rgba(255, 255, 255, 30));
        QCOMPARE(light.pressedOverlayColor(QColor()), rgba(0, 0, 0, 46));
        QCOMPARE(light.pressedOverlayColor(QColor(0x202020)), rgba(255, 255, 255, 60));
    }

    void menuStyleSheetHasOpaqueColours()
    {
        KelStyle style;
        const QString sheet = style.applyMenuStyle(40);
        QVERIFY(sheet.startsWith(QStringLiteral("QMenu {    border: 1px solid #c7c7c7;    background-color: #ffffff;"
                                                "    color: #2c2b30;")));
        QVERIFY(sheet.contains(QStringLiteral("QMenu::item:disabled {    color: #d1d1d1;}")));
        QVERIFY(sheet.contains(QStringLiteral("QMenu::item:selected {    background-color: #d1d1d1;}")));
        QVERIFY(sheet.endsWith(QStringLiteral("background: #d1d1d1;}")));
        QVERIFY(!sheet.contains(QLatin1Char('%')));
        QVERIFY(style.applyMenuStyle(41).isEmpty());

        QWidget widget;
        style.applyStyleSheet(&widget, 40);
        QCOMPARE(widget.styleSheet(), sheet);
        style.applyStyleSheet(&widget, 7);
        QVERIFY(widget.styleSheet().isEmpty());
        style.applyStyleSheet(nullptr, 40);
    }

    void scrollBarsNeedAProgramStyle()
    {
        KelStyle style;
        QScrollBar bar;
        QTest::ignoreMessage(
            QtWarningMsg, "There is no default style for scrollbars! Each app shoud define it's own style");
        style.applyScrollBarStyle(&bar, 39);
        style.applyScrollBarStyle(&bar, 38); // silent
    }

    void labelStyles()
    {
        KelStyle style;
        QLabel error;
        style.applyLabelStyle(&error, 8);
        QCOMPARE(error.palette().color(error.foregroundRole()), QColor(0xff373a));
        QCOMPARE(error.font().family(), KelStyle::interfaceFontFamily());
        QCOMPARE(error.font().pixelSize(), 12);
        QCOMPARE(error.font().weight(), int(QFont::Normal));
        QCOMPARE(error.alignment(), Qt::AlignHCenter | Qt::AlignTop | Qt::AlignVCenter);

        QLabel wrapped;
        style.applyLabelStyle(&wrapped, 9);
        QVERIFY(wrapped.wordWrap());
        QCOMPARE(wrapped.palette().color(wrapped.foregroundRole()), QColor(0x2c2b30));

        QLabel heading;
        style.applyLabelStyle(&heading, 26);
        QCOMPARE(heading.contentsMargins(), QMargins(8, 4, 8, 4));
        QCOMPARE(heading.alignment(), Qt::AlignLeft | Qt::AlignTop);
        QCOMPARE(heading.font().weight(), int(QFont::Bold));

        QLabel plain;
        plain.setFont(KelUtils::makeFont(30, QFont::Bold, QStringLiteral("DejaVu Serif")));
        const QColor before = plain.palette().color(plain.foregroundRole());
        style.applyLabelStyle(&plain, 0);
        QCOMPARE(plain.palette().color(plain.foregroundRole()), before);
        style.applyLabelStyle(&plain, 7);
        QCOMPARE(plain.font(), QFont());
        style.applyLabelStyle(nullptr, 8);
    }

    // The interface family is not installed on Linux; the font really used must be a sane
    // sans-serif one, not whatever the font database meets first.
    void interfaceFontFallsBackToASansSerif()
    {
        kelStyle();
        const QFont font = KelUtils::makeFont(14, QFont::Normal, KelStyle::interfaceFontFamily());
        QCOMPARE(font.family(), QStringLiteral("Segoe UI"));
        const QString used = QFontInfo(font).family();
        // The family that is always installed here closes the list.
        QVERIFY(QFont::substitutes(font.family()).contains(QStringLiteral("DejaVu Sans"), Qt::CaseInsensitive));
        const QStringList sane = QStringList { QStringLiteral("Segoe UI") } + QFont::substitutes(font.family());
        QVERIFY2(sane.contains(used, Qt::CaseInsensitive), qPrintable(used));
        QVERIFY(!QFontInfo(font).fixedPitch());
        QCOMPARE(QFontInfo(font).pixelSize(), 14);
    }

    void proxyStyle()
    {
        auto* recording = new RecordingStyle;
        KelQProxyStyle proxy(recording);
        QWidget plain;
        QWidget framed;
        framed.setProperty("framePainter", true);
        QWidget spinBox;
        spinBox.setProperty("spinBoxPainter", true);
        auto* fieldInFrame = new QWidget(&framed);
        QStyleOption option;
        QImage image(10, 10, QImage::Format_ARGB32);
        QPainter painter(&image);

        // Until the painter classes install their tests nothing is suppressed.
        proxy.drawPrimitive(QStyle::PE_FrameFocusRect, &option, &painter, &framed);
        QCOMPARE(recording->drawn.size(), 1);

        KelQProxyStyle::setFramePainterTest([](const QWidget* w) { return marked(w, "framePainter"); });
        KelQProxyStyle::setSpinBoxPainterTest([](const QWidget* w) { return marked(w, "spinBoxPainter"); });
        recording->drawn.clear();
        proxy.drawPrimitive(QStyle::PE_FrameFocusRect, &option, &painter, &framed);
        proxy.drawPrimitive(QStyle::PE_PanelLineEdit, &option, &painter, &framed);
        proxy.drawPrimitive(QStyle::PE_PanelLineEdit, &option, &painter, fieldInFrame);
        proxy.drawPrimitive(QStyle::PE_PanelButtonBevel, &option, &painter, &spinBox);
        QVERIFY(recording->drawn.isEmpty());

        proxy.drawPrimitive(QStyle::PE_FrameFocusRect, &option, &painter, &plain);
        proxy.drawPrimitive(QStyle::PE_FrameFocusRect, &option, &painter, nullptr);
        proxy.drawPrimitive(QStyle::PE_PanelButtonBevel, &option, &painter, &framed);
        proxy.drawPrimitive(QStyle::PE_FrameFocusRect, &option, &painter, fieldInFrame);
        proxy.drawPrimitive(QStyle::PE_Frame, &option, &painter, &framed);
        QCOMPARE(recording->drawn,
            (QList<QStyle::PrimitiveElement> { QStyle::PE_FrameFocusRect, QStyle::PE_FrameFocusRect,
                QStyle::PE_PanelButtonBevel, QStyle::PE_FrameFocusRect, QStyle::PE_Frame }));
        KelQProxyStyle::setFramePainterTest(nullptr);
        KelQProxyStyle::setSpinBoxPainterTest(nullptr);

        QCOMPARE(proxy.pixelMetric(QStyle::PM_SubMenuOverlap), 3);
        QCOMPARE(proxy.pixelMetric(QStyle::PM_ButtonMargin), 77);
        QCOMPARE(proxy.styleHint(QStyle::SH_EtchDisabledText), 0);
        QCOMPARE(proxy.styleHint(QStyle::SH_DitherDisabledText), 0);
        QCOMPARE(proxy.styleHint(QStyle::SH_MenuBar_AltKeyNavigation), 0);
        QCOMPARE(proxy.styleHint(QStyle::SH_ToolTip_WakeUpDelay), 1000);
        QCOMPARE(proxy.styleHint(QStyle::SH_LineEdit_PasswordMaskDelay), 0);
        QCOMPARE(proxy.styleHint(QStyle::SH_ToolTip_FallAsleepDelay), 5);
    }
};

QTEST_MAIN(TestKelStyle)
#include "tst_kelstyle.moc"
