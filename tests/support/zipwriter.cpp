#include "zipwriter.h"

#include <QDebug>
#include <QTextCodec>

#include <quazip/quazip.h>
#include <quazip/quazipfile.h>
#include <quazip/quazipnewinfo.h>

#include <zlib.h>

ZipWriter::ZipWriter(const QString& path)
    : m_path(path)
{
}

void ZipWriter::setNames(Names names, const QByteArray& codecName)
{
    m_names = names;
    m_codecName = codecName;
}

void ZipWriter::add(const QString& name, const QByteArray& data, bool compressed)
{
    m_entries.append({ name, data, compressed });
}

void ZipWriter::addFolder(const QString& name)
{
    m_entries.append({ name.endsWith(QLatin1Char('/')) ? name : name + QLatin1Char('/'), QByteArray(), false });
}

bool ZipWriter::write() const
{
    QuaZip zip(m_path);
    if (m_names == Names::Utf8) {
        zip.setUtf8Enabled(true);
    } else if (QTextCodec* codec = QTextCodec::codecForName(m_codecName)) {
        zip.setFileNameCodec(codec);
    } else {
        qWarning() << "Unknown codec for zip names" << m_codecName;
        return false;
    }
    if (!zip.open(QuaZip::mdCreate)) {
        qWarning() << "Cannot create zip" << m_path << zip.getZipError();
        return false;
    }
    for (const ZipEntry& entry : m_entries) {
        QuaZipFile file(&zip);
        QuaZipNewInfo info(entry.name);
        const int method = entry.compressed ? Z_DEFLATED : 0;
        const int level = entry.compressed ? Z_DEFAULT_COMPRESSION : 0;
        if (!file.open(QIODevice::WriteOnly, info, nullptr, 0, method, level)) {
            qWarning() << "Cannot add zip entry" << entry.name << file.getZipError();
            return false;
        }
        if (!entry.data.isEmpty() && file.write(entry.data) != entry.data.size()) {
            qWarning() << "Cannot write zip entry" << entry.name;
            return false;
        }
        file.close();
        if (file.getZipError() != UNZ_OK) {
            qWarning() << "Cannot close zip entry" << entry.name << file.getZipError();
            return false;
        }
    }
    zip.close();
    return zip.getZipError() == ZIP_OK;
}

bool ZipWriter::write(const QString& path, const QList<ZipEntry>& entries)
{
    ZipWriter writer(path);
    for (const ZipEntry& entry : entries)
        writer.add(entry);
    return writer.write();
}
