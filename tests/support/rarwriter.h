#pragma once

#include "zipwriter.h"

#include <QByteArray>
#include <QList>
#include <QString>

// RAR 4 (or 5) archives of stored entries with correct CRCs. Names are written as given, hostile
// ones too; encryption and volume flags only mark the headers, the bytes stay in the clear.
struct RarEntry {
    QString name;
    QByteArray data;
    bool folder = false;
    bool encrypted = false;
    bool continuesInNextVolume = false;
};

class RarWriter {
public:
    enum class Format { Rar4, Rar5 };

    explicit RarWriter(const QString& path)
        : m_path(path)
    {
    }

    void setFormat(Format format) { m_format = format; }
    // RAR 4 names in this code page without the Unicode flag (RAR 5 names are always UTF-8).
    void setNameCodec(const QByteArray& codecName) { m_codecName = codecName; }
    // The first volume of a multi-volume set.
    void setVolume(bool volume) { m_volume = volume; }
    void setEncryptedHeaders(bool encrypted) { m_encryptedHeaders = encrypted; }
    void add(const QString& name, const QByteArray& data) { m_entries.append({ name, data }); }
    void addFolder(const QString& name) { m_entries.append({ name, QByteArray(), true }); }
    void add(const RarEntry& entry) { m_entries.append(entry); }

    QByteArray toByteArray() const { return m_format == Format::Rar5 ? rar5() : rar4(); }
    bool write() const;
    static bool write(const QString& path, const QList<ZipEntry>& files);

private:
    QByteArray rar4() const;
    QByteArray rar4FileHeader(const RarEntry& entry) const;
    QByteArray rar5() const;
    QByteArray rar5FileHeader(const RarEntry& entry) const;

    QString m_path;
    Format m_format = Format::Rar4;
    QByteArray m_codecName;
    bool m_volume = false;
    bool m_encryptedHeaders = false;
    QList<RarEntry> m_entries;
};
