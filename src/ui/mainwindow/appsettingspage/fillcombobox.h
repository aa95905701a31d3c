#pragma once

#include "widgets/kelcombobox.h"

#include <QList>
#include <QVariant>

// Refills the combo box with values of an enumeration, each carried as its own meta-type so
// handlers convert the data back without guessing.
template <typename Enum>
void fillComboBox(KelComboBox* comboBox, int itemStyleRole, const QList<Enum>& values, int restorePolicy)
{
    QList<QVariant> items;
    items.reserve(values.size());
    for (Enum value : values)
        items << QVariant::fromValue(value);
    comboBox->setItems(itemStyleRole, items, restorePolicy);
}
