#include "epubfixture.h"
#include "testfiles.h"

#include <QFile>

const QByteArray EpubFixture::Xhtml11Doctype = "<!DOCTYPE html PUBLIC \"-//W3C//DTD XHTML 1.1//EN\" "
                                               "\"http://www.w3.org/TR/xhtml11/DTD/xhtml11.dtd\">\n";

EpubFixture::EpubFixture() = default;

bool EpubFixture::write(const EpubBuilder& builder) { return m_dir.isValid() && builder.write(bookPath()); }

epub::EpubError EpubFixture::convert(bool fast)
{
    m_parser.reset();
    m_document.reset(new epub::EpubDocument(bookPath()));
    m_parser.reset(new epub::EpubParser(m_document.data()));
    return m_parser->parse(bookPath(), outputDir(), fast);
}

QByteArray EpubFixture::readOutput(const QString& relative) const { return testfiles::read(outputFile(relative)); }

QByteArray EpubFixture::chapter(const QByteArray& body, const QByteArray& doctype)
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n" + doctype
        + "<html xmlns=\"http://www.w3.org/1999/xhtml\">\n<head><title>C</title></head>\n<body>" + body
        + "</body>\n</html>\n";
}

QString tocText(const QList<epub::NavPoint>& points)
{
    QStringList parts;
    for (const epub::NavPoint& point : points)
        parts.append(point.label + '=' + point.src
            + (point.children.isEmpty() ? QString() : '(' + tocText(point.children) + ')'));
    return parts.join(' ');
}
