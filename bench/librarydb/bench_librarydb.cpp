// Fills a fresh library the way the library page does (one add per book, each with its
// metadata) and reads it back. Usage: bench_librarydb [book count, default 10000]

#include "appdirs.h"
#include "formats/bookformat.h"
#include "models/bookprovider.h"
#include "temphome.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QSqlDatabase>
#include <QTextStream>

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

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("Brindle Folvane"));
    const int count = argc > 1 ? QString::fromLocal8Bit(argv[1]).toInt() : 10000;
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
    for (const BookDto& book : books)
        failed += db->add(book) > 0 ? 0 : 1;
    const qint64 addMs = timer.elapsed();
    out << "add " << count << " books x 8 metadata rows: " << addMs << " ms (" << failed << " failed)\n";

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

    timer.restart();
    db->clearLibrary();
    const QList<QString> removed = db->removeAllFromTrash();
    out << "clearLibrary + removeAllFromTrash: " << removed.size() << " books in " << timer.elapsed() << " ms\n";
    out.flush();

    QSqlDatabase::database().close();
    return failed || all.size() != count ? 1 : 0;
}
