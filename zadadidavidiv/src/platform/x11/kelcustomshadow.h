#pragma once

#include <QImage>
#include <QObject>
#include <QPoint>
#include <QSize>

class KelWindowFrame;
class QWidget;

// The soft drop shadow around a frameless window: a translucent, input-transparent tool window
// that never takes focus, transient for the target, covering the target's rectangle grown by the
// frame's shadow size. It paints a blurred image of the window's outline in the frame's shadow
// colour with the window's own area cut out, so its place in the stacking order does not matter.
// The image is made once per size, ratio and anchor; moves and fades only move or re-blend it.
// It needs a compositing manager, which its owner checks.
class KelCustomShadow : public QObject {
    Q_OBJECT

public:
    KelCustomShadow(QObject* parent, QWidget* target, KelWindowFrame* frame);
    ~KelCustomShadow() override;

    // (Re)makes the shadow window for the target's current native window.
    void createShadowWindow();
    // Follows the target's place, size, visibility and ratio. It shows only once the target's
    // native window has been exposed since the target was shown (it watches for that itself). The
    // offset is kept for callers that know of a sub-pixel shift; X11 places windows on whole
    // device pixels.
    void sync(const QPoint& offset);

    // The shadow window, null before the target has a native window.
    QWidget* shadowWindow() const;
    // The image last made (device pixels); its cache key changes only on a rebuild.
    QImage image() const;
    // The blend alpha 0..255: the target's opacity times the fade progress.
    int alpha() const;
    bool isShown() const;

    // The shadow image of a window outline for a shadow window of size (device pixels) at ratio.
    static QImage makeShadowImage(const QSize& size, const KelWindowFrame* frame, double ratio);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    class Private;
    Private* d;
};
