#include "viewedmarkup.h"

#include "localwebpage.h"
#include "testfiles.h"

#include <QEventLoop>
#include <QFileInfo>
#include <QSet>
#include <QTemporaryDir>
#include <QTimer>
#include <QWebFrame>
#include <QWebPage>
#include <QWebSettings>

namespace viewedmarkup {

namespace {

    // The reader's chapter page as far as a book can reach it: it follows the one load asked for
    // and opens nothing, and no dialog of a script waits for a click.
    class ChapterPage : public QWebPage {
    public:
        QUrl expected;

        bool shouldInterruptJavaScript() override { return true; }

    protected:
        bool acceptNavigationRequest(QWebFrame* frame, const QNetworkRequest& request, NavigationType type) override
        {
            return chapterNavigation(frame, request, type, &expected) == ChapterNavigation::Follow;
        }
        void javaScriptAlert(QWebFrame*, const QString&) override { }
        bool javaScriptConfirm(QWebFrame*, const QString&) override { return false; }
        bool javaScriptPrompt(QWebFrame*, const QString&, const QString&, QString*) override { return false; }
        void javaScriptConsoleMessage(const QString&, int, const QString&) override { }
        QWebPage* createWindow(WebWindowType) override { return nullptr; }
    };

    // Every element of the document, every attribute of every namespace. An address is read by a
    // link of the document's own, so its base and the view's parsing of addresses decide.
    const char* const kWalk = R"JS(
(function () {
    var found = [];
    var scratch = document.createElementNS('http://www.w3.org/1999/xhtml', 'a');
    var runs = function (value) {
        scratch.setAttribute('href', value);
        return String(scratch.protocol).toLowerCase() === 'javascript:';
    };
    var describe = function (e, a) {
        return '<' + e.localName + (a ? ' ' + a.name + '=' + String(a.value).substring(0, 60) : '') + '>';
    };
    var documents = ['iframe', 'frame', 'object', 'embed', 'applet'];
    var animated = ['values', 'to', 'from', 'by'];
    var all = document.getElementsByTagName('*');
    for (var i = 0; i < all.length; ++i) {
        var e = all[i];
        var name = String(e.localName).toLowerCase();
        if (e instanceof HTMLScriptElement || e instanceof SVGScriptElement
            || (e instanceof HTMLElement && documents.indexOf(name) >= 0))
            found.push(describe(e));
        for (var k = 0; k < e.attributes.length; ++k) {
            var a = e.attributes[k];
            var local = String(a.localName).toLowerCase();
            var pieces = e instanceof SVGElement && animated.indexOf(local) >= 0 ? String(a.value).split(';') : [];
            var handler = local.length > 2 && local.substring(0, 2) === 'on';
            if (handler || runs(a.value) || pieces.some(runs))
                found.push(describe(e, a));
        }
    }
    return found;
})()
)JS";

} // namespace

QStringList runnableInFrame(QWebFrame* frame)
{
    QStringList found;
    // Nothing comes back where no script runs: a walk that did not run finds nothing either.
    const QVariant lines = frame->evaluateJavaScript(QString::fromLatin1(kWalk));
    if (lines.type() != QVariant::List)
        return { QStringLiteral("(no walk in %1: scripting is off)").arg(frame->url().toString()) };
    for (const QVariant& line : lines.toList())
        found.append(line.toString());
    for (QWebFrame* child : frame->childFrames())
        found += runnableInFrame(child);
    return found;
}

QStringList runnableInFile(const QString& path, Stage stage)
{
    ChapterPage page;
    makePageLocalOnly(&page, &page);
    page.settings()->setAttribute(QWebSettings::JavascriptEnabled, false);
    const QUrl url = QUrl::fromLocalFile(QFileInfo(path).absoluteFilePath());
    page.expected = url;
    setPageChapter(&page, QFileInfo(path).absolutePath(), url);
    QEventLoop loop;
    bool loaded = false;
    QObject::connect(&page, &QWebPage::loadFinished, &loop, [&loaded, &loop] {
        loaded = true;
        loop.quit();
    });
    // A bound against a hang only: a chapter of megabytes loads for long on a busy machine.
    QTimer::singleShot(300000, &loop, &QEventLoop::quit);
    page.mainFrame()->load(url);
    if (!loaded)
        loop.exec();
    if (!loaded)
        return { QStringLiteral("(the view did not finish loading %1)").arg(path) };
    if (stage == Disarmed)
        disarmScripts(page.mainFrame());
    page.settings()->setAttribute(QWebSettings::JavascriptEnabled, true);
    const QStringList found = runnableInFrame(page.mainFrame());
    page.settings()->setAttribute(QWebSettings::JavascriptEnabled, false);
    return found;
}

QStringList runnable(const QByteArray& data, const QString& fileName, Stage stage)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(fileName);
    if (!testfiles::write(path, data))
        return { QStringLiteral("(%1 could not be written)").arg(path) };
    return runnableInFile(path, stage);
}

QStringList added(const QStringList& before, const QStringList& after)
{
    const QSet<QString> held(before.cbegin(), before.cend());
    QStringList made;
    for (const QString& line : after) {
        if (!held.contains(line) && !made.contains(line))
            made.append(line);
    }
    return made;
}

} // namespace viewedmarkup
