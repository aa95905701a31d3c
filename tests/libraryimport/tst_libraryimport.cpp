// Adding books to the library: reading one book file into a record, the library archive, and the
// background task that adds files, folders and archives; over real books of every format.

#include "epubbuilder.h"
#include "fb2builder.h"
#include "librarybooks.h"
#include "librarytestdb.h"
#include "mobiwriter.h"
#include "pdfencryption.h"
#include "pdfenginefile.h"
#include "pdfwriter.h"
#include "sevenzwriter.h"
#include "smalldisk.h"
#include "temphome.h"
#include "testfiles.h"
#include "testpaths.h"
#include "zipwriter.h"

#include "appdirs.h"
#include "checkedsave.h"
#include "formats/bookformat.h"
#include "import/bookfilereader.h"
#include "import/bookimporter.h"
#include "import/importbooks.h"
#include "import/itemstatus.h"
#include "models/bookdto.h"
#include "models/bookmodel.h"
#include "models/bookprovider.h"
#include "models/foldermodel.h"
#include "models/librarymessagebox.h"
#include "readingstatefile.h"

#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <quazip/quazip.h>
#include <quazip/quazipfile.h>
#include <zlib.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <memory>

namespace {

// Writes a library book (see librarybooks::write) into dir; its path, empty on failure.
QString writeBook(const QString& dir, const QString& fileName, const librarybooks::BookRecipe& recipe = {})
{
    QDir().mkpath(dir);
    const QString path = QDir(dir).absoluteFilePath(fileName);
    if (!librarybooks::write(path, recipe)) {
        qWarning() << "Cannot write the test book" << path;
        return QString();
    }
    return path;
}

// True when the pixel at the image's centre is within a few steps of the colour.
bool centreHasColour(const QImage& image, const QColor& colour)
{
    if (image.isNull())
        return false;
    const QColor centre = image.pixelColor(image.width() / 2, image.height() / 2);
    return qAbs(centre.red() - colour.red()) <= 3 && qAbs(centre.green() - colour.green()) <= 3
        && qAbs(centre.blue() - colour.blue()) <= 3;
}

// A PNG whose header claims width x height pixels; its data are those of a 1x1 picture.
QByteArray claimedSizePng(quint32 width, quint32 height)
{
    librarybooks::BookRecipe tiny;
    tiny.coverSize = QSize(1, 1);
    QByteArray png = librarybooks::coverPng(tiny);
    // The IHDR chunk: its data start at 16 (width, height), its checksum follows at 29.
    MobiWriter::putBigEndian(png, 16, width);
    MobiWriter::putBigEndian(png, 20, height);
    MobiWriter::putBigEndian(png, 29, quint32(::crc32(0, reinterpret_cast<const Bytef*>(png.constData() + 12), 17)));
    return png;
}

// Everything the importer emits, in order, with the thread each signal arrived on.
class ImportRecorder {
public:
    ImportRecorder()
    {
        bookimporter* importer = bookimporter::instance();
        // Direct connections: each lambda runs on the thread that emits.
        m_connections << QObject::connect(
            importer, &bookimporter::importStarted, [this] { record(QStringLiteral("importStarted")); });
        m_connections << QObject::connect(
            importer, &bookimporter::exportStarted, [this] { record(QStringLiteral("exportStarted")); });
        m_connections << QObject::connect(
            importer, &bookimporter::itemProcessed, [this](ItemStatus status, BookDto item) {
                statuses.append(int(status));
                titles.append(item.title);
                paths.append(item.full_path);
                record(QStringLiteral("item %1").arg(int(status)));
            });
        m_connections << QObject::connect(importer, &bookimporter::progress,
            [this](int current, int total) { record(QStringLiteral("progress %1/%2").arg(current).arg(total)); });
        m_connections << QObject::connect(importer, &bookimporter::finished, [this](int ok, int total) {
            ++finishedCount;
            record(QStringLiteral("finished %1/%2").arg(ok).arg(total));
        });
        m_connections << QObject::connect(importer, &bookimporter::exported, [this](int ok, int total, int failure) {
            ++finishedCount;
            // The cause of a failed export, by its code (2: the disk is full).
            record(QStringLiteral("exported %1/%2").arg(ok).arg(total)
                + (failure ? QStringLiteral(", failure %1").arg(failure) : QString()));
        });
    }
    ~ImportRecorder()
    {
        for (const QMetaObject::Connection& connection : qAsConst(m_connections))
            QObject::disconnect(connection);
    }
    Q_DISABLE_COPY(ImportRecorder)

    // Waits until finished (or exported) has come count times in all.
    bool waitFinished(int count = 1) const
    {
        return QTest::qWaitFor([&] { return finishedCount >= count; }, 30000);
    }

    QStringList events; // "importStarted", "item 0", "progress 1/3", "finished", ...
    QList<int> statuses; // of the items, in order
    QStringList titles;
    QStringList paths;
    QSet<QThread*> threads;
    int finishedCount = 0;

private:
    void record(const QString& event)
    {
        events.append(event);
        threads.insert(QThread::currentThread());
    }
    QList<QMetaObject::Connection> m_connections;
};

// The library page's part of adding: every book read successfully is stored through the book
// model and filed in its folder, on the GUI thread.
class LibraryAdder {
public:
    LibraryAdder(BookModel& books, FolderModel& folders)
    {
        m_connection = QObject::connect(
            bookimporter::instance(), &bookimporter::itemProcessed, &books,
            [this, &books, &folders](ItemStatus status, const BookDto& item) {
                if (status != ItemAdded)
                    return;
                const int id = books.addBook(item);
                if (id > 0 && !item.folder_title.isEmpty())
                    folders.addBookToCategory(id, folders.findOrAddCategory(item.folder_title));
            },
            Qt::QueuedConnection);
    }
    ~LibraryAdder() { QObject::disconnect(m_connection); }

private:
    QMetaObject::Connection m_connection;
};

using MetaMap = QMap<int, QString>;

QString coverOf(const QString& bookPath) { return bookDataDir(bookPath) + QStringLiteral("/cover.png"); }

// A record for a file, as the adding task makes it.
BookDto recordFor(const QString& path)
{
    BookDto record;
    record.full_path = path;
    return record;
}

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

QJsonObject bookObject(const QString& relPath, const QString& fileName)
{
    return QJsonObject { { "book_id", "0123" }, { "file_name", fileName }, { "rel_path", relPath }, { "author", "Ann" },
        { "title", "Tale" }, { "position", 3 }, { "progress", 9 }, { "is_favorite", true },
        { "folders", QJsonArray { "Shelf" } } };
}

bookimporter* importer() { return bookimporter::instance(); }

// What the library archive carries of a book, field by field; the user's own cover by its bytes.
QStringList archivedFields(const BookDto& book)
{
    const QByteArray cover = book.use_user_cover ? testfiles::read(coverFilePath(book.full_path)) : QByteArray();
    return { "title " + book.title, "author " + book.author, QStringLiteral("format %1").arg(book.format),
        QStringLiteral("position %1").arg(book.position), QStringLiteral("progress %1").arg(book.max_position),
        QStringLiteral("favourite %1").arg(book.is_favorite), "folder " + book.folder_title,
        QStringLiteral("user cover %1 ").arg(book.use_user_cover)
            + QCryptographicHash::hash(cover, QCryptographicHash::Md5).toHex() };
}

// The archived fields of every book of the library, by the suffix of its file.
QMap<QString, QStringList> archivedLibrary()
{
    QMap<QString, QStringList> fields;
    for (const BookDto& book : BookProvider::instance()->allBooksWithFolderTitle())
        fields.insert(QFileInfo(book.full_path).suffix(), archivedFields(book));
    return fields;
}

// A library of its own in a temporary HOME: the database and the two models, loaded as the application does.
struct TestLibrary {
    TestLibrary()
        : home(std::make_unique<TempHome>())
    {
        open = BookProvider::instance()->createConnection(databasePath());
        folders = std::make_unique<FolderModel>();
        folders->reload();
        books = std::make_unique<BookModel>();
        books->setFolderModel(folders.get());
        books->selectAll();
        adder = std::make_unique<LibraryAdder>(*books, *folders);
    }
    ~TestLibrary()
    {
        adder.reset();
        books.reset();
        folders.reset();
        closeLibrary();
        home.reset();
    }
    QString path(const QString& relative) const { return home->filePath(relative); }
    // The stored record of a book file, read back from the database.
    BookDto stored(const QString& file) const { return BookProvider::instance()->bookByPath(file); }
    // Stores a book file's record as the library page does after reading it; its id.
    int store(const QString& file) const { return BookProvider::instance()->add(recordFor(file)); }

    std::unique_ptr<TempHome> home;
    bool open = false;
    std::unique_ptr<FolderModel> folders;
    std::unique_ptr<BookModel> books;
    std::unique_ptr<LibraryAdder> adder;
};

QByteArray smallFb2(const QString& title)
{
    Fb2Builder book;
    book.setBookTitle(title);
    book.addBody(Fb2Builder::section(Fb2Builder::p(QStringLiteral("Text."))));
    return book.bytes();
}

librarybooks::BookRecipe titled(const QString& title)
{
    librarybooks::BookRecipe recipe;
    recipe.title = title;
    return recipe;
}

} // namespace

class TestLibraryImport : public QObject {
    Q_OBJECT

    std::unique_ptr<TestLibrary> m_library;

    QString path(const QString& relative) const { return m_library->path(relative); }
    QString books() const { return path(QStringLiteral("Books")); }

private slots:
    // The PDF documents use the engine library of the build.
    void initTestCase() { pdfengine::setLibraryPath(testpaths::binDir() + QLatin1Char('/') + pdfengine::fileName()); }

    void init()
    {
        m_library = std::make_unique<TestLibrary>();
        QVERIFY(m_library->open);
        importer()->toggleProcessing(false);
    }

    void cleanup()
    {
        importer()->toggleProcessing(false);
        QVERIFY(QTest::qWaitFor([] { return !importer()->isRunning(); }, 30000));
        // Signals still posted by the last task reach nobody's library.
        QCoreApplication::processEvents();
        m_library.reset();
    }

    void readsEveryFormat_data()
    {
        QTest::addColumn<QString>("fileName");
        QTest::addColumn<int>("format");
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("author");
        QTest::addColumn<QSize>("picture"); // the book's cover picture, empty for none
        QTest::addColumn<QSize>("cover"); // the stored cover, empty for none
        QTest::addColumn<MetaMap>("metadata");

        const QString title = QStringLiteral("A Library Book");
        const QString publisher = QStringLiteral("Loom Press");
        const QString description = QStringLiteral("A short book for tests.");
        const MetaMap epubMeta { { 0, "urn:uuid:12345678-1234-1234-1234-123456789abc" }, { 1, title },
            { 2, QStringLiteral("Ann Author") }, { 5, publisher }, { 6, description }, { 10, QStringLiteral("en") } };
        const MetaMap mobiMeta { { 1, title }, { 2, QStringLiteral("Ann Author") }, { 5, publisher },
            { 6, description }, { 7, QStringLiteral("Mobipocket Book") } };
        const MetaMap fb2Meta { { 1, title }, { 2, QStringLiteral("Author Ann") }, { 5, publisher }, { 6, description },
            { 7, QStringLiteral("prose_contemporary") }, { 10, QStringLiteral("en") } };
        const MetaMap pdfMeta { { 2, QStringLiteral("Loom Writer") }, { 5, QStringLiteral("Loom Writer") } };

        const QSize none;
        const QSize page(200, 300);
        QTest::newRow("epub, a scan") << "tale.epub" << 0 << title << "Ann Author" << QSize(2000, 3000) << page
                                      << epubMeta;
        // A panorama is fitted into four times the height, not blown up to 300 high.
        QTest::newRow("mobi, a panorama")
            << "tale.mobi" << 1 << title << "Ann Author" << QSize(3000, 100) << QSize(1200, 40) << mobiMeta;
        QTest::newRow("prc, no cover") << "tale.prc" << 5 << title << "Ann Author" << none << none << mobiMeta;
        QTest::newRow("fb2, small") << "tale.fb2" << 2 << title << "Author Ann" << QSize(100, 150) << page << fb2Meta;
        QTest::newRow("fb2 in zip, one pixel high")
            << "tale.zip" << 9 << title << "Author Ann" << QSize(2000, 1) << QSize(1200, 1) << fb2Meta;
        QTest::newRow("fb2 in 7z, no cover") << "tale.7z" << 10 << title << "Author Ann" << none << none << fb2Meta;
        QTest::newRow("txt: its name is its title")
            << "Plain Tale.txt" << 8 << "Plain Tale" << QString() << page << none << MetaMap();
        // The first page of a US Letter PDF (612 x 792 points).
        QTest::newRow("pdf") << "tale.pdf" << 3 << title << "Ann Author" << page << QSize(232, 300) << pdfMeta;
        QTest::newRow("cbz: blanks for underscores")
            << "My_Comic.cbz" << 6 << "My Comic" << QString() << page << page << MetaMap();
    }

    void readsEveryFormat()
    {
        QFETCH(QString, fileName);
        QFETCH(int, format);
        QFETCH(QString, title);
        QFETCH(QString, author);
        QFETCH(QSize, picture);
        QFETCH(QSize, cover);
        QFETCH(MetaMap, metadata);

        librarybooks::BookRecipe recipe;
        recipe.coverColor = QColor(0xcc, 0x33, 0x66);
        recipe.coverSize = picture;
        const QString path = writeBook(books(), fileName, recipe);
        QVERIFY(!path.isEmpty());

        BookDto record = recordFor(path);
        const quint32 before = quint32(QDateTime::currentSecsSinceEpoch());
        QCOMPARE(readBookFile(record, false), ItemAdded);
        QCOMPARE(record.format, format);
        QCOMPARE(record.title, title);
        QCOMPARE(record.author.trimmed(), author);
        QCOMPARE(record.full_path, path);
        QVERIFY(record.time_added >= before && record.time_added <= before + 5);
        for (auto it = metadata.constBegin(); it != metadata.constEnd(); ++it)
            QCOMPARE(record.metadata.value(it.key()), it.value());
        for (const QString& value : qAsConst(record.metadata))
            QVERIFY(!value.trimmed().isEmpty());

        QCOMPARE(QFile::exists(coverOf(path)), cover.isValid());
        QCOMPARE(record.cover, cover.isValid() ? coverOf(path) : QString());
        if (cover.isValid()) {
            QCOMPARE(QImage(record.cover).size(), cover);
            QVERIFY(centreHasColour(QImage(record.cover), recipe.coverColor));
        }
    }

    void statusCodes_data()
    {
        QTest::addColumn<QString>("fileName");
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<ItemStatus>("status");
        QTest::addColumn<QString>("title"); // the title a book that is still added gets

        // An unreadable encryption list and a first chapter that is no XML: enciphered.
        EpubBuilder enciphered;
        enciphered.addArchiveFile(QStringLiteral("META-INF/encryption.xml"), "<enc");
        enciphered.addItem(
            QStringLiteral("c1"), QStringLiteral("c1.xhtml"), QByteArray("\x8f\x03\xa1<\x00\xfe garbage", 14));
        QTemporaryDir dir;
        const QString epubPath = dir.filePath(QStringLiteral("e.epub"));
        QVERIFY(enciphered.write(epubPath));
        const QByteArray epubBytes = testfiles::read(epubPath);

        MobiWriter notMobi;
        notMobi.setText("<p>text</p>");
        notMobi.setIdentifier("BOOK");
        ZipWriter epubInZip(dir.filePath(QStringLiteral("e.zip")));
        epubInZip.add(QStringLiteral("book.epub"), epubBytes);
        QVERIFY(epubInZip.write());

        PdfWriter pdf;
        pdf.addPage();
        pdf.setInfo("Title", QStringLiteral("Secret Title"));
        QVERIFY(writeEncryptedPdf(
            pdf.toPdf(), dir.filePath("locked.pdf"), QStringLiteral("user"), QStringLiteral("owner")));

        const QByteArray garbage("this is no book at all\n");
        QTest::newRow("no suffix") << "README" << garbage << ItemUnsupportedFormat << QString();
        QTest::newRow("enciphered epub") << "locked.epub" << epubBytes << ItemProtected << QString();
        QTest::newRow("epub that is no zip") << "broken.epub" << garbage << ItemReadFailed << QString();
        QTest::newRow("mobi without MOBI header") << "palm.mobi" << notMobi.build() << ItemReadFailed << QString();
        QTest::newRow("fb2 that is no XML") << "broken.fb2" << garbage << ItemReadFailed << QString();
        QTest::newRow("zip holding an epub")
            << "nested.zip" << testfiles::read(dir.filePath("e.zip")) << ItemReadFailed << QString();
        // Plain text with NUL bytes near its start is a binary file; an empty one holds no book.
        QByteArray binary("MZ\x90\x00\x03\x00\x00\x00", 8);
        binary += QByteArray(3000, 'a');
        QTest::newRow("binary named txt") << "program.txt" << binary << ItemReadFailed << QString();
        QTest::newRow("empty txt") << "empty.txt" << QByteArray() << ItemReadFailed << QString();
        QTest::newRow("txt of blank lines")
            << "blank.txt" << QByteArray("\xef\xbb\xbf \r\n\t\n") << ItemReadFailed << QString();
        // Text in two bytes a character has NUL bytes of its own.
        const QString utf16Text = QStringLiteral("Two bytes a letter");
        QByteArray utf16("\xff\xfe", 2);
        utf16.append(reinterpret_cast<const char*>(utf16Text.utf16()), utf16Text.size() * 2);
        QTest::newRow("utf-16 txt") << "Wide Text.txt" << utf16 << ItemAdded << "Wide Text";
        // Without a mark, UTF-16 is known by the NUL bytes of its ASCII characters, all on one
        // side of the pairs; alone or packed its text is read, its first line naming a packed one.
        const QString wide = QStringLiteral("Широкий текст\nTwo bytes a letter, and no mark.\n");
        const QByteArray le = testfiles::encoded("UTF-16LE", wide);
        const QByteArray be = testfiles::encoded("UTF-16BE", wide);
        QTest::newRow("utf-16le txt without mark") << "Wide LE.txt" << le << ItemAdded << "Wide LE";
        QTest::newRow("utf-16be txt without mark") << "Wide BE.txt" << be << ItemAdded << "Wide BE";
        QVERIFY(ZipWriter::write(dir.filePath("wide.zip"), { { "Wide.txt", be } }));
        QTest::newRow("utf-16be txt without mark in zip")
            << "wide.zip" << testfiles::read(dir.filePath("wide.zip")) << ItemAdded << "Широкий текст";
        SevenZWriter wide7z(dir.filePath("wide.7z"));
        wide7z.add(QStringLiteral("Wide Tale.txt"), le);
        QVERIFY(wide7z.write());
        QTest::newRow("utf-16le txt without mark in 7z")
            << "wide.7z" << testfiles::read(dir.filePath("wide.7z")) << ItemAdded << "Wide Tale";
        // Binary data, and 8-bit text with a few stray NUL bytes (each the second of its pair),
        // are no UTF-16.
        QTest::newRow("png named txt") << "picture.txt" << EpubBuilder::png(40, 30) << ItemReadFailed << QString();
        const QByteArray elf = QByteArray("\x7f"
                                          "ELF\x02\x01\x01\x00",
                                   8)
            + QByteArray(500, 'x');
        QTest::newRow("one NUL after a control byte") << "tool.txt" << elf << ItemReadFailed << QString();
        QByteArray latin1
            = QTextCodec::codecForName("ISO-8859-1")
                  ->fromUnicode(QStringLiteral("Caf\u00e9 cr\u00e8me, na\u00efve fa\u00e7ade.\n").repeated(40));
        for (int at : { 101, 503, 1201 })
            latin1[at] = '\0';
        QTest::newRow("latin-1 txt with stray NULs") << "stray.txt" << latin1 << ItemReadFailed << QString();
        QByteArray records = QStringLiteral("Résumé\n").toUtf8();
        for (quint32 value = 1; value <= 200; ++value)
            records.append(reinterpret_cast<const char*>(&value), 4);
        QTest::newRow("utf-8 txt with binary records") << "records.txt" << records << ItemReadFailed << QString();
        QTest::newRow("txt") << "Plain Words.txt" << QByteArray("Some words.\n") << ItemAdded << "Plain Words";
        // A collection is refused for what it is, not as a damaged book.
        ZipWriter twoBooks(dir.filePath(QStringLiteral("two.zip")));
        twoBooks.add(QStringLiteral("one.fb2"), smallFb2(QStringLiteral("One")));
        twoBooks.add(QStringLiteral("two.fb2"), smallFb2(QStringLiteral("Two")));
        QVERIFY(twoBooks.write());
        QTest::newRow("zip holding two books")
            << "two.zip" << testfiles::read(dir.filePath("two.zip")) << ItemSeveralBooksInArchive << QString();
        // Image books that do not load are still added, under their file's name.
        QTest::newRow("pdf that is no PDF") << "Broken Scan.pdf" << garbage << ItemAdded << "Broken Scan";
        QTest::newRow("cbz that is no zip") << "Broken_Comic.cbz" << garbage << ItemAdded << "Broken Comic";
        // A PDF that asks for a password is named after its file, with nothing read from inside.
        QTest::newRow("pdf with a password")
            << "Secret Report.pdf" << testfiles::read(dir.filePath("locked.pdf")) << ItemAdded << "Secret Report";
    }

    void statusCodes()
    {
        QFETCH(QString, fileName);
        QFETCH(QByteArray, bytes);
        QFETCH(ItemStatus, status);
        QFETCH(QString, title);

        const QString path = books() + QLatin1Char('/') + fileName;
        QVERIFY(testfiles::write(path, bytes));
        BookDto record = recordFor(path);
        record.author = QStringLiteral("Kept");
        QCOMPARE(int(readBookFile(record, false)), int(status));
        if (status != ItemAdded) {
            // A failure leaves the record as it came.
            QCOMPARE(record.format, 0);
            QCOMPARE(record.time_added, 0u);
            QCOMPARE(record.author, QStringLiteral("Kept"));
            QVERIFY(record.metadata.isEmpty());
            QVERIFY(!QDir(booksDir()).exists(md5Hex(path)));
            return;
        }
        QCOMPARE(record.title, title);
        QCOMPARE(record.author, QStringLiteral("Kept"));
        const QString suffix = QFileInfo(fileName).suffix();
        if (suffix == QLatin1String("txt") || suffix == QLatin1String("zip") || suffix == QLatin1String("7z")) {
            QCOMPARE(record.format, bookFormatFromName(suffix));
            return;
        }
        QCOMPARE(record.format, int(BookFormat::Pdf) + (fileName.endsWith(".cbz") ? 3 : 0));
        QVERIFY(record.cover.isEmpty());
        QVERIFY(record.metadata.isEmpty());
    }

    // A library folder that cannot be written, or a full disk, is named as the cause of a refusal
    // (not a damaged book), and the book file is left alone. Root is not bound by permissions: it
    // mounts a read-only or a small full file system over the books folder instead.
    void storageCausesOfRefusal_data()
    {
        QTest::addColumn<bool>("full");
        QTest::addColumn<ItemStatus>("status");
        QTest::newRow("read-only data folder") << false << ItemFolderNotWritable;
        QTest::newRow("full disk") << true << ItemDiskFull;
    }

    void storageCausesOfRefusal()
    {
        QFETCH(bool, full);
        QFETCH(ItemStatus, status);
        const QString path = writeBook(books(), QStringLiteral("healthy.epub"));
        QVERIFY(!path.isEmpty());
        const QByteArray bytes = testfiles::read(path);
        const QString folder = booksDir();
        std::unique_ptr<SmallDisk> disk;
        if (::geteuid() == 0) {
            disk = std::make_unique<SmallDisk>(folder, !full);
            if (!disk->isMounted())
                QSKIP("no file system can be mounted here");
            if (full)
                QVERIFY(disk->fill());
        } else {
            if (full)
                QSKIP("a full disk needs a mounted file system (root)");
            QVERIFY(QFile::setPermissions(folder, QFile::ReadOwner | QFile::ExeOwner));
        }
        const auto restore = qScopeGuard([&] {
            disk.reset();
            QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        });
        BookDto record = recordFor(path);
        QCOMPARE(int(readBookFile(record, false)), int(status));
        QCOMPARE(testfiles::read(path), bytes);
        QCOMPARE(checkedsave::classifyFolder(bookDataDir(path)),
            full ? checkedsave::Failure::DiskFull : checkedsave::Failure::NotWritable);
    }

    // A full disk while the library is exported: the export fails and the archive of last time
    // stays as it was, with nothing left beside it.
    void exportToFullDisk()
    {
        SmallDisk disk;
        if (!disk.isMounted())
            QSKIP("no tmpfs can be mounted here (not root)");
        QList<BookDto> list;
        for (const QString name : { "one.epub", "two.fb2" }) {
            BookDto book;
            book.full_path = writeBook(m_library->path("Books"), name);
            list.append(book);
        }
        const QString archive = disk.filePath(QStringLiteral("export.olv"));
        const QByteArray lastWeek("the archive of last week");
        QVERIFY(testfiles::write(archive, lastWeek));
        QVERIFY(disk.fill());
        ImportRecorder recorder;
        QVERIFY(importer()->exportToArchive(archive, list));
        QVERIFY(recorder.waitFinished());
        QCOMPARE(recorder.events.last(),
            QStringLiteral("exported 0/2, failure %1").arg(int(checkedsave::Failure::DiskFull)));
        QCOMPARE(testfiles::read(archive), lastWeek);
        QCOMPARE(QDir(disk.path()).entryList(QDir::Files), QStringList { "export.olv" });
    }

    // A full disk while a library archive is imported: each book is told by its name and the cause,
    // and no part of a book is left behind.
    void importToFullDisk()
    {
        SmallDisk disk(importDir());
        if (!disk.isMounted())
            QSKIP("no tmpfs can be mounted here (not root)");
        QTemporaryDir outside;
        const QString archive = outside.filePath(QStringLiteral("library.olv"));
        ZipWriter zip(archive);
        QJsonArray books;
        for (const char* name : { "one.fb2", "two.fb2" }) {
            books.append(bookObject(QStringLiteral("x/") + name, QString::fromLatin1(name)));
            zip.add(QStringLiteral("x/%1").arg(name), smallFb2(QString::fromLatin1(name)).repeated(40));
        }
        zip.add(QStringLiteral("container.json"), QJsonDocument(QJsonObject { { "books", books } }).toJson());
        QVERIFY(zip.write());
        QVERIFY(disk.fill());
        ImportRecorder recorder;
        QVERIFY(importer()->importFromArchive(archive));
        QVERIFY(recorder.waitFinished());
        QCOMPARE(recorder.statuses, (QList<int> { ItemDiskFull, ItemDiskFull }));
        QCOMPARE(recorder.paths, QStringList({ importDir() + "/one.fb2", importDir() + "/two.fb2" }));
        QCOMPARE(QDir(importDir()).entryList(QDir::Files | QDir::Hidden), QStringList { ".filler" });

        // The library on the full disk too: it tells why it could not store a change, and the
        // import's answer does not tell the same cause in a second box.
        QStringList told;
        LibraryMessageBox::setHandler([&told](const QString&, const QString& text, QMessageBox::StandardButtons) {
            told << text;
            return QMessageBox::Ok;
        });
        const auto restoreHandler = qScopeGuard([] { LibraryMessageBox::setHandler({}); });
        QVERIFY(!BookProvider::instance()->toldStorageFailure(checkedsave::Failure::DiskFull, recorder.paths.first()));
        closeLibrary();
        SmallDisk libraryDisk(QFileInfo(databasePath()).absolutePath());
        QVERIFY(BookProvider::instance()->createConnection(databasePath()));
        QVERIFY(libraryDisk.fill());
        QCOMPARE(BookProvider::instance()->addCategory(QStringLiteral("Full"), 0), -1);
        QTRY_COMPARE(told, QStringList { "A change to the library was not saved: The disk is full." });
        QVERIFY(BookProvider::instance()->toldStorageFailure(checkedsave::Failure::DiskFull, recorder.paths.first()));
        closeLibrary();
    }

    void alreadyInLibraryUnlessIgnored()
    {
        const QString path = writeBook(books(), QStringLiteral("read.epub"));
        QVERIFY(!path.isEmpty());
        // The book was opened before: its data folder holds its reading state.
        const QString state = readingStateFile(bookDataDir(path));
        QCOMPARE(QFileInfo(state).fileName(), md5Hex(path) + QStringLiteral(".settings"));
        QVERIFY(testfiles::write(state, "{}"));

        BookDto record = recordFor(path);
        QCOMPARE(readBookFile(record, false), ItemAlreadyInLibrary);
        QVERIFY(record.title.isEmpty());
        QCOMPARE(readBookFile(record, true), ItemAdded);
        QCOMPARE(record.title, QStringLiteral("A Library Book"));
    }

    // The cover the book names, else its first image (the red logo comes first in every book here);
    // a cover whose header claims 40000 x 40000 pixels is not decoded, and the book is still added.
    void bookChoosesItsCover_data()
    {
        QTest::addColumn<QString>("fileName");
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QColor>("cover"); // invalid: none

        const QByteArray logo = MobiWriter::image(QSize(40, 60), Qt::red);
        const QByteArray front = MobiWriter::image(QSize(40, 60), Qt::darkGreen);
        const QByteArray bomb = claimedSizePng(40000, 40000);
        const auto mobi = [&](const QByteArray& second, int coverOffset) {
            MobiWriter book;
            book.setText("<p>text</p>");
            book.addImage(logo);
            book.addImage(second);
            if (coverOffset >= 0)
                book.setCoverOffset(quint32(coverOffset));
            return book.build();
        };
        const auto fb2 = [&](const QStringList& coverPage) {
            Fb2Builder book;
            book.addBody(Fb2Builder::section(Fb2Builder::p("x")));
            book.addBinary("a-cover.png", logo);
            book.addBinary("front.png", front);
            book.setCoverImages(coverPage);
            return book.bytes();
        };
        QTemporaryDir dir;
        EpubBuilder epub;
        epub.addChapter(QStringLiteral("c"), QStringLiteral("c.xhtml"), QStringLiteral("C"), QStringLiteral("<p/>"));
        epub.setCover(QStringLiteral("cover.png"), bomb);
        QVERIFY(epub.write(dir.filePath(QStringLiteral("bomb.epub"))));
        ZipWriter comic(dir.filePath(QStringLiteral("bomb.cbz")));
        comic.add(QStringLiteral("01.png"), bomb);
        comic.add(QStringLiteral("02.png"), logo);
        QVERIFY(comic.write());
        const QColor red(Qt::red);
        const QColor green(Qt::darkGreen);
        QTest::newRow("mobi: EXTH cover offset") << "offset.mobi" << mobi(front, 1) << green;
        QTest::newRow("mobi: no offset") << "first.mobi" << mobi(front, -1) << red;
        QTest::newRow("mobi: offset past the images") << "past.mobi" << mobi(front, 7) << red;
        QTest::newRow("mobi: cover too large") << "bomb.mobi" << mobi(bomb, 1) << QColor();
        QTest::newRow("fb2: cover page image") << "page.fb2" << fb2({ "front.png" }) << green;
        QTest::newRow("fb2: cover page of a missing binary") << "gone.fb2" << fb2({ "gone.png" }) << red;
        QTest::newRow("epub: cover too large")
            << "bomb.epub" << testfiles::read(dir.filePath(QStringLiteral("bomb.epub"))) << QColor();
        QTest::newRow("cbz: first page too large")
            << "bomb.cbz" << testfiles::read(dir.filePath(QStringLiteral("bomb.cbz"))) << QColor();
    }

    void bookChoosesItsCover()
    {
        QFETCH(QString, fileName);
        QFETCH(QByteArray, bytes);
        QFETCH(QColor, cover);
        const QString path = books() + QLatin1Char('/') + fileName;
        QVERIFY(testfiles::write(path, bytes));
        if (!cover.isValid())
            QTest::ignoreMessage(QtWarningMsg, QRegularExpression("is not decoded: it has 40000 x 40000 pixels"));
        BookDto record = recordFor(path);
        QCOMPARE(readBookFile(record, false), ItemAdded);
        if (cover.isValid())
            QVERIFY(centreHasColour(QImage(record.cover), cover));
        else
            QVERIFY(record.cover.isEmpty() && !QFile::exists(coverOf(path)));
    }

    void knownBooksAndRepeats()
    {
        const QString inLibrary = writeBook(m_library->path("Books"), QStringLiteral("kept.epub"), titled("Kept"));
        const QString trashed = writeBook(m_library->path("Books"), QStringLiteral("trashed.epub"), titled("Trashed"));
        const QString fresh = writeBook(m_library->path("Books"), QStringLiteral("fresh.epub"), titled("Fresh"));
        QVERIFY(m_library->store(inLibrary) > 0);
        QVERIFY(BookProvider::instance()->setDeleted(m_library->store(trashed), 1));

        ImportRecorder recorder;
        // The same file twice in one list is one book; a relative spelling is the same file.
        const QString relative = QDir::current().relativeFilePath(fresh);
        importer()->start(QString(), { inLibrary, trashed, fresh, relative, m_library->path("Books/missing.epub") });
        QVERIFY(recorder.waitFinished());
        QCOMPARE(recorder.statuses,
            (QList<int> { ItemAlreadyInLibrary, ItemAdded, ItemAdded, ItemAlreadyInLibrary, ItemFileMissing }));
        // A known book is not read: the record carries only its path.
        QCOMPARE(recorder.paths.at(0), inLibrary);
        QVERIFY(recorder.titles.at(0).isEmpty());
        QCOMPARE(recorder.paths.at(3), fresh);
        // Each item comes before the progress that counts it; only added books count as done.
        QCOMPARE(recorder.events,
            (QStringList { "importStarted", "progress 0/5", "item 128", "progress 1/5", "item 0", "progress 2/5",
                "item 0", "progress 3/5", "item 128", "progress 4/5", "item 2", "progress 5/5", "finished 2/5" }));
        // A few files are looked up one by one, many at once: both find the known book.
        ImportRecorder alone;
        importer()->start(QString(), { inLibrary });
        QVERIFY(alone.waitFinished());
        QCOMPARE(alone.statuses, (QList<int> { ItemAlreadyInLibrary }));
        // With a store the progress is counted when it arrives: one that arrives after the task
        // ended still counts the whole run, and comes before the run's end.
        {
            QObject store;
            importer()->setStore(&store);
            ImportRecorder stored;
            importer()->start(QString(), { inLibrary, m_library->path("Books/missing.epub") });
            while (importer()->isRunning())
                QThread::msleep(5);
            QVERIFY(stored.waitFinished());
            QCOMPARE(
                stored.events, (QStringList { "importStarted", "progress 2/2", "item 128", "item 2", "finished 0/2" }));
        }

        // A book read before whose row went with a damaged or emptied library file: its reading
        // state is still in its folder, the library does not hold it. It is added and keeps it.
        const QString lost = writeBook(m_library->path("Books"), QStringLiteral("lost.epub"), titled("Lost"));
        const QString state = readingStateFile(bookDataDir(lost));
        QVERIFY(testfiles::write(state, R"({"ReadingPosition":{"Source":"ch2.xhtml"}})"));
        ImportRecorder again;
        importer()->start(QString(), { lost, inLibrary });
        QVERIFY(again.waitFinished());
        QCOMPARE(again.statuses, (QList<int> { ItemAdded, ItemAlreadyInLibrary }));
        QCOMPARE(again.titles.at(0), QStringLiteral("Lost"));
        QVERIFY(testfiles::read(state).contains("ch2.xhtml"));
    }

    void folderTreeAddsItsBooks()
    {
        const QString root = m_library->path("Shelf");
        writeBook(root, QStringLiteral("b.fb2"), titled("B"));
        writeBook(root + "/deep/deeper", QStringLiteral("c.mobi"), titled("C"));
        writeBook(root + "/deep", QStringLiteral("a.EPUB"), titled("A"));
        writeBook(root + "/comics", QStringLiteral("d.cbz"));
        QVERIFY(testfiles::write(root + "/notes.md", "not a book"));
        // A link back up the tree is entered once.
        QVERIFY(QFile::link(root, root + "/deep/loop"));
        const QString already = writeBook(root, QStringLiteral("old.fb2"), titled("Old"));
        QVERIFY(m_library->store(already) > 0);

        ImportRecorder recorder;
        importer()->start(QString(), { root });
        QVERIFY(recorder.waitFinished());
        QStringList names;
        for (const QString& path : qAsConst(recorder.paths))
            names.append(QDir(root).relativeFilePath(path));
        QCOMPARE(names, (QStringList { "b.fb2", "comics/d.cbz", "deep/a.EPUB", "deep/deeper/c.mobi", "old.fb2" }));
        QCOMPARE(recorder.statuses, (QList<int> { ItemAdded, ItemAdded, ItemAdded, ItemAdded, ItemAlreadyInLibrary }));
        // The folder counts as nothing itself; its books are the run's items.
        QCOMPARE(recorder.events.at(recorder.events.size() - 2), QStringLiteral("progress 5/5"));
    }

    // Pausing finishes the item in hand and holds the next; a cancel drops the rest and the pause,
    // and what is added while the cancelled run ends gets a run of its own. The first book is a FIFO, which holds
    // the task in its read until the test writes the book into it.
    void pauseAndCancel()
    {
        const QString books = m_library->path("Books");
        const QByteArray gate = QFile::encodeName(books + "/gate.fb2");
        QVERIFY(QDir().mkpath(books) && ::mkfifo(gate.constData(), 0600) == 0);
        int writer = -1;
        const auto releaseGate = qScopeGuard([&] {
            if (writer >= 0 || (writer = ::open(gate.constData(), O_WRONLY | O_NONBLOCK)) >= 0)
                ::close(writer);
        });
        QStringList files { QFile::decodeName(gate) };
        for (int i = 1; i <= 3; ++i)
            files.append(writeBook(books, QStringLiteral("%1.fb2").arg(i), titled(QString::number(i))));
        const QString later = writeBook(books, QStringLiteral("later.fb2"), titled("Later"));

        ImportRecorder recorder;
        QVERIFY(importer()->start(QString(), files));
        QVERIFY(QTest::qWaitFor([&] { return (writer = ::open(gate.constData(), O_WRONLY | O_NONBLOCK)) >= 0; }));
        importer()->toggleProcessing(true);
        QVERIFY(importer()->isPaused());
        const QByteArray book = smallFb2(QStringLiteral("Gate"));
        QCOMPARE(::write(writer, book.constData(), size_t(book.size())), ssize_t(book.size()));
        ::close(writer);
        writer = -1;
        QTRY_COMPARE(recorder.statuses.size(), 1);
        QTest::qWait(3 * bookimporter::kPauseStepMs);
        QCOMPARE(recorder.statuses.size(), 1);
        QVERIFY(importer()->isRunning());
        QCOMPARE(recorder.finishedCount, 0);

        // Stopping ends the pause: the files added next are read without a resume.
        importer()->cancel();
        QVERIFY(!importer()->isPaused());
        QCOMPARE(importer()->start(QString(), { later }), false);
        QVERIFY(recorder.waitFinished(2));
        QCOMPARE(recorder.titles, (QStringList { "Gate", "Later" }));
        QCOMPARE(recorder.events.filter(QRegularExpression("^(importStarted|finished)")),
            (QStringList { "importStarted", "finished 1/1", "importStarted", "finished 1/1" }));
    }

    void libraryArchiveRoundTrip()
    {
        const int kPdfPlace = 3;
        const QString kEpubPlace = QStringLiteral("OEBPS/chapter2.xhtml?kelpath=/4/2/1:12");
        QTemporaryDir outside;
        const QString archive = outside.filePath(QStringLiteral("library.olv"));
        QStringList suffixes = librarybooks::suffixes();
        QMap<QString, QStringList> exported;
        {
            // The first library: every format, folders, a favourite, reading progress.
            QStringList files;
            for (const QString& suffix : suffixes)
                files.append(writeBook(m_library->path("Books"), QStringLiteral("book.") + suffix, titled(suffix)));
            // The task must never use the database: Qt complains when a connection is used on another thread.
            static QAtomicInt foreignThread;
            static QtMessageHandler previous = nullptr;
            previous
                = qInstallMessageHandler([](QtMsgType type, const QMessageLogContext& context, const QString& text) {
                      if (text.contains(QLatin1String("does not belong to the calling thread")))
                          foreignThread.ref();
                      previous(type, context, text);
                  });
            const auto restoreHandler = qScopeGuard([] { qInstallMessageHandler(previous); });
            ImportRecorder recorder;
            QVERIFY(importer()->start(QString(), files));
            QVERIFY(recorder.waitFinished());
            QCOMPARE(recorder.statuses, QVector<int>(files.size(), ItemAdded).toList());
            QCOMPARE(recorder.threads, QSet<QThread*> { QThread::currentThread() });
            QCOMPARE(foreignThread.loadAcquire(), 0);
            QTRY_COMPARE(m_library->books->rowCount(), files.size());
            // The description went into the database with the book.
            QCOMPARE(BookProvider::instance()->getMetaData(m_library->stored(files.at(0)).id, BookMetaDescription),
                QStringLiteral("A short book for tests."));
            for (int i = 0; i < files.size(); ++i) {
                BookDto book = m_library->stored(files.at(i));
                book.position = 10 + i;
                book.max_position = 100 + i;
                book.is_favorite = i % 2;
                // Books that name themselves after their file, retitled in the library.
                if (book.format == BookFormat::Pdf || book.format == BookFormat::Cbz
                    || book.format == BookFormat::Cbr) {
                    book.title = QStringLiteral("Edited ") + suffixes.at(i);
                    book.author = QStringLiteral("Edited Author");
                }
                // The user's own cover goes into the archive instead of the book's.
                book.use_user_cover = book.format == BookFormat::Pdf;
                if (book.use_user_cover) {
                    QImage userCover(120, 180, QImage::Format_RGB32);
                    userCover.fill(QColor(0x99, 0x22, 0x44));
                    QVERIFY(userCover.save(coverFilePath(book.full_path), "JPG"));
                }
                QVERIFY(BookProvider::instance()->update(book));
                if (i < 4) {
                    const int folder = m_library->folders->findOrAddCategory(i < 2 ? "Novels" : "Comics");
                    QVERIFY(m_library->folders->addBookToCategory(book.id, folder));
                }
                // Where reading stopped lives in the book's state file, not in its record: a page of
                // the PDF, a chapter link of the EPUB.
                if (book.format == BookFormat::Pdf || book.format == BookFormat::Epub) {
                    ReadingState state;
                    state.readingPage = book.format == BookFormat::Pdf ? kPdfPlace : -1;
                    state.readingSource = book.format == BookFormat::Epub ? kEpubPlace : QString();
                    QVERIFY(ReadingStateFile::write(
                        ReadingStateFile::filePath(bookDataDir(book.full_path)), state, book.format));
                }
            }
            ImportRecorder exporting;
            QVERIFY(importer()->exportToArchive(archive, BookProvider::instance()->allBooksWithFolderTitle()));
            QVERIFY(exporting.waitFinished());
            QCOMPARE(exporting.events.first(), QStringLiteral("exportStarted"));
            QCOMPARE(exporting.events.last(), QStringLiteral("exported 10/10"));

            // The layout other versions read: each book and its cover under the book's own id.
            const QMap<QString, QByteArray> stored = members(archive);
            QSet<QString> ids;
            for (const QJsonValue& value : containerBooks(archive)) {
                const QJsonObject entry = value.toObject();
                const QString dir = entry.value("book_id").toString() + QLatin1Char('/');
                ids.insert(dir);
                const BookDto book = m_library->stored(m_library->path("Books/") + entry.value("file_name").toString());
                QCOMPARE(entry.value("rel_path").toString(), dir + QFileInfo(book.full_path).fileName());
                QCOMPARE(stored.value(entry.value("rel_path").toString()), testfiles::read(book.full_path));
                QCOMPARE(entry.value("book_format").toInt(), book.format);
                QCOMPARE(entry.value("has_custom_cover").toBool(), book.use_user_cover);
                const QString cover = book.use_user_cover ? "cover.jpg" : book.cover.isEmpty() ? "" : "cover.png";
                QCOMPARE(entry.value("cover_path").toString(), cover.isEmpty() ? QString() : dir + cover);
                QCOMPARE(stored.value(dir + cover),
                    testfiles::read(book.use_user_cover ? coverFilePath(book.full_path) : book.cover));
                // Every other field of the format: the reading place an integer, as other readers take it.
                QCOMPARE(entry.keys(),
                    QStringList(
                        { "author", "book_format", "book_id", "cover_path", "file_name", "folders", "has_custom_cover",
                            "is_favorite", "position", "progress", "reading_source", "rel_path", "title" }));
                QCOMPARE(entry.value("title").toString(), book.title);
                QCOMPARE(entry.value("author").toString(), book.author);
                QCOMPARE(entry.value("progress").toInt(), book.max_position);
                QCOMPARE(entry.value("is_favorite").toBool(), book.is_favorite != 0);
                QString folder;
                for (const BookDto& listed : BookProvider::instance()->allBooksWithFolderTitle())
                    folder = listed.id == book.id ? listed.folder_title : folder;
                QCOMPARE(entry.value("folders").toArray(), QJsonArray { folder });
                QVERIFY(entry.value("position").isDouble());
                QCOMPARE(
                    entry.value("position").toDouble(), book.format == BookFormat::Pdf ? kPdfPlace : book.position);
                QVERIFY2(entry.value("reading_source").toString()
                        == (book.format == BookFormat::Epub ? kEpubPlace : QString()),
                    qPrintable(book.full_path + QStringLiteral(" ") + entry.value("reading_source").toString()));
            }
            QCOMPARE(ids.size(), suffixes.size());
            exported = archivedLibrary();
            exported["pdf"][3] = QStringLiteral("position %1").arg(kPdfPlace);
        }

        // A fresh library in another home.
        m_library.reset();
        m_library = std::make_unique<TestLibrary>();
        QVERIFY(m_library->open);
        // Files already in the import folder stay: a book comes in under a free name.
        for (const char* name : { "/book.epub", "/1_book.epub" })
            QVERIFY(testfiles::write(importDir() + QLatin1String(name), "already here"));
        ImportRecorder importing;
        QVERIFY(importer()->importFromArchive(archive));
        QVERIFY(importing.waitFinished());
        QCOMPARE(importing.statuses.size(), suffixes.size());
        QTRY_COMPARE(m_library->books->rowCount(), suffixes.size());

        // Every field the archive carries comes back as it was: titles and authors edited in the
        // library, progress, favourites, folders, and the user's own cover byte for byte.
        const QMap<QString, QStringList> imported = archivedLibrary();
        QCOMPARE(imported.keys(), exported.keys());
        for (auto it = exported.cbegin(); it != exported.cend(); ++it)
            QCOMPARE(imported.value(it.key()), it.value());
        QCOMPARE(exported.value("pdf").constLast().left(13), QStringLiteral("user cover 1 "));
        QCOMPARE(exported.value("cbz").first(), QStringLiteral("title Edited cbz"));
        QCOMPARE(exported.value(suffixes.first()).at(6), QStringLiteral("folder Novels"));
        for (const BookDto& book : BookProvider::instance()->allBooksWithFolderTitle()) {
            const QString suffix = QFileInfo(book.full_path).suffix();
            QCOMPARE(book.full_path, importDir() + (suffix == "epub" ? "/2_book." : "/book.") + suffix);
            // The book's own cover is made again from its file.
            if (suffix != "txt")
                QCOMPARE(QImage(book.cover).height(), 300);
        }
        // The books open where they were left.
        for (const char* suffix : { "pdf", "epub" }) {
            const QString book = importDir() + (suffix == QLatin1String("epub") ? "/2_book." : "/book.") + suffix;
            ReadingState state;
            QVERIFY(ReadingStateFile::read(ReadingStateFile::filePath(bookDataDir(book)), &state));
            QCOMPARE(state.readingPage, suffix == QLatin1String("pdf") ? kPdfPlace : -1);
            QCOMPARE(state.readingSource, suffix == QLatin1String("epub") ? kEpubPlace : QString());
        }
        QCOMPARE(m_library->folders->rowCount(), 2);
        QCOMPARE(testfiles::read(importDir() + "/book.epub") + testfiles::read(importDir() + "/1_book.epub"),
            QByteArray("already herealready here"));
    }

    // One task at a time; a cancelled export writes nothing, a book whose file is gone is left out,
    // and files added meanwhile get a run of their own when it ends.
    void exportTask()
    {
        QList<BookDto> books;
        for (const QString name : { "one.epub", "two.fb2", "three.pdf" }) {
            BookDto book;
            book.full_path = writeBook(m_library->path("Books"), name);
            books.append(book);
        }
        QVERIFY(QFile::remove(books.at(1).full_path));
        QTemporaryDir outside;
        const QString archive = outside.filePath(QStringLiteral("export.olv"));
        const QByteArray lastWeek("the archive of last week");
        QVERIFY(testfiles::write(archive, lastWeek));
        // Held paused, so the first export is surely still running when the second one asks.
        importer()->toggleProcessing(true);
        ImportRecorder cancelled;
        QVERIFY(importer()->exportToArchive(archive, books));
        QCOMPARE(importer()->exportToArchive(outside.filePath(QStringLiteral("second.olv")), books), false);
        importer()->cancel();
        QVERIFY(cancelled.waitFinished());
        QCOMPARE(cancelled.events, (QStringList { "exportStarted", "exported 0/0" }));
        QTRY_VERIFY(!importer()->isRunning());
        // Until an export is committed the archive of last time stays as it was.
        QCOMPARE(QDir(outside.path()).entryList(QDir::Files), QStringList { "export.olv" });
        QCOMPARE(testfiles::read(archive), lastWeek);

        const QString added = writeBook(m_library->path("Books"), QStringLiteral("added.fb2"), titled("Added"));
        ImportRecorder recorder;
        // The stop ended the pause: held again, so the export is still running when the book comes.
        importer()->toggleProcessing(true);
        QVERIFY(importer()->exportToArchive(archive, books));
        QCOMPARE(importer()->start(QString(), { added }), false);
        importer()->toggleProcessing(false);
        QVERIFY(recorder.waitFinished(2));
        QCOMPARE(recorder.events.mid(0, 5),
            (QStringList { "exportStarted", "progress 0/3", "progress 1/3", "exported 2/3", "importStarted" }));
        QCOMPARE(recorder.titles, QStringList { "Added" });
        QCOMPARE(recorder.threads, QSet<QThread*> { QThread::currentThread() });
        QCOMPARE(containerBooks(archive).size(), 2);

        // An archive that cannot be made is a failed export, not an import.
        ImportRecorder failing;
        QVERIFY(importer()->exportToArchive(outside.filePath(QStringLiteral("absent/export.olv")), books));
        QVERIFY(failing.waitFinished());
        QCOMPARE(failing.events, (QStringList { "exportStarted", "exported 0/3" }));
        QVERIFY(!QFileInfo::exists(outside.filePath(QStringLiteral("absent"))));
    }

    // Names from the archive never lead out of the import folder; a member that is damaged or missing
    // writes nothing and is reported missing; entries that are no objects are skipped.
    void hostileLibraryArchive()
    {
        const QByteArray book = smallFb2(QStringLiteral("Fine"));
        const QByteArray damaged = QByteArray("BOOK-CONTENT-").repeated(200);
        QJsonArray books { 1, "two", QJsonValue() };
        QList<ZipEntry> extra { { "good/x.fb2", book, true }, { "good/damaged.fb2", damaged, false } };
        for (const char* relPath :
            { "../evil.fb2", "/etc/evil.fb2", "C:/evil.fb2", "x/../../evil.fb2", "x\\..\\..\\evil.fb2", "", "." }) {
            books.append(bookObject(relPath, "fine.fb2"));
            if (*relPath)
                extra.append({ relPath, book, true });
        }
        for (const char* fileName : { "../../.bashrc", "/tmp/evil.fb2", "..", "", "C:evil.fb2", "a/../../evil.fb2" })
            books.append(bookObject("good/x.fb2", fileName));
        // A member name with folders gives its last part as the file name. A cover that is no image
        // gives the book none of the user's.
        QJsonObject safe = bookObject("good/x.fb2", "deep/inside/safe.fb2");
        safe.insert("has_custom_cover", true);
        safe.insert("cover_path", "good/x.fb2");
        books.append(safe);
        books.append(bookObject("good/damaged.fb2", "damaged.fb2"));
        books.append(bookObject("good/absent.fb2", "absent.fb2"));
        QTemporaryDir outside;
        const QString archive = outside.filePath(QStringLiteral("hostile.olv"));
        ZipWriter zip(archive);
        // The index is found whatever the case of its name.
        zip.add(QStringLiteral("CONTAINER.JSON"), QJsonDocument(QJsonObject { { "books", books } }).toJson());
        for (const ZipEntry& entry : qAsConst(extra))
            zip.add(entry);
        QVERIFY(zip.write());
        // One byte of the stored member changed: its checksum no longer matches.
        QByteArray bytes = testfiles::read(archive);
        QVERIFY(bytes.indexOf(damaged) > 0);
        bytes[bytes.indexOf(damaged) + 100] = 'X';
        QVERIFY(testfiles::write(archive, bytes));

        ImportRecorder recorder;
        importer()->importFromArchive(archive);
        QVERIFY(recorder.waitFinished());
        QCOMPARE(recorder.statuses, (QList<int> { ItemAdded, ItemFileMissing, ItemFileMissing }));
        // Those not unpacked are named by the files they would have been.
        QCOMPARE(recorder.paths.mid(1), QStringList({ importDir() + "/damaged.fb2", importDir() + "/absent.fb2" }));
        QCOMPARE(QDir(importDir()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
            QStringList { "safe.fb2" });
        QTRY_VERIFY(m_library->stored(importDir() + "/safe.fb2").id > 0);
        QVERIFY(!m_library->stored(importDir() + "/safe.fb2").use_user_cover);
        QVERIFY(!QFileInfo::exists(coverFilePath(importDir() + "/safe.fb2")));
        QDirIterator all(m_library->home->path(), QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
        while (all.hasNext())
            QVERIFY2(!all.next().contains(QRegularExpression("evil|bashrc")), qPrintable(all.filePath()));
    }

    // A damaged, foreign or oversized archive is one book that could not be read, not a silent empty run.
    void unreadableLibraryArchive()
    {
        QTemporaryDir outside;
        const QString notZip = outside.filePath(QStringLiteral("text.olv"));
        QVERIFY(testfiles::write(notZip, QByteArray("These are not the books you are looking for.")));
        const QString noIndex = outside.filePath(QStringLiteral("noindex.olv"));
        ZipWriter zip(noIndex);
        zip.add(QStringLiteral("x/book.fb2"), smallFb2(QStringLiteral("Book")));
        QVERIFY(zip.write());
        // Seventeen megabytes of blanks pack into a few kilobytes: the reader stops at its limit.
        const QString huge = outside.filePath(QStringLiteral("huge.olv"));
        ZipWriter bomb(huge);
        bomb.add(QStringLiteral("container.json"),
            "{\"books\": [" + QByteArray(importbooks::kMaxContainerBytes + 1024 * 1024, ' ') + "]}");
        QVERIFY(bomb.write());
        const QString notJson = outside.filePath(QStringLiteral("notjson.olv"));
        ZipWriter text(notJson);
        text.add(QStringLiteral("container.json"), "books: none");
        QVERIFY(text.write());
        for (const QString& archive : { notZip, noIndex, huge, notJson }) {
            ImportRecorder recorder;
            QVERIFY(importer()->importFromArchive(archive));
            QVERIFY(recorder.waitFinished());
            QCOMPARE(recorder.statuses, QList<int> { ItemReadFailed });
            QCOMPARE(recorder.paths.first(), archive);
        }
    }
};

QTEST_MAIN(TestLibraryImport)
#include "tst_libraryimport.moc"
