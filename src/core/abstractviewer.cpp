#include "abstractviewer.h"

#include <QApplication>
#include <QMetaEnum>
#include <QMouseEvent>
#include <QtDebug>

namespace {

// Two presses closer than this are a double click; a click is reported once it has passed.
constexpr int kClickIntervalMs = 300;

const char* zoomActionName(AbstractViewer::ZoomAction action)
{
    const char* key = QMetaEnum::fromType<AbstractViewer::ZoomAction>().valueToKey(int(action));
    return key ? key : "?";
}

} // namespace

AbstractViewer::AbstractViewer(int viewerType)
    : m_viewerType(viewerType)
    , m_userEvents(new UserEvents)
{
    m_mouseClickTimer.setSingleShot(true);
    m_mouseClickTimer.setInterval(kClickIntervalMs);
    QObject::connect(
        &m_mouseClickTimer, &QTimer::timeout, &m_mouseClickTimer, [this] { onClickTimer(); }, Qt::DirectConnection);
}

AbstractViewer::~AbstractViewer()
{
    m_mouseClickTimer.stop();
    delete m_userEvents;
}

QString AbstractViewer::selectedText() const { return QString(); }

void AbstractViewer::clearSelection() { }

void AbstractViewer::goLink(const QString& link, bool forced)
{
    qWarning() << this << "goLink(" << link << (forced ? "[forced]" : "") << ") is NOT IMPLEMENTED!";
}

void AbstractViewer::goPage(int page) { qWarning() << this << "goPage(" << page << ") is NOT IMPLEMENTED!"; }

void AbstractViewer::setZoomValue(ZoomAction action, int value)
{
    qWarning() << this << "setZoomValue(" << zoomActionName(action) << "," << value << ") is NOT IMPLEMENTED!";
}

bool AbstractViewer::featuresWithin(Features features, Features available)
{
    return features != Features() && (features & ~available) == Features();
}

void AbstractViewer::onMouseClicked() { }

void AbstractViewer::onDragStart() { }

void AbstractViewer::onDragMove(const QPoint& delta) { Q_UNUSED(delta); }

void AbstractViewer::onDragEnd() { }

bool AbstractViewer::handleMousePressEvent(QMouseEvent* event)
{
    qInfo() << event << "accepted:" << event->isAccepted() << "m_leftButtonPressed" << m_leftButtonPressed
            << "m_mouseClickTimer.isActive:" << m_mouseClickTimer.isActive();
    m_pressPos = event->pos();
    if (event->buttons() == Qt::MiddleButton)
        return true; // the release asks for full screen
    if (event->buttons() != Qt::LeftButton)
        return false;
    if (m_mouseClickTimer.isActive()) {
        m_mouseClickTimer.stop();
        m_doubleClicked = true;
        qInfo() << "Viewer double-clicked";
        emit m_userEvents->fullscreenPressed();
        return true;
    }
    emit m_userEvents->mousePressed();
    m_clickPos = event->pos();
    m_leftButtonPressed = true;
    m_mouseClickTimer.start();
    return false;
}

bool AbstractViewer::handleMouseMoveEvent(QMouseEvent* event, Qt::MouseButtons buttons)
{
    if (m_pressPos == QPoint(-1, -1))
        return false;
    const QPoint delta = m_pressPos - event->pos();
    if (!m_dragStarted) {
        if (!(event->buttons() & buttons) || delta.manhattanLength() <= QApplication::startDragDistance())
            return false;
        m_dragStarted = true;
        m_mouseClickTimer.stop(); // a drag is never a click
        onDragStart();
    }
    onDragMove(delta);
    return true;
}

void AbstractViewer::handleMouseReleaseEvent(QMouseEvent* event)
{
    const bool isSingleClick
        = m_leftButtonPressed && !m_doubleClicked && !m_dragStarted && !m_mouseClickTimer.isActive();
    qInfo() << event << "accepted:" << event->isAccepted() << "m_leftButtonPressed" << m_leftButtonPressed
            << "m_doubleClicked" << m_doubleClicked << "m_dragStarted" << m_dragStarted
            << "m_mouseClickTimer.isActive:" << m_mouseClickTimer.isActive() << "isSingleClick" << isSingleClick;
    m_pressPos = QPoint(-1, -1);
    m_leftButtonPressed = false;
    m_doubleClicked = false;
    if (m_dragStarted) {
        m_dragStarted = false;
        onDragEnd();
    } else if (event->button() == Qt::MiddleButton) {
        emit m_userEvents->fullscreenPressed();
    } else if (isSingleClick) {
        onMouseClicked();
    }
}

void AbstractViewer::onClickTimer()
{
    // A press still held is reported at its release; a drag is no click.
    if (m_leftButtonPressed || m_dragStarted)
        return;
    qInfo() << "Single-click timer activated";
    onMouseClicked();
}
