// The reading core, driven as the reader drives it and with hostile text in every call: the
// viewers' mouse recogniser, the page parameters, the chapter page and the reading engine on
// generated chapters in real web pages, and page counting by the client, with hand-made replies
// and with its helper program, whose numbers must be the engine's.

#include "abstractviewer.h"
#include "bookpageparams.h"
#include "chapterbuilder.h"
#include "dataexchangesvc.h"
#include "enginepage.h"
#include "formats/epub/chaptercleaner.h"
#include "formats/inlineruns.h"
#include "formats/textdocument.h"
#include "jsengine/jsengine.h"
#include "pagecountprotocol.h"
#include "temphome.h"
#include "testfiles.h"
#include "testpaths.h"
#include "textbookchapter.h"
#include "textrows.h"

#include <QApplication>
#include <QBuffer>
#include <QDataStream>
#include <QElapsedTimer>
#include <QLocalServer>
#include <QLocalSocket>
#include <QMouseEvent>
#include <QPainter>
#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QUrl>
#include <QUuid>
#include <QWebFrame>
#include <QtEndian>
#include <QtTest>

#include <cmath>
#include <csignal>
#include <memory>

namespace {

// A viewer widget as the real ones are built: a Qt widget first, the interface second.
class FakeViewer : public QWidget, public AbstractViewer {
    Q_OBJECT
public:
    FakeViewer()
        : AbstractViewer(2)
    {
    }
    bool supports(Features) const override { return false; }
    bool readBook(QSharedPointer<BookContext>) override { return false; }

    bool press(Qt::MouseButton button, QPoint pos = QPoint(100, 100))
    {
        QMouseEvent event(QEvent::MouseButtonPress, pos, button, button, Qt::NoModifier);
        return handleMousePressEvent(&event);
    }
    bool move(QPoint pos, Qt::MouseButtons held = Qt::LeftButton)
    {
        QMouseEvent event(QEvent::MouseMove, pos, Qt::NoButton, held, Qt::NoModifier);
        return handleMouseMoveEvent(&event, Qt::LeftButton | Qt::MiddleButton);
    }
    void release(Qt::MouseButton button, QPoint pos = QPoint(100, 100))
    {
        QMouseEvent event(QEvent::MouseButtonRelease, pos, button, Qt::NoButton, Qt::NoModifier);
        handleMouseReleaseEvent(&event);
    }

    int clicks = 0;
    qint64 lastClickAt = -1;
    int dragStarts = 0;
    int dragEnds = 0;
    QList<QPoint> dragDeltas;
    QElapsedTimer clock;

protected:
    void onMouseClicked() override
    {
        ++clicks;
        lastClickAt = clock.elapsed();
    }
    void onDragStart() override { ++dragStarts; }
    void onDragMove(const QPoint& delta) override { dragDeltas.append(delta); }
    void onDragEnd() override { ++dragEnds; }
};

// Longer than the click interval, so every pending decision has been taken.
constexpr int kSettleMs = 450;

const QString kSource = QStringLiteral("Text/Chapter1.xhtml");
const QString kUid = QStringLiteral("c0ffee00c0ffee00c0ffee00c0ffee00");
// An element id that would end a single-quoted string and run code if it were not escaped.
const QString kHostileId = QStringLiteral("q'u\"o\\te');window.pwned=1;//");

using ChapterPtr = std::unique_ptr<TextBookChapter>;

QVariant engine(TextBookChapter& page, const QString& script) { return page.mainFrame()->evaluateJavaScript(script); }
int engineInt(TextBookChapter& page, const QString& script) { return engine(page, script).toInt(); }
QString engineText(TextBookChapter& page, const QString& script) { return engine(page, script).toString(); }

// The position of an element among its siblings of the same tag, as element paths count it.
int siblingIndex(TextBookChapter& page, const QString& elementId)
{
    return engineInt(page,
        QStringLiteral("(function () { var e = document.getElementById('%1'), i = 1;"
                       " for (var s = e.previousElementSibling; s; s = s.previousElementSibling)"
                       " if (s.tagName === e.tagName) ++i; return i; })()")
            .arg(jsengine::escaped(elementId)));
}

// The box and class of each span of a note's mark; null without a mark.
QVariant markBoxes(TextBookChapter& page, const QString& noteId)
{
    return engine(page, QStringLiteral("testMarkRects('%1')").arg(jsengine::escaped(noteId)));
}

QString markClass(TextBookChapter& page, const QString& noteId)
{
    return markBoxes(page, noteId).toList().value(0).toList().value(4).toString();
}

QList<QVariantList> signalArguments(const QSignalSpy& spy) { return spy; }

// What the reader shows of a chapter page, as a picture.
QImage grabPage(QWebPage& page)
{
    QImage image(page.viewportSize(), QImage::Format_RGB32);
    image.fill(Qt::magenta);
    QPainter painter(&image);
    page.mainFrame()->render(&painter);
    return image;
}

double luminance(QRgb rgb)
{
    const auto channel = [](int value) {
        const double c = value / 255.0;
        return c <= 0.03928 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * channel(qRed(rgb)) + 0.7152 * channel(qGreen(rgb)) + 0.0722 * channel(qBlue(rgb));
}

double contrast(QRgb a, QRgb b)
{
    const double la = luminance(a), lb = luminance(b);
    return (qMax(la, lb) + 0.05) / (qMin(la, lb) + 0.05);
}

struct PageLook {
    QRgb page = 0; // the most frequent colour
    double share = 0; // of the pixels
    double contrast = 1; // of the pixel that stands out most (a glyph's core) to the page
};

PageLook pageLook(const QImage& image)
{
    QHash<QRgb, int> counts;
    for (int y = 0; y < image.height(); y += 2)
        for (int x = 0; x < image.width(); x += 2)
            ++counts[image.pixel(x, y) & 0xffffff];
    QRgb page = 0;
    int most = -1;
    for (auto it = counts.cbegin(); it != counts.cend(); ++it) {
        if (it.value() > most) {
            most = it.value();
            page = it.key();
        }
    }
    PageLook look;
    look.page = page;
    look.share = double(most) / ((image.width() + 1) / 2 * ((image.height() + 1) / 2));
    for (auto it = counts.cbegin(); it != counts.cend(); ++it)
        look.contrast = qMax(look.contrast, contrast(it.key(), page));
    return look;
}

bool nearColor(QRgb a, QRgb b, int tolerance = 6)
{
    return qAbs(qRed(a) - qRed(b)) <= tolerance && qAbs(qGreen(a) - qGreen(b)) <= tolerance
        && qAbs(qBlue(a) - qBlue(b)) <= tolerance;
}

bool pwned(TextBookChapter& page) { return engineText(page, QStringLiteral("typeof window.pwned")) != "undefined"; }

// Selects the characters [start, end) of the first text node of an element.
QString selectText(TextBookChapter& page, const QString& elementId, int start, int end)
{
    return engineText(page,
        QStringLiteral("(function (t) { return testSelect(t, %2, t, %3); })(document.getElementById('%1').firstChild)")
            .arg(jsengine::escaped(elementId))
            .arg(start)
            .arg(end));
}

using jsengine::ResultKind;

ResultKind kindOf(EnginePage& page, const QString& script) { return jsengine::resultKind(page.evaluate(script)); }

// Where a position's character is, measured by the test itself: the page of the character,
// the page of the nearest non-blank character before it (0 when there is none) and the
// character. Only the path lookup is the engine's.
struct CharInfo {
    int page = -1;
    int previousPage = -1;
    QString character;
};

CharInfo charInfo(EnginePage& page, const QString& position)
{
    const QString script = QStringLiteral(R"((function (text) {
        var m = /&offset=(\d+)$/.exec(text);
        var offset = m ? parseInt(m[1], 10) : 0;
        var element = getElementByXpath(m ? text.substring(0, m.index) : text);
        if (!element)
            return null;
        var columns = document.getElementById('%1');
        var left = columns.getBoundingClientRect().left;
        var all = [];
        var walker = document.createTreeWalker(columns, NodeFilter.SHOW_TEXT, null, false);
        for (var n = walker.nextNode(); n; n = walker.nextNode())
            all.push(n);
        var node = null;
        walker = document.createTreeWalker(element, NodeFilter.SHOW_TEXT, null, false);
        for (var t = walker.nextNode(); t; t = walker.nextNode()) {
            if (offset < t.data.length) { node = t; break; }
            offset -= t.data.length;
        }
        if (!node) {
            var r0 = element.getBoundingClientRect();
            return [Math.floor((r0.left - left) / %2) + 1, 0, ''];
        }
        function pageOf(n, i) {
            var range = document.createRange();
            range.setStart(n, i);
            range.setEnd(n, i + 1);
            var rects = range.getClientRects();
            for (var k = 0; k < rects.length; ++k)
                if (rects[k].height > 0)
                    return Math.floor((rects[k].left - left) / %2) + 1;
            return -1;
        }
        var previous = 0;
        var index = all.indexOf(node);
        var from = offset - 1;
        for (var j = index; j >= 0 && !previous; --j, from = j >= 0 ? all[j].data.length - 1 : 0) {
            for (var i = from; i >= 0; --i) {
                if (/\S/.test(all[j].data.charAt(i))) {
                    var p = pageOf(all[j], i);
                    if (p > 0) { previous = p; break; }
                }
            }
        }
        return [pageOf(node, offset), previous, node.data.charAt(offset)];
    })('%3'))")
                               .arg(page.uid() + "1")
                               .arg(double(page.format().width) / page.format().columnCount)
                               .arg(jsengine::escaped(position));
    const QVariantList list = page.evaluate(script).toList();
    CharInfo info;
    if (list.size() == 3) {
        info.page = list[0].toInt();
        info.previousPage = list[1].toInt();
        info.character = list[2].toString();
    }
    return info;
}

QString kelpathLink(const QString& position)
{
    return QStringLiteral("kelpath=") + QString::fromLatin1(QUrl::toPercentEncoding(position));
}

// Line boxes of the text inside a range, worked out by the test, the boxes of a note's mark
// spans (both as [left, top, width, height], the latter with the span's class), and a selection
// made by the test.
const char* const kNoteHelpers = R"(
function testTextRects(range) {
    var out = [];
    var root = range.commonAncestorContainer;
    if (root.nodeType === 3)
        root = root.parentNode;
    var walker = document.createTreeWalker(root, NodeFilter.SHOW_TEXT, null, false);
    for (var n = walker.nextNode(); n; n = walker.nextNode()) {
        if (!range.intersectsNode(n))
            continue;
        var s = n === range.startContainer ? range.startOffset : 0;
        var e = n === range.endContainer ? range.endOffset : n.data.length;
        if (s >= e)
            continue;
        var r = document.createRange();
        r.setStart(n, s);
        r.setEnd(n, e);
        var rects = r.getClientRects();
        for (var i = 0; i < rects.length; ++i)
            if (rects[i].width > 0 && rects[i].height > 0)
                out.push([rects[i].left, rects[i].top, rects[i].width, rects[i].height]);
    }
    return out;
}
function testMarkRects(id) {
    var mark = document.getElementById('kelnote_' + id);
    if (!mark)
        return null;
    var out = [];
    for (var i = 0; i < mark.childNodes.length; ++i) {
        var r = mark.childNodes[i].getBoundingClientRect();
        out.push([r.left, r.top, r.width, r.height, mark.childNodes[i].className]);
    }
    return out;
}
function testSelect(startNode, startOffset, endNode, endOffset) {
    var range = document.createRange();
    range.setStart(startNode, startOffset);
    range.setEnd(endNode, endOffset);
    var selection = window.getSelection();
    selection.removeAllRanges();
    selection.addRange(range);
    return range.toString();
}
)";

bool sameRects(const QVariant& actual, const QVariant& expected)
{
    const QVariantList a = actual.toList();
    const QVariantList e = expected.toList();
    if (a.isEmpty() || a.size() != e.size())
        return false;
    for (int i = 0; i < a.size(); ++i) {
        for (int k = 0; k < 4; ++k) {
            if (qAbs(a[i].toList().value(k).toDouble() - e[i].toList().value(k).toDouble()) > 0.5)
                return false;
        }
    }
    return true;
}

// All non-blank text of the column container, as the test reads it.
QString allText(EnginePage& page)
{
    return page.evaluateString(QStringLiteral(
        "var w = document.createTreeWalker(document.getElementById('%1'), NodeFilter.SHOW_TEXT, null, false),"
        " t = ''; for (var n = w.nextNode(); n; n = w.nextNode()) if (/\\S/.test(n.data)) t += n.data; t")
                                   .arg(page.uid() + "1"));
}

// A run of this many neutral characters (spaces, punctuation) lays out in milliseconds; WebKit
// looks ahead over a whole run for every line, so a run of a megabyte of "<" took minutes.
constexpr int kNeutralRunBound = 512;

// The longest run of characters that are neither letters nor digits in the chapter's text, cut
// where the engine put a direction mark: what WebKit looks ahead over to find their direction.
int longestNeutralRun(EnginePage& page)
{
    const QString script = QStringLiteral(
        "(function () { var pieces = [''], w = document.createTreeWalker(document.body,"
        " NodeFilter.SHOW_ELEMENT | NodeFilter.SHOW_TEXT, null, false);"
        " for (var n = w.nextNode(); n; n = w.nextNode()) {"
        "   if (n.nodeType === Node.TEXT_NODE && !/^(script|style)$/i.test(n.parentNode.localName))"
        "     pieces[pieces.length - 1] += n.data;"
        "   else if (n.nodeType === Node.ELEMENT_NODE && n.classList.contains('kelbidi')) pieces.push('');"
        " } return pieces; })()");
    const QStringList pieces = page.evaluate(script).toStringList();
    int longest = pieces.isEmpty() ? -1 : 0;
    for (const QString& piece : pieces) {
        int run = 0;
        for (const QChar c : piece) {
            run = c.isLetterOrNumber() ? 0 : run + 1;
            longest = qMax(longest, run);
        }
    }
    return longest;
}

// One turn of the reader's read-aloud loop: the chunk it would speak, or an empty text at the
// end of the chapter.
QString nextSpokenChunk(EnginePage& page, int* turnedTo)
{
    for (;;) {
        page.evaluate(QStringLiteral("pushSpeechElement()"));
        const int p = page.evaluateInt(QStringLiteral("ensureVisibleLastSpeechElement()"));
        if (p > 0 && turnedTo)
            *turnedTo = p;
        const QVariant text = page.evaluate(QStringLiteral("getTTSText()"));
        if (!text.toString().isEmpty())
            return text.toString();
        if (page.evaluate(QStringLiteral("endOfTextStream()")).toBool())
            return QString();
    }
}

constexpr int kReplyTimeoutMs = 120000;
const char kWord[] = "zebrafish";
// Six cells of long words: a table of them is wider than a column of a two-page view.
const char kWideCells[] = "<td>Internationalisation1 counterrevolutionaries1</td>"
                          "<td>Internationalisation2 counterrevolutionaries2</td>"
                          "<td>Internationalisation3 counterrevolutionaries3</td>"
                          "<td>Internationalisation4 counterrevolutionaries4</td>"
                          "<td>Internationalisation5 counterrevolutionaries5</td>"
                          "<td>Internationalisation6 counterrevolutionaries6</td>";

QString helperPath() { return testpaths::binDir() + QStringLiteral("/zuvezedoda"); }

// A software reference manual of about `bytes` as one chapter, with the paragraph "#deep" and the
// wide table holding "#lastcell" halfway and the last words "The loom stopped at last." at its end;
// with wideEvery, another wide table after about every wideEvery bytes.
QByteArray manualChapter(quint32 seed, int bytes, int wideEvery = 0)
{
    ChapterBuilder manual(seed);
    const auto addUpTo = [&manual, wideEvery](int size) {
        while (wideEvery > 0 && manual.bodyHtml().size() + wideEvery < size) {
            manual.addManualContent(manual.bodyHtml().size() + wideEvery);
            manual.addRaw(QStringLiteral("<table width='900'><tr>%1</tr></table>\n").arg(QLatin1String(kWideCells)));
        }
        manual.addManualContent(size);
    };
    addUpTo(bytes / 2);
    manual.addRaw(QStringLiteral("<p id='deep'>The %1 rested in the shallows.</p><table width='900'><tr>%2"
                                 "<td id='lastcell'>Internationalisation7</td></tr></table>\n")
                      .arg(QLatin1String(kWord), QLatin1String(kWideCells)));
    addUpTo(bytes);
    manual.addParagraph(QStringLiteral("The loom stopped at last."));
    return manual.html();
}

// The client; replies can be handed to it directly.
class Client : public DataExchangeSvc {
public:
    explicit Client(const QString& helper = helperPath())
        : DataExchangeSvc(helper, nullptr)
    {
    }
    using DataExchangeSvc::helperProcessId;
    using DataExchangeSvc::onDataReceived;
};

struct Hit {
    QString link;
    QString text;
    qint32 page;
};

struct Chapter {
    QString source;
    qint32 pageCount;
    qint32 startPage;
    QList<Hit> hits;
};

// A message written field by field in the documented form, independently of the client's writer.
// Counts the reads a reader asks of it: the reader's work.
class CountingBuffer : public QBuffer {
public:
    using QBuffer::QBuffer;
    qint64 reads = 0;

protected:
    qint64 readData(char* data, qint64 maxSize) override
    {
        ++reads;
        return QBuffer::readData(data, maxSize);
    }
};

class Writer {
public:
    explicit Writer(qint32 type = 2) { out << type; }

    Writer& chapters(const QList<Chapter>& list)
    {
        out << qint32(list.size());
        for (const Chapter& c : list) {
            out << c.source << QUrl::fromLocalFile(QStringLiteral("/books/") + c.source) << c.pageCount << c.startPage
                << qint32(c.hits.size());
            for (const Hit& h : c.hits)
                out << h.link << h.text << h.page;
        }
        return *this;
    }
    // requestKey: the key of the request the reply answers, or none.
    Writer& tail(const QHash<QString, qint32>& links, const QString& requestKey = QString())
    {
        out << QStringLiteral("query") << qint32(22) << QStringLiteral("failed") << requestKey << links;
        return *this;
    }
    template <typename... T> Writer& values(const T&... v)
    {
        (out << ... << v);
        return *this;
    }
    Writer& raw(const QByteArray& bytes)
    {
        out.writeRawData(bytes.constData(), bytes.size());
        return *this;
    }

    QByteArray bytes;
    QDataStream out { &bytes, QIODevice::WriteOnly };
};

const QList<Chapter> kThreeChapters = {
    { QStringLiteral("Text/one.xhtml"), 10, 0,
        { { QStringLiteral("Text/one.xhtml?kelpath=%2Fhtml%5B1%5D&offset=3"), QStringLiteral("First hit."), 4 },
            { QStringLiteral("Text/one.xhtml?kelpath=%2Fhtml%5B1%5D&offset=9"), QStringLiteral("Second hit."), 9 } } },
    { QStringLiteral("Text/two.xhtml"), 5, 10, {} },
    { QStringLiteral("Text/three.xhtml"), 7, 15,
        { { QStringLiteral("Text/three.xhtml?kelpath=%2Fp&offset=0"), QStringLiteral("Third hit."), 20 } } },
};

QByteArray goodReply()
{
    return Writer()
        .chapters(kThreeChapters)
        .tail({ { QStringLiteral("Text/two.xhtml#a"), 12 }, { QStringLiteral("Text/three.xhtml"), 16 } })
        .bytes;
}

void checkEmpty(const DataExchangeSvc& client)
{
    QCOMPARE(client.totalPageCount(), -1);
    QCOMPARE(client.chapterStartPage(QStringLiteral("Text/one.xhtml")), -1);
    QCOMPARE(client.chapterPageCount(QStringLiteral("Text/one.xhtml")), -1);
    QVERIFY(client.searchHits().isEmpty());
}

QByteArray frame(const QByteArray& payload)
{
    QByteArray bytes(4, '\0');
    qToLittleEndian<qint32>(payload.size(), bytes.data());
    return bytes + payload;
}

// One helper process connected to a server of the test.
class Helper {
public:
    // With readLog, the helper's log is kept for logged() instead of passed on.
    explicit Helper(
        const QProcessEnvironment& environment = QProcessEnvironment::systemEnvironment(), bool readLog = false)
    {
        const QString name = QUuid::createUuid().toString(QUuid::Id128);
        m_server.listen(name);
        m_process.setProcessEnvironment(environment);
        m_process.setProcessChannelMode(readLog ? QProcess::ForwardedOutputChannel : QProcess::ForwardedChannels);
        m_process.setReadChannel(QProcess::StandardError);
        m_process.start(helperPath(), { name });
        m_process.waitForStarted(10000);
        if (m_server.waitForNewConnection(20000))
            socket = m_server.nextPendingConnection();
    }
    ~Helper()
    {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.kill();
            m_process.waitForFinished(5000);
        }
    }

    void sendRaw(const QByteArray& bytes)
    {
        socket->write(bytes);
        socket->waitForBytesWritten(5000);
    }
    void send(const QByteArray& message) { sendRaw(frame(message)); }

    // The pagination result of the next whole frame; a result numbered -1000 after the time-out.
    PaginationResult receive(int timeoutMs = 60000)
    {
        PaginationResult result;
        result.number = -1000;
        QDeadlineTimer deadline(timeoutMs);
        for (;;) {
            if (socket->bytesAvailable() >= 4) {
                char header[4];
                socket->peek(header, 4);
                const qint32 length = qFromLittleEndian<qint32>(header);
                if (socket->bytesAvailable() >= 4 + length) {
                    socket->read(4);
                    QDataStream in(socket->read(length));
                    qint32 type = -1;
                    in >> type;
                    if (type == pagecount::Pagination)
                        pagecount::readResult(in, &result);
                    return result;
                }
            }
            if (deadline.hasExpired() || !socket->waitForReadyRead(int(qMax<qint64>(1, deadline.remainingTime()))))
                return result;
        }
    }

    // Ends within the time with this exit code.
    bool endsWith(int code, int timeoutMs = 15000)
    {
        return m_process.waitForFinished(timeoutMs) && m_process.exitStatus() == QProcess::NormalExit
            && m_process.exitCode() == code;
    }
    bool running() const { return m_process.state() == QProcess::Running; }

    // Whether the helper's log holds the pattern, waiting for it within the time.
    bool logged(const QRegularExpression& pattern, int timeoutMs = 5000)
    {
        QDeadlineTimer deadline(timeoutMs);
        for (;;) {
            m_log += QString::fromLocal8Bit(m_process.readAllStandardError());
            if (m_log.contains(pattern))
                return true;
            if (deadline.hasExpired() || !m_process.waitForReadyRead(int(qMax<qint64>(1, deadline.remainingTime()))))
                return m_log.contains(pattern);
        }
    }

    QLocalSocket* socket = nullptr;

private:
    QLocalServer m_server;
    QProcess m_process;
    QString m_log;
};

PaginationRequest request(const PageFormat& format)
{
    PaginationRequest r;
    r.pageFormatScript = EnginePage::pageFormatScript(format);
    r.fontSize = format.fontSize;
    return r;
}

PageFormat ofWidth(int width)
{
    PageFormat format;
    format.width = width;
    return format;
}

ChapterPageInfo chapterInfo(const QString& source, const QString& path)
{
    ChapterPageInfo info;
    info.source = source;
    info.fileUrl = path.contains(QLatin1String("://")) ? QUrl(path) : QUrl::fromLocalFile(path);
    return info;
}

} // namespace

class TestReadingCore : public QObject {
    Q_OBJECT

    // Loads a chapter and lays it out as the text viewer does after a load: the engine with its
    // init call, the page size into the parameters, then the page parameters.
    ChapterPtr open(const QString& file, int columns = 1, bool layOut = true)
    {
        ChapterPtr page(new TextBookChapter);
        page->setLinkDelegationPolicy(QWebPage::DelegateAllLinks);
        page->mainFrame()->setScrollBarPolicy(Qt::Horizontal, Qt::ScrollBarAlwaysOff);
        page->mainFrame()->setScrollBarPolicy(Qt::Vertical, Qt::ScrollBarAlwaysOff);
        page->setSource(kSource);
        TextBookChapter* chapter = page.get();
        if (!loadWebPage(chapter, file, 20000, [chapter](const QUrl& url) { chapter->loadChapter(url, QString()); }))
            return nullptr;
        page->mainFrame()->evaluateJavaScript(jsengine::scriptWithInit(kUid) + QString::fromUtf8(kNoteHelpers));
        page->setViewportSize(QSize(800, 600));
        m_params.setColumnCount(columns);
        m_params.setWidth(800);
        m_params.setHeight(600);
        if (layOut)
            page->applyPageParams(&m_params);
        return page;
    }

    QString chapter(const char* name) const { return m_files.value(QLatin1String(name)); }
    void add(const char* name, const ChapterBuilder& builder, const char* fileName = "c.xhtml")
    {
        const QString file = builder.write(m_dir.filePath(QLatin1String(name)), QLatin1String(fileName));
        QVERIFY2(!file.isEmpty(), name);
        m_files.insert(QLatin1String(name), file);
    }

    QList<ChapterPageInfo> m_chapters;
    std::unique_ptr<Client> m_client;

    // The page count of a chapter in one chapter page, and the pages of links in it.
    int engineCount(int chapter, const PageFormat& format, QHash<QString, int>* links = nullptr)
    {
        EnginePage page;
        const int count = page.open(m_chapters.at(chapter).fileUrl.toLocalFile(), format);
        if (links) {
            for (auto it = links->begin(); it != links->end(); ++it)
                it.value() = page.getPageByKelLink(it.key());
        }
        return count;
    }

    bool paginate(const PaginationRequest& r)
    {
        QSignalSpy started(m_client.get(), &DataExchangeSvc::calcStarted);
        QSignalSpy done(m_client.get(), &DataExchangeSvc::calcDone);
        m_client->repaginate(r);
        return started.count() == 1 && (done.count() == 1 || done.wait(kReplyTimeoutMs));
    }

    // Page counts and start pages of the last result match the engine's counts.
    void checkCounts(const PageFormat& format)
    {
        int start = 0;
        for (int i = 0; i < m_chapters.size(); ++i) {
            const int count = engineCount(i, format);
            QVERIFY(count > 0);
            QCOMPARE(m_client->chapterPageCount(m_chapters.at(i).source), count);
            QCOMPARE(m_client->chapterStartPage(m_chapters.at(i).source), start);
            start += count;
        }
        QCOMPARE(m_client->totalPageCount(), start);
        QCOMPARE(m_client->resultNumber(), start);
    }

    // A script that, after `setup`, runs `step` on the client rect `r` of every rendered piece of
    // text under `root`, with `column` its column from the content's left, and gives `result`.
    static QString overTextRects(const QString& root, const QString& setup, const QString& step, const QString& result)
    {
        return QStringLiteral("(function (root) {"
                              " var pageWidth = page.width / page.columnCount, left = kelContentLeft();"
                              " %2"
                              " var walker = kelTextWalker(root);"
                              " for (var n = walker.nextNode(); n; n = walker.nextNode()) {"
                              "  var range = document.createRange();"
                              "  range.selectNodeContents(n);"
                              "  var rects = range.getClientRects();"
                              "  for (var i = 0; i < rects.length; ++i) {"
                              "   var r = rects[i];"
                              "   if (r.height <= 0 || r.width <= 0) continue;"
                              "   var column = Math.floor((r.left - left) / pageWidth);"
                              "   %3 } }"
                              " return %4; })(%1)")
            .arg(root, setup, step, result);
    }

    TempHome m_home;
    QTemporaryDir m_dir;
    QString m_chapter;
    QString m_fontProbe;
    BookPageParams m_params;
    QHash<QString, QString> m_files;

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        ChapterBuilder builder(42);
        builder.addHeading(1, QStringLiteral("Chapter One"));
        builder.addRaw(QStringLiteral("<p id=\"opening\">Opening words of the chapter, kept short.</p>\n"));
        builder.addProse(12);
        builder.addRaw(QStringLiteral("<p id=\"mid\">The middle of the chapter starts here.</p>\n"));
        builder.addProse(10);
        builder.addRaw(
            QStringLiteral("<p id=\"marked\">The quick brown fox jumps over the lazy dog near the river bank.</p>\n"
                           "<p id=\"q'u&quot;o\\te');window.pwned=1;//\">A paragraph with an awkward id.</p>\n"
                           "<p id=\"red\">Marked <span class=\"rednote\">red</span> and "
                           "<span class=\"underlinenote\" id=\"under\">underlined</span> words.</p>\n"));
        builder.addProse(8);
        builder.addRaw(QStringLiteral("<p id=\"closing\">Closing words.</p>\n"));
        m_chapter = builder.write(m_dir.filePath(QStringLiteral("Text")), QStringLiteral("Chapter1.xhtml"));
        QVERIFY(!m_chapter.isEmpty());

        // No font named: the page's standard font decides the glyph widths.
        m_fontProbe = m_dir.filePath(QStringLiteral("probe.html"));
        QVERIFY(testfiles::write(m_fontProbe,
            "<!DOCTYPE html><html><head><meta charset=\"utf-8\"></head><body>"
            "<p><span id=\"narrow\">iiiiiiiiii</span><br/><span id=\"wide\">MMMMMMMMMM</span></p></body></html>"));
        m_params.setPageColors(EnginePage::dayColors());
        m_params.setFontFamily(QStringLiteral("Original font"));
        ChapterBuilder realistic(11);
        realistic.addHeading(1, QStringLiteral("Realistic"));
        realistic.addRealisticContent(40000);
        realistic.addRaw(QStringLiteral("<h2 id=\"target\">The target</h2>\n"));
        realistic.addProse(10);
        add("realistic", realistic);
        add("realistic html", realistic, "c.html");

        // Paragraphs longer than a screen: most screens begin inside a paragraph.
        ChapterBuilder longParagraphs(12);
        longParagraphs.addHeading(1, QStringLiteral("Long"));
        longParagraphs.addProse(12, 500, 800);
        add("long paragraphs", longParagraphs);

        // Short paragraphs: every screen has paragraphs that start on it.
        ChapterBuilder shortParagraphs(13);
        shortParagraphs.addProse(150, 8, 30);
        add("short paragraphs", shortParagraphs);

        ChapterBuilder shortChapter(3);
        shortChapter.addHeading(1, QStringLiteral("Short"));
        shortChapter.addProse(1, 20, 30);
        add("short", shortChapter);
        add("empty", ChapterBuilder());

        // A book that sets its own colours and backgrounds, fonts, alignment and a reading
        // width for its text; its text sits in an opaque box.
        ChapterBuilder styled(31);
        styled.addRaw(QStringLiteral(
            "<style>body { background: #ffffff; color: #000000; } p { color: #111111; font-family: serif;"
            " text-align: justify; } a { color: #00008b; } h1 { color: #202020; background-color: #f4f4f4; }"
            " div.box { background-color: #ffffff; color: #000000; max-width: 24em; margin: 0 auto; }</style>\n"
            "<div class=\"box\">\n"));
        styled.addHeading(1, QStringLiteral("Own colours"));
        styled.addRaw(QStringLiteral("<p id=\"first\">The first paragraph, with <a href=\"#first\">a link in it"
                                     "</a> and enough words to fill a line of the page.</p>\n"));
        styled.addRaw(QStringLiteral("<p id=\"centred\" style=\"text-align: center\">* * *</p>\n"));
        // Boxes of the book's own, light and dark, under classes a note mark could have.
        styled.addRaw(QStringLiteral("<style>div.note { background: #eeeeee; padding: 0.5em; }"
                                     " div.footnote { background-color: #333333; }"
                                     " div.footnote p { color: #ffffff; }</style>\n"
                                     "<div class=\"note\" id=\"lightbox\"><p>Note: the words in this box are "
                                     "read over the box's own light grey.</p></div>\n"
                                     "<div class=\"footnote\" id=\"darkbox\"><p>A footnote in white on dark "
                                     "grey.</p></div>\n"));
        styled.addProse(30);
        // Its own navigation bars: a row of links in boxes with separators between them, and a
        // list of links laid out in a row.
        styled.addRaw(QStringLiteral(
            "<style>p.nav a { background-color: #dde4ee; padding: 0 0.3em; text-decoration: none; }"
            " ol.nav { list-style: none; padding: 0; } ol.nav li { display: inline; padding-right: 1em;"
            " background-image: linear-gradient(#888888, #888888); background-repeat: no-repeat;"
            " background-size: 1px 1em; background-position: right center; }</style>\n"
            "<p class=\"nav\"><a id=\"nav1\" href=\"#first\">Previous</a> | <a id=\"nav2\" href=\"#first\">"
            "Contents</a> | <a id=\"nav3\" href=\"#first\">Next</a></p>\n<ol class=\"nav\"><li><a id=\"nav4\" "
            "href=\"#first\">One</a></li><li><a id=\"nav5\" href=\"#first\">Two</a></li></ol>\n"));
        styled.addRaw(QStringLiteral("</div>\n"));
        add("styled", styled);

        // One paragraph of some 40,000 characters: every screen but the first starts inside it.
        ChapterBuilder oneParagraph(32);
        oneParagraph.addHeading(1, QStringLiteral("One paragraph"));
        oneParagraph.addLongParagraph(40000);
        add("one long paragraph", oneParagraph);

        // Runs of thousands of neutral characters (punctuation, spaces) between words and at a
        // paragraph's end, in paragraphs of either direction: laid out with direction marks
        // between them, which must add no character or page of their own.
        ChapterBuilder neutral(33);
        neutral.addHeading(1, QStringLiteral("Neutral runs"));
        for (int i = 0; i < 6; ++i) {
            neutral.addParagraph(neutral.sentence(20, 40) + QStringLiteral(" &lt;").repeated(1500 + 500 * i)
                + QStringLiteral(" ") + neutral.sentence(10, 20) + QStringLiteral("&lt;").repeated(3000) + "&#8230;");
            neutral.addRaw(QStringLiteral("<p dir=\"rtl\">\u05e9\u05dc\u05d5\u05dd %1 \u05e2\u05d5\u05dc\u05dd</p>\n")
                               .arg(QStringLiteral("-.").repeated(800)));
        }
        add("neutral runs", neutral);
        // A word of bare "<" as long as a converted chapter holds in one block (a longer one is
        // cut), and a megabyte of "< " as an EPUB chapter holds it: lines broken inside a word,
        // and at spaces.
        ChapterBuilder bare;
        bare.addRaw(QString(InlineRuns::MaxRunBytes, QLatin1Char('<')));
        add("bare <", bare, "c.html");
        ChapterBuilder spaced;
        spaced.addRaw(QStringLiteral("&lt; ").repeated(1 << 19));
        add("spaced <", spaced);

        ChapterBuilder notes(21);
        notes.addHeading(1, QStringLiteral("Notes"));
        notes.addProse(3, 30, 60);
        notes.addRaw(QStringLiteral(
            "<p id=\"p1\">Alpha beta <b>gamma delta</b> epsilon zeta eta theta.</p>\n"
            "<p id=\"p2\">Second paragraph with <em>emphasis <b>nested bold</b> words</em> and more text here.</p>\n"
            "<p id=\"p3\">Кириллица здесь, и 漢字もここに。 Mixed text to the end.</p>\n"));
        notes.addProse(1, 400, 400);
        notes.addRaw(QStringLiteral("<p id=\"long\">") + notes.sentence(300, 300) + QStringLiteral("</p>\n"));
        notes.addProse(4);
        add("notes", notes);

        ChapterBuilder chunks;
        chunks.addHeading(1, QStringLiteral("Chapter Two"));
        chunks.addRaw(QStringLiteral("<p>Mr. Smith went home. He slept.</p>\n"
                                     "<p>Hello <b>world</b>. Next one starts here. Dr. Who? Yes!</p>\n"
                                     "<ul><li>First item</li><li>Second <em>item</em> ends</li></ul>\n"
                                     "<table><tr><td>Cell one</td><td>Cell two.</td></tr></table>\n"
                                     "<pre>code line one\ncode line two</pre>\n"
                                     "<p>Съешь же ещё этих булок. Да выпей чаю.</p>\n"
                                     "<p>天地玄黄，宇宙洪荒。日月盈昃。</p>\n"
                                     "<p>Last \"quoted sentence.\" Final words</p>\n"
                                     "<script type=\"text/javascript\">var notRead = 1;</script>\n"));
        add("chunks", chunks);

        QVERIFY(QFileInfo(helperPath()).isExecutable());

        ChapterBuilder one(21);
        one.addHeading(1, QStringLiteral("Chapter One"));
        one.addProse(6);
        one.addParagraph(QStringLiteral("The %1 swam past the harbour. It was small.").arg(kWord));
        one.addProse(8);
        one.addParagraph(QStringLiteral("Nobody saw the Zebrafish again."));
        one.addProse(3);
        ChapterBuilder three(23);
        three.addHeading(1, QStringLiteral("Chapter Three"));
        three.addProse(15);
        three.addParagraph(QStringLiteral("A last %1 here.").arg(kWord));
        three.addProse(4);
        three.addRaw(QStringLiteral("<table style=\"width:900px\"><tr>%1<td id=\"lastcell\">Internationalisation7 "
                                    "counterrevolutionaries7</td></tr></table>\n")
                         .arg(kWideCells));
        const QString text = m_dir.filePath(QStringLiteral("Text"));
        m_chapters = { chapterInfo(QStringLiteral("Text/one.xhtml"), one.write(text, QStringLiteral("one.xhtml"))),
            chapterInfo(QStringLiteral("Text/two.xhtml"), chapter("realistic")),
            chapterInfo(QStringLiteral("Text/three.html"), three.write(text, QStringLiteral("three.html"))) };

        m_client.reset(new Client);
        m_client->setBookKey(QStringLiteral("book-1"));
        m_client->sendChapterList(m_chapters, QString());
        QTRY_VERIFY_WITH_TIMEOUT(m_client->isConnected(), kReplyTimeoutMs);
        m_client->search(QString::fromLatin1(kWord));
    }

    void mouseGestures_data()
    {
        // Steps: P/R left press/release, M/N middle, E/S right, d a move within the start-drag
        // distance, r one past it with the right button held, D one past it, B another one while
        // dragging, '.' a wait past the click interval.
        QTest::addColumn<QString>("steps");
        QTest::addColumn<int>("clicks");
        QTest::addColumn<int>("fullscreen");
        QTest::addColumn<int>("pressed");
        QTest::newRow("quick click, reported by the timer") << "PR" << 1 << 0 << 1;
        QTest::newRow("held press, reported at the release") << "P.R" << 1 << 0 << 1;
        QTest::newRow("double click, then a click") << "PRPR.PR" << 1 << 1 << 2;
        QTest::newRow("middle button") << "MN" << 0 << 1 << 0;
        QTest::newRow("right button") << "ES" << 0 << 0 << 0;
        QTest::newRow("drag") << "PdrDBR" << 0 << 0 << 1;
    }

    void mouseGestures()
    {
        QFETCH(QString, steps);
        QFETCH(int, clicks);
        QFETCH(int, fullscreen);
        QFETCH(int, pressed);
        FakeViewer viewer;
        QSignalSpy pressedSpy(viewer.userEvents(), &AbstractViewer::UserEvents::mousePressed);
        QSignalSpy fullscreenSpy(viewer.userEvents(), &AbstractViewer::UserEvents::fullscreenPressed);
        viewer.clock.start();
        const int distance = QApplication::startDragDistance();
        const QPoint moved(100 + distance, 100);
        QVERIFY(!viewer.move(QPoint(10, 10))); // no press yet
        for (const QChar step : steps) {
            switch (step.toLatin1()) {
            case 'P':
                // The second press of a double click is consumed; a first one is left to the widget.
                QCOMPARE(
                    viewer.press(Qt::LeftButton), fullscreenSpy.isEmpty() && !pressedSpy.isEmpty() && !viewer.clicks);
                break;
            case 'R':
                viewer.release(Qt::LeftButton);
                break;
            case 'M':
                QVERIFY(viewer.press(Qt::MiddleButton));
                QCOMPARE(fullscreenSpy.count(), 0); // at the release
                break;
            case 'N':
                viewer.release(Qt::MiddleButton);
                break;
            case 'E':
                QVERIFY(!viewer.press(Qt::RightButton));
                break;
            case 'S':
                viewer.release(Qt::RightButton);
                break;
            case 'd':
                QVERIFY(!viewer.move(moved));
                break;
            case 'r':
                QVERIFY(!viewer.move(moved + QPoint(1, 0), Qt::RightButton));
                break;
            case 'D':
                QVERIFY(viewer.move(moved + QPoint(1, 0)));
                break;
            case 'B':
                QVERIFY(viewer.move(QPoint(90, 130)));
                break;
            case '.':
                QTest::qWait(kSettleMs);
                break;
            }
        }
        // Released before the event loop ran again: a second press may still make a double click.
        if (steps.endsWith(QLatin1String("PR")) && clicks > 0)
            QCOMPARE(viewer.clicks, clicks - 1);
        QTest::qWait(kSettleMs);
        QCOMPARE(viewer.clicks, clicks);
        QCOMPARE(fullscreenSpy.count(), fullscreen);
        QCOMPARE(pressedSpy.count(), pressed);
        const int dragged = steps.count(QLatin1Char('D'));
        QCOMPARE(viewer.dragStarts, dragged);
        QCOMPARE(viewer.dragEnds, dragged);
        if (dragged)
            QCOMPARE(viewer.dragDeltas, (QList<QPoint> { QPoint(-(distance + 1), 0), QPoint(10, -30) }));
        QVERIFY(!viewer.move(QPoint(10, 10))); // released: no press any more
        // Qt's coarse timers may fire up to 5 % early.
        if (steps == QLatin1String("PR"))
            QVERIFY2(viewer.lastClickAt >= 280, qPrintable(QString::number(viewer.lastClickAt)));
    }

    void pageParamsSignalChangesOnly()
    {
        // Sizes and column counts are brought into range (a failed settings conversion gives 0);
        // a value that changes nothing signals nothing.
        BookPageParams params;
        QSignalSpy fontSize(&params, &BookPageParams::fontSizeChanged);
        QSignalSpy columns(&params, &BookPageParams::columnCountChanged);
        for (int size : { 40, 32, 3, 8 })
            params.setFontSize(size);
        for (int count : { 2, 1, 0, 3 })
            params.setColumnCount(count);
        QCOMPARE(signalArguments(fontSize), (QList<QVariantList> { { 32 }, { 8 } }));
        QCOMPARE(signalArguments(columns), (QList<QVariantList> { { 1 }, { 2 } }));
    }

    void pageFormatAndFonts()
    {
        ChapterPtr page = open(m_chapter, 1, false);
        QVERIFY(page);
        QSignalSpy count(page.get(), &TextBookChapter::pageCountChanged);
        QSignalSpy current(page.get(), &TextBookChapter::currentPageChanged);
        QSignalSpy formatted(page.get(), &TextBookChapter::pageFormattingChanged);
        m_params.setFontSize(20);
        page->applyPageParams(&m_params);
        QCOMPARE(count.count(), 1);
        QCOMPARE(current.count(), 1);
        QCOMPARE(formatted.count(), 1);
        const int pages = page->pageCount();
        QVERIFY2(pages >= 6, qPrintable(QString::number(pages)));
        QCOMPARE(page->currentPage(), 1);
        QCOMPARE(pages, engineInt(*page, QStringLiteral("page.count")));

        // The same format again: only the formatting is reported.
        page->applyPageParams(&m_params);
        QCOMPARE(count.count(), 1);
        QCOMPARE(current.count(), 1);
        QCOMPARE(formatted.count(), 2);

        // A narrower window alone: more pages, reported.
        m_params.setWidth(500);
        page->setViewportSize(QSize(500, 600));
        page->applyPageParams(&m_params);
        QCOMPARE(count.count(), 2);
        QVERIFY(page->pageCount() > pages);

        // A larger default font size reaches the page and needs more pages still.
        const int narrowPages = page->pageCount();
        m_params.setFontSize(26);
        page->applyPageParams(&m_params);
        QCOMPARE(engineText(*page, QStringLiteral("getComputedStyle(document.getElementById('mid')).fontSize")),
            QStringLiteral("26px"));
        QVERIFY(page->pageCount() > narrowPages);
        m_params.setFontSize(20);

        // The font family becomes the page's standard font; "Original font" (any case) resets it.
        ChapterPtr probe = open(m_fontProbe);
        QVERIFY(probe);
        const auto widths = [&] {
            return qMakePair(
                engineInt(*probe, QStringLiteral("document.getElementById('narrow').getBoundingClientRect().width")),
                engineInt(*probe, QStringLiteral("document.getElementById('wide').getBoundingClientRect().width")));
        };
        m_params.setFontFamily(QStringLiteral("DejaVu Sans Mono"));
        probe->applyPageParams(&m_params);
        QCOMPARE(widths().first, widths().second); // monospaced
        m_params.setFontFamily(QStringLiteral("ORIGINAL FONT"));
        probe->applyPageParams(&m_params);
        QVERIFY(widths().first < widths().second);
        m_params.setFontFamily(QStringLiteral("Original font"));

        // Colours, alignment, line spacing and note styles reach the page; a second application
        // replaces the rules instead of adding to them; colours alone go through their own script.
        ViewerColors colors = EnginePage::dayColors();
        colors.background = QColor(QStringLiteral("#fbf0d9"));
        colors.text = QColor(QStringLiteral("#5f4b32"));
        m_params.setPageColors(colors);
        m_params.setTextAlignment(Enums::CenterTextAlign);
        m_params.setLineSpacing(150);
        page->applyPageParams(&m_params);
        const auto style = [&](const QString& selector, const QString& property) {
            return engineText(
                *page, QStringLiteral("getComputedStyle(document.querySelector('%1')).%2").arg(selector, property))
                .remove(QLatin1Char(' '));
        };
        QCOMPARE(style(QStringLiteral("body"), QStringLiteral("backgroundColor")), QStringLiteral("rgb(251,240,217)"));
        QCOMPARE(style(QStringLiteral("p"), QStringLiteral("color")), QStringLiteral("rgb(95,75,50)"));
        QCOMPARE(style(QStringLiteral("p"), QStringLiteral("textAlign")), QStringLiteral("center"));
        QCOMPARE(style(QStringLiteral("p"), QStringLiteral("lineHeight")), QStringLiteral("30px")); // 150 % of 20 px
        QCOMPARE(
            style(QStringLiteral(".rednote"), QStringLiteral("backgroundColor")), QStringLiteral("rgb(243,162,162)"));
        QVERIFY(
            style(QStringLiteral("#under"), QStringLiteral("textDecoration")).startsWith(QLatin1String("underline")));
        m_params.setTextAlignment(Enums::RightTextAlign);
        page->applyPageParams(&m_params);
        QCOMPARE(style(QStringLiteral("p"), QStringLiteral("textAlign")), QStringLiteral("right"));
        QCOMPARE(
            engineInt(*page, QStringLiteral("document.querySelectorAll('style[id^=\"body_style_2_\"]').length")), 1);
        colors.background = QColor(QStringLiteral("#102030"));
        m_params.setPageColors(colors);
        page->applyPageColors(&m_params);
        QCOMPARE(style(QStringLiteral("body"), QStringLiteral("backgroundColor")), QStringLiteral("rgb(16,32,48)"));
        m_params.setPageColors(EnginePage::dayColors());
        m_params.setTextAlignment(Enums::JustifyTextAlign);
        m_params.setLineSpacing(110);
    }

    void readingPositions_data()
    {
        QTest::addColumn<QString>("columns");
        QTest::addColumn<QString>("position");
        // The expected first page on screen: a number, or what the engine gives for a script; none
        // for a position that leaves the page where it was.
        QTest::addColumn<QString>("expected");
        addTextRows({
            { "page 4 of two columns", "2", "4", "3" },
            { "anchor", "1", "#mid", "getPageByKelLink('#mid')" },
            { "start any case", "1", "StArT", "1" },
            { "end of two columns", "2", "end", "page.count - 1" },
            { "element path", "1", "/html[1]/body[1]/div[1]/div[1]/p[@]", "getPageByKelLink('#closing')" },
            { "path with offset", "1", "/html[1]/body[1]/div[1]/div[1]/p[@]&offset=5", "getPageByKelLink('#closing')" },
            { "text of the element", "1", "/html[1]/body[1]/div[1]/div[1]/p[@]/text()[1]",
                "getPageByKelLink('#closing')" },
            { "offset past the text", "1", "/html[1]/body[1]/div[1]/div[1]/p[@]&offset=999999",
                "getPageByKelLink('#closing')" },
            { "none of these", "1", "chapter", nullptr },
            { "malformed path", "1", "///p[x]", nullptr },
            { "page 0", "1", "0", nullptr },
            { "past the end", "1", "999", nullptr },
            { "unknown anchor", "1", "#nowhere", nullptr },
        });
    }

    void readingPositions()
    {
        QFETCH(QString, columns);
        QFETCH(QString, position);
        QFETCH(QString, expected);
        const int screen = columns.toInt(); // pages
        ChapterPtr page = open(m_chapter, screen);
        QVERIFY(page);
        // Start away from the first screen, so a move that does nothing shows.
        QVERIFY(page->setReadingPosition(QStringLiteral("#mid")));
        const int before = page->currentPage();
        QVERIFY(before > screen);

        position.replace(
            QLatin1String("[@]"), QStringLiteral("[%1]").arg(siblingIndex(*page, QStringLiteral("closing"))));
        int want = before;
        if (!expected.isNull()) {
            bool isNumber = false;
            want = expected.toInt(&isNumber);
            if (!isNumber)
                want = engineInt(*page, expected);
            want -= (want - 1) % screen; // the first page of its screen
        }
        QSignalSpy current(page.get(), &TextBookChapter::currentPageChanged);
        QVERIFY(page->setReadingPosition(position));
        QCOMPARE(current.count(), 1); // in every case
        QCOMPARE(page->currentPage(), want);
        QCOMPARE(engineInt(*page, QStringLiteral("page.current")), want);
    }

    void turningPages_data()
    {
        QTest::addColumn<int>("columns");
        QTest::newRow("one column") << 1;
        QTest::newRow("two columns") << 2;
    }

    void turningPages()
    {
        QFETCH(int, columns);
        ChapterPtr page = open(m_chapter, columns);
        QVERIFY(page);
        const int count = page->pageCount();
        QSignalSpy current(page.get(), &TextBookChapter::currentPageChanged);
        QSignalSpy nextChapter(page.get(), &TextBookChapter::nextChapterRequest);
        QSignalSpy prevChapter(page.get(), &TextBookChapter::prevChapterRequest);
        // The screen shown: the content moved left by a page width per page, half a gap in.
        const auto shows = [&](int first) {
            return page->currentPage() == first
                && engineText(*page, QStringLiteral("document.getElementById('%1').style.left").arg(kUid + "0"))
                == QStringLiteral("%1px").arg((first - 1) * -(800 / columns) + 30);
        };

        page->prev(); // on the first screen: the previous chapter is asked for
        QCOMPARE(prevChapter.count(), 1);
        QVERIFY(shows(1));

        int turns = 0;
        while (nextChapter.isEmpty() && turns <= count) {
            const int before = page->currentPage();
            page->next();
            if (nextChapter.isEmpty()) {
                ++turns;
                QVERIFY(shows(before + columns));
                QCOMPARE(current.count(), turns);
            }
        }
        QCOMPARE(nextChapter.count(), 1);
        QVERIFY(shows(count - columns + 1)); // the last screen, unchanged
        QCOMPARE(turns, count / columns - 1);

        page->prev();
        QVERIFY(shows(count - 2 * columns + 1));
        QCOMPARE(prevChapter.count(), 1);
    }

    void linkPages_data()
    {
        QTest::addColumn<QString>("linkSource");
        QTest::addColumn<int>("pageMode");
        QTest::addColumn<int>("offset");
        // What the engine is asked for, evaluated by the test; "" for no page at all.
        QTest::addColumn<QString>("engineLink");

        const QString encoded = QString::fromLatin1(QUrl::toPercentEncoding("/html[1]/body[1]/div[1]/div[1]/p[@mid]"));
        QTest::newRow("reading path") << kSource + "?kelpath=" + encoded << 1 << 0 << "kelpath=" + encoded;
        QTest::newRow("note link cut at the offset")
            << kSource + "?kelpath=" + encoded + "&offset=12" << 1 << 5 << "kelpath=" + encoded;
        QTest::newRow("other page mode") << kSource + "#closing" << 2 << 3 << "#closing";
        QTest::newRow("unknown anchor keeps no page") << kSource + "#nowhere" << 1 << 10 << QString();
        QTest::newRow("broken encoding") << kSource + "?kelpath=%E0%A4%A" << 1 << 10 << QString();
    }

    void linkPages()
    {
        QFETCH(QString, linkSource);
        QFETCH(int, pageMode);
        QFETCH(int, offset);
        QFETCH(QString, engineLink);
        ChapterPtr page = open(m_chapter);
        QVERIFY(page);
        const QString midIndex = QStringLiteral("%5B%1%5D").arg(siblingIndex(*page, QStringLiteral("mid")));
        linkSource.replace(QLatin1String("%5B%40mid%5D"), midIndex);
        engineLink.replace(QLatin1String("%5B%40mid%5D"), midIndex);

        int want = -1;
        if (!engineLink.isEmpty()) {
            const int inChapter
                = engineInt(*page, QStringLiteral("getPageByKelLink('%1');").arg(jsengine::escaped(engineLink)));
            QVERIFY(inChapter > 1);
            want = (pageMode == 1 ? inChapter : 2 * inChapter - 1) + offset;
        }
        BookLinkPtr link(new BookLink(linkSource, 77));
        bool done = false;
        page->resolveLinkPage(link, pageMode, offset, [&] { done = true; });
        QVERIFY(done);
        QCOMPARE(link->page, want);
    }

    // Notes from selections, and hostile text in every call that reaches the page's scripts.
    void notesAndHostileText()
    {
        ChapterPtr page = open(m_chapter);
        QVERIFY(page);
        const QStringList hostile = { QStringLiteral("x');window.pwned=1;('"),
            QStringLiteral("x\\');window.pwned=1;//"), QStringLiteral("x\");window.pwned=1;//"),
            QStringLiteral("x\n');window.pwned=1;//"), QStringLiteral("x\u2028');window.pwned=1;//"),
            QStringLiteral("</script><script>window.pwned=1</script>") };

        // An anchor with quotes and a backslash is found as it is written.
        const int anchorPage
            = engineInt(*page, QStringLiteral("getPageByKelLink('#%1')").arg(jsengine::escaped(kHostileId)));
        QVERIFY(anchorPage > 1);
        page->setReadingPosition(QLatin1Char('#') + kHostileId);
        QCOMPARE(page->currentPage(), anchorPage);
        BookLinkPtr anchorLink(new BookLink(kSource + QLatin1Char('#') + kHostileId, -1));
        page->resolveLinkPage(anchorLink, 1, 0, nullptr);
        QCOMPARE(anchorLink->page, anchorPage);

        for (const QString& text : hostile) {
            page->setReadingPosition(QLatin1Char('#') + text);
            page->setReadingPosition(QStringLiteral("/html[1]/body[1]") + text);
            BookLinkPtr link(new BookLink(kSource + QStringLiteral("?kelpath=") + text, -1));
            page->resolveLinkPage(link, 1, 0, nullptr);
            QCOMPARE(link->page, -1);
            page->removeNote(text);
            page->setNoteStyle(text, text);
        }
        QVERIFY(!pwned(*page));
        // Every character comes back out of a single-quoted script string.
        const QString controls
            = QStringLiteral("tab\t\r\n") + QChar(0) + QChar(0x2029) + QStringLiteral("кириллица \U0001F600");
        for (const QString& text : hostile + QStringList { controls })
            QCOMPARE(engineText(*page, QStringLiteral("'%1'").arg(jsengine::escaped(text))), text);
        QVERIFY(jsengine::scriptWithInit(QStringLiteral("ab'c")).endsWith(QLatin1String("init('ab\\'c');")));

        // A path is percent-encoded whole, so a link holds no quote, markup or second "&".
        QCOMPARE(TextBookChapter::readingLink(QStringLiteral("a b.xhtml"), QStringLiteral("/html[1]/p[2]&offset=3é~")),
            QStringLiteral("a b.xhtml?kelpath=%2Fhtml%5B1%5D%2Fp%5B2%5D%26offset%3D3%C3%A9~"));

        // A note from a selection: its offsets and colour, and found by its id under a point of
        // its mark and at the focus of a selection inside it.
        QVERIFY(page->setReadingPosition(QStringLiteral("#marked")));
        QSignalSpy created(page.get(), &TextBookChapter::newNoteCreated);
        const QString selected = selectText(*page, QStringLiteral("marked"), 4, 19);
        QCOMPARE(selected, QStringLiteral("quick brown fox"));
        page->createNoteFromSelection(hostile.at(0), NoteItem::Red);
        QCOMPARE(created.count(), 1);
        const NoteItem note = created.at(0).at(0).value<NoteItem>();
        QCOMPARE(QVariantList({ note.id, note.color, note.context, note.startOffset, note.endOffset, note.endPath }),
            QVariantList({ hostile.at(0), NoteItem::Red, selected, 4, 19, note.startPath }));
        QCOMPARE(markClass(*page, note.id), QStringLiteral("rednote"));
        const QVariantList box = markBoxes(*page, note.id).toList().first().toList();
        QString found = QStringLiteral("unset");
        const QPoint inside(box[0].toInt() + box[2].toInt() / 2, box[1].toInt() + box[3].toInt() / 2);
        page->findNoteId(inside, [&](const QString& id) { found = id; });
        QCOMPARE(found, note.id);
        page->findNoteId(QPoint(1, 1), [&](const QString& id) { found = id; });
        QCOMPARE(found, QString());
        selectText(*page, QStringLiteral("marked"), 6, 8);
        page->findNoteId(QPoint(0, 0), [&](const QString& id) { found = id; });
        QCOMPARE(found, note.id);

        // Note ids and style names reach the page verbatim.
        for (int i = 1; i < hostile.size(); ++i) {
            selectText(*page, QStringLiteral("marked"), 4 + i, 10 + i);
            page->createNoteFromSelection(hostile.at(i), NoteItem::Yellow);
        }
        QCOMPARE(created.count(), hostile.size());
        for (const QString& id : hostile) {
            QVERIFY2(!markBoxes(*page, id).isNull(), qPrintable(id));
            page->setNoteStyle(id, QStringLiteral("red'x"));
            QCOMPARE(markClass(*page, id), QStringLiteral("red'xnote"));
            page->removeNote(id);
            QVERIFY(markBoxes(*page, id).isNull());
        }
        page->findNoteId(inside, [&](const QString& id) { found = id; });
        QCOMPARE(found, QString());

        // Stored notes with hostile paths and ids, and a colour outside the style table.
        QList<NoteItem> stored;
        for (const QString& text : hostile) {
            NoteItem item;
            item.id = text;
            item.startPath = QStringLiteral("/html[1]/body[1]/div[1]/div[1]/p[1]") + text;
            item.endPath = text;
            item.startOffset = 0;
            item.endOffset = 3;
            stored.append(item);
        }
        NoteItem strange = note;
        strange.id = QStringLiteral("strange");
        strange.color = NoteItem::NoteColor(99);
        stored.append(strange);
        page->addNotes(stored);
        QCOMPARE(markClass(*page, QStringLiteral("strange")), QStringLiteral("note"));
        for (const QString& text : hostile)
            QVERIFY(markBoxes(*page, text).isNull());
        QVERIFY(!pwned(*page));
    }

    // On a book that sets its own colours, night and sepia put the page's colours over the
    // book's on every page, and the text stays readable; day keeps the book's look. Links keep
    // standing out from the text and from each other: the book's link colour and boxes give way
    // to the page's link colour and an underline that breaks between neighbouring links.
    void bookColoursInEachProfile_data()
    {
        QTest::addColumn<QColor>("background");
        QTest::addColumn<QColor>("text");
        QTest::addColumn<QColor>("link");
        QTest::newRow("day") << QColor(0xffffff) << QColor(Qt::black) << QColor(0x458bcf);
        QTest::newRow("night") << QColor(0x1d2026) << QColor(0xd8dce3) << QColor(0x458bcf);
        QTest::newRow("sepia") << QColor(0xfcf6e1) << QColor(0x1a1202) << QColor(0x245c9e);
    }
    void bookColoursInEachProfile()
    {
        QFETCH(QColor, background);
        QFETCH(QColor, text);
        QFETCH(QColor, link);
        ViewerColors colors = EnginePage::dayColors();
        colors.background = background;
        colors.text = text;
        colors.link = link;
        m_params.setPageColors(colors);
        ChapterPtr page = open(chapter("styled"));
        m_params.setPageColors(EnginePage::dayColors());
        QVERIFY(page && page->currentPage() == 1);
        // The book's navigation bars keep their links where the day page has them.
        const auto navLinks = [](TextBookChapter& chapter) {
            return engineText(chapter,
                QStringLiteral("[1, 2, 3, 4, 5].map(function(i) { var r = document.getElementById('nav' + i)"
                               ".getBoundingClientRect(); return [r.left, r.top, r.width].join(' '); }).join(', ')"));
        };
        ChapterPtr dayPage = open(chapter("styled"));
        QVERIFY(dayPage);
        QCOMPARE(navLinks(*dayPage).split(QStringLiteral(", ")).size(), 5);
        QCOMPARE(navLinks(*page), navLinks(*dayPage));
        // Colour, underline and box of every link: the day page shows the book's (dark blue, the
        // first bar's boxes without underline); night and sepia their link colour, underlined,
        // on the page.
        const bool day = background == Qt::white;
        const auto look = [&](bool boxed) {
            const QColor c = day ? QColor(0x00008b) : link;
            const bool keepsBox = boxed && day;
            return QStringLiteral("%1rgb(%2, %3, %4) %5 %6")
                .arg(boxed ? "boxed " : "")
                .arg(c.red())
                .arg(c.green())
                .arg(c.blue())
                .arg(keepsBox ? "none" : "underline", keepsBox ? "rgb(221, 228, 238)" : "rgba(0, 0, 0, 0)");
        };
        QStringList looks = engineText(*page,
            QStringLiteral("[].map.call(document.querySelectorAll('a[href]'), function(a) {"
                           " var s = getComputedStyle(a); return (a.parentNode.className == 'nav' ? 'boxed ' : '')"
                           " + [s.color, s.textDecoration, s.backgroundColor].join(' '); }).join('|')"))
                                .split(QLatin1Char('|'));
        QVERIFY(looks.size() > 5);
        looks.removeDuplicates();
        looks.sort();
        QCOMPARE(looks, QStringList({ look(true), look(false) }));
        // The book's own boxes read in every profile: their text stands out from what is under it.
        const QImage first = grabPage(*page);
        for (const char* id : { "lightbox", "darkbox" }) {
            const QVariantList box = engine(*page,
                QStringLiteral("(function (r) { return [r.left, r.top, r.width, r.height]; })"
                               "(document.getElementById('%1').getBoundingClientRect())")
                    .arg(QLatin1String(id)))
                                         .toList();
            QCOMPARE(box.size(), 4);
            const QRect rect
                = QRect(box[0].toInt(), box[1].toInt(), box[2].toInt(), box[3].toInt()).adjusted(1, 1, -1, -1);
            QVERIFY2(first.rect().contains(rect), id);
            const PageLook inBox = pageLook(first.copy(rect));
            QVERIFY2(inBox.contrast >= 4.5,
                qPrintable(QStringLiteral("%1: text on %2, contrast %3")
                               .arg(QLatin1String(id))
                               .arg(inBox.page, 6, 16, QLatin1Char('0'))
                               .arg(inBox.contrast)));
        }
        int pages = 0;
        QStringList linksSeen;
        forever
        {
            // The page is the profile's colour all over, but for the text on it.
            const QImage image = grabPage(*page);
            const PageLook look = pageLook(image);
            QVERIFY2(nearColor(look.page, background.rgb()) && look.share > 0.6,
                qPrintable(QStringLiteral("page %1 is %2 on %3 of it")
                               .arg(page->currentPage())
                               .arg(look.page, 6, 16, QLatin1Char('0'))
                               .arg(look.share)));
            QVERIFY2(look.contrast >= 4.5,
                qPrintable(QStringLiteral("page %1: contrast %2").arg(page->currentPage()).arg(look.contrast)));
            // Under each bar link on this page a line of the link colour runs most of its
            // width, and it breaks before the next link: the row holds the page's colour there.
            const QVariantList boxes = engine(*page,
                QStringLiteral("[1, 2, 3, 4, 5].map(function(i) { var r = document.getElementById('nav' + i)"
                               ".getBoundingClientRect(); return [r.left, r.top, r.right, r.bottom]; })"))
                                           .toList();
            for (int i = 0; i < boxes.size() && !day; ++i) {
                const QVariantList b = boxes.at(i).toList();
                const QRect box(QPoint(qCeil(b[0].toDouble()), qCeil(b[1].toDouble())),
                    QPoint(int(b[2].toDouble()) - 1, int(b[3].toDouble()) - 1));
                if (!image.rect().contains(box))
                    continue;
                int underline = -1;
                for (int y = box.bottom(); y > box.center().y() && underline < 0; --y) {
                    int inLink = 0;
                    for (int x = box.left(); x <= box.right(); ++x)
                        inLink += nearColor(image.pixel(x, y), link.rgb(), 24);
                    if (inLink > box.width() * 6 / 10)
                        underline = y;
                }
                QVERIFY2(underline >= 0, qPrintable(QStringLiteral("nav%1: no underline").arg(i + 1)));
                linksSeen << QStringLiteral("nav%1").arg(i + 1);
                if (i == 2 || i == 4)
                    continue;
                const int next = qCeil(boxes.at(i + 1).toList().value(0).toDouble());
                int pageColoured = 0;
                for (int x = box.right() + 1; x < next; ++x)
                    pageColoured += nearColor(image.pixel(x, underline), background.rgb(), 24);
                QVERIFY2(pageColoured >= 2,
                    qPrintable(QStringLiteral("nav%1 and nav%2 run together").arg(i + 1).arg(i + 2)));
            }
            ++pages;
            if (page->currentPage() >= page->pageCount() || pages >= 50)
                break;
            page->next();
        }
        QVERIFY(pages > 2);
        if (!day)
            QCOMPARE(linksSeen.join(QLatin1Char(' ')), QStringLiteral("nav1 nav2 nav3 nav4 nav5"));
    }

    // A note mark shows over a book's own opaque background, and the text under it stays.
    void noteMarksOverBookBackgrounds()
    {
        ChapterPtr page = open(chapter("styled"));
        QVERIFY(page);
        QCOMPARE(selectText(*page, QStringLiteral("first"), 4, 19), QStringLiteral("first paragraph"));
        page->createNoteFromSelection(QStringLiteral("over"), NoteItem::Yellow);
        const QVariantList box = markBoxes(*page, QStringLiteral("over")).toList().value(0).toList();
        QCOMPARE(box.size(), 5);
        const QRect rect(box[0].toInt(), box[1].toInt(), box[2].toInt(), box[3].toInt());
        const QImage image = grabPage(*page);
        const QRgb yellow = NoteItem::styleColor(NoteItem::Yellow).rgb();
        int tinted = 0;
        int dark = 0;
        for (int y = rect.top() + 1; y < rect.bottom(); ++y) {
            for (int x = rect.left() + 1; x < rect.right(); ++x) {
                const QRgb pixel = image.pixel(x, y);
                // Between the page's white and the mark's colour, closer to the mark than white is.
                tinted += qBlue(pixel) < 255 - (255 - qBlue(yellow)) / 3 && qRed(pixel) > qBlue(pixel) + 10;
                dark += luminance(pixel) < 0.2;
            }
        }
        QVERIFY2(tinted > rect.width() * rect.height() / 3, qPrintable(QString::number(tinted)));
        QVERIFY2(dark > 20, "the text under the mark is covered");
        // The mouse reaches the text under the mark: a click there finds the note.
        QString found;
        page->findNoteId(rect.center(), [&](const QString& id) { found = id; });
        QCOMPARE(found, QStringLiteral("over"));
        QCOMPARE(
            engineText(*page,
                QStringLiteral("document.elementFromPoint(%1, %2).id").arg(rect.center().x()).arg(rect.center().y())),
            QStringLiteral("first"));
    }

    // The reader's font family and alignment win over the book's own rules; "Original font"
    // and the original alignment leave the book's. One column runs the width of a wide page
    // even where the book limits its text to a reading width.
    void readerSettingsOverBookStyles()
    {
        m_params.setFontFamily(QStringLiteral("DejaVu Sans Mono"));
        m_params.setTextAlignment(Enums::LeftTextAlign);
        ChapterPtr page = open(chapter("styled"));
        QVERIFY(page);
        const QString style = QStringLiteral("getComputedStyle(document.getElementById('first')).%1");
        QVERIFY(engineText(*page, style.arg("fontFamily")).contains(QLatin1String("DejaVu Sans Mono")));
        QCOMPARE(engineText(*page, style.arg("textAlign")), QStringLiteral("left"));
        // What the book centres stays centred.
        QCOMPARE(engineText(*page, QStringLiteral("getComputedStyle(document.getElementById('centred')).textAlign")),
            QStringLiteral("center"));
        // A family with quotes stays one CSS string.
        m_params.setFontFamily(QStringLiteral("Odd\"); } p { color: red; \\"));
        page->applyPageParams(&m_params);
        QVERIFY(!engineText(*page, style.arg("fontFamily")).contains(QLatin1String("serif")));
        QVERIFY(engineText(*page, style.arg("color")) != QLatin1String("rgb(255, 0, 0)"));

        m_params.setFontFamily(QStringLiteral("Original font"));
        m_params.setTextAlignment(Enums::OriginTextAlign);
        page->applyPageParams(&m_params);
        QCOMPARE(engineText(*page, style.arg("fontFamily")), QStringLiteral("serif"));
        QCOMPARE(engineText(*page, style.arg("textAlign")), QStringLiteral("justify"));
        m_params.setTextAlignment(Enums::JustifyTextAlign);

        // A wide page in one column: the lines run its whole width.
        m_params.setWidth(1600);
        page->setViewportSize(QSize(1600, 600));
        page->applyPageParams(&m_params);
        const int right = engineInt(
            *page, QStringLiteral("Math.round(document.getElementById('first').getBoundingClientRect().right)"));
        QVERIFY2(right > 1500, qPrintable(QString::number(right)));
    }

    void initRunsOnce()
    {
        EnginePage page;
        QVERIFY(page.load(chapter("realistic")));
        // Before init: no layout, no page, no position.
        page.evaluate(jsengine::script());
        const QVariantMap unready = page.evaluate(EnginePage::pageFormatScript(PageFormat())).toMap();
        QCOMPARE(unready.value(QStringLiteral("loaded")), QVariant(false));
        QCOMPARE(unready.value(QStringLiteral("pageCount")).toInt(), -1);
        QCOMPARE(page.next(), -1);
        QCOMPARE(page.moveToPage(1), -1);
        QCOMPARE(page.evaluate(QStringLiteral("getReadingPosXPath();")), QVariant(QString(QLatin1String(""))));
        // An unknown function arrives invalid, unlike null.
        QCOMPARE(kindOf(page, QStringLiteral("noSuchFunction();")), ResultKind::Invalid);
        QCOMPARE(kindOf(page, QStringLiteral("selectedNoteId();")), ResultKind::Null);

        QCOMPARE(page.injectEngine(QStringLiteral("u1")), QVariant(true));
        page.applyPageFormat(PageFormat());
        page.moveToPage(3);
        const QString before = page.evaluateString(QStringLiteral("document.body.innerHTML"));
        // A second init, and even the whole script evaluated again, change nothing.
        QCOMPARE(page.evaluate(QStringLiteral("init('u2');")), QVariant(false));
        QCOMPARE(page.injectEngine(QStringLiteral("u3")), QVariant(false));
        QCOMPARE(page.evaluateString(QStringLiteral("document.body.innerHTML")), before);
        QCOMPARE(page.current(), 3);
        QCOMPARE(page.evaluateString(QStringLiteral("page.chapterUid")), QStringLiteral("u1"));
    }

    void pageCountMatchesContent_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("columns");
        QTest::addColumn<QSize>("viewport");
        for (const char* name : { "realistic", "realistic html", "neutral runs" }) {
            for (int columns : { 1, 2 }) {
                for (const QSize size : { QSize(800, 600), QSize(500, 820) }) {
                    QTest::addRow("%s %d col %dx%d", name, columns, size.width(), size.height())
                        << QString::fromLatin1(name) << columns << size;
                }
            }
        }
        QTest::newRow("bare < 2 col 800x600") << "bare <" << 2 << QSize(800, 600);
        QTest::newRow("spaced < 1 col 800x600") << "spaced <" << 1 << QSize(800, 600);
    }

    void pageCountMatchesContent()
    {
        QFETCH(QString, name);
        QFETCH(int, columns);
        QFETCH(QSize, viewport);
        EnginePage page;
        QVERIFY(page.load(m_files.value(name)));
        page.injectEngine();
        // Before the layout, every long run of neutral characters is cut by direction marks: the
        // layout's work grows with the square of an uncut run (a megabyte of "<" took minutes).
        const int neutralRun = longestNeutralRun(page);
        QVERIFY2(neutralRun >= 0 && neutralRun <= kNeutralRunBound, qPrintable(QString::number(neutralRun)));
        PageFormat format = PageFormat::withColumns(columns);
        format.width = viewport.width();
        format.height = viewport.height();
        const QVariantMap result = page.applyPageFormat(format);
        QCOMPARE(result.value(QStringLiteral("loaded")), QVariant(true));
        QCOMPARE(result.value(QStringLiteral("currentPage")).toInt(), 1);
        const int count = result.value(QStringLiteral("pageCount")).toInt();
        QCOMPARE(page.count(), count);

        // The count is the content's real extent, rounded up to whole screens.
        const int last = page.lastContentPage();
        QVERIFY2(last > 10, qPrintable(QString::number(last)));
        QCOMPARE(count, (last + columns - 1) / columns * columns);

        // The last screen shows the end of the chapter.
        const int end = page.moveEnd();
        QCOMPARE(end, count - columns + 1);
        QVERIFY(page.lastContentPage() >= end);
        QVERIFY(page.pageAtX(viewport.width() - 1) >= last);

        // What the engine adds to lay the chapter out adds no character to its text.
        QWebPage plain;
        QVERIFY(loadWebPage(&plain, m_files.value(name)));
        const QString text
            = plain.mainFrame()->evaluateJavaScript(QStringLiteral("document.body.textContent")).toString();
        QVERIFY(text.size() > 1000);
        QCOMPARE(page.evaluateString(QStringLiteral("kelColumns().textContent")), text);
    }

    void shortAndEmptyChapters_data()
    {
        QTest::addColumn<bool>("empty");
        QTest::addColumn<int>("columns");
        QTest::newRow("short, 2 columns") << false << 2;
        QTest::newRow("empty, 1 column") << true << 1;
        QTest::newRow("empty, 2 columns") << true << 2;
    }

    void shortAndEmptyChapters()
    {
        QFETCH(bool, empty);
        QFETCH(int, columns);
        EnginePage page;
        QCOMPARE(page.open(chapter(empty ? "empty" : "short"), PageFormat::withColumns(columns)), columns);
        QCOMPARE(page.next(), -1);
        QCOMPARE(page.prev(), -1);
        QCOMPARE(page.moveEnd(), 1);
        if (empty) {
            // Nothing visible: an empty position and a JavaScript null for the bookmark.
            QCOMPARE(page.evaluate(QStringLiteral("getReadingPosXPath();")), QVariant(QString(QLatin1String(""))));
            QCOMPARE(kindOf(page, QStringLiteral("getBookmarkData();")), ResultKind::Null);
        } else {
            QVERIFY(page.getReadingPosXPath().startsWith(QLatin1String("/html[1]/body[1]/div[1]/div[1]/h1[1]")));
        }
    }

    void imagesFitOneColumn()
    {
        ChapterBuilder builder(5);
        builder.addProse(2);
        builder.addImage(900, 300); // wider than a column
        builder.addProse(1);
        builder.addImage(200, 1200); // taller than a page
        builder.addImage(120, 80); // small: unchanged
        const QString file = builder.write(m_dir.filePath(QStringLiteral("img")), QStringLiteral("images.xhtml"));
        const QList<QSizeF> natural = { QSizeF(900, 300), QSizeF(200, 1200), QSizeF(120, 80) };
        for (int columns : { 1, 2 }) {
            EnginePage page;
            const PageFormat format = PageFormat::withColumns(columns);
            QVERIFY(page.open(file, format) > 0);
            const BookPageParams params;
            const double columnWidth = format.width / columns - params.columnGap();
            const double maxHeight = format.height - 2 * params.margin() - params.columnGap();
            const QVariantList sizes
                = page.evaluate(QStringLiteral("var out = [], im = document.getElementsByTagName('img');"
                                               "for (var i = 0; i < im.length; ++i) {"
                                               "  var r = im[i].getBoundingClientRect();"
                                               "  out.push([r.width, r.height]); } out"))
                      .toList();
            QCOMPARE(sizes.size(), 3);
            for (int i = 0; i < 3; ++i) {
                const double w = sizes[i].toList()[0].toDouble();
                const double h = sizes[i].toList()[1].toDouble();
                QVERIFY2(
                    w <= columnWidth + 0.5 && h <= maxHeight + 0.5, qPrintable(QStringLiteral("%1x%2").arg(w).arg(h)));
                QVERIFY(qAbs(w / h - natural[i].width() / natural[i].height()) < 0.02);
            }
            QCOMPARE(sizes[2].toList()[0].toDouble(), 120.0);
        }
    }

    // A book's minimum and fixed widths never make a line wider than the column: not in the
    // narrowest column the reader has (two pages in its smallest window), and not over the pages.
    void bookWidthsFitTheColumn_data()
    {
        QTest::addColumn<QString>("css");
        QTest::addColumn<QString>("html");
        const QString prose = QStringLiteral("<p>Every line of this paragraph has to fit the column it is set in, "
                                             "whatever width the book asks for its box.</p>")
                                  .repeated(12);
        // A generated manual's wrappers: its body has a minimum width for a desktop browser.
        QTest::newRow("min-width wrapper")
            << "div.body { min-width: 450px; max-width: 800px; padding: 0 20px; }"
            << "<div class=\"document\"><div class=\"bodywrapper\"><div class=\"body\">" + prose + "</div></div></div>";
        QTest::newRow("fixed width, padded") << "div.box { width: 450px; padding: 0 1em; border: 2px solid #888; }"
                                             << "<div class=\"box\">" + prose + "</div>";
        QTest::newRow("inline width, deep")
            << QString()
            << "<div><section><blockquote style=\"width: 30em\">" + prose + "</blockquote></section></div>";
        QTest::newRow("wide table") << "table { width: 600px; } td { min-width: 200px; }"
                                    << "<table><tr><td>" + prose + "</td><td>" + prose + "</td></tr></table>";
        // Cells of long words in a table wider than the column: the words break.
        // Beside it, a table that fits keeps its long word whole ("whole" is checked below).
        QTest::newRow("inline wide table, long words")
            << QString()
            << QStringLiteral("<table style=\"width:900px\"><tr>%1</tr><tr>%1</tr></table>").arg(kWideCells) + prose
                + QStringLiteral("<table><tr><td id=\"whole\">Internationalisation</td><td>%1</td></tr></table>")
                      .arg(prose.left(400));
    }
    void bookWidthsFitTheColumn()
    {
        QFETCH(QString, css);
        QFETCH(QString, html);
        ChapterBuilder builder(61);
        builder.addRaw(QStringLiteral("<style>%1</style>\n").arg(css));
        builder.addHeading(1, QStringLiteral("Widths"));
        builder.addRaw(html);
        const QString file = builder.write(m_dir.filePath(QStringLiteral("widths")), QStringLiteral("widths.xhtml"));
        EnginePage page;
        PageFormat format = PageFormat::withColumns(2);
        format.width = 816; // the reading page of the smallest window
        format.height = 560;
        const int count = page.open(file, format);
        QVERIFY(count >= 2);
        // How far the line that reaches furthest runs past the right edge of its column, over every
        // page; and how many lines there are.
        const QVariantList overrun
            = page.evaluate(
                      overTextRects(QStringLiteral("kelColumns()"),
                          QStringLiteral("var columnWidth = pageWidth - page.gap, worst = -1e9, lines = 0;"),
                          QStringLiteral("worst = Math.max(worst, r.right - left - column * pageWidth - columnWidth);"
                                         " ++lines;"),
                          QStringLiteral("[worst, lines]")))
                  .toList();
        QCOMPARE(overrun.size(), 2);
        QVERIFY2(overrun[1].toInt() > 20, qPrintable(overrun[1].toString()));
        QVERIFY2(overrun[0].toDouble() <= 0.5,
            qPrintable(QStringLiteral("a line runs %1 px past its column").arg(overrun[0].toDouble())));
        const int wholeLines = page.evaluateInt(QStringLiteral("(function () {"
                                                               " var e = document.getElementById('whole');"
                                                               " if (!e) return 1;"
                                                               " var range = document.createRange();"
                                                               " range.selectNodeContents(e);"
                                                               " return range.getClientRects().length; })()"));
        QCOMPARE(wholeLines, 1);
    }

    // Tables too wide for their column are fitted anew on every layout: a larger font keeps them
    // fitted, a page wide enough for all of them fits none, and no table's cells run past it. The
    // marks come off in one walk of the chapter: the engine walks a live element list again when a
    // class changed since it was last read, and such walks are counted.
    void wideTablesRefittedOnEveryLayout()
    {
        const int tables = 2000;
        QByteArray body;
        for (int i = 0; i < tables; ++i) {
            body += i % 2 ? QByteArray("<table><tr><td>Loom and weft.</td><td>Warp.</td></tr></table>\n")
                          : "<table><tr>" + QByteArray(kWideCells).left(3 * 54) + "</tr></table>\n";
        }
        const QString file = m_dir.filePath(QStringLiteral("tables.html"));
        QVERIFY(testfiles::write(file, "<html><body>" + body + "</body></html>"));
        EnginePage page;
        QVERIFY(page.open(file, PageFormat::withColumns(2)) > 10);
        page.evaluate(QStringLiteral(
            "(function () {"
            " var state = window.walks = { stale: false, count: 0 };"
            " var length = Object.getOwnPropertyDescriptor(HTMLCollection.prototype, 'length').get;"
            " Object.defineProperty(HTMLCollection.prototype, 'length', { configurable: true, get: function () {"
            "  if (state.stale) { state.stale = false; ++state.count; } return length.call(this); } });"
            " ['add', 'remove', 'toggle'].forEach(function (name) {"
            "  var f = DOMTokenList.prototype[name];"
            "  DOMTokenList.prototype[name] = function () { state.stale = true; return f.apply(this, arguments); };"
            " }); })()"));
        PageFormat larger = PageFormat::withColumns(2);
        larger.fontSize = 24;
        PageFormat wide = PageFormat::withColumns(1);
        wide.width = 1600;
        // The format, and how many tables need fitting in it.
        const QList<QPair<PageFormat, int>> layouts { { larger, tables / 2 }, { wide, 0 },
            { PageFormat::withColumns(2), tables / 2 } };
        for (const auto& layout : layouts) {
            page.evaluate(QStringLiteral("walks.count = 0;"));
            QVERIFY(page.applyPageFormat(layout.first).value(QStringLiteral("pageCount")).toInt() > 1);
            const int walks = page.evaluateInt(QStringLiteral("walks.count"));
            QVERIFY2(walks >= 0 && walks <= 8, qPrintable(QString::number(walks)));
            QCOMPARE(page.evaluateInt(QStringLiteral("kelColumns().querySelectorAll('table.kelwidetable').length")),
                layout.second);
            const double overrun
                = page.evaluate(QStringLiteral("(function () { var t = kelColumns().querySelectorAll('table'),"
                                               " worst = -1e9; for (var i = 0; i < t.length; ++i)"
                                               " worst = Math.max(worst, kelTableOverrun(t[i])); return worst; })()"))
                      .toDouble();
            QVERIFY2(overrun <= 0.5, qPrintable(QString::number(overrun)));
        }
    }

    // Large text inside a paragraph (a converted book's title page) wraps into lines as tall as
    // that text at the chosen spacing, none drawn over the one before; ordinary lines keep the
    // height the spacing gives their own size.
    void largeInlineTextKeepsItsLines_data()
    {
        QTest::addColumn<QString>("html");
        QTest::addColumn<int>("lineSpacing");
        const QString title = QStringLiteral("The Debian Administrator's Handbook: Debian Bullseye from Discovery to "
                                             "Mastery, a reference for every system administrator");
        QTest::newRow("font size 7") << QStringLiteral("<p><font id=\"big\" size=\"7\">%1</font></p>").arg(title)
                                     << 110;
        QTest::newRow("span of 3em, closest spacing")
            << QStringLiteral("<p>Before it <span id=\"big\" style=\"font-size: 3em\">%1</span> after it.</p>")
                   .arg(title)
            << 90;
        QTest::newRow("bold span in a centred paragraph, widest spacing")
            << QStringLiteral("<p style=\"text-align: center\"><span id=\"big\" style=\"font-size: 40px\"><b>%1</b>"
                              "</span></p>")
                   .arg(title)
            << 225;
    }
    void largeInlineTextKeepsItsLines()
    {
        QFETCH(QString, html);
        QFETCH(int, lineSpacing);
        ChapterBuilder builder(62);
        builder.addRaw(html);
        builder.addRaw(QStringLiteral("<p id=\"prose\">%1</p>\n").arg(builder.sentence(120, 140)));
        const QString file = builder.write(m_dir.filePath(QStringLiteral("large")), QStringLiteral("large.html"));
        EnginePage page;
        PageFormat format;
        format.lineSpacing = lineSpacing;
        QVERIFY(page.open(file, format) >= 1);
        // The smallest distance from one line's top to the next line's in the same column, the
        // line count and the font size in pixels.
        const QString measure = overTextRects(QStringLiteral("document.getElementById('%1')"),
            QStringLiteral("var pitch = 1e9, lines = 1, last = null;"),
            QStringLiteral("if (last && last.column == column && r.top > last.top + 1) {"
                           " pitch = Math.min(pitch, r.top - last.top); ++lines; }"
                           " if (!last || last.column != column || r.top > last.top + 1)"
                           " last = { column: column, top: r.top };"),
            QStringLiteral("[pitch, lines, parseFloat(getComputedStyle(root).fontSize)]"));
        const double factor = lineSpacing / 100.0;
        for (const char* id : { "big", "prose" }) {
            const QVariantList lines = page.evaluate(measure.arg(QLatin1String(id))).toList();
            QCOMPARE(lines.size(), 3);
            QVERIFY2(lines[1].toInt() >= 3, qPrintable(QStringLiteral("%1: %2 lines").arg(id).arg(lines[1].toInt())));
            const double expected = factor * lines[2].toDouble();
            QVERIFY2(qAbs(lines[0].toDouble() - expected) <= 1.5,
                qPrintable(QStringLiteral("%1: lines %2 px apart, %3 px expected")
                               .arg(id)
                               .arg(lines[0].toDouble())
                               .arg(expected)));
        }
    }

    void everyScreenRoundTrips_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("columns");
        // The bookmark of each screen: -1 not checked, 0 not after the screen, 1 on the screen.
        QTest::addColumn<int>("bookmark");
        // The layout the reader changes to afterwards: "" none, else columns, width, height,
        // font size and line spacing.
        QTest::addColumn<QList<int>>("relayout");
        const QList<int> none;
        QTest::newRow("realistic html, 2 columns") << "realistic html" << 2 << -1 << none;
        // Screens inside a paragraph that began screens before: the bookmark still is the screen's.
        QTest::newRow("long paragraphs, 1 column") << "long paragraphs" << 1 << 1 << none;
        QTest::newRow("one long paragraph, 2 columns") << "one long paragraph" << 2 << 1 << none;
        QTest::newRow("short paragraphs, 2 columns") << "short paragraphs" << 2 << 1 << none;
        QTest::newRow("font larger, long paragraphs")
            << "long paragraphs" << 2 << 0 << QList<int> { 2, 800, 600, 24, 110 };
        QTest::newRow("viewport") << "realistic" << 1 << -1 << QList<int> { 1, 640, 720, 20, 110 };
        QTest::newRow("1 to 2 columns") << "realistic" << 1 << -1 << QList<int> { 2, 800, 600, 20, 110 };
        QTest::newRow("2 to 1 column") << "long paragraphs" << 2 << -1 << QList<int> { 1, 800, 600, 20, 110 };
    }

    void everyScreenRoundTrips()
    {
        QFETCH(QString, name);
        QFETCH(int, columns);
        QFETCH(int, bookmark);
        QFETCH(QList<int>, relayout);
        const PageFormat format = PageFormat::withColumns(columns);
        EnginePage page;
        const int count = page.open(m_files.value(name), format);
        QVERIFY(count > 10 * columns);

        for (int screen = 1; screen <= count; screen += columns) {
            QCOMPARE(page.moveToPage(screen), screen);
            const QString position = page.getReadingPosXPath();
            QVERIFY(position.startsWith(QLatin1String("/html[1]/body[1]/div[1]/div[1]/"), Qt::CaseInsensitive));

            // The position is the screen's first visible character.
            const CharInfo info = charInfo(page, position);
            QVERIFY2(info.page >= screen && info.page < screen + columns,
                qPrintable(QStringLiteral("%1 on page %2, screen %3").arg(position).arg(info.page).arg(screen)));
            QVERIFY2(info.previousPage < screen, qPrintable(position));
            QVERIFY(!info.character.trimmed().isEmpty() || position.indexOf(QLatin1String("&offset=")) < 0);

            if (bookmark >= 0) {
                // The bookmark is the screen's first character, with the words shown from there.
                const QVariant data = page.evaluate(QStringLiteral("getBookmarkData();"));
                QCOMPARE(jsengine::resultKind(data), ResultKind::Value);
                const QString path = data.toMap().value(QStringLiteral("path")).toString();
                const QString text = data.toMap().value(QStringLiteral("text")).toString();
                QCOMPARE(path, position);
                QVERIFY(!text.trimmed().isEmpty() && text.size() <= 200);
                QVERIFY2(info.character.trimmed().isEmpty() || text.startsWith(info.character), qPrintable(text));
                const int bookmarkPage = page.getPageByKelLink(kelpathLink(path));
                QVERIFY(bookmarkPage < screen + columns);
                QVERIFY2(bookmark == 0 || bookmarkPage >= screen, qPrintable(path));
                QCOMPARE(page.current(), screen);
            }

            // Reading it back, from elsewhere in the chapter, returns the same screen.
            page.moveHome();
            QCOMPARE(page.setReadingPosByXPath(position), screen);
            QCOMPARE(page.current(), screen);
            const int linked = page.getPageByKelLink(kelpathLink(position));
            QVERIFY(linked >= screen && linked < screen + columns);
            if (relayout.isEmpty())
                continue;

            // The reader changes the page's font size or view, then lays out again: the pinned
            // character stays on screen.
            PageFormat changed = format;
            changed.columnCount = relayout[0];
            changed.width = relayout[1];
            changed.height = relayout[2];
            changed.fontSize = relayout[3];
            changed.lineSpacing = relayout[4];
            const int current = page.applyPageFormat(changed).value(QStringLiteral("currentPage")).toInt();
            QCOMPARE(page.current(), current);
            const CharInfo moved = charInfo(page, position);
            QVERIFY2(moved.page >= current && moved.page < current + changed.columnCount,
                qPrintable(QStringLiteral("screen %1: %2 on page %3, now showing %4")
                               .arg(screen)
                               .arg(position)
                               .arg(moved.page)
                               .arg(current)));

            // The place being read stays the pinned one, not the new screen's first character: a
            // screen laid out larger begins pages earlier, and the position saved there would open
            // pages earlier in the first layout.
            const QString newPosition = page.getReadingPosXPath();
            QCOMPARE(newPosition, position);
            page.moveHome();
            QCOMPARE(page.setReadingPosByXPath(newPosition), current);

            // Back to the first layout: the same screen as before.
            page.setReadingPosByXPath(position);
            QCOMPARE(page.applyPageFormat(format).value(QStringLiteral("currentPage")).toInt(), screen);
        }
    }

    void noteFromSelection_data()
    {
        QTest::addColumn<QString>("selection"); // arguments of testSelect
        QTest::addColumn<QString>("text");
        const QString p1 = QStringLiteral("document.getElementById('p1')");
        const QString p2 = QStringLiteral("document.getElementById('p2')");
        QTest::newRow("into an inline element") << p1 + ".firstChild, 6, " + p1 + ".childNodes[1].firstChild, 5"
                                                << "beta gamma";
        QTest::newRow("from an inline element to the next paragraph")
            << p1 + ".childNodes[1].firstChild, 6, " + p2 + ".childNodes[1].childNodes[1].firstChild, 6"
            << "delta epsilon zeta eta theta.\nSecond paragraph with emphasis nested";
        QTest::newRow("element boundaries") << p2 + ", 0, " + p2 + ", " + p2 + ".childNodes.length"
                                            << "Second paragraph with emphasis nested bold words and more text here.";
        QTest::newRow("cyrillic and cjk") << "document.getElementById('p3').firstChild, 10, "
                                             "document.getElementById('p3').firstChild, 25"
                                          << QStringLiteral("здесь, и 漢字もここに");
        QTest::newRow("across a column break") << "document.getElementById('long').firstChild, 5, "
                                                  "document.getElementById('long').firstChild, 1800"
                                               << QString();
    }

    // Notes from selections of every kind, through the chapter page: the note's record, marks
    // over exactly the selected lines, the same marks restored in a fresh load (once for a
    // repeated id) and still over the text after a re-layout and a page turn.
    void noteFromSelection()
    {
        QFETCH(QString, selection);
        QFETCH(QString, text);
        ChapterPtr page = open(chapter("notes"), 2);
        QVERIFY(page);
        QSignalSpy created(page.get(), &TextBookChapter::newNoteCreated);
        page->createNoteFromSelection(QStringLiteral("n0"), NoteItem::Blue); // no selection: no note
        QCOMPARE(created.count(), 0);
        const QString selected = engineText(*page, QStringLiteral("testSelect(%1)").arg(selection));
        if (!text.isEmpty())
            QCOMPARE(selected.simplified(), text.simplified());
        const QVariant expected = engine(*page, QStringLiteral("testTextRects(window.getSelection().getRangeAt(0))"));

        page->createNoteFromSelection(QStringLiteral("n1"), NoteItem::Yellow);
        QCOMPARE(created.count(), 1);
        const NoteItem note = created.at(0).at(0).value<NoteItem>();
        QCOMPARE(QVariantList({ note.id, note.color, note.chapter, note.context.simplified() }),
            QVariantList({ "n1", NoteItem::Yellow, kSource, selected.simplified() }));
        QVERIFY(note.startPath.startsWith(QLatin1String("/html[1]/body[1]/div[1]/div[1]/")));
        QCOMPARE(note.link->source,
            TextBookChapter::readingLink(kSource, note.startPath) + QStringLiteral("&offset=%1").arg(note.startOffset));
        QVERIFY(note.date.isValid());
        QCOMPARE(engineInt(*page, QStringLiteral("window.getSelection().rangeCount")), 0);
        QVERIFY2(sameRects(engine(*page, QStringLiteral("testMarkRects('n1')")), expected),
            qPrintable(QStringLiteral("%1 rects expected").arg(expected.toList().size())));
        QCOMPARE(
            engineText(*page,
                QStringLiteral("getComputedStyle(document.getElementById('kelnote_n1').firstChild).backgroundColor")),
            QStringLiteral("rgb(243, 227, 162)"));
        if (text.isEmpty()) {
            // The long note runs over two pages of the screen.
            const double left = engine(
                *page, QStringLiteral("document.getElementById('%1').getBoundingClientRect().left").arg(kUid + "1"))
                                    .toDouble();
            const auto pageAt = [&](const QVariant& rect) { return int((rect.toList()[0].toDouble() - left) / 400); };
            QVERIFY(pageAt(expected.toList().first()) < pageAt(expected.toList().last()));
        }

        ChapterPtr reopened = open(chapter("notes"), 2);
        QVERIFY(reopened);
        reopened->addNotes({ note, note });
        QCOMPARE(engineText(*reopened, QStringLiteral("notes['n1'].r.toString()")), selected);
        QVERIFY(sameRects(engine(*reopened, QStringLiteral("testMarkRects('n1')")), expected));
        QCOMPARE(
            engineInt(*reopened, QStringLiteral("document.getElementById('kelnotes_%1').childNodes.length").arg(kUid)),
            1);
        m_params.setFontSize(25);
        m_params.setWidth(700);
        reopened->setViewportSize(QSize(700, 600));
        reopened->applyPageParams(&m_params);
        m_params.setFontSize(20);
        reopened->next();
        QVERIFY(sameRects(engine(*reopened, QStringLiteral("testMarkRects('n1')")),
            engine(*reopened, QStringLiteral("testTextRects(notes['n1'].r)"))));
    }

    // A note made on a chapter as the book gives it marks the same words once the chapter is
    // cleaned for the reading page, as it is at every opening: controls before it in an HTML
    // chapter, which the HTML parser shows, move nothing.
    void noteOnACleanedChapter_data()
    {
        QTest::addColumn<QString>("fileName");
        QTest::addColumn<QByteArray>("chapter");
        QTest::newRow("form feed, HTML name")
            << "feed.html"
            << QByteArray("<html><head><title>T</title></head><body>\n<p>A page\x0c"
                          " break and\x01 a mark before the noted words here.</p>\n</body></html>\n");
        QTest::newRow("null, HTML name") << "null.html"
                                         << QByteArray("<html><body><p>Null") + '\0'
                + QByteArray(" and\x1f more before the noted words here.</p></body></html>");
    }

    void noteOnACleanedChapter()
    {
        QFETCH(QString, fileName);
        QFETCH(QByteArray, chapter);
        const QString mark = QStringLiteral("noted words");
        const QString selectMark = QStringLiteral(
            "(function() { var w = document.createTreeWalker(document.body, NodeFilter.SHOW_TEXT, null, false);"
            " for (var n = w.nextNode(); n; n = w.nextNode()) { var i = n.data.indexOf('%1');"
            " if (i >= 0) return testSelect(n, i, n, i + %2); } return ''; })()")
                                       .arg(mark)
                                       .arg(mark.size());
        QDir folder(m_dir.filePath(QStringLiteral("cleaned-%1").arg(QTest::currentDataTag())));
        QVERIFY(folder.mkpath(QStringLiteral("book")) && folder.mkpath(QStringLiteral("cleaned")));
        const QString book = folder.filePath(QStringLiteral("book/") + fileName);
        QVERIFY(testfiles::write(book, chapter));
        ChapterPtr page = open(book);
        QVERIFY(page);
        QCOMPARE(engineText(*page, selectMark), mark);
        QSignalSpy created(page.get(), &TextBookChapter::newNoteCreated);
        page->createNoteFromSelection(QStringLiteral("n1"), NoteItem::Blue);
        QCOMPARE(created.count(), 1);
        const NoteItem note = created.at(0).at(0).value<NoteItem>();

        QByteArray cleaned;
        const epub::ChapterCleaner::Result result = epub::ChapterCleaner::cleanData(chapter, &cleaned, fileName);
        QVERIFY(result.outcome != epub::ChapterCleaner::Skipped);
        const QString shown
            = folder.filePath(QStringLiteral("cleaned/") + TextDocument::shownName(fileName, result.kind));
        QVERIFY(testfiles::write(shown, cleaned));
        ChapterPtr reopened = open(shown);
        QVERIFY(reopened);
        reopened->addNotes({ note });
        QCOMPARE(engineText(*reopened, QStringLiteral("notes['n1'] ? notes['n1'].r.toString() : ''")), mark);
    }

    void sentenceChunks()
    {
        EnginePage page;
        QVERIFY(page.open(chapter("chunks")) > 0);
        QStringList chunks;
        while (page.evaluate(QStringLiteral("pushSpeechElement()")).toBool()) {
            chunks << page.evaluate(QStringLiteral("getTTSText()")).toString();
            QVERIFY(chunks.size() < 100);
        }
        const QStringList expected = { QStringLiteral("Chapter Two"), QStringLiteral("Mr. Smith went home. "),
            QStringLiteral("He slept."), QStringLiteral("Hello world. "), QStringLiteral("Next one starts here. "),
            QStringLiteral("Dr. Who? "), QStringLiteral("Yes!"), QStringLiteral("First item"),
            QStringLiteral("Second item ends"), QStringLiteral("Cell one"), QStringLiteral("Cell two."),
            QStringLiteral("code line one\ncode line two"), QStringLiteral("Съешь же ещё этих булок. "),
            QStringLiteral("Да выпей чаю."), QStringLiteral("天地玄黄，宇宙洪荒。日月盈昃。"),
            QStringLiteral("Last \"quoted sentence.\" "), QStringLiteral("Final words") };
        QCOMPARE(chunks, expected);
        // The end is reported once and stays the end.
        QCOMPARE(page.evaluate(QStringLiteral("endOfTextStream()")), QVariant(true));
        QCOMPARE(page.evaluate(QStringLiteral("getTTSText()")), QVariant(QString(QLatin1String(""))));
        QCOMPARE(page.evaluate(QStringLiteral("pushSpeechElement()")), QVariant(false));
        QCOMPARE(page.evaluateInt(QStringLiteral("ensureVisibleLastSpeechElement()")), -1);

        // Stopping resets: reading starts again from the first sentence.
        page.evaluate(QStringLiteral("stopTTS()"));
        QCOMPARE(page.evaluate(QStringLiteral("document.getElementById('keltts_' + page.chapterUid) === null")),
            QVariant(true));
        QCOMPARE(page.evaluate(QStringLiteral("endOfTextStream()")), QVariant(false));
        QCOMPARE(page.evaluate(QStringLiteral("pushSpeechElement()")), QVariant(true));
        QCOMPARE(page.evaluate(QStringLiteral("getTTSText()")).toString(), QStringLiteral("Chapter Two"));
    }

    void readerWalkReachesTheEndOnce_data()
    {
        QTest::addColumn<int>("columns");
        QTest::addColumn<int>("start"); // the screen reading starts on
        QTest::newRow("1 column") << 1 << 1;
        QTest::newRow("2 columns") << 2 << 1;
        QTest::newRow("2 columns, from a later screen") << 2 << 7;
    }

    void readerWalkReachesTheEndOnce()
    {
        QFETCH(int, columns);
        QFETCH(int, start);
        EnginePage page;
        const int count = page.open(chapter("realistic"), PageFormat::withColumns(columns));
        QVERIFY(count > start);
        page.moveToPage(start);

        page.evaluate(QStringLiteral("findFirstVisibleSpeechNode();"));
        QString spoken;
        int screen = start;
        int turns = 0;
        for (;;) {
            int turnedTo = 0;
            const QString chunk = nextSpokenChunk(page, &turnedTo);
            if (chunk.isEmpty())
                break;
            if (turnedTo > 0) {
                // Pages turn forward, one screen at a time, as the reading goes on.
                QCOMPARE(turnedTo, screen + columns);
                screen = turnedTo;
                ++turns;
            }
            QCOMPARE(page.current(), screen);
            // The chunk being read starts on the screen shown.
            const QVariantList first
                = page.evaluate(QStringLiteral("(function () {"
                                               "var h = document.getElementById('keltts_' + page.chapterUid);"
                                               "if (!h.firstChild) return [];"
                                               "var r = h.firstChild.getBoundingClientRect();"
                                               "return [r.left, r.top]; })()"))
                      .toList();
            if (first.isEmpty()) {
                // Only text without any installed font is drawn with no width (CJK here).
                QVERIFY2(!chunk.contains(QRegularExpression(QStringLiteral("[A-Za-z\\x{0400}-\\x{04ff}]"))),
                    qPrintable(chunk));
            } else {
                const int chunkPage = page.pageAtX(first.value(0).toDouble());
                QVERIFY2(chunkPage >= screen && chunkPage < screen + columns,
                    qPrintable(QStringLiteral("%1 on %2, screen %3").arg(chunk).arg(chunkPage).arg(screen)));
            }
            // Reading from a later screen begins at a sentence.
            QVERIFY2(
                !spoken.isEmpty() || start == 1 || chunk.at(0).isUpper() || !chunk.at(0).isLetter(), qPrintable(chunk));
            spoken += chunk;
        }
        // Every word once, in order, up to the end.
        if (start == 1)
            QCOMPARE(spoken, allText(page));
        else
            QVERIFY(allText(page).endsWith(spoken));
        QCOMPARE(page.evaluate(QStringLiteral("endOfTextStream()")), QVariant(true));
        QVERIFY(page.lastContentPage() < screen + columns);
        QVERIFY(turns >= (count - start) / columns - 2);
        QVERIFY(nextSpokenChunk(page, nullptr).isEmpty());
    }

    // Replies that do not parse: the chapter list is emptied, everything after the broken field is
    // empty, calcDone still comes, and no count read from the reply is trusted with memory.
    // Messages of another type change nothing and report nothing.
    void malformedReplies_data()
    {
        QTest::addColumn<QByteArray>("payload");
        QTest::addColumn<int>("done");
        QTest::addColumn<int>("chapters");
        QTest::addColumn<int>("links");

        const QByteArray good = goodReply();
        const QByteArray noLinks
            = Writer().chapters(kThreeChapters).values(QString(), qint32(0), QString(), QString()).bytes;
        QTest::newRow("two bytes") << QByteArray("\0\0", 2) << 0 << 3 << 2;
        QTest::newRow("type 85") << QByteArray("\0\0\0\x55", 4) << 0 << 3 << 2;
        QTest::newRow("cut in the hits") << good.left(good.indexOf(QByteArray("S\0e\0c", 5)) + 4) << 1 << 0 << 0;
        QTest::newRow("chapter count huge")
            << Writer().values(qint32(0x7fffffff)).raw(QByteArray(64, '\0')).bytes << 1 << 0 << 0;
        QTest::newRow("chapter count negative")
            << Writer().values(qint32(-1)).raw(QByteArray(64, '\0')).bytes << 1 << 0 << 0;
        QTest::newRow("hit count huge") << Writer()
                                               .values(qint32(1), QStringLiteral("a"), QUrl(), qint32(1), qint32(0),
                                                   qint32(0x40000000))
                                               .raw(QByteArray(64, '\0'))
                                               .bytes
                                        << 1 << 0 << 0;
        QTest::newRow("source length huge") << Writer().values(qint32(1), quint32(0xfffffff0)).bytes << 1 << 0 << 0;
        QTest::newRow("no link table") << noLinks << 1 << 3 << 0;
        QTest::newRow("link count huge")
            << Writer().raw(noLinks.mid(4)).values(quint32(0xffffffff)).raw(QByteArray(16, '\0')).bytes << 1 << 3 << 0;
        QTest::newRow("link table cut") << good.left(good.size() - 3) << 1 << 3 << 0;
        // Not a malformed reply: a last chapter without a start page leaves the book uncounted,
        // and nothing of the reply before stays.
        QTest::newRow("uncounted last chapter")
            << Writer().chapters({ { "a", 4, 0, {} }, { "b", 6, -1, {} } }).tail({}).bytes << 1 << 0 << 0;
    }

    void malformedReplies()
    {
        QFETCH(QByteArray, payload);
        QFETCH(int, done);
        QFETCH(int, chapters);
        QFETCH(int, links);
        Client client(QStringLiteral("/nonexistent/zuvezedoda"));
        client.onDataReceived(goodReply());
        QSignalSpy doneSpy(&client, &DataExchangeSvc::calcDone);
        client.onDataReceived(payload);
        // The reader's work is bounded by the reply's bytes, whatever count the reply claims: a
        // loop run for a count of billions asks its device for billions of reads.
        QByteArray bytes = payload;
        CountingBuffer device(&bytes);
        QVERIFY(device.open(QIODevice::ReadOnly | QIODevice::Unbuffered));
        QDataStream in(&device);
        qint32 type = 0;
        in >> type;
        PaginationResult parsed;
        pagecount::readResult(in, &parsed);
        QVERIFY2(device.reads <= payload.size() + 16,
            qPrintable(QStringLiteral("%1 reads of %2 bytes").arg(device.reads).arg(payload.size())));
        QCOMPARE(doneSpy.count(), done);
        QCOMPARE(client.linkPages().size(), links);
        if (chapters == 0) {
            checkEmpty(client);
        } else {
            QCOMPARE(client.totalPageCount(), 22);
            QCOMPARE(client.searchHits().size(), 3);
            QVERIFY(client.searchHits().at(0).link != client.searchHits().at(0).link); // new items each time
        }
    }

    // Replies carry no book key: one whose chapters are not those sent last belongs to the book
    // open before and is dropped. Without a helper program a request is lost, but whoever waits
    // for the numbers hears of it: at once when no program is set, from the event loop when the
    // program cannot be started.
    void replyForAnotherBookAndNoHelper()
    {
        {
            Client missing(QStringLiteral("/nonexistent/zuvezedoda"));
            QSignalSpy done(&missing, &DataExchangeSvc::calcDone);
            missing.repaginate(PaginationRequest());
            QCOMPARE(done.count(), 0);
            QTest::ignoreMessage(QtCriticalMsg, "Can't start handler process!!!");
            QVERIFY(done.wait(kReplyTimeoutMs));
            QCOMPARE(done.count(), 1);
            checkEmpty(missing);
        }
        Client client { QString() };
        ChapterPageInfo other;
        other.source = QStringLiteral("Text/b.xhtml");
        QTest::ignoreMessage(QtCriticalMsg, "Can't start handler process!!!");
        client.sendChapterList({ other, other, other }, QString());
        QSignalSpy started(&client, &DataExchangeSvc::calcStarted);
        QSignalSpy done(&client, &DataExchangeSvc::calcDone);
        client.onDataReceived(goodReply());
        QCOMPARE(done.count(), 0);
        checkEmpty(client);

        QTest::ignoreMessage(QtCriticalMsg, "Can't start handler process!!!");
        client.repaginate(PaginationRequest());
        QCOMPARE(started.count(), 1);
        QCOMPARE(done.count(), 1);

        // A reply counted for a request sent before the last one is of a layout given up: it is
        // dropped, and the reply to the last one taken.
        Client book { QString() };
        QSignalSpy bookDone(&book, &DataExchangeSvc::calcDone);
        const PaginationRequest older = request(ofWidth(300));
        const PaginationRequest newer = request(ofWidth(900));
        for (const PaginationRequest& r : { older, newer }) {
            QTest::ignoreMessage(QtCriticalMsg, "Can't start handler process!!!");
            book.repaginate(r);
        }
        bookDone.clear();
        const auto reply = [](const PaginationRequest& r) {
            return Writer().chapters(kThreeChapters).tail({}, pagecount::requestKey(r)).bytes;
        };
        book.onDataReceived(reply(older));
        QCOMPARE(bookDone.count(), 0);
        checkEmpty(book);
        book.onDataReceived(reply(newer));
        QCOMPARE(bookDone.count(), 1);
        QCOMPARE(book.totalPageCount(), 22);
        QVERIFY(book.resultAnswersLastRequest());
        QVERIFY(book.resultForSentChapters());
        // Another book whose chapters have the same names: the numbers kept are not its own.
        QList<ChapterPageInfo> sameNames;
        for (const Chapter& chapter : kThreeChapters)
            sameNames << chapterInfo(chapter.source, QStringLiteral("/other/") + chapter.source);
        QTest::ignoreMessage(QtCriticalMsg, "Can't start handler process!!!");
        book.sendChapterList(sameNames, QString());
        QVERIFY(!book.resultForSentChapters());

        // A book file replaced at its path sends the same chapter names and files again: a reply
        // counted for the old file's list, still on its way then, is not taken for the new one,
        // whether it comes before or after the new list's own request.
        Client replaced { QString() };
        QList<ChapterPageInfo> files;
        for (const Chapter& chapter : kThreeChapters)
            files << chapterInfo(chapter.source, QStringLiteral("/books/") + chapter.source);
        QList<Chapter> longer = kThreeChapters;
        longer[0].pageCount = 30;
        longer[1].startPage = 30;
        longer[2].startPage = 35;
        QStringList keys;
        for (int list = 0; list < 2; ++list) {
            QTest::ignoreMessage(QtCriticalMsg, "Can't start handler process!!!");
            replaced.sendChapterList(files, QString());
            QTest::ignoreMessage(QtCriticalMsg, "Can't start handler process!!!");
            replaced.repaginate(request(ofWidth(500)));
            keys << replaced.lastRequestKey();
        }
        QSignalSpy replacedDone(&replaced, &DataExchangeSvc::calcDone);
        replaced.onDataReceived(Writer().chapters(kThreeChapters).tail({}, keys.first()).bytes);
        QCOMPARE(replacedDone.count(), 0);
        replaced.onDataReceived(Writer().chapters(longer).tail({}, keys.last()).bytes);
        QCOMPARE(replacedDone.count(), 1);
        QCOMPARE(replaced.totalPageCount(), 42);
        QTest::ignoreMessage(QtCriticalMsg, "Can't start handler process!!!");
        replaced.sendChapterList(files, QString());
        replaced.onDataReceived(Writer().chapters(kThreeChapters).tail({}, keys.last()).bytes);
        QCOMPARE(replacedDone.count(), 1);
        QCOMPARE(replaced.totalPageCount(), 42);
    }

    // Chapters it must not or cannot load are counted as empty and named in the result; book
    // scripts that would wait for a user or run forever do not stop the layout; a book that
    // tries to reach the network or to leave its chapter gets nowhere.
    void helperRefusesOrContainsChapters()
    {
        const QByteArray text = QByteArray("<p>Some text of the chapter.</p>").repeated(50);
        const QString dialogs = m_dir.filePath(QStringLiteral("dialogs.html"));
        const QString loop = m_dir.filePath(QStringLiteral("loop.html"));
        const QString away = m_dir.filePath(QStringLiteral("away.html"));
        QVERIFY(testfiles::write(dialogs,
            "<html><body><script>alert('a'); confirm('b'); prompt('c'); window.open('x.html'); print();</script>" + text
                + "</body></html>"));
        QVERIFY(testfiles::write(loop,
            "<html><body onresize='for (;;) {}'><img src='none.png' onerror='for (;;) {}'/>" + text
                + "<script>for (;;) {}</script><p onclick='for (;;) {}'>x</p></body></html>"));
        QVERIFY(testfiles::write(away,
            "<html><body><img src='http://127.0.0.1:9/x.png'/>" + text
                + "<script>location.href = 'file:///etc/hostname';</script></body></html>"));
        const QList<ChapterPageInfo> chapters = {
            chapterInfo(QStringLiteral("web.html"), QStringLiteral("http://127.0.0.1:9/chapter.html")),
            m_chapters.at(0),
            chapterInfo(QStringLiteral("missing.xhtml"), m_dir.filePath(QStringLiteral("none.xhtml"))),
            chapterInfo(QStringLiteral("folder"), m_dir.path()),
            chapterInfo(QStringLiteral("device"), QStringLiteral("/dev/zero")),
            chapterInfo(QStringLiteral("dialogs"), dialogs),
            chapterInfo(QStringLiteral("loop"), loop),
            chapterInfo(QStringLiteral("away"), away),
        };
        Helper helper;
        QVERIFY(helper.socket);
        helper.send(pagecount::engineScriptMessage(jsengine::scriptWithInit(QStringLiteral("abc"))));
        helper.send(pagecount::chapterListMessage(chapters, QString()));
        helper.send(pagecount::paginationMessage(request(PageFormat())));
        const PaginationResult result = helper.receive();
        QCOMPARE(result.chapters.size(), chapters.size());
        const int count = result.chapters.at(1).pageCount;
        QVERIFY(count > 1);
        QList<int> counts;
        int start = 0;
        for (int i = 0; i < chapters.size(); ++i) {
            QCOMPARE(result.chapters.at(i).source, chapters.at(i).source);
            QCOMPARE(result.chapters.at(i).startPage, start);
            start += result.chapters.at(i).pageCount;
            counts << qMin(result.chapters.at(i).pageCount, 1);
        }
        QCOMPARE(counts, QList<int>({ 0, 1, 0, 0, 0, 1, 1, 1 }));
        QCOMPARE(
            result.text2.split(QLatin1Char('\n')), QStringList({ "web.html", "missing.xhtml", "folder", "device" }));
    }

    // A chapter too long to lay out whole in the helper is counted in pieces, each of which the
    // reader starts on a new column: the count is the engine's count of the whole chapter as the
    // reader lays it out, and a link and a search hit deep in the chapter land where the engine
    // puts them, in one column or two. A long chapter of paragraphs, and one whose blocks nest as
    // deep as a converted book may: every piece is counted once, whatever the depth of its
    // blocks (nested that deep, its pieces start no column in the reader, and the count stays
    // within a page per piece). A chapter of bare lines apart by line breaks, as a converted book
    // stores it, has blocks to count in pieces too. A chapter in a font of the book's own is
    // counted in that font, as the reader shows it (the helper loads it hidden, so the font
    // comes only after the first layout). A reference manual (sections of headings, code, option
    // tables and lists) in two-page views of common window sizes: its pieces start with headings
    // whose top margins the reader drops at the column break, and its table rows cross columns,
    // which WebKit lays out anew after a layout made before (the reader's at load) otherwise than
    // from nothing (the helper's). In every case End shows the last screen of the count with the
    // chapter's last words, and Next goes no further. A second helper counts the same.
    void longChapterCountedInPieces_data()
    {
        QTest::addColumn<int>("levels");
        QTest::addColumn<bool>("ownFont");
        QTest::addColumn<int>("columns");
        QTest::addColumn<int>("slack");
        QTest::addColumn<bool>("linkEach"); // a link to every paragraph, as contents of thousands
        QTest::addColumn<int>("manual"); // the seed of a reference manual, or 0 for paragraphs
        QTest::addColumn<QSize>("area");
        QTest::addColumn<int>("pieces");
        QTest::addColumn<int>("wideEvery"); // bytes of the manual between tables too wide for a column
        const QSize area(800, 600);
        QTest::newRow("flat") << 0 << false << 1 << 0 << false << 0 << area << 3 << 0;
        QTest::newRow("flat, two columns") << 0 << false << 2 << 0 << false << 0 << area << 3 << 0;
        QTest::newRow("flat, a link to each paragraph") << 0 << false << 2 << 0 << true << 0 << area << 3 << 0;
        QTest::newRow("nested 12 deep") << 12 << false << 2 << 0 << false << 0 << area << 3 << 0;
        QTest::newRow("nested 190 deep") << 190 << false << 1 << 3 << false << 0 << area << 3 << 0;
        QTest::newRow("bare lines") << -1 << false << 1 << 0 << false << 0 << area << 3 << 0;
        QTest::newRow("own font") << 0 << true << 2 << 0 << false << 0 << area << 3 << 0;
        QTest::newRow("manual, 1400x900") << 0 << false << 2 << 0 << false << 2 << QSize(1400, 900) << 2 << 0;
        QTest::newRow("manual of wide tables, 1400x900")
            << 0 << false << 2 << 0 << false << 2 << QSize(1400, 900) << 2 << 20000;
        QTest::newRow("manual, 1147x772") << 0 << false << 2 << 0 << false << 17 << QSize(1147, 772) << 2 << 0;
    }

    void longChapterCountedInPieces()
    {
        QFETCH(int, levels);
        QFETCH(bool, ownFont);
        QFETCH(int, columns);
        QFETCH(int, slack);
        QFETCH(bool, linkEach);
        QFETCH(int, manual);
        QFETCH(QSize, area);
        QFETCH(int, pieces);
        QFETCH(int, wideEvery);
        const QByteArray paragraph = "<p>Along the river the reeds bent in the wind while the boats went down to "
                                     "the sea past the mills.</p>";
        QByteArray body;
        int paragraphs = 0;
        // The same text with ids or without.
        for (int i = 0; paragraphs * paragraph.size() < 1300 * 1024; ++i) {
            // Each level opens with a few paragraphs of its own.
            if (levels > 0 && i % 60 == 0 && i / 60 < levels)
                body += "<div class='level'>";
            body += linkEach ? QByteArray(paragraph).insert(2, " id='p" + QByteArray::number(i) + "'") : paragraph;
            paragraphs = i + 1;
            // A table wider than the column in the second piece: laid out there as in the reader.
            if (i == 9000)
                body += QByteArray("<p id='deep'>The ") + kWord + " rested in the shallows.</p><table width='900'><tr>"
                    + kWideCells + "<td id='lastcell'>Internationalisation7</td></tr></table>";
        }
        body += QByteArray("</div>").repeated(qMax(0, levels));
        if (levels < 0) {
            body.clear();
            for (int i = 0; body.size() < 1300 * 1024; ++i) {
                body += "Along the river the reeds bent in the wind while the boats went down to the sea.<br/>\n";
                if (i == 9000)
                    body += QByteArray("<span id='deep'>The ") + kWord + " rested in the shallows.</span><br/>\n";
            }
        }
        QByteArray head;
        if (ownFont) {
            // A face of other widths than the standard font's.
            const QString font = m_dir.filePath(QStringLiteral("own.ttf"));
            QVERIFY(QFile::exists(font)
                || QFile::copy(QStringLiteral("/usr/share/fonts/truetype/dejavu/DejaVuSansMono.ttf"), font));
            head = "<head><style>@font-face { font-family: 'Own'; src: url(own.ttf); } p { font-family: 'Own'; }"
                   "</style></head>";
        } else if (levels > 0 && levels < 100) {
            // Levels with sides of their own, which a piece inside them must not repeat. (Nested
            // 190 deep, such sides take WebKit minutes to lay out in columns, pieces or not.)
            head = "<head><style>.level { margin: 7px 0 5px; padding: 40px 0 30px; border-top: 1px solid gray; }"
                   "</style></head>";
        }
        QByteArray chapter = "<html>" + head + "<body>" + body + "</body></html>";
        if (levels < 0)
            chapter = InlineRuns::blocked(chapter, HtmlNesting::Html);
        if (manual > 0)
            chapter = manualChapter(quint32(manual), 1300 * 1000, wideEvery);
        const QString path = m_dir.filePath(QStringLiteral("long.html"));
        QVERIFY(testfiles::write(path, chapter));
        PageFormat format = PageFormat::withColumns(columns);
        format.width = area.width();
        format.height = area.height();
        EnginePage page;
        const int whole = page.open(path, format);
        const int deep = page.getPageByKelLink(QStringLiteral("#deep"));
        QVERIFY2(whole > 100, qPrintable(QString::number(whole)));
        QVERIFY(deep > whole / 4);

        Helper helper(QProcessEnvironment::systemEnvironment(), true);
        QVERIFY(helper.socket);
        helper.send(pagecount::chapterListMessage({ chapterInfo(QStringLiteral("long.html"), path) }, QString()));
        helper.send(pagecount::searchMessage(QString::fromLatin1(kWord)));
        PaginationRequest r = request(format);
        r.linkSources = { QStringLiteral("long.html#deep"), QStringLiteral("long.html#lastcell") };
        for (int i = 0; linkEach && i < paragraphs; ++i)
            r.linkSources.insert(QStringLiteral("long.html#p%1").arg(i));
        helper.send(pagecount::paginationMessage(r));
        const PaginationResult result = helper.receive(kReplyTimeoutMs);
        QCOMPARE(result.chapters.size(), 1);
        // About 1,250,000 characters of paragraphs: three pieces (the manual has fewer).
        QVERIFY(helper.logged(QRegularExpression(QStringLiteral("long.html\\W+laid out in %1 pieces").arg(pieces))));
        const int count = result.chapters.at(0).pageCount;
        QVERIFY2(count >= whole && count <= whole + slack, qPrintable(QStringLiteral("%1 / %2").arg(count).arg(whole)));
        const int linked = result.linkPages.value(QStringLiteral("long.html#deep"));
        QVERIFY2(linked >= deep && linked <= deep + slack, qPrintable(QStringLiteral("%1 / %2").arg(linked).arg(deep)));
        if (levels >= 0) {
            const int cell = page.getPageByKelLink(QStringLiteral("#lastcell"));
            const int counted = result.linkPages.value(QStringLiteral("long.html#lastcell"));
            QVERIFY2(counted >= cell && counted <= cell + slack && cell - deep <= 1,
                qPrintable(QStringLiteral("%1 / %2 / %3").arg(counted).arg(cell).arg(deep)));
        }
        // Thousands of links, each piece's looked up at once: every one on the page the reader
        // shows it on.
        for (int i = 0; linkEach && i < paragraphs; i += 97) {
            const QString link = QStringLiteral("#p%1").arg(i);
            QCOMPARE(result.linkPages.value(QStringLiteral("long.html") + link), page.getPageByKelLink(link));
        }
        QCOMPARE(result.chapters.at(0).hits.size(), 1);
        const ChapterHit hit = result.chapters.at(0).hits.first();
        QVERIFY2(hit.page >= deep && hit.page <= deep + slack, qPrintable(QString::number(hit.page)));
        QVERIFY(hit.text.contains(QLatin1String(kWord)));
        // The hit's link names the paragraph as in the whole chapter, so the reader finds it.
        QCOMPARE(page.getPageByKelLink(hit.link.mid(hit.link.indexOf(QLatin1Char('?')) + 1)), deep);
        // End in the reader shows the last screen of the count, with the last words, and Next
        // goes no further.
        if (slack == 0) {
            QCOMPARE(page.moveEnd(), count - columns + 1);
            QCOMPARE(page.next(), -1);
            QCOMPARE(page.current(), count - columns + 1);
            // (Nested levels close with sides of their own, which may take a screen after them.)
            const int last = page.lastContentPage();
            QVERIFY2(levels > 0 || (last >= page.current() && last <= page.pageAtX(area.width() - 1)),
                qPrintable(QStringLiteral("%1 at %2").arg(last).arg(page.current())));
        }

        Helper again;
        QVERIFY(again.socket);
        again.send(pagecount::chapterListMessage({ chapterInfo(QStringLiteral("long.html"), path) }, QString()));
        again.send(pagecount::paginationMessage(r));
        QCOMPARE(again.receive(kReplyTimeoutMs).chapters.value(0).pageCount, count);
    }

    // A word in every one of 60,000 paragraphs side by side, in a chapter laid out whole and in
    // one counted in pieces: the search ends with as many hits as a result keeps, each leading
    // to its paragraph, instead of walking the paragraphs again for every hit.
    void searchOfAWordInEveryParagraph_data()
    {
        QTest::addColumn<int>("paragraphs");
        QTest::newRow("whole") << 60000;
        QTest::newRow("in pieces") << 90000;
    }

    void searchOfAWordInEveryParagraph()
    {
        QFETCH(int, paragraphs);
        QByteArray body;
        for (int i = 0; i < paragraphs; ++i)
            body += "<p>Reed " + QByteArray::number(i) + ".</p>";
        const QString path = m_dir.filePath(QStringLiteral("reeds.html"));
        QVERIFY(testfiles::write(path, "<html><body>" + body + "</body></html>"));
        Helper helper(QProcessEnvironment::systemEnvironment(), true);
        QVERIFY(helper.socket);
        helper.send(pagecount::chapterListMessage({ chapterInfo(QStringLiteral("reeds.html"), path) }, QString()));
        helper.send(pagecount::searchMessage(QStringLiteral("reed")));
        helper.send(pagecount::paginationMessage(request(PageFormat())));
        const PaginationResult result = helper.receive(kReplyTimeoutMs);
        QCOMPARE(result.chapters.size(), 1);
        const QList<ChapterHit> hits = result.chapters.at(0).hits;
        QCOMPARE(hits.size(), 10000);
        QVERIFY(helper.logged(QRegularExpression(QStringLiteral("More than 10000 search hits"))));
        EnginePage page;
        page.open(path, PageFormat());
        for (int i : { 0, 1, 4321, 9999 }) {
            QCOMPARE(hits.at(i).text, QStringLiteral("Reed %1.").arg(i));
            QCOMPARE(hits.at(i).page, page.getPageByKelLink(hits.at(i).link.mid(hits.at(i).link.indexOf('?') + 1)));
        }
    }

    // The helper reads the files of the book folder the reader tells it, wherever a chapter lies
    // in it (in a folder named "books" too), and applies the book's style sheets however a chapter
    // links them: a chapter styled by a sheet of the book counts as many pages as one carrying the
    // same style in itself.
    void helperCountsWithTheBooksStyleSheets()
    {
        const QString book = m_dir.filePath(QStringLiteral("styled/OEBPS"));
        QVERIFY(QDir().mkpath(book + QStringLiteral("/books/a")) && QDir().mkpath(book + QStringLiteral("/css")));
        const QByteArray css = "p { font-size: 60px; margin: 40px 0 }";
        QVERIFY(testfiles::write(book + QStringLiteral("/css/big.css"), css));
        const QByteArray html = "<html xmlns=\"http://www.w3.org/1999/xhtml\">";
        const QByteArray body
            = "<body>" + QByteArray("<p>Some text of the chapter.</p>").repeated(40) + "</body></html>";
        const QByteArray sheet = "\"../../css/big.css\"";
        const struct {
            const char* file;
            QByteArray text;
        } files[] = {
            { "plain.xhtml", html + "<head/>" + body },
            { "inline.xhtml", html + "<head><style>" + css + "</style></head>" + body },
            { "books/a/linked.xhtml",
                html + "<head><link rel=\"stylesheet\" type=\"text/css\" href=" + sheet + "/></head>" + body },
            { "books/a/instruction.xhtml",
                "<?xml version=\"1.0\"?>\n<?xml-stylesheet type=\"text/css\" href=" + sheet + "?>\n" + html + "<head/>"
                    + body },
        };
        QList<ChapterPageInfo> chapters;
        for (const auto& file : files) {
            const QString path = book + QLatin1Char('/') + QLatin1String(file.file);
            QVERIFY(testfiles::write(path, file.text));
            chapters << chapterInfo(QLatin1String(file.file), path);
        }
        Helper helper;
        QVERIFY(helper.socket);
        helper.send(pagecount::chapterListMessage(chapters, book));
        helper.send(pagecount::paginationMessage(request(PageFormat())));
        const PaginationResult result = helper.receive();
        QCOMPARE(result.chapters.size(), chapters.size());
        QList<int> counts;
        for (const ChapterPageInfo& chapter : result.chapters)
            counts << chapter.pageCount;
        QVERIFY2(counts.at(1) > counts.at(0), qPrintable(QString::number(counts.at(1))));
        QCOMPARE(counts.mid(2), QList<int>({ counts.at(1), counts.at(1) }));
    }

    // Requests that arrive together are answered once, for the newest: the older ones would be
    // out of date before they were done.
    void helperAnswersTheNewestOfQueuedRequests()
    {
        Helper helper;
        QVERIFY(helper.socket);
        helper.send(pagecount::chapterListMessage({ m_chapters.at(0) }, QString()));
        QByteArray burst;
        for (int width : { 300, 400, 900 })
            burst += frame(pagecount::paginationMessage(request(ofWidth(width))));
        helper.sendRaw(burst);
        const PaginationResult newest = helper.receive();
        QCOMPARE(newest.chapters.size(), 1);
        QCOMPARE(newest.text3, pagecount::requestKey(request(ofWidth(900))));
        QCOMPARE(helper.receive(1000).number, -1000);

        // The same request alone gives the same numbers.
        helper.send(pagecount::paginationMessage(request(ofWidth(900))));
        QCOMPARE(helper.receive().chapters.at(0).pageCount, newest.chapters.at(0).pageCount);
        helper.send(pagecount::paginationMessage(request(ofWidth(300))));
        QVERIFY(helper.receive().chapters.at(0).pageCount > newest.chapters.at(0).pageCount);

        // A request repeated while its layout runs is answered by that layout; a search between
        // the two needs a layout of its own, whose answer carries the hits (whether the search
        // comes during the first layout or after it).
        helper.send(pagecount::chapterListMessage(m_chapters, QString()));
        helper.send(pagecount::paginationMessage(request(ofWidth(900))));
        QTest::qWait(20);
        helper.send(pagecount::searchMessage(QString::fromLatin1(kWord)));
        helper.send(pagecount::paginationMessage(request(ofWidth(900))));
        PaginationResult last;
        for (PaginationResult reply = helper.receive(); reply.number != -1000; reply = helper.receive(1000))
            last = reply;
        QCOMPARE(last.chapters.size(), m_chapters.size());
        QCOMPARE(last.chapters.at(0).hits.size(), 2);
        QVERIFY(last.chapters.at(0).pageCount > 0);

        // A request that comes while a chapter is laid out for an older one (here the page of a
        // widget not laid out yet, slow to lay out): the layout given up is not answered.
        PageFormat unsized = PageFormat::withColumns(2);
        unsized.width = 100;
        unsized.height = 30;
        helper.send(
            pagecount::chapterListMessage({ chapterInfo(QStringLiteral("r.xhtml"), chapter("realistic")) }, QString()));
        helper.send(pagecount::paginationMessage(request(unsized)));
        QTest::qWait(300);
        helper.send(pagecount::paginationMessage(request(PageFormat())));
        QCOMPARE(helper.receive().text3, pagecount::requestKey(request(PageFormat())));
        QCOMPARE(helper.receive(1000).number, -1000);
    }

    void helperEnds_data()
    {
        QTest::addColumn<QString>("how");
        QTest::addColumn<int>("exitCode");
        for (const char* how : { "close", "stop while laying out" })
            QTest::newRow(how) << how << 0;
        QTest::newRow("negative frame length") << "-1" << 3;
        QTest::newRow("huge frame length") << "536870912" << 3;
    }

    void helperEnds()
    {
        QFETCH(QString, how);
        QFETCH(int, exitCode);
        Helper helper;
        QVERIFY(helper.socket);
        if (how == QLatin1String("close")) {
            helper.socket->disconnectFromServer();
        } else if (exitCode == 3) {
            QByteArray length(4, '\0');
            qToLittleEndian<qint32>(how.toInt(), length.data());
            helper.sendRaw(length + QByteArray(16, 'x'));
        } else {
            if (how == QLatin1String("stop while laying out")) {
                ChapterBuilder builder(9);
                builder.addRealisticContent(200000);
                const QString big = builder.write(m_dir.filePath(QStringLiteral("big")), QStringLiteral("big.xhtml"));
                helper.send(pagecount::chapterListMessage(
                    QVector<ChapterPageInfo>(20, chapterInfo("big", big)).toList(), QString()));
                helper.send(pagecount::paginationMessage(request(PageFormat())));
                QTest::qWait(300);
            }
            helper.send(Writer(pagecount::Stop).bytes);
        }
        QVERIFY(helper.endsWith(exitCode));
    }

    // The helper needs no display, only its server, and survives malformed messages. Started
    // before its server listens, it tries again until the server is there.
    void helperNeedsNoDisplayButItsServer()
    {
        {
            const QString name = QUuid::createUuid().toString(QUuid::Id128);
            QProcess early;
            early.setProcessChannelMode(QProcess::ForwardedOutputChannel);
            early.setReadChannel(QProcess::StandardError);
            early.start(helperPath(), { name });
            QString log;
            QVERIFY(QTest::qWaitFor(
                [&] {
                    log += QString::fromLocal8Bit(early.readAllStandardError());
                    return log.contains(QStringLiteral("is not there yet")) || early.state() == QProcess::NotRunning;
                },
                kReplyTimeoutMs));
            QVERIFY2(early.state() == QProcess::Running, qPrintable(log));
            QLocalServer server;
            QVERIFY(server.listen(name));
            QVERIFY(server.waitForNewConnection(kReplyTimeoutMs));
            early.kill();
            early.waitForFinished(5000);
        }
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        for (const char* name : { "QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY" })
            environment.remove(QLatin1String(name));
        Helper helper(environment);
        QVERIFY(helper.socket);
        helper.send(pagecount::engineScriptMessage(jsengine::scriptWithInit(QStringLiteral("abc"))));
        // Malformed messages are not answered and do not stop the helper.
        const QList<QByteArray> junk = {
            QByteArray(),
            Writer(1).bytes,
            Writer(1).values(qint32(0x7fffffff), qint32(0)).bytes,
            Writer(1).values(qint32(-5), QString()).bytes,
            Writer(1).values(qint32(1), QStringLiteral("a"), QUrl(), qint32(0), qint32(0), qint32(0x7fffffff)).bytes,
            Writer(2).values(EnginePage::pageFormatScript(PageFormat())).bytes,
            Writer(2)
                .values(
                    EnginePage::pageFormatScript(PageFormat()), qint32(18), QString(), QString(), quint32(0xfffffff0))
                .bytes,
            Writer(3).values(quint32(0x7ffffffe)).bytes,
            Writer(3).values(quint32(3), qint16(0x41)).bytes,
            Writer(22).values(QStringLiteral("x"), qint32(2)).bytes,
            Writer(0).values(quint32(0xfffffffe)).bytes,
            Writer(77).values(QStringLiteral("unknown")).bytes,
            Writer(-1).bytes,
        };
        for (const QByteArray& message : junk)
            helper.send(message);
        // Still serving: a valid chapter list and pagination get the chapter laid out.
        helper.send(pagecount::chapterListMessage({ m_chapters.at(0) }, QString()));
        helper.send(pagecount::paginationMessage(request(PageFormat())));
        const PaginationResult result = helper.receive();
        QCOMPARE(result.chapters.size(), 1);
        QVERIFY(result.chapters.at(0).pageCount > 1);
        QCOMPARE(result.number, result.chapters.at(0).pageCount);
        QVERIFY(helper.running());

        // Without the server's name it ends at once; a server not there (yet) it tries for its
        // whole time-out, as at the start of this test.
        QProcess process;
        process.setProcessChannelMode(QProcess::ForwardedChannels);
        process.start(helperPath(), QStringList());
        QVERIFY(process.waitForFinished(20000));
        QCOMPARE(process.exitCode(), 1);
    }

    void paginatesLikeTheEngine()
    {
        const PageFormat format = PageFormat::withColumns(2);
        // The 12th paragraph of the third chapter, wrapped by the engine's two divs.
        const QString pathLink = kelpathLink(QStringLiteral("/HTML[1]/BODY[1]/DIV[1]/DIV[1]/P[12]"));
        PaginationRequest r = request(format);
        r.linkSources = {
            QStringLiteral("Text/two.xhtml#target"),
            QStringLiteral("Text/three.html?") + pathLink,
            QStringLiteral("Text/one.xhtml?kelpath=end"),
            QStringLiteral("Text/two.xhtml?kelpath=start"),
            QStringLiteral("Text/two.xhtml?kelpage=3"),
            QStringLiteral("Text/three.html"),
            QStringLiteral("TEXT/ONE.XHTML#missing"),
            QStringLiteral("Text/nowhere.xhtml#target"),
            QStringLiteral("Text/three.html#lastcell"),
        };
        QVERIFY(paginate(r));
        checkCounts(format);

        const int one = engineCount(0, format);
        QHash<QString, int> inTwo { { QStringLiteral("#target"), 0 } };
        QHash<QString, int> inThree { { pathLink, 0 }, { QStringLiteral("#lastcell"), 0 } };
        const int two = engineCount(1, format, &inTwo);
        engineCount(2, format, &inThree);
        QVERIFY(inTwo.value(QStringLiteral("#target")) > 1);
        QVERIFY(inThree.value(pathLink) > 1);

        const QHash<QString, int> pages = m_client->linkPages();
        QCOMPARE(pages.value(QStringLiteral("Text/two.xhtml#target")), one + inTwo.value(QStringLiteral("#target")));
        QCOMPARE(pages.value(QStringLiteral("Text/three.html?") + pathLink), one + two + inThree.value(pathLink));
        QCOMPARE(pages.value(QStringLiteral("Text/one.xhtml?kelpath=end")), one);
        QCOMPARE(pages.value(QStringLiteral("Text/two.xhtml?kelpath=start")), one + 1);
        QCOMPARE(pages.value(QStringLiteral("Text/two.xhtml?kelpage=3")), one + 3);
        QCOMPARE(pages.value(QStringLiteral("Text/three.html")), one + two + 1);
        // The last cell of a table wider than the column, a row of long words: the helper's page
        // for it is the reader's, and there it stands inside its row, on the screen.
        const int cellPage = inThree.value(QStringLiteral("#lastcell"));
        QCOMPARE(pages.value(QStringLiteral("Text/three.html#lastcell")), one + two + cellPage);
        EnginePage view;
        QVERIFY(view.open(m_chapters.at(2).fileUrl.toLocalFile(), format) >= cellPage);
        QCOMPARE(view.moveToPage(cellPage), cellPage - (cellPage - 1) % format.columnCount);
        const QVariantList cell = view.evaluate(QStringLiteral("(function () {"
                                                               " var c = document.getElementById('lastcell');"
                                                               " var b = c.getBoundingClientRect();"
                                                               " var r = c.parentNode.getBoundingClientRect();"
                                                               " return [b.left - r.left, r.right - b.right, b.left,"
                                                               "  b.right]; })()"))
                                      .toList();
        QCOMPARE(cell.size(), 4);
        QVERIFY2(cell[0].toDouble() >= -0.5 && cell[1].toDouble() >= -0.5 && cell[2].toDouble() >= 0
                && cell[3].toDouble() <= format.width,
            qPrintable(QStringLiteral("cell %1 %2 %3 %4")
                           .arg(cell[0].toDouble())
                           .arg(cell[1].toDouble())
                           .arg(cell[2].toDouble())
                           .arg(cell[3].toDouble())));
        // An anchor that is gone still lands in its chapter (named in another letter case).
        QCOMPARE(pages.value(QStringLiteral("TEXT/ONE.XHTML#missing")), 1);
        QVERIFY(!pages.contains(QStringLiteral("Text/nowhere.xhtml#target")));
        QCOMPARE(pages.size(), r.linkSources.size() - 1);
        QVERIFY(m_client->resultText2().isEmpty());

        // The search sent before: hits of two chapters in order, each leading the chapter page
        // to the page the helper gave.
        QCOMPARE(m_client->resultText1(), QString::fromLatin1(kWord));
        const QList<SearchItem> hits = m_client->searchHits();
        QCOMPARE(hits.size(), 3);
        const QList<int> chapters = { 0, 0, 2 };
        int previousPage = 0;
        for (int i = 0; i < hits.size(); ++i) {
            const SearchItem& hit = hits.at(i);
            const QString source = m_chapters.at(chapters.at(i)).source;
            QVERIFY2(hit.text.contains(QLatin1String(kWord), Qt::CaseInsensitive), qPrintable(hit.text));
            QVERIFY2(hit.link->source.startsWith(source + QStringLiteral("?kelpath=")), qPrintable(hit.link->source));
            QVERIFY(hit.link->page >= previousPage);
            previousPage = hit.link->page;
            QHash<QString, int> link { { hit.link->source.mid(source.size() + 1), 0 } };
            engineCount(chapters.at(i), format, &link);
            QCOMPARE(hit.link->page, m_client->chapterStartPage(source) + link.begin().value());
        }
        QCOMPARE(hits.at(0).text, QStringLiteral("The %1 swam past the harbour.").arg(kWord));
        QCOMPARE(hits.at(1).text, QStringLiteral("Nobody saw the Zebrafish again."));
    }

    // Requests made before the helper connects reach it once each, after the engine script. A
    // helper started anew after a lost one is told the book and the search again, but what waits
    // in the queue for it only once.
    void messagesToALateHelper()
    {
        QTemporaryDir dir;
        const QString gate = dir.filePath(QStringLiteral("connect"));
        const QString log = dir.filePath(QStringLiteral("log"));
        qputenv("PL_RECORDING_HELPER_GATE", QFile::encodeName(gate));
        qputenv("PL_RECORDING_HELPER_LOG", QFile::encodeName(log));
        const auto unset = qScopeGuard([] {
            qunsetenv("PL_RECORDING_HELPER_GATE");
            qunsetenv("PL_RECORDING_HELPER_LOG");
        });
        const auto received = [&log] {
            QFile file(log);
            return file.open(QIODevice::ReadOnly) ? QString::fromLatin1(file.readAll()).split(QLatin1Char('\n'))
                                                  : QStringList();
        };
        Client client(QCoreApplication::applicationDirPath() + QStringLiteral("/recordinghelper"));
        QSignalSpy ready(&client, &KelRemoteProcHandler::handlerReady);
        client.sendChapterList(m_chapters, QString());
        client.search(QString::fromLatin1(kWord));
        client.repaginate(request(PageFormat()));
        QCOMPARE(client.queuedFrames(), 3);
        QVERIFY(QFile(gate).open(QIODevice::WriteOnly));
        const QStringList first { "0", "1", "3", "2", "" };
        QTRY_COMPARE_WITH_TIMEOUT(received(), first, kReplyTimeoutMs);

        QVERIFY(QFile::remove(gate));
        ::kill(pid_t(client.helperProcessId()), SIGKILL);
        // The pagination is asked again, then a search made before the new helper connects.
        QTRY_COMPARE_WITH_TIMEOUT(client.queuedFrames(), 1, kReplyTimeoutMs);
        client.search(QStringLiteral("other"));
        QVERIFY(QFile(gate).open(QIODevice::WriteOnly));
        const QStringList second = first.mid(0, 4) + QStringList { "0", "1", "2", "3", "" };
        QTRY_COMPARE_WITH_TIMEOUT(received(), second, kReplyTimeoutMs);
        QCOMPARE(ready.count(), 2);
    }

    // The helper dies while it lays the book out: the request is sent to a new one. When that
    // one dies as well, the request is given up with an error and the numbers of the last layout
    // stay; the next request is served by a new helper.

    void requestSurvivesAHelperCrash()
    {
        const PageFormat format = PageFormat::withColumns(2);
        QSignalSpy done(m_client.get(), &DataExchangeSvc::calcDone);
        m_client->repaginate(request(format));
        ::kill(pid_t(m_client->helperProcessId()), SIGKILL);
        QVERIFY(done.count() == 1 || done.wait(kReplyTimeoutMs));
        checkCounts(format);

        const int total = m_client->totalPageCount();
        done.clear();
        QSignalSpy failed(m_client.get(), &DataExchangeSvc::calcError);
        QSignalSpy ready(m_client.get(), &KelRemoteProcHandler::handlerReady);
        m_client->repaginate(request(PageFormat::withColumns(1)));
        ::kill(pid_t(m_client->helperProcessId()), SIGKILL);
        QVERIFY(ready.wait(kReplyTimeoutMs));
        ::kill(pid_t(m_client->helperProcessId()), SIGKILL);
        QVERIFY(failed.count() == 1 || failed.wait(kReplyTimeoutMs));
        QCOMPARE(done.count(), 0);
        QCOMPARE(m_client->totalPageCount(), total);
        // The numbers kept are of the layout before, not of the one given up.
        QVERIFY(!m_client->resultAnswersLastRequest());
        // A new helper is told the book and the last search without the book context sending
        // them again.
        PageFormat larger = PageFormat::withColumns(1);
        larger.fontSize = 28;
        QVERIFY(paginate(request(larger)));
        checkCounts(larger);
        QCOMPARE(m_client->resultText1(), QString::fromLatin1(kWord));
        QCOMPARE(m_client->searchHits().size(), 3);

        m_client->stopHandler();
        QTRY_COMPARE_WITH_TIMEOUT(m_client->helperProcessId(), qint64(0), 15000);
    }
};

QTEST_MAIN(TestReadingCore)
#include "tst_readingcore.moc"
