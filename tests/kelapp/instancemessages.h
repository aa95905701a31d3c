#pragma once

#include <QByteArray>
#include <QCryptographicHash>
#include <QString>

// A long hand-over text with multi-byte characters, the same in the helper and the test.
inline QString longInstanceMessage(int length)
{
    const QString pattern = QStringLiteral("/книги/Война и мир — 書籍 %1.epub|");
    QString text;
    text.reserve(length + pattern.size() + 16);
    for (int i = 0; text.size() < length; ++i)
        text += pattern.arg(i);
    text.truncate(length);
    return text;
}

inline QByteArray instanceMessageDigest(const QString& message)
{
    return QCryptographicHash::hash(message.toUtf8(), QCryptographicHash::Md5).toHex();
}
