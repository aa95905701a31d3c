#include "utils/kellayoututils.h"

#include <QBoxLayout>
#include <QDebug>
#include <QWidget>

namespace {

template <typename Box> Box* boxLayout(QWidget* widget, const QMargins& margins, int spacing, const char* kind)
{
    if (!widget) {
        qWarning() << "No widget to put a" << kind << "layout on";
        return nullptr;
    }
    QLayout* current = widget->layout();
    if (auto* box = qobject_cast<Box*>(current))
        return box;
    if (current) {
        // Qt keeps the first layout and would leave a new one floating, unattached.
        qWarning() << "Widget" << widget << "already has the layout" << current << "- no" << kind << "layout made";
        return nullptr;
    }
    auto* box = new Box(widget);
    box->setContentsMargins(margins);
    box->setSpacing(spacing);
    return box;
}

} // namespace

namespace KelUtils {

QVBoxLayout* vBoxLayout(QWidget* widget, const QMargins& margins, int spacing)
{
    return boxLayout<QVBoxLayout>(widget, margins, spacing, "vertical box");
}

QHBoxLayout* hBoxLayout(QWidget* widget, const QMargins& margins, int spacing)
{
    return boxLayout<QHBoxLayout>(widget, margins, spacing, "horizontal box");
}

} // namespace KelUtils
