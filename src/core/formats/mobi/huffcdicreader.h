#pragma once

#include <QByteArray>
#include <QList>

namespace mobi {

class Mobi;

// Decoder of HUFF/CDIC compressed text records. The HUFF record holds a 256-entry code table
// (indexed by the next 8 bits) and the minimum and maximum code of every length 1..32; the CDIC
// records hold the dictionary, whose entries are either text or again compressed (decoded
// recursively). The tables are built once per book.
//
// A hostile dictionary can refer to itself, so decoding has three bounds: at most MaxDepth + 1
// nested levels, a budget of decoding steps per record (StepsPerByte times the record size),
// and the end of a record as soon as its output reaches the record size.
class HuffCdicReader {
public:
    enum { MaxDepth = 32, StepsPerByte = 16, MinBudgetBytes = 4096 };

    // Reads the HUFF record and the CDIC records that follow it from the book.
    explicit HuffCdicReader(Mobi& mobi);
    // The same from records already read.
    HuffCdicReader(const QByteArray& huff, const QList<QByteArray>& cdics);

    bool isValid() const { return m_valid; }

    // One text record decoded; at most limit bytes (any number when limit is negative).
    QByteArray decodeRecord(const QByteArray& data, int limit);
    // Whether the last record ran out of its step budget, and how many records did so far.
    bool lastRecordExhausted() const { return m_exhausted; }
    int exhaustedRecords() const { return m_exhaustedRecords; }
    // Decoding steps the last record took.
    qint64 lastRecordSteps() const { return m_steps; }

private:
    bool setUp(const QByteArray& huff, const QList<QByteArray>& cdics);
    void decode(const uchar* data, qint64 byteLength, int depth);

    bool m_valid = false;
    quint32 m_codeTable[256] = {};
    quint32 m_limitTable[64] = {};
    QList<QByteArray> m_cdics;
    quint32 m_codeBits = 0;

    QByteArray m_output;
    qint64 m_limit = -1;
    qint64 m_budget = 0;
    qint64 m_steps = 0;
    bool m_stop = false;
    bool m_exhausted = false;
    int m_exhaustedRecords = 0;
};

}
