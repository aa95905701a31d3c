#include "localwebpage.h"

#include <QNetworkReply>
#include <QNetworkRequest>
#include <QSet>
#include <QWebElement>
#include <QWebFrame>
#include <QWebPage>
#include <QWebSettings>

QNetworkReply* LocalOnlyNetwork::createRequest(Operation op, const QNetworkRequest& request, QIODevice* outgoingData)
{
    const QString scheme = request.url().scheme().toLower();
    if (scheme == QLatin1String("file") && m_beforeRead)
        m_beforeRead(request.url().toLocalFile());
    const bool local
        = scheme == QLatin1String("file") || scheme == QLatin1String("qrc") || scheme == QLatin1String("data");
    QNetworkReply* reply = local ? QNetworkAccessManager::createRequest(op, request, outgoingData)
                                 : QNetworkAccessManager::createRequest(op, QNetworkRequest(QUrl()), nullptr);
    ++m_requests->made;
    // Counted once, whether the reply finishes or is deleted first.
    const auto done = [requests = m_requests, counted = std::make_shared<bool>(false)] {
        if (!*counted) {
            *counted = true;
            ++requests->done;
        }
    };
    connect(reply, &QNetworkReply::finished, reply, done);
    connect(reply, &QObject::destroyed, done);
    return reply;
}

void makePageLocalOnly(
    QWebPage* page, QObject* networkParent, const std::function<void(const QString& file)>& beforeRead)
{
    auto* network = new LocalOnlyNetwork(networkParent);
    network->setBeforeRead(beforeRead);
    page->setNetworkAccessManager(network);
    QWebSettings* settings = page->settings();
    settings->setAttribute(QWebSettings::PluginsEnabled, false);
    settings->setAttribute(QWebSettings::JavaEnabled, false);
    settings->setAttribute(QWebSettings::JavascriptCanOpenWindows, false);
    settings->setAttribute(QWebSettings::JavascriptCanCloseWindows, false);
    settings->setAttribute(QWebSettings::JavascriptCanAccessClipboard, false);
    settings->setAttribute(QWebSettings::LocalStorageEnabled, false);
    settings->setAttribute(QWebSettings::OfflineStorageDatabaseEnabled, false);
    settings->setAttribute(QWebSettings::OfflineWebApplicationCacheEnabled, false);
    settings->setAttribute(QWebSettings::LocalContentCanAccessRemoteUrls, false);
    settings->setAttribute(QWebSettings::PrivateBrowsingEnabled, true);
}

namespace {

const QString kXlinkNamespace = QStringLiteral("http://www.w3.org/1999/xlink");
const QString kXmlNamespace = QStringLiteral("http://www.w3.org/XML/1998/namespace");
const QString kXmlnsNamespace = QStringLiteral("http://www.w3.org/2000/xmlns/");

// Elements whose content or whose work is never part of a chapter shown by the engine: they run
// code, load other documents, change where addresses lead, or replace the page.
bool removedElement(const QString& name)
{
    static const QSet<QString> names { QStringLiteral("script"), QStringLiteral("noscript"), QStringLiteral("iframe"),
        QStringLiteral("frame"), QStringLiteral("object"), QStringLiteral("embed"), QStringLiteral("applet"),
        QStringLiteral("base") };
    return names.contains(name);
}

bool isAnimation(const QString& name)
{
    static const QSet<QString> names { QStringLiteral("animate"), QStringLiteral("set"), QStringLiteral("animatecolor"),
        QStringLiteral("animatetransform"), QStringLiteral("animatemotion") };
    return names.contains(name);
}

// Attributes (by local name) whose value the view reads as an address.
bool isAddressAttribute(const QString& name)
{
    static const QSet<QString> names { QStringLiteral("href"), QStringLiteral("src"), QStringLiteral("action"),
        QStringLiteral("formaction"), QStringLiteral("data"), QStringLiteral("poster"), QStringLiteral("background"),
        QStringLiteral("cite"), QStringLiteral("longdesc"), QStringLiteral("usemap"), QStringLiteral("codebase"),
        QStringLiteral("classid"), QStringLiteral("archive"), QStringLiteral("manifest"), QStringLiteral("profile"),
        QStringLiteral("lowsrc"), QStringLiteral("dynsrc"), QStringLiteral("ping"), QStringLiteral("icon"),
        QStringLiteral("srcset"), QStringLiteral("code"), QStringLiteral("pluginspage"), QStringLiteral("srcdoc") };
    return names.contains(name);
}

bool isHandler(const QString& name) { return name.startsWith(QLatin1String("on")); }

// Elements whose href names a resource to draw (a style sheet, an image, a shape), not a place
// to go.
bool loadsHref(const QString& element)
{
    static const QSet<QString> names { QStringLiteral("link"), QStringLiteral("image"), QStringLiteral("use"),
        QStringLiteral("feimage"), QStringLiteral("tref"), QStringLiteral("pattern"), QStringLiteral("lineargradient"),
        QStringLiteral("radialgradient"), QStringLiteral("filter"), QStringLiteral("textpath"), QStringLiteral("mpath"),
        QStringLiteral("cursor"), QStringLiteral("altglyph"), QStringLiteral("glyphref"),
        QStringLiteral("font-face-uri") };
    return names.contains(element);
}

// Whether an attribute of an element may keep its value. Every attribute loses a javascript:
// address; an address attribute keeps only the book's files and the reader's resources, images
// and styles written into the book (data:), and, on a link, an outside address that the reader
// hands to the desktop when it is clicked.
bool keepsValue(const QString& element, const QString& attribute, const QString& value)
{
    const QString scheme = addressScheme(value);
    if (scheme == QLatin1String("javascript") || scheme == QLatin1String("vbscript")
        || scheme == QLatin1String("livescript"))
        return false;
    if (!isAddressAttribute(attribute))
        return true;
    if (attribute == QLatin1String("srcdoc"))
        return false;
    if (scheme.isEmpty() || scheme == QLatin1String("file"))
        return true;
    const bool goesTo = attribute == QLatin1String("action") || attribute == QLatin1String("formaction")
        || attribute == QLatin1String("ping") || (attribute == QLatin1String("href") && !loadsHref(element));
    if (!goesTo)
        return scheme == QLatin1String("data") || scheme == QLatin1String("qrc");
    return attribute == QLatin1String("href")
        && (scheme == QLatin1String("http") || scheme == QLatin1String("https") || scheme == QLatin1String("ftp")
            || scheme == QLatin1String("mailto"));
}

// Takes out the attributes of one namespace that may not stay; how many.
int disarmAttributes(QWebElement& element, const QString& tag, const QString& space)
{
    int removed = 0;
    const QStringList names = element.attributeNames(space);
    for (const QString& name : names) {
        const QString local = name.toLower();
        const QString value = space.isEmpty() ? element.attribute(name) : element.attributeNS(space, name);
        // xml:base would lead relative addresses elsewhere.
        const bool base = space == kXmlNamespace && local == QLatin1String("base");
        if (!base && !isHandler(local) && keepsValue(tag, local, value))
            continue;
        if (space.isEmpty())
            element.removeAttribute(name);
        else
            element.removeAttributeNS(space, name);
        ++removed;
    }
    return removed;
}

bool removedWhole(const QWebElement& element, const QString& tag)
{
    if (removedElement(tag))
        return true;
    if (tag == QLatin1String("meta"))
        return element.hasAttribute(QStringLiteral("http-equiv"));
    if (isAnimation(tag)) {
        // An animation that writes an address or a handler could write one no check has seen.
        QString target = element.attribute(QStringLiteral("attributeName")).trimmed().toLower();
        target = target.mid(target.lastIndexOf(QLatin1Char(':')) + 1);
        return isAddressAttribute(target) || isHandler(target);
    }
    return false;
}

bool ignoredInScheme(QChar c)
{
    const ushort code = c.unicode();
    return code <= 0x20 || (code >= 0x7F && code <= 0x9F) || c.isSpace() || c.category() == QChar::Other_Format;
}

} // namespace

QString addressScheme(const QString& value)
{
    QString scheme;
    for (const QChar c : value) {
        if (c == QLatin1Char(':'))
            return !scheme.isEmpty() && scheme.at(0).isLetter() ? scheme.toLower() : QString();
        if (ignoredInScheme(c))
            continue;
        const ushort code = c.unicode();
        const bool schemeCharacter = (code >= 'a' && code <= 'z') || (code >= 'A' && code <= 'Z')
            || (code >= '0' && code <= '9') || code == '+' || code == '-' || code == '.';
        // Anything else ("/", "?", "#", letters beyond ASCII) makes the value relative.
        if (!schemeCharacter)
            return QString();
        scheme += c;
    }
    return QString();
}

int disarmScripts(QWebFrame* frame)
{
    int removed = 0;
    // The view lists attributes by namespace only. An attribute is in no namespace, in one the
    // HTML parser gives (xlink, xml, xmlns), or in one that the document declares on the element
    // or above it (the XML parser keeps each declaration as an attribute): elements come in
    // document order, so every namespace is known before an attribute in it.
    QSet<QString> spaces { QString(), kXlinkNamespace, kXmlNamespace, kXmlnsNamespace };
    // The root first: a search of the document finds what is below it only, and a second html
    // tag gives the root its attributes, as the root of an XML chapter can be any element.
    QList<QWebElement> elements { frame->documentElement() };
    elements += frame->findAllElements(QStringLiteral("*")).toList();
    for (QWebElement& element : elements) {
        const QString tag = element.localName().toLower();
        if (removedWhole(element, tag)) {
            element.removeFromDocument();
            ++removed;
            continue;
        }
        // Most elements of a book have no attributes: each namespace would be a walk for nothing.
        if (!element.hasAttributes())
            continue;
        const QStringList declarations = element.attributeNames(kXmlnsNamespace);
        for (const QString& declaration : declarations)
            spaces.insert(element.attributeNS(kXmlnsNamespace, declaration));
        for (const QString& space : qAsConst(spaces))
            removed += disarmAttributes(element, tag, space);
    }
    // The frames went with their elements; one left by any other way is disarmed as well.
    const QList<QWebFrame*> children = frame->childFrames();
    for (QWebFrame* child : children)
        removed += disarmScripts(child);
    if (removed > 0)
        qInfo() << "Took" << removed << "parts that could run the book's code or lead elsewhere out of"
                << frame->url().toDisplayString();
    return removed;
}

ChapterNavigation chapterNavigation(
    QWebFrame* frame, const QNetworkRequest& request, QWebPage::NavigationType type, QUrl* expected)
{
    if (type == QWebPage::NavigationTypeLinkClicked)
        return ChapterNavigation::LinkClick;
    const QUrl url = request.url();
    if (frame && !frame->parentFrame() && expected->isValid() && url.adjusted(QUrl::RemoveFragment) == *expected) {
        *expected = QUrl();
        return ChapterNavigation::Follow;
    }
    // A data: address can be the size of a book.
    qWarning().noquote() << "Navigation refused:" << url.toDisplayString().left(120)
                         << (frame && frame->parentFrame() ? "(in a frame)" : "") << "type" << int(type);
    return ChapterNavigation::Refuse;
}
