#pragma once

#include <QColor>
#include <QMetaType>

// The colours of one interaction state set: the normal colour, the overlays laid over it while
// hovered and while pressed, and the colour of the disabled state (invalid: fade the normal
// colour instead).
struct KelStateColorSet {
    QColor normal = Qt::transparent;
    QColor hovered = Qt::transparent;
    QColor pressed = Qt::transparent;
    QColor disabled;

    bool operator==(const KelStateColorSet& o) const
    {
        return normal == o.normal && hovered == o.hovered && pressed == o.pressed && disabled == o.disabled;
    }
    bool operator!=(const KelStateColorSet& o) const { return !(*this == o); }
};

// Eight colours a painter blends by a widget's animated state (blendStateColor): one set for the
// unchecked and one for the checked state.
class KelStateColors {
public:
    // Each set: transparent, transparent, transparent, invalid.
    KelStateColors() = default;
    // Each set: c, transparent, transparent, invalid.
    KelStateColors(const QColor& c);
    KelStateColors(Qt::GlobalColor c);
    // Both sets alike.
    KelStateColors(const QColor& normal, const QColor& hovered, const QColor& pressed, const QColor& disabled);
    // Both disabled entries invalid.
    KelStateColors(const QColor& normal, const QColor& hovered, const QColor& pressed, const QColor& checkedNormal,
        const QColor& checkedHovered, const QColor& checkedPressed);

    KelStateColorSet unchecked;
    KelStateColorSet checked;

    // The set of the state: the checked one for true.
    const KelStateColorSet& set(bool isChecked) const { return isChecked ? checked : unchecked; }

    bool operator==(const KelStateColors& o) const { return unchecked == o.unchecked && checked == o.checked; }
    bool operator!=(const KelStateColors& o) const { return !(*this == o); }
};

Q_DECLARE_METATYPE(KelStateColors)
