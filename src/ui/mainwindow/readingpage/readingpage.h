#pragma once

#include "bookcontextwatcher.h"
#include "readingenums.h"
#include "readingspinner.h"
#include "styles/kelstyleable.h"

#include <QWidget>

class NotePopup;
class ReadingFooter;
class ReadingSideBar;
class ReadingToolBar;
class SlideBox;

// The page a book is read on: the viewer of the open book with the tool bar above, the footer
// below, two boxes of side pages sliding in from the sides, the note popup, the loading spinner,
// the page's keys, the encoding menu and a full-screen mode of its own window.
class ReadingPage : public QWidget, public KelStyleable, public BookContextWatcher {
    Q_OBJECT

public:
    explicit ReadingPage(QWidget* parent = nullptr);
    ~ReadingPage() override;

    // Reuses the open book when it is the same one; false when the book cannot be shown, after
    // telling the user why.
    bool openBook(int bookId);
    // Lets the open book go (its state file is written) and deletes its viewer.
    void closeBook();
    void setBookContext(QSharedPointer<BookContext> context) override;

    bool isFullscreen() const;
    void toggleFullscreen();
    void setSpinnerMode(ReadingSpinner::Mode mode);
    void translateUi();
    void applyStyle() override;
    QSize minimumSizeHint() const override;

    void showSideBar(ReadingEnums::SideBar id);
    void toggleSideBar(ReadingEnums::SideBar id);
    void closeSideBars();
    ReadingSideBar* sideBar(ReadingEnums::SideBar id) const;
    bool isSideBoxVisible() const;

    ReadingToolBar* toolBar() const;
    ReadingFooter* footer() const;
    NotePopup* notePopup() const;
    ReadingSpinner* spinner() const;
    SlideBox* leftBox() const;
    SlideBox* rightBox() const;
    // The encoding menu; null until the viewer asked for it.
    QWidget* encodingMenu() const;

public slots:
    void setFullscreen(bool on);
    void onEncodingMenuRequested();

signals:
    void goToLibraryClicked();
    void goToAppSettingsClicked();
    void bookTitleChanged(QString title);

protected:
    void onBookContextChanged(QSharedPointer<BookContext> context) override;
    void resetBookState() override;
    void keyPressEvent(QKeyEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    class Private;
    Private* d;
};
