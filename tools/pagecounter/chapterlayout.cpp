#include "chapterlayout.h"

#include "jsengine/jsengine.h"
#include "localwebpage.h"

#include <QCoreApplication>
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
// Layouts made again for what the last one loaded: a font that came in can make another font
// needed, but not without end.
constexpr int kLoadRounds = 3;

int pageCountOf(const QVariant& layout)
{
    bool ok = false;
    const int count = layout.toMap().value(QStringLiteral("pageCount")).toInt(&ok);
    return ok && count >= 0 ? count : -1;
}

QUrl hiddenWhileLoading()
{
    static const QUrl sheet(QStringLiteral("data:text/css;charset=utf-8;base64,")
        + QString::fromLatin1(QByteArray("html { display: none !important; }").toBase64()));
    return sheet;
}

// While a chapter is loaded for a piece, nothing of it is laid out: the whole document would be
// laid out once at load, which is what the pieces avoid.
const QByteArray kHideAllCss = "html{display:none}";

// Splits the chapter into pieces of about %1 characters and shows the first. A piece is a run
// of blocks in document order; an element longer than a piece is not a block itself but is
// split into its children, at any depth, unless text of its own stands between them (that
// text would be shown with every piece). kelShowPiece(n) then shows another piece; no element
// moves, so element paths keep their meaning. Answers the number of pieces.
const char* const kSplitScript = R"JS(
(function (limit) {
    var root = document.body;
    if (!root)
        return 0;
    // Every element in document order with the length of its text, summed from the innermost
    // up in one walk: asking each element for its text apart costs the text times the depth.
    var elements = [], parents = [], lengths = [], own = [], sizes = [], path = [];
    for (var e = root;;) {
        var index = elements.length, direct = 0, visible = 0;
        for (var c = e.firstChild; c; c = c.nextSibling) {
            if (c.nodeType === 3 || c.nodeType === 4) {
                direct += c.length;
                if (/\S/.test(c.data))
                    visible += c.length;
            }
        }
        elements.push(e);
        parents.push(path.length ? path[path.length - 1] : -1);
        lengths.push(direct);
        own.push(visible);
        sizes.push(1);
        if (e.firstElementChild) {
            path.push(index);
            e = e.firstElementChild;
            continue;
        }
        while (path.length && !e.nextElementSibling)
            e = elements[path.pop()];
        if (!path.length)
            break;
        e = e.nextElementSibling;
    }
    for (var k = elements.length - 1; k > 0; --k) {
        lengths[parents[k]] += lengths[k];
        sizes[parents[k]] += sizes[k];
    }
    var pieces = [[]], filled = 0;
    for (var i = 1; i < elements.length;) {
        if (lengths[i] > limit && sizes[i] > 1 && own[i] * 100 <= limit) {
            ++i;
            continue;
        }
        var chars = lengths[i];
        if (filled > 0 && filled + chars > limit) {
            pieces.push([]);
            filled = 0;
        }
        filled += chars;
        pieces[pieces.length - 1].push(elements[i]);
        i += sizes[i];
    }
    elements = parents = lengths = own = sizes = null;
    // Hidden by one rule of a class, not by a style of each block: blocks without a style of
    // their own share their computed style, which keeps a style change of the page cheap.
    var sheet = document.createElement('style');
    sheet.textContent = '.kel-other-piece { display: none !important; }';
    (document.head || document.documentElement).appendChild(sheet);
    var shown = -1;
    window.kelShowPiece = function (n) {
        if (n < 0 || n >= pieces.length)
            return false;
        // The page is taken down whole and made again for the new piece.
        var root = document.documentElement.style;
        root.setProperty('display', 'none', 'important');
        for (var p = 0; p < pieces.length; ++p) {
            if (p !== n && p !== shown && shown >= 0)
                continue;
            for (var i = 0; i < pieces[p].length; ++i) {
                if (p === n)
                    pieces[p][i].classList.remove('kel-other-piece');
                else
                    pieces[p][i].classList.add('kel-other-piece');
            }
        }
        shown = n;
        root.setProperty('display', 'block', 'important');
        // The engine keeps its place at the piece's first block with text: finding the first
        // visible item anew would walk all the hidden ones before it.
        if (typeof page === 'object' && page.chapterUid) {
            var pin = pieces[n][0];
            for (var k = 0; k < pieces[n].length; ++k) {
                if (/\S/.test(pieces[n][k].textContent)) {
                    pin = pieces[n][k];
                    break;
                }
            }
            page.count = -1;
            page.readingPositionElement = pin;
            page.readingPositionOffset = 0;
        }
        return true;
    };
    window.kelInOtherPiece = function (node) {
        for (var e = node && node.nodeType !== 1 ? node.parentNode : node; e && e.nodeType === 1; e = e.parentNode) {
            if (e.classList.contains('kel-other-piece'))
                return true;
        }
        return false;
    };
    kelShowPiece(0);
    return pieces.length;
})(%1)
)JS";

// Whether a link's target lies in a block of another piece; false when there is no target.
const char* const kLinkInPieceScript = R"JS(
(function (link) {
    if (typeof kelInOtherPiece !== 'function')
        return true;
    var node = null;
    if (link.charAt(0) === '#') {
        node = document.getElementById(link.substring(1));
    } else {
        var text = link;
        if (text.indexOf('kelpath=') === 0) {
            try { text = decodeURIComponent(text.substring(8)); } catch (e) { return false; }
        }
        var position = kelResolvePosition(text);
        node = position ? position.element : null;
    }
    return !!node && !kelInOtherPiece(node);
})('%1')
)JS";

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

bool ChapterLayout::needsPieces(const QUrl& fileUrl)
{
    return fileUrl.isLocalFile() && QFileInfo(fileUrl.toLocalFile()).size() > kPieceFileBytes;
}

int ChapterLayout::openPieces(const QUrl& fileUrl, const QString& engineScript, int timeoutMs)
{
    int pieces = 0;
    QWebSettings* settings = m_page->settings();
    settings->setUserStyleSheetUrl(
        QUrl(QStringLiteral("data:text/css;charset=utf-8;base64,") + QString::fromLatin1(kHideAllCss.toBase64())));
    const bool opened = open(fileUrl, engineScript, timeoutMs, [this, &pieces] {
        bool ok = false;
        pieces = evaluate(QString::fromLatin1(kSplitScript).arg(kPieceChars)).toInt(&ok);
        return ok && pieces > 0;
    });
    settings->setUserStyleSheetUrl(QUrl());
    if (opened)
        return pieces;
    qWarning() << "The pieces of" << fileUrl.toLocalFile() << "could not be laid out";
    return -1;
}

int ChapterLayout::showPiece(int piece)
{
    // The format stays as it is: applying it again restyles the whole document, which after a
    // change of pieces takes WebKit seconds per piece. Only the count is taken anew.
    const int made = requestsMade();
    if (!evaluate(QStringLiteral("kelShowPiece(%1)").arg(piece)).toBool())
        return -1;
    return countWithLoads(made, evaluate(QStringLiteral("calculatePageCount()")));
}

bool ChapterLayout::linkInPiece(const QString& link)
{
    return evaluate(QString::fromLatin1(kLinkInPieceScript).arg(jsengine::escaped(link))).toBool();
}

bool ChapterLayout::open(const QUrl& fileUrl, const QString& engineScript, int timeoutMs)
{
    return open(fileUrl, engineScript, timeoutMs, nullptr);
}

bool ChapterLayout::open(
    const QUrl& fileUrl, const QString& engineScript, int timeoutMs, const std::function<bool()>& beforeEngine)
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
    // A chapter opened for its pieces is already hidden, until its first piece is chosen.
    const bool hideHere = settings->userStyleSheetUrl().isEmpty();
    if (hideHere)
        settings->setUserStyleSheetUrl(hiddenWhileLoading());
    const bool loaded = load(QUrl::fromLocalFile(file.absoluteFilePath()), timeoutMs);
    if (hideHere)
        settings->setUserStyleSheetUrl(QUrl());
    if (!loaded)
        return false;
    disarmScripts(m_page->mainFrame());
    settings->setAttribute(QWebSettings::JavascriptEnabled, true);
    if (beforeEngine && !beforeEngine())
        return false;
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
    const int made = requestsMade();
    QVariant result = evaluate(script);
    // The reader's view is as large as the page it lays out: make the viewport so and lay the
    // chapter out again when the script asked for another size than the last one.
    const QSize size = enginePageSize();
    if (size.isValid() && size != m_page->viewportSize()) {
        m_page->setViewportSize(size);
        result = evaluate(script);
    }
    return countWithLoads(made, result);
}

int ChapterLayout::requestsMade() const
{
    const auto* network = dynamic_cast<const LocalOnlyNetwork*>(m_page->networkAccessManager());
    return network ? network->requestsMade() : 0;
}

int ChapterLayout::countWithLoads(int made, QVariant layout)
{
    // The reader's chapter is laid out as it loads, and its fonts come with it; here the chapter
    // loaded hidden, so its own fonts are asked for only by the engine's layout, and arrive after
    // it. Counted with the fallback font, its pages would not be the reader's, and a font that
    // happens to be in memory from the chapter before would make the count differ from run to run.
    for (int round = 0; round < kLoadRounds && awaitLoads(made); ++round) {
        made = requestsMade();
        layout = evaluate(QStringLiteral("calculatePageCount()"));
    }
    return pageCountOf(layout);
}

bool ChapterLayout::awaitLoads(int made)
{
    const auto* network = dynamic_cast<const LocalOnlyNetwork*>(m_page->networkAccessManager());
    if (!network)
        return false;
    // A layout starts the loads of the fonts it needs from a timer.
    QCoreApplication::processEvents();
    if (network->requestsMade() == made)
        return false;
    QEventLoop loop;
    QTimer poll;
    connect(&poll, &QTimer::timeout, &loop, [&] {
        if (network->requestsDone() >= network->requestsMade())
            loop.quit();
    });
    poll.start(5);
    // The loop also ends when the helper is told to exit.
    QTimer::singleShot(kLoadTimeoutMs, &loop, &QEventLoop::quit);
    loop.exec();
    if (network->requestsDone() < network->requestsMade())
        qWarning() << "Loads of the chapter did not finish in" << kLoadTimeoutMs << "ms; counted without them";
    // The page takes the last data in from queued calls.
    QCoreApplication::processEvents();
    return true;
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
                                          "  for (var i = 0; i < hits.length; ++i) {"
                                          "    if (typeof kelInOtherPiece === 'function' && kelInOtherPiece("
                                          "        getElementByXpath(kelSplitPosition(hits[i].source).path)))"
                                          "      continue;"
                                          "    out.push([hits[i].source, hits[i].text, hits[i].offset,"
                                          "              getPageByXPathWithOffset(hits[i].source, hits[i].offset)]);"
                                          "  }"
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
