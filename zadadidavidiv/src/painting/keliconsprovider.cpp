#include "painting/keliconsprovider.h"

#include "kelapplication.h"
#include "painting/kelqicon.h"
#include "painting/kelsvgicon.h"

#include <QDebug>
#include <QFile>
#include <QSet>

KelIconsProvider::KelIconsProvider(QObject* parent)
    : QObject(parent)
{
}

KelIconsProvider::~KelIconsProvider()
{
    // One icon may sit in more than one of these places; each is deleted once.
    QSet<KelIcon*> owned(m_retired.cbegin(), m_retired.cend());
    for (KelIcon* icon : qAsConst(m_icons))
        owned.insert(icon);
    if (m_nullIcon)
        owned.insert(m_nullIcon);
    qDeleteAll(owned);
}

KelIconsProvider* KelIconsProvider::instance()
{
    KelApplication* app = KelApplication::instance();
    return app ? app->iconsProvider() : nullptr;
}

KelIcon* KelIconsProvider::icon(const QString& nameOrPath)
{
    if (KelIcon* known = m_icons.value(nameOrPath))
        return known;
    if (QFile::exists(nameOrPath)) {
        KelIcon* loaded = nameOrPath.endsWith(QLatin1String(".svg"), Qt::CaseInsensitive)
            ? static_cast<KelIcon*>(new KelSvgIcon(nameOrPath))
            : static_cast<KelIcon*>(new KelQIcon(nameOrPath));
        // A failed load sits under the empty name, so the next request for the path tries again.
        if (KelIcon* previous = m_icons.value(loaded->name()))
            retire(previous);
        m_icons.insert(loaded->name(), loaded);
        return loaded;
    }
    if (!m_nullIcon)
        m_nullIcon = new KelNullIcon;
    return m_nullIcon;
}

KelIcon* KelIconsProvider::icon(const char* nameOrPath) { return icon(QString::fromUtf8(nameOrPath)); }

void KelIconsProvider::registerIcon(KelIcon* icon)
{
    if (!icon) {
        qWarning("Trying to register null icon");
        return;
    }
    KelIcon* present = m_icons.value(icon->name());
    if (present) {
        qWarning().noquote() << icon->name() << "is already registered in IconsProvider";
        if (present != icon)
            retire(icon);
        return;
    }
    m_icons.insert(icon->name(), icon);
}

void KelIconsProvider::retire(KelIcon* icon)
{
    if (!m_retired.contains(icon))
        m_retired.append(icon);
}

KelIcon* kelIconByName(const char* nameOrPath)
{
    KelIconsProvider* provider = KelIconsProvider::instance();
    if (!provider) {
        qWarning() << "No icons provider for icon" << nameOrPath;
        return nullptr;
    }
    return provider->icon(nameOrPath);
}
