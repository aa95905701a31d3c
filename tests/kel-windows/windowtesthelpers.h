#pragma once

#include "kelapplication.h"
#include "kelsettings.h"

#include <memory>

// Settings in the temporary home, handed to the running application.
inline std::unique_ptr<KelSettings> installTestSettings()
{
    auto settings = std::make_unique<KelSettings>(
        KelApplication::configFilePath(QStringLiteral("settings.ini")), QSettings::IniFormat);
    KelApplication::instance()->setSettings(settings.get());
    return settings;
}
