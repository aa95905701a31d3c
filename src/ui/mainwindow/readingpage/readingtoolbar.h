#pragma once

#include "bookcontextwatcher.h"
#include "widgets/kelbutton.h"
#include "widgets/kelframe.h"
#include "windows/kelpopupmenubutton.h"

class KelDelimiter;
class KelExclusiveButtonGroup;
class KelLabel;
class KelSlider;
class KelSpinBox;
class KelWidget;
class QKeyEvent;

// The bar over the book: back to the library, the side-page buttons, the title in full screen,
// reading aloud, zoom, full screen, settings and print. Each book decides which of them show.
class ReadingToolBar : public KelFrame, public BookContextWatcher {
    Q_OBJECT

public:
    // A side-page button that drops its text, keeping the icon, when the bar is too narrow.
    class ShrinkableButton : public KelButton {
    public:
        ShrinkableButton(const QString& iconName, QWidget* parent);
        void setFullText(const QString& text);
        QString fullText() const { return m_fullText; }
        int textWidth() const { return m_textWidth; }
        bool isShrunk() const { return m_shrunk; }
        void setShrunk(bool shrunk);

    private:
        QString m_fullText;
        int m_textWidth = 0;
        bool m_shrunk = false;
    };

    class VolumeButton : public KelPopupMenuButton {
    public:
        explicit VolumeButton(QWidget* parent);
        KelSlider* slider() const { return m_slider; }
        KelLabel* caption() const { return m_caption; }

    private:
        void showVolume(int value);

        KelLabel* m_caption = nullptr;
        KelLabel* m_value = nullptr;
        KelSlider* m_slider = nullptr;
    };

    class ReadAloudBox : public QWidget {
    public:
        explicit ReadAloudBox(QWidget* parent);
        KelButton* prevButton = nullptr;
        KelButton* nextButton = nullptr;
        KelButton* stopButton = nullptr;
        KelButton* playButton = nullptr;
        VolumeButton* volumeButton = nullptr;
    };

    class ZoomBox : public QWidget {
    public:
        explicit ZoomBox(QWidget* parent);
        // Escape in the zoom value goes on to the page, which closes its side page with it.
        bool eventFilter(QObject* watched, QEvent* event) override;
        KelButton* zoomInButton = nullptr;
        KelSpinBox* zoomValue = nullptr;
        KelButton* zoomOutButton = nullptr;
        KelButton* fitWidthButton = nullptr;
        KelButton* fitPageButton = nullptr;
    };

    explicit ReadingToolBar(QWidget* parent = nullptr);
    ~ReadingToolBar() override;

    KelExclusiveButtonGroup* sideBarGroup() const { return m_sideBarGroup; }
    ShrinkableButton* libraryButton() const { return m_libraryButton; }
    ShrinkableButton* tocButton() const { return m_tocButton; }
    ShrinkableButton* notesButton() const { return m_notesButton; }
    ShrinkableButton* bookmarksButton() const { return m_bookmarksButton; }
    KelButton* searchButton() const { return m_searchButton; }
    KelButton* settingsButton() const { return m_settingsButton; }
    KelButton* printButton() const { return m_printButton; }
    KelButton* fullscreenButton() const { return m_fullscreenButton; }
    KelLabel* titleLabel() const { return m_titleLabel; }
    ReadAloudBox* readAloudBox() const { return m_readAloudBox; }
    ZoomBox* zoomBox() const { return m_zoomBox; }
    KelPopupMenu* volumePopup() const;
    QWidget* leftBox() const;

    void setTitle(const QString& title);
    void setFullscreenLook(bool on);
    void applyStyle() override;
    // The read-aloud and volume keys; true when the key is one of them.
    bool handleKey(QKeyEvent* event);
    void retranslateUi();
    void relayoutShrinkable();

protected:
    void onBookContextChanged(QSharedPointer<BookContext> context) override;

private:
    void updateNotesText();
    void syncZoom();
    void onPlayToggled(bool checked);
    void onReadAloudStopped();
    // Starts reading aloud once the speech engine is there; asks for it when it is not.
    void startReadingAloud();
    // Read Aloud cannot go on: the button is turned off and the user told once.
    void readingAloudRefused(bool failedWhileSpeaking);

    KelExclusiveButtonGroup* m_sideBarGroup = nullptr;
    KelWidget* m_leftBox = nullptr;
    KelWidget* m_rightBox = nullptr;
    ShrinkableButton* m_libraryButton = nullptr;
    ShrinkableButton* m_tocButton = nullptr;
    ShrinkableButton* m_notesButton = nullptr;
    ShrinkableButton* m_bookmarksButton = nullptr;
    KelDelimiter* m_tocDelimiter = nullptr;
    KelDelimiter* m_notesDelimiter = nullptr;
    KelDelimiter* m_bookmarksDelimiter = nullptr;
    KelDelimiter* m_searchDelimiter = nullptr;
    KelButton* m_searchButton = nullptr;
    KelButton* m_settingsButton = nullptr;
    KelButton* m_printButton = nullptr;
    KelLabel* m_titleLabel = nullptr;
    ReadAloudBox* m_readAloudBox = nullptr;
    ZoomBox* m_zoomBox = nullptr;
    KelButton* m_fullscreenButton = nullptr;
    int m_ttsMetricCount = 0;
    // Waits for the speech engine asked for by a press of Read Aloud.
    QMetaObject::Connection m_speechWait;
    bool m_fullscreenLook = false;
};
