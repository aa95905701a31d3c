// Robustness on damaged archives: generated ZIP, RAR and 7z fixtures are mutated (bit flips,
// overwritten runs, truncation; fixed seed) and every reader lists and unpacks each result.
// Nothing may crash, hang or write outside the destination. Inputs that once broke a reader
// live in tests/data/malformed/arch and are replayed first.
//
// Longer hunts by hand: PL_ARCHFUZZ_SEED=<n> PL_ARCHFUZZ_COUNT=<n> lift the time bound.
#include "archtestutil.h"
#include "rarwriter.h"
#include "sevenzwriter.h"
#include "testpaths.h"
#include "zipwriter.h"

#include "arch/rarreader.h"
#include "arch/sevenzreader.h"
#include "arch/zipreader.h"

#include <QtTest>

#include <limits>

using archtest::noise;
using archtest::tree;

namespace {
constexpr int MaxMutations = 3000;
constexpr qint64 TimeBudgetMs = 20000;
constexpr qint64 SlowInputMs = 5000;

struct Seed {
    QString suffix;
    QByteArray bytes;
};

QByteArray text(int lines)
{
    QByteArray result;
    for (int i = 0; i < lines; ++i)
        result += "<p>Line " + QByteArray::number(i) + " of the chapter.</p>\n";
    return result;
}
}

class TestArchiveFuzz : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void regressionInputs();
    void mutatedArchives();
    void cleanupTestCase();

private:
    void exercise(const QString& path);
    bool addSeed(const QString& suffix, const std::function<bool(const QString&)>& write);

    QTemporaryDir m_dir;
    QList<Seed> m_seeds;
    QString m_current; // the input being read, kept on disk when a reader crashes
};

bool TestArchiveFuzz::addSeed(const QString& suffix, const std::function<bool(const QString&)>& write)
{
    const QString path = m_dir.filePath("seed." + suffix);
    if (!write(path))
        return false;
    m_seeds.append({ suffix, testfiles::read(path) });
    return !m_seeds.last().bytes.isEmpty();
}

void TestArchiveFuzz::initTestCase()
{
    QVERIFY(m_dir.isValid());
    QVERIFY(addSeed("cbz", [](const QString& path) {
        return ZipWriter::write(path,
            { { "pages/", {}, false }, { "pages/01.jpg", noise(3000, 1), false }, { "pages/02.jpg", text(200) },
                { "../escape.jpg", "x" }, { "pages\\03.jpg", text(50) } });
    }));
    QVERIFY(addSeed("epub", [](const QString& path) {
        ZipWriter writer(path);
        writer.setNames(ZipWriter::Names::Codec, "IBM 866");
        writer.add("mimetype", "application/epub+zip", false);
        writer.add("META-INF/container.xml", "<container><rootfiles/></container>");
        writer.add(QString::fromUtf8("OEBPS/глава.html"), text(300));
        return writer.write();
    }));
    for (const RarWriter::Format format : { RarWriter::Format::Rar4, RarWriter::Format::Rar5 }) {
        QVERIFY(addSeed("cbr", [format](const QString& path) {
            RarWriter writer(path);
            writer.setFormat(format);
            writer.addFolder("scans");
            writer.add("scans/01.jpg", noise(2000, 2));
            writer.add(QString::fromUtf8("scans/страница 02.jpg"), text(40));
            writer.add("..\\escape.jpg", "x");
            return writer.write();
        }));
    }
    for (const QByteArray& compression : { QByteArray("lzma2"), QByteArray("copy"), QByteArray("deflate") }) {
        QVERIFY(addSeed("7z", [&compression](const QString& path) {
            SevenZWriter writer(path);
            writer.setCompression(compression);
            writer.add("cover.jpg", noise(1500, 3));
            writer.add("../escape.fb2", "x");
            writer.add("book/Tale.FB2", text(200));
            return writer.write();
        }));
    }
    // Thousands of damaged archives make thousands of log lines; they are not the subject.
    QLoggingCategory::setFilterRules(QStringLiteral("*.debug=false\n*.warning=false\n*.critical=false"));
    // One name per process: several test runs may share the machine.
    m_current
        = QDir::temp().filePath(QStringLiteral("pageloom-archfuzz-current-%1").arg(QCoreApplication::applicationPid()));
}

void TestArchiveFuzz::exercise(const QString& path)
{
    const QString out = m_dir.filePath("out");
    const QString suffix = QFileInfo(path).suffix();
    QString outPath;
    if (suffix == "cbz" || suffix == "epub" || suffix == "zip") {
        ZipReader reader;
        const QStringList names = reader.files(path);
        reader.extractAll(path, out + "/all", nullptr);
        if (!names.isEmpty())
            reader.extract(path, names.last(), out + "/one", outPath);
        reader.extract(path, QRegExp("\\.(jpg|html)$"), out + "/pattern", outPath);
        ZipReader::singleEntrySuffix(path);
    } else if (suffix == "cbr") {
        RarReader reader;
        for (const QString& name : reader.files(path).mid(0, 3))
            reader.extract(path, name, out, outPath);
    } else if (suffix == "7z") {
        sevenzreader::instance()->getInternalFileFormat(path);
        sevenzreader::instance()->extractSingleFile(path, out);
    } else {
        qInfo() << "not an archive suffix, skipped:" << path;
        return;
    }
    // Whatever the damage, nothing lands beside the destination folder.
    for (const QString& name : tree(m_dir.path())) {
        if (!name.startsWith("out/") && name != "out" && !name.startsWith("seed.") && !name.startsWith("input."))
            QFAIL(qPrintable(QString("written outside the destination: %1").arg(name)));
    }
    QDir(out).removeRecursively();
}

void TestArchiveFuzz::regressionInputs()
{
    const QDir dir(testpaths::malformedDir("arch"));
    const QFileInfoList inputs = dir.entryInfoList(QDir::Files, QDir::Name);
    for (const QFileInfo& input : inputs) {
        QElapsedTimer timer;
        timer.start();
        exercise(input.filePath());
        QVERIFY2(timer.elapsed() < SlowInputMs, qPrintable(input.fileName()));
    }
    qInfo() << inputs.size() << "regression inputs";
}

void TestArchiveFuzz::mutatedArchives()
{
    const bool byHand = qEnvironmentVariableIsSet("PL_ARCHFUZZ_COUNT");
    const int mutations = byHand ? qEnvironmentVariableIntValue("PL_ARCHFUZZ_COUNT") : MaxMutations;
    const qint64 budget = byHand ? std::numeric_limits<qint64>::max() : TimeBudgetMs;
    QRandomGenerator random(qEnvironmentVariableIsSet("PL_ARCHFUZZ_SEED")
            ? quint32(qEnvironmentVariableIntValue("PL_ARCHFUZZ_SEED"))
            : 20240611u);
    QElapsedTimer total;
    total.start();
    int count = 0;
    for (; count < mutations && total.elapsed() < budget; ++count) {
        const Seed& seed = m_seeds.at(int(random.bounded(m_seeds.size())));
        QByteArray bytes = seed.bytes;
        const int kind = int(random.bounded(4));
        if (kind == 0 || kind == 3) {
            const int flips = 1 + int(random.bounded(8));
            for (int i = 0; i < flips; ++i) {
                const int at = int(random.bounded(bytes.size()));
                bytes[at] = char(bytes[at] ^ (1 << random.bounded(8)));
            }
        }
        if (kind == 1 || kind == 3)
            bytes.truncate(int(random.bounded(bytes.size())));
        if (kind == 2) {
            const int at = int(random.bounded(bytes.size()));
            for (int i = at; i < qMin(bytes.size(), at + 1 + int(random.bounded(16))); ++i)
                bytes[i] = char(random.bounded(256));
        }

        // Kept outside the test folder so that a crash leaves the input behind.
        const QString current = m_current + "." + seed.suffix;
        QVERIFY(testfiles::write(current, bytes));
        const QString input = m_dir.filePath("input." + seed.suffix);
        QFile::remove(input);
        QVERIFY(QFile::copy(current, input));
        QElapsedTimer timer;
        timer.start();
        exercise(input);
        if (QTest::currentTestFailed())
            return;
        QVERIFY2(timer.elapsed() < SlowInputMs, qPrintable("slow input kept in " + current));
        QFile::remove(current);
    }
    qInfo() << count << "mutated archives in" << total.elapsed() << "ms";
    QVERIFY(count >= qMin(200, mutations));
}

void TestArchiveFuzz::cleanupTestCase() { QLoggingCategory::setFilterRules(QString()); }

QTEST_GUILESS_MAIN(TestArchiveFuzz)
#include "tst_archivefuzz.moc"
