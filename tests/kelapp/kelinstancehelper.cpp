// One start of the toolkit application for the single-instance tests.
//   kelinstancehelper <id> primary <count>      serve; print each message; quit after count (0: never)
//   kelinstancehelper <id> send <timeoutMs> <argument>...   hand the arguments, joined with "|", over
// Exit code 0 when it served or handed over, 1 when the hand-over failed, 2 when another instance runs.
#include "kelapplication.h"

#include <QTextStream>
#include <QTimer>
#include <QWidget>

namespace {
QTextStream out(stdout);

int serve(KelApplication& app, int expected)
{
    if (app.isRunning()) {
        out << "CLIENT" << Qt::endl;
        return 2;
    }
    QWidget window;
    window.showMinimized();
    app.setActivationWindow(&window);
    int received = 0;
    QObject::connect(&app, &KelSingleApplication::messageReceived, &app, [&](const QString& message) {
        out << "MSG " << message << Qt::endl;
        out << "WIN minimized=" << int(window.windowState().testFlag(Qt::WindowMinimized))
            << " visible=" << int(window.isVisible()) << Qt::endl;
        if (++received == expected)
            QTimer::singleShot(0, &app, &QCoreApplication::quit);
    });
    out << "READY" << Qt::endl;
    return app.exec();
}
}

int main(int argc, char** argv)
{
    if (argc < 4)
        return 64;
    const QString id = QString::fromLocal8Bit(argv[1]);
    KelApplication app(id, argc, argv);
    const QStringList args = app.arguments();
    const QString mode = args.value(2);
    if (mode == QLatin1String("primary"))
        return serve(app, args.value(3).toInt());

    if (mode != QLatin1String("send"))
        return 64;
    if (app.sendMessage(args.mid(4).join(QLatin1Char('|')), args.value(3).toInt())) {
        out << "SENT" << Qt::endl;
        return 0;
    }
    // A failed hand-over leaves this start as the running instance when the lock was free.
    out << "NOTSENT primary=" << int(!app.isRunning()) << Qt::endl;
    return 1;
}
