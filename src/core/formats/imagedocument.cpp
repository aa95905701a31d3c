#include "imagedocument.h"

#include <QCoreApplication>

ImageDocument::ImageDocument(QObject* parent)
    : QObject(parent)
{
}

ImageDocument::~ImageDocument() = default;

void ImageDocument::setColumnCount(int columns)
{
    const int clamped = qBound(1, columns, 2);
    if (clamped == m_columnCount)
        return;
    m_columnCount = clamped;
    emit columnCountChanged(m_columnCount);
}

void ImageDocument::setPageNumber(int page)
{
    const int clamped = qBound(1, page, qMax(1, pageCount()));
    if (clamped == m_pageNumber)
        return;
    m_pageNumber = clamped;
    emit pageNumberChanged(m_pageNumber);
}

QImage ImageDocument::coverImage() { return requestImage(1, 1.0); }

QPair<QImage, QImage> ImageDocument::requestImages(int first, int second, double scale)
{
    QImage firstImage = requestImage(first, scale);
    QImage secondImage = requestImage(second, scale);
    return qMakePair(firstImage, secondImage);
}

QList<SearchItem> ImageDocument::pageNumberHit(const QString& query) const
{
    bool ok = false;
    const int page = query.trimmed().toInt(&ok);
    if (!ok || page < 1 || page > pageCount())
        return {};
    SearchItem item;
    item.text = QCoreApplication::translate("MainWindow_Reading_Search", "Go to page %1").arg(page);
    item.query = query;
    item.title = item.text;
    item.link->page = page;
    return { item };
}
