#pragma once

#include "painting/kelicon.h"
#include "styles/kelstatecolors.h"
#include "styles/kelstyleable.h"

#include <QPainterPath>

// Icons of check boxes, radio buttons and toggle switches that draw themselves for the button's
// animated state instead of showing a picture. One instance of each is shared by every button;
// all per-button state comes from the animator passed to statePixmap. Their colours follow the
// current profile (they are styleables without a style id).
namespace AnimatedIcons {

class CheckBoxIcon : public KelIcon, public KelStyleable {
public:
    CheckBoxIcon();
    ~CheckBoxIcon() override;

    bool isValid() const override { return true; }
    QPixmap statePixmap(double devicePixelRatio, const QSize& size, const QColor& color,
        KelWidgetStateAnimator* animator) const override;
    void applyStyle() override;

private:
    int m_borderWidth = 1;
    int m_radius = 2;
    int m_markWidth = 2;
    QPainterPath m_markPath;
    double m_markLength = 0.0;
    KelStateColors m_fill;
    KelStateColors m_border;
    KelStateColors m_mark;
};

class RadioIcon : public KelIcon, public KelStyleable {
public:
    RadioIcon();
    ~RadioIcon() override;

    bool isValid() const override { return true; }
    QPixmap statePixmap(double devicePixelRatio, const QSize& size, const QColor& color,
        KelWidgetStateAnimator* animator) const override;
    void applyStyle() override;

private:
    int m_dotInset = 5;
    int m_ringWidth = 1;
    KelStateColors m_fill;
    KelStateColors m_border;
    KelStateColors m_dot;
};

class ToggleIcon : public KelIcon, public KelStyleable {
public:
    ToggleIcon();
    ~ToggleIcon() override;

    bool isValid() const override { return true; }
    QPixmap statePixmap(double devicePixelRatio, const QSize& size, const QColor& color,
        KelWidgetStateAnimator* animator) const override;
    void applyStyle() override;

private:
    int m_knobInset = 3;
    int m_knobStretch = 10;
    KelStateColors m_track;
    KelStateColors m_knob;
};

// Makes one icon of each kind and hands them to the toolkit's icon provider under the names
// "CheckBoxIcon", "RadioIcon" and "ToggleIcon"; the provider owns them.
void registerIcons();

} // namespace AnimatedIcons
