#include "colortesthelpers.h"

#include "styles/kelqproxystyle.h"
#include "styles/kelstyle.h"
#include "utils/kelgeometryutils.h"

#include <QApplication>
#include <QCommonStyle>
#include <QFontInfo>
#include <QLabel>
#include <QPainter>
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
        QCOMPARE(base.metric(-1), 0);
        QCOMPARE(base.metric(1000), 0);
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
        QCOMPARE(proxy.styleHint(QStyle::SH_ToolTip_FallAsleepDelay), 5);
    }
};

QTEST_MAIN(TestKelStyle)
#include "tst_kelstyle.moc"
