#include "huffcdicwriter.h"
#include "byteorder.h"

#include <algorithm>
#include <map>
#include <numeric>
#include <queue>

namespace {
bool isWordByte(uchar c)
{
    return c >= 0x80 || (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}
}

HuffCdicWriter::HuffCdicWriter(const QList<QByteArray>& records, const Options& options)
    : m_options(options)
{
    if (!m_options.nestedWord.isEmpty() && m_options.nestedDepth > 0) {
        m_nested = textSymbol(m_options.nestedWord);
        for (int level = 0; level < m_options.nestedDepth; ++level)
            m_nested = addSymbol(Kind::Wrapper, m_nested);
    }
    if (!m_options.loopWord.isEmpty())
        m_loop = addSymbol(Kind::Loop);

    QList<QVector<int>> sequences;
    for (const QByteArray& record : records)
        sequences.append(tokenize(record));
    addPairs(sequences);

    // Zero bits that pad a bit stream to whole bytes must decode to nothing: the all-zero code
    // of the longest length is given to an empty text entry.
    m_padding = addSymbol(Kind::Padding);

    countWeights(sequences);
    assignLengths();
    assignCodes();
    for (const QVector<int>& sequence : sequences)
        m_encoded.append(encode(sequence));
    writeHuff();
    writeCdics();
}

int HuffCdicWriter::addSymbol(Kind kind, int first, int second, const QByteArray& text)
{
    m_symbols.append(Symbol { kind, text, first, second });
    return m_symbols.size() - 1;
}

int HuffCdicWriter::textSymbol(const QByteArray& token)
{
    auto it = m_textIds.find(token);
    if (it == m_textIds.end())
        it = m_textIds.insert(token, addSymbol(Kind::Text, -1, -1, token));
    return it.value();
}

QVector<int> HuffCdicWriter::tokenize(const QByteArray& record)
{
    QVector<int> result;
    const auto* data = reinterpret_cast<const uchar*>(record.constData());
    int i = 0;
    while (i < record.size()) {
        int end = i + 1;
        if (isWordByte(data[i])) {
            while (end < record.size() && isWordByte(data[end]))
                ++end;
        }
        const QByteArray token = record.mid(i, end - i);
        if (m_nested >= 0 && token == m_options.nestedWord)
            result.append(m_nested);
        else if (m_loop >= 0 && token == m_options.loopWord)
            result.append(m_loop);
        else
            result.append(textSymbol(token));
        i = end;
    }
    return result;
}

void HuffCdicWriter::addPairs(QList<QVector<int>>& sequences)
{
    std::map<std::pair<int, int>, int> counts;
    for (const QVector<int>& sequence : sequences) {
        for (int i = 0; i + 1 < sequence.size(); ++i) {
            if (m_symbols[sequence[i]].kind == Kind::Text && m_symbols[sequence[i + 1]].kind == Kind::Text)
                ++counts[{ sequence[i], sequence[i + 1] }];
        }
    }
    std::vector<std::pair<int, std::pair<int, int>>> ranked;
    for (const auto& entry : counts) {
        if (entry.second >= 2)
            ranked.push_back({ -entry.second, entry.first });
    }
    // The 24 most frequent pairs become compressed entries.
    std::sort(ranked.begin(), ranked.end());
    std::map<std::pair<int, int>, int> pairIds;
    for (int k = 0; k < int(ranked.size()) && k < 24; ++k)
        pairIds[ranked[k].second] = addSymbol(Kind::Pair, ranked[k].second.first, ranked[k].second.second);
    for (QVector<int>& sequence : sequences) {
        QVector<int> replaced;
        for (int i = 0; i < sequence.size(); ++i) {
            auto it = i + 1 < sequence.size() ? pairIds.find({ sequence[i], sequence[i + 1] }) : pairIds.end();
            if (it != pairIds.end()) {
                replaced.append(it->second);
                ++i;
            } else {
                replaced.append(sequence[i]);
            }
        }
        sequence = replaced;
    }
}

void HuffCdicWriter::countWeights(const QList<QVector<int>>& sequences)
{
    for (const QVector<int>& sequence : sequences) {
        for (int id : sequence)
            ++m_symbols[id].weight;
    }
    for (Symbol& symbol : m_symbols) {
        if (symbol.kind == Kind::Pair || symbol.kind == Kind::Wrapper)
            ++m_symbols[symbol.first].weight;
        if (symbol.kind == Kind::Pair)
            ++m_symbols[symbol.second].weight;
        if (symbol.kind == Kind::Loop)
            symbol.weight += 2;
    }
}

void HuffCdicWriter::assignLengths()
{
    QVector<quint64> weights;
    for (const Symbol& symbol : m_symbols)
        weights.append(symbol.weight);
    for (;;) {
        // Huffman tree over (weight, node); parents of leaves and inner nodes.
        const int leaves = weights.size();
        QVector<int> parent(2 * leaves, -1);
        using Node = std::pair<quint64, int>;
        std::priority_queue<Node, std::vector<Node>, std::greater<Node>> queue;
        for (int i = 0; i < leaves; ++i)
            queue.push({ weights[i], i });
        int next = leaves;
        while (queue.size() > 1) {
            const Node a = queue.top();
            queue.pop();
            const Node b = queue.top();
            queue.pop();
            parent[a.second] = parent[b.second] = next;
            queue.push({ a.first + b.first, next++ });
        }
        int longest = 0;
        for (int i = 0; i < leaves; ++i) {
            int depth = 0;
            for (int node = i; parent[node] >= 0; node = parent[node])
                ++depth;
            m_symbols[i].length = qMax(depth, 1);
            longest = qMax(longest, m_symbols[i].length);
        }
        if (longest <= 32) {
            m_maxLength = longest;
            break;
        }
        for (int i = 0; i < leaves; ++i)
            weights[i] = i == m_padding ? 0 : weights[i] / 2 + 1;
    }
    // The padding entry must be among the longest codes.
    for (Symbol& symbol : m_symbols) {
        if (symbol.length == m_maxLength) {
            std::swap(symbol.length, m_symbols[m_padding].length);
            break;
        }
    }
}

void HuffCdicWriter::assignCodes()
{
    // Canonical codes with the bits inverted: shorter codes take larger values, the reader's index
    // of an entry is (maximum code of its length) - code, and the padding entry gets all zeros.
    QVector<int> order(m_symbols.size());
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(), [this](int a, int b) {
        return std::make_pair(m_symbols[a].length, a == m_padding)
            < std::make_pair(m_symbols[b].length, b == m_padding);
    });
    QVector<int> counts(34, 0);
    for (const Symbol& symbol : m_symbols)
        ++counts[symbol.length];
    m_minCode.fill(0, 33);
    m_maxCode.fill(0, 33);
    QVector<qint64> top(33, 0);
    QVector<int> base(33, 0);
    qint64 code = 0;
    int index = 0;
    for (int length = 1; length <= 32; ++length) {
        code = (code + counts[length - 1]) << 1;
        top[length] = (qint64(1) << length) - 1 - code;
        base[length] = index;
        index += counts[length];
        const qint64 minimum = top[length] - counts[length] + 1;
        if (top[length] < 0) {
            m_minCode[length] = 0xFFFFFFFF;
            m_maxCode[length] = 0;
        } else {
            m_minCode[length] = static_cast<quint32>(qMin<qint64>(minimum, 0xFFFFFFFF));
            m_maxCode[length] = quint64(top[length] + base[length]);
        }
    }
    QVector<int> used(33, 0);
    int position = 0;
    for (int id : order) {
        Symbol& symbol = m_symbols[id];
        const int k = used[symbol.length]++;
        symbol.code = static_cast<quint32>(top[symbol.length] - k);
        symbol.index = position++;
    }
}

// Bits most significant first; the last byte is padded with zero bits.
QByteArray HuffCdicWriter::encode(const QVector<int>& symbols) const
{
    QByteArray bytes;
    quint32 current = 0;
    int used = 0;
    for (int id : symbols) {
        for (int bit = m_symbols[id].length - 1; bit >= 0; --bit) {
            current = (current << 1) | ((m_symbols[id].code >> bit) & 1);
            if (++used % 8 == 0)
                bytes.append(char(current));
        }
    }
    if (used % 8)
        bytes.append(char(current << (8 - used % 8)));
    return bytes;
}

QByteArray HuffCdicWriter::entryBytes(const Symbol& symbol) const
{
    const int self = int(&symbol - m_symbols.constData());
    if (symbol.kind == Kind::Text)
        return symbol.text;
    if (symbol.kind == Kind::Pair)
        return encode({ symbol.first, symbol.second });
    if (symbol.kind == Kind::Wrapper)
        return encode({ symbol.first });
    return symbol.kind == Kind::Loop ? encode({ self, self }) : QByteArray();
}

void HuffCdicWriter::writeHuff()
{
    QVector<quint32> codeTable(256, 0);
    for (int byte = 0; byte < 256; ++byte) {
        for (const Symbol& symbol : m_symbols) {
            if (symbol.length <= 8 && quint32(byte >> (8 - symbol.length)) == symbol.code) {
                const quint64 maximum = m_maxCode[symbol.length];
                codeTable[byte] = quint32(symbol.length) | 0x80 | quint32(maximum << 8);
                break;
            }
            if (symbol.length > 8 && quint32(symbol.code >> (symbol.length - 8)) == quint32(byte))
                codeTable[byte] = 9;
        }
    }
    // Real HUFF records carry the tables twice: big-endian at the offsets in bytes 8 and 12,
    // little-endian at those in bytes 16 and 20.
    m_huff = "HUFF";
    for (quint32 offset : { 24, 24, 24 + 1024, 24 + 1024 + 256, 24 + 1024 + 256 + 1024 })
        appendBigEndian(m_huff, offset, 4);
    for (const auto append : { &appendBigEndian, &appendLittleEndian }) {
        for (quint32 entry : codeTable)
            append(m_huff, entry, 4);
        for (int length = 1; length <= 32; ++length) {
            append(m_huff, m_minCode[length], 4);
            append(m_huff, static_cast<quint32>(m_maxCode[length]), 4);
        }
    }
}

void HuffCdicWriter::writeCdics()
{
    QVector<const Symbol*> byIndex(m_symbols.size());
    for (const Symbol& symbol : m_symbols)
        byIndex[symbol.index] = &symbol;
    const int perRecord = 1 << m_options.codeBits;
    for (int first = 0; first < byIndex.size(); first += perRecord) {
        const int count = qMin(perRecord, byIndex.size() - first);
        QByteArray offsets;
        QByteArray entries;
        for (int k = 0; k < count; ++k) {
            const Symbol& symbol = *byIndex[first + k];
            const QByteArray bytes = entryBytes(symbol);
            Q_ASSERT(bytes.size() <= 0x7FFF);
            appendBigEndian(offsets, quint32(2 * count + entries.size()), 2);
            const bool final = symbol.kind == Kind::Text || symbol.kind == Kind::Padding;
            appendBigEndian(entries, quint32(bytes.size()) | (final ? 0x8000 : 0), 2);
            entries.append(bytes);
        }
        Q_ASSERT(2 * count + entries.size() <= 0x10000);
        QByteArray record("CDIC");
        appendBigEndian(record, 16, 4);
        appendBigEndian(record, quint32(byIndex.size()), 4);
        appendBigEndian(record, quint32(m_options.codeBits), 4);
        m_cdics.append(record + offsets + entries);
    }
}
