#pragma once

#include "painting/kelicon.h"

#include <QMap>
#include <QSharedPointer>

class QSvgRenderer;

// An icon from an SVG file and its state variants found by file name ("print-hover.svg" for the hovered
// state of "print.svg"). A state without a file of its own shares the parsed renderer of its fallback.
// The drawing always fills the whole device-pixel canvas of a request. A tint's alpha is the icon's
// opacity.
class KelSvgIcon : public KelIcon {
public:
    // Loads at once; a file that does not render validly leaves the icon invalid with an empty name.
    explicit KelSvgIcon(const QString& path);
    ~KelSvgIcon() override;

    bool isValid() const override { return !m_renderers.isEmpty(); }
    QPixmap pixmap(
        double devicePixelRatio, const QSize& size, const QColor& color, KelPainting::WidgetState state) const override;

    // The renderer of the file with the state suffix, or null when that file is absent or does not render.
    static QSharedPointer<QSvgRenderer> createSvgRenderer(const QString& path, const QString& stateSuffix);

private:
    QMap<int, QSharedPointer<QSvgRenderer>> m_renderers;
};
