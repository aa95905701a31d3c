#include "pdfwriter.h"
#include "testfiles.h"

#include <QBuffer>
#include <QCryptographicHash>

namespace {

// Fixed objects: the catalog, the page tree and the four fonts, in this order.
enum FixedObject { Catalog = 1, PageTree, FirstFont, ObjectsAfterFonts = FirstFont + 4 };

const char* const fontNames[] = { "Helvetica", "Helvetica-Bold", "Times-Roman", "Courier" };

QByteArray number(double value) { return QByteArray::number(value, 'f', 3); }

QByteArray reference(int object) { return QByteArray::number(object) + " 0 R"; }

QByteArray literalString(const QString& text)
{
    QByteArray out("(");
    for (const QChar c : text) {
        const char byte = c.unicode() < 256 ? char(c.unicode()) : '?';
        if (byte == '(' || byte == ')' || byte == '\\')
            out += '\\';
        out += byte;
    }
    return out + ')';
}

// A text string: UTF-16BE with its byte-order mark, as a hex string.
QByteArray textString(const QString& text)
{
    QByteArray utf16("\xfe\xff");
    for (const QChar c : text) {
        utf16 += char(c.unicode() >> 8);
        utf16 += char(c.unicode() & 0xff);
    }
    return '<' + utf16.toHex() + '>';
}

QByteArray streamObject(const QByteArray& dictionary, const QByteArray& bytes)
{
    return "<< " + dictionary + " /Length " + QByteArray::number(bytes.size()) + " >>\nstream\n" + bytes
        + "\nendstream";
}

QByteArray colour(const QColor& color)
{
    return number(color.redF()) + ' ' + number(color.greenF()) + ' ' + number(color.blueF());
}

} // namespace

PdfWriter::PdfWriter()
    : m_nextObject(ObjectsAfterFonts)
{
}

int PdfWriter::addPage(const QSizeF& size)
{
    Page page;
    page.object = m_nextObject++;
    page.contents = m_nextObject++;
    page.size = size;
    m_pages.append(page);
    return m_pages.size();
}

PdfWriter::Page& PdfWriter::page(int number)
{
    Q_ASSERT(number >= 1 && number <= m_pages.size());
    return m_pages[number - 1];
}

void PdfWriter::addText(int number, const QPointF& baseline, double size, const QString& text, Font font)
{
    Page& target = page(number);
    target.operators += "BT /F" + QByteArray::number(int(font) + 1) + ' ' + ::number(size) + " Tf "
        + ::number(baseline.x()) + ' ' + ::number(target.size.height() - baseline.y()) + " Td " + literalString(text)
        + " Tj ET\n";
}

void PdfWriter::addRect(int number, const QRectF& rect, const QColor& color)
{
    Page& target = page(number);
    target.operators += "q " + colour(color) + " rg " + ::number(rect.x()) + ' '
        + ::number(target.size.height() - rect.bottom()) + ' ' + ::number(rect.width()) + ' ' + ::number(rect.height())
        + " re f Q\n";
}

void PdfWriter::addImage(int number, const QRectF& rect, const QImage& image, bool jpeg)
{
    const QImage rgb = image.convertToFormat(QImage::Format_RGB888);
    const QByteArray dictionary = "/Type /XObject /Subtype /Image /Width " + QByteArray::number(rgb.width())
        + " /Height " + QByteArray::number(rgb.height()) + " /ColorSpace /DeviceRGB /BitsPerComponent 8";
    const int object = reserveObject();
    if (jpeg) {
        QByteArray encoded;
        QBuffer buffer(&encoded);
        buffer.open(QIODevice::WriteOnly);
        rgb.save(&buffer, "JPEG", 85);
        setObject(object, streamObject(dictionary + " /Filter /DCTDecode", encoded));
    } else {
        QByteArray samples;
        for (int y = 0; y < rgb.height(); ++y)
            samples.append(reinterpret_cast<const char*>(rgb.constScanLine(y)), rgb.width() * 3);
        setObject(object, stream(dictionary, samples));
    }
    Page& target = page(number);
    const QByteArray name = "Im" + QByteArray::number(target.images.size() + 1);
    target.images.insert(name, object);
    target.operators += "q " + ::number(rect.width()) + " 0 0 " + ::number(rect.height()) + ' ' + ::number(rect.x())
        + ' ' + ::number(target.size.height() - rect.bottom()) + " cm /" + name + " Do Q\n";
}

QByteArray PdfWriter::stream(const QByteArray& dictionary, const QByteArray& data) const
{
    // qCompress writes a zlib stream behind a 4-byte length: FlateDecode wants the stream.
    return streamObject(dictionary + " /Filter /FlateDecode", qCompress(data, 6).mid(4));
}

int PdfWriter::writeOutline(
    QMap<int, QByteArray>& objects, int& next, const QList<OutlineItem>& items, int parent) const
{
    // Numbers first, so each item can name its siblings; returns the number of visible items.
    QList<int> numbers;
    for (int i = 0; i < items.size(); ++i)
        numbers.append(next++);
    int count = items.size();
    for (int i = 0; i < items.size(); ++i) {
        const OutlineItem& item = items.at(i);
        QByteArray body = "<< /Title " + textString(item.title) + " /Parent " + reference(parent);
        if (i > 0)
            body += " /Prev " + reference(numbers.at(i - 1));
        if (i + 1 < items.size())
            body += " /Next " + reference(numbers.at(i + 1));
        if (item.page >= 1 && item.page <= m_pages.size())
            body += " /Dest [" + reference(pageObject(item.page)) + " /XYZ null null null]";
        if (!item.children.isEmpty()) {
            const int firstChild = next;
            const int children = writeOutline(objects, next, item.children, numbers.at(i));
            body += " /First " + reference(firstChild) + " /Last " + reference(firstChild + item.children.size() - 1);
            body += " /Count " + QByteArray::number(children);
            count += children;
        }
        objects.insert(numbers.at(i), body + " >>");
    }
    return count;
}

QByteArray PdfWriter::toPdf() const
{
    QMap<int, QByteArray> objects = m_objects;
    int next = m_nextObject;

    QByteArray fonts;
    for (int i = 0; i < 4; ++i) {
        objects.insert(FirstFont + i,
            QByteArray("<< /Type /Font /Subtype /Type1 /BaseFont /") + fontNames[i] + " /Encoding /WinAnsiEncoding >>");
        fonts += " /F" + QByteArray::number(i + 1) + ' ' + reference(FirstFont + i);
    }

    QByteArray kids;
    for (const Page& page : m_pages) {
        kids += reference(page.object) + ' ';
        QByteArray body = "<< /Type /Page /Parent " + reference(PageTree) + " /MediaBox [0 0 "
            + number(page.size.width()) + ' ' + number(page.size.height()) + "] /Contents " + reference(page.contents)
            + " /Resources << /Font <<" + fonts + " >>";
        if (!page.images.isEmpty()) {
            body += " /XObject <<";
            for (auto it = page.images.cbegin(); it != page.images.cend(); ++it)
                body += " /" + it.key() + ' ' + reference(it.value());
            body += " >>";
        }
        body += " >>";
        if (page.hasRotation)
            body += " /Rotate " + QByteArray::number(page.rotation);
        if (!page.cropBox.isNull())
            body += " /CropBox [" + number(page.cropBox.left()) + ' ' + number(page.cropBox.top()) + ' '
                + number(page.cropBox.right()) + ' ' + number(page.cropBox.bottom()) + ']';
        objects.insert(page.object, body + " >>");
        objects.insert(page.contents, stream(QByteArray(), page.operators));
    }
    objects.insert(PageTree,
        "<< /Type /Pages /Kids [" + kids.trimmed() + "] /Count " + QByteArray::number(m_pages.size()) + " >>");

    int outlineRoot = m_outlineRoot;
    if (!outlineRoot && !m_outline.isEmpty()) {
        outlineRoot = next++;
        const int first = next;
        const int count = writeOutline(objects, next, m_outline, outlineRoot);
        objects.insert(outlineRoot,
            "<< /Type /Outlines /First " + reference(first) + " /Last " + reference(first + m_outline.size() - 1)
                + " /Count " + QByteArray::number(count) + " >>");
    }
    QByteArray catalog = "<< /Type /Catalog /Pages " + reference(PageTree);
    if (outlineRoot)
        catalog += " /Outlines " + reference(outlineRoot) + " /PageMode /UseOutlines";
    objects.insert(Catalog, catalog + " >>");

    int info = 0;
    if (!m_info.isEmpty()) {
        info = next++;
        QByteArray body = "<<";
        for (auto it = m_info.cbegin(); it != m_info.cend(); ++it)
            body += " /" + it.key() + ' ' + textString(it.value());
        objects.insert(info, body + " >>");
    }

    QByteArray pdf("%PDF-1.7\n%\xe2\xe3\xcf\xd3\n");
    QByteArray entries;
    for (int object = 1; object < next; ++object) {
        entries += QByteArray::number(pdf.size()).rightJustified(10, '0') + " 00000 n \n";
        pdf += QByteArray::number(object) + " 0 obj\n" + objects.value(object, "null") + "\nendobj\n";
    }
    const int xref = pdf.size();
    pdf += "xref\n0 " + QByteArray::number(next) + "\n0000000000 65535 f \n" + entries;
    const QByteArray id = QCryptographicHash::hash(pdf, QCryptographicHash::Md5).toHex();
    pdf += "trailer\n<< /Size " + QByteArray::number(next) + " /Root " + reference(Catalog);
    if (info)
        pdf += " /Info " + reference(info);
    pdf += " /ID [<" + id + "> <" + id + ">] >>\nstartxref\n" + QByteArray::number(xref) + "\n%%EOF\n";
    return pdf;
}

bool PdfWriter::save(const QString& path) const { return testfiles::write(path, toPdf()); }
