#pragma once

#include "../app-look/applooktest.h"

#include "settingsprovider.h"

#include <QDir>

// The application's look and settings as the program installs them, in the test's own home.
class ReadingEnvironment {
public:
    ReadingEnvironment()
    {
        auto* settings
            = new SettingsProvider(QDir::home().filePath(QStringLiteral("settings.ini")), QSettings::IniFormat, qApp);
        KelApplication::instance()->setSettings(settings);
    }
    Profiles profiles;
};
