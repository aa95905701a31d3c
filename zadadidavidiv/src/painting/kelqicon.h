#pragma once

#include "painting/kelicon.h"

#include <QIcon>
#include <QMap>

// An icon from a raster file (anything QImageReader decodes) and its state variants found by file name
// ("closeHigh.png" for the hovered state of "close.png"). Tints take the colour's red, green and blue and
// keep each pixel's own alpha.
class KelQIcon : public KelIcon {
public:
    // Loads at once; a file that does not decode leaves the icon invalid with an empty name.
    explicit KelQIcon(const QString& path);
    ~KelQIcon() override;

    bool isValid() const override { return !m_icons.isEmpty(); }
    QPixmap pixmap(
        double devicePixelRatio, const QSize& size, const QColor& color, KelPainting::WidgetState state) const override;

private:
    static QIcon loadIcon(const QString& file);

    QMap<int, QIcon> m_icons;
};
