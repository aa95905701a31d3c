#pragma once

#include "testfiles.h"

#include <QByteArray>
#include <QFile>
#include <QList>
#include <QMap>
#include <QPair>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QString>
#include <QStringList>
#include <QtDebug>

#include <functional>

#include <fcntl.h>
#include <sys/stat.h>

// SQLite files as tests make them: written through a private connection, and their pages read and
// damaged the way a fault of the disk damages them. Users link Qt5::Sql.
namespace sqlitepages {

// Runs the statements on the file (made when missing) through a connection of its own, which no
// program holds open; false when one fails.
inline bool execute(const QString& path, const QStringList& statements)
{
    const QString name = QStringLiteral("sqlitepages-writer");
    bool ok = true;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(path);
        ok = db.open();
        for (const QString& sql : statements) {
            if (!ok)
                break;
            QSqlQuery query(db);
            ok = query.exec(sql);
            if (!ok)
                qWarning() << sql << query.lastError().text();
        }
        db.close();
    }
    QSqlDatabase::removeDatabase(name);
    return ok;
}

inline quint32 bigEndian(const QByteArray& bytes, qint64 at, int size)
{
    quint32 value = 0;
    for (int i = 0; i < size; ++i)
        value = value << 8 | quint8(bytes.at(int(at) + i));
    return value;
}

// The page size the file's header gives.
inline qint64 pageSizeOf(const QByteArray& file)
{
    const quint32 size = bigEndian(file, 16, 2);
    return size == 1 ? 65536 : size;
}

// Overwrites part of a page of the file (1-based; page 1 from its first byte, the header) and,
// when asked, gives the file back its modification time, as a fault of the disk would leave it.
inline bool damagePage(const QString& path, int page, bool keepTime)
{
    struct stat before;
    if (::stat(QFile::encodeName(path).constData(), &before) != 0)
        return false;
    QFile file(path);
    if (!file.open(QIODevice::ReadWrite))
        return false;
    const qint64 offset = page == 1 ? 0 : (page - 1) * pageSizeOf(file.read(100)) + 8;
    if (!file.seek(offset) || file.write(QByteArray(2000, '\xff')) != 2000)
        return false;
    file.close();
    if (!keepTime)
        return true;
    const struct timespec times[2] = { before.st_atim, before.st_mtim };
    return ::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times, 0) == 0;
}

// A SQLite variable-length integer (of up to 56 bits).
inline QByteArray varintBytes(quint64 value)
{
    QByteArray bytes;
    for (quint64 rest = value; rest || bytes.isEmpty(); rest >>= 7)
        bytes.prepend(char((rest & 0x7f) | (bytes.isEmpty() ? 0 : 0x80)));
    return bytes;
}

// Points every cell of a table leaf (1-based page number) at one cell made in the page's free
// space, as a cell pointer array that a fault of the disk rewrote leaves it: SQLite then reads
// each cell, without an error, as a row of no columns with that rowid. False when the page is no
// table leaf or has no room for the cell.
inline bool misreadLeaf(const QString& path, int page, quint32 rowid)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadWrite))
        return false;
    const qint64 pageSize = pageSizeOf(file.read(100));
    const qint64 start = (page - 1) * pageSize;
    if (!file.seek(start))
        return false;
    const QByteArray leaf = file.read(pageSize);
    if (leaf.size() < 8 || leaf.at(0) != 0x0d)
        return false;
    const quint32 cells = bigEndian(leaf, 3, 2);
    const quint32 made = 8 + 2 * cells; // the free space begins after the pointer array
    const QByteArray cell = QByteArray(1, '\0') + varintBytes(rowid); // payload size 0, then the rowid
    if (made + quint32(cell.size()) > bigEndian(leaf, 5, 2))
        return false;
    QByteArray pointers;
    for (quint32 i = 0; i < cells; ++i)
        pointers.append(char(made >> 8)).append(char(made & 0xff));
    return file.seek(start + 8) && file.write(pointers + cell) == pointers.size() + cell.size();
}

// A SQLite variable-length integer at the position, which moves past it.
inline qint64 varint(const QByteArray& page, int* at)
{
    quint64 value = 0;
    for (int i = 0; i < 9; ++i) {
        const quint8 byte = quint8(page.at((*at)++));
        if (i == 8)
            return qint64(value << 8 | byte);
        value = value << 7 | (byte & 0x7f);
        if (!(byte & 0x80))
            break;
    }
    return qint64(value);
}

// A page of a table's b-tree in a sound file, and how deep it lies (the root at 0).
struct TreePage {
    int page = 0;
    int depth = 0;
    bool leaf = false;
};

inline QByteArray pageOf(const QByteArray& file, int number)
{
    const qint64 size = pageSizeOf(file);
    return file.mid(int((number - 1) * size), int(size));
}

// The pages of the table b-tree with that root, in rowid order, each interior page before its
// children; the file must be sound.
inline QList<TreePage> treePages(const QByteArray& file, int root)
{
    QList<TreePage> pages;
    const std::function<void(int, int)> visit = [&](int number, int depth) {
        const QByteArray page = pageOf(file, number);
        const int header = number == 1 ? 100 : 0;
        const bool leaf = page.at(header) == 0x0d;
        pages.append({ number, depth, leaf });
        if (leaf || page.at(header) != 0x05)
            return;
        for (quint32 i = 0; i < bigEndian(page, header + 3, 2); ++i)
            visit(int(bigEndian(page, bigEndian(page, header + 12 + 2 * i, 2), 4)), depth + 1);
        visit(int(bigEndian(page, header + 8, 4)), depth + 1);
    };
    visit(root, 0);
    return pages;
}

// The bytes of the file (from, to) a row of a sound file takes: its cell on its leaf, and the part
// of each overflow page its record continues on.
struct RowPlace {
    int leaf = 0;
    QList<QPair<qint64, qint64>> bytes;
    QList<int> overflow;
};

inline QMap<qint64, RowPlace> rowPlaces(const QByteArray& file, int root)
{
    QMap<qint64, RowPlace> places;
    const qint64 size = pageSizeOf(file);
    const qint64 usable = size - quint8(file.at(20));
    for (const TreePage& tree : treePages(file, root)) {
        if (!tree.leaf)
            continue;
        const QByteArray page = pageOf(file, tree.page);
        const qint64 start = (tree.page - 1) * size;
        for (quint32 i = 0; i < bigEndian(page, 3, 2); ++i) {
            const int cell = int(bigEndian(page, 8 + 2 * i, 2));
            int at = cell;
            const qint64 payload = varint(page, &at);
            const qint64 rowid = varint(page, &at);
            const qint64 maxLocal = usable - 35;
            const qint64 minLocal = (usable - 12) * 32 / 255 - 23;
            const qint64 surplus = minLocal + (payload - minLocal) % (usable - 4);
            const qint64 local = payload <= maxLocal ? payload : surplus <= maxLocal ? surplus : minLocal;
            RowPlace place;
            place.leaf = tree.page;
            const qint64 end = at + local + (local < payload ? 4 : 0);
            place.bytes.append({ start + cell, start + end });
            qint64 left = payload - local;
            quint32 next = local < payload ? bigEndian(page, at + local, 4) : 0;
            while (left > 0 && next) {
                const qint64 used = qMin(usable - 4, left);
                place.overflow.append(int(next));
                place.bytes.append({ (next - 1) * size, (next - 1) * size + 4 + used });
                left -= used;
                next = bigEndian(file, (next - 1) * size, 4);
            }
            places.insert(rowid, place);
        }
    }
    return places;
}

// Bytes for the cell content area of a table leaf of the file, where they begin: the start of a
// cell as long as the record's at place, with a record header of one text value that agrees with
// its size, and where the record goes on over overflow pages its first one where the cell ends,
// once every few bytes. Each is a false cell, which leads to the record's overflow chain if it has
// one, and reads as text that is no UTF-8.
inline QPair<qint64, QByteArray> falseCells(const QByteArray& file, const RowPlace& record, int leaf)
{
    const qint64 pageSize = pageSizeOf(file);
    const qint64 start = (record.leaf - 1) * pageSize;
    const QByteArray page = pageOf(file, record.leaf);
    int at = int(record.bytes.first().first - start);
    const qint64 size = varint(page, &at);
    varint(page, &at);
    const bool overflows = !record.overflow.isEmpty();
    const int local = int(record.bytes.first().second - start) - (overflows ? 4 : 0) - at;
    QByteArray header;
    for (int headerSize = 2; header.isEmpty(); ++headerSize) {
        header = varintBytes(quint64(headerSize)) + varintBytes(quint64(2 * (size - headerSize) + 13));
        if (header.size() != headerSize)
            header.clear();
    }
    const QByteArray head = varintBytes(quint64(size)) + '\x01' + header;
    const int pointer = int(varintBytes(quint64(size)).size()) + 1 + local;
    int period = head.size() + (overflows ? 4 : 1);
    while (overflows && (pointer % period < head.size() || pointer % period > period - 4))
        ++period;
    QByteArray cell = head + QByteArray(period - head.size(), '\0');
    for (int i = 0; overflows && i < 4; ++i)
        cell[pointer % period + i] = char(record.overflow.first() >> (24 - 8 * i));
    const int content = int(bigEndian(pageOf(file, leaf), 5, 2));
    return { (leaf - 1) * pageSize + content, cell.repeated(int(pageSize - content) / period) };
}

// The pages on the free list of a sound file.
inline QList<int> freePages(const QByteArray& file)
{
    QList<int> pages;
    for (int trunk = int(bigEndian(file, 32, 4)); trunk > 1;) {
        const QByteArray page = pageOf(file, trunk);
        pages << trunk;
        for (quint32 i = 0; i < bigEndian(page, 4, 4); ++i)
            pages << int(bigEndian(page, 8 + 4 * i, 4));
        trunk = int(bigEndian(page, 0, 4));
    }
    return pages;
}

// Whether a row's bytes meet one of the damaged stretches (from, to) or lie beyond the file's length.
inline bool touched(const RowPlace& place, const QList<QPair<qint64, qint64>>& damaged, qint64 length)
{
    for (const auto& bytes : place.bytes) {
        if (bytes.second > length)
            return true;
        for (const auto& damage : damaged) {
            if (bytes.first < damage.second && damage.first < bytes.second)
                return true;
        }
    }
    return false;
}

// Writes the bytes over the file at the offset.
inline bool overwrite(const QString& path, qint64 offset, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::ReadWrite) && file.seek(offset) && file.write(bytes) == bytes.size();
}

// Puts the cell pointers of a table leaf in reverse order: every cell stays intact, but SQLite,
// which relies on their order, no longer finds them.
inline bool reversePointers(const QString& path, int page)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadWrite))
        return false;
    const qint64 start = (page - 1) * pageSizeOf(file.read(100));
    if (!file.seek(start))
        return false;
    const QByteArray header = file.read(8);
    if (header.size() < 8 || header.at(0) != 0x0d)
        return false;
    const int cells = int(bigEndian(header, 3, 2));
    const QByteArray pointers = file.read(2 * cells);
    QByteArray reversed;
    for (int i = cells - 1; i >= 0; --i)
        reversed.append(pointers.mid(2 * i, 2));
    return cells > 1 && file.seek(start + 8) && file.write(reversed) == reversed.size();
}

// Leaves the file as a writer killed in the middle of a transaction leaves it: some of the
// statements' changes written into the file, and beside it the journal that undoes them. False
// when nothing of them reached the file.
inline bool leaveHotJournal(const QString& path, const QStringList& statements)
{
    const QByteArray committed = testfiles::read(path);
    const QString name = QStringLiteral("sqlitepages-journal");
    const QString hot = path + QStringLiteral(".hot");
    bool ok = true;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(path);
        ok = db.open();
        QSqlQuery query(db);
        // A cache of a few pages spills the changes into the file before the commit.
        for (const QString& sql : QStringList { "PRAGMA cache_size = 1", "BEGIN" } + statements)
            ok = ok && query.exec(sql);
        ok = ok && QFile::copy(path, hot) && QFile::copy(path + QStringLiteral("-journal"), hot + "-journal");
        ok = query.exec(QStringLiteral("ROLLBACK")) && ok;
        db.close();
    }
    QSqlDatabase::removeDatabase(name);
    return ok && testfiles::read(hot) != committed && QFile::remove(path) && QFile::rename(hot, path)
        && QFile::rename(hot + "-journal", path + QStringLiteral("-journal"));
}

} // namespace sqlitepages
