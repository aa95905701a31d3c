#pragma once

#include "temphome.h"
#include "windows/kelwindow.h"

#include <QCoreApplication>
#include <QTest>
#include <QUuid>
#include <QWidget>

// Runs one test class inside an application object of type App, with a temporary HOME that is
// set before anything asks for the user's folders (QSettings keeps them once looked up) and a
// single-instance group of its own.
template <typename App, typename Test> int runKelAppTest(int argc, char** argv, const QString& applicationName)
{
    TempHome home;
    QCoreApplication::setOrganizationName(QStringLiteral("Kel Test Org"));
    QCoreApplication::setApplicationName(applicationName);
    App app(QUuid::createUuid().toString(), argc, argv);
    Test test;
    return QTest::qExec(&test, argc, argv);
}
