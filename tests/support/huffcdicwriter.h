#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QVector>

// HUFF/CDIC compression of MOBI text records with a dictionary of their own words and frequent
// word pairs (entries the reader decodes recursively). For hostile input it can hide a word
// behind a chain of nested entries, or replace it by an entry that refers to itself.
class HuffCdicWriter {
public:
    struct Options {
        int codeBits = 8; // a CDIC record holds 2^codeBits entries
        QByteArray nestedWord;
        int nestedDepth = 0;
        QByteArray loopWord;
    };

    HuffCdicWriter(const QList<QByteArray>& records, const Options& options);

    const QByteArray& huffRecord() const { return m_huff; }
    const QList<QByteArray>& cdicRecords() const { return m_cdics; }
    const QList<QByteArray>& encodedRecords() const { return m_encoded; }
    int maxCodeLength() const { return m_maxLength; }

private:
    enum class Kind { Text, Pair, Wrapper, Loop, Padding };
    struct Symbol {
        Kind kind = Kind::Text;
        QByteArray text;
        int first = -1; // the parts of a pair, or the symbol a wrapper wraps
        int second = -1;
        quint64 weight = 0;
        int length = 0;
        quint32 code = 0;
        int index = 0; // position in the dictionary
    };

    int addSymbol(Kind kind, int first = -1, int second = -1, const QByteArray& text = QByteArray());
    int textSymbol(const QByteArray& token);
    QVector<int> tokenize(const QByteArray& record);
    void addPairs(QList<QVector<int>>& sequences);
    void countWeights(const QList<QVector<int>>& sequences);
    void assignLengths();
    void assignCodes();
    QByteArray encode(const QVector<int>& symbols) const;
    QByteArray entryBytes(const Symbol& symbol) const;
    void writeHuff();
    void writeCdics();

    Options m_options;
    QVector<Symbol> m_symbols;
    QHash<QByteArray, int> m_textIds;
    int m_padding = -1;
    int m_nested = -1; // the outermost entry of the nested chain
    int m_loop = -1;
    int m_maxLength = 0;
    QVector<quint32> m_minCode; // per length 1..32 (index 0 unused)
    QVector<quint64> m_maxCode;
    QByteArray m_huff;
    QList<QByteArray> m_cdics;
    QList<QByteArray> m_encoded;
};
