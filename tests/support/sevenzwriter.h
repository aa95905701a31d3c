#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

// Real 7z archives through libarchive, names written as given whatever the process locale.
class SevenZWriter {
public:
    explicit SevenZWriter(const QString& path)
        : m_path(path)
    {
    }

    // libarchive's 7zip "compression" option ("copy", "lzma2", ...).
    void setCompression(const QByteArray& method) { m_compression = method; }
    void add(const QString& name, const QByteArray& data) { m_entries.append({ name, data, false }); }
    void addFolder(const QString& name) { m_entries.append({ name, QByteArray(), true }); }
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
