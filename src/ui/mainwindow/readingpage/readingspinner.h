#pragma once

#include "styles/kelstyleable.h"
#include "widgets/kelwidget.h"

#include <QColor>
#include <QPixmap>
#include <QPointer>
#include <QVector>

#include <utility>

class BookPageParams;

// The cover laid over the book while it loads: instead of a wheel it paints a ghost page of bars
// shaped like paragraphs in the page's own columns, so the wait looks like the page to come.
// While the web view resizes it shows a faded snapshot of the old view instead.
class ReadingSpinner : public KelWidget, public KelStyleable {
    Q_OBJECT
public:
    enum Mode { Nothing = 0, LoadBook = 1, ChangeFullscreen = 2, WebViewResize = 3, ImageViewerLoadPage = 4 };
    Q_ENUM(Mode)

    explicit ReadingSpinner(QWidget* parent = nullptr);
    ~ReadingSpinner() override;

    void setMode(Mode mode);
    Mode mode() const { return m_mode; }
    void setSnapshotSource(QWidget* source) { m_snapshotSource = source; }
    BookPageParams* pageParams() const { return m_params; }

    void applyStyle() override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    // (line count, last-line percent) of the next paragraph; shapes are kept so repaints match.
    std::pair<int, int> nextParagraph();
    void paintGhostPage(QPainter& painter);

    Mode m_mode = Nothing;
    QColor m_background;
    QColor m_barColor;
    BookPageParams* m_params;
    QPointer<QWidget> m_snapshotSource;
    QPixmap m_snapshot;
    QVector<std::pair<int, int>> m_paragraphs;
    int m_paragraphIndex = 0;
};
