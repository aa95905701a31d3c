#include "readingmodelwidget.h"

#include "kelui.h"
#include "utils/kelwidgettreeutils.h"

#include <QLayout>
#include <QVBoxLayout>

namespace {
constexpr int kModelWidgetStyle = 38;
constexpr int kListRowStyle = 1039;
// Up to this many rows are measured at once, so a short list has its exact height from the start.
constexpr int kMeasuredAtOnce = 300;
}

ReadingModelWidget::ReadingModelWidget(QWidget* parent)
    : KelListWidget(kModelWidgetStyle, parent)
{
    auto* layout = new QVBoxLayout;
    layout->setObjectName(QStringLiteral("ItemsLayout"));
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    registerLayout(0, layout);
    setCurrentLayoutId(0);
}

void ReadingModelWidget::setProbe(QWidget* widget, ReadingModelItem* item)
{
    delete m_probe;
    m_probe = widget;
    m_probeItem = item;
    m_probe->setObjectName(QStringLiteral("RowProbe"));
    m_probe->hide();
    setWindowed(
        true, [this](const QModelIndex& index, int) { return QSize(0, rowHeight(index)); },
        [this](int) {
            // A long list stands at the height of its first row until it is measured.
            const QAbstractItemModel* rows = model();
            if (!rows || rows->rowCount() <= kMeasuredAtOnce)
                return QSize();
            return QSize(0, rowHeight(rows->index(0, 0)));
        });
    setRowsFollowWidth(true);
}

int ReadingModelWidget::rowHeight(const QModelIndex& index) const
{
    if (!m_probe)
        return 0;
    m_probeItem->readFrom(index);
    // The probe is never laid out: the size hints its parts cached for the last row are dropped.
    KelUtils::updateGeometriesRecursively(m_probe);
    const int width = viewport()->width();
    const int height = m_probe->hasHeightForWidth() ? m_probe->heightForWidth(width) : m_probe->sizeHint().height();
    return qMax(height, m_probe->minimumSizeHint().height());
}

void ReadingModelWidget::setCurrentItemKey(const QVariant& key)
{
    m_currentItemKey = key;
    forEachItem([](KelListWidgetItem* item, int) {
        if (auto* row = dynamic_cast<ReadingModelItem*>(item))
            row->updateCurrentState();
    });
}

void ReadingModelItem::readFrom(const QModelIndex& index)
{
    const QVariant data = index.data(Qt::UserRole);
    if (data.canConvert<BookLinkItem>())
        m_link = data.value<BookLinkItem>().link;
}

QVariant ReadingModelItem::currentItemKey() const { return m_owner ? m_owner->currentItemKey() : QVariant(); }

bool ReadingModelItem::isInCurrentPageRange() const
{
    const auto range = currentItemKey().value<QPair<int, int>>();
    const int p = page();
    return m_link && p >= 1 && range.first <= p && p <= range.second;
}

ReadingRowButton::ReadingRowButton(QWidget* parent)
    : KelButton(kListRowStyle, parent)
{
    applyStyle();
    // A row is checked while current, and a click on it is a navigation all the same.
    setEmitsClickedWhenCheckable(true);
}

void ReadingRowButton::applyStyle()
{
    KelButton::applyStyle();
    // The list-row look ignores the height; a row here is as tall as what it holds, and as wide as
    // its list however wide its text would like to be.
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Minimum);
}

QSize ReadingRowButton::sizeHint() const { return layout() ? layout()->sizeHint() : KelButton::sizeHint(); }

QSize ReadingRowButton::minimumSizeHint() const
{
    return layout() ? layout()->minimumSize() : KelButton::minimumSizeHint();
}

bool ReadingRowButton::hasHeightForWidth() const
{
    return layout() ? layout()->hasHeightForWidth() : KelButton::hasHeightForWidth();
}

int ReadingRowButton::heightForWidth(int width) const
{
    return layout() ? layout()->totalHeightForWidth(width) : KelButton::heightForWidth(width);
}

ReadingModelItemButton::ReadingModelItemButton(QWidget* parent)
    : ReadingRowButton(parent)
{
    connect(this, &KelButton::clicked, this, [this] {
        if (link())
            emit navLinkClicked(link(), false);
    });
    if (KelUi* ui = KelUi::instance())
        connect(ui, &KelUi::currentDayChanged, this, [this] { onCurrentDayChanged(); });
}

void ReadingModelItemButton::updateCurrentState() { setCheckedSilently(isInCurrentPageRange()); }

ReadingModelItemWidget::ReadingModelItemWidget(QWidget* parent)
    : KelWidget(parent)
{
    if (KelUi* ui = KelUi::instance())
        connect(ui, &KelUi::currentDayChanged, this, [this] { onCurrentDayChanged(); });
}
