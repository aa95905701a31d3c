#include "librarysalvage.h"

#include "librarydatabase.h"

#include <QDebug>
#include <QFile>
#include <QSet>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
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

// Whether the first row from that rowid on reads whole (select: the table's read with a limit of
// one), and its rowid (none: the end of the table). The seek lands on the page that holds the
// rowid, or the next one, so it fails while the rowid belongs to a damaged page.
bool readsFrom(const QSqlDatabase& db, const QString& select, qint64 rowid, std::optional<qint64>* first)
{
    QSqlQuery probe(db);
    probe.setForwardOnly(true);
    probe.prepare(select);
    probe.bindValue(QStringLiteral(":from"), rowid);
    if (!probe.exec())
        return false;
    *first = probe.next() ? std::optional<qint64>(probe.value(0).toLongLong()) : std::nullopt;
    return !probe.lastError().isValid();
}

// The rowid of the first row above failing from which the table reads again; none when nothing
// beyond reads. Steps forward in growing strides until a read succeeds, then halves the gap.
std::optional<qint64> nextReadable(const QSqlDatabase& db, const QString& select, qint64 failing)
{
    std::optional<qint64> next;
    // Unsigned arithmetic: the distances span the whole rowid range.
    quint64 stride = 1;
    qint64 reading = failing;
    for (;;) {
        const quint64 room = quint64(kLastRowid) - quint64(failing);
        if (room == 0)
            return std::nullopt;
        reading = qint64(quint64(failing) + qMin(stride, room));
        if (readsFrom(db, select, reading, &next))
            break;
        failing = reading;
        if (stride < (quint64(1) << 62))
            stride *= 2;
    }
    while (quint64(reading) - quint64(failing) > 1) {
        const qint64 middle = qint64(quint64(failing) + (quint64(reading) - quint64(failing)) / 2);
        std::optional<qint64> first;
        if (readsFrom(db, select, middle, &first)) {
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
    const QString select = QStringLiteral("SELECT rowid, %1 FROM %2 NOT INDEXED WHERE rowid >= :from ORDER BY rowid")
                               .arg(columns.join(QLatin1Char(',')), table);
    int skipped = 0;
    qint64 from = kFirstRowid;
    for (;;) {
        QSqlQuery rows(source);
        rows.setForwardOnly(true);
        rows.prepare(select);
        rows.bindValue(QStringLiteral(":from"), from);
        bool atEnd = false;
        if (rows.exec()) {
            while (rows.next()) {
                const qint64 rowid = rows.value(0).toLongLong();
                // A damaged page may hand out rowids out of order; the reading never goes back.
                if (rowid < from)
                    continue;
                bool keep = true;
                for (const auto& check : checks)
                    keep = keep && check.second->contains(rows.value(check.first + 1).toLongLong());
                if (keep) {
                    for (int i = 0; i < columns.size(); ++i)
                        insert.bindValue(i, rows.value(i + 1));
                    if (insert.exec())
                        carried->insert(rowid);
                    else if (++skipped <= 3)
                        qWarning() << "Cannot carry row" << rowid << "of" << table << insert.lastError().text();
                }
                if (rowid == kLastRowid) {
                    atEnd = true;
                    break;
                }
                from = rowid + 1;
            }
        }
        if (atEnd || !rows.lastError().isValid())
            break;
        const QString error = rows.lastError().text();
        const std::optional<qint64> next = nextReadable(source, select + QStringLiteral(" LIMIT 1"), from);
        qWarning().noquote() << QStringLiteral("The rows of %1 %2 %3 are on damaged pages and lost: %4")
                                    .arg(table,
                                        from == kFirstRowid ? QStringLiteral("from the first")
                                                            : QStringLiteral("from rowid %1").arg(from),
                                        next ? QStringLiteral("below rowid %1").arg(*next) : QStringLiteral("on"),
                                        error);
        if (!next)
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
