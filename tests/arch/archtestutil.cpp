#include "archtestutil.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QLoggingCategory>
#include <QRandomGenerator>

#include <unistd.h>

namespace archtest {
QStringList tree(const QString& dir)
{
    QStringList result;
    const QDir base(dir);
    QDirIterator it(
        dir, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (it.hasNext())
        result.append(base.relativeFilePath(it.next()));
    result.sort();
    return result;
}

QByteArray noise(int size, quint32 seed)
{
    QRandomGenerator generator(seed);
    QByteArray data(size, Qt::Uninitialized);
    for (int i = 0; i < size; ++i)
        data[i] = char(generator.bounded(256));
    return data;
}

QString readOnlyFolder(const QString& candidate)
{
    if (geteuid() == 0)
        return QStringLiteral("/proc/self");
    QDir().mkpath(candidate);
    QFile::setPermissions(candidate, QFileDevice::ReadOwner | QFileDevice::ExeOwner);
    return candidate;
}

void silenceDebugOutput() { QLoggingCategory::setFilterRules(QStringLiteral("*.debug=false")); }
}
