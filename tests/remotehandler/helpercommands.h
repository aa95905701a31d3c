#pragma once

#include <QByteArray>
#include <QDataStream>
#include <QIODevice>

// What the channel tests ask of their helper program. Every payload starts with a qint32 type,
// as the real helper's messages do.
namespace helpercmd {

// How the helper behaves before it connects (environment variable, default "connect"): "exit" at
// once, "noconnect" (runs a minute), "gate:<path>" (connects once the file exists).
constexpr const char* kStartVariable = "PL_REMOTE_HELPER_START";

enum Type : qint32 {
    Echo = 1, // reply with the same payload
    Burst = 2, // qint32 n: reply with frames (Burst, 0) .. (Burst, n-1) and one empty frame, in one write
    Split = 3, // qint32 n: reply with (Split, n bytes), the length and the payload each written in pieces
    Stall = 4, // stop reading and sleep
    BadLength = 6, // qint32 length: send this length prefix and a few bytes
    Pause = 7, // qint32 ms: sleep, then read on
    Stop = 85,
};

inline QByteArray message(qint32 type, qint32 value = 0)
{
    QByteArray payload;
    QDataStream stream(&payload, QIODevice::WriteOnly);
    stream << type << value;
    return payload;
}

inline QByteArray echo(const QByteArray& data)
{
    QByteArray payload;
    QDataStream stream(&payload, QIODevice::WriteOnly);
    stream << qint32(Echo) << data;
    return payload;
}

} // namespace helpercmd
