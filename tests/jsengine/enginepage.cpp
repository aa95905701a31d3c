#include "enginepage.h"

#include "jsengine/jsengine.h"
#include "noteitem.h"

#include <QEventLoop>
#include <QTimer>
#include <QUrl>
#include <QWebFrame>
#include <QWebSettings>
#include <cmath>

EnginePage::EnginePage(QObject* parent)
    : QWebPage(parent)
{
    // As the reader's chapter page: no scroll bars, links handled by the host.
    mainFrame()->setScrollBarPolicy(Qt::Horizontal, Qt::ScrollBarAlwaysOff);
    mainFrame()->setScrollBarPolicy(Qt::Vertical, Qt::ScrollBarAlwaysOff);
    setLinkDelegationPolicy(QWebPage::DelegateAllLinks);
    setViewportSize(QSize(m_format.width, m_format.height));
}

bool loadWebPage(QWebPage* page, const QString& filePath, int timeoutMs, const std::function<void(const QUrl&)>& start)
{
    QEventLoop loop;
    bool finished = false;
    bool ok = false;
    const auto connection = QObject::connect(page, &QWebPage::loadFinished, &loop, [&](bool result) {
        finished = true;
        ok = result;
        loop.quit();
    });
    QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
    if (start)
        start(QUrl::fromLocalFile(filePath));
    else
        page->mainFrame()->load(QUrl::fromLocalFile(filePath));
    if (!finished)
        loop.exec();
    QObject::disconnect(connection);
    return finished && ok;
}

bool EnginePage::load(const QString& filePath, int timeoutMs) { return loadWebPage(this, filePath, timeoutMs); }

QVariant EnginePage::evaluate(const QString& script) { return mainFrame()->evaluateJavaScript(script); }

QVariant EnginePage::injectEngine(const QString& uid)
{
    m_uid = uid;
    return evaluate(jsengine::scriptWithInit(uid));
}

int EnginePage::open(const QString& filePath, const PageFormat& format)
{
    if (!load(filePath) || !injectEngine().toBool())
        return -1;
    if (jsengine::inPieces(filePath))
        evaluate(jsengine::splitPiecesCall());
    return applyPageFormat(format).value(QStringLiteral("pageCount")).toInt();
}

ViewerColors EnginePage::dayColors()
{
    ViewerColors colors;
    colors.background = Qt::white;
    colors.text = Qt::black;
    for (int i = NoteItem::Blue; i <= NoteItem::Green; ++i)
        colors.noteColors.insert(i, NoteItem::styleColor(i));
    return colors;
}

QString EnginePage::pageFormatScript(const PageFormat& f)
{
    BookPageParams params;
    params.setPageColors(dayColors());
    params.setColumnCount(f.columnCount);
    params.setWidth(f.width);
    params.setHeight(f.height);
    params.setLineSpacing(f.lineSpacing);
    return params.pageFormatScript();
}

QVariantMap EnginePage::applyPageFormat(const PageFormat& format)
{
    m_format = format;
    setViewportSize(QSize(format.width, format.height));
    settings()->setFontSize(QWebSettings::DefaultFontSize, format.fontSize);
    return evaluate(pageFormatScript(format)).toMap();
}

int EnginePage::evaluateInt(const QString& script)
{
    const QVariant result = evaluate(script);
    bool ok = false;
    const double value = result.toDouble(&ok);
    if (!result.isValid() || result.userType() == QMetaType::QString || !ok)
        return kNoNumber;
    return int(value);
}

QString EnginePage::evaluateString(const QString& script)
{
    const QVariant result = evaluate(script);
    return result.userType() == QMetaType::QString ? result.toString() : QStringLiteral("<not a text>");
}

int EnginePage::setReadingPosByXPath(const QString& path)
{
    return evaluateInt(QStringLiteral("setReadingPosByXPath('%1');").arg(jsengine::escaped(path)));
}

int EnginePage::getPageByKelLink(const QString& link)
{
    return evaluateInt(QStringLiteral("getPageByKelLink('%1');").arg(jsengine::escaped(link)));
}

int EnginePage::pageAtX(double viewportX)
{
    const double left
        = evaluate(QStringLiteral("document.getElementById('%1').getBoundingClientRect().left").arg(m_uid + "1"))
              .toDouble();
    const double pageWidth = double(m_format.width) / m_format.columnCount;
    return int(std::floor((viewportX - left) / pageWidth)) + 1;
}

int EnginePage::lastContentPage()
{
    const QString script = QStringLiteral(R"((function () {
        var columns = document.getElementById('%1');
        var left = columns.getBoundingClientRect().left;
        var pageWidth = %2;
        var last = 0;
        function take(rects) {
            for (var i = 0; i < rects.length; ++i) {
                if (rects[i].width > 0 && rects[i].height > 0)
                    last = Math.max(last, Math.floor((rects[i].left - left) / pageWidth) + 1);
            }
        }
        var walker = document.createTreeWalker(columns, NodeFilter.SHOW_TEXT, null, false);
        var range = document.createRange();
        for (var n = walker.nextNode(); n; n = walker.nextNode()) {
            if (!/\S/.test(n.data))
                continue;
            range.selectNodeContents(n);
            take(range.getClientRects());
        }
        var images = columns.getElementsByTagName('img');
        for (var k = 0; k < images.length; ++k)
            take(images[k].getClientRects());
        return last;
    })())")
                               .arg(m_uid + "1")
                               .arg(double(m_format.width) / m_format.columnCount);
    return evaluateInt(script);
}
