#include "bookmarksbox.h"

#include "bookcontext.h"
#include "bookmarkitem.h"
#include "displayformats.h"
#include "models/bookmarkmodel.h"
#include "readingenums.h"
#include "widgets/kellabel.h"
#include "widgets/wordwraplabel.h"

#include <QCoreApplication>
#include <QDebug>
#include <QHBoxLayout>
#include <QSortFilterProxyModel>
#include <QVBoxLayout>

namespace {
constexpr int kAddButtonStyle = 1010;
constexpr int kDeleteButtonStyle = 1021;
constexpr int kTitleStyle = 1056;
constexpr int kTextStyle = 1052;
constexpr int kSmallStyle = 1053;

QString trBookmarks(const char* text) { return QCoreApplication::translate("MainWindow_Reading_Bookmarks", text); }
}

QVBoxLayout* readingRowLayout(QWidget* row, KelLabel* dateLabel, KelLabel* pageLabel, KelButton* deleteButton)
{
    auto* layout = new QVBoxLayout(row);
    layout->setContentsMargins(24, 12, 24, 24);
    layout->setSpacing(0);
    auto* top = new QHBoxLayout;
    top->setContentsMargins(0, 0, 0, 0);
    top->setSpacing(12);
    top->addWidget(dateLabel);
    top->addStretch();
    top->addWidget(pageLabel);
    top->addWidget(deleteButton);
    layout->addLayout(top);
    layout->addSpacing(6);
    return layout;
}

BookmarkWidget::BookmarkWidget(QWidget* parent)
    : ReadingModelItemButton(parent)
    , m_titleLabel(new WordWrapLabel(kTitleStyle, this))
    , m_textLabel(new WordWrapLabel(kTextStyle, this))
    , m_dateLabel(new KelLabel(kSmallStyle, this))
    , m_pageLabel(new KelLabel(kSmallStyle, this))
    , m_deleteButton(new KelButton(kDeleteButtonStyle, QStringLiteral(":/svg/trash.svg"), this))
{
    QVBoxLayout* layout = readingRowLayout(this, m_dateLabel, m_pageLabel, m_deleteButton);
    layout->addWidget(m_titleLabel);
    layout->addSpacing(13);
    layout->addWidget(m_textLabel);
    m_titleLabel->setMaxLineCount(3);
    m_textLabel->setMaxLineCount(3);
    connect(m_deleteButton, &KelButton::clicked, this, [this] { emit removeClicked(m_id); });
}

void BookmarkWidget::readFrom(const QModelIndex& index)
{
    const QVariant data = index.data(Qt::UserRole);
    if (!data.canConvert<BookmarkItem>()) {
        qCritical() << "BookmarkWidget: trying to read from invalid index, no UserData";
        return;
    }
    const BookmarkItem item = data.value<BookmarkItem>();
    setLink(item.link);
    m_id = item.id;
    m_date = item.date;
    m_pageLabel->setText(formatPageNumber(page()));
    m_titleLabel->setText(item.title);
    m_titleLabel->setVisible(!item.title.isEmpty());
    m_textLabel->setText(item.text);
    m_textLabel->setVisible(!item.text.isEmpty());
    m_dateLabel->setText(formatDateTime(m_date));
    updateCurrentState();
}

void BookmarkWidget::retranslateUi()
{
    m_deleteButton->setToolTip(trBookmarks("Delete bookmark"));
    m_dateLabel->setText(formatDateTime(m_date));
}

void BookmarkWidget::onCurrentDayChanged() { m_dateLabel->setText(formatDateTime(m_date)); }

BookmarksBox::BookmarksBox(QWidget* parent)
    : BookItemsSideBar(ReadingEnums::Bookmarks, parent, TrackPageRange)
    , m_addButton(new KelButton(kAddButtonStyle, QStringLiteral(":/svg/bookmark.svg"), this))
{
    setObjectName(QStringLiteral("Bookmarks"));
    headerLayout()->addWidget(m_addButton);
    modelWidget()->installRowFactory<BookmarkWidget>();
    auto* proxy = new QSortFilterProxyModel;
    proxy->sort(2, Qt::AscendingOrder);
    setProxyModel(proxy);
}

QString BookmarksBox::title() const { return trBookmarks("Bookmarks"); }

QString BookmarksBox::closeText() const { return trBookmarks("Close"); }

QString BookmarksBox::emptyText() const { return trBookmarks("To add a new bookmark click on the button above."); }

void BookmarksBox::retranslateUi()
{
    BookItemsSideBar::retranslateUi();
    m_addButton->setText(trBookmarks("Add bookmark"));
}

void BookmarksBox::onBookContextChanged(QSharedPointer<BookContext> context)
{
    BookItemsSideBar::onBookContextChanged(context);
    static_cast<QSortFilterProxyModel*>(proxyModel())->setSourceModel(context->bookmarkModel());
    BookContext* raw = context.data();
    m_bookConnections << connect(modelWidget(), &ReadingModelWidget::removeClicked, raw, &BookContext::removeBookmark);
    m_bookConnections << connect(m_addButton, &KelButton::clicked, raw, &BookContext::addBookmark);
}
