#include "windows/kelwindowframe.h"

#include "styles/kelcolors.h"

#include <QWidget>

KelWindowFrame::KelWindowFrame(QObject* parent, QWidget* widget)
    : QObject(parent)
    , m_window(widget ? widget->window() : nullptr)
{
}

KelWindowFrame::~KelWindowFrame() = default;

template <typename T> bool KelWindowFrame::assign(T& field, const T& value)
{
    if (field == value)
        return false;
    field = value;
    repaint();
    return true;
}

void KelWindowFrame::repaint()
{
    if (m_window)
        m_window->update();
}

QBrush KelWindowFrame::background() const
{
    return m_window ? m_window->palette().brush(m_window->backgroundRole()) : QBrush();
}

void KelWindowFrame::setBackground(const QBrush& brush)
{
    setWidgetBackgroundBrush(m_window, brush);
    repaint();
}

void KelWindowFrame::setBorderColor(const QColor& color) { assign(m_borderColor, color); }

void KelWindowFrame::setBorderWidth(int width) { assign(m_borderWidth, width); }

int KelWindowFrame::effectiveBorderWidth() const
{
    if (m_window && (m_window->isMaximized() || m_window->isFullScreen()))
        return 0;
    return m_borderWidth;
}

void KelWindowFrame::setRadii(int topLeft, int topRight, int bottomRight, int bottomLeft)
{
    setRadii(KelRadii(topLeft, topRight, bottomRight, bottomLeft));
}

void KelWindowFrame::setRadii(const KelRadii& radii) { assign(m_radii, radii); }

void KelWindowFrame::setShadowColor(const QColor& color)
{
    if (assign(m_shadowColor, color))
        emit shadowColorChanged(color);
}

void KelWindowFrame::setShadowSize(int size) { assign(m_shadowSize, size); }

void KelWindowFrame::setShadowOffset(int offset) { assign(m_shadowOffset, offset); }

void KelWindowFrame::setFlags(int flags) { assign(m_flags, flags); }

void KelWindowFrame::setShapeFunction(ShapeFunction shape)
{
    m_shape = std::move(shape);
    repaint();
}

bool KelWindowFrame::needsTranslucentBackground() const { return m_shape || m_radii != KelRadii(); }

void KelWindowFrame::setAnchor(Qt::Edge edge, Qt::Alignment alignment)
{
    m_anchor.edge = edge;
    m_anchor.alignment = alignment;
}

void KelWindowFrame::clearAnchor() { m_anchor = Anchor(); }

void KelWindowFrame::setContentProtected(bool contentProtected) { m_contentProtected = contentProtected; }
