#include "librarysalvage.h"

#include "librarydatabase.h"
#include "sqlitepagereader.h"

#include <QCoreApplication>
#include <QDebug>
#include <QFile>
#include <QHash>
#include <QMap>
#include <QSet>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QStringList>
#include <QVariant>

#include <algorithm>
#include <functional>
#include <limits>

namespace {

using Row = SqlitePageReader::Row;

const char* const kSourceConnection = "pl_library_salvage_source";
const char* const kTargetConnection = "pl_library_salvage_target";
const qint64 kFirstRowid = std::numeric_limits<qint64>::min();
const qint64 kLastRowid = std::numeric_limits<qint64>::max();
const int kMaxDepth = 20; // SQLite's deepest b-tree

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

// What a column may hold, from its declared type as SQLite reads affinities.
enum class Kind { Any, Number, Text };

struct Column {
    QString name;
    Kind kind = Kind::Any;
    bool notNull = false;
};

struct Table {
    QString name;
    quint32 root = 0; // 0: not known
    // A program table that the file's whole schema does not name: unless leaves of it are found off
    // every tree (damage spoilt its name there), the file's version never had it.
    bool unnamed = false;
    QVector<Column> columns;
    int rowidColumn = -1; // the INTEGER PRIMARY KEY, stored as the rowid and as null in the record
};

QString unquoted(QString name)
{
    name = name.trimmed();
    if (name.size() >= 2
        && ((name.startsWith(QLatin1Char('"')) && name.endsWith(QLatin1Char('"')))
            || (name.startsWith(QLatin1Char('`')) && name.endsWith(QLatin1Char('`')))
            || (name.startsWith(QLatin1Char('[')) && name.endsWith(QLatin1Char(']')))))
        return name.mid(1, name.size() - 2);
    return name;
}

// The definitions between the statement's outer parentheses, split at the commas outside inner
// parentheses and quotes; the text after them in tail.
QStringList definitions(const QString& sql, QString* tail)
{
    QStringList parts;
    const int open = sql.indexOf(QLatin1Char('('));
    if (open < 0)
        return parts;
    int depth = 0;
    QChar quote;
    int start = open + 1;
    for (int i = open + 1; i < sql.size(); ++i) {
        const QChar c = sql.at(i);
        if (!quote.isNull()) {
            if (c == quote)
                quote = QChar();
        } else if (c == QLatin1Char('\'') || c == QLatin1Char('"') || c == QLatin1Char('`')) {
            quote = c;
        } else if (c == QLatin1Char('[')) {
            quote = QLatin1Char(']');
        } else if (c == QLatin1Char('(')) {
            ++depth;
        } else if (c == QLatin1Char(')') && depth > 0) {
            --depth;
        } else if (c == QLatin1Char(')') || (c == QLatin1Char(',') && depth == 0)) {
            parts.append(sql.mid(start, i - start).trimmed());
            start = i + 1;
            if (c == QLatin1Char(')')) {
                *tail = sql.mid(i + 1);
                return parts;
            }
        }
    }
    return QStringList();
}

Kind kindOf(const QString& type)
{
    const QString upper = type.toUpper();
    if (upper.contains(QLatin1String("INT")))
        return Kind::Number;
    for (const char* text : { "CHAR", "CLOB", "TEXT" }) {
        if (upper.contains(QLatin1String(text)))
            return Kind::Text;
    }
    return upper.isEmpty() || upper.contains(QLatin1String("BLOB")) ? Kind::Any : Kind::Number;
}

// The columns of a CREATE TABLE statement; false for what has no rowid or cannot be read.
bool parseTable(const QString& sql, Table* table)
{
    QString tail;
    const QStringList parts = definitions(sql, &tail);
    if (parts.isEmpty() || tail.contains(QLatin1String("WITHOUT"), Qt::CaseInsensitive))
        return false;
    static const QStringList constraints { "CONSTRAINT", "PRIMARY", "UNIQUE", "CHECK", "FOREIGN" };
    static const QStringList typeEnds { "CONSTRAINT", "PRIMARY", "NOT", "NULL", "UNIQUE", "CHECK", "DEFAULT", "COLLATE",
        "REFERENCES", "GENERATED", "AS" };
    QString key; // the column of a primary key of one column
    bool keyDescending = false;
    QSet<QString> integers; // columns declared "INTEGER"
    for (const QString& part : parts) {
        const QStringList words = part.simplified().split(QLatin1Char(' '));
        const QString first = words.first().section(QLatin1Char('('), 0, 0).toUpper();
        if (constraints.contains(first)) {
            QString ignored;
            const QStringList columns = definitions(part, &ignored);
            if (first == QLatin1String("PRIMARY") && columns.size() == 1)
                key = unquoted(columns.first().section(QLatin1Char(' '), 0, 0)).toLower();
            continue;
        }
        Column column;
        column.name = unquoted(words.first());
        QStringList type;
        int i = 1;
        for (; i < words.size() && !typeEnds.contains(words.at(i).toUpper()); ++i)
            type.append(words.at(i));
        column.kind = kindOf(type.join(QLatin1Char(' ')));
        if (type.join(QLatin1Char(' ')).compare(QLatin1String("INTEGER"), Qt::CaseInsensitive) == 0)
            integers.insert(column.name.toLower());
        const QString rest = words.mid(i).join(QLatin1Char(' ')).toUpper();
        column.notNull = rest.contains(QLatin1String("NOT NULL"));
        if (rest.contains(QLatin1String("PRIMARY KEY"))) {
            key = column.name.toLower();
            keyDescending = rest.contains(QLatin1String("PRIMARY KEY DESC"));
        }
        table->columns.append(column);
    }
    // A key of one column declared INTEGER is the rowid itself, unless declared descending on the
    // column.
    for (int c = 0; c < table->columns.size() && !keyDescending; ++c) {
        if (table->columns.at(c).name.toLower() == key && integers.contains(key))
            table->rowidColumn = c;
    }
    return !table->columns.isEmpty();
}

// How well a row fits a table: 2 with all its columns, 1 with fewer (columns added to the table
// later are missing from rows written before), 0 not at all.
int fit(const Row& row, const Table& table)
{
    const int count = row.values.size();
    if (count == 0 || count > table.columns.size())
        return 0;
    for (int i = 0; i < count; ++i) {
        const QVariant& value = row.values.at(i);
        const Column& column = table.columns.at(i);
        if (i == table.rowidColumn) {
            if (!value.isNull())
                return 0;
            continue;
        }
        if (value.isNull()) {
            if (column.notNull)
                return 0;
            continue;
        }
        const int type = value.userType();
        if (column.kind == Kind::Number && type != QMetaType::LongLong && type != QMetaType::Double)
            return 0;
        if (column.kind == Kind::Text && type != QMetaType::QString)
            return 0;
    }
    return count == table.columns.size() ? 2 : 1;
}

// A page a pointer leads to, the rowids it may hold, and how deep it lies below the pointer's tree.
struct LeafRef {
    quint32 page = 0;
    qint64 lo = kFirstRowid;
    qint64 hi = kLastRowid;
    int depth = 0;
};

struct Tree {
    QVector<LeafRef> leaves; // in rowid order
    QVector<quint32> interior; // its sound interior pages
    // Pages that pointers of the tree lead to and that are no page of it: damaged, missing from
    // the file, met twice, or another table's.
    QVector<LeafRef> broken;
    bool underInterior = false; // its top is a sound interior page
    bool complete() const { return broken.isEmpty(); }
};

// Walks down from a page through sound interior pages, to the leaves. A page may be entered only
// while enter() says so, so a damaged pointer to a page walked already does not loop.
Tree walk(const SqlitePageReader& reader, quint32 root, const std::function<bool(quint32)>& enter)
{
    Tree tree;
    QVector<LeafRef> stack { { root, kFirstRowid, kLastRowid, 0 } };
    QVector<SqlitePageReader::Child> children;
    while (!stack.isEmpty()) {
        const LeafRef step = stack.takeLast();
        const SqlitePageReader::PageType type = reader.pageType(step.page);
        if (step.depth > kMaxDepth || step.page > reader.pageCount() || !enter(step.page)
            || (type == SqlitePageReader::TableInterior && !reader.children(step.page, step.lo, step.hi, &children))) {
            tree.broken.append(step);
        } else if (type == SqlitePageReader::TableInterior) {
            tree.interior.append(step.page);
            tree.underInterior = tree.underInterior || step.depth == 0;
            for (int i = children.size() - 1; i >= 0; --i)
                stack.append({ children.at(i).page, children.at(i).lo, children.at(i).hi, step.depth + 1 });
        } else if (type == SqlitePageReader::TableLeaf) {
            tree.leaves.append(step);
        } else {
            tree.broken.append(step);
        }
    }
    return tree;
}

// What the table sqlite_master says of the file's tables.
struct Schema {
    QVector<Table> tables; // those with a root and columns that read
    bool read = false; // some of its rows read
    bool whole = false; // every page and row of it read: it names every table the file has
    QSet<QString> names; // of every table it names, in lower case
};

Schema readSchema(const SqlitePageReader& reader, QVector<qint16>* owner)
{
    Schema schema;
    const Tree tree = walk(reader, 1, [owner](quint32 page) {
        if ((*owner)[int(page)] != 0)
            return false;
        (*owner)[int(page)] = -1;
        return true;
    });
    schema.whole = tree.complete();
    for (const LeafRef& leaf : tree.leaves) {
        const SqlitePageReader::Leaf read = reader.leaf(leaf.page, leaf.lo, leaf.hi);
        schema.whole = schema.whole && read.whole;
        for (const Row& row : read.rows) {
            if (row.values.size() != 5) {
                schema.whole = false;
                continue;
            }
            schema.read = true;
            Table table;
            table.name = row.values.at(1).toString();
            if (row.values.at(0).toString() != QLatin1String("table"))
                continue;
            schema.names.insert(table.name.toLower());
            const qint64 root = row.values.at(3).toLongLong();
            if (root < 2 || root > reader.pageLimit() || !parseTable(row.values.at(4).toString(), &table))
                continue;
            table.root = quint32(root);
            schema.tables.append(table);
        }
    }
    return schema;
}

// Inserts rows of one table into the new file, with every column both have; a row that refers to
// a key not carried is left out. Rows go in many to a statement, which costs SQLite far less than
// one statement each; a statement refused (one of its rows breaks a constraint) is tried again row
// by row, so only that row is lost.
class TableWriter {
public:
    struct Reference {
        QString column;
        const QSet<qint64>* keys;
    };

    // The rowids of the rows written go to keys, unless it is null.
    TableWriter(const QSqlDatabase& target, const Table& table, const QList<Reference>& references,
        QSet<qint64>* keys = nullptr)
        : m_table(table)
        , m_one(target)
        , m_many(target)
        , m_keys(keys)
    {
        QStringList names;
        QSqlQuery info(target);
        info.exec(QStringLiteral("PRAGMA table_info(%1)").arg(table.name));
        while (info.next()) {
            const QString name = info.value(1).toString();
            for (int c = 0; c < table.columns.size(); ++c) {
                if (table.columns.at(c).name.compare(name, Qt::CaseInsensitive) == 0) {
                    names.append(name);
                    m_sources.append(c);
                }
            }
        }
        for (const Reference& reference : references) {
            const int at = names.indexOf(reference.column);
            if (at >= 0)
                m_checks.append({ m_sources.at(at), reference.keys });
        }
        // Under the 999 values a statement of older SQLite versions may bind.
        m_rows = qMax(1, 900 / qMax(1, names.size()));
        const QString insert
            = QStringLiteral("INSERT INTO %1 (%2) VALUES ").arg(table.name, names.join(QLatin1Char(',')));
        const QString values = QStringLiteral("(%1)").arg(QStringLiteral(",?").repeated(names.size()).mid(1));
        m_ready = !names.isEmpty() && m_one.prepare(insert + values)
            && m_many.prepare(insert + (QLatin1Char(',') + values).repeated(m_rows).mid(1));
        if (!m_ready)
            qWarning() << "Cannot write the rows of" << table.name << m_many.lastError().text();
    }

    void write(const Row& row)
    {
        if (!m_ready)
            return;
        for (const auto& check : qAsConst(m_checks)) {
            if (!check.second->contains(value(row, check.first).toLongLong()))
                return;
        }
        m_pending.append(row.rowid);
        for (const int column : qAsConst(m_sources))
            m_values.append(value(row, column));
        if (m_pending.size() == m_rows)
            flush();
    }

    // Writes the rows still waiting; the number of rows written.
    int finish()
    {
        flush();
        return m_written;
    }

private:
    QVariant value(const Row& row, int column) const
    {
        if (column == m_table.rowidColumn)
            return row.rowid;
        return column < row.values.size() ? row.values.at(column) : QVariant();
    }

    void written(qint64 rowid)
    {
        ++m_written;
        if (m_keys)
            m_keys->insert(rowid);
    }

    void flush()
    {
        if (m_pending.size() == m_rows) {
            for (int i = 0; i < m_values.size(); ++i)
                m_many.bindValue(i, m_values.at(i));
            if (m_many.exec()) {
                for (const qint64 rowid : qAsConst(m_pending))
                    written(rowid);
                m_pending.clear();
                m_values.clear();
                return;
            }
        }
        const int columns = m_sources.size();
        for (int r = 0; r < m_pending.size(); ++r) {
            for (int i = 0; i < columns; ++i)
                m_one.bindValue(i, m_values.at(r * columns + i));
            if (m_one.exec())
                written(m_pending.at(r));
            else if (++m_failed <= 3)
                qWarning() << "Cannot carry row" << m_pending.at(r) << "of" << m_table.name << m_one.lastError().text();
        }
        m_pending.clear();
        m_values.clear();
    }

    const Table& m_table;
    QSqlQuery m_one;
    QSqlQuery m_many;
    QSet<qint64>* m_keys;
    QVector<int> m_sources; // the table's column for each bound value
    QList<QPair<int, const QSet<qint64>*>> m_checks;
    int m_rows = 1; // in one statement
    QVector<qint64> m_pending; // rowids of the rows waiting
    QVector<QVariant> m_values; // their values, row after row
    bool m_ready = false;
    int m_written = 0;
    int m_failed = 0;
};

// The program's tables in the order they are carried: a row is carried after those it refers to.
const QStringList& programTables()
{
    static const QStringList names { QStringLiteral("folders"), QStringLiteral("books"),
        QStringLiteral("book_folder_binder"), QStringLiteral("book_metadata") };
    return names;
}

// Finds the rows of the file's tables and carries those of the program's into the new file.
class Salvage {
public:
    Salvage(SqlitePageReader& reader, const LibrarySalvage::Progress& progress)
        : m_reader(reader)
        , m_progress(progress)
        , m_owner(int(reader.pageCount()) + 1, 0)
    {
    }

    bool run(QSqlDatabase& target, LibrarySalvage::Result* result);

private:
    // A leaf off every table's tree whose rows fit this table: the stray tree it came from, and
    // the rowids and record digests of its rows.
    struct Stray {
        LeafRef leaf;
        int tree = -1;
        QVector<QPair<qint64, quint64>> rows;
    };

    struct Found {
        Tree tree; // reached from the table's root
        bool rootSound = false;
        QVector<Stray> strays;
        QSet<qint64> disagreeing; // stray rowids whose copies differ
    };

    // What was read of a table.
    struct Count {
        int held = -1; // rows it held, where its pages tell; -1 unknown
        int read = 0; // rows that read and fit it
        bool lossSeen = false; // a page or cell of it did not read
    };

    void findTables();
    // Whether the rows of a leaf a pointer of the table's tree leads to are that table's, in the
    // rowids the pointer gives.
    bool belongs(int table, const LeafRef& leaf);
    void findStrays();
    // The pages of the file that may have held rows the salvage did not read: all but the pages
    // of a tree, free pages, index pages, overflow pages of records read and the placed strays.
    // Every leaf has been read by then, so the overflow pages are known.
    void findUnknownPages(const QSet<quint32>& placed);
    // Whether each pointer of the table's tree that is broken led to another table's page, or to
    // where an interior page was (its leaves are strays): then no leaf of it was lost there.
    bool brokenHoldNoLeaf(int table) const;
    // Whether every leaf of the table was found, though its tree is broken: every page the file
    // holds is known, and each broken pointer of the tree led to another table's page or where an
    // interior page was.
    bool everyLeafFound(int table) const;
    // Reads the rows of the table that are carried and hands each to write.
    void carry(int table, const std::function<void(const Row&)>& write);
    void advance(int units);
    int tableNamed(const QString& name) const;

    SqlitePageReader& m_reader;
    const LibrarySalvage::Progress& m_progress;
    QVector<qint16> m_owner; // of each page: the table's index + 1, -1 the schema, -2 a stray tree, 0 none
    QVector<Table> m_tables;
    QVector<Found> m_found;
    QSet<quint32> m_unknown; // pages that may have held rows of a table that were not read
    QHash<quint32, int> m_brokenOf; // a page some tree's pointer leads to wrongly: that table
    QVector<Count> m_counts;
    QVector<QString> m_summaries; // of what was read of each table, for the log
    int m_units = 1;
    int m_done = 0;
    int m_percent = -1;
};

int Salvage::tableNamed(const QString& name) const
{
    for (int i = 0; i < m_tables.size(); ++i) {
        if (m_tables.at(i).name.compare(name, Qt::CaseInsensitive) == 0)
            return i;
    }
    return -1;
}

void Salvage::advance(int units)
{
    m_done += units;
    // The share is told only as it grows: the number of leaves to read is known only once the
    // trees are sorted out.
    const int percent = int(qMin<qint64>(100, qint64(m_done) * 100 / qMax(1, m_units)));
    if (percent > m_percent && m_progress) {
        m_percent = percent;
        m_progress(percent);
    }
}

void Salvage::findTables()
{
    const Schema schema = readSchema(m_reader, &m_owner);
    m_tables = schema.tables;
    if (!schema.read)
        qWarning() << "The schema of the damaged library cannot be read: its tables are told by their columns";
    // A program table the schema does not name is still found by the shape of its rows.
    for (const QString& sql : LibraryDatabase::tableStatements()) {
        Table table;
        table.name = sql.section(QLatin1Char('('), 0, 0).simplified().section(QLatin1Char(' '), -1);
        if (tableNamed(table.name) < 0 && parseTable(sql, &table)) {
            table.unnamed = schema.whole && !schema.names.contains(table.name.toLower());
            m_tables.append(table);
        }
    }
    // A false cell costs the scan at most the header of a record of the widest table carried;
    // rows of wider tables are never carried.
    int widest = 5; // the schema's own rows
    for (const QString& name : programTables())
        widest = qMax(widest, int(m_tables.at(tableNamed(name)).columns.size()));
    m_reader.setColumnLimit(widest);
    m_found.resize(m_tables.size());
    int leaves = 0;
    for (int t = 0; t < m_tables.size(); ++t) {
        if (!m_tables.at(t).root) {
            m_found[t].tree.broken.append(LeafRef()); // page 0: where its root is, is not known
            continue;
        }
        // Each tree is walked on its own: a pointer that damage turned to a page of another tree
        // must not keep that page from its own.
        QSet<quint32> walked;
        m_found[t].tree = walk(m_reader, m_tables.at(t).root, [&walked](quint32 page) {
            if (walked.contains(page))
                return false;
            walked.insert(page);
            return true;
        });
        for (const quint32 page : qAsConst(m_found.at(t).tree.interior)) {
            if (m_owner.at(int(page)) == 0)
                m_owner[int(page)] = qint16(t + 1);
        }
        leaves += m_found.at(t).tree.leaves.size();
        const quint32 root = m_tables.at(t).root;
        QVector<SqlitePageReader::Child> children;
        m_found[t].rootSound = m_reader.pageType(root) == SqlitePageReader::TableLeaf
            || m_reader.children(root, kFirstRowid, kLastRowid, &children);
    }
    // Leaves are read to tell whose they are, those of the program's tables again to carry them;
    // strays add to that below.
    m_units = leaves;
    for (const QString& name : programTables()) {
        const int t = tableNamed(name);
        m_units += t < 0 ? 0 : m_found.at(t).tree.leaves.size();
    }
    for (int t = 0; t < m_tables.size(); ++t) {
        Tree& tree = m_found[t].tree;
        QVector<LeafRef> own;
        for (const LeafRef& leaf : qAsConst(tree.leaves)) {
            if (m_owner.at(int(leaf.page)) == 0 && belongs(t, leaf)) {
                m_owner[int(leaf.page)] = qint16(t + 1);
                own.append(leaf);
            } else {
                qWarning() << "A pointer of" << m_tables.at(t).name << "leads to page" << leaf.page
                           << ", which is not its own";
                tree.broken.append(leaf);
            }
            advance(1);
        }
        tree.leaves = own;
    }
    for (int t = 0; t < m_tables.size(); ++t) {
        for (const LeafRef& broken : qAsConst(m_found.at(t).tree.broken))
            m_brokenOf.insert(broken.page, t);
    }
}

bool Salvage::belongs(int table, const LeafRef& leaf)
{
    const SqlitePageReader::Leaf read = m_reader.leaf(leaf.page, kFirstRowid, kLastRowid);
    int fitting = 0;
    for (const Row& row : read.rows)
        fitting += fit(row, m_tables.at(table)) && row.rowid >= leaf.lo && row.rowid <= leaf.hi ? 1 : 0;
    // Damage may have spoilt some of its rows; most of them still fit.
    return 2 * fitting >= read.rows.size();
}

// Table pages that no table's tree reaches (their way in is damaged) and that are not free: the
// trees they still form among themselves are walked from their tops, and each leaf goes to the
// table whose columns most of its rows fit.
void Salvage::findStrays()
{
    const quint32 pages = m_reader.pageCount();
    const auto stray = [this](quint32 page) {
        return m_owner.at(int(page)) == 0 && !m_reader.isFree(page)
            && (m_reader.pageType(page) == SqlitePageReader::TableInterior
                || m_reader.pageType(page) == SqlitePageReader::TableLeaf);
    };
    QSet<quint32> below; // named by a sound stray interior page
    QVector<SqlitePageReader::Child> children;
    for (quint32 page = 2; page <= pages; ++page) {
        if (stray(page) && m_reader.pageType(page) == SqlitePageReader::TableInterior
            && m_reader.children(page, kFirstRowid, kLastRowid, &children)) {
            for (const auto& child : qAsConst(children))
                below.insert(child.page);
        }
    }
    QVector<Tree> trees;
    const auto enter = [this, &stray](quint32 page) {
        if (!stray(page))
            return false;
        m_owner[int(page)] = -2;
        return true;
    };
    for (quint32 page = 2; page <= pages; ++page) {
        if (stray(page) && !below.contains(page))
            trees.append(walk(m_reader, page, enter));
    }
    // Leaves of stray trees that loop among themselves have no top: each stands alone.
    for (quint32 page = 2; page <= pages; ++page) {
        if (stray(page) && m_reader.pageType(page) == SqlitePageReader::TableLeaf)
            trees.append(walk(m_reader, page, enter));
    }
    int strayLeaves = 0;
    for (const Tree& tree : qAsConst(trees))
        strayLeaves += tree.leaves.size();
    m_units += 2 * strayLeaves;
    if (strayLeaves)
        qWarning() << "Table leaves of the damaged library off their tables' trees:" << strayLeaves;

    QSet<quint32> placed; // stray leaves whose rows are a table's, or that hold none
    for (int index = 0; index < trees.size(); ++index) {
        for (const LeafRef& leaf : trees.at(index).leaves) {
            const SqlitePageReader::Leaf read = m_reader.leaf(leaf.page, leaf.lo, leaf.hi, true);
            advance(1);
            if (read.cellCount == 0)
                placed.insert(leaf.page);
            QVector<int> scores(m_tables.size(), 0);
            for (const Row& row : read.rows) {
                for (int t = 0; t < m_tables.size(); ++t)
                    scores[t] += fit(row, m_tables.at(t));
            }
            const int best = int(std::max_element(scores.begin(), scores.end()) - scores.begin());
            if (scores.isEmpty() || scores.at(best) == 0 || scores.count(scores.at(best)) > 1) {
                if (!read.rows.isEmpty())
                    qWarning() << "The rows of page" << leaf.page << "fit no one table and are left out";
                continue;
            }
            Stray stray { leaf, index, {} };
            for (const Row& row : read.rows) {
                if (fit(row, m_tables.at(best)))
                    stray.rows.append({ row.rowid, row.digest });
            }
            m_found[best].strays.append(stray);
            placed.insert(leaf.page);
        }
    }
    findUnknownPages(placed);
    for (int t = 0; t < m_tables.size(); ++t) {
        Found& found = m_found[t];
        // A table whose root is lost (its schema entry, or the root page itself) takes as its tree
        // the one stray tree under an interior page whose leaves are all its own: that page was
        // its root. Leaves no page names (pages freed with old copies of rows, where the free list
        // is lost too) stay strays.
        QMap<int, int> leavesOf; // stray tree -> its leaves that fit this table
        for (const Stray& stray : qAsConst(found.strays))
            ++leavesOf[stray.tree];
        int chosen = -1;
        int candidates = 0;
        for (auto it = leavesOf.constBegin(); it != leavesOf.constEnd(); ++it) {
            const Tree& tree = trees.at(it.key());
            if (!tree.underInterior)
                continue;
            ++candidates;
            if (tree.leaves.size() == it.value())
                chosen = it.key();
        }
        if (!found.rootSound && candidates == 1 && chosen >= 0) {
            found.tree = trees.at(chosen);
            found.strays.erase(std::remove_if(found.strays.begin(), found.strays.end(),
                                   [chosen](const Stray& stray) { return stray.tree == chosen; }),
                found.strays.end());
            qWarning() << "The table" << m_tables.at(t).name << "is read from page" << found.tree.leaves.first().page
                       << "on, off the schema";
        }
        QHash<qint64, quint64> digests;
        for (const Stray& stray : qAsConst(found.strays)) {
            for (const auto& row : stray.rows) {
                const auto seen = digests.constFind(row.first);
                if (seen == digests.constEnd())
                    digests.insert(row.first, row.second);
                else if (*seen != row.second)
                    found.disagreeing.insert(row.first);
            }
        }
    }
}

void Salvage::findUnknownPages(const QSet<quint32>& placed)
{
    // The page with the byte at 1 GiB is never used, so that locks never meet data.
    const qint64 lockPage = (qint64(1) << 30) / m_reader.pageSize() + 1;
    for (quint32 page = 2; page <= m_reader.pageCount(); ++page)
        m_reader.readIndexOverflows(page);
    for (quint32 page = 2; page <= m_reader.pageCount(); ++page) {
        const qint16 owner = m_owner.at(int(page));
        const SqlitePageReader::PageType type = m_reader.pageType(page);
        const bool known = owner > 0 || owner == -1 || m_reader.isFree(page) || m_reader.isOverflow(page)
            || type == SqlitePageReader::IndexInterior || type == SqlitePageReader::IndexLeaf || page == lockPage
            || (owner == -2 && (type == SqlitePageReader::TableInterior || placed.contains(page)));
        if (!known)
            m_unknown.insert(page);
    }
}

bool Salvage::brokenHoldNoLeaf(int table) const
{
    const Found& found = m_found.at(table);
    // Of a version before the table: no leaf of it anywhere, and none to lose.
    if (m_tables.at(table).unnamed && found.tree.leaves.isEmpty() && found.strays.isEmpty())
        return true;
    // All leaves of a b-tree lie at one depth: a broken pointer above it led to an interior page.
    const int leafDepth = found.tree.leaves.isEmpty() ? -1 : found.tree.leaves.first().depth;
    for (const LeafRef& broken : found.tree.broken) {
        if (broken.page > m_reader.pageCount())
            return false; // missing from the file, with what was below it
        const qint16 owner = m_owner.at(int(broken.page));
        if (owner > 0 && owner != table + 1)
            continue;
        // With no leaf of the tree left, a root with leaves of the table elsewhere was an interior page.
        if (leafDepth >= 0 ? broken.depth >= leafDepth : broken.depth > 0 || found.strays.isEmpty())
            return false;
    }
    return true;
}

bool Salvage::everyLeafFound(int table) const
{
    if (!m_reader.whole() || !brokenHoldNoLeaf(table))
        return false;
    // A page that may have held rows is one a broken pointer leads to, where no leaf of this table was.
    for (const quint32 page : m_unknown) {
        if (!m_brokenOf.contains(page))
            return false;
    }
    return true;
}

void Salvage::carry(int table, const std::function<void(const Row&)>& write)
{
    const Found& found = m_found.at(table);
    const Table& shape = m_tables.at(table);
    Count& count = m_counts[table];
    // The tree's leaves hold rowids of ranges apart, so its rows never meet twice; a stray row
    // must keep clear of them: of the ranges of its whole leaves, and of the rows of its damaged
    // ones, and of the strays taken before it.
    QVector<QPair<qint64, qint64>> sound;
    QSet<qint64> taken;
    bool counted = true;
    qint64 held = 0;
    int unfit = 0;
    const auto take = [&](const Row& row) {
        if (!fit(row, shape)) {
            ++unfit;
            return;
        }
        ++count.read;
        write(row);
    };
    // The cells a leaf's header counts are the rows it held.
    const auto tally = [&](const SqlitePageReader::Leaf& read) {
        counted = counted && read.cellCount >= 0;
        held += qMax(0, read.cellCount);
        count.lossSeen = count.lossSeen || read.cellCount < 0 || read.rows.size() < read.cellCount;
    };
    for (const LeafRef& leaf : found.tree.leaves) {
        const SqlitePageReader::Leaf read = m_reader.leaf(leaf.page, leaf.lo, leaf.hi);
        advance(1);
        tally(read);
        if (read.whole) {
            sound.append({ leaf.lo, leaf.hi });
        } else {
            qWarning() << "Page" << leaf.page << "of" << shape.name << "is damaged:" << read.rows.size()
                       << "rows read of" << read.cellCount;
            for (const Row& row : read.rows)
                taken.insert(row.rowid);
        }
        for (const Row& row : read.rows)
            take(row);
    }
    if (found.tree.complete()) {
        // Every leaf of the tree was reached and counted: a row off it is no live row.
        advance(found.strays.size());
        if (!found.strays.isEmpty())
            qWarning() << "Leaves off the whole tree of" << shape.name << "left out:" << found.strays.size();
    } else {
        count.lossSeen = count.lossSeen || !brokenHoldNoLeaf(table);
        counted = counted && everyLeafFound(table);
        // The strays taken are counted where they are the leaves the broken pointers lost: apart
        // from each other and from the tree's leaves (an old copy would meet the live rows).
        QVector<QPair<qint64, qint64>> spans;
        for (const LeafRef& leaf : found.tree.leaves)
            spans.append({ leaf.lo, leaf.hi });
        for (const Stray& stray : found.strays) {
            const SqlitePageReader::Leaf read = m_reader.leaf(stray.leaf.page, stray.leaf.lo, stray.leaf.hi);
            advance(1);
            bool live = false;
            for (const Row& row : read.rows) {
                const auto after = std::upper_bound(sound.begin(), sound.end(), row.rowid,
                    [](qint64 rowid, const QPair<qint64, qint64>& range) { return rowid < range.first; });
                const bool covered = after != sound.begin() && (after - 1)->second >= row.rowid;
                if (!covered && !taken.contains(row.rowid) && !found.disagreeing.contains(row.rowid)) {
                    taken.insert(row.rowid);
                    take(row);
                    live = true;
                }
            }
            if (live) {
                tally(read);
                spans.append({ read.rows.first().rowid, read.rows.last().rowid });
            }
        }
        std::sort(spans.begin(), spans.end());
        for (int i = 1; counted && i < spans.size(); ++i)
            counted = spans.at(i - 1).second < spans.at(i).first;
    }
    if (unfit)
        qWarning() << "Rows that do not fit the columns of" << shape.name << "left out:" << unfit;
    count.held = counted && held <= std::numeric_limits<int>::max() ? int(held) : -1;
    m_summaries[table] = QStringLiteral("%1 leaves of its tree, %2 leaves off it; it held %3")
                             .arg(found.tree.leaves.size())
                             .arg(found.strays.size())
                             .arg(count.held < 0 ? QStringLiteral("an unknown number") : QString::number(count.held));
}

bool Salvage::run(QSqlDatabase& target, LibrarySalvage::Result* result)
{
    findTables();
    findStrays();
    if (!target.transaction()) {
        qCritical() << "Cannot begin the new library:" << target.lastError().text();
        result->writeError = target.lastError();
        return false;
    }
    m_counts.fill({}, m_tables.size());
    m_summaries.resize(m_tables.size());
    const QStringList& names = programTables();
    QSet<qint64> folders;
    QSet<qint64> books;
    for (const QString& name : names) {
        const int table = tableNamed(name);
        QList<TableWriter::Reference> references;
        if (name == names.at(2) || name == names.at(3))
            references.append({ QStringLiteral("book_id"), &books });
        if (name == names.at(2))
            references.append({ QStringLiteral("folder_id"), &folders });
        TableWriter writer(target, m_tables.at(table), references,
            name == names.at(0)       ? &folders
                : name == names.at(1) ? &books
                                      : nullptr);
        carry(table, [&writer](const Row& row) { writer.write(row); });
        qInfo().noquote() << QStringLiteral("Rows of %1 carried from the damaged library: %2 (%3)")
                                 .arg(name)
                                 .arg(writer.finish())
                                 .arg(m_summaries.at(table));
    }
    if (!target.commit()) {
        result->writeError = target.lastError();
        qCritical() << "Cannot store the rows carried from the damaged library:" << result->writeError.text();
        target.rollback();
        return false;
    }
    if (m_progress)
        m_progress(100);
    result->books = books.size();
    result->held = m_counts.at(tableNamed(names.at(1))).held;
    // Of the user's other rows, those the file held that did not read; the rows of books that did
    // not come back went with them.
    const auto lost = [this](const QString& name) {
        const Count& count = m_counts.at(tableNamed(name));
        return count.held >= 0 ? qMax(0, count.held - count.read) : count.lossSeen ? -1 : 0;
    };
    result->lostFolders = lost(names.at(0));
    result->lostMemberships = lost(names.at(2));
    result->lostDetails = lost(names.at(3));
    return true;
}

} // namespace

LibrarySalvage::Result LibrarySalvage::rebuild(const QString& source, const QString& target, const Progress& progress)
{
    Result result;
    QFile old(target);
    if (old.exists() && !old.remove()) {
        qCritical() << "Cannot replace" << target << old.errorString();
        result.writeError = QSqlError(QString(), old.errorString(), QSqlError::UnknownError);
        return result;
    }
    SqlitePageReader reader(source);
    {
        QSqlDatabase to = openConnection(kTargetConnection, target, false);
        QSqlQuery pragma(to);
        for (const char* sql :
            { "PRAGMA journal_mode = OFF", "PRAGMA synchronous = OFF", "PRAGMA cache_size = -65536" })
            pragma.exec(QLatin1String(sql));
        // This runs off the GUI thread: a failure goes back in the result, never into a box.
        if (!to.isOpen()) {
            result.writeError = to.lastError();
        } else if (LibraryDatabase::createOrUpgrade(QLatin1String(kTargetConnection), &result.writeError)) {
            if (!reader.isOpen()) {
                // Nothing reads: the new file is a library of no rows.
                qCritical() << "The damaged library" << source << "cannot be read:" << reader.errorString();
                result.stored = true;
            } else {
                qInfo() << "Reading the damaged library by its pages:" << reader.pageCount() << "pages of"
                        << reader.pageSize() << "bytes" << (reader.headerSound() ? "" : "(its header is damaged)");
                Salvage salvage(reader, progress);
                result.stored = salvage.run(to, &result);
            }
        }
    }
    closeConnection(kTargetConnection);
    return result;
}

QStringList LibrarySalvage::told(const Result& result)
{
    const auto text = [](const char* source) { return QCoreApplication::translate("LibrarySalvage", source); };
    if (result.books == 0) {
        return { result.held > 0 ? text("None of the %1 books it held could be read from it.").arg(result.held)
                                 : text("No book could be read from it.") };
    }
    QStringList told {
        result.held >= 0
            ? text("Books read from it and back in the library: %1 of %2.").arg(result.books).arg(result.held)
            : text("Books read from it and back in the library: %1; how many it held is not known.").arg(result.books)
    };
    QStringList lost;
    const QList<QPair<int, const char*>> rows { { result.lostFolders, QT_TRANSLATE_NOOP("LibrarySalvage", "folders") },
        { result.lostMemberships, QT_TRANSLATE_NOOP("LibrarySalvage", "folder memberships") },
        { result.lostDetails, QT_TRANSLATE_NOOP("LibrarySalvage", "book details") } };
    for (const auto& row : rows) {
        if (row.first != 0) {
            lost << QStringLiteral("%1 (%2)").arg(
                text(row.second), row.first > 0 ? QString::number(row.first) : text("how many is not known"));
        }
    }
    if (!lost.isEmpty())
        told << text("Also not brought back: %1.").arg(lost.join(QStringLiteral(", ")));
    return told;
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
