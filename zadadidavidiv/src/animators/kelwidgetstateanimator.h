#pragma once

#include "animators/keldisabledstateanimator.h"

struct KelAnimationParams;

// The disabled progress plus hovered, pressed and checked progress of one watched widget, each fading
// between 0 and 1 with the style's animation for its kind. In mode 2 the animator follows the widget by
// itself: focus shows as the checked state (text editors) and hover as the hovered state, never on a
// disabled widget. In modes 0 and 1 the widget calls the setters.
class KelWidgetStateAnimator : public KelDisabledStateAnimator {
    Q_OBJECT
    Q_PROPERTY(double hoveredProgress READ hoveredProgress WRITE setHoveredProgress NOTIFY hoveredProgressChanged)
    Q_PROPERTY(double pressedProgress READ pressedProgress WRITE setPressedProgress NOTIFY pressedProgressChanged)
    Q_PROPERTY(double checkedProgress READ checkedProgress WRITE setCheckedProgress NOTIFY checkedProgressChanged)
public:
    explicit KelWidgetStateAnimator(int mode, QObject* parent = nullptr);
    ~KelWidgetStateAnimator() override;

    bool isHovered() const { return m_hovered; }
    bool isPressed() const { return m_pressed; }
    bool isChecked() const { return m_checked; }
    void setHovered(bool hovered, bool animated);
    void setPressed(bool pressed, bool animated);
    void setChecked(bool checked, bool animated);

    // Animations of the caller's own; they are kept over style switches from then on.
    void setHoveredAnimationParams(const KelAnimationParams& params);
    void setCheckedAnimationParams(const KelAnimationParams& params);

    double hoveredProgress() const { return m_hoveredProgress; }
    double pressedProgress() const { return m_pressedProgress; }
    double checkedProgress() const { return m_checkedProgress; }
    bool hasHoveredProgress() const;
    bool hasPressedProgress() const;
    void setHoveredProgress(double progress);
    void setPressedProgress(double progress);
    void setCheckedProgress(double progress);

    void applyStyle() override;

signals:
    void hoveredProgressChanged(double value);
    void pressedProgressChanged(double value);
    void checkedProgressChanged(double value);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void setupStateAnimations();

    bool m_hovered = false;
    bool m_pressed = false;
    bool m_checked = false;
    bool m_hoveredParamsCustomised = false;
    bool m_checkedParamsCustomised = false;
    double m_hoveredProgress = 0.0;
    double m_pressedProgress = 0.0;
    double m_checkedProgress = 0.0;
};
