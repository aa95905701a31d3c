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
    void zipNames_data();
    void zipNames();
    void rarNames_data();
    void rarNames();
    void sevenZNames();
    void threadLocaleIsRestored();

private:
    void checkUnpacked(const QString& path, const QString& name);
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

// The file is on disk under the Unicode name itself, with the entry's bytes.
void TestArchiveNames::checkUnpacked(const QString& path, const QString& name)
{
    QCOMPARE(path, m_dest + "/" + name);
    QCOMPARE(testfiles::read(path), name.toUtf8());
    const QFileInfo info(path);
    QVERIFY(QDir(info.path()).entryList(QDir::Files).contains(info.fileName()));
}

void TestArchiveNames::zipNames_data()
{
    QTest::addColumn<bool>("utf8");
    QTest::addColumn<QString>("name");
    QTest::newRow("IBM 866 without flag") << false << Dos;
    QTest::newRow("UTF-8 flag, Cyrillic") << true << Cyrillic;
    QTest::newRow("UTF-8 flag, mixed scripts") << true << Mixed;
}

void TestArchiveNames::zipNames()
{
    QFETCH(bool, utf8);
    QFETCH(QString, name);
    const QString zip = m_dir->filePath("names.cbz");
    ZipWriter writer(zip);
    if (!utf8)
        writer.setNames(ZipWriter::Names::Codec, "IBM 866");
    writer.add("plain.txt", "plain");
    writer.add(name, name.toUtf8());
    QVERIFY(writer.write());

    ZipReader reader;
    QCOMPARE(reader.files(zip), QStringList({ "plain.txt", name }));
    QString outPath;
    QVERIFY(reader.extract(zip, name.toUpper(), m_dest, outPath));
    checkUnpacked(outPath, name);
    QList<QFileInfo> extracted;
    QVERIFY(reader.extractAll(zip, m_dir->filePath("all"), &extracted));
    QCOMPARE(extracted.size(), 2);
    QCOMPARE(extracted.last().filePath(), m_dir->filePath("all") + "/" + name);
}

void TestArchiveNames::rarNames_data()
{
    QTest::addColumn<bool>("rar5");
    QTest::addColumn<bool>("unicode");
    QTest::addColumn<QString>("name");
    QTest::newRow("RAR 4, IBM 866 without flag") << false << false << Dos;
    QTest::newRow("RAR 4, Unicode flag, Cyrillic") << false << true << Cyrillic;
    QTest::newRow("RAR 4, Unicode flag, mixed scripts") << false << true << Mixed;
    QTest::newRow("RAR 5, Cyrillic") << true << true << Cyrillic;
    QTest::newRow("RAR 5, mixed scripts") << true << true << Mixed;
}

void TestArchiveNames::rarNames()
{
    QFETCH(bool, rar5);
    QFETCH(bool, unicode);
    QFETCH(QString, name);
    const QString rar = m_dir->filePath("names.cbr");
    RarWriter writer(rar);
    if (rar5)
        writer.setFormat(RarWriter::Format::Rar5);
    if (!unicode)
        writer.setNames(RarWriter::Names::Codec, "IBM 866");
    writer.add("plain.txt", "plain");
    writer.add(name, name.toUtf8());
    QVERIFY(writer.write());

    RarReader reader;
    QCOMPARE(reader.files(rar), QStringList({ "plain.txt", name }));
    QString outPath;
    QVERIFY(reader.extract(rar, name, m_dest, outPath));
    checkUnpacked(outPath, name);
}

void TestArchiveNames::sevenZNames()
{
    const QString archive = m_dir->filePath("names.7z");
    SevenZWriter writer(archive);
    writer.add(Mixed, Mixed.toUtf8());
    writer.add(Cyrillic, Cyrillic.toUtf8());
    QVERIFY(writer.write());

    QCOMPARE(sevenzreader::instance()->getInternalFileFormat(archive), QString("fb2"));
    const QString name = sevenzreader::instance()->extractSingleFile(archive, m_dest);
    QCOMPARE(name, Cyrillic);
    checkUnpacked(m_dest + "/" + name, Cyrillic);
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
