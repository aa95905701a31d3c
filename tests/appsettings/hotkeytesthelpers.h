#pragma once

#include "hotkeys.h"

#include <QKeyEvent>
#include <QMetaEnum>
#include <QStringList>

// Names of every action the event triggers, in id order.
inline QStringList matchedActions(const QKeyEvent& event)
{
    const QMetaEnum ids = QMetaEnum::fromType<Hotkeys::Id>();
    QStringList names;
    for (int i = 0; i < ids.keyCount(); ++i) {
        if (Hotkeys::matches(&event, Hotkeys::Id(ids.value(i))))
            names.append(QString::fromLatin1(ids.key(i)));
    }
    return names;
}
