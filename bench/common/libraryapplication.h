#pragma once

#include "application.h"
#include "mainwindow/mainwindow.h"
#include "settingsprovider.h"
#include "temphome.h"
#include "ui.h"

#include <QCoreApplication>
#include <QTest>
#include <QUuid>

// The real application in a temporary HOME, offscreen, its main window shown at 1280 x 900 on the
// library: every box is answered with its first button and counted in answers.
class LibraryApplication {
public:
    LibraryApplication(const char* name, int& argc, char** argv)
        : m_setup(name)
        , m_app(QUuid::createUuid().toString(), argc, argv)
    {
        registerSettingsMetaTypes();
        m_app.setSettings(new SettingsProvider(
            KelApplication::configFilePath(QStringLiteral("settings.ini")), QSettings::IniFormat, &m_app));
        Ui::instance()->setMessageBoxHandler([this](KelMessageBoxRequest&) {
            ++answers;
            return 1;
        });
        m_app.init();
        window = qobject_cast<MainWindow*>(Ui::instance()->mainWindow());
        window->resize(1280, 900);
        window->show();
        (void)QTest::qWaitForWindowExposed(window);
        QCoreApplication::processEvents();
    }

    Application& app() { return m_app; }
    QString path() const { return m_home.path(); }

    MainWindow* window = nullptr;
    int answers = 0;

private:
    // What the application reads as it is made.
    struct Setup {
        explicit Setup(const char* name)
        {
            qputenv("QT_QPA_PLATFORM", "offscreen");
            QCoreApplication::setApplicationName(QLatin1String(name));
        }
    };

    TempHome m_home;
    Setup m_setup;
    Application m_app;
};
