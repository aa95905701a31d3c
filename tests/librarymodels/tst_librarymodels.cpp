// The library's item models over a real library database: books, folders, and the filtering and
// sorting view of the books, wired and loaded as the application does at start-up.

#include "librarytestdb.h"
#include "samplelibrary.h"
#include "testfiles.h"
#include "textrows.h"

#include "appdirs.h"
#include "dragdata.h"
#include "enums.h"
#include "formats/bookformat.h"
#include "kelapplication.h"
#include "models/bookmodel.h"
#include "models/bookprovider.h"
#include "models/booksortfiltermodel.h"
#include "models/foldermodel.h"
#include "settingsprovider.h"

#include <QAbstractItemModelTester>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMimeData>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QStandardItemModel>
#include <QTest>
#include <QUuid>

#include <memory>

namespace {

const quint32 kSixtyDays = 60 * 24 * 3600;

// The folder and book models and the view of the books, each checked by a model tester.
struct LibraryModels {
    LibraryModels()
    {
        folders.reload();
        books.setFolderModel(&folders);
        books.selectAll();
        proxy.setSourceModel(&books);
    }
    FolderModel folders;
    BookModel books;
    BookSortFilterModel proxy;
    QAbstractItemModelTester folderTester { &folders, QAbstractItemModelTester::FailureReportingMode::QtTest };
    QAbstractItemModelTester bookTester { &books, QAbstractItemModelTester::FailureReportingMode::QtTest };
    QAbstractItemModelTester proxyTester { &proxy, QAbstractItemModelTester::FailureReportingMode::QtTest };
};

// The values of one column (or role) of every row, in row order, as texts.
QStringList columnTexts(const QAbstractItemModel& model, int role, int column = 0)
{
    QStringList texts;
    for (int row = 0; row < model.rowCount(); ++row)
        texts.append(model.index(row, column).data(role).toString());
    return texts;
}

// Every column of a row and nothing else, as the model's refresh of a changed row names them.
void verifyRowRefresh(const QSignalSpy& spy, int row)
{
    QCOMPARE(spy.count(), 1);
    const QModelIndex from = spy.at(0).at(0).value<QModelIndex>();
    const QModelIndex to = spy.at(0).at(1).value<QModelIndex>();
    QCOMPARE(QList<int>({ from.row(), from.column(), to.row(), to.column() }),
        QList<int>({ row, 0, row, int(BookModel::FilePathColumn) }));
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

// Drag data of the given book ids, written by the program's own writer.
QMimeData* bookDrag(const QList<int>& ids)
{
    QStandardItemModel rows;
    QModelIndexList indexes;
    for (int id : ids) {
        auto* item = new QStandardItem;
        item->setData(id, Qt::UserRole + 1);
        rows.appendRow(item);
        indexes.append(item->index());
    }
    return bookIdsToMimeData(indexes);
}

} // namespace

class TestLibraryModels : public QObject {
    Q_OBJECT

    std::unique_ptr<SampleLibrary> lib;
    std::unique_ptr<LibraryModels> models;
    FolderModel* folders = nullptr;
    BookModel* books = nullptr;
    BookSortFilterModel* proxy = nullptr;
    BookProvider* db = BookProvider::instance();
    int m_added = 0;

    // A fresh library (the sample books and folders, or none), and the models over it.
    void reload(bool populate)
    {
        cleanup();
        lib = std::make_unique<SampleLibrary>();
        QVERIFY(lib->isOpen());
        if (populate)
            QVERIFY(lib->populate());
        loadModels();
    }
    // Loads the models over the library as it is now.
    void loadModels()
    {
        models.reset();
        models = std::make_unique<LibraryModels>();
        folders = &models->folders;
        books = &models->books;
        proxy = &models->proxy;
    }
    // The keys of the sample library's books in the row order of a model of books.
    QStringList keysOf(const QAbstractItemModel& model)
    {
        QStringList keys;
        for (int row = 0; row < model.rowCount(); ++row) {
            const int id = model.index(row, 0).data(BookModel::IdRole).toInt();
            QString key = QStringLiteral("?%1").arg(id);
            for (const QString& candidate : SampleLibrary::bookKeys()) {
                if (lib->id(candidate) == id)
                    key = candidate;
            }
            keys.append(key);
        }
        return keys;
    }
    QStringList shown() { return keysOf(*proxy); }
    int addBook(const QString& title, quint32 lastView, const QString& fileName = QString())
    {
        BookDto book;
        book.title = title;
        book.author = QStringLiteral("Anonymous");
        book.full_path = lib->writeBookFile(fileName.isEmpty() ? title + QStringLiteral(".epub") : fileName, 10);
        // Each one newer than the last, so the model's order is known.
        book.time_added = SampleLibrary::now() + quint32(++m_added);
        book.time_last_view = lastView;
        return books->addBook(book);
    }
    int category(const QString& key)
    {
        if (key.startsWith(QLatin1String("folder:")))
            return Enums::MaxBookFormat + lib->folder(key.mid(7));
        return key.toInt();
    }
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
    QStringList titles() { return columnTexts(*folders, Qt::DisplayRole); }
    QModelIndex folderIndex(const QString& title) { return folders->indexById(lib->folder(title)); }
    // Drops the books on a folder row the way a view does: on the item, no row.
    bool dropOn(const QString& title, const QList<int>& ids)
    {
        std::unique_ptr<QMimeData> mime(bookDrag(ids));
        return folders->dropMimeData(mime.get(), Qt::CopyAction, -1, -1, folderIndex(title));
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
        // The counts of the side bar, which the model keeps between changes, are the library's.
        const auto counts = [](const CategoryCountsDto& c) {
            return QVector<int> { c.all_count, c.last_added_count, c.recently_read_count, c.favorites_count,
                c.deleted_count };
        };
        QCOMPARE(counts(books->categoryCounts()), counts(db->categoryCounts()));
        const QMap<int, QPair<int, int>> byFormat = books->bookCountsByFormat();
        for (int format = BookFormat::Epub; format <= BookFormat::SevenZ; ++format)
            QCOMPARE(byFormat.value(format).second, db->bookCountByFormat(format));
    }

private slots:
    void init()
    {
        reload(true);
        settings()->setLast_book_id(-1);
    }

    void cleanup()
    {
        models.reset();
        lib.reset();
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
        const int columnRoles[] = { BookModel::TitleRole, BookModel::AuthorRole, BookModel::DateAddedRole,
            BookModel::NotesCountRole, BookModel::ProgressRole, BookModel::LastViewRole, BookModel::FormatNameRole,
            BookModel::CategoryNameRole, BookModel::FileSizeRole, BookModel::FilePathRole };
        for (int column = 0; column < BookModel::ColumnCount; ++column)
            QCOMPARE(hound.siblingAtColumn(column).data(), hound.data(columnRoles[column]));
    }

    void addBookAppendsOnlyWhatWasStored()
    {
        QSignalSpy inserted(books, &QAbstractItemModel::rowsInserted);
        verifyMatchesDatabase();
        QVERIFY(lib->refuse("books", "INSERT"));
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("Cannot add the book.*database is locked"));
        QVERIFY(addBook(QStringLiteral("Fiasco"), 0) < 0);
        QCOMPARE(inserted.count(), 0);
        QCOMPARE(books->rowCount(), 10);
        QVERIFY(lib->allow("books", "INSERT"));
        const int id = addBook(QStringLiteral("Solaris"), 0);
        QCOMPARE(books->indexById(id).row(), 10);
        QCOMPARE(inserted.count(), 1);
        verifyMatchesDatabase();
        // Loading again replaces the rows.
        books->selectAll();
        verifyMatchesDatabase();
    }

    void dragOfRowsCarriesTheirIds()
    {
        QVERIFY(at("dune").flags() & Qt::ItemIsDragEnabled);
        QVERIFY(!(at("notes").flags() & Qt::ItemIsDragEnabled)); // in the trash
        std::unique_ptr<QMimeData> mime(books->mimeData({ at("war"), at("master") }));
        QCOMPARE(mime->formats(), QStringList({ bookIdsMimeType() }));
        QCOMPARE(bookIdsFromMimeData(mime.get()), QList<int>({ lib->id("war"), lib->id("master") }));
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
        QTest::newRow("from favourites") << "war" << int(Enums::FromFavorite) << int(Enums::ToFavorite)
                                         << int(BookModel::FavoriteRole) << false;
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
        // The way back is announced alike.
        QVERIFY(act(key, Enums::LibraryAction(undo)));
        QCOMPARE(role(key, dataRole).toBool(), before);
        QCOMPARE(changed.count(), 2);
        QCOMPARE(folderReset.count(), foldersReload ? 2 : 0);
        verifyMatchesDatabase();
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

    // Deleting a book or emptying the trash takes the rows, records, covers and reading states (not
    // the book files, which are the user's) and the last-book setting naming one; refused, all stays.
    void deletingTakesTheBooksFilesAlong()
    {
        const QString path = lib->path("watchmen");
        QVERIFY(act("war", Enums::ToTrash));
        for (const char* key : { "watchmen", "war", "notes", "dune" })
            writeBookFiles(lib->path(key));
        settings()->setLast_book_id(lib->id("watchmen"));
        QSignalSpy removed(books, &QAbstractItemModel::rowsRemoved);
        QSignalSpy reset(books, &QAbstractItemModel::modelReset);

        QVERIFY(lib->refuse("books", "DELETE"));
        QVERIFY(!act("watchmen", Enums::DeleteFromLibrary));
        QVERIFY(!books->clearTrash());
        QCOMPARE(books->rowCount(), 10);
        QCOMPARE(removed.count() + reset.count(), 0);
        QCOMPARE(bookFileCount(path) + bookFileCount(lib->path("war")), 4);
        QCOMPARE(settings()->last_book_id(), lib->id("watchmen"));
        QVERIFY(lib->allow("books", "DELETE"));

        const int watchmenRow = row("watchmen");
        QVERIFY(act("watchmen", Enums::DeleteFromLibrary));
        QCOMPARE(removed.count(), 1);
        QCOMPARE(removed.at(0).at(1).toInt(), watchmenRow);
        QCOMPARE(db->bookById(lib->id("watchmen")).id, -1);
        QCOMPARE(bookFileCount(path), 0);
        QVERIFY(QFile::exists(path));
        QCOMPARE(settings()->last_book_id(), -1);

        settings()->setLast_book_id(lib->id("war"));
        QVERIFY(books->clearTrash());
        QCOMPARE(reset.count(), 1);
        QCOMPARE(keysOf(*books), QStringList({ "odd", "dune", "blank", "master", "hound", "christie", "anna" }));
        verifyMatchesDatabase();
        QCOMPARE(bookFileCount(lib->path("war")) + bookFileCount(lib->path("notes")), 0);
        QCOMPARE(bookFileCount(lib->path("dune")), 2);
        QCOMPARE(settings()->last_book_id(), -1);
        QCOMPARE(folderCount("Classics"), 1);
        // The filings of the deleted books went with them; a book's metadata goes with it.
        QCOMPARE(scalar(QStringLiteral("select count(*) from book_folder_binder")), QStringLiteral("3"));
        // An empty trash: nothing to do. Deleting another book keeps the last one.
        QVERIFY(!books->clearTrash());
        QCOMPARE(reset.count(), 1);
        settings()->setLast_book_id(lib->id("anna"));
        QVERIFY(act("master", Enums::DeleteFromLibrary));
        QCOMPARE(settings()->last_book_id(), lib->id("anna"));
        QCOMPARE(scalar(QStringLiteral("select count(*) from book_metadata")), QStringLiteral("0"));
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
        // Counts by format leave the trashed pdf out.
        const QMap<int, QPair<int, int>> byFormat = books->bookCountsByFormat();
        QCOMPARE(byFormat.keys(), QList<int>({ 0, 1, 2, 3, 6, 8 }));
        QCOMPARE(byFormat.value(2), qMakePair(2, 2));
        QCOMPARE(byFormat.value(3), qMakePair(3, 1));
        QCOMPARE(books->categoryCounts().favorites_count, 2);
        QSignalSpy reset(books, &QAbstractItemModel::modelReset);
        QVERIFY(lib->refuse("books", "UPDATE"));
        QVERIFY(!books->clearLibrary());
        QVERIFY(!books->restoreFromTrashAll());
        QCOMPARE(reset.count(), 0);
        QCOMPARE(columnTexts(*books, BookModel::DeletedRole).count(QStringLiteral("true")), 1);
        QVERIFY(lib->allow("books", "UPDATE"));

        // A book stored while the question was open is not among those the answer trashes.
        const int lastAsked = books->lastId();
        BookDto late;
        late.title = QStringLiteral("Stored under the question");
        late.full_path = QStringLiteral("/books/late.epub");
        const int lateId = books->addBook(late);
        QVERIFY(lateId > lastAsked);
        QVERIFY(books->clearLibrary(lastAsked));
        QCOMPARE(columnTexts(*books, BookModel::DeletedRole).count(QStringLiteral("true")), 10);
        QCOMPARE(books->indexById(lateId).data(BookModel::DeletedRole).toBool(), false);
        verifyMatchesDatabase();
        QVERIFY(books->clearLibrary());
        QVERIFY(books->setData(books->indexById(lateId), QVariant(), Enums::DeleteFromLibrary));
        QVERIFY(!books->indexById(lateId).isValid());
        QCOMPARE(columnTexts(*books, BookModel::DeletedRole).count(QStringLiteral("true")), 10);
        QCOMPARE(books->categoryCounts().deleted_count, 10);
        QCOMPARE(folderCount("Classics"), 0);
        QVERIFY(db->allBooksWithFolderTitle().isEmpty()); // the export leaves trashed books out
        verifyMatchesDatabase();

        QVERIFY(books->restoreFromTrashAll());
        QCOMPARE(columnTexts(*books, BookModel::DeletedRole).count(QStringLiteral("true")), 0);
        QCOMPARE(folderCount("Mystery"), 3);
        verifyMatchesDatabase();
        QCOMPARE(reset.count(), 3);
        // Nothing in the trash: nothing to restore.
        QVERIFY(!books->restoreFromTrashAll());
        QCOMPARE(reset.count(), 3);
    }

    void rowsColumnsAndRoles()
    {
        QCOMPARE(titles(), QStringList({ "Classics", "Mystery", "Science Fiction" }));
        // The trashed book of Mystery is not counted.
        QCOMPARE(columnTexts(*folders, Qt::DisplayRole, 1), QStringList({ "2", "2", "0" }));
        const QModelIndex mystery = folderIndex("Mystery");
        QCOMPARE(mystery.siblingAtColumn(FolderModel::IdColumn).data().toInt(), lib->folder("Mystery"));
        QCOMPARE(mystery.data(Qt::UserRole).value<CategoryDto>().book_count, 2);
        QVERIFY(mystery.flags() & Qt::ItemIsDropEnabled);
        QVERIFY(!folders->indexById(999).isValid());

        // Titles show trimmed; the record keeps them as stored.
        QVERIFY(db->addCategory(QStringLiteral("  Poetry "), 0) > 0);
        folders->reload();
        QCOMPARE(titles().first(), QStringLiteral("Poetry"));
        QCOMPARE(folders->index(0, 0).data(Qt::UserRole).value<CategoryDto>().title, QStringLiteral("  Poetry "));
    }

    // A folder is found by its exact title and added only when missing; new folders get a free name,
    // at the top; a refused insert adds nothing.
    void foldersAreFoundOrAdded()
    {
        QSignalSpy inserted(folders, &QAbstractItemModel::rowsInserted);
        QCOMPARE(folders->findOrAddCategory(QStringLiteral("Mystery")), lib->folder("Mystery"));
        QCOMPARE(inserted.count(), 0);
        const int lower = folders->findOrAddCategory(QStringLiteral("new category"));
        QVERIFY(lower > 0);
        QCOMPARE(folders->findOrAddCategory(QStringLiteral("new category")), lower);
        QVERIFY(folders->findOrAddCategory(QStringLiteral("mystery")) != lib->folder("Mystery"));
        QCOMPARE(folders->findOrAddCategory(QString()), -1);
        QCOMPARE(folders->findOrAddCategory(QStringLiteral("  ")), -1);
        for (int i = 0; i < 3; ++i)
            folders->createCategory();
        QCOMPARE(inserted.count(), 5);
        QCOMPARE(titles().mid(0, 4), QStringList({ "New category 2", "New category 1", "New category", "mystery" }));
        // They are stored.
        folders->reload();
        QCOMPARE(folders->rowCount(), 8);

        QVERIFY(lib->refuse("folders", "INSERT"));
        inserted.clear();
        folders->createCategory();
        QCOMPARE(folders->findOrAddCategory(QStringLiteral("Drama")), -1);
        QCOMPARE(inserted.count(), 0);
        QCOMPARE(folders->rowCount(), 8);
    }

    void removeCategoryKeepsItsBooks()
    {
        QSignalSpy removed(folders, &QAbstractItemModel::rowsRemoved);
        QVERIFY(lib->refuse("folders", "DELETE"));
        folders->removeCategory(lib->folder("Mystery"));
        QCOMPARE(removed.count(), 0);
        QVERIFY(lib->allow("folders", "DELETE"));

        folders->removeCategory(lib->folder("Mystery"));
        QCOMPARE(removed.count(), 1);
        QCOMPARE(removed.at(0).at(1).toInt(), 1);
        QCOMPARE(titles(), QStringList({ "Classics", "Science Fiction" }));
        QCOMPARE(db->bookById(lib->id("hound")).id, lib->id("hound"));
        QCOMPARE(db->findCategoryByBook(lib->id("hound")), 0);
        QCOMPARE(scalar(QStringLiteral("select count(*) from book_folder_binder")), QStringLiteral("2"));
        folders->removeCategory(999);
        QCOMPARE(removed.count(), 1);
    }

    void renameMovesTheRowToItsPlace()
    {
        reload(false);
        for (const char* title : { "Beta", "Gamma", "Zeta" })
            QVERIFY(db->addCategory(QLatin1String(title), 0) > 0);
        folders->reload();
        const int zeta = folders->index(2, FolderModel::IdColumn).data().toInt();
        QSignalSpy moved(folders, &QAbstractItemModel::rowsMoved);
        QSignalSpy changed(folders, &QAbstractItemModel::dataChanged);

        folders->renameCategory(zeta, QStringLiteral("Alpha"));
        QCOMPARE(titles(), QStringList({ "Alpha", "Beta", "Gamma" }));
        QCOMPARE(moved.count(), 1);
        QCOMPARE(changed.count(), 1);
        QCOMPARE(folders->indexById(zeta).row(), 0);

        // Down to the end.
        folders->renameCategory(zeta, QStringLiteral("Omega"));
        QCOMPARE(titles(), QStringList({ "Beta", "Gamma", "Omega" }));
        QCOMPARE(moved.count(), 2);
        // Into the middle.
        const int beta = folders->index(0, FolderModel::IdColumn).data().toInt();
        folders->renameCategory(beta, QStringLiteral("Delta"));
        QCOMPARE(titles(), QStringList({ "Delta", "Gamma", "Omega" }));
        QCOMPARE(moved.count(), 2); // already in place
        QCOMPARE(db->allCategories().at(0).title, QStringLiteral("Delta"));

        // The same title, a title another folder has, no title, an unknown folder: nothing.
        changed.clear();
        folders->renameCategory(beta, QStringLiteral("Delta"));
        folders->renameCategory(beta, QStringLiteral("Gamma"));
        folders->renameCategory(beta, QString());
        folders->renameCategory(999, QStringLiteral("Epsilon"));
        QCOMPARE(titles(), QStringList({ "Delta", "Gamma", "Omega" }));
        QCOMPARE(changed.count() + moved.count(), 2);

        // The only folder stays where it is.
        for (int id : { beta, zeta })
            folders->removeCategory(id);
        folders->renameCategory(folders->index(0, FolderModel::IdColumn).data().toInt(), QStringLiteral("Zzz"));
        QCOMPARE(titles(), QStringList({ "Zzz" }));
        QCOMPARE(moved.count(), 2);
    }

    // Drops as an item view makes them: on an item, at a row (which wins over the parent), past the
    // end; what is no drop of library books, or is refused by the database, files nothing.
    void dropsFileBooksInFolders()
    {
        const auto dropDuneAt = [this](int row, const QModelIndex& parent) {
            std::unique_ptr<QMimeData> mime(bookDrag({ lib->id("dune") }));
            return folders->dropMimeData(mime.get(), Qt::CopyAction, row, 0, parent);
        };
        const auto counts = [this] { return columnTexts(*folders, Qt::DisplayRole, 1).join(','); };
        QVERIFY(dropDuneAt(3, QModelIndex()));
        QVERIFY(dropDuneAt(-1, QModelIndex()));
        QCOMPARE(db->findCategoryByBook(lib->id("dune")), 0);
        QVERIFY(dropDuneAt(0, folderIndex("Science Fiction")));
        QCOMPARE(db->findCategoryByBook(lib->id("dune")), lib->folder("Classics"));
        QVERIFY(dropDuneAt(2, QModelIndex()));
        QCOMPARE(counts(), QStringLiteral("2,2,1"));
        // Twice the same book counts once; a book already there changes nothing.
        QSignalSpy changed(folders, &QAbstractItemModel::dataChanged);
        QVERIFY(dropOn("Mystery", { lib->id("watchmen"), lib->id("watchmen"), lib->id("hound") }));
        QCOMPARE(changed.count(), 1);
        QVERIFY(dropOn("Mystery", { lib->id("war") }));
        QCOMPARE(counts(), QStringLiteral("1,4,1"));

        const QModelIndex target = folderIndex("Science Fiction");
        std::unique_ptr<QMimeData> mime(bookDrag({ lib->id("christie") }));
        QVERIFY(folders->dropMimeData(mime.get(), Qt::IgnoreAction, -1, -1, target));
        QMimeData files;
        files.setText(QStringLiteral("4|7|"));
        QVERIFY(!folders->dropMimeData(&files, Qt::CopyAction, -1, -1, target));
        QMimeData empty;
        empty.setData(bookIdsMimeType(), QByteArray(4, '\0')); // a count of 0
        QVERIFY(!folders->dropMimeData(&empty, Qt::CopyAction, -1, -1, target));
        QVERIFY(!folders->dropMimeData(nullptr, Qt::CopyAction, -1, -1, target));
        // Ids of no library book are skipped, the others filed.
        QTest::ignoreMessage(QtWarningMsg, "Dropped book 999 is not in the library");
        QVERIFY(dropOn("Science Fiction", { 999, lib->id("anna") }));
        QCOMPARE(db->findCategoryByBook(999), 0);
        QVERIFY(lib->refuse("book_folder_binder", "INSERT"));
        changed.clear();
        QVERIFY(dropOn("Classics", { lib->id("hound") }));
        QCOMPARE(changed.count(), 0);
        QCOMPARE(db->findCategoryByBook(lib->id("hound")), lib->folder("Mystery"));
        QCOMPARE(counts(), QStringLiteral("0,4,2"));
    }

    void categories_data()
    {
        QTest::addColumn<QString>("category");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("recently read, last read first") << "0" << QStringList({ "dune", "war", "watchmen", "hound" });
        QTest::newRow("last added shows nothing") << "1" << QStringList();
        QTest::newRow("favourites") << "3" << QStringList({ "hound", "war" });
        QTest::newRow("trash") << "4" << QStringList({ "notes" });
        QTest::newRow("epub") << "1000" << QStringList({ "dune", "war" });
        QTest::newRow("pdf, trashed one left out") << "1003" << QStringList({ "hound" });
        QTest::newRow("format 12") << "1012" << QStringList({ "odd" });
        QTest::newRow("folder 0") << "1100" << QStringList();
        QTest::newRow("folder Mystery") << "folder:Mystery" << QStringList({ "hound", "christie" });
    }

    void categories()
    {
        QFETCH(QString, category);
        QFETCH(QStringList, expected);
        QSignalSpy changed(proxy, &BookSortFilterModel::filterCategoryChanged);
        proxy->setFilterCategory(this->category(category));
        QCOMPARE(changed.count(), 1);
        QCOMPARE(changed.at(0).at(0).toInt(), this->category(category));
        QCOMPARE(shown(), expected);
        // Again, or the settings page, which is no category: nothing to do.
        proxy->setFilterCategory(this->category(category));
        proxy->setFilterCategory(Enums::AppSettings);
        QCOMPARE(changed.count(), 1);
        QCOMPARE(shown(), expected);
    }

    void recentlyReadShowsTheTwentyReadLast()
    {
        // 25 more books, added after the sample's and read 4 to 5 days ago (dune was read 12 hours
        // ago, war, watchmen and hound within 3 days), one read exactly 60 days ago, one longer ago.
        QList<int> recent;
        for (int i = 0; i < 25; ++i)
            recent.append(addBook(QStringLiteral("Recent %1").arg(i), SampleLibrary::hoursAgo(100 + i)));
        const int edge = addBook(QStringLiteral("Sixty days"), SampleLibrary::now() - kSixtyDays);
        addBook(QStringLiteral("Long ago"), SampleLibrary::now() - kSixtyDays - 10);
        loadModels();
        proxy->setFilterCategory(Enums::RecentlyRead);
        const auto shownIds = [this] {
            QList<int> ids;
            for (int row = 0; row < proxy->rowCount(); ++row)
                ids.append(proxy->index(row, 0).data(BookModel::IdRole).toInt());
            return ids;
        };
        // The twenty read last, last read first.
        QCOMPARE(shownIds(),
            QList<int>({ lib->id("dune"), lib->id("war"), lib->id("watchmen"), lib->id("hound") }) + recent.mid(0, 16));
        QVERIFY(!shownIds().contains(edge));

        // Opening a book that is not shown brings it in; the one read longest ago leaves.
        QVERIFY(books->setData(books->indexById(recent.at(20)), QVariant(), Enums::Open));
        QCOMPARE(proxy->rowCount(), 20);
        QCOMPARE(shownIds().first(), recent.at(20));
        QVERIFY(!shownIds().contains(recent.at(15)));
        // A shown book to the trash: the next one read moves up.
        QVERIFY(proxy->setData(proxy->index(0, 0), QVariant(), Enums::ToTrash));
        QCOMPARE(proxy->rowCount(), 20);
        QCOMPARE(shownIds().last(), recent.at(15));
        // Searching filters the twenty: "Recent 1" and "Recent 10" to "Recent 15".
        proxy->setSearchText(QStringLiteral("Recent 1"));
        QCOMPARE(proxy->rowCount(), 7);
    }

    void recentlyReadHasItsOwnSort()
    {
        proxy->sort(BookModel::NameColumn, Qt::AscendingOrder);
        proxy->setFilterCategory(Enums::RecentlyRead);
        QCOMPARE(proxy->sortColumn(), int(BookModel::LastViewColumn));
        QCOMPARE(proxy->sortOrder(), Qt::DescendingOrder);
        QCOMPARE(shown(), QStringList({ "dune", "war", "watchmen", "hound" }));
        // Sorting by last view by hand there is not kept.
        proxy->sort(BookModel::LastViewColumn, Qt::AscendingOrder);
        proxy->setFilterCategory(Enums::Favorites);
        QCOMPARE(proxy->sortColumn(), int(BookModel::NameColumn));
        QCOMPARE(proxy->sortOrder(), Qt::AscendingOrder);
        QCOMPARE(shown(), QStringList({ "hound", "war" }));
        // Another sort chosen there is.
        proxy->setFilterCategory(Enums::RecentlyRead);
        proxy->sort(BookModel::AuthorColumn, Qt::DescendingOrder);
        proxy->setFilterCategory(Enums::AllBooks);
        QCOMPARE(proxy->sortColumn(), int(BookModel::AuthorColumn));
        QCOMPARE(proxy->sortOrder(), Qt::DescendingOrder);
        // Between other categories the sort stays as it is.
        proxy->sort(BookModel::LastViewColumn, Qt::AscendingOrder);
        proxy->setFilterCategory(Enums::Favorites);
        QCOMPARE(proxy->sortColumn(), int(BookModel::LastViewColumn));
        proxy->setFilterCategory(Enums::RecentlyRead);
        proxy->setFilterCategory(Enums::AllBooks);
        QCOMPARE(proxy->sortColumn(), int(BookModel::AuthorColumn));
    }

    void search_data()
    {
        QTest::addColumn<QString>("category");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("expected"); // the books shown, apart by blanks
        addTextRows({
            { "author", "2", "tolstoy", "anna war" },
            { "cyrillic, any case", "2", "мастер", "master" },
            { "file name", "2", "\\.cbz$", "watchmen" },
            { "pattern", "2", "^(dune|watch)", "dune watchmen" },
            { "unknown title", "2", "unknown", "blank" },
            { "blanks are no filter", "2", "   ", "odd dune blank master watchmen hound christie anna war" },
            { "trash hides from search", "2", "Old Notes", "" },
            { "in the trash", "4", "Old Notes", "notes" },
        });
    }

    void search()
    {
        QFETCH(QString, category);
        QFETCH(QString, text);
        QFETCH(QString, expected);
        proxy->setFilterCategory(category.toInt());
        QSignalSpy changed(proxy, &BookSortFilterModel::searchTextChanged);
        proxy->setSearchText(text);
        QCOMPARE(proxy->searchText(), text.trimmed());
        QCOMPARE(changed.count(), text.trimmed().isEmpty() ? 0 : 1);
        QCOMPARE(shown(), expected.split(' ', Qt::SkipEmptyParts));
        // The same text again: nothing.
        proxy->setSearchText(text.trimmed());
        QCOMPARE(changed.count(), text.trimmed().isEmpty() ? 0 : 1);
    }

    void invalidPatternIsTakenLiterally()
    {
        const int id = addBook(QStringLiteral("Learning C++ (2nd ed.)"), 0);
        QVERIFY(addBook(QStringLiteral("Practical Cooking"), 0) > 0);
        // "C++" is no valid pattern of the search's syntax either.
        for (const char* text : { "C++", "(", "C++ (2" }) {
            proxy->setSearchText(QLatin1String(text));
            QCOMPARE(shown(), QStringList({ QStringLiteral("?%1").arg(id) }));
        }
        proxy->setSearchText(QStringLiteral("[draft"));
        QCOMPARE(proxy->rowCount(), 0);
    }

    // Titles are found as typed, brackets and signs included; what a pattern matched still matches.
    void searchFindsTheTextAsTyped_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QStringList>("expected");
        const QStringList all { "Harry Potter (Book 1)", "$100 Startup", "1+1 Is Two", "[Draft] Notes" };
        for (const QString& title : all)
            QTest::newRow(qPrintable(title)) << title << QStringList { title };
        QTest::newRow("pattern") << "^(harry|\\$)" << QStringList { all.at(0), all.at(1) };
        QTest::newRow("pattern without the brackets") << "Potter Book" << QStringList();
    }
    void searchFindsTheTextAsTyped()
    {
        QFETCH(QString, text);
        QFETCH(QStringList, expected);
        for (const char* title : { "Harry Potter (Book 1)", "$100 Startup", "1+1 Is Two", "[Draft] Notes" })
            QVERIFY(addBook(QLatin1String(title), 0) > 0);
        proxy->setSearchText(text);
        QCOMPARE(columnTexts(*proxy, BookModel::TitleRole), expected);
    }

    // The recently-read category sorts by last view; the user's saved sort, given while it is shown,
    // comes back when it is left and is never replaced by the category's own.
    void savedSortSurvivesRecentlyRead()
    {
        proxy->setFilterCategory(Enums::RecentlyRead);
        proxy->setUserSort(BookModel::AuthorColumn, Qt::AscendingOrder);
        QCOMPARE(proxy->sortColumn(), int(BookModel::LastViewColumn));
        QCOMPARE(proxy->userSortColumn(), int(BookModel::AuthorColumn));
        proxy->setFilterCategory(Enums::AllBooks);
        QCOMPARE(proxy->sortColumn(), int(BookModel::AuthorColumn));
        QCOMPARE(proxy->sortOrder(), Qt::AscendingOrder);
        // Given outside it, it applies at once.
        proxy->setUserSort(BookModel::NameColumn, Qt::DescendingOrder);
        QCOMPARE(proxy->sortColumn(), int(BookModel::NameColumn));
        QCOMPARE(proxy->sortOrder(), Qt::DescendingOrder);
    }

    // A book keeps its placeholder colour whatever its row: after more books and a reload.
    void placeholderColourFollowsTheBook()
    {
        QHash<int, int> colours;
        for (int row = 0; row < books->rowCount(); ++row) {
            const QModelIndex index = books->index(row, 0);
            colours.insert(index.data(BookModel::IdRole).toInt(), index.data(BookModel::RowModuloRole).toInt());
        }
        QVERIFY(addBook(QStringLiteral("Newcomer"), 0) > 0);
        books->selectAll();
        QSet<int> used;
        for (auto it = colours.begin(); it != colours.end(); ++it) {
            const int colour = books->indexById(it.key()).data(BookModel::RowModuloRole).toInt();
            QCOMPARE(colour, it.value());
            QVERIFY(colour >= 0 && colour <= 9);
            used.insert(colour);
        }
        QVERIFY(used.size() > 1);
    }

    // A folder's view follows every way a book enters or leaves the folder.
    void folderViewFollowsMoves()
    {
        const auto shownSorted = [this] {
            QStringList keys = shown();
            keys.sort();
            return keys;
        };
        const int mystery = Enums::MaxBookFormat + lib->folder("Mystery");
        proxy->setFilterCategory(mystery);
        QCOMPARE(shownSorted(), QStringList({ "christie", "hound" }));
        proxy->setSearchText(QStringLiteral("hound"));
        QCOMPARE(shownSorted(), QStringList({ "hound" }));
        proxy->setSearchText(QString());
        QVERIFY(act("dune", Enums::MoveToFolder, lib->folder("Mystery")));
        QCOMPARE(shownSorted(), QStringList({ "christie", "dune", "hound" }));
        QVERIFY(act("hound", Enums::RemoveFromFolder));
        QCOMPARE(shownSorted(), QStringList({ "christie", "dune" }));
        QVERIFY(dropOn(QStringLiteral("Classics"), { lib->id("christie") }));
        QCOMPARE(shownSorted(), QStringList({ "dune" }));
        QCOMPARE(role("christie", BookModel::CategoryIdRole).toInt(), lib->folder("Classics"));
        QCOMPARE(role("christie", BookModel::CategoryNameRole).toString(), QStringLiteral("Classics"));
        folders->removeCategory(lib->folder("Classics"));
        QCOMPARE(role("war", BookModel::CategoryNameRole).toString(), QString());
    }

    // Titles sort without regard to case, also where the language is the C locale.
    void titlesSortIgnoringCase()
    {
        const QLocale before;
        const auto restore = qScopeGuard([before] { QLocale::setDefault(before); });
        for (const QLocale& locale : { before, QLocale::c() }) {
            QLocale::setDefault(locale);
            reload(false);
            for (const char* title : { "banana", "Zebra", "apple", "Cherry", "Éclair" })
                QVERIFY(addBook(QString::fromUtf8(title), 0) > 0);
            proxy->sort(BookModel::NameColumn, Qt::AscendingOrder);
            QCOMPARE(columnTexts(*proxy, BookModel::TitleRole),
                QStringList({ "apple", "banana", "Cherry", "Éclair", "Zebra" }));
        }
    }

    void sortByColumn_data()
    {
        QTest::addColumn<int>("column");
        QTest::addColumn<QString>("ascending"); // books apart by blanks
        QTest::newRow("title, punctuation ignored")
            << int(BookModel::NameColumn) << QString("christie anna dune odd hound blank war watchmen master");
        QTest::newRow("author, ties in model order")
            << int(BookModel::AuthorColumn) << QString("christie watchmen hound dune anna war odd blank master");
        QTest::newRow("date added") << int(BookModel::DateAddedColumn)
                                    << QString("war anna christie hound watchmen master blank dune odd");
        QTest::newRow("last view, never read last")
            << int(BookModel::LastViewColumn) << QString("anna hound watchmen war dune odd blank master christie");
        QTest::newRow("format name") << int(BookModel::FormatColumn)
                                     << QString("odd watchmen dune war master anna christie hound blank");
        QTest::newRow("folder") << int(BookModel::CategoryNameColumn)
                                << QString("odd dune blank master watchmen anna war hound christie");
        QTest::newRow("file size") << int(BookModel::FileSizeColumn)
                                   << QString("blank war anna christie hound watchmen master dune odd");
        QTest::newRow("file path, any case")
            << int(BookModel::FilePathColumn) << QString("christie anna dune hound blank odd war watchmen master");
    }

    void sortByColumn()
    {
        QFETCH(int, column);
        QFETCH(QString, ascending);
        QSignalSpy layout(proxy, &QAbstractItemModel::layoutChanged);
        proxy->sort(column, Qt::AscendingOrder);
        QCOMPARE(shown(), ascending.split(' '));
        QVERIFY(layout.count() >= 1);
        const QStringList ascendingValues = columnTexts(*proxy, Qt::DisplayRole, column);
        proxy->sort(column, Qt::DescendingOrder);
        // Equal values keep the model's order both ways, so compare the values.
        QStringList reversed = ascendingValues;
        std::reverse(reversed.begin(), reversed.end());
        QCOMPARE(columnTexts(*proxy, Qt::DisplayRole, column), reversed);
    }
};

// The last-book setting needs the application's settings, and HOME must be temporary before Qt is
// asked for the user's folders. Text columns sort by the user's language: English here.
int main(int argc, char** argv)
{
    qputenv("LC_ALL", "en_US.UTF-8");
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    TempHome home;
    QCoreApplication::setApplicationName(QStringLiteral("Brindle Folvane"));
    KelApplication app(QUuid::createUuid().toString(), argc, argv);
    SettingsProvider settings(KelApplication::configFilePath(QStringLiteral("settings.ini")), QSettings::IniFormat);
    app.setSettings(&settings);
    TestLibraryModels test;
    const int result = QTest::qExec(&test, argc, argv);
    app.setSettings(nullptr);
    return result;
}

#include "tst_librarymodels.moc"
