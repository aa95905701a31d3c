// Colours and state blending, the style base and its proxy, window frames, the style manager.
#include "../kel-effects/widgetimages.h"
#include "../kel-windows/windowtesthelpers.h"
#include "../kelapp/kelapptest.h"
#include "windowwaits.h"

#include "animators/kelwidgetstateanimator.h"
#include "eventfilters/kelqmenustyler.h"
#include "kelui.h"
#include "styles/kelcolors.h"
#include "styles/kelqproxystyle.h"
#include "styles/kelstyle.h"
#include "styles/kelstyleable.h"
#include "styles/kelstylemanager.h"
#include "utils/kelgeometryutils.h"
#include "windows/kelwindowframe.h"

#include <QApplication>
#include <QCommonStyle>
#include <QContextMenuEvent>
#include <QFontInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPainter>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QStyle>
#include <QStyleOption>
#include <QTest>

#include <functional>

// Colours that went through 16-bit float channels may differ by one step per channel.
#define COMPARE_COLOR(actual, expected)                                                                                \
    QVERIFY2(sameColor(actual, expected, 1), qPrintable(QColor(actual).name(QColor::HexArgb)))

namespace {

QColor rgba(int r, int g, int b, int a = 255) { return QColor(r, g, b, a); }

// A frame-like set: white darkening on hover and press, navy when checked, a disabled colour of each.
KelStateColors frameColors()
{
    KelStateColors colors(Qt::white, rgba(0, 0, 0, 24), rgba(0, 0, 0, 46), rgba(0, 0, 128), rgba(255, 255, 255, 30),
        rgba(255, 255, 255, 60));
    colors.unchecked.disabled = QColor(0xf1f1f1);
    colors.checked.disabled = QColor(0x808080);
    return colors;
}

// A program style that changes only the plain window border (role 3) and the dialog background (role 6).
class BorderStyle : public KelStyle {
public:
    QColor color(int role) const override
    {
        return role == 3 ? QColor(Qt::red) : role == 6 ? QColor(Qt::darkCyan) : KelStyle::color(role);
    }
    int metric(int kind) const override { return kind == 1 ? 33 : KelStyle::metric(kind); }
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
};

bool marked(const QWidget* widget, const char* property) { return widget->property(property).toBool(); }

// A window that counts its paint events.
class PaintedWindow : public QWidget {
public:
    int paints = 0;

protected:
    void paintEvent(QPaintEvent*) override { ++paints; }
};

class DayStyle : public KelStyle {
public:
    QString id() const override { return QStringLiteral("Day"); }
    int metric(int kind) const override { return kind == 35 ? 15 : KelStyle::metric(kind); }
};

class NightStyle : public KelStyle {
public:
    QString id() const override { return QStringLiteral("Night"); }
    bool isDarkTheme() const override { return true; }
    int metric(int kind) const override
    {
        switch (kind) {
        case 0:
            return 5;
        case 28:
            return 50;
        case 35:
            return 17;
        default:
            return KelStyle::metric(kind);
        }
    }
    QColor color(int role) const override { return role == 18 ? QColor(0x99ccff) : KelStyle::color(role); }
};

class SepiaStyle : public KelStyle {
public:
    QString id() const override { return QStringLiteral("Sepia"); }
    QColor color(int role) const override { return role == 2 ? QColor(0xf4ecd8) : KelStyle::color(role); }
};

// The order in which styled objects were asked to restyle.
QStringList g_restyled;

// A label styled the way toolkit labels are: from the current style by its widget type.
class StyledLabel : public QLabel, public KelStyleable {
public:
    StyledLabel(int widgetType, const QString& name, QWidget* parent = nullptr)
        : QLabel(parent)
        , KelStyleable(widgetType)
    {
        setObjectName(name);
        applyStyle();
    }
    void applyStyle() override
    {
        g_restyled << objectName();
        if (isStyled())
            kelStyle()->applyLabelStyle(this, widgetType());
    }
    QColor textColor() const { return palette().color(foregroundRole()); }
};

// Runs a function when restyled.
class Hook : public KelStyleable {
public:
    explicit Hook(std::function<void(Hook*)> onRestyle)
        : KelStyleable(-1)
        , m_onRestyle(std::move(onRestyle))
    {
    }
    void applyStyle() override
    {
        ++restyles;
        m_onRestyle(this);
    }
    int restyles = 0;

private:
    std::function<void(Hook*)> m_onRestyle;
};

KelStyleManager* manager() { return KelStyleManager::instance(); }

int occurrences(const KelStyleable* styleable)
{
    return manager()->styleables().count(const_cast<KelStyleable*>(styleable));
}

} // namespace

class TestKelStyle : public QObject {
    Q_OBJECT

    std::unique_ptr<KelSettings> m_settings;
    DayStyle m_day;
    NightStyle m_night;
    SepiaStyle m_sepia;

private slots:
    void initTestCase()
    {
        m_settings = installTestSettings();
        manager()->addStyle(&m_day);
        manager()->addStyle(&m_night);
        manager()->addStyle(&m_sepia);
    }

    // Every case starts from the day look, so that each switch below is a real change.
    void init() { QVERIFY(manager()->setCurrentStyle(QStringLiteral("Day"))); }

    void cleanupTestCase() { KelApplication::instance()->setSettings(nullptr); }

    void blendColorOver_data()
    {
        QTest::addColumn<QColor>("bottom");
        QTest::addColumn<QColor>("top");
        QTest::addColumn<QColor>("expected");
        QTest::newRow("transparent top") << QColor(Qt::red) << QColor(Qt::transparent) << QColor(Qt::red);
        QTest::newRow("white half over black") << QColor(Qt::black) << rgba(255, 255, 255, 128) << rgba(128, 128, 128);
        QTest::newRow("both translucent") << rgba(255, 0, 0, 128) << rgba(0, 0, 255, 128) << rgba(85, 0, 170, 192);
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
        QTest::newRow("linear quarter") << black << orange << 0.25 << 0 << rgba(63, 25, 12);
        QTest::newRow("beyond the end") << black << orange << 1.5 << 0 << orange;
        QTest::newRow("before the start") << black << orange << -0.2 << 0 << black;
        QTest::newRow("root mean square") << black << QColor(Qt::white) << 0.5 << 1 << rgba(180, 180, 180);
        QTest::newRow("fade in from transparent")
            << QColor(Qt::transparent) << QColor(Qt::red) << 0.5 << 1 << rgba(255, 0, 0, 127);
        QTest::newRow("unknown mode") << black << orange << 0.3 << 7 << orange;
    }
    void interpolation()
    {
        QFETCH(QColor, from);
        QFETCH(QColor, to);
        QFETCH(double, progress);
        QFETCH(int, mode);
        QFETCH(QColor, expected);
        COMPARE_COLOR(interpolateColor(from, to, progress, mode), expected);
        // Integers truncate toward zero.
        QCOMPARE(interpolateInt(10, 0, 0.55), 4);
        QCOMPARE(interpolateInt(0, -10, 0.55), -5);
    }

    void stateColors_data()
    {
        QTest::addColumn<bool>("checked");
        QTest::addColumn<double>("hovered");
        QTest::addColumn<double>("pressed");
        QTest::addColumn<double>("disabled");
        QTest::addColumn<QColor>("expected");
        QTest::newRow("hover fading in") << false << 0.5 << 0.0 << 0.0 << rgba(243, 243, 243);
        QTest::newRow("pressed") << false << 1.0 << 1.0 << 0.0 << rgba(209, 209, 209);
        QTest::newRow("checked and hovered") << true << 1.0 << 0.0 << 0.0 << rgba(30, 30, 143);
        QTest::newRow("disabling half way") << false << 0.0 << 0.0 << 0.5 << rgba(248, 248, 248);
        QTest::newRow("checked and disabled") << true << 0.0 << 0.0 << 1.0 << QColor(0x808080);
    }
    // States set without animation; part-way values written as progress.
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
        animator.setHoveredProgress(hovered);
        animator.setPressedProgress(pressed);
        animator.setDisabledProgress(disabled);
        COMPARE_COLOR(blendStateColor(frameColors(), &animator), expected);
    }

    void checkFadeMixesTheSets()
    {
        KelWidgetStateAnimator animator(0);
        animator.setCheckedProgress(0.5);
        COMPARE_COLOR(blendStateColor(frameColors(), &animator), rgba(180, 180, 202)); // root mean square
        COMPARE_COLOR(blendStateColor(frameColors(), nullptr), QColor(Qt::white));
        // Dark is below half the weighted lightness; pure green weighs less than half.
        QVERIFY(!isDarkColor(QColor(0x808080)));
        QVERIFY(isDarkColor(QColor(0x7f7f7f)));
        QVERIFY(isDarkColor(QColor(Qt::green)));
        QVERIFY(isDarkColor(rgba(0, 0, 0, 30)));
    }

    // Derived roles and metrics are asked again through the virtuals, so one override moves them all.
    void derivedRolesFollowOverrides()
    {
        KelStyle base;
        BorderStyle border;
        for (int role : { 3, 4, 7, 10, 8, 11, 14, 15 })
            QCOMPARE(border.color(role), QColor(Qt::red));
        QCOMPARE(border.color(2), base.color(2));
        for (int kind : { 3, 7, 13 })
            QCOMPARE(m_night.metric(kind), 5);
        QCOMPARE(base.metric(1000), 0);
        // Text and overlays over a colour contrast with it, whatever the theme.
        QCOMPARE(m_night.textColorFor(Qt::white), base.defaultTextColor());
        QCOMPARE(m_night.hoverOverlayColor(Qt::white), base.hoverOverlayColor(Qt::white));
        // Dialog and popup kinds take the plain window's metrics.
        QWidget window;
        KelWindowFrame frame(&window, &window);
        for (int kind : { 0, 1, 3 }) {
            border.applyWindowFrameStyle(&frame, kind);
            QCOMPARE(frame.background().color(), kind == 1 ? QColor(Qt::darkCyan) : QColor(Qt::white));
            QCOMPARE(frame.shadowSize(), 33);
        }
        border.applyWindowFrameStyle(nullptr, 0);
    }

    void styleSheetsLabelResetAndPalettes()
    {
        KelStyle style;
        const QString sheet = style.applyMenuStyle(40);
        QVERIFY(sheet.startsWith(QStringLiteral("QMenu {")));
        QVERIFY(!sheet.contains(QLatin1Char('%'))); // every placeholder filled
        QVERIFY(style.applyMenuStyle(41).isEmpty());
        QWidget widget;
        style.applyStyleSheet(&widget, 40);
        QCOMPARE(widget.styleSheet(), sheet);
        style.applyStyleSheet(&widget, 7);
        QVERIFY(widget.styleSheet().isEmpty());
        QLabel plain;
        plain.setFont(KelUtils::makeFont(30, QFont::Bold, QStringLiteral("DejaVu Serif")));
        style.applyLabelStyle(&plain, 7);
        QCOMPARE(plain.font(), QFont());

        // A palette colour goes to every group, translucent when disabled, and fills the background.
        QWidget filled;
        setPaletteColor(&filled, QPalette::Window, Qt::red);
        QCOMPARE(filled.palette().color(QPalette::Inactive, QPalette::Window), QColor(Qt::red));
        QCOMPARE(filled.palette().color(QPalette::Disabled, QPalette::Window), rgba(255, 0, 0, 153));
        QVERIFY(filled.autoFillBackground());
        // A colour already set changes nothing, not even the filling; other roles leave the filling alone.
        QWidget preset;
        preset.setPalette(QPalette(Qt::blue));
        setPaletteColor(&preset, QPalette::Window, preset.palette().color(QPalette::Window));
        QVERIFY(!preset.autoFillBackground());
        setPaletteColor(&preset, QPalette::WindowText, Qt::green);
        QVERIFY(!preset.autoFillBackground());
    }

    // The interface family is missing on Linux: the font used must be a sans-serif, not the database's first.
    void interfaceFontFallsBackToASansSerif()
    {
        kelStyle();
        const QFont font = KelUtils::makeFont(14, QFont::Normal, KelStyle::interfaceFontFamily());
        const QString used = QFontInfo(font).family();
        QVERIFY(QFont::substitutes(font.family()).contains(QStringLiteral("DejaVu Sans"), Qt::CaseInsensitive));
        const QStringList sane = QStringList { font.family() } + QFont::substitutes(font.family());
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

        // Without the painter classes' tests nothing is suppressed.
        KelQProxyStyle::setFramePainterTest(nullptr);
        KelQProxyStyle::setSpinBoxPainterTest(nullptr);
        proxy.drawPrimitive(QStyle::PE_FrameFocusRect, &option, &painter, &framed);
        QCOMPARE(recording->drawn.size(), 1);
        KelQProxyStyle::setFramePainterTest([](const QWidget* w) { return marked(w, "framePainter"); });
        KelQProxyStyle::setSpinBoxPainterTest([](const QWidget* w) { return marked(w, "spinBoxPainter"); });
        recording->drawn.clear();
        proxy.drawPrimitive(QStyle::PE_FrameFocusRect, &option, &painter, &framed);
        proxy.drawPrimitive(QStyle::PE_PanelLineEdit, &option, &painter, fieldInFrame);
        proxy.drawPrimitive(QStyle::PE_PanelButtonBevel, &option, &painter, &spinBox);
        QVERIFY(recording->drawn.isEmpty());
        proxy.drawPrimitive(QStyle::PE_FrameFocusRect, &option, &painter, &plain);
        proxy.drawPrimitive(QStyle::PE_FrameFocusRect, &option, &painter, nullptr);
        proxy.drawPrimitive(QStyle::PE_PanelButtonBevel, &option, &painter, &framed);
        proxy.drawPrimitive(QStyle::PE_FrameFocusRect, &option, &painter, fieldInFrame);
        QCOMPARE(recording->drawn,
            (QList<QStyle::PrimitiveElement> { QStyle::PE_FrameFocusRect, QStyle::PE_FrameFocusRect,
                QStyle::PE_PanelButtonBevel, QStyle::PE_FrameFocusRect }));
        KelQProxyStyle::setFramePainterTest(nullptr);
        KelQProxyStyle::setSpinBoxPainterTest(nullptr);
        QCOMPARE(proxy.pixelMetric(QStyle::PM_ButtonMargin), 77); // the rest goes to the platform style
    }

    // Every change that affects painting repaints the window once; an equal value does nothing.
    void frameSettersRepaintOnChange()
    {
        PaintedWindow window;
        window.resize(40, 40);
        KelWindowFrame frame(&window, &window);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window, windowwaits::kTimeoutMs));
        QSignalSpy shadowSpy(&frame, &KelWindowFrame::shadowColorChanged);
        const QList<std::function<void()>> changes = {
            [&] { frame.setBorderColor(Qt::red); },
            [&] { frame.setBorderWidth(3); },
            [&] { frame.setRadii(1, 2, 3, 4); },
            [&] { frame.setShadowColor(Qt::blue); },
            [&] { frame.setShadowSize(12); },
            [&] { frame.setShadowOffset(2); },
        };
        for (const auto& change : changes) {
            QCoreApplication::processEvents();
            const int before = window.paints;
            change();
            QTRY_VERIFY(window.paints > before);
            QCoreApplication::processEvents();
            const int settled = window.paints;
            change();
            QCoreApplication::processEvents();
            QCOMPARE(window.paints, settled);
        }
        QCOMPARE(shadowSpy.count(), 1);

        // Maximised and full-screen windows have no border.
        window.setWindowState(Qt::WindowMaximized);
        QCOMPARE(frame.effectiveBorderWidth(), 0);
        window.setWindowState(Qt::WindowNoState);
        QCOMPARE(frame.effectiveBorderWidth(), 3);
    }

    void stylesAreSwitchedAndTheChoiceSaved()
    {
        QSignalSpy saved(m_settings.get(), &KelSettings::lastStyleIdChanged);
        QVERIFY(manager()->setCurrentStyle(QStringLiteral("Night")));
        m_settings->sync();
        QCOMPARE(QSettings(m_settings->fileName(), QSettings::IniFormat).value("lastStyleId").toString(),
            QStringLiteral("Night"));
        // The application font comes from the style; the proxy asks the current style.
        QCOMPARE(QApplication::font().pixelSize(), 17);
        QCOMPARE(QApplication::style()->styleHint(QStyle::SH_LineEdit_PasswordMaskDelay), 50);
        QVERIFY(manager()->setCurrentStyle(QStringLiteral("Day")));
        QCOMPARE(QApplication::font().pixelSize(), 15);
        QCOMPARE(saved.count(), 2);

        // Switching to the current style does nothing at all.
        Hook hook([](Hook*) {});
        const QFont marker = QFont(QStringLiteral("DejaVu Serif"), 9);
        QApplication::setFont(marker);
        m_settings->setValue(QStringLiteral("lastStyleId"), QStringLiteral("Edited"));
        QVERIFY(manager()->setCurrentStyle(QStringLiteral("Day")));
        QCOMPARE(hook.restyles, 0);
        QCOMPARE(QApplication::font(), marker);
        QCOMPARE(m_settings->lastStyleId(), QStringLiteral("Edited"));

        // Nor does an unknown one; ids compare exactly.
        QTest::ignoreMessage(QtWarningMsg, "Can't find style \"day\"");
        QVERIFY(!manager()->setCurrentStyle(QStringLiteral("day")));
        QCOMPARE(kelStyle(), &m_day);
        QCOMPARE(hook.restyles, 0);
        QCOMPARE(m_settings->lastStyleId(), QStringLiteral("Edited"));
    }

    // Registered objects restyle in registration order; the UI services follow the style too.
    void styledObjectsTakeTheNewLook()
    {
        StyledLabel text(9, QStringLiteral("text"));
        StyledLabel error(8, QStringLiteral("error"));
        StyledLabel unstyled(-1, QStringLiteral("unstyled"));
        const QColor dayText = text.textColor();
        const QColor unstyledColor = unstyled.textColor();

        g_restyled.clear();
        QVERIFY(manager()->setCurrentStyle(QStringLiteral("Night")));
        QCOMPARE(g_restyled, (QStringList { "text", "error", "unstyled" }));
        QCOMPARE(text.textColor(), m_night.defaultTextColor());
        QVERIFY(text.textColor() != dayText);
        QVERIFY(error.textColor() != text.textColor());
        QCOMPARE(unstyled.textColor(), unstyledColor);
        QCOMPARE(KelUi::makeHtmlLink(QStringLiteral("https://x.org"), QStringLiteral("X"), 0, QColor()),
            QStringLiteral("<a href='https://x.org' style='color: #99ccff; '>X</a>"));

        QVERIFY(manager()->setCurrentStyle(QStringLiteral("Sepia")));
        QCOMPARE(text.textColor(), dayText);

        // Changing the widget type restyles once, and only on a change.
        g_restyled.clear();
        text.setWidgetType(9);
        QVERIFY(g_restyled.isEmpty());
        text.setWidgetType(8);
        QCOMPARE(g_restyled, QStringList { "text" });
        QCOMPARE(text.textColor(), error.textColor());
    }

    void destroyedObjectsAndStylesAreUnregistered()
    {
        const int before = manager()->styleables().size();
        auto* parent = new QWidget;
        auto* label = new StyledLabel(9, QStringLiteral("child"), parent);
        new StyledLabel(9, QStringLiteral("grandchild"), new QWidget(parent));
        new KelWidgetStateAnimator(1, label);
        QCOMPARE(manager()->styleables().size(), before + 3);
        delete label; // and its animator
        QCOMPARE(manager()->styleables().size(), before + 1);
        delete parent;
        QCOMPARE(manager()->styleables().size(), before);
        // Nothing dead is reached by the next switch.
        g_restyled.clear();
        QVERIFY(manager()->setCurrentStyle(QStringLiteral("Night")));
        QVERIFY(g_restyled.isEmpty());

        // A destroyed style drops out of the list; destroyed while current, it leaves the base style behind.
        const int count = manager()->styles().size();
        struct Solo : KelStyle {
            QString id() const override { return QStringLiteral("Solo"); }
        };
        auto* solo = new Solo;
        manager()->addStyle(solo);
        QVERIFY(manager()->setCurrentStyle(QStringLiteral("Solo")));
        delete solo;
        QCOMPARE(kelStyle()->id(), QStringLiteral("KelStyle"));
        QCOMPARE(manager()->styles().size(), count);
    }

    // An applyStyle deleting objects or making new ones: the dead are skipped, the new wait for the next switch.
    void restyleWalkSurvivesChanges()
    {
        int doomedRestyles = 0;
        int selfDeletingRestyles = 0;
        std::unique_ptr<Hook> created;
        auto* doomed = new Hook([&doomedRestyles](Hook*) { ++doomedRestyles; });
        Hook killer([&](Hook*) {
            delete doomed;
            doomed = nullptr;
            if (!created)
                created = std::make_unique<Hook>([](Hook*) {});
        });
        // Registered after the killer, so later in the walk.
        manager()->unregisterStyleable(doomed);
        manager()->registerStyleable(doomed);
        auto* selfDeleting = new Hook([&selfDeletingRestyles](Hook* self) {
            ++selfDeletingRestyles;
            delete self;
        });
        Hook last([](Hook*) {});

        QVERIFY(manager()->setCurrentStyle(QStringLiteral("Sepia")));
        QCOMPARE(doomedRestyles, 0);
        QCOMPARE(selfDeletingRestyles, 1);
        QCOMPARE(last.restyles, 1);
        QCOMPARE(created->restyles, 0);
        QCOMPARE(occurrences(selfDeleting), 0);
        QVERIFY(manager()->setCurrentStyle(QStringLiteral("Day")));
        QCOMPARE(created->restyles, 1);
    }

    void theSavedStyleIsRestored()
    {
        QVERIFY(manager()->setCurrentStyle(QStringLiteral("Night")));
        m_settings->setLastStyleId(QStringLiteral("Sepia")); // as left by an earlier run
        QVERIFY(manager()->restoreLastStyle(QStringLiteral("Day")));
        QCOMPARE(kelStyle(), &m_sepia);
        // A stored style that is gone, or none, gives the default.
        m_settings->setLastStyleId(QStringLiteral("Removed"));
        QVERIFY(manager()->restoreLastStyle(QStringLiteral("Night")));
        QCOMPARE(kelStyle(), &m_night);
        m_settings->setLastStyleId(QString());
        QVERIFY(manager()->restoreLastStyle(QStringLiteral("Day")));
        QCOMPARE(kelStyle(), &m_day);
        QTest::ignoreMessage(QtWarningMsg, "Can't find style \"Nowhere\"");
        m_settings->setLastStyleId(QStringLiteral("Removed"));
        QVERIFY(!manager()->restoreLastStyle(QStringLiteral("Nowhere")));
        QCOMPARE(kelStyle(), &m_day);
    }

    // Context menus take the style sheet; child windows lose the system shadow. Without an applier (before any
    // style manager) a menu keeps Qt's look and says so.
    void contextMenusTakeTheStyleSheet()
    {
        QLineEdit edit;
        new KelQMenuStyler(&edit, 40);
        edit.show();
        QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(5, 5), edit.mapToGlobal(QPoint(5, 5)));
        QCoreApplication::sendEvent(&edit, &event);
        QMenu* menu = edit.findChild<QMenu*>();
        QVERIFY(menu);
        QTRY_COMPARE(menu->styleSheet(), kelStyle()->applyMenuStyle(40));
        QVERIFY(menu->windowFlags() & Qt::NoDropShadowWindowHint);
        menu->close();
        QVERIFY((new QWidget(&edit, Qt::ToolTip))->windowFlags() & Qt::NoDropShadowWindowHint);

        KelQMenuStyler::setStyleSheetApplier(nullptr);
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("^No style sheet applier is set"));
        auto* bare = new QMenu(&edit);
        QCoreApplication::processEvents();
        QVERIFY(bare->styleSheet().isEmpty());
    }
};

int main(int argc, char** argv)
{
    return runKelAppTest<KelApplication, TestKelStyle>(argc, argv, QStringLiteral("kel-style-test"));
}

#include "tst_kelstyle.moc"
