#pragma once

#include "painting/kelframepainter.h"
#include "styles/kelstyleable.h"
#include "widgets/kelwidget.h"

class KelWidgetStateAnimator;

// The toolkit's styled container: a widget that paints its frame (margins, border, radii,
// background) in colours that follow its hover, press, check and disabled state. Its size hints
// are the widget's own, decided by its layout; the frame rectangle follows every resize.
class KelFrame : public KelWidget, public KelFramePainter, public KelStyleable {
    Q_OBJECT

public:
    // Styled by the current style for the role at once unless deferStyle; role -1 is never styled.
    KelFrame(int styleRole, QWidget* parent = nullptr, bool deferStyle = false);
    explicit KelFrame(QWidget* parent = nullptr, bool deferStyle = false);
    ~KelFrame() override;

    // The widget's size hints; the frame painter's are its box alone.
    using QWidget::minimumSizeHint;
    using QWidget::sizeHint;
    // The painted contents area inside margins, border and paddings.
    using KelFramePainter::contentsRect;

    // Hover, press and check are set by the owner; the disabled state follows the widget.
    KelWidgetStateAnimator* stateAnimator() const { return m_stateAnimator; }

    void applyStyle() override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    KelWidgetStateAnimator* m_stateAnimator = nullptr;
};
