#include "statusbar.h"

#include "application.h"
#include "displayformats.h"
#include "import/bookimporter.h"
#include "models/bookmodel.h"
#include "settingsprovider.h"
#include "widgets/kelbutton.h"
#include "widgets/keliconlabel.h"
#include "widgets/kellabel.h"
#include "widgets/progressbar.h"

#include <QCoreApplication>
#include <QHBoxLayout>
#include <QVBoxLayout>

namespace {

QString footerText(const char* text) { return QCoreApplication::translate("MainWindow_Footer", text); }

} // namespace

ContinueReadingWidget::ContinueReadingWidget(BookModel* books, QWidget* parent)
    : QWidget(parent)
    , m_books(books)
{
    m_open = new KelButton(1013, QStringLiteral(":/svg/continue-reading.svg"), this);
    m_title = new KelLabel(1054, this);
    m_title->setElideMode(Qt::ElideRight);
    m_author = new KelLabel(1049, this);
    m_author->setElideMode(Qt::ElideRight);
    // A title such as "<b>Bold</b> Moves" is text, not markup.
    m_title->setTextFormat(Qt::PlainText);
    m_author->setTextFormat(Qt::PlainText);
    // Both may grow to the column's width: were they capped at their own text, the column would
    // be as narrow as the shorter of the two, and a book without an author would show its title
    // as one letter and an ellipsis.
    for (KelLabel* label : { m_title, m_author })
        label->setSizePolicy(QSizePolicy::Preferred, label->sizePolicy().verticalPolicy());
    m_page = new KelLabel(1047, this);
    m_pageCount = new KelLabel(1049, this);

    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(24, 12, 24, 12);
    layout->setSpacing(0);
    layout->addWidget(m_open);
    layout->addSpacing(24);
    auto* texts = new QVBoxLayout;
    texts->setContentsMargins(0, 0, 0, 3);
    texts->setSpacing(2);
    texts->addWidget(m_title);
    texts->addWidget(m_author);
    layout->addLayout(texts, 1);
    layout->addSpacing(24);
    layout->addWidget(m_page);
    layout->addWidget(m_pageCount);

    if (SettingsProvider* settings = SettingsProvider::instance()) {
        m_bookId = settings->last_book_id();
        m_bookPage = settings->last_book_page();
        m_bookPageCount = settings->last_book_page_count();
        connect(settings, &SettingsProvider::last_book_idChanged, this, [this](int v) { changed(m_bookId, v); });
        connect(settings, &SettingsProvider::last_book_pageChanged, this, [this](int v) { changed(m_bookPage, v); });
        connect(settings, &SettingsProvider::last_book_page_countChanged, this,
            [this](int v) { changed(m_bookPageCount, v); });
    }
    if (m_books) {
        auto ours = [this](int bookId) {
            if (bookId == m_bookId)
                m_refreshTimer.start();
        };
        connect(m_books, &BookModel::titleChanged, this, ours);
        connect(m_books, &BookModel::authorChanged, this, ours);
        // The book may go to the trash, or come back from it, alone or with all the others.
        connect(m_books, &QAbstractItemModel::dataChanged, this,
            [this, ours](const QModelIndex& topLeft, const QModelIndex& bottomRight) {
                const QModelIndex shown = m_books->indexById(m_bookId);
                if (shown.isValid() && shown.row() >= topLeft.row() && shown.row() <= bottomRight.row())
                    ours(m_bookId);
            });
        connect(m_books, &QAbstractItemModel::modelReset, this, [this] { m_refreshTimer.start(); });
    }
    connect(m_open, &KelButton::clicked, this, [this] {
        if (m_bookId != -1 && m_books)
            emit m_books->openBookClicked(m_bookId);
    });
    m_refreshTimer.setInterval(100);
    connect(&m_refreshTimer, &QTimer::timeout, this, &ContinueReadingWidget::refresh);
    refresh();
}

void ContinueReadingWidget::changed(int& copy, int value)
{
    if (copy == value)
        return;
    copy = value;
    m_refreshTimer.start();
}

void ContinueReadingWidget::translateUi()
{
    m_open->setText(footerText("Continue reading"));
    refresh();
}

void ContinueReadingWidget::refresh()
{
    m_refreshTimer.stop();
    if (m_bookId == -1 || m_bookPage == -1 || m_bookPageCount == -1 || !m_books) {
        hide();
        return;
    }
    // Only a book outside the trash is offered.
    const BookDto book = m_books->bookById(m_bookId);
    if (book.id == -1 || book.is_deleted != 0) {
        hide();
        return;
    }
    m_page->setText(formatPageNumber(m_bookPage));
    m_pageCount->setText(QStringLiteral(" / %1").arg(m_bookPageCount));
    m_title->setText(book.title.isEmpty() ? QStringLiteral(" ") : book.title);
    m_author->setText(book.author.isEmpty() ? QStringLiteral(" ") : book.author);
    show();
}

class ImportBooksWidget::Private {
public:
    bool exportMode = false;
    KelIconLabel* icon = nullptr;
    KelLabel* title = nullptr;
    KelLabel* done = nullptr;
    KelLabel* total = nullptr;
    ProgressBar* bar = nullptr;
    KelIconLabel* percent = nullptr;
    KelButton* pause = nullptr;
    KelButton* stop = nullptr;
};

ImportBooksWidget::ImportBooksWidget(QWidget* parent)
    : QWidget(parent)
    , d(new Private)
{
    d->icon = new KelIconLabel(1076, QStringLiteral(":/svg/import-info.svg"), this);
    d->title = new KelLabel(1054, this);
    d->done = new KelLabel(1052, this);
    d->total = new KelLabel(1053, this);
    d->bar = new ProgressBar(37, this);
    d->bar->setRange(0, 100);
    d->percent = new KelIconLabel(1076, this);
    d->pause = new KelButton(1023, QStringLiteral(":/svg/import-pause.svg"), this);
    d->pause->setCheckable(true);
    d->stop = new KelButton(1023, QStringLiteral(":/svg/import-stop.svg"), this);

    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(24, 8, 24, 8);
    layout->setSpacing(0);
    layout->addWidget(d->icon);
    layout->addSpacing(12);
    layout->addWidget(d->title);
    layout->addSpacing(24);
    layout->addWidget(d->done);
    layout->addWidget(d->total);
    layout->addSpacing(26);
    layout->addWidget(d->bar, 1);
    layout->addSpacing(29);
    layout->addWidget(d->percent);
    layout->addSpacing(29);
    layout->addWidget(d->pause);
    layout->addSpacing(6);
    layout->addWidget(d->stop);

    connect(d->pause, &KelButton::toggled, this, [this](bool checked) {
        updateEnabled();
        updatePauseToolTip();
        emit togglePlayPause(checked);
    });
    connect(d->stop, &KelButton::clicked, this, &ImportBooksWidget::cancelClicked);
    updateEnabled();
}

void ImportBooksWidget::resetPause()
{
    if (d->pause->isChecked())
        d->pause->setChecked(false);
}

ImportBooksWidget::~ImportBooksWidget() = default;

void ImportBooksWidget::setExportMode(bool exportMode)
{
    if (exportMode == d->exportMode)
        return;
    d->exportMode = exportMode;
    d->icon->setIcon(exportMode ? ":/svg/export-info.svg" : ":/svg/import-info.svg");
    translateUi();
}

bool ImportBooksWidget::isExportMode() const { return d->exportMode; }

void ImportBooksWidget::setProgress(int current, int total)
{
    int percent = 0;
    if (total > 0)
        percent = qMin(100, int(float(current) / float(total) * 100.0f));
    d->done->setText(QString::number(current));
    d->total->setText(QStringLiteral(" / %1").arg(total));
    d->percent->setText(QStringLiteral("%1%").arg(percent));
    d->bar->setValue(percent);
}

void ImportBooksWidget::translateUi()
{
    d->title->setText(footerText(d->exportMode ? "Export books..." : "Import books..."));
    d->stop->setToolTip(footerText(d->exportMode ? "Stop exporting" : "Stop importing"));
    updatePauseToolTip();
}

void ImportBooksWidget::updatePauseToolTip()
{
    const char* text = d->pause->isChecked() ? (d->exportMode ? "Resume exporting" : "Resume importing")
                                             : (d->exportMode ? "Pause exporting" : "Pause importing");
    d->pause->setToolTip(footerText(text));
}

void ImportBooksWidget::updateEnabled()
{
    const bool running = !d->pause->isChecked();
    d->icon->setEnabled(running);
    d->bar->setEnabled(running);
    d->percent->setEnabled(running);
}

KelIconLabel* ImportBooksWidget::iconLabel() const { return d->icon; }
KelLabel* ImportBooksWidget::titleLabel() const { return d->title; }
KelLabel* ImportBooksWidget::doneLabel() const { return d->done; }
KelLabel* ImportBooksWidget::totalLabel() const { return d->total; }
ProgressBar* ImportBooksWidget::progressBar() const { return d->bar; }
KelIconLabel* ImportBooksWidget::percentLabel() const { return d->percent; }
KelButton* ImportBooksWidget::pauseButton() const { return d->pause; }
KelButton* ImportBooksWidget::stopButton() const { return d->stop; }

StatusBar::StatusBar(QWidget* parent, BookModel* books)
    : KelFrame(1043, parent)
{
    if (!books && Application::instance())
        books = Application::instance()->bookModel();
    m_continue = new ContinueReadingWidget(books, this);
    m_import = new ImportBooksWidget(this);
    m_import->hide();
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(m_continue);
    layout->addWidget(m_import);

    bookimporter* importer = bookimporter::instance();
    // Every task starts unpaused, and a stopped one leaves no pause behind.
    connect(importer, &bookimporter::importStarted, this, [this] {
        m_import->resetPause();
        m_import->setExportMode(false);
        m_import->show();
    });
    connect(importer, &bookimporter::exportStarted, this, [this] {
        m_import->resetPause();
        m_import->setExportMode(true);
        m_import->show();
    });
    connect(importer, &bookimporter::progress, m_import, &ImportBooksWidget::setProgress);
    connect(importer, &bookimporter::finished, m_import, [this] {
        m_import->resetPause();
        m_import->hide();
    });
    connect(importer, &bookimporter::exported, m_import, [this] {
        m_import->resetPause();
        m_import->hide();
    });
    connect(m_import, &ImportBooksWidget::cancelClicked, importer, &bookimporter::cancel);
    connect(m_import, &ImportBooksWidget::togglePlayPause, importer, &bookimporter::toggleProcessing);
}

StatusBar::~StatusBar() = default;

void StatusBar::translateUi()
{
    m_continue->translateUi();
    m_import->translateUi();
}
