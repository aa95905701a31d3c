#include "painting/kelicon.h"

#include "animators/kelwidgetstateanimator.h"
#include "kelui.h"
#include "painting/kelpainting.h"
#include "utils/kelfuzzy.h"
#include "utils/kelgeometryutils.h"
#include "utils/kelpixmapcache.h"

#include <QDebug>
#include <QPaintDevice>
#include <QPainter>
#include <QRect>

#include <cmath>

using namespace KelPainting;

namespace {

bool isUsableRatio(double ratio)
{
    return std::isfinite(ratio) && ratio > 0.0 && ratio <= KelIcon::maxDevicePixelRatio;
}

// Half up, as the device size of a request is defined.
int roundHalfUp(double value) { return int(std::floor(value + 0.5)); }

} // namespace

const std::array<KelIcon::Variant, 7>& KelIcon::variants()
{
    static const std::array<Variant, 7> table { {
        { Hovered, "High", "-hover", Normal },
        { Pressed, "Press", "-pressed", Normal },
        { Disabled, "Off", "-disabled", Normal },
        { Checked, "Checked", "-checked", Pressed },
        { CheckedHovered, "CheckedHigh", "-checked-hover", Checked },
        { CheckedPressed, "CheckedPress", "-checked-pressed", Checked },
        { CheckedDisabled, "CheckedOff", "-checked-disabled", Checked },
    } };
    return table;
}

QString KelIcon::variantPath(const QString& path, const QString& suffix)
{
    const int dot = path.lastIndexOf(QLatin1Char('.'));
    if (dot < 0 || suffix.isEmpty())
        return path;
    return path.left(dot) + suffix + path.mid(dot);
}

KelIcon::~KelIcon() = default;

QPixmap KelIcon::pixmap(double devicePixelRatio, const QSize& size, const QColor&, KelPainting::WidgetState) const
{
    qWarning("KelIcon: Invalid usage!");
    return createPixmap(devicePixelRatio, size);
}

QSize KelIcon::boundedLogicalSize(double devicePixelRatio, const QSize& size) const
{
    const QSize logical = size.isValid() ? size : m_defaultSize;
    if (!isUsableRatio(devicePixelRatio) || logical.isEmpty())
        return QSize();
    const double limit = maxDeviceSide / devicePixelRatio;
    if (logical.width() <= limit && logical.height() <= limit)
        return logical;
    QSizeF scaled(logical);
    scaled.scale(limit, limit, Qt::KeepAspectRatio);
    const QSize bounded(qMax(1, int(scaled.width())), qMax(1, int(scaled.height())));
    qWarning().noquote() << "Icon size bounded:" << m_name << logical << "->" << bounded << "at ratio"
                         << devicePixelRatio;
    return bounded;
}

QSize KelIcon::deviceSize(double devicePixelRatio, const QSize& size) const
{
    const QSize logical = boundedLogicalSize(devicePixelRatio, size);
    if (!logical.isValid())
        return QSize();
    const QSize device(
        roundHalfUp(logical.width() * devicePixelRatio), roundHalfUp(logical.height() * devicePixelRatio));
    return device.isEmpty() ? QSize() : device;
}

QPixmap KelIcon::createPixmap(double devicePixelRatio, const QSize& size) const
{
    const QSize logical = boundedLogicalSize(devicePixelRatio, size);
    QPixmap canvas;
    if (logical.isValid())
        canvas = KelPainting::createPixmap(logical, devicePixelRatio, Qt::transparent);
    if (canvas.isNull())
        qWarning().noquote() << "Invalid size requested for icon" << m_name << ", size1x:" << m_defaultSize
                             << ", resize1x" << size << ", pixelRato" << devicePixelRatio;
    return canvas;
}

QPixmap KelIcon::statePixmap(
    double devicePixelRatio, const QSize& size, const QColor& color, KelWidgetStateAnimator* animator) const
{
    QPixmap canvas = createPixmap(devicePixelRatio, size);
    if (canvas.isNull())
        return canvas;
    const bool checked = animator && animator->isChecked();
    QPainter painter(&canvas);
    const bool tinted = color.isValid();
    if (!tinted && animator)
        painter.setOpacity(animator->opacity());
    painter.drawPixmap(QPointF(0, 0), pixmap(devicePixelRatio, size, color, checked ? Checked : Normal));
    if (tinted || !animator)
        return canvas;

    if (animator->isPressed()) {
        painter.setOpacity(painter.opacity() * animator->pressedProgress());
        painter.drawPixmap(QPointF(0, 0), pixmap(devicePixelRatio, size, color, checked ? CheckedPressed : Pressed));
    } else if (!animator->isDisabled() && animator->hoveredProgress() > KelUtils::fuzzyZero) {
        painter.setOpacity(painter.opacity() * animator->hoveredProgress());
        painter.drawPixmap(QPointF(0, 0), pixmap(devicePixelRatio, size, color, checked ? CheckedHovered : Hovered));
    }
    return canvas;
}

namespace {

// The top-left corner for a pixmap of that many device pixels aligned in the rectangle.
QPointF alignedCorner(const QPixmap& pixmap, const QRect& rect, Qt::Alignment alignment)
{
    const double ratio = pixmap.devicePixelRatioF();
    const QSize logical(qRound(pixmap.width() / ratio), qRound(pixmap.height() / ratio));
    return KelUtils::alignRect(alignment, rect, logical).topLeft();
}

double deviceRatioOf(QPainter* painter)
{
    return painter && painter->device() ? painter->device()->devicePixelRatioF() : 0.0;
}

} // namespace

void KelIcon::paint(QPainter* painter, const QRect& rect, Qt::Alignment alignment, const QSize& size,
    const QColor& color, KelPainting::WidgetState state) const
{
    const double ratio = deviceRatioOf(painter);
    if (ratio <= 0.0)
        return;
    const QPixmap image = pixmap(ratio, size.isValid() ? size : m_defaultSize, color, state);
    if (image.isNull())
        return;
    QPointF corner = alignedCorner(image, rect, alignment);
    corner = QPointF(snapToDevicePixels(ratio, corner.x()), snapToDevicePixels(ratio, corner.y()));
    painter->drawPixmap(corner, image);
}

void KelIcon::paint(QPainter* painter, const QRect& rect, Qt::Alignment alignment, const QSize& size,
    const QColor& color, KelWidgetStateAnimator* animator) const
{
    const double ratio = deviceRatioOf(painter);
    if (ratio <= 0.0)
        return;
    const QPixmap image = statePixmap(ratio, size.isValid() ? size : m_defaultSize, color, animator);
    if (image.isNull())
        return;
    painter->drawPixmap(alignedCorner(image, rect, alignment), image);
}

bool KelIcon::checkRequest(const char* className, double devicePixelRatio, const QSize& size, QSize* device) const
{
    if (!isValid()) {
        qCritical().noquote() << QStringLiteral("Pixmap requested for invalid %1: path:").arg(QLatin1String(className))
                              << m_name;
        return false;
    }
    *device = deviceSize(devicePixelRatio, size);
    if (!device->isValid()) {
        qWarning().noquote() << QStringLiteral("Invalid size requested for %1:").arg(QLatin1String(className)) << m_name
                             << "m_size1x:" << m_defaultSize << "resize1x:" << size
                             << "pixelRatio:" << devicePixelRatio;
        return false;
    }
    return true;
}

KelPixmapCache* KelIcon::cache()
{
    KelUi* ui = KelUi::instance();
    return ui ? ui->iconsCache() : nullptr;
}

bool KelIcon::findCached(const QString& key, QPixmap* out)
{
    KelPixmapCache* icons = key.isEmpty() ? nullptr : cache();
    return icons && icons->find(key, out);
}

void KelIcon::storeCached(const QString& key, const QPixmap& pixmap)
{
    KelPixmapCache* icons = key.isEmpty() || pixmap.isNull() ? nullptr : cache();
    if (icons)
        icons->insert(key, pixmap);
}

QString KelIcon::colorKey(const QColor& color) { return color.isValid() ? color.name() : QStringLiteral("original"); }

QString KelIcon::cacheKey(
    const QStringList& colorParts, double devicePixelRatio, const QSize& device, KelPainting::WidgetState state) const
{
    if (m_name.isEmpty())
        return QString();
    const QStringList parts = QStringList { QStringLiteral("KelIcon"), m_name } + colorParts
        + QStringList { QString::number(devicePixelRatio, 'g', 6), QString::number(device.width()),
              QString::number(device.height()), QString::number(int(state)) };
    return parts.join(QLatin1Char('-')) + QLatin1Char(')');
}
