#include "modeltesthelpers.h"
#include "samplelibrary.h"

#include "dragdata.h"
#include "models/bookprovider.h"
#include "models/foldermodel.h"

#include <QAbstractItemModelTester>
#include <QMimeData>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QStandardItemModel>
#include <QTest>

#include <memory>

namespace {

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

class TestFolderModel : public QObject {
    Q_OBJECT

    std::unique_ptr<SampleLibrary> lib;
    std::unique_ptr<FolderModel> folders;
    std::unique_ptr<QAbstractItemModelTester> tester;
    BookProvider* db = BookProvider::instance();

    void open(bool populate)
    {
        // One library at a time: they share the default connection.
        tester.reset();
        folders.reset();
        lib.reset();
        lib = std::make_unique<SampleLibrary>();
        QVERIFY(lib->isOpen());
        if (populate)
            QVERIFY(lib->populate());
        folders = std::make_unique<FolderModel>();
        tester = std::make_unique<QAbstractItemModelTester>(
            folders.get(), QAbstractItemModelTester::FailureReportingMode::QtTest);
        folders->reload();
    }
    int count(const QString& title)
    {
        return folders->indexById(lib->folder(title)).siblingAtColumn(FolderModel::BookCountColumn).data().toInt();
    }
    QStringList titles() { return columnTexts(*folders, Qt::DisplayRole); }
    QModelIndex folderIndex(const QString& title) { return folders->indexById(lib->folder(title)); }
    // Drops the books on a folder row the way a view does: on the item, no row.
    bool dropOn(const QString& title, const QList<int>& ids)
    {
        std::unique_ptr<QMimeData> mime(bookDrag(ids));
        return folders->dropMimeData(mime.get(), Qt::CopyAction, -1, -1, folderIndex(title));
    }

private slots:
    void initTestCase() { QCoreApplication::setApplicationName(QStringLiteral("Brindle Folvane")); }

    void init() { open(true); }

    void cleanup()
    {
        tester.reset();
        folders.reset();
        lib.reset();
    }

    void rowsColumnsAndRoles()
    {
        QCOMPARE(folders->rowCount(), 3);
        QCOMPARE(folders->columnCount(), 4);
        QCOMPARE(titles(), QStringList({ "Classics", "Mystery", "Science Fiction" }));
        // The trashed book of Mystery is not counted.
        QCOMPARE(columnTexts(*folders, Qt::DisplayRole, 1), QStringList({ "2", "2", "0" }));
        const QModelIndex mystery = folderIndex("Mystery");
        QCOMPARE(mystery.row(), 1);
        QCOMPARE(mystery.siblingAtColumn(2).data().toInt(), lib->folder("Mystery"));
        QCOMPARE(mystery.siblingAtColumn(3).data().toInt(), 0);
        const CategoryDto dto = mystery.data(Qt::UserRole).value<CategoryDto>();
        QCOMPARE(QVariantList({ dto.id, dto.title, dto.book_count }),
            QVariantList({ lib->folder("Mystery"), "Mystery", 2 }));
        QCOMPARE(folders->categories().at(1).title, QStringLiteral("Mystery"));
        QVERIFY(!folders->indexById(999).isValid());

        QVERIFY(mystery.flags() & Qt::ItemIsDropEnabled);
        QVERIFY(!(folders->flags(QModelIndex()) & Qt::ItemIsDropEnabled));
        QCOMPARE(folders->mimeTypes(), QStringList({ bookIdsMimeType() }));

        // Titles show trimmed; the record keeps them as stored.
        QVERIFY(db->addCategory(QStringLiteral("  Poetry "), 0) > 0);
        folders->reload();
        QCOMPARE(titles().first(), QStringLiteral("Poetry"));
        QCOMPARE(folders->index(0, 0).data(Qt::UserRole).value<CategoryDto>().title, QStringLiteral("  Poetry "));
    }

    void newFoldersGetAFreeName()
    {
        QSignalSpy inserted(folders.get(), &QAbstractItemModel::rowsInserted);
        // Another case is another title.
        QVERIFY(folders->findOrAddCategory(QStringLiteral("new category")) > 0);
        for (int i = 0; i < 3; ++i)
            folders->createCategory();
        QCOMPARE(inserted.count(), 4);
        for (const QList<QVariant>& args : inserted) {
            QCOMPARE(args.at(1).toInt(), 0);
            QCOMPARE(args.at(2).toInt(), 0);
        }
        QCOMPARE(
            titles().mid(0, 4), QStringList({ "New category 2", "New category 1", "New category", "new category" }));
        QCOMPARE(folders->index(0, FolderModel::BookCountColumn).data().toInt(), 0);
        // They are stored.
        folders->reload();
        QCOMPARE(folders->rowCount(), 7);

        QVERIFY(lib->refuse("folders", "INSERT"));
        inserted.clear();
        folders->createCategory();
        QCOMPARE(inserted.count(), 0);
        QCOMPARE(folders->rowCount(), 7);
    }

    void findOrAddCategory()
    {
        QSignalSpy inserted(folders.get(), &QAbstractItemModel::rowsInserted);
        QCOMPARE(folders->findOrAddCategory(QStringLiteral("Mystery")), lib->folder("Mystery"));
        QCOMPARE(inserted.count(), 0);
        const int poetry = folders->findOrAddCategory(QStringLiteral("Poetry"));
        QVERIFY(poetry > 0);
        QCOMPARE(folders->indexById(poetry).row(), 0);
        QCOMPARE(folders->findOrAddCategory(QStringLiteral("Poetry")), poetry);
        QCOMPARE(inserted.count(), 1);
        // Exact, case-sensitive titles; a folder needs a name.
        QVERIFY(folders->findOrAddCategory(QStringLiteral("mystery")) != lib->folder("Mystery"));
        QCOMPARE(folders->findOrAddCategory(QString()), -1);
        QCOMPARE(folders->findOrAddCategory(QStringLiteral("  ")), -1);
        QCOMPARE(inserted.count(), 2);

        QVERIFY(lib->refuse("folders", "INSERT"));
        QCOMPARE(folders->findOrAddCategory(QStringLiteral("Drama")), -1);
        QCOMPARE(inserted.count(), 2);
    }

    void filingBooksChangesCounts()
    {
        QSignalSpy changed(folders.get(), &QAbstractItemModel::dataChanged);
        QVERIFY(folders->addBookToCategory(lib->id("dune"), lib->folder("Science Fiction")));
        QCOMPARE(count("Science Fiction"), 1);
        QCOMPARE(changed.count(), 1);
        QCOMPARE(changed.at(0).at(0).value<QModelIndex>(), folderIndex("Science Fiction"));
        QCOMPARE(changed.at(0).at(1).value<QModelIndex>().column(), 3);
        QVERIFY(changed.at(0).at(2).value<QVector<int>>().contains(Qt::DisplayRole));
        // A book moves out of its former folder.
        QVERIFY(folders->addBookToCategory(lib->id("anna"), lib->folder("Science Fiction")));
        QCOMPARE(count("Science Fiction"), 2);
        QCOMPARE(count("Classics"), 1);
        QCOMPARE(db->findCategoryByBook(lib->id("anna")), lib->folder("Science Fiction"));
        // A book in the trash is filed but not counted, as the side bar counts.
        QVERIFY(folders->addBookToCategory(lib->id("notes"), lib->folder("Science Fiction")));
        QCOMPARE(count("Science Fiction"), 2);
        QCOMPARE(count("Mystery"), 2);
        // Unknown folders and books.
        QVERIFY(!folders->addBookToCategory(lib->id("dune"), -1));
        QVERIFY(!folders->addBookToCategory(lib->id("dune"), 999));
        QTest::ignoreMessage(QtWarningMsg, "Book 999 is not in the library");
        QVERIFY(!folders->addBookToCategory(999, lib->folder("Mystery")));
        QCOMPARE(db->findCategoryByBook(999), 0);

        QVERIFY(folders->removeBookFromCategory(lib->id("dune"), lib->folder("Science Fiction")));
        QCOMPARE(count("Science Fiction"), 1);
        // Not in that folder: the count stays.
        QVERIFY(folders->removeBookFromCategory(lib->id("war"), lib->folder("Science Fiction")));
        QCOMPARE(count("Science Fiction"), 1);
        QCOMPARE(db->findCategoryByBook(lib->id("war")), lib->folder("Classics"));
        QVERIFY(folders->removeBookFromCategory(lib->id("war"), lib->folder("Classics")));
        QCOMPARE(count("Classics"), 0);
        QVERIFY(folders->removeBookFromCategory(lib->id("war"), lib->folder("Classics")));
        QCOMPARE(count("Classics"), 0);
        QVERIFY(!folders->removeBookFromCategory(lib->id("war"), 999));

        // Refused by the database: no change.
        changed.clear();
        QVERIFY(lib->refuse("book_folder_binder", "INSERT"));
        QVERIFY(lib->refuse("book_folder_binder", "DELETE"));
        QVERIFY(!folders->addBookToCategory(lib->id("master"), lib->folder("Mystery")));
        QVERIFY(!folders->removeBookFromCategory(lib->id("hound"), lib->folder("Mystery")));
        QCOMPARE(count("Mystery"), 2);
        QCOMPARE(changed.count(), 0);
    }

    void removeCategoryKeepsItsBooks()
    {
        QSignalSpy removed(folders.get(), &QAbstractItemModel::rowsRemoved);
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
        folders->removeCategory(999);
        QCOMPARE(removed.count(), 1);
    }

    void renameMovesTheRowToItsPlace()
    {
        open(false);
        for (const char* title : { "Beta", "Gamma", "Zeta" })
            QVERIFY(db->addCategory(QLatin1String(title), 0) > 0);
        folders->reload();
        const int zeta = folders->index(2, FolderModel::IdColumn).data().toInt();
        QSignalSpy moved(folders.get(), &QAbstractItemModel::rowsMoved);
        QSignalSpy changed(folders.get(), &QAbstractItemModel::dataChanged);

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

    void dropFilesBooksInTheFolder()
    {
        QVERIFY(dropOn("Science Fiction", { lib->id("dune"), lib->id("master") }));
        QCOMPARE(count("Science Fiction"), 2);
        QCOMPARE(db->findCategoryByBook(lib->id("master")), lib->folder("Science Fiction"));
        // Twice the same book counts once; a book already there changes nothing.
        QSignalSpy changed(folders.get(), &QAbstractItemModel::dataChanged);
        QVERIFY(dropOn("Mystery", { lib->id("watchmen"), lib->id("watchmen"), lib->id("hound") }));
        QCOMPARE(count("Mystery"), 3);
        QCOMPARE(changed.count(), 1);
        // From another folder.
        QVERIFY(dropOn("Mystery", { lib->id("war") }));
        QCOMPARE(count("Mystery"), 4);
        QCOMPARE(count("Classics"), 1);
    }

    void dropTargets_data()
    {
        QTest::addColumn<int>("row");
        QTest::addColumn<int>("parentRow"); // -1: no parent
        QTest::addColumn<QString>("filedIn"); // empty: nowhere
        QTest::newRow("on an item") << -1 << 2 << "Science Fiction";
        QTest::newRow("at a row") << 2 << -1 << "Science Fiction";
        QTest::newRow("row wins over parent") << 0 << 2 << "Classics";
        QTest::newRow("on no row") << -1 << -1 << QString();
        QTest::newRow("past the end") << 3 << -1 << QString();
    }

    void dropTargets()
    {
        QFETCH(int, row);
        QFETCH(int, parentRow);
        QFETCH(QString, filedIn);
        std::unique_ptr<QMimeData> mime(bookDrag({ lib->id("dune") }));
        const QModelIndex parent = parentRow < 0 ? QModelIndex() : folders->index(parentRow, 0);
        QTest::ignoreMessage(QtDebugMsg, QRegularExpression("^DROP to folder CopyAction row"));
        QVERIFY(folders->dropMimeData(mime.get(), Qt::CopyAction, row, 0, parent));
        QCOMPARE(db->findCategoryByBook(lib->id("dune")), filedIn.isEmpty() ? 0 : lib->folder(filedIn));
        QCOMPARE(columnTexts(*folders, Qt::DisplayRole, 1).join(','),
            filedIn == "Science Fiction" ? QString("2,2,1")
                : filedIn == "Classics"  ? QString("3,2,0")
                                         : QString("2,2,0"));
    }

    void dropsThatFileNothing()
    {
        const QModelIndex target = folderIndex("Science Fiction");
        std::unique_ptr<QMimeData> mime(bookDrag({ lib->id("dune") }));
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
        QCOMPARE(count("Science Fiction"), 1);
        QCOMPARE(count("Classics"), 1);
        QCOMPARE(db->findCategoryByBook(lib->id("dune")), 0);

        // Refused by the database: nothing filed, counts kept.
        QVERIFY(lib->refuse("book_folder_binder", "INSERT"));
        QSignalSpy changed(folders.get(), &QAbstractItemModel::dataChanged);
        QVERIFY(dropOn("Science Fiction", { lib->id("war") }));
        QCOMPARE(changed.count(), 0);
        QCOMPARE(db->findCategoryByBook(lib->id("war")), lib->folder("Classics"));
        QCOMPARE(count("Classics"), 1);
        QCOMPARE(count("Science Fiction"), 1);
    }
};

QTEST_GUILESS_MAIN(TestFolderModel)

#include "tst_foldermodel.moc"
