#pragma once

#include "noteitem.h"
#include "readingitemlistmodel.h"

// The open book's notes for the notes box. Columns: "Id", "Title", "Page" (the link's page),
// "Text" (the comment), "Color" (the style name of the colour), "Timestamp" (the date),
// "Source" (the link's source).
class NotesModel : public ReadingItemListModel<NoteItem> {
    Q_OBJECT
public:
    enum Columns { IdColumn, TitleColumn, PageColumn, TextColumn, ColorColumn, TimestampColumn, SourceColumn };

    explicit NotesModel(QObject* parent = nullptr);

    void addNote(const NoteItem& note);
    // Takes title, colour, comment and chapter from the note into the row with its id.
    void updateNote(const NoteItem& note);
    // The same for many notes, reported as one change of every row.
    void updateNotes(const QList<NoteItem>& notes);
    void removeNote(const QString& id);

    // Takes title, colour, comment and chapter of the NoteItem in the value (a default note when
    // the value holds none); the note's place, text, date, id and link stay. Any role.
    bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;

protected:
    QVariant cell(const NoteItem& item, int column) const override;

private:
    static void takeEditableFields(NoteItem& stored, const NoteItem& note);
};
