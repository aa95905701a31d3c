#include "styles/style.h"

#include "animators/kelwidgetstateanimator.h"
#include "painting/kelbuttonpainter.h"
#include "painting/kelgraphicsdropshadoweffect.h"
#include "painting/kelicon.h"
#include "platform/x11/kelnativewindowutils.h"
#include "resources/appresources.h"
#include "styles/kelcolors.h"
#include "styles/noisepainter.h"
#include "utils/kelgeometryutils.h"
#include "utils/kelwidgettreeutils.h"
#include "widgets/installscrollbars.h"
#include "widgets/kelbutton.h"
#include "widgets/kelcombobox.h"
#include "widgets/keldelimiter.h"
#include "widgets/kelframe.h"
#include "widgets/keliconwidget.h"
#include "widgets/kellabel.h"
#include "widgets/kellinearshadowwidget.h"
#include "widgets/kellineedit.h"
#include "widgets/kelplaintextedit.h"
#include "widgets/kelscrollarea.h"
#include "widgets/kelslider.h"
#include "widgets/kelspinboxpainter.h"
#include "widgets/progressbar.h"
#include "windows/keldialog.h"
#include "windows/kelmessagebox.h"
#include "windows/keltitlebar.h"
#include "windows/kelwindow.h"
#include "windows/kelwindowframe.h"

#include <QAbstractSpinBox>
#include <QBoxLayout>
#include <QEasingCurve>
#include <QLabel>

namespace {

const QColor kTransparent(Qt::transparent);

QColor black(double alpha) { return colorWithAlpha(QColor(Qt::black), alpha); }
QColor white(double alpha) { return colorWithAlpha(QColor(Qt::white), alpha); }
QColor blackAlpha(int alpha) { return QColor(0, 0, 0, alpha); }
QColor whiteAlpha(int alpha) { return QColor(255, 255, 255, alpha); }

KelAnimationParams animation(int forwardEasing, int forwardMs, int backwardEasing, int backwardMs)
{
    return KelAnimationParams { forwardEasing, forwardMs, backwardEasing, backwardMs, 0.0, 1.0 };
}

// Both sets alike: (normal, hovered, pressed, none).
KelStateColors overlaid(const QColor& normal, const QColor& hovered, const QColor& pressed)
{
    return KelStateColors(normal, hovered, pressed, QColor());
}

// Finds the widget's drop shadow, or makes one when the widget has no effect of that kind yet, so
// restyling never stacks effects.
KelGraphicsDropShadowEffect* ensureDropShadow(QWidget* widget)
{
    if (!widget)
        return nullptr;
    if (auto* shadow = qobject_cast<KelGraphicsDropShadowEffect*>(widget->graphicsEffect()))
        return shadow;
    return new KelGraphicsDropShadowEffect(widget);
}

void setLabelFont(QLabel* label, int pixelSize, int weight, bool italic = false)
{
    KelUtils::setWidgetFont(label, pixelSize, weight, KelStyle::interfaceFontFamily());
    if (label->font().italic() != italic) {
        QFont font = label->font();
        font.setItalic(italic);
        label->setFont(font);
    }
}

int iconWidth(KelButtonPainter* painter)
{
    if (!painter->icon())
        return 0;
    return painter->iconSize().isValid() ? painter->iconSize().width() : painter->icon()->defaultSize().width();
}

} // namespace

Style::Style(QObject* parent)
    : KelStyle(parent)
{
    initAppResources();
}

Style::~Style() = default;

QColor Style::colorAt(int role, double alpha) const { return colorWithAlpha(color(role), alpha); }

QColor Style::hover() const { return hoverOverlayColor(QColor()); }

QColor Style::pressed() const { return pressedOverlayColor(QColor()); }

int Style::metric(int kind) const
{
    switch (kind) {
    case 0:
    case 7:
        return 0;
    case 1:
        return 24;
    case 2:
        return 8;
    case 6:
        return 2;
    case 19:
    case 23:
        return 4;
    case 25:
        return 36;
    case 1000:
    case 1005:
        return 6;
    case 1001:
        return 356;
    case 1002:
        return 201;
    case 1003:
        return 300;
    case 1004:
        return 40;
    case 1006:
        return 248;
    case 1007:
        return 92;
    case 1008:
        return 32;
    default:
        return KelStyle::metric(kind);
    }
}

QSize Style::size(int kind) const
{
    switch (kind) {
    case 0:
        return QSize(94, 36);
    case 1:
        return QSize(-(metric(1000) + metric(25)), 0);
    case 1000:
        return QSize(32, 32);
    case 1001:
        return QSize(100, 20);
    default:
        return KelStyle::size(kind);
    }
}

QMargins Style::margins(int kind) const
{
    switch (kind) {
    case 0:
        return QMargins(16, 16, 16, 16);
    case 1:
        return QMargins(12, 4, 4, 12);
    case 6:
        return QMargins(12, 10, 12, 10);
    case 7:
        return QMargins(10, 2, 10, 2);
    case 1000:
        return QMargins(8, 0, 8, 0);
    default:
        return KelStyle::margins(kind);
    }
}

KelArrowSpec Style::arrowSpec(int kind) const
{
    switch (kind) {
    case 1000:
        return KelArrowSpec { QSize(10, 6), QMargins(), 1, 1.01 };
    case 1001:
        return KelArrowSpec { QSize(10, 6), QMargins(), 2, 1.01 };
    case 1002:
        return KelArrowSpec { QSize(6, 10), QMargins(), 4, 1.01 };
    case 1003:
        return KelArrowSpec { QSize(8, 4), QMargins(), 1, 0.0 };
    case 1004:
        return KelArrowSpec { QSize(8, 4), QMargins(), 2, 0.0 };
    default:
        return KelStyle::arrowSpec(kind);
    }
}

QString Style::iconPath(int kind) const
{
    switch (kind) {
    case 3:
        return QStringLiteral(":/svg/close.svg");
    case 5:
        return QStringLiteral(":/svg/messagebox-error.svg");
    case 6:
        return QStringLiteral(":/svg/messagebox-info.svg");
    case 7:
        return QStringLiteral(":/svg/messagebox-question.svg");
    default:
        return KelStyle::iconPath(kind);
    }
}

QColor Style::color(int role) const
{
    const bool dark = isDarkTheme();
    switch (role) {
    case CL_Accent:
        return QColor(0x1e4cf0);
    case 1:
        return color(1009);
    case 3:
        return dark ? white(0.12) : black(0.2);
    case 4:
        return black(0.3);
    case CL_Dialog_Base:
        return color(2);
    case CL_PopupMenu_Base:
        // Darker by a factor below 100 makes lighter: popups stand out of the window either way.
        return color(2).darker(dark ? 88 : 112);
    case 11:
        return black(0.5);
    case CL_Text_Dark:
        return QColor(Qt::black);
    case CL_Text_Light:
        return QColor(Qt::white);
    case CL_Button_Push_Base:
        return dark ? white(0.4) : black(0.76);
    case 1001:
        return colorAt(CL_Accent, 0.08);
    case 1002:
        return colorAt(CL_Accent, 0.15);
    case 1003:
        return colorAt(CL_Accent, 0.25);
    case 1004:
        return colorAt(CL_Accent, 0.5);
    case 1005:
        return dark ? white(0.73) : black(0.6);
    case 1006:
        return dark ? white(0.53) : black(0.435);
    case 1007:
        return dark ? white(0.353) : black(0.318);
    case 1008:
        return dark ? white(0.19) : black(0.12);
    case 1009:
        return dark ? white(0.13) : black(0.06);
    case 1010:
        return colorAt(1000, 0.85);
    case 1011:
        return color(1000);
    case 1012:
        return dark ? black(0.6) : black(0.2);
    default:
        break;
    }
    static const QRgb kPalette[]
        = { 0xff4040, 0xff8c00, 0xffc700, 0xa1da00, 0x00c767, 0x00bfb4, 0x0091cf, 0x6d5ae0, 0xb146c2, 0xf157bd };
    if (role >= 1013 && role <= 1022)
        return QColor(kPalette[role - 1013]);
    return KelStyle::color(role);
}

KelStateColors Style::colorSet(int kind) const
{
    switch (kind) {
    case 4:
        return KelStateColors(kTransparent, kTransparent, kTransparent, hover());
    case 5:
    case 6: {
        KelStateColors colors(color(1007), hover(), kTransparent, color(CL_Accent), kTransparent, kTransparent);
        colors.unchecked.disabled = pressed();
        colors.checked.disabled = pressed();
        return colors;
    }
    case 1000: {
        const QColor c = isDarkTheme() ? color(CL_Text_Light) : color(CL_Accent);
        return KelStateColors(c, c, c, defaultSecondTextColor());
    }
    case 1001:
        return KelStateColors(
            kTransparent, color(1003), color(CL_Accent), color(CL_Accent), color(CL_Accent), color(CL_Accent));
    case 1002: {
        const QColor background = isDarkTheme() ? QColor(Qt::white) : color(1000);
        return KelStateColors(kTransparent, hoverOverlayColor(background), pressedOverlayColor(background), color(2),
            kTransparent, kTransparent);
    }
    case 1004:
        return KelStateColors(kTransparent, color(1001), kTransparent, color(1003), kTransparent, kTransparent);
    case 1005:
        return KelStateColors(kTransparent, color(1003), kTransparent, color(CL_Accent), kTransparent, kTransparent);
    case 1006:
        return overlaid(kTransparent, hover(), pressed());
    case 1007:
        return KelStateColors(kTransparent, hover(), pressed(), color(1009), hover(), pressed());
    case 1008:
        return overlaid(color(1009), hover(), pressed());
    default:
        return KelStyle::colorSet(kind);
    }
}

void Style::applyWindowStyle(KelWindow* window, int kind) const
{
    if (!window)
        return;
    switch (kind) {
    case 1:
        applyDialogStyle(window);
        break;
    case 2:
        applyWindowStyle(window, 1);
        if (QWidget* central = window->centralWidget())
            central->setMinimumWidth(480);
        if (KelTitleBar* titleBar = window->titleBar())
            titleBar->hide();
        if (auto* box = qobject_cast<KelMessageBox*>(window))
            applyMessageBoxStyle(box);
        break;
    case 3:
    case 5:
        applyGrainedWindowStyle(window, kind);
        break;
    case 1000:
        applyWindowStyle(window, 3);
        window->setContentsMargins(0, 0, 0, 0);
        break;
    case 1001:
        applyWindowStyle(window, 3);
        if (KelWindowFrame* frame = window->windowFrame())
            frame->setBackground(QBrush(color(2)));
        window->setContentsMargins(12, 12, 12, 12);
        if (QWidget* central = window->centralWidget())
            central->setMinimumWidth(292);
        break;
    case 1002: {
        applyWindowStyle(window, 1);
        if (KelTitleBar* titleBar = window->titleBar()) {
            titleBar->setWidgetType(1042);
            titleBar->setBorderWidths(QMargins(0, 0, 0, 1));
            titleBar->setMargins(QMargins(1, 0, 1, 0));
        }
        auto* dialog = qobject_cast<KelDialog*>(window);
        if (dialog && dialog->footerWidget()) {
            KelFrame* footer = dialog->footerWidget();
            footer->setWidgetType(1042);
            footer->setBorderWidths(QMargins(0, 1, 0, 0));
            footer->setMargins(QMargins(1, 0, 1, 0));
            if (QBoxLayout* layout = dialog->footerLayout())
                layout->setContentsMargins(24, 12, 24, 12);
        }
        break;
    }
    default:
        KelStyle::applyWindowStyle(window, kind);
        break;
    }
}

// Dialogs: a tall title bar with a large title and the close button in the window's corner, and
// footer buttons that start at the left edge.
void Style::applyDialogStyle(KelWindow* window) const
{
    KelStyle::applyWindowStyle(window, 1);
    if (KelTitleBar* titleBar = window->titleBar()) {
        titleBar->setFixedHeight(60);
        if (KelLabel* title = titleBar->titleLabel())
            title->setWidgetType(1061);
        KelButton* close = titleBar->button(KelTitleBar::CloseButton);
        // Done once per window: the id marks a button that already sits in the corner.
        if (close && close->widgetType() != 1024) {
            close->setWidgetType(1024);
            close->setParent(window);
            if (KelNativeWindowUtils* utils = window->nativeWindowUtils())
                utils->addNonCaptionWidget(close);
            const auto place = [window, close]() { close->move(window->width() - 18 - close->width(), 18); };
            place();
            close->show();
            close->raise();
            connect(window, &KelWidget::resized, close, place);
        }
    }
    auto* dialog = qobject_cast<KelDialog*>(window);
    QBoxLayout* footer = dialog ? dialog->footerLayout() : nullptr;
    if (!footer)
        return;
    footer->setContentsMargins(24, 16, 24, 24);
    footer->setSpacing(8);
    if (footer->count() > 0 && footer->itemAt(0)->spacerItem())
        delete footer->takeAt(0);
}

// Message boxes: the icon stands apart from the message, and the content keeps clear of the
// window's edges (a little less at the bottom, where the footer's own margin follows). The icons are
// one-colour drawings in a dark grey of their own: drawn in the text colour they show on every base.
void Style::applyMessageBoxStyle(KelMessageBox* box) const
{
    box->setMessageSpacing(24);
    if (KelIconWidget* icon = box->iconWidget())
        icon->setColor(defaultTextColor());
    KelFrame* content = box->contentWidget();
    if (!content)
        return;
    QLayout* layout = content->layout();
    if (!layout) {
        layout = new QVBoxLayout(content);
        layout->setSpacing(0);
    }
    layout->setContentsMargins(24, 24, 24, 19);
}

// Main and popup windows: the toolkit's frame with rounded corners and the grain over the window.
void Style::applyGrainedWindowStyle(KelWindow* window, int kind) const
{
    KelStyle::applyWindowStyle(window, kind);
    const int m = metric(1000);
    window->setContentsMargins(0, m, 0, m);
    // Installing the same filter again only moves it, so restyling never stacks it.
    window->installEventFilter(NoisePainter::instance());
    if (KelWindowFrame* frame = window->windowFrame())
        frame->setRadii(KelRadii(m));
}

void Style::applyFrameStyle(KelFrame* frame, int kind) const
{
    if (!frame)
        return;
    switch (kind) {
    case 1042:
        frame->setBorderColors(KelStateColors(color(1)));
        break;
    case 1043:
        frame->setBackgroundColors(KelStateColors(color(2)));
        frame->setBorderColors(KelStateColors(color(1)));
        break;
    case 1044:
    case 1045: {
        frame->setBackgroundColors(KelStateColors(color(2)));
        frame->setBorderColors(KelStateColors(color(1)));
        frame->setAttribute(Qt::WA_OpaquePaintEvent);
        KelGraphicsDropShadowEffect* shadow = ensureDropShadow(frame);
        shadow->setBlurRadius(20);
        shadow->setColor(color(1012));
        shadow->setOffset(QPointF(0, 0));
        if (kind == 1044) {
            shadow->setPadding(QMargins(0, 12, 0, 12));
            frame->setAnimationParams(animation(QEasingCurve::OutQuart, 250, QEasingCurve::InQuart, 150));
        } else {
            shadow->setPadding(QMargins(12, 0, 12, 0));
        }
        break;
    }
    case 1046:
        applyFramePainterStyle(frame);
        frame->setBorderColors(
            KelStateColors(color(1007), color(1004), color(CL_Accent), color(CL_Accent), kTransparent, kTransparent));
        frame->setFixedHeight(metric(25));
        break;
    default:
        KelStyle::applyFrameStyle(frame, kind);
        break;
    }
}

void Style::applyLabelStyle(QLabel* label, int kind) const
{
    if (!label)
        return;
    struct LabelLook {
        int id;
        int pixelSize;
        int weight;
        int colorKind; // 0 default text, 1 second text, else a colour role
        bool italic;
    };
    static const LabelLook kLooks[] = {
        { 9, 16, 50, 0, false },
        { 1047, 12, 50, 0, false },
        { 1048, 12, 75, CL_Text_Light, false },
        { 1049, 12, 50, 1, false },
        { 1050, 13, 50, 0, false },
        { 1051, 13, 63, 0, false },
        { 1052, 14, 50, 0, false },
        { 1053, 14, 50, 1, false },
        { 1054, 14, 57, 0, false },
        { 1055, 14, 75, 1, false },
        { 1056, 14, 50, 0, true },
        { 1057, 14, 50, 0, false },
        { 1058, 14, 50, CL_Text_Error, false },
        { 1061, 20, 57, 0, false },
        { 1064, 14, 50, 1, false },
        { 1082, 16, 63, 0, false },
    };
    const LabelLook* look = nullptr;
    for (const LabelLook& candidate : kLooks)
        if (candidate.id == kind)
            look = &candidate;
    if (!look) {
        KelStyle::applyLabelStyle(label, kind);
        return;
    }
    setLabelFont(label, look->pixelSize, look->weight, look->italic);
    const QColor text = look->colorKind == 0 ? defaultTextColor()
        : look->colorKind == 1               ? defaultSecondTextColor()
                                             : color(look->colorKind);
    setWidgetForegroundColor(label, text);
    switch (kind) {
    case 9:
    case 1082:
        label->setAlignment(Qt::AlignHCenter | Qt::AlignVCenter);
        label->setWordWrap(true);
        break;
    case 1048: {
        KelGraphicsDropShadowEffect* shadow = ensureDropShadow(label);
        shadow->setBlurRadius(3);
        shadow->setOffset(QPointF(0, 1));
        shadow->setColor(black(0.2));
        break;
    }
    case 1057:
        if (auto* kelLabel = qobject_cast<KelLabel*>(label)) {
            kelLabel->setElideMode(Qt::ElideRight);
            KelUtils::setSizePolicy(kelLabel, QSizePolicy::Preferred, QSizePolicy::Preferred);
        }
        break;
    case 1064:
        label->setWordWrap(true);
        // The label's own margin: contents margins of a frame are reset to its frame width by
        // the next style change, which left the text against the page's edge.
        label->setContentsMargins(0, 0, 0, 0);
        label->setMargin(24);
        label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        break;
    default:
        break;
    }
}

void Style::applyDelimiterStyle(KelDelimiter* delimiter, int kind) const
{
    if (!delimiter)
        return;
    delimiter->setColor(color(1));
    switch (kind) {
    case 1066:
        delimiter->setThickness(12);
        delimiter->setLineOffset(6);
        delimiter->setLineWidth(1);
        delimiter->setStartMargin(12);
        delimiter->setEndMargin(12);
        break;
    case 1067:
        delimiter->setColor(color(1007));
        delimiter->setThickness(13);
        delimiter->setLineOffset(6);
        delimiter->setLineWidth(1);
        delimiter->setFixedHeight(20);
        break;
    default:
        KelStyle::applyDelimiterStyle(delimiter, kind);
        break;
    }
}

void Style::applyButtonStyle(KelButtonPainter* painter, int kind, const QString& iconName) const
{
    if (!painter)
        return;
    painter->setColorizeIcon(true);
    if (kind >= 1006 && kind <= 1015) {
        applyPushButton(painter, kind, iconName);
        return;
    }
    if ((kind >= 1021 && kind <= 1032) || (kind >= 1039 && kind <= 1041) || kind == 1076 || kind == 1077) {
        applyToolButton(painter, kind, iconName);
        return;
    }
    if (applySideBarOrTabButton(painter, kind, iconName))
        return;
    QWidget* widget = painter->widget();
    auto* button = dynamic_cast<KelButton*>(painter);
    switch (kind) {
    case 11:
        KelStyle::applyButtonStyle(painter, kind, iconName);
        painter->setSpacing(6);
        painter->setPaddings(QMargins(12, 0, 12, 0));
        painter->setFont(14, QFont::Normal);
        if (widget) {
            KelUtils::setSizePolicy(widget, QSizePolicy::Minimum, QSizePolicy::Fixed);
            widget->setFixedHeight(36);
        }
        break;
    case 13:
    case 14:
    case 1005: {
        static const char* const kIcons[] = { "CheckBoxIcon", "RadioIcon", "ToggleIcon" };
        const int index = kind == 13 ? 0 : kind == 14 ? 1 : 2;
        KelStyle::applyButtonStyle(painter, kind == 1005 ? 13 : kind, QLatin1String(kIcons[index]));
        if (kind == 1005)
            painter->setPaddings(QMargins(2, 3, 0, 2));
        if (button) {
            // Easing types by number: 0 linear, 5 in-cubic.
            const KelAnimationParams params = kind == 13 ? animation(0, 150, 5, 150)
                : kind == 14                             ? animation(5, 150, 5, 150)
                                                         : animation(0, 150, 0, 150);
            button->stateAnimator()->setCheckedAnimationParams(params);
        }
        break;
    }
    case 15:
    case 18:
        KelStyle::applyButtonStyle(painter, kind, iconName);
        painter->setMargins(QMargins(metric(7), 0, metric(7), 0));
        if (kind == 18 && widget)
            widget->setMinimumHeight(metric(25));
        break;
    case 17: {
        KelStyle::applyButtonStyle(painter, kind, iconName);
        painter->setBackgroundColors(colorSet(1007));
        KelStateColors border(color(1007), hover(), pressed(), pressed(), kTransparent, kTransparent);
        border.unchecked.disabled = pressed();
        border.checked.disabled = pressed();
        painter->setBorderColors(border);
        painter->setArrowColors(
            KelStateColors(defaultTextColor(), kTransparent, kTransparent, defaultSecondTextColor()));
        break;
    }
    case 19:
        applyButtonStyle(painter, 1006, iconName);
        break;
    case 20:
        applyButtonStyle(painter, 1009, iconName);
        break;
    case 24:
        KelStyle::applyButtonStyle(painter, kind, iconName);
        if (button) {
            const int side = (button->width() - iconWidth(painter)) / 2;
            painter->setPaddings(QMargins(side, 0, side, 0));
        }
        break;
    case 25:
        KelStyle::applyButtonStyle(painter, kind, iconName);
        painter->setContentColors(overlaid(defaultSecondTextColor(), color(CL_Accent), color(CL_Accent)));
        if (widget)
            widget->setCursor(Qt::PointingHandCursor);
        break;
    case 1020:
        applyButtonStyle(painter, 17, iconName);
        if (widget)
            KelUtils::setSizePolicy(widget, QSizePolicy::Ignored, QSizePolicy::Fixed);
        painter->setArrowParams(arrowSpec(1002));
        painter->setElideMode(Qt::ElideMiddle);
        break;
    case 1033:
        applyButtonStyle(painter, 17, iconName);
        if (widget)
            widget->setFixedHeight(32);
        painter->setPaddings(QMargins(7, 0, 7, 0));
        // The list opens flush with the box.
        if (auto* combo = qobject_cast<KelComboBox*>(widget))
            combo->setPopupOffset(0, 0);
        break;
    default:
        KelStyle::applyButtonStyle(painter, kind, iconName);
        break;
    }
}

// Ids 1006-1015: push buttons built on id 11.
void Style::applyPushButton(KelButtonPainter* painter, int kind, const QString& iconName) const
{
    QWidget* widget = painter->widget();
    const auto outline = [this, painter](const QColor& c, double borderAlpha) {
        painter->setBackgroundColors(overlaid(kTransparent, colorWithAlpha(c, 0.1), colorWithAlpha(c, 0.05)));
        painter->setBorderColors(KelStateColors(colorWithAlpha(c, borderAlpha)));
        painter->setBorderWidths(QMargins(1, 1, 1, 1));
        painter->setContentColors(KelStateColors(colorWithAlpha(c, 1.0)));
    };
    const auto compact = [painter, widget](int height, int pixelSize) {
        if (widget)
            widget->setFixedHeight(height);
        painter->setFont(pixelSize, QFont::Normal);
    };
    switch (kind) {
    case 1006:
        applyButtonStyle(painter, 11, iconName);
        outline(color(CL_Button_Push_Base), 1.0);
        break;
    case 1007:
        applyButtonStyle(painter, 11, iconName);
        painter->setBackgroundColors(overlaid(color(CL_Button_Push_Base), whiteAlpha(30), blackAlpha(24)));
        painter->setContentColors(KelStateColors(inverseTextColor()));
        break;
    case 1008:
        applyButtonStyle(painter, 11, iconName);
        painter->setBackgroundColors(KelStateColors(
            color(1009), blackAlpha(24), blackAlpha(46), color(CL_Accent), color(CL_Accent), color(CL_Accent)));
        painter->setContentColors(KelStateColors(defaultTextColor(), defaultTextColor(), defaultTextColor(),
            color(CL_Text_Light), color(CL_Text_Light), color(CL_Text_Light)));
        break;
    case 1009:
        applyButtonStyle(painter, 11, iconName);
        painter->setBackgroundColors(overlaid(color(CL_Accent), whiteAlpha(30), blackAlpha(24)));
        painter->setContentColors(KelStateColors(QColor(Qt::white)));
        break;
    case 1010:
        applyButtonStyle(painter, 11, iconName);
        compact(32, 14);
        painter->setBackgroundColors(isDarkTheme() ? overlaid(color(1009), blackAlpha(24), blackAlpha(46))
                                                   : overlaid(color(1002), color(1002), color(1001)));
        painter->setContentColors(colorSet(1000));
        break;
    case 1011:
        applyButtonStyle(painter, 11, iconName);
        outline(QColor(0x10c358), 0.4);
        break;
    case 1012:
        applyButtonStyle(painter, 11, iconName);
        compact(32, 14);
        painter->setBackgroundColors(overlaid(kTransparent, color(1002), color(1003)));
        painter->setContentColors(colorSet(1000));
        break;
    case 1013:
        applyButtonStyle(painter, 1009, iconName);
        compact(32, 14);
        break;
    case 1015: {
        applyButtonStyle(painter, 1011, iconName);
        compact(28, 12);
        painter->setPaddings(QMargins(12, 4, 12, 3));
        const int radius = painter->radii().topLeft;
        painter->setRadii(KelRadii(0, 0, radius, radius));
        break;
    }
    default:
        KelStyle::applyButtonStyle(painter, kind, iconName);
        break;
    }
}

// Tool buttons, note-colour buttons, list rows and key caps.
void Style::applyToolButton(KelButtonPainter* painter, int kind, const QString& iconName) const
{
    QWidget* widget = painter->widget();
    auto* button = dynamic_cast<KelButton*>(painter);
    switch (kind) {
    case 1021:
    case 1022:
    case 1023:
        KelStyle::applyButtonStyle(painter, 10, iconName);
        painter->setFont(14, QFont::Normal);
        if (widget) {
            widget->setFixedHeight(32);
            KelUtils::setSizePolicy(widget, QSizePolicy::Fixed, QSizePolicy::Fixed);
            widget->setMinimumWidth(32);
        }
        painter->setRadii(KelRadii(metric(19)));
        painter->setSpacing(8);
        painter->setPaddings(QMargins(8, 0, 8, 0));
        painter->setContentColors(KelStateColors(defaultTextColor()));
        painter->setBackgroundColors(colorSet(1006 + (kind - 1021)));
        break;
    case 1024:
        applyButtonStyle(painter, 24, QStringLiteral(":/svg/close.svg"));
        painter->setIcon(QStringLiteral(":/svg/close.svg"));
        painter->setRadii(KelRadii(metric(19)));
        painter->setPaddings(QMargins());
        if (widget)
            widget->setFixedSize(24, 24);
        break;
    case 1025:
    case 1026: {
        KelStyle::applyButtonStyle(painter, 10, iconName);
        if (widget) {
            KelUtils::setSizePolicy(widget, QSizePolicy::Minimum, QSizePolicy::Minimum);
            widget->setCursor(kind == 1025 ? Qt::ArrowCursor : Qt::PointingHandCursor);
        }
        painter->setFont(12, QFont::Normal);
        const QColor c = isDarkTheme() ? defaultTextColor() : color(CL_Accent);
        const QColor second = defaultSecondTextColor();
        painter->setContentColors(
            KelStateColors(second, defaultTextColor(), defaultTextColor(), c, kTransparent, kTransparent));
        painter->setArrowColors(
            KelStateColors(colorWithAlpha(second, 0.1), second, second, c, kTransparent, kTransparent));
        painter->setArrowPlacement(KelButtonPainter::ArrowAfterText);
        painter->setBackgroundColors(kind == 1025 ? colorSet(1006) : KelStateColors(kTransparent));
        break;
    }
    case 1027:
    case 1028:
        applyButtonStyle(painter, 1021, iconName);
        if (widget)
            widget->setCursor(Qt::PointingHandCursor);
        painter->setColorizeIcon(kind == 1027);
        break;
    case 1029:
    case 1030:
        KelStyle::applyButtonStyle(painter, 10,
            kind == 1029 ? QStringLiteral(":/svg/note-color-icon.svg") : QStringLiteral(":/svg/note-nocolor-icon.svg"));
        if (button)
            button->setCheckable(true);
        painter->setRadii(KelRadii(12));
        painter->setBorderWidths(QMargins(2, 2, 2, 2));
        painter->setPaddings(QMargins(2, 2, 2, 2));
        painter->setBorderColors(
            KelStateColors(kTransparent, hover(), pressed(), color(CL_Accent), kTransparent, kTransparent));
        painter->setColorizeIcon(kind == 1029);
        break;
    case 1031:
        applyButtonStyle(painter, 1021, iconName);
        if (widget)
            widget->setFixedSize(40, 40);
        painter->setRadii(KelRadii(0, metric(1000), 0, 0));
        painter->setMargins(QMargins(1, 1, 1, 1));
        break;
    case 1032: {
        KelStyle::applyButtonStyle(painter, 10, iconName);
        if (widget)
            widget->setFixedSize(20, 20);
        if (button)
            button->setCheckable(true);
        painter->setRadii(KelRadii(4));
        painter->setPaddings(QMargins(8, 0, 8, 0));
        painter->setContentColors(KelStateColors(defaultTextColor()));
        painter->setArrowColors(KelStateColors(defaultTextColor()));
        KelStateColors background(kTransparent, hover(), pressed(), color(1009), hover(), pressed());
        background.unchecked.disabled = kTransparent;
        background.checked.disabled = kTransparent;
        painter->setBackgroundColors(background);
        break;
    }
    case 1039:
        KelStyle::applyButtonStyle(painter, 10, iconName);
        if (widget)
            KelUtils::setSizePolicy(widget, QSizePolicy::MinimumExpanding, QSizePolicy::Ignored);
        painter->setBorderWidths(QMargins(0, 0, 0, 1));
        painter->setBackgroundColors(
            KelStateColors(kTransparent, color(1001), color(1002), color(1002), kTransparent, kTransparent));
        painter->setPenOverlapping(KelPainting::NotOverlapping);
        painter->setBorderColors(KelStateColors(color(1009)));
        if (button) {
            button->setCheckable(true);
            button->setEmitsClickedWhenCheckable(true);
            button->setUncheckByClickBlocked(true);
        }
        break;
    case 1040:
        painter->setRadii(KelRadii(4));
        painter->setPaddings(QMargins(4, 1, 4, 1));
        painter->setContentColors(KelStateColors(defaultTextColor()));
        painter->setBackgroundColors(KelStateColors(colorAt(2, 0.9)));
        break;
    case 1041:
        painter->setRadii(KelRadii(6));
        painter->setBackgroundColors(KelStateColors(color(1008)));
        break;
    case 1076:
        painter->setContentColors(colorSet(1000));
        break;
    case 1077:
        painter->setSpacing(0);
        painter->setIconPosition(Qt::BottomEdge);
        painter->setFont(20, QFont::Normal);
        painter->setContentColors(KelStateColors(color(1006)));
        painter->setColorizeIcon(false);
        break;
    default:
        KelStyle::applyButtonStyle(painter, kind, iconName);
        break;
    }
}

// Side-bar buttons (1034-1036) and tab buttons (1037, 1038); false for any other id.
bool Style::applySideBarOrTabButton(KelButtonPainter* painter, int kind, const QString& iconName) const
{
    QWidget* widget = painter->widget();
    auto* button = dynamic_cast<KelButton*>(painter);
    if (kind >= 1034 && kind <= 1036) {
        KelStyle::applyButtonStyle(painter, 10, iconName);
        painter->setSpacing(12);
        painter->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
        if (widget) {
            widget->setMinimumSize(metric(1002), metric(1004));
            widget->setMaximumSize(metric(1003), metric(1004));
            KelUtils::setSizePolicy(widget, QSizePolicy::MinimumExpanding, QSizePolicy::Fixed);
        }
        painter->setPaddings(QMargins(kind == 1035 ? 10 : 13, 0, 20, 0));
        painter->setContentColors(KelStateColors(defaultTextColor()));
        if (kind == 1034) {
            painter->setBackgroundColors(colorSet(1002));
        } else if (kind == 1035) {
            if (button) {
                button->setCheckable(true);
                button->setUncheckByClickBlocked(true);
            }
            painter->setBackgroundColors(colorSet(1002));
            painter->setBorderColors(colorSet(1001));
            painter->setBorderWidths(QMargins(3, 0, 0, 0));
            painter->setTextOrientation(Qt::Horizontal);
        } else {
            if (button)
                button->setCheckable(true);
            painter->setBackgroundColors(KelStateColors(
                kTransparent, blackAlpha(24), blackAlpha(46), kTransparent, blackAlpha(24), blackAlpha(46)));
            painter->setArrowColors(painter->contentColors());
        }
        return true;
    }
    if (kind == 1037 || kind == 1038) {
        KelStyle::applyButtonStyle(painter, 10, iconName);
        painter->setMargins(QMargins(0, 0, 0, 1));
        painter->setPaddings(QMargins(12, 0, 12, 0));
        if (widget)
            widget->setFixedHeight(kind == 1037 ? 48 : 32);
        const QColor c = isDarkTheme() ? QColor(Qt::white) : QColor(Qt::black);
        const QColor faded = colorWithAlpha(c, 0.6);
        painter->setContentColors(KelStateColors(faded, faded, c, c, c, c));
        painter->setBackgroundColors(kind == 1037
                ? KelStateColors(kTransparent, hover(), pressed(), kTransparent, kTransparent, kTransparent)
                : KelStateColors(kTransparent, hover(), pressed(), pressed(), kTransparent, kTransparent));
        return true;
    }
    return false;
}

void Style::applyLineEditStyle(KelLineEdit* edit, int kind) const
{
    if (!edit)
        return;
    switch (kind) {
    case 1068:
        KelStyle::applyLineEditStyle(edit, 28);
        edit->setBackgroundColors(KelStateColors(colorSet(1002).checked.normal));
        edit->setBorderColors(KelStateColors(color(CL_Accent)));
        edit->setRadii(KelRadii(0));
        edit->setBorderWidths(QMargins(0, 0, 0, 1));
        edit->setPaddings(QMargins());
        KelUtils::setSizePolicy(edit, QSizePolicy::Expanding, QSizePolicy::Fixed);
        edit->setFocusPolicy(Qt::ClickFocus);
        break;
    case 1069: {
        KelStyle::applyLineEditStyle(edit, 28);
        edit->setFixedHeight(32);
        edit->setPaddings(QMargins(8, 0, 8, 0));
        edit->setTextVerticalOffset(-1);
        edit->setIcon(QStringLiteral(":/svg/search.svg"));
        edit->setIconMargins(QMargins(7, 0, 0, 0));
        if (!edit->clearButton())
            edit->addClearButton(true);
        KelStateColors icon = colorSet(5);
        icon.unchecked.normal = color(1005);
        icon.checked.normal = defaultTextColor();
        edit->setIconColors(icon);
        edit->setFocusPolicy(Qt::ClickFocus);
        break;
    }
    default:
        KelStyle::applyLineEditStyle(edit, kind);
        break;
    }
}

void Style::applyPlainTextEditStyle(KelPlainTextEdit* edit, int kind) const
{
    if (!edit)
        return;
    switch (kind) {
    case 33:
    case 34:
        KelStyle::applyPlainTextEditStyle(edit, kind);
        edit->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        edit->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        edit->setPaddings(QMargins(10, 8, 10, 8));
        break;
    case 1070:
        applyPlainTextEditStyle(edit, 34);
        edit->setPaddings(QMargins());
        edit->setBorderWidths(QMargins(0, 0, 0, 1));
        edit->setBorderColors(
            KelStateColors(kTransparent, color(1007), color(1007), color(1007), kTransparent, kTransparent));
        edit->setRadii(KelRadii(0));
        edit->setBackgroundColors(KelStateColors(kTransparent));
        break;
    default:
        KelStyle::applyPlainTextEditStyle(edit, kind);
        break;
    }
}

void Style::applySpinBoxStyle(KelSpinBoxPainter* painter, int kind) const
{
    if (!painter)
        return;
    if (kind != 1071) {
        KelStyle::applySpinBoxStyle(painter, kind);
        return;
    }
    if (auto* spinBox = qobject_cast<QAbstractSpinBox*>(painter->widget()))
        spinBox->setButtonSymbols(QAbstractSpinBox::NoButtons);
    setWidgetForegroundColor(painter->widget(), defaultTextColor());
}

void Style::applySliderHandle(KelSlider* slider, int grooveThickness, int handleSize, int handleBorder) const
{
    slider->setGrooveThickness(grooveThickness, grooveThickness / 2);
    slider->setGrooveColors(color(1008), color(CL_Accent));
    KelButton* handle = slider->positionHandle();
    handle->setBackgroundColors(KelStateColors(color(2)));
    handle->setBorderColors(overlaid(color(CL_Accent), whiteAlpha(30), blackAlpha(24)));
    handle->setRadii(KelRadii(handleSize / 2));
    handle->setBorderWidths(QMargins(handleBorder, handleBorder, handleBorder, handleBorder));
    handle->setFixedSize(handleSize, handleSize);
    if (slider->orientation() == Qt::Horizontal)
        slider->setFixedHeight(handleSize);
    else
        slider->setFixedWidth(handleSize);
}

void Style::applySliderStyle(KelSlider* slider, int kind) const
{
    if (!slider)
        return;
    switch (kind) {
    case 36:
        applySliderHandle(slider, 6, 18, 4);
        break;
    case 1072:
        applySliderStyle(slider, 36);
        slider->setMarkerPosition(1);
        slider->setMarkerColor(kTransparent);
        break;
    case 1073: {
        applySliderHandle(slider, 10, 24, 5);
        KelButton* handle = slider->positionHandle();
        KelStateColors border = handle->borderColors();
        const double fade = opacity(0);
        const QColor groove = colorWithAlpha(color(1008), color(1008).alphaF() * fade);
        const QColor normal = colorWithAlpha(border.unchecked.normal, border.unchecked.normal.alphaF() * fade);
        border.unchecked.disabled = blendColorOver(color(2), blendColorOver(normal, groove));
        handle->setBorderColors(border);
        handle->stateAnimator()->setDisabledDimming(0.0);
        slider->setMarkerPosition(-2);
        slider->setMarkerSize(QSize(2, 16), 1);
        slider->setMarkerColor(defaultTextColor());

        KelButton* tooltip = slider->tooltip();
        tooltip->setPaddings(QMargins(9, 5, 9, 14));
        tooltip->setSubTextSpacing(1);
        tooltip->setBackgroundColors(KelStateColors(color(2)));
        tooltip->setContentColors(KelStateColors(colorWithAlpha(defaultTextColor(), 0.6)));
        tooltip->setSubTextColors(KelStateColors(defaultTextColor()));
        tooltip->setAlignment(Qt::AlignLeft);
        tooltip->KelButtonPainter::setFont(14, QFont::Normal);
        KelGraphicsDropShadowEffect* shadow = ensureDropShadow(tooltip);
        shadow->setColor(color(11));
        shadow->setBlurRadius(28);
        shadow->setOffset(QPointF(0, 4));
        shadow->setSlideParams(Qt::BottomEdge, 8);
        // Hidden tooltips start transparent, so their first show fades in; a shown one stays as it is.
        if (!tooltip->isVisible())
            shadow->setOpacity(0.0);
        tooltip->setAnimationParams(animation(QEasingCurve::OutQuart, 250, QEasingCurve::InQuart, 200));
        break;
    }
    default:
        KelStyle::applySliderStyle(slider, kind);
        break;
    }
}

void Style::applyProgressBarStyle(KelProgressBar* progressBar, int kind) const
{
    auto* bar = qobject_cast<ProgressBar*>(progressBar);
    if (!bar) {
        KelStyle::applyProgressBarStyle(progressBar, kind);
        return;
    }
    switch (kind) {
    case 37:
        bar->setTextVisible(false);
        bar->setLabelVisible(false);
        bar->setFixedHeight(10);
        bar->setRadius(5);
        bar->setBackgroundColor(color(1008));
        bar->setProgressColor(color(CL_Accent));
        bar->setDisabledColor(color(1006));
        break;
    case 1074:
    case 1075:
        bar->setTextVisible(false);
        bar->setLabelVisible(true);
        bar->setFixedHeight(kind == 1074 ? 16 : 20);
        bar->setRadius(kind == 1074 ? 8 : 4);
        bar->setBackgroundColor(color(1038));
        bar->setProgressColor(color(1039));
        bar->setProgressEndColor(color(1040));
        break;
    default:
        break;
    }
    bar->update();
}

void Style::applyScrollAreaStyle(KelScrollArea* area, int kind) const
{
    KelStyle::applyScrollAreaStyle(area, kind);
    if (!area || kind != 38)
        return;
    area->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    installScrollBars(area, 0);
}

void Style::applyLinearShadowStyle(KelLinearShadowWidget* shadow, int kind) const
{
    if (!shadow)
        return;
    if (kind != 41) {
        KelStyle::applyLinearShadowStyle(shadow, kind);
        return;
    }
    shadow->setShadowSize(metric(1));
    shadow->setShadowColor(color(1012));
}
