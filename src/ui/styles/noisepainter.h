#pragma once

#include <QBrush>
#include <QObject>

// Lays a faint grain over the widgets that install it as an event filter: each paint event is
// delivered to the widget first, then the noise tile is painted over it at 3 % opacity. One
// instance serves every widget; it lives until the process ends.
class NoisePainter : public QObject {
    Q_OBJECT

public:
    static NoisePainter* instance();

    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    NoisePainter();

    QBrush m_brush;
};
