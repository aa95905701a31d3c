#pragma once

#include "noteitem.h"
#include "readingmodelwidget.h"
#include "readingsidebar.h"

#include <QDateTime>

class KelComboBox;
class KelLabel;
class KelLineEdit;
class KelPlainTextEdit;
class WordWrapLabel;

// A note row: date, page, delete button, the marked passage with a bar in the note's colour, and
// the comment editor, which saves as the user types.
class NoteWidget : public ReadingModelItemButton {
    Q_OBJECT
public:
    explicit NoteWidget(QWidget* parent = nullptr);

    void readFrom(const QModelIndex& index) override;
    void retranslateUi() override;
    void onCurrentDayChanged() override;
    KelPlainTextEdit* editor() const { return m_editor; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString m_id;
    QDateTime m_date;
    NoteItem::NoteColor m_color = NoteItem::NoColor;
    KelLabel* m_dateLabel;
    KelLabel* m_pageLabel;
    KelButton* m_deleteButton;
    WordWrapLabel* m_passageLabel;
    KelPlainTextEdit* m_editor;
    bool m_emittingEdit = false;
};

// The open book's notes, filtered by colour and by text.
class NotesBox : public BookItemsSideBar {
    Q_OBJECT
public:
    explicit NotesBox(QWidget* parent = nullptr);

    QString title() const override;
    QString closeText() const override;
    QString emptyText() const override;
    void retranslateUi() override;
    KelComboBox* colorFilter() const { return m_colorFilter; }
    KelLineEdit* searchField() const { return m_searchField; }

protected:
    void onBookContextChanged(QSharedPointer<BookContext> context) override;

private:
    void onColorFilterChanged(const QVariant& data);

    KelComboBox* m_colorFilter;
    KelLineEdit* m_searchField;
};

// The style colour role of a note colour in the side pages; 0 for a colour without one.
int noteSideColorRole(int color);
