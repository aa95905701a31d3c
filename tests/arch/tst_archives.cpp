// The archive readers over generated ZIP, RAR (4 and 5) and 7z archives: behaviour they share
// runs once per format, then what only one of them does; entry-name joining; names outside
// ASCII (registered again under the plain C locale); and a fuzz run over damaged archives.
#include "rarwriter.h"
#include "sevenzwriter.h"
#include "testfiles.h"
#include "textrows.h"
#include "zipwriter.h"

#include "arch/entryfile.h"
#include "arch/rarreader.h"
#include "arch/safepath.h"
#include "arch/sevenzreader.h"
#include "arch/zipreader.h"

#include <QtTest>

#include <langinfo.h>
#include <locale.h>
#include <memory>
#include <thread>
#include <unistd.h>

namespace {
enum class Kind { Zip, Rar4, Rar5, SevenZ };

const char* kindName(Kind kind)
{
    static const char* const names[] = { "zip", "rar4", "rar5", "7z" };
    return names[int(kind)];
}

const QString mixedScripts = QStringLiteral("漫画/ページ №2 «ё».png");

bool isRar(Kind kind) { return kind == Kind::Rar4 || kind == Kind::Rar5; }

// Every file and folder below dir, relative to it, sorted; hidden files too, so leftover
// temporary files show up.
QStringList tree(const QString& dir)
{
    QStringList result;
    QDirIterator it(
        dir, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (it.hasNext())
        result.append(QDir(dir).relativeFilePath(it.next()));
    result.sort();
    return result;
}

// Bytes that do not compress: a fixed-seed random block.
QByteArray noise(int size, quint32 seed = 1)
{
    QRandomGenerator generator(seed);
    QByteArray data(size, Qt::Uninitialized);
    for (int i = 0; i < size; ++i)
        data[i] = char(generator.bounded(256));
    return data;
}

// A name ending in "/" makes a folder; compressed picks deflate (ZIP) or LZMA2 (7z) over
// storing; codec writes ZIP and RAR 4 names in a legacy code page without the Unicode flag.
QString makeArchive(Kind kind, const QString& path, const QList<ZipEntry>& entries, const QByteArray& codec = {})
{
    bool written = false;
    if (kind == Kind::Zip) {
        ZipWriter writer(path);
        if (!codec.isEmpty())
            writer.setNameCodec(codec);
        for (const ZipEntry& e : entries)
            writer.add(e);
        written = writer.write();
    } else if (isRar(kind)) {
        RarWriter writer(path);
        writer.setFormat(kind == Kind::Rar5 ? RarWriter::Format::Rar5 : RarWriter::Format::Rar4);
        if (!codec.isEmpty())
            writer.setNameCodec(codec);
        for (const ZipEntry& e : entries) {
            if (e.name.endsWith('/'))
                writer.addFolder(e.name.chopped(1));
            else
                writer.add(e.name, e.data);
        }
        written = writer.write();
    } else {
        SevenZWriter writer(path);
        for (const ZipEntry& e : entries) {
            if (!e.compressed)
                writer.setCompression("copy");
            if (e.name.endsWith('/'))
                writer.addFolder(e.name);
            else
                writer.add(e.name, e.data);
        }
        written = writer.write();
    }
    if (!written)
        qFatal("cannot write fixture %s", qPrintable(path));
    return path;
}

// Unpacks one entry by name; the 7z reader takes no name and unpacks the book it picks.
bool extractOne(Kind kind, const QString& archive, const QString& name, const QString& dest, QString& outPath)
{
    if (kind == Kind::Zip)
        return ZipReader().extract(archive, name, dest, outPath);
    if (isRar(kind))
        return RarReader().extract(archive, name, dest, outPath);
    const QString file = sevenzreader::instance()->extractSingleFile(archive, dest);
    if (file.isEmpty())
        return false;
    outPath = dest + "/" + file;
    return true;
}

QStringList listing(Kind kind, const QString& archive)
{
    if (kind == Kind::Zip)
        return ZipReader().files(archive);
    if (isRar(kind))
        return RarReader().files(archive);
    const QString format = sevenzreader::instance()->getInternalFileFormat(archive);
    return format.isEmpty() ? QStringList() : QStringList(format);
}

void kindRows(std::initializer_list<Kind> kinds)
{
    QTest::addColumn<Kind>("kind");
    for (Kind kind : kinds)
        QTest::newRow(kindName(kind)) << kind;
}

// A name joined to a folder; an empty expected path means refused.
void joinRow(const char* tag, const QString& destDir, const QString& name, const QString& expected = QString())
{
    QTest::newRow(tag) << destDir << name << expected;
}
}
Q_DECLARE_METATYPE(Kind)

class TestArchives : public QObject {
    Q_OBJECT

private:
    QString archive(Kind kind, const QList<ZipEntry>& entries, const QString& base = QStringLiteral("a"))
    {
        return makeArchive(kind, m_dir->filePath(base + "." + kindName(kind)), entries);
    }

    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_dest;

private slots:
    void initTestCase()
    {
        // Debug lines of the readers are many and say nothing to a test run.
        QLoggingCategory::setFilterRules(QStringLiteral("*.debug=false"));
        const QByteArray codeset = nl_langinfo(CODESET);
        qInfo() << "LC_CTYPE" << setlocale(LC_CTYPE, nullptr) << "codeset" << codeset;
        // Make sure each registration tests what it claims to.
        if (qEnvironmentVariableIsSet("PL_EXPECT_C_LOCALE"))
            QVERIFY2(codeset != "UTF-8", codeset.constData());
        else
            QCOMPARE(codeset, QByteArray("UTF-8"));
    }

    void init()
    {
        m_dir.reset(new QTemporaryDir);
        QVERIFY(m_dir->isValid());
        m_dest = m_dir->filePath(QStringLiteral("out"));
    }

    void join_data()
    {
        QTest::addColumn<QString>("destDir");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("expected");
        const QString book = QStringLiteral("/data/book");
        joinRow("plain", book, "page.jpg", "/data/book/page.jpg");
        joinRow("folder entry", book, "OEBPS/", "/data/book/OEBPS");
        joinRow("dest with slash", "/data/book/", "a.txt", "/data/book/a.txt");
        joinRow("backslashes", book, "images\\p1.png", "/data/book/images/p1.png");
        joinRow("dot parts cleaned", book, "./a/./b//c.txt", "/data/book/a/b/c.txt");
        joinRow("dotdot inside", book, "a/../b.txt", "/data/book/b.txt");
        joinRow("dots in names", book, "..hidden/...txt", "/data/book/..hidden/...txt");

        joinRow("parent", book, "../evil.txt");
        joinRow("parent after cleaning", book, "a/../../evil.txt");
        joinRow("parent backslash", book, "..\\evil.txt");
        joinRow("absolute", book, "/etc/passwd");
        joinRow("network name", book, "//server/share/x");
        joinRow("drive", book, "C:/Windows/x.dll");
        joinRow("drive relative", book, "c:x.dll");
        joinRow("empty", book, QStringLiteral(""));
        joinRow("dot", book, ".");
        joinRow("nul", book, QString::fromLatin1("a\0b.txt", 7));
        // An empty folder would turn every name into a path below the root.
        joinRow("no folder", QString(), "a.txt");
    }

    void join()
    {
        QFETCH(QString, destDir);
        QFETCH(QString, name);
        QFETCH(QString, expected);
        QCOMPARE(safeEntryPath(destDir, name), expected);
        if (destDir.isEmpty())
            return; // the name itself is fine
        if (expected.isEmpty()) {
            QVERIFY(safeEntryName(name).isEmpty());
        } else {
            const QString relative = safeEntryName(name);
            QVERIFY(!relative.startsWith(QLatin1Char('/')) && !relative.endsWith(QLatin1Char('/')));
            QVERIFY(expected.endsWith(QLatin1Char('/') + relative));
        }
    }

    void damagedDataLeavesNoFile_data()
    {
        QTest::addColumn<Kind>("kind");
        QTest::addColumn<bool>("compressed");
        QTest::addColumn<bool>("truncate");
        QTest::newRow("zip deflated, corrupted data") << Kind::Zip << true << false;
        QTest::newRow("zip stored, corrupted data") << Kind::Zip << false << false;
        QTest::newRow("rar4 corrupted data") << Kind::Rar4 << false << false;
        QTest::newRow("rar4 cut short") << Kind::Rar4 << false << true;
        QTest::newRow("rar5 corrupted data") << Kind::Rar5 << false << false;
        QTest::newRow("rar5 cut short") << Kind::Rar5 << false << true;
        QTest::newRow("7z corrupted data") << Kind::SevenZ << false << false;
    }

    void damagedDataLeavesNoFile()
    {
        QFETCH(Kind, kind);
        QFETCH(bool, compressed);
        QFETCH(bool, truncate);
        QByteArray text;
        for (int i = 0; i < 20000; ++i)
            text += "line " + QByteArray::number(i) + "\n";
        const QByteArray data = compressed ? text : noise(200000, 5);
        const QString path = archive(kind, { { "ok.jpg", "ok" }, { "big.fb2", data, compressed } });
        QByteArray bytes = testfiles::read(path);
        const int at = kind == Kind::SevenZ ? bytes.indexOf(data.mid(100000, 16)) : bytes.indexOf("big.fb2") + 7 + 1000;
        QVERIFY(at > 1000);
        if (truncate) {
            bytes.truncate(at);
        } else {
            for (int i = 0; i < 64; ++i)
                bytes[at + i] = char(bytes[at + i] ^ 0x5a); // the entry's checksum no longer matches
        }
        QVERIFY(testfiles::write(path, bytes));

        QString outPath = "untouched";
        QVERIFY(!extractOne(kind, path, "big.fb2", m_dest, outPath));
        QCOMPARE(outPath, QString("untouched"));
        QVERIFY(tree(m_dest).isEmpty());

        if (kind == Kind::Zip) {
            QVERIFY(!ZipReader().extractAll(path, m_dest, nullptr));
            // Only complete files: no partial big.fb2 and no temporary file beside it.
            QCOMPARE(tree(m_dest), QStringList({ "ok.jpg" }));
        }
    }

    void hostileNamesStayInside_data() { kindRows({ Kind::Zip, Kind::Rar4, Kind::Rar5, Kind::SevenZ }); }

    void hostileNamesStayInside()
    {
        QFETCH(Kind, kind);
        // Parent steps (also with backslashes and after a harmless folder), a drive name, absolute names.
        const QStringList hostile { "../escaped1.txt", "a/../../escaped2.txt", "..\\escaped3.txt", "C:/escaped4.txt",
            m_dir->filePath("absolute.txt"), "../escaped.fb2", m_dir->filePath("absolute.fb2") };
        QList<ZipEntry> entries;
        for (const QString& name : hostile)
            entries.append(ZipEntry { name, "x" });
        entries.append(ZipEntry { "good.epub", "good" });
        const QString path = archive(kind, entries, "hostile");

        if (kind == Kind::SevenZ) {
            QString outPath;
            QVERIFY(extractOne(kind, path, {}, m_dest, outPath));
            QCOMPARE(listing(kind, path), QStringList({ "epub" }));
        } else {
            const QStringList names = listing(kind, path);
            QCOMPARE(names.size(), entries.size());
            for (const QString& name : names) {
                QString outPath = "untouched";
                QVERIFY(extractOne(kind, path, name, m_dest, outPath));
                QCOMPARE(outPath, name == "good.epub" ? m_dest + "/good.epub" : QString("untouched"));
            }
        }
        const QString archiveName = QFileInfo(path).fileName();
        QCOMPARE(tree(m_dir->path()), QStringList({ archiveName, "out", "out/good.epub" }));

        if (kind == Kind::Zip) {
            // Unpacking everything skips the escaping names and keeps the rest, separators mended.
            const QString zip
                = archive(kind, { { "../x.txt", "x" }, { "a/../inside.txt", "in" }, { "good\\page.jpg", "good" } });
            QList<QFileInfo> extracted;
            QVERIFY(ZipReader().extractAll(zip, m_dest, &extracted));
            QCOMPARE(extracted.size(), 2);
            QCOMPARE(tree(m_dest), QStringList({ "good", "good.epub", "good/page.jpg", "inside.txt" }));
        }

        // A link planted in the destination does not lead the unpack out of it.
        QDir().mkpath(m_dir->filePath("elsewhere"));
        QVERIFY(QFile::link(m_dir->filePath("elsewhere"), m_dest + "/sub"));
        const QString linked = archive(kind, { { "sub/x.fb2", "x" } }, "linked");
        QString outPath = "untouched";
        QVERIFY(!extractOne(kind, linked, "sub/x.fb2", m_dest, outPath));
        QVERIFY(tree(m_dir->filePath("elsewhere")).isEmpty());
    }

    // Unreadable or missing archives, and destinations that take no file: the call fails, outPath
    // is left alone and nothing is written.
    void failuresWriteNothing_data() { kindRows({ Kind::Zip, Kind::Rar4, Kind::SevenZ }); }

    void failuresWriteNothing()
    {
        QFETCH(Kind, kind);
        const QString fake = m_dir->filePath(QStringLiteral("fake.") + kindName(kind));
        QVERIFY(testfiles::write(fake, "PK\x03\x04 7z? not an archive at all"));
        const QString path = archive(kind, { { "p1.fb2", "one" }, { "sub/p2.jpg", "two" } });
        QVERIFY(testfiles::write(m_dir->filePath("file"), "x"));
        // Root is not bound by permissions; /proc/self refuses new files to everyone.
        QString readOnly = QStringLiteral("/proc/self");
        if (geteuid() != 0) {
            readOnly = m_dir->filePath("readonly");
            QDir().mkpath(readOnly);
            QFile::setPermissions(readOnly, QFileDevice::ReadOwner | QFileDevice::ExeOwner);
        }
        const QList<QPair<QString, QString>> cases { { fake, m_dest }, { m_dir->filePath("missing.bin"), m_dest },
            { path, m_dir->filePath("file/dest") }, { path, readOnly } };
        for (const auto& c : cases) {
            QString outPath = "untouched";
            QVERIFY2(!extractOne(kind, c.first, "p1.fb2", c.second, outPath), qPrintable(c.first + " " + c.second));
            QCOMPARE(outPath, QString("untouched"));
            QVERIFY(kind != Kind::Zip || !ZipReader().extractAll(c.first, c.second, nullptr));
            QVERIFY(kind != Kind::Zip || !ZipReader().extract(c.first, QRegExp("p"), c.second, outPath));
            QVERIFY(c.first == path || listing(kind, c.first).isEmpty());
        }
        QVERIFY(tree(m_dest).isEmpty());
        QVERIFY(!QFileInfo::exists(readOnly + "/p1.fb2"));
    }

    // Where the bytes say nothing the reader follows the suffix in any letter case; other
    // suffixes get the reader that reads nothing.
    void readerChoice()
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

    // ZIP names match in any letter case, an empty name selects every entry, a pattern is
    // searched for with its own case sensitivity; outPath names the last file written.
    // Unpacking everything keeps files already there and lists only those it wrote.
    void zipSelectsEntries()
    {
        const QString zip = archive(Kind::Zip,
            { { "Cover.jpg", "first" }, { "text/ch1.html", "<p/>" }, { "cover.JPG", "second" },
                { "images/back-cover.png", "png" } });
        ZipReader reader;
        QString outPath = "untouched";
        QVERIFY(reader.extract(zip, QString("missing.jpg"), m_dest, outPath));
        QCOMPARE(outPath, QString("untouched"));
        QVERIFY(reader.extract(zip, QString("COVER.jpg"), m_dest, outPath));
        QCOMPARE(outPath, m_dest + "/cover.JPG");
        QCOMPARE(testfiles::read(m_dest + "/Cover.jpg"), QByteArray("first"));
        QCOMPARE(testfiles::read(m_dest + "/cover.JPG"), QByteArray("second"));
        QVERIFY(reader.extract(zip, QString(), m_dest + "/all", outPath));
        QCOMPARE(outPath, m_dest + "/all/images/back-cover.png");
        QCOMPARE(tree(m_dest + "/all").size(), 6);

        QVERIFY(reader.extract(zip, QRegExp(".*cover.*.(jpg|png)", Qt::CaseInsensitive), m_dest + "/p", outPath));
        QCOMPARE(outPath, m_dest + "/p/images/back-cover.png");
        QCOMPARE(tree(m_dest + "/p"), QStringList({ "Cover.jpg", "cover.JPG", "images", "images/back-cover.png" }));
        outPath.clear();
        QVERIFY(reader.extract(zip, QRegExp("CH1"), m_dest, outPath));
        QVERIFY(outPath.isEmpty());
        QVERIFY(reader.extract(zip, QRegExp("ch1"), m_dest, outPath));
        QCOMPARE(outPath, m_dest + "/text/ch1.html");

        const QString dest = m_dir->filePath("epub");
        const QString epub = archive(Kind::Zip,
            { { "mimetype", "application/epub+zip", false }, { "OEBPS/", {}, false }, { "OEBPS/ch1.html", "new 1" },
                { "OEBPS/ch2.html", "new 2" } },
            "epub");
        QVERIFY(testfiles::write(dest + "/OEBPS/ch1.html", "old 1"));
        QList<QFileInfo> extracted;
        QVERIFY(ZipReader().extractAll(epub, dest, &extracted));
        QStringList listed;
        for (const QFileInfo& info : extracted)
            listed.append(info.filePath());
        QCOMPARE(listed, QStringList({ dest + "/mimetype", dest + "/OEBPS/ch2.html" }));
        QCOMPARE(testfiles::read(dest + "/OEBPS/ch1.html"), QByteArray("old 1"));
        QCOMPARE(testfiles::read(dest + "/OEBPS/ch2.html"), QByteArray("new 2"));
    }

    void zipConcurrentUnpacksOfOneEntry()
    {
        // The comic viewer and the importer may unpack the same page at the same moment.
        const QByteArray page = noise(300000, 7);
        const QString zip = archive(Kind::Zip, { { "p1.jpg", page } });
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

    void sizeLimits()
    {
        // The readers use 1 GiB per entry and 4 GiB per call; the same code with small limits.
        const auto copy = [this](UnpackBudget& budget, const QString& name) {
            int served = 0;
            EntryFile file(m_dest, m_dest + "/" + name, budget);
            if (!file.open())
                return EntryFile::ReadFailed;
            const EntryFile::CopyResult result = file.copyFrom([&](char* buffer, qint64 size) -> qint64 {
                const qint64 length = served++ < 5 ? qMin<qint64>(size, 1000) : 0;
                memset(buffer, 'x', size_t(length));
                return length;
            });
            return result == EntryFile::Copied && !file.commit() ? EntryFile::ReadFailed : result;
        };
        UnpackBudget entryLimit(4500, 100000);
        QCOMPARE(copy(entryLimit, "big.bin"), EntryFile::TooLarge);
        QVERIFY(tree(m_dest).isEmpty());
        UnpackBudget totalLimit(5000, 8000);
        QCOMPARE(copy(totalLimit, "first.bin"), EntryFile::Copied);
        QCOMPARE(copy(totalLimit, "second.bin"), EntryFile::TooLarge);
        QCOMPARE(tree(m_dest), QStringList({ "first.bin" }));
        QCOMPARE(QFileInfo(m_dest + "/first.bin").size(), qint64(5000));
    }

    // Passes over a ZIP that pick their entries one by one: what is claimed is written (and
    // reported), the rest passed over; passes sharing a budget stop together at its limit.
    void zipPassesShareABudget()
    {
        const QString zip = archive(Kind::Zip,
            { { "a.txt", QByteArray(3000, 'a') }, { "dir/b.txt", QByteArray(3000, 'b') }, { "c.txt", "c" } });
        UnpackBudget budget(5000, 5000);
        QStringList written;
        const auto pass = [&](const QString& wanted) {
            return ZipReader::extractEach(
                zip, m_dest, [&](const QString& name) { return name == wanted; },
                [&](const QString& name, const QString& path) {
                    written.append(name);
                    QCOMPARE(path, m_dest + "/" + name);
                },
                &budget);
        };
        QVERIFY(pass("a.txt"));
        QCOMPARE(written, QStringList { "a.txt" });
        QCOMPARE(budget.written(), qint64(3000));
        QVERIFY(!pass("dir/b.txt"));
        QVERIFY(pass("c.txt"));
        QCOMPARE(written, QStringList({ "a.txt", "c.txt" }));
        QVERIFY(!QFileInfo::exists(m_dest + "/dir/b.txt"));
        QCOMPARE(QFileInfo(m_dest + "/a.txt").size(), qint64(3000));
    }

    // RAR names match exactly, an empty name selects nothing, the first of two twins wins, and a
    // damaged header ends the walk there. A first volume with an enciphered entry and one continued
    // in the next volume: the archive's flags say so, the plain entry unpacks, the other two fail
    // and leave nothing. With enciphered headers nothing can be listed or unpacked.
    void rarEntries_data() { kindRows({ Kind::Rar4, Kind::Rar5 }); }

    void rarEntries()
    {
        QFETCH(Kind, kind);
        const QString twins = archive(kind,
            { { "Chapter 1/Page 01.jpg", "first" }, { "p.jpg", "twin 1" }, { "p.jpg", "twin 2" }, { "3.jpg", "3" } });
        QByteArray bytes = testfiles::read(twins);
        bytes[bytes.indexOf("3.jpg")] = 'X'; // the header CRC no longer matches
        QVERIFY(testfiles::write(twins, bytes));
        RarReader reader;
        QStringList files = reader.files(twins);
        files.removeDuplicates(); // RAR 4 lists twins once
        QCOMPARE(files, QStringList({ "Chapter 1/Page 01.jpg", "p.jpg" }));
        QString outPath = "untouched";
        QVERIFY(reader.extract(twins, QString("chapter 1/page 01.jpg"), m_dest, outPath));
        QVERIFY(reader.extract(twins, QString(), m_dest, outPath));
        QVERIFY(reader.extract(twins, QString("X.jpg"), m_dest, outPath));
        QCOMPARE(outPath, QString("untouched"));
        QVERIFY(tree(m_dest).isEmpty());
        QVERIFY(reader.extract(twins, QString("p.jpg"), m_dir->filePath("twins"), outPath));
        QCOMPARE(testfiles::read(outPath), QByteArray("twin 1"));

        const QString rar = m_dir->filePath("a.cbr");
        RarWriter writer(rar);
        writer.setFormat(kind == Kind::Rar5 ? RarWriter::Format::Rar5 : RarWriter::Format::Rar4);
        writer.setVolume(true);
        writer.add("1.jpg", "one");
        for (const bool encrypted : { true, false }) {
            RarEntry entry;
            entry.name = encrypted ? "locked.jpg" : "split.jpg";
            entry.data = noise(5000);
            entry.encrypted = encrypted;
            entry.continuesInNextVolume = !encrypted;
            writer.add(entry);
        }
        QVERIFY(writer.write());
        const unsigned naming = kind == Kind::Rar5 ? unsigned(RarReader::NewNaming) : 0u;
        QCOMPARE(RarReader::archiveFlags(rar), naming | RarReader::Volume | RarReader::FirstVolume);
        QCOMPARE(RarReader::archiveFlags(twins), naming);
        QCOMPARE(reader.files(rar), QStringList({ "1.jpg", "locked.jpg", "split.jpg" }));
        QVERIFY(reader.extract(rar, QString("1.jpg"), m_dest, outPath));
        QCOMPARE(testfiles::read(outPath), QByteArray("one"));
        outPath = "untouched";
        QVERIFY(!reader.extract(rar, QString("locked.jpg"), m_dest, outPath));
        QVERIFY(!reader.extract(rar, QString("split.jpg"), m_dest, outPath));
        QCOMPARE(outPath, QString("untouched"));
        QCOMPARE(tree(m_dest), QStringList({ "1.jpg" }));

        writer.setEncryptedHeaders(true);
        QVERIFY(writer.write());
        QVERIFY(RarReader::archiveFlags(rar) & RarReader::EncryptedHeaders);
        QVERIFY(reader.files(rar).isEmpty());
        reader.extract(rar, QString("1.jpg"), m_dest + "/locked", outPath);
        QCOMPARE(outPath, QString("untouched"));
        QVERIFY(!QFileInfo::exists(m_dest + "/locked"));
    }

    void sevenZPicksTheFirstBook_data()
    {
        QTest::addColumn<QString>("entries"); // apart by "|"; a trailing "/" makes a folder
        QTest::addColumn<QString>("format");
        QTest::addColumn<QString>("file");
        addTextRows({ { "first of several", "cover.jpg|Book.FB2|other.epub", "fb2", "Book.FB2" },
            { "inside a folder", "a/|a/readme.md|a/Tale.TXT", "txt", "a/Tale.TXT" },
            { "mobi", "x.pdf|y.Mobi", "mobi", "y.Mobi" },
            { "folder named like a book", "b.epub/|b.epub/c.epub", "epub", "b.epub/c.epub" },
            { "no book", "a.pdf|b.djvu|fb2", nullptr, nullptr } });
    }

    void sevenZPicksTheFirstBook()
    {
        QFETCH(QString, entries);
        QFETCH(QString, format);
        QFETCH(QString, file);
        QList<ZipEntry> content;
        for (const QString& entry : entries.split('|'))
            content.append(ZipEntry { entry, entry.toUtf8() + " contents" });
        const QString path = archive(Kind::SevenZ, content, "books");

        QCOMPARE(sevenzreader::instance()->getInternalFileFormat(path), format);
        QCOMPARE(sevenzreader::instance()->extractSingleFile(path, m_dest), file);
        QStringList written;
        for (const QString& name : tree(m_dest))
            if (QFileInfo(m_dest + "/" + name).isFile())
                written.append(name);
        QCOMPARE(written, file.isEmpty() ? QStringList() : QStringList({ file }));
        if (!file.isEmpty())
            QCOMPARE(testfiles::read(m_dest + "/" + file), file.toUtf8() + " contents");
    }

    // Names outside ASCII, read under the locale the test runs with; a large entry unpacked byte
    // for byte over an older copy, as a later load of the same archive expects.
    void names_data()
    {
        QTest::addColumn<Kind>("kind");
        QTest::addColumn<QByteArray>("codec");
        QTest::addColumn<QString>("name");
        // Cyrillic that IBM 866 can encode; Cyrillic with a dash it lacks; several scripts.
        const QString dos = QStringLiteral("Книги/Ёжик в тумане, гл.1.fb2");
        const QString cyrillic = QStringLiteral("Книги/Война и мир — том 1.fb2");
        QTest::newRow("zip, IBM 866 without flag") << Kind::Zip << QByteArray("IBM 866") << dos;
        QTest::newRow("zip, UTF-8 flag, mixed scripts") << Kind::Zip << QByteArray() << mixedScripts;
        QTest::newRow("RAR 4, IBM 866 without flag") << Kind::Rar4 << QByteArray("IBM 866") << dos;
        QTest::newRow("RAR 4, Unicode flag, mixed scripts") << Kind::Rar4 << QByteArray() << mixedScripts;
        QTest::newRow("RAR 5, mixed scripts") << Kind::Rar5 << QByteArray() << mixedScripts;
        QTest::newRow("7z, Cyrillic") << Kind::SevenZ << QByteArray() << cyrillic;
    }

    void names()
    {
        QFETCH(Kind, kind);
        QFETCH(QByteArray, codec);
        QFETCH(QString, name);
        const locale_t locale = uselocale(locale_t(nullptr));
        const QByteArray codeset = nl_langinfo(CODESET);
        // In the 7z archive the first entry is no book and is passed over.
        const QString first = kind == Kind::SevenZ ? mixedScripts : QStringLiteral("plain.jpg");
        const QByteArray data = noise(1024 * 1024 + 17, 3);
        const QString path = makeArchive(kind, m_dir->filePath(QStringLiteral("names.") + kindName(kind)),
            { { first, "plain" }, { name, data } }, codec);
        QCOMPARE(listing(kind, path), kind == Kind::SevenZ ? QStringList("fb2") : QStringList({ first, name }));
        // The generator wrote the name in the code page asked for, so the reader's decoding is what is tested.
        const QByteArray stored = codec.isEmpty() ? name.toUtf8() : QTextCodec::codecForName(codec)->fromUnicode(name);
        QVERIFY(kind == Kind::SevenZ || testfiles::read(path).contains(stored));
        QVERIFY(testfiles::write(m_dest + "/" + name, "stale"));
        QString outPath;
        // ZIP names match in any letter case.
        QVERIFY(extractOne(kind, path, kind == Kind::Zip ? name.toUpper() : name, m_dest, outPath));
        // The file is on disk under the Unicode name itself, with the entry's bytes.
        QCOMPARE(outPath, m_dest + "/" + name);
        QVERIFY(testfiles::read(outPath) == data);
        QCOMPARE(tree(m_dest), QStringList({ name.section('/', 0, 0), name }));
        if (kind == Kind::Zip) {
            QList<QFileInfo> extracted;
            QVERIFY(ZipReader().extractAll(path, m_dir->filePath("all"), &extracted));
            QCOMPARE(extracted.size(), 2);
            QCOMPARE(extracted.last().filePath(), m_dir->filePath("all") + "/" + name);
        }
        // The readers switch the thread's locale for the names and put it back.
        QCOMPARE(uselocale(locale_t(nullptr)), locale);
        QCOMPARE(QByteArray(nl_langinfo(CODESET)), codeset);
    }

    // Generated archives mutated (bit flips, overwritten runs, truncation; fixed seed) and read
    // by every reader: nothing may crash, hang or write outside the destination.
    void mutatedArchives()
    {
        QList<QPair<QString, QByteArray>> seeds;
        const auto addSeed = [&](Kind kind, const QString& suffix, const QList<ZipEntry>& entries,
                                 const QByteArray& codec = {}) {
            seeds.append(
                { suffix, testfiles::read(makeArchive(kind, m_dir->filePath("seed." + suffix), entries, codec)) });
        };
        QByteArray text;
        for (int i = 0; i < 200; ++i)
            text += "<p>Line " + QByteArray::number(i) + " of the chapter.</p>\n";
        addSeed(Kind::Zip, "cbz",
            { { "pages/", {}, false }, { "pages/01.jpg", noise(3000), false }, { "pages/02.jpg", text },
                { "../escape.jpg", "x" }, { "pages\\03.jpg", text.left(2000) } });
        addSeed(Kind::Zip, "epub",
            { { "mimetype", "application/epub+zip", false }, { "META-INF/container.xml", "<container/>" },
                { QString::fromUtf8("OEBPS/глава.html"), text } },
            "IBM 866");
        for (Kind kind : { Kind::Rar4, Kind::Rar5 })
            addSeed(kind, "cbr",
                { { "scans/", {} }, { "scans/01.jpg", noise(2000, 2) },
                    { QString::fromUtf8("scans/страница 02.jpg"), text.left(1500) }, { "..\\escape.jpg", "x" } });
        for (bool compressed : { true, false })
            addSeed(Kind::SevenZ, "7z",
                { { "cover.jpg", noise(1500, 3), compressed }, { "../escape.fb2", "x" }, { "book/Tale.FB2", text } });

        // Thousands of damaged archives make thousands of log lines; they are not the subject.
        QLoggingCategory::setFilterRules(QStringLiteral("*.debug=false\n*.warning=false\n*.critical=false"));
        // Kept outside the test folder (one name per process), so that a crash leaves the input behind.
        const QString kept
            = QDir::temp().filePath(QStringLiteral("pageloom-archfuzz-%1").arg(QCoreApplication::applicationPid()));
        // Every reader on one input; whatever the damage, nothing lands beside the destination.
        const auto exercise = [this](const QString& path) {
            const QString suffix = QFileInfo(path).suffix();
            QString outPath;
            if (suffix == "cbz" || suffix == "epub") {
                ZipReader reader;
                const QStringList names = reader.files(path);
                reader.extractAll(path, m_dest + "/all", nullptr);
                if (!names.isEmpty())
                    reader.extract(path, names.last(), m_dest + "/one", outPath);
                reader.extract(path, QRegExp("\\.(jpg|html)$"), m_dest + "/pattern", outPath);
                ZipReader::singleEntrySuffix(path);
            } else if (suffix == "cbr") {
                RarReader reader;
                for (const QString& name : reader.files(path).mid(0, 3))
                    reader.extract(path, name, m_dest, outPath);
            } else {
                sevenzreader::instance()->getInternalFileFormat(path);
                sevenzreader::instance()->extractSingleFile(path, m_dest);
            }
            for (const QString& name : tree(m_dir->path())) {
                if (!name.startsWith("out/") && name != "out" && !name.startsWith("seed."))
                    QFAIL(qPrintable(QString("written outside the destination: %1").arg(name)));
            }
            QDir(m_dest).removeRecursively();
        };
        // A fixed number of inputs, so that every run, on any machine, reads the same ones.
        QRandomGenerator random(20240611u);
        for (int count = 0; count < 3000; ++count) {
            const auto& seed = seeds.at(int(random.bounded(seeds.size())));
            QByteArray bytes = seed.second;
            const int kind = int(random.bounded(4));
            if (kind == 0 || kind == 3) {
                for (int i = 1 + int(random.bounded(8)); i > 0; --i) {
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
            QVERIFY(testfiles::write(kept + "." + seed.first, bytes));
            exercise(kept + "." + seed.first);
            if (QTest::currentTestFailed())
                return;
            QFile::remove(kept + "." + seed.first);
        }
        QLoggingCategory::setFilterRules(QStringLiteral("*.debug=false"));
    }
};

QTEST_GUILESS_MAIN(TestArchives)
#include "tst_archives.moc"
