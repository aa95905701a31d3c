#include "archtestutil.h"
#include "awkwardnames.h"
#include "rarwriter.h"

#include "arch/rarreader.h"

#include <QtTest>

#include <memory>

using archtest::noise;
using archtest::tree;

// The same cases run for RAR 4 and, with PL_RAR_FORMAT=5, for RAR 5.
static bool isRar5() { return qEnvironmentVariableIntValue("PL_RAR_FORMAT") == 5; }

static RarWriter rarWriter(const QString& path)
{
    RarWriter writer(path);
    writer.setFormat(isRar5() ? RarWriter::Format::Rar5 : RarWriter::Format::Rar4);
    return writer;
}

class TestRarReader : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void listsFilesWithoutFolders();
    void extractIsExactAndByteIdentical();
    void extractFirstOfTwinNames();
    void notARar();
    void damagedHeaderStopsTheWalk();
    void damagedDataLeavesNoFile_data();
    void damagedDataLeavesNoFile();
    void encryptedAndSplitEntriesFail_data();
    void encryptedAndSplitEntriesFail();
    void hostileNamesStayInside();
    void destinationNotWritable();
    void archiveFlags();
    void unsupportedOperations();

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_dest;
};

void TestRarReader::initTestCase() { archtest::silenceDebugOutput(); }

void TestRarReader::init()
{
    m_dir.reset(new QTemporaryDir);
    QVERIFY(m_dir->isValid());
    m_dest = m_dir->filePath("out");
}

// Builds a comic in the temporary folder and returns its path.
static QString comic(const QString& dir, const QString& name, const std::function<void(RarWriter&)>& fill)
{
    const QString path = dir + "/" + name;
    RarWriter writer = rarWriter(path);
    fill(writer);
    if (!writer.write())
        qFatal("cannot write fixture %s", qPrintable(path));
    return path;
}

void TestRarReader::listsFilesWithoutFolders()
{
    const QString rar = comic(m_dir->path(), "a.cbr", [](RarWriter& w) {
        w.addFolder("scans");
        w.add("scans/b.png", "B");
        w.add("scans/a.png", "A");
        w.add("cover.jpg", "C");
    });
    QCOMPARE(RarReader().files(rar), QStringList({ "scans/b.png", "scans/a.png", "cover.jpg" }));
}

void TestRarReader::extractIsExactAndByteIdentical()
{
    const QByteArray page = noise(3 * 1024 * 1024 + 17, 3);
    const QString rar = comic(m_dir->path(), "a.cbr", [&](RarWriter& w) {
        w.add("Chapter 1/Page 01.jpg", page);
        w.add("Chapter 1/Page 02.jpg", "second");
    });
    RarReader reader;
    const QStringList names = reader.files(rar);
    QCOMPARE(names.size(), 2);

    QString outPath = "untouched";
    QVERIFY(reader.extract(rar, QString("chapter 1/page 01.jpg"), m_dest, outPath));
    QVERIFY(reader.extract(rar, QString(), m_dest, outPath));
    QCOMPARE(outPath, QString("untouched"));
    QVERIFY(!QFileInfo::exists(m_dest + "/Chapter 1"));

    QVERIFY(reader.extract(rar, names.first(), m_dest, outPath));
    QCOMPARE(outPath, QDir::toNativeSeparators(m_dest + "/Chapter 1/Page 01.jpg"));
    QVERIFY(testfiles::read(outPath) == page);
    QCOMPARE(tree(m_dest), QStringList({ "Chapter 1", "Chapter 1/Page 01.jpg" }));
}

void TestRarReader::extractFirstOfTwinNames()
{
    const QString rar = comic(m_dir->path(), "a.cbr", [](RarWriter& w) {
        w.add("p.jpg", "first");
        w.add("p.jpg", "second");
    });
    QString outPath;
    QVERIFY(RarReader().extract(rar, QString("p.jpg"), m_dest, outPath));
    QCOMPARE(testfiles::read(outPath), QByteArray("first"));
}

void TestRarReader::notARar()
{
    const QString path = m_dir->filePath("fake.cbr");
    QVERIFY(testfiles::write(path, "PK\x03\x04 this is something else entirely"));
    RarReader reader;
    QString outPath = "untouched";
    QVERIFY(reader.files(path).isEmpty());
    QVERIFY(!reader.extract(path, QString("a"), m_dest, outPath));
    QVERIFY(!reader.extract(m_dir->filePath("missing.cbr"), QString("a"), m_dest, outPath));
    QCOMPARE(outPath, QString("untouched"));
}

void TestRarReader::damagedHeaderStopsTheWalk()
{
    RarWriter writer = rarWriter(m_dir->filePath("a.cbr"));
    writer.add("1.jpg", "one");
    writer.add("2.jpg", "two");
    writer.add("3.jpg", "three");
    QByteArray bytes = writer.toByteArray();
    const int third = bytes.indexOf("3.jpg");
    bytes[third] = 'X'; // the header CRC no longer matches
    const QString rar = m_dir->filePath("a.cbr");
    QVERIFY(testfiles::write(rar, bytes));

    RarReader reader;
    QCOMPARE(reader.files(rar), QStringList({ "1.jpg", "2.jpg" }));
    QString outPath = "untouched";
    QVERIFY(reader.extract(rar, QString("X.jpg"), m_dest, outPath));
    QCOMPARE(outPath, QString("untouched"));
    QVERIFY(reader.extract(rar, QString("2.jpg"), m_dest, outPath));
    QCOMPARE(testfiles::read(outPath), QByteArray("two"));
}

void TestRarReader::damagedDataLeavesNoFile_data()
{
    QTest::addColumn<bool>("truncate");
    QTest::newRow("changed byte") << false;
    QTest::newRow("cut short") << true;
}

void TestRarReader::damagedDataLeavesNoFile()
{
    QFETCH(bool, truncate);
    const QByteArray page = noise(200000, 5);
    RarWriter writer = rarWriter(m_dir->filePath("a.cbr"));
    writer.add("ok.jpg", "ok");
    writer.add("page.jpg", page);
    QByteArray bytes = writer.toByteArray();
    const int data = bytes.indexOf("page.jpg") + 8;
    if (truncate)
        bytes.truncate(data + 1000);
    else
        bytes[data + 5000] = char(bytes[data + 5000] ^ 1); // the data CRC no longer matches
    const QString rar = m_dir->filePath("a.cbr");
    QVERIFY(testfiles::write(rar, bytes));

    QString outPath = "untouched";
    QVERIFY(!RarReader().extract(rar, QString("page.jpg"), m_dest, outPath));
    QCOMPARE(outPath, QString("untouched"));
    QVERIFY(tree(m_dest).isEmpty());
}

void TestRarReader::encryptedAndSplitEntriesFail_data()
{
    QTest::addColumn<bool>("encrypted");
    QTest::addColumn<int>("code");
    QTest::newRow("encrypted") << true << int(RarReader::MissingPassword);
    QTest::newRow("continued in the next volume") << false << int(RarReader::OpenFailed);
}

void TestRarReader::encryptedAndSplitEntriesFail()
{
    QFETCH(bool, encrypted);
    QFETCH(int, code);
    RarWriter writer = rarWriter(m_dir->filePath("a.cbr"));
    writer.setVolume(!encrypted);
    writer.add("1.jpg", "one");
    RarEntry entry;
    entry.name = "2.jpg";
    entry.data = noise(5000);
    entry.encrypted = encrypted;
    entry.continuesInNextVolume = !encrypted;
    writer.add(entry);
    QVERIFY(writer.write());
    const QString rar = m_dir->filePath("a.cbr");

    RarReader reader;
    QCOMPARE(reader.files(rar), QStringList({ "1.jpg", "2.jpg" }));
    QString outPath;
    QVERIFY(reader.extract(rar, QString("1.jpg"), m_dest, outPath));
    QCOMPARE(testfiles::read(outPath), QByteArray("one"));

    outPath = "untouched";
    QVERIFY(!reader.extract(rar, QString("2.jpg"), m_dest, outPath));
    QCOMPARE(outPath, QString("untouched"));
    QCOMPARE(tree(m_dest), QStringList({ "1.jpg" }));
}

void TestRarReader::hostileNamesStayInside()
{
    const QStringList hostile = awkwardnames::escaping(m_dir->filePath("absolute.jpg"));
    const QString rar = comic(m_dir->path(), "a.cbr", [&](RarWriter& w) {
        for (const QString& name : hostile)
            w.add(name, "x");
        w.add("good.jpg", "good");
    });
    RarReader reader;
    const QStringList names = reader.files(rar);
    QCOMPARE(names.size(), hostile.size() + 1);
    for (const QString& name : names) {
        QString outPath = "untouched";
        QVERIFY(reader.extract(rar, name, m_dest, outPath));
        if (name == "good.jpg")
            QCOMPARE(outPath, m_dest + "/good.jpg");
        else
            QCOMPARE(outPath, QString("untouched"));
    }
    QCOMPARE(tree(m_dir->path()), QStringList({ "a.cbr", "out", "out/good.jpg" }));
}

void TestRarReader::destinationNotWritable()
{
    const QString rar = comic(m_dir->path(), "a.cbr", [](RarWriter& w) { w.add("p.jpg", "p"); });
    const QString blocked = m_dir->filePath("file");
    QVERIFY(testfiles::write(blocked, "x"));
    QString outPath = "untouched";
    QVERIFY(!RarReader().extract(rar, QString("p.jpg"), blocked + "/dest", outPath));
    QCOMPARE(outPath, QString("untouched"));

    const QString readOnly = archtest::readOnlyFolder(m_dest);
    QVERIFY(!RarReader().extract(rar, QString("p.jpg"), readOnly, outPath));
    QCOMPARE(outPath, QString("untouched"));
    QVERIFY(!QFileInfo::exists(readOnly + "/p.jpg"));
}

void TestRarReader::archiveFlags()
{
    const unsigned naming = isRar5() ? unsigned(RarReader::NewNaming) : 0u;
    RarWriter plain = rarWriter(m_dir->filePath("plain.cbr"));
    plain.add("a", "a");
    QVERIFY(plain.write());
    QCOMPARE(RarReader::archiveFlags(m_dir->filePath("plain.cbr")), naming);

    RarWriter volume = rarWriter(m_dir->filePath("volume.cbr"));
    volume.setVolume(true);
    volume.add("a", "a");
    QVERIFY(volume.write());
    QCOMPARE(
        RarReader::archiveFlags(m_dir->filePath("volume.cbr")), naming | RarReader::Volume | RarReader::FirstVolume);

    // Enciphered headers: nothing can be listed or unpacked without a password.
    const QString locked = m_dir->filePath("locked.cbr");
    RarWriter writer = rarWriter(locked);
    writer.setEncryptedHeaders(true);
    writer.add("a.jpg", "a");
    QVERIFY(writer.write());
    QVERIFY(RarReader::archiveFlags(locked) & RarReader::EncryptedHeaders);
    RarReader reader;
    QVERIFY(reader.files(locked).isEmpty());
    QString outPath = "untouched";
    reader.extract(locked, QString("a.jpg"), m_dest, outPath);
    QCOMPARE(outPath, QString("untouched"));
    QVERIFY(!QFileInfo::exists(m_dest + "/a.jpg"));
}

void TestRarReader::unsupportedOperations()
{
    const QString rar = comic(m_dir->path(), "a.cbr", [](RarWriter& w) { w.add("p.jpg", "p"); });
    RarReader reader;
    ArchiveReader& base = reader;
    QString outPath = "untouched";
    QList<QFileInfo> extracted;
    QVERIFY(!base.extractAll(rar, m_dest, &extracted));
    QVERIFY(!base.extract(rar, QRegExp("p"), m_dest, outPath));
    QCOMPARE(outPath, QString("untouched"));
    QVERIFY(extracted.isEmpty());
    QVERIFY(!QFileInfo::exists(m_dest));
}

QTEST_GUILESS_MAIN(TestRarReader)
#include "tst_rarreader.moc"
