#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

// Writes real ZIP archives for tests through QuaZip. Entry names are written exactly as
// given, including "../" and absolute names, so tests can build hostile archives too.
struct ZipEntry {
    QString name; // a name ending in "/" makes a folder entry
    QByteArray data;
    bool compressed = true; // deflate, or stored when false
};

class ZipWriter {
public:
    enum class Names {
        Utf8, // names in UTF-8 with the language-encoding flag set
        Codec // names in codecName without the flag (legacy archives, e.g. CP866)
    };

    explicit ZipWriter(const QString& path);

    void setNames(Names names, const QByteArray& codecName = QByteArray());
    void add(const QString& name, const QByteArray& data, bool compressed = true);
    void addFolder(const QString& name);
    void add(const ZipEntry& entry) { m_entries.append(entry); }
    const QList<ZipEntry>& entries() const { return m_entries; }

    // Writes the archive; false (with a warning) when it cannot be written.
    bool write() const;

    // Convenience: one call for a list of entries.
    static bool write(const QString& path, const QList<ZipEntry>& entries);

private:
    QString m_path;
    Names m_names = Names::Utf8;
    QByteArray m_codecName;
    QList<ZipEntry> m_entries;
};
