#pragma once

#include "widgets/kelframe.h"

#include <QPointer>
#include <QTimer>
#include <QWidget>

class BookModel;
class KelButton;
class KelIconLabel;
class KelLabel;
class ProgressBar;

// The strip that shows the book last read and opens it with one click. It follows the last-book
// settings and the book model by itself; changes within 100 ms give one refresh.
class ContinueReadingWidget : public QWidget {
public:
    explicit ContinueReadingWidget(BookModel* books, QWidget* parent = nullptr);

    void translateUi();
    void refresh();

    KelButton* openButton() const { return m_open; }
    KelLabel* titleLabel() const { return m_title; }
    KelLabel* authorLabel() const { return m_author; }
    KelLabel* pageLabel() const { return m_page; }
    KelLabel* pageCountLabel() const { return m_pageCount; }

private:
    void changed(int& copy, int value);

    QPointer<BookModel> m_books;
    KelButton* m_open = nullptr;
    KelLabel* m_title = nullptr;
    KelLabel* m_author = nullptr;
    KelLabel* m_page = nullptr;
    KelLabel* m_pageCount = nullptr;
    int m_bookId = -1;
    int m_bookPage = -1;
    int m_bookPageCount = -1;
    QTimer m_refreshTimer;
};

// The strip shown while books are imported or exported: counters, a progress bar, pause and stop.
class ImportBooksWidget : public QWidget {
    Q_OBJECT

public:
    explicit ImportBooksWidget(QWidget* parent = nullptr);
    ~ImportBooksWidget() override;

    void setExportMode(bool exportMode);
    bool isExportMode() const;
    void setProgress(int current, int total);
    void translateUi();
    // Unchecks the pause button (telling the importer, as a click does).
    void resetPause();

    KelIconLabel* iconLabel() const;
    KelLabel* titleLabel() const;
    KelLabel* doneLabel() const;
    KelLabel* totalLabel() const;
    ProgressBar* progressBar() const;
    KelIconLabel* percentLabel() const;
    KelButton* pauseButton() const;
    KelButton* stopButton() const;

signals:
    void togglePlayPause(bool paused);
    void cancelClicked();

private:
    void updatePauseToolTip();
    void updateEnabled();

    class Private;
    QScopedPointer<Private> d;
};

// The footer of the library side: the continue-reading strip over the import strip, the latter
// following the book importer.
class StatusBar : public KelFrame {
    Q_OBJECT

public:
    // books: the model the continue-reading strip reads; null takes the application's.
    explicit StatusBar(QWidget* parent = nullptr, BookModel* books = nullptr);
    ~StatusBar() override;

    void translateUi();

    ContinueReadingWidget* continueReadingWidget() const { return m_continue; }
    ImportBooksWidget* importBooksWidget() const { return m_import; }

private:
    ContinueReadingWidget* m_continue = nullptr;
    ImportBooksWidget* m_import = nullptr;
};
