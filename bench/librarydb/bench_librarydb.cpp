// Fills a fresh library the way the library page does (one add per book, each with its
// metadata), reads it back and opens it again as a start of the program does, after a run that
// closed the library and after one that did not, with the file in the page cache and out of it, and
// salvages a copy whose books root is overwritten. Usage: bench_librarydb [book count, default
// 10000] [--bulk: add a thousand books to a transaction, for large counts]

#include "appdirs.h"
#include "formats/bookformat.h"
#include "models/bookprovider.h"
#include "models/librarysalvage.h"
#include "sqlitepages.h"
#include "temphome.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTextStream>

#include <fcntl.h>
#include <unistd.h>

namespace {

BookDto generatedBook(int i, quint32 now)
{
    static const QString authors[] = { QStringLiteral("Лев Толстой"), QStringLiteral("Jane Austen"),
        QStringLiteral("Haruki Murakami"), QStringLiteral("Gabriel García Márquez"), QStringLiteral("Stanisław Lem") };
    static const int formats[]
        = { BookFormat::Epub, BookFormat::Fb2, BookFormat::Pdf, BookFormat::Mobi, BookFormat::Cbz, BookFormat::Txt };
    const QString author = authors[i % 5];
    const QString title = QStringLiteral("Volume %1 of the collected works").arg(i);

    BookDto book;
    book.full_path = QStringLiteral("/home/reader/Книги/%1/%2 — %3.%4")
                         .arg(author, title)
                         .arg(i)
                         .arg(bookFormatName(formats[i % 6]));
    book.cover = QStringLiteral("/home/reader/.cache/covers/%1.jpg").arg(i);
    book.author = author;
    book.title = title;
    book.format = formats[i % 6];
    book.time_added = now - static_cast<quint32>(i);
    book.time_last_view = i % 3 ? now - static_cast<quint32>(i) * 600 : 0;
    book.max_position = 1000 + i % 700;
    book.book_hash = QString::number(qHash(book.full_path), 16);
    // Eight metadata rows, as the adding task fills them from an EPUB package.
    book.metadata = { { 0, QStringLiteral("urn:uuid:%1").arg(i) }, { 1, title }, { 2, author },
        { 4, QStringLiteral("Fiction; Classics") }, { 5, QStringLiteral("Publisher %1").arg(i % 40) },
        { 6, QStringLiteral("A long description of the book, as publishers write them. ").repeated(6) },
        { 10, QStringLiteral("en") }, { 11, QStringLiteral("Public domain") } };
    return book;
}

void closeDefaultConnection()
{
    QSqlDatabase::database().close();
    QSqlDatabase::removeDatabase(QLatin1String(QSqlDatabase::defaultConnection));
}

// Drops the file's pages from the page cache (only this file's), as after a reboot.
void evictFromCache(const QString& path)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY);
    if (fd < 0)
        return;
    ::fdatasync(fd);
    ::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
    ::close(fd);
}

// One run of the statement on its own connection, stepping through every row, in ms (-1 when
// it fails).
qint64 timeStatement(const QString& path, const QString& sql)
{
    qint64 ms = -1;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("bench"));
        db.setDatabaseName(path);
        QElapsedTimer timer;
        timer.start();
        if (db.open()) {
            QSqlQuery query(db);
            if (query.exec(sql) && query.next()) {
                while (query.next()) { }
                ms = timer.elapsed();
            }
        }
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("bench"));
    return ms;
}

// One start: the library opened, then every book read as the library page does at once. The
// run before ended as asked: closing the library (which records the file as it was left) or not
// (so the start checks the whole file).
bool timeStart(BookProvider* db, const QString& path, bool previousClosed, bool cold, QTextStream& out)
{
    if (previousClosed)
        db->closeConnection();
    else
        closeDefaultConnection();
    if (cold)
        evictFromCache(path);
    QElapsedTimer timer;
    timer.start();
    if (!db->createConnection(path)) {
        out << "cannot open the library\n";
        return false;
    }
    const qint64 opened = timer.elapsed();
    const int books = db->allBooks().size();
    out << "  after a run that " << (previousClosed ? "closed the library" : "did not close it") << ", "
        << (cold ? "cold" : "in the page cache") << ": createConnection " << opened << " ms, + allBooks (" << books
        << ") " << timer.elapsed() << " ms\n";
    return true;
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("Brindle Folvane"));
    const int count = argc > 1 ? QString::fromLocal8Bit(argv[1]).toInt() : 10000;
    const bool bulk = argc > 2 && QByteArray(argv[2]) == "--bulk";
    QTextStream out(stdout);
    TempHome home;
    BookProvider* db = BookProvider::instance();
    if (!db->createConnection(databasePath())) {
        out << "cannot create the library\n";
        return 1;
    }

    const quint32 now = static_cast<quint32>(QDateTime::currentSecsSinceEpoch());
    QList<BookDto> books;
    for (int i = 0; i < count; ++i)
        books.append(generatedBook(i, now));

    QElapsedTimer timer;
    timer.start();
    int failed = 0;
    if (bulk) {
        for (int from = 0; from < books.size(); from += 1000) {
            QList<int> ids;
            db->addAll(books.mid(from, 1000), ids);
            failed += ids.count(-1);
        }
    } else {
        for (const BookDto& book : books)
            failed += db->add(book) > 0 ? 0 : 1;
    }
    const qint64 addMs = timer.elapsed();
    out << "add " << count << " books x 8 metadata rows" << (bulk ? ", a thousand to a transaction: " : ": ") << addMs
        << " ms (" << failed << " failed)\n";

    timer.restart();
    const QList<BookDto> all = db->allBooks();
    out << "allBooks: " << all.size() << " rows in " << timer.elapsed() << " ms\n";

    timer.restart();
    const QList<BookDto> withFolders = db->allBooksWithFolderTitle();
    out << "allBooksWithFolderTitle: " << withFolders.size() << " rows in " << timer.elapsed() << " ms\n";

    timer.restart();
    int described = 0;
    for (const BookDto& book : all)
        described += db->getMetaData(book.id, 6).isEmpty() ? 0 : 1;
    out << "getMetaData(description) for every book: " << described << " in " << timer.elapsed() << " ms\n";

    timer.restart();
    const CategoryCountsDto counts = db->categoryCounts();
    out << "categoryCounts: all " << counts.all_count << ", recently read " << counts.recently_read_count << " in "
        << timer.elapsed() << " ms\n";

    // The start of the program on this library: the damage checks alone, then whole starts.
    const QString path = databasePath();
    out << "start on " << count << " books (file " << QFileInfo(path).size() / 1024 << " KiB):\n";
    closeDefaultConnection();
    // The last one reads what the library page reads at once: the pages the start check visits.
    for (const char* check : { "PRAGMA quick_check(1)", "PRAGMA quick_check(books)", "select * from books" }) {
        evictFromCache(path);
        const qint64 cold = timeStatement(path, QLatin1String(check));
        const qint64 warm = timeStatement(path, QLatin1String(check));
        out << "  " << check << ": " << cold << " ms cold, " << warm << " ms in the page cache\n";
    }
    if (!db->createConnection(path))
        return 1;
    for (const bool closed : { false, true }) {
        for (const bool cold : { true, false }) {
            if (!timeStart(db, path, closed, cold, out))
                return 1;
        }
    }
    out.flush();

    // A copy of the library whose books root is overwritten: the salvage reads every leaf off the
    // tree and carries it into a new file, alone and as part of a whole start.
    {
        const QString damaged = path + QStringLiteral(".damaged-copy");
        db->closeConnection();
        QFile::remove(damaged);
        if (!QFile::copy(path, damaged) || !db->createConnection(damaged))
            return 1;
        QSqlQuery root(QStringLiteral("select rootpage from sqlite_master where name = 'books'"));
        const int page = root.next() ? root.value(0).toInt() : 0;
        root.finish();
        closeDefaultConnection();
        const int pageSize = 4096;
        if (page < 2
            || !sqlitepages::overwrite(damaged, qint64(page - 1) * pageSize + 8, QByteArray(pageSize - 8, '\xff')))
            return 1;
        timer.restart();
        const LibrarySalvage::Result salvage = LibrarySalvage::rebuild(damaged, damaged + QStringLiteral(".part"));
        out << "salvage of the library with its books root overwritten: " << salvage.books << " books back in "
            << timer.elapsed() << " ms\n";
        QFile::remove(damaged + QStringLiteral(".part"));
        evictFromCache(damaged);
        timer.restart();
        if (!db->createConnection(damaged))
            return 1;
        const int back = db->allBooks().size();
        out << "  the start on it (check, salvage, open, allBooks), cold: " << back << " books in " << timer.elapsed()
            << " ms\n";
        db->closeConnection();
        if (!db->createConnection(path))
            return 1;
    }
    out.flush();

    timer.restart();
    db->clearLibrary();
    const QList<QString> removed = db->removeAllFromTrash();
    out << "clearLibrary + removeAllFromTrash: " << removed.size() << " books in " << timer.elapsed() << " ms\n";
    out.flush();

    QSqlDatabase::database().close();
    return failed || all.size() != count ? 1 : 0;
}
