#include "arch/safepath.h"

#include <QDir>

namespace {
bool isDriveName(const QString& name)
{
    return name.size() >= 2 && name.at(1) == QLatin1Char(':') && name.at(0).unicode() < 128 && name.at(0).isLetter();
}
}

QString safeEntryName(const QString& entryName)
{
    if (entryName.isEmpty() || entryName.contains(QChar(0)))
        return QString();
    QString name = entryName;
    name.replace(QLatin1Char('\\'), QLatin1Char('/'));
    if (name.startsWith(QLatin1Char('/')) || isDriveName(name))
        return QString();
    const QString cleaned = QDir::cleanPath(name);
    if (cleaned.isEmpty() || cleaned == QLatin1String(".") || cleaned.startsWith(QLatin1Char('/')))
        return QString();
    const QStringList parts = cleaned.split(QLatin1Char('/'));
    if (parts.contains(QStringLiteral("..")))
        return QString();
    return cleaned;
}

QString safeEntryPath(const QString& destDir, const QString& entryName)
{
    if (destDir.isEmpty())
        return QString();
    const QString name = safeEntryName(entryName);
    if (name.isEmpty())
        return QString();
    QString dir = QDir::cleanPath(destDir);
    if (!dir.endsWith(QLatin1Char('/')))
        dir += QLatin1Char('/');
    return dir + name;
}
