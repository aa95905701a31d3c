#include "readingmodelwidget.h"

#include "kelui.h"

#include <QLayout>
#include <QVBoxLayout>

namespace {
constexpr int kModelWidgetStyle = 38;
constexpr int kListRowStyle = 1039;
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
    // The list-row look ignores the height; a row here is as tall as what it holds.
    setSizePolicy(QSizePolicy::MinimumExpanding, QSizePolicy::Minimum);
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
