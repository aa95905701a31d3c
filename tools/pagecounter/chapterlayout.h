#pragma once

#include <QList>
#include <QObject>
#include <QSize>
#include <QString>
#include <QUrl>
#include <QVariant>

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
    // Loads a local chapter file and starts the engine in it; false, with a log line, when the
    // file is not local, cannot be loaded in time or the engine does not start.
    bool open(const QUrl& fileUrl, const QString& engineScript, int timeoutMs = kLoadTimeoutMs);
    // Evaluates the page-format script; the chapter's page count, or -1 when it is not laid out.
    int applyFormat(const QString& script);
    // The page within the chapter of a link in the engine's form ("#id", "kelpath=..."), or -1.
    int pageOfLink(const QString& link);
    // Text nodes holding the text, case-insensitive, in document order.
    QList<Hit> findText(const QString& text);
    // Shows a page of the chapter in the viewport; false when there is no such page.
    bool showPage(int page);
    // Paints the viewport (the page on screen) at the painter's origin.
    void render(QPainter* painter);
    QSize viewportSize() const;

    QVariant evaluate(const QString& script);

private:
    class Page;

    bool load(const QUrl& url, int timeoutMs);
    // The page size the engine was last given, bounded.
    QSize enginePageSize();

    Page* m_page = nullptr;
};
