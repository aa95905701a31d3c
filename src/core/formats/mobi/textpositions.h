#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>

class QTextCodec;

namespace mobi {

// Maps byte offsets into the undecoded book text (what MOBI links count in) to positions in
// the decoded string. In a UTF-8 book the two differ as soon as a character takes more than
// one byte; in a single-byte encoding they are equal.
class TextPositions {
public:
    TextPositions(const QByteArray& bytes, QTextCodec* codec);

    // The decoded position of every offset, built in one pass over the text. An offset inside a
    // character maps to that character; offsets at or past the end are left out.
    QHash<quint64, int> map(QList<quint64> offsets) const;

private:
    const QByteArray m_bytes;
    QTextCodec* m_codec;
};

}
