#include "widgets/kellinearshadowwidget.h"

#include "eventfilters/kelgeometrywatcher.h"
#include "kelui.h"
#include "painting/kelpaintcontext.h"
#include "painting/kelqtblur.h"
#include "styles/kelstyle.h"
#include "utils/kelpixmapcache.h"

#include <QDebug>
#include <QImage>
#include <QPainter>
#include <QPointer>

class KelLinearShadowWidget::Private : public QObject {
public:
    Private(KelLinearShadowWidget* q, Qt::Edge edge, int placement, QWidget* target)
        : QObject(q)
        , q(q)
        , edge(edge)
        , placement(placement)
        , target(target)
    {
    }

    KelLinearShadowWidget* q;
    Qt::Edge edge;
    int placement;
    int size = 0;
    QColor color;
    QPointer<QWidget> target;
};

KelLinearShadowWidget::KelLinearShadowWidget(
    int widgetType, Qt::Edge edge, int placement, QWidget* target, bool deferStyle)
    : QWidget(nullptr)
    , KelStyleable(widgetType)
    , KelVisibilityAnimatable(this)
    , d(nullptr)
{
    if (placement != Untracked && !target) {
        qWarning() << "A tracking shadow strip needs a target; the strip is left to its owner";
        placement = Untracked;
    }
    d = new Private(this, edge, placement, target);
    setAttribute(Qt::WA_TransparentForMouseEvents);
    if (placement != Untracked) {
        auto* watcher = new KelGeometryWatcher(target, KelGeometryWatcher::WidgetGeometry);
        connect(watcher, &KelGeometryWatcher::parentWidgetChanged, d, [this](QWidget* parent) {
            setParent(parent);
            raise();
        });
        connect(watcher, &KelGeometryWatcher::visibilityChanged, d, [this](bool visible) {
            setVisible(visible);
            raise();
        });
        connect(watcher, &KelGeometryWatcher::geometryChanged, d, [this](const QRect& rect) { placeFrom(rect); });
        // Without its target the strip would go on showing a shadow of nothing.
        connect(target, &QObject::destroyed, this, [this] { delete this; });
        setParent(target->parentWidget());
        raise();
        placeFrom(target->geometry());
        setVisible(target->isVisible());
        raise();
    }
    if (!deferStyle)
        applyStyle();
    setObjectName(QStringLiteral("LinearShadowWidget"));
}

KelLinearShadowWidget::~KelLinearShadowWidget() = default;

Qt::Edge KelLinearShadowWidget::edge() const { return d->edge; }

int KelLinearShadowWidget::placement() const { return d->placement; }

QWidget* KelLinearShadowWidget::target() const { return d->target; }

int KelLinearShadowWidget::shadowSize() const { return d->size; }

QColor KelLinearShadowWidget::shadowColor() const { return d->color; }

void KelLinearShadowWidget::setShadowSize(int size)
{
    if (d->size == size)
        return;
    d->size = size;
    if (d->placement != Untracked) {
        if (d->target)
            placeFrom(d->target->geometry());
    } else if (d->edge == Qt::TopEdge || d->edge == Qt::BottomEdge) {
        setFixedHeight(size);
    } else if (d->edge == Qt::LeftEdge || d->edge == Qt::RightEdge) {
        setFixedWidth(size);
    }
    update();
}

void KelLinearShadowWidget::setShadowColor(const QColor& color)
{
    if (d->color == color)
        return;
    d->color = color;
    update();
}

QRect KelLinearShadowWidget::stripRect(const QRect& g, Qt::Edge edge, int s, bool inside)
{
    switch (edge) {
    case Qt::TopEdge:
        return QRect(g.left(), g.top() - (inside ? 0 : s), g.width(), s);
    case Qt::LeftEdge:
        return QRect(g.left() - (inside ? 0 : s), g.top(), s, g.height());
    case Qt::RightEdge:
        return QRect(g.left() + g.width() - (inside ? s : 0), g.top(), s, g.height());
    case Qt::BottomEdge:
        return QRect(g.left(), g.top() + g.height() - (inside ? s : 0), g.width(), s);
    }
    return QRect();
}

void KelLinearShadowWidget::placeFrom(const QRect& targetGeometry)
{
    setGeometry(stripRect(targetGeometry, d->edge, d->size, d->placement == Inside));
}

QPixmap KelLinearShadowWidget::makeShadowPixmap(int size, const QColor& color, double ratio)
{
    const int side = 1 + 4 * size;
    const int deviceSide = qRound(side * ratio);
    QImage image(deviceSide, deviceSide, QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(ratio);
    image.fill(0);
    {
        QPainter painter(&image);
        painter.setCompositionMode(QPainter::CompositionMode_Source);
        painter.fillRect(QRectF(size, size, 1 + 2 * size, 1 + 2 * size), Qt::black);
    }
    // The radius in device pixels, so the fall-off spans the same logical distance at every ratio.
    qt_blurImage(nullptr, image, size * ratio, false, true);
    {
        QPainter painter(&image);
        painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
        painter.fillRect(QRectF(0, 0, side, side), color);
    }
    if (image.width() != deviceSide || image.height() != deviceSide) {
        image = image.scaled(deviceSide, deviceSide, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        image.setDevicePixelRatio(ratio);
    }
    return QPixmap::fromImage(image);
}

QString KelLinearShadowWidget::shadowCacheKey(int size, const QColor& color, double ratio)
{
    return QStringLiteral("%1-%2-%3").arg(QString::number(ratio, 'g')).arg(2 * size).arg(uint(color.rgba()));
}

QPixmap KelLinearShadowWidget::shadowPixmap(double ratio) const
{
    KelUi* ui = KelUi::instance();
    KelPixmapCache* cache = ui ? ui->shadowCache() : nullptr;
    const QString key = shadowCacheKey(d->size, d->color, ratio);
    QPixmap pixmap;
    if (cache && cache->find(key, &pixmap))
        return pixmap;
    pixmap = makeShadowPixmap(d->size, d->color, ratio);
    if (cache)
        cache->insert(key, pixmap);
    return pixmap;
}

void KelLinearShadowWidget::paintEvent(QPaintEvent*)
{
    if (d->size == 0 || !d->color.isValid() || d->color.alpha() == 0)
        return;
    const double k = devicePixelRatioF();
    const int s = d->size;
    const int S = 2 * s;
    const int m = qRound(0.8 * s);
    const QPixmap pixmap = shadowPixmap(k);

    KelPaintContext context(this);
    QPainter* painter = context.painter();
    const QRectF r = context.rect();

    // A strip inside its target darkens towards the far side of its own rectangle.
    Qt::Edge edge = d->edge;
    if (d->placement == Inside) {
        switch (edge) {
        case Qt::LeftEdge:
            edge = Qt::RightEdge;
            break;
        case Qt::RightEdge:
            edge = Qt::LeftEdge;
            break;
        case Qt::TopEdge:
            edge = Qt::BottomEdge;
            break;
        case Qt::BottomEdge:
            edge = Qt::TopEdge;
            break;
        }
    }

    QRectF a, b, c, sa, sb, sc;
    const double pw = pixmap.width();
    const double ph = pixmap.height();
    if (edge == Qt::TopEdge || edge == Qt::BottomEdge) {
        a = QRectF(r.left() - m, r.top(), S, r.height());
        c = QRectF(r.right() - S + m, r.top(), S, r.height());
        b = QRectF(a.topRight(), c.bottomLeft());
        const double y0 = edge == Qt::TopEdge ? 0 : ph - r.height() * k;
        sa = QRectF(0, y0, S * k, r.height() * k);
        sc = QRectF(S * k + 1, y0, S * k, r.height() * k);
        sb = QRectF(sa.topRight(), sc.bottomLeft());
    } else {
        a = QRectF(r.left(), r.top() - m, r.width(), S);
        c = QRectF(r.left(), r.bottom() - S + m, r.width(), S);
        b = QRectF(a.bottomLeft(), c.topRight());
        const double x0 = edge == Qt::LeftEdge ? 0 : pw - r.width() * k;
        sa = QRectF(x0, 0, r.width() * k, S * k);
        sc = QRectF(x0, S * k + 1, r.width() * k, S * k);
        sb = QRectF(sa.bottomLeft(), sc.topRight());
    }
    const QPainter::RenderHints hints = painter->renderHints();
    painter->setRenderHint(QPainter::SmoothPixmapTransform, false);
    painter->drawPixmap(a, pixmap, sa);
    painter->drawPixmap(b, pixmap, sb);
    painter->drawPixmap(c, pixmap, sc);
    painter->setRenderHints(hints);
}

void KelLinearShadowWidget::applyStyle()
{
    if (isStyled())
        kelStyle()->applyLinearShadowStyle(this, widgetType());
}
