#pragma once

#include "testfiles.h"

#include <QByteArray>
#include <QFile>
#include <QList>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QString>
#include <QStringList>
#include <QtDebug>

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
    QByteArray key;
    for (quint32 rest = rowid; rest || key.isEmpty(); rest >>= 7)
        key.prepend(char((rest & 0x7f) | (key.isEmpty() ? 0 : 0x80)));
    const QByteArray cell = QByteArray(1, '\0') + key; // payload size 0, then the rowid
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

// A leaf in the middle of a table whose root is an interior page: its page number and the rowids
// it holds; 0 when the root is no interior page.
inline int middleLeaf(const QString& path, int root, QList<qint64>* rowids)
{
    const QByteArray file = testfiles::read(path);
    const qint64 pageSize = pageSizeOf(file);
    const auto page = [&](int number) { return file.mid(int((number - 1) * pageSize), int(pageSize)); };
    const QByteArray interior = page(root);
    if (interior.at(0) != 0x05) // an interior page of a table
        return 0;
    const int cell = int(bigEndian(interior, 12 + 2 * (bigEndian(interior, 3, 2) / 2), 2));
    const int leaf = int(bigEndian(interior, cell, 4));
    const QByteArray leafPage = page(leaf);
    if (leafPage.at(0) != 0x0d) // a leaf page of a table
        return 0;
    for (quint32 i = 0; i < bigEndian(leafPage, 3, 2); ++i) {
        int at = int(bigEndian(leafPage, 8 + 2 * i, 2));
        varint(leafPage, &at); // the size of the row
        rowids->append(varint(leafPage, &at));
    }
    return leaf;
}

} // namespace sqlitepages
