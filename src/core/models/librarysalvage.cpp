#include "librarysalvage.h"

#include "librarydatabase.h"

#include <QDebug>
#include <QFile>
#include <QSet>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QStringList>
#include <QVariant>

#include <limits>
#include <optional>

namespace {

const char* const kSourceConnection = "pl_library_salvage_source";
const char* const kTargetConnection = "pl_library_salvage_target";
const qint64 kFirstRowid = std::numeric_limits<qint64>::min();
const qint64 kLastRowid = std::numeric_limits<qint64>::max();

// Opens a private connection; the caller closes it with closeConnection() once no query is alive.
QSqlDatabase openConnection(const char* name, const QString& path, bool readOnly)
{
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QLatin1String(name));
    db.setDatabaseName(path);
    if (readOnly)
        db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY"));
    if (!db.open())
        qCritical() << "Cannot open" << path << "Error:" << db.lastError().text();
    return db;
}

void closeConnection(const char* name)
{
    {
        QSqlDatabase db = QSqlDatabase::database(QLatin1String(name), false);
        db.close();
    }
    QSqlDatabase::removeDatabase(QLatin1String(name));
}

// Column names in table order; empty when the table cannot be read (a damaged schema, no database).
QStringList columnsOf(const QSqlDatabase& db, const QString& table)
{
    QSqlQuery info(db);
    QStringList columns;
    if (!info.exec(QStringLiteral("PRAGMA table_info(%1)").arg(table))) {
        qWarning() << "Cannot read the columns of" << table << "Error:" << info.lastError().text();
        return columns;
    }
    while (info.next())
        columns.append(info.value(1).toString());
    return columns;
}

// A row as the table's read hands it out: its rowid and the columns that follow it.
struct Row {
    qint64 rowid = 0;
    QVariantList values;
};

Row rowOf(const QSqlQuery& query)
{
    Row row;
    row.rowid = query.value(0).toLongLong();
    for (int i = 1; i < query.record().count(); ++i)
        row.values.append(query.value(i));
    return row;
}

// Whether the table's own search for the row's rowid finds that row (lookup: the table's read of
// one rowid, bound to :rowid). While SQLite walks a leaf it does not check that the cells it reads
// belong there: a damaged cell pointer array hands out, without an error, cells made of whatever
// bytes the pointers lead to, whose rowids lead the search to no row or to another one.
bool isTableRow(QSqlQuery& lookup, const Row& row)
{
    lookup.bindValue(QStringLiteral(":rowid"), row.rowid);
    bool same = lookup.exec() && lookup.next();
    for (int i = 0; same && i < row.values.size(); ++i)
        same = lookup.value(i + 1) == row.values.at(i);
    lookup.finish();
    return same;
}

// Whether the first row from that rowid on reads whole and is one of the table's, with the row
// after it not repeating its rowid (select: the table's read with a limit of two), and its rowid
// (none: the end of the table). The seek lands on the page that holds the rowid, or the next one,
// so it fails while the rowid belongs to a damaged page.
bool readsFrom(
    const QSqlDatabase& db, const QString& select, QSqlQuery& lookup, qint64 rowid, std::optional<qint64>* first)
{
    QSqlQuery probe(db);
    probe.setForwardOnly(true);
    probe.prepare(select);
    probe.bindValue(QStringLiteral(":from"), rowid);
    if (!probe.exec())
        return false;
    if (!probe.next()) {
        *first = std::nullopt;
        return !probe.lastError().isValid();
    }
    const Row row = rowOf(probe);
    *first = row.rowid;
    const bool repeated = probe.next() && probe.value(0).toLongLong() == row.rowid;
    return row.rowid >= rowid && !repeated && isTableRow(lookup, row);
}

// The rowid of the first row from `from` on from which the table reads again; none when nothing
// beyond reads. Steps forward in growing strides until a read succeeds, then halves the gap.
std::optional<qint64> nextReadable(const QSqlDatabase& db, const QString& select, QSqlQuery& lookup, qint64 from)
{
    std::optional<qint64> next;
    if (readsFrom(db, select, lookup, from, &next))
        return next;
    // Unsigned arithmetic: the distances span the whole rowid range.
    quint64 stride = 1;
    qint64 failing = from;
    qint64 reading = failing;
    for (;;) {
        const quint64 room = quint64(kLastRowid) - quint64(failing);
        if (room == 0)
            return std::nullopt;
        reading = qint64(quint64(failing) + qMin(stride, room));
        if (readsFrom(db, select, lookup, reading, &next))
            break;
        failing = reading;
        if (stride < (quint64(1) << 62))
            stride *= 2;
    }
    while (quint64(reading) - quint64(failing) > 1) {
        const qint64 middle = qint64(quint64(failing) + (quint64(reading) - quint64(failing)) / 2);
        std::optional<qint64> first;
        if (readsFrom(db, select, lookup, middle, &first)) {
            reading = middle;
            next = first;
        } else {
            failing = middle;
        }
    }
    return next;
}

// A column whose value must be a key already carried from another table.
struct Reference {
    QString column;
    const QSet<qint64>* keys;
};

// Copies the rows of the table that read, with every column both files have, into the target.
// A row that refers to a key not carried is left out. The rowids carried go to carried.
void copyTable(const QSqlDatabase& source, const QSqlDatabase& target, const QString& table,
    const QList<Reference>& references, QSet<qint64>* carried)
{
    const QStringList sourceColumns = columnsOf(source, table);
    QStringList columns;
    for (const QString& column : columnsOf(target, table)) {
        if (sourceColumns.contains(column))
            columns.append(column);
    }
    if (columns.isEmpty()) {
        qWarning() << "Nothing of the table" << table << "can be read";
        return;
    }
    QList<QPair<int, const QSet<qint64>*>> checks;
    for (const Reference& reference : references) {
        const int at = columns.indexOf(reference.column);
        if (at >= 0)
            checks.append({ at, reference.keys });
    }

    QSqlQuery insert(target);
    insert.prepare(
        QStringLiteral("INSERT INTO %1 (%2) VALUES (%3)")
            .arg(table, columns.join(QLatin1Char(',')), QStringLiteral(",?").repeated(columns.size()).mid(1)));
    int skipped = 0;
    const auto carry = [&](const Row& row) {
        for (const auto& check : checks) {
            if (!check.second->contains(row.values.at(check.first).toLongLong()))
                return;
        }
        for (int i = 0; i < columns.size(); ++i)
            insert.bindValue(i, row.values.at(i));
        if (insert.exec())
            carried->insert(row.rowid);
        else if (++skipped <= 3)
            qWarning() << "Cannot carry row" << row.rowid << "of" << table << insert.lastError().text();
    };
    const QString read = QStringLiteral("SELECT rowid, %1 FROM %2 NOT INDEXED WHERE rowid ")
                             .arg(columns.join(QLatin1Char(',')), table);
    const QString select = read + QStringLiteral(">= :from ORDER BY rowid");
    QSqlQuery lookup(source);
    lookup.setForwardOnly(true);
    lookup.prepare(read + QStringLiteral("= :rowid"));
    qint64 from = kFirstRowid; // after the last row carried
    for (;;) {
        const qint64 start = from;
        QSqlQuery rows(source);
        rows.setForwardOnly(true);
        rows.prepare(select);
        rows.bindValue(QStringLiteral(":from"), from);
        // Carried once the row after it does not repeat its rowid: a damaged pointer array hands
        // out one cell again and again, and a cell that does not belong to the table can still
        // lie in the range of rowids whose search leads to its page.
        std::optional<Row> pending;
        QString damage;
        bool atEnd = false;
        if (rows.exec()) {
            while (rows.next()) {
                const Row row = rowOf(rows);
                if (pending && row.rowid == pending->rowid) {
                    damage = QStringLiteral("rowid %1 read twice").arg(row.rowid);
                    pending.reset();
                    break;
                }
                if (row.rowid < (pending ? pending->rowid : from) || !isTableRow(lookup, row)) {
                    damage = QStringLiteral("rowid %1 read out of place").arg(row.rowid);
                    break;
                }
                if (pending) {
                    carry(*pending);
                    from = pending->rowid + 1;
                }
                pending = row;
                if (row.rowid == kLastRowid) {
                    atEnd = true;
                    break;
                }
            }
        }
        if (pending) {
            carry(*pending);
            atEnd = atEnd || pending->rowid == kLastRowid;
            if (!atEnd)
                from = pending->rowid + 1;
        }
        if (atEnd || (damage.isEmpty() && !rows.lastError().isValid()))
            break;
        const QString error = damage.isEmpty() ? rows.lastError().text() : damage;
        const std::optional<qint64> next = nextReadable(source, select + QStringLiteral(" LIMIT 2"), lookup, from);
        qWarning().noquote() << QStringLiteral("The rows of %1 %2 %3 are on damaged pages and lost: %4")
                                    .arg(table,
                                        from == kFirstRowid ? QStringLiteral("from the first")
                                                            : QStringLiteral("from rowid %1").arg(from),
                                        next ? QStringLiteral("below rowid %1").arg(*next) : QStringLiteral("on"),
                                        error);
        // A read that carried nothing and resumes where it began would begin again for ever.
        if (!next || *next == start)
            break;
        from = *next;
    }
    qInfo() << "Rows of" << table << "carried from the damaged library:" << carried->size();
}

bool copyAll(const QSqlDatabase& source, QSqlDatabase& target, LibrarySalvage::Result* result)
{
    if (!target.transaction()) {
        qCritical() << "Cannot begin the new library:" << target.lastError().text();
        return false;
    }
    QSet<qint64> folders;
    QSet<qint64> books;
    QSet<qint64> others;
    copyTable(source, target, QStringLiteral("folders"), {}, &folders);
    copyTable(source, target, QStringLiteral("books"), {}, &books);
    copyTable(source, target, QStringLiteral("book_folder_binder"),
        { { QStringLiteral("book_id"), &books }, { QStringLiteral("folder_id"), &folders } }, &others);
    others.clear();
    copyTable(source, target, QStringLiteral("book_metadata"), { { QStringLiteral("book_id"), &books } }, &others);
    if (!target.commit()) {
        qCritical() << "Cannot store the rows carried from the damaged library:" << target.lastError().text();
        target.rollback();
        return false;
    }
    result->books = books.size();
    return true;
}

} // namespace

LibrarySalvage::Result LibrarySalvage::rebuild(const QString& source, const QString& target)
{
    Result result;
    if (QFile::exists(target) && !QFile::remove(target)) {
        qCritical() << "Cannot replace" << target;
        return result;
    }
    {
        const QSqlDatabase from = openConnection(kSourceConnection, source, true);
        QSqlDatabase to = openConnection(kTargetConnection, target, false);
        if (from.isOpen() && to.isOpen() && LibraryDatabase::createOrUpgrade(QLatin1String(kTargetConnection)))
            result.stored = copyAll(from, to, &result);
    }
    closeConnection(kSourceConnection);
    closeConnection(kTargetConnection);
    return result;
}

int LibrarySalvage::bookCount(const QString& path)
{
    int count = -1;
    {
        const QSqlDatabase db = openConnection(kSourceConnection, path, true);
        QSqlQuery query(db);
        if (db.isOpen() && query.exec(QStringLiteral("select count(*) from books")) && query.next())
            count = query.value(0).toInt();
    }
    closeConnection(kSourceConnection);
    return count;
}
