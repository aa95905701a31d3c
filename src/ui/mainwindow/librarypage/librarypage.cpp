#include "librarypage.h"

#include "application.h"
#include "models/booksortfiltermodel.h"
#include "widgets/kellabel.h"

#include <QCoreApplication>
#include <QVBoxLayout>

LibraryPage::LibraryPage(QWidget* parent)
    : QWidget(parent)
{
    auto* layout = new QVBoxLayout(this);
    m_summary = new KelLabel(1050, this);
    m_summary->setAlignment(Qt::AlignCenter);
    layout->addWidget(m_summary);
    if (auto* app = Application::instance()) {
        if (BookSortFilterModel* model = app->bookSortFilterModel()) {
            for (auto signal : { &QAbstractItemModel::rowsInserted, &QAbstractItemModel::rowsRemoved })
                connect(model, signal, this, &LibraryPage::updateSummary);
            connect(model, &QAbstractItemModel::modelReset, this, &LibraryPage::updateSummary);
            connect(model, &QAbstractItemModel::layoutChanged, this, &LibraryPage::updateSummary);
        }
    }
    translateUi();
}

LibraryPage::~LibraryPage() = default;

void LibraryPage::setTrashMode(bool trash)
{
    m_trash = trash;
    updateSummary();
}

bool LibraryPage::isTrashMode() const { return m_trash; }

QString LibraryPage::summaryText() const { return m_summary->text(); }

void LibraryPage::translateUi() { updateSummary(); }

void LibraryPage::updateSummary()
{
    int count = 0;
    if (auto* app = Application::instance()) {
        if (BookSortFilterModel* model = app->bookSortFilterModel())
            count = model->rowCount();
    }
    m_summary->setText(m_trash ? QCoreApplication::translate("MainWindow_Library", "Deleted books: %1").arg(count)
                               : QCoreApplication::translate("MainWindow_Library", "Books: %1").arg(count));
}
