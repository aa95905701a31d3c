#pragma once

#include "kelinstanceserver.h"

#include <QObject>
#include <QString>

#include <memory>

class QLockFile;

// One running instance per user and program. The first start takes a lock file and serves a
// local socket; later starts find the lock held and hand their message to that socket. Both files
// live in the user's private runtime folder and carry the user in their names. A lock left by an
// instance that was killed is recognised as stale (its process is gone) and taken over, and the
// socket file it left is replaced.
class KelLocalPeer : public QObject {
    Q_OBJECT

public:
    // An empty id means the program's own file path, so every copy of one installation shares it.
    explicit KelLocalPeer(const QString& appId = QString(), QObject* parent = nullptr);
    ~KelLocalPeer() override;

    QString applicationId() const { return m_id; }
    QString socketPath() const { return m_socketPath; }
    QString lockFilePath() const;

    static QString socketPathFor(const QString& appId);
    static QString lockFilePathFor(const QString& appId);

    // True while another live instance holds the lock. Otherwise this instance becomes the
    // running one (takes the lock and starts serving) and the answer is false.
    bool isClient();

    // Hands the message to the running instance. Retries until timeoutMs while the lock is held
    // but nobody answers yet (the other start is still coming up). False when this instance is,
    // or has just become, the running one, or when nobody took the message in time; the message
    // is then withdrawn, and a running instance that comes to it later drops it.
    bool sendMessage(const QString& message, int timeoutMs);
    // The same; a refusal of the running instance ends the attempt at once, with its reason.
    KelInstanceServer::Delivery sendMessage(const QString& message, int timeoutMs, QString* reason);

    // What the server of the running instance keeps a message with before it acknowledges it, and
    // whether it holds messages unanswered meanwhile (see KelInstanceServer); kept for a server made later.
    void setRecorder(KelInstanceServer::Recorder recorder);
    void setHeld(bool held);

signals:
    void messageReceived(const QString& message);

private:
    QString m_id;
    QString m_socketPath;
    std::unique_ptr<QLockFile> m_lock;
    KelInstanceServer* m_server = nullptr;
    bool m_lockUnavailable = false;
    KelInstanceServer::Recorder m_recorder;
    bool m_held = false;
};
