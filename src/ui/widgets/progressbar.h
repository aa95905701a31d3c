#pragma once

#include "widgets/kelprogressbar.h"

#include <QColor>

class KelDisabledStateAnimator;
class KelLabel;

// The determinate bar: a rounded track, a filled part (plain, or a horizontal gradient when an
// end colour is set) and a centred percentage label over it; the fill fades, or blends towards
// the disabled colour, as the bar becomes disabled.
class ProgressBar : public KelProgressBar {
    Q_OBJECT

public:
    explicit ProgressBar(int styleRole = -1, QWidget* parent = nullptr);
    ~ProgressBar() override;

    void setBackgroundColor(const QColor& color);
    void setProgressColor(const QColor& color);
    void setProgressEndColor(const QColor& color);
    void setDisabledColor(const QColor& color);
    void setRadius(int radius);
    void setLabelVisible(bool visible);

    KelLabel* label() const { return m_label; }
    // The share of the range the value has reached, 0..1; 0 for an empty range.
    double fillRatio() const;

protected:
    void resizeEvent(QResizeEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    QColor stateColor(const QColor& color) const;

    KelDisabledStateAnimator* m_animator = nullptr;
    KelLabel* m_label = nullptr;
    int m_radius = 0;
    QColor m_backgroundColor;
    QColor m_progressColor;
    QColor m_progressEndColor;
    QColor m_disabledColor;
};
