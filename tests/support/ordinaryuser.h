#pragma once

#include <QCoreApplication>
#include <QDir>
#include <QProcess>
#include <QRegularExpression>
#include <QString>
#include <QTest>

#include <grp.h>
#include <unistd.h>

// Root writes through file modes, so a test of a read-only place passes as root whatever the code
// does. Run as root, runAsOrdinaryUser() runs the current test function's current row again in a
// child process of this test under an unprivileged user (nobody) and says whether it passed there;
// the output goes to output. Run as any other user it is not needed and passes at once.
namespace ordinaryuser {

const uint kNobody = 65534;

class DroppedProcess : public QProcess {
protected:
    void setupChildProcess() override
    {
        // Between fork and exec: only system calls. A failure ends the child before the test runs.
        if (::setgroups(0, nullptr) != 0 || ::setgid(kNobody) != 0 || ::setuid(kNobody) != 0)
            ::_exit(126);
    }
};

inline bool runAsOrdinaryUser(QString* output)
{
    if (::geteuid() != 0)
        return true;
    const QString function = QString::fromLatin1(QTest::currentTestFunction());
    const QString row = QString::fromLatin1(QTest::currentDataTag());
    DroppedProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    // The test's own HOME belongs to root; the child makes its own.
    env.insert(QStringLiteral("HOME"), QDir::tempPath());
    env.remove(QStringLiteral("XDG_RUNTIME_DIR"));
    child.setProcessEnvironment(env);
    child.setWorkingDirectory(QDir::tempPath());
    child.setProcessChannelMode(QProcess::MergedChannels);
    child.start(
        QCoreApplication::applicationFilePath(), { row.isEmpty() ? function : function + QLatin1Char(':') + row });
    const bool ended = child.waitForFinished(120000);
    *output = QString::fromLocal8Bit(child.readAll());
    // A skip exits with 0 too.
    const QRegularExpression passed(QStringLiteral("^PASS +: \\w+::%1\\(%2\\)$")
                                        .arg(QRegularExpression::escape(function), QRegularExpression::escape(row)),
        QRegularExpression::MultilineOption);
    return ended && child.exitStatus() == QProcess::NormalExit && child.exitCode() == 0
        && passed.match(*output).hasMatch();
}

} // namespace ordinaryuser
