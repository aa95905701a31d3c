#include "styles/kelstylemanager.h"

#include "eventfilters/kelqmenustyler.h"
#include "kelapplication.h"
#include "kelsettings.h"
#include "kelui.h"
#include "painting/kelframepainter.h"
#include "styles/kelqproxystyle.h"
#include "styles/kelstyle.h"
#include "styles/kelstyleable.h"
#include "utils/kelgeometryutils.h"
#include "widgets/kelspinboxpainter.h"

#include <QApplication>
#include <QDebug>
#include <QPointer>
#include <QScrollerProperties>
#include <QVector>

#include <algorithm>

namespace {

// The first live manager. It answers instance() without asking KelUi, so a style query made while
// the UI object is still being built cannot make a second one.
QPointer<KelStyleManager> g_instance;

const int kApplicationFontMetric = 35;

KelSettings* applicationSettings()
{
    KelApplication* app = KelApplication::instance();
    return app ? app->settings() : nullptr;
}

void setLookDefaults()
{
    if (qobject_cast<QApplication*>(QCoreApplication::instance()))
        QApplication::setStyle(new KelQProxyStyle(QApplication::style()));
    // Widgets that paint their own frame get no native focus rectangle or edit panel.
    KelQProxyStyle::setFramePainterTest(
        [](const QWidget* widget) { return dynamic_cast<const KelFramePainter*>(widget) != nullptr; });
    // Spin boxes draw their own arrows: no native button bevel under them.
    KelQProxyStyle::setSpinBoxPainterTest(
        [](const QWidget* widget) { return dynamic_cast<const KelSpinBoxPainter*>(widget) != nullptr; });
    QApplication::setEffectEnabled(Qt::UI_AnimateCombo, false);
    QApplication::setEffectEnabled(Qt::UI_AnimateTooltip, false);
    QApplication::setEffectEnabled(Qt::UI_FadeTooltip, true);

    qRegisterMetaType<QScrollerProperties::OvershootPolicy>("QScrollerProperties::OvershootPolicy");
    QScrollerProperties properties;
    const QVariant off = QVariant::fromValue(QScrollerProperties::OvershootAlwaysOff);
    properties.setScrollMetric(QScrollerProperties::HorizontalOvershootPolicy, off);
    properties.setScrollMetric(QScrollerProperties::VerticalOvershootPolicy, off);
    QScrollerProperties::setDefaultScrollerProperties(properties);

    // Menus made by Qt itself (context menus of text fields) take the current style's sheet.
    KelQMenuStyler::setStyleSheetApplier(
        [](QWidget* widget, int widgetType) { kelStyle()->applyStyleSheet(widget, widgetType); });
}

} // namespace

class KelStyleManager::Private {
public:
    QList<QPointer<KelStyle>> styles;
    QPointer<KelStyle> current;
    QPointer<KelStyle> fallback;
    QVector<KelStyleable*> styleables;
    // The copies that restyle walks are going through, innermost last. An object destroyed during
    // a walk is blanked out in them.
    QVector<QVector<KelStyleable*>*> walks;
};

KelStyleManager::KelStyleManager(QObject* parent)
    : QObject(parent)
    , d(new Private)
{
    if (!g_instance)
        g_instance = this;
    setLookDefaults();
    qInfo() << "Init StyleManager done";
}

KelStyleManager::~KelStyleManager() { delete d; }

KelStyleManager* KelStyleManager::instance()
{
    if (g_instance)
        return g_instance;
    KelUi* ui = KelUi::instance();
    return ui ? ui->styleManager() : nullptr;
}

void KelStyleManager::addStyle(KelStyle* style)
{
    if (style)
        d->styles.append(style);
}

QList<KelStyle*> KelStyleManager::styles() const
{
    QList<KelStyle*> live;
    for (const QPointer<KelStyle>& style : d->styles) {
        if (style)
            live.append(style);
    }
    return live;
}

KelStyle* KelStyleManager::currentStyle()
{
    if (!d->current) {
        if (!d->fallback)
            d->fallback = new KelStyle(this);
        d->current = d->fallback;
    }
    return d->current;
}

KelStyle* KelStyleManager::findStyle(const QString& id) const
{
    for (KelStyle* style : styles()) {
        if (style->id() == id)
            return style;
    }
    return nullptr;
}

bool KelStyleManager::setCurrentStyle(const QString& id)
{
    KelStyle* style = findStyle(id);
    if (!style) {
        qWarning() << "Can't find style" << id;
        return false;
    }
    if (d->current == style)
        return true;
    if (KelSettings* settings = applicationSettings())
        settings->setLastStyleId(style->id());
    qInfo() << "Set current style:" << id;
    d->current = style;

    const QFont font
        = KelUtils::makeFont(style->metric(kApplicationFontMetric), QFont::Normal, KelStyle::interfaceFontFamily());
    QApplication::setFont(font);
    qInfo() << "Default app font was changed to" << font;

    restyleAll();
    return true;
}

bool KelStyleManager::restoreLastStyle(const QString& defaultId)
{
    KelSettings* settings = applicationSettings();
    QString id = settings ? settings->lastStyleId() : QString();
    if (id.isEmpty() || !findStyle(id))
        id = defaultId;
    return setCurrentStyle(id);
}

void KelStyleManager::registerStyleable(KelStyleable* styleable)
{
    if (styleable)
        d->styleables.append(styleable);
}

void KelStyleManager::unregisterStyleable(KelStyleable* styleable)
{
    const int index = d->styleables.indexOf(styleable);
    if (index < 0)
        return;
    d->styleables.remove(index);
    if (d->walks.isEmpty() || d->styleables.contains(styleable))
        return;
    for (QVector<KelStyleable*>* walk : qAsConst(d->walks))
        std::replace(walk->begin(), walk->end(), styleable, static_cast<KelStyleable*>(nullptr));
}

QList<KelStyleable*> KelStyleManager::styleables() const { return d->styleables.toList(); }

void KelStyleManager::restyleAll()
{
    // Objects made by an applyStyle during the walk are registered but not restyled in it.
    QVector<KelStyleable*> walk = d->styleables;
    QPointer<KelStyleManager> self(this);
    d->walks.append(&walk);
    for (int i = 0; i < walk.size(); ++i) {
        if (KelStyleable* styleable = walk.at(i))
            styleable->applyStyle();
        if (!self)
            return;
    }
    d->walks.removeLast();
}
