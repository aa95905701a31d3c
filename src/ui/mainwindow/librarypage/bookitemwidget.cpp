#include "bookitemwidget.h"

#include "animators/kelvisibilityanimatable.h"
#include "animators/kelwidgetstateanimator.h"
#include "appdirs.h"
#include "application.h"
#include "bookitempopupmenu.h"
#include "bookthumbnailwidget.h"
#include "displayformats.h"
#include "hotkeys.h"
#include "kellogger/tracelogger.h"
#include "models/bookdto.h"
#include "models/bookmodel.h"
#include "models/foldermodel.h"
#include "painting/kelpaintcontext.h"
#include "painting/kelpainting.h"
#include "styles/kelcolors.h"
#include "styles/kelstatecolors.h"
#include "styles/kelstyle.h"
#include "ui.h"
#include "widgets/kelbutton.h"
#include "widgets/kellabel.h"
#include "widgets/progressbar.h"
#include "widgets/wordwraplabel.h"

#include <QApplication>
#include <QBoxLayout>
#include <QCoreApplication>
#include <QHash>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>

#include <memory>

namespace {

QString tr(const char* text, const char* disambiguation = nullptr)
{
    return QCoreApplication::translate("MainWindow_Library", text, disambiguation);
}

// Only the trash asks before a book and its data folder go.
bool confirmDelete(const QString& title)
{
    Ui* ui = Ui::instance();
    return ui && ui->askDeleteBookFromTrash(title);
}

} // namespace

class BookItemWidget::Private {
public:
    BookItemWidget* q = nullptr;
    bool hovered = false;
    int bookId = 0;
    QDateTime dateAdded;
    KelStateColors stateColors;
    QColor lineColor;
    BookItemPopupMenu* menu = nullptr;
    QList<QMetaObject::Connection> menuConnections;
    KelWidgetStateAnimator* stateAnimator = nullptr;
    int viewMode = 0;
    BookThumbnailWidget* thumbnail = nullptr;
    WordWrapLabel* titleLabel = nullptr;
    WordWrapLabel* authorLabel = nullptr;
    KelLabel* dateLabel = nullptr;
    KelLabel* notesLabel = nullptr;
    QWidget* progressBlock = nullptr;
    ProgressBar* progressBar = nullptr;
    KelButton* trashButton = nullptr;
    KelButton* favoriteButton = nullptr;
    KelButton* deleteButton = nullptr;
    // The buttons fade in and out as the card is hovered; made on first use.
    std::unique_ptr<KelVisibilityAnimatable> favoriteFade;
    std::unique_ptr<KelVisibilityAnimatable> trashFade;
    std::unique_ptr<KelVisibilityAnimatable> deleteFade;
    QMap<int, int> columnWidths;
    QPoint pressPosition;
    bool doubleClicked = false;
    int folderId = 0;

    bool cards() const { return viewMode == Enums::View_Cards; }

    // Text heights measured for cardSize, per label, font and width: lists measure every row again
    // after a reset, a new sort or a search cleared, mostly with texts seen before.
    struct TextHeights {
        QFont font;
        int width = -1;
        QHash<QString, int> heights;
    };
    mutable QHash<const WordWrapLabel*, TextHeights> textHeights;

    int textHeight(const WordWrapLabel* label, const QString& text, int width) const
    {
        TextHeights& cache = textHeights[label];
        if (cache.width != width || cache.font != label->font() || cache.heights.size() > 100000) {
            cache.font = label->font();
            cache.width = width;
            cache.heights.clear();
        }
        const QString trimmed = text.trimmed();
        auto it = cache.heights.constFind(trimmed);
        if (it == cache.heights.constEnd())
            it = cache.heights.insert(trimmed, label->heightForText(trimmed, width));
        return *it;
    }
    bool inTrash() const { return trashButton->isChecked(); }

    void emitAction(Enums::LibraryAction action, const QVariant& data = QVariant())
    {
        emit q->actionClicked(q, action, data);
    }

    void relayout()
    {
        delete q->layout();
        delete thumbnail->layout();
        delete progressBlock->layout();
        thumbnail->setSizeMode(cards() ? 1 : 0);
        if (!cards()) {
            progressBlock->setFixedWidth(226);
            auto* block = new QHBoxLayout(progressBlock);
            block->setContentsMargins(0, 0, 32, 0);
            block->setSpacing(0);
            block->addWidget(progressBar);
            block->addWidget(deleteButton);
            block->addWidget(favoriteButton);
            block->addSpacing(6);
            block->addWidget(trashButton);
            auto* row = new QHBoxLayout(q);
            row->setContentsMargins(0, 0, 0, 0);
            row->setSpacing(0);
            // The date and the notes count keep the width their text needs; the title and the author
            // share the rest, so that a wide title does not leave the author a word per line.
            row->addWidget(thumbnail);
            row->addWidget(titleLabel, 3);
            row->addWidget(authorLabel, 2);
            row->addWidget(dateLabel);
            row->addWidget(notesLabel);
            row->addWidget(progressBlock);
            const QSize thumb = thumbnailGeometry(0).outerSize();
            thumbnail->setFixedSize(thumb);
            q->setMinimumWidth(0);
            q->setMaximumWidth(QWIDGETSIZE_MAX);
            q->setFixedHeight(thumb.height());
            titleLabel->setFixedHeight(thumb.height());
            authorLabel->setFixedHeight(thumb.height());
        } else {
            auto* buttons = new QHBoxLayout;
            buttons->setContentsMargins(0, 0, 0, 0);
            if (inTrash()) {
                buttons->addWidget(trashButton);
                buttons->addStretch();
                buttons->addWidget(deleteButton);
            } else {
                buttons->addWidget(favoriteButton);
                buttons->addStretch();
                buttons->addWidget(trashButton);
            }
            auto* over = new QVBoxLayout(thumbnail);
            over->setContentsMargins(28, 16, 28, 36);
            over->addLayout(buttons);
            over->addStretch();
            over->addWidget(progressBar);
            const ThumbnailGeometry& g = thumbnailGeometry(1);
            const QSize card = g.outerSize();
            auto* column = new QVBoxLayout(q);
            column->setContentsMargins(24, 0, 24, 0);
            column->setSpacing(g.cardLayout.second);
            column->addSpacing(card.height() - g.cardLayout.first);
            column->addWidget(titleLabel);
            column->addWidget(authorLabel);
            thumbnail->setParent(q);
            thumbnail->move(0, 0);
            thumbnail->setFixedSize(card);
            thumbnail->show();
            thumbnail->raise();
            q->setFixedWidth(card.width());
            q->setMinimumHeight(0);
            q->setMaximumHeight(QWIDGETSIZE_MAX);
            for (QWidget* label : { titleLabel, authorLabel }) {
                label->setMinimumHeight(0);
                label->setMaximumHeight(QWIDGETSIZE_MAX);
            }
            progressBlock->hide();
        }
        authorLabel->setWidgetType(cards() ? 1049 : 1053);
        // A column breaks its lines at words and cuts its text after one, never inside.
        for (WordWrapLabel* label : { titleLabel, authorLabel })
            label->setWrapMode(cards() ? QTextOption::WrapAtWordBoundaryOrAnywhere : QTextOption::WordWrap);
        progressBar->setWidgetType(cards() ? 1074 : 1075);
        const QMargins margins = cards() ? QMargins() : QMargins(12, 0, 12, 0);
        for (QWidget* w :
            std::initializer_list<QWidget*> { titleLabel, authorLabel, dateLabel, notesLabel, progressBar })
            w->setContentsMargins(margins);
        updateButtons(false);
        updateButtonLooks();
        q->setColumnWidths(columnWidths);
    }

    void updateButtons(bool animated)
    {
        dateLabel->setVisible(!cards());
        notesLabel->setVisible(!cards());
        progressBlock->setVisible(!cards());
        const bool shown = !cards() || hovered;
        setButtonVisible(favoriteFade, favoriteButton, !inTrash() && (shown || favoriteButton->isChecked()), animated);
        setButtonVisible(trashFade, trashButton, inTrash() || shown, animated);
        setButtonVisible(deleteFade, deleteButton, inTrash() && shown, animated);
    }

    static void setButtonVisible(
        std::unique_ptr<KelVisibilityAnimatable>& fade, KelButton* button, bool visible, bool animated)
    {
        if (!fade) {
            if (!animated || button->isVisibleTo(button->parentWidget()) == visible) {
                button->setVisible(visible);
                return;
            }
            fade = std::make_unique<KelVisibilityAnimatable>(button);
        }
        fade->setVisibleAnimated(visible, animated);
    }

    void updateButtonLooks()
    {
        // A favourite's star keeps its own colour in a row as on a card, or it would look like any other.
        const bool ownStar = cards() || favoriteButton->isChecked();
        favoriteButton->setIcon(ownStar ? ":/svg/star-no-tint.svg" : ":/svg/star.svg");
        // In the trash this button restores the book: it must not look like the delete beside it.
        if (inTrash())
            trashButton->setIcon(":/svg/restore.svg");
        else
            trashButton->setIcon(cards() ? ":/svg/trash-no-tint.svg" : ":/svg/trash.svg");
        deleteButton->setIcon(cards() ? ":/svg/trash-no-tint.svg" : ":/svg/trash.svg");
        trashButton->setWidgetType(cards() ? 1028 : 1027);
        deleteButton->setWidgetType(cards() ? 1028 : 1027);
        favoriteButton->setWidgetType(ownStar ? 1028 : 1027);
    }

    void updateHover()
    {
        hovered = !menuConnections.isEmpty() || (q->underMouse() && !QApplication::activePopupWidget());
        stateAnimator->setHovered(hovered, q->isVisible());
        updateButtons(q->isVisible());
    }

    void openMenu()
    {
        if (!menu)
            return;
        const bool trash = inTrash();
        const bool favorite = favoriteButton->isChecked();
        menu->setActionVisible(Enums::Open, !trash);
        menu->setActionVisible(Enums::ToTrash, !trash);
        menu->setActionVisible(Enums::DeleteFromLibrary, trash);
        menu->setActionVisible(Enums::RestoreFromTrash, trash);
        menu->setActionVisible(Enums::ToFavorite, !trash && !favorite);
        menu->setActionVisible(Enums::FromFavorite, !trash && favorite);
        if (trash) {
            menu->setFolders(QString(), {});
            menu->setActionVisible(Enums::RemoveFromFolder, false);
            menu->setActionData(Enums::RemoveFromFolder, QVariant());
        } else {
            QList<CategoryDto> folders;
            if (Application* app = Application::instance())
                folders = app->folderModel()->categories();
            QString current;
            for (int i = 0; i < folders.size(); ++i) {
                if (folderId != 0 && folders[i].id == folderId) {
                    current = folders.takeAt(i).title;
                    break;
                }
            }
            menu->setFolders(current, folders);
            menu->setActionVisible(Enums::RemoveFromFolder, folderId > 0);
            menu->setActionData(Enums::RemoveFromFolder, folderId > 0 ? QVariant(folderId) : QVariant());
        }
        menuConnections << QObject::connect(
            menu, &BookItemPopupMenu::actionClicked, q, [this](Enums::LibraryAction action, const QVariant& data) {
                // The menu's delete removes the book's data folder too: it asks like the button.
                if (action == Enums::DeleteFromLibrary && !confirmDelete(titleLabel->text()))
                    return;
                emitAction(action, data);
            });
        menuConnections << QObject::connect(
            menu, &BookItemPopupMenu::hided, q,
            [this] {
                for (const QMetaObject::Connection& c : qAsConst(menuConnections))
                    QObject::disconnect(c);
                menuConnections.clear();
                updateHover();
            },
            Qt::QueuedConnection);
        updateHover();
        menu->showAtCursor();
    }
};

BookItemWidget::BookItemWidget(int viewMode, BookItemPopupMenu* menu, QWidget* parent)
    : KelWidget(parent)
    , KelStyleable(-1)
    , d(new Private)
{
    d->q = this;
    d->viewMode = viewMode;
    d->menu = menu;
    d->thumbnail = new BookThumbnailWidget(viewMode == Enums::View_Cards ? 1 : 0, this);
    d->titleLabel = new WordWrapLabel(1054, this);
    d->authorLabel = new WordWrapLabel(1053, this);
    for (WordWrapLabel* label : { d->titleLabel, d->authorLabel }) {
        label->setMaxLineCount(3);
        label->setLineHeight(18);
    }
    d->dateLabel = new KelLabel(1053, this);
    d->notesLabel = new KelLabel(1053, this);
    d->dateLabel->setAlignment(Qt::AlignCenter);
    d->notesLabel->setAlignment(Qt::AlignCenter);
    d->progressBlock = new QWidget(this);
    d->progressBar = new ProgressBar(1075, d->progressBlock);
    d->trashButton = new KelButton(-1, this);
    d->favoriteButton = new KelButton(-1, this);
    d->deleteButton = new KelButton(-1, this);
    d->trashButton->setCheckable(true);
    d->favoriteButton->setCheckable(true);

    d->stateAnimator = new KelWidgetStateAnimator(0, this);
    setFocusPolicy(Qt::ClickFocus);
    applyStyle();
    d->relayout();

    connect(d->favoriteButton, &KelButton::toggled, this,
        [this](bool checked) { d->emitAction(checked ? Enums::ToFavorite : Enums::FromFavorite); });
    connect(d->trashButton, &KelButton::toggled, this,
        [this](bool checked) { d->emitAction(checked ? Enums::ToTrash : Enums::RestoreFromTrash); });
    connect(d->deleteButton, &KelButton::clicked, this, [this] {
        if (confirmDelete(d->titleLabel->text()))
            d->emitAction(Enums::DeleteFromLibrary);
    });
    setContextMenuPolicy(Qt::CustomContextMenu);
    connect(this, &QWidget::customContextMenuRequested, this, [this] { d->openMenu(); });

    d->thumbnail->setObjectName(QStringLiteral("Thumbnail"));
    d->titleLabel->setObjectName(QStringLiteral("Title"));
    d->authorLabel->setObjectName(QStringLiteral("Author"));
    d->dateLabel->setObjectName(QStringLiteral("DateAdded"));
    d->notesLabel->setObjectName(QStringLiteral("Notes"));
    d->progressBlock->setObjectName(QStringLiteral("ProgressContainer"));
    d->progressBar->setObjectName(QStringLiteral("Progress"));
    d->trashButton->setObjectName(QStringLiteral("Trash"));
    d->favoriteButton->setObjectName(QStringLiteral("Favorite"));
    d->deleteButton->setObjectName(QStringLiteral("Delete"));
}

BookItemWidget::~BookItemWidget()
{
    for (const QMetaObject::Connection& c : qAsConst(d->menuConnections))
        disconnect(c);
    delete d;
}

int BookItemWidget::bookId() const { return d->bookId; }

BookThumbnailWidget* BookItemWidget::thumbnail() const { return d->thumbnail; }

void BookItemWidget::readFrom(const QModelIndex& index)
{
    const bool deleted = index.data(BookModel::DeletedRole).toBool();
    const bool relayoutNeeded = d->cards() && deleted != d->trashButton->isChecked();
    const int id = index.data(BookModel::IdRole).toInt();
    if (id != d->bookId) {
        d->bookId = id;
        clearFocus();
    }
    d->dateAdded = index.data(BookModel::DateAddedRole).toDateTime();
    d->titleLabel->setText(index.data(BookModel::TitleRole).toString().trimmed());
    d->authorLabel->setText(index.data(BookModel::AuthorRole).toString().trimmed());
    const int notes = index.data(BookModel::NotesCountRole).toInt();
    d->notesLabel->setText(QString::number(notes));
    d->notesLabel->setEnabled(notes > 0);
    d->favoriteButton->setCheckedSilently(index.data(BookModel::FavoriteRole).toBool());
    d->trashButton->setCheckedSilently(deleted);
    d->progressBar->setValue(index.data(BookModel::ProgressRole).toInt());
    d->thumbnail->setColorIndex(index.data(BookModel::RowModuloRole).toInt());
    d->folderId = index.data(BookModel::CategoryIdRole).toInt();
    if (index.data(BookModel::UserCoverRole).toBool())
        d->thumbnail->setImagePath(coverFilePath(index.data(BookModel::BookRole).value<BookDto>().full_path));
    else
        d->thumbnail->setImagePath(index.data(BookModel::CoverRole).toString());
    d->thumbnail->setTitle(d->titleLabel->text());
    d->thumbnail->setAuthor(d->authorLabel->text());
    if (relayoutNeeded) {
        d->relayout();
    } else {
        d->updateButtons(isVisible());
        d->updateButtonLooks();
    }
    retranslateUi();
}

void BookItemWidget::setItemMode(int mode)
{
    if (mode == d->viewMode)
        return;
    d->viewMode = mode;
    d->relayout();
    applyStyle();
}

void BookItemWidget::retranslateUi()
{
    d->favoriteButton->setToolTip(
        d->favoriteButton->isChecked() ? tr("Remove from Favorites") : tr("Add to Favorites"));
    d->trashButton->setToolTip(d->trashButton->isChecked() ? tr("Restore") : tr("Delete", "delete to trash"));
    d->deleteButton->setToolTip(tr("Delete", "delete from library"));
    d->dateLabel->setText(formatDate(d->dateAdded));
}

void BookItemWidget::applyStyle()
{
    d->stateColors = kelStyle()->colorSet(d->cards() ? 1005 : 1004);
    d->lineColor = kelStyle()->color(1);
    update();
}

QMap<int, int> BookItemWidget::columnMinimumWidths() const
{
    if (d->cards())
        return {};
    return { { 1, 90 }, { 2, qMax(90, d->dateLabel->sizeHint().width()) },
        { 3, qMax(90, d->notesLabel->sizeHint().width()) } };
}

QMap<int, int> BookItemWidget::columnWidths() const
{
    if (d->cards())
        return {};
    return { { 1, d->authorLabel->width() }, { 2, d->dateLabel->width() }, { 3, d->notesLabel->width() },
        { 4, d->progressBlock->width() } };
}

void BookItemWidget::setColumnWidths(const QMap<int, int>& widths)
{
    d->columnWidths = widths;
    const QList<QWidget*> labels { d->authorLabel, d->dateLabel, d->notesLabel };
    for (int i = 0; i < labels.size(); ++i)
        labels[i]->setMinimumWidth(d->cards() ? 0 : widths.value(i + 1));
}

QSize BookItemWidget::cardSize(const QString& title, const QString& author) const
{
    const ThumbnailGeometry& g = thumbnailGeometry(1);
    const QSize card = g.outerSize();
    const QMargins margins = layout() ? layout()->contentsMargins() : QMargins();
    const int width = card.width() - margins.left() - margins.right();
    // The labels sit below the cover's text line, spaced apart like the column lays them out.
    return QSize(card.width(),
        margins.top() + card.height() - g.cardLayout.first + d->textHeight(d->titleLabel, title, width)
            + g.cardLayout.second + d->textHeight(d->authorLabel, author, width) + margins.bottom());
}

bool BookItemWidget::event(QEvent* event)
{
    switch (event->type()) {
    case QEvent::Enter:
    case QEvent::Leave:
    case QEvent::WindowDeactivate:
        d->updateHover();
        break;
    case QEvent::FocusIn:
    case QEvent::FocusOut:
        d->stateAnimator->setChecked(event->type() == QEvent::FocusIn, isVisible());
        break;
    default:
        break;
    }
    return KelWidget::event(event);
}

void BookItemWidget::mousePressEvent(QMouseEvent* event)
{
    d->doubleClicked = false;
    if (event->button() != Qt::LeftButton || event->buttons() != Qt::LeftButton) {
        event->ignore();
        return;
    }
    d->pressPosition = event->pos();
    event->accept();
}

void BookItemWidget::mouseDoubleClickEvent(QMouseEvent* event)
{
    event->accept();
    d->doubleClicked = true;
}

void BookItemWidget::mouseReleaseEvent(QMouseEvent* event)
{
    d->pressPosition = QPoint();
    KelWidget::mouseReleaseEvent(event);
    if (!d->doubleClicked)
        return;
    d->doubleClicked = false;
    if (d->inTrash())
        return;
    TraceLogger trace("BookItemWidget::mouseReleaseEvent", QStringLiteral("Book item doubleclick"));
    d->emitAction(Enums::Open);
}

void BookItemWidget::mouseMoveEvent(QMouseEvent* event)
{
    if ((event->buttons() & Qt::LeftButton) && !d->pressPosition.isNull()
        && (event->pos() - d->pressPosition).manhattanLength() > QApplication::startDragDistance()) {
        QPixmap pixmap = KelPainting::blurredWidgetPixmap(this, 0);
        if (!d->cards()) {
            const double ratio = pixmap.devicePixelRatioF();
            const QRect cover = d->thumbnail->coverRect().translated(d->thumbnail->pos());
            const QRect device(qRound(cover.x() * ratio), qRound(cover.y() * ratio), qRound(cover.width() * ratio),
                qRound(cover.height() * ratio));
            pixmap = pixmap.copy(device);
            pixmap.setDevicePixelRatio(ratio);
        }
        const QPoint hotPoint = d->pressPosition;
        d->pressPosition = QPoint();
        emit dragStarted(this, pixmap, hotPoint);
    }
    KelWidget::mouseMoveEvent(event);
}

void BookItemWidget::keyPressEvent(QKeyEvent* event)
{
    if (Hotkeys::matches(event, Hotkeys::Id::SelBook_Properties)) {
        d->emitAction(Enums::Properties);
    } else if (Hotkeys::matches(event, Hotkeys::Id::SelBook_Open)) {
        if (!d->inTrash())
            d->emitAction(Enums::Open);
    } else if (Hotkeys::matches(event, Hotkeys::Id::SelBook_ToTrash)) {
        if (!d->inTrash())
            d->emitAction(Enums::ToTrash);
        else if (confirmDelete(d->titleLabel->text()))
            d->emitAction(Enums::DeleteFromLibrary);
    } else {
        event->ignore();
        return;
    }
    event->accept();
}

void BookItemWidget::paintEvent(QPaintEvent*)
{
    KelPaintContext context(this);
    QPainter* painter = context.painter();
    const double ratio = context.devicePixelRatio();
    const double pixel = 1.0 / ratio;
    const QColor state = blendStateColor(d->stateColors, d->stateAnimator);
    if (d->cards()) {
        const QRectF cover = QRectF(d->thumbnail->coverRect().translated(d->thumbnail->pos())).adjusted(-4, -4, 4, 4);
        painter->setRenderHint(QPainter::Antialiasing);
        painter->setPen(QPen(state, 2, Qt::SolidLine, Qt::SquareCap, Qt::MiterJoin));
        painter->setBrush(Qt::NoBrush);
        KelPainting::drawRoundedRect(*painter, cover, thumbnailGeometry(1).cornerRadius);
        return;
    }
    const bool highlighted = d->hovered || hasFocus();
    painter->fillRect(QRectF(0, 0, width(), highlighted ? height() : height() - pixel), state);
    painter->setPen(QPen(kelStyle()->color(1), pixel, Qt::SolidLine, Qt::SquareCap, Qt::MiterJoin));
    const int h = thumbnailGeometry(0).rowLayout.separatorHeight;
    const double y1 = context.snapToDevicePixels(QRectF(0, (height() - h) / 2, 1, h)).top();
    for (QWidget* column : { static_cast<QWidget*>(d->authorLabel), static_cast<QWidget*>(d->dateLabel),
             static_cast<QWidget*>(d->notesLabel) }) {
        const double x = qRound(column->x() * ratio) / ratio;
        painter->drawLine(QPointF(x, y1), QPointF(x, y1 + h));
    }
    painter->setPen(QPen(d->lineColor, pixel));
    const double y = height() - pixel / 2;
    painter->drawLine(QPointF(25, y), QPointF(width() - 25, y));
}
