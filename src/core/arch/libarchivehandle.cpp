#include "arch/libarchivehandle.h"

#include <QFile>
#include <QTextCodec>

#include <archive.h>
#include <archive_entry.h>

namespace {
constexpr size_t BlockSize = 64 * 1024;

QString decodeName(const char* bytes)
{
    if (!bytes)
        return QString();
    const int length = int(qstrlen(bytes));
    QTextCodec::ConverterState state;
    const QString utf8 = QTextCodec::codecForName("UTF-8")->toUnicode(bytes, length, &state);
    if (state.invalidChars == 0)
        return utf8;
    if (QTextCodec* legacy = QTextCodec::codecForName("IBM866"))
        return legacy->toUnicode(bytes, length);
    return QString::fromLatin1(bytes, length);
}
}

LibArchiveHandle::LibArchiveHandle(Format format)
    : m_archive(archive_read_new())
{
    if (!m_archive)
        return;
    archive_read_support_filter_all(m_archive);
    if (format == Rar) {
        archive_read_support_format_rar(m_archive);
        archive_read_support_format_rar5(m_archive);
    } else {
        archive_read_support_format_7zip(m_archive);
    }
}

LibArchiveHandle::~LibArchiveHandle()
{
    if (m_archive)
        archive_read_free(m_archive);
}

bool LibArchiveHandle::open(const QString& path)
{
    if (!m_archive)
        return false;
    return archive_read_open_filename(m_archive, QFile::encodeName(path).constData(), BlockSize) == ARCHIVE_OK;
}

int LibArchiveHandle::next()
{
    if (!m_archive)
        return ARCHIVE_FATAL;
    const int result = archive_read_next_header(m_archive, &m_entry);
    if (result == ARCHIVE_WARN)
        return ARCHIVE_OK;
    if (result != ARCHIVE_OK)
        m_entry = nullptr;
    return result;
}

int LibArchiveHandle::skip() { return m_archive ? archive_read_data_skip(m_archive) : ARCHIVE_FATAL; }

qint64 LibArchiveHandle::read(char* buffer, qint64 size)
{
    return m_archive ? qint64(archive_read_data(m_archive, buffer, size_t(size))) : -1;
}

QString LibArchiveHandle::entryName() const
{
    if (!m_entry)
        return QString();
    if (const char* utf8 = archive_entry_pathname_utf8(m_entry))
        return QString::fromUtf8(utf8);
    return decodeName(archive_entry_pathname(m_entry));
}

bool LibArchiveHandle::isFolder() const { return m_entry && archive_entry_filetype(m_entry) == AE_IFDIR; }

bool LibArchiveHandle::isRegularFile() const { return m_entry && archive_entry_filetype(m_entry) == AE_IFREG; }

bool LibArchiveHandle::isEncrypted() const { return m_entry && archive_entry_is_encrypted(m_entry); }

int LibArchiveHandle::errorNumber() const { return m_archive ? archive_errno(m_archive) : ENOMEM; }

QString LibArchiveHandle::errorString() const
{
    const char* text = m_archive ? archive_error_string(m_archive) : nullptr;
    return text ? QString::fromLocal8Bit(text) : QStringLiteral("out of memory");
}
