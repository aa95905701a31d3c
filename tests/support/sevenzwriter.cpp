#include "sevenzwriter.h"

#include <QDebug>
#include <QFile>

#include <archive.h>
#include <archive_entry.h>
#include <locale.h>

bool SevenZWriter::write() const
{
    // libarchive turns names into UTF-16 through the thread's locale, which is "C" in CI.
    const locale_t utf8 = newlocale(LC_CTYPE_MASK, "C.UTF-8", locale_t(nullptr));
    const locale_t previous = utf8 ? uselocale(utf8) : locale_t(nullptr);
    archive* out = archive_write_new();
    bool ok = archive_write_set_format_7zip(out) == ARCHIVE_OK
        && archive_write_set_format_option(out, "7zip", "compression", m_compression.constData()) == ARCHIVE_OK
        && archive_write_open_filename(out, QFile::encodeName(m_path).constData()) == ARCHIVE_OK;
    for (int i = 0; ok && i < m_entries.size(); ++i) {
        const Entry& item = m_entries.at(i);
        archive_entry* entry = archive_entry_new();
        archive_entry_copy_pathname_w(entry, item.name.toStdWString().c_str());
        archive_entry_set_filetype(entry, item.folder ? AE_IFDIR : AE_IFREG);
        archive_entry_set_perm(entry, item.folder ? 0755 : 0644);
        archive_entry_set_size(entry, item.data.size());
        archive_entry_set_mtime(entry, 1577836800, 0);
        ok = archive_write_header(out, entry) == ARCHIVE_OK
            && (item.data.isEmpty()
                || archive_write_data(out, item.data.constData(), size_t(item.data.size())) == item.data.size());
        archive_entry_free(entry);
    }
    if (!ok)
        qWarning() << "Cannot write 7z" << m_path << archive_error_string(out);
    ok = archive_write_close(out) == ARCHIVE_OK && ok;
    archive_write_free(out);
    if (utf8) {
        uselocale(previous);
        freelocale(utf8);
    }
    return ok;
}
