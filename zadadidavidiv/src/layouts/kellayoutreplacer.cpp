#include "layouts/kellayoutreplacer.h"

#include "layouts/kelflowlayout.h"
#include "layouts/kellayoutdnd.h"

#include <QBoxLayout>
#include <QDebug>

KelLayoutReplacer::KelLayoutReplacer(QObject* parent)
    : QObject(parent)
{
}

KelLayoutReplacer::~KelLayoutReplacer()
{
    for (auto it = m_layouts.cbegin(); it != m_layouts.cend(); ++it) {
        QLayout* layout = it.value();
        if (!layout || layout->parent())
            continue;
        qCritical() << layout << "with id" << it.key() << "has no parent!";
        delete layout;
    }
}

void KelLayoutReplacer::registerLayout(int id, QLayout* layout) { m_layouts.insert(id, layout); }

int KelLayoutReplacer::currentLayoutId() const { return m_currentLayoutId; }

QLayout* KelLayoutReplacer::currentLayout() const
{
    if (m_currentLayoutId == -1)
        return nullptr;
    return m_layouts.value(m_currentLayoutId);
}

void KelLayoutReplacer::park(QLayout* layout)
{
    // QLayout::update() climbs parent() as if it were always a layout while the layout counts as activated;
    // clearing that flag while the parent is still a layout, a widget or nothing keeps the climb from ever
    // reaching this object.
    QObject* owner = layout->parent();
    if (owner && !owner->isWidgetType() && !qobject_cast<QLayout*>(owner))
        layout->setParent(nullptr);
    layout->update();
    layout->setParent(this);
}

void KelLayoutReplacer::selectFirst(int id)
{
    const int oldId = m_currentLayoutId;
    emit currentLayoutIdAboutToChange(id, oldId);
    m_currentLayoutId = id;
    for (auto it = m_layouts.cbegin(); it != m_layouts.cend(); ++it) {
        if (it.key() != id && it.value())
            park(it.value());
    }
    emit currentLayoutIdChanged(id, oldId);
}

void KelLayoutReplacer::setCurrentLayoutId(int id)
{
    if (id == m_currentLayoutId)
        return;
    if (!m_layouts.contains(id)) {
        qWarning() << id << "is not registered and can't be selected as current!";
        return;
    }
    if (!m_layouts.value(id)) {
        qWarning() << "Layout with id" << id << "is destroyed and can't be selected as current!";
        return;
    }
    QLayout* old = currentLayout();
    if (!old) {
        // Nothing stands in place yet (or it is gone): whoever owns the area places the new layout.
        selectFirst(id);
        return;
    }
    auto* parentBox = qobject_cast<QBoxLayout*>(old->parent());
    if (!parentBox) {
        qWarning() << "Current implementation will replace layouts only placed in parent QBoxLayout. Add support for "
                      "replacing in widget or any other layout type if you need this.";
        qFatal("Replace layout inside anything except of QBoxLayout is not implemented");
    }
    const int oldId = m_currentLayoutId;
    emit currentLayoutIdAboutToChange(id, oldId);

    // Hidden widgets leave isEmpty() true while their items remain, so take until nothing comes out.
    QList<QLayoutItem*> items;
    while (QLayoutItem* item = old->takeAt(0))
        items.append(item);

    const int index = parentBox->indexOf(old);
    parentBox->removeItem(old);
    park(old);

    m_currentLayoutId = id;
    QLayout* layout = currentLayout();
    layout->setParent(nullptr);
    parentBox->insertLayout(index, layout, 0);
    for (QLayoutItem* item : qAsConst(items))
        layout->addItem(item);
    emit currentLayoutIdChanged(id, oldId);
}

void KelLayoutReplacer::insertWidget(int index, QWidget* widget)
{
    LayoutUtils::insertWidget(currentLayout(), index, widget);
}

void KelLayoutReplacer::insertItem(int index, QLayoutItem* item)
{
    QLayout* layout = currentLayout();
    if (auto* box = qobject_cast<QBoxLayout*>(layout)) {
        box->insertItem(index, item);
    } else if (auto* flow = qobject_cast<KelFlowLayout*>(layout)) {
        flow->insertItem(index, item);
    } else {
        qWarning() << "Trying to insert item into" << layout;
        qFatal("Insert item is not implemented");
    }
}

void KelLayoutReplacer::moveItems(int first, int last, int destination)
{
    QLayout* layout = currentLayout();
    if (first < 0 || !layout)
        return;
    QList<QLayoutItem*> taken;
    for (int i = last; i >= first; --i) {
        if (QLayoutItem* item = layout->takeAt(i))
            taken.append(item);
    }
    if (destination > first)
        destination -= taken.size();
    for (QLayoutItem* item : qAsConst(taken))
        insertItem(destination, item);
}
