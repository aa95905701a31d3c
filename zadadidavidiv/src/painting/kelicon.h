#pragma once

#include "painting/kelwidgetstate.h"

#include <QColor>
#include <QPixmap>
#include <QSize>
#include <QString>
#include <QStringList>

#include <array>

class KelPixmapCache;
class KelWidgetStateAnimator;
class QPainter;
class QRect;

// A picture shown next to a widget's text, asked for pixmaps at a device pixel ratio, a logical size, an
// optional tint and a widget state. Icons handed out by KelIconsProvider are immutable and owned by it;
// callers keep plain pointers.
//
// An invalid size argument stands for defaultSize() everywhere; an invalid colour asks for no tint.
// Requests are bounded to maxDeviceSide device pixels a side (scaled down keeping the aspect ratio), so
// no caller or file can make an icon allocate without limit.
class KelIcon {
public:
    // A state variant file: the suffix goes before the last "." of the icon's path; when that file is
    // absent the variant takes what the fallback state resolved to.
    struct Variant {
        KelPainting::WidgetState state;
        const char* rasterSuffix;
        const char* svgSuffix;
        KelPainting::WidgetState fallback;
    };
    // Every state but Normal, in the order fallbacks are resolved.
    static const std::array<Variant, 7>& variants();
    static QString variantPath(const QString& path, const QString& suffix);

    static constexpr int maxDeviceSide = 4096;
    static constexpr double maxDevicePixelRatio = 64.0;

    virtual ~KelIcon();

    virtual bool isValid() const = 0;
    // The base form is for icons that only draw state pixmaps: it warns and returns an empty canvas.
    virtual QPixmap pixmap(
        double devicePixelRatio, const QSize& size, const QColor& color, KelPainting::WidgetState state) const;
    // The animator's state as a pixmap: without a tint the hovered or pressed variant is faded in over the
    // base one and the whole is dimmed by the disabled fade; with a tint (the caller blended the state into
    // the colour) only the base pixmap is drawn.
    virtual QPixmap statePixmap(
        double devicePixelRatio, const QSize& size, const QColor& color, KelWidgetStateAnimator* animator) const;

    QString name() const { return m_name; }
    QSize defaultSize() const { return m_defaultSize; }

    // A transparent canvas of the logical size (ceil of size x ratio device pixels); null, with a warning,
    // when no usable size results.
    QPixmap createPixmap(double devicePixelRatio, const QSize& size) const;

    // Draws the icon aligned in the rectangle; at a fractional ratio the corner is snapped to the device
    // pixel grid so the icon stays crisp.
    void paint(QPainter* painter, const QRect& rect, Qt::Alignment alignment, const QSize& size, const QColor& color,
        KelPainting::WidgetState state) const;
    void paint(QPainter* painter, const QRect& rect, Qt::Alignment alignment, const QSize& size, const QColor& color,
        KelWidgetStateAnimator* animator) const;

protected:
    KelIcon() = default;
    KelIcon(const KelIcon&) = delete;
    KelIcon& operator=(const KelIcon&) = delete;

    void setName(const QString& name) { m_name = name; }
    void setDefaultSize(const QSize& size) { m_defaultSize = size; }

    // The requested logical size (else the default one) bounded to maxDeviceSide; invalid when none is
    // usable at that ratio.
    QSize boundedLogicalSize(double devicePixelRatio, const QSize& size) const;
    // The device pixels of a request: each side of the bounded logical size times the ratio, rounded
    // half up; invalid when the request is unusable.
    QSize deviceSize(double devicePixelRatio, const QSize& size) const;

    // The common start of a file icon's pixmap request: false, with the logged reason, when nothing can be
    // rendered. className names the icon class in the messages.
    bool checkRequest(const char* className, double devicePixelRatio, const QSize& size, QSize* device) const;
    // The UI's icon cache; null without a running toolkit application.
    static KelPixmapCache* cache();
    static bool findCached(const QString& key, QPixmap* out);
    static void storeCached(const QString& key, const QPixmap& pixmap);
    static QString colorKey(const QColor& color);
    // "KelIcon-<name>-<colour parts>-<ratio>-<device width>-<device height>-<state>)"; empty without a name.
    QString cacheKey(const QStringList& colorParts, double devicePixelRatio, const QSize& device,
        KelPainting::WidgetState state) const;

private:
    QSize m_defaultSize;
    QString m_name;
};

// What the provider hands out for a name it does not know: never valid, it paints nothing.
class KelNullIcon : public KelIcon {
public:
    bool isValid() const override { return false; }
};
