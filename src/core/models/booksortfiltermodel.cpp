#include "booksortfiltermodel.h"

#include "bookmodel.h"
#include "bookprovider.h"
#include "enums.h"

#include <QDateTime>
#include <QRegExp>
#include <QVector>

#include <algorithm>

namespace {

// The user's language; the C locale has no collation of its own worth the name (every capital
// before every small letter, accents after "z") and compares as English.
QLocale collationLocale()
{
    const QLocale locale;
    return locale.language() == QLocale::C ? QLocale(QLocale::English, QLocale::UnitedStates) : locale;
}

} // namespace

BookSortFilterModel::BookSortFilterModel(QObject* parent)
    : QSortFilterProxyModel(parent)
    , m_category(Enums::AllBooks)
    , m_sortColumn(BookModel::DateAddedColumn)
    , m_collator(collationLocale())
{
    m_collator.setCaseSensitivity(Qt::CaseInsensitive);
    setSortLocaleAware(true);
    setSortCaseSensitivity(Qt::CaseInsensitive);
    setObjectName(QStringLiteral("BookSortFilterModel"));
}

void BookSortFilterModel::setSourceModel(QAbstractItemModel* model)
{
    if (sourceModel())
        disconnect(sourceModel(), nullptr, this, nullptr);
    m_recentValid = false;
    clearSortValues();
    // Connected before the base class connects, so the stored sort values are gone before it
    // places changed rows.
    if (model) {
        connect(model, &QAbstractItemModel::dataChanged, this, &BookSortFilterModel::clearSortValues);
        connect(model, &QAbstractItemModel::rowsInserted, this, &BookSortFilterModel::clearSortValues);
        connect(model, &QAbstractItemModel::rowsRemoved, this, &BookSortFilterModel::clearSortValues);
        connect(model, &QAbstractItemModel::rowsMoved, this, &BookSortFilterModel::clearSortValues);
        connect(model, &QAbstractItemModel::modelReset, this, &BookSortFilterModel::clearSortValues);
        connect(model, &QAbstractItemModel::layoutChanged, this, &BookSortFilterModel::clearSortValues);
    }
    QSortFilterProxyModel::setSourceModel(model);
    if (!model)
        return;
    // These run after the base class has filtered the changed rows, and filter again when the
    // change moved a book into or out of the recently-read few.
    connect(model, &QAbstractItemModel::dataChanged, this, &BookSortFilterModel::onSourceChanged);
    connect(model, &QAbstractItemModel::rowsInserted, this, &BookSortFilterModel::onSourceChanged);
    connect(model, &QAbstractItemModel::rowsRemoved, this, &BookSortFilterModel::onSourceChanged);
    connect(model, &QAbstractItemModel::modelReset, this, &BookSortFilterModel::onSourceChanged);
    connect(model, &QAbstractItemModel::layoutChanged, this, &BookSortFilterModel::onSourceChanged);
}

void BookSortFilterModel::setFilterCategory(int category)
{
    if (category == Enums::AppSettings || category == m_category)
        return;
    const int old = m_category;
    m_category = category;
    m_recentValid = false;
    clearSortValues();
    invalidateFilter();
    if (category == Enums::RecentlyRead)
        sort(BookModel::LastViewColumn, Qt::DescendingOrder);
    else if (old == Enums::RecentlyRead)
        sort(m_sortColumn, m_sortOrder);
    emit filterCategoryChanged(category);
}

void BookSortFilterModel::setSearchText(const QString& text)
{
    const QString trimmed = text.trimmed();
    if (trimmed == m_searchText)
        return;
    m_searchText = trimmed;
    // Titles are typed as shown ("Harry Potter (Book 1)", "$100 Startup"), so the text itself is
    // looked for first; a pattern still finds what it matches. The older regular-expression
    // syntax has no possessive quantifiers: there "C++" is invalid, not "one or more C".
    m_search = QRegularExpression(trimmed, QRegularExpression::CaseInsensitiveOption);
    m_searchIsPattern = QRegExp(trimmed, Qt::CaseInsensitive).isValid() && m_search.isValid();
    if (m_searchIsPattern)
        m_search.optimize();
    // The sort values belong to the source rows, which a search does not change: the rows it
    // brings back are placed without reading every book again. One change of the layout, not
    // a removal or insertion per run of rows, so that views rebuild once.
    invalidate();
    emit searchTextChanged(trimmed);
}

void BookSortFilterModel::setUserSort(int column, Qt::SortOrder order)
{
    if (column == BookModel::LastViewColumn)
        return;
    m_sortColumn = column;
    m_sortOrder = order;
    if (m_category != Enums::RecentlyRead)
        sort(column, order);
}

void BookSortFilterModel::sort(int column, Qt::SortOrder order)
{
    // Values the source changed without telling (a folder renamed) are read again.
    clearSortValues();
    // The language may have changed since the last sort.
    const QLocale locale = collationLocale();
    if (m_collator.locale() != locale) {
        m_collator.setLocale(locale);
        m_collator.setCaseSensitivity(Qt::CaseInsensitive);
    }
    if (column != BookModel::LastViewColumn) {
        m_sortColumn = column;
        m_sortOrder = order;
    }
    QSortFilterProxyModel::sort(column, order);
}

bool BookSortFilterModel::filterAcceptsRow(int sourceRow, const QModelIndex& sourceParent) const
{
    const QModelIndex book = sourceModel()->index(sourceRow, 0, sourceParent);
    return inCategory(book) && matchesSearch(book);
}

bool BookSortFilterModel::inCategory(const QModelIndex& book) const
{
    // A book in the trash shows in the trash only.
    if (book.data(BookModel::DeletedRole).toBool())
        return m_category == Enums::Deleted;
    if (m_category == Enums::AllBooks)
        return true;
    if (m_category == Enums::RecentlyRead)
        return recentlyRead().contains(book.data(BookModel::IdRole).toInt());
    if (m_category == Enums::Favorites)
        return book.data(BookModel::FavoriteRole).toBool();
    if (m_category >= Enums::BookFormat && m_category < Enums::MaxBookFormat)
        return book.data(BookModel::FormatRole).toInt() == m_category - Enums::BookFormat;
    if (m_category > Enums::MaxBookFormat)
        return book.data(BookModel::CategoryIdRole).toInt() == m_category - Enums::MaxBookFormat;
    return false;
}

bool BookSortFilterModel::matchesSearch(const QModelIndex& book) const
{
    if (m_searchText.isEmpty())
        return true;
    for (int role : { BookModel::TitleRole, BookModel::AuthorRole, BookModel::FileNameRole }) {
        const QString text = book.data(role).toString();
        if (text.contains(m_searchText, Qt::CaseInsensitive) || (m_searchIsPattern && m_search.match(text).hasMatch()))
            return true;
    }
    return false;
}

const QSet<int>& BookSortFilterModel::recentlyRead() const
{
    if (m_recentValid)
        return m_recentIds;
    m_recentIds.clear();
    m_recentValid = true;
    const QAbstractItemModel* books = sourceModel();
    if (!books)
        return m_recentIds;
    const int limit = BookProvider::recentlyReadMaxBookCount();
    const quint32 oldest = BookProvider::recentlyReadTimeLastView();
    // (last view, id) of every candidate; the latest views win, ties in model order.
    QVector<QPair<qint64, int>> candidates;
    const int rows = books->rowCount();
    for (int row = 0; row < rows; ++row) {
        const QModelIndex book = books->index(row, 0);
        if (book.data(BookModel::DeletedRole).toBool())
            continue;
        const QDateTime lastView = book.data(BookModel::LastViewRole).toDateTime();
        const qint64 seconds = lastView.isValid() ? lastView.toSecsSinceEpoch() : 0;
        if (seconds > qint64(oldest))
            candidates.append({ seconds, book.data(BookModel::IdRole).toInt() });
    }
    std::stable_sort(candidates.begin(), candidates.end(),
        [](const QPair<qint64, int>& a, const QPair<qint64, int>& b) { return a.first > b.first; });
    for (int i = 0; i < candidates.size() && i < limit; ++i)
        m_recentIds.insert(candidates.at(i).second);
    return m_recentIds;
}

void BookSortFilterModel::onSourceChanged()
{
    m_recentValid = false;
    if (m_category != Enums::RecentlyRead)
        return;
    const QSet<int> shown = m_recentIds;
    if (recentlyRead() != shown)
        invalidateFilter();
}

bool BookSortFilterModel::lessThan(const QModelIndex& left, const QModelIndex& right) const
{
    const SortValue a = sortValue(left);
    const SortValue b = sortValue(right);
    if (a.kind == SortValue::Text) {
        const QString rightKey
            = b.kind == SortValue::Text ? b.text : withoutPunctuation(right.data(sortRole()).toString());
        if (isSortLocaleAware()) {
            if (m_collator.caseSensitivity() != sortCaseSensitivity())
                m_collator.setCaseSensitivity(sortCaseSensitivity());
            return m_collator.compare(a.text, rightKey) < 0;
        }
        return a.text.compare(rightKey, sortCaseSensitivity()) < 0;
    }
    if (a.kind == SortValue::Other || b.kind == SortValue::Other || b.kind == SortValue::Text)
        return QSortFilterProxyModel::lessThan(left, right);
    // As the base comparison: a missing value (a book never read) is never less.
    if (a.kind == SortValue::Invalid)
        return false;
    if (b.kind == SortValue::Invalid)
        return true;
    return a.number < b.number;
}

BookSortFilterModel::SortValue BookSortFilterModel::sortValue(const QModelIndex& index) const
{
    if (index.column() != m_sortValuesColumn || sortRole() != m_sortValuesRole) {
        m_sortValues.clear();
        m_sortValuesColumn = index.column();
        m_sortValuesRole = sortRole();
    }
    const auto it = m_sortValues.constFind(index.row());
    if (it != m_sortValues.constEnd())
        return *it;

    SortValue value;
    // A date of the book model is a local time, and making one costs a time-zone lookup (a file
    // status call) per book: the book's stored seconds give the same order.
    const int column = index.column();
    if (sortRole() == Qt::DisplayRole && qobject_cast<const BookModel*>(index.model())
        && (column == BookModel::DateAddedColumn || column == BookModel::LastViewColumn)) {
        const BookDto book = index.data(BookModel::BookRole).value<BookDto>();
        const quint32 seconds = column == BookModel::DateAddedColumn ? book.time_added : book.time_last_view;
        // A book never opened has no last view, like the invalid date the model gives for it.
        if (column == BookModel::DateAddedColumn || seconds != 0) {
            value.kind = SortValue::Number;
            value.number = qint64(seconds) * 1000;
        }
        m_sortValues.insert(index.row(), value);
        return value;
    }
    const QVariant data = index.data(sortRole());
    switch (data.userType()) {
    case QMetaType::UnknownType:
        break;
    case QMetaType::QString:
        value.kind = SortValue::Text;
        value.text = withoutPunctuation(data.toString());
        break;
    case QMetaType::QDateTime: {
        // Local times are costly to compare: once converted here, each is a number.
        const QDateTime time = data.toDateTime();
        if (time.isValid()) {
            value.kind = SortValue::Number;
            value.number = time.toMSecsSinceEpoch();
        }
        break;
    }
    case QMetaType::Bool:
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::Long:
    case QMetaType::LongLong:
    case QMetaType::Short:
        value.kind = SortValue::Number;
        value.number = data.toLongLong();
        break;
    default:
        value.kind = SortValue::Other;
        break;
    }
    m_sortValues.insert(index.row(), value);
    return value;
}

QString BookSortFilterModel::withoutPunctuation(const QString& text)
{
    QString key;
    key.reserve(text.size());
    for (const QChar c : text) {
        if (!c.isPunct())
            key.append(c);
    }
    return key;
}

void BookSortFilterModel::clearSortValues()
{
    m_sortValues.clear();
    m_sortValuesColumn = -1;
}
