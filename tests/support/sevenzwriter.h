#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

// Writes real 7z archives for tests through libarchive's 7z writer. Names are written
// exactly as given (UTF-8 names included, whatever the process locale).
class SevenZWriter {
public:
    explicit SevenZWriter(const QString& path)
        : m_path(path)
    {
    }

    // libarchive's 7zip "compression" option: "copy", "deflate", "bzip2", "lzma1", "lzma2",
    // "ppmd"; lzma2 by default.
    void setCompression(const QByteArray& method) { m_compression = method; }
    void add(const QString& name, const QByteArray& data) { m_entries.append({ name, data, false }); }
    void addFolder(const QString& name) { m_entries.append({ name, QByteArray(), true }); }

    // Writes the archive; false (with a warning) when it cannot be written.
    bool write() const;

private:
    struct Entry {
        QString name;
        QByteArray data;
        bool folder;
    };

    QString m_path;
    QByteArray m_compression = "lzma2";
    QList<Entry> m_entries;
};
