#include "kelsingleapplication.h"

#include "kellocalpeer.h"

#include <QWidget>

KelSingleApplication::KelSingleApplication(int& argc, char** argv)
    : KelSingleApplication(QString(), argc, argv)
{
}

KelSingleApplication::KelSingleApplication(const QString& appId, int& argc, char** argv)
    : QApplication(argc, argv)
    , m_peer(new KelLocalPeer(appId, this))
{
    connect(m_peer, &KelLocalPeer::messageReceived, this, &KelSingleApplication::messageReceived);
}

KelSingleApplication::~KelSingleApplication() = default;

bool KelSingleApplication::isRunning() { return m_peer->isClient(); }

QString KelSingleApplication::id() const { return m_peer->applicationId(); }

bool KelSingleApplication::sendMessage(const QString& message, int timeout)
{
    return m_peer->sendMessage(message, timeout);
}

KelInstanceServer::Delivery KelSingleApplication::sendMessage(const QString& message, int timeout, QString* reason)
{
    return m_peer->sendMessage(message, timeout, reason);
}

void KelSingleApplication::setMessageRecorder(KelInstanceServer::Recorder recorder)
{
    m_peer->setRecorder(std::move(recorder));
}

void KelSingleApplication::holdMessages(bool held) { m_peer->setHeld(held); }

void KelSingleApplication::setActivationWindow(QWidget* window, bool activateOnMessage)
{
    m_activationWindow = window;
    disconnect(this, &KelSingleApplication::messageReceived, this, &KelSingleApplication::activateWindow);
    if (activateOnMessage)
        connect(this, &KelSingleApplication::messageReceived, this, &KelSingleApplication::activateWindow);
}

QWidget* KelSingleApplication::activationWindow() const { return m_activationWindow; }

void KelSingleApplication::activateWindow() { bringToFront(m_activationWindow); }

void KelSingleApplication::bringToFront(QWidget* window)
{
    if (!window)
        return;
    window->setWindowState(window->windowState() & ~Qt::WindowMinimized);
    if (!window->isVisible())
        window->show();
    window->raise();
    window->activateWindow();
}
