#include "painting/kelpaintcontext.h"

#include "painting/kelbuttonpainter.h"
#include "painting/kelframepainter.h"
#include "painting/kelicon.h"
#include "painting/kelpainting.h"

#include <QDebug>
#include <QHash>
#include <QPaintDevice>
#include <QStyleOption>
#include <QWidget>

#include <cmath>

namespace {

struct OpenContexts {
    const KelPaintContext* first = nullptr;
    int count = 0;
};

// Paint devices with an open context; GUI thread only.
QHash<const QPaintDevice*, OpenContexts>& registry()
{
    static QHash<const QPaintDevice*, OpenContexts> contexts;
    return contexts;
}

QString describeDevice(const QPaintDevice* device)
{
    if (device->devType() == QInternal::Widget) {
        const QWidget* widget = static_cast<const QWidget*>(device);
        // A button is best told by what it shows.
        if (auto* button = dynamic_cast<const KelButtonPainter*>(widget)) {
            if (!button->text().isEmpty())
                return button->text();
            if (button->icon())
                return button->icon()->name();
        }
        if (!widget->objectName().isEmpty())
            return widget->objectName();
    }
    return QStringLiteral("0x%1").arg(quintptr(device), 8, 16, QLatin1Char('0'));
}

// The device's area in logical pixels: widgets report logical sizes, images and pixmaps device pixels.
QRect logicalRect(const QPaintDevice* device)
{
    const int type = device->devType();
    if (type != QInternal::Image && type != QInternal::Pixmap)
        return QRect(0, 0, device->width(), device->height());
    const double ratio = device->devicePixelRatioF();
    return QRect(0, 0, qRound(device->width() / ratio), qRound(device->height() / ratio));
}

// The device pixel position of a logical edge, with the painter's origin on a whole device pixel.
double snappedEdge(double edge, double ratio, double deviceOffset)
{
    return (std::round(edge * ratio + deviceOffset) - std::round(deviceOffset)) / ratio;
}

} // namespace

KelPaintContext::KelPaintContext(QPaintDevice* device)
{
    if (device)
        m_ownPainter.begin(device);
    setupPainterScaling(device ? logicalRect(device) : QRect());
}

KelPaintContext::KelPaintContext(QPainter* painter, const QStyleOption* option)
    : m_borrowedPainter(painter)
{
    setupPainterScaling(option ? option->rect : QRect());
}

KelPaintContext::~KelPaintContext()
{
    if (!m_device)
        return;
    if (KelPainting::dbgPaintKelPaintContext())
        drawDiagnosticOverlay();
    auto& contexts = registry();
    auto it = contexts.find(m_device);
    if (it != contexts.end() && --it->count <= 0)
        contexts.erase(it);
    painter()->restore();
}

void KelPaintContext::setupPainterScaling(const QRect& rect)
{
    QPainter* p = painter();
    QPaintDevice* device = p ? p->device() : nullptr;
    if (!device) {
        qWarning("Trying to init null device painter!");
        return;
    }
    p->save();
    m_device = device;
    m_devicePixelRatio = device->devicePixelRatioF();
    const double r = m_devicePixelRatio;
    if (!KelPainting::isFractionalRatio(r)) {
        m_rect = rect;
    } else {
        // Move the logical origin onto a whole device pixel so that snapped edges stay crisp.
        const QTransform& transform = p->deviceTransform();
        const double dx = transform.dx(), dy = transform.dy();
        p->translate((std::round(dx) - dx) / r, (std::round(dy) - dy) / r);
        const double left = snappedEdge(rect.x(), r, dx);
        const double right = snappedEdge(rect.x() + rect.width(), r, dx);
        const double top = snappedEdge(rect.y(), r, dy);
        const double bottom = snappedEdge(rect.y() + rect.height(), r, dy);
        m_rect = QRectF(QPointF(left, top), QPointF(right, bottom));
    }

    auto& contexts = registry();
    auto it = contexts.find(device);
    if (it == contexts.end()) {
        contexts.insert(device, OpenContexts { this, 1 });
    } else {
        qWarning().noquote() << "KelPaintContext: Recursive context creation detected for" << describeDevice(device);
        ++it->count;
    }
}

QRectF KelPaintContext::snapToDevicePixels(const QRectF& rect) const
{
    return KelPainting::snapToDevicePixels(m_devicePixelRatio, rect);
}

int KelPaintContext::openContextCount(const QPaintDevice* device) { return registry().value(device).count; }

QPen KelPaintContext::diagnosticPen(const QColor& color) const
{
    return QPen(color, 1.0 / m_devicePixelRatio, Qt::SolidLine, Qt::SquareCap, Qt::MiterJoin);
}

void KelPaintContext::drawDiagnosticMarker(const QRectF& rect, const KelDiagnosticMarker& marker)
{
    if (!marker.outline && !marker.diagonals)
        return;
    QPainter* p = painter();
    p->save();
    p->setPen(diagnosticPen(marker.color));
    p->setBrush(Qt::NoBrush);
    if (marker.outline)
        KelPainting::drawRect(*p, rect, KelPainting::Overlapping);
    if (marker.diagonals) {
        p->setRenderHint(QPainter::Antialiasing, true);
        p->drawLine(rect.topLeft(), rect.bottomRight());
        p->drawLine(rect.topRight(), rect.bottomLeft());
    }
    p->restore();
}

void KelPaintContext::drawDiagnosticContentsMargins(const QWidget* widget)
{
    if (!widget)
        return;
    const QMarginsF margins
        = KelPainting::snapMarginsToDevicePixels(m_devicePixelRatio, QMarginsF(widget->contentsMargins()));
    const QRectF inner = m_rect.marginsRemoved(margins);
    drawDiagnosticBand(m_rect, inner, KelPainting::dbgPaddingsColor());
    drawDiagnosticFill(inner, KelPainting::dbgContentsColor());
}

void KelPaintContext::drawDiagnosticBand(const QRectF& outer, const QRectF& inner, const QColor& color)
{
    QColor faint = color;
    faint.setAlphaF(0.2);
    QPainterPath band;
    band.setFillRule(Qt::OddEvenFill);
    band.addRect(outer);
    band.addRect(inner);
    QPainter* p = painter();
    p->save();
    p->setPen(Qt::NoPen);
    p->fillPath(band, faint);
    p->setBrush(Qt::NoBrush);
    p->setPen(diagnosticPen(faint));
    KelPainting::drawRect(*p, outer, KelPainting::Overlapping);
    p->restore();
}

void KelPaintContext::drawDiagnosticFill(const QRectF& rect, const QColor& color)
{
    QColor faint = color;
    faint.setAlphaF(0.3);
    QPainter* p = painter();
    p->save();
    p->setPen(diagnosticPen(faint));
    p->setBrush(faint);
    KelPainting::drawRect(*p, rect, KelPainting::Overlapping);
    p->restore();
}

void KelPaintContext::drawFramePainterDiagnostics(const KelFramePainter* framePainter)
{
    if (!framePainter)
        return;
    const double r = m_devicePixelRatio;
    const QRectF outer = m_rect;
    const QRectF border
        = outer.marginsRemoved(KelPainting::snapMarginsToDevicePixels(r, QMarginsF(framePainter->margins())));
    const QRectF paddings
        = border.marginsRemoved(KelPainting::snapMarginsToDevicePixels(r, QMarginsF(framePainter->borderWidths())));
    const QRectF contents
        = paddings.marginsRemoved(KelPainting::snapMarginsToDevicePixels(r, QMarginsF(framePainter->paddings())));
    drawDiagnosticBand(outer, border, KelPainting::dbgMarginsColor());
    drawDiagnosticBand(border, paddings, KelPainting::dbgBorderColor());
    drawDiagnosticBand(paddings, contents, KelPainting::dbgPaddingsColor());
    drawDiagnosticFill(contents, KelPainting::dbgContentsColor());
}

void KelPaintContext::drawDiagnosticOverlay()
{
    const double u = 1.0 / m_devicePixelRatio, s2 = 2.0 / m_devicePixelRatio, s6 = 6.0 / m_devicePixelRatio;
    const double l = m_rect.left(), t = m_rect.top(), r = m_rect.right(), b = m_rect.bottom();
    const QColor first = KelPainting::dbgContentsColor();
    const QColor second = KelPainting::dbgPaddingsColor();
    const QColor red = KelPainting::dbgMarkerColor();
    QPainter* p = painter();
    p->save();
    // An L-shaped mark flush with the edges at each corner.
    p->fillRect(QRectF(l, t, s6, u), first);
    p->fillRect(QRectF(l, t, u, s6), first);
    p->fillRect(QRectF(r - s6, t, s6, u), second);
    p->fillRect(QRectF(r - u, t, u, s6), second);
    p->fillRect(QRectF(l, b - u, s6, u), second);
    p->fillRect(QRectF(l, b - s6, u, s6), second);
    p->fillRect(QRectF(r - s6, b - u, s6, u), first);
    p->fillRect(QRectF(r - u, b - s6, u, s6), first);
    p->fillRect(QRectF(l, t, s2, s2), red);
    p->fillRect(QRectF(r - s2, t, s2, s2), red);
    p->fillRect(QRectF(l, b - s2, s2, s2), red);
    p->fillRect(QRectF(r - s2, b - s2, s2, s2), red);
    p->setOpacity(0.3);
    p->setRenderHint(QPainter::Antialiasing, true);
    p->setPen(QPen(red, u, Qt::SolidLine, Qt::SquareCap, Qt::BevelJoin));
    p->drawLine(QPointF(l, t), QPointF(r, b));
    p->drawLine(QPointF(r, t), QPointF(l, b));
    p->restore();
}

void KelPaintContext::drawButtonPainterDiagnostics(KelButtonPainter* buttonPainter)
{
    if (!buttonPainter)
        return;
    const KelDiagnosticMarker marker { KelPainting::dbgMarkerColor(), true, false };
    const QRectF rects[] = { QRectF(buttonPainter->iconRect()), buttonPainter->textRect(), buttonPainter->subTextRect(),
        QRectF(buttonPainter->arrowRect()) };
    for (const QRectF& rect : rects) {
        if (rect.isValid())
            drawDiagnosticMarker(snapToDevicePixels(rect), marker);
    }
}
