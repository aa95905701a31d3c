#include "exportbooks.h"

#include "appdirs.h"
#include "checkedsave.h"
#include "models/bookdto.h"

#include <QDebug>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QUuid>

#include <quazip/quazip.h>
#include <quazip/quazipfile.h>
#include <quazip/quazipnewinfo.h>

#include <zlib.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

constexpr qint64 kBlockSize = 64 * 1024;

// Opens a member for writing, deflated at the default level.
bool openMember(QuaZipFile& member, const QuaZipNewInfo& info)
{
    if (member.open(QIODevice::WriteOnly, info, nullptr, 0, Z_DEFLATED, Z_DEFAULT_COMPRESSION))
        return true;
    qWarning() << "Cannot add" << info.name << "to the archive. Error code:" << member.getZipError();
    return false;
}

// Closes a member; true when the ZIP took it without error.
bool closeMember(QuaZipFile& member)
{
    member.close();
    if (member.getZipError() == ZIP_OK)
        return true;
    qWarning() << "Cannot finish" << member.getActualFileName()
               << "in the archive. Error code:" << member.getZipError();
    return false;
}

// True when the archive opens and lists the members it was given.
bool readsBack(const QString& path, int members)
{
    QuaZip zip(path);
    if (!zip.open(QuaZip::mdUnzip))
        return false;
    const bool whole = zip.getEntriesCount() == members && zip.getZipError() == ZIP_OK;
    zip.close();
    return whole;
}

} // namespace

exportbooks::exportbooks(QObject* parent)
    : QObject(parent)
{
}

exportbooks::~exportbooks() { close(); }

bool exportbooks::open(const QString& archive)
{
    if (m_zip)
        return true;
    m_archive = QFileInfo(archive).absoluteFilePath();
    m_partPath = m_archive + QStringLiteral(".part");
    m_zip = std::make_unique<QuaZip>(m_partPath);
    m_zip->setZip64Enabled(true);
    m_zip->setUtf8Enabled(true);
    if (!m_zip->open(QuaZip::mdCreate)) {
        qCritical() << "Cannot create the archive" << m_partPath << "Error code:" << m_zip->getZipError();
        noteFailure();
        m_zip.reset();
        QFile::remove(m_partPath);
        return false;
    }
    return true;
}

bool exportbooks::addBook(const BookDto& book)
{
    const QFileInfo file(book.full_path);
    if (book.full_path.isEmpty() || !file.isFile())
        return false;
    ArchiveEntry entry;
    entry.bookId = QUuid::createUuid().toString(QUuid::Id128);
    entry.fileName = file.fileName();
    entry.relPath = QStringLiteral("%1/%2").arg(entry.bookId, entry.fileName);
    entry.author = book.author;
    entry.title = book.title;
    entry.bookFormat = book.format;
    entry.position = book.position;
    // The record's position is not where reading stopped: the book's state file says that.
    entry.takeReadingPlace(book.full_path);
    entry.progress = book.max_position;
    entry.isFavorite = book.is_favorite != 0;
    entry.folderTitle = book.folder_title;
    entry.hasCustomCover = book.use_user_cover;
    entry.bookSource = file.absoluteFilePath();
    entry.coverSource = book.use_user_cover ? coverFilePath(book.full_path) : book.cover;
    const QFileInfo cover(entry.coverSource);
    if (!entry.coverSource.isEmpty() && cover.isFile())
        entry.coverPath = entry.bookId + QStringLiteral("/cover.") + cover.suffix();
    else
        qWarning().noquote() << "Can't find cover for book: " + entry.coverSource;
    m_entries.append(entry);
    return true;
}

bool exportbooks::hasNext()
{
    ++m_index;
    return m_index < m_entries.size();
}

bool exportbooks::writeNext()
{
    if (!m_zip || m_index < 0 || m_index >= m_entries.size())
        return false;
    ArchiveEntry entry = m_entries.at(m_index);
    if (!storeFile(entry.bookSource, entry.relPath)) {
        noteFailure();
        return false;
    }
    if (!entry.coverPath.isEmpty() && !storeFile(entry.coverSource, entry.coverPath))
        entry.coverPath.clear();
    m_written.append(entry);
    return true;
}

bool exportbooks::storeFile(const QString& source, const QString& name)
{
    if (!m_zip)
        return false;
    QFile input(source);
    if (!input.open(QIODevice::ReadOnly)) {
        qWarning() << "Cannot read" << source << input.errorString();
        return false;
    }
    QuaZipFile member(m_zip.get());
    if (!openMember(member, QuaZipNewInfo(name, source)))
        return false;
    bool ok = true;
    QByteArray block;
    while (ok && !input.atEnd()) {
        block = input.read(kBlockSize);
        if (block.isEmpty()) {
            qWarning() << "Cannot read" << source << input.errorString();
            ok = false;
        } else if (member.write(block) != block.size()) {
            qWarning() << "Cannot write" << name << "into the archive. Error code:" << member.getZipError();
            ok = false;
        }
    }
    return closeMember(member) && ok;
}

bool exportbooks::writeContainer()
{
    if (!m_zip)
        return false;
    if (m_containerWritten)
        return true;
    m_containerWritten = true;
    QJsonArray books;
    for (const ArchiveEntry& entry : qAsConst(m_written))
        books.append(entry.toJson());
    const QByteArray json = QJsonDocument(QJsonObject { { QStringLiteral("books"), books } }).toJson();

    QuaZipFile member(m_zip.get());
    if (!openMember(member, QuaZipNewInfo(QStringLiteral("container.json"))))
        return false;
    const bool written = member.write(json) == json.size();
    if (closeMember(member) && written)
        return true;
    noteFailure();
    return false;
}

bool exportbooks::commit()
{
    if (!m_zip)
        return false;
    m_zip->close();
    const int error = m_zip->getZipError();
    m_zip.reset();
    if (error != ZIP_OK) {
        qCritical() << "Cannot finish the archive" << m_partPath << "Error code:" << error;
        noteFailure();
        QFile::remove(m_partPath);
        return false;
    }
    // The ZIP layer does not see a failed flush of its file (a full disk): the archive only
    // counts when it reads back whole.
    int members = m_containerWritten ? 1 : 0;
    for (const ArchiveEntry& entry : qAsConst(m_written))
        members += entry.coverPath.isEmpty() ? 1 : 2;
    if (!readsBack(m_partPath, members)) {
        qCritical() << "The archive" << m_partPath << "did not read back:"
                    << checkedsave::failureText(checkedsave::classifyFolder(m_partPath), m_partPath);
        noteFailure();
        QFile::remove(m_partPath);
        return false;
    }
    // rename() replaces an older archive in one step, so the target is never half there.
    if (std::rename(QFile::encodeName(m_partPath).constData(), QFile::encodeName(m_archive).constData()) != 0) {
        qCritical() << "Cannot rename" << m_partPath << "to" << m_archive << std::strerror(errno);
        noteFailure();
        QFile::remove(m_partPath);
        return false;
    }
    return true;
}

void exportbooks::noteFailure()
{
    // The first cause stands: what fails after it follows from it.
    if (m_failure == checkedsave::Failure::None)
        m_failure = checkedsave::classifyFolder(m_partPath);
}

void exportbooks::close()
{
    if (!m_zip)
        return;
    m_zip->close();
    m_zip.reset();
    QFile::remove(m_partPath);
}
