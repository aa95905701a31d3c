#pragma once

#include <QCoreApplication>
#include <QDir>
#include <QString>

// Where tests find the project's own files and the built programs.
namespace testpaths {
// The project's source folder.
inline QString sourceDir()
{
    const QString dir = qEnvironmentVariable("PL_TEST_SOURCE_DIR");
    return QDir(dir.isEmpty() ? QDir::currentPath() : dir).absolutePath();
}

// tests/data/malformed/<area>: inputs that once broke a reader.
inline QString malformedDir(const QString& area)
{
    return sourceDir() + QStringLiteral("/tests/data/malformed/") + area;
}

// bin/ of the build tree.
inline QString binDir()
{
    const QString dir = qEnvironmentVariable("PL_BIN_DIR");
    return dir.isEmpty() ? QDir(QCoreApplication::applicationDirPath()).absoluteFilePath(QStringLiteral("../bin"))
                         : dir;
}
}
