#pragma once

#include "temphome.h"

#include <QHash>
#include <QString>
#include <QStringList>

#include <memory>

struct BookDto;

// A small, realistic library in a temporary HOME: a real library database on the default
// connection, book files of distinct sizes on disk, folders, favourites, books in the trash,
// books read recently and long ago. Open for the lifetime of the object.
class SampleLibrary {
public:
    // Keys of the books that populate() adds, in the order they were added (oldest first).
    static const QStringList& bookKeys();

    SampleLibrary();
    ~SampleLibrary();
    SampleLibrary(const SampleLibrary&) = delete;
    SampleLibrary& operator=(const SampleLibrary&) = delete;

    bool isOpen() const { return m_open; }
    const TempHome& home() const { return *m_home; }

    // Adds the folders "Classics", "Mystery" and "Science Fiction" and the books of bookKeys():
    //   war        "War and Peace", Leo Tolstoy, epub, favourite, read a day ago, Classics
    //   anna       "Anna Karenina", Leo Tolstoy, fb2, read 70 days ago, Classics
    //   christie   "…And Then There Were None", Agatha Christie, mobi, never read, Mystery
    //   hound      "The Hound of the Baskervilles", Arthur Conan Doyle, pdf, favourite, read 3 days ago, Mystery
    //   watchmen   "Watchmen", Alan Moore, cbz, read 2 days ago
    //   master     "Мастер и Маргарита", Михаил Булгаков, fb2, never read, description stored
    //   blank      empty title, blank author, txt, its file missing
    //   notes      "Old Notes", no author, pdf, in the trash, favourite, Mystery
    //   dune       "Dune", Frank Herbert, epub, read 12 hours ago
    //   odd        "Strange Format", Nobody, format code 12
    // Every book but blank has a file of its own size (1000 + 100 x its position bytes).
    bool populate();

    int id(const QString& key) const { return m_ids.value(key, -1); }
    QString path(const QString& key) const { return m_paths.value(key); }
    int folder(const QString& title) const { return m_folders.value(title, -1); }

    // A book file of the given size under the home's "Library" folder; its absolute path.
    QString writeBookFile(const QString& name, int size) const;
    // Adds a book through the database; its id, or -1.
    int addBook(const BookDto& book);

    // Makes every statement of the kind ("INSERT", "UPDATE", "DELETE") on the table fail, as a
    // locked or read-only database would, until allow() lifts it.
    bool refuse(const QString& table, const QString& event);
    bool allow(const QString& table, const QString& event);

    static quint32 now();
    static quint32 hoursAgo(int hours);

private:
    bool addSampleBooks();

    std::unique_ptr<TempHome> m_home;
    bool m_open = false;
    QHash<QString, int> m_ids;
    QHash<QString, QString> m_paths;
    QHash<QString, int> m_folders;
};
