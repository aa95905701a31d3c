#include "textviewer.h"

#include "bookcontext.h"
#include "bookpageparams.h"
#include "chapterload.h"
#include "formats/endrequest.h"
#include "formats/textdocument.h"
#include "hotkeys.h"
#include "jsengine/jsengine.h"
#include "localwebpage.h"
#include "readingservices.h"
#include "settingsprovider.h"
#include "speechengine.h"
#include "textbookchapter.h"

#include <QApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QGestureEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPointer>
#include <QSwipeGesture>
#include <QUrlQuery>
#include <QUuid>
#include <QWebFrame>
#include <QWebSettings>
#include <QWheelEvent>
#include <QtDebug>

#include <functional>

namespace {

constexpr int kPlainTextFormat = 8;
// One mouse-wheel notch; touchpads send many smaller steps that add up to it.
constexpr int kWheelStep = 120;
constexpr AbstractViewer::Features kTextFeatures = AbstractViewer::Features(0x17F);
// The read-aloud walk runs on the GUI thread; a chapter of only blank chunks must not freeze it.
constexpr int kMaxSpeechRounds = 10000;
// WebKit's own capacity of its memory cache, for all of it and for files no page uses.
constexpr int kViewCacheBytes = 8192 * 1024;

// The chapter that pick names, or the next one it names once a chapter that cannot be shown has
// left the list; empty when none is left.
QString readableChapter(TextDocument* document, const std::function<QString()>& pick)
{
    for (int tries = document->chapters().size(); tries >= 0; --tries) {
        const QString name = pick();
        if (name.isEmpty() || document->prepareChapter(name))
            return name;
    }
    return QString();
}

} // namespace

struct TextViewer::Private {
    QString searchText;
    QString engineScript;
    QString pendingTarget;
    QString viewerId;
    TextBookChapter* page = nullptr;
    // The folder of the book read last: the view's memory cache holds its files.
    QString bookFolder;
    QList<QMetaObject::Connection> contextConnections;
    int wheelDelta = 0;
    // A chapter load runs: the engine is not there to answer the read-aloud walk.
    bool loading = false;
    // A chapter is shown with the engine running in it, and the place in it the reader goes
    // back to when the next chapter cannot be loaded.
    bool shown = false;
    QString shownLink;
    // Page turns asked for while a chapter loads (forward positive, back negative), made once
    // it is shown: quick key presses at a chapter's end must not get lost.
    int queuedTurns = 0;
    // The speech engine reading aloud is connected to.
    QPointer<SpeechEngine> speech;
    // The sentence handed to the engine and not yet finished: its length, its age, and the bound of
    // its time to finish.
    bool sentencePending = false;
    int sentenceLength = 0;
    QElapsedTimer sentenceClock;
    QTimer sentenceWatchdog;
    // Where the last sentence the engine finished stood (or reading aloud began): the place to go
    // back to when a later one fails.
    QString heardSource;
    int heardPage = 0;

    QVariant evaluate(const QString& callText) const
    {
        return page ? page->mainFrame()->evaluateJavaScript(callText) : QVariant();
    }
};

TextViewer::TextViewer(QWidget* parent)
    : QWebView(parent)
    , AbstractViewer(0)
    , d(new Private)
{
    d->viewerId = QUuid::createUuid().toString(QUuid::Id128);
    grabGesture(Qt::SwipeGesture);
    QPalette palette = this->palette();
    palette.setColor(QPalette::Inactive, QPalette::Highlight, palette.color(QPalette::Active, QPalette::Highlight));
    palette.setColor(QPalette::Active, QPalette::HighlightedText, Qt::white);
    palette.setColor(QPalette::Inactive, QPalette::HighlightedText, Qt::white);
    setPalette(palette);
    jsengine::initResources();
    d->engineScript = jsengine::scriptWithInit(d->viewerId);
    repaginateTimer.setInterval(200);
    connect(&repaginateTimer, &QTimer::timeout, this, &TextViewer::onRepaginateTimer);
    d->sentenceWatchdog.setSingleShot(true);
    connect(&d->sentenceWatchdog, &QTimer::timeout, this,
        [this] { speechFailed("the speech engine made no progress on a sentence"); });
    connect(this, &TextViewer::pageNavigation, this, [this] {
        qDebug() << "clear reading position";
        d->pendingTarget.clear();
    });
}

TextViewer::~TextViewer()
{
    qApp->removeEventFilter(this);
    repaginateTimer.stop();
    if (readingAloud)
        stopReadingAloud();
    if (d->page) {
        const QString source = d->page->source();
        d->page->getReadingPosition([this, source](const QString& position) {
            qInfo() << "ready position" << position;
            // An empty answer comes while a chapter loads; it must not replace a good position.
            if (m_bookContext && !position.isEmpty() && !source.isEmpty())
                m_bookContext->setReadingSource(TextBookChapter::readingLink(source, position));
        });
    }
    if (m_bookContext)
        m_bookContext->onChapterChanged(nullptr);
    for (const QMetaObject::Connection& connection : qAsConst(d->contextConnections))
        disconnect(connection);
    m_bookContext.reset();
    if (d->page) {
        d->page->disconnect(this);
        setPage(nullptr);
        delete d->page;
        d->page = nullptr;
    }
    qDebug() << "TextViewer deleted";
}

bool TextViewer::supports(Features features) const { return featuresWithin(features, kTextFeatures); }

bool TextViewer::readBook(QSharedPointer<BookContext> context)
{
    for (const QMetaObject::Connection& connection : qAsConst(d->contextConnections))
        disconnect(connection);
    d->contextConnections.clear();
    setBookContext(context);
    if (!context || !context->textDocument())
        return false;
    // The view's memory cache answers a request for a file it holds without asking the page's
    // network, so a file of the book read before would be served to this one, past its refusal.
    // Turned off, the cache lets go of every file, those of a page still shown too; it is turned
    // on again with WebKit's own capacities. (Emptying all the view's caches would drop its fonts
    // as well, which made the first page count of a book take more than twice as long.)
    if (context->textDocument()->bookFolder() != d->bookFolder) {
        QWebSettings::setObjectCacheCapacities(0, 0, 0);
        QWebSettings::setObjectCacheCapacities(0, kViewCacheBytes, kViewCacheBytes);
        d->bookFolder = context->textDocument()->bookFolder();
    }
    if (!d->page) {
        d->page = new TextBookChapter;
        QPointer<TextViewer> self(this);
        // Style sheets, images and fonts of chapters shown before the whole book is converted.
        makePageLocalOnly(d->page, d->page, [self](const QString& file) {
            const QSharedPointer<TextDocument> document
                = self && self->m_bookContext ? self->m_bookContext->textDocument() : nullptr;
            if (document)
                document->prepareFile(file);
        });
        d->page->setLinkDelegationPolicy(QWebPage::DelegateAllLinks);
        d->page->mainFrame()->setScrollBarPolicy(Qt::Horizontal, Qt::ScrollBarAlwaysOff);
        d->page->mainFrame()->setScrollBarPolicy(Qt::Vertical, Qt::ScrollBarAlwaysOff);
        setPage(d->page);
        connect(d->page->chapterLoad(), &ChapterLoad::loaded, this, &TextViewer::onLoadFinished);
        connect(d->page->chapterLoad(), &ChapterLoad::failed, this, &TextViewer::onLoadFailed);
        bindPageEvents(d->page);
    } else {
        context->onChapterChanged(d->page);
    }
    loadInternal();
    return true;
}

void TextViewer::bindPageEvents(TextBookChapter* page)
{
    m_bookContext->onChapterChanged(page);
    connect(
        page, &QWebPage::linkHovered, this,
        [this](const QString& link) {
            qInfo() << "Link hovered" << link;
            linkHovered = !link.isEmpty();
        },
        Qt::DirectConnection);
    connect(page, &QWebPage::linkClicked, this, &TextViewer::onLinkClicked, Qt::DirectConnection);
    connect(page, &TextBookChapter::currentPageChanged, this, [this] {
        if (sender() == d->page)
            emit pageNavigation();
    });
    connect(this, &TextViewer::pageNavigation, this, [this] { highlightText(d->searchText); });
    connect(page, &TextBookChapter::nextChapterRequest, this, &TextViewer::nextChapter);
    connect(page, &TextBookChapter::prevChapterRequest, this, &TextViewer::previousChapter);
}

void TextViewer::loadInternal()
{
    BookPageParams* params = m_bookContext->pageParams();
    QTimer* timer = &repaginateTimer;
    auto startTimer = [timer] { timer->start(); };
    d->contextConnections << connect(params, &BookPageParams::columnCountChanged, this, startTimer)
                          << connect(params, &BookPageParams::lineSpacingChanged, this, startTimer)
                          << connect(params, &BookPageParams::fontSizeChanged, this, startTimer)
                          << connect(params, &BookPageParams::textAlignmentChanged, this, startTimer)
                          << connect(params, &BookPageParams::fontFamilyChanged, this, startTimer)
                          << connect(this, &TextViewer::pageNavigation, m_bookContext.data(),
                                 &BookContext::updateCurrentPage);
    QString link = m_bookContext->readingSource();
    QUrl url;
    if (!link.isEmpty() && resolveChapter(link, &url).isEmpty())
        link.clear();
    if (!link.isEmpty())
        goLink(link, false);
    else
        moveToHome();
    // Counted once the viewer has its size: the reading page lays it out after this, and a count
    // for the size it has now (a widget's first size) would be of a page no one sees.
    repaginateTimer.start();
}

QString TextViewer::resolveChapter(const QString& link, QUrl* url) const
{
    const QSharedPointer<TextDocument> document = m_bookContext ? m_bookContext->textDocument() : nullptr;
    if (!document)
        return QString();
    // The reader's own links are a chapter's name as it is, then a query or a fragment: a name may
    // hold "#", "?" or "%" itself, so the longest name the link starts with is the chapter.
    QString named;
    for (const QString& chapter : document->chapters()) {
        if (chapter.size() > named.size() && link.startsWith(chapter, Qt::CaseInsensitive)
            && (link.size() == chapter.size() || link.at(chapter.size()) == QLatin1Char('?')
                || link.at(chapter.size()) == QLatin1Char('#')))
            named = chapter;
    }
    if (!named.isEmpty()) {
        *url = QUrl(link.mid(named.size()));
        return named;
    }
    const QString baseText = QUrl::fromLocalFile(QDir::cleanPath(document->basePath())).toString();
    QUrl parsed(link);
    QString relative = link;
    if (!parsed.isRelative()) {
        if (!parsed.toString().startsWith(baseText + QLatin1Char('/')))
            qWarning() << "link outside of base path!!!";
        relative = parsed.toString().mid(baseText.size() + 1);
    }
    *url = QUrl(relative);
    const QString path = url->path(QUrl::FullyDecoded);
    // Links may spell a chapter differently; the page counter knows it by its own name.
    for (const QString& chapter : document->chapters()) {
        if (chapter.compare(path, Qt::CaseInsensitive) == 0)
            return chapter;
    }
    qWarning() << "link outside of known chapters:" << path << "!!!";
    return QString();
}

QString TextViewer::chapterTarget(const QUrl& local)
{
    const QString query = local.query(QUrl::FullyEncoded);
    if (query.startsWith(QLatin1String("kelpath="))) {
        // The path is percent-encoded as a whole, so a raw "&" only starts the offset.
        const QString value = QUrl::fromPercentEncoding(query.mid(8).toUtf8());
        if (!value.isEmpty())
            return value;
    } else if (query.startsWith(QLatin1String("kelpage="))) {
        const QString value = QUrlQuery(local).queryItemValue(QStringLiteral("kelpage"), QUrl::FullyDecoded);
        if (!value.isEmpty())
            return value;
    }
    if (local.hasFragment())
        return QLatin1Char('#') + local.fragment(QUrl::FullyDecoded);
    return QStringLiteral("1");
}

void TextViewer::goLink(const QString& link, bool forced)
{
    QUrl url;
    const QString chapter = resolveChapter(link, &url);
    if (chapter.isEmpty())
        return;
    const QSharedPointer<TextDocument> document = m_bookContext->textDocument();
    if (!QDir(document->basePath()).exists())
        return;
    QUrl local;
    if (url.hasQuery())
        local = QUrl(QLatin1Char('?') + url.query(QUrl::FullyEncoded));
    else if (url.hasFragment())
        local = QUrl(QLatin1Char('#') + url.fragment(QUrl::FullyEncoded));
    qDebug() << "local url" << local;
    if (!forced && d->page && d->page->source().compare(chapter, Qt::CaseInsensitive) == 0) {
        emit navigationStarted(true);
        qDebug() << "doLocalNavigation" << local;
        d->pendingTarget = chapterTarget(local);
        d->page->setReadingPosition(d->pendingTarget);
        emit navigationCompleted();
        return;
    }
    // A chapter the background conversion has not reached yet is converted now.
    if (!document->prepareChapter(chapter)) {
        qWarning() << "The chapter can not be shown:" << chapter;
        return;
    }
    emit navigationStarted(false);
    const QString file = document->chapterFilePath(chapter);
    if (!QFileInfo(file).isFile()) {
        qWarning() << "Can't find file:" << file;
        return;
    }
    if (!d->page)
        return;
    if (d->shown)
        d->shownLink = d->page->getReadingLink();
    d->shown = false;
    d->page->setProperty("loadtime", QDateTime::currentMSecsSinceEpoch());
    d->page->setProperty("kelsource", chapter);
    d->page->setSource(chapter);
    d->page->setProperty("kelurl", local);
    qDebug() << "start loading from: " << file;
    emit beginLoading();
    d->loading = true;
    // Hidden, the viewer loses the keyboard focus: the load catches page-turn keys meanwhile.
    qApp->installEventFilter(this);
    hide();
    // Scripting stays off until this load, and no other, has ended (a load given up for a newer
    // one ends inside the call that starts it).
    d->page->loadChapter(QUrl::fromLocalFile(file), document->bookFolder());
}

void TextViewer::onLoadFailed()
{
    if (!d->page || !m_bookContext)
        return;
    d->loading = false;
    d->queuedTurns = 0;
    qApp->removeEventFilter(this);
    emit endLoading();
    const QString back = d->shownLink;
    d->shownLink.clear();
    const auto showAgain = [this] {
        show();
        setFocus();
    };
    if (back.isEmpty()) {
        showAgain();
        return;
    }
    // Back to the place shown before, once: a page without its chapter turns no page. Not from
    // inside the web view's report of the failure, which drops a load started there.
    QTimer::singleShot(0, this, [this, back, showAgain] {
        // Another chapter asked for, or shown, since.
        if (d->loading || d->shown)
            return;
        qWarning() << "Back to the place shown before:" << back;
        goLink(back, true);
        if (!d->loading)
            showAgain();
    });
}

void TextViewer::onLoadFinished()
{
    TextBookChapter* page = d->page;
    if (!page || !m_bookContext)
        return;
    d->loading = false;
    d->shown = true;
    qApp->removeEventFilter(this);
    page->mainFrame()->evaluateJavaScript(d->engineScript);
    // The page counter counts a long chapter piece by piece, each from the top of a column: the
    // pieces start columns here too, or the chapter would have fewer pages than counted.
    if (jsengine::inPieces(page->mainFrame()->url().toLocalFile()))
        page->mainFrame()->evaluateJavaScript(jsengine::splitPiecesCall());
    const QUrl local = page->property("kelurl").toUrl();
    const QString target = local.isValid() ? chapterTarget(local) : QString();
    // A layout change still waiting for its count (a new size or setting) is made with the chapter.
    if (repaginateTimer.isActive())
        onRepaginateTimer();
    else
        layOut(page, false);
    page->addNotes(m_bookContext->chapterNotes(page->source()));
    if (!target.isEmpty()) {
        page->setReadingPosition(target);
        qDebug() << "end loading with navigation: " << target;
    } else {
        qDebug() << "end loading" << page->source();
        // The chapter page is reused: its page number may read as before although the chapter
        // changed, so the book's page is worked out again here.
        emit pageNavigation();
    }
    emit endLoading();
    show();
    setFocus();
    replayQueuedTurns();
    if (readingAloud && !readingAloudPaused) {
        d->evaluate(QStringLiteral("findFirstVisibleSpeechNode();"));
        onTTSRequest(false);
    }
}

void TextViewer::startReadingAloud()
{
    SpeechEngine* speech = ReadingServices::textToSpeech();
    if (!speech || !d->page)
        return;
    if (readingAloud && readingAloudPaused) {
        readingAloudPaused = false;
        if (speech->state() == QTextToSpeech::Ready)
            onTTSRequest(false);
        return;
    }
    // A second say would cut the sentence being spoken short.
    if (readingAloud) {
        qInfo() << "Reading aloud runs already";
        return;
    }
    d->evaluate(QStringLiteral("findFirstVisibleSpeechNode();"));
    if (d->speech && d->speech != speech)
        disconnect(d->speech, nullptr, this, nullptr);
    d->speech = speech;
    // Once only: a second connection would answer each Ready twice and skip every other sentence.
    connect(speech, &SpeechEngine::stateChanged, this, &TextViewer::onSpeechStateChanged, Qt::UniqueConnection);
    readingAloud = true;
    readingAloudPaused = false;
    d->sentencePending = false;
    d->heardSource = d->page->source();
    d->heardPage = d->page->currentPage();
    onTTSRequest(true);
}

void TextViewer::pauseReadingAloud()
{
    if (readingAloud)
        readingAloudPaused = true;
}

void TextViewer::stopReadingAloud()
{
    if (!ReadingServices::textToSpeech() && !d->speech)
        return;
    endReadingAloud(true);
}

void TextViewer::endReadingAloud(bool stopEngine)
{
    readingAloud = false;
    readingAloudPaused = false;
    d->sentencePending = false;
    d->sentenceWatchdog.stop();
    d->evaluate(QStringLiteral("stopTTS()"));
    if (d->speech) {
        disconnect(d->speech, nullptr, this, nullptr);
        if (stopEngine)
            d->speech->stop();
        d->speech.clear();
    }
}

void TextViewer::onSpeechStateChanged(QTextToSpeech::State state)
{
    if (!readingAloud)
        return;
    if (state == QTextToSpeech::BackendError) {
        speechFailed("the speech engine reports an error");
        return;
    }
    // Only the end of the sentence handed over moves reading aloud on.
    if (state != QTextToSpeech::Ready || !d->sentencePending)
        return;
    d->sentencePending = false;
    d->sentenceWatchdog.stop();
    const ReadingServices::SpeechLimits limits = ReadingServices::speechLimits();
    if (d->sentenceLength >= limits.checkedLength
        && d->sentenceClock.elapsed() < qint64(d->sentenceLength) * limits.minMsPerChar) {
        speechFailed("the speech engine finished a sentence too soon to have spoken it");
        return;
    }
    if (d->page) {
        d->heardSource = d->page->source();
        d->heardPage = d->page->currentPage();
    }
    if (!readingAloudPaused)
        onTTSRequest(false);
}

void TextViewer::speechFailed(const char* reason)
{
    if (!readingAloud)
        return;
    // Silence with the button still on would look like reading aloud that hangs; pages turned for
    // sentences never heard would move the reader's place.
    qWarning() << "The speech engine failed; reading aloud stops:" << reason;
    // Not told to stop: a service that stopped speaking may never answer that call.
    endReadingAloud(false);
    if (d->page && !d->heardSource.isEmpty() && d->heardPage > 0) {
        if (d->page->source() != d->heardSource) {
            qInfo() << "Back to where reading aloud stood:" << d->heardSource << d->heardPage;
            goLink(d->heardSource + QStringLiteral("?kelpage=") + QString::number(d->heardPage), false);
        } else if (d->page->currentPage() != d->heardPage) {
            qInfo() << "Back to where reading aloud stood: page" << d->heardPage;
            d->page->setCurrentPage(d->heardPage);
        }
    }
    if (m_bookContext)
        emit m_bookContext->readingAloudFailed();
}

void TextViewer::onTTSRequest(bool findFirst)
{
    Q_UNUSED(findFirst)
    SpeechEngine* speech = d->speech;
    // The load handler goes on once the chapter is there.
    if (!speech || !readingAloud || !d->page || d->loading)
        return;
    if (speech->state() == QTextToSpeech::BackendError) {
        speechFailed("the speech engine reports an error");
        return;
    }
    int round = 0;
    for (; round < kMaxSpeechRounds; ++round) {
        d->evaluate(QStringLiteral("pushSpeechElement()"));
        const int page = d->evaluate(QStringLiteral("ensureVisibleLastSpeechElement()")).toInt();
        if (page > 0)
            d->page->setCurrentPage(page);
        const QVariant text = d->evaluate(QStringLiteral("getTTSText()"));
        if (!text.isNull() && !text.toString().isEmpty()) {
            const QString sentence = text.toString();
            const ReadingServices::SpeechLimits limits = ReadingServices::speechLimits();
            d->sentencePending = true;
            d->sentenceLength = sentence.trimmed().size();
            d->sentenceClock.start();
            // A slower rate stretches speech up to three times at its slowest.
            const SettingsProvider* settings = SettingsProvider::instance();
            const double stretch = 1 + 2 * qBound(0.0, settings ? -settings->ttsRate() : 0.0, 1.0);
            d->sentenceWatchdog.start(limits.maxStartMs + int(limits.maxMsPerChar * stretch * d->sentenceLength));
            speech->say(sentence);
            return;
        }
        // No answer means no engine: that is the end of this text too.
        const QVariant end = d->evaluate(QStringLiteral("endOfTextStream()"));
        if (!end.isValid() || end.toBool())
            break;
    }
    if (round == kMaxSpeechRounds)
        qWarning() << "No text to speak in" << kMaxSpeechRounds << "chunks; going on with the next chapter";
    qInfo() << "end of text stream";
    const QSharedPointer<TextDocument> document = m_bookContext ? m_bookContext->textDocument() : nullptr;
    const QString next = document ? document->nextChapter(d->page->source()) : QString();
    if (!next.isEmpty())
        goLink(next, false);
    else if (m_bookContext)
        emit m_bookContext->ttsNoMoreWords();
}

void TextViewer::onNewChapterLoaded()
{
    const QVariant loadTime = sender() ? sender()->property("loadtime") : QVariant();
    if (loadTime.isValid())
        qInfo() << "page load time" << QDateTime::currentMSecsSinceEpoch() - loadTime.toLongLong() << "ms";
    emit navigationCompleted();
}

void TextViewer::onRepaginateTimer()
{
    repaginateTimer.stop();
    // The program ends: no layout or count is wanted any more, and a large book's takes a second.
    if (!m_bookContext || EndRequest::isRaised())
        return;
    qInfo() << "Text viewer: repaginate requested";
    // A chapter still loading is laid out once it is there.
    layOut(d->loading ? nullptr : d->page, true);
    if (d->page)
        emit m_bookContext->viewerIsDirtyChanged(false);
}

void TextViewer::layOut(TextBookChapter* page, bool count)
{
    BookPageParams* params = m_bookContext->pageParams();
    params->setWidth(width());
    params->setHeight(height());
    // The count is asked for before the chapter's pages change: the book context then holds no
    // total of the old layout when the chapter reports its new page numbers.
    if (count)
        m_bookContext->repaginate();
    if (page && !EndRequest::isRaised())
        page->applyPageParams(params);
}

TextBookChapter* TextViewer::chapterPage() const { return d->page; }

QString TextViewer::selectedText() const { return QWebView::selectedText(); }

void TextViewer::clearSelection() { triggerPageAction(QWebPage::Unselect); }

void TextViewer::setZoomValue(ZoomAction action, int value)
{
    qInfo() << "zoom request" << action << value;
    BookPageParams* params = m_bookContext ? m_bookContext->pageParams() : nullptr;
    if (params && action == ZoomAction::Increment)
        params->setFontSize(params->fontSize() + 1);
    else if (params && action == ZoomAction::Decrement)
        params->setFontSize(params->fontSize() - 1);
    else
        qCritical() << "action is NOT IMPLEMENTD for TextViewer";
}

void TextViewer::highlightText(const QString& text)
{
    d->searchText = text;
    findText(QString(), QWebPage::HighlightAllOccurrences);
    if (!text.isEmpty())
        findText(text, QWebPage::HighlightAllOccurrences | QWebPage::FindWrapsAroundDocument);
}

void TextViewer::next()
{
    if (d->loading)
        ++d->queuedTurns;
    else if (d->page && d->page->currentPage() > 0)
        d->page->next();
}

void TextViewer::previous()
{
    if (d->loading)
        --d->queuedTurns;
    else if (d->page && d->page->currentPage() > 0)
        d->page->prev();
}

void TextViewer::replayQueuedTurns()
{
    // A turn past the chapter's end starts the next load; the rest waits for that one.
    while (d->queuedTurns != 0 && !d->loading) {
        if (d->queuedTurns > 0) {
            --d->queuedTurns;
            next();
        } else {
            ++d->queuedTurns;
            previous();
        }
    }
}

bool TextViewer::eventFilter(QObject* watched, QEvent* event)
{
    if (d->loading && event->type() == QEvent::KeyPress && m_bookContext) {
        auto* widget = qobject_cast<QWidget*>(watched);
        auto* key = static_cast<QKeyEvent*>(event);
        // Keys typed into a text field of the window are the field's.
        if (widget && widget->window() == window() && !widget->testAttribute(Qt::WA_InputMethodEnabled)) {
            if (Hotkeys::matches(key, Hotkeys::Id::Nav_NextPage)) {
                next();
                return true;
            }
            if (Hotkeys::matches(key, Hotkeys::Id::Nav_PrevPage)) {
                previous();
                return true;
            }
        }
    }
    return QWebView::eventFilter(watched, event);
}

void TextViewer::nextChapter()
{
    const QSharedPointer<TextDocument> document = m_bookContext ? m_bookContext->textDocument() : nullptr;
    if (!document)
        return;
    const QString source = d->page ? d->page->source() : QString();
    const QString name = readableChapter(document.data(), [&] { return document->nextChapter(source); });
    if (!name.isEmpty())
        goLink(name, false);
}

void TextViewer::previousChapter()
{
    const QSharedPointer<TextDocument> document = m_bookContext ? m_bookContext->textDocument() : nullptr;
    if (!document)
        return;
    const QString source = d->page ? d->page->source() : QString();
    const QString name = readableChapter(document.data(),
        [&] { return source.isEmpty() ? document->nextChapter(QString()) : document->previousChapter(source); });
    if (!name.isEmpty())
        goLink(name + QStringLiteral("?kelpath=end"), false);
}

void TextViewer::moveToHome()
{
    const QSharedPointer<TextDocument> document = m_bookContext ? m_bookContext->textDocument() : nullptr;
    const QString name
        = document ? readableChapter(document.data(), [&] { return document->nextChapter(QString()); }) : QString();
    if (!name.isEmpty())
        goLink(name + QStringLiteral("?kelpath=start"), false);
}

void TextViewer::moveToEnd()
{
    const QSharedPointer<TextDocument> document = m_bookContext ? m_bookContext->textDocument() : nullptr;
    const QString name = document ? readableChapter(document.data(),
                             [&] { return document->chapters().isEmpty() ? QString() : document->chapters().last(); })
                                  : QString();
    if (!name.isEmpty())
        goLink(name + QStringLiteral("?kelpath=end"), false);
}

bool TextViewer::event(QEvent* event)
{
    if (event->type() == QEvent::Gesture) {
        auto* gestureEvent = static_cast<QGestureEvent*>(event);
        if (auto* swipe = static_cast<QSwipeGesture*>(gestureEvent->gesture(Qt::SwipeGesture))) {
            if (swipe->horizontalDirection() == QSwipeGesture::Left)
                previous();
            else if (swipe->horizontalDirection() == QSwipeGesture::Right)
                next();
            event->accept();
            return true;
        }
    }
    return QWebView::event(event);
}

void TextViewer::resizeEvent(QResizeEvent* event)
{
    // The size the pages were laid out at needs no new layout (a widget shown for the first time
    // is told of the size it already had).
    const BookPageParams* params = m_bookContext ? m_bookContext->pageParams() : nullptr;
    if (!params || event->size() != QSize(params->width(), params->height())) {
        if (m_bookContext)
            emit m_bookContext->viewerIsDirtyChanged(true);
        repaginateTimer.start();
    }
    QWebView::resizeEvent(event);
}

void TextViewer::mousePressEvent(QMouseEvent* event)
{
    if (linkHovered || !handleMousePressEvent(event))
        QWebView::mousePressEvent(event);
}

void TextViewer::mouseDoubleClickEvent(QMouseEvent* event) { mousePressEvent(event); }

void TextViewer::mouseReleaseEvent(QMouseEvent* event)
{
    if (linkHovered) {
        QWebView::mouseReleaseEvent(event);
        return;
    }
    if (event->button() == Qt::LeftButton) {
        noteIdUnderMouse.clear();
        if (d->page)
            d->page->findNoteId(event->pos(), [this](const QString& id) { noteIdUnderMouse = id; });
        noteRect = QRect(event->pos() + QPoint(20, -20), QSize(40, 40));
    }
    handleMouseReleaseEvent(event);
    QWebView::mouseReleaseEvent(event);
}

void TextViewer::wheelEvent(QWheelEvent* event)
{
    event->accept();
    const int delta = event->angleDelta().y();
    if (delta == 0)
        return;
    // A change of direction starts a new count.
    if ((delta > 0) != (d->wheelDelta > 0))
        d->wheelDelta = 0;
    d->wheelDelta += delta;
    while (d->wheelDelta >= kWheelStep) {
        d->wheelDelta -= kWheelStep;
        previous();
    }
    while (d->wheelDelta <= -kWheelStep) {
        d->wheelDelta += kWheelStep;
        next();
    }
}

void TextViewer::contextMenuEvent(QContextMenuEvent* event)
{
    event->accept();
    if (m_bookContext && m_bookContext->bookDto().format == kPlainTextFormat)
        emit userEvents()->encodingMenuRequested();
}

void TextViewer::keyPressEvent(QKeyEvent* event)
{
    if (!m_bookContext)
        return;
    using Id = Hotkeys::Id;
    BookPageParams* params = m_bookContext->pageParams();
    if (Hotkeys::matches(event, Id::Nav_NextPage))
        next();
    else if (Hotkeys::matches(event, Id::Nav_PrevPage))
        previous();
    else if (Hotkeys::matches(event, Id::Nav_ToStart))
        moveToHome();
    else if (Hotkeys::matches(event, Id::Nav_ToEnd))
        moveToEnd();
    else if (Hotkeys::matches(event, Id::SelText_Copy))
        m_bookContext->copySelection();
    else if (Hotkeys::matches(event, Id::SelText_Translate))
        m_bookContext->translateSelection();
    else if (Hotkeys::matches(event, Id::Zoom_In))
        setZoomValue(ZoomAction::Increment, -1);
    else if (Hotkeys::matches(event, Id::Zoom_Out))
        setZoomValue(ZoomAction::Decrement, -1);
    else if (Hotkeys::matches(event, Id::Switch_ColumnCount))
        params->setColumnCount(params->columnCount() == 1 ? 2 : 1);
    else
        QWebView::keyPressEvent(event);
}

void TextViewer::onMouseClicked()
{
    if (!noteIdUnderMouse.isEmpty()) {
        qInfo() << "There is a note under mouse, reuqest show existing note popup at" << noteRect << "for"
                << noteIdUnderMouse;
        emit userEvents()->noteClicked(noteRect, noteIdUnderMouse);
        return;
    }
    const QString selection = selectedText().trimmed();
    if (!selection.isEmpty()) {
        qInfo() << "Non-empty selection, request show new note popup at" << noteRect;
        emit userEvents()->textSelected(noteRect);
        return;
    }
    if (skipNextClick()) {
        setSkipNextClick(false);
        return;
    }
    if (clickPos().x() < width() / 2)
        previous();
    else
        next();
}

void TextViewer::onLinkClicked(const QUrl& url)
{
    qInfo() << "link clicked" << url;
    const QString scheme = url.scheme();
    if (scheme.isEmpty() || scheme == QLatin1String("file")) {
        if (m_bookContext)
            m_bookContext->navigateToLink(url.toString());
    } else if (scheme == QLatin1String("http") || scheme == QLatin1String("https") || scheme == QLatin1String("ftp")) {
        emit userEvents()->externalLinkClicked(url.toString(), true);
    }
}
