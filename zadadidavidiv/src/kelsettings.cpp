#include "kelsettings.h"

#include "kelapplication.h"

#include <QDebug>
#include <QLocale>
#include <QStandardPaths>

namespace {
const QString kFirstRun = QStringLiteral("FirstRun");
const QString kLocaleName = QStringLiteral("localeName");
const QString kUpdateCheckerEnabled = QStringLiteral("updateCheckerEnabled");
const QString kRegisterAsDefaultApp = QStringLiteral("registerAsDefaultApp");
const QString kLastScreen = QStringLiteral("lastScreen");
const QString kLastOpenFilePath = QStringLiteral("lastOpenFilePath");
const QString kLastStyleId = QStringLiteral("lastStyleId");

QString defaultOpenFilePath()
{
    const QStringList desktops = QStandardPaths::standardLocations(QStandardPaths::DesktopLocation);
    return desktops.isEmpty() ? QString() : desktops.first();
}

// Assigns value to member and emits through signal only when they differ.
template <typename T, typename Signal>
void assignAndNotify(KelSettings* settings, T& member, const T& value, Signal signal)
{
    if (member == value)
        return;
    member = value;
    emit(settings->*signal)(value);
}
}

KelSettings::KelSettings(const QString& fileName, QSettings::Format format, QObject* parent)
    : QSettings(fileName, format, parent)
    , m_localeName(defaultLocaleName())
{
    KelApplication* app = KelApplication::instance();
    if (!app)
        return;
    app->setFirstRun(typedValue(kFirstRun, true).toBool());
    connect(this, &KelSettings::localeNameChanged, app, &KelApplication::applyLocale);
}

KelSettings::~KelSettings()
{
    if (!m_leaveFile)
        storeIfChanged(kFirstRun, false);
}

QString KelSettings::defaultLocaleName() { return QLocale::system().name(); }

void KelSettings::readSettings()
{
    setLocaleName(typedValue(kLocaleName, defaultLocaleName()).toString());
    setUpdateCheckerEnabled(typedValue(kUpdateCheckerEnabled, true).toBool());
    setRegisterAsDefaultApp(typedValue(kRegisterAsDefaultApp, true).toBool());
}

void KelSettings::writeSettings()
{
    setRootValue(kLocaleName, m_localeName);
    setRootValue(kUpdateCheckerEnabled, m_updateCheckerEnabled);
    setRootValue(kRegisterAsDefaultApp, m_registerAsDefaultApp);
}

void KelSettings::setLocaleName(const QString& value)
{
    assignAndNotify(this, m_localeName, value, &KelSettings::localeNameChanged);
}

void KelSettings::setUpdateCheckerEnabled(bool value)
{
    assignAndNotify(this, m_updateCheckerEnabled, value, &KelSettings::updateCheckerEnabledChanged);
}

void KelSettings::setRegisterAsDefaultApp(bool value)
{
    assignAndNotify(this, m_registerAsDefaultApp, value, &KelSettings::registerAsDefaultAppChanged);
}

int KelSettings::lastScreen() { return typedValue(kLastScreen, 0).toInt(); }

void KelSettings::setLastScreen(int screen)
{
    if (storeIfChanged(kLastScreen, screen))
        emit lastScreenChanged(screen);
}

QString KelSettings::lastOpenFilePath() { return typedValue(kLastOpenFilePath, defaultOpenFilePath()).toString(); }

void KelSettings::setLastOpenFilePath(const QString& path)
{
    if (storeIfChanged(kLastOpenFilePath, path))
        emit lastOpenFilePathChanged(path);
}

QString KelSettings::lastStyleId() { return typedValue(kLastStyleId, QString()).toString(); }

void KelSettings::setLastStyleId(const QString& id)
{
    if (storeIfChanged(kLastStyleId, id))
        emit lastStyleIdChanged(id);
}

template <typename F> auto KelSettings::inRootGroup(F access)
{
    if (group().isEmpty())
        return access(static_cast<QSettings&>(*this));
    // Another part of the program has a group open: reach the root through a second object on
    // the same file, which shares this object's unsaved values.
    QSettings root(fileName(), format());
    return access(root);
}

QVariant KelSettings::typedValue(const QString& key, const QVariant& defaultValue)
{
    QVariant stored = inRootGroup([&](QSettings& s) { return s.value(key, defaultValue); });
    const int type = defaultValue.userType();
    if (!stored.canConvert(type))
        return defaultValue;
    if (!stored.convert(type))
        return QVariant(type, nullptr);
    return stored;
}

void KelSettings::setRootValue(const QString& key, const QVariant& value)
{
    inRootGroup([&](QSettings& s) {
        s.setValue(key, value);
        return true;
    });
}

bool KelSettings::storeIfChanged(const QString& key, const QVariant& value)
{
    return inRootGroup([&](QSettings& s) {
        const bool changed = !s.contains(key) || s.value(key) != value;
        if (changed)
            s.setValue(key, value);
        return changed;
    });
}
