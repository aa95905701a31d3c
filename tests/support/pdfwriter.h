#pragma once

#include <QByteArray>
#include <QColor>
#include <QImage>
#include <QList>
#include <QMap>
#include <QPointF>
#include <QRectF>
#include <QSizeF>
#include <QString>

// Real PDF files with a correct cross-reference table: pages, text in the standard fonts,
// rectangles, images, outline and information; hostile structure through objects of one's own.
class PdfWriter {
public:
    enum class Font { Helvetica, HelveticaBold, TimesRoman, Courier };

    struct OutlineItem {
        QString title;
        int page = 0; // target page from 1; 0 writes the item without a destination
        QList<OutlineItem> children;
    };

    PdfWriter();

    // The new page's number, from 1.
    int addPage(const QSizeF& size = QSizeF(612, 792));
    int pageCount() const { return m_pages.size(); }
    // Written as given, so values such as -90 and 450 reach the reader unchanged.
    void setRotation(int number, int degrees)
    {
        page(number).rotation = degrees;
        page(number).hasRotation = true;
    }
    // In PDF user space (origin at the bottom left of the media box).
    void setCropBox(int page, const QRectF& box) { this->page(page).cropBox = box; }

    // In points from the top left of the media box (before rotation); text outside Latin-1 becomes "?".
    void addText(int page, const QPointF& baseline, double size, const QString& text, Font font = Font::Helvetica);
    void addRect(int page, const QRectF& rect, const QColor& color);
    // RGB pixels, Flate- or DCT-encoded.
    void addImage(int page, const QRectF& rect, const QImage& image, bool jpeg = false);

    void setInfo(const QByteArray& key, const QString& value) { m_info.insert(key, value); }
    void setOutline(const QList<OutlineItem>& items) { m_outline = items; }

    // Objects of the test's own: a number now, the body later (null when never given).
    int reserveObject() { return m_nextObject++; }
    void setObject(int number, const QByteArray& body) { m_objects.insert(number, body); }
    int pageObject(int page) const { return m_pages.at(page - 1).object; }
    // The catalog's /Outlines names this object instead of the setOutline tree.
    void setOutlineRoot(int object) { m_outlineRoot = object; }

    QByteArray toPdf() const;
    bool save(const QString& path) const;

private:
    struct Page {
        int object = 0;
        int contents = 0;
        QSizeF size;
        int rotation = 0;
        bool hasRotation = false;
        QRectF cropBox;
        QByteArray operators;
        QMap<QByteArray, int> images; // resource name -> object
    };

    QByteArray stream(const QByteArray& dictionary, const QByteArray& data) const;
    Page& page(int number);
    int writeOutline(QMap<int, QByteArray>& objects, int& next, const QList<OutlineItem>& items, int parent) const;

    QList<Page> m_pages;
    QMap<int, QByteArray> m_objects;
    QMap<QByteArray, QString> m_info;
    QList<OutlineItem> m_outline;
    int m_nextObject = 1;
    int m_outlineRoot = 0;
};
