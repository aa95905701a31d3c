#pragma once

#include <QByteArray>
#include <QString>

class QIODevice;

namespace fb2 {

// Reads what is left of an open device into bytes, refusing (false, with a log line naming
// what) as soon as more than maxBytes have come out of it: decompressed entries are counted
// as they are read, whatever their headers declare.
bool readAllCapped(QIODevice* device, qint64 maxBytes, const QString& what, QByteArray* bytes);

// Reads a whole file; false with a log line when it does not open or holds more than maxBytes.
bool readFileCapped(const QString& path, qint64 maxBytes, QByteArray* bytes);

} // namespace fb2
