#include "utils/kelwidgettreeutils.h"

#include <QLayout>
#include <QWidget>

namespace KelUtils {

void clearLayout(QLayout* layout)
{
    if (!layout)
        return;
    while (QLayoutItem* item = layout->takeAt(0)) {
        delete item->widget();
        clearLayout(item->layout());
        delete item;
    }
}

void invalidateLayoutRecursively(QLayout* layout)
{
    if (!layout)
        return;
    for (int i = 0; i < layout->count(); ++i) {
        QLayoutItem* item = layout->itemAt(i);
        if (QLayout* nested = item->layout())
            invalidateLayoutRecursively(nested);
        else
            item->invalidate();
    }
    layout->invalidate();
    layout->activate();
}

void updateGeometriesRecursively(QWidget* widget)
{
    if (!widget)
        return;
    const QObjectList children = widget->children();
    for (QObject* child : children) {
        if (child->isWidgetType() && !child->isWindowType())
            updateGeometriesRecursively(static_cast<QWidget*>(child));
    }
    if (QLayout* layout = widget->layout())
        invalidateLayoutRecursively(layout);
    else
        widget->updateGeometry();
}

QWidget* topLevelWindow(QWidget* widget)
{
    if (!widget)
        return nullptr;
    QWidget* window = widget->window();
    while (QWidget* parent = window->parentWidget())
        window = parent->window();
    return window;
}

void setRetainSizeWhenHidden(QWidget* widget, bool retain)
{
    if (!widget)
        return;
    QSizePolicy policy = widget->sizePolicy();
    policy.setRetainSizeWhenHidden(retain);
    widget->setSizePolicy(policy);
}

void setSizePolicy(QWidget* widget, QSizePolicy::Policy horizontal, QSizePolicy::Policy vertical)
{
    if (!widget)
        return;
    QSizePolicy policy(horizontal, vertical);
    policy.setRetainSizeWhenHidden(widget->sizePolicy().retainSizeWhenHidden());
    widget->setSizePolicy(policy);
}

} // namespace KelUtils
