#include "fb2builder.h"
#include "testfiles.h"
#include "zipwriter.h"

#include <QDebug>
#include <QTextCodec>

namespace {

QString element(const QString& tag, const QString& text)
{
    return text.isNull() ? QString() : QStringLiteral("<%1>%2</%1>").arg(tag, Fb2Builder::esc(text));
}

} // namespace

void Fb2Builder::addBody(const QString& innerXml, const QString& name)
{
    const QString attribute = name.isNull() ? QString() : QStringLiteral(" name=\"%1\"").arg(esc(name));
    m_parts.append(QStringLiteral("<body%1>%2</body>").arg(attribute, innerXml));
}

void Fb2Builder::addBinary(const QString& id, const QByteArray& data, const QString& contentType)
{
    // Lines of 76 characters, as book editors write them.
    const QByteArray base64 = data.toBase64();
    QString text;
    for (int i = 0; i < base64.size(); i += 76)
        text += QString::fromLatin1(base64.mid(i, 76)) + (m_oneLine ? QString() : QStringLiteral("\n"));
    m_binaries.append(
        QStringLiteral("<binary id=\"%1\" content-type=\"%2\">%3</binary>").arg(esc(id), esc(contentType), text));
}

QString Fb2Builder::authorXml(const QString& tag, const Author& author) const
{
    return QStringLiteral("<%1>").arg(tag) + element(QStringLiteral("first-name"), author.first)
        + element(QStringLiteral("middle-name"), author.middle) + element(QStringLiteral("last-name"), author.last)
        + element(QStringLiteral("nickname"), author.nickname) + element(QStringLiteral("email"), author.email)
        + QStringLiteral("</%1>").arg(tag);
}

QString Fb2Builder::descriptionXml() const
{
    if (m_customDescription)
        return m_description;
    QString info;
    for (const QString& genre : m_genres)
        info += element(QStringLiteral("genre"), genre);
    for (const Author& author : m_authors)
        info += authorXml(QStringLiteral("author"), author);
    info += element(QStringLiteral("book-title"), m_bookTitle);
    if (!m_annotation.isNull())
        info += QStringLiteral("<annotation>%1</annotation>").arg(m_annotation);
    if (!m_coverImages.isEmpty()) {
        info += QStringLiteral("<coverpage>");
        for (const QString& id : m_coverImages)
            info += image(id);
        info += QStringLiteral("</coverpage>");
    }
    info += element(QStringLiteral("lang"), m_lang);

    QString out = QStringLiteral("<description><title-info>%1</title-info>").arg(info);
    if (!m_publishInfo.isEmpty()) {
        out += QStringLiteral("<publish-info>") + element(QStringLiteral("book-name"), m_publishInfo.at(0))
            + element(QStringLiteral("publisher"), m_publishInfo.at(1))
            + element(QStringLiteral("city"), m_publishInfo.at(2))
            + element(QStringLiteral("year"), m_publishInfo.at(3)) + QStringLiteral("</publish-info>");
    }
    return out + QStringLiteral("</description>");
}

QString Fb2Builder::xml() const
{
    const QString nl = m_oneLine ? QString() : QStringLiteral("\n");
    QString out;
    const QString declared = m_declared.isNull() ? m_codec : m_declared;
    const QString q { QLatin1Char(m_quote) };
    out += QStringLiteral("<?xml version=") + q + QStringLiteral("1.0") + q + QStringLiteral(" encoding=") + q
        + declared + q + QStringLiteral("?>") + nl;
    out += QStringLiteral("<FictionBook xmlns=\"http://www.gribuser.ru/xml/fictionbook/2.0\" "
                          "xmlns:l=\"http://www.w3.org/1999/xlink\" xmlns:xlink=\"http://www.w3.org/1999/xlink\">")
        + nl;
    out += descriptionXml() + nl;
    out += m_parts.join(nl) + nl;
    out += m_binaries.join(nl) + nl;
    return out + QStringLiteral("</FictionBook>") + nl;
}

QByteArray Fb2Builder::bytes() const
{
    QTextCodec* codec = QTextCodec::codecForName(m_codec.toLatin1());
    if (!codec) {
        qWarning() << "Fb2Builder: unknown codec" << m_codec;
        return QByteArray();
    }
    // The UTF-16 and UTF-32 codecs write their own mark; UTF-8 needs it added.
    QTextCodec::ConverterState state(m_bom ? QTextCodec::DefaultConversion : QTextCodec::IgnoreHeader);
    const QString text = xml();
    QByteArray data = codec->fromUnicode(text.constData(), text.size(), &state);
    if (m_bom && codec->mibEnum() == 106)
        data.prepend("\xEF\xBB\xBF");
    return data;
}

bool Fb2Builder::write(const QString& path) const { return testfiles::write(path, bytes()); }

bool Fb2Builder::writeZip(const QString& zipPath, const QString& entryName) const
{
    return ZipWriter::write(zipPath, { { entryName, bytes() } });
}

QString Fb2Builder::title(const QStringList& paragraphs)
{
    QString inner;
    for (const QString& paragraph : paragraphs)
        inner += p(paragraph);
    return QStringLiteral("<title>%1</title>").arg(inner);
}

QString Fb2Builder::section(const QString& innerXml, const QString& titleText, const QString& id)
{
    const QString attribute = id.isNull() ? QString() : QStringLiteral(" id=\"%1\"").arg(esc(id));
    const QString heading = titleText.isNull() ? QString() : title({ titleText });
    return QStringLiteral("<section%1>%2%3</section>").arg(attribute, heading, innerXml);
}

QString Fb2Builder::nestedSections(int depth, const QString& leafXml)
{
    QString out;
    for (int level = 1; level <= depth; ++level)
        out += QStringLiteral("<section>") + title({ QStringLiteral("Level %1").arg(level) });
    out += leafXml;
    for (int level = 1; level <= depth; ++level)
        out += QStringLiteral("</section>");
    return out;
}

QString Fb2Builder::poem(const QList<QStringList>& stanzas, const QString& titleText)
{
    QString inner = titleText.isNull() ? QString() : title({ titleText });
    for (const QStringList& verses : stanzas) {
        inner += QStringLiteral("<stanza>");
        for (const QString& verse : verses)
            inner += element(QStringLiteral("v"), verse);
        inner += QStringLiteral("</stanza>");
    }
    return QStringLiteral("<poem>%1</poem>").arg(inner);
}

QString Fb2Builder::image(const QString& id, const QString& attribute)
{
    return QStringLiteral("<image %1=\"#%2\"/>").arg(attribute, esc(id));
}
