#pragma once

#include "bookmarkitem.h"
#include "noteitem.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

class BookPageParams;

// What one book's state file holds: the font settings of its page look, where reading stopped,
// and the book's notes and bookmarks.
struct ReadingState {
    // A size or spacing the file does not give leaves the page look's own value.
    std::optional<int> fontSize;
    QString fontFamily;
    std::optional<int> lineSpacing;
    QString encoding; // kept for plain-text books only
    QString readingSource; // text books: a chapter source with a "?kelpath=" query
    int readingPage = -1; // image books: 1-based page, -1 when none
    QList<NoteItem> notes;
    QList<BookmarkItem> bookmarks;
    // Chapters that the conversion cuts into several files whose places (of the notes, the
    // bookmarks and the position) are given in those files already; the places in any other
    // chapter of that name were stored for it whole.
    QStringList cutChapters;
    // What this version could not read, written back unchanged so that nothing the user wrote is
    // lost: entries of the two lists that did not read, and a whole list ("Notes", "Bookmarks")
    // given in another form, by its key.
    QJsonArray unreadNotes;
    QJsonArray unreadBookmarks;
    QJsonObject unreadLists;

    // Size, family and spacing as the page look has them now.
    void takeFontSettings(const BookPageParams& params);
    // The family, and the size and spacing where the state has them.
    void applyFontSettings(BookPageParams* params) const;
};

// The per-book state file ("<folder name>.settings" in the book's data folder), a JSON object
// with "FontSettings", "ReadingPosition", "Notes", "Bookmarks", "CutChapters" (only when there
// are any) and "Version". The file lies in
// the user's folder and may be damaged or hostile: reading is bounded in size, a file that is
// no JSON object is refused, values of the wrong type fall back to defaults and notes or
// bookmarks that do not read are kept aside as they stand, each with a log line. Writing
// replaces the file atomically.
class ReadingStateFile {
public:
    static constexpr qint64 kMaxFileSize = 64 * 1024 * 1024;
    static constexpr int kVersion = 1;
    static constexpr int kDefaultFontSize = 20;
    static constexpr int kDefaultLineSpacing = 110;
    static constexpr int kPlainTextFormat = 8;

    // "<folder>/<folder name>.settings"; empty for an empty folder.
    static QString filePath(const QString& bookDataFolder);
    // The reading view's font setting of the application, "Original font" without one.
    static QString defaultFontFamily();
    // What a book without a state file starts with: the given family, size 20, spacing 110.
    static ReadingState defaults(const QString& fontFamily);

    // False (with a log line) when the file is missing, not a regular file, too large,
    // unreadable or not a JSON object; the state is then left untouched.
    static bool read(const QString& path, ReadingState* state);
    // Writes through a temporary file that replaces the old one only when complete. False (with
    // a log line) when the path is empty or the folder cannot take the file.
    static bool write(const QString& path, const ReadingState& state, int bookFormat);

    // "Encoding" is written only for plain-text books (format code 8).
    static QJsonObject toJson(const ReadingState& state, int bookFormat);
    // Missing keys give the documented defaults; the family defaults to the given one.
    static ReadingState fromJson(const QJsonObject& root, const QString& defaultFontFamily);
};
