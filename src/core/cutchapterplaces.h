#pragma once

#include <QHash>
#include <QString>
#include <QStringList>
#include <QVector>

class BookmarkItem;
class NoteItem;
class TextDocument;

// Finds the places stored for a chapter that a later conversion cut into several files (a large
// MOBI book's one chapter) in the part that holds each.
//
// Notes, bookmarks and the reading position name a chapter, the engine's path of an element in
// it and an offset into the element's text. The parts of a cut chapter hold its body's elements
// in order, each part's from its cut on, and the first part keeps the chapter's name: the n-th
// element of a name right in the whole's body is the (n - m)-th of the part that holds it, m of
// that name standing right in the bodies of the parts before. What lies inside that element
// keeps its path and offset. A place whose element is the body itself (text right in the body)
// has its offset rebased by the text of the parts before. A place that the first part holds,
// or that no part holds, is left as it is. Parts are read only as far as the places asked for
// lie.
class CutChapterPlaces {
public:
    // The places in the chapters named in placedInParts (ignoring case) are in their parts
    // already: they are left as they are.
    explicit CutChapterPlaces(const TextDocument& document, const QStringList& placedInParts = {});

    struct Place {
        QString chapter;
        QString path;
        int offset = 0;
    };

    // The document's chapters that are cut into parts.
    const QStringList& chapters() const { return m_chapters; }
    // Whether there are places to look for in parts.
    bool isEmpty() const { return m_parts.isEmpty(); }
    // Moves the place into the part that holds it; false when it stays as it is.
    bool relocate(Place* place);
    // A note's start and end; a note that ran across a cut ends with its first part. Its link
    // leads to its new start.
    bool relocate(NoteItem* note);
    // A link source, "<chapter>?kelpath=<path>[&offset=N]" with the path percent-encoded (and
    // the offset with it, or not), as a bookmark or the reading position has it; the source as
    // it is when it stays.
    QString relocatedSource(const QString& source);
    bool relocate(BookmarkItem* bookmark);

private:
    struct Part {
        QString name;
        bool read = false;
        // A part that cannot be read tells nothing of where the parts after it start.
        bool readable = false;
        // The elements right in the body, by name in lower case, as the engine counts them.
        QHash<QByteArray, int> elements;
        // The characters of the body's text.
        int textLength = 0;
    };
    // The part of the whole that holds the place, its path and offset made the part's; -1 when
    // the place's chapter is no cut one or no part holds it.
    int locate(Place* place);
    const Part& part(const QString& whole, int index);

    const TextDocument& m_document;
    QStringList m_chapters;
    // Each cut chapter's parts, by the chapter's name in lower case.
    QHash<QString, QVector<Part>> m_parts;
};
