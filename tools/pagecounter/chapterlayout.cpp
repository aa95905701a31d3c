#include "chapterlayout.h"

#include "jsengine/jsengine.h"
#include "localwebpage.h"

#include <QEventLoop>
#include <QFileInfo>
#include <QNetworkAccessManager>
#include <QNetworkRequest>
#include <QPainter>
#include <QRegion>
#include <QTimer>
#include <QUuid>
#include <QWebElement>
#include <QWebFrame>
#include <QWebPage>
#include <QWebSettings>
#include <QtDebug>

namespace {

// Largest page the engine may ask for; a script asking for more is not trusted with memory.
constexpr int kMaxPageSide = 16384;

QUrl hiddenWhileLoading()
{
    static const QUrl sheet(QStringLiteral("data:text/css;charset=utf-8;base64,")
        + QString::fromLatin1(QByteArray("html { display: none !important; }").toBase64()));
    return sheet;
}

} // namespace

// The web page of the helper: never opens a dialog or a window (an alert in a book would
// otherwise wait for a click no one can give), stops long-running book scripts, and stays on
// the chapter it was asked to load.
class ChapterLayout::Page : public QWebPage {
public:
    using QWebPage::QWebPage;

    QUrl expectedUrl;

    bool shouldInterruptJavaScript() override { return true; }

protected:
    void javaScriptAlert(QWebFrame*, const QString&) override { }
    bool javaScriptConfirm(QWebFrame*, const QString&) override { return false; }
    bool javaScriptPrompt(QWebFrame*, const QString&, const QString&, QString*) override { return false; }
    void javaScriptConsoleMessage(const QString&, int, const QString&) override { }
    QString chooseFile(QWebFrame*, const QString&) override { return QString(); }
    QWebPage* createWindow(WebWindowType) override { return nullptr; }

    bool acceptNavigationRequest(QWebFrame* frame, const QNetworkRequest& request, NavigationType type) override
    {
        if (frame != mainFrame())
            return request.url().isLocalFile();
        return request.url().adjusted(QUrl::RemoveFragment | QUrl::RemoveQuery) == expectedUrl;
    }
};

ChapterLayout::ChapterLayout(QObject* parent)
    : QObject(parent)
    , m_page(new Page(this))
{
    jsengine::initResources();
    // Chapters are visited once per layout: caching them only grows the helper.
    QWebSettings::setMaximumPagesInCache(0);
    QWebSettings::setObjectCacheCapacities(0, 0, 0);

    makePageLocalOnly(m_page, this);
    // As the reader's chapter page: no scroll bars take room from the page.
    m_page->mainFrame()->setScrollBarPolicy(Qt::Horizontal, Qt::ScrollBarAlwaysOff);
    m_page->mainFrame()->setScrollBarPolicy(Qt::Vertical, Qt::ScrollBarAlwaysOff);
    m_page->setLinkDelegationPolicy(QWebPage::DelegateAllLinks);
    m_page->setViewportSize(QSize(800, 600));
}

ChapterLayout::~ChapterLayout() = default;

void ChapterLayout::setFont(int size, const QString& family)
{
    QWebSettings* settings = m_page->settings();
    settings->setFontSize(QWebSettings::DefaultFontSize, qBound(1, size, 512));
    if (family.isEmpty() || family.compare(QLatin1String("Original font"), Qt::CaseInsensitive) == 0)
        settings->resetFontFamily(QWebSettings::StandardFont);
    else
        settings->setFontFamily(QWebSettings::StandardFont, family);
}

bool ChapterLayout::open(const QUrl& fileUrl, const QString& engineScript, int timeoutMs)
{
    if (!fileUrl.isLocalFile()) {
        qWarning() << "Chapter is not a local file:" << fileUrl.toDisplayString();
        return false;
    }
    // A regular file only: a device or a pipe could keep the load waiting forever.
    const QFileInfo file(fileUrl.toLocalFile());
    if (!file.isFile()) {
        qWarning() << "Chapter file is missing:" << file.filePath();
        return false;
    }
    // A book's script could wait or loop forever and take the helper with it: the chapter loads
    // with scripting off, and only the engine runs in it.
    QWebSettings* settings = m_page->settings();
    settings->setAttribute(QWebSettings::JavascriptEnabled, false);
    // The engine rebuilds the chapter into its page columns: the layout the web page would make
    // of the loaded chapter as it is would be thrown away. Hidden while it loads, the chapter is
    // laid out once, in its pages.
    settings->setUserStyleSheetUrl(hiddenWhileLoading());
    const bool loaded = load(QUrl::fromLocalFile(file.absoluteFilePath()), timeoutMs);
    settings->setUserStyleSheetUrl(QUrl());
    if (!loaded)
        return false;
    disarmScripts(m_page->mainFrame());
    settings->setAttribute(QWebSettings::JavascriptEnabled, true);
    const QString script
        = engineScript.isEmpty() ? jsengine::scriptWithInit(QUuid::createUuid().toString(QUuid::Id128)) : engineScript;
    if (!evaluate(script).toBool()) {
        qWarning() << "The reading engine did not start in" << file.filePath();
        return false;
    }
    return true;
}

bool ChapterLayout::load(const QUrl& url, int timeoutMs)
{
    m_page->expectedUrl = url;
    QEventLoop loop;
    bool finished = false;
    bool ok = false;
    const auto connection = connect(m_page, &QWebPage::loadFinished, &loop, [&](bool result) {
        // A late signal of a load given up before is not this one's.
        if (m_page->mainFrame()->requestedUrl().adjusted(QUrl::RemoveFragment | QUrl::RemoveQuery) != url)
            return;
        finished = true;
        ok = result;
        loop.quit();
    });
    bool timedOut = false;
    QTimer::singleShot(timeoutMs, &loop, [&] {
        timedOut = true;
        loop.quit();
    });
    m_page->mainFrame()->load(url);
    // The loop also ends when the helper is told to exit.
    if (!finished)
        loop.exec();
    disconnect(connection);
    if (!finished) {
        if (timedOut)
            qWarning() << "Chapter did not load in" << timeoutMs << "ms:" << url.toLocalFile();
        m_page->triggerAction(QWebPage::Stop);
        return false;
    }
    if (!ok)
        qWarning() << "Chapter failed to load:" << url.toLocalFile();
    return ok;
}

int ChapterLayout::applyFormat(const QString& script)
{
    QVariant result = evaluate(script);
    // The reader's view is as large as the page it lays out: make the viewport so and lay the
    // chapter out again when the script asked for another size than the last one.
    const QSize size = enginePageSize();
    if (size.isValid() && size != m_page->viewportSize()) {
        m_page->setViewportSize(size);
        result = evaluate(script);
    }
    const QVariantMap map = result.toMap();
    bool ok = false;
    const int count = map.value(QStringLiteral("pageCount")).toInt(&ok);
    return ok && count >= 0 ? count : -1;
}

QSize ChapterLayout::enginePageSize()
{
    const QVariantList dims = evaluate(QStringLiteral("[page.width, page.height]")).toList();
    if (dims.size() != 2)
        return QSize();
    bool okWidth = false;
    bool okHeight = false;
    const double width = dims.at(0).toDouble(&okWidth);
    const double height = dims.at(1).toDouble(&okHeight);
    if (!okWidth || !okHeight || !(width >= 1) || !(height >= 1))
        return QSize();
    return QSize(qRound(qMin(width, double(kMaxPageSide))), qRound(qMin(height, double(kMaxPageSide))));
}

int ChapterLayout::pageOfLink(const QString& link)
{
    const QVariant result = evaluate(QStringLiteral("getPageByKelLink('%1');").arg(jsengine::escaped(link)));
    bool ok = false;
    const int page = result.toInt(&ok);
    return ok && result.userType() != QMetaType::QString && page > 0 ? page : -1;
}

QList<ChapterLayout::Hit> ChapterLayout::findText(const QString& text)
{
    // One evaluation for all hits of the chapter, each with its page.
    const QString script = QStringLiteral("(function (text) {"
                                          "  var hits = findText(text), out = [];"
                                          "  for (var i = 0; i < hits.length; ++i)"
                                          "    out.push([hits[i].source, hits[i].text, hits[i].offset,"
                                          "              getPageByXPathWithOffset(hits[i].source, hits[i].offset)]);"
                                          "  return out;"
                                          "})('%1')")
                               .arg(jsengine::escaped(text));
    QList<Hit> hits;
    const QVariantList list = evaluate(script).toList();
    for (const QVariant& entry : list) {
        const QVariantList fields = entry.toList();
        if (fields.size() != 4)
            continue;
        Hit hit;
        hit.path = fields.at(0).toString();
        hit.text = fields.at(1).toString();
        hit.offset = qMax(0, fields.at(2).toInt());
        bool ok = false;
        hit.page = fields.at(3).toInt(&ok);
        if (!ok || hit.page < 1)
            hit.page = -1;
        if (!hit.path.isEmpty())
            hits.append(hit);
    }
    return hits;
}

bool ChapterLayout::showPage(int page)
{
    bool ok = false;
    const int shown = evaluate(QStringLiteral("moveToPage(%1);").arg(page)).toInt(&ok);
    return ok && shown > 0;
}

void ChapterLayout::render(QPainter* painter)
{
    const QSize size = m_page->viewportSize();
    m_page->mainFrame()->render(painter, QWebFrame::ContentsLayer, QRegion(0, 0, size.width(), size.height()));
}

QSize ChapterLayout::viewportSize() const { return m_page->viewportSize(); }

QVariant ChapterLayout::evaluate(const QString& script) { return m_page->mainFrame()->evaluateJavaScript(script); }
