#pragma once

#include "windows/kelwindow.h"

class AppSettingsPage;
class KelButton;
class KelLabel;
class KelStackedWidget;
class LibraryPage;
class ReadingPage;
class SideBar;
class StatusBar;

// The program's one top-level window: title bar with the product title, the book title and the
// update button, the side bar, the library, settings and reading pages and the status bar.
class MainWindow : public KelWindow {
    Q_OBJECT

public:
    explicit MainWindow(QWidget* parent = nullptr);
    ~MainWindow() override;

    void showPage(QWidget* page);

    ::SideBar* sideBar() const;
    KelStackedWidget* pages() const;
    LibraryPage* libraryPage() const;
    AppSettingsPage* settingsPage() const;
    ReadingPage* readingPage() const;
    StatusBar* statusBar() const;
    KelButton* updateButton() const;
    KelLabel* bookTitleLabel() const;

    void applyStyle() override;

public slots:
    void openBook(int bookId);
    void setBookTitle(const QString& title);
    void onCategoryClicked(int category);
    void onFirstShow();
    void translateUi() override;

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    class Private;
    Private* d;
};
