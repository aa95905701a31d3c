#include "tocbox.h"

#include "bookcontext.h"
#include "displayformats.h"
#include "models/toclistmodel.h"
#include "models/tocmodel.h"
#include "readingenums.h"
#include "styles/kelstyle.h"
#include "utils/kelwidgettreeutils.h"
#include "widgets/kellabel.h"
#include "widgets/wordwraplabel.h"

#include <QCoreApplication>
#include <QDebug>
#include <QHBoxLayout>
#include <QVBoxLayout>

namespace {
constexpr int kExpandButtonStyle = 1032;
constexpr int kTitleStyle = 1052;
constexpr int kPageStyle = 1053;
constexpr int kArrowExpanded = 1000;
constexpr int kArrowCollapsed = 1001;
constexpr int kIndent = 24;
constexpr int kIndentStep = 20;

QString trToc(const char* text) { return QCoreApplication::translate("MainWindow_Reading_Toc", text); }
}

ExpandButton::ExpandButton(QWidget* parent)
    : KelButton(kExpandButtonStyle, parent)
{
    connect(this, &KelButton::toggled, this, &ExpandButton::updateLook);
    connect(this, &KelWidget::enabledChanged, this, &ExpandButton::updateLook);
    updateLook();
}

void ExpandButton::updateLook()
{
    if (isEnabled()) {
        setIcon(static_cast<KelIcon*>(nullptr));
        if (KelStyle* style = kelStyle())
            setArrowParams(style->arrowSpec(isChecked() ? kArrowExpanded : kArrowCollapsed));
    } else {
        // A leaf shows a dot in place of the arrow.
        setArrowParams(QSize(0, 0), QMargins(), 2, 0.0);
        setIcon(QStringLiteral(":/svg/dot.svg"));
    }
    update();
}

void ExpandButton::setExpandedSilently(bool expanded)
{
    if (isChecked() == expanded)
        return;
    setCheckedSilently(expanded);
    updateLook();
}

TocItemWidget::TocItemWidget(QWidget* parent)
    : ReadingModelItemWidget(parent)
    , m_rowButton(new ReadingRowButton(this))
    , m_expandButton(new ExpandButton(m_rowButton))
    , m_titleLabel(new WordWrapLabel(kTitleStyle, m_rowButton))
    , m_pageLabel(new KelLabel(kPageStyle, m_rowButton))
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(m_rowButton);
    auto* rowLayout = new QHBoxLayout(m_rowButton);
    rowLayout->setContentsMargins(0, 0, 0, 0);
    rowLayout->setSpacing(6);
    rowLayout->addWidget(m_expandButton);
    rowLayout->addWidget(m_titleLabel, 1);
    rowLayout->addWidget(m_pageLabel);
    m_titleLabel->setMaxLineCount(2);
    m_pageLabel->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    connect(m_rowButton, &KelButton::clicked, this, [this] {
        if (link() && m_titleLabel->isEnabled())
            emit navLinkClicked(link(), false);
    });
    connect(m_expandButton, &KelButton::toggled, this, &TocItemWidget::onExpandToggled);
}

// The toggle arrives a pass of the event loop after the click: the row's entry is looked up then.
void TocItemWidget::onExpandToggled(bool expanded)
{
    ReadingModelWidget* list = ownerList();
    const QModelIndex index = list ? list->modelIndexForItem(this) : QModelIndex();
    if (index.isValid() && index.data(TocListModel::ExpandedRole).toBool() != expanded)
        const_cast<QAbstractItemModel*>(index.model())->setData(index, expanded, TocListModel::ExpandedRole);
}

void TocItemWidget::readFrom(const QModelIndex& index)
{
    const QVariant data = index.data(Qt::UserRole);
    if (!data.canConvert<BookLinkItem>()) {
        qCritical() << "TocPointWidget: trying to read from invalid index, no UserData";
        return;
    }
    const BookLinkItem item = data.value<BookLinkItem>();
    setLink(item.link);
    m_id = item.id;
    const int depth = index.data(TocListModel::DepthRole).toInt();
    m_rowButton->setContentsMargins(kIndent + kIndentStep * depth, 16, 24, 16);
    m_titleLabel->setText(item.title);
    m_pageLabel->setText(formatPageNumber(page()));
    // An entry that leads nowhere stays in the list (its children may lead somewhere), greyed.
    const bool leads = index.flags().testFlag(Qt::ItemIsEnabled);
    m_titleLabel->setEnabled(leads);
    m_pageLabel->setEnabled(leads);

    m_expandButton->setEnabled(index.data(TocListModel::HasChildrenRole).toBool());
    m_expandButton->setExpandedSilently(index.data(TocListModel::ExpandedRole).toBool());
    updateCurrentState();
}

void TocItemWidget::updateCurrentState()
{
    const QString key = currentItemKey().toString();
    m_rowButton->setCheckedSilently(!key.isEmpty() && key == m_id);
}

TocBox::TocBox(QWidget* parent)
    : BookItemsSideBar(ReadingEnums::Toc, parent, TrackTocItem)
{
    setObjectName(QStringLiteral("Toc"));
    modelWidget()->installRowFactory<TocItemWidget>();
    setProxyModel(new TocListModel);
}

QString TocBox::title() const { return trToc("Table of contents"); }

QString TocBox::closeText() const { return trToc("Close"); }

QString TocBox::emptyText() const { return trToc("This book has no table of contents"); }

void TocBox::onBookContextChanged(QSharedPointer<BookContext> context)
{
    BookItemsSideBar::onBookContextChanged(context);
    static_cast<TocListModel*>(proxyModel())->setSourceModel(context->tocModel());
    KelUtils::updateGeometriesRecursively(this);
}
