#pragma once

#include <QPixmap>
#include <QPoint>
#include <QPointer>
#include <QWidget>

class KelGlobalMouseWatcher;
class KelPropertyAnimator;
class QMimeData;
class QTimer;

// The picture of what is being dragged, in a small frameless window that follows the cursor over
// the whole screen. It shrinks from full size to 70 % when shown and darkens while it is not over
// a place that takes the drop.
class DragIcon : public QWidget {
    Q_OBJECT
    Q_PROPERTY(double dropAllowedProgress READ dropAllowedProgress WRITE setDropAllowedProgress)
    Q_PROPERTY(double scale READ scale WRITE setScale)

public:
    explicit DragIcon(QWidget* parent = nullptr);
    ~DragIcon() override;

    void showIcon(const QPixmap& pixmap, const QPoint& hotSpot, QMimeData* mimeData);
    void hideIcon();
    void setOverDropTarget(bool over);

    double dropAllowedProgress() const;
    void setDropAllowedProgress(double progress);
    double scale() const;
    void setScale(double scale);

    // Places the icon at the cursor for the current scale.
    void updateIconGeometry();

signals:
    void showed(QMimeData* md);
    void hided();

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QPixmap m_pixmap;
    bool m_overDropTarget = false;
    double m_dropAllowedProgress = 0.0;
    QPoint m_hotSpot;
    double m_scale = 0.0;
    double m_scaleStart = 1.0;
    double m_scaleEnd = 0.7;
    QPointer<KelGlobalMouseWatcher> m_mouseWatcher;
    KelPropertyAnimator* m_animator = nullptr;
    // During a system drag no mouse moves reach the application, so the cursor is also polled.
    QTimer* m_cursorPoll = nullptr;
};
