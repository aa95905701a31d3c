#pragma once

#include "kelinstanceserver.h"

#include <QApplication>
#include <QPointer>

class KelLocalPeer;

// A QApplication that knows whether the program already runs for this user and can hand a
// message (the command line of a later start) to the running instance, which emits
// messageReceived and, when asked to, brings its activation window to the front.
class KelSingleApplication : public QApplication {
    Q_OBJECT

public:
    KelSingleApplication(int& argc, char** argv);
    // appId picks the instance group; the default is the program's file path.
    KelSingleApplication(const QString& appId, int& argc, char** argv);
    ~KelSingleApplication() override;

    // True when another instance runs; otherwise this one becomes the running instance.
    bool isRunning();
    QString id() const;

    void setActivationWindow(QWidget* window, bool activateOnMessage = true);
    QWidget* activationWindow() const;

    // Restores the window from minimised, shows it when hidden, raises and activates it.
    static void bringToFront(QWidget* window);

    // As sendMessage(), telling a refusal of the running instance (with its reason) from no answer.
    KelInstanceServer::Delivery sendMessage(const QString& message, int timeout, QString* reason);
    // See KelLocalPeer: how the running instance keeps a message before it acknowledges it.
    void setMessageRecorder(KelInstanceServer::Recorder recorder);
    void holdMessages(bool held);

public slots:
    // True when a running instance took the message within timeout ms (see KelLocalPeer).
    bool sendMessage(const QString& message, int timeout = 5000);
    // Restores, shows, raises and activates the activation window.
    void activateWindow();

signals:
    void messageReceived(const QString& message);

private:
    KelLocalPeer* m_peer;
    QPointer<QWidget> m_activationWindow;
};
