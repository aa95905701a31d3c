#pragma once

#include "painting/kelpaintingtypes.h"

#include <QPainter>
#include <QRectF>

class KelFramePainter;
class KelButtonPainter;
class QPaintDevice;
class QStyleOption;
class QWidget;

// The painter, device pixel ratio and device-pixel-snapped paint rectangle of one paint call. Paint
// events construct it first; at fractional ratios its painter's origin lies on a whole device pixel.
// Whatever the paint code changes on the painter is undone when the context ends.
class KelPaintContext {
public:
    // Begins a painter of its own on the device (a paint event's widget).
    explicit KelPaintContext(QPaintDevice* device);
    // Borrows the painter of a style drawing call; the paint rectangle comes from the option.
    KelPaintContext(QPainter* painter, const QStyleOption* option);
    ~KelPaintContext();

    KelPaintContext(const KelPaintContext&) = delete;
    KelPaintContext& operator=(const KelPaintContext&) = delete;

    QPainter* painter() { return m_borrowedPainter ? m_borrowedPainter : &m_ownPainter; }
    double devicePixelRatio() const { return m_devicePixelRatio; }
    const QRectF& rect() const { return m_rect; }
    QRectF snapToDevicePixels(const QRectF& rect) const;

    // Developer diagnostics, drawn with lines one device pixel wide.
    void drawDiagnosticMarker(const QRectF& rect, const KelDiagnosticMarker& marker);
    void drawDiagnosticContentsMargins(const QWidget* widget);
    void drawDiagnosticBand(const QRectF& outer, const QRectF& inner, const QColor& color);
    void drawDiagnosticFill(const QRectF& rect, const QColor& color);
    // The frame painter's margins, border, paddings and contents as nested bands over the paint rectangle.
    void drawFramePainterDiagnostics(const KelFramePainter* framePainter);
    void drawDiagnosticOverlay();
    // The button painter's four content rectangles outlined in red.
    void drawButtonPainterDiagnostics(KelButtonPainter* buttonPainter);

    // How many contexts are open on the device right now.
    static int openContextCount(const QPaintDevice* device);

private:
    void setupPainterScaling(const QRect& rect);
    QPen diagnosticPen(const QColor& color) const;

    QPainter m_ownPainter;
    QPainter* m_borrowedPainter = nullptr;
    double m_devicePixelRatio = 1.0;
    QRectF m_rect;
    QPaintDevice* m_device = nullptr; // set when set-up saved the painter and registered the context
};
