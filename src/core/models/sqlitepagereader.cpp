#include "sqlitepagereader.h"

#include <QDebug>
#include <QVarLengthArray>

#include <algorithm>
#include <cstring>
#include <limits>

namespace {

const char kMagic[] = "SQLite format 3"; // with its closing zero, the file's first 16 bytes
const uchar kJournalMagic[] = { 0xd9, 0xd5, 0x05, 0xf9, 0x20, 0xa1, 0x63, 0xd7 };
const int kMaxColumns = 2000; // SQLite's own limit on the columns of a table
// Bytes of records decoded for false cells that the scan of one leaf may spend, in pages: past it
// the page holds little but false cells.
const int kWastedPages = 4;

quint16 be16(const uchar* p) { return quint16(p[0] << 8 | p[1]); }

quint32 be32(const uchar* p) { return quint32(p[0]) << 24 | quint32(p[1]) << 16 | quint32(p[2]) << 8 | p[3]; }

// A variable-length integer at p, not reaching end; its length in bytes, 0 when it runs past end.
int varint(const uchar* p, const uchar* end, quint64* value)
{
    quint64 v = 0;
    for (int i = 0; i < 9; ++i) {
        if (p + i >= end)
            return 0;
        if (i == 8) {
            *value = v << 8 | p[i];
            return 9;
        }
        v = v << 7 | (p[i] & 0x7f);
        if (!(p[i] & 0x80)) {
            *value = v;
            return i + 1;
        }
    }
    return 0;
}

// The bytes a value of the serial type takes in a record's body; -1 for the reserved types.
qint64 serialSize(quint64 type)
{
    static const int fixed[] = { 0, 1, 2, 3, 4, 6, 8, 8, 0, 0, -1, -1 };
    return type < 12 ? fixed[type] : qint64((type - 12) / 2);
}

bool plausibleTreePage(const uchar* p, int usable)
{
    const uchar type = p[0];
    if (type != 2 && type != 5 && type != 10 && type != 13)
        return false;
    const int header = type == 2 || type == 5 ? 12 : 8;
    const int cells = be16(p + 3);
    const int content = be16(p + 5) ? be16(p + 5) : 65536;
    return header + 2 * cells <= content && content <= usable && p[7] <= 60;
}

quint64 digestOf(const uchar* p, qint64 size)
{
    // FNV-1a: only equal copies of a record need to meet.
    quint64 hash = 14695981039346656037ull;
    for (qint64 i = 0; i < size; ++i)
        hash = (hash ^ p[i]) * 1099511628211ull;
    return hash;
}

using SerialTypes = QVarLengthArray<quint64, 32>;

// The serial types of a record of size bytes from its header at payload, of which the first
// available bytes can be read; false when the header does not agree with the record's size, goes
// on beyond the bytes available or lists more than columns values.
bool readHeaderTypes(
    const uchar* payload, qint64 available, qint64 size, int columns, SerialTypes* types, quint64* work)
{
    types->clear();
    quint64 headerSize = 0;
    const int headerBytes = varint(payload, payload + qMin(available, size), &headerSize);
    if (!headerBytes || headerSize < quint64(headerBytes) || headerSize > quint64(size)
        || qint64(headerSize) > available)
        return false;
    qint64 body = 0;
    const uchar* at = payload + headerBytes;
    const uchar* headerEnd = payload + headerSize;
    while (at < headerEnd) {
        quint64 type = 0;
        const int bytes = varint(at, headerEnd, &type);
        const qint64 length = bytes ? serialSize(type) : -1;
        *work += quint64(qMax(1, bytes));
        if (length < 0 || types->size() >= columns || length > size - qint64(headerSize) - body)
            return false;
        types->append(type);
        body += length;
        at += bytes;
    }
    return !types->isEmpty() && qint64(headerSize) + body == size;
}

} // namespace

// What the scan of a leaf's content area has spent on false cells.
struct SqlitePageReader::Scan {
    qint64 wasted = 0; // bytes of records decoded for cells that were none
};

SqlitePageReader::SqlitePageReader(const QString& path)
    : m_file(path)
{
    if (!m_file.open(QIODevice::ReadOnly)) {
        m_error = m_file.errorString();
        return;
    }
    m_size = m_file.size();
    if (m_size > 0)
        m_data = m_file.map(0, m_size);
    if (!m_data && m_size > 0) {
        m_copy = m_file.readAll();
        m_data = reinterpret_cast<const uchar*>(m_copy.constData());
        m_size = m_copy.size();
    }
    if (m_size < 512) {
        m_error = QStringLiteral("the file is too short to hold a database page");
        return;
    }
    const int journalPageSize = playBackJournal(path + QStringLiteral("-journal"));
    readHeader();
    if (!m_journal.isEmpty() && m_headerSound && journalPageSize != m_pageSize) {
        qWarning() << "The journal of" << path << "does not match the file's page size and is not played back";
        m_journal.clear();
        m_headerSound = false;
        m_pageSize = 0;
        readHeader();
    }
    if (!m_headerSound)
        guessPageSize();
    if (m_pageSize <= 0) {
        m_error = QStringLiteral("no page size can be found");
        return;
    }
    // Whole pages, and a last one cut short that still holds its page header.
    qint64 pages = (m_size + m_pageSize - 12) / m_pageSize;
    if (!m_journal.isEmpty()) {
        // The database as the last commit left it: the pages the journal restores, no more; a
        // journal names pages past the file only where a change made it shorter.
        const qint64 filePages = pages;
        for (auto it = m_journal.constBegin(); it != m_journal.constEnd(); ++it)
            pages = qMax<qint64>(pages, it.key());
        pages = qMin<qint64>(qMin<qint64>(pages, m_journalDatabasePages), filePages + m_journal.size());
    }
    m_pageCount = quint32(qMin<qint64>(std::numeric_limits<qint32>::max(), pages));
    const bool counted = m_headerSound && m_pageLimit != 0;
    if (!counted)
        m_pageLimit = m_pageCount;
    else if (m_pageLimit < m_pageCount)
        m_pageCount = m_pageLimit; // what lies beyond the database's size is no part of it
    int last = 0;
    m_whole = counted && m_pageCount == m_pageLimit && page(m_pageCount, &last) && last == m_pageSize;
    if (m_headerSound)
        readFreeList();
}

void SqlitePageReader::setColumnLimit(int columns) { m_columnLimit = qBound(1, columns, kMaxColumns); }

const uchar* SqlitePageReader::page(quint32 number, int* available) const
{
    if (number == 0 || number > m_pageCount)
        return nullptr;
    const auto journaled = m_journal.constFind(number);
    if (journaled != m_journal.constEnd()) {
        *available = journaled->size();
        return reinterpret_cast<const uchar*>(journaled->constData());
    }
    const qint64 offset = qint64(number - 1) * m_pageSize;
    if (offset >= m_size)
        return nullptr;
    *available = int(qMin<qint64>(m_pageSize, m_size - offset));
    return m_data + offset;
}

const uchar* SqlitePageReader::firstPage() const
{
    const auto first = m_journal.constFind(1);
    return first != m_journal.constEnd() ? reinterpret_cast<const uchar*>(first->constData()) : m_data;
}

void SqlitePageReader::readHeader()
{
    const uchar* h = firstPage();
    if (std::memcmp(h, kMagic, 16) != 0 || h[21] != 64 || h[22] != 32 || h[23] != 32)
        return;
    const int size = be16(h + 16) == 1 ? 65536 : be16(h + 16);
    if (size < 512 || size > 65536 || (size & (size - 1)) || size - h[20] < 480)
        return;
    m_pageSize = size;
    m_usable = size - h[20];
    const quint32 encoding = be32(h + 56);
    m_encoding = encoding >= 1 && encoding <= 3 ? int(encoding) : 1;
    // The count in the header holds only when the file was last written by a version that keeps it.
    if (be32(h + 24) == be32(h + 92))
        m_pageLimit = be32(h + 28);
    m_headerSound = true;
}

// The page size that makes the most page starts read as b-tree page headers; of sizes that do
// about as well (a multiple of the true size lands on page starts too) the smallest.
void SqlitePageReader::guessPageSize()
{
    double best = 0;
    QVector<QPair<int, double>> scores;
    for (int size = 512; size <= 65536; size *= 2) {
        const qint64 pages = qMin<qint64>(m_size / size, 20000);
        if (pages < 2)
            break;
        int plausible = 0;
        for (qint64 p = 1; p < pages; ++p)
            plausible += plausibleTreePage(m_data + p * size, size) ? 1 : 0;
        const double score = double(plausible) / double(pages - 1);
        scores.append({ size, score });
        best = qMax(best, score);
    }
    for (const auto& score : qAsConst(scores)) {
        if (best > 0 && score.second >= best * 0.75) {
            m_pageSize = m_usable = score.first;
            qWarning() << "The database header is damaged: pages read as" << m_pageSize << "bytes";
            return;
        }
    }
}

void SqlitePageReader::readFreeList()
{
    const uchar* h = firstPage();
    quint32 trunk = be32(h + 32);
    const quint32 listed = be32(h + 36);
    QSet<quint32> trunks;
    while (trunk >= 2 && trunk <= m_pageLimit && !trunks.contains(trunk) && quint32(m_free.size()) <= listed) {
        trunks.insert(trunk);
        m_free.insert(trunk);
        int available = 0;
        const uchar* p = page(trunk, &available);
        if (!p || available < m_usable)
            break;
        const quint32 leaves = be32(p + 4);
        if (leaves > quint32(m_usable / 4 - 2))
            break;
        for (quint32 i = 0; i < leaves; ++i) {
            const quint32 free = be32(p + 8 + 4 * i);
            if (free >= 2 && free <= m_pageLimit)
                m_free.insert(free);
        }
        trunk = be32(p);
    }
}

int SqlitePageReader::playBackJournal(const QString& path)
{
    QFile file(path);
    if (!file.exists() || !file.open(QIODevice::ReadOnly))
        return 0;
    const QByteArray journal = file.readAll();
    const auto* j = reinterpret_cast<const uchar*>(journal.constData());
    const qint64 size = journal.size();
    qint64 at = 0;
    int sector = 0;
    int pageSize = 0;
    bool torn = false;
    // A journal is made of segments, each a header padded to a sector and its page records.
    while (!torn && at + 28 <= size && std::memcmp(j + at, kJournalMagic, 8) == 0) {
        const quint32 records = be32(j + at + 8);
        const quint32 nonce = be32(j + at + 12);
        if (at == 0) {
            m_journalDatabasePages = be32(j + 16);
            sector = int(be32(j + 20));
            pageSize = int(be32(j + 24));
            if (sector < 32 || sector > 65536 || (sector & (sector - 1)) || pageSize < 512 || pageSize > 65536
                || (pageSize & (pageSize - 1))) {
                m_journalDatabasePages = -1;
                return 0;
            }
        }
        at += sector;
        const qint64 record = 8 + qint64(pageSize);
        const qint64 count = records == 0xffffffff ? (size - at) / record : records;
        for (qint64 i = 0; i < count && at + record <= size; ++i, at += record) {
            const uchar* r = j + at;
            quint32 sum = nonce;
            for (int k = pageSize - 200; k > 0; k -= 200)
                sum += r[4 + k];
            const quint32 number = be32(r);
            // A record whose checksum fails was never wholly written: the play-back ends there,
            // as SQLite's does.
            if (sum != be32(r + 4 + pageSize) || number == 0) {
                qWarning() << "The journal" << path << "ends in a torn record";
                torn = true;
                break;
            }
            if (!m_journal.contains(number))
                m_journal.insert(number, journal.mid(int(at + 4), pageSize));
        }
        at = (at + sector - 1) / sector * sector;
    }
    if (m_journal.isEmpty()) {
        m_journalDatabasePages = -1;
        return 0;
    }
    qWarning() << "Pages played back from the journal" << path << ":" << m_journal.size();
    return pageSize;
}

SqlitePageReader::PageType SqlitePageReader::pageType(quint32 number) const
{
    int available = 0;
    const uchar* p = page(number, &available);
    const int header = number == 1 ? 100 : 0;
    if (!p || available < header + 8)
        return Unreadable;
    const uchar type = p[header];
    return type == 2 || type == 5 || type == 10 || type == 13 ? PageType(type) : Unreadable;
}

bool SqlitePageReader::children(quint32 number, qint64 lo, qint64 hi, QVector<Child>* out) const
{
    out->clear();
    int available = 0;
    const uchar* p = page(number, &available);
    const int h = number == 1 ? 100 : 0;
    // The keys sit at the page's end: a page cut short has lost some.
    if (!p || available < m_usable || p[h] != TableInterior)
        return false;
    const int cells = be16(p + h + 3);
    const int content = be16(p + h + 5) ? be16(p + h + 5) : 65536;
    if (h + 12 + 2 * cells > content || content > m_usable)
        return false;
    const auto named = [&](quint32 child) { return child >= 2 && child <= m_pageLimit && child != number; };
    qint64 from = lo;
    const uchar* end = p + m_usable;
    for (int i = 0; i < cells; ++i) {
        const int at = be16(p + h + 12 + 2 * i);
        quint64 key = 0;
        if (at < content || at + 5 > m_usable || !varint(p + at + 4, end, &key))
            return false;
        const quint32 child = be32(p + at);
        if (!named(child) || qint64(key) < from || qint64(key) > hi)
            return false;
        out->append({ child, from, qint64(key) });
        if (qint64(key) == std::numeric_limits<qint64>::max())
            return false; // nothing can follow the largest rowid
        from = qint64(key) + 1;
    }
    const quint32 right = be32(p + h + 8);
    if (!named(right))
        return false;
    out->append({ right, from, hi });
    return true;
}

SqlitePageReader::Leaf SqlitePageReader::leaf(quint32 number, qint64 lo, qint64 hi, bool digests) const
{
    Leaf result;
    int available = 0;
    const uchar* p = page(number, &available);
    const int h = number == 1 ? 100 : 0;
    if (!p || available < h + 8 || p[h] != TableLeaf)
        return result;
    const int cells = be16(p + h + 3);
    const int content = be16(p + h + 5) ? be16(p + h + 5) : 65536;
    const bool headerSound = h + 8 + 2 * cells <= content && content <= m_usable;
    if (headerSound)
        result.cellCount = cells;
    const int end = qMin(m_usable, available);

    struct Cell {
        int at;
        int length;
        Row row;
        bool ordered = false; // its pointer stands where its rowid belongs
    };
    QVector<Cell> listed;
    QSet<int> read;
    bool inOrder = headerSound;
    for (int i = 0; headerSound && i < cells; ++i) {
        const int pointer = h + 8 + 2 * i;
        if (pointer + 2 > available) {
            inOrder = false;
            break;
        }
        Cell cell { be16(p + pointer), 0, {} };
        // A cell two pointers lead to is read once.
        if (cell.at < content || cell.at >= end || read.contains(cell.at)
            || !readCell(number, p, cell.at, end, &cell.row, &cell.length, digests)) {
            inOrder = false;
            continue;
        }
        read.insert(cell.at);
        if (!listed.isEmpty() && listed.last().row.rowid >= cell.row.rowid)
            inOrder = false;
        if (cell.row.rowid < lo || cell.row.rowid > hi)
            inOrder = false;
        listed.append(cell);
    }
    // A cell that damage gave another's rowid stands out of order among the pointers: no rowid
    // before it is larger, none after it smaller, holds only for the true one.
    qint64 largest = std::numeric_limits<qint64>::min();
    for (Cell& cell : listed) {
        cell.ordered = largest <= cell.row.rowid;
        largest = qMax(largest, cell.row.rowid);
    }
    qint64 smallest = std::numeric_limits<qint64>::max();
    for (int i = listed.size() - 1; i >= 0; --i) {
        listed[i].ordered = listed.at(i).ordered && listed.at(i).row.rowid <= smallest;
        smallest = qMin(smallest, listed.at(i).row.rowid);
    }
    std::sort(listed.begin(), listed.end(), [](const Cell& a, const Cell& b) { return a.at < b.at; });
    for (int i = 1; inOrder && i < listed.size(); ++i)
        inOrder = listed.at(i - 1).at + listed.at(i - 1).length <= listed.at(i).at;
    if (inOrder && listed.size() == cells) {
        std::sort(listed.begin(), listed.end(), [](const Cell& a, const Cell& b) { return a.row.rowid < b.row.rowid; });
        result.whole = true;
        for (Cell& cell : listed)
            result.rows.append(std::move(cell.row));
        return result;
    }

    // The pointers cannot be trusted: the cells are found where they lie, from the start of the
    // content area on. Free blocks hold deleted cells and are passed over; a cell a pointer led to
    // is taken where the reading meets it, and one that would overlap it is not.
    QVector<QPair<int, int>> freeBlocks;
    if (headerSound) {
        int block = be16(p + h + 1);
        int previousEnd = content;
        while (block) {
            if (block < previousEnd || block + 4 > end) {
                freeBlocks.clear();
                break;
            }
            const int size = be16(p + block + 2);
            if (size < 4 || block + size > m_usable) {
                freeBlocks.clear();
                break;
            }
            freeBlocks.append({ block, block + size });
            previousEnd = block + size;
            block = be16(p + block);
        }
    }
    QVector<Cell> found;
    int known = 0;
    int freeBlock = 0;
    Scan scan;
    for (int at = headerSound ? content : h + 8; at < end;) {
        while (freeBlock < freeBlocks.size() && freeBlocks.at(freeBlock).second <= at)
            ++freeBlock;
        if (freeBlock < freeBlocks.size() && freeBlocks.at(freeBlock).first <= at) {
            at = freeBlocks.at(freeBlock).second;
            continue;
        }
        while (known < listed.size() && listed.at(known).at < at)
            ++known;
        if (known < listed.size() && listed.at(known).at == at) {
            found.append(listed.at(known));
            at += listed.at(known).length;
            continue;
        }
        if (scan.wasted > qint64(kWastedPages) * m_usable) {
            qWarning() << "Page" << number << "is read no further from byte" << at << ": it holds false cells";
            break;
        }
        // A cell found here ends before the next one a pointer leads to.
        Cell cell { at, 0, {} };
        if (readCell(number, p, at, known < listed.size() ? listed.at(known).at : end, &cell.row, &cell.length, digests,
                &scan)) {
            found.append(cell);
            at += cell.length;
            continue;
        }
        ++at;
    }
    std::stable_sort(
        found.begin(), found.end(), [](const Cell& a, const Cell& b) { return a.row.rowid < b.row.rowid; });
    for (int i = 0; i < found.size();) {
        // Of two cells of one rowid on a page the one in order is the row, else the one met first.
        int next = i + 1;
        int kept = i;
        for (; next < found.size() && found.at(next).row.rowid == found.at(i).row.rowid; ++next) {
            if (found.at(next).ordered && !found.at(kept).ordered)
                kept = next;
        }
        if (found.at(kept).row.rowid >= lo && found.at(kept).row.rowid <= hi)
            result.rows.append(std::move(found[kept].row));
        i = next;
    }
    return result;
}

bool SqlitePageReader::readCell(
    quint32 number, const uchar* p, int at, int end, Row* row, int* length, bool digest, Scan* scan) const
{
    const uchar* cell = p + at;
    const uchar* stop = p + end;
    quint64 size = 0;
    quint64 rowid = 0;
    const int sizeBytes = varint(cell, stop, &size);
    const int rowidBytes = sizeBytes ? varint(cell + sizeBytes, stop, &rowid) : 0;
    m_work += quint64(qMax(1, sizeBytes + rowidBytes));
    if (!rowidBytes || size == 0)
        return false;
    // What the overflow pages of the file could hold at most: no allocation goes beyond it.
    const quint64 room = quint64(m_pageCount) * quint64(m_usable - 4) + quint64(m_usable);
    if (size > room || size > quint64(std::numeric_limits<int>::max() / 2))
        return false;
    const qint64 maxLocal = m_usable - 35;
    qint64 local = qint64(size);
    if (local > maxLocal) {
        const qint64 minLocal = (qint64(m_usable) - 12) * 32 / 255 - 23;
        const qint64 surplus = minLocal + (qint64(size) - minLocal) % (m_usable - 4);
        local = surplus <= maxLocal ? surplus : minLocal;
    }
    const int head = sizeBytes + rowidBytes;
    const bool overflows = local < qint64(size);
    const qint64 cellLength = head + local + (overflows ? 4 : 0);
    if (at + cellLength > end)
        return false;
    row->rowid = qint64(rowid);
    *length = int(cellLength);
    SerialTypes types;
    if (!overflows) {
        if (!readHeaderTypes(cell + head, qint64(size), qint64(size), m_columnLimit, &types, &m_work))
            return false;
        if (!decodeValues(cell + head, qint64(size), types, row)) {
            if (scan)
                scan->wasted += qint64(size);
            return false;
        }
        row->digest = digest ? digestOf(cell + head, qint64(size)) : 0;
        return true;
    }
    // The chain must end where the record does, each page inside the file; then the record's
    // header, on this page and on as far as it goes over the chain, must agree with its size;
    // only then is the record copied.
    const qint64 step = m_usable - 4;
    const qint64 pages = (qint64(size) - local + step - 1) / step;
    const quint32 first = be32(cell + head + local);
    quint32 last = 0;
    int available = 0;
    if (chainLength(first, &last) != pages || !page(last, &available)
        || available < 4 + qint64(size) - local - (pages - 1) * step)
        return false;
    const auto copy = [&](uchar* out, qint64 count) {
        qint64 copied = qMin(local, count);
        std::memcpy(out, cell + head, size_t(copied));
        for (quint32 next = first; copied < count;) {
            int bytes = 0;
            const uchar* overflow = page(next, &bytes);
            const qint64 take = qMin(step, count - copied);
            std::memcpy(out + copied, overflow + 4, size_t(take));
            copied += take;
            next = be32(overflow);
        }
        m_work += quint64(count);
    };
    quint64 headerSize = 0;
    if (!varint(cell + head, cell + head + local, &headerSize) || headerSize > size
        || headerSize > 9 + 9 * quint64(m_columnLimit))
        return false;
    QVarLengthArray<uchar, 512> header;
    if (qint64(headerSize) > local) {
        header.resize(int(headerSize));
        copy(header.data(), qint64(headerSize));
    }
    if (!readHeaderTypes(header.isEmpty() ? cell + head : header.constData(), qint64(headerSize), qint64(size),
            m_columnLimit, &types, &m_work))
        return false;
    // A chain whose copy made no record for another cell is copied again only for a cell that a
    // pointer of another leaf leads to: two records never share a page, and false cells at every
    // byte of a leaf, or pointers to them, must not copy one chain each.
    const quint64 key = (quint64(number) << 17 | quint64(at)) + 1;
    const quint64 tried = m_chainTried.isEmpty() ? 0 : m_chainTried.at(int(first));
    if (tried != 0 && tried != key && (scan || tried >> 17 == number))
        return false;
    QByteArray payload(int(size), Qt::Uninitialized);
    auto* out = reinterpret_cast<uchar*>(payload.data());
    copy(out, qint64(size));
    if (!decodeValues(out, qint64(size), types, row)) {
        if (m_chainTried.isEmpty())
            m_chainTried.fill(0, int(m_pageCount) + 1);
        for (quint32 next = first; next;) {
            m_chainTried[int(next)] = key;
            next = be32(page(next, &available));
        }
        return false;
    }
    row->digest = digest ? digestOf(out, qint64(size)) : 0;
    markChain(first);
    return true;
}

// Only for a chain that chainLength() found whole: it ends inside the file and meets no page twice.
void SqlitePageReader::markChain(quint32 first) const
{
    if (m_overflow.isEmpty())
        m_overflow.resize(int(m_pageCount) + 1);
    int available = 0;
    for (quint32 next = first; next;) {
        m_overflow.setBit(int(next));
        next = be32(page(next, &available));
    }
}

void SqlitePageReader::readIndexOverflows(quint32 number) const
{
    int available = 0;
    const uchar* p = page(number, &available);
    const int h = number == 1 ? 100 : 0;
    if (!p || available < m_usable || (p[h] != IndexLeaf && p[h] != IndexInterior))
        return;
    const bool interior = p[h] == IndexInterior;
    const int header = h + (interior ? 12 : 8);
    const int cells = be16(p + h + 3);
    if (header + 2 * cells > m_usable)
        return;
    // An index key keeps less of itself on its page than a table record does.
    const qint64 maxLocal = (qint64(m_usable) - 12) * 64 / 255 - 23;
    const qint64 minLocal = (qint64(m_usable) - 12) * 32 / 255 - 23;
    const qint64 step = m_usable - 4;
    for (int i = 0; i < cells; ++i) {
        const int at = be16(p + header + 2 * i) + (interior ? 4 : 0);
        quint64 size = 0;
        const int sizeBytes = at < m_usable ? varint(p + at, p + m_usable, &size) : 0;
        m_work += quint64(qMax(1, sizeBytes));
        if (!sizeBytes || size <= quint64(maxLocal) || size > quint64(std::numeric_limits<int>::max() / 2))
            continue;
        const qint64 surplus = minLocal + (qint64(size) - minLocal) % step;
        const qint64 local = surplus <= maxLocal ? surplus : minLocal;
        if (at + sizeBytes + local + 4 > m_usable)
            continue;
        const quint32 first = be32(p + at + sizeBytes + local);
        quint32 last = 0;
        if (chainLength(first, &last) == (qint64(size) - local + step - 1) / step)
            markChain(first);
    }
}

qint32 SqlitePageReader::chainLength(quint32 first, quint32* last) const
{
    if (first < 2 || first > m_pageCount)
        return -1;
    if (m_chainLength.isEmpty()) {
        m_chainLength.fill(0, int(m_pageCount) + 1);
        m_chainLast.fill(0, int(m_pageCount) + 1);
    }
    const qint32 following = -2;
    // Followed until it ends, leaves the file, meets itself or a page whose chain is known.
    QVector<quint32> path;
    qint32 length = -1;
    quint32 end = 0;
    for (quint32 next = first; next >= 2 && next <= m_pageCount;) {
        const qint32 known = m_chainLength.at(int(next));
        if (known == following)
            break;
        if (known != 0) {
            length = known;
            end = m_chainLast.at(int(next));
            break;
        }
        m_chainLength[int(next)] = following;
        path.append(next);
        int available = 0;
        const uchar* overflow = page(next, &available);
        m_work += 4;
        if (overflow && be32(overflow) == 0) {
            length = 0;
            end = next;
            break;
        }
        // Only the last page of a chain may be cut short.
        if (!overflow || available < m_usable)
            break;
        next = be32(overflow);
    }
    for (int i = path.size() - 1; i >= 0; --i) {
        length = length < 0 ? -1 : length + 1;
        m_chainLength[int(path.at(i))] = length;
        m_chainLast[int(path.at(i))] = end;
    }
    *last = m_chainLast.at(int(first));
    return m_chainLength.at(int(first));
}

bool SqlitePageReader::decodeValues(const uchar* payload, qint64 size, const SerialTypes& types, Row* row) const
{
    quint64 headerSize = 0;
    varint(payload, payload + size, &headerSize);
    m_work += quint64(size) - headerSize;
    row->values.resize(types.size());
    const uchar* value = payload + headerSize; // the values follow the header
    for (int i = 0; i < types.size(); ++i) {
        const quint64 type = types.at(i);
        const qint64 length = serialSize(type);
        QVariant& out = row->values[i];
        if (type >= 1 && type <= 6) {
            qint64 v = qint8(value[0]); // sign-extended from the first byte
            for (qint64 k = 1; k < length; ++k)
                v = qint64(quint64(v) << 8 | value[k]);
            out = v;
        } else if (type == 7) {
            quint64 bits = 0;
            for (int k = 0; k < 8; ++k)
                bits = bits << 8 | value[k];
            double d;
            std::memcpy(&d, &bits, sizeof d);
            out = d;
        } else if (type == 8 || type == 9) {
            out = qint64(type - 8);
        } else if (type >= 12 && type % 2 == 0) {
            out = QByteArray(reinterpret_cast<const char*>(value), int(length));
        } else if (type >= 13) {
            if (m_encoding == 1) {
                const QString text = QString::fromUtf8(reinterpret_cast<const char*>(value), int(length));
                // Bytes that are no UTF-8 come from damage over the record's body: the record is
                // not the one that was written.
                if (text.contains(QChar::ReplacementCharacter)
                    && text.count(QChar::ReplacementCharacter)
                        != QByteArray::fromRawData(reinterpret_cast<const char*>(value), int(length))
                               .count("\xef\xbf\xbd"))
                    return false;
                out = text;
            } else {
                QString text(int(length / 2), Qt::Uninitialized);
                for (int k = 0; k < text.size(); ++k) {
                    const uchar a = value[2 * k];
                    const uchar b = value[2 * k + 1];
                    text[k] = QChar(m_encoding == 2 ? ushort(b << 8 | a) : ushort(a << 8 | b));
                }
                out = text;
            }
        } else {
            out = QVariant();
        }
        value += length;
    }
    return true;
}
