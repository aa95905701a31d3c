#include "notesmodel.h"

NotesModel::NotesModel(QObject* parent)
    : ReadingItemListModel(
        { QStringLiteral("Id"), QStringLiteral("Title"), QStringLiteral("Page"), QStringLiteral("Text"),
            QStringLiteral("Color"), QStringLiteral("Timestamp"), QStringLiteral("Source") },
        parent)
{
}

void NotesModel::addNote(const NoteItem& note) { appendItem(note); }

void NotesModel::updateNote(const NoteItem& note)
{
    const QModelIndex index = findIndexById(note.id);
    if (index.isValid())
        setData(index, QVariant::fromValue(note), Qt::DisplayRole);
}

void NotesModel::updateNotes(const QList<NoteItem>& notes)
{
    updateItems(
        notes, [](NoteItem& stored, const NoteItem& note) { takeEditableFields(stored, note); }, { Qt::DisplayRole });
}

void NotesModel::removeNote(const QString& id) { removeItem(id); }

bool NotesModel::setData(const QModelIndex& index, const QVariant& value, int role)
{
    // Anything but a note would copy a blank note's fields over the stored one.
    if (!index.isValid() || index.row() < 0 || index.row() >= m_items.size()
        || value.userType() != qMetaTypeId<NoteItem>())
        return false;
    takeEditableFields(m_items[index.row()], value.value<NoteItem>());
    reportRowChanged(index.row(), { role });
    return true;
}

void NotesModel::takeEditableFields(NoteItem& stored, const NoteItem& note)
{
    stored.title = note.title;
    stored.color = note.color;
    stored.note = note.note;
    stored.chapter = note.chapter;
}

QVariant NotesModel::cell(const NoteItem& item, int column) const
{
    if (column <= PageColumn)
        return linkItemCell(item, column);
    if (column > SourceColumn)
        return QVariant();
    const QVariant values[] = { item.note, NoteItem::styleName(item.color), item.date, linkSource(item) };
    return values[column - TextColumn];
}
