#pragma once

#include <QBitArray>
#include <QByteArray>
#include <QFile>
#include <QHash>
#include <QSet>
#include <QString>
#include <QVarLengthArray>
#include <QVariant>
#include <QVector>

// Reads a SQLite database file by the documented file format, page by page, without SQLite and
// without trusting the file's structure: every read is bounded by its page and by the file, so a
// damaged or cut-short file gives what is intact on its pages and nothing made up. A hot rollback
// journal beside the file is played back in memory first (nothing is written), so the pages read
// are those of the last commit, as SQLite would read them.
class SqlitePageReader {
public:
    enum PageType : quint8 { Unreadable = 0, IndexInterior = 2, TableInterior = 5, IndexLeaf = 10, TableLeaf = 13 };

    // A child of an interior page and the rowids it may hold: lo <= rowid <= hi.
    struct Child {
        quint32 page = 0;
        qint64 lo = 0;
        qint64 hi = 0;
    };

    struct Row {
        qint64 rowid = 0;
        QVector<QVariant> values; // null, qint64, double, QString or QByteArray
        quint64 digest = 0; // of the record's bytes, when asked for
    };

    struct Leaf {
        int cellCount = -1; // as its header says; -1 when the header is damaged
        bool whole = false; // every cell its header lists read, in order, and nothing else
        QVector<Row> rows; // the cells that read, each at most once, in rowid range
    };

    explicit SqlitePageReader(const QString& path);

    bool isOpen() const { return m_pageSize > 0; }
    QString errorString() const { return m_error; }
    // The first page says the file is a database, with its page size, and free pages listed.
    bool headerSound() const { return m_headerSound; }
    int pageSize() const { return m_pageSize; }
    // Pages of which the file holds at least the page header: the last one may be cut short.
    quint32 pageCount() const { return m_pageCount; }
    // The highest page number a pointer may name: the header's count when it reads.
    quint32 pageLimit() const { return m_pageLimit; }

    PageType pageType(quint32 page) const;
    bool isFree(quint32 page) const { return m_free.contains(page); }

    // The children of a sound table interior page, their ranges cut from lo..hi by its keys; false
    // when the page is no table interior page or anything on it is out of place.
    bool children(quint32 page, qint64 lo, qint64 hi, QVector<Child>* out) const;

    // The rows on a table leaf that lie in lo..hi. Cells are taken through the page's pointer
    // array when it is whole and in order; otherwise the cell content area is read cell by cell
    // (skipping the page's free blocks), so that cells the pointers no longer lead to come back.
    // Of two cells with one rowid, the one whose pointer stands in rowid order is the row. The
    // work is bounded by the page: a false cell costs at most its record header, an overflow chain
    // is followed once for the reader's life, and one whose copy made no record is not copied
    // again for another cell of the page.
    Leaf leaf(quint32 page, qint64 lo, qint64 hi, bool digests = false) const;

    // Records of more columns than this are no rows (the caller's widest table); it bounds what a
    // false cell costs.
    void setColumnLimit(int columns);
    // Marks the overflow chains of the keys on an index page as such: an index of long text keys
    // (the books' paths) spills onto pages that no table record leads to.
    void readIndexOverflows(quint32 page) const;
    // Pages that overflow chains of the records read so far, and of the index pages read, continue on.
    bool isOverflow(quint32 page) const { return page < quint32(m_overflow.size()) && m_overflow.testBit(int(page)); }
    // The file holds every page its header counts, each in full: no page was cut off.
    bool whole() const { return m_whole; }
    // The bytes of cells and records looked at so far, each time it was looked at: what reading
    // the file has cost.
    quint64 work() const { return m_work; }

private:
    // The bytes of a page and how many of them the file holds (fewer for a page cut short).
    const uchar* page(quint32 number, int* available) const;
    // The first page, as the journal restores it when it does: the file's header is on it.
    const uchar* firstPage() const;
    void readHeader();
    void guessPageSize();
    void readFreeList();
    // The pages of a hot journal, kept in memory; its page size, 0 when none is played back.
    int playBackJournal(const QString& path);
    struct Scan;
    // The cell at `at` of page `number`, held at p, ending before end; scan is set for a cell the
    // scan of the content area tries.
    bool readCell(quint32 number, const uchar* p, int at, int end, Row* row, int* length, bool digest,
        Scan* scan = nullptr) const;
    // The values of a record whose header gave these serial types.
    bool decodeValues(const uchar* payload, qint64 size, const QVarLengthArray<quint64, 32>& types, Row* row) const;
    // The pages of the overflow chain from first to its end, and its last page; -1 when it leaves
    // the file, runs into a page cut short or turns back on itself.
    qint32 chainLength(quint32 first, quint32* last) const;
    void markChain(quint32 first) const;

    QFile m_file;
    const uchar* m_data = nullptr;
    qint64 m_size = 0;
    QByteArray m_copy; // when the file cannot be mapped
    QHash<quint32, QByteArray> m_journal; // pages as the last commit left them
    qint64 m_journalDatabasePages = -1; // the size the journal gives back; -1 none
    QString m_error;
    bool m_headerSound = false;
    int m_pageSize = 0;
    int m_usable = 0; // page size less the reserved bytes at each page's end
    int m_encoding = 1; // 1 UTF-8, 2 UTF-16le, 3 UTF-16be
    quint32 m_pageCount = 0;
    quint32 m_pageLimit = 0;
    QSet<quint32> m_free;
    bool m_whole = false;
    int m_columnLimit = 2000; // SQLite's own limit on the columns of a table
    // Filled as cells are read, one entry a page: the length and last page of the chain from it
    // (0 not followed yet), the cell (page and place) whose copy of it made no record, and whether
    // a record read goes on it.
    mutable QVector<qint32> m_chainLength;
    mutable QVector<quint32> m_chainLast;
    mutable QVector<quint64> m_chainTried;
    mutable QBitArray m_overflow;
    mutable quint64 m_work = 0;
};
