#pragma once

#include <QNetworkAccessManager>

#include <functional>
#include <memory>

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

    // Requests made so far, and how many of them are done (finished or let go): the loads a layout
    // starts (the book's fonts) are in once the two are equal again.
    int requestsMade() const { return m_requests->made; }
    int requestsDone() const { return m_requests->done; }

protected:
    QNetworkReply* createRequest(Operation op, const QNetworkRequest& request, QIODevice* outgoingData) override;

private:
    std::function<void(const QString& file)> m_beforeRead;
    struct Requests {
        int made = 0;
        int done = 0;
    };
    // Shared with the replies' handlers, which may outlive this part of the object.
    std::shared_ptr<Requests> m_requests = std::make_shared<Requests>();
};

// Gives the page a local-only network and turns off plugins, windows, clipboard access,
// storage and remote access from local content.
void makePageLocalOnly(
    QWebPage* page, QObject* networkParent, const std::function<void(const QString& file)>& beforeRead = {});

// Takes out of a loaded chapter what could run the book's own code once scripting is on for
// the engine: script elements and event-handler attributes (a resize handler would run when the
// viewport changes). Noscript content goes too: it was shown only because scripting was off.
void disarmScripts(QWebFrame* frame);
