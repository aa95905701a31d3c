#pragma once

#include "kelapplication.h"
#include "settingsprovider.h"
#include "temphome.h"

#include <QTest>
#include <QUuid>

// Runs one test class in an application with a settings file of its own in a temporary home.
template <typename Test> int runReadingTest(int argc, char** argv)
{
    TempHome home;
    KelApplication app(QUuid::createUuid().toString(), argc, argv);
    SettingsProvider settings(KelApplication::configFilePath(QStringLiteral("settings.ini")), QSettings::IniFormat);
    app.setSettings(&settings);
    int result = 0;
    {
        Test test;
        result = QTest::qExec(&test, argc, argv);
    }
    app.setSettings(nullptr);
    return result;
}
