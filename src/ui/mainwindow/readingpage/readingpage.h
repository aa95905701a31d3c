#pragma once

#include <QWidget>

// The page a book is read on, reduced to its signals and slots: it opens nothing yet. The
// reading page with its viewer, bars and side pages replaces this class under the same name.
class ReadingPage : public QWidget {
    Q_OBJECT

public:
    explicit ReadingPage(QWidget* parent = nullptr);
    ~ReadingPage() override;

    // Logs the request and answers false: no book can be shown yet.
    bool openBook(int bookId);
    bool isFullscreen() const;

    void translateUi();

public slots:
    void setFullscreen(bool on);

signals:
    void goToLibraryClicked();
    void goToAppSettingsClicked();
    void bookTitleChanged(QString title);

private:
    bool m_fullscreen = false;
};
