#include "localwebpage.h"

#include <QNetworkReply>
#include <QNetworkRequest>
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

void disarmScripts(QWebFrame* frame)
{
    const QWebElementCollection elements = frame->findAllElements(QStringLiteral("*"));
    for (QWebElement element : elements) {
        const QString tag = element.tagName();
        if (tag.compare(QLatin1String("script"), Qt::CaseInsensitive) == 0
            || tag.compare(QLatin1String("noscript"), Qt::CaseInsensitive) == 0) {
            element.removeFromDocument();
            continue;
        }
        const QStringList names = element.attributeNames();
        for (const QString& name : names) {
            if (name.startsWith(QLatin1String("on"), Qt::CaseInsensitive))
                element.removeAttribute(name);
        }
    }
    const QList<QWebFrame*> children = frame->childFrames();
    for (QWebFrame* child : children)
        disarmScripts(child);
}
