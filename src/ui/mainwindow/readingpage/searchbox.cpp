#include "searchbox.h"

#include "bookcontext.h"
#include "displayformats.h"
#include "models/booksearchmodel.h"
#include "readingenums.h"
#include "styles/kelstyle.h"
#include "widgets/kellabel.h"
#include "widgets/kellineedit.h"
#include "widgets/wordwraplabel.h"

#include <QCoreApplication>
#include <QDebug>
#include <QHBoxLayout>
#include <QSortFilterProxyModel>
#include <QVBoxLayout>

namespace {
constexpr int kSearchFieldStyle = 1069;
constexpr int kSmallStyle = 1053;
constexpr int kTextStyle = 1052;
constexpr int kHighlightRole = 1023;
constexpr int kTitleLines = 2;
constexpr int kTextLines = 3;
// Characters of the text kept before the query's first occurrence when the text is cut in front.
constexpr int kLeadBeforeQuery = 40;

QString trSearch(const char* text) { return QCoreApplication::translate("MainWindow_Reading_Search", text); }
}

SearchWidget::SearchWidget(QWidget* parent)
    : ReadingModelItemButton(parent)
    , m_titleLabel(new WordWrapLabel(kSmallStyle, this))
    , m_textLabel(new WordWrapLabel(kTextStyle, this))
    , m_pageLabel(new KelLabel(kSmallStyle, this))
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(24, 12, 24, 24);
    layout->setSpacing(0);
    auto* top = new QHBoxLayout;
    top->setContentsMargins(0, 0, 0, 0);
    top->setSpacing(12);
    top->addWidget(m_titleLabel, 1, Qt::AlignTop);
    top->addWidget(m_pageLabel, 0, Qt::AlignRight | Qt::AlignTop);
    layout->addLayout(top);
    layout->addSpacing(6);
    layout->addWidget(m_textLabel);
    m_pageLabel->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::MinimumExpanding);
    m_pageLabel->setTextFormat(Qt::RichText);
    m_titleLabel->setTextFormat(Qt::PlainText);
    m_textLabel->setTextFormat(Qt::PlainText);
    m_titleLabel->setMaxLineCount(kTitleLines);
    m_textLabel->setMaxLineCount(kTextLines);
    for (KelLabel* label : { static_cast<KelLabel*>(m_titleLabel), static_cast<KelLabel*>(m_textLabel), m_pageLabel })
        label->setAttribute(Qt::WA_TransparentForMouseEvents);
    applyStyle();
}

QString SearchWidget::highlight(const QString& s, const QString& query, const QString& openTag, const QString& closeTag)
{
    if (query.isEmpty())
        return s.toHtmlEscaped();
    QString html;
    int from = 0;
    for (int hit = s.indexOf(query, 0, Qt::CaseInsensitive); hit >= 0;
         hit = s.indexOf(query, from, Qt::CaseInsensitive)) {
        html += s.mid(from, hit - from).toHtmlEscaped() + openTag + s.mid(hit, query.size()).toHtmlEscaped() + closeTag;
        from = hit + query.size();
    }
    return html + s.mid(from).toHtmlEscaped();
}

QVector<QTextLayout::FormatRange> SearchWidget::occurrences(const QString& s, const QString& query, const QColor& color)
{
    QVector<QTextLayout::FormatRange> ranges;
    if (query.isEmpty())
        return ranges;
    QTextCharFormat format;
    format.setForeground(color);
    for (int hit = s.indexOf(query, 0, Qt::CaseInsensitive); hit >= 0;
         hit = s.indexOf(query, hit + query.size(), Qt::CaseInsensitive))
        ranges.append({ hit, int(query.size()), format });
    return ranges;
}

QString SearchWidget::fromFirstOccurrence(const QString& s, const QString& query)
{
    const int hit = query.isEmpty() ? -1 : s.indexOf(query, 0, Qt::CaseInsensitive);
    if (hit <= kLeadBeforeQuery)
        return s;
    // From the start of a word, where there is one near enough.
    int from = hit - kLeadBeforeQuery;
    const int space = s.lastIndexOf(QLatin1Char(' '), from);
    if (space >= 0 && from - space < kLeadBeforeQuery / 2)
        from = space + 1;
    if (from < s.size() && s.at(from).isLowSurrogate())
        ++from;
    return QChar(0x2026) + s.mid(from);
}

void SearchWidget::readFrom(const QModelIndex& index)
{
    const QVariant data = index.data(Qt::UserRole);
    if (!data.canConvert<SearchItem>()) {
        qCritical() << "SearchWidget: trying to read from invalid index, no UserData";
        return;
    }
    const SearchItem item = data.value<SearchItem>();
    setLink(item.link);
    m_query = item.query;
    m_title = item.title;
    m_text = fromFirstOccurrence(item.text, item.query);
    refreshLabels();
    updateCurrentState();
}

void SearchWidget::refreshLabels()
{
    m_pageLabel->setText(highlight(formatPageNumber(page()), m_query, m_openTag, m_closeTag));
    const auto show = [this](WordWrapLabel* label, const QString& text) {
        label->setText(text);
        label->setFormats(occurrences(text, m_query, m_highlightColor));
        label->setVisible(!text.isEmpty());
    };
    show(m_titleLabel, m_title);
    show(m_textLabel, m_text);
}

void SearchWidget::applyStyle()
{
    ReadingModelItemButton::applyStyle();
    if (KelStyle* style = kelStyle()) {
        m_highlightColor = style->color(kHighlightRole);
        m_openTag = QStringLiteral("<font color='%1'>").arg(m_highlightColor.name());
    }
    // Called from the base constructor's styling too, before the labels exist.
    if (m_pageLabel)
        refreshLabels();
}

SearchBox::SearchBox(QWidget* parent)
    : BookItemsSideBar(ReadingEnums::Search, parent, TrackPageRange)
    , m_searchField(new KelLineEdit(kSearchFieldStyle, this))
{
    setObjectName(QStringLiteral("Search"));
    headerLayout()->addWidget(m_searchField);
    modelWidget()->installRowFactory<SearchWidget>();
    auto* proxy = new QSortFilterProxyModel;
    proxy->sort(0, Qt::AscendingOrder);
    setProxyModel(proxy);
    connect(this, &KelWidget::showed, m_searchField, [this] { m_searchField->setFocus(Qt::OtherFocusReason); });
}

QString SearchBox::title() const { return trSearch("Search"); }

QString SearchBox::closeText() const { return trSearch("Close"); }

QString SearchBox::emptyText() const
{
    if (!m_searchField->text().trimmed().isEmpty())
        return trSearch("Nothing found");
    return trSearch("Search by text or by page number");
}

void SearchBox::onBookContextChanged(QSharedPointer<BookContext> context)
{
    BookItemsSideBar::onBookContextChanged(context);
    static_cast<QSortFilterProxyModel*>(proxyModel())->setSourceModel(context->searchModel());
    m_bookConnections << connect(m_searchField, &QLineEdit::textEdited, context.data(), &BookContext::setSearchText);
}
