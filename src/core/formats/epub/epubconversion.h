#pragma once

#include "arch/entryfile.h"
#include "checkedsave.h"

#include <QHash>
#include <QMutex>
#include <QSet>
#include <QStringList>
#include <QThreadPool>
#include <QWaitCondition>

#include <atomic>
#include <functional>

namespace epub {

// The unpacking and cleaning of one book's archive entries, each done once by whichever thread
// needs it first. The thread that opens the book converts what its first page needs, a worker
// converts the rest, and a chapter asked for before the worker got to it is converted by the
// asking thread while the worker passes it over.
//
// Every entry has a claim kept under one mutex (not yet, being unpacked, unpacked, being
// cleaned, done, failed): no file is written twice, and a thread that finds another one at an
// entry waits for it (one entry is quick) instead of reading a half-made file. Entries are named
// by their cleaned archive name (safeEntryName). An entry already on disk, kept from an earlier
// opening, is not unpacked again but is cleaned again.
class EpubConversion {
public:
    // What an entry gets once unpacked: content documents are cleaned of unsafe markup; chapters
    // also get their kind, and their ".xhtml" name when they are XHTML under another name.
    enum Role { Resource, Document, Chapter };

    struct Outcome {
        bool ready = false; // on disk and cleaned; false for a missing, broken or refused entry
        int kind = 1; // chapters: TextDocument::KindHtml, KindXhtml or KindLeftOut
    };

    EpubConversion(const QString& epubPath, const QString& outputDir);
    // Cancels the worker and waits for it.
    ~EpubConversion();
    EpubConversion(const EpubConversion&) = delete;
    EpubConversion& operator=(const EpubConversion&) = delete;

    // Reads the archive's list of entries; false when it does not open or holds nothing. A
    // conversion still running into the same folder (the book opened again before the last
    // opening let go of it) is cancelled first.
    bool open();
    // The stored names of the archive's files, in archive order.
    QStringList storedNames() const { return m_storedNames; }
    bool contains(const QString& entry) const { return m_entries.contains(entry); }
    // Set while the book's structure is read, before the rest is converted.
    void setRole(const QString& entry, Role role);

    // Makes sure the entries are on disk as stored, writing those missing in one pass over the
    // archive; false when any of them is not in the archive or could not be unpacked.
    bool unpack(const QStringList& entries);
    // Unpacked and, by its role, cleaned.
    Outcome prepare(const QString& entry);
    // The outcome so far; not ready while the entry is not done.
    Outcome outcome(const QString& entry) const;

    // Converts every entry not done yet on the calling thread, with helper threads cleaning
    // documents side by side, also after a cancel. False when the archive failed on the way,
    // or another conversion took the folder over (logged); the entries left stay unready.
    bool convertRest();
    // The same on the conversion's own worker thread; finished(ok) runs on that thread at the
    // end, unless the conversion was cancelled. The program's end (EndRequest) stops both
    // between two entries, and a chapter being cleaned between two passes.
    void convertRestInBackground(const std::function<void(bool ok)>& finished);
    // Stops the worker after the entry it is at, and waits for it. What is asked for later, or
    // completed with convertRest, is still converted on the asking thread.
    void cancel();

    // While held, background conversions wait before they start (cancelling still ends them):
    // lets tests look at a book whose rest is not converted yet.
    static void holdBackgroundWork(bool hold);

    // Why the first entry that could not be written failed (a full disk, a folder that cannot
    // be written); None while every write went through.
    checkedsave::Failure diskFailure() const;

private:
    enum class State { NotYet, Unpacking, Unpacked, Cleaning, Done, Failed };
    struct Entry {
        QString stored;
        Role role = Resource;
        State state = State::NotYet;
        Outcome outcome;
    };

    // One pass over the archive writing the entries that take accepts (called under the mutex
    // when the pass reaches each one; an accepted entry is Unpacking). The entry the pass fails
    // at is given up.
    bool walk(const std::function<bool(const QString& name, Entry& entry)>& take);
    // Under the mutex: the state an entry takes once it is on disk.
    void markUnpacked(Entry& entry);
    // Under the mutex: claims a missing entry for unpacking, or marks one found on disk.
    bool claimForUnpack(Entry& entry);
    Outcome clean(const Entry& entry) const;
    void waitWhileHeld();
    bool convertRest(bool background);

    const QString m_epubPath;
    const QString m_outputDir;
    QStringList m_storedNames;
    QStringList m_order; // entry names in archive order
    mutable QMutex m_mutex;
    QWaitCondition m_changed;
    QHash<QString, Entry> m_entries; // filled by open() only, so references stay valid
    std::atomic<bool> m_cancelled { false };
    // A newer conversion writes into the same folder: nothing more is written by this one.
    std::atomic<bool> m_superseded { false };
    bool m_registered = false;
    // Every pass over the book together, as one unpack of the whole book would be.
    UnpackBudget m_budget;
    checkedsave::Failure m_diskFailure = checkedsave::Failure::None;
    QThreadPool m_worker;
};

} // namespace epub
