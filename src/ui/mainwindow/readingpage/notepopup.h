#pragma once

#include "bookcontextwatcher.h"
#include "noteitem.h"
#include "widgets/kelplaintextedit.h"
#include "windows/kelpopupmenu.h"

class KelButton;
class KelExclusiveButtonGroup;
class KelFrame;

// The comment editor of the note popup: grows with its text up to a limit, then scrolls.
class TextEdit : public KelPlainTextEdit {
    Q_OBJECT

public:
    static constexpr int kMaxHeight = 600;

    explicit TextEdit(int widgetType, QWidget* parent = nullptr);
    QSize sizeHint() const override;
    int heightForWidth(int width) const override;
    void applyStyle() override;
};

// The menu under a text selection or a clicked note: note colours, "Add note" with a comment
// editor, web look-ups, translation and copy. Every change goes to the open book at once.
class NotePopup : public KelPopupMenu, public BookContextWatcher {
    Q_OBJECT

public:
    enum Mode { SelectionMode = 0, NoteMode = 1, EditorMode = 2 };

    explicit NotePopup(QWidget* parent = nullptr);
    ~NotePopup() override;

    void showForSelection(const QRect& rect);
    void showForNote(const QRect& rect, const QString& noteId);
    // Where the viewer sits inside the popup's parent.
    void setAnchorOffset(const QPoint& offset);
    void translateUi() override;

    int mode() const;
    QString currentNoteId() const;
    KelExclusiveButtonGroup* colorGroup() const;
    KelButton* addNoteButton() const;
    KelButton* deleteNoteButton() const;
    KelButton* deleteColorButton() const;
    TextEdit* editor() const;

protected:
    void onBookContextChanged(QSharedPointer<BookContext> context) override;
    void resetBookState() override;

private:
    class Private;
    Private* d;
};
