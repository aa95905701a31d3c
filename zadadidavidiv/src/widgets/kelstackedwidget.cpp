#include "widgets/kelstackedwidget.h"

KelStackedWidget::KelStackedWidget(QWidget* parent)
    : QStackedWidget(parent)
{
    connect(this, &QStackedWidget::currentChanged, this, [this]() { updateGeometry(); });
}

KelStackedWidget::~KelStackedWidget() = default;

QSize KelStackedWidget::sizeHint() const
{
    const QWidget* page = currentWidget();
    if (!page)
        return QStackedWidget::sizeHint();
    const QMargins frame = contentsMargins();
    return page->sizeHint().expandedTo(page->minimumSize()).boundedTo(page->maximumSize())
        + QSize(frame.left() + frame.right(), frame.top() + frame.bottom());
}

QSize KelStackedWidget::minimumSizeHint() const
{
    const QWidget* page = currentWidget();
    if (!page)
        return QStackedWidget::minimumSizeHint();
    const QMargins frame = contentsMargins();
    return page->minimumSizeHint().expandedTo(page->minimumSize())
        + QSize(frame.left() + frame.right(), frame.top() + frame.bottom());
}
