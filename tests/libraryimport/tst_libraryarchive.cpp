#include "importtesthelpers.h"

#include "temphome.h"
#include "zipwriter.h"

#include "appdirs.h"
#include "import/exportbooks.h"
#include "import/importbooks.h"
#include "models/bookdto.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTest>

#include <quazip/quazip.h>
#include <quazip/quazipfile.h>

#include <memory>

namespace {

// The members of a ZIP archive with their bytes.
QMap<QString, QByteArray> members(const QString& archive)
{
    QMap<QString, QByteArray> result;
    QuaZip zip(archive);
    if (!zip.open(QuaZip::mdUnzip))
        return result;
    for (bool more = zip.goToFirstFile(); more; more = zip.goToNextFile()) {
        QuaZipFile file(&zip);
        if (file.open(QIODevice::ReadOnly))
            result.insert(file.getActualFileName(), file.readAll());
    }
    return result;
}

QJsonArray containerBooks(const QString& archive)
{
    return QJsonDocument::fromJson(members(archive).value(QStringLiteral("container.json")))
        .object()
        .value(QStringLiteral("books"))
        .toArray();
}

// A library archive written by hand: container.json with the given books, plus members.
bool writeArchive(const QString& path, const QJsonValue& books, const QList<ZipEntry>& extra = {})
{
    ZipWriter zip(path);
    zip.add(QStringLiteral("container.json"), QJsonDocument(QJsonObject { { "books", books } }).toJson());
    for (const ZipEntry& entry : extra)
        zip.add(entry);
    return zip.write();
}

QJsonObject bookObject(const QString& relPath, const QString& fileName)
{
    return QJsonObject { { "book_id", "0123" }, { "file_name", fileName }, { "rel_path", relPath }, { "author", "Ann" },
        { "title", "Tale" }, { "position", 3 }, { "progress", 9 }, { "is_favorite", true },
        { "folders", QJsonArray { "Shelf" } } };
}

// Writes the books into a complete archive, as the export task does.
bool exportAll(const QString& archive, const QList<BookDto>& books)
{
    exportbooks writer;
    bool ok = writer.open(archive);
    for (const BookDto& book : books)
        ok = writer.addBook(book) && ok;
    while (writer.hasNext())
        ok = writer.writeNext() && ok;
    return ok && writer.writeContainer() && writer.commit();
}

// Every file below a folder, relative to it.
QStringList filesBelow(const QString& dir)
{
    QStringList files;
    findFilesRecursively(files, dir, { QStringLiteral("*") });
    for (QString& file : files)
        file = QDir(dir).relativeFilePath(file);
    files.sort();
    return files;
}

} // namespace

class TestLibraryArchive : public QObject {
    Q_OBJECT

private slots:
    void init() { m_home = std::make_unique<TempHome>(); }
    void cleanup() { m_home.reset(); }

    void exportAndImportRoundTrip();
    void sameFileNamesStayApart();
    void unusableIndexes_data();
    void unusableIndexes();
    void hostileNamesNeverLeaveTheFolder();
    void oversizedIndexIsRefused();
    void damagedOrMissingMemberWritesNothing();
    void unfinishedExportLeavesNoArchive();

private:
    QString path(const QString& relative) const { return m_home->filePath(relative); }
    // Three books on disk with a cover each way, one record whose file is gone.
    QList<BookDto> sampleBooks();
    std::unique_ptr<TempHome> m_home;
};

QList<BookDto> TestLibraryArchive::sampleBooks()
{
    QList<BookDto> books;
    BookDto tale;
    tale.full_path = writeBook(path("Books"), QStringLiteral("tale.epub"));
    tale.title = QStringLiteral("Tale");
    tale.author = QStringLiteral("Ann Author");
    tale.format = 0;
    tale.position = 5;
    tale.max_position = 40;
    tale.is_favorite = 1;
    tale.folder_title = QStringLiteral("Classics");
    tale.cover = path("Books/tale-cover.png");
    testfiles::write(tale.cover, librarybooks::coverPng({}));
    books << tale;

    BookDto plain;
    plain.full_path = writeBook(path("Books/more"), QStringLiteral("plain.fb2"));
    plain.title = QStringLiteral("Plain");
    plain.format = 2;
    books << plain; // no cover at all

    BookDto custom;
    custom.full_path = writeBook(path("Books"), QStringLiteral("scan.pdf"));
    custom.title = QStringLiteral("Scan");
    custom.format = 3;
    custom.use_user_cover = true;
    custom.cover = path("Books/unused.png");
    testfiles::write(coverFilePath(custom.full_path), "user cover bytes");
    books << custom;

    BookDto gone;
    gone.full_path = path("Books/gone.mobi");
    gone.title = QStringLiteral("Gone");
    books << gone;
    return books;
}

void TestLibraryArchive::exportAndImportRoundTrip()
{
    const QList<BookDto> books = sampleBooks();
    const QString archive = path("library.olv");
    const MessageCatcher warnings(QStringLiteral("Can't find cover for book: "));
    exportbooks writer;
    QVERIFY(writer.open(archive));
    QVERIFY(writer.open(archive)); // already open
    for (int i = 0; i < 4; ++i)
        QCOMPARE(writer.addBook(books.at(i)), i < 3);
    QCOMPARE(writer.count(), 3);
    QCOMPARE(warnings.messages().size(), 1);
    QVERIFY(!QFile::exists(archive)); // written under a temporary name until complete
    int written = 0;
    while (writer.hasNext())
        written += writer.writeNext() ? 1 : 0;
    QCOMPARE(written, 3);
    QVERIFY(writer.writeContainer());
    QVERIFY(writer.writeContainer());
    QVERIFY(writer.commit());
    QVERIFY(QFile::exists(archive));
    QVERIFY(!QFile::exists(archive + QStringLiteral(".part")));

    const QMap<QString, QByteArray> stored = members(archive);
    const QJsonArray index = containerBooks(archive);
    QCOMPARE(index.size(), 3);
    QCOMPARE(stored.size(), 1 + 3 + 2); // index, books, two covers
    const QRegularExpression hexId(QStringLiteral("^[0-9a-f]{32}$"));
    QSet<QString> ids;
    for (int i = 0; i < 3; ++i) {
        const QJsonObject entry = index.at(i).toObject();
        const BookDto& book = books.at(i);
        const QString id = entry.value("book_id").toString();
        QVERIFY2(hexId.match(id).hasMatch(), qPrintable(id));
        ids.insert(id);
        const QString fileName = QFileInfo(book.full_path).fileName();
        QCOMPARE(entry.value("rel_path").toString(), id + QLatin1Char('/') + fileName);
        QCOMPARE(stored.value(id + QLatin1Char('/') + fileName), testfiles::read(book.full_path));
        QCOMPARE(entry.value("file_name").toString() + entry.value("author").toString()
                + entry.value("folders").toArray().at(0).toString(),
            fileName + book.author + book.folder_title);
        QCOMPARE(entry.value("book_format").toInt(), book.format);
        QCOMPARE(entry.value("has_custom_cover").toBool(), book.use_user_cover);
    }
    QCOMPARE(ids.size(), 3);
    const QJsonObject tale = index.at(0).toObject();
    QCOMPARE(tale.value("cover_path").toString(), tale.value("book_id").toString() + "/cover.png");
    QCOMPARE(stored.value(tale.value("cover_path").toString()), testfiles::read(books.at(0).cover));
    QCOMPARE(index.at(1).toObject().value("cover_path").toString(), QString());
    // The user's own cover goes with the book, not the book's cover.
    const QJsonObject scan = index.at(2).toObject();
    QCOMPARE(scan.value("cover_path").toString(), scan.value("book_id").toString() + "/cover.jpg");
    QCOMPARE(stored.value(scan.value("cover_path").toString()), QByteArray("user cover bytes"));

    // Read back: every book's record and bytes.
    importbooks reader;
    QVERIFY(reader.open(archive));
    QCOMPARE(reader.count(), 3);
    const QString importDir = path("Import");
    for (int i = 0; i < 3; ++i) {
        QVERIFY(reader.next());
        const ArchiveEntry entry = reader.current();
        const BookDto& book = books.at(i);
        QCOMPARE(entry.title, book.title);
        QCOMPARE(QList<int>({ entry.position, entry.progress, int(entry.isFavorite) }),
            QList<int>({ book.position, book.max_position, book.is_favorite }));
        QCOMPARE(entry.folderTitle, book.folder_title);
        const QString extracted = reader.extractBook(importDir);
        QCOMPARE(extracted, importDir + QLatin1Char('/') + QFileInfo(book.full_path).fileName());
        QCOMPARE(testfiles::read(extracted), testfiles::read(book.full_path));
    }
    QVERIFY(!reader.next());
    QCOMPARE(reader.extractBook(importDir), QString());
}

void TestLibraryArchive::sameFileNamesStayApart()
{
    BookDto first;
    first.full_path = writeBook(path("A"), QStringLiteral("book.epub"));
    librarybooks::BookSpec other;
    other.title = QStringLiteral("Another Book");
    BookDto second;
    second.full_path = writeBook(path("B"), QStringLiteral("book.epub"), other);
    const QString archive = path("twins.olv");
    QVERIFY(exportAll(archive, { first, second }));
    const QJsonArray index = containerBooks(archive);
    QCOMPARE(index.size(), 2);
    QVERIFY(index.at(0).toObject().value("rel_path") != index.at(1).toObject().value("rel_path"));

    const QString importDir = path("Import");
    QVERIFY(testfiles::write(importDir + "/book.epub", "already here"));
    importbooks reader;
    QVERIFY(reader.open(archive));
    QVERIFY(reader.next());
    QCOMPARE(reader.extractBook(importDir), importDir + "/1_book.epub");
    QVERIFY(reader.next());
    QCOMPARE(reader.extractBook(importDir), importDir + "/2_book.epub");
    QCOMPARE(testfiles::read(importDir + "/book.epub"), QByteArray("already here"));
    QCOMPARE(testfiles::read(importDir + "/1_book.epub"), testfiles::read(first.full_path));
    QCOMPARE(testfiles::read(importDir + "/2_book.epub"), testfiles::read(second.full_path));
}

void TestLibraryArchive::unusableIndexes_data()
{
    QTest::addColumn<QByteArray>("container"); // null: no container.json at all
    QTest::addColumn<bool>("opens");
    QTest::addColumn<int>("count");
    QTest::addColumn<QString>("folder"); // of the first entry

    const QByteArray one
        = QJsonDocument(QJsonObject { { "books", QJsonArray { bookObject("x/a.epub", "a.epub") } } }).toJson();
    QTest::newRow("no container.json") << QByteArray() << false << 0 << QString();
    QTest::newRow("books is no array") << QByteArray("{\"books\": {\"a\": 1}}") << true << 0 << QString();
    QTest::newRow("no books key") << QByteArray("{\"shelves\": []}") << true << 0 << QString();
    QTest::newRow("not JSON") << QByteArray("{{{{") << true << 0 << QString();
    QTest::newRow("an array at the top") << QByteArray("[1, 2]") << true << 0 << QString();
    QTest::newRow("one good entry") << one << true << 1 << "Shelf";
    QTest::newRow("non-objects skipped") << QByteArray(
        "{\"books\": [1, \"two\", null, {\"rel_path\": \"x/a.epub\", \"file_name\": \"a.epub\"}]}")
                                         << true << 1 << QString();
    QTest::newRow("folder is an empty string")
        << QByteArray("{\"books\": [{\"rel_path\": \"x/a.epub\", \"file_name\": \"a.epub\", \"folders\": [\"\"]}]}")
        << true << 1 << QString();
    QTest::newRow("container name in capitals") << one << true << 1 << "Shelf";
}

void TestLibraryArchive::unusableIndexes()
{
    QFETCH(QByteArray, container);
    QFETCH(bool, opens);
    QFETCH(int, count);
    QFETCH(QString, folder);

    const QString archive = path("index.olv");
    ZipWriter zip(archive);
    const bool capitals = QString::fromLatin1(QTest::currentDataTag()).contains(QLatin1String("capitals"));
    if (!container.isNull())
        zip.add(capitals ? QStringLiteral("CONTAINER.JSON") : QStringLiteral("container.json"), container);
    zip.add(QStringLiteral("x/a.epub"), "book bytes");
    QVERIFY(zip.write());

    importbooks reader;
    QCOMPARE(reader.open(archive), opens);
    QCOMPARE(reader.count(), count);
    if (count == 0) {
        QVERIFY(!reader.next());
        return;
    }
    QVERIFY(reader.next());
    const ArchiveEntry entry = reader.current();
    QCOMPARE(entry.folderTitle, folder);
    // Values the entry leaves out read as empty, 0 and false.
    if (folder.isEmpty()) {
        QCOMPARE(entry.title, QString());
        QCOMPARE(entry.position, 0);
        QCOMPARE(entry.isFavorite, false);
    }
    QCOMPARE(testfiles::read(reader.extractBook(path("Import"))), QByteArray("book bytes"));
}

void TestLibraryArchive::hostileNamesNeverLeaveTheFolder()
{
    const QStringList badRelPaths { "../evil.epub", "/etc/evil.epub", "C:/evil.epub", "x/../../evil.epub",
        "x\\..\\..\\evil.epub", "", "." };
    const QStringList badFileNames { "../../.bashrc", "/tmp/evil.epub", "..", "", "C:evil.epub", "a/../../b.epub" };
    QJsonArray books;
    QList<ZipEntry> extra;
    for (const QString& relPath : badRelPaths) {
        books.append(bookObject(relPath, "fine.epub"));
        if (!relPath.isEmpty())
            extra.append({ relPath, "evil", true });
    }
    for (const QString& fileName : badFileNames)
        books.append(bookObject("good/x.epub", fileName));
    // A member name with folders gives its last part as the file name.
    books.append(bookObject("good/x.epub", "deep/inside/safe.epub"));
    extra.append({ "good/x.epub", "good bytes", true });
    const QString archive = path("hostile.olv");
    QVERIFY(writeArchive(archive, books, extra));

    const QString importDir = path("Jail/Import");
    QVERIFY(QDir().mkpath(importDir));
    importbooks reader;
    QVERIFY(reader.open(archive));
    QCOMPARE(reader.count(), 1);
    QVERIFY(reader.next());
    QCOMPARE(reader.extractBook(importDir), importDir + "/safe.epub");
    QVERIFY(!reader.next());
    QCOMPARE(filesBelow(path("Jail")), QStringList { "Import/safe.epub" });
    QVERIFY(!QFile::exists(path("evil.epub")));
    QVERIFY(!QFile::exists(path(".bashrc")));
}

void TestLibraryArchive::oversizedIndexIsRefused()
{
    // Seventeen megabytes of blanks pack into a few kilobytes: the reader stops at its limit.
    QByteArray json = "{\"books\": [";
    json += QByteArray(importbooks::kMaxContainerBytes + 1024 * 1024, ' ');
    json += "]}";
    const QString archive = path("bomb.olv");
    ZipWriter zip(archive);
    zip.add(QStringLiteral("container.json"), json);
    QVERIFY(zip.write());
    QVERIFY(QFileInfo(archive).size() < 1024 * 1024);

    importbooks reader;
    QVERIFY(!reader.open(archive));
    QCOMPARE(reader.count(), 0);
    QVERIFY(!reader.next());
}

void TestLibraryArchive::damagedOrMissingMemberWritesNothing()
{
    const QByteArray content = QByteArray("BOOK-CONTENT-").repeated(200);
    const QString archive = path("damaged.olv");
    QVERIFY(writeArchive(archive,
        QJsonArray { bookObject("a/damaged.epub", "damaged.epub"), bookObject("b/missing.epub", "missing.epub"),
            bookObject("c/whole.epub", "whole.epub") },
        { { "a/damaged.epub", content, false }, { "c/whole.epub", "whole", true } }));
    // Change one byte of the stored member: its checksum no longer matches.
    QFile file(archive);
    QVERIFY(file.open(QIODevice::ReadWrite));
    QByteArray bytes = file.readAll();
    const int at = bytes.indexOf(content) + 100;
    QVERIFY(at > 100);
    bytes[at] = 'X';
    QVERIFY(file.seek(0) && file.write(bytes) == bytes.size());
    file.close();

    const QString importDir = path("Import");
    importbooks reader;
    QVERIFY(reader.open(archive));
    QCOMPARE(reader.count(), 3);
    QVERIFY(reader.next());
    QCOMPARE(reader.extractBook(importDir), QString());
    // A listed book whose member is missing is still a book, which unpacks to nothing.
    QVERIFY(reader.next());
    QCOMPARE(reader.current().fileName, QStringLiteral("missing.epub"));
    QCOMPARE(reader.extractBook(importDir), QString());
    QVERIFY(reader.next());
    QCOMPARE(reader.extractBook(importDir), importDir + "/whole.epub");
    QCOMPARE(filesBelow(importDir), QStringList { "whole.epub" });
}

void TestLibraryArchive::unfinishedExportLeavesNoArchive()
{
    const QList<BookDto> books = sampleBooks();
    const QString archive = path("library.olv");
    QVERIFY(testfiles::write(archive, "the archive of last week"));
    {
        // Cancelled halfway: the older archive stays as it was.
        exportbooks writer;
        QVERIFY(writer.open(archive));
        QVERIFY(writer.addBook(books.at(0)) && writer.addBook(books.at(1)));
        QVERIFY(writer.hasNext() && writer.writeNext());
        writer.close();
        QCOMPARE(testfiles::read(archive), QByteArray("the archive of last week"));
        QVERIFY(!QFile::exists(archive + ".part"));
    }
    {
        // Dropped without commit: the same.
        exportbooks writer;
        QVERIFY(writer.open(archive));
        QVERIFY(writer.addBook(books.at(0)));
        QVERIFY(writer.hasNext() && writer.writeNext());
    }
    QCOMPARE(testfiles::read(archive), QByteArray("the archive of last week"));
    QVERIFY(!QFile::exists(archive + ".part"));

    // A folder that does not exist: nothing is written anywhere.
    exportbooks nowhere;
    QVERIFY(!nowhere.open(path("no/such/folder/library.olv")));
    QVERIFY(!nowhere.writeContainer());
    QVERIFY(!nowhere.commit());
    QVERIFY(!QFileInfo::exists(path("no")));
}

QTEST_MAIN(TestLibraryArchive)
#include "tst_libraryarchive.moc"
