#pragma once

#include "toctree.h"

#include <QImage>
#include <QObject>
#include <QPair>

// A book shown as page images (comics, PDF). Pages are numbered from 1. requestImage runs on
// pool threads; everything else on the GUI thread.
class ImageDocument : public QObject {
    Q_OBJECT

public:
    explicit ImageDocument(QObject* parent = nullptr);
    ~ImageDocument() override;

    // Opens the book; success shows in pageCount() (0 when nothing could be loaded).
    virtual void load(const QString& path) = 0;
    virtual QString title() const = 0;
    virtual int pageCount() const = 0;
    virtual QList<TocPoint> toc() const = 0;
    virtual QList<SearchItem> search(const QString& query) = 0;
    // A null image for a page outside 1..pageCount(). Called on worker threads.
    virtual QImage requestImage(int page, double scale) = 0;
    // How many times larger than nominal requestImage renders a page.
    virtual double scaleFactor() const = 0;

    int columnCount() const { return m_columnCount; }
    int pageNumber() const { return m_pageNumber; }
    void setColumnCount(int columns);
    void setPageNumber(int page);
    QImage coverImage();
    QPair<QImage, QImage> requestImages(int first, int second, double scale);

signals:
    void pageNumberChanged(int number);
    void columnCountChanged(int columns);

protected:
    // The "Go to page %1" hit for a query that is a page number in 1..pageCount(); an empty
    // list otherwise. Implementations put it first in their search results.
    QList<SearchItem> pageNumberHit(const QString& query) const;

private:
    int m_columnCount = 1;
    int m_pageNumber = 1;
};
