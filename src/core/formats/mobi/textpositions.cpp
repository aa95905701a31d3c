#include "textpositions.h"

#include <QTextCodec>
#include <QTextDecoder>

#include <algorithm>
#include <memory>

namespace mobi {

TextPositions::TextPositions(const QByteArray& bytes, QTextCodec* codec)
    : m_bytes(bytes)
    , m_codec(codec)
{
}

QHash<quint64, int> TextPositions::map(QList<quint64> offsets) const
{
    QHash<quint64, int> result;
    if (!m_codec)
        return result;
    std::sort(offsets.begin(), offsets.end());
    // A stateful decoder fed piece by piece yields exactly the whole text's decoding; a piece
    // that ends inside a character leaves it pending, so the offset maps to its start.
    const std::unique_ptr<QTextDecoder> decoder(m_codec->makeDecoder());
    quint64 done = 0;
    qint64 position = 0;
    for (quint64 offset : offsets) {
        if (offset >= quint64(m_bytes.size()))
            break;
        if (offset > done) {
            position += decoder->toUnicode(m_bytes.constData() + done, int(offset - done)).size();
            done = offset;
        }
        result.insert(offset, int(position));
    }
    return result;
}

}
