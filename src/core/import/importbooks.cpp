#include "importbooks.h"

#include "arch/safepath.h"

#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>

#include <quazip/quazip.h>
#include <quazip/quazipfile.h>

namespace {

constexpr qint64 kBlockSize = 64 * 1024;
const char* const kContainer = "container.json";

void logZipError(int error) { qCritical().noquote() << QStringLiteral("Read zip failed. Error code:%1").arg(error); }

// The plain file name an entry may be unpacked under: the last part of a safe name.
QString safeFileName(const QString& name)
{
    const QString entry = safeEntryName(name);
    return entry.isEmpty() ? QString() : entry.section(QLatin1Char('/'), -1);
}

// Reads the current member whole, when it holds at most limit bytes; false (with a warning
// naming what) otherwise, or when it cannot be read.
bool readMember(QuaZip* zip, qint64 limit, const QString& what, QByteArray& bytes)
{
    QuaZipFile member(zip);
    if (!member.open(QIODevice::ReadOnly)) {
        logZipError(member.getZipError());
        return false;
    }
    bytes.clear();
    while (!member.atEnd()) {
        const QByteArray block = member.read(kBlockSize);
        if (block.isEmpty())
            break;
        bytes += block;
        if (bytes.size() > limit) {
            qWarning() << "The archive's" << what << "is larger than" << limit << "bytes";
            return false;
        }
    }
    member.close();
    if (member.getZipError() != UNZ_OK) {
        logZipError(member.getZipError());
        return false;
    }
    return true;
}

} // namespace

importbooks::importbooks(QObject* parent)
    : QObject(parent)
{
}

importbooks::~importbooks() { close(); }

bool importbooks::open(const QString& path)
{
    if (m_zip)
        return true;
    m_first = true;
    m_index = -1;
    m_hasCurrent = false;
    m_entries.clear();
    m_zip = std::make_unique<QuaZip>(path);
    m_zip->setZip64Enabled(true);
    m_zip->setUtf8Enabled(true);
    if (!m_zip->open(QuaZip::mdUnzip)) {
        logZipError(m_zip->getZipError());
        m_zip.reset();
        return false;
    }
    if (!m_zip->setCurrentFile(QLatin1String(kContainer), QuaZip::csInsensitive)) {
        qWarning() << "The archive" << path << "has no" << kContainer;
        close();
        return false;
    }
    if (!readContainer()) {
        close();
        return false;
    }
    return true;
}

bool importbooks::readContainer()
{
    QByteArray json;
    if (!readMember(m_zip.get(), kMaxContainerBytes, QLatin1String(kContainer), json))
        return false;

    QJsonParseError error;
    const QJsonDocument index = QJsonDocument::fromJson(json, &error);
    if (error.error != QJsonParseError::NoError || !index.isObject()) {
        qWarning() << "The archive's" << kContainer << "is no JSON object:" << error.errorString();
        return false;
    }
    const QJsonArray books = index.object().value(QStringLiteral("books")).toArray();
    for (const QJsonValue& value : books) {
        if (!value.isObject())
            continue;
        ArchiveEntry entry = ArchiveEntry::fromJson(value.toObject());
        // The member is looked up by its name and the file is written under its own name:
        // neither may point outside the archive or the import folder.
        const QString relPath = safeEntryName(entry.relPath);
        const QString fileName = safeFileName(entry.fileName);
        if (relPath.isEmpty() || fileName.isEmpty()) {
            qWarning() << "Skipping an archived book with an unsafe name:" << entry.relPath << entry.fileName;
            continue;
        }
        entry.relPath = relPath;
        entry.fileName = fileName;
        // A cover is only read, never unpacked under its name; one that leaves the archive is none.
        entry.coverPath = safeEntryName(entry.coverPath);
        m_entries.append(entry);
    }
    return true;
}

bool importbooks::next()
{
    if (!m_zip || m_entries.isEmpty())
        return false;
    m_index = m_first ? 0 : m_index + 1;
    m_first = false;
    m_hasCurrent = m_index < m_entries.size();
    m_memberFound = false;
    if (!m_hasCurrent)
        return false;
    QuaZipFileInfo64 info;
    m_memberFound
        = m_zip->setCurrentFile(m_entries.at(m_index).relPath, QuaZip::csSensitive) && m_zip->getCurrentFileInfo(&info);
    if (!m_memberFound)
        qCritical() << "Read zip failed. Get file info" << m_entries.at(m_index).relPath;
    return true;
}

ArchiveEntry importbooks::current() const { return m_hasCurrent ? m_entries.at(m_index) : ArchiveEntry(); }

QString importbooks::extractBook(const QString& importDir)
{
    if (!m_zip || !m_hasCurrent || !m_memberFound)
        return QString();
    const QString fileName = m_entries.at(m_index).fileName;
    QDir().mkpath(importDir);
    QString target = safeEntryPath(importDir, fileName);
    for (int n = 1; !target.isEmpty() && QFileInfo::exists(target); ++n)
        target = safeEntryPath(importDir, QStringLiteral("%1_%2").arg(n).arg(fileName));
    if (target.isEmpty())
        return QString();
    qInfo().noquote() << "extract" << target;

    QuaZipFile member(m_zip.get());
    if (!member.open(QIODevice::ReadOnly)) {
        logZipError(member.getZipError());
        return QString();
    }
    QSaveFile output(target);
    if (!output.open(QIODevice::WriteOnly)) {
        qWarning() << "Cannot write" << target << output.errorString();
        return QString();
    }
    qint64 total = 0;
    bool ok = true;
    while (ok && !member.atEnd()) {
        const QByteArray block = member.read(kBlockSize);
        total += block.size();
        if (block.isEmpty()) {
            qWarning() << "Cannot read the archived book" << fileName << member.getZipError();
            ok = false;
        } else if (total > kMaxBookBytes) {
            qWarning() << "The archived book" << fileName << "is larger than" << kMaxBookBytes << "bytes";
            ok = false;
        } else if (output.write(block) != block.size()) {
            qWarning() << "Cannot write" << target << output.errorString();
            ok = false;
        }
    }
    member.close();
    if (member.getZipError() != UNZ_OK) {
        qWarning() << "The archived book" << fileName << "is damaged. Error code:" << member.getZipError();
        ok = false;
    }
    // commit() renames even when its own flush failed (a full disk): flush and check first.
    if (ok && (!output.flush() || output.error() != QFileDevice::NoError)) {
        qWarning() << "Cannot write" << target << output.errorString();
        ok = false;
    }
    if (!ok) {
        output.cancelWriting(); // the temporary file goes with the object
        return QString();
    }
    if (!output.commit()) {
        qWarning() << "Cannot write" << target << output.errorString();
        return QString();
    }
    return target;
}

QByteArray importbooks::readCover()
{
    if (!m_zip || !m_hasCurrent)
        return QByteArray();
    const ArchiveEntry& entry = m_entries.at(m_index);
    QByteArray bytes;
    if (entry.coverPath.isEmpty() || !m_zip->setCurrentFile(entry.coverPath, QuaZip::csSensitive)
        || !readMember(m_zip.get(), kMaxCoverBytes, entry.coverPath, bytes))
        bytes.clear();
    // The book's member stays the current one.
    m_memberFound = m_zip->setCurrentFile(entry.relPath, QuaZip::csSensitive);
    return bytes;
}

void importbooks::close()
{
    if (m_zip) {
        m_zip->close();
        m_zip.reset();
    }
    m_entries.clear();
    m_index = -1;
    m_hasCurrent = false;
    m_memberFound = false;
}
