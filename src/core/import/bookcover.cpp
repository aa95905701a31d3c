#include "bookcover.h"

#include "appdirs.h"
#include "checkedsave.h"

#include <QBuffer>
#include <QDebug>
#include <QFile>
#include <QImageReader>

namespace bookcover {

QSize coverSize(const QSize& source)
{
    if (source.width() <= 0 || source.height() <= 0)
        return QSize();
    const qint64 width = (qint64(source.width()) * kHeight + source.height() / 2) / source.height();
    if (width <= kMaxWidth)
        return QSize(qMax<int>(1, int(width)), kHeight);
    const qint64 height = (qint64(source.height()) * kMaxWidth + source.width() / 2) / source.width();
    return QSize(kMaxWidth, qMax<int>(1, int(height)));
}

QImage readImage(QIODevice* device, const QString& what)
{
    QImageReader reader(device);
    reader.setAutoTransform(true);
    const QSize size = reader.size();
    if (!size.isValid()) {
        qWarning() << "The cover" << what << "is not an image:" << reader.errorString();
        return QImage();
    }
    if (qint64(size.width()) * size.height() > kMaxSourcePixels) {
        qWarning() << "The cover" << what << "is not decoded: it has" << size.width() << "x" << size.height()
                   << "pixels";
        return QImage();
    }
    // Only ever shrink while decoding: a small image is enlarged smoothly by writeCover.
    const QSize target = coverSize(size);
    if (target.width() < size.width() && target.height() < size.height())
        reader.setScaledSize(target);
    QImage image = reader.read();
    if (image.isNull())
        qWarning() << "The cover" << what << "cannot be decoded:" << reader.errorString();
    return image;
}

QImage readImage(const QString& file)
{
    QFile device(file);
    if (!device.open(QIODevice::ReadOnly)) {
        qWarning() << "Cannot open the cover" << file << device.errorString();
        return QImage();
    }
    return readImage(&device, file);
}

} // namespace bookcover

QString writeCover(const QString& bookPath, const QImage& image)
{
    if (image.isNull())
        return QString();
    const QSize size = bookcover::coverSize(image.size());
    QImage cover = image.size() == size ? image : image.scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    cover.setDevicePixelRatio(1.0);

    const QString path = bookDataDir(bookPath) + QStringLiteral("/cover.png");
    if (!checkedsave::writeFile(path, [&cover](QIODevice* device) { return cover.save(device, "PNG"); })) {
        qWarning() << "Cannot write the cover" << path;
        return QString();
    }
    return path;
}

bool writeUserCover(const QString& bookPath, const QByteArray& encoded)
{
    QBuffer buffer;
    buffer.setData(encoded);
    buffer.open(QIODevice::ReadOnly);
    const QByteArray format = QImageReader(&buffer).format();
    buffer.seek(0);
    const QString path = coverFilePath(bookPath);
    // Decoded in any case: what the library shows later must be an image it can read.
    const QImage image = bookcover::readImage(&buffer, path);
    if (image.isNull())
        return false;
    const checkedsave::Result saved = format == "jpeg"
        ? checkedsave::writeFile(path, encoded)
        : checkedsave::writeFile(path, [&image](QIODevice* device) { return image.save(device, "JPG", 90); });
    if (!saved)
        qWarning() << "Cannot write the cover" << path << saved.errorText;
    return saved.ok();
}
