#pragma once

#include "bookmarkitem.h"
#include "formats/booklink.h"
#include "formats/toctree.h"
#include "models/bookdto.h"
#include "noteitem.h"

#include <QList>
#include <QObject>
#include <QScopedPointer>
#include <QSharedPointer>
#include <QString>

class AbstractViewer;
class BookmarkModel;
class BookPageParams;
class BookSearchModel;
class DataExchangeSvc;
class NotesModel;
class QPrinter;
struct ReadingState;
class QWidget;
class TextBookChapter;
class TextDocument;
class TocModel;

// The state of one opened book: its library record, the viewer that shows it, the page look,
// the table of contents, notes and bookmarks with their models, the current page and page
// count, and the way back to the page left by the last jump. The reading page makes one per
// opened book and shares it with every widget that follows the book; the state file is saved
// when the last holder lets it go.
//
// Text books get their book-wide page numbers from the page-counting client; image books fill
// the counters, the position and the contents themselves through the setters.
class BookContext : public QObject {
    Q_OBJECT
public:
    // Follows the page counter of ReadingServices as set at this moment.
    BookContext();
    // Saves the state file.
    ~BookContext() override;

    // Makes the viewer as a child of parent, loads the state file (or the defaults) and, for a
    // text book, converts the book and sends its chapters to the page counter. False, with no
    // viewer left behind, for an unknown format or a book that does not load.
    bool readBook(const BookDto& book, QWidget* parent);

    // Whether the book file at the record's path is no longer the one this context opened (another
    // size or time, or gone): the book must be opened anew to show it.
    bool bookFileChanged() const;

    // True when the file held a JSON object; the context is unchanged otherwise.
    bool loadFromSettingsFile(const QString& path);
    // Writes the state file now; false when it could not be written (or there is no book). The
    // library's note count follows only a written file.
    bool saveSettings();
    // Whether the last write of the state file failed: the notes, bookmarks and position shown
    // are then not all stored.
    bool hasUnsavedState() const;
    void bindEvents();
    void changeEncoding(const QString& encoding);

    // Sends the text to the page counter; its hits come with the next pagination.
    void search(const QString& text);
    // The same as search: a burst of texts within a second makes one pagination.
    void setSearchText(const QString& text);
    QString searchText() const;

    // Always present; its page is above 0 only while there is a way back.
    BookLinkPtr backToPageLink() const;
    // Goes back to the back link, which then points at the place that was left.
    void goBackToPage();
    void goToBackPageLink() { goBackToPage(); }

    AbstractViewer* viewer() const;
    BookPageParams* pageParams() const;
    BookDto bookDto() const;
    // Where the book is unpacked and its state kept: its data folder, or a folder of this run when
    // that cannot be written. Empty before readBook.
    QString dataFolder() const;
    QString contextId() const;
    QString encoding() const;

    int currentPage() const;
    int pageCount() const;
    // Image viewers report their own numbers; the signals follow real changes only.
    void setCurrentPage(int page);
    void setPageCount(int count);
    int readingPage() const;
    void setReadingPage(int page);
    QString readingSource() const;
    void setReadingSource(const QString& source);

    // Null for image books.
    QSharedPointer<TextDocument> textDocument() const;
    // The notes of one chapter (chapter compared ignoring case).
    QList<NoteItem> chapterNotes(const QString& chapter) const;
    QList<TocPoint> toc() const;
    void setToc(const QList<TocPoint>& toc);
    QString currentChapterTitle() const;
    QString currentTocItemId() const;
    // Empty for page 0 or less.
    QString chapterTitleForPage(int page) const;
    // Null for an unknown id; valid until the note is removed.
    NoteItem* findNote(const QString& id);
    QList<NoteItem> notes() const;
    QList<BookmarkItem> bookmarks() const;
    // The distinct chapter sources of the contents as local paths.
    QList<QString> chapterSources();
    // The chapter page shown now, null without one.
    TextBookChapter* chapterPage() const;

    BookmarkModel* bookmarkModel() const { return m_bookmarkModel; }
    NotesModel* notesModel() const { return m_notesModel; }
    TocModel* tocModel() const { return m_tocModel; }
    BookSearchModel* searchModel() const { return m_searchModel; }

signals:
    void bookmarkAdded(BookmarkItem bookmark);
    void bookmarkRemoved(QString bookmarkId);
    void bookmarkChanged(BookmarkItem bookmark);
    void noteAdded(NoteItem note);
    void noteChanged(NoteItem note);
    void noteRemoved(QString noteId);
    void pageCountAboutToChange();
    void pageCountChanged();
    void currentChapterTitleChanged(QString chapterTitle);
    void currentChapterChanged(QString tocItemId);
    void currentPageChanged();
    void searchDone();
    void backToPageLinkChanged();
    void viewerIsDirtyChanged(bool isDirty);
    void ttsNoMoreWords();
    // Reading aloud stopped at a sentence the engine could not speak.
    void readingAloudFailed();
    void unsavedStateChanged(bool unsaved);

public slots:
    void readingAloud(bool started);
    void readingAloudPause();
    void readingAloudGoNext();
    void readingAloudGoPrev();
    void storeCurrentPageLink();
    void updateCurrentPageLink();
    void navigateToLink(QString link);
    void navigateToLink(BookLinkPtr link);
    void navigateToPage(int page);
    void onChapterChanged(TextBookChapter* chapter);
    void repaginate();
    void updateCurrentPage();
    void addBookmark();
    bool addNoteAtCurrentSelection(NoteItem::NoteColor color);
    void setNoteColor(QString noteId, NoteItem::NoteColor color);
    void setNoteComment(QString noteId, QString text);
    void removeNote(QString noteId);
    void searchSelectionGoogle();
    void searchSelectionWikipedia();
    void copySelection();
    void translateSelection();
    void removeBookmark(QString bookmarkId);
    void print(const QPrinter& printer);

private slots:
    void onPageRecalculationDone();
    void onNotesCountChanged();

private:
    struct Private;

    // The viewer of PDF and comic books.
    static AbstractViewer* makeImageViewer(QWidget* parent);
    bool loadTextBook();
    // The whole book is converted: the page counter gets its chapters.
    void onDocumentCompleted();
    // Reads the book from a folder of this run when its data folder cannot be written.
    void useRunFolder();
    // Clears the book's data folder, but for its reading state, when the book file changed.
    void refreshUnpackedFiles();
    // The book file was replaced: the library reads its title, author and cover again.
    void rereadLibraryRecord();
    // The contents of the converted document, and its ".toc" cache written in the background.
    void refreshToc();
    void writeTocCache(const QList<TocPoint>& points);
    // Places stored for a chapter that this conversion cuts into parts are found in the parts.
    void relocateStoredPlaces();
    void sendBookToPageCounter(DataExchangeSvc* svc);
    static void keepUnreadableSettings(const QString& path);
    // Sends the trimmed selection, percent-encoded, after the endpoint as an external link.
    void lookUpSelection(const QString& endpoint);
    void followCurrentPage();
    void onNewBookmark(BookmarkItem bookmark);
    void onNewNote(NoteItem note);
    // Writes one changed field to the library, starting from its current record; false when the
    // library did not take it.
    bool storeInLibrary(int maxPosition, int notesCount);
    // Saves the state file a moment after the last of a burst of changes.
    void scheduleStateSave();
    // Fills the state to write (after keeping an unreadable file aside); false without a file.
    bool prepareStateSave(ReadingState* state);
    // Writes the state file on a pool thread; the library's note count follows the written file.
    void saveSettingsInBackground();
    void onStateWritten();
    void setStateWritten(bool written);
    // The book's note count in the library, when it changed.
    void storeNotesCount(int count);
    void resolveItemTitle(BookLinkItem item, bool isNote);
    QList<BookLinkPtr> itemLinks() const;
    void deleteViewer();
    // The book did not open: the viewer goes, and the state file is not written.
    void dropBook();

    BookmarkModel* m_bookmarkModel;
    NotesModel* m_notesModel;
    TocModel* m_tocModel;
    BookSearchModel* m_searchModel;
    QScopedPointer<Private> d;
};
