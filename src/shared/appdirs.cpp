#include "appdirs.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QSet>
#include <QTemporaryDir>

namespace {

QString appRoot() { return QDir::homePath() + QStringLiteral("/.") + QCoreApplication::applicationName(); }

QString ensureDir(const QString& path)
{
    QDir().mkpath(path);
    return path;
}

QString legacyRoot() { return QDir::homePath() + QStringLiteral("/.folvane"); }

void findFiles(QStringList& result, const QString& dir, const QStringList& nameFilters, QSet<QString>& visited)
{
    const QString canonical = QFileInfo(dir).canonicalFilePath();
    if (canonical.isEmpty() || visited.contains(canonical))
        return;
    visited.insert(canonical);

    const QFileInfoList entries = QDir(dir).entryInfoList(
        nameFilters, QDir::Files | QDir::AllDirs | QDir::NoDotAndDotDot | QDir::Hidden, QDir::Unsorted);
    for (const QFileInfo& entry : entries) {
        if (entry.isDir())
            findFiles(result, entry.absoluteFilePath(), nameFilters, visited);
        else
            result.append(entry.absoluteFilePath());
    }
}

} // namespace

QString md5Hex(const QString& text)
{
    return QString::fromLatin1(QCryptographicHash::hash(text.toUtf8(), QCryptographicHash::Md5).toHex());
}

QString runTempDir()
{
    static QTemporaryDir dir;
    return dir.isValid() ? dir.path() : QString();
}

QString booksDir() { return ensureDir(appRoot() + QStringLiteral("/books")); }

QString bookDataDir(const QString& bookPath)
{
    return ensureDir(appRoot() + QStringLiteral("/books/") + md5Hex(bookPath));
}

QString databasePath() { return ensureDir(appRoot() + QStringLiteral("/data")) + QStringLiteral("/ebooklib.sqlite3"); }

QString importDir() { return ensureDir(appRoot() + QStringLiteral("/Import")); }

QString coverFilePath(const QString& bookPath)
{
    return ensureDir(appRoot() + QStringLiteral("/covers")) + QLatin1Char('/') + md5Hex(bookPath)
        + QStringLiteral(".jpg");
}

QString legacyBookDataDir(const QString& bookPath)
{
    return legacyRoot() + QStringLiteral("/books/") + md5Hex(bookPath);
}

QString legacyDatabasePath() { return legacyRoot() + QStringLiteral("/data/ebooklib.sqlite3"); }

void removeBookDataDirs(const QStringList& bookPaths)
{
    for (const QString& path : bookPaths) {
        QDir dir(bookDataDir(path));
        if (dir.exists())
            dir.removeRecursively();
    }
}

void findFilesRecursively(QStringList& result, const QString& dir, const QStringList& nameFilters)
{
    QSet<QString> visited;
    findFiles(result, dir, nameFilters, visited);
}
