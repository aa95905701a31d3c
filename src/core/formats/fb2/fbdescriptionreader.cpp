// The description readers of FbBook: title-info, publish-info and document-info.
#include "fbbook.h"
#include "fbxmlreader.h"

#include <QDomElement>

namespace {

// All text below node, markup dropped and nothing put between the pieces; blank text between
// elements is layout and left out. Walked without recursion.
QString descendantText(const QDomNode& root)
{
    QString text;
    QDomNode node = root.firstChild();
    while (!node.isNull()) {
        if (node.isText()) {
            const QString data = node.toText().data();
            if (!fb2::isXmlWhitespace(data))
                text += data;
        }
        if (node.hasChildNodes()) {
            node = node.firstChild();
            continue;
        }
        while (!node.isNull() && node != root && node.nextSibling().isNull())
            node = node.parentNode();
        if (node.isNull() || node == root)
            break;
        node = node.nextSibling();
    }
    return text;
}

} // namespace

namespace fb2 {

bool FbBook::readAuthor(const QDomElement& element, FbAuthor& author)
{
    for (QDomElement child = element.firstChildElement(); !child.isNull(); child = child.nextSiblingElement()) {
        const QString tag = child.tagName();
        if (tag == QLatin1String("first-name"))
            elementText(child, author.firstName);
        else if (tag == QLatin1String("middle-name"))
            elementText(child, author.middleName);
        else if (tag == QLatin1String("last-name"))
            elementText(child, author.lastName);
        else if (tag == QLatin1String("email") || tag == QLatin1String("nickname"))
            elementText(child, author.contact);
    }
    return true;
}

bool FbBook::readTitleInfo(const QDomElement& element)
{
    FbTitleInfo& info = description.titleInfo;
    for (QDomElement child = element.firstChildElement(); !child.isNull(); child = child.nextSiblingElement()) {
        const QString tag = child.tagName();
        bool ok = true;
        if (tag == QLatin1String("genre")) {
            QString genre;
            ok = elementText(child, genre);
            if (!genre.isEmpty())
                info.genres.append(genre);
        } else if (tag == QLatin1String("author")) {
            ok = readAuthor(child, info.author);
        } else if (tag == QLatin1String("book-title")) {
            ok = elementText(child, info.bookTitle);
        } else if (tag == QLatin1String("annotation")) {
            info.annotation = descendantText(child);
        } else if (tag == QLatin1String("keywords")) {
            QString keywords;
            ok = elementText(child, keywords);
            info.keywords = keywords.split(QLatin1Char(' '), Qt::SkipEmptyParts);
        } else if (tag == QLatin1String("date")) {
            ok = readDate(child, info.date);
        } else if (tag == QLatin1String("coverpage")) {
            QString ref;
            for (QDomElement image = child.firstChildElement(); ok && !image.isNull();
                 image = image.nextSiblingElement()) {
                if (image.tagName() == QLatin1String("image"))
                    ok = readImageRef(image, ref);
            }
            info.coverPage = child;
            info.coverImageRef = ref;
        } else if (tag == QLatin1String("lang")) {
            ok = elementText(child, info.lang);
        } else if (tag == QLatin1String("src-lang")) {
            ok = elementText(child, info.srcLang);
        } else if (tag == QLatin1String("translator")) {
            FbAuthor translator;
            ok = readAuthor(child, translator);
            info.translators.append(translator);
        }
        if (!ok)
            return false;
    }
    return true;
}

bool FbBook::readPublishInfo(const QDomElement& element)
{
    FbPublishInfo& info = description.publishInfo;
    for (QDomElement child = element.firstChildElement(); !child.isNull(); child = child.nextSiblingElement()) {
        const QString tag = child.tagName();
        if (tag == QLatin1String("book-name"))
            elementText(child, info.bookName);
        else if (tag == QLatin1String("publisher"))
            elementText(child, info.publisher);
        else if (tag == QLatin1String("city"))
            elementText(child, info.city);
        else if (tag == QLatin1String("year"))
            elementText(child, info.year);
    }
    return true;
}

bool FbBook::readDocumentInfo(const QDomElement& element)
{
    FbDocumentInfo& info = description.documentInfo;
    for (QDomElement child = element.firstChildElement(); !child.isNull(); child = child.nextSiblingElement()) {
        const QString tag = child.tagName();
        bool ok = true;
        if (tag == QLatin1String("author"))
            ok = readAuthor(child, info.author);
        else if (tag == QLatin1String("program-used"))
            ok = elementText(child, info.programUsed);
        else if (tag == QLatin1String("date"))
            ok = readDate(child, info.date);
        else if (tag == QLatin1String("id"))
            ok = elementText(child, info.id);
        else if (tag == QLatin1String("version"))
            ok = elementText(child, info.version);
        if (!ok)
            return false;
    }
    return true;
}

} // namespace fb2
