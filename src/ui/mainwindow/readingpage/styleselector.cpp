#include "styleselector.h"

#include "kelapplication.h"
#include "kelsettings.h"
#include "metrics/metricsender.h"
#include "styles/kelstyle.h"
#include "styles/kelstylemanager.h"
#include "widgets/kelbutton.h"
#include "widgets/kelexclusivebuttongroup.h"

namespace {

QString profileMetricValue(const QString& id)
{
    if (id == QLatin1String("DayStyle"))
        return QStringLiteral("1");
    if (id == QLatin1String("NightStyle"))
        return QStringLiteral("2");
    if (id == QLatin1String("SepiaStyle"))
        return QStringLiteral("3");
    return QString();
}

// A theme's swatch shows the theme's own colours: the group's buttons tint their icons with the
// text colour, which made every swatch but the checked one a black disc.
class SwatchButton : public KelButton {
public:
    explicit SwatchButton(const QString& iconName)
        : KelButton(LabeledButtonGroup::buttonStyle(), iconName, nullptr, true)
    {
        applyStyle();
    }
    void applyStyle() override
    {
        KelButton::applyStyle();
        setColorizeIcon(false);
    }
};

} // namespace

StyleSelector::StyleSelector(QWidget* parent)
    : LabeledButtonGroup(parent)
{
    setObjectName(QStringLiteral("StyleSelector"));
    KelStyleManager* manager = KelStyleManager::instance();
    for (KelStyle* style : manager->styles())
        addButton(style->id(), new SwatchButton(style->styleIconPath()));
    if (KelStyle* current = manager->currentStyle())
        buttonGroup()->setCheckedByUserDataSilently(current->id());

    QObject::connect(buttonGroup(), &KelExclusiveButtonGroup::toggled, this, [this] {
        if (!buttonGroup()->checkedButton())
            return;
        const QString id = buttonGroup()->checkedUserData().toString();
        KelStyleManager* manager = KelStyleManager::instance();
        KelStyle* current = manager->currentStyle();
        if (!current || current->id() != id) {
            const QString value = profileMetricValue(id);
            if (!value.isEmpty())
                MetricSender::addMetric(QStringLiteral("chprof"), value, QString());
        }
        manager->setCurrentStyle(id);
    });
    if (KelApplication* app = KelApplication::instance(); app && app->settings()) {
        QObject::connect(
            app->settings(), &KelSettings::lastStyleIdChanged, this,
            [this](const QString& id) { buttonGroup()->setCheckedByUserDataSilently(id); }, Qt::DirectConnection);
    }
}

void StyleSelector::translateUi()
{
    for (KelStyle* style : KelStyleManager::instance()->styles()) {
        if (KelButton* button = buttonGroup()->button(style->id()))
            button->setText(style->title());
    }
}
