#pragma once

#include <QNetworkAccessManager>

#include <functional>

class QWebFrame;
class QWebPage;

// What keeps a book's chapter inside its own folder, the same in the reader and in the
// page-counting helper, so both lay a chapter out from the same resources.

// Serves local files, resources and data URLs only; any other request gets an error, so a
// book cannot make the program talk to the network.
class LocalOnlyNetwork : public QNetworkAccessManager {
public:
    using QNetworkAccessManager::QNetworkAccessManager;

    // Called with the path of every local file before it is read, so that a book still being
    // converted can make the file ready first.
    void setBeforeRead(const std::function<void(const QString& file)>& beforeRead) { m_beforeRead = beforeRead; }

protected:
    QNetworkReply* createRequest(Operation op, const QNetworkRequest& request, QIODevice* outgoingData) override;

private:
    std::function<void(const QString& file)> m_beforeRead;
};

// Gives the page a local-only network and turns off plugins, windows, clipboard access,
// storage and remote access from local content.
void makePageLocalOnly(
    QWebPage* page, QObject* networkParent, const std::function<void(const QString& file)>& beforeRead = {});

// Takes out of a loaded chapter what could run the book's own code once scripting is on for
// the engine: script elements and event-handler attributes (a resize handler would run when the
// viewport changes). Noscript content goes too: it was shown only because scripting was off.
void disarmScripts(QWebFrame* frame);
