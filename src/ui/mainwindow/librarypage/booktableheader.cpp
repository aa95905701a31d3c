#include "booktableheader.h"

#include "bookthumbnailwidget.h"
#include "models/bookmodel.h"
#include "painting/kelpaintcontext.h"
#include "styles/kelstyle.h"
#include "widgets/kelbutton.h"

#include <QHBoxLayout>
#include <QPainter>
#include <QSortFilterProxyModel>
#include <QSpacerItem>

namespace {

const char* const kColumnProp = "column_prop";
const char* const kOrderProp = "order_prop";

} // namespace

class BookTableHeader::Private {
public:
    BookTableHeader* q = nullptr;
    int viewMode = 0;
    QSortFilterProxyModel* model = nullptr;
    QList<KelButton*> buttons;
    QSpacerItem* leading = nullptr;
    QSpacerItem* trailing = nullptr;

    void columnClicked(KelButton* button)
    {
        const int column = button->property(kColumnProp).toInt();
        auto order = Qt::SortOrder(button->property(kOrderProp).toInt());
        if (model && model->sortColumn() == column)
            order = order == Qt::AscendingOrder ? Qt::DescendingOrder : Qt::AscendingOrder;
        button->setProperty(kOrderProp, int(order));
        if (model)
            model->sort(column, order);
        refreshSort();
    }

    void refreshSort()
    {
        const KelArrowSpec ascending = kelStyle()->arrowSpec(1003);
        const KelArrowSpec descending = kelStyle()->arrowSpec(1004);
        const int column = model ? model->sortColumn() : -1;
        const Qt::SortOrder order = model ? model->sortOrder() : Qt::AscendingOrder;
        for (KelButton* button : qAsConst(buttons)) {
            const bool checked = button->property(kColumnProp).toInt() == column;
            button->setCheckedSilently(checked);
            // A sort applied from elsewhere (the saved one at start) is what the next click reverses.
            if (checked)
                button->setProperty(kOrderProp, int(order));
            button->setArrowParams(checked && order == Qt::DescendingOrder ? descending : ascending);
        }
    }

    void applyViewMode()
    {
        const bool cards = viewMode == 1;
        for (int i = 0; i < buttons.size(); ++i) {
            KelButton* button = buttons[i];
            button->setWidgetType(cards ? 1026 : 1025);
            button->setPaddings(i == 0 ? QMargins(24, 0, 12, 0) : QMargins(12, 0, 12, 0));
        }
        const QSizePolicy::Policy policy = cards ? QSizePolicy::Expanding : QSizePolicy::Fixed;
        leading->changeSize(0, 0, policy, QSizePolicy::Minimum);
        trailing->changeSize(0, 0, policy, QSizePolicy::Minimum);
        q->setContentsMargins(cards ? 24 : 0, 0, 0, 0);
        q->layout()->invalidate();
        refreshSort();
        q->update();
    }
};

BookTableHeader::BookTableHeader(QAbstractItemModel* model, QWidget* parent)
    : KelFrame(1042, parent)
    , d(new Private)
{
    d->q = this;
    d->model = qobject_cast<QSortFilterProxyModel*>(model);
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    d->leading = new QSpacerItem(0, 0, QSizePolicy::Minimum, QSizePolicy::Minimum);
    d->trailing = new QSpacerItem(0, 0, QSizePolicy::Minimum, QSizePolicy::Minimum);
    layout->addItem(d->leading);

    const struct {
        int column;
        Qt::Alignment alignment;
    } columns[] = {
        { BookModel::NameColumn, Qt::AlignLeft | Qt::AlignVCenter },
        { BookModel::AuthorColumn, Qt::AlignLeft | Qt::AlignVCenter },
        { BookModel::DateAddedColumn, Qt::AlignCenter },
        { BookModel::NotesColumn, Qt::AlignCenter },
        { BookModel::ProgressColumn, Qt::AlignLeft | Qt::AlignVCenter },
    };
    for (const auto& c : columns) {
        auto* button = new KelButton(1025, this);
        button->setCheckable(true);
        button->setEmitsClickedWhenCheckable(true);
        button->setAlignment(c.alignment);
        button->setProperty(kColumnProp, c.column);
        button->setProperty(kOrderProp, int(Qt::AscendingOrder));
        connect(button, &KelButton::toggled, this, [this, button] { d->columnClicked(button); });
        connect(button, &KelButton::hovered, this, qOverload<>(&QWidget::update));
        connect(button, &KelButton::leaved, this, qOverload<>(&QWidget::update));
        layout->addWidget(button);
        d->buttons.append(button);
    }
    layout->addItem(d->trailing);
    retranslateUi();
    setFixedHeight(40);
    d->refreshSort();
    d->applyViewMode();
    if (model)
        connect(model, &QAbstractItemModel::layoutChanged, this, [this] { d->refreshSort(); });
}

BookTableHeader::~BookTableHeader() { delete d; }

void BookTableHeader::setViewMode(int mode)
{
    if (d->viewMode == mode)
        return;
    d->viewMode = mode;
    d->applyViewMode();
}

int BookTableHeader::viewMode() const { return d->viewMode; }

void BookTableHeader::retranslateUi()
{
    if (!d->model)
        return;
    for (KelButton* button : qAsConst(d->buttons)) {
        const int column = button->property(kColumnProp).toInt();
        button->setText(d->model->headerData(column, Qt::Horizontal, Qt::DisplayRole).toString());
    }
}

QMap<int, int> BookTableHeader::columnWidths() const
{
    QMap<int, int> widths;
    for (int i = 1; i < d->buttons.size(); ++i)
        widths.insert(d->buttons[i]->property(kColumnProp).toInt(), d->buttons[i]->sizeHint().width());
    return widths;
}

void BookTableHeader::setColumnWidths(const QMap<int, int>& widths)
{
    for (int i = 1; i < d->buttons.size(); ++i) {
        const int width = widths.value(d->buttons[i]->property(kColumnProp).toInt());
        d->buttons[i]->setFixedWidth(width > 0 ? width : QWIDGETSIZE_MAX);
    }
}

QList<KelButton*> BookTableHeader::buttons() const { return d->buttons; }

void BookTableHeader::paintEvent(QPaintEvent* event)
{
    KelFrame::paintEvent(event);
    if (d->viewMode != 0)
        return;
    const double ratio = devicePixelRatioF();
    auto snap = [ratio](double v) { return qRound(v * ratio) / ratio; };
    QPainter painter(this);
    QPen pen(kelStyle()->color(1), qRound(ratio) / ratio, Qt::SolidLine, Qt::SquareCap, Qt::MiterJoin);
    painter.setPen(pen);
    int hovered = -1;
    for (int i = 0; i < d->buttons.size() && hovered < 0; ++i) {
        if (d->buttons[i]->isHovered())
            hovered = i;
    }
    const int h = thumbnailGeometry(0).rowLayout.separatorHeight;
    const int top = (height() - h) / 2;
    const double y1 = snap(top);
    const double y2 = snap(top + h);
    for (int i = 1; i < d->buttons.size(); ++i) {
        if (hovered >= 0 && (i == hovered || i == hovered + 1))
            continue;
        const double x = snap(d->buttons[i]->x());
        painter.drawLine(QPointF(x, y1), QPointF(x, y2));
    }
}

SearchLineEdit::SearchLineEdit(QWidget* parent)
    : KelLineEdit(1069, parent)
{
    setMaximumWidth(382);
}
