// The library page's work on a large library: loading the book and folder models, sorting by
// every column, showing a category, searching. Usage: bench_librarymodels [book count, default 5000]

#include "enums.h"
#include "models/bookmodel.h"
#include "models/bookprovider.h"
#include "models/booksortfiltermodel.h"
#include "models/foldermodel.h"
#include "samplelibrary.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QSqlQuery>
#include <QTextStream>

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("Brindle Folvane"));
    const int count = argc > 1 ? QString::fromLocal8Bit(argv[1]).toInt() : 5000;
    QTextStream out(stdout);

    SampleLibrary library; // empty, in a temporary HOME
    if (!library.isOpen()) {
        out << "cannot create the library\n";
        return 1;
    }
    BookProvider* db = BookProvider::instance();
    const quint32 now = static_cast<quint32>(QDateTime::currentSecsSinceEpoch());
    QSqlQuery().exec(QStringLiteral("BEGIN"));
    QList<int> folderIds;
    for (int f = 0; f < 20; ++f)
        folderIds.append(db->addCategory(QStringLiteral("Shelf %1").arg(f), 0));
    for (int i = 0; i < count; ++i) {
        BookDto book;
        book.full_path = library.home().filePath(QStringLiteral("Books/%1 — Volume %2.epub").arg(i % 97).arg(i));
        book.title = QStringLiteral("%1Volume %2 of the collected works").arg(i % 4 ? "" : "…").arg(i);
        book.author = QStringLiteral("Author %1").arg(i % 211);
        book.format = i % 11;
        book.time_added = now - quint32(i) * 60;
        book.time_last_view = i % 3 ? now - quint32(i) * 600 : 0;
        book.max_position = i % 1000;
        const int id = db->add(book);
        if (i % 4)
            db->addBookToCategory(id, folderIds.at(i % 20));
    }
    QSqlQuery().exec(QStringLiteral("COMMIT"));

    QElapsedTimer timer;
    timer.start();
    FolderModel folders;
    folders.reload();
    BookModel books;
    books.setFolderModel(&folders);
    books.selectAll();
    BookSortFilterModel proxy;
    proxy.setSourceModel(&books);
    out << "load " << books.rowCount() << " books, " << folders.rowCount() << " folders: " << timer.elapsed()
        << " ms\n";

    for (int column = 0; column < BookModel::ColumnCount; ++column) {
        timer.restart();
        proxy.sort(column, Qt::AscendingOrder);
        out << "sort by " << books.headerData(column, Qt::Horizontal).toString() << ": " << timer.elapsed() << " ms\n";
    }
    const int categories[] = { Enums::RecentlyRead, Enums::Favorites, Enums::BookFormat + 3,
        Enums::MaxBookFormat + folderIds.at(5), Enums::AllBooks };
    for (int category : categories) {
        timer.restart();
        proxy.setFilterCategory(category);
        out << "category " << category << ": " << proxy.rowCount() << " rows in " << timer.elapsed() << " ms\n";
    }
    for (const char* text : { "volume 12", "author 1[0-9]", "" }) {
        timer.restart();
        proxy.setSearchText(QString::fromLatin1(text));
        out << "search \"" << text << "\": " << proxy.rowCount() << " rows in " << timer.elapsed() << " ms\n";
    }
    return 0;
}
