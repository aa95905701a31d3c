#include "modeltesthelpers.h"
#include "samplelibrary.h"
#include "testfiles.h"

#include "appdirs.h"
#include "dragdata.h"
#include "enums.h"
#include "kelapplication.h"
#include "models/bookmodel.h"
#include "models/bookprovider.h"
#include "models/foldermodel.h"
#include "settingsprovider.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMimeData>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>
#include <QUuid>

#include <memory>

namespace {

// Every column of a row and nothing else, as the model's refresh of a changed row names them.
void verifyRowRefresh(const QSignalSpy& spy, int row)
{
    QCOMPARE(spy.count(), 1);
    const QModelIndex from = spy.at(0).at(0).value<QModelIndex>();
    const QModelIndex to = spy.at(0).at(1).value<QModelIndex>();
    QCOMPARE(from.row(), row);
    QCOMPARE(from.column(), 0);
    QCOMPARE(to.row(), row);
    QCOMPARE(to.column(), int(BookModel::FilePathColumn));
    QCOMPARE(spy.at(0).at(2).value<QVector<int>>(), QVector<int>({ Qt::DisplayRole }));
}

// Writes a book's custom cover and its data folder with a state file, as reading it would.
void writeBookFiles(const QString& bookPath)
{
    QVERIFY(testfiles::write(coverFilePath(bookPath), "jpeg"));
    QVERIFY(testfiles::write(bookDataDir(bookPath) + QStringLiteral("/.settings"), "{}"));
}

// How many of the book's cover and data folder exist (asking for the data folder would make it).
int bookFileCount(const QString& bookPath)
{
    return int(QFile::exists(coverFilePath(bookPath)))
        + int(QFileInfo::exists(booksDir() + QLatin1Char('/') + md5Hex(bookPath)));
}

} // namespace

class TestBookModel : public QObject {
    Q_OBJECT

    std::unique_ptr<SampleLibrary> lib;
    std::unique_ptr<LibraryModels> models;
    FolderModel* folders = nullptr;
    BookModel* books = nullptr;
    BookProvider* db = BookProvider::instance();

    SettingsProvider* settings() { return SettingsProvider::instance(); }
    int row(const QString& key) { return books->indexById(lib->id(key)).row(); }
    QModelIndex at(const QString& key, int column = 0) { return books->index(row(key), column); }
    QVariant role(const QString& key, int role) { return at(key).data(role); }
    int folderCount(const QString& title)
    {
        return folders->indexById(lib->folder(title)).siblingAtColumn(FolderModel::BookCountColumn).data().toInt();
    }
    bool act(const QString& key, Enums::LibraryAction action, const QVariant& value = QVariant())
    {
        return books->setData(at(key), value, action);
    }
    // The model's rows as the database has them: same ids, same order as loaded, same flags.
    void verifyMatchesDatabase()
    {
        QCOMPARE(books->rowCount(), db->allBooks().size());
        for (int r = 0; r < books->rowCount(); ++r) {
            const int id = books->index(r, 0).data(BookModel::IdRole).toInt();
            QCOMPARE(books->indexById(id).row(), r);
            const BookDto stored = db->bookById(id);
            QCOMPARE(stored.id, id);
            QCOMPARE(books->index(r, 0).data(BookModel::DeletedRole).toBool(), stored.is_deleted == 1);
            QCOMPARE(books->index(r, 0).data(BookModel::FavoriteRole).toBool(), stored.is_favorite == 1);
        }
    }

private slots:
    void init()
    {
        lib = std::make_unique<SampleLibrary>();
        QVERIFY(lib->isOpen());
        QVERIFY(lib->populate());
        models = std::make_unique<LibraryModels>();
        folders = &models->folders;
        books = &models->books;
        settings()->setLast_book_id(-1);
    }

    void cleanup()
    {
        models.reset();
        lib.reset();
    }

    void rowsAreTheLibraryNewestFirst()
    {
        QCOMPARE(books->rowCount(), 10);
        QCOMPARE(books->columnCount(), 10);
        QCOMPARE(bookKeysInOrder(*books, *lib),
            QStringList({ "odd", "dune", "notes", "blank", "master", "watchmen", "hound", "christie", "anna", "war" }));
        for (int r = 0; r < books->rowCount(); ++r)
            QCOMPARE(books->index(r, 3).data(BookModel::RowModuloRole).toInt(), r % 10);
        // Loading again replaces the rows.
        books->selectAll();
        QCOMPARE(books->rowCount(), 10);
        verifyMatchesDatabase();
    }

    // Each role of one book from its stored record, and each column the value of its role.
    void rolesAndColumnsOfOneBook()
    {
        const QString path = lib->path("hound");
        const QModelIndex hound = at("hound", 6);
        const BookDto record = hound.data(BookModel::BookRole).value<BookDto>();
        QCOMPARE(record.full_path, path);
        QCOMPARE(record.book_hash, QStringLiteral("hash-hound"));
        const QList<QPair<int, QVariant>> expected = { { BookModel::IdRole, lib->id("hound") },
            { BookModel::TitleRole, "The Hound of the Baskervilles" }, { BookModel::AuthorRole, "Arthur Conan Doyle" },
            { BookModel::CoverRole, path + ".jpg" }, { BookModel::NotesCountRole, 3 }, { BookModel::FormatRole, 3 },
            { BookModel::FormatNameRole, "pdf" }, { BookModel::DeletedRole, false }, { BookModel::FavoriteRole, true },
            { BookModel::DescriptionRole, "" }, { BookModel::FilePathRole, QDir::toNativeSeparators(path) },
            { BookModel::FileNameRole, "hound.pdf" }, { BookModel::ProgressRole, 15 },
            { BookModel::CategoryIdRole, lib->folder("Mystery") }, { BookModel::CategoryNameRole, "Mystery" },
            { BookModel::FileSizeRole, 1300 }, { BookModel::UserCoverRole, false } };
        for (const auto& role : expected)
            QVERIFY2(
                hound.data(role.first).toString() == role.second.toString(), qPrintable(QString::number(role.first)));
        QCOMPARE(hound.data(BookModel::DateAddedRole).toDateTime().toSecsSinceEpoch(), qint64(record.time_added));
        QCOMPARE(hound.data(BookModel::LastViewRole).toDateTime().toSecsSinceEpoch(), qint64(record.time_last_view));
        // Roles outside the set give nothing.
        for (int other :
            { int(Qt::EditRole), int(Qt::DecorationRole), int(Qt::UserRole), BookModel::UserCoverRole + 1 })
            QVERIFY(!hound.data(other).isValid());
        QVERIFY(!books->data(QModelIndex(), BookModel::IdRole).isValid());

        const int columnRoles[] = { BookModel::TitleRole, BookModel::AuthorRole, BookModel::DateAddedRole,
            BookModel::NotesCountRole, BookModel::ProgressRole, BookModel::LastViewRole, BookModel::FormatNameRole,
            BookModel::CategoryNameRole, BookModel::FileSizeRole, BookModel::FilePathRole };
        for (int column = 0; column < BookModel::ColumnCount; ++column)
            QCOMPARE(hound.siblingAtColumn(column).data(), hound.data(columnRoles[column]));
    }

    void blankUnknownAndMissingValues()
    {
        // Empty and blank texts show "Unknown", a missing file size 0, a format code without a name
        // nothing; a book in no folder has id 0 and no folder name; the description is the database's.
        const QList<std::tuple<const char*, int, QString>> expected { { "blank", BookModel::TitleRole, "Unknown" },
            { "blank", BookModel::AuthorRole, "Unknown" }, { "notes", BookModel::AuthorRole, "Unknown" },
            { "blank", BookModel::FileSizeRole, "0" }, { "blank", BookModel::FormatNameRole, "txt" },
            { "odd", BookModel::FormatRole, "12" }, { "odd", BookModel::FormatNameRole, "" },
            { "dune", BookModel::CategoryIdRole, "0" }, { "dune", BookModel::CategoryNameRole, "" },
            { "master", BookModel::DescriptionRole, QStringLiteral("Роман о дьяволе в Москве.") },
            { "master", BookModel::FileNameRole, QStringLiteral("Мастер и Маргарита.fb2") } };
        for (const auto& [key, dataRole, text] : expected)
            QVERIFY2(role(key, dataRole).toString() == text, key);
        QCOMPARE(at("blank", BookModel::NameColumn).data().toString(), QStringLiteral("Unknown"));
        // Never read: no last view.
        QVERIFY(!role("christie", BookModel::LastViewRole).isValid());
        QVERIFY(!at("christie", BookModel::LastViewColumn).data().isValid());
        // Without a folder model there is no folder name to show.
        BookModel alone;
        alone.selectAll();
        QCOMPARE(alone.index(row("hound"), 0).data(BookModel::CategoryNameRole).toString(), QString());
        QCOMPARE(alone.index(row("hound"), 0).data(BookModel::CategoryIdRole).toInt(), lib->folder("Mystery"));
    }

    void dragOfRowsCarriesTheirIds()
    {
        QVERIFY(at("dune").flags() & Qt::ItemIsDragEnabled);
        QVERIFY(!(at("notes").flags() & Qt::ItemIsDragEnabled)); // in the trash
        QCOMPARE(books->mimeTypes(), QStringList({ bookIdsMimeType() }));

        // Two selected rows, every column: each id once per index.
        QModelIndexList indexes;
        for (const char* key : { "war", "master" }) {
            for (int column = 0; column < BookModel::ColumnCount; ++column)
                indexes.append(at(key, column));
        }
        std::unique_ptr<QMimeData> mime(books->mimeData(indexes));
        QVERIFY(mime);
        QCOMPARE(mime->formats(), QStringList({ bookIdsMimeType() }));
        const QList<int> ids = bookIdsFromMimeData(mime.get());
        QCOMPARE(ids.size(), 20);
        QCOMPARE(ids.count(lib->id("war")), 10);
        QCOMPARE(ids.count(lib->id("master")), 10);
        QCOMPARE(ids.first(), lib->id("war"));
        QCOMPARE(ids.last(), lib->id("master"));

        // The folder model files them when they are dropped on a folder.
        const QModelIndex scienceFiction = folders->indexById(lib->folder("Science Fiction"));
        QVERIFY(folders->dropMimeData(mime.get(), Qt::CopyAction, -1, -1, scienceFiction));
        QCOMPARE(role("war", BookModel::CategoryNameRole).toString(), QStringLiteral("Science Fiction"));
        QCOMPARE(role("master", BookModel::CategoryNameRole).toString(), QStringLiteral("Science Fiction"));
        QCOMPARE(folderCount("Science Fiction"), 2);
        QCOMPARE(folderCount("Classics"), 1);
    }

    void addBookAppendsOnlyWhatWasStored()
    {
        QSignalSpy inserted(books, &QAbstractItemModel::rowsInserted);
        BookDto book;
        book.full_path = lib->writeBookFile(QStringLiteral("Solaris.epub"), 4321);
        book.title = QStringLiteral("Solaris");
        book.author = QStringLiteral("Stanisław Lem");
        book.time_added = SampleLibrary::now();
        book.metadata.insert(6, QStringLiteral("A planet that thinks."));
        const int id = books->addBook(book);
        QVERIFY(id > 0);
        QCOMPARE(inserted.count(), 1);
        QCOMPARE(inserted.at(0).at(1).toInt(), 10);
        QCOMPARE(books->rowCount(), 11);
        QCOMPARE(books->indexById(id).row(), 10);
        QCOMPARE(books->index(10, 0).data().toString(), QStringLiteral("Solaris"));
        QCOMPARE(books->index(10, 0).data(BookModel::FileSizeRole).toLongLong(), 4321);
        QCOMPARE(
            books->index(10, 0).data(BookModel::DescriptionRole).toString(), QStringLiteral("A planet that thinks."));
        QCOMPARE(books->bookById(id).title, QStringLiteral("Solaris"));

        // A refused insert leaves the model as it was.
        QVERIFY(lib->refuse("books", "INSERT"));
        book.full_path = lib->writeBookFile(QStringLiteral("Fiasco.epub"), 10);
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("Cannot add the book.*database is locked"));
        QVERIFY(books->addBook(book) < 0);
        QCOMPARE(inserted.count(), 1);
        QCOMPARE(books->rowCount(), 11);
        verifyMatchesDatabase();
    }

    void openStoresTheViewTime()
    {
        QSignalSpy opened(books, &BookModel::openBookClicked);
        QSignalSpy changed(books, &QAbstractItemModel::dataChanged);
        const quint32 before = SampleLibrary::now();
        QVERIFY(act("christie", Enums::Open));
        QCOMPARE(opened.count(), 1);
        QCOMPARE(opened.at(0).at(0).toInt(), lib->id("christie"));
        verifyRowRefresh(changed, row("christie"));
        const qint64 shown = role("christie", BookModel::LastViewRole).toDateTime().toSecsSinceEpoch();
        QVERIFY(shown >= before && shown <= SampleLibrary::now());
        QCOMPARE(qint64(db->bookById(lib->id("christie")).time_last_view), shown);

        // Refused: the book still opens, nothing else changes.
        QVERIFY(lib->refuse("books", "UPDATE"));
        QVERIFY(!act("master", Enums::Open));
        QCOMPARE(opened.count(), 2);
        QCOMPARE(opened.at(1).at(0).toInt(), lib->id("master"));
        QCOMPARE(changed.count(), 1);
        QVERIFY(!role("master", BookModel::LastViewRole).isValid());
    }

    void favouriteAndTrashActions_data()
    {
        QTest::addColumn<QString>("key");
        QTest::addColumn<int>("action");
        QTest::addColumn<int>("undo");
        QTest::addColumn<int>("dataRole");
        QTest::addColumn<bool>("foldersReload");
        QTest::newRow("to favourites") << "dune" << int(Enums::ToFavorite) << int(Enums::FromFavorite)
                                       << int(BookModel::FavoriteRole) << false;
        QTest::newRow("from favourites") << "war" << int(Enums::FromFavorite) << int(Enums::ToFavorite)
                                         << int(BookModel::FavoriteRole) << false;
        QTest::newRow("to trash") << "war" << int(Enums::ToTrash) << int(Enums::RestoreFromTrash)
                                  << int(BookModel::DeletedRole) << true;
        QTest::newRow("restore") << "notes" << int(Enums::RestoreFromTrash) << int(Enums::ToTrash)
                                 << int(BookModel::DeletedRole) << true;
    }

    void favouriteAndTrashActions()
    {
        QFETCH(QString, key);
        QFETCH(int, action);
        QFETCH(int, undo);
        QFETCH(int, dataRole);
        QFETCH(bool, foldersReload);
        const bool before = role(key, dataRole).toBool();
        QSignalSpy changed(books, &QAbstractItemModel::dataChanged);
        QSignalSpy folderReset(folders, &QAbstractItemModel::modelReset);

        // Refused by the database: no change anywhere.
        QVERIFY(lib->refuse("books", "UPDATE"));
        QVERIFY(!act(key, Enums::LibraryAction(action)));
        QCOMPARE(role(key, dataRole).toBool(), before);
        QCOMPARE(changed.count(), 0);
        QCOMPARE(folderReset.count(), 0);
        QVERIFY(lib->allow("books", "UPDATE"));

        QVERIFY(act(key, Enums::LibraryAction(action)));
        QCOMPARE(role(key, dataRole).toBool(), !before);
        verifyRowRefresh(changed, row(key));
        QCOMPARE(folderReset.count(), foldersReload ? 1 : 0);
        verifyMatchesDatabase();
        // Repeated: nothing to do.
        QVERIFY(!act(key, Enums::LibraryAction(action)));
        QCOMPARE(changed.count(), 1);
        QVERIFY(act(key, Enums::LibraryAction(undo)));
        QCOMPARE(role(key, dataRole).toBool(), before);
        verifyMatchesDatabase();
    }

    void trashChangesFolderCounts()
    {
        QCOMPARE(folderCount("Classics"), 2);
        QVERIFY(act("war", Enums::ToTrash));
        QCOMPARE(folderCount("Classics"), 1);
        QVERIFY(act("notes", Enums::RestoreFromTrash));
        QCOMPARE(folderCount("Mystery"), 3);
    }

    void propertiesAsksForTheDialog()
    {
        QSignalSpy asked(books, &BookModel::showPropertiesClicked);
        QVERIFY(act("dune", Enums::Properties));
        QCOMPARE(asked.count(), 1);
        QCOMPARE(asked.at(0).at(0).value<QModelIndex>(), at("dune"));
        // Roles outside the actions, and indexes outside the rows, do nothing.
        QVERIFY(!books->setData(at("dune"), QVariant(), Enums::NoAction));
        QVERIFY(!books->setData(at("dune"), QVariant(), 11));
        QVERIFY(!books->setData(QModelIndex(), QVariant(), Enums::Properties));
        QCOMPARE(asked.count(), 1);
    }

    void moveToFolderAndBack()
    {
        QSignalSpy changed(books, &QAbstractItemModel::dataChanged);
        // From Classics to Science Fiction in one step.
        QVERIFY(act("war", Enums::MoveToFolder, lib->folder("Science Fiction")));
        QCOMPARE(role("war", BookModel::CategoryIdRole).toInt(), lib->folder("Science Fiction"));
        QCOMPARE(at("war", BookModel::CategoryNameColumn).data().toString(), QStringLiteral("Science Fiction"));
        QCOMPARE(folderCount("Classics"), 1);
        QCOMPARE(folderCount("Science Fiction"), 1);
        QCOMPARE(changed.count(), 1);
        // Already there, or no such folder: nothing.
        QVERIFY(!act("war", Enums::MoveToFolder, lib->folder("Science Fiction")));
        QVERIFY(!act("war", Enums::MoveToFolder, 999));
        QVERIFY(!act("war", Enums::MoveToFolder, QStringLiteral("not a folder")));
        QCOMPARE(role("war", BookModel::CategoryIdRole).toInt(), lib->folder("Science Fiction"));
        // A book in no folder.
        QVERIFY(act("dune", Enums::MoveToFolder, lib->folder("Science Fiction")));
        QCOMPARE(folderCount("Science Fiction"), 2);

        // A refused move keeps the book in its folder and the counts.
        QVERIFY(lib->refuse("book_folder_binder", "INSERT"));
        QVERIFY(!act("hound", Enums::MoveToFolder, lib->folder("Classics")));
        QCOMPARE(role("hound", BookModel::CategoryIdRole).toInt(), lib->folder("Mystery"));
        QCOMPARE(folderCount("Mystery"), 2);
        QCOMPARE(folderCount("Classics"), 1);
        QVERIFY(lib->allow("book_folder_binder", "INSERT"));

        QVERIFY(act("hound", Enums::RemoveFromFolder));
        QCOMPARE(role("hound", BookModel::CategoryIdRole).toInt(), 0);
        QCOMPARE(folderCount("Mystery"), 1);
        QVERIFY(!act("hound", Enums::RemoveFromFolder));
        QVERIFY(lib->refuse("book_folder_binder", "DELETE"));
        QVERIFY(!act("christie", Enums::RemoveFromFolder));
        QCOMPARE(role("christie", BookModel::CategoryIdRole).toInt(), lib->folder("Mystery"));
        QCOMPARE(folderCount("Mystery"), 1);
    }

    void updateReplacesTheRecord()
    {
        QSignalSpy titles(books, &BookModel::titleChanged);
        QSignalSpy authors(books, &BookModel::authorChanged);
        QSignalSpy changed(books, &QAbstractItemModel::dataChanged);
        BookDto book = role("master", BookModel::BookRole).value<BookDto>();
        book.title = QStringLiteral("The Master and Margarita");
        book.use_user_cover = true;
        book.metadata.insert(6, QStringLiteral("The devil visits Moscow."));

        // Refused: nothing changes, nothing is announced.
        QVERIFY(lib->refuse("books", "UPDATE"));
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("Cannot update the book.*database is locked"));
        QVERIFY(!act("master", Enums::UpdateItem, QVariant::fromValue(book)));
        QCOMPARE(role("master", BookModel::TitleRole).toString(), QStringLiteral("Мастер и Маргарита"));
        QCOMPARE(role("master", BookModel::DescriptionRole).toString(), QStringLiteral("Роман о дьяволе в Москве."));
        QCOMPARE(titles.count() + authors.count() + changed.count(), 0);
        QVERIFY(lib->allow("books", "UPDATE"));

        QVERIFY(act("master", Enums::UpdateItem, QVariant::fromValue(book)));
        QCOMPARE(titles.count(), 1);
        QCOMPARE(titles.at(0).at(0).toInt(), lib->id("master"));
        QCOMPARE(authors.count(), 0);
        verifyRowRefresh(changed, row("master"));
        QCOMPARE(role("master", BookModel::TitleRole).toString(), book.title);
        QVERIFY(role("master", BookModel::UserCoverRole).toBool());
        QCOMPARE(role("master", BookModel::DescriptionRole).toString(), QStringLiteral("The devil visits Moscow."));
        QCOMPARE(db->bookById(lib->id("master")).title, book.title);
        QVERIFY(db->bookById(lib->id("master")).use_user_cover);
        // A record read back from the database carries no description: the stored one stays.
        act("master", Enums::UpdateItem, QVariant::fromValue(db->bookById(lib->id("master"))));
        QCOMPARE(db->getMetaData(lib->id("master"), 6), QStringLiteral("The devil visits Moscow."));

        // The reading side's record was read from the database when the book was opened, without
        // metadata; the library changed the book since. Only progress and notes count are taken.
        BookDto fromReader = books->bookById(lib->id("master"));
        QVERIFY(act("master", Enums::ToFavorite));
        QVERIFY(act("master", Enums::ToTrash));
        fromReader.notes_count = 42;
        fromReader.max_position = 37;
        fromReader.author = QStringLiteral("M. Bulgakov");
        QVERIFY(books->updateBookInfo(fromReader));
        QCOMPARE(authors.count(), 0);
        QCOMPARE(role("master", BookModel::NotesCountRole).toInt(), 42);
        QCOMPARE(role("master", BookModel::ProgressRole).toInt(), 37);
        QVERIFY(role("master", BookModel::FavoriteRole).toBool());
        QVERIFY(role("master", BookModel::DeletedRole).toBool());
        QCOMPARE(role("master", BookModel::DescriptionRole).toString(), QStringLiteral("The devil visits Moscow."));
        const BookDto stored = db->bookById(lib->id("master"));
        QCOMPARE(stored.notes_count, 42);
        QCOMPARE(stored.max_position, 37);
        QCOMPARE(stored.is_favorite, 1);
        QCOMPARE(stored.is_deleted, 1);
        QCOMPARE(stored.title, book.title);
        QVERIFY(stored.author != fromReader.author);

        // Another book's record, a value that is no record, an unknown book: refused.
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("Update of row .* refused"));
        QVERIFY(!act("dune", Enums::UpdateItem, QVariant::fromValue(fromReader)));
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("Update of row .* refused"));
        QVERIFY(!act("dune", Enums::UpdateItem, QStringLiteral("Dune")));
        BookDto stranger = fromReader;
        stranger.id = 999;
        QVERIFY(!books->updateBookInfo(stranger));
        QCOMPARE(role("dune", BookModel::TitleRole).toString(), QStringLiteral("Dune"));
        QCOMPARE(db->bookById(999).id, -1);
    }

    void deleteRemovesTheBookEverywhere()
    {
        const QString path = lib->path("watchmen");
        writeBookFiles(path);
        QCOMPARE(bookFileCount(path), 2);
        settings()->setLast_book_id(lib->id("watchmen"));
        QSignalSpy removed(books, &QAbstractItemModel::rowsRemoved);

        // Refused: the book, its cover and its reading state stay.
        QVERIFY(lib->refuse("books", "DELETE"));
        QVERIFY(!act("watchmen", Enums::DeleteFromLibrary));
        QCOMPARE(books->rowCount(), 10);
        QCOMPARE(removed.count(), 0);
        QVERIFY(QFile::exists(coverFilePath(path)));
        QVERIFY(QFile::exists(bookDataDir(path) + QStringLiteral("/.settings")));
        QCOMPARE(settings()->last_book_id(), lib->id("watchmen"));
        QVERIFY(lib->allow("books", "DELETE"));

        const int watchmenRow = row("watchmen");
        QVERIFY(act("watchmen", Enums::DeleteFromLibrary));
        QCOMPARE(removed.count(), 1);
        QCOMPARE(removed.at(0).at(1).toInt(), watchmenRow);
        QCOMPARE(books->rowCount(), 9);
        QVERIFY(!books->indexById(lib->id("watchmen")).isValid());
        QCOMPARE(db->bookById(lib->id("watchmen")).id, -1);
        QCOMPARE(bookFileCount(path), 0);
        QVERIFY(QFile::exists(path)); // the book file itself is the user's
        QCOMPARE(settings()->last_book_id(), -1);
        verifyMatchesDatabase();

        // Another book: the last opened one stays.
        settings()->setLast_book_id(lib->id("war"));
        QVERIFY(act("odd", Enums::DeleteFromLibrary));
        QCOMPARE(settings()->last_book_id(), lib->id("war"));
        verifyMatchesDatabase();
    }

    void deleteRefreshesFolderCounts()
    {
        QCOMPARE(folderCount("Mystery"), 2);
        QVERIFY(act("hound", Enums::DeleteFromLibrary));
        QCOMPARE(folderCount("Mystery"), 1);
    }

    void clearTrashDeletesTrashedBooks()
    {
        QVERIFY(act("war", Enums::ToTrash));
        for (const char* key : { "war", "notes", "dune" })
            writeBookFiles(lib->path(key));
        settings()->setLast_book_id(lib->id("war"));
        QSignalSpy reset(books, &QAbstractItemModel::modelReset);

        QVERIFY(lib->refuse("books", "DELETE"));
        QVERIFY(!books->clearTrash());
        QCOMPARE(books->rowCount(), 10);
        QCOMPARE(reset.count(), 0);
        QCOMPARE(bookFileCount(lib->path("war")), 2);
        QCOMPARE(settings()->last_book_id(), lib->id("war"));
        QVERIFY(lib->allow("books", "DELETE"));

        QVERIFY(books->clearTrash());
        QCOMPARE(reset.count(), 1);
        QCOMPARE(bookKeysInOrder(*books, *lib),
            QStringList({ "odd", "dune", "blank", "master", "watchmen", "hound", "christie", "anna" }));
        verifyMatchesDatabase();
        QCOMPARE(bookFileCount(lib->path("war")), 0);
        QCOMPARE(bookFileCount(lib->path("notes")), 0);
        QCOMPARE(bookFileCount(lib->path("dune")), 2);
        QCOMPARE(settings()->last_book_id(), -1);
        QCOMPARE(folderCount("Classics"), 1);

        // An empty trash: nothing to do.
        QVERIFY(!books->clearTrash());
        QCOMPARE(reset.count(), 1);
    }

    // A trashed book added again from its file shares the cover and data folder named after the
    // path: purging the old copy, either way, keeps them for the live one.
    void purgeKeepsFilesOfTheSameFileAddedAgain()
    {
        const QString path = lib->path("war");
        int id = lib->id("war");
        for (bool emptyTrash : { false, true }) {
            QVERIFY(books->setData(books->indexById(id), QVariant(), Enums::ToTrash));
            BookDto again = db->bookById(id);
            again.is_deleted = 0;
            const int liveId = books->addBook(again);
            writeBookFiles(path);
            QVERIFY(emptyTrash ? books->clearTrash()
                               : books->setData(books->indexById(id), QVariant(), Enums::DeleteFromLibrary));
            QCOMPARE(bookFileCount(path), 2);
            QVERIFY(books->indexById(liveId).isValid());
            verifyMatchesDatabase();
            id = liveId;
        }
    }

    void clearLibraryAndRestoreAll()
    {
        QSignalSpy reset(books, &QAbstractItemModel::modelReset);
        QVERIFY(lib->refuse("books", "UPDATE"));
        QVERIFY(!books->clearLibrary());
        QVERIFY(!books->restoreFromTrashAll());
        QCOMPARE(reset.count(), 0);
        QCOMPARE(columnTexts(*books, BookModel::DeletedRole).count(QStringLiteral("true")), 1);
        QVERIFY(lib->allow("books", "UPDATE"));

        QVERIFY(books->clearLibrary());
        QCOMPARE(columnTexts(*books, BookModel::DeletedRole).count(QStringLiteral("true")), 10);
        QCOMPARE(folderCount("Classics"), 0);
        verifyMatchesDatabase();

        QVERIFY(books->restoreFromTrashAll());
        QCOMPARE(columnTexts(*books, BookModel::DeletedRole).count(QStringLiteral("true")), 0);
        QCOMPARE(folderCount("Mystery"), 3);
        verifyMatchesDatabase();
        QCOMPARE(reset.count(), 2);
        // Nothing in the trash: nothing to restore.
        QVERIFY(!books->restoreFromTrashAll());
        QCOMPARE(reset.count(), 2);
    }

    void counts()
    {
        const QMap<int, QPair<int, int>> byFormat = books->bookCountsByFormat();
        QCOMPARE(byFormat.keys(), QList<int>({ 0, 1, 2, 3, 6, 8 }));
        QCOMPARE(byFormat.value(0), qMakePair(0, 2));
        QCOMPARE(byFormat.value(2), qMakePair(2, 2));
        QCOMPARE(byFormat.value(3), qMakePair(3, 1)); // the trashed pdf is not counted

        const CategoryCountsDto counts = books->categoryCounts();
        QCOMPARE(counts.all_count, 9);
        QCOMPARE(counts.recently_read_count, 4);
        QCOMPARE(counts.favorites_count, 2);
        QCOMPARE(counts.deleted_count, 1);
        QCOMPARE(books->findCategoryByBook(lib->id("anna")), lib->folder("Classics"));
        QCOMPARE(books->findCategoryByBook(lib->id("dune")), 0);
    }
};

// The last-book setting needs the application's settings object, and HOME must be temporary
// before anything asks Qt for the user's folders.
int main(int argc, char** argv)
{
    TempHome home;
    QCoreApplication::setApplicationName(QStringLiteral("Brindle Folvane"));
    KelApplication app(QUuid::createUuid().toString(), argc, argv);
    SettingsProvider settings(KelApplication::configFilePath(QStringLiteral("settings.ini")), QSettings::IniFormat);
    app.setSettings(&settings);
    TestBookModel test;
    const int result = QTest::qExec(&test, argc, argv);
    app.setSettings(nullptr);
    return result;
}

#include "tst_bookmodel.moc"
