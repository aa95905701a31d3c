#include "painting/kelgraphicsdropshadoweffect.h"

#include "kelui.h"
#include "painting/kelqtblur.h"
#include "utils/kelfuzzy.h"
#include "utils/kelpixmapcache.h"

#include <QLocale>
#include <QPaintEngine>
#include <QPainter>
#include <QPointer>
#include <QWidget>

namespace {

QString shortest(double value) { return QString::number(value, 'g', QLocale::FloatingPointShortest); }

} // namespace

KelGraphicsDropShadowEffect::KelGraphicsDropShadowEffect(QWidget* target)
    : KelGraphicsOpacityEffect(target)
{
    setDisableWhenOpaque(false);
}

KelGraphicsDropShadowEffect::~KelGraphicsDropShadowEffect() = default;

void KelGraphicsDropShadowEffect::setOffset(const QPointF& offset)
{
    if (offset == m_offset)
        return;
    m_offset = offset;
    updateBoundingRect();
    emit offsetChanged(offset);
}

void KelGraphicsDropShadowEffect::setXOffset(double x) { setOffset(QPointF(x, m_offset.y())); }

void KelGraphicsDropShadowEffect::setYOffset(double y) { setOffset(QPointF(m_offset.x(), y)); }

void KelGraphicsDropShadowEffect::setPadding(const QMargins& padding)
{
    if (padding == m_padding)
        return;
    m_padding = padding;
    updateBoundingRect();
    emit paddingChanged(padding);
}

QMargins KelGraphicsDropShadowEffect::effectivePadding() const
{
    if (m_padding.isNull() || !target())
        return m_padding;
    // Past half the size less 2 the padded interior would vanish or turn inside out.
    const int horizontal = qMax(0, target()->width() / 2 - 2);
    const int vertical = qMax(0, target()->height() / 2 - 2);
    return QMargins(qMin(m_padding.left(), horizontal), qMin(m_padding.top(), vertical),
        qMin(m_padding.right(), horizontal), qMin(m_padding.bottom(), vertical));
}

void KelGraphicsDropShadowEffect::setColor(const QColor& color)
{
    if (color == m_color)
        return;
    m_color = color;
    update();
    emit colorChanged(color);
}

void KelGraphicsDropShadowEffect::setBlurRadius(double radius)
{
    if (KelUtils::isFuzzyEqual(radius, m_blurRadius))
        return;
    m_blurRadius = radius;
    updateBoundingRect();
    emit blurRadiusChanged(radius);
}

QRectF KelGraphicsDropShadowEffect::boundingRectFor(const QRectF& rect) const
{
    const QMargins p = effectivePadding();
    const double spread = 2 * m_blurRadius;
    const QRectF shadow = rect.translated(m_offset)
                              .marginsRemoved(QMarginsF(p.left(), p.top(), p.right(), p.bottom()))
                              .adjusted(-spread, -spread, spread, spread);
    return rect.united(shadow);
}

void KelGraphicsDropShadowEffect::drawWithShadow(
    QPainter* painter, const QPointF& position, const QPixmap& pixmap, const QRectF& sourceRect, bool drawSource)
{
    const QImage shadow = shadowImage(pixmap);
    if (shadow.isNull())
        return;
    painter->save();
    painter->setOpacity(opacity());
    painter->drawImage(position, shadow);
    if (drawSource)
        painter->drawPixmap(position, pixmap, sourceRect);
    painter->restore();
}

QString KelGraphicsDropShadowEffect::shadowCacheKey(const QPixmap& source) const
{
    QString key = QStringLiteral("ShadowEffect-%1-%2-%3-%4-%5-%6")
                      .arg(source.width())
                      .arg(source.height())
                      .arg(shortest(source.devicePixelRatioF()), shortest(m_blurRadius), shortest(m_offset.x()),
                          shortest(m_offset.y()));
    if (!m_padding.isNull()) {
        key += QStringLiteral("-%1-%2-%3-%4")
                   .arg(m_padding.left())
                   .arg(m_padding.top())
                   .arg(m_padding.right())
                   .arg(m_padding.bottom());
    }
    // The cached image is already coloured, so shadows of other colours must not share it.
    return key + QLatin1Char('-') + m_color.name(QColor::HexArgb);
}

QImage KelGraphicsDropShadowEffect::shadowImage(const QPixmap& source)
{
    if (source.isNull())
        return QImage();

    KelPixmapCache* cache = nullptr;
    QString key;
    if (target() && target()->testAttribute(Qt::WA_OpaquePaintEvent)) {
        if (KelUi* ui = KelUi::instance())
            cache = ui->shadowCache();
        if (cache) {
            key = shadowCacheKey(source);
            QPixmap hit;
            if (cache->find(key, &hit))
                return hit.toImage();
        }
    }

    const double ratio = source.devicePixelRatioF();
    QImage canvas(source.size(), QImage::Format_ARGB32_Premultiplied);
    canvas.setDevicePixelRatio(ratio);
    canvas.fill(Qt::transparent);
    {
        QPainter painter(&canvas);
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        painter.setCompositionMode(QPainter::CompositionMode_Source);
        const QMargins p = effectivePadding();
        if (p.isNull()) {
            painter.drawPixmap(m_offset, source);
        } else {
            // Only the padded interior casts the shadow; its blur spills outwards over the padding.
            const double spread = 2 * m_blurRadius;
            const double inset = spread * ratio;
            const QRectF sourceRect = QRectF(source.rect())
                                          .adjusted(p.left() * ratio + inset, p.top() * ratio + inset,
                                              -(p.right() * ratio + inset), -(p.bottom() * ratio + inset));
            if (sourceRect.isValid()) {
                const QPointF position(p.left() + spread + m_offset.x(), p.top() + spread + m_offset.y());
                painter.drawPixmap(position, source, sourceRect);
            }
        }
    }

    QImage shadow;
    const double radius = 2 * m_blurRadius * ratio;
    if (radius > 0) {
        shadow = QImage(canvas.size(), QImage::Format_ARGB32_Premultiplied);
        shadow.fill(0);
        // The blur works in pixels: both images lose their ratio while it runs.
        canvas.setDevicePixelRatio(1.0);
        QPainter painter(&shadow);
        qt_blurImage(&painter, canvas, radius, false, true);
    } else {
        shadow = canvas;
        shadow.setDevicePixelRatio(1.0);
    }
    {
        // Every pixel takes the colour, scaled by its blurred alpha and the colour's own.
        QPainter painter(&shadow);
        painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
        painter.fillRect(shadow.rect(), m_color);
    }
    shadow.setDevicePixelRatio(ratio);

    if (cache)
        cache->insert(key, QPixmap::fromImage(shadow));
    return shadow;
}

bool KelGraphicsDropShadowEffect::isPartialPaint(QPainter* painter) const
{
    QWidget* widget = target();
    const QPaintEngine* engine = painter->paintEngine();
    if (!widget || widget->isWindow() || !engine)
        return false;
    const QRect painted = engine->systemClip().boundingRect();
    if (painted.isEmpty())
        return false;
    // The effect's area as the ancestors let it show, in the widget's coordinates.
    QRect shown = boundingRectFor(QRectF(widget->rect())).toAlignedRect();
    QPoint origin;
    for (const QWidget* w = widget; !w->isWindow() && w->parentWidget(); w = w->parentWidget()) {
        origin -= w->pos();
        shown &= QRect(origin, w->parentWidget()->size());
    }
    const QSize whole = (QSizeF(shown.size()) * painter->device()->devicePixelRatioF()).toSize();
    // A pixel of rounding either way.
    return painted.width() + 2 < whole.width() || painted.height() + 2 < whole.height();
}

void KelGraphicsDropShadowEffect::draw(QPainter* painter)
{
    if (m_blurRadius <= 0 && m_offset.isNull()) {
        KelGraphicsOpacityEffect::draw(painter);
        return;
    }
    // As with the plain fade, a transparent widget is not painted at all.
    if (KelUtils::isFuzzyNull(opacity()))
        return;
    // Qt draws an effect over the bounding rectangle of the region it repaints, while the widgets beneath
    // repaint only the region: where the two differ, a shadow would fall on the shadow an earlier paint
    // left, and build up into hard-edged grey boxes around the widget. Such a paint leaves the shadow out
    // and asks for a whole repaint, which draws it once over fresh pixels.
    bool shadowed = true;
    if (isPartialPaint(painter)) {
        shadowed = false;
        if (!m_wholeRepaintAsked) {
            m_wholeRepaintAsked = true;
            QMetaObject::invokeMethod(
                target(),
                [widget = QPointer<QWidget>(target())] {
                    if (widget)
                        widget->update();
                },
                Qt::QueuedConnection);
        }
    } else {
        m_wholeRepaintAsked = false;
    }
    QPoint offset;
    const QPixmap pixmap = takeSourcePixmap(QGraphicsEffect::PadToEffectiveBoundingRect, &offset);
    if (pixmap.isNull())
        return;
    const QImage shadow = shadowed ? shadowImage(pixmap) : QImage();
    const QPoint position = offset + slideOffset();

    painter->save();
    painter->setRenderHint(QPainter::SmoothPixmapTransform);
    painter->setWorldTransform(QTransform());
    if (KelUtils::isFuzzyEqual(opacity(), 1.0)) {
        if (!shadow.isNull())
            painter->drawImage(position, shadow);
        painter->drawPixmap(position, pixmap);
    } else {
        // One layer, so that the shadow does not show through the translucent widget.
        QPixmap layer(pixmap.size());
        layer.setDevicePixelRatio(pixmap.devicePixelRatioF());
        layer.fill(Qt::transparent);
        {
            QPainter layerPainter(&layer);
            if (!shadow.isNull())
                layerPainter.drawImage(QPoint(), shadow);
            layerPainter.drawPixmap(QPoint(), pixmap);
        }
        painter->setOpacity(opacity());
        painter->drawPixmap(position, layer);
    }
    painter->restore();
}
