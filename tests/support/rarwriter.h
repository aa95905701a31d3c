#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

// Writes RAR archives with stored (uncompressed) entries byte by byte: marker, main header,
// one file header per entry with correct header and data CRCs, end block; RAR 4 by default,
// RAR 5 on request. Names are written exactly as given (also "../" and absolute names), so
// tests can build hostile archives; the flags below make encrypted and multi-volume cases.
struct RarEntry {
    QString name; // "/" or "\\" separated as given
    QByteArray data;
    bool folder = false;
    bool encrypted = false; // data flagged as enciphered (the bytes are written as given)
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
    // RAR 4 names in this code page without the Unicode flag (old DOS archives, e.g. IBM 866),
    // instead of UTF-8 with the flag; RAR 5 names are always UTF-8.
    void setNameCodec(const QByteArray& codecName) { m_codecName = codecName; }
    // Marks the archive as the first volume of a multi-volume set.
    void setVolume(bool volume) { m_volume = volume; }
    // Marks the headers as enciphered (RAR 4 main-header flag, RAR 5 encryption header);
    // what follows is written in the clear, so only the marking is real.
    void setEncryptedHeaders(bool encrypted) { m_encryptedHeaders = encrypted; }
    void add(const QString& name, const QByteArray& data) { m_entries.append({ name, data }); }
    void addFolder(const QString& name) { m_entries.append({ name, QByteArray(), true }); }
    void add(const RarEntry& entry) { m_entries.append(entry); }

    QByteArray toByteArray() const;
    // Writes the archive; false (with a warning) when it cannot be written.
    bool write() const;

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
