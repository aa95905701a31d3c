#include "epubconversion.h"

#include "chaptercleaner.h"

#include "arch/safepath.h"
#include "arch/zipreader.h"
#include "formats/endrequest.h"
#include "formats/textdocument.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QThread>
#include <QVector>

#include <cstdio>

namespace epub {

namespace {

    // Replaces target (a file of an earlier conversion) in one step.
    bool moveReplacing(const QString& from, const QString& to)
    {
        return std::rename(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) == 0;
    }

    // Documents are cleaned independently of each other: several at once. The pool is the
    // conversion's own, not the global one, which the library import may fill with conversions
    // and whose threads do not exist in a forked child. The calling thread works along; threads
    // counts it.
    void forEachInParallel(const QStringList& names, int threads, const std::function<void(const QString&)>& work)
    {
        QAtomicInt next(0);
        const auto take = [&names, &next] {
            const int index = next.fetchAndAddRelaxed(1);
            return index < names.size() ? index : -1;
        };
        QThreadPool pool;
        const int helpers = qMin(threads, names.size()) - 1;
        for (int i = 0; i < helpers; ++i) {
            pool.start([&] {
                for (int index = take(); index >= 0; index = take())
                    work(names.at(index));
            });
        }
        for (int index = take(); index >= 0; index = take())
            work(names.at(index));
        pool.waitForDone();
    }

    struct Gate {
        QMutex mutex;
        QWaitCondition released;
        bool held = false;
    };

    Gate& gate()
    {
        static Gate instance;
        return instance;
    }

    // The conversions alive, by output folder: one folder is written by one conversion at a time.
    struct Registry {
        QMutex mutex;
        QHash<QString, EpubConversion*> live;
    };

    Registry& registry()
    {
        static Registry instance;
        return instance;
    }

} // namespace

EpubConversion::EpubConversion(const QString& epubPath, const QString& outputDir)
    : m_epubPath(epubPath)
    , m_outputDir(QDir::cleanPath(outputDir))
{
    m_worker.setMaxThreadCount(1);
}

EpubConversion::~EpubConversion()
{
    cancel();
    if (m_registered) {
        Registry& all = registry();
        QMutexLocker lock(&all.mutex);
        if (all.live.value(m_outputDir) == this)
            all.live.remove(m_outputDir);
    }
}

bool EpubConversion::open()
{
    {
        Registry& all = registry();
        QMutexLocker lock(&all.mutex);
        if (EpubConversion* earlier = all.live.value(m_outputDir); earlier && earlier != this) {
            qInfo() << "Stopping the earlier conversion into" << m_outputDir;
            earlier->m_superseded = true;
            earlier->cancel();
        }
        all.live.insert(m_outputDir, this);
        m_registered = true;
    }
    ZipReader reader;
    const QStringList names = reader.files(m_epubPath);
    for (const QString& stored : names) {
        if (stored.endsWith(QLatin1Char('/')) || stored.endsWith(QLatin1Char('\\')))
            continue;
        const QString entry = safeEntryName(stored);
        if (entry.isEmpty()) {
            qWarning() << "Skipping an entry that would be written outside" << m_outputDir << ":" << stored;
            continue;
        }
        m_storedNames.append(stored);
        // Of two entries of one name the first is the one unpacked.
        if (m_entries.contains(entry))
            continue;
        Entry record;
        record.stored = stored;
        m_entries.insert(entry, record);
        m_order.append(entry);
    }
    return !names.isEmpty();
}

void EpubConversion::setRole(const QString& entry, Role role)
{
    QMutexLocker lock(&m_mutex);
    auto it = m_entries.find(entry);
    if (it != m_entries.end() && it->state == State::NotYet)
        it->role = role;
}

void EpubConversion::markUnpacked(Entry& entry)
{
    if (entry.role == Resource) {
        entry.state = State::Done;
        entry.outcome.ready = true;
    } else {
        entry.state = State::Unpacked;
    }
}

bool EpubConversion::claimForUnpack(Entry& entry)
{
    if (entry.state != State::NotYet)
        return false;
    // A file on disk was written whole (unpacked files take their name only once complete)
    // by an earlier opening of the same book file.
    if (QFileInfo(safeEntryPath(m_outputDir, entry.stored)).isFile()) {
        markUnpacked(entry);
        return false;
    }
    entry.state = State::Unpacking;
    return true;
}

bool EpubConversion::unpack(const QStringList& entries)
{
    QSet<QString> claimed;
    {
        QMutexLocker lock(&m_mutex);
        for (const QString& name : entries) {
            auto it = m_entries.find(name);
            if (it != m_entries.end() && claimForUnpack(*it))
                claimed.insert(name);
        }
    }
    if (!claimed.isEmpty()) {
        walk([&claimed](const QString& name, Entry&) { return claimed.remove(name); });
        QMutexLocker lock(&m_mutex);
        // Not reached (the pass ended early): whoever needs it tries again.
        for (const QString& name : qAsConst(claimed)) {
            Entry& entry = m_entries[name];
            if (entry.state == State::Unpacking)
                entry.state = State::NotYet;
        }
        m_changed.wakeAll();
    }
    QMutexLocker lock(&m_mutex);
    bool all = true;
    for (const QString& name : entries) {
        auto it = m_entries.find(name);
        if (it == m_entries.end()) {
            all = false;
            continue;
        }
        while (it->state == State::Unpacking)
            m_changed.wait(&m_mutex);
        all = all && it->state != State::Failed && it->state != State::NotYet;
    }
    return all;
}

bool EpubConversion::walk(const std::function<bool(const QString& name, Entry& entry)>& take)
{
    QString current; // the entry being written, until it is
    checkedsave::Failure diskFailure = checkedsave::Failure::None;
    const bool walked = ZipReader::extractEach(
        m_epubPath, m_outputDir,
        [&](const QString& stored) {
            const QString name = safeEntryName(stored);
            QMutexLocker lock(&m_mutex);
            auto it = m_entries.find(name);
            // Of two entries of one name, the one listed first.
            if (it == m_entries.end() || it->stored != stored || !take(name, *it))
                return false;
            current = name;
            return true;
        },
        [&](const QString& stored, const QString&) {
            QMutexLocker lock(&m_mutex);
            auto it = m_entries.find(safeEntryName(stored));
            if (it != m_entries.end() && it->state == State::Unpacking) {
                markUnpacked(*it);
                m_changed.wakeAll();
            }
            current.clear();
        },
        &m_budget, &diskFailure);
    if (diskFailure != checkedsave::Failure::None) {
        QMutexLocker lock(&m_mutex);
        if (m_diskFailure == checkedsave::Failure::None)
            m_diskFailure = diskFailure;
    }
    if (!current.isEmpty()) {
        QMutexLocker lock(&m_mutex);
        Entry& entry = m_entries[current];
        if (entry.state == State::Unpacking) {
            qWarning().noquote() << QStringLiteral("Could not unpack %1 from %2").arg(entry.stored, m_epubPath);
            entry.state = State::Failed;
        }
        m_changed.wakeAll();
    }
    return walked;
}

EpubConversion::Outcome EpubConversion::prepare(const QString& entry)
{
    if (EndRequest::isRaised() || !unpack({ entry }))
        return Outcome();
    QMutexLocker lock(&m_mutex);
    for (;;) {
        auto it = m_entries.find(entry);
        if (it == m_entries.end())
            return Outcome();
        switch (it->state) {
        case State::Done:
            return it->outcome;
        case State::NotYet:
        case State::Failed:
            return Outcome();
        case State::Unpacked: {
            it->state = State::Cleaning;
            const Entry claimed = *it;
            lock.unlock();
            const Outcome outcome = clean(claimed);
            lock.relock();
            Entry& done = m_entries[entry];
            done.outcome = outcome;
            // Stopped by the program's end: unpacked, not cleaned.
            done.state = EndRequest::isRaised() && !outcome.ready ? State::Unpacked : State::Done;
            m_changed.wakeAll();
            return outcome;
        }
        case State::Unpacking:
        case State::Cleaning:
            m_changed.wait(&m_mutex);
            break;
        }
    }
}

EpubConversion::Outcome EpubConversion::outcome(const QString& entry) const
{
    QMutexLocker lock(&m_mutex);
    const auto it = m_entries.constFind(entry);
    return it != m_entries.constEnd() && it->state == State::Done ? it->outcome : Outcome();
}

checkedsave::Failure EpubConversion::diskFailure() const
{
    QMutexLocker lock(&m_mutex);
    return m_diskFailure;
}

EpubConversion::Outcome EpubConversion::clean(const Entry& entry) const
{
    Outcome outcome;
    const QString path = safeEntryPath(m_outputDir, entry.stored);
    const ChapterCleaner::Result result = ChapterCleaner::cleanFile(path, entry.role == Chapter);
    if (result.outcome == ChapterCleaner::Stopped)
        return outcome;
    if (result.outcome == ChapterCleaner::Cleaned)
        qInfo().nospace() << "Removed " << result.removed << " unsafe parts from " << entry.stored;
    if (entry.role == Document) {
        // Shown only through links: kept as it is when it could not be checked.
        if (result.outcome == ChapterCleaner::Skipped && result.removed == 0)
            qWarning().noquote()
                << QStringLiteral("Document %1 could not be checked: %2").arg(entry.stored, result.reason);
        outcome.ready = true;
        return outcome;
    }
    if (result.outcome == ChapterCleaner::Skipped) {
        qWarning().noquote() << QStringLiteral("Skipping the chapter %1: %2").arg(entry.stored, result.reason);
        // A page in its place says so; without it the chapter leaves the list.
        QString error;
        const QString page = TextDocument::shownName(path, TextDocument::KindLeftOut);
        if (!writeUnsynced(page, TextDocument::leftOutPage(entry.stored, result.reason), &error)) {
            qWarning().noquote() << QStringLiteral("Could not write the page for %1: %2").arg(entry.stored, error);
            return outcome;
        }
        outcome.kind = TextDocument::KindLeftOut;
        outcome.ready = true;
        return outcome;
    }
    outcome.kind = result.kind;
    const QString shown = TextDocument::shownName(path, outcome.kind);
    if (shown != path && !moveReplacing(path, shown)) {
        // Shown under its own name then.
        qWarning() << "Can not rename the chapter" << path << "to" << shown;
        outcome.kind = TextDocument::KindNone;
    }
    outcome.ready = true;
    return outcome;
}

bool EpubConversion::convertRest() { return convertRest(false); }

bool EpubConversion::convertRest(bool background)
{
    // A cancel stops the worker only: the book completed on the calling thread after it (for
    // printing) is still converted whole, unless another conversion owns the folder by then.
    const std::atomic<bool>& cancelled = background ? m_cancelled : m_superseded;
    // The program's end stops both.
    const auto stop = [&cancelled] { return cancelled || EndRequest::isRaised(); };
    // Each entry is claimed only when the pass reaches it, so one asked for meanwhile is done
    // at once by the asking thread and passed over here.
    const bool walked
        = stop() || walk([this, &stop](const QString&, Entry& entry) { return !stop() && claimForUnpack(entry); });
    if (!walked)
        qCritical().noquote() << QStringLiteral("Error unzip epub:%1").arg(m_epubPath);
    QStringList documents;
    {
        QMutexLocker lock(&m_mutex);
        for (const QString& name : qAsConst(m_order)) {
            if (m_entries.value(name).role != Resource)
                documents.append(name);
        }
    }
    // In the background one core is left to the thread that shows the book.
    constexpr int MaxThreads = 4;
    const int cores = QThread::idealThreadCount();
    const int threads = qBound(1, background ? cores - 1 : cores, MaxThreads);
    forEachInParallel(documents, threads, [this, &stop](const QString& name) {
        if (!stop())
            prepare(name);
    });
    if (!background && m_superseded) {
        qWarning().noquote() << QStringLiteral("Another opening of %1 converts into %2: the rest is left out here")
                                    .arg(m_epubPath, m_outputDir);
        return false;
    }
    return walked;
}

void EpubConversion::waitWhileHeld()
{
    Gate& shared = gate();
    QMutexLocker lock(&shared.mutex);
    while (shared.held && !m_cancelled)
        shared.released.wait(&shared.mutex);
}

void EpubConversion::convertRestInBackground(const std::function<void(bool ok)>& finished)
{
    m_worker.start([this, finished] {
        waitWhileHeld();
        if (m_cancelled)
            return;
        const bool ok = convertRest(true);
        if (!m_cancelled && !EndRequest::isRaised() && finished)
            finished(ok);
    });
}

void EpubConversion::cancel()
{
    m_cancelled = true;
    {
        Gate& shared = gate();
        QMutexLocker lock(&shared.mutex);
        shared.released.wakeAll();
    }
    m_worker.waitForDone();
}

void EpubConversion::holdBackgroundWork(bool hold)
{
    Gate& shared = gate();
    QMutexLocker lock(&shared.mutex);
    shared.held = hold;
    if (!hold)
        shared.released.wakeAll();
}

} // namespace epub
