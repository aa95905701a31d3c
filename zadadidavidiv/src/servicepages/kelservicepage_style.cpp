#include "kelservicepage_style.h"

#include "styles/kelcolors.h"
#include "styles/kelstatecolors.h"
#include "styles/kelstyle.h"
#include "widgets/kelbutton.h"
#include "widgets/keliconlabel.h"
#include "widgets/kellabel.h"

#include <QGridLayout>
#include <QSpacerItem>

namespace {
// The window background among the style's colour roles.
constexpr int WindowColorRole = 2;
} // namespace

KelServicePage_Style::KelServicePage_Style(KelStyle* style, QWidget* parent)
    : KelServicePage(parent)
    , style(style)
{
    setObjectName(QStringLiteral("Style"));
}

KelServicePage_Style::~KelServicePage_Style() = default;

void KelServicePage_Style::buildPage()
{
    setWidgetBackgroundColor(this, style->color(WindowColorRole));
    addTextColors();
    addFillColors();
    addCustomSection();
    addWidgetSamples();
}

QSpacerItem* KelServicePage_Style::createSpacer()
{
    return new QSpacerItem(0, 8, QSizePolicy::Fixed, QSizePolicy::Fixed);
}

KelButton* KelServicePage_Style::createButton(int widgetType, const QString& text, const QString& iconName)
{
    auto* button = new KelButton(widgetType);
    style->applyButtonStyle(button, widgetType, iconName);
    button->setText(text);
    return button;
}

KelLabel* KelServicePage_Style::createLabel(const QString& text)
{
    auto* label = new KelLabel(7);
    label->setText(text);
    style->applyLabelStyle(label, 26);
    return label;
}

KelLabel* KelServicePage_Style::createColorLabel(const QString& text, const QColor& color)
{
    auto* label = new KelLabel(7);
    label->setAlignment(Qt::AlignTop);
    label->setContentsMargins(8, 4, 8, 4);
    label->setText(text);
    setWidgetForegroundColor(label, color.isValid() ? color : style->defaultTextColor());
    return label;
}

KelLabel* KelServicePage_Style::createColorNameLabel(const QString& text, const QColor& color)
{
    return createColorLabel(text + QLatin1Char('(') + color.name() + QLatin1Char(')'), color);
}

KelIconLabel* KelServicePage_Style::createColorSwatch(
    const QString& text, const KelStateColors& background, const KelStateColors& content)
{
    auto* swatch = new KelIconLabel(static_cast<QWidget*>(nullptr));
    swatch->setText(text);
    swatch->setBackgroundColors(background);
    swatch->setContentColors(content);
    swatch->setPaddings(QMargins(8, 4, 8, 4));
    swatch->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    return swatch;
}

void KelServicePage_Style::addOverlayColorsRow(QGridLayout* grid, const QString& text, const QColor& color)
{
    const QColor base = blendColorOver(style->color(WindowColorRole), color);
    auto over = [&base](const QColor& overlay) { return blendColorOver(base, overlay); };
    const QColor lightest = over(QColor(255, 255, 255, 60));
    const QColor lighter = over(QColor(255, 255, 255, 30));
    const QColor darker = over(QColor(0, 0, 0, 24));
    const QColor darkest = over(QColor(0, 0, 0, 46));
    const QColor hover = over(style->hoverOverlayColor(base));
    const QColor pressed = over(style->pressedOverlayColor(base));
    const QColor textColor = style->textColorFor(base);

    const int row = grid->rowCount();
    grid->setHorizontalSpacing(0);
    grid->setVerticalSpacing(0);
    auto gap = [] { return new QSpacerItem(8, 0, QSizePolicy::Fixed, QSizePolicy::Fixed); };
    grid->addWidget(createColorSwatch(text, color, textColor), row, 0);
    grid->addItem(gap(), row, 1);
    const QList<QPair<QString, QColor>> overlays = {
        { QStringLiteral("LightestOverlay"), lightest },
        { QStringLiteral("LighterOverlay"), lighter },
        { QStringLiteral("DarkerOverlay"), darker },
        { QStringLiteral("DarkestOverlay"), darkest },
        { QStringLiteral("HoverOverlay"), hover },
        { QStringLiteral("PressedOverlay"), pressed },
    };
    int column = 2;
    for (const auto& overlay : overlays) {
        if (column == 6)
            grid->addItem(gap(), row, column++);
        grid->addWidget(createColorSwatch(overlay.first, overlay.second, textColor), row, column++);
    }
    grid->addItem(new QSpacerItem(0, 0, QSizePolicy::Expanding, QSizePolicy::Fixed), row, column);
}

void KelServicePage_Style::addTextColors() { }

void KelServicePage_Style::addFillColors() { }

void KelServicePage_Style::addCustomSection() { }

void KelServicePage_Style::addWidgetSamples() { }
