#include "samplelibrary.h"

#include "appdirs.h"
#include "librarytestdb.h"
#include "models/bookprovider.h"
#include "testfiles.h"

#include <QDateTime>
#include <QSqlError>
#include <QSqlQuery>
#include <QtDebug>

namespace {

struct SampleBook {
    const char* key;
    QString title;
    QString author;
    int format;
    int readHoursAgo; // 0: never read
    bool favorite;
    bool deleted;
    const char* folder;
    const char* fileName; // null: no file on disk
};

const QList<SampleBook>& sampleBooks()
{
    static const QList<SampleBook> books = {
        { "war", QStringLiteral("War and Peace"), QStringLiteral("Leo Tolstoy"), 0, 24, true, false, "Classics",
            "War and Peace.epub" },
        { "anna", QStringLiteral("Anna Karenina"), QStringLiteral("Leo Tolstoy"), 2, 70 * 24, false, false, "Classics",
            "Anna Karenina.fb2" },
        { "christie", QStringLiteral("…And Then There Were None"), QStringLiteral("Agatha Christie"), 1, 0, false,
            false, "Mystery", "And Then There Were None.mobi" },
        { "hound", QStringLiteral("The Hound of the Baskervilles"), QStringLiteral("Arthur Conan Doyle"), 3, 3 * 24,
            true, false, "Mystery", "hound.pdf" },
        { "watchmen", QStringLiteral("Watchmen"), QStringLiteral("Alan Moore"), 6, 2 * 24, false, false, nullptr,
            "Watchmen.cbz" },
        { "master", QStringLiteral("Мастер и Маргарита"), QStringLiteral("Михаил Булгаков"), 2, 0, false, false,
            nullptr, "Мастер и Маргарита.fb2" },
        { "blank", QString(), QStringLiteral("   "), 8, 0, false, false, nullptr, nullptr },
        { "notes", QStringLiteral("Old Notes"), QString(), 3, 0, true, true, "Mystery", "old notes.pdf" },
        { "dune", QStringLiteral("Dune"), QStringLiteral("Frank Herbert"), 0, 12, false, false, nullptr, "Dune.epub" },
        { "odd", QStringLiteral("Strange Format"), QStringLiteral("Nobody"), 12, 0, false, false, nullptr,
            "strange.xyz" },
    };
    return books;
}

} // namespace

const QStringList& SampleLibrary::bookKeys()
{
    static const QStringList keys = [] {
        QStringList list;
        for (const SampleBook& book : sampleBooks())
            list.append(QLatin1String(book.key));
        return list;
    }();
    return keys;
}

SampleLibrary::SampleLibrary()
    : m_home(std::make_unique<TempHome>())
{
    m_open = m_home->isValid() && BookProvider::instance()->createConnection(databasePath());
}

SampleLibrary::~SampleLibrary()
{
    closeLibrary();
    m_home.reset();
}

quint32 SampleLibrary::now() { return quint32(QDateTime::currentSecsSinceEpoch()); }

QString SampleLibrary::writeBookFile(const QString& name, int size) const
{
    const QString path = m_home->filePath(QStringLiteral("Library/") + name);
    if (!testfiles::write(path, QByteArray(size, 'b')))
        qWarning() << "Cannot write the book file" << path;
    return path;
}

int SampleLibrary::addBook(const BookDto& book)
{
    const int id = BookProvider::instance()->add(book);
    if (id <= 0)
        qWarning() << "Cannot add" << book.title << BookProvider::instance()->lastError();
    return id;
}

bool SampleLibrary::populate()
{
    // One commit for the whole library instead of one per statement.
    QSqlQuery transaction;
    if (!transaction.exec(QStringLiteral("BEGIN")))
        return false;
    const bool ok = [this] {
        BookProvider* db = BookProvider::instance();
        for (const char* title : { "Classics", "Mystery", "Science Fiction" }) {
            const int id = db->addCategory(QLatin1String(title), 0);
            if (id <= 0)
                return false;
            m_folders.insert(QLatin1String(title), id);
        }
        const QList<SampleBook>& books = sampleBooks();
        for (int i = 0; i < books.size(); ++i) {
            const SampleBook& sample = books.at(i);
            BookDto book;
            book.full_path = sample.fileName ? writeBookFile(QString::fromUtf8(sample.fileName), 1000 + 100 * i)
                                             : m_home->filePath(QStringLiteral("Library/missing.txt"));
            book.cover = book.full_path + QStringLiteral(".jpg");
            book.title = sample.title;
            book.author = sample.author;
            book.format = sample.format;
            // Oldest first, a day apart: the database lists them newest first.
            book.time_added = hoursAgo((books.size() - i) * 24);
            book.time_last_view = sample.readHoursAgo ? hoursAgo(sample.readHoursAgo) : 0;
            book.position = 10 * i;
            book.max_position = 5 * i;
            book.is_favorite = sample.favorite ? 1 : 0;
            book.is_deleted = sample.deleted ? 1 : 0;
            book.notes_count = i;
            book.book_hash = QStringLiteral("hash-") + QLatin1String(sample.key);
            if (QLatin1String(sample.key) == QLatin1String("master"))
                book.metadata.insert(6, QStringLiteral("Роман о дьяволе в Москве."));
            const int id = addBook(book);
            if (id <= 0)
                return false;
            if (sample.folder && !db->addBookToCategory(id, folder(QLatin1String(sample.folder))))
                return false;
            m_ids.insert(QLatin1String(sample.key), id);
            m_paths.insert(QLatin1String(sample.key), book.full_path);
        }
        return true;
    }();
    return transaction.exec(ok ? QStringLiteral("COMMIT") : QStringLiteral("ROLLBACK")) && ok;
}

bool SampleLibrary::refuse(const QString& table, const QString& event)
{
    QSqlQuery query;
    const bool ok = query.exec(QStringLiteral(
        "CREATE TRIGGER refuse_%1_%2 BEFORE %2 ON %1 BEGIN SELECT RAISE(ABORT, 'database is locked'); END")
                                   .arg(table, event));
    if (!ok)
        qWarning() << query.lastError().text();
    return ok;
}

bool SampleLibrary::allow(const QString& table, const QString& event)
{
    QSqlQuery query;
    return query.exec(QStringLiteral("DROP TRIGGER refuse_%1_%2").arg(table, event));
}
