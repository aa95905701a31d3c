#pragma once

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QSet>
#include <QString>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>
#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

// Root writes through file modes, so a test of a read-only place passes as root whatever the code
// does. Run as root, runAsOrdinaryUser() runs the current test function's current row again in a
// child process of this test under an unprivileged user (nobody) and says whether it passed there;
// the output goes to output. Run as any other user it is not needed and passes at once.
//
// The child runs from a copy of the test in a folder of nobody's own, since the build tree may lie
// in a folder nobody cannot enter (a private temporary folder, root's home). Where no such copy can
// be made, the row is marked skipped with the reason and goes on as root: it still fails if it
// fails there.
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

// Whether the mode of the path grants nobody the permission bits (given as those of others), read
// from the class nobody falls in there: owner, group or others. Access lists are not looked at.
inline bool grants(const QString& path, mode_t others)
{
    struct stat info;
    if (::stat(QFile::encodeName(path).constData(), &info) != 0)
        return false;
    const int shift = info.st_uid == kNobody ? 6 : info.st_gid == kNobody ? 3 : 0;
    return ((info.st_mode >> shift) & others) == others;
}

// Whether nobody can pass every folder on the way to the path and use it as the bits say.
inline bool canReach(const QString& path, mode_t others)
{
    const QString real = QFileInfo(path).canonicalFilePath();
    if (real.isEmpty() || !grants(QStringLiteral("/"), S_IXOTH))
        return false;
    const QStringList parts = real.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    QString at;
    for (int i = 0; i < parts.size(); ++i) {
        at += QLatin1Char('/') + parts.at(i);
        if (!grants(at, i + 1 < parts.size() ? S_IXOTH : others))
            return false;
    }
    return true;
}

// The copy of this test that nobody runs, with the shared libraries it loaded from places nobody
// cannot reach (the build tree's own); made once per run, removed at its end.
struct Copy {
    QString folder; // nobody's, also its HOME and temporary folder
    QString executable;
    QString libraries;
    QString failure; // why no copy could be made, empty when one was
};

// The shared libraries this test has loaded from places nobody cannot reach (a build tree's own);
// the system's it reaches.
inline QSet<QString> unreachableLibraries()
{
    QSet<QString> libraries;
    QFile maps(QStringLiteral("/proc/self/maps"));
    if (!maps.open(QIODevice::ReadOnly))
        return libraries;
    for (const QByteArray& line : maps.readAll().split('\n')) {
        const int slash = line.indexOf('/');
        const QString path = QFile::decodeName(line.mid(slash).trimmed());
        if (slash > 0 && path.contains(QLatin1String(".so")) && QFileInfo(path).isFile() && !canReach(path, S_IROTH))
            libraries.insert(path);
    }
    return libraries;
}

inline Copy makeCopy(const QTemporaryDir& dir)
{
    const auto failed = [](const QString& why) { return Copy { {}, {}, {}, why }; };
    if (!dir.isValid())
        return failed(QStringLiteral("no temporary folder: ") + dir.errorString());
    if (!canReach(QFileInfo(dir.path()).path(), S_IXOTH))
        return failed(QStringLiteral("the temporary folder %1 is closed to it").arg(QDir::tempPath()));
    if (::chown(QFile::encodeName(dir.path()).constData(), kNobody, kNobody) != 0)
        return failed(QStringLiteral("%1 cannot be given to it: %2").arg(dir.path(), qt_error_string(errno)));
    const QFile::Permissions runnable = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadGroup
        | QFile::ExeGroup | QFile::ReadOther | QFile::ExeOther;
    const auto copied = [&runnable](const QString& from, const QString& to) {
        return QFile::copy(from, to) && QFile::setPermissions(to, runnable);
    };
    const QString self = QCoreApplication::applicationFilePath();
    const Copy copy { dir.path(), dir.filePath(QFileInfo(self).fileName()), dir.filePath(QStringLiteral("lib")), {} };
    if (!copied(self, copy.executable) || !QDir().mkpath(copy.libraries))
        return failed(QStringLiteral("the test cannot be copied to %1").arg(dir.path()));
    for (const QString& library : unreachableLibraries()) {
        if (!copied(library, QDir(copy.libraries).filePath(QFileInfo(library).fileName())))
            return failed(QStringLiteral("%1 cannot be copied to %2").arg(library, copy.libraries));
    }
    return copy;
}

inline bool runAsOrdinaryUser(QString* output)
{
    if (::geteuid() != 0)
        return true;
    static const QTemporaryDir dir(QDir::tempPath() + QStringLiteral("/pl-ordinary-XXXXXX"));
    static const Copy copy = makeCopy(dir);
    if (!copy.failure.isEmpty()) {
        *output = QStringLiteral("not run as an ordinary user: ") + copy.failure;
        QTest::qSkip(qPrintable(*output), __FILE__, __LINE__);
        return true;
    }
    const QString function = QString::fromLatin1(QTest::currentTestFunction());
    const QString row = QString::fromLatin1(QTest::currentDataTag());
    DroppedProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    // The test's own HOME belongs to root; the child makes its own in its folder.
    env.insert(QStringLiteral("HOME"), copy.folder);
    env.insert(QStringLiteral("TMPDIR"), copy.folder);
    const QString searched = env.value(QStringLiteral("LD_LIBRARY_PATH"));
    env.insert(QStringLiteral("LD_LIBRARY_PATH"),
        searched.isEmpty() ? copy.libraries : copy.libraries + QLatin1Char(':') + searched);
    env.remove(QStringLiteral("XDG_RUNTIME_DIR"));
    child.setProcessEnvironment(env);
    child.setWorkingDirectory(copy.folder);
    child.setProcessChannelMode(QProcess::MergedChannels);
    child.start(copy.executable, { row.isEmpty() ? function : function + QLatin1Char(':') + row });
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
