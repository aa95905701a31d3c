#pragma once

#include "temphome.h"

#include <QHash>
#include <QString>
#include <QStringList>

#include <memory>

struct BookDto;

// A small realistic library database in a temporary HOME, open while the object lives.
class SampleLibrary {
public:
    // The books populate() adds, oldest first.
    static const QStringList& bookKeys();

    SampleLibrary();
    ~SampleLibrary();
    SampleLibrary(const SampleLibrary&) = delete;
    SampleLibrary& operator=(const SampleLibrary&) = delete;

    bool isOpen() const { return m_open; }
    const TempHome& home() const { return *m_home; }

    // Adds the folders "Classics", "Mystery" and "Science Fiction" and the books listed in
    // sampleBooks() (samplelibrary.cpp), each but "blank" with a file of 1000 + 100 x position bytes.
    bool populate();

    int id(const QString& key) const { return m_ids.value(key, -1); }
    QString path(const QString& key) const { return m_paths.value(key); }
    int folder(const QString& title) const { return m_folders.value(title, -1); }

    // A book file of this size under the home's "Library" folder.
    QString writeBookFile(const QString& name, int size) const;
    int addBook(const BookDto& book);

    // Statements of the kind ("INSERT", "UPDATE", "DELETE") on the table fail as on a locked
    // database, until allow().
    bool refuse(const QString& table, const QString& event);
    bool allow(const QString& table, const QString& event);

    static quint32 now();
    static quint32 hoursAgo(int hours) { return now() - quint32(hours) * 3600u; }

private:
    std::unique_ptr<TempHome> m_home;
    bool m_open = false;
    QHash<QString, int> m_ids;
    QHash<QString, QString> m_paths;
    QHash<QString, int> m_folders;
};
