#pragma once

#include "styles/kelstyleable.h"

#include <QColor>
#include <QWidget>

class KelDisabledStateAnimator;

// A thin separator line, horizontal or vertical, dimmed while disabled. Its thickness is the
// widget's extent across the line; the line itself may be thinner, offset from the top (left) edge
// and kept off the ends by start and end margins. Every value is set by the style.
class KelDelimiter : public QWidget, public KelStyleable {
public:
    KelDelimiter(int styleRole, Qt::Orientation orientation, QWidget* parent = nullptr);
    ~KelDelimiter() override;

    QColor color() const { return m_color; }
    int thickness() const { return m_thickness; }
    int lineWidth() const { return m_lineWidth; }
    int lineOffset() const { return m_lineOffset; }
    int startMargin() const { return m_startMargin; }
    int endMargin() const { return m_endMargin; }
    Qt::Orientation orientation() const { return m_orientation; }
    KelDisabledStateAnimator* disabledAnimator() const { return m_disabledAnimator; }

    void setColor(const QColor& color);
    void setThickness(int thickness);
    void setLineWidth(int width);
    void setLineOffset(int offset);
    void setStartMargin(int margin);
    void setEndMargin(int margin);

    // Across the line: the thickness; along it: nothing (the size policy stretches it).
    QSize sizeHint() const override;

    void applyStyle() override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    // Stores the value and repaints when it differs.
    void repaintOnChange(int& field, int value);

    QColor m_color;
    int m_thickness = 1;
    int m_lineWidth = 1;
    int m_lineOffset = 0;
    int m_startMargin = 0;
    int m_endMargin = 0;
    Qt::Orientation m_orientation = Qt::Horizontal;
    KelDisabledStateAnimator* m_disabledAnimator = nullptr;
};
