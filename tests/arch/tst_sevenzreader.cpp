#include "archtestutil.h"
#include "sevenzwriter.h"

#include "arch/sevenzreader.h"

#include <QtTest>

#include <memory>

using archtest::noise;
using archtest::tree;

class TestSevenZReader : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void picksTheFirstBook_data();
    void picksTheFirstBook();
    void extractedBytesAreIdentical_data();
    void extractedBytesAreIdentical();
    void unreadableArchives();
    void damagedDataLeavesNoFile();
    void hostileNamesAreSkipped();

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_dest;
};

void TestSevenZReader::initTestCase() { archtest::silenceDebugOutput(); }

void TestSevenZReader::init()
{
    m_dir.reset(new QTemporaryDir);
    QVERIFY(m_dir->isValid());
    m_dest = m_dir->filePath("out");
}

void TestSevenZReader::picksTheFirstBook_data()
{
    QTest::addColumn<QStringList>("entries"); // a trailing "/" makes a folder
    QTest::addColumn<QString>("format");
    QTest::addColumn<QString>("file");

    QTest::newRow("one fb2") << QStringList({ "tale.fb2" }) << "fb2"
                             << "tale.fb2";
    QTest::newRow("first of several") << QStringList({ "cover.jpg", "Book.FB2", "other.epub" }) << "fb2"
                                      << "Book.FB2";
    QTest::newRow("inside a folder") << QStringList({ "a/", "a/readme.md", "a/Tale.TXT" }) << "txt"
                                     << "a/Tale.TXT";
    QTest::newRow("mobi") << QStringList({ "x.pdf", "y.Mobi" }) << "mobi"
                          << "y.Mobi";
    QTest::newRow("folder named like a book") << QStringList({ "b.epub/", "b.epub/c.epub" }) << "epub"
                                              << "b.epub/c.epub";
    QTest::newRow("no book") << QStringList({ "a.pdf", "b.djvu", "fb2" }) << QString() << QString();
}

void TestSevenZReader::picksTheFirstBook()
{
    QFETCH(QStringList, entries);
    QFETCH(QString, format);
    QFETCH(QString, file);
    const QString archive = m_dir->filePath("books.7z");
    SevenZWriter writer(archive);
    for (const QString& entry : entries) {
        if (entry.endsWith('/'))
            writer.addFolder(entry);
        else
            writer.add(entry, entry.toUtf8() + " contents");
    }
    QVERIFY(writer.write());

    sevenzreader* reader = sevenzreader::instance();
    QCOMPARE(reader, sevenzreader::instance());
    QCOMPARE(reader->getInternalFileFormat(archive), format);
    QCOMPARE(reader->extractSingleFile(archive, m_dest), file);
    if (!file.isEmpty()) {
        QCOMPARE(testfiles::read(m_dest + "/" + file), file.toUtf8() + " contents");
        QStringList written;
        for (const QString& name : tree(m_dest))
            if (QFileInfo(m_dest + "/" + name).isFile())
                written.append(name);
        QCOMPARE(written, QStringList({ file }));
    } else {
        QVERIFY(tree(m_dest).isEmpty());
    }
}

void TestSevenZReader::extractedBytesAreIdentical_data()
{
    QTest::addColumn<QByteArray>("compression");
    QTest::newRow("lzma2") << QByteArray("lzma2");
    QTest::newRow("copy") << QByteArray("copy");
    QTest::newRow("deflate") << QByteArray("deflate");
}

void TestSevenZReader::extractedBytesAreIdentical()
{
    QFETCH(QByteArray, compression);
    QByteArray book = "<?xml version=\"1.0\" encoding=\"utf-8\"?><FictionBook>";
    book += noise(2 * 1024 * 1024, 11).toBase64();
    book += "</FictionBook>";
    const QString archive = m_dir->filePath("book.7z");
    SevenZWriter writer(archive);
    writer.setCompression(compression);
    writer.add("notes.txt.bak", "not a book");
    writer.add("Books/War and Peace.fb2", book);
    QVERIFY(writer.write());

    // An older copy of the file is replaced, as a later load of the same archive expects.
    QVERIFY(testfiles::write(m_dest + "/Books/War and Peace.fb2", "stale"));
    const QString name = sevenzreader::instance()->extractSingleFile(archive, m_dest);
    QCOMPARE(name, QString("Books/War and Peace.fb2"));
    QVERIFY(testfiles::read(QDir(m_dest).filePath(name)) == book);
    QCOMPARE(tree(m_dest), QStringList({ "Books", "Books/War and Peace.fb2" }));
}

void TestSevenZReader::unreadableArchives()
{
    const QString fake = m_dir->filePath("fake.7z");
    QVERIFY(testfiles::write(fake, "7z? no, plain text"));
    sevenzreader* reader = sevenzreader::instance();
    for (const QString& path : { fake, m_dir->filePath("missing.7z") }) {
        QCOMPARE(reader->getInternalFileFormat(path), QString());
        QCOMPARE(reader->extractSingleFile(path, m_dest), QString());
    }
    QVERIFY(tree(m_dest).isEmpty());
}

void TestSevenZReader::damagedDataLeavesNoFile()
{
    const QByteArray book = noise(500000, 13);
    const QString archive = m_dir->filePath("book.7z");
    SevenZWriter writer(archive);
    writer.setCompression("copy");
    writer.add("book.fb2", book);
    QVERIFY(writer.write());
    QByteArray bytes = testfiles::read(archive);
    const int at = bytes.indexOf(book.mid(250000, 16));
    QVERIFY(at > 0);
    bytes[at] = char(bytes[at] ^ 0x40); // the entry's CRC no longer matches
    QVERIFY(testfiles::write(archive, bytes));

    QCOMPARE(sevenzreader::instance()->extractSingleFile(archive, m_dest), QString());
    QVERIFY(tree(m_dest).isEmpty());
}

void TestSevenZReader::hostileNamesAreSkipped()
{
    const QString archive = m_dir->filePath("hostile.7z");
    SevenZWriter writer(archive);
    writer.add("../escaped.fb2", "bad");
    writer.add(m_dir->filePath("absolute.fb2"), "bad");
    writer.add("good.epub", "good");
    QVERIFY(writer.write());

    QCOMPARE(sevenzreader::instance()->getInternalFileFormat(archive), QString("epub"));
    QCOMPARE(sevenzreader::instance()->extractSingleFile(archive, m_dest), QString("good.epub"));
    QCOMPARE(tree(m_dir->path()), QStringList({ "hostile.7z", "out", "out/good.epub" }));
}

QTEST_GUILESS_MAIN(TestSevenZReader)
#include "tst_sevenzreader.moc"
