#pragma once

#include "animators/kelvisibilityanimatable.h"
#include "styles/kelstyleable.h"

#include <QColor>
#include <QVector>
#include <QWidget>

// A dashed rounded frame laid over a drop target, with an optional background and centred text;
// it lights up while a drag hovers over the target.
class DropIndicator : public QWidget, public KelStyleable, public KelVisibilityAnimatable {
public:
    DropIndicator(QWidget* parent, const QMargins& contentsMargins, int penWidth, const QVector<double>& dashPattern,
        bool fillBackground);
    ~DropIndicator() override;

    void applyStyle() override;
    void setActive(bool active);
    bool isActive() const;
    void setText(const QString& text);
    QString text() const;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    int m_penWidth;
    QVector<double> m_dashPattern;
    bool m_fillBackground;
    bool m_active = false;
    QColor m_background;
    QColor m_line;
    QString m_text;
};
