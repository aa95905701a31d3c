#include "archtestutil.h"
#include "awkwardnames.h"
#include "zipwriter.h"

#include "arch/entryfile.h"
#include "arch/rarreader.h"
#include "arch/zipreader.h"

#include <QtTest>

#include <memory>
#include <thread>

using archtest::noise;
using archtest::tree;

class TestZipReader : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void createArchiveReader();
    void nullReaderDoesNothing();
    void listsEveryEntry();
    void extractByNameWritesStoredSpelling();
    void extractByNameEdgeCases();
    void extractByPattern();
    void extractAllKeepsExistingFiles();
    void emptyArchive();
    void notAZip();
    void damagedEntryLeavesNoFile_data();
    void damagedEntryLeavesNoFile();
    void destinationNotWritable();
    void hostileNamesStayInside();
    void singleEntrySuffix();
    void concurrentUnpacksOfOneEntry();
    void sizeLimits();

private:
    QString zipOf(const QString& name, const QList<ZipEntry>& entries);
    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_dest;
};

void TestZipReader::initTestCase() { archtest::silenceDebugOutput(); }

void TestZipReader::init()
{
    m_dir.reset(new QTemporaryDir);
    QVERIFY(m_dir->isValid());
    m_dest = m_dir->filePath(QStringLiteral("out"));
}

QString TestZipReader::zipOf(const QString& name, const QList<ZipEntry>& entries)
{
    const QString path = m_dir->filePath(name);
    if (!ZipWriter::write(path, entries))
        qFatal("cannot write fixture %s", qPrintable(path));
    return path;
}

// The reader follows the suffix in any letter case; other suffixes get the reader that reads nothing.
void TestZipReader::createArchiveReader()
{
    const QList<QPair<const char*, const char*>> cases { { "/x/Book.CBZ", "zip" }, { "x.Epub", "zip" },
        { "a.b.zip", "zip" }, { "comic.CbR", "rar" }, { "book.7z", "null" }, { "book.pdf", "null" },
        { "cbz", "null" } };
    for (const auto& c : cases) {
        std::unique_ptr<ArchiveReader> reader(::createArchiveReader(c.first));
        QVERIFY(reader);
        const char* actual = dynamic_cast<ZipReader*>(reader.get()) ? "zip"
            : dynamic_cast<RarReader*>(reader.get())                ? "rar"
                                                                    : "null";
        QCOMPARE(QByteArray(actual), QByteArray(c.second));
    }
}

void TestZipReader::nullReaderDoesNothing()
{
    const QString zip = zipOf("a.zip", { { "a.txt", "A" } });
    ArchiveReader reader;
    QString outPath = "untouched";
    QList<QFileInfo> extracted;
    QVERIFY(reader.files(zip).isEmpty());
    QVERIFY(!reader.extractAll(zip, m_dest, &extracted));
    QVERIFY(!reader.extract(zip, QString("a.txt"), m_dest, outPath));
    QVERIFY(!reader.extract(zip, QRegExp("a"), m_dest, outPath));
    QCOMPARE(outPath, QString("untouched"));
    QVERIFY(extracted.isEmpty());
    QVERIFY(!QFileInfo::exists(m_dest));
}

void TestZipReader::listsEveryEntry()
{
    const QString zip = zipOf("a.cbz", { { "scans/", {}, false }, { "scans/b.png", "B" }, { "scans/a.png", "A" } });
    ZipReader reader;
    QCOMPARE(reader.files(zip), QStringList({ "scans/", "scans/b.png", "scans/a.png" }));
}

void TestZipReader::extractByNameWritesStoredSpelling()
{
    const QByteArray page = noise(100000);
    const QString zip = zipOf("a.cbz", { { "images/p1.jpg", page }, { "images/p2.jpg", "two", false } });
    ZipReader reader;
    QString outPath;
    QVERIFY(reader.extract(zip, QString("IMAGES/P1.JPG"), m_dest, outPath));
    QCOMPARE(outPath, m_dest + "/images/p1.jpg");
    QCOMPARE(testfiles::read(outPath), page);
    QCOMPARE(tree(m_dest), QStringList({ "images", "images/p1.jpg" }));

    // A second extraction of the same entry replaces the file.
    QVERIFY(testfiles::write(outPath, "stale"));
    QVERIFY(reader.extract(zip, QString("images/p1.jpg"), m_dest, outPath));
    QCOMPARE(testfiles::read(outPath), page);
}

void TestZipReader::extractByNameEdgeCases()
{
    const QString zip
        = zipOf("a.zip", { { "Cover.jpg", "first" }, { "text/ch1.html", "<p/>" }, { "cover.JPG", "second" } });
    ZipReader reader;

    QString outPath = "untouched";
    QVERIFY(reader.extract(zip, QString("missing.jpg"), m_dest, outPath));
    QCOMPARE(outPath, QString("untouched"));

    // The same name in two spellings: both are written, outPath names the later one.
    QVERIFY(reader.extract(zip, QString("COVER.jpg"), m_dest, outPath));
    QCOMPARE(outPath, m_dest + "/cover.JPG");
    QCOMPARE(testfiles::read(m_dest + "/Cover.jpg"), QByteArray("first"));
    QCOMPARE(testfiles::read(m_dest + "/cover.JPG"), QByteArray("second"));

    // An empty name selects every entry.
    QVERIFY(reader.extract(zip, QString(), m_dest, outPath));
    QCOMPARE(outPath, m_dest + "/cover.JPG");
    QCOMPARE(testfiles::read(m_dest + "/text/ch1.html"), QByteArray("<p/>"));
}

void TestZipReader::extractByPattern()
{
    const QString zip = zipOf(
        "a.epub", { { "Images/Cover.PNG", "png" }, { "text/ch1.html", "<p/>" }, { "images/back-cover.jpg", "jpg" } });
    ZipReader reader;
    QString outPath;
    QVERIFY(reader.extract(zip, QRegExp(".*cover.*.(jpg|jpeg|png|svg)", Qt::CaseInsensitive), m_dest, outPath));
    QCOMPARE(outPath, m_dest + "/images/back-cover.jpg");
    QCOMPARE(tree(m_dest), QStringList({ "Images", "Images/Cover.PNG", "images", "images/back-cover.jpg" }));

    // The pattern is searched for, and keeps its own case sensitivity.
    outPath.clear();
    QVERIFY(reader.extract(zip, QRegExp("CH1"), m_dest, outPath));
    QVERIFY(outPath.isEmpty());
    QVERIFY(reader.extract(zip, QRegExp("ch1"), m_dest, outPath));
    QCOMPARE(outPath, m_dest + "/text/ch1.html");
}

void TestZipReader::extractAllKeepsExistingFiles()
{
    const QString zip = zipOf("a.epub",
        { { "mimetype", "application/epub+zip", false }, { "OEBPS/", {}, false }, { "OEBPS/ch1.html", "new 1" },
            { "OEBPS/ch2.html", "new 2" } });
    QVERIFY(testfiles::write(m_dest + "/OEBPS/ch1.html", "old 1"));

    QList<QFileInfo> extracted;
    QVERIFY(ZipReader().extractAll(zip, m_dest, &extracted));
    QStringList listed;
    for (const QFileInfo& info : extracted)
        listed.append(info.filePath());
    QCOMPARE(listed, QStringList({ m_dest + "/mimetype", m_dest + "/OEBPS/ch2.html" }));
    QCOMPARE(testfiles::read(m_dest + "/OEBPS/ch1.html"), QByteArray("old 1"));
    QCOMPARE(testfiles::read(m_dest + "/OEBPS/ch2.html"), QByteArray("new 2"));

    // Without a list, into a folder that does not exist yet; a folder entry makes its folder.
    const QString fresh = m_dir->filePath("deep/new/folder");
    QVERIFY(ZipReader().extractAll(zip, fresh, nullptr));
    QCOMPARE(tree(fresh), QStringList({ "OEBPS", "OEBPS/ch1.html", "OEBPS/ch2.html", "mimetype" }));
}

void TestZipReader::emptyArchive()
{
    // minizip finds no end record at offset 0, so a bare empty archive does not open (it
    // fails like any unreadable file); behind a self-extractor stub it opens with no entries.
    const QString bare = zipOf("bare.zip", {});
    QVERIFY(ZipReader().files(bare).isEmpty());
    const QString zip = m_dir->filePath("empty.zip");
    QVERIFY(testfiles::write(zip, "MZ\x90\x00" + testfiles::read(bare)));
    ZipReader reader;
    QString outPath = "untouched";
    QList<QFileInfo> extracted;
    QVERIFY(reader.files(zip).isEmpty());
    QVERIFY(reader.extractAll(zip, m_dest, &extracted));
    QVERIFY(reader.extract(zip, QString(), m_dest, outPath));
    QVERIFY(reader.extract(zip, QRegExp(), m_dest, outPath));
    QCOMPARE(outPath, QString("untouched"));
    QVERIFY(extracted.isEmpty());
    QVERIFY(tree(m_dest).isEmpty());
}

void TestZipReader::notAZip()
{
    const QString path = m_dir->filePath("fake.cbz");
    QVERIFY(testfiles::write(path, "this is not a zip archive at all"));
    ZipReader reader;
    QString outPath = "untouched";
    QVERIFY(reader.files(path).isEmpty());
    QVERIFY(!reader.extract(path, QString("a"), m_dest, outPath));
    QVERIFY(!reader.extractAll(path, m_dest, nullptr));
    QVERIFY(!reader.extract(path, QRegExp("a"), m_dest, outPath));
    QCOMPARE(outPath, QString("untouched"));
    QVERIFY(!QFileInfo::exists(path + ".missing") && reader.files(path + ".missing").isEmpty());
}

void TestZipReader::damagedEntryLeavesNoFile_data()
{
    QTest::addColumn<bool>("compressed");
    QTest::addColumn<bool>("truncate");
    QTest::newRow("deflated, corrupted data") << true << false;
    QTest::newRow("stored, corrupted data") << false << false;
    QTest::newRow("deflated, file cut short") << true << true;
}

void TestZipReader::damagedEntryLeavesNoFile()
{
    QFETCH(bool, compressed);
    QFETCH(bool, truncate);
    QByteArray text;
    for (int i = 0; i < 20000; ++i)
        text += "line " + QByteArray::number(i) + "\n";
    const QString zip = zipOf("a.zip", { { "a.txt", "ok" }, { "big.txt", text, compressed } });
    QByteArray bytes = testfiles::read(zip);
    const int dataStart = bytes.indexOf("big.txt") + 7;
    if (truncate) {
        bytes.truncate(dataStart + 2000);
    } else {
        for (int i = 0; i < 64; ++i)
            bytes[dataStart + 1000 + i] = char(bytes[dataStart + 1000 + i] ^ 0x5a);
    }
    QVERIFY(testfiles::write(zip, bytes));

    ZipReader reader;
    QString outPath = "untouched";
    QVERIFY(!reader.extract(zip, QString("big.txt"), m_dest, outPath));
    QCOMPARE(outPath, QString("untouched"));
    QVERIFY(!tree(m_dest).contains("big.txt"));

    QVERIFY(!reader.extractAll(zip, m_dest, nullptr));
    // Only complete files: no partial big.txt and no temporary file beside it.
    for (const QString& name : tree(m_dest))
        QVERIFY2(name == "a.txt", qPrintable(name));
}

void TestZipReader::destinationNotWritable()
{
    const QString zip = zipOf("a.cbz", { { "p1.jpg", "one" }, { "sub/p2.jpg", "two" } });
    ZipReader reader;
    QString outPath = "untouched";

    // A file where the destination folder should be.
    const QString blocked = m_dir->filePath("file");
    QVERIFY(testfiles::write(blocked, "x"));
    QVERIFY(!reader.extract(zip, QString("p1.jpg"), blocked + "/dest", outPath));
    QCOMPARE(outPath, QString("untouched"));

    const QString readOnly = archtest::readOnlyFolder(m_dest);
    QVERIFY(!reader.extractAll(zip, readOnly, nullptr));
    QVERIFY(!QFileInfo::exists(readOnly + "/p1.jpg"));
}

void TestZipReader::hostileNamesStayInside()
{
    const QStringList escaping = awkwardnames::escaping(m_dir->filePath("absolute.txt"));
    QList<ZipEntry> entries;
    for (const QString& name : escaping)
        entries.append(ZipEntry { name, "x" });
    entries.append(ZipEntry { "a/../inside.txt", "in" });
    entries.append(ZipEntry { "good\\page.jpg", "good" });
    const QString zip = zipOf("hostile.cbz", entries);
    ZipReader reader;
    QCOMPARE(reader.files(zip).size(), entries.size());

    QString outPath = "untouched";
    for (const QString& name : escaping) {
        QVERIFY(reader.extract(zip, name, m_dest, outPath));
        QCOMPARE(outPath, QString("untouched"));
    }

    QList<QFileInfo> extracted;
    QVERIFY(reader.extractAll(zip, m_dest, &extracted));
    QCOMPARE(extracted.size(), 2);
    QCOMPARE(tree(m_dest), QStringList({ "good", "good/page.jpg", "inside.txt" }));
    QCOMPARE(
        tree(m_dir->path()), QStringList({ "hostile.cbz", "out", "out/good", "out/good/page.jpg", "out/inside.txt" }));

    // A link planted in the destination does not lead the unpack out of it.
    QDir().mkpath(m_dir->filePath("elsewhere"));
    QVERIFY(QFile::link(m_dir->filePath("elsewhere"), m_dest + "/sub"));
    const QString linked = zipOf("linked.cbz", { { "sub/x.txt", "x" } });
    QVERIFY(!reader.extract(linked, QString("sub/x.txt"), m_dest, outPath));
    QVERIFY(tree(m_dir->filePath("elsewhere")).isEmpty());
}

void TestZipReader::singleEntrySuffix()
{
    QCOMPARE(ZipReader::singleEntrySuffix(zipOf("book.Zip", { { "My Book.FB2", "<FictionBook/>" } })), QString("fb2"));
    QCOMPARE(ZipReader::singleEntrySuffix(zipOf("t.zip", { { "a/b/book.tar.gz", "x" } })), QString("gz"));
    QCOMPARE(ZipReader::singleEntrySuffix(zipOf("two.zip", { { "a.fb2", "x" }, { "b.txt", "y" } })), QString());
    QCOMPARE(ZipReader::singleEntrySuffix(zipOf("none.zip", {})), QString());
    const QString fake = m_dir->filePath("fake.zip");
    QVERIFY(testfiles::write(fake, "no zip"));
    QCOMPARE(ZipReader::singleEntrySuffix(fake), QString());
}

void TestZipReader::concurrentUnpacksOfOneEntry()
{
    // The comic viewer and the importer may unpack the same page at the same moment.
    const QByteArray page = noise(300000, 7);
    const QString zip = zipOf("a.cbz", { { "p1.jpg", page } });
    std::atomic<int> failures { 0 };
    const auto unpack = [&] {
        ZipReader reader;
        for (int i = 0; i < 20; ++i) {
            QString outPath;
            if (!reader.extract(zip, QString("p1.jpg"), m_dest, outPath) || testfiles::read(outPath) != page)
                ++failures;
        }
    };
    std::thread first(unpack);
    std::thread second(unpack);
    first.join();
    second.join();
    QCOMPARE(failures.load(), 0);
    QCOMPARE(tree(m_dest), QStringList({ "p1.jpg" }));
}

void TestZipReader::sizeLimits()
{
    // The readers use 1 GiB per entry and 4 GiB per call; the same code with small limits.
    const QByteArray chunk(1000, 'x');
    int served = 0;
    const auto source = [&](char* buffer, qint64 size) -> qint64 {
        if (served >= 5)
            return 0;
        ++served;
        memcpy(buffer, chunk.constData(), size_t(qMin<qint64>(size, chunk.size())));
        return qMin<qint64>(size, chunk.size());
    };

    UnpackBudget entryLimit(4500, 100000);
    {
        EntryFile file(m_dest, m_dest + "/big.bin", entryLimit);
        QVERIFY(file.open());
        QCOMPARE(file.copyFrom(source), EntryFile::TooLarge);
    }
    QVERIFY(tree(m_dest).isEmpty());

    UnpackBudget totalLimit(5000, 8000);
    served = 0;
    {
        EntryFile file(m_dest, m_dest + "/first.bin", totalLimit);
        QVERIFY(file.open());
        QCOMPARE(file.copyFrom(source), EntryFile::Copied);
        QVERIFY(file.commit());
    }
    served = 0;
    {
        EntryFile file(m_dest, m_dest + "/second.bin", totalLimit);
        QVERIFY(file.open());
        QCOMPARE(file.copyFrom(source), EntryFile::TooLarge);
    }
    QCOMPARE(tree(m_dest), QStringList({ "first.bin" }));
    QCOMPARE(QFileInfo(m_dest + "/first.bin").size(), qint64(5000));
}

QTEST_GUILESS_MAIN(TestZipReader)
#include "tst_zipreader.moc"
