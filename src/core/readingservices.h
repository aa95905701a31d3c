#pragma once

#include "checkedsave.h"

#include <QHash>
#include <QPointer>
#include <QSet>
#include <QString>

#include <functional>

class BookModel;
class DataExchangeSvc;
class SpeechEngine;

// The application-level objects the reading core works with. The core cannot include the
// application, so the application hands them over at start-up; tests set real or temporary
// ones. Unset, a book opens without page numbers (no page-counting client), nothing is
// written to the library (no book model) and reading aloud does nothing (no speech object).
class ReadingServices {
public:
    static DataExchangeSvc* dataExchangeSvc();
    static void setDataExchangeSvc(DataExchangeSvc* svc);

    static BookModel* bookModel();
    static void setBookModel(BookModel* model);

    static SpeechEngine* textToSpeech();
    static void setTextToSpeech(SpeechEngine* speech);

    // When reading aloud counts a sentence as not spoken. A sentence must end within
    // maxStartMs + maxMsPerChar per character (slower than ordinary speech), stretched up to three
    // times for the slowest speaking rate; one of at least checkedLength characters that ends in
    // under minMsPerChar per character was never heard (an engine without audio output ends each
    // sentence at once).
    struct SpeechLimits {
        int maxStartMs = 4000;
        int maxMsPerChar = 90;
        int minMsPerChar = 4;
        int checkedLength = 12;
    };
    static SpeechLimits speechLimits();
    static void setSpeechLimits(const SpeechLimits& limits);
    // What the user must hear about a book's own files and the settings file. The application shows a message; unset,
    // the notice is only logged.
    enum StorageNotice {
        NotesNotSaved, // path: the state file that could not be replaced
        NotesUnreadable, // path: where the unreadable state file is kept
        BookPartlyUnpacked, // path: the book's folder that could not take all of the book
        SettingsNotSaved, // path: the settings file that did not take the changes
    };
    using StorageNoticeHandler
        = std::function<void(StorageNotice notice, const QString& path, checkedsave::Failure failure)>;
    static void setStorageNoticeHandler(StorageNoticeHandler handler);
    // Each notice reaches the handler once per path and cause until the path takes a write again:
    // a book saved every few seconds on a full disk would otherwise repeat the same message, while
    // a failure after a success is news again.
    static void notifyStorage(StorageNotice notice, const QString& path, checkedsave::Failure failure);
    // The path took a write: its next failure is told again.
    static void storageSaved(StorageNotice notice, const QString& path);

private:
    static QPointer<DataExchangeSvc> s_dataExchangeSvc;
    static QPointer<BookModel> s_bookModel;
    static QPointer<SpeechEngine> s_textToSpeech;
    static SpeechLimits s_speechLimits;
    static StorageNoticeHandler s_storageNoticeHandler;
    // Notice and path -> the causes told since the last success.
    static QHash<QString, QSet<int>> s_notified;
};
