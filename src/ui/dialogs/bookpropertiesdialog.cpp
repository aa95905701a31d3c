#include "dialogs/bookpropertiesdialog.h"

#include "appdirs.h"
#include "checkedsave.h"
#include "displayformats.h"
#include "enums.h"
#include "mainwindow/librarypage/bookthumbnailwidget.h"
#include "models/bookdto.h"
#include "models/bookmodel.h"
#include "ui.h"
#include "widgets/kelbutton.h"
#include "widgets/kelframe.h"
#include "widgets/kellabel.h"
#include "widgets/kelplaintextedit.h"
#include "widgets/kelscrollarea.h"
#include "widgets/kelwidget.h"
#include "widgets/labeled.h"
#include "widgets/progressbar.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDebug>
#include <QFile>
#include <QHBoxLayout>
#include <QImageReader>
#include <QImageWriter>
#include <QPersistentModelIndex>
#include <QScrollBar>
#include <QTimer>
#include <QWheelEvent>

namespace {

const char* const kContext = "Dialog_BookProperties";
const int kDescriptionKey = 6;
// Larger pictures are refused before decoding: their pixel buffer alone would take gigabytes.
const qint64 kMaxImagePixels = 100000000;

QString translated(const char* text) { return QCoreApplication::translate(kContext, text); }

// Reads the picture scaled to fit bounds (enlarged when smaller) and stores it as a JPEG at target
// through a temporary file beside it, so a failure never leaves a broken cover behind.
bool storeCover(const QString& source, const QString& target, QString* error)
{
    QImageReader reader(source);
    reader.setDecideFormatFromContent(true);
    reader.setAutoTransform(true);
    const QSize declared = reader.size();
    if (!declared.isValid() || qint64(declared.width()) * declared.height() > kMaxImagePixels) {
        *error = declared.isValid() ? QStringLiteral("image too large") : reader.errorString();
        return false;
    }
    if (reader.supportsOption(QImageIOHandler::ScaledSize)) {
        const bool turned = reader.transformation() & QImageIOHandler::TransformationRotate90;
        const QSize upright = turned ? declared.transposed() : declared;
        QSize wanted = upright.scaled(BookPropertiesDialog::coverBounds(), Qt::KeepAspectRatio);
        // The decoder only shrinks here; enlarging is done after decoding.
        if (wanted.width() < upright.width())
            reader.setScaledSize(turned ? wanted.transposed() : wanted);
    }
    QImage image = reader.read();
    if (image.isNull()) {
        *error = reader.errorString();
        return false;
    }
    const QSize fitted = image.size().scaled(BookPropertiesDialog::coverBounds(), Qt::KeepAspectRatio);
    if (image.size() != fitted)
        image = image.scaled(fitted, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);

    QString writerError;
    const checkedsave::Result saved = checkedsave::writeFile(target, [&](QIODevice* device) {
        QImageWriter writer(device, "jpg");
        writer.setQuality(75);
        if (writer.write(image))
            return true;
        writerError = writer.errorString();
        return false;
    });
    if (!saved) {
        *error = !writerError.isEmpty() ? writerError : checkedsave::failureText(saved.failure, target);
        return false;
    }
    return true;
}

} // namespace

class BookPropertiesDialog::Private : public QObject {
public:
    explicit Private(BookPropertiesDialog* dialog, const QModelIndex& index)
        : QObject(dialog)
        , q(dialog)
        , index(index)
    {
    }

    QVariant data(int role) const { return index.data(role); }
    BookDto record() const { return data(BookModel::BookRole).value<BookDto>(); }
    QString userCoverPath() const { return coverFilePath(record().full_path); }

    void fill();
    void onEdited();
    void updateSaveState();
    void keepCursorVisible();
    void chooseImage();
    void resetCover();
    void save();

    BookThumbnailWidget* thumbnail = nullptr;
    KelScrollArea* scrollArea = nullptr;
    KelWidget* fields = nullptr;
    LabeledPlainTextEdit* title = nullptr;
    LabeledPlainTextEdit* author = nullptr;
    LabeledButton* file = nullptr;
    LabeledProgress* progress = nullptr;
    LabeledLabel* lastRead = nullptr;
    LabeledLabel* format = nullptr;
    LabeledLabel* size = nullptr;
    LabeledPlainTextEdit* description = nullptr;
    KelButton* changeImage = nullptr;
    KelButton* resetCoverButton = nullptr;
    QTimer cursorTimer;
    int coverState = 0; // 0 unchanged, 1 a new image chosen, 2 the user's cover to be removed
    bool hasUserCover = false;
    BookPropertiesDialog* q;
    // Persistent: the library may change under the modal dialog.
    QPersistentModelIndex index;
    bool filling = false;
    QString chosenImage;
    bool forwardingWheel = false;
};

void BookPropertiesDialog::Private::fill()
{
    filling = true;
    hasUserCover = record().use_user_cover;
    resetCoverButton->setVisible(hasUserCover);
    title->editor()->setText(data(BookModel::TitleRole).toString());
    author->editor()->setText(data(BookModel::AuthorRole).toString());
    thumbnail->setImagePath(hasUserCover ? userCoverPath() : data(BookModel::CoverRole).toString());
    thumbnail->setColorIndex(data(BookModel::RowModuloRole).toInt());
    description->editor()->setText(data(BookModel::DescriptionRole).toString());
    file->editor()->setText(data(BookModel::FilePathRole).toString());
    progress->editor()->setValue(data(BookModel::ProgressRole).toInt());
    const QString opened = formatDate(data(BookModel::LastViewRole).toDateTime());
    lastRead->editor()->setText(opened);
    lastRead->setVisible(!opened.isEmpty());
    format->editor()->setText(data(BookModel::FormatNameRole).toString());
    size->editor()->setText(formatFileSize(data(BookModel::FileSizeRole).toLongLong()));
    filling = false;
    onEdited();
}

void BookPropertiesDialog::Private::onEdited()
{
    if (filling)
        return;
    thumbnail->setTitle(title->editor()->toPlainText());
    thumbnail->setAuthor(author->editor()->toPlainText());
    updateSaveState();
}

void BookPropertiesDialog::Private::updateSaveState()
{
    const bool changed = title->editor()->toPlainText() != data(BookModel::TitleRole).toString()
        || author->editor()->toPlainText() != data(BookModel::AuthorRole).toString()
        || description->editor()->toPlainText() != data(BookModel::DescriptionRole).toString() || coverState != 0;
    if (QWidget* saveButton = q->button(1))
        saveButton->setEnabled(changed);
}

void BookPropertiesDialog::Private::keepCursorVisible()
{
    auto* edit = qobject_cast<QPlainTextEdit*>(QApplication::focusWidget());
    if (!edit || !fields->isAncestorOf(edit))
        return;
    const QPoint centre = edit->viewport()->mapTo(fields, edit->cursorRect().center());
    scrollArea->ensureVisible(centre.x(), centre.y(), 0, 32);
}

void BookPropertiesDialog::Private::chooseImage()
{
    Ui* ui = Ui::instance();
    if (!ui)
        return;
    const QString filter = translated("Images (%1)").arg(QStringLiteral("*.png;*.jpg;*.jpeg"));
    const QString chosen = ui->getOpenFileName(translated("Select image"), filter);
    if (chosen.isEmpty())
        return;
    chosenImage = chosen;
    coverState = 1;
    thumbnail->setImagePath(chosen);
    resetCoverButton->setVisible(true);
    updateSaveState();
}

void BookPropertiesDialog::Private::resetCover()
{
    thumbnail->setImagePath(data(BookModel::CoverRole).toString());
    resetCoverButton->setVisible(false);
    coverState = hasUserCover ? 2 : 0;
    chosenImage.clear();
    updateSaveState();
}

void BookPropertiesDialog::Private::save()
{
    if (!index.isValid()) {
        qWarning() << "The book of the properties dialog is no longer in the library";
        return;
    }
    BookDto book = record();
    // The fields show "Unknown" for an empty title or author: left as shown, the stored value
    // stays as it was instead of becoming that word.
    const QString newTitle = title->editor()->toPlainText();
    if (newTitle != data(BookModel::TitleRole).toString())
        book.title = newTitle;
    const QString newAuthor = author->editor()->toPlainText();
    if (newAuthor != data(BookModel::AuthorRole).toString())
        book.author = newAuthor;
    const QString coverPath = coverFilePath(book.full_path);
    if (coverState == 1) {
        QString error;
        if (storeCover(chosenImage, coverPath, &error)) {
            thumbnail->setImagePath(coverPath);
            thumbnail->reloadImage();
            book.use_user_cover = true;
        } else {
            // The old cover and flag stay; the other edits are still saved below.
            qWarning() << "Cannot use" << chosenImage << "as the cover of book" << book.id << ":" << error;
            if (Ui* ui = Ui::instance()) {
                ui->messageBox(Ui::formatMessage(translated("The chosen image cannot be used as the cover.")),
                    QStringLiteral(" "), 5, QString(), QString(), QString(), nullptr, QString(), q);
            }
        }
        coverState = 0;
    } else if (coverState == 2) {
        if (QFile::exists(coverPath) && !QFile::remove(coverPath))
            qWarning() << "Cannot delete the user cover" << coverPath;
        thumbnail->setImagePath(coverPath);
        thumbnail->reloadImage();
        book.use_user_cover = false;
        coverState = 0;
    }
    book.metadata.insert(kDescriptionKey, description->editor()->toPlainText());
    if (QAbstractItemModel* model = const_cast<QAbstractItemModel*>(index.model())) {
        if (!model->setData(index, QVariant::fromValue(book), Enums::UpdateItem))
            qWarning() << "Cannot store the properties of book" << book.id;
    }
}

BookPropertiesDialog::BookPropertiesDialog(const QModelIndex& book, QWidget* parent)
    : KelDialog(1002, Movable, parent, ShadowType::Default)
    , d(new Private(this, book))
{
    d->thumbnail = new BookThumbnailWidget(2);
    d->scrollArea = new KelScrollArea;
    d->title = new LabeledPlainTextEdit;
    d->author = new LabeledPlainTextEdit;
    d->file = new LabeledButton(1020, QStringLiteral(":/svg/sidebar-folder.svg"));
    d->progress = new LabeledProgress;
    d->lastRead = new LabeledLabel(7);
    d->format = new LabeledLabel(7);
    d->size = new LabeledLabel(7);
    d->description = new LabeledPlainTextEdit;
    d->changeImage = new KelButton(1006, QStringLiteral(":/svg/picture.svg"));
    d->resetCoverButton = new KelButton(1006, QStringLiteral(":/svg/back-to-page.svg"));
    d->cursorTimer.setInterval(15);
    d->cursorTimer.setSingleShot(true);

    auto* content = new QHBoxLayout(contentWidget());
    content->setContentsMargins(0, 0, 0, 0);
    content->setSpacing(0);
    content->addWidget(d->thumbnail, 0, Qt::AlignTop);
    content->addWidget(d->scrollArea);

    auto* info = new QHBoxLayout;
    info->setContentsMargins(0, 8, 0, 8);
    info->setSpacing(32);
    for (QWidget* widget : { static_cast<QWidget*>(d->progress), static_cast<QWidget*>(d->lastRead),
             static_cast<QWidget*>(d->format), static_cast<QWidget*>(d->size) })
        info->addWidget(widget, 0, Qt::AlignTop);
    info->addStretch();

    d->fields = new KelWidget;
    auto* column = new QVBoxLayout(d->fields);
    column->setContentsMargins(0, 16, 24, 12);
    column->setSpacing(16);
    column->addWidget(d->title);
    column->addWidget(d->author);
    column->addWidget(d->file);
    column->addLayout(info);
    column->addWidget(d->description);
    column->addStretch();
    d->scrollArea->setWidget(d->fields);
    d->scrollArea->setEdgeShadows(Qt::TopEdge | Qt::BottomEdge, 41, true);
    d->scrollArea->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Ignored);
    // As wide as the fields: a plain scroll area keeps the width its content first had, before the
    // captions and the last-open column were filled in, and cuts the fields at its right edge.
    d->scrollArea->setAutoSizeEnabled(true);

    for (KelLabel* caption : { d->title->label(), d->author->label(), d->file->label(), d->progress->label(),
             d->lastRead->label(), d->format->label(), d->size->label(), d->description->label() })
        caption->setWidgetType(1053);

    auto* coverButtons = new QWidget;
    auto* coverRow = new QHBoxLayout(coverButtons);
    coverRow->setContentsMargins(0, 0, 0, 0);
    coverRow->addWidget(d->changeImage);
    coverRow->addWidget(d->resetCoverButton);
    // The dialog's footer already ends its first widgets with a stretch before the buttons.
    footerLayout()->insertWidget(0, coverButtons);
    addButton(0, new KelButton(1006));
    addButton(1, new KelButton(1009, QStringLiteral(":/svg/check-16.svg")));
    coverButtons->setMinimumWidth(d->thumbnail->sizeHint().width());
    d->resetCoverButton->setFixedWidth(d->resetCoverButton->sizeHint().height());
    d->resetCoverButton->setPaddings(QMargins());

    d->thumbnail->installEventFilter(this);
    d->fill();
    retranslateUi();

    connect(d->file->editor(), &KelButton::clicked, d, [this] {
        if (Ui* ui = Ui::instance())
            ui->openLinkInExplorer(d->data(BookModel::FilePathRole).toString());
    });
    for (LabeledPlainTextEdit* edit : { d->title, d->author, d->description }) {
        connect(edit->editor(), &QPlainTextEdit::textChanged, d, [this] { d->onEdited(); });
        connect(edit->editor(), &QPlainTextEdit::cursorPositionChanged, &d->cursorTimer,
            static_cast<void (QTimer::*)()>(&QTimer::start));
    }
    connect(&d->cursorTimer, &QTimer::timeout, d, [this] { d->keepCursorVisible(); });
    connect(d->fields, &KelWidget::showed, &d->cursorTimer, static_cast<void (QTimer::*)()>(&QTimer::start));
    connect(d->changeImage, &KelButton::clicked, d, [this] { d->chooseImage(); });
    connect(d->resetCoverButton, &KelButton::clicked, d, [this] { d->resetCover(); });

    setObjectName(QStringLiteral("BookProperties"));
    d->thumbnail->setObjectName(QStringLiteral("Thumbnail"));
    d->title->setObjectName(QStringLiteral("Title"));
    d->author->setObjectName(QStringLiteral("Author"));
    d->file->setObjectName(QStringLiteral("Folder"));
    d->progress->setObjectName(QStringLiteral("Progredd"));
    d->lastRead->setObjectName(QStringLiteral("LastRead"));
    d->format->setObjectName(QStringLiteral("FileFormat"));
    d->size->setObjectName(QStringLiteral("FileSize"));
    d->description->setObjectName(QStringLiteral("Description"));
}

BookPropertiesDialog::~BookPropertiesDialog() = default;

void BookPropertiesDialog::retranslateUi()
{
    setWindowTitle(translated("Book info"));
    d->title->label()->setText(translated("Title:"));
    d->author->label()->setText(translated("Author:"));
    d->file->label()->setText(translated("Folder:"));
    d->progress->label()->setText(translated("Progress:"));
    d->lastRead->label()->setText(translated("Last open:"));
    d->format->label()->setText(translated("Format:"));
    d->size->label()->setText(translated("Size:"));
    d->description->label()->setText(translated("Description:"));
    d->changeImage->setText(translated("Change image"));
    d->resetCoverButton->setToolTip(translated("Reset cover to initial image"));
    if (auto* cancel = qobject_cast<KelButton*>(button(0)))
        cancel->setText(translated("CANCEL"));
    if (auto* save = qobject_cast<KelButton*>(button(1)))
        save->setText(translated("SAVE"));
}

void BookPropertiesDialog::translateUi()
{
    KelDialog::translateUi();
    retranslateUi();
}

void BookPropertiesDialog::done(int result)
{
    if (result == 1)
        d->save();
    KelDialog::done(result);
}

void BookPropertiesDialog::showEvent(QShowEvent* event)
{
    KelDialog::showEvent(event);
    for (LabeledPlainTextEdit* edit : { d->title, d->author, d->description })
        edit->editor()->updateGeometry();
}

void BookPropertiesDialog::wheelEvent(QWheelEvent* event)
{
    // The viewport passes an unused wheel back up to the dialog; forwarding that again would loop.
    if (d->forwardingWheel) {
        event->ignore();
        return;
    }
    d->forwardingWheel = true;
    QCoreApplication::sendEvent(d->scrollArea->viewport(), event);
    d->forwardingWheel = false;
}

bool BookPropertiesDialog::eventFilter(QObject* watched, QEvent* event)
{
    // The cover sits outside the scroll area but the wheel over it scrolls the fields as well.
    if (watched == d->thumbnail && event->type() == QEvent::Wheel) {
        wheelEvent(static_cast<QWheelEvent*>(event));
        return true;
    }
    return KelDialog::eventFilter(watched, event);
}

BookThumbnailWidget* BookPropertiesDialog::thumbnail() const { return d->thumbnail; }
KelScrollArea* BookPropertiesDialog::scrollArea() const { return d->scrollArea; }
LabeledPlainTextEdit* BookPropertiesDialog::titleEdit() const { return d->title; }
LabeledPlainTextEdit* BookPropertiesDialog::authorEdit() const { return d->author; }
LabeledPlainTextEdit* BookPropertiesDialog::descriptionEdit() const { return d->description; }
LabeledButton* BookPropertiesDialog::fileButton() const { return d->file; }
LabeledProgress* BookPropertiesDialog::progress() const { return d->progress; }
LabeledLabel* BookPropertiesDialog::lastRead() const { return d->lastRead; }
LabeledLabel* BookPropertiesDialog::fileFormat() const { return d->format; }
LabeledLabel* BookPropertiesDialog::fileSize() const { return d->size; }
KelButton* BookPropertiesDialog::changeImageButton() const { return d->changeImage; }
KelButton* BookPropertiesDialog::resetCoverButton() const { return d->resetCoverButton; }
KelButton* BookPropertiesDialog::saveButton() const { return qobject_cast<KelButton*>(button(1)); }
