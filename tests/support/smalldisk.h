#pragma once

#include <QByteArray>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QList>
#include <QPair>
#include <QString>
#include <QTemporaryDir>

#include <sys/mount.h>
#include <unistd.h>

// A real, small file system for tests of full disks: a 2 MB tmpfs mounted on a temporary folder.
// Mounting needs root; without it (or where mounting is refused, as in some containers)
// isMounted() is false and the test falls back on the save helper's failure seam.
class SmallDisk {
public:
    // On a temporary folder of its own.
    SmallDisk() { mountOn(m_dir.path(), 0); }
    // Over an existing folder (its files are hidden while mounted); read-only when asked.
    explicit SmallDisk(const QString& folder, bool readOnly = false) { mountOn(folder, readOnly ? MS_RDONLY : 0); }
    ~SmallDisk()
    {
        if (m_mounted)
            ::umount2(QFile::encodeName(m_path).constData(), MNT_DETACH);
    }
    SmallDisk(const SmallDisk&) = delete;
    SmallDisk& operator=(const SmallDisk&) = delete;

    bool isMounted() const { return m_mounted; }
    QString path() const { return m_path; }
    QString filePath(const QString& name) const { return QDir(m_path).filePath(name); }

    // Writes a filler file until the file system refuses more; true when it is full then.
    bool fill()
    {
        QFile filler(filePath(QStringLiteral(".filler")));
        if (!filler.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered))
            return false;
        const QByteArray block(4096, 'f');
        while (filler.write(block) == block.size()) { }
        // The last partial block, byte by byte, so that not one byte is left.
        while (filler.write("f", 1) == 1) { }
        return true;
    }
    // Frees the filler's space again.
    void release() { QFile::remove(filePath(QStringLiteral(".filler"))); }
    // Makes the mounted file system read-only, its files kept.
    bool setReadOnly()
    {
        return m_mounted
            && ::mount("tmpfs", QFile::encodeName(m_path).constData(), "tmpfs", MS_REMOUNT | MS_RDONLY, "size=2m") == 0;
    }

private:
    void mountOn(const QString& folder, unsigned long flags)
    {
        m_path = folder;
        if (folder.isEmpty() || ::geteuid() != 0)
            return;
        m_mounted = ::mount("tmpfs", QFile::encodeName(folder).constData(), "tmpfs", flags, "size=2m") == 0;
    }

    QTemporaryDir m_dir;
    QString m_path;
    bool m_mounted = false;
};

// A folder or a file made read-only where it stands, while the object lives: bound read-only
// over itself for root, whom permissions do not bind, or without its owner's write permission
// for anyone else, on every folder and file beneath it too, as the read-only bind leaves them. A file
// or folder opened for writing before keeps writing either way.
class ReadOnlyPlace {
public:
    explicit ReadOnlyPlace(const QString& path)
        : m_path(QFile::encodeName(path))
    {
        if (::geteuid() == 0) {
            m_mounted = ::mount(m_path.constData(), m_path.constData(), nullptr, MS_BIND, nullptr) == 0;
            if (m_mounted
                && ::mount(nullptr, m_path.constData(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr) != 0)
                release();
            m_readOnly = m_mounted;
        } else {
            QDirIterator it(path, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                QDirIterator::Subdirectories);
            while (it.hasNext()) {
                const QString entry = it.next();
                if (!it.fileInfo().isSymLink())
                    m_beneath.append({ entry, QFile::permissions(entry) });
            }
            m_permissions = QFile::permissions(path);
            m_readOnly = QFile::setPermissions(path, m_permissions & ~QFile::WriteOwner & ~QFile::WriteUser);
            for (const auto& entry : qAsConst(m_beneath))
                QFile::setPermissions(entry.first, entry.second & ~QFile::WriteOwner & ~QFile::WriteUser);
        }
    }
    ~ReadOnlyPlace() { release(); }
    ReadOnlyPlace(const ReadOnlyPlace&) = delete;
    ReadOnlyPlace& operator=(const ReadOnlyPlace&) = delete;

    bool isReadOnly() const { return m_readOnly; }
    void release()
    {
        if (m_mounted)
            ::umount2(m_path.constData(), MNT_DETACH);
        else if (m_readOnly)
            QFile::setPermissions(QFile::decodeName(m_path), m_permissions);
        for (const auto& entry : qAsConst(m_beneath))
            QFile::setPermissions(entry.first, entry.second);
        m_beneath.clear();
        m_mounted = false;
        m_readOnly = false;
    }

private:
    QByteArray m_path;
    QFile::Permissions m_permissions {};
    QList<QPair<QString, QFile::Permissions>> m_beneath;
    bool m_mounted = false;
    bool m_readOnly = false;
};
