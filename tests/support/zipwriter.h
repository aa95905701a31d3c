#pragma once

#include <QByteArray>
#include <QDebug>
#include <QList>
#include <QString>
#include <QTextCodec>

#include <quazip/quazip.h>
#include <quazip/quazipfile.h>
#include <quazip/quazipnewinfo.h>

#include <zlib.h>

// Real ZIP archives through QuaZip; names are written as given, hostile ones too.
struct ZipEntry {
    QString name; // a name ending in "/" makes a folder entry
    QByteArray data;
    bool compressed = true; // deflate, or stored when false
};

class ZipWriter {
public:
    explicit ZipWriter(const QString& path)
        : m_path(path)
    {
    }

    // Names in this legacy code page without the language-encoding flag, instead of UTF-8.
    void setNameCodec(const QByteArray& codecName) { m_codecName = codecName; }
    void add(const QString& name, const QByteArray& data, bool compressed = true)
    {
        m_entries.append({ name, data, compressed });
    }
    void add(const ZipEntry& entry) { m_entries.append(entry); }
    const QList<ZipEntry>& entries() const { return m_entries; }

    // False (with a warning) when it cannot be written.
    bool write() const
    {
        QuaZip zip(m_path);
        if (m_codecName.isEmpty()) {
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
            const int method = entry.compressed ? Z_DEFLATED : 0;
            const int level = entry.compressed ? Z_DEFAULT_COMPRESSION : 0;
            const bool written = file.open(QIODevice::WriteOnly, QuaZipNewInfo(entry.name), nullptr, 0, method, level)
                && (entry.data.isEmpty() || file.write(entry.data) == entry.data.size());
            file.close();
            if (!written || file.getZipError() != UNZ_OK) {
                qWarning() << "Cannot write zip entry" << entry.name << file.getZipError();
                return false;
            }
        }
        zip.close();
        return zip.getZipError() == ZIP_OK;
    }

    static bool write(const QString& path, const QList<ZipEntry>& entries)
    {
        ZipWriter writer(path);
        for (const ZipEntry& entry : entries)
            writer.add(entry);
        return writer.write();
    }

private:
    QString m_path;
    QByteArray m_codecName;
    QList<ZipEntry> m_entries;
};
