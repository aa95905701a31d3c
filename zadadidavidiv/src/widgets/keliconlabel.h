#pragma once

#include "painting/kelbuttonpainter.h"
#include "styles/kelstyleable.h"
#include "widgets/kelwidget.h"

#include <memory>

class KelPaintContext;
class KelWidgetStateAnimator;

// An icon with text drawn like a toolkit button, without any click handling: a caption that follows
// the style's button look for its role and fades its colours when it is disabled.
class KelIconLabel : public KelWidget, public KelButtonPainter, public KelStyleable {
    Q_OBJECT

public:
    KelIconLabel(int widgetType, const QString& iconName, QWidget* parent = nullptr, bool deferStyle = false);
    explicit KelIconLabel(int widgetType, QWidget* parent = nullptr, bool deferStyle = false);
    // Role 10, no icon, styled at once.
    explicit KelIconLabel(QWidget* parent = nullptr);
    ~KelIconLabel() override;

    // Both bases name these; the widget's meaning wins, the painter's stays reachable qualified.
    using KelButtonPainter::setFont;
    using QWidget::contentsRect;
    using QWidget::font;
    using QWidget::setFont;

    KelWidgetStateAnimator* stateAnimator() const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

    void applyStyle() override;

protected:
    bool event(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    virtual void paint(KelPaintContext& context);

    void onSizeHintChanged() override;

private:
    class Private;
    std::unique_ptr<Private> d;
};
