#pragma once

#include <QImage>
#include <QSize>
#include <QString>

class QIODevice;

// Covers of library books: one PNG per book, "cover.png" in the book's data folder, 300 pixels
// high. Cover sources are untrusted: an encoded image is decoded only after its header's size
// has been checked, and straight at cover size where the format allows (JPEG), so a hostile
// book cannot make the import hold a huge picture.
namespace bookcover {

constexpr int kHeight = 300;
// Very wide images are fitted into this width instead, so scaling never enlarges them without
// bound.
constexpr int kMaxWidth = 4 * kHeight;
// Images whose header claims more pixels are not decoded.
constexpr qint64 kMaxSourcePixels = 50LL * 1000 * 1000;

// The size a cover of an image of `source` pixels gets: kHeight high with the width in
// proportion, or kMaxWidth wide when that would be wider. Never empty for a valid source.
QSize coverSize(const QSize& source);

// Decodes an encoded image for a cover; a null image (with a warning) when it is no image, is
// larger than kMaxSourcePixels or does not decode. what names the source in the log.
QImage readImage(QIODevice* device, const QString& what);
QImage readImage(const QString& file);

} // namespace bookcover

// Scales the image to cover size (smoothly) and stores it as "cover.png" in the data folder of
// bookPath, replacing an earlier one. The file's path; empty for a null image or when the file
// cannot be written (an earlier cover is then left as it was).
QString writeCover(const QString& bookPath, const QImage& image);

// Stores the user's own cover of the book at bookPath (a JPEG named after the path, as the book's
// properties store it), from the encoded image of a library archive: a JPEG as it came, another
// image as a JPEG of it. False, writing nothing, when the bytes are no image within the cover's
// limits or the file cannot be written.
bool writeUserCover(const QString& bookPath, const QByteArray& encoded);
