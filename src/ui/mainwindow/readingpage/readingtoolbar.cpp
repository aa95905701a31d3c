#include "readingtoolbar.h"

#include "abstractviewer.h"
#include "application.h"
#include "bookcontext.h"
#include "hotkeys.h"
#include "metrics/metricsender.h"
#include "settingsprovider.h"
#include "speechservice.h"
#include "ui.h"
#include "utils/kelwidgettreeutils.h"
#include "widgets/keldelimiter.h"
#include "widgets/kelexclusivebuttongroup.h"
#include "widgets/kellabel.h"
#include "widgets/kelslider.h"
#include "widgets/kelspinbox.h"
#include "widgets/kelwidget.h"
#include "windows/kelpopupmenu.h"

#include <QCoreApplication>
#include <QGraphicsEffect>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QTextToSpeech>
#include <QTimer>
#include <QVBoxLayout>

#include <cmath>

namespace {

// The values of the side-page buttons: the side pages they open.
enum SideBarValue { Toc = 1, Notes = 2, Bookmarks = 4, Search = 8, Settings = 16, Print = 32 };

const int kMaxTtsMetrics = 10;

QString tr(const char* text) { return QCoreApplication::translate("MainWindow_Reading_ToolBar", text); }

QString keyText(Hotkeys::Id id)
{
    const QList<QKeySequence> sequences = Hotkeys::sequences(id);
    return sequences.isEmpty() ? QString() : sequences.first().toString(QKeySequence::NativeText);
}

// The tool tip followed by the action's first key in quotes.
QString withKey(const QString& text, Hotkeys::Id id)
{
    const QString key = keyText(id);
    return key.isEmpty() ? text : text + QStringLiteral(" \"") + key + QLatin1Char('"');
}

KelDelimiter* delimiter(QWidget* parent) { return new KelDelimiter(1067, Qt::Vertical, parent); }

QHBoxLayout* rowLayout(QWidget* widget)
{
    auto* layout = new QHBoxLayout(widget);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    return layout;
}

bool canAct(const KelButton* button, const QWidget* box)
{
    return button->isVisibleTo(const_cast<QWidget*>(box)) && button->isEnabled() && box->isEnabled();
}

} // namespace

ReadingToolBar::ShrinkableButton::ShrinkableButton(const QString& iconName, QWidget* parent)
    : KelButton(1022, iconName, parent)
{
}

void ReadingToolBar::ShrinkableButton::setFullText(const QString& text)
{
    m_fullText = text;
    // What the text adds to the icon-only button, spacing included.
    KelButton::setText(QString());
    const int bare = sizeHint().width();
    KelButton::setText(text);
    m_textWidth = qMax(QFontMetrics(font()).horizontalAdvance(text), sizeHint().width() - bare);
    if (m_shrunk)
        KelButton::setText(QString());
}

void ReadingToolBar::ShrinkableButton::setShrunk(bool shrunk)
{
    m_shrunk = shrunk;
    KelButton::setText(shrunk ? QString() : m_fullText);
}

ReadingToolBar::VolumeButton::VolumeButton(QWidget* parent)
    : KelPopupMenuButton(1022, OpenOnToggle, Qt::BottomEdge, Qt::AlignRight, parent)
{
    setObjectName(QStringLiteral("VolumeButton"));
    setPopupOffset(8, 0);
    KelPopupMenu* popup = popupMenu();
    popup->setObjectName(QStringLiteral("VolumeButtonPopup"));
    popup->setHideOnClick(false);
    auto* content = new QWidget(popup);
    auto* column = new QVBoxLayout(content);
    column->setContentsMargins(0, 0, 0, 0);
    auto* row = new QHBoxLayout;
    row->setContentsMargins(0, 0, 0, 3);
    m_caption = new KelLabel(7, content);
    m_value = new KelLabel(7, content);
    row->addWidget(m_caption);
    row->addStretch();
    row->addWidget(m_value);
    column->addLayout(row);
    m_slider = new KelSlider(Qt::Horizontal, content);
    m_slider->setObjectName(QStringLiteral("VolumeSlider"));
    m_slider->setRange(0, 100);
    column->addWidget(m_slider);
    popup->addWidget(content);

    SettingsProvider* settings = SettingsProvider::instance();
    auto follow = [this](double volume) {
        m_slider->setValueSilently(qRound(volume * 100));
        showVolume(m_slider->value());
    };
    follow(settings->ttsVolume());
    connect(settings, &SettingsProvider::ttsVolumeChanged, this, follow);
    connect(m_slider, &KelSlider::valueChanged, this, [this](int value) {
        showVolume(value);
        SettingsProvider::instance()->setTtsVolume(value / 100.0);
    });
}

void ReadingToolBar::VolumeButton::showVolume(int value)
{
    m_value->setText(QString::number(value));
    m_slider->setToolTip(QString::number(value));
    setIcon(value == 0 ? ":/svg/tts-volume-0.svg" : ":/svg/tts-volume-100.svg");
}

ReadingToolBar::ReadAloudBox::ReadAloudBox(QWidget* parent)
    : QWidget(parent)
{
    setObjectName(QStringLiteral("ReadAloudToolbar"));
    QHBoxLayout* layout = rowLayout(this);
    prevButton = new KelButton(1021, ":/svg/tts-prev.svg", this);
    nextButton = new KelButton(1021, ":/svg/tts-next.svg", this);
    stopButton = new KelButton(1021, ":/svg/tts-stop.svg", this);
    playButton = new KelButton(1021, ":/svg/tts-play.svg", this);
    playButton->setCheckable(true);
    volumeButton = new VolumeButton(this);
    for (QWidget* widget : { static_cast<QWidget*>(prevButton), static_cast<QWidget*>(nextButton),
             static_cast<QWidget*>(stopButton), static_cast<QWidget*>(playButton) }) {
        layout->addWidget(widget);
        layout->addSpacing(6);
    }
    layout->addWidget(volumeButton);
    layout->addWidget(delimiter(this));
    stopButton->hide();
    prevButton->hide();
    nextButton->hide();
}

ReadingToolBar::ZoomBox::ZoomBox(QWidget* parent)
    : QWidget(parent)
{
    setObjectName(QStringLiteral("ZoomBox"));
    QHBoxLayout* layout = rowLayout(this);
    zoomInButton = new KelButton(1021, ":/svg/zoom-in.svg", this);
    zoomValue = new KelSpinBox(1071, this);
    zoomValue->setAlignment(Qt::AlignCenter);
    zoomValue->setSuffix(QStringLiteral("%"));
    zoomValue->setRange(10, 1000);
    zoomValue->setValue(100);
    zoomValue->installEventFilter(this);
    zoomOutButton = new KelButton(1021, ":/svg/zoom-out.svg", this);
    fitWidthButton = new KelButton(1022, ":/svg/fit-width.svg", this);
    fitWidthButton->setCheckable(true);
    fitPageButton = new KelButton(1022, ":/svg/fit-page.svg", this);
    fitPageButton->setCheckable(true);
    layout->addWidget(zoomInButton);
    layout->addSpacing(5);
    layout->addWidget(zoomValue);
    layout->addSpacing(4);
    layout->addWidget(zoomOutButton);
    layout->addWidget(delimiter(this));
    layout->addWidget(fitWidthButton);
    layout->addSpacing(6);
    layout->addWidget(fitPageButton);
    layout->addSpacing(6);
}

bool ReadingToolBar::ZoomBox::eventFilter(QObject* watched, QEvent* event)
{
    // The spin box takes every key it is given; unanswered, the event travels up to the page.
    if (watched == zoomValue && event->type() == QEvent::KeyPress
        && static_cast<QKeyEvent*>(event)->matches(QKeySequence::Cancel)) {
        event->ignore();
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

ReadingToolBar::ReadingToolBar(QWidget* parent)
    : KelFrame(1045, parent)
{
    setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
    setBorderWidths(QMargins(0, 0, 0, 1));
    m_sideBarGroup = new KelExclusiveButtonGroup(1022, this);
    m_sideBarGroup->setEmptySelectionAllowed(true);

    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(12, 8, 12, 8);
    layout->setSpacing(0);
    m_leftBox = new KelWidget(this);
    m_rightBox = new KelWidget(this);
    m_titleLabel = new KelLabel(1057, this);
    // Book and chapter titles are text, whatever tags they hold.
    m_titleLabel->setTextFormat(Qt::PlainText);
    m_titleLabel->hide();
    layout->addWidget(m_leftBox, 1);
    layout->addWidget(m_titleLabel);
    layout->addWidget(m_rightBox, 1);

    QHBoxLayout* left = rowLayout(m_leftBox);
    m_libraryButton = new ShrinkableButton(":/svg/book.svg", m_leftBox);
    m_tocButton = new ShrinkableButton(":/svg/toc.svg", m_leftBox);
    m_notesButton = new ShrinkableButton(":/svg/notes.svg", m_leftBox);
    m_bookmarksButton = new ShrinkableButton(":/svg/bookmark.svg", m_leftBox);
    m_sideBarGroup->addButton(m_tocButton, Toc);
    m_sideBarGroup->addButton(m_notesButton, Notes);
    m_sideBarGroup->addButton(m_bookmarksButton, Bookmarks);
    m_searchButton = m_sideBarGroup->createButton(Search, QStringLiteral(":/svg/search.svg"));
    m_tocDelimiter = delimiter(m_leftBox);
    m_notesDelimiter = delimiter(m_leftBox);
    m_bookmarksDelimiter = delimiter(m_leftBox);
    m_searchDelimiter = delimiter(m_leftBox);
    left->addWidget(m_libraryButton);
    left->addWidget(m_tocDelimiter);
    left->addWidget(m_tocButton);
    left->addWidget(m_notesDelimiter);
    left->addWidget(m_notesButton);
    left->addWidget(m_bookmarksDelimiter);
    left->addWidget(m_bookmarksButton);
    left->addWidget(m_searchDelimiter);
    left->addWidget(m_searchButton);
    left->addStretch();

    QHBoxLayout* right = rowLayout(m_rightBox);
    m_readAloudBox = new ReadAloudBox(m_rightBox);
    m_readAloudBox->hide();
    m_zoomBox = new ZoomBox(m_rightBox);
    m_zoomBox->hide();
    m_fullscreenButton = new KelButton(1022, ":/svg/fullscreen.svg", m_rightBox);
    m_fullscreenButton->setCheckable(true);
    m_settingsButton = m_sideBarGroup->createButton(Settings, QStringLiteral(":/svg/settings.svg"));
    m_printButton = m_sideBarGroup->createButton(Print, QStringLiteral(":/svg/print.svg"));
    right->addStretch();
    right->addWidget(m_readAloudBox);
    right->addWidget(m_zoomBox);
    right->addWidget(m_fullscreenButton);
    right->addWidget(delimiter(m_rightBox));
    right->addWidget(m_settingsButton);
    right->addSpacing(6);
    right->addWidget(m_printButton);

    connect(m_leftBox, &KelWidget::resized, this, &ReadingToolBar::relayoutShrinkable);
    connect(m_rightBox, &KelWidget::resized, this, &ReadingToolBar::relayoutShrinkable);
    retranslateUi();
    setFullscreenLook(false);
}

ReadingToolBar::~ReadingToolBar() = default;

KelPopupMenu* ReadingToolBar::volumePopup() const { return m_readAloudBox->volumeButton->popupMenu(); }

QWidget* ReadingToolBar::leftBox() const { return m_leftBox; }

void ReadingToolBar::setTitle(const QString& title)
{
    m_titleLabel->setText(title);
    relayoutShrinkable();
}

void ReadingToolBar::setFullscreenLook(bool on)
{
    m_fullscreenLook = on;
    m_titleLabel->setVisible(on);
    // The shadow sets the floating bar off the page beneath; docked, the bottom line does.
    if (QGraphicsEffect* shadow = graphicsEffect())
        shadow->setEnabled(on);
}

void ReadingToolBar::applyStyle()
{
    KelFrame::applyStyle();
    if (QGraphicsEffect* shadow = graphicsEffect())
        shadow->setEnabled(m_fullscreenLook);
}

void ReadingToolBar::relayoutShrinkable()
{
    const QList<ShrinkableButton*> buttons { m_tocButton, m_bookmarksButton, m_notesButton, m_libraryButton };
    for (ShrinkableButton* button : buttons) {
        if (m_leftBox->sizeHint().width() <= m_leftBox->width())
            break;
        if (!button->isVisibleTo(m_leftBox) || button->isShrunk())
            continue;
        button->setShrunk(true);
        KelUtils::updateGeometriesRecursively(m_leftBox);
    }
    for (auto it = buttons.crbegin(); it != buttons.crend(); ++it) {
        ShrinkableButton* button = *it;
        if (!button->isVisibleTo(m_leftBox) || !button->isShrunk())
            continue;
        if (m_leftBox->width() < m_leftBox->sizeHint().width() + button->textWidth())
            break;
        button->setShrunk(false);
        KelUtils::updateGeometriesRecursively(m_leftBox);
    }
}

void ReadingToolBar::retranslateUi()
{
    m_libraryButton->setFullText(tr("Library"));
    m_libraryButton->setToolTip(tr("Finish reading and return to library"));
    m_tocButton->setFullText(tr("Contents"));
    m_tocButton->setToolTip(withKey(tr("Show or hide table of contents"), Hotkeys::Id::Sidebar_Toc_Show));
    updateNotesText();
    m_bookmarksButton->setFullText(tr("Bookmarks"));
    m_bookmarksButton->setToolTip(withKey(tr("Show or hide bookmarks list"), Hotkeys::Id::Sidebar_Bookmarks_Show));
    m_searchButton->setToolTip(withKey(tr("Show or hide search panel"), Hotkeys::Id::Sidebar_Search_Show));

    ReadAloudBox* tts = m_readAloudBox;
    tts->prevButton->setToolTip(withKey(tr("Previous paragraph"), Hotkeys::Id::Tts_PrevParagraph));
    tts->playButton->setText(tr("Read Aloud"));
    tts->playButton->setToolTip(withKey(tr("Begin/pause text-to-speech reading"), Hotkeys::Id::Tts_StartPause));
    tts->nextButton->setToolTip(withKey(tr("Next paragraph"), Hotkeys::Id::Tts_NextParagraph));
    tts->stopButton->setToolTip(withKey(tr("Stop"), Hotkeys::Id::Tts_Stop));
    const auto quoted = [](Hotkeys::Id id) { return QStringLiteral("\"%1\"").arg(keyText(id)); };
    tts->volumeButton->setToolTip(
        tr("Reading volume\n%1 to increase\n%2 to decrease")
            .arg(quoted(Hotkeys::Id::Tts_IncreaseVolume), quoted(Hotkeys::Id::Tts_DecreaseVolume)));
    tts->volumeButton->caption()->setText(tr("Reading volume"));

    ZoomBox* zoom = m_zoomBox;
    zoom->zoomInButton->setToolTip(withKey(tr("Zoom in"), Hotkeys::Id::Zoom_In));
    zoom->zoomOutButton->setToolTip(withKey(tr("Zoom out"), Hotkeys::Id::Zoom_Out));
    zoom->zoomValue->setToolTip(
        tr("Zoom value\nPress %1 to reset to 100%").arg(QLatin1Char(' ') + keyText(Hotkeys::Id::Zoom_Initial)));
    zoom->fitWidthButton->setToolTip(withKey(tr("Fit to width"), Hotkeys::Id::Zoom_FitWidth));
    zoom->fitPageButton->setToolTip(withKey(tr("Fit to page"), Hotkeys::Id::Zoom_FitPage));
    m_fullscreenButton->setToolTip(withKey(tr("Switch fullscreen mode"), Hotkeys::Id::Switch_Fullscreen));
    m_settingsButton->setToolTip(tr("Settings"));
    m_printButton->setToolTip(tr("Print"));
    relayoutShrinkable();
}

void ReadingToolBar::updateNotesText()
{
    const QSharedPointer<BookContext> context = bookContext();
    const int count = context ? context->notes().size() : 0;
    // Notes the state file did not take are gone after a restart: the count is marked, briefly, so
    // the longer text does not push the other buttons' labels off a narrow bar.
    const bool unsaved = context && context->hasUnsavedState();
    m_notesButton->setFullText(unsaved ? tr("Notes (%1*)").arg(count) : tr("Notes (%1)").arg(count));
    const QString tip = withKey(tr("Show or hide color notes list"), Hotkeys::Id::Sidebar_Notes_Show);
    m_notesButton->setToolTip(
        unsaved ? tip + QLatin1Char('\n') + tr("* Not saved: the book's notes could not be written to disk.") : tip);
}

void ReadingToolBar::onBookContextChanged(QSharedPointer<BookContext> context)
{
    BookContext* book = context.data();
    AbstractViewer* viewer = book->viewer();
    const auto has = [viewer](AbstractViewer::Feature feature) { return viewer && viewer->supports(feature); };
    const bool notes = has(AbstractViewer::Feature::Notes);
    m_tocButton->setVisible(has(AbstractViewer::Feature::Toc));
    m_tocDelimiter->setVisible(m_tocButton->isVisibleTo(m_leftBox));
    m_notesButton->setVisible(notes);
    m_notesDelimiter->setVisible(notes);
    m_bookmarksButton->setVisible(has(AbstractViewer::Feature::Bookmarks));
    m_bookmarksDelimiter->setVisible(m_bookmarksButton->isVisibleTo(m_leftBox));
    m_searchButton->setVisible(has(AbstractViewer::Feature::Search));
    m_searchDelimiter->setVisible(m_searchButton->isVisibleTo(m_leftBox));
    const bool zoom = has(AbstractViewer::Feature::Zoom);
    m_zoomBox->setVisible(zoom);
    m_printButton->setVisible(has(AbstractViewer::Feature::Print));

    if (notes) {
        auto update = [this] {
            updateNotesText();
            relayoutShrinkable();
        };
        m_bookConnections << connect(book, &BookContext::noteAdded, this, update);
        m_bookConnections << connect(book, &BookContext::noteRemoved, this, update);
        m_bookConnections << connect(book, &BookContext::unsavedStateChanged, this, update);
        updateNotesText();
    }

    if (zoom && viewer) {
        ZoomBox* box = m_zoomBox;
        using Action = AbstractViewer::ZoomAction;
        m_bookConnections << connect(
            box->zoomInButton, &KelButton::clicked, book, [viewer] { viewer->setZoomValue(Action::Increment, -1); });
        m_bookConnections << connect(
            box->zoomOutButton, &KelButton::clicked, book, [viewer] { viewer->setZoomValue(Action::Decrement, -1); });
        m_bookConnections << connect(box->fitPageButton, &KelButton::toggled, book, [viewer](bool on) {
            if (on)
                viewer->setZoomValue(Action::FitPage, -1);
        });
        m_bookConnections << connect(box->fitWidthButton, &KelButton::toggled, book, [viewer](bool on) {
            if (on)
                viewer->setZoomValue(Action::FitWidth, -1);
        });
        m_bookConnections << connect(box->zoomValue, &KelSpinBox::intValueChanged, book,
            [viewer](int value) { viewer->setZoomValue(Action::Value, value); });
        m_bookConnections << connect(
            viewer->userEvents(), &AbstractViewer::UserEvents::zoomChanged, this, &ReadingToolBar::syncZoom);
        syncZoom();
    }

    ReadAloudBox* tts = m_readAloudBox;
    m_readAloudBox->setVisible(has(AbstractViewer::Feature::ReadAluod));
    // The speech engine is made on the first press, so the box takes clicks before it exists.
    disconnect(m_speechWait);
    book->readingAloud(false);
    tts->playButton->setCheckedSilently(false);
    tts->stopButton->hide();
    m_bookConnections << connect(tts->playButton, &KelButton::toggled, this, &ReadingToolBar::onPlayToggled);
    m_bookConnections << connect(tts->stopButton, &KelButton::clicked, this, &ReadingToolBar::onReadAloudStopped);
    m_bookConnections << connect(book, &BookContext::ttsNoMoreWords, this, &ReadingToolBar::onReadAloudStopped);
    m_bookConnections << connect(book, &BookContext::readingAloudFailed, this, [this] { readingAloudRefused(true); });
    m_bookConnections << connect(tts->nextButton, &KelButton::clicked, book, &BookContext::readingAloudGoNext);
    m_bookConnections << connect(tts->prevButton, &KelButton::clicked, book, &BookContext::readingAloudGoPrev);
    relayoutShrinkable();
}

void ReadingToolBar::syncZoom()
{
    const QSharedPointer<BookContext> context = bookContext();
    AbstractViewer* viewer = context ? context->viewer() : nullptr;
    if (!viewer)
        return;
    using Action = AbstractViewer::ZoomAction;
    m_zoomBox->fitPageButton->setCheckedSilently(viewer->zoomAction() == Action::FitPage);
    m_zoomBox->fitWidthButton->setCheckedSilently(viewer->zoomAction() == Action::FitWidth);
    m_zoomBox->zoomValue->setValueSilently(viewer->zoomValue());
}

void ReadingToolBar::onPlayToggled(bool checked)
{
    const QSharedPointer<BookContext> context = bookContext();
    if (!context)
        return;
    if (checked) {
        if (m_ttsMetricCount < kMaxTtsMetrics) {
            ++m_ttsMetricCount;
            MetricSender::addMetricValue(QStringLiteral("tts"), 1);
        }
        m_readAloudBox->stopButton->show();
        startReadingAloud();
    } else {
        context->readingAloudPause();
        m_readAloudBox->stopButton->show();
    }
}

void ReadingToolBar::startReadingAloud()
{
    Application* app = Application::instance();
    SpeechService* speech = app ? app->speechService() : nullptr;
    // A service found missing before may have been started since: each press asks again.
    if (speech && speech->status() != SpeechService::Status::Ready
        && speech->status() != SpeechService::Status::Connecting)
        app->initTts();
    const SpeechService::Status status = speech ? speech->status() : SpeechService::Status::Unavailable;
    if (status == SpeechService::Status::Ready) {
        if (const QSharedPointer<BookContext> context = bookContext())
            context->readingAloud(true);
        return;
    }
    if (status == SpeechService::Status::Unavailable) {
        readingAloudRefused(false);
        return;
    }
    // Connecting: the button stays on and reading starts when the engine is ready.
    qInfo() << "Read aloud waits for the speech service";
    disconnect(m_speechWait);
    m_speechWait = connect(speech, &SpeechService::statusChanged, this, [this](SpeechService::Status now) {
        if (now == SpeechService::Status::Connecting)
            return;
        disconnect(m_speechWait);
        if (!m_readAloudBox->playButton->isChecked())
            return;
        const QSharedPointer<BookContext> context = bookContext();
        if (now != SpeechService::Status::Ready)
            readingAloudRefused(false);
        else if (context)
            context->readingAloud(true);
    });
}

void ReadingToolBar::readingAloudRefused(bool failedWhileSpeaking)
{
    qWarning() << (failedWhileSpeaking ? "Read aloud: the speech engine could not speak; reading aloud is off"
                                       : "Read aloud: text to speech is not available");
    onReadAloudStopped();
    // The next press makes a new engine (the sound output may be back by then).
    Application* app = Application::instance();
    if (failedWhileSpeaking && app && app->speechService())
        app->speechService()->dropEngine(QStringLiteral("it could not speak a sentence"));
    // Told after the press or the failure has been handled: the box runs its own event loop.
    QTimer::singleShot(0, this, [failedWhileSpeaking] {
        if (Ui* ui = Ui::instance()) {
            if (failedWhileSpeaking)
                ui->showReadingAloudFailed();
            else
                ui->showReadingAloudUnavailable();
        }
    });
}

void ReadingToolBar::onReadAloudStopped()
{
    if (const QSharedPointer<BookContext> context = bookContext())
        context->readingAloud(false);
    m_readAloudBox->playButton->setCheckedSilently(false);
    m_readAloudBox->stopButton->hide();
}

bool ReadingToolBar::handleKey(QKeyEvent* event)
{
    ReadAloudBox* tts = m_readAloudBox;
    const struct {
        Hotkeys::Id id;
        KelButton* button;
    } clicks[] = { { Hotkeys::Id::Tts_PrevParagraph, tts->prevButton },
        { Hotkeys::Id::Tts_NextParagraph, tts->nextButton }, { Hotkeys::Id::Tts_Stop, tts->stopButton } };
    for (const auto& entry : clicks) {
        if (!Hotkeys::matches(event, entry.id))
            continue;
        if (canAct(entry.button, tts))
            emit entry.button->clicked();
        return true;
    }
    if (Hotkeys::matches(event, Hotkeys::Id::Tts_StartPause)) {
        if (canAct(tts->playButton, tts))
            tts->playButton->setChecked(!tts->playButton->isChecked());
        return true;
    }
    const bool down = Hotkeys::matches(event, Hotkeys::Id::Tts_DecreaseVolume);
    if (down || Hotkeys::matches(event, Hotkeys::Id::Tts_IncreaseVolume)) {
        if (tts->volumeButton->isVisibleTo(tts)) {
            SettingsProvider* settings = SettingsProvider::instance();
            // In whole hundredths, so that 0.97 + 0.05 stops at 1.0 rather than 1.02.
            const int step = down ? -5 : 5;
            const int hundredths = qBound(0, int(std::lround(settings->ttsVolume() * 100)) + step, 100);
            settings->setTtsVolume(hundredths / 100.0);
        }
        return true;
    }
    return false;
}
