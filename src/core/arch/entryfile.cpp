#include "arch/entryfile.h"

#include <QDir>
#include <QFileInfo>
#include <QRandomGenerator>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

namespace {
constexpr qint64 CopyBufferSize = 64 * 1024;

bool isInside(const QString& canonicalDir, const QString& canonicalPath)
{
    return canonicalPath == canonicalDir || canonicalPath.startsWith(canonicalDir + QLatin1Char('/'));
}

// The nearest folder of path that exists, resolved through links.
QString canonicalExistingAncestor(QString path)
{
    while (!path.isEmpty()) {
        const QFileInfo info(path);
        if (info.exists())
            return info.canonicalFilePath();
        const QString parent = info.path();
        if (parent == path)
            break;
        path = parent;
    }
    return QString();
}

// Creates folder (with parents) when it stays inside destDir on disk, before and after.
// canonicalDest is destDir resolved, or empty to have it resolved here.
bool makeFolderInside(const QString& destDir, const QString& canonicalDest, const QString& folder, QString* error)
{
    if (canonicalDest.isEmpty()) {
        if (!QDir().mkpath(destDir)) {
            *error = QStringLiteral("Cannot create folder %1").arg(destDir);
            return false;
        }
        return makeFolderInside(destDir, QFileInfo(destDir).canonicalFilePath(), folder, error);
    }
    if (!isInside(canonicalDest, canonicalExistingAncestor(folder))) {
        *error = QStringLiteral("Folder %1 leads outside %2").arg(folder, destDir);
        return false;
    }
    if (!QDir().mkpath(folder)) {
        *error = QStringLiteral("Cannot create folder %1").arg(folder);
        return false;
    }
    if (!isInside(canonicalDest, QFileInfo(folder).canonicalFilePath())) {
        *error = QStringLiteral("Folder %1 leads outside %2").arg(folder, destDir);
        return false;
    }
    return true;
}
}

bool UnpackBudget::take(qint64 size)
{
    // Unpacks on several threads may share one budget.
    qint64 written = m_written.load();
    do {
        if (size > m_maxTotalBytes - written)
            return false;
    } while (!m_written.compare_exchange_weak(written, written + size));
    return true;
}

EntryFile::EntryFile(const QString& destDir, const QString& path, UnpackBudget& budget)
    : m_destDir(destDir)
    , m_path(path)
    , m_budget(budget)
    , m_file(path)
{
    // A failed write must never fall back to writing the real file in place.
    m_file.setDirectWriteFallback(false);
}

EntryFile::~EntryFile()
{
    if (m_unsynced && !m_committed)
        m_unsynced->remove();
}

QFileDevice& EntryFile::device()
{
    if (m_unsynced)
        return *m_unsynced;
    return m_file;
}

bool EntryFile::open()
{
    if (QFileInfo(m_path).isSymLink()) {
        m_error = QStringLiteral("Refusing to write through the link %1").arg(m_path);
        return false;
    }
    if (!makeFolderInside(m_destDir, m_canonicalDestDir, QFileInfo(m_path).path(), &m_error))
        return false;
    if (!m_sync) {
        // A name beside the target unique to this object, created exclusively and removed unless
        // commit() gives it the real name: one creation and one rename, as cheap as it gets.
        for (int attempt = 0; attempt < 3 && !m_unsynced; ++attempt) {
            const quint32 tag = QRandomGenerator::global()->generate();
            auto file
                = std::make_unique<QFile>(QStringLiteral("%1.%2.part").arg(m_path).arg(tag, 8, 16, QLatin1Char('0')));
            if (file->open(QIODevice::WriteOnly | QIODevice::NewOnly))
                m_unsynced = std::move(file);
            else
                m_error = QStringLiteral("Cannot create %1: %2").arg(m_path, file->errorString());
        }
        return bool(m_unsynced);
    }
    if (!m_file.open(QIODevice::WriteOnly)) {
        m_error = QStringLiteral("Cannot create %1: %2").arg(m_path, m_file.errorString());
        return false;
    }
    return true;
}

EntryFile::CopyResult EntryFile::copyFrom(const ReadFunction& read)
{
    std::unique_ptr<char[]> buffer(new char[CopyBufferSize]);
    qint64 entryBytes = 0;
    for (;;) {
        const qint64 count = read(buffer.get(), CopyBufferSize);
        if (count == 0)
            return Copied;
        if (count < 0) {
            m_error = QStringLiteral("Cannot read the entry of %1").arg(m_path);
            return ReadFailed;
        }
        entryBytes += count;
        if (entryBytes > m_budget.maxEntryBytes() || !m_budget.take(count)) {
            m_error = QStringLiteral("Entry %1 exceeds the unpack size limit").arg(m_path);
            return TooLarge;
        }
        if (device().write(buffer.get(), count) != count) {
            m_error = QStringLiteral("Cannot write %1: %2").arg(m_path, device().errorString());
            return WriteFailed;
        }
    }
}

bool EntryFile::commit()
{
    if (m_unsynced) {
        m_unsynced->close();
        const QString temporary = m_unsynced->fileName();
        if (m_unsynced->error() != QFileDevice::NoError) {
            m_error = QStringLiteral("Cannot save %1: %2").arg(m_path, m_unsynced->errorString());
            return false;
        }
        if (std::rename(QFile::encodeName(temporary).constData(), QFile::encodeName(m_path).constData()) != 0) {
            m_error = QStringLiteral("Cannot save %1: %2").arg(m_path, QString::fromLocal8Bit(std::strerror(errno)));
            return false;
        }
        // The file has its real name now: nothing left to remove.
        m_committed = true;
        return true;
    }
    // commit() renames even when its own flush failed (a full disk): flush and check first.
    if (!m_file.flush() || m_file.error() != QFileDevice::NoError) {
        m_error = QStringLiteral("Cannot save %1: %2").arg(m_path, m_file.errorString());
        m_file.cancelWriting();
        return false;
    }
    if (!m_file.commit()) {
        m_error = QStringLiteral("Cannot save %1: %2").arg(m_path, m_file.errorString());
        return false;
    }
    return true;
}

bool EntryFile::makeFolder(const QString& destDir, const QString& path, QString* error)
{
    QString message;
    const bool made = makeFolderInside(destDir, QString(), path, &message);
    if (error)
        *error = message;
    return made;
}

bool writeUnsynced(const QString& path, const QByteArray& data, QString* error)
{
    UnpackBudget budget;
    EntryFile file(QFileInfo(path).path(), path, budget);
    file.setSyncToDisk(false);
    qint64 done = 0;
    const auto read = [&data, &done](char* buffer, qint64 size) {
        const qint64 count = qMin(size, qint64(data.size()) - done);
        std::memcpy(buffer, data.constData() + done, size_t(count));
        done += count;
        return count;
    };
    if (file.open() && file.copyFrom(read) == EntryFile::Copied && file.commit())
        return true;
    if (error)
        *error = file.errorString();
    return false;
}
