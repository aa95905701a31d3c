#include "epubbuilder.h"

#include "mobiwriter.h"
#include "zipwriter.h"

#include <QDir>
#include <QUrl>

namespace {

QString esc(const QString& text) { return text.toHtmlEscaped(); }

void writeNavPoints(QString& out, const QList<EpubBuilder::NavPoint>& points, int& order, int depth)
{
    const QString indent(depth * 2, QLatin1Char(' '));
    for (const EpubBuilder::NavPoint& point : points) {
        ++order;
        out += indent + QStringLiteral("<navPoint id=\"np%1\" playOrder=\"%1\">\n").arg(order);
        out += indent + QStringLiteral("  <navLabel><text>%1</text></navLabel>\n").arg(esc(point.title));
        out += indent + QStringLiteral("  <content src=\"%1\"/>\n").arg(esc(point.src));
        writeNavPoints(out, point.children, order, depth + 1);
        out += indent + QStringLiteral("</navPoint>\n");
    }
}

void writeNavList(QString& out, const QList<EpubBuilder::NavPoint>& points)
{
    out += QStringLiteral("<ol>");
    for (const EpubBuilder::NavPoint& point : points) {
        out += QStringLiteral("<li><a href=\"%1\">%2</a>").arg(esc(point.src), esc(point.title));
        if (!point.children.isEmpty())
            writeNavList(out, point.children);
        out += QStringLiteral("</li>");
    }
    out += QStringLiteral("</ol>");
}

} // namespace

QString EpubBuilder::entryOf(const QString& href) const
{
    return QDir::cleanPath(itemPath(QUrl::fromPercentEncoding(href.section(QLatin1Char('#'), 0, 0).toUtf8())));
}

void EpubBuilder::addChapter(const QString& id, const QString& href, const QString& title, const QString& bodyHtml)
{
    addItem(id, href, xhtml(title, bodyHtml));
    if (!m_customNav)
        m_navPoints.append({ title, href, {} });
}

void EpubBuilder::addItem(
    const QString& id, const QString& href, const QByteArray& data, const QString& mediaType, bool inSpine)
{
    m_items.append({ id, href, data, mediaType, inSpine, true, QString() });
}

void EpubBuilder::addMissingItem(const QString& id, const QString& href, bool inSpine)
{
    addItem(id, href, QByteArray(), QStringLiteral("application/xhtml+xml"), inSpine);
    m_items.last().present = false;
}

void EpubBuilder::setCover(const QString& href, const QByteArray& data, const QString& mediaType)
{
    m_coverId = QStringLiteral("cover-image");
    addItem(m_coverId, href, data, mediaType, false);
    if (m_version >= 3)
        m_items.last().properties = m_coverId;
}

QByteArray EpubBuilder::xhtml(const QString& title, const QString& bodyHtml)
{
    QString out = QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<!DOCTYPE html>\n");
    out += QStringLiteral("<html xmlns=\"http://www.w3.org/1999/xhtml\">\n<head>\n<title>%1</title>\n").arg(esc(title));
    out += QStringLiteral("<meta http-equiv=\"Content-Type\" content=\"text/html; charset=utf-8\"/>\n</head>\n");
    out += QStringLiteral("<body>\n%1\n</body>\n</html>\n").arg(bodyHtml);
    return out.toUtf8();
}

QByteArray EpubBuilder::png(int width, int height, unsigned rgb)
{
    return MobiWriter::image(QSize(width, height), QColor::fromRgb(rgb));
}

QByteArray EpubBuilder::opf() const
{
    QString out = QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n");
    out += QStringLiteral(
        "<package xmlns=\"http://www.idpf.org/2007/opf\" version=\"%1\" unique-identifier=\"bookid\">\n")
               .arg(m_version >= 3 ? QStringLiteral("3.0") : QStringLiteral("2.0"));
    out += QStringLiteral("<metadata xmlns:dc=\"http://purl.org/dc/elements/1.1/\" "
                          "xmlns:opf=\"http://www.idpf.org/2007/opf\">\n");
    out += QStringLiteral("<dc:title>%1</dc:title>\n").arg(esc(m_title));
    if (!m_author.isEmpty())
        out += QStringLiteral("<dc:creator opf:role=\"aut\">%1</dc:creator>\n").arg(esc(m_author));
    out += QStringLiteral("<dc:language>%1</dc:language>\n").arg(esc(m_language));
    out += QStringLiteral("<dc:identifier id=\"bookid\">%1</dc:identifier>\n").arg(esc(m_identifier));
    for (const auto& meta : m_metadata)
        out += QStringLiteral("<%1>%2</%1>\n").arg(meta.first, esc(meta.second));
    if (!m_coverId.isEmpty())
        out += QStringLiteral("<meta name=\"cover\" content=\"%1\"/>\n").arg(m_coverId);
    if (m_version >= 3)
        out += QStringLiteral("<meta property=\"dcterms:modified\">2024-01-01T00:00:00Z</meta>\n");
    out += QStringLiteral("</metadata>\n<manifest>\n");
    if (m_writeNcx)
        out += QStringLiteral("<item id=\"ncx\" href=\"toc.ncx\" media-type=\"application/x-dtbncx+xml\"/>\n");
    if (m_version >= 3)
        out += QStringLiteral("<item id=\"nav\" href=\"%1\" media-type=\"application/xhtml+xml\" "
                              "properties=\"nav\"/>\n")
                   .arg(esc(m_navHref));
    for (const Item& item : m_items) {
        out += QStringLiteral("<item id=\"%1\" href=\"%2\" media-type=\"%3\"")
                   .arg(esc(item.id), esc(item.href), item.mediaType);
        if (!item.properties.isEmpty())
            out += QStringLiteral(" properties=\"%1\"").arg(item.properties);
        out += QStringLiteral("/>\n");
    }
    out += QStringLiteral("</manifest>\n<spine%1>\n").arg(m_writeNcx ? QStringLiteral(" toc=\"ncx\"") : QString());
    for (const Item& item : m_items) {
        if (item.inSpine)
            out += QStringLiteral("<itemref idref=\"%1\"/>\n").arg(esc(item.id));
    }
    out += QStringLiteral("</spine>\n</package>\n");
    return out.toUtf8();
}

QByteArray EpubBuilder::ncx() const
{
    QString out = QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n");
    out += QStringLiteral("<ncx xmlns=\"http://www.daisy.org/z3986/2005/ncx/\" version=\"2005-1\">\n");
    out += QStringLiteral("<head><meta name=\"dtb:uid\" content=\"%1\"/></head>\n").arg(esc(m_identifier));
    out += QStringLiteral("<docTitle><text>%1</text></docTitle>\n<navMap>\n").arg(esc(m_title));
    int order = 0;
    writeNavPoints(out, m_navPoints, order, 1);
    out += QStringLiteral("</navMap>\n</ncx>\n");
    return out.toUtf8();
}

bool EpubBuilder::write(const QString& path) const
{
    ZipWriter zip(path);
    zip.add(QStringLiteral("mimetype"), QByteArrayLiteral("application/epub+zip"), false);
    zip.add(QStringLiteral("META-INF/container.xml"),
        !m_containerXml.isEmpty()
            ? m_containerXml
            : QStringLiteral(
                "<?xml version=\"1.0\"?>\n"
                "<container version=\"1.0\" xmlns=\"urn:oasis:names:tc:opendocument:xmlns:container\">\n"
                "<rootfiles><rootfile full-path=\"%1\" media-type=\"application/oebps-package+xml\"/></rootfiles>\n"
                "</container>\n")
                  .arg(esc(opfPath()))
                  .toUtf8());
    zip.add(opfPath(), opf());
    if (m_writeNcx)
        zip.add(itemPath(QStringLiteral("toc.ncx")), ncx());
    if (m_version >= 3) {
        QString nav;
        nav += QStringLiteral("<nav xmlns:epub=\"http://www.idpf.org/2007/ops\" epub:type=\"toc\"><h1>Contents</h1>");
        writeNavList(nav, m_navPoints);
        nav += QStringLiteral("</nav>");
        zip.add(itemPath(m_navHref), xhtml(QStringLiteral("Contents"), m_navBody.isEmpty() ? nav : m_navBody));
    }
    for (const Item& item : m_items) {
        if (item.present)
            zip.add(entryOf(item.href), item.data);
    }
    for (const auto& file : m_archiveFiles)
        zip.add(file.first, file.second);
    return zip.write();
}
