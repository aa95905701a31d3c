#include "styles/noisepainter.h"

#include "resources/appresources.h"

#include <QDebug>
#include <QEvent>
#include <QPainter>
#include <QPixmap>
#include <QWidget>

NoisePainter::NoisePainter()
{
    initAppResources();
    const QPixmap tile(QStringLiteral(":/backgrounds/noise.png"));
    if (tile.isNull())
        qWarning() << "NoisePainter: the background grain tile is missing";
    m_brush = QBrush(tile);
}

NoisePainter* NoisePainter::instance()
{
    static NoisePainter* painter = new NoisePainter;
    return painter;
}

bool NoisePainter::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() != QEvent::Paint || !watched->isWidgetType())
        return false;
    auto* widget = static_cast<QWidget*>(watched);
    // The widget paints itself first (through its own event handler, not the filter chain again);
    // the grain goes over it, and the event is not delivered a second time.
    static_cast<QObject*>(widget)->event(event);
    if (m_brush.texture().isNull())
        return true;
    QPainter painter(widget);
    painter.setOpacity(0.03);
    painter.fillRect(widget->rect(), m_brush);
    return true;
}
