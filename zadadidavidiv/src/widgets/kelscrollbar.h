#pragma once

#include "styles/kelstyleable.h"

#include <QPointer>
#include <QScrollBar>

class QAbstractScrollArea;

// A styled scroll bar. Attached to a scroll area it takes the place of the area's own bar, which is
// switched off: both stay in step, so dragging this one scrolls the area and a growing content moves
// this one. With nothing to scroll it can hide itself or keep its place and paint nothing.
class KelScrollBar : public QScrollBar, public KelStyleable {
    Q_OBJECT

public:
    enum VisibilityMode {
        NoSpecialVisibility = 0,
        // Shown only while there is something to scroll.
        VisibleWhenScrollable = 1,
        // Keeps its place in the layout but paints nothing while there is nothing to scroll.
        TransparentWhenNotScrollable = 2,
    };

    KelScrollBar(int widgetType, Qt::Orientation orientation, int visibilityMode, QWidget* parent = nullptr,
        bool deferStyle = false);
    KelScrollBar(int widgetType, QAbstractScrollArea* area, Qt::Orientation orientation, int visibilityMode,
        QWidget* parent = nullptr, bool deferStyle = false);
    ~KelScrollBar() override;

    // Mirrors the area's scroll bar of that orientation and hides the area's own.
    void attachTo(QAbstractScrollArea* area, Qt::Orientation orientation);
    // Null when standalone or once the area is gone.
    QScrollBar* source() const { return m_source; }
    int visibilityMode() const { return m_visibilityMode; }
    bool isScrollAvailable() const { return maximum() != minimum(); }

    void applyStyle() override;

signals:
    // After every range change, also when the availability stayed the same.
    void scrollAvailableChanged(bool value);

protected:
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void onRangeChanged(int min, int max);
    void copyFromSource();

    QPointer<QScrollBar> m_source;
    int m_visibilityMode = NoSpecialVisibility;
};
