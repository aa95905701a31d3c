#include "importtesthelpers.h"

#include "epubbuilder.h"
#include "fb2builder.h"
#include "librarybooks.h"
#include "mobiwriter.h"
#include "pdfencryption.h"
#include "pdfwriter.h"
#include "sevenzwriter.h"
#include "temphome.h"
#include "zipwriter.h"

#include "appdirs.h"
#include "formats/bookformat.h"
#include "import/bookcover.h"
#include "import/bookfilereader.h"
#include "models/bookdto.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTest>

#include <memory>

namespace {

using MetaMap = QMap<int, QString>;

const QString kEpubId = QStringLiteral("urn:uuid:12345678-1234-1234-1234-123456789abc");

QString coverOf(const QString& bookPath) { return bookDataDir(bookPath) + QStringLiteral("/cover.png"); }

// A record for a file, as the adding task makes it.
BookDto recordFor(const QString& path)
{
    BookDto record;
    record.full_path = path;
    return record;
}

} // namespace

class TestBookFileReader : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { usePdfEngine(); }
    void init() { m_home = std::make_unique<TempHome>(); }
    void cleanup() { m_home.reset(); }

    void readsEveryFormat_data();
    void readsEveryFormat();
    void statusCodes_data();
    void statusCodes();
    void alreadyInLibraryUnlessIgnored();
    void archiveFieldsKeptOrReplaced();
    void coverSizes_data();
    void coverSizes();
    void hostileCovers_data();
    void hostileCovers();
    void bookChoosesItsCover_data();
    void bookChoosesItsCover();

private:
    QString books() const { return m_home->filePath(QStringLiteral("Books")); }
    std::unique_ptr<TempHome> m_home;
};

void TestBookFileReader::readsEveryFormat_data()
{
    QTest::addColumn<QString>("fileName");
    QTest::addColumn<int>("format");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("author");
    QTest::addColumn<bool>("hasCover");
    QTest::addColumn<MetaMap>("metadata");

    const QString title = QStringLiteral("A Library Book");
    const QString publisher = QStringLiteral("Loom Press");
    const QString description = QStringLiteral("A short book for tests.");
    const MetaMap epubMeta { { 0, kEpubId }, { 1, title }, { 2, QStringLiteral("Ann Author") }, { 5, publisher },
        { 6, description }, { 10, QStringLiteral("en") } };
    const MetaMap mobiMeta { { 1, title }, { 2, QStringLiteral("Ann Author") }, { 5, publisher }, { 6, description },
        { 7, QStringLiteral("Mobipocket Book") } };
    const MetaMap fb2Meta { { 1, title }, { 2, QStringLiteral("Author Ann") }, { 5, publisher }, { 6, description },
        { 7, QStringLiteral("prose_contemporary") }, { 10, QStringLiteral("en") } };
    const MetaMap pdfMeta { { 2, QStringLiteral("Loom Writer") }, { 5, QStringLiteral("Loom Writer") } };

    QTest::newRow("epub") << "tale.epub" << 0 << title << "Ann Author" << true << epubMeta;
    QTest::newRow("mobi") << "tale.mobi" << 1 << title << "Ann Author" << true << mobiMeta;
    QTest::newRow("prc") << "tale.prc" << 5 << title << "Ann Author" << true << mobiMeta;
    QTest::newRow("fb2") << "tale.fb2" << 2 << title << "Author Ann" << true << fb2Meta;
    QTest::newRow("fb2 in zip") << "tale.zip" << 9 << title << "Author Ann" << true << fb2Meta;
    QTest::newRow("fb2 in 7z") << "tale.7z" << 10 << title << "Author Ann" << true << fb2Meta;
    QTest::newRow("txt: its name is its title")
        << "Plain Tale.txt" << 8 << "Plain Tale" << QString() << false << MetaMap();
    QTest::newRow("pdf") << "tale.pdf" << 3 << title << "Ann Author" << true << pdfMeta;
    QTest::newRow("cbz: blanks for underscores") << "My_Comic.cbz" << 6 << "My Comic" << QString() << true << MetaMap();
    QTest::newRow("cbr") << "Comic.cbr" << 7 << "Comic" << QString() << true << MetaMap();
    QTest::newRow("suffix in capitals") << "LOUD.EPUB" << 0 << title << "Ann Author" << true << epubMeta;
}

void TestBookFileReader::readsEveryFormat()
{
    QFETCH(QString, fileName);
    QFETCH(int, format);
    QFETCH(QString, title);
    QFETCH(QString, author);
    QFETCH(bool, hasCover);
    QFETCH(MetaMap, metadata);

    librarybooks::BookSpec recipe;
    recipe.coverColor = QColor(0xcc, 0x33, 0x66);
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

    if (!hasCover) {
        QVERIFY(record.cover.isEmpty());
        QVERIFY(!QFile::exists(coverOf(path)));
        return;
    }
    QCOMPARE(record.cover, coverOf(path));
    const QImage cover(record.cover);
    QCOMPARE(cover.height(), bookcover::kHeight);
    if (format == BookFormat::Pdf)
        QCOMPARE(cover.width(), 232); // US Letter, 612 x 792 points
    else
        QCOMPARE(cover.width(), 200); // the 200 x 300 picture
    QVERIFY(centreHasColour(cover, recipe.coverColor));
}

void TestBookFileReader::statusCodes_data()
{
    QTest::addColumn<QString>("fileName");
    QTest::addColumn<QByteArray>("bytes"); // null: the file is not written
    QTest::addColumn<ItemStatus>("status");
    QTest::addColumn<QString>("title"); // the title a book that is still added gets

    EpubBuilder enciphered;
    enciphered.addArchiveFile(QStringLiteral("META-INF/encryption.xml"),
        "<encryption xmlns=\"urn:oasis:names:tc:opendocument:xmlns:container\" "
        "xmlns:enc=\"http://www.w3.org/2001/04/xmlenc#\"><enc:EncryptedData><enc:EncryptionMethod "
        "Algorithm=\"http://www.w3.org/2001/04/xmlenc#aes256-cbc\"/><enc:CipherData><enc:CipherReference "
        "URI=\"OEBPS/ch1.xhtml\"/></enc:CipherData></enc:EncryptedData></encryption>");
    enciphered.addChapter(QStringLiteral("ch1"), QStringLiteral("ch1.xhtml"), QStringLiteral("One"), "<p>x</p>");
    QTemporaryDir dir;
    const QString epubPath = dir.filePath(QStringLiteral("e.epub"));
    QVERIFY(enciphered.write(epubPath));
    const QByteArray epubBytes = testfiles::read(epubPath);

    MobiWriter notMobi;
    notMobi.setText("<p>text</p>");
    notMobi.setIdentifier("BOOK");
    MobiWriter encryptedMobi;
    encryptedMobi.setText("<p>text</p>");
    encryptedMobi.setEncryption(2);
    ZipWriter epubInZip(dir.filePath(QStringLiteral("e.zip")));
    epubInZip.add(QStringLiteral("book.epub"), epubBytes);
    QVERIFY(epubInZip.write());

    SevenZWriter epubIn7z(dir.filePath(QStringLiteral("e.7z")));
    epubIn7z.add(QStringLiteral("book.epub"), epubBytes);
    QVERIFY(epubIn7z.write());

    PdfWriter pdf;
    pdf.addPage();
    pdf.setInfo("Title", QStringLiteral("Secret Title"));
    QVERIFY(
        writeEncryptedPdf(pdf.toPdf(), dir.filePath("locked.pdf"), QStringLiteral("user"), QStringLiteral("owner")));

    const QByteArray garbage("this is no book at all\n");
    QTest::newRow("missing") << "gone.epub" << QByteArray() << ItemFileMissing << QString();
    QTest::newRow("djvu") << "scan.djvu" << garbage << ItemUnsupportedFormat << QString();
    QTest::newRow("doc") << "letter.doc" << garbage << ItemUnsupportedFormat << QString();
    QTest::newRow("no suffix") << "README" << garbage << ItemUnsupportedFormat << QString();
    QTest::newRow("enciphered epub") << "locked.epub" << epubBytes << ItemProtected << QString();
    QTest::newRow("epub that is no zip") << "broken.epub" << garbage << ItemReadFailed << QString();
    QTest::newRow("mobi without MOBI header") << "palm.mobi" << notMobi.build() << ItemReadFailed << QString();
    QTest::newRow("encrypted mobi") << "drm.mobi" << encryptedMobi.build() << ItemProtected << QString();
    QTest::newRow("fb2 that is no XML") << "broken.fb2" << garbage << ItemReadFailed << QString();
    QTest::newRow("zip holding an epub") << "nested.zip" << testfiles::read(dir.filePath("e.zip")) << ItemReadFailed
                                         << QString();
    QTest::newRow("7z holding an epub") << "nested.7z" << testfiles::read(dir.filePath(QStringLiteral("e.7z")))
                                        << ItemUnsupportedArchivedBook << QString();
    // Image books that do not load are still added, under their file's name.
    QTest::newRow("pdf that is no PDF") << "Broken Scan.pdf" << garbage << ItemAdded << "Broken Scan";
    QTest::newRow("cbz that is no zip") << "Broken_Comic.cbz" << garbage << ItemAdded << "Broken Comic";
    // A PDF that asks for a password is named after its file, with nothing read from inside.
    QTest::newRow("pdf with a password") << "Secret Report.pdf" << testfiles::read(dir.filePath("locked.pdf"))
                                         << ItemAdded << "Secret Report";
}

void TestBookFileReader::statusCodes()
{
    QFETCH(QString, fileName);
    QFETCH(QByteArray, bytes);
    QFETCH(ItemStatus, status);
    QFETCH(QString, title);

    QDir().mkpath(books());
    const QString path = books() + QLatin1Char('/') + fileName;
    if (!bytes.isNull())
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
    QCOMPARE(record.format, int(BookFormat::Pdf) + (fileName.endsWith(".cbz") ? 3 : 0));
    QVERIFY(record.cover.isEmpty());
    QVERIFY(record.metadata.isEmpty());
}

void TestBookFileReader::alreadyInLibraryUnlessIgnored()
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

void TestBookFileReader::archiveFieldsKeptOrReplaced()
{
    // A book that came from a library archive brings its author and title along.
    librarybooks::BookSpec anonymous;
    anonymous.authorFirst.clear();
    anonymous.authorLast.clear();
    anonymous.title.clear();
    // PDF and comics name themselves only when the archive has no name for them.
    for (const char* fileName : { "anonymous.epub", "anonymous.fb2", "anonymous.pdf", "anonymous.cbz" }) {
        const QString path = writeBook(books(), fileName, anonymous);
        QVERIFY(!path.isEmpty());
        BookDto record = recordFor(path);
        record.author = QStringLiteral("Archive Author");
        record.title = QStringLiteral("Archive Title");
        record.position = 7;
        record.is_favorite = 1;
        QCOMPARE(readBookFile(record, false), ItemAdded);
        QCOMPARE(record.author.trimmed() + '/' + record.title, QStringLiteral("Archive Author/Archive Title"));
        QCOMPARE(record.position + record.is_favorite, 8);
    }
}

void TestBookFileReader::coverSizes_data()
{
    QTest::addColumn<QSize>("picture");
    QTest::addColumn<QSize>("cover");

    QTest::newRow("600 high") << QSize(400, 600) << QSize(200, 300);
    QTest::newRow("small, enlarged") << QSize(100, 150) << QSize(200, 300);
    QTest::newRow("JPEG-sized scan") << QSize(2000, 3000) << QSize(200, 300);
    // A panorama is fitted into four times the height, not blown up to 300 high.
    QTest::newRow("very wide") << QSize(3000, 100) << QSize(1200, 40);
    QTest::newRow("one pixel high") << QSize(2000, 1) << QSize(1200, 1);
    QTest::newRow("no cover") << QSize() << QSize();
}

void TestBookFileReader::coverSizes()
{
    QFETCH(QSize, picture);
    QFETCH(QSize, cover);

    librarybooks::BookSpec recipe;
    recipe.coverSize = picture;
    for (const QString& suffix : { QStringLiteral("epub"), QStringLiteral("mobi"), QStringLiteral("fb2") }) {
        const QString path = writeBook(books(), QStringLiteral("cover.") + suffix, recipe);
        QVERIFY(!path.isEmpty());
        BookDto record = recordFor(path);
        QCOMPARE(readBookFile(record, false), ItemAdded);
        if (!cover.isValid()) {
            QVERIFY2(record.cover.isEmpty(), qPrintable(suffix));
            QVERIFY(!QFile::exists(coverOf(path)));
            continue;
        }
        QCOMPARE(QImage(record.cover).size(), cover);
    }
}

// The cover the book names, else its first image: the logo comes first in every book here.
void TestBookFileReader::bookChoosesItsCover_data()
{
    QTest::addColumn<QString>("fileName");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<bool>("front");

    const QByteArray logo = MobiWriter::image(QSize(40, 60), Qt::red);
    const QByteArray front = MobiWriter::image(QSize(40, 60), Qt::darkGreen);
    const auto mobi = [&](int coverOffset) {
        MobiWriter book;
        book.setText("<p>text</p>");
        book.addImage(logo);
        book.addImage(front);
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
    QTest::newRow("mobi: EXTH cover offset") << "offset.mobi" << mobi(1) << true;
    QTest::newRow("mobi: no offset") << "first.mobi" << mobi(-1) << false;
    QTest::newRow("mobi: offset past the images") << "past.mobi" << mobi(7) << false;
    QTest::newRow("fb2: cover page image") << "page.fb2" << fb2({ "front.png" }) << true;
    QTest::newRow("fb2: no cover page") << "none.fb2" << fb2({}) << false;
    QTest::newRow("fb2: cover page of a missing binary") << "gone.fb2" << fb2({ "gone.png" }) << false;
}

void TestBookFileReader::bookChoosesItsCover()
{
    QFETCH(QString, fileName);
    QFETCH(QByteArray, bytes);
    QFETCH(bool, front);
    const QString path = books() + QLatin1Char('/') + fileName;
    QVERIFY(testfiles::write(path, bytes));
    BookDto record = recordFor(path);
    QCOMPARE(readBookFile(record, false), ItemAdded);
    QVERIFY(centreHasColour(QImage(record.cover), front ? Qt::darkGreen : Qt::red));
}

void TestBookFileReader::hostileCovers_data()
{
    QTest::addColumn<QString>("fileName");

    QTest::newRow("epub") << "bomb.epub";
    QTest::newRow("mobi") << "bomb.mobi";
    QTest::newRow("cbz") << "bomb.cbz";
}

void TestBookFileReader::hostileCovers()
{
    QFETCH(QString, fileName);

    // A cover whose header claims 40000 x 40000 pixels is not decoded; the book is still added.
    const QByteArray bomb = claimedSizePng(40000, 40000);
    QDir().mkpath(books());
    const QString path = books() + QLatin1Char('/') + fileName;
    if (fileName.endsWith(QLatin1String(".epub"))) {
        EpubBuilder book;
        book.addChapter(QStringLiteral("c"), QStringLiteral("c.xhtml"), QStringLiteral("C"), QStringLiteral("<p/>"));
        book.setCover(QStringLiteral("cover.png"), bomb);
        QVERIFY(book.write(path));
    } else if (fileName.endsWith(QLatin1String(".mobi"))) {
        MobiWriter book;
        book.setText("<p>text</p>");
        book.addImage(bomb);
        book.setCoverOffset(0);
        QVERIFY(testfiles::write(path, book.build()));
    } else {
        ZipWriter comic(path);
        comic.add(QStringLiteral("01.png"), bomb);
        comic.add(QStringLiteral("02.png"), EpubBuilder::png(20, 30));
        QVERIFY(comic.write());
    }
    const MessageCatcher refused(QStringLiteral("is not decoded: it has 40000 x 40000 pixels"));
    BookDto record = recordFor(path);
    QCOMPARE(readBookFile(record, false), ItemAdded);
    QVERIFY(record.cover.isEmpty());
    QVERIFY(!QFile::exists(coverOf(path)));
    QCOMPARE(refused.messages().size(), 1);
}

QTEST_MAIN(TestBookFileReader)
#include "tst_bookfilereader.moc"
