#include "testpaths.h"

#include <QCoreApplication>
#include <QDir>

namespace testpaths {

QString sourceDir()
{
    const QString dir = qEnvironmentVariable("PL_TEST_SOURCE_DIR");
    return dir.isEmpty() ? QDir::currentPath() : dir;
}

QString binDir()
{
    const QString dir = qEnvironmentVariable("PL_BIN_DIR");
    if (!dir.isEmpty())
        return dir;
    return QDir(QCoreApplication::applicationDirPath()).absoluteFilePath(QStringLiteral("../bin"));
}

QString malformedDir(const QString& area) { return sourceDir() + QStringLiteral("/tests/data/malformed/") + area; }

} // namespace testpaths
