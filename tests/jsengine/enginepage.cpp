#include "enginepage.h"

#include "jsengine/jsengine.h"

#include <QElapsedTimer>
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

bool loadWebPage(QWebPage* page, const QString& filePath, int timeoutMs)
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
    return applyPageFormat(format).value(QStringLiteral("pageCount")).toInt();
}

QString EnginePage::pageFormatScript(const PageFormat& f)
{
    // The colour script, the text-style script and the page-dimension call, as the page
    // parameters build them (white page, black text, the note colours of the note styles).
    QString script
        = QStringLiteral("replaceOrAddStyle('body_style_1', 'body{ background-color: %2 !important; color: %3}');")
              .arg(QStringLiteral("#ffffff"), QStringLiteral("#000000"));
    script += QStringLiteral(
        "replaceOrAddStyle('note_red_style', 'span.rednote{ background-color: %1; }');"
        "replaceOrAddStyle('note_blue_style', 'span.bluenote{ background-color: %2; }');"
        "replaceOrAddStyle('note_purple_style', 'span.purplenote{ background-color: %3; }');"
        "replaceOrAddStyle('note_yellow_style', 'span.yellownote{ background-color: %4; }');"
        "replaceOrAddStyle('note_green_style', 'span.greennote{ background-color: %5; }');"
        "replaceOrAddStyle('note_underline_style', 'span.underlinenote{ text-decoration: underline; }');")
                  .arg(QStringLiteral("#f3a2a2"), QStringLiteral("#aed9f1"), QStringLiteral("#ccb8e4"),
                      QStringLiteral("#f3e3a2"), QStringLiteral("#b1f3a4"));
    script += QStringLiteral("replaceOrAddStyle('body_style_2', 'body{ text-align: %1 !important; }');")
                  .arg(QStringLiteral("justify"));
    script += QStringLiteral("replaceOrAddStyle('linespacing_style', 'p{ line-height: %1% !important; }');")
                  .arg(f.lineSpacing);
    script += QStringLiteral("replaceOrAddStyle('speech_style', 'span.speechActive{ background-color: #f3e3a2;  }');");
    script += QStringLiteral("setPageDim(%5,%3, %1, %2, %4);")
                  .arg(f.width)
                  .arg(f.height)
                  .arg(f.gap)
                  .arg(f.margin)
                  .arg(f.columnCount);
    return script;
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

int EnginePage::setReadingPosById(const QString& id)
{
    return evaluateInt(QStringLiteral("setReadingPosById('%1');").arg(jsengine::escaped(id)));
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
