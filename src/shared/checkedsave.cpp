#include "checkedsave.h"

#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QMutex>
#include <QSaveFile>
#include <QStorageInfo>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <unistd.h>

namespace checkedsave {

namespace {

    QMutex injectorMutex;
    std::function<bool(const QString&)> injector;

    bool injectedFailure(const QString& path)
    {
        QMutexLocker lock(&injectorMutex);
        return injector && injector(path);
    }

    // The deepest folder of path that exists: a file's folder may not have been made yet.
    QString existingFolder(const QString& path)
    {
        QFileInfo info(path);
        QString folder = info.isDir() ? info.absoluteFilePath() : info.absolutePath();
        while (!folder.isEmpty() && !QFileInfo(folder).isDir()) {
            const QString parent = QFileInfo(folder).absolutePath();
            if (parent == folder)
                break;
            folder = parent;
        }
        return folder;
    }

    Result failed(const QString& path, Failure fallback, int savedErrno, const QString& text)
    {
        Result result;
        if (savedErrno == ENOSPC || savedErrno == EDQUOT)
            result.failure = Failure::DiskFull;
        else if (savedErrno == EACCES || savedErrno == EROFS || savedErrno == EPERM)
            result.failure = Failure::NotWritable;
        else {
            const Failure folder = classifyFolder(path);
            result.failure = folder != Failure::None ? folder : fallback;
        }
        result.errorText = text;
        qWarning() << "Cannot save" << path << ":" << text;
        return result;
    }

} // namespace

Failure classifyFolder(const QString& path)
{
    const QString folder = existingFolder(path);
    if (folder.isEmpty())
        return Failure::Other;
    if (::access(QFile::encodeName(folder).constData(), W_OK) != 0)
        return Failure::NotWritable;
    const QStorageInfo storage(folder);
    if (storage.isValid() && storage.isReadOnly())
        return Failure::NotWritable;
    // A full file system still has a few blocks for directory entries: "almost none" counts.
    if (storage.isValid() && storage.bytesAvailable() < 4096)
        return Failure::DiskFull;
    return Failure::None;
}

QString failureText(Failure failure, const QString& path)
{
    switch (failure) {
    case Failure::None:
        return QString();
    case Failure::NotWritable:
        return QStringLiteral("The folder %1 cannot be written").arg(QDir::toNativeSeparators(existingFolder(path)));
    case Failure::DiskFull:
        return QStringLiteral("The disk is full");
    case Failure::Other:
        break;
    }
    return QStringLiteral("The file %1 cannot be written").arg(QDir::toNativeSeparators(path));
}

Result writeFile(const QString& path, const QByteArray& data, Options options)
{
    return writeFile(
        path, [&data](QIODevice* device) { return device->write(data) == data.size(); }, options);
}

namespace {

    // Through a ".part" file with no sync: the caller rebuilds the file when it is lost.
    Result writeUnsynced(const QString& path, const std::function<bool(QIODevice*)>& produce, QIODevice::OpenMode mode)
    {
        const QString part = path + QStringLiteral(".part");
        QFile::remove(part);
        QFile file(part);
        errno = 0;
        if (!file.open(mode | QIODevice::NewOnly))
            return failed(path, Failure::NotWritable, errno, file.errorString());
        errno = 0;
        bool ok = produce(&file) && file.error() == QFileDevice::NoError;
        ok = ok && file.flush() && file.error() == QFileDevice::NoError;
        int savedErrno = errno;
        file.close();
        ok = ok && file.error() == QFileDevice::NoError;
        QString text = file.errorString();
        if (ok && injectedFailure(path)) {
            ok = false;
            savedErrno = ENOSPC;
            text = QStringLiteral("No space left on device (injected)");
        }
        if (ok && std::rename(QFile::encodeName(part).constData(), QFile::encodeName(path).constData()) != 0) {
            ok = false;
            savedErrno = errno;
            text = QString::fromLocal8Bit(std::strerror(errno));
        }
        if (!ok) {
            QFile::remove(part);
            return failed(path, Failure::Other, savedErrno, text);
        }
        return Result();
    }

} // namespace

Result writeFile(const QString& path, const std::function<bool(QIODevice*)>& produce, Options options)
{
    if (path.isEmpty()) {
        qWarning() << "Cannot save a file without a name";
        return { Failure::Other, QStringLiteral("no file name") };
    }
    QIODevice::OpenMode mode = QIODevice::WriteOnly;
    if (options & TextMode)
        mode |= QIODevice::Text;
    if (options & NoSync)
        return writeUnsynced(path, produce, mode);

    QSaveFile file(path);
    errno = 0;
    if (!file.open(mode))
        return failed(path, Failure::NotWritable, errno, file.errorString());
    errno = 0;
    bool ok = produce(&file) && file.error() == QFileDevice::NoError;
    // The buffered tail reaches the disk here; commit() would ignore a failure of it.
    ok = ok && file.flush() && file.error() == QFileDevice::NoError;
    const int savedErrno = errno;
    if (ok && injectedFailure(path)) {
        file.cancelWriting();
        return failed(path, Failure::DiskFull, ENOSPC, QStringLiteral("No space left on device (injected)"));
    }
    if (!ok) {
        const QString text = file.errorString();
        file.cancelWriting();
        return failed(path, Failure::Other, savedErrno, text);
    }
    errno = 0;
    if (!file.commit())
        return failed(path, Failure::Other, errno, file.errorString());
    return Result();
}

void setFailureInjector(const std::function<bool(const QString& path)>& newInjector)
{
    QMutexLocker lock(&injectorMutex);
    injector = newInjector;
}

} // namespace checkedsave
