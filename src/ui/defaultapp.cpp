#include "defaultapp.h"

#include "checkedsave.h"
#include "supportedextensions.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMimeDatabase>
#include <QProcess>
#include <QStandardPaths>
#include <QStringList>

namespace {

// Quoting of the Exec key: reserved characters need a quoted argument, and inside quotes
// '"', '`', '$' and '\' are escaped with a backslash.
QString quotedExecArgument(const QString& path)
{
    QString escaped;
    for (const QChar ch : path) {
        if (ch == QLatin1Char('"') || ch == QLatin1Char('`') || ch == QLatin1Char('$') || ch == QLatin1Char('\\'))
            escaped += QLatin1Char('\\');
        escaped += ch;
    }
    // '%' introduces a field code in the whole key, quoted or not.
    escaped.replace(QLatin1String("%"), QLatin1String("%%"));
    return QLatin1Char('"') + escaped + QLatin1Char('"');
}

bool saveFile(const QString& path, const QByteArray& data, QString* error)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    const checkedsave::Result saved = checkedsave::writeFile(path, data);
    if (!saved) {
        *error = QStringLiteral("%1: %2").arg(path, saved.errorText);
        return false;
    }
    return true;
}

} // namespace

namespace DefaultApp {

QString desktopFileName() { return QStringLiteral("pageloom.desktop"); }

QString mimeTypeFor(const QString& extension)
{
    QString suffix = extension;
    if (suffix.startsWith(QLatin1Char('.')))
        suffix.remove(0, 1);
    if (suffix.isEmpty())
        return QString();
    const QMimeType type
        = QMimeDatabase().mimeTypeForFile(QStringLiteral("book.") + suffix, QMimeDatabase::MatchExtension);
    return type.isDefault() ? QString() : type.name();
}

QString desktopEntry(const QString& executablePath)
{
    QStringList types;
    for (const QString& extension : supportedExtensions()) {
        const QString type = mimeTypeFor(extension);
        if (!type.isEmpty() && !types.contains(type))
            types << type;
    }
    QString name = QCoreApplication::applicationName();
    if (name.isEmpty())
        name = QStringLiteral("pageloom");
    return QStringLiteral("[Desktop Entry]\nType=Application\nVersion=1.0\nName=%1\nComment=%2\nExec=%3 %F\n"
                          "Icon=pageloom\nTerminal=false\nCategories=Office;Viewer;\nMimeType=%4;\n")
        .arg(name.simplified(), QStringLiteral("E-book reader and library"), quotedExecArgument(executablePath),
            types.join(QLatin1Char(';')));
}

bool registerFor(const QString& extension, QString* error)
{
    QString scratch;
    if (!error)
        error = &scratch;
    const QString type = mimeTypeFor(extension);
    if (type.isEmpty()) {
        *error = QStringLiteral("no file type is known for \"%1\"").arg(extension);
        return false;
    }
    const QString dataHome = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    if (dataHome.isEmpty()) {
        *error = QStringLiteral("no data folder");
        return false;
    }
    const QString exe = QCoreApplication::applicationFilePath();
    if (!saveFile(QDir(dataHome).filePath(QStringLiteral("applications/") + desktopFileName()),
            desktopEntry(exe).toUtf8(), error))
        return false;
    QFile icon(QStringLiteral(":/appicon.svg"));
    if (icon.open(QIODevice::ReadOnly)
        && !saveFile(
            QDir(dataHome).filePath(QStringLiteral("icons/hicolor/scalable/apps/pageloom.svg")), icon.readAll(), error))
        return false;

    QProcess xdgMime;
    xdgMime.setProcessChannelMode(QProcess::MergedChannels);
    xdgMime.start(QStringLiteral("xdg-mime"), { QStringLiteral("default"), desktopFileName(), type });
    if (!xdgMime.waitForStarted(10000)) {
        *error = QStringLiteral("xdg-mime: %1").arg(xdgMime.errorString());
        return false;
    }
    if (!xdgMime.waitForFinished(30000)) {
        xdgMime.kill();
        xdgMime.waitForFinished(1000);
        *error = QStringLiteral("xdg-mime did not finish");
        return false;
    }
    if (xdgMime.exitStatus() != QProcess::NormalExit || xdgMime.exitCode() != 0) {
        *error = QStringLiteral("xdg-mime failed (%1): %2")
                     .arg(xdgMime.exitCode())
                     .arg(QString::fromLocal8Bit(xdgMime.readAll()).trimmed());
        return false;
    }
    return true;
}

} // namespace DefaultApp
