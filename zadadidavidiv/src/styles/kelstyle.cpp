#include "styles/kelstyle.h"

#include "painting/kelbuttonpainter.h"
#include "painting/kelframepainter.h"
#include "styles/kelcolors.h"
#include "styles/kelstylemanager.h"
#include "utils/kelgeometryutils.h"
#include "utils/kelwidgettreeutils.h"
#include "widgets/kelbutton.h"
#include "widgets/kellinearshadowwidget.h"
#include "widgets/kellineedit.h"
#include "widgets/kelplaintextedit.h"
#include "widgets/kelslider.h"
#include "widgets/kelspinboxpainter.h"
#include "windows/kelpopupmenu.h"
#include "windows/kelwindow.h"
#include "windows/kelwindowframe.h"

#include <QAbstractScrollArea>
#include <QDebug>
#include <QEasingCurve>
#include <QFont>
#include <QLabel>
#include <QScrollBar>
#include <QWidget>

#include <array>

namespace {

const int kMetricCount = 36;
// Kinds whose value is another kind's, asked again through the virtual metric().
const int kSameAs = -1;
const std::array<int, kMetricCount> kMetrics = {
    1, 20, 0, // 0-2: plain window border width, shadow size, shadow offset
    kSameAs, kSameAs, kSameAs, // 3-5: the dialog's, as 0-2
    1, // 6: message icon beside the text
    kSameAs, kSameAs, kSameAs, // 7-9: the popup's, as 0-2
    3, 150, 200, // 10-12: submenu overlap, popup-menu timer (ms), popup-menu content minimum width
    kSameAs, kSameAs, kSameAs, // 13-15: a further popup kind's, as 7-9
    150, 150, 8, 0, 8, 8, // 16-21: fade and geometry times (ms), spacings and the push-button radius
    1, 0, 1, 24, 24, kSameAs, // 22-27: frame border, radius, line-edit spacing, control height, edit width, as 25
    0, 12, 1, 8, 1, 16, 14, 14, // 28-35: password mask delay, error-label font, .., application font pixel size
};

int sameAsKind(int kind)
{
    switch (kind) {
    case 3:
    case 4:
    case 5:
        return kind - 3;
    case 7:
    case 8:
    case 9:
        return kind - 7;
    case 13:
    case 14:
    case 15:
        return kind - 6;
    case 27:
        return 25;
    default:
        return -1;
    }
}

QColor blackWithAlphaF(double alpha)
{
    QColor color(Qt::black);
    color.setAlphaF(alpha);
    return color;
}

QColor blackWithAlpha(int alpha) { return QColor(0, 0, 0, alpha); }

QColor whiteWithAlpha(int alpha) { return QColor(255, 255, 255, alpha); }

KelAnimationParams outCubicSpec(int forwardMs, QEasingCurve::Type backward, int backwardMs)
{
    return KelAnimationParams { QEasingCurve::OutCubic, forwardMs, backward, backwardMs, 0.0, 1.0 };
}

// Where "Segoe UI" is missing, the font database tries these in turn before its own fallback.
void installInterfaceFontFallback()
{
    static bool installed = false;
    if (installed)
        return;
    installed = true;
    QFont::insertSubstitutions(KelStyle::interfaceFontFamily(),
        { QStringLiteral("Noto Sans"), QStringLiteral("Open Sans"), QStringLiteral("Cantarell"),
            QStringLiteral("Ubuntu"), QStringLiteral("Liberation Sans"), QStringLiteral("DejaVu Sans") });
}

const char* const kMenuStyleSheet = "QMenu {    border: 1px solid %1;    background-color: %2;    color: %3;    "
                                    "padding: 0px;}QMenu::item {    padding: 3px 35px 3px 20px;    "
                                    "background-color: transparent;}QMenu::item:disabled {    color: %4;}"
                                    "QMenu::item:selected {    background-color: %5;}"
                                    "QMenu::item:disabled:selected {    background-color: transparent;}"
                                    "QMenu::separator {    height: 1px;    margin-top: 2px;    margin-bottom: 2px;    "
                                    "background: %6;}";

// The colours of a window kind's frame, as colour roles and metric kinds.
struct WindowFrameRoles {
    int background;
    int border;
    int borderWidth;
    int shadow;
    int shadowSize;
    int shadowOffset;
};

bool windowFrameRoles(int kind, WindowFrameRoles* roles)
{
    switch (kind) {
    case 0:
    case 6:
        *roles = { 2, 3, 0, 4, 1, 2 };
        return true;
    case 1:
    case 2:
        *roles = { 6, 7, 3, 8, 4, 5 };
        return true;
    case 3:
    case 4:
        *roles = { 9, 10, 7, 11, 8, 9 };
        return true;
    case 5:
        *roles = { 13, 14, 13, 15, 14, 15 };
        return true;
    default:
        return false;
    }
}

} // namespace

KelStyle::KelStyle(QObject* parent)
    : QObject(parent)
{
    installInterfaceFontFallback();
}

KelStyle::~KelStyle() = default;

QString KelStyle::interfaceFontFamily() { return QStringLiteral("Segoe UI"); }

QString KelStyle::id() const { return QStringLiteral("KelStyle"); }

QString KelStyle::title() const { return QStringLiteral("KelStyle"); }

QString KelStyle::styleIconPath() const { return QString(); }

bool KelStyle::isDarkTheme() const { return false; }

int KelStyle::metric(int kind) const
{
    if (kind < 0 || kind >= kMetricCount)
        return 0;
    const int value = kMetrics[size_t(kind)];
    return value == kSameAs ? metric(sameAsKind(kind)) : value;
}

double KelStyle::opacity(int kind) const
{
    switch (kind) {
    case 0:
        return 0.6;
    case 1:
        return 0.57;
    default:
        return 0.0;
    }
}

QSize KelStyle::size(int kind) const { return kind == 0 ? QSize(92, 36) : QSize(0, 0); }

QMargins KelStyle::margins(int kind) const
{
    switch (kind) {
    case 0:
        return QMargins(16, 16, 16, 16);
    case 1:
        return QMargins(16, 8, 8, 16);
    case 2:
        return QMargins(4, 4, 4, 4);
    case 4:
        return QMargins(16, 4, 16, 4);
    case 6:
        return QMargins(12, 4, 12, 4);
    case 7:
        return QMargins(8, 0, 8, 0);
    default:
        return QMargins();
    }
}

QColor KelStyle::color(int role) const
{
    switch (role) {
    case 1:
        return pressedOverlayColor(QColor());
    case 2:
        return QColor(0xffffff);
    case 3:
        return blackWithAlphaF(0.22);
    case 4:
    case 7:
    case 10:
        return color(3);
    case 5:
        return blackWithAlpha(isDarkTheme() ? 128 : 64);
    case CL_Dialog_Base:
        return QColor(0xf4f4f4);
    case 8:
    case 11:
        return color(4);
    case CL_PopupMenu_Base:
        return QColor(0xffffff);
    case 12:
        return color(1);
    case 13:
    case 14:
    case 15:
        return color(role - 4);
    case CL_Text_Dark:
        return QColor(0x2c2b30);
    case CL_Text_Light:
        return QColor(0xf4f4f4);
    case CL_Text_Link:
        return QColor(0x458bcf);
    case CL_Text_Error:
        return QColor(0xff373a);
    case 20:
        return QColor(0x47ad74);
    case CL_Button_Push_Base:
        return QColor(0x656565);
    default: // CL_Accent and unknown roles: a program style supplies them
        return QColor();
    }
}

KelStateColors KelStyle::colorSet(int kind) const
{
    const QColor hover = hoverOverlayColor(QColor());
    const QColor press = pressedOverlayColor(QColor());
    switch (kind) {
    case 0:
    case 1:
    case 2:
        return KelStateColors(Qt::transparent, hover, press, press, press, press);
    case 3: {
        const QColor accent = color(CL_Accent);
        const QColor pressedAccent = blendColorOver(accent, press);
        return KelStateColors(color(CL_Button_Push_Base), accent, pressedAccent, accent, hover, pressedAccent);
    }
    case 4:
        return KelStateColors(QColor(0xffffff), QColor(0xffffff), QColor(0xffffff), QColor(0xf4f4f4));
    case 5:
    case 6: {
        KelStateColors colors(QColor(0xe2e2e2), hover, press, press, press, press);
        colors.unchecked.disabled = QColor(0xf1f1f1);
        colors.checked.disabled = QColor(0xf1f1f1);
        return colors;
    }
    case 7:
        return KelStateColors(Qt::transparent, hover, press, QColor());
    case 8:
        return KelStateColors(Qt::transparent, QColor(232, 17, 35), QColor(169, 40, 49), QColor());
    case 9:
        return KelStateColors(defaultTextColor());
    default:
        return KelStateColors(QColor());
    }
}

KelArrowSpec KelStyle::arrowSpec(int kind) const
{
    switch (kind) {
    case 0:
        return KelArrowSpec { QSize(8, 5), QMargins(0, 1, 0, 0), Qt::DownArrow, 0.0 };
    case 1:
        return KelArrowSpec { QSize(5, 8), QMargins(0, 1, 0, 0), Qt::RightArrow, 0.0 };
    case 2:
        return KelArrowSpec { QSize(8, 5), QMargins(8, 4, 8, 2), Qt::UpArrow, 0.0 };
    case 3:
        return KelArrowSpec { QSize(8, 5), QMargins(8, 2, 8, 4), Qt::DownArrow, 0.0 };
    default:
        return KelArrowSpec { QSize(0, 0), QMargins(), Qt::DownArrow, 0.0 };
    }
}

KelAnimationParams KelStyle::animationSpec(int kind) const
{
    switch (kind) {
    case 0: // disabled
        return outCubicSpec(500, QEasingCurve::InCubic, 500);
    case 1: // hovered
        return outCubicSpec(200, QEasingCurve::InCubic, 500);
    case 2: // pressed
        return outCubicSpec(200, QEasingCurve::OutCubic, 200);
    case 3: // checked
        return outCubicSpec(300, QEasingCurve::InCubic, 500);
    case 4: // blocked-window overlay
        return outCubicSpec(150, QEasingCurve::InCubic, 350);
    default:
        return KelAnimationParams();
    }
}

QString KelStyle::iconPath(int kind) const
{
    switch (kind) {
    case 0:
    case 5:
    case 6:
    case 7:
    case 8:
        return QStringLiteral("");
    case 1:
        return QStringLiteral(":/kelui/checkbox.svg");
    case 2:
        return QStringLiteral(":/kelui/radio.svg");
    case 3:
    case 4:
        return QStringLiteral(":/kelui/close-10.svg");
    case 9:
        return QStringLiteral(":/kelui/titlebar-minimize.svg");
    case 10:
        return QStringLiteral(":/kelui/titlebar-maximize.svg");
    case 11:
        return QStringLiteral(":/kelui/titlebar-restore.svg");
    case 12:
        return QStringLiteral(":/kelui/titlebar-close.svg");
    default:
        return QString();
    }
}

// The window's frame by kind; kind 4 (menus) also keeps a minimum content width.
void KelStyle::applyWindowStyle(KelWindow* window, int kind) const
{
    if (!window)
        return;
    applyWindowFrameStyle(window->windowFrame(), kind);
    // Popup menus wait this long before opening a sub-menu.
    auto* menu = qobject_cast<KelPopupMenu*>(window);
    if (menu && (kind == 3 || kind == 5))
        menu->setHoverDelay(metric(11));
    if (kind == 4 && window->centralWidget())
        window->centralWidget()->setMinimumWidth(metric(12));
}

void KelStyle::applyWindowFrameStyle(KelWindowFrame* frame, int kind) const
{
    WindowFrameRoles roles;
    if (!frame || !windowFrameRoles(kind, &roles))
        return;
    frame->setBackground(QBrush(color(roles.background)));
    frame->setBorderColor(color(roles.border));
    frame->setBorderWidth(metric(roles.borderWidth));
    frame->setShadowColor(color(roles.shadow));
    frame->setShadowSize(metric(roles.shadowSize));
    frame->setShadowOffset(metric(roles.shadowOffset));
    if (kind == 6)
        frame->setBorderWidth(metric(30));
}

void KelStyle::applyFrameStyle(KelFrame*, int) const { }

void KelStyle::applyLabelStyle(QLabel* label, int kind) const
{
    if (!label)
        return;
    if (kind > 0)
        setWidgetForegroundColor(label, kind == 8 ? color(CL_Text_Error) : defaultTextColor());
    switch (kind) {
    case 7:
        label->setFont(QFont());
        break;
    case 8:
        // The eliding of a toolkit label is switched on by the label class itself.
        KelUtils::setWidgetFont(label, metric(29), QFont::Normal, interfaceFontFamily());
        label->setAlignment(Qt::AlignHCenter | Qt::AlignTop | Qt::AlignVCenter);
        break;
    case 9:
        label->setWordWrap(true);
        break;
    case 26:
        label->setContentsMargins(8, 4, 8, 4);
        label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        KelUtils::setWidgetFont(label, 12, QFont::Bold, interfaceFontFamily());
        break;
    default:
        break;
    }
}

void KelStyle::applyDelimiterStyle(KelDelimiter*, int) const { }

void KelStyle::applyButtonStyle(KelButtonPainter* painter, int kind, const QString& iconName) const
{
    if (!painter)
        return;
    if (!painter->icon() && !iconName.isEmpty())
        painter->setIcon(iconName);
    QWidget* widget = painter->widget();
    auto* button = dynamic_cast<KelButton*>(painter);
    const Qt::Alignment leftCentred = Qt::AlignLeft | Qt::AlignVCenter;
    // The secondary text of menu-like buttons: the content colour, fainter.
    const auto fadedSubText = [this, painter]() {
        KelStateColors faded = painter->contentColors();
        for (KelStateColorSet* set : { &faded.unchecked, &faded.checked })
            set->normal = colorWithAlpha(set->normal, opacity(1));
        painter->setSubTextColors(faded);
    };
    switch (kind) {
    case 11: // push button
    case 19: // dialog button
    case 20: // the dialog's default button
        painter->setBackgroundColors(KelStateColors(
            color(CL_Button_Push_Base), hoverOverlayColor(QColor()), pressedOverlayColor(QColor()), QColor()));
        painter->setRadii(KelRadii(metric(19)));
        painter->setBorderWidths(margins(3));
        painter->setContentColors(KelStateColors(color(isDarkTheme() ? CL_Text_Dark : CL_Text_Light)));
        painter->setPaddings(margins(4));
        if (widget)
            widget->setMinimumSize(size(0));
        break;
    case 12:
    case 25:
        painter->setPaddings(margins(5));
        painter->setContentColors(colorSet(3));
        painter->setColorizeIcon(true);
        if (kind == 25 && widget) {
            widget->setCursor(Qt::ArrowCursor);
            widget->setFixedWidth(metric(27));
        }
        break;
    case 13: // check box
        painter->setContentColors(KelStateColors(defaultTextColor()));
        painter->setSpacing(metric(20));
        if (!painter->icon())
            painter->setIcon(iconPath(1));
        painter->setAlignment(leftCentred);
        painter->setColorizeIcon(false);
        if (button)
            button->setCheckable(true);
        if (widget)
            KelUtils::setSizePolicy(widget, QSizePolicy::Minimum, QSizePolicy::Fixed);
        break;
    case 14: // radio button
        painter->setContentColors(KelStateColors(defaultTextColor()));
        painter->setSpacing(metric(21));
        if (!painter->icon())
            painter->setIcon(iconPath(2));
        painter->setAlignment(leftCentred);
        if (button)
            button->setUncheckByClickBlocked(true);
        break;
    case 15: // menu item
    case 16: // menu item with a submenu
        painter->setBackgroundColors(colorSet(0));
        painter->setContentColors(KelStateColors(textColorFor(color(CL_PopupMenu_Base))));
        painter->setPaddings(margins(6));
        fadedSubText();
        painter->setTextOrientation(Qt::Horizontal);
        painter->setAlignment(leftCentred);
        if (button)
            button->setUncheckByClickBlocked(true);
        if (widget)
            KelUtils::setSizePolicy(widget, QSizePolicy::Minimum, QSizePolicy::Fixed);
        if (kind == 16) {
            painter->setArrowParams(arrowSpec(1));
            painter->setArrowColors(painter->contentColors());
        }
        break;
    case 17: { // combo box face
        const KelStateColors background = colorSet(4);
        painter->setBackgroundColors(background);
        painter->setBorderColors(colorSet(5));
        painter->setBorderWidths(QMargins(metric(22), metric(22), metric(22), metric(22)));
        painter->setRadii(KelRadii(metric(23)));
        painter->setArrowParams(arrowSpec(0));
        painter->setArrowColors(colorSet(6));
        painter->setContentColors(KelStateColors(textColorFor(background.unchecked.normal)));
        painter->setPaddings(margins(7));
        painter->setAlignment(leftCentred);
        fadedSubText();
        if (widget)
            widget->setMinimumHeight(metric(25));
        break;
    }
    case 18: { // combo-box item
        const KelStateColors background = colorSet(1);
        painter->setBackgroundColors(background);
        painter->setArrowParams(arrowSpec(0));
        painter->setArrowColors(KelStateColors(Qt::transparent));
        painter->setBorderColors(KelStateColors(Qt::transparent));
        painter->setContentColors(KelStateColors(textColorFor(background.unchecked.normal)));
        fadedSubText();
        painter->setTextOrientation(Qt::Horizontal);
        painter->setBorderWidths(QMargins(metric(22), metric(22), metric(22), metric(22)));
        painter->setPaddings(margins(7));
        painter->setAlignment(leftCentred);
        if (button) {
            button->setCheckable(true);
            button->setUncheckByClickBlocked(true);
            button->setEmitsClickedWhenCheckable(true);
        }
        break;
    }
    case 21: // title-bar buttons: minimise, maximise, restore, close
    case 22:
    case 23:
    case 24:
        painter->setContentColors(colorSet(9));
        painter->setColorizeIcon(true);
        if (kind == 24)
            painter->setBackgroundColors(colorSet(8));
        if (widget)
            widget->setFixedSize(48, 32);
        break;
    case 27: {
        const QColor base(0x656565);
        painter->setBackgroundColors(
            KelStateColors(base, hoverOverlayColor(QColor()), pressedOverlayColor(QColor()), QColor()));
        painter->setRadii(KelRadii(6));
        painter->setBorderWidths(QMargins(1, 1, 1, 1));
        painter->setBorderColors(KelStateColors(base));
        painter->setContentColors(KelStateColors(textColorFor(base)));
        painter->setPaddings(QMargins(8, 4, 8, 4));
        break;
    }
    default:
        break;
    }
}

// The operations below style classes that the base style reaches through their setters; each
// class fills in its base look here when it is added.

// The generic framed-control look that the edit and spin-box styling start with.
void KelStyle::applyFramePainterStyle(KelFramePainter* painter) const
{
    if (!painter)
        return;
    painter->setBackgroundColors(colorSet(4));
    painter->setBorderColors(colorSet(5));
    const int border = metric(22);
    painter->setBorderWidths(QMargins(border, border, border, border));
    painter->setRadii(KelRadii(metric(23)));
    painter->setPaddings(margins(7));
    QWidget* widget = painter->widget();
    if (!widget)
        return;
    QPalette palette = widget->palette();
    palette.setColor(QPalette::Text, defaultTextColor());
    widget->setPalette(palette);
    if (!qobject_cast<QAbstractScrollArea*>(widget))
        widget->setMinimumHeight(metric(25));
}

void KelStyle::applyLineEditStyle(KelLineEdit* edit, int kind) const
{
    if (!edit)
        return;
    applyFramePainterStyle(edit);
    edit->setSideWidgetSpacing(metric(24));
    switch (kind) {
    case 29:
        edit->addClearButton(false);
        break;
    case 30:
        edit->addClearButton(true);
        break;
    case 31:
        edit->setEchoMode(QLineEdit::Password);
        break;
    case 32:
        edit->setPasswordWhenUnfocused(true);
        break;
    default:
        break;
    }
}

void KelStyle::applyPlainTextEditStyle(KelPlainTextEdit* edit, int kind) const
{
    if (!edit)
        return;
    applyFramePainterStyle(edit);
    // The growing edit: as tall as its document.
    if (kind == 34)
        edit->setAutoHeight(true);
}

void KelStyle::applySpinBoxStyle(KelSpinBoxPainter* painter, int kind) const
{
    if (!painter)
        return;
    applyFramePainterStyle(painter);
    if (kind != 35)
        return;
    // The arrows bring their own side margins: no padding between the text field and them.
    QMargins paddings = painter->paddings();
    paddings.setRight(0);
    painter->setPaddings(paddings);
    painter->setUpArrowParams(arrowSpec(2));
    painter->setDownArrowParams(arrowSpec(3));
    painter->setUpArrowColors(colorSet(6));
    painter->setDownArrowColors(colorSet(6));
}

void KelStyle::applySliderStyle(KelSlider* slider, int kind) const
{
    if (!slider || kind != 36)
        return;
    const bool horizontal = slider->orientation() == Qt::Horizontal;
    const QSize handleSize = horizontal ? QSize(8, 24) : QSize(24, 8);
    KelButton* handle = slider->positionHandle();
    handle->setRadii(KelRadii(qMin(handleSize.width(), handleSize.height()) / 2));
    handle->setBackgroundColors(KelStateColors(color(CL_Accent)));
    handle->setFixedSize(handleSize);
    if (horizontal)
        slider->setMinimumHeight(handleSize.height());
    else
        slider->setMinimumWidth(handleSize.width());
    slider->setGrooveThickness(2, 0);
    slider->setGrooveColors(color(1), color(1));
    slider->setClickMode(0);
}

void KelStyle::applyLinearShadowStyle(KelLinearShadowWidget* shadow, int kind) const
{
    if (!shadow || kind != 41)
        return;
    shadow->setShadowSize(metric(1));
    shadow->setShadowColor(color(4));
}

void KelStyle::applyProgressBarStyle(KelProgressBar*, int) const { }

void KelStyle::applyScrollAreaStyle(KelScrollArea*, int) const { }

void KelStyle::applyScrollBarStyle(QScrollBar*, int kind) const
{
    if (kind == 39)
        qWarning() << "There is no default style for scrollbars! Each app shoud define it's own style";
}

void KelStyle::applyStyleSheet(QWidget* widget, int kind) const
{
    if (widget)
        widget->setStyleSheet(applyMenuStyle(kind));
}

QString KelStyle::applyMenuStyle(int kind) const
{
    if (kind != 40)
        return QString();
    const QColor background = color(CL_PopupMenu_Base);
    // Style sheets take no alpha here: translucent colours are laid over the menu background.
    const auto opaque
        = [&background](const QColor& c) { return (c.alpha() < 255 ? blendColorOver(background, c) : c).name(); };
    return QString::fromLatin1(kMenuStyleSheet)
        .arg(opaque(color(10)), opaque(background), opaque(textColorFor(background)), opaque(color(12)),
            opaque(colorSet(0).checked.normal), opaque(color(12)));
}

QColor KelStyle::defaultTextColor() const { return color(isDarkTheme() ? CL_Text_Light : CL_Text_Dark); }

QColor KelStyle::defaultSecondTextColor() const { return colorWithAlpha(defaultTextColor(), opacity(1)); }

QColor KelStyle::inverseTextColor() const { return color(isDarkTheme() ? CL_Text_Dark : CL_Text_Light); }

bool KelStyle::isDarkBackground(const QColor& background) const
{
    if (!background.isValid() || background.alpha() == 0)
        return isDarkTheme();
    return isDarkColor(background);
}

QColor KelStyle::textColorFor(const QColor& background) const
{
    return color(isDarkBackground(background) ? CL_Text_Light : CL_Text_Dark);
}

QColor KelStyle::hoverOverlayColor(const QColor& background) const
{
    return isDarkBackground(background) ? whiteWithAlpha(30) : blackWithAlpha(24);
}

QColor KelStyle::pressedOverlayColor(const QColor& background) const
{
    return isDarkBackground(background) ? whiteWithAlpha(60) : blackWithAlpha(46);
}

KelStyle* kelStyle()
{
    if (KelStyleManager* manager = KelStyleManager::instance())
        return manager->currentStyle();
    // Without a toolkit application (tools, some tests) the base look answers.
    static KelStyle fallback;
    return &fallback;
}
