#include "widgets/keliconwidget.h"

#include "painting/kelicon.h"
#include "painting/keliconsprovider.h"
#include "painting/kelpaintcontext.h"
#include "painting/kelpainting.h"
#include "utils/kelgeometryutils.h"

#include <QDebug>
#include <QPainterPath>

class KelIconWidget::Private {
public:
    KelIcon* icon = nullptr;
    Qt::Alignment alignment = Qt::AlignCenter;
    QColor color;
    QSize iconSize;
    int cornerRadius = 0;

    QSize effectiveIconSize() const
    {
        if (iconSize.isValid())
            return iconSize;
        return icon ? icon->defaultSize() : QSize();
    }
};

KelIconWidget::KelIconWidget(QWidget* parent)
    : KelWidget(parent)
    , d(new Private)
{
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

KelIconWidget::KelIconWidget(const char* iconName, QWidget* parent)
    : KelIconWidget(parent)
{
    setIcon(iconName);
}

KelIconWidget::~KelIconWidget() = default;

KelIcon* KelIconWidget::icon() const { return d->icon; }

void KelIconWidget::setIcon(const QString& name) { setIcon(name.toUtf8().constData()); }

void KelIconWidget::setIcon(const char* name)
{
    if (KelIcon* icon = kelIconByName(name))
        setIcon(icon);
}

void KelIconWidget::setIcon(KelIcon* icon)
{
    d->icon = icon;
    updateGeometry();
    update();
}

QSize KelIconWidget::iconSize() const { return d->iconSize; }

void KelIconWidget::setIconSize(const QSize& size)
{
    if (d->iconSize == size)
        return;
    d->iconSize = size;
    updateGeometry();
    update();
}

QColor KelIconWidget::color() const { return d->color; }

void KelIconWidget::setColor(const QColor& color)
{
    if (d->color == color)
        return;
    d->color = color;
    update();
}

Qt::Alignment KelIconWidget::alignment() const { return d->alignment; }

void KelIconWidget::setAlignment(Qt::Alignment alignment)
{
    if (d->alignment == alignment)
        return;
    d->alignment = alignment;
    update();
}

int KelIconWidget::cornerRadius() const { return d->cornerRadius; }

void KelIconWidget::setCornerRadius(int radius)
{
    if (d->cornerRadius == radius)
        return;
    d->cornerRadius = radius;
    update();
}

QSize KelIconWidget::sizeHint() const { return minimumSizeHint(); }

QSize KelIconWidget::minimumSizeHint() const
{
    const QMargins margins = contentsMargins();
    const QSize addition(margins.left() + margins.right(), margins.top() + margins.bottom());
    const QSize icon = d->effectiveIconSize();
    // Without an icon the margins alone.
    return icon.isValid() ? icon + addition : addition;
}

void KelIconWidget::paintEvent(QPaintEvent*)
{
    KelPaintContext context(this);
    if (!d->icon)
        return;
    QPainter* painter = context.painter();
    painter->save();
    if (!isEnabled())
        painter->setOpacity(0.7);
    const QRect target = contentsRect();
    const QSize size = d->effectiveIconSize();
    if (d->cornerRadius > 0) {
        painter->setRenderHint(QPainter::Antialiasing, true);
        const QRectF iconRect = KelUtils::alignRect(d->alignment, QRectF(target), QSizeF(size));
        QPainterPath clip;
        clip.addRoundedRect(iconRect, d->cornerRadius, d->cornerRadius);
        painter->setClipPath(clip);
    }
    d->icon->paint(painter, target, d->alignment, size, d->color, KelPainting::Normal);
    painter->restore();
    if (KelPainting::dbgPaintKelIconWidget())
        context.drawDiagnosticContentsMargins(this);
}
