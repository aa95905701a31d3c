#pragma once

#include <QNetworkAccessManager>
#include <QUrl>
#include <QWebPage>

#include <functional>
#include <memory>

class QWebFrame;

// What keeps a book's chapter inside its own folder, the same in the reader and in the
// page-counting helper, so both lay a chapter out from the same resources.

// Serves the book's own files, the reader's resources (qrc:) and data URLs only; any other request
// gets an error with a log line, so a book can neither make the program talk to the network nor
// read the user's files. A file is the book's when its real path (links and ".." resolved) is in
// the book's folder. XSL style sheets are refused wherever they are: a transformed chapter would
// be a document of the style sheet's making, without the chapter's policy. The chapter the page
// loads, and every other document of the book it asks for (HTML, XHTML, SVG, XML), is served as
// the reader decoded it, in UTF-8 under the chapter policy, with no XSL style sheet instruction
// (chapterpolicy::served).
class LocalOnlyNetwork : public QNetworkAccessManager {
public:
    using QNetworkAccessManager::QNetworkAccessManager;

    // The folder of the book whose chapters the page shows; no file is served while it is empty.
    void setBookFolder(const QString& folder) { m_bookFolder = folder; }
    // The chapter file the page is about to load.
    void setChapter(const QUrl& file) { m_chapter = file; }

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
    // Whether a local file may be read, with a log line when it may not.
    bool mayRead(const QString& file) const;

    std::function<void(const QString& file)> m_beforeRead;
    QString m_bookFolder;
    QUrl m_chapter;
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

// Tells a chapter page's network the book folder and the chapter it is about to load.
void setPageChapter(QWebPage* page, const QString& bookFolder, const QUrl& chapter);

// For tests only: whether chapter pages are put under the chapter policy, and whether
// disarmScripts walks them (both on in the program). A test turns one off to show that the other
// wall holds alone.
void setChapterPolicyForTests(bool on);
void setChapterGuardForTests(bool on);

// Takes out of a loaded chapter, in every frame, whatever could run the book's own code or take
// the page elsewhere once scripting is on for the engine. It works on the document the web view
// built, so it sees the markup as the view itself read it, whatever the passes before it
// thought: script elements, event handlers (a resize handler would run when the viewport
// changes), noscript content (shown only because scripting was off), frames, objects and embeds,
// base elements, refresh and other http-equiv metas (a meta that only names the content type, and
// the chapter policy's own, are left), SVG animations that would write an address
// or a handler; in every attribute, of any namespace, a javascript: address; the address of an
// SVG use of another document (its copy is a tree no walk sees); and in the attributes that hold
// an address, any address but the book's files and the reader's own (an outside link stays, for
// the reader to hand on). Returns how many elements and attributes it took out. The test switch
// setChapterGuardForTests turns it off.
int disarmScripts(QWebFrame* frame);

// The scheme the web view would read at the start of an attribute value, lower case; empty when
// it reads the value as relative. Reads a scheme wherever the view could: the characters it
// ignores in a scheme (spaces, controls, tabs and newlines anywhere) are passed over here, and so
// are other blanks and invisible characters.
QString addressScheme(const QString& value);

// What a chapter page does with a navigation. It loads only what the reader asks for (expected,
// followed once and cleared then). A link click is handed to the page's own handling (the reader's
// links). Everything else (a form submitted, a refresh, an address set by any means, a reload, a
// load in a frame) is refused, with a log line.
enum class ChapterNavigation { Follow, Refuse, LinkClick };
ChapterNavigation chapterNavigation(
    QWebFrame* frame, const QNetworkRequest& request, QWebPage::NavigationType type, QUrl* expected);
