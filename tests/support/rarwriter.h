#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

// Writes RAR 4 archives with stored (uncompressed) entries byte by byte: marker, main
// header, one file header per entry with correct header and data CRCs, end block. Names are
// written exactly as given (also "../" and absolute names), so tests can build hostile
// archives; the flags below make encrypted and multi-volume cases.
struct RarEntry {
    QString name; // "/" or "\\" separated as given
    QByteArray data;
    bool folder = false;
    bool encrypted = false; // data flagged as enciphered (the bytes are written as given)
    bool continuesInNextVolume = false;
};

class RarWriter {
public:
    enum class Names {
        Unicode, // non-ASCII names in UTF-8 with the header's Unicode flag
        Codec // names in codecName without the flag (old DOS archives, e.g. IBM 866)
    };

    explicit RarWriter(const QString& path);

    void setNames(Names names, const QByteArray& codecName = QByteArray());
    // Marks the archive as the first volume of a multi-volume set.
    void setVolume(bool volume) { m_volume = volume; }
    void add(const QString& name, const QByteArray& data);
    void addFolder(const QString& name);
    void add(const RarEntry& entry) { m_entries.append(entry); }

    QByteArray toByteArray() const;
    // Writes the archive; false (with a warning) when it cannot be written.
    bool write() const;

private:
    QByteArray fileHeader(const RarEntry& entry) const;

    QString m_path;
    Names m_names = Names::Unicode;
    QByteArray m_codecName;
    bool m_volume = false;
    QList<RarEntry> m_entries;
};
