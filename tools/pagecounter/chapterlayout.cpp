#include "chapterlayout.h"

#include "chapterload.h"
#include "jsengine/jsengine.h"
#include "localwebpage.h"
#include "readingfont.h"

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

// Splits the chapter into pieces (the engine's kelSplitPieces) and shows the first. No element
// moves, so element paths keep their meaning: the other pieces' blocks are only hidden, and
// kelShowPiece(n) shows another. The reader starts every piece on a new column, so each piece is
// laid out here as from the top of a column: the sides of the elements around a piece that are
// open across its edge (their top at its start, their bottom at its end) take no room, as in the
// reader's whole chapter, where they lie in another column or are not there yet. Answers the
// number of pieces.
const char* const kSplitScript = R"JS(
(function (limit) {
    var pieces = kelSplitPieces(limit);
    if (!pieces.length)
        return 0;
    var root = kelColumns();
    // Hidden by one rule of a class, not by a style of each block: blocks without a style of
    // their own share their computed style, which keeps a style change of the page cheap. The
    // piece shown starts at the top anyway: no break before it. Its top margin goes, with those of
    // the first blocks in it, as the reader's column break drops them (a heading's margin kept
    // here pushed the piece down, and now and then its end into one more column).
    // A hidden piece's first and last blocks keep a box, empty, invisible and out of the flow.
    // Each time a block's box comes or goes, WebKit looks among its siblings for the nearest box,
    // over the white space between blocks too; with thousands of blocks side by side, all hidden
    // but the piece's, that took seconds a piece, the more the more pieces. These boxes stop the
    // search at each piece's edges, and take no room.
    var sheet = document.createElement('style');
    sheet.textContent = '.kel-other-piece { display: none !important; }'
        + ' .kelpiecestart { -webkit-column-break-before: auto !important; break-before: auto !important;'
        + ' -webkit-margin-before-collapse: discard !important; }'
        + ' .kel-other-piece.kelpieceedge { display: block !important; position: absolute !important;'
        + ' visibility: hidden !important; width: 0 !important; height: 0 !important; overflow: hidden !important;'
        + ' margin: 0 !important; padding: 0 !important; border: 0 !important; float: none !important;'
        + ' font-size: 0 !important; white-space: nowrap !important; }'
        + ' .kel-other-piece.kelpieceedge > * { display: none !important; }';
    (document.head || document.documentElement).appendChild(sheet);
    // Only runs of many blocks need them, and only blocks in a block's flow take such a box
    // without changing the boxes around them (a table row would be wrapped in a table of its own).
    function flowBlock(element) {
        var display = window.getComputedStyle(element).display;
        return display === 'block' || display === 'list-item';
    }
    for (var edge = 0; edge < pieces.length; ++edge) {
        var run = pieces[edge];
        if (run.length < 64)
            continue;
        var ends = [run[0], run[run.length - 1]];
        for (var x = 0; x < ends.length; ++x) {
            if (flowBlock(ends[x]) && ends[x].parentNode.nodeType === 1 && flowBlock(ends[x].parentNode))
                ends[x].classList.add('kelpieceedge');
        }
    }
    var edgeProperties = ['margin-%', 'padding-%', 'border-%-width'];
    var openEnds = [];
    function contains(element, node) {
        return element === node || !!(element.compareDocumentPosition(node) & 16);
    }
    // The elements between the root and a piece's block that also hold the other node.
    function openAround(block, other) {
        var out = [];
        for (var e = block.parentNode; e && e !== root && e.nodeType === 1; e = e.parentNode) {
            if (contains(e, other))
                out.push(e);
        }
        return out;
    }
    function flatten(element, side, saved) {
        for (var i = 0; i < edgeProperties.length; ++i) {
            var name = edgeProperties[i].replace('%', side);
            if (saved)
                saved.push([element, name, element.style.getPropertyValue(name), element.style.getPropertyPriority(name)]);
            element.style.setProperty(name, '0', 'important');
        }
    }
    var shown = -1;
    // Whether the piece shown has had no layout since it was shown: its blocks were not
    // displayed before, so they have no boxes yet.
    var fresh = false;
    // The engine's kelDropLayout for the piece shown: its blocks' boxes are taken down, and the
    // next layout makes them anew; a piece just shown has none to take down. The elements around
    // the piece keep theirs: laid out from nothing in the reader's chapter, they hold no more than
    // the piece's blocks here.
    window.kelDropShownPiece = function () {
        if (shown < 0)
            return false;
        if (!fresh) {
            // Its edges too lose their boxes, which hidden they would keep.
            var blocks = pieces[shown];
            var edges = [blocks[0], blocks[blocks.length - 1]].filter(function (block) {
                return block.classList.contains('kelpieceedge');
            });
            for (var d = 0; d < edges.length; ++d)
                edges[d].classList.remove('kelpieceedge');
            for (var i = 0; i < blocks.length; ++i)
                blocks[i].classList.add('kel-other-piece');
            void document.documentElement.offsetHeight;
            for (var k = 0; k < blocks.length; ++k)
                blocks[k].classList.remove('kel-other-piece');
            for (var r = 0; r < edges.length; ++r)
                edges[r].classList.add('kelpieceedge');
        }
        fresh = false;
        return true;
    };
    window.kelShowPiece = function (n) {
        if (n < 0 || n >= pieces.length)
            return false;
        // The page is taken down whole and made again for the new piece.
        var style = document.documentElement.style;
        style.setProperty('display', 'none', 'important');
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
        // Pieces are shown in order: an element open across this piece's start stays open for
        // every later one, while one open across its end closes in a later piece.
        while (openEnds.length) {
            var end = openEnds.pop();
            end[0].style.setProperty(end[1], end[2], end[3]);
        }
        var first = pieces[n][0], last = pieces[n][pieces[n].length - 1];
        // A piece that starts no column in the reader (pieces.starts) is laid out as it is.
        if (pieces.starts[n]) {
            var before = pieces[n - 1];
            var starts = openAround(first, before[before.length - 1]);
            for (var s = 0; s < starts.length; ++s)
                flatten(starts[s], 'top', null);
        }
        if (n + 1 < pieces.length && pieces.starts[n + 1]) {
            var ends = openAround(last, pieces[n + 1][0]);
            for (var t = 0; t < ends.length; ++t)
                flatten(ends[t], 'bottom', openEnds);
        }
        shown = n;
        fresh = true;
        style.setProperty('display', 'block', 'important');
        // The engine keeps its place at the piece's first block with text: finding the first
        // visible item anew would walk all the hidden ones before it.
        var pin = first;
        for (var k = 0; k < pieces[n].length; ++k) {
            if (/\S/.test(pieces[n][k].textContent)) {
                pin = pieces[n][k];
                break;
            }
        }
        page.count = -1;
        page.readingPositionElement = pin;
        page.readingPositionOffset = 0;
        return true;
    };
    window.kelInOtherPiece = function (node) {
        for (var e = node && node.nodeType !== 1 ? node.parentNode : node; e && e.nodeType === 1; e = e.parentNode) {
            if (e.classList.contains('kel-other-piece'))
                return true;
        }
        return false;
    };
    // Columns the piece shown fills, up to the end marker's: pages in whole screens would count
    // the empty rest of the last screen once per piece.
    window.kelPieceColumns = function () {
        var marker = kelEndMarker(), content = kelContent();
        var right = marker.getBoundingClientRect().right - content.getBoundingClientRect().left + page.gap / 2;
        return Math.max(1, Math.ceil(right * page.columnCount / page.width));
    };
    kelShowPiece(0);
    return pieces.length;
})(%1)
)JS";

// The page of each link's target (each an array of the forms to try): -1 without a page; -2 when
// the chapter is in pieces and no form's target lies in the piece shown.
const char* const kPagesOfLinksScript = R"JS(
(function (links) {
    var pieces = typeof kelInOtherPiece === 'function';
    function inPiece(link) {
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
    }
    var out = [];
    for (var i = 0; i < links.length; ++i) {
        var forms = pieces ? links[i].filter(inPiece) : links[i];
        var page = forms.length ? -1 : -2;
        for (var k = 0; k < forms.length && page <= 0; ++k) {
            var p = getPageByKelLink(forms[k]);
            page = typeof p === 'number' && p > 0 ? p : -1;
        }
        out.push(page);
    }
    return out;
})([%1])
)JS";

} // namespace

// The web page of the helper: never opens a dialog or a window (an alert in a book would
// otherwise wait for a click no one can give), stops long-running book scripts, and stays on
// the chapter it was asked to load, once.
class ChapterLayout::Page : public QWebPage {
public:
    explicit Page(QObject* parent)
        : QWebPage(parent)
        , chapterLoad(new ChapterLoad(this))
    {
    }

    ChapterLoad* chapterLoad;

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
        // No click reaches the helper's page: a link goes nowhere here either.
        return chapterLoad->navigation(frame, request, type) == ChapterNavigation::Follow;
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
    // The reader resolves the family the same way, so both draw the same face.
    readingfont::applyStandardFont(settings, family);
}

bool ChapterLayout::needsPieces(const QUrl& fileUrl)
{
    return fileUrl.isLocalFile() && jsengine::inPieces(fileUrl.toLocalFile());
}

int ChapterLayout::openPieces(const QUrl& fileUrl, const QString& engineScript, int timeoutMs)
{
    int pieces = 0;
    QWebSettings* settings = m_page->settings();
    settings->setUserStyleSheetUrl(
        QUrl(QStringLiteral("data:text/css;charset=utf-8;base64,") + QString::fromLatin1(kHideAllCss.toBase64())));
    const bool opened = open(fileUrl, engineScript, timeoutMs, [this, &pieces] {
        bool ok = false;
        pieces = evaluate(QString::fromLatin1(kSplitScript).arg(jsengine::kPieceChars)).toInt(&ok);
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
    if (countWithLoads(made, evaluate(QStringLiteral("calculatePageCount()"))) < 0)
        return -1;
    return pieceColumns();
}

int ChapterLayout::pieceColumns()
{
    bool ok = false;
    const int columns = evaluate(QStringLiteral("kelPieceColumns()")).toInt(&ok);
    return ok && columns > 0 ? columns : -1;
}

int ChapterLayout::columnsPerScreen()
{
    bool ok = false;
    const int columns = evaluate(QStringLiteral("page.columnCount")).toInt(&ok);
    return ok && columns > 0 ? columns : 1;
}

bool ChapterLayout::open(const QUrl& fileUrl, const QString& engineScript, int timeoutMs)
{
    return open(fileUrl, engineScript, timeoutMs, nullptr);
}

bool ChapterLayout::open(
    const QUrl& fileUrl, const QString& engineScript, int timeoutMs, const std::function<bool()>& afterEngine)
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
    // with scripting off (ChapterLoad), and only the engine runs in it.
    QWebSettings* settings = m_page->settings();
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
    const QString script
        = engineScript.isEmpty() ? jsengine::scriptWithInit(QUuid::createUuid().toString(QUuid::Id128)) : engineScript;
    if (!evaluate(script).toBool()) {
        qWarning() << "The reading engine did not start in" << file.filePath();
        return false;
    }
    return !afterEngine || afterEngine();
}

bool ChapterLayout::load(const QUrl& url, int timeoutMs)
{
    setPageChapter(m_page, m_bookFolder.isEmpty() ? QFileInfo(url.toLocalFile()).absolutePath() : m_bookFolder, url);
    QEventLoop loop;
    bool finished = false;
    bool ok = false;
    ChapterLoad* chapterLoad = m_page->chapterLoad;
    const auto end = [&](bool result) {
        finished = true;
        // A load started since (by anything the loop ran) is not this one.
        ok = result && chapterLoad->file() == url;
        loop.quit();
    };
    const auto loaded = connect(chapterLoad, &ChapterLoad::loaded, &loop, [&] { end(true); });
    const auto failed = connect(chapterLoad, &ChapterLoad::failed, &loop, [&] { end(false); });
    bool timedOut = false;
    QTimer::singleShot(timeoutMs, &loop, [&] {
        timedOut = true;
        loop.quit();
    });
    chapterLoad->start(url);
    // The loop also ends when the helper is told to exit.
    if (!finished)
        loop.exec();
    disconnect(loaded);
    disconnect(failed);
    if (!finished) {
        if (timedOut)
            qWarning() << "Chapter did not load in" << timeoutMs << "ms:" << url.toLocalFile();
        chapterLoad->abandon();
        m_page->triggerAction(QWebPage::Stop);
        return false;
    }
    // A failure is logged by the load.
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
    // it. Counted with the fallback font, its pages would not be the reader's, and whether a font
    // of the chapter before is still in memory could make the count differ from run to run.
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

QVector<int> ChapterLayout::pagesOfLinks(const QStringList& links)
{
    QString forms;
    for (const QString& link : links) {
        const QString decoded = QUrl::fromPercentEncoding(link.toUtf8());
        forms += QStringLiteral("['") + jsengine::escaped(link)
            + (decoded != link ? QStringLiteral("','") + jsengine::escaped(decoded) : QString())
            + QStringLiteral("'],");
    }
    const QVariantList answer = evaluate(QString::fromLatin1(kPagesOfLinksScript).arg(forms)).toList();
    QVector<int> pages(links.size(), -1);
    for (int i = 0; i < pages.size() && i < answer.size(); ++i) {
        bool ok = false;
        const int page = answer.at(i).toInt(&ok);
        pages[i] = ok && (page > 0 || page == OtherPiece) ? page : -1;
    }
    return pages;
}

QList<ChapterLayout::Hit> ChapterLayout::findText(const QString& text, int limit)
{
    // One evaluation for all hits of the chapter (of the piece shown), each with its page.
    const QString script = QStringLiteral("(function (text, limit) {"
                                          "  var pieces = typeof kelInOtherPiece === 'function';"
                                          "  var hits = findText(text, limit, pieces ? function (node) {"
                                          "      return !kelInOtherPiece(node); } : null), out = [];"
                                          "  for (var i = 0; i < hits.length; ++i)"
                                          "    out.push([hits[i].source, hits[i].text, hits[i].offset,"
                                          "              kelPageOfPosition(hits[i].node, hits[i].offset)]);"
                                          "  return out;"
                                          "})('%1', %2)")
                               .arg(jsengine::escaped(text))
                               .arg(limit);
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
