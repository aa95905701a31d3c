#pragma once

#include "localwebpage.h"

#include <QObject>
#include <QUrl>

class QWebPage;

// The load of a chapter into a page, the same in the reader and in the page-counting helper. A
// load starts with scripting off; only the loadFinished(true) of the address asked for, once
// that load has started, ends it: the guard walks the document the view built, scripting goes
// on and `loaded` is emitted. A loadFinished that comes from an earlier load (the web view
// reports the end of a load it gives up inside the call that starts the next one), from
// another address, or after the load ended changes nothing. A failed load of the address
// asked for is logged and emitted as `failed`, with scripting still off.
class ChapterLoad : public QObject {
    Q_OBJECT
public:
    // Follows the page's main frame; a child of the page.
    explicit ChapterLoad(QWebPage* page);

    // Turns scripting off and loads the file; the one navigation the page follows.
    void start(const QUrl& file);
    // Stops waiting for the load (given up): its end changes nothing.
    void abandon();
    // A load was asked for and has not ended.
    bool isPending() const { return m_state != State::Idle; }
    // The file of the last load asked for, without its fragment.
    QUrl file() const { return m_file; }

    // What the page does with a navigation: the load started here is followed once, a link
    // click is the reader's, everything else is refused (chapterNavigation).
    ChapterNavigation navigation(QWebFrame* frame, const QNetworkRequest& request, QWebPage::NavigationType type);

signals:
    // The chapter asked for is in the page, walked, with scripting on.
    void loaded();
    void failed();

private:
    enum class State { Idle, Asked, Started };

    void onLoadStarted();
    void onLoadFinished(bool ok);

    QWebPage* m_page;
    State m_state = State::Idle;
    // Inside the call that starts a load: whatever ends then is the end of an earlier load.
    bool m_starting = false;
    QUrl m_file;
    // The file the page may navigate to, until that navigation comes.
    QUrl m_navigation;
};
