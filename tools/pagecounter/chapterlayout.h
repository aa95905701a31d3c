#pragma once

#include <QList>
#include <QObject>
#include <QSize>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <QVariant>
#include <QVector>

#include <functional>

class QPainter;
class QNetworkAccessManager;

// One chapter laid out by the reading engine in a windowless web page, the way the reader's
// chapter page lays it out: the chapter file is loaded, the engine script with its init call is
// evaluated, the page's default font is set and the page-format script is evaluated with the
// viewport at the page size the script asks for. Only local chapter files are loaded, and the
// page reaches no network: a book's resources are local or nothing.
class ChapterLayout : public QObject {
    Q_OBJECT

public:
    static constexpr int kLoadTimeoutMs = 30000;

    // A search hit: the element path of its text node, the sentence around it, its offset in the
    // node and its page in the chapter (-1 when it has none).
    struct Hit {
        QString path;
        QString text;
        int offset = 0;
        int page = -1;
    };

    explicit ChapterLayout(QObject* parent = nullptr);
    ~ChapterLayout() override;

    // The default font of the pages; an empty family or "Original font" keeps the book's fonts.
    void setFont(int size, const QString& family);
    // The folder of the book whose chapters are laid out, as the reader tells it: the pages read
    // only its files. While none is told, a chapter reads only its own folder.
    void setBookFolder(const QString& folder) { m_bookFolder = folder; }
    // Loads a local chapter file and starts the engine in it; false, with a log line, when the
    // file is not local, cannot be loaded in time or the engine does not start.
    bool open(const QUrl& fileUrl, const QString& engineScript, int timeoutMs = kLoadTimeoutMs);
    // Whether the chapter file is laid out in pieces (jsengine::inPieces).
    static bool needsPieces(const QUrl& fileUrl);
    // As open(), with the chapter split into pieces of which only the first is laid out: the
    // document stays whole (element paths keep their meaning) but the blocks of the other
    // pieces, at whatever depth they stand, are not displayed. The number of pieces, or -1 when
    // the chapter cannot be laid out.
    int openPieces(const QUrl& fileUrl, const QString& engineScript, int timeoutMs = kLoadTimeoutMs);
    // Shows another piece of a chapter opened in pieces, laid out with the page format applied
    // to the first; its columns (pieceColumns), or -1 when there is no such piece.
    int showPiece(int piece);
    // The columns the piece on screen fills: each piece starts a column in the reader, so the
    // pages of the chapter are those of all its pieces' columns in whole screens.
    int pieceColumns();
    // Columns on one screen (pages side by side) of the page format applied.
    int columnsPerScreen();
    // Evaluates the page-format script; the chapter's page count, or -1 when it is not laid out.
    int applyFormat(const QString& script);
    // The pages within the chapter of links in the engine's form ("#id", "kelpath=..."), each
    // tried as written and then percent-decoded, in one evaluation: -1 for a link whose target
    // has no page, OtherPiece when the chapter is opened in pieces and the target is in none
    // but another (or nowhere).
    static constexpr int OtherPiece = -2;
    QVector<int> pagesOfLinks(const QStringList& links);
    // Text nodes holding the text, case-insensitive, in document order (in the piece shown); at
    // most limit of them when it is above 0.
    QList<Hit> findText(const QString& text, int limit = 0);
    // Shows a page of the chapter in the viewport; false when there is no such page.
    bool showPage(int page);
    // Paints the viewport (the page on screen) at the painter's origin.
    void render(QPainter* painter);
    QSize viewportSize() const;

    QVariant evaluate(const QString& script);

private:
    class Page;

    bool load(const QUrl& url, int timeoutMs);
    // open(), running afterEngine (when set) once the engine has started; its false fails.
    bool open(
        const QUrl& fileUrl, const QString& engineScript, int timeoutMs, const std::function<bool()>& afterEngine);
    // The page size the engine was last given, bounded.
    QSize enginePageSize();
    // Requests the page has made so far.
    int requestsMade() const;
    // The page count of a layout made after `made` requests, counted again with what it loaded.
    int countWithLoads(int made, QVariant layout);
    // Waits for the loads that a layout started since `made` requests; false when there were none.
    bool awaitLoads(int made);

    Page* m_page = nullptr;
    QString m_bookFolder;
};
