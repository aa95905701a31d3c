// Entry names outside ASCII, read under the locale the test runs with: registered twice,
// under C.UTF-8 and under the plain C locale (PL_EXPECT_C_LOCALE set).
#include "archtestutil.h"
#include "awkwardnames.h"
#include "rarwriter.h"
#include "sevenzwriter.h"
#include "zipwriter.h"

#include "arch/rarreader.h"
#include "arch/sevenzreader.h"
#include "arch/zipreader.h"

#include <QtTest>

#include <langinfo.h>
#include <locale.h>
#include <memory>

namespace {
const QString Cyrillic = awkwardnames::unicodeCyrillic();
const QString Dos = awkwardnames::dosCyrillic();
const QString Mixed = awkwardnames::unicodeMixed();
}

class TestArchiveNames : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void names_data();
    void names();
    void threadLocaleIsRestored();

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_dest;
};

void TestArchiveNames::initTestCase()
{
    archtest::silenceDebugOutput();
    const QByteArray codeset = nl_langinfo(CODESET);
    qInfo() << "LC_CTYPE" << setlocale(LC_CTYPE, nullptr) << "codeset" << codeset;
    // Make sure each registration tests what it claims to.
    if (qEnvironmentVariableIsSet("PL_EXPECT_C_LOCALE"))
        QVERIFY2(codeset != "UTF-8", codeset.constData());
    else
        QCOMPARE(codeset, QByteArray("UTF-8"));
}

void TestArchiveNames::init()
{
    m_dir.reset(new QTemporaryDir);
    QVERIFY(m_dir->isValid());
    m_dest = m_dir->filePath("out");
}

void TestArchiveNames::names_data()
{
    QTest::addColumn<QString>("format");
    QTest::addColumn<bool>("legacyCodec"); // IBM 866 bytes without the Unicode flag
    QTest::addColumn<QString>("name");
    QTest::newRow("zip, IBM 866 without flag") << "zip" << true << Dos;
    QTest::newRow("zip, UTF-8 flag, Cyrillic") << "zip" << false << Cyrillic;
    QTest::newRow("zip, UTF-8 flag, mixed scripts") << "zip" << false << Mixed;
    QTest::newRow("RAR 4, IBM 866 without flag") << "rar4" << true << Dos;
    QTest::newRow("RAR 4, Unicode flag, Cyrillic") << "rar4" << false << Cyrillic;
    QTest::newRow("RAR 4, Unicode flag, mixed scripts") << "rar4" << false << Mixed;
    QTest::newRow("RAR 5, Cyrillic") << "rar5" << false << Cyrillic;
    QTest::newRow("RAR 5, mixed scripts") << "rar5" << false << Mixed;
    QTest::newRow("7z, Cyrillic") << "7z" << false << Cyrillic;
}

void TestArchiveNames::names()
{
    QFETCH(QString, format);
    QFETCH(bool, legacyCodec);
    QFETCH(QString, name);
    const QString archive = m_dir->filePath("names." + format);
    QString outPath;
    if (format == "zip") {
        ZipWriter writer(archive);
        if (legacyCodec)
            writer.setNames(ZipWriter::Names::Codec, "IBM 866");
        writer.add("plain.jpg", "plain");
        writer.add(name, name.toUtf8());
        QVERIFY(writer.write());

        ZipReader reader;
        QCOMPARE(reader.files(archive), QStringList({ "plain.jpg", name }));
        QVERIFY(reader.extract(archive, name.toUpper(), m_dest, outPath));
        QList<QFileInfo> extracted;
        QVERIFY(reader.extractAll(archive, m_dir->filePath("all"), &extracted));
        QCOMPARE(extracted.size(), 2);
        QCOMPARE(extracted.last().filePath(), m_dir->filePath("all") + "/" + name);
    } else if (format.startsWith("rar")) {
        RarWriter writer(archive);
        if (format == "rar5")
            writer.setFormat(RarWriter::Format::Rar5);
        if (legacyCodec)
            writer.setNames(RarWriter::Names::Codec, "IBM 866");
        writer.add("plain.jpg", "plain");
        writer.add(name, name.toUtf8());
        QVERIFY(writer.write());

        RarReader reader;
        QCOMPARE(reader.files(archive), QStringList({ "plain.jpg", name }));
        QVERIFY(reader.extract(archive, name, m_dest, outPath));
    } else {
        SevenZWriter writer(archive);
        writer.add(Mixed, Mixed.toUtf8()); // not a book: passed over
        writer.add(name, name.toUtf8());
        QVERIFY(writer.write());

        QCOMPARE(sevenzreader::instance()->getInternalFileFormat(archive), QString("fb2"));
        const QString file = sevenzreader::instance()->extractSingleFile(archive, m_dest);
        QCOMPARE(file, name);
        outPath = m_dest + "/" + file;
    }
    // The file is on disk under the Unicode name itself, with the entry's bytes.
    QCOMPARE(outPath, m_dest + "/" + name);
    QCOMPARE(testfiles::read(outPath), name.toUtf8());
    const QFileInfo info(outPath);
    QVERIFY(QDir(info.path()).entryList(QDir::Files).contains(info.fileName()));
}

void TestArchiveNames::threadLocaleIsRestored()
{
    const locale_t before = uselocale(locale_t(nullptr));
    const QByteArray codeset = nl_langinfo(CODESET);
    const QString rar = m_dir->filePath("a.cbr");
    RarWriter writer(rar);
    writer.add(Cyrillic, "x");
    QVERIFY(writer.write());
    QCOMPARE(RarReader().files(rar), QStringList({ Cyrillic }));
    QCOMPARE(uselocale(locale_t(nullptr)), before);
    QCOMPARE(QByteArray(nl_langinfo(CODESET)), codeset);
}

QTEST_GUILESS_MAIN(TestArchiveNames)
#include "tst_archivenames.moc"
