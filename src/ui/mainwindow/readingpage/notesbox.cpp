#include "notesbox.h"

#include "bookcontext.h"
#include "bookmarksbox.h"
#include "displayformats.h"
#include "models/notesmodel.h"
#include "models/notessortfiltermodel.h"
#include "painting/kelpaintcontext.h"
#include "readingenums.h"
#include "styles/kelstyle.h"
#include "widgets/kelcombobox.h"
#include "widgets/kellabel.h"
#include "widgets/kellineedit.h"
#include "widgets/kelplaintextedit.h"
#include "widgets/notecolorbutton.h"
#include "widgets/wordwraplabel.h"
#include "windows/kelpopupmenu.h"

#include <QBoxLayout>
#include <QCoreApplication>
#include <QDebug>
#include <QHBoxLayout>
#include <QPainter>
#include <QVBoxLayout>

namespace {
constexpr int kColorFilterStyle = 1033;
constexpr int kAllColorsStyle = 1030;
constexpr int kPopupStyle = 1000;
constexpr int kSearchFieldStyle = 1069;
constexpr int kDeleteButtonStyle = 1021;
constexpr int kPassageStyle = 1056;
constexpr int kEditorStyle = 1070;
constexpr int kSmallStyle = 1053;
constexpr int kBarLeft = 14;
constexpr int kBarWidth = 4;

QString trNotes(const char* text) { return QCoreApplication::translate("MainWindow_Reading_Notes", text); }

// A text matched literally: what users type here is a word or two, not a pattern.
QRegExp literalPattern(const QString& text) { return QRegExp(text, Qt::CaseInsensitive, QRegExp::FixedString); }
}

int noteSideColorRole(int color)
{
    return color >= NoteItem::Blue && color <= NoteItem::Green ? 1023 + 3 * (color - NoteItem::Blue) : 0;
}

NoteWidget::NoteWidget(QWidget* parent)
    : ReadingModelItemButton(parent)
    , m_dateLabel(new KelLabel(kSmallStyle, this))
    , m_pageLabel(new KelLabel(kSmallStyle, this))
    , m_deleteButton(new KelButton(kDeleteButtonStyle, QStringLiteral(":/svg/trash.svg"), this))
    , m_passageLabel(new WordWrapLabel(kPassageStyle, this))
    , m_editor(new KelPlainTextEdit(kEditorStyle, this))
{
    m_editor->setObjectName(QStringLiteral("NoteItemTextEdit"));
    m_passageLabel->setMaxLineCount(3);
    QVBoxLayout* layout = readingRowLayout(this, m_dateLabel, m_pageLabel, m_deleteButton);
    layout->addWidget(m_passageLabel);
    layout->addSpacing(13);
    layout->addWidget(m_editor);
    layout->addSpacerItem(new QSpacerItem(0, 0, QSizePolicy::Fixed, QSizePolicy::Preferred));
    connect(m_deleteButton, &KelButton::clicked, this, [this] { emit removeClicked(m_id); });
    connect(m_editor, &QPlainTextEdit::cursorPositionChanged, this, &NoteWidget::textCursorPositionChanged);
    // Every change is the user's (the model's own updates are set silently), whether typed or
    // dropped or pasted with the focus elsewhere.
    connect(m_editor, &KelPlainTextEdit::plainTextChanged, this, [this](const QString& text) {
        if (m_emittingEdit)
            return;
        m_emittingEdit = true;
        emit textEdited(m_id, text);
        m_emittingEdit = false;
    });
}

void NoteWidget::readFrom(const QModelIndex& index)
{
    // The model answers our own edit; resetting the editor would move the cursor under the user.
    if (m_emittingEdit)
        return;
    const QVariant data = index.data(Qt::UserRole);
    if (!data.canConvert<NoteItem>()) {
        qCritical() << "NoteWidget: trying to read from invalid index, no UserData";
        return;
    }
    const NoteItem item = data.value<NoteItem>();
    setLink(item.link);
    m_id = item.id;
    m_date = item.date;
    m_color = item.color;
    m_pageLabel->setText(formatPageNumber(page()));
    m_passageLabel->setText(item.context.trimmed());
    m_editor->setTextSilently(item.note);
    m_dateLabel->setText(formatDateTime(m_date));
    updateCurrentState();
    update();
}

void NoteWidget::retranslateUi()
{
    m_deleteButton->setToolTip(trNotes("Delete note"));
    m_editor->setPlaceholderText(trNotes("Add note..."));
    if (m_editor->toPlainText().isEmpty()) {
        // The placeholder is only redrawn on a change of the text.
        m_editor->setTextSilently(QStringLiteral("1"));
        m_editor->setTextSilently(QString());
    }
    m_dateLabel->setText(formatDateTime(m_date));
}

void NoteWidget::onCurrentDayChanged() { m_dateLabel->setText(formatDateTime(m_date)); }

void NoteWidget::paintEvent(QPaintEvent* event)
{
    ReadingModelItemButton::paintEvent(event);
    const int role = noteSideColorRole(m_color);
    KelStyle* style = kelStyle();
    if (!role || !style)
        return;
    const QRect passage = m_passageLabel->geometry();
    KelPaintContext context(this);
    QPainter* painter = context.painter();
    painter->setRenderHint(QPainter::Antialiasing);
    painter->setPen(Qt::NoPen);
    painter->setBrush(style->color(role));
    painter->drawRoundedRect(
        QRectF(kBarLeft, passage.top(), kBarWidth, passage.height()), kBarWidth / 2.0, kBarWidth / 2.0);
}

NotesBox::NotesBox(QWidget* parent)
    : BookItemsSideBar(ReadingEnums::Notes, parent, TrackPageRange)
    , m_colorFilter(new KelComboBox(kColorFilterStyle, QSizePolicy::Fixed, 1, this))
    , m_searchField(new KelLineEdit(kSearchFieldStyle, this))
{
    setObjectName(QStringLiteral("Notes"));
    m_colorFilter->setIcon(QStringLiteral(":/svg/colors.svg"));
    KelPopupMenu* popup = m_colorFilter->popupMenu();
    popup->setOrientation(Qt::Horizontal);
    popup->contentLayout()->setContentsMargins(6, 6, 6, 6);
    popup->contentLayout()->setSpacing(6);
    popup->setWidgetType(kPopupStyle);
    popup->setKeptInOwnerWindow(true);
    m_colorFilter->addItemButton(new KelButton(kAllColorsStyle), 0);
    for (int color = NoteItem::Blue; color <= NoteItem::Green; ++color)
        m_colorFilter->addItemButton(new NoteColorButton(noteSideColorRole(color)), color);
    // The filter speaks through its icons: a colour's number is no text for the user.
    for (int color = 0; color <= NoteItem::Green; ++color)
        m_colorFilter->setItemText(color, QString());
    m_colorFilter->setCurrentDataSilently(0);
    headerLayout()->addWidget(m_colorFilter);
    headerLayout()->addWidget(m_searchField);

    modelWidget()->installRowFactory<NoteWidget>();
    auto* proxy = new NotesSortFilterModel;
    proxy->sort(5, Qt::DescendingOrder);
    setProxyModel(proxy);

    connect(m_colorFilter, &KelComboBox::currentDataChanged, this, &NotesBox::onColorFilterChanged);
    connect(m_searchField, &QLineEdit::textEdited, this, [this](const QString& text) {
        static_cast<NotesSortFilterModel*>(proxyModel())->setFilterRegExp(literalPattern(text.trimmed()));
    });
}

void NotesBox::onColorFilterChanged(const QVariant& data)
{
    const int color = data.canConvert<int>() ? data.toInt() : 0;
    KelButton* current = m_colorFilter->currentButton();
    if (color == 0 || !current) {
        m_colorFilter->setIcon(QStringLiteral(":/svg/colors.svg"));
        if (KelStyle* style = kelStyle())
            m_colorFilter->setIconColors(KelStateColors(style->defaultTextColor()));
    } else {
        m_colorFilter->setIcon(current->icon());
        m_colorFilter->setIconColors(current->iconColors());
    }
    static_cast<NotesSortFilterModel*>(proxyModel())->setColorFilter(color);
}

QString NotesBox::title() const { return trNotes("Notes"); }

QString NotesBox::closeText() const { return trNotes("Close"); }

QString NotesBox::emptyText() const
{
    if (static_cast<NotesSortFilterModel*>(proxyModel())->isFilterActive())
        return trNotes("Nothing found");
    return trNotes("To add a note:\n1. Select text you need to mark\n2. Then click a color or \"Add Note\" button in "
                   "the opened menu.");
}

void NotesBox::retranslateUi()
{
    BookItemsSideBar::retranslateUi();
    m_searchField->setPlaceholderText(trNotes("Search"));
}

void NotesBox::onBookContextChanged(QSharedPointer<BookContext> context)
{
    BookItemsSideBar::onBookContextChanged(context);
    static_cast<NotesSortFilterModel*>(proxyModel())->setSourceModel(context->notesModel());
    BookContext* raw = context.data();
    m_bookConnections << connect(modelWidget(), &ReadingModelWidget::removeClicked, raw, &BookContext::removeNote);
    m_bookConnections << connect(modelWidget(), &ReadingModelWidget::textEdited, raw, &BookContext::setNoteComment);
}
