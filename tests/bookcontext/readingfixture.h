#pragma once

#include "temphome.h"

#include <QSharedPointer>
#include <QString>
#include <QWidget>

#include <functional>
#include <memory>

class BookContext;
class BookModel;
class DataExchangeSvc;
class TextViewer;

// A reader in a temporary home: a real library, the real page-counting helper, and an 800 x 600
// reading area in which books open as the reading page opens them.
class ReadingFixture {
public:
    // A word found only once in the generated books, in their last chapter.
    static constexpr const char* kRareWord = "quixotically";

    ReadingFixture();
    ~ReadingFixture();

    const TempHome& home() const { return m_home; }
    BookModel* books() const { return m_books.get(); }
    DataExchangeSvc* pageCounter() const { return m_pageCounter.get(); }
    // Ends the page counter and makes a new one, whose helper starts with the environment of the
    // moment (PL_PAGECOUNTER_CONNECT_GATE makes it connect late) and is waited for this long.
    void restartPageCounter(int connectTimeoutMs);

    // An EPUB in the library with the given number of chapters of about chapterBytes each; the
    // contents list every chapter and an anchor inside the second. The book id, or -1.
    int addEpub(const QString& fileName, int chapters, int chapterBytes);

    // Opens the book: the context's readBook, then the viewer's. Returns once the first
    // chapter is shown and, when wanted, the page count is known; null on failure.
    QSharedPointer<BookContext> open(int bookId, bool waitForPages = true);
    // Deletes the viewer, then lets the context go (which saves its state).
    void close();
    TextViewer* viewer() const;
    // Selects some text at the top left of the screen shown; the selected text.
    QString selectOnScreen(int length);
    QSharedPointer<BookContext> context() const { return m_context; }

    static bool waitFor(const std::function<bool()>& condition, int timeoutMs = 60000);

private:
    TempHome m_home;
    std::unique_ptr<BookModel> m_books;
    std::unique_ptr<DataExchangeSvc> m_pageCounter;
    std::unique_ptr<QWidget> m_area;
    QSharedPointer<BookContext> m_context;
};
