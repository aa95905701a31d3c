// zuvezedoda: the reader's page-counting helper. Started by the reader with the name of its
// local server as the only argument, it connects, lays every chapter of the open book out with
// the reading engine in a windowless web page and answers with the book's page numbers. It ends
// when the reader sends the stop message or the connection closes.
#include "helperconnection.h"
#include "pagecounter.h"

#include <QApplication>
#include <QFileInfo>
#include <QThread>
#include <QtDebug>

#include <unistd.h>

namespace {
constexpr int kConnectTimeoutMs = 30000;

// For tests of a helper that connects late: with this variable set to a file's path, the helper
// connects only once that file exists. It gives up when the reader that started it is gone;
// otherwise the reader's connect time-out ends it.
constexpr const char* kConnectGateVariable = "PL_PAGECOUNTER_CONNECT_GATE";

bool waitForConnectGate()
{
    const QString gate = qEnvironmentVariable(kConnectGateVariable);
    if (gate.isEmpty())
        return true;
    qInfo().noquote() << "Waiting for" << gate << "before connecting";
    const pid_t parent = ::getppid();
    while (!QFileInfo::exists(gate)) {
        if (::getppid() != parent) {
            qCritical() << "The reader went away before the helper connected";
            return false;
        }
        QThread::msleep(20);
    }
    return true;
}
} // namespace

int main(int argc, char** argv)
{
    // Never a window: without a display named for it, the helper draws off screen.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    qSetMessagePattern(QStringLiteral("zuvezedoda[%{pid}] %{type}: %{message}"));
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);

    const QStringList arguments = QCoreApplication::arguments();
    if (arguments.size() != 2 || arguments.at(1).isEmpty()) {
        qCritical("usage: zuvezedoda <server name>");
        return 1;
    }
    if (!waitForConnectGate())
        return 1;
    HelperConnection connection;
    if (!connection.connectTo(arguments.at(1), kConnectTimeoutMs))
        return 1;
    PageCounter counter(&connection);
    QObject::connect(&connection, &HelperConnection::messageReceived, &counter, &PageCounter::onMessage);
    QObject::connect(
        &connection, &HelperConnection::closed, &app, [](int exitCode) { QCoreApplication::exit(exitCode); });
    return app.exec();
}
