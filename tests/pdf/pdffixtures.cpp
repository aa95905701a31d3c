#include "pdffixtures.h"

#include <QFile>

namespace pdffixtures {

const QRectF redBox(72, 72, 144, 72);
const int rotationValues[7] = { 0, 90, 180, 270, -90, 450, 45 };

PdfWriter book()
{
    PdfWriter pdf;
    const int first = pdf.addPage();
    pdf.addRect(first, redBox, Qt::red);
    pdf.addText(first, QPointF(72, 200), 24, QStringLiteral("Chapter One"), PdfWriter::Font::HelveticaBold);
    pdf.addText(first, QPointF(72, 250), 12, QStringLiteral("apples, pears and plums"));
    const int second = pdf.addPage(QSizeF(595.276, 841.89));
    pdf.addRect(second, QRectF(300, 400, 100, 100), Qt::blue);
    pdf.addText(second, QPointF(72, 100), 12, QStringLiteral("Second page, with Commas, inside 3"),
        PdfWriter::Font::TimesRoman);
    const int third = pdf.addPage();
    pdf.setRotation(third, 90);
    pdf.addRect(third, redBox, Qt::red);
    pdf.addText(third, QPointF(72, 300), 14, QStringLiteral("Rotated page"), PdfWriter::Font::Courier);

    pdf.setInfo("Title", QStringLiteral("A Test Book"));
    pdf.setInfo("Author", QStringLiteral("Ann Author"));
    pdf.setInfo("Creator", QStringLiteral("Test Writer"));
    pdf.setInfo("Producer", QStringLiteral("pdfwriter"));

    PdfWriter::OutlineItem partA { QStringLiteral("Part A"), 1, {} };
    partA.children.append({ QStringLiteral("Part A1"), 2, {} });
    partA.children.append({ QStringLiteral("Part A2"), 3, {} });
    pdf.setOutline({ partA, { QStringLiteral("Part B"), 3, {} }, { QStringLiteral("No target"), 0, {} } });
    return pdf;
}

PdfWriter rotations()
{
    PdfWriter pdf;
    for (const int degrees : rotationValues) {
        const int page = pdf.addPage();
        pdf.setRotation(page, degrees);
        pdf.addText(page, QPointF(72, 72), 12, QStringLiteral("Rotate %1").arg(degrees));
    }
    const int cropped = pdf.addPage();
    pdf.setCropBox(cropped, QRectF(100, 100, 300, 200));
    return pdf;
}

PdfWriter longOutline(int count)
{
    PdfWriter pdf;
    pdf.addPage();
    QList<PdfWriter::OutlineItem> items;
    items.reserve(count);
    for (int i = 1; i <= count; ++i)
        items.append({ QStringLiteral("Item %1").arg(i), 1, {} });
    pdf.setOutline(items);
    return pdf;
}

PdfWriter deepOutline(int depth)
{
    PdfWriter pdf;
    pdf.addPage();
    PdfWriter::OutlineItem root { QStringLiteral("Level %1").arg(depth), 1, {} };
    for (int level = depth - 1; level >= 1; --level)
        root = PdfWriter::OutlineItem { QStringLiteral("Level %1").arg(level), 1, { root } };
    pdf.setOutline({ root });
    return pdf;
}

PdfWriter cyclicOutline()
{
    PdfWriter pdf;
    pdf.addPage();
    const int outlines = pdf.reserveObject();
    const int first = pdf.reserveObject();
    const int second = pdf.reserveObject();
    const QByteArray page = QByteArray::number(pdf.pageObject(1));
    auto ref = [](int object) { return QByteArray::number(object) + " 0 R"; };
    pdf.setObject(outlines, "<< /Type /Outlines /First " + ref(first) + " /Last " + ref(second) + " /Count 2 >>");
    pdf.setObject(first,
        "<< /Title (First) /Parent " + ref(outlines) + " /Next " + ref(second) + " /First " + ref(first) + " /Dest ["
            + page + " 0 R /Fit] >>");
    pdf.setObject(second,
        "<< /Title (Second) /Parent " + ref(outlines) + " /Next " + ref(first) + " /Dest [" + page + " 0 R /Fit] >>");
    pdf.setOutlineRoot(outlines);
    return pdf;
}

QByteArray garbage()
{
    QByteArray bytes("This is not a PDF file at all.\n");
    for (int i = 0; i < 200; ++i)
        bytes += char(i * 37 % 251);
    return bytes;
}

QByteArray truncated()
{
    const QByteArray whole = book().toPdf();
    return whole.left(whole.indexOf("\nxref\n"));
}

QString writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        return QString();
    return path;
}

} // namespace pdffixtures
