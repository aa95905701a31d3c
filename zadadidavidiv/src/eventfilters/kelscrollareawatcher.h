#pragma once

#include <QObject>
#include <QPointer>
#include <QTimer>

class QPoint;
class QScrollArea;
class QWidget;

// Keeps hover right inside a scroll area while its content moves under a still mouse: after a scroll or
// a relayout the child now under the cursor gets an enter event and the one that left it a leave event.
// Every child of the area tracks the mouse, so moves over the viewport name the hovered child.
class KelScrollAreaWatcher : public QObject {
    Q_OBJECT
public:
    // A child of the area.
    explicit KelScrollAreaWatcher(QScrollArea* area);
    ~KelScrollAreaWatcher() override;

    QWidget* hoveredWidget() const { return m_hovered; }

public slots:
    // Checks which child lies under the cursor now and moves the hover there.
    void syncHover();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void updateHoveredWidget(const QPoint& globalPos);
    // Null once the area's destruction has begun: its viewport goes after its own part is gone.
    QScrollArea* area() const;

    QPointer<QObject> m_area;
    QPointer<QWidget> m_hovered;
    QTimer m_timer;
};
