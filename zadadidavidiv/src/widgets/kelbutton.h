#pragma once

#include "painting/kelbuttonpainter.h"
#include "styles/kelstyleable.h"
#include "widgets/kelwidget.h"

#include <memory>

class KelPaintContext;
class KelWidgetStateAnimator;

// The toolkit's clickable button: push and tool buttons, check boxes, radio buttons, menu items and
// title-bar buttons differ only in the style id the current style interprets. Clicks and toggles
// are delivered on the next pass of the event loop, so a listener may delete the button.
class KelButton : public KelWidget, public KelButtonPainter, public KelStyleable {
    Q_OBJECT

public:
    KelButton(int widgetType, const QString& iconName, QWidget* parent = nullptr, bool deferStyle = false);
    explicit KelButton(int widgetType, QWidget* parent = nullptr, bool deferStyle = false);
    ~KelButton() override;

    // Both bases name these; the widget's meaning wins, the painter's stays reachable qualified.
    using KelButtonPainter::setFont;
    using QWidget::contentsRect;
    using QWidget::font;
    using QWidget::setFont;

    bool isCheckable() const;
    // Turning it off also clears the check.
    void setCheckable(bool checkable);
    // Checkable and checked.
    bool isChecked() const;
    // Only a checkable button changes; toggled() follows on the next event-loop pass unless
    // signals are blocked.
    void setChecked(bool checked);
    void setCheckedSilently(bool checked);
    // A click leaves a checked button checked (radio buttons).
    void setUncheckByClickBlocked(bool blocked);
    void setEmitsClickedWhenCheckable(bool emits);
    // A held button stays shown pressed when the mouse leaves it.
    void setKeepPressedOnDrag(bool keep);
    // Mouse moves while the button is held leave its hover state alone.
    void setHoverFrozenWhilePressed(bool frozen) { setKeepPressedOnDrag(frozen); }
    // Mouse events pass through to the parent untouched.
    void setTransparentForMouse(bool transparent);
    // 1: a focused button shows as hovered.
    void setFocusHighlightMode(int mode);

    // Shown pressed: held with the mouse and still over the button.
    bool isPressed() const;
    bool isHovered() const;
    KelWidgetStateAnimator* stateAnimator() const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

    void applyStyle() override;

signals:
    void clicked();
    void toggled(bool checked);
    void hovered();
    void leaved();

protected:
    bool event(QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void enterEvent(QEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    virtual void paint(KelPaintContext& context);

    void onSizeHintChanged() override;

private:
    class Private;
    std::unique_ptr<Private> d;
};
