#pragma once

#include <QObject>
#include <QPoint>
#include <QRect>

#include <functional>

class QLayout;
class QMimeData;
class QWidget;

namespace LayoutUtils {
// Into a QBoxLayout or a KelFlowLayout; any other kind of layout is a programming error.
void insertWidget(QLayout* layout, int index, QWidget* widget);
} // namespace LayoutUtils

// Lets the user reorder the child widgets of one layout by dragging them, with a drop indicator widget
// marking the prospective slot, and accepts drops from outside. Results are reported as signals only;
// whoever owns the data behind the widgets applies them.
class KelLayoutDnd : public QObject {
    Q_OBJECT
public:
    explicit KelLayoutDnd(QObject* parent = nullptr);
    ~KelLayoutDnd() override;

    // The layout's parent widget becomes the watched container.
    void setLayout(QLayout* layout);
    QLayout* layout() const;

    bool localMoveEnabled() const;
    void setLocalMoveEnabled(bool enabled);
    bool externalDropEnabled() const;
    void setExternalDropEnabled(bool enabled);
    // Without an indicator the controller lets every event pass untouched. Not owned; it becomes a child of
    // the container.
    void setDropIndicator(QWidget* indicator);
    QWidget* dropIndicator() const;
    // Optional test of what an external drag carries.
    void setDropAcceptor(std::function<bool(const QMimeData*)> acceptor);

    void stopDrag();

signals:
    void localMoveEnabledChanged(bool value);
    void externalDropEnabledChanged(bool value);
    void dragStarted(QWidget* w, QPoint hotPoint);
    void dragCursorMoved(QPoint globalCursorPos);
    void dropAllowedChanged(bool canDrop);
    void dragStopped();
    void dropIndicatorVisibilityChanged(bool visible);
    void dropIndicatorGeometryChanged(QRect geometry);
    void widgetMoved(QWidget* clipWidget, int oldIndex, int newIndex);
    void dropped(const QMimeData* mimeData, Qt::DropAction action, int row);

private:
    class Private;
    Private* d;
};
