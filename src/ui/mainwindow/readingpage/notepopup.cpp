#include "notepopup.h"

#include "abstractviewer.h"
#include "bookcontext.h"
#include "hotkeys.h"
#include "kelui.h"
#include "styles/kelstyle.h"
#include "utils/kelgeometryutils.h"
#include "utils/kelwidgettreeutils.h"
#include "widgets/installscrollbars.h"
#include "widgets/kelbutton.h"
#include "widgets/kelexclusivebuttongroup.h"
#include "widgets/kelframe.h"
#include "widgets/notecolorbutton.h"
#include "windows/kelnotificationmanager.h"
#include "windows/kelpopupmenubutton.h"

#include <QAbstractTextDocumentLayout>
#include <QBoxLayout>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QScreen>
#include <QScrollBar>
#include <QShortcut>

namespace {

QString tr(const char* text) { return QCoreApplication::translate("MainWindow_Reading_NotePopup", text); }

const int kMenuButtonRole = 15;
const int kScreenMargin = 20;

} // namespace

TextEdit::TextEdit(int widgetType, QWidget* parent)
    : KelPlainTextEdit(widgetType, parent)
{
    setAutoHeight(true);
}

QSize TextEdit::sizeHint() const { return QSize(32, 32); }

int TextEdit::heightForWidth(int width) const { return qMin(KelPlainTextEdit::heightForWidth(width), kMaxHeight); }

void TextEdit::applyStyle()
{
    KelPlainTextEdit::applyStyle();
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
}

class NotePopup::Private : public QObject {
public:
    explicit Private(NotePopup* owner)
        : QObject(owner)
        , q(owner)
    {
    }

    void setMode(int newMode);
    void reset();
    void place();
    QRect globalAnchor() const;
    void chooseColor(NoteItem::NoteColor color);
    void addNote();
    void deleteNote();
    void saveComment();
    // The selection went before a note could be made of it: say so and close.
    void nothingSelected();

    NotePopup* q;
    int mode = -1;
    KelExclusiveButtonGroup* colors = nullptr;
    QString noteId;
    KelFrame* colorRow = nullptr;
    KelFrame* deleteFrame = nullptr;
    KelButton* deleteColorButton = nullptr;
    KelButton* addNoteButton = nullptr;
    KelButton* deleteNoteButton = nullptr;
    KelPopupMenuButton* searchButton = nullptr;
    KelButton* googleButton = nullptr;
    KelButton* wikipediaButton = nullptr;
    KelButton* translateButton = nullptr;
    KelButton* copyButton = nullptr;
    KelFrame* editorFrame = nullptr;
    TextEdit* editor = nullptr;
    QPoint anchorOffset;
    QRect anchorRect;
};

void NotePopup::Private::setMode(int newMode)
{
    if (mode == newMode)
        return;
    const bool selection = newMode == SelectionMode;
    const bool editing = newMode == EditorMode;
    deleteFrame->setVisible(!selection);
    addNoteButton->setVisible(!editing);
    deleteNoteButton->setVisible(newMode == NoteMode);
    searchButton->setVisible(!editing);
    translateButton->setVisible(!editing);
    copyButton->setVisible(!editing);
    editorFrame->setVisible(editing);
    if (editing)
        editor->setFocus();
    mode = newMode;
    place();
}

void NotePopup::Private::reset()
{
    noteId.clear();
    editor->setTextSilently(QString());
    // The group keeps one colour checked once one was; a fresh selection has none yet.
    for (KelButton* button : colors->buttons())
        button->setCheckedSilently(false);
}

QRect NotePopup::Private::globalAnchor() const
{
    const QRect local = anchorRect.translated(anchorOffset);
    QWidget* parent = q->parentWidget();
    return parent ? QRect(parent->mapToGlobal(local.topLeft()), local.size()) : local;
}

void NotePopup::Private::place()
{
    if (!q->isVisible())
        return;
    editor->setMaximumHeight(TextEdit::kMaxHeight);
    KelUtils::updateGeometriesRecursively(q);
    QRect rect(q->pos(), q->sizeHint());
    const QRect anchor = globalAnchor();
    QScreen* screen = QGuiApplication::screenAt(anchor.center());
    if (!screen)
        screen = q->screen();
    const QRect room = screen->availableGeometry().marginsRemoved(
        QMargins(kScreenMargin, kScreenMargin, kScreenMargin, kScreenMargin));
    // A long comment on a low screen: the editor gives up the height the popup cannot have, so
    // that the popup's own minimum size keeps it inside the margin.
    if (rect.height() > room.height() && editorFrame->isVisible()) {
        editor->setMaximumHeight(qMax(editor->minimumSizeHint().height(),
            editor->heightForWidth(editor->width()) - (rect.height() - room.height())));
        KelUtils::updateGeometriesRecursively(q);
        rect.setHeight(room.height());
    }
    rect = KelUtils::fitIntoAvailableGeometry(anchor, rect, 1, kScreenMargin);
    rect.moveLeft(qBound(room.left(), rect.left(), qMax(room.left(), room.right() - rect.width() + 1)));
    rect.moveTop(qBound(room.top(), rect.top(), qMax(room.top(), room.bottom() - rect.height() + 1)));
    // A popup grown by a mode change keeps to the reading window where it fits there beside the text.
    const QRect inWindow = KelUtils::fitIntoWindow(rect, q->parentWidget() ? q->parentWidget()->window() : nullptr);
    q->setGeometry(inWindow.intersects(anchor) && !rect.intersects(anchor) ? rect : inWindow);
}

void NotePopup::Private::chooseColor(NoteItem::NoteColor color)
{
    const QSharedPointer<BookContext> context = q->bookContext();
    if (!context)
        return;
    if (!noteId.isEmpty()) {
        context->setNoteColor(noteId, color);
        return;
    }
    if (context->addNoteAtCurrentSelection(color))
        setMode(NoteMode);
    else
        nothingSelected();
}

void NotePopup::Private::addNote()
{
    const QSharedPointer<BookContext> context = q->bookContext();
    if (!context)
        return;
    if (noteId.isEmpty()) {
        if (!context->addNoteAtCurrentSelection(NoteItem::Blue)) {
            nothingSelected();
            return;
        }
        // The colour shown is the new note's.
        colors->setCheckedByUserDataSilently(int(NoteItem::Blue));
    }
    setMode(EditorMode);
}

void NotePopup::Private::deleteNote()
{
    const QSharedPointer<BookContext> context = q->bookContext();
    if (context && !noteId.isEmpty())
        context->removeNote(noteId);
    q->hideAnimated();
}

void NotePopup::Private::nothingSelected()
{
    qInfo() << "No note made: nothing is selected";
    q->hideAnimated();
    if (KelUi* ui = KelUi::instance())
        ui->notificationManager()->showNotification(
            tr("Add note"), tr("Nothing is selected. Select the text to mark first."));
}

void NotePopup::Private::saveComment()
{
    const QSharedPointer<BookContext> context = q->bookContext();
    if (context && !noteId.isEmpty())
        context->setNoteComment(noteId, editor->text());
}

NotePopup::NotePopup(QWidget* parent)
    : KelPopupMenu(1000, Qt::Vertical, parent)
    , d(new Private(this))
{
    setHideOnClick(false);
    setKeptInOwnerWindow(true);
    QBoxLayout* layout = contentLayout();
    layout->setContentsMargins(0, 0, 0, kelStyle()->metric(1000));

    d->colors = new KelExclusiveButtonGroup(this);
    d->colorRow = new KelFrame(1042, this);
    d->colorRow->setBorderWidths(QMargins(0, 0, 0, 1));
    auto* row = new QHBoxLayout(d->colorRow);
    row->setContentsMargins(6, 6, 6, 6);
    row->setSpacing(12);
    const int roles[] = { 1023, 1026, 1029, 1032, 1035 };
    for (int i = 0; i < 5; ++i) {
        auto* button = new NoteColorButton(roles[i], d->colorRow);
        d->colors->addButton(button, i + 1);
        row->addWidget(button);
    }
    d->deleteFrame = new KelFrame(1042, d->colorRow);
    d->deleteFrame->setBorderWidths(QMargins(1, 0, 0, 0));
    d->deleteFrame->setMargins(QMargins(0, 10, 0, 10));
    auto* deleteLayout = new QHBoxLayout(d->deleteFrame);
    deleteLayout->setContentsMargins(0, 0, 0, 0);
    d->deleteColorButton = new KelButton(1031, ":/svg/trash.svg", d->deleteFrame);
    deleteLayout->addWidget(d->deleteColorButton);
    row->addWidget(d->deleteFrame);
    addWidget(d->colorRow);
    layout->addSpacing(5);

    d->editorFrame = new KelFrame(1042, this);
    auto* editorLayout = new QVBoxLayout(d->editorFrame);
    editorLayout->setContentsMargins(12, 8, 12, 8);
    editorLayout->setSpacing(0);
    d->editor = new TextEdit(1070, d->editorFrame);
    d->editor->setObjectName(QStringLiteral("NotePopupTextEdit"));
    installScrollBars(d->editor, 0);
    editorLayout->addWidget(d->editor);
    addWidget(d->editorFrame);

    d->addNoteButton = addButton(kMenuButtonRole, QStringLiteral(":/svg/notes.svg"));
    d->deleteNoteButton = addButton(kMenuButtonRole, QStringLiteral(":/svg/trash.svg"));
    d->searchButton = addPopupMenuButton(16, Qt::RightEdge, Qt::AlignTop);
    d->searchButton->setIcon(":/svg/search.svg");
    d->googleButton = d->searchButton->popupMenu()->addButton(kMenuButtonRole, QStringLiteral(":/svg/search.svg"));
    d->wikipediaButton = d->searchButton->popupMenu()->addButton(kMenuButtonRole, QStringLiteral(":/svg/search.svg"));
    d->translateButton = addButton(kMenuButtonRole, QStringLiteral(":/svg/translate.svg"));
    d->copyButton = addButton(kMenuButtonRole, QStringLiteral(":/svg/copy.svg"));

    connect(d->editor->document()->documentLayout(), &QAbstractTextDocumentLayout::documentSizeChanged, d,
        [this] { d->place(); });
    connect(this, &KelWidget::hided, d, [this] { d->reset(); });
    for (KelButton* button : { d->googleButton, d->wikipediaButton, d->translateButton, d->copyButton })
        connect(button, &KelButton::clicked, this, &KelWindow::hideAnimated);

    const struct {
        Hotkeys::Id id;
        KelButton* button;
    } keys[] = { { Hotkeys::Id::SelText_AddNote, d->addNoteButton },
        { Hotkeys::Id::SelText_RemoveNote, d->deleteNoteButton },
        { Hotkeys::Id::SelText_Translate, d->translateButton }, { Hotkeys::Id::SelText_Copy, d->copyButton } };
    for (const auto& key : keys) {
        const QList<QKeySequence> sequences = Hotkeys::sequences(key.id);
        if (sequences.isEmpty())
            continue;
        key.button->setSubText(sequences.first().toString(QKeySequence::NativeText));
        KelButton* button = key.button;
        for (const QKeySequence& sequence : sequences) {
            auto* shortcut = new QShortcut(sequence, this, nullptr, nullptr, Qt::WindowShortcut);
            connect(shortcut, &QShortcut::activated, button, [this, button] {
                if (button->isVisibleTo(this) && button->isEnabled())
                    emit button->clicked();
            });
        }
    }
    d->setMode(SelectionMode);
    translateUi();
}

NotePopup::~NotePopup() = default;

void NotePopup::showForSelection(const QRect& rect)
{
    d->reset();
    d->setMode(SelectionMode);
    d->anchorRect = rect;
    showNextToRect(d->globalAnchor(), Qt::BottomEdge, Qt::AlignLeft, true, QPoint(0, 0));
}

void NotePopup::showForNote(const QRect& rect, const QString& noteId)
{
    d->reset();
    const QSharedPointer<BookContext> context = bookContext();
    NoteItem* note = context ? context->findNote(noteId) : nullptr;
    if (!note) {
        qCritical() << "NotePopup: show for note failed, note not found. Id:" << noteId;
        return;
    }
    if (!note->note.isEmpty()) {
        d->editor->setTextSilently(note->note);
        d->setMode(EditorMode);
    } else {
        d->setMode(NoteMode);
    }
    d->noteId = note->id;
    d->colors->setCheckedByUserDataSilently(int(note->color));
    d->anchorRect = rect;
    showNextToRect(d->globalAnchor(), Qt::BottomEdge, Qt::AlignLeft, true, QPoint(0, 0));
}

void NotePopup::setAnchorOffset(const QPoint& offset) { d->anchorOffset = offset; }

void NotePopup::translateUi()
{
    KelPopupMenu::translateUi();
    if (!d)
        return;
    d->deleteColorButton->setToolTip(tr("Delete note"));
    d->addNoteButton->setText(tr("Add note"));
    d->deleteNoteButton->setText(tr("Delete note"));
    d->searchButton->setText(tr("Search"));
    d->googleButton->setText(tr("Search on Google"));
    d->wikipediaButton->setText(tr("Search on Wikipedia"));
    d->translateButton->setText(tr("Translate"));
    d->copyButton->setText(tr("Copy"));
    d->editor->setPlaceholderText(tr("Add note") + QStringLiteral("..."));
    if (d->editor->toPlainText().isEmpty()) {
        // The placeholder is drawn anew only after a change of the text.
        d->editor->setTextSilently(QStringLiteral("1"));
        d->editor->setTextSilently(QString());
    }
}

int NotePopup::mode() const { return d->mode; }
QString NotePopup::currentNoteId() const { return d->noteId; }
KelExclusiveButtonGroup* NotePopup::colorGroup() const { return d->colors; }
KelButton* NotePopup::addNoteButton() const { return d->addNoteButton; }
KelButton* NotePopup::deleteNoteButton() const { return d->deleteNoteButton; }
KelButton* NotePopup::deleteColorButton() const { return d->deleteColorButton; }
TextEdit* NotePopup::editor() const { return d->editor; }

void NotePopup::onBookContextChanged(QSharedPointer<BookContext> context)
{
    BookContext* book = context.data();
    if (AbstractViewer* viewer = book->viewer()) {
        m_bookConnections << connect(
            viewer->userEvents(), &AbstractViewer::UserEvents::textSelected, this, &NotePopup::showForSelection);
        m_bookConnections << connect(
            viewer->userEvents(), &AbstractViewer::UserEvents::noteClicked, this, &NotePopup::showForNote);
    }
    m_bookConnections << connect(book, &BookContext::noteRemoved, this, [this](const QString& id) {
        if (!d->noteId.isEmpty() && id == d->noteId)
            hideAnimated();
    });
    m_bookConnections << connect(book, &BookContext::noteAdded, this, [this](const NoteItem& note) {
        d->noteId = note.id;
        if (d->noteId.isEmpty()) {
            qWarning() << "create note failed";
            hideAnimated();
        }
    });
    m_bookConnections << connect(
        d->colors, &KelExclusiveButtonGroup::toggled, this, [this](KelButton*, const QVariant& data) {
            bool ok = false;
            const int color = data.toInt(&ok);
            d->chooseColor(NoteItem::NoteColor(ok ? color : 0));
        });
    m_bookConnections << connect(d->addNoteButton, &KelButton::clicked, this, [this] { d->addNote(); });
    m_bookConnections << connect(d->deleteColorButton, &KelButton::clicked, this, [this] { d->deleteNote(); });
    m_bookConnections << connect(d->deleteNoteButton, &KelButton::clicked, this, [this] { d->deleteNote(); });
    m_bookConnections << connect(d->googleButton, &KelButton::clicked, book, &BookContext::searchSelectionGoogle);
    m_bookConnections << connect(d->wikipediaButton, &KelButton::clicked, book, &BookContext::searchSelectionWikipedia);
    m_bookConnections << connect(d->translateButton, &KelButton::clicked, book, &BookContext::translateSelection);
    m_bookConnections << connect(d->copyButton, &KelButton::clicked, book, &BookContext::copySelection);
    m_bookConnections << connect(d->editor, &QPlainTextEdit::textChanged, this, [this] { d->saveComment(); });
}

void NotePopup::resetBookState() { hide(); }
