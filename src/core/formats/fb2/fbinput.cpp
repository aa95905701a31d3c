#include "fbinput.h"

#include <QDebug>
#include <QFile>

#include <climits>

namespace fb2 {

bool readAllCapped(QIODevice* device, qint64 maxBytes, const QString& what, QByteArray* bytes)
{
    constexpr qint64 kChunk = 1024 * 1024;
    maxBytes = qMin(maxBytes, qint64(INT_MAX) - 2 * kChunk); // a QByteArray holds less than 2 GB
    bytes->clear();
    // One byte past the limit is enough to know it is exceeded.
    while (bytes->size() <= maxBytes) {
        const int before = bytes->size();
        const qint64 want = qMin(kChunk, maxBytes + 1 - before);
        bytes->resize(int(before + want));
        const qint64 got = device->read(bytes->data() + before, want);
        bytes->resize(before + int(qMax<qint64>(got, 0)));
        if (got < 0) {
            qWarning() << "Cannot read" << what << ":" << device->errorString();
            bytes->clear();
            return false;
        }
        if (got == 0)
            break;
    }
    if (bytes->size() > maxBytes) {
        qWarning() << "Refused" << what << ": more than" << maxBytes << "bytes";
        bytes->clear();
        return false;
    }
    return true;
}

bool readFileCapped(const QString& path, qint64 maxBytes, QByteArray* bytes)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        qWarning() << "Cannot open" << path << ":" << file.errorString();
        return false;
    }
    // A regular file's size is real, not declared: a huge one is refused before any reading.
    if (file.size() > maxBytes) {
        qWarning() << "Refused" << path << ": it holds" << file.size() << "bytes, more than" << maxBytes;
        return false;
    }
    return readAllCapped(&file, maxBytes, path, bytes);
}

} // namespace fb2
