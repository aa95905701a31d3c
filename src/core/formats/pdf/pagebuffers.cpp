#include "pagebuffers.h"

#include <QMutex>
#include <QVector>

#include <climits>
#include <cstdlib>
#include <memory>

namespace {

struct Buffer {
    uchar* data = nullptr;
    qint64 bytes = 0;
};

struct Spares {
    QMutex mutex;
    QVector<Buffer> buffers;
};

// Never destroyed: images may outlive every other static object.
Spares& spares()
{
    static auto* instance = new Spares;
    return *instance;
}

void giveBack(void* info)
{
    std::unique_ptr<Buffer> buffer(static_cast<Buffer*>(info));
    QVector<Buffer> unused { *buffer };
    if (buffer->bytes <= PageBuffers::MaxSpareBytes) {
        Spares& all = spares();
        QMutexLocker lock(&all.mutex);
        // The newest buffer is kept, the oldest spares go: recent memory is likelier cached.
        all.buffers.append(*buffer);
        unused.clear();
        qint64 bytes = 0;
        for (const Buffer& spare : qAsConst(all.buffers))
            bytes += spare.bytes;
        while (all.buffers.size() > PageBuffers::MaxSpare || bytes > PageBuffers::MaxSpareBytes) {
            bytes -= all.buffers.first().bytes;
            unused.append(all.buffers.takeFirst());
        }
    }
    for (const Buffer& spare : qAsConst(unused))
        std::free(spare.data);
}

} // namespace

QImage PageBuffers::newImage(const QSize& size, QImage::Format format)
{
    if (size.isEmpty() || QImage::toPixelFormat(format).bitsPerPixel() != 32)
        return QImage();
    const qint64 bytesPerLine = qint64(size.width()) * 4;
    const qint64 bytes = bytesPerLine * size.height();
    if (bytes > INT_MAX)
        return QImage();
    auto* buffer = new Buffer;
    {
        Spares& all = spares();
        QMutexLocker lock(&all.mutex);
        // A spare of the same size, or a little larger (pages of one book differ slightly).
        for (int i = all.buffers.size() - 1; i >= 0; --i) {
            const Buffer& spare = all.buffers.at(i);
            if (spare.bytes >= bytes && spare.bytes - bytes <= spare.bytes / 4) {
                *buffer = all.buffers.takeAt(i);
                break;
            }
        }
    }
    if (!buffer->data) {
        buffer->data = static_cast<uchar*>(std::malloc(size_t(bytes)));
        buffer->bytes = bytes;
    }
    if (!buffer->data) {
        delete buffer;
        return QImage();
    }
    QImage image(buffer->data, size.width(), size.height(), int(bytesPerLine), format, giveBack, buffer);
    if (image.isNull()) {
        // Refused images never call their clean-up.
        std::free(buffer->data);
        delete buffer;
    }
    return image;
}

void PageBuffers::releaseSpares()
{
    QVector<Buffer> unused;
    {
        Spares& all = spares();
        QMutexLocker lock(&all.mutex);
        unused.swap(all.buffers);
    }
    for (const Buffer& spare : qAsConst(unused))
        std::free(spare.data);
}

int PageBuffers::spareCount()
{
    Spares& all = spares();
    QMutexLocker lock(&all.mutex);
    return all.buffers.size();
}
