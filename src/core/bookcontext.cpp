#include "bookcontext.h"

#include "abstractviewer.h"
#include "appdirs.h"
#include "bookfilestamp.h"
#include "bookpageparams.h"
#include "checkedsave.h"
#include "cutchapterplaces.h"
#include "dataexchangesvc.h"
#include "formats/endrequest.h"
#include "formats/textdocument.h"
#include "formats/textdocumentfactory.h"
#include "imageviewer.h"
#include "import/bookfilereader.h"
#include "models/bookmarkmodel.h"
#include "models/bookmodel.h"
#include "models/booksearchmodel.h"
#include "models/notesmodel.h"
#include "models/tocmodel.h"
#include "readingservices.h"
#include "readingstatefile.h"
#include "settingsprovider.h"
#include "textbookchapter.h"
#include "textviewer.h"

#include <QClipboard>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFutureWatcher>
#include <QGuiApplication>
#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLocale>
#include <QPointer>
#include <QPrinter>
#include <QTimer>
#include <QUrl>
#include <QUuid>
#include <QtConcurrent>
#include <QtDebug>

#include <unistd.h>

namespace {

constexpr int kLastFormatCode = 11;
constexpr int kPlainTextFormat = 8;
// Changes to notes, bookmarks and the position reach the state file this long after the last one,
// so a killed reader loses at most this much.
constexpr int kStateSaveDelayMs = 1000;

bool isImageFormat(int format) { return format == 3 || format == 6 || format == 7; }
// Comic pages are unpacked anew whenever they are shown.
bool isComicFormat(int format) { return format == 6 || format == 7; }

bool isWritableFolder(const QString& path)
{
    return QFileInfo(path).isDir() && ::access(QFile::encodeName(path).constData(), W_OK) == 0;
}

} // namespace

struct BookContext::Private {
    QString encoding;
    QString storedLinkSource;
    int storedPage = 0;
    QString contextId;
    QTimer repaginationTimer;
    QString searchText;
    QString currentChapterTitle;
    QString currentTocItemId;
    QPointer<TextBookChapter> chapterPage;
    int currentPage = -1;
    int pageCount = -1;
    BookPageParams* pageParams = new BookPageParams;
    int readingPage = -1;
    QString readingSource;
    BookLinkPtr backToPageLink = BookLinkPtr::create(QString(), -1);
    // Not owned: a child widget of the reading page, which may delete it first.
    QPointer<QWidget> viewerWidget;
    AbstractViewer* viewer = nullptr;
    BookDto book;
    QSharedPointer<TextDocument> document;
    QString bookDataFolder;
    // The book file as it was opened.
    qint64 fileSize = -1;
    QDateTime fileModified;
    QString settingsFilePath;
    QString tocCachePath;
    QHash<QString, NoteItem> notes;
    QHash<QString, BookmarkItem> bookmarks;
    // The chapters cut into parts whose places the state gives in the parts.
    QStringList cutChapters;
    QList<QString> chapterSources;
    bool chapterSourcesFilled = false;
    TocTree toc;
    // The state file on disk did not read: it is kept as ".bak" before anything replaces it.
    bool settingsUnreadable = false;
    // Entries of the state file this version could not read, written back as they stood.
    QJsonArray unreadNotes;
    QJsonArray unreadBookmarks;
    QJsonObject unreadLists;
    QTimer stateSaveTimer;
    QFutureWatcher<bool> stateWriter;
    // The last write of the contents cache.
    QFuture<void> tocWriter;
    bool stateWriteQueued = false;
    // The number of notes in the state file being written, and which write that is: only the
    // last one started tells the library.
    int writtenNotesCount = 0;
    quint64 stateWrites = 0;
    quint64 backgroundWrite = 0;
    bool stateUnsaved = false;
    // The book's data folder cannot be written: it is read from a folder of this run, which goes
    // with the run, reading state included.
    bool inRunFolder = false;
    QList<QMetaObject::Connection> chapterConnections;

    AbstractViewer* liveViewer() const { return viewerWidget ? viewer : nullptr; }
    TextViewer* textViewer() const { return viewerWidget ? qobject_cast<TextViewer*>(viewerWidget.data()) : nullptr; }
};

BookContext::BookContext()
    : m_bookmarkModel(new BookmarkModel(this))
    , m_notesModel(new NotesModel(this))
    , m_tocModel(new TocModel(this))
    , m_searchModel(new BookSearchModel(this))
    , d(new Private)
{
    qWarning() << "create book context";
    d->repaginationTimer.setSingleShot(true);
    d->repaginationTimer.setInterval(1000);
    connect(&d->repaginationTimer, &QTimer::timeout, this, &BookContext::repaginate);
    d->stateSaveTimer.setSingleShot(true);
    d->stateSaveTimer.setInterval(kStateSaveDelayMs);
    connect(&d->stateSaveTimer, &QTimer::timeout, this, &BookContext::saveSettingsInBackground);
    connect(&d->stateWriter, &QFutureWatcherBase::finished, this, &BookContext::onStateWritten);
    bindEvents();
}

BookContext::~BookContext()
{
    saveSettings();
    // The closed book's files are not written any more once it is gone, even while the
    // document waits for its deletion.
    if (d->document)
        d->document->stopConversion();
    d->tocWriter.waitForFinished();
    delete d->pageParams;
    d->pageParams = nullptr;
    qWarning() << "delete book context";
}

void BookContext::bindEvents()
{
    SettingsProvider* settings = SettingsProvider::instance();
    if (settings) {
        d->pageParams->setColumnCount(settings->column_count());
        d->pageParams->setTextAlignment(static_cast<Enums::TextAlignment>(settings->text_alignment()));
        connect(settings, &SettingsProvider::column_countChanged, d->pageParams, &BookPageParams::setColumnCount);
        connect(settings, &SettingsProvider::text_alignmentChanged, this,
            [this](int value) { d->pageParams->setTextAlignment(static_cast<Enums::TextAlignment>(value)); });
    }
    d->pageParams->setShowPageTurn(false);
    connect(d->pageParams, &BookPageParams::pageColorsChanged, this, [this] {
        if (d->textViewer() && d->chapterPage)
            d->chapterPage->applyPageColors(d->pageParams);
    });
    if (DataExchangeSvc* svc = ReadingServices::dataExchangeSvc()) {
        connect(svc, &DataExchangeSvc::calcStarted, this, [this, svc] {
            // Another open book's pagination says nothing about this one.
            if (d->contextId.isEmpty() || svc->bookKey() != d->contextId)
                return;
            d->pageCount = -1;
            emit pageCountAboutToChange();
        });
        connect(svc, &DataExchangeSvc::calcDone, this, &BookContext::onPageRecalculationDone);
        // A given-up pagination keeps the last numbers: they are shown again when they were
        // counted for the same request, and the page stays uncounted when for another layout.
        connect(svc, &DataExchangeSvc::calcError, this, [this, svc] {
            if (svc->resultAnswersLastRequest())
                onPageRecalculationDone();
        });
    }
    connect(this, &BookContext::currentPageChanged, this, &BookContext::followCurrentPage);
}

AbstractViewer* BookContext::makeImageViewer(QWidget* parent) { return new ImageViewer(parent); }

bool BookContext::readBook(const BookDto& book, QWidget* parent)
{
    if (book.format < 0 || book.format > kLastFormatCode)
        return false;
    if (d->viewerWidget) {
        qWarning() << "A book is already open in this context";
        return false;
    }
    AbstractViewer* viewer = nullptr;
    if (isImageFormat(book.format))
        viewer = makeImageViewer(parent);
    else
        viewer = new TextViewer(parent);
    if (!viewer)
        return false;
    d->viewer = viewer;
    d->viewerWidget = dynamic_cast<QWidget*>(viewer);
    d->contextId = QUuid::createUuid().toString(QUuid::Id128);
    d->book = book;

    const QFileInfo file(book.full_path);
    d->fileSize = file.size();
    d->fileModified = file.lastModified();
    d->bookDataFolder = bookDataDir(book.full_path);
    d->settingsFilePath = ReadingStateFile::filePath(d->bookDataFolder);
    if (!isWritableFolder(d->bookDataFolder))
        useRunFolder();
    // Without a folder to take its pages a comic would show blank ones: the folder is the cause.
    if (isComicFormat(book.format) && !isWritableFolder(d->bookDataFolder)) {
        qWarning() << "No folder can take the pages of" << book.full_path << ":" << d->bookDataFolder;
        dropBook();
        return false;
    }
    const QDir folder(d->bookDataFolder);
    refreshUnpackedFiles();
    bool loaded = false;
    if (QFileInfo::exists(d->settingsFilePath)) {
        loaded = loadFromSettingsFile(d->settingsFilePath);
        d->settingsUnreadable = !loaded;
        if (!loaded)
            keepUnreadableSettings(d->settingsFilePath);
    }
    if (!loaded) {
        const QString legacyFolder = legacyBookDataDir(book.full_path);
        const QString legacyFile = ReadingStateFile::filePath(legacyFolder);
        if (!legacyFolder.isEmpty() && QDir(legacyFolder).exists() && QFileInfo::exists(legacyFile))
            loaded = loadFromSettingsFile(legacyFile);
    }
    if (!loaded) {
        qInfo() << "Book settings file not found or can't be loaded. Use default settings.";
        ReadingStateFile::defaults(ReadingStateFile::defaultFontFamily()).applyFontSettings(d->pageParams);
    }

    if (viewer->viewerType() != 0) {
        return true;
    }
    d->tocCachePath = folder.filePath(folder.dirName() + QStringLiteral(".toc"));
    const bool converted = loadTextBook();
    // The program ends: the book is let go as it was stored, whatever the conversion got to.
    if (EndRequest::isRaised())
        qInfo() << "The opening of" << book.full_path << "stops: the program ends";
    if (!converted || EndRequest::isRaised()) {
        dropBook();
        return false;
    }
    relocateStoredPlaces();
    if (d->readingSource.isEmpty() && !d->toc.points.isEmpty() && d->toc.points.first().link)
        d->readingSource = d->toc.points.first().link->source;
    if (d->readingSource.isEmpty() && !chapterSources().isEmpty())
        d->readingSource = chapterSources().first();
    onNotesCountChanged();

    // The channel queues what is sent until the helper connects and never waits for it; without
    // a helper the book opens with an unknown page count. The page counter lays out every
    // chapter: it gets them once the whole book is converted.
    DataExchangeSvc* svc = ReadingServices::dataExchangeSvc();
    if (svc && d->document->isComplete()) {
        sendBookToPageCounter(svc);
    }
    return true;
}

void BookContext::useRunFolder()
{
    const QString root = runTempDir();
    const QString folder = root + QStringLiteral("/books/") + QDir(d->bookDataFolder).dirName();
    if (root.isEmpty() || !QDir().mkpath(folder)) {
        qWarning() << "The data folder of the book cannot be written, and no other can be made:" << d->bookDataFolder;
        return;
    }
    qInfo() << "The data folder of the book cannot be written; the book is read from" << folder;
    const QString kept = d->settingsFilePath;
    d->bookDataFolder = folder;
    d->settingsFilePath = ReadingStateFile::filePath(folder);
    // The reading state as stored, unless an earlier opening in this run has moved on from it.
    if (!QFileInfo::exists(d->settingsFilePath) && QFileInfo::exists(kept) && !QFile::copy(kept, d->settingsFilePath))
        qWarning() << "Can't copy the reading state" << kept << "to" << d->settingsFilePath;
    // Nothing of it outlasts the run: the notes count says so from the start.
    d->inRunFolder = true;
    d->stateUnsaved = true;
}

void BookContext::onDocumentCompleted()
{
    // Chapters left out for want of room would otherwise just be missing from the book.
    if (d->document->isPartial()) {
        const checkedsave::Failure failure = d->document->partialCause();
        if (failure == checkedsave::Failure::DiskFull || failure == checkedsave::Failure::NotWritable)
            ReadingServices::notifyStorage(ReadingServices::BookPartlyUnpacked, d->bookDataFolder, failure);
    } else {
        ReadingServices::storageSaved(ReadingServices::BookPartlyUnpacked, d->bookDataFolder);
    }
    // Chapters that could not be converted have left the list.
    d->chapterSourcesFilled = false;
    if (DataExchangeSvc* svc = ReadingServices::dataExchangeSvc()) {
        sendBookToPageCounter(svc);
    }
    repaginate();
}

void BookContext::refreshUnpackedFiles()
{
    // What was unpacked or converted from the book stays between openings and is not made again
    // while it is there; it belongs to the book file as it was then. A file of another content at
    // the same path gets it made anew; the same bytes at a new time are the same book. The reading
    // state and the cover stay.
    const QFileInfo book(d->book.full_path);
    if (!book.isFile() || d->bookDataFolder.isEmpty())
        return;
    const QDir folder(d->bookDataFolder);
    const QString stampPath = folder.filePath(folder.dirName() + QStringLiteral(".source"));
    const BookFileStamp::Verdict verdict = BookFileStamp::check(book.filePath(), stampPath);
    if (verdict == BookFileStamp::Verdict::Same)
        return;
    // Another file than the one last opened, or than the one added (a book never opened, changed
    // since): the library's record follows it. Read before the folder is cleared, as an import
    // reads into the folder that the first opening clears.
    if (verdict == BookFileStamp::Verdict::Replaced
        || (d->book.time_added > 0 && book.lastModified().toSecsSinceEpoch() > qint64(d->book.time_added)))
        rereadLibraryRecord();
    const QString stateName = QFileInfo(d->settingsFilePath).fileName();
    const QStringList kept { stateName, stateName + QStringLiteral(".bak"), QStringLiteral("cover.png") };
    const QFileInfoList entries
        = folder.entryInfoList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System);
    bool cleared = true;
    for (const QFileInfo& entry : entries) {
        if (kept.contains(entry.fileName()))
            continue;
        const bool removed = entry.isDir() && !entry.isSymLink() ? QDir(entry.filePath()).removeRecursively()
                                                                 : QFile::remove(entry.filePath());
        if (!removed) {
            qWarning() << "Can't remove the old unpacked file" << entry.filePath();
            cleared = false;
        }
    }
    // Without a clean folder the next opening tries again.
    if (cleared)
        BookFileStamp::write(book.filePath(), stampPath);
}

void BookContext::rereadLibraryRecord()
{
    BookModel* model = ReadingServices::bookModel();
    if (!model || d->book.id < 0)
        return;
    qInfo() << "The book file was replaced; its record is read again:" << d->book.full_path;
    // On the GUI thread: the opening goes on in the same folder, and a replaced file is rare.
    BookDto fromFile;
    fromFile.full_path = d->book.full_path;
    const ItemStatus status = readBookFile(fromFile, true);
    if (status != ItemAdded) {
        qWarning() << "The replaced book file could not be read for the library:" << d->book.full_path << status;
        return;
    }
    // A new file without a cover does not keep the old one's.
    if (fromFile.cover.isEmpty())
        QFile::remove(QDir(d->bookDataFolder).filePath(QStringLiteral("cover.png")));
    fromFile.id = d->book.id;
    if (!model->updateFromReplacedFile(fromFile))
        return;
    const BookDto stored = model->bookById(d->book.id);
    d->book.title = stored.title;
    d->book.author = stored.author;
    d->book.cover = stored.cover;
    d->book.max_position = stored.max_position;
}

bool BookContext::bookFileChanged() const
{
    const QFileInfo file(d->book.full_path);
    return !file.isFile() || file.size() != d->fileSize || file.lastModified() != d->fileModified;
}

bool BookContext::loadTextBook()
{
    d->document = QSharedPointer<TextDocument>(createTextDocument(d->book.full_path), &QObject::deleteLater);
    if (!d->document) {
        qWarning() << "No text document for" << d->book.full_path;
        return false;
    }
    if (d->book.format == kPlainTextFormat && !d->encoding.isEmpty())
        d->document->setEncoding(d->encoding);
    // The first chapter shows as soon as it is converted; the rest follows in the background.
    connect(d->document.data(), &TextDocument::completed, this, &BookContext::onDocumentCompleted);
    if (!d->document->loadStaged(d->bookDataFolder)) {
        if (!EndRequest::isRaised())
            qWarning() << "Book failed to load:" << d->book.full_path;
        d->document.reset();
        return false;
    }
    if (d->document->chapters().isEmpty()) {
        qWarning() << "Book has no chapters:" << d->book.full_path;
        d->document.reset();
        return false;
    }
    refreshToc();
    return true;
}

void BookContext::refreshToc()
{
    // The contents are those of this conversion, as the cache written from it reads: a cache that
    // could not be replaced is of an earlier opening, perhaps of an earlier version that made
    // other links.
    const QList<TocPoint> points = d->document->toc();
    d->toc.assign(points, d->document->basePath());
    m_tocModel->setToc(d->toc.points);
    d->chapterSourcesFilled = false;
    writeTocCache(points);
}

void BookContext::writeTocCache(const QList<TocPoint>& points)
{
    // A book of hundreds of thousands of entries takes a second to put into JSON: on a pool
    // thread, each write after the one before, so the last contents made are the ones kept. The
    // file is replaced only by a complete one, so a crash while writing keeps the last good cache.
    const QString path = d->tocCachePath;
    const QFuture<void> before = d->tocWriter;
    d->tocWriter = QtConcurrent::run([path, points, before] {
        QFuture<void>(before).waitForFinished();
        // The program ends, and waits for this: the cache stays as it was until the next opening.
        if (EndRequest::isRaised())
            return;
        const QJsonArray array = TextDocument::tocToJson(points).toArray();
        if (EndRequest::isRaised())
            return;
        const QByteArray json = QJsonDocument(array).toJson(QJsonDocument::Indented);
        if (!EndRequest::isRaised() && !checkedsave::writeFile(path, json, checkedsave::TextMode))
            qWarning() << "Can't write contents cache" << path;
    });
}

void BookContext::relocateStoredPlaces()
{
    CutChapterPlaces places(*d->document, d->cutChapters);
    // From now on the state gives the places of every cut chapter in its parts: written once, so
    // the places are not looked for again. A chapter with places to look for is a new one here.
    if (d->cutChapters != places.chapters()) {
        d->cutChapters = places.chapters();
        scheduleStateSave();
    }
    if (places.isEmpty())
        return;
    int moved = 0;
    for (NoteItem& note : d->notes)
        moved += places.relocate(&note) ? 1 : 0;
    for (BookmarkItem& bookmark : d->bookmarks)
        moved += places.relocate(&bookmark) ? 1 : 0;
    const QString source = places.relocatedSource(d->readingSource);
    if (source != d->readingSource) {
        d->readingSource = source;
        ++moved;
    }
    if (moved > 0) {
        qInfo() << moved << "places stored for chapters that are now cut into parts are found in their parts";
        m_notesModel->updateNotes(d->notes.values());
        m_bookmarkModel->updateBookmarks(d->bookmarks.values());
    }
}

void BookContext::dropBook()
{
    deleteViewer();
    // Nothing of the book was shown or changed: its state file stays as it was, and a folder that
    // cannot take it is told once, by the refusal.
    d->settingsFilePath.clear();
}

void BookContext::deleteViewer()
{
    // The viewer's destructor hands its position back; nothing was read yet, so none is wanted.
    const QString source = d->readingSource;
    delete d->viewerWidget.data();
    d->viewer = nullptr;
    d->readingSource = source;
}

// The user hears at once that the notes and bookmarks did not read, and where the file is
// kept; the copy is made now so that the named file exists while the message is up.
void BookContext::keepUnreadableSettings(const QString& path)
{
    const QString backup = path + QStringLiteral(".bak");
    QFile::remove(backup);
    if (!QFile::copy(path, backup))
        qWarning() << "Can't copy the unreadable book settings file to" << backup;
    ReadingServices::notifyStorage(ReadingServices::NotesUnreadable, backup, checkedsave::Failure::None);
}

bool BookContext::loadFromSettingsFile(const QString& path)
{
    ReadingState state;
    if (!ReadingStateFile::read(path, &state))
        return false;
    state.applyFontSettings(d->pageParams);
    d->encoding = state.encoding;
    if (!state.readingSource.isEmpty())
        d->readingSource = state.readingSource;
    if (state.readingPage > 0)
        d->readingPage = state.readingPage;
    d->unreadNotes = state.unreadNotes;
    d->unreadBookmarks = state.unreadBookmarks;
    d->unreadLists = state.unreadLists;
    d->cutChapters = state.cutChapters;
    for (const NoteItem& note : qAsConst(state.notes)) {
        m_notesModel->addNote(note);
        d->notes.insert(note.id, note);
    }
    for (const BookmarkItem& bookmark : qAsConst(state.bookmarks)) {
        m_bookmarkModel->addBookmark(bookmark);
        d->bookmarks.insert(bookmark.id, bookmark);
    }
    return true;
}

bool BookContext::prepareStateSave(ReadingState* state)
{
    d->stateSaveTimer.stop();
    if (d->settingsFilePath.isEmpty())
        return false;
    if (d->settingsUnreadable) {
        // The user's file did not read; keep it beside the new one rather than lose it.
        const QString backup = d->settingsFilePath + QStringLiteral(".bak");
        QFile::remove(backup);
        if (!QFile::rename(d->settingsFilePath, backup) && QFileInfo::exists(d->settingsFilePath)) {
            qWarning() << "Can't keep the unreadable book settings file as" << backup;
            return false;
        }
        qWarning() << "Unreadable book settings file kept as" << backup;
        d->settingsUnreadable = false;
    }
    if (d->textViewer() && d->chapterPage) {
        // Empty while a chapter loads: the last known position stays.
        const QString link = d->chapterPage->getReadingLink();
        if (!link.isEmpty())
            d->readingSource = link;
    }
    state->takeFontSettings(*d->pageParams);
    state->encoding = d->encoding;
    state->readingSource = d->readingSource;
    state->readingPage = d->readingPage;
    // Copies with links of their own: the items' links are shared with the models and change
    // under a pagination, and the state may be written on another thread.
    for (NoteItem note : qAsConst(d->notes)) {
        note.link = BookLinkPtr::create(note.link ? *note.link : BookLink());
        state->notes.append(note);
    }
    for (BookmarkItem bookmark : qAsConst(d->bookmarks)) {
        bookmark.link = BookLinkPtr::create(bookmark.link ? *bookmark.link : BookLink());
        state->bookmarks.append(bookmark);
    }
    state->unreadNotes = d->unreadNotes;
    state->unreadBookmarks = d->unreadBookmarks;
    state->unreadLists = d->unreadLists;
    state->cutChapters = d->cutChapters;
    return true;
}

bool BookContext::saveSettings()
{
    // A write on its way would otherwise land after this one and take the file back.
    d->stateWriter.waitForFinished();
    d->stateWriteQueued = false;
    ReadingState state;
    if (!prepareStateSave(&state))
        return false;
    ++d->stateWrites;
    const bool written = ReadingStateFile::write(d->settingsFilePath, state, d->book.format);
    setStateWritten(written);
    if (!written)
        return false;
    // The library counts only notes that a restart would find.
    storeNotesCount(state.notes.size());
    return true;
}

bool BookContext::hasUnsavedState() const { return d->stateUnsaved; }

void BookContext::setStateWritten(bool written)
{
    const bool unsaved = !written || d->inRunFolder;
    if (d->stateUnsaved == unsaved)
        return;
    d->stateUnsaved = unsaved;
    emit unsavedStateChanged(d->stateUnsaved);
}

void BookContext::saveSettingsInBackground()
{
    // One write at a time, in order: a change made meanwhile is written when this one is done.
    if (d->stateWriter.isRunning()) {
        d->stateWriteQueued = true;
        return;
    }
    d->stateWriteQueued = false;
    ReadingState state;
    if (!prepareStateSave(&state))
        return;
    const QString path = d->settingsFilePath;
    const int format = d->book.format;
    d->writtenNotesCount = state.notes.size();
    d->backgroundWrite = ++d->stateWrites;
    // The file is forced to disk, which can take its time on a busy disk: not on the GUI thread.
    d->stateWriter.setFuture(
        QtConcurrent::run([path, state, format] { return ReadingStateFile::write(path, state, format); }));
}

void BookContext::onStateWritten()
{
    if (d->backgroundWrite == d->stateWrites && d->stateWriter.future().resultCount() > 0) {
        const bool written = d->stateWriter.result();
        setStateWritten(written);
        if (written)
            storeNotesCount(d->writtenNotesCount);
    }
    if (d->stateWriteQueued)
        saveSettingsInBackground();
}

void BookContext::scheduleStateSave()
{
    if (!d->settingsFilePath.isEmpty())
        d->stateSaveTimer.start();
}

void BookContext::changeEncoding(const QString& encoding)
{
    qInfo() << "Change encoding to:" << encoding;
    if (d->book.format != kPlainTextFormat || !d->document)
        return;
    TextViewer* viewer = d->textViewer();
    const QString link = d->chapterPage ? d->chapterPage->getReadingLink() : QString();
    const QString previous = d->encoding;
    d->encoding = encoding;
    d->document->setEncoding(encoding);
    if (!d->document->load(d->bookDataFolder)) {
        // The stored encoding would keep the book from opening next time: go back to the last one.
        qWarning() << "Book failed to load with encoding" << encoding;
        d->encoding = previous;
        d->document->setEncoding(previous);
        if (!d->document->load(d->bookDataFolder))
            qWarning() << "Book failed to load again with encoding" << previous;
        return;
    }
    // New text breaks into other pages: the contents, the page counter's chapters and the page
    // numbers follow the converted files.
    refreshToc();
    if (viewer && !link.isEmpty())
        viewer->goLink(link, true);
    if (DataExchangeSvc* svc = ReadingServices::dataExchangeSvc()) {
        sendBookToPageCounter(svc);
    }
    repaginate();
}

void BookContext::sendBookToPageCounter(DataExchangeSvc* svc)
{
    svc->setBookKey(d->contextId);
    svc->sendChapterList(d->document->chapterPageInfos().first, d->document->bookFolder());
    // The helper keeps the last query it was told, which may be another book's: this book's own
    // (or none) goes with its chapters, so the hits that come back are the ones it shows and colours.
    svc->search(d->searchText);
}

void BookContext::search(const QString& text)
{
    if (!d->textViewer())
        return;
    if (DataExchangeSvc* svc = ReadingServices::dataExchangeSvc())
        svc->search(text);
    d->searchText = text;
    d->repaginationTimer.start();
}

// The hits come with the pagination the restarted timer asks for, so typing searches once.
void BookContext::setSearchText(const QString& text) { search(text); }

QString BookContext::searchText() const { return d->searchText; }

BookLinkPtr BookContext::backToPageLink() const { return d->backToPageLink; }

AbstractViewer* BookContext::viewer() const { return d->liveViewer(); }

BookPageParams* BookContext::pageParams() const { return d->pageParams; }

BookDto BookContext::bookDto() const { return d->book; }

QString BookContext::dataFolder() const { return d->bookDataFolder; }

QString BookContext::contextId() const { return d->contextId; }

QString BookContext::encoding() const { return d->encoding; }

int BookContext::currentPage() const { return d->currentPage; }

int BookContext::pageCount() const { return d->pageCount; }

void BookContext::setCurrentPage(int page)
{
    if (d->currentPage == page)
        return;
    d->currentPage = page;
    emit currentPageChanged();
}

void BookContext::setPageCount(int count)
{
    if (d->pageCount == count)
        return;
    d->pageCount = count;
    emit pageCountChanged();
}

int BookContext::readingPage() const { return d->readingPage; }

void BookContext::setReadingPage(int page)
{
    if (d->readingPage == page)
        return;
    d->readingPage = page;
    scheduleStateSave();
}

QString BookContext::readingSource() const { return d->readingSource; }

void BookContext::setReadingSource(const QString& source)
{
    if (d->readingSource == source)
        return;
    d->readingSource = source;
    scheduleStateSave();
}

QSharedPointer<TextDocument> BookContext::textDocument() const { return d->document; }

QList<NoteItem> BookContext::chapterNotes(const QString& chapter) const
{
    QList<NoteItem> result;
    for (const NoteItem& note : qAsConst(d->notes)) {
        if (note.chapter.compare(chapter, Qt::CaseInsensitive) == 0)
            result.append(note);
    }
    return result;
}

QList<TocPoint> BookContext::toc() const { return d->toc.points; }

void BookContext::setToc(const QList<TocPoint>& toc)
{
    d->toc.points = toc;
    d->chapterSourcesFilled = false;
    m_tocModel->setToc(toc);
}

QString BookContext::currentChapterTitle() const { return d->currentChapterTitle; }

QString BookContext::currentTocItemId() const { return d->currentTocItemId; }

QString BookContext::chapterTitleForPage(int page) const
{
    return page > 0 ? tocTitleAt(d->toc.points, page) : QString();
}

NoteItem* BookContext::findNote(const QString& id)
{
    auto it = d->notes.find(id);
    return it == d->notes.end() ? nullptr : &it.value();
}

QList<NoteItem> BookContext::notes() const { return d->notes.values(); }

QList<BookmarkItem> BookContext::bookmarks() const { return d->bookmarks.values(); }

QList<QString> BookContext::chapterSources()
{
    if (!d->chapterSourcesFilled) {
        d->chapterSources = tocChapterSources(d->toc.points, true);
        d->chapterSourcesFilled = true;
    }
    return d->chapterSources;
}

TextBookChapter* BookContext::chapterPage() const { return d->chapterPage; }

void BookContext::readingAloud(bool started)
{
    qInfo() << (started ? "Start reading aloud..." : "Stop reading aloud.");
    TextViewer* viewer = d->textViewer();
    if (viewer && started)
        viewer->startReadingAloud();
    else if (viewer)
        viewer->stopReadingAloud();
}

void BookContext::readingAloudPause()
{
    qInfo() << "Pause reading aloud...";
    if (TextViewer* viewer = d->textViewer())
        viewer->pauseReadingAloud();
}

void BookContext::readingAloudGoNext()
{
    qWarning() << "TTS: go next is not implemented";
    if (TextViewer* viewer = d->textViewer())
        viewer->nextReadingParagraph();
}

void BookContext::readingAloudGoPrev()
{
    qWarning() << "TTS: go prev is not implemented";
    if (TextViewer* viewer = d->textViewer())
        viewer->prevReadingParagraph();
}

void BookContext::storeCurrentPageLink()
{
    if (d->textViewer() && d->chapterPage)
        d->storedLinkSource = d->chapterPage->getReadingLink();
    d->storedPage = d->currentPage;
}

void BookContext::updateCurrentPageLink()
{
    if (d->textViewer() && !d->storedLinkSource.isEmpty()) {
        d->backToPageLink->source = d->storedLinkSource;
        d->backToPageLink->page = d->storedPage;
        emit backToPageLinkChanged();
    } else if (d->storedPage > 0) {
        d->backToPageLink->page = d->storedPage;
        emit backToPageLinkChanged();
    }
    d->storedPage = 0;
    d->storedLinkSource.clear();
}

void BookContext::navigateToLink(QString link) { navigateToLink(BookLinkPtr::create(link, -1)); }

void BookContext::navigateToLink(BookLinkPtr link)
{
    qInfo() << "navigate to link";
    AbstractViewer* viewer = d->liveViewer();
    if (!viewer || !link)
        return;
    const BookLink target = *link;
    if (d->textViewer() && !target.source.isEmpty()) {
        const QString here = d->chapterPage ? d->chapterPage->getReadingLink() : QString();
        // No answer (a chapter still loading) keeps the back link it had.
        if (!here.isEmpty()) {
            d->backToPageLink->source = here;
            d->backToPageLink->page = d->currentPage;
            emit backToPageLinkChanged();
        }
        viewer->goLink(target.source, false);
    } else if (target.page > 0) {
        d->backToPageLink->source.clear();
        d->backToPageLink->page = d->currentPage;
        emit backToPageLinkChanged();
        viewer->goPage(target.page);
    }
}

void BookContext::goBackToPage()
{
    AbstractViewer* viewer = d->liveViewer();
    if (!viewer)
        return;
    const BookLink back = *d->backToPageLink;
    if (!back.source.isEmpty()) {
        const QString here = d->chapterPage ? d->chapterPage->getReadingLink() : QString();
        if (!here.isEmpty()) {
            d->backToPageLink->source = here;
            d->backToPageLink->page = d->currentPage;
            emit backToPageLinkChanged();
        }
        viewer->goLink(back.source, false);
    } else if (back.page > 0) {
        d->backToPageLink->source.clear();
        d->backToPageLink->page = d->currentPage;
        emit backToPageLinkChanged();
        viewer->goPage(back.page);
    }
}

void BookContext::navigateToPage(int page)
{
    qInfo() << "navigate to page" << page;
    AbstractViewer* viewer = d->liveViewer();
    if (!viewer)
        return;
    if (viewer->viewerType() != 0) {
        viewer->goPage(page);
        return;
    }
    DataExchangeSvc* svc = ReadingServices::dataExchangeSvc();
    if (!d->document || !svc)
        return;
    for (QString chapter = d->document->nextChapter(QString()); !chapter.isEmpty();
         chapter = d->document->nextChapter(chapter)) {
        const int count = svc->chapterPageCount(chapter);
        const int index = svc->chapterStartPage(chapter);
        if (index < 0)
            return;
        const int first = index + 1;
        if (first <= page && page < first + count) {
            viewer->goLink(chapter + QStringLiteral("?kelpage=%1").arg(page - first + 1), false);
            return;
        }
    }
}

void BookContext::onChapterChanged(TextBookChapter* chapter)
{
    for (const QMetaObject::Connection& connection : qAsConst(d->chapterConnections))
        disconnect(connection);
    d->chapterConnections.clear();
    d->chapterPage = chapter;
    if (!chapter)
        return;
    d->chapterConnections << connect(chapter, &TextBookChapter::newBookmarkCreated, this, &BookContext::onNewBookmark)
                          << connect(chapter, &TextBookChapter::newNoteCreated, this, &BookContext::onNewNote);
}

QList<BookLinkPtr> BookContext::itemLinks() const
{
    QList<BookLinkPtr> links = tocLinks(d->toc.points).values();
    for (const BookmarkItem& bookmark : qAsConst(d->bookmarks))
        links.append(bookmark.link);
    for (const NoteItem& note : qAsConst(d->notes))
        links.append(note.link);
    return links;
}

void BookContext::repaginate()
{
    AbstractViewer* viewer = d->liveViewer();
    DataExchangeSvc* svc = ReadingServices::dataExchangeSvc();
    // Until the whole book is converted there is nothing to count: completion repaginates. Nor
    // when the program ends.
    if (!viewer || viewer->viewerType() != 0 || !svc || !d->document || !d->document->isComplete()
        || EndRequest::isRaised())
        return;
    if (svc->bookKey() != d->contextId) {
        sendBookToPageCounter(svc);
    }
    PaginationRequest request;
    request.pageFormatScript = d->pageParams->pageFormatScript();
    request.fontSize = d->pageParams->fontSize();
    request.fontFamily = d->pageParams->fontFamily();
    QList<BookLinkPtr> links = itemLinks();
    links.append(d->backToPageLink);
    for (const BookLinkPtr& link : qAsConst(links)) {
        // An unset link (the back link before any jump) names no place.
        if (link && !link->source.isEmpty())
            request.linkSources.insert(link->source);
    }
    if (!EndRequest::isRaised())
        svc->repaginate(request);
}

void BookContext::updateCurrentPage()
{
    // The position moved: the state file takes it without waiting for the close.
    if (d->textViewer() && d->chapterPage)
        scheduleStateSave();
    DataExchangeSvc* svc = ReadingServices::dataExchangeSvc();
    if (d->textViewer() && d->chapterPage && d->chapterPage->currentPage() > 0 && svc && svc->resultForSentChapters()) {
        const int index = svc->chapterStartPage(d->chapterPage->source());
        if (index >= 0) {
            setCurrentPage(index + d->chapterPage->currentPage());
            return;
        }
    }
    setCurrentPage(-1);
}

void BookContext::followCurrentPage()
{
    const int page = d->currentPage;
    const QString tocId = page > 0 ? tocIdAt(d->toc.points, page) : QString();
    if (tocId != d->currentTocItemId) {
        d->currentTocItemId = tocId;
        emit currentChapterChanged(tocId);
    }
    const QString title = chapterTitleForPage(page);
    qDebug() << "chapter title" << title << "at page" << page;
    if (title != d->currentChapterTitle) {
        d->currentChapterTitle = title;
        emit currentChapterTitleChanged(title);
    }
    if (page > 0 && d->pageCount > 0) {
        // The last page on screen: the end of the book in two columns shows its last two pages.
        const int lastShown = page + d->pageParams->columnCount() - 1;
        const int percent = qMin(lastShown, d->pageCount) * 100 / d->pageCount;
        if (percent != d->book.max_position) {
            d->book.max_position = percent;
            storeInLibrary(percent, -1);
        }
    }
}

bool BookContext::storeInLibrary(int maxPosition, int notesCount)
{
    BookModel* model = ReadingServices::bookModel();
    if (!model || d->book.id < 0)
        return false;
    // Start from the library's own record: the title, favourite or trash may have changed
    // while the book was open.
    BookDto current = model->bookById(d->book.id);
    if (current.id < 0)
        return false;
    if (maxPosition >= 0)
        current.max_position = maxPosition;
    if (notesCount >= 0)
        current.notes_count = notesCount;
    return model->updateBookInfo(current);
}

void BookContext::resolveItemTitle(BookLinkItem item, bool isNote)
{
    DataExchangeSvc* svc = ReadingServices::dataExchangeSvc();
    if (!svc || !d->chapterPage)
        return;
    const int offset = svc->chapterStartPage(d->chapterPage->source());
    if (offset < 0)
        return;
    const QString id = item.id;
    d->chapterPage->resolveLinkPage(item.link, 1, offset, [this, id, isNote] {
        if (isNote) {
            auto it = d->notes.find(id);
            if (it == d->notes.end() || !it->link || it->link->page < 0)
                return;
            it->title = tocTitleAt(d->toc.points, it->link->page);
            m_notesModel->updateNote(*it);
            emit noteChanged(*it);
        } else {
            auto it = d->bookmarks.find(id);
            if (it == d->bookmarks.end() || !it->link || it->link->page < 0)
                return;
            it->title = tocTitleAt(d->toc.points, it->link->page);
            m_bookmarkModel->updateBookmark(*it);
            emit bookmarkChanged(*it);
        }
    });
}

void BookContext::onNewBookmark(BookmarkItem bookmark)
{
    for (const BookmarkItem& existing : qAsConst(d->bookmarks)) {
        if (existing.link && bookmark.link && existing.link->source == bookmark.link->source)
            return;
    }
    d->bookmarks.insert(bookmark.id, bookmark);
    // The model row must exist before the title resolution updates it.
    m_bookmarkModel->addBookmark(bookmark);
    resolveItemTitle(bookmark, false);
    emit bookmarkAdded(d->bookmarks.value(bookmark.id));
    scheduleStateSave();
}

void BookContext::onNewNote(NoteItem note)
{
    d->notes.insert(note.id, note);
    m_notesModel->addNote(note);
    resolveItemTitle(note, true);
    emit noteAdded(d->notes.value(note.id));
    scheduleStateSave();
}

void BookContext::addBookmark()
{
    if (d->textViewer() && d->chapterPage)
        d->chapterPage->createBookmarkForCurrentPage();
}

bool BookContext::addNoteAtCurrentSelection(NoteItem::NoteColor color)
{
    if (!d->textViewer() || !d->chapterPage)
        return false;
    // The page hands the note back at once; without a selection (it may have gone since the
    // popup opened) there is none, and no note to write a comment to.
    const QString id = NoteItem().id;
    d->chapterPage->createNoteFromSelection(id, color);
    return d->notes.contains(id);
}

void BookContext::setNoteColor(QString noteId, NoteItem::NoteColor color)
{
    NoteItem* note = findNote(noteId);
    if (!note)
        return;
    note->color = color;
    if (d->chapterPage)
        d->chapterPage->setNoteStyle(noteId, NoteItem::styleName(color));
    m_notesModel->updateNote(*note);
    emit noteChanged(*note);
    scheduleStateSave();
}

void BookContext::setNoteComment(QString noteId, QString text)
{
    NoteItem* note = findNote(noteId);
    if (!note)
        return;
    note->note = text;
    m_notesModel->updateNote(*note);
    emit noteChanged(*note);
    scheduleStateSave();
}

void BookContext::removeNote(QString noteId)
{
    auto it = d->notes.find(noteId);
    if (it == d->notes.end())
        return;
    const QString chapter = it->chapter;
    d->notes.erase(it);
    if (d->textViewer() && d->chapterPage && d->chapterPage->source().compare(chapter, Qt::CaseInsensitive) == 0)
        d->chapterPage->removeNote(noteId);
    m_notesModel->removeNote(noteId);
    emit noteRemoved(noteId);
    scheduleStateSave();
}

void BookContext::removeBookmark(QString bookmarkId)
{
    if (!d->bookmarks.remove(bookmarkId))
        return;
    m_bookmarkModel->removeBookmark(bookmarkId);
    emit bookmarkRemoved(bookmarkId);
    scheduleStateSave();
}

void BookContext::searchSelectionGoogle()
{
    SettingsProvider* settings = SettingsProvider::instance();
    lookUpSelection(settings ? settings->lookup_web_search() : QString());
}

void BookContext::searchSelectionWikipedia()
{
    SettingsProvider* settings = SettingsProvider::instance();
    if (!settings) {
        lookUpSelection(QString());
        return;
    }
    QString prefix = QStringLiteral("https://");
    const QStringList languages = QLocale::system().uiLanguages();
    const QString language
        = languages.isEmpty() ? QString() : languages.first().section(QLatin1Char('-'), 0, 0).toLower();
    // The C and POSIX locales (LANG=C.UTF-8) name no language: the encyclopedia's own host.
    if (!language.isEmpty() && language != QLatin1String("c") && language != QLatin1String("posix"))
        prefix += language + QLatin1Char('.');
    lookUpSelection(prefix + settings->lookup_encyclopedia());
}

void BookContext::copySelection()
{
    AbstractViewer* viewer = d->liveViewer();
    const QString text = viewer ? viewer->selectedText().trimmed() : QString();
    if (!text.isEmpty())
        QGuiApplication::clipboard()->setText(text, QClipboard::Clipboard);
}

void BookContext::translateSelection()
{
    SettingsProvider* settings = SettingsProvider::instance();
    lookUpSelection(settings ? settings->lookup_translation() : QString());
}

void BookContext::lookUpSelection(const QString& endpoint)
{
    AbstractViewer* viewer = d->liveViewer();
    const QString text = viewer ? viewer->selectedText().trimmed() : QString();
    if (text.isEmpty())
        return;
    if (endpoint.isEmpty()) {
        qWarning() << "No look-up address is set";
        return;
    }
    const QString url = endpoint + QString::fromUtf8(QUrl::toPercentEncoding(text));
    emit viewer->userEvents()->externalLinkClicked(url, false);
}

void BookContext::print(const QPrinter& printer)
{
    qDebug() << "Request to print current book. Printer:" << printer.printerName();
    if (!d->document || !d->liveViewer()) {
        qWarning() << "Only an open text book can be printed this way";
        return;
    }
    DataExchangeSvc* svc = ReadingServices::dataExchangeSvc();
    if (!svc) {
        qWarning() << "No page-counting helper: nothing is printed";
        return;
    }
    // Every chapter is printed: what the background conversion has left is converted now.
    d->document->completeNow();
    if (svc->bookKey() != d->contextId) {
        sendBookToPageCounter(svc);
    }
    PrintRequest request;
    request.pageFormatScript = d->pageParams->pageFormatScript();
    request.fontSize = d->pageParams->fontSize();
    // Without a print server a PDF file is the printer: the helper writes where this one would.
    if (printer.outputFormat() == QPrinter::PdfFormat && !printer.outputFileName().isEmpty())
        request.text = QFileInfo(printer.outputFileName()).absoluteFilePath();
    request.printerName = printer.printerName();
    request.colorMode = printer.colorMode();
    request.orientation = printer.pageLayout().orientation();
    request.pageSizeId = printer.pageLayout().pageSize().id();
    request.copyCount = printer.copyCount();
    svc->print(request);
}

void BookContext::onPageRecalculationDone()
{
    AbstractViewer* viewer = d->liveViewer();
    DataExchangeSvc* svc = ReadingServices::dataExchangeSvc();
    if (!viewer || viewer->viewerType() != 0 || !svc || svc->bookKey() != d->contextId)
        return;
    const QHash<QString, int> pages = svc->linkPages();
    QList<BookLinkPtr> links = itemLinks();
    links.append(d->backToPageLink);
    for (const BookLinkPtr& link : qAsConst(links)) {
        if (!link)
            continue;
        auto it = pages.constFind(link->source);
        if (it != pages.constEnd())
            link->page = it.value();
    }
    m_tocModel->updatePages();
    // Every note, bookmark and hit asks for its title: one walk of the contents serves them all.
    const TocPageTitles titles(d->toc.points);
    for (NoteItem& note : d->notes)
        note.title = titles.titleAt(note.link ? note.link->page : -1);
    m_notesModel->updateNotes(d->notes.values());
    for (const NoteItem& note : qAsConst(d->notes))
        emit noteChanged(note);
    for (BookmarkItem& bookmark : d->bookmarks)
        bookmark.title = titles.titleAt(bookmark.link ? bookmark.link->page : -1);
    m_bookmarkModel->updateBookmarks(d->bookmarks.values());
    for (const BookmarkItem& bookmark : qAsConst(d->bookmarks))
        emit bookmarkChanged(bookmark);
    QList<SearchItem> hits = svc->searchHits();
    for (SearchItem& hit : hits) {
        hit.title = titles.titleAt(hit.link ? hit.link->page : -1);
        hit.query = d->searchText;
    }
    m_searchModel->setSearchItems(hits);
    m_searchModel->updatePages();
    // The count first, so the follow-up of a new current page sees the new count.
    const int count = svc->totalPageCount();
    const bool countChanged = count != d->pageCount;
    d->pageCount = count;
    const int page = d->currentPage;
    updateCurrentPage();
    // The same page number may now lie in another chapter (the chapters' pages changed with the
    // layout): the chapter title and the contents' mark follow the new numbers.
    if (d->currentPage == page)
        followCurrentPage();
    if (TextViewer* textViewer = d->textViewer())
        textViewer->highlightText(d->searchText);
    emit searchDone();
    if (countChanged)
        emit pageCountChanged();
}

void BookContext::onNotesCountChanged() { storeNotesCount(d->notes.size()); }

void BookContext::storeNotesCount(int count)
{
    if (count == d->book.notes_count)
        return;
    // Only a count the library took is remembered: a refused one is written again next time.
    if (storeInLibrary(-1, count))
        d->book.notes_count = count;
}
