#include "localwebpage.h"

#include "chapterpolicy.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QSet>
#include <QWebElement>
#include <QWebFrame>
#include <QWebPage>
#include <QWebSettings>

namespace {

constexpr qint64 kMaxDocumentBytes = 64 * 1024 * 1024;

bool g_policyOn = true;
bool g_guardOn = true;

// A reply of bytes made here: a document of the book under the policy.
class MadeReply : public QNetworkReply {
public:
    MadeReply(QNetworkAccessManager::Operation op, const QNetworkRequest& request, const QByteArray& data,
        const QByteArray& contentType, QObject* parent)
        : QNetworkReply(parent)
        , m_data(data)
    {
        setRequest(request);
        setUrl(request.url());
        setOperation(op);
        setHeader(QNetworkRequest::ContentTypeHeader, contentType);
        setHeader(QNetworkRequest::ContentLengthHeader, m_data.size());
        open(QIODevice::ReadOnly | QIODevice::Unbuffered);
        QMetaObject::invokeMethod(
            this,
            [this] {
                emit metaDataChanged();
                emit readyRead();
                setFinished(true);
                emit finished();
            },
            Qt::QueuedConnection);
    }

    void abort() override { }
    bool isSequential() const override { return true; }
    qint64 bytesAvailable() const override { return m_data.size() - m_read + QNetworkReply::bytesAvailable(); }

protected:
    qint64 readData(char* data, qint64 maxSize) override
    {
        const qint64 count = qMin(maxSize, qint64(m_data.size()) - m_read);
        if (count <= 0)
            return m_read >= m_data.size() ? -1 : 0;
        memcpy(data, m_data.constData() + m_read, size_t(count));
        m_read += count;
        return count;
    }

private:
    QByteArray m_data;
    qint64 m_read = 0;
};

// A value as the view reads an address in it: without the ASCII blanks and controls at either end,
// and nothing else (a Unicode space is part of a relative address).
QStringRef viewTrimmed(const QString& value)
{
    int start = 0;
    int end = value.size();
    while (start < end && value.at(start).unicode() <= 0x20)
        ++start;
    while (end > start && value.at(end - 1).unicode() <= 0x20)
        --end;
    return value.midRef(start, end - start);
}

bool isInside(const QString& path, const QString& folder)
{
    return !folder.isEmpty() && (path == folder || path.startsWith(folder + QLatin1Char('/')));
}

} // namespace

void setChapterPolicyForTests(bool on) { g_policyOn = on; }

void setChapterGuardForTests(bool on) { g_guardOn = on; }

bool LocalOnlyNetwork::mayRead(const QString& file) const
{
    const QString folder = QFileInfo(m_bookFolder).canonicalFilePath();
    const QString real = QFileInfo(file).canonicalFilePath();
    if (isInside(real, folder))
        return true;
    qWarning().noquote() << "Read refused: the file" << file << (real.isEmpty() ? "is missing" : "is not the book's")
                         << "(book folder" << m_bookFolder << ")";
    return false;
}

QNetworkReply* LocalOnlyNetwork::createRequest(Operation op, const QNetworkRequest& request, QIODevice* outgoingData)
{
    const QUrl url = request.url();
    const QString scheme = url.scheme().toLower();
    bool allowed = scheme == QLatin1String("file") || scheme == QLatin1String("qrc") || scheme == QLatin1String("data");
    QString file;
    if (scheme == QLatin1String("file")) {
        file = QDir::cleanPath(url.toLocalFile());
        // A file of the book still being converted is made ready first.
        if (m_beforeRead && isInside(file, QDir::cleanPath(m_bookFolder)))
            m_beforeRead(file);
        allowed = mayRead(file);
    }
    // The web view asks for an XSL style sheet, and only for one, with text/xsl in its Accept header.
    if (allowed && request.rawHeader("Accept").contains("text/xsl")) {
        qWarning().noquote() << "Read refused: an XSL style sheet" << url.toDisplayString().left(120);
        allowed = false;
    }
    QNetworkReply* reply = nullptr;
    if (!allowed) {
        reply = QNetworkAccessManager::createRequest(op, QNetworkRequest(QUrl()), nullptr);
    } else if (!file.isEmpty() && op == GetOperation
        && (chapterpolicy::isDocument(file)
            || (m_chapter.isLocalFile() && QDir::cleanPath(m_chapter.toLocalFile()) == file))) {
        // Every document the page makes is read as the reader wrote it, under the policy.
        QFile document(file);
        if (document.size() > kMaxDocumentBytes) {
            // Read whole and decoded, a document is bounded as the conversion bounds a chapter.
            qWarning() << "Read refused: the document" << file << "is larger than" << kMaxDocumentBytes << "bytes";
            reply = QNetworkAccessManager::createRequest(op, QNetworkRequest(QUrl()), nullptr);
        } else if (document.open(QIODevice::ReadOnly)) {
            reply = new MadeReply(op, request, chapterpolicy::served(document.readAll(), file, g_policyOn),
                chapterpolicy::contentType(file), this);
        } else {
            qWarning() << "Can't read the document" << file << document.errorString();
            reply = QNetworkAccessManager::createRequest(op, QNetworkRequest(QUrl()), nullptr);
        }
    } else {
        reply = QNetworkAccessManager::createRequest(op, request, outgoingData);
    }
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

void setPageChapter(QWebPage* page, const QString& bookFolder, const QUrl& chapter)
{
    if (auto* network = dynamic_cast<LocalOnlyNetwork*>(page->networkAccessManager())) {
        network->setBookFolder(bookFolder);
        network->setChapter(chapter.adjusted(QUrl::RemoveFragment | QUrl::RemoveQuery));
    }
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
// address; a use keeps only an address in its own document; an address attribute keeps only the book's files and the
// reader's resources, images and styles written into the book (data:), and, on a link, an outside address that the
// reader hands to the desktop when it is clicked.
bool keepsValue(const QString& element, const QString& attribute, const QString& value)
{
    const QString scheme = addressScheme(value);
    if (scheme == QLatin1String("javascript") || scheme == QLatin1String("vbscript")
        || scheme == QLatin1String("livescript"))
        return false;
    if (!isAddressAttribute(attribute))
        return true;
    // A use copies elements of the document it names into a tree no walk of this document sees;
    // only the chapter's own are let in.
    if ((element == QLatin1String("use") || element == QLatin1String("tref")) && attribute == QLatin1String("href"))
        return viewTrimmed(value).startsWith(QLatin1Char('#'));
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

// A meta that only names the content type (its charset was read with the file), or that puts the
// page under the chapter policy: neither can run or lead anywhere.
bool harmlessMeta(const QWebElement& element)
{
    const QString equiv = viewTrimmed(element.attribute(QStringLiteral("http-equiv"))).toString().toLower();
    if (equiv == QLatin1String("content-type"))
        return true;
    return equiv == QLatin1String("content-security-policy")
        && element.attribute(QStringLiteral("content")) == chapterpolicy::policy();
}

bool removedWhole(const QWebElement& element, const QString& tag)
{
    if (removedElement(tag))
        return true;
    if (tag == QLatin1String("meta"))
        return element.hasAttribute(QStringLiteral("http-equiv")) && !harmlessMeta(element);
    if (isAnimation(tag)) {
        // An animation that writes an address or a handler could write one no check has seen. The
        // view's name parsing may strip more than ASCII blanks, so the name is judged both ways:
        // taking it out wrongly costs only an animation.
        const QString name = element.attribute(QStringLiteral("attributeName"));
        for (QString target : { viewTrimmed(name).toString(), name.trimmed() }) {
            target = target.toLower();
            target = target.mid(target.lastIndexOf(QLatin1Char(':')) + 1);
            if (isAddressAttribute(target) || isHandler(target))
                return true;
        }
        return false;
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
    if (!g_guardOn)
        return 0;
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
