#pragma once

#include <QObject>
#include <QPointer>
#include <QRect>

class QWidget;

// Reports changes of a widget's geometry, visibility and parent widget. Mode 0 watches the geometry in
// the parent, mode 1 the rectangle in the widget's window and mode 2 the rectangle on the screen; modes 1
// and 2 also watch the window, so moving the window is noticed (not the moves of widgets between the two). Nothing is
// emitted while the watcher is built: the first geometry event reports the geometry then current.
class KelGeometryWatcher : public QObject {
    Q_OBJECT
public:
    enum Mode {
        WidgetGeometry = 0,
        WindowGeometry = 1,
        ScreenGeometry = 2,
    };

    // A child of the widget.
    KelGeometryWatcher(QWidget* widget, int mode);
    ~KelGeometryWatcher() override;

    int mode() const { return m_mode; }
    QWidget* widget() const { return m_widget; }

signals:
    void visibilityChanged(bool value);
    void geometryChanged(QRect value);
    void windowGeometryChanged(QRect value);
    void screenGeometryChanged(QRect value);
    void parentWidgetChanged(QWidget* parent);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void updateWindowFilter();
    void checkGeometry();
    void checkVisibility();
    void checkParent();
    // Parent, window filter, visibility and geometry, after the widget moved in the tree.
    void checkAll();

    bool m_initialised = false;
    int m_mode = WidgetGeometry;
    QPointer<QWidget> m_widget;
    QPointer<QWidget> m_window;
    QPointer<QWidget> m_parent;
    bool m_visible = false;
    QRect m_geometry;
    QRect m_windowGeometry;
    QRect m_screenGeometry;
};
