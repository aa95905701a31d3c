#pragma once

#include <QWidget>

// The QWidget base of toolkit widgets: its event handlers publish visibility, geometry, enabled
// and focus changes as signals, so painters, animators and layouts can follow a widget without
// installing event filters.
class KelWidget : public QWidget {
    Q_OBJECT

public:
    explicit KelWidget(QWidget* parent = nullptr, Qt::WindowFlags flags = Qt::WindowFlags());
    ~KelWidget() override;

signals:
    void showed();
    void hided();
    void visibilityChanged(bool visible);
    void showedToParent();
    void hidedToParent();
    void visibilityToParentChanged(bool visibleToParent);
    void enabledChanged(bool enabled);
    void moved(QPoint pos);
    void resized(QSize size);
    void geometryChanged(QRect geometry);
    void focused(Qt::FocusReason reason);
    void focusLost();

protected:
    bool event(QEvent* event) override;
    void moveEvent(QMoveEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
};
