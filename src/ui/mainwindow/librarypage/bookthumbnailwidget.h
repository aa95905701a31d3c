#pragma once

#include "widgets/dropshadowpixmap.h"

#include <QMargins>
#include <QSize>
#include <QWidget>

class KelPixmapCache;

// Measures of one thumbnail size: 0 the table row, 1 the library card, 2 the properties dialog. The
// layout values are read by the book items and the table header.
struct ThumbnailGeometry {
    struct RowLayout {
        int first[4] = { 0, 0, 0, 0 };
        int second[4] = { 0, 0, 0, 0 };
        int separatorHeight = 0;
    };
    struct CardLayout {
        int margins[4] = { 0, 0, 0, 0 };
        int first = 0;
        int second = 0;
    };

    int mode = 0;
    QSize coverSize;
    int cornerRadius = 0;
    QMargins shadowMargins;
    QList<ShadowSpec> shadows;
    RowLayout rowLayout;
    CardLayout cardLayout;

    QSize outerSize() const { return coverSize.grownBy(shadowMargins); }
};

// The shared record of a size mode; an unknown mode gives the record of mode 0.
const ThumbnailGeometry& thumbnailGeometry(int sizeMode);

// One book cover, scaled and centre-cropped to the size mode's cover with rounded corners on a soft
// shadow; a coloured placeholder with title and author while there is no usable cover. Covers are
// read and scaled on the global thread pool; the widget repaints when its cover arrives.
class BookThumbnailWidget : public QWidget {
    Q_OBJECT
public:
    explicit BookThumbnailWidget(int sizeMode, QWidget* parent = nullptr);
    ~BookThumbnailWidget() override;

    void setSizeMode(int mode);
    int sizeMode() const;
    void setImagePath(const QString& path);
    QString imagePath() const;
    void setTitle(const QString& title);
    void setAuthor(const QString& author);
    void setColorIndex(int index);
    // Forgets every cached size of the current cover, so a replaced file is read again.
    void reloadImage();
    // The same for every cover showing the image at the path, which repaint.
    static void reloadImages(const QString& path);
    QRect coverRect() const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

    // "Thumb-<path>-<width>-<height>-<ratio>".
    static QString thumbnailKey(const QString& path, const QSize& coverSize, double ratio);
    // The keys made so far for a path.
    static QStringList thumbnailKeys(const QString& path);
    static KelPixmapCache* thumbnailCache();

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    class Private;
    Private* d;
};
