// Fuzzes the reading of damaged library files by their pages. Seed libraries are built through the
// library's own storage (pages of 512, 4096 and 65536 bytes, a record of a megabyte among the usual
// ones, so that overflow chains run over pages of every size). A copy with false cells over a leaf
// is salvaged first; then each round salvages a copy with bytes mutated in the cells of its table
// leaves, or anywhere in the file, and checks that it brings back no more books than the seed
// held. Prints, per page size, the salvage times and the page reader's work (in bytes it looked
// at, per byte of the file) of the crafted copy and of the slowest rounds.
// Usage: bench_libraryfuzz [rounds per page size, default 200] [random seed, default 1]
//                          [--keep FOLDER: the slowest mutated file of each page size goes there]

#include "appdirs.h"
#include "librarytestdb.h"
#include "models/bookprovider.h"
#include "models/librarysalvage.h"
#include "models/sqlitepagereader.h"
#include "sqlitepages.h"
#include "temphome.h"
#include "testfiles.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QRandomGenerator>
#include <QTextStream>

#include <algorithm>
#include <limits>

namespace {

struct Round {
    qint64 ms = 0;
    double work = 0; // bytes the page reader looked at, per byte of the file
    int books = 0;
    QString mutation;
};

// The cell content areas of the table leaves of the file: from, to.
QList<QPair<int, int>> leafCells(const QByteArray& file, int pageSize)
{
    QList<QPair<int, int>> areas;
    for (int start = pageSize; start + pageSize <= file.size(); start += pageSize) {
        if (file.at(start) != 0x0d)
            continue;
        const int content = int(sqlitepages::bigEndian(file, start + 5, 2));
        areas.append({ start + (content ? content : 65536), start + pageSize });
    }
    return areas;
}

// One mutation of the seed, as fuzzers make them: bytes flipped or replaced in leaf cells, a
// stretch copied over another, noise anywhere, the file cut short.
QByteArray mutate(const QByteArray& seed, int pageSize, QRandomGenerator& random, QString* what)
{
    QByteArray bytes = seed;
    const QList<QPair<int, int>> cells = leafCells(seed, pageSize);
    const auto inCells = [&]() {
        const QPair<int, int> area = cells.at(int(random.bounded(cells.size())));
        return int(random.bounded(area.first, area.second));
    };
    switch (random.bounded(cells.isEmpty() ? 2 : 5)) {
    case 0: {
        const int count = int(random.bounded(1, 64));
        for (int i = 0; i < count; ++i)
            bytes[int(random.bounded(bytes.size()))] = char(random.bounded(256));
        *what = QStringLiteral("%1 bytes anywhere").arg(count);
        break;
    }
    case 1: {
        const int length = int(random.bounded(1, pageSize));
        bytes.truncate(int(random.bounded(bytes.size() - length, bytes.size())));
        *what = QStringLiteral("cut to %1 bytes").arg(bytes.size());
        break;
    }
    case 2: {
        const int count = int(random.bounded(1, 256));
        for (int i = 0; i < count; ++i) {
            const int at = inCells();
            bytes[at] = char(random.bounded(2) ? random.bounded(256) : bytes.at(at) ^ (1 << random.bounded(8)));
        }
        *what = QStringLiteral("%1 bytes in leaf cells").arg(count);
        break;
    }
    case 3: {
        const int at = inCells();
        const int length = qMin(int(random.bounded(16, pageSize / 2)), bytes.size() - at);
        for (int i = 0; i < length; ++i)
            bytes[at + i] = char(random.bounded(256));
        *what = QStringLiteral("noise of %1 bytes in leaf cells at %2").arg(length).arg(at);
        break;
    }
    default: {
        const int at = inCells();
        const int from = int(random.bounded(bytes.size()));
        const int length = qMin(qMin(int(random.bounded(16, pageSize)), bytes.size() - at), bytes.size() - from);
        bytes.replace(at, length, seed.mid(from, length));
        *what = QStringLiteral("%1 bytes from %2 copied over leaf cells at %3").arg(length).arg(from).arg(at);
        break;
    }
    }
    return bytes;
}

// A text of about a megabyte whose record keeps the least of it on its leaf, so that a false cell
// of its size is short enough to start anywhere on a leaf.
QString longText(int pageSize)
{
    const int least = (pageSize - 12) * 32 / 255 - 23;
    return QStringLiteral("A description that goes on and on. ")
        .repeated(30000)
        .left(least + (1 << 20) / pageSize * (pageSize - 4));
}

// Reads every page of the file as a table leaf, as the salvage may: the reader's work per byte.
double readerWork(const QString& path)
{
    SqlitePageReader reader(path);
    reader.setColumnLimit(15); // the columns of the books table, as the salvage sets it
    for (quint32 page = 1; page <= reader.pageCount(); ++page)
        reader.leaf(page, std::numeric_limits<qint64>::min(), std::numeric_limits<qint64>::max());
    return double(reader.work()) / double(qMax<qint64>(1, QFileInfo(path).size()));
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("Brindle Folvane"));
    const QStringList args = app.arguments();
    const int keepAt = args.indexOf(QStringLiteral("--keep"));
    const QString keep = keepAt > 0 ? args.value(keepAt + 1) : QString();
    const int rounds = args.size() > 1 && keepAt != 1 ? args.at(1).toInt() : 200;
    const quint32 seed = args.size() > 2 && keepAt != 2 ? args.at(2).toUInt() : 1;
    QTextStream out(stdout);
    TempHome home;
    BookProvider* db = BookProvider::instance();
    QRandomGenerator random(seed);
    int failures = 0;

    for (const int pageSize : { 512, 4096, 65536 }) {
        const QString library = home.filePath(QStringLiteral("seed-%1.sqlite3").arg(pageSize));
        if (!writeDatabaseFile(library,
                { QStringLiteral("PRAGMA page_size = %1").arg(pageSize), QStringLiteral("CREATE TABLE sized (x)"),
                    QStringLiteral("DROP TABLE sized") })
            || !db->createConnection(library) || !buildLibrary(db, 300) || !db->setMetaData(3, 6, longText(pageSize))) {
            out << "cannot build the seed library\n";
            return 1;
        }
        const int held = db->allBooks().size();
        const int booksRoot = scalar(QStringLiteral("select rootpage from sqlite_master where name = 'books'")).toInt();
        const int metadataRoot
            = scalar(QStringLiteral("select rootpage from sqlite_master where name = 'book_metadata'")).toInt();
        closeLibrary();
        const QByteArray sound = testfiles::read(library);
        const QString damaged = home.filePath(QStringLiteral("damaged.sqlite3"));
        const QString rebuilt = damaged + QStringLiteral(".new");
        QElapsedTimer timer;
        timer.start();
        LibrarySalvage::rebuild(library, rebuilt);
        const qint64 seedMs = timer.elapsed();

        // The content area of the fullest books leaf made of false cells that lead to the long
        // record's overflow chain: each would copy it.
        sqlitepages::RowPlace record;
        for (const sqlitepages::RowPlace& place : sqlitepages::rowPlaces(sound, metadataRoot)) {
            if (place.overflow.size() > record.overflow.size())
                record = place;
        }
        int fullest = 0;
        for (const sqlitepages::TreePage& page : sqlitepages::treePages(sound, booksRoot)) {
            if (page.leaf
                && (!fullest
                    || sqlitepages::bigEndian(sqlitepages::pageOf(sound, page.page), 5, 2)
                        < sqlitepages::bigEndian(sqlitepages::pageOf(sound, fullest), 5, 2)))
                fullest = page.page;
        }
        const QPair<qint64, QByteArray> cells = sqlitepages::falseCells(sound, record, fullest);
        QByteArray crafted = sound;
        crafted.replace(int(cells.first), cells.second.size(), cells.second);
        if (!testfiles::write(damaged, crafted))
            return 1;
        timer.restart();
        const int craftedBooks = LibrarySalvage::rebuild(damaged, rebuilt).books;
        const qint64 craftedMs = timer.elapsed();
        const double craftedWork = readerWork(damaged);

        QList<Round> done;
        // Only the slowest copy is kept whole: a long run would hold every copy of the file.
        QByteArray slowest;
        qint64 slowestMs = -1;
        for (int round = 0; round < rounds; ++round) {
            Round result;
            const QByteArray bytes = mutate(sound, pageSize, random, &result.mutation);
            if (!testfiles::write(damaged, bytes))
                return 1;
            timer.restart();
            result.books = LibrarySalvage::rebuild(damaged, rebuilt).books;
            result.ms = timer.elapsed();
            result.work = readerWork(damaged);
            if (result.books > held) {
                out << "  round " << round << " (" << result.mutation << "): " << result.books << " books of " << held
                    << "\n";
                ++failures;
            }
            if (result.ms > slowestMs) {
                slowestMs = result.ms;
                slowest = bytes;
            }
            done.append(result);
        }
        std::sort(done.begin(), done.end(), [](const Round& a, const Round& b) { return a.ms > b.ms; });
        qint64 total = 0;
        for (const Round& result : qAsConst(done))
            total += result.ms;
        out << "pages of " << pageSize << " bytes, " << sound.size() / 1024 << " KiB, " << held
            << " books: the seed salvaged in " << seedMs << " ms (reader work " << readerWork(library)
            << " per byte); with false cells over a books leaf in " << craftedMs << " ms (work " << craftedWork
            << " per byte, " << craftedBooks << " books back); " << rounds << " mutated copies in " << total
            << " ms, the slowest:\n";
        for (int i = 0; i < qMin(5, done.size()); ++i) {
            out << "  " << done.at(i).ms << " ms, work " << done.at(i).work << " per byte, " << done.at(i).books
                << " books back: " << done.at(i).mutation << "\n";
        }
        double most = 0;
        for (const Round& result : qAsConst(done))
            most = qMax(most, result.work);
        out << "  most work of a round: " << most << " per byte\n";
        if (!keep.isEmpty() && !done.isEmpty() && QDir().mkpath(keep))
            testfiles::write(QDir(keep).filePath(QStringLiteral("slowest-%1.sqlite3").arg(pageSize)), slowest);
        out.flush();
    }
    return failures ? 1 : 0;
}
