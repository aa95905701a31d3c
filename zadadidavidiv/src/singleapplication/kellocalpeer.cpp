#include "kellocalpeer.h"

#include "kelinstanceserver.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDebug>
#include <QDir>
#include <QElapsedTimer>
#include <QLockFile>
#include <QStandardPaths>
#include <QThread>

#include <pwd.h>
#include <sys/types.h>
#include <unistd.h>

namespace {
// Unix socket paths are limited to about 107 bytes.
const int kMaxSocketPathLength = 100;
const int kRetryPauseMs = 50;

QString userTag()
{
    QString name;
    if (const passwd* entry = ::getpwuid(::getuid()))
        name = QString::fromLocal8Bit(entry->pw_name);
    QString tag;
    for (const QChar c : name) {
        if (c.isLetterOrNumber() || c == QLatin1Char('_') || c == QLatin1Char('-') || c == QLatin1Char('.'))
            tag += c;
    }
    return tag.left(32) + QLatin1Char('-') + QString::number(::getuid());
}

QString baseName(const QString& appId)
{
    const QByteArray hash = QCryptographicHash::hash(appId.toUtf8(), QCryptographicHash::Sha1).toHex().left(16);
    return QStringLiteral("kelsingleapp-") + userTag() + QLatin1Char('-') + QString::fromLatin1(hash);
}

// The runtime folder is private to the user (mode 0700), unlike the shared temporary folder.
QString baseFolder(const QString& name)
{
    QString folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (folder.isEmpty() || folder.size() + 1 + name.size() > kMaxSocketPathLength)
        folder = QDir::tempPath();
    return folder;
}

QString defaultId(const QString& appId) { return appId.isEmpty() ? QCoreApplication::applicationFilePath() : appId; }
}

QString KelLocalPeer::socketPathFor(const QString& appId)
{
    const QString name = baseName(defaultId(appId));
    return baseFolder(name) + QLatin1Char('/') + name;
}

QString KelLocalPeer::lockFilePathFor(const QString& appId) { return socketPathFor(appId) + QStringLiteral(".lock"); }

KelLocalPeer::KelLocalPeer(const QString& appId, QObject* parent)
    : QObject(parent)
    , m_id(defaultId(appId))
    , m_socketPath(socketPathFor(m_id))
    , m_lock(std::make_unique<QLockFile>(lockFilePath()))
{
    // Only a dead owner makes the lock stale; age alone must never steal it from a live instance.
    m_lock->setStaleLockTime(0);
}

KelLocalPeer::~KelLocalPeer()
{
    if (m_server)
        m_server->close();
    if (m_lock->isLocked())
        m_lock->unlock();
}

QString KelLocalPeer::lockFilePath() const { return m_socketPath + QStringLiteral(".lock"); }

bool KelLocalPeer::isClient()
{
    if (m_lock->isLocked() || m_lockUnavailable)
        return false;
    if (!m_lock->tryLock(0)) {
        if (m_lock->error() == QLockFile::LockFailedError)
            return true;
        // Without a usable lock folder there is no way to find another instance: run alone.
        qWarning() << "Can't create the instance lock" << lockFilePath() << "error" << m_lock->error()
                   << "- running without single-instance hand-over";
        m_lockUnavailable = true;
        return false;
    }
    if (!m_server) {
        m_server = new KelInstanceServer(this);
        connect(m_server, &KelInstanceServer::messageReceived, this, &KelLocalPeer::messageReceived);
        m_server->setRecorder(m_recorder);
        m_server->setHeld(m_held);
    }
    m_server->listen(m_socketPath);
    return false;
}

void KelLocalPeer::setRecorder(KelInstanceServer::Recorder recorder)
{
    m_recorder = recorder;
    if (m_server)
        m_server->setRecorder(std::move(recorder));
}

void KelLocalPeer::setHeld(bool held)
{
    m_held = held;
    if (m_server)
        m_server->setHeld(held);
}

bool KelLocalPeer::sendMessage(const QString& message, int timeoutMs)
{
    return sendMessage(message, timeoutMs, nullptr) == KelInstanceServer::Delivery::Delivered;
}

KelInstanceServer::Delivery KelLocalPeer::sendMessage(const QString& message, int timeoutMs, QString* reason)
{
    using Delivery = KelInstanceServer::Delivery;
    QElapsedTimer elapsed;
    elapsed.start();
    if (!isClient())
        return Delivery::NoAnswer;
    do {
        const int remaining = int(qMax<qint64>(1, timeoutMs - elapsed.elapsed()));
        const Delivery delivery = KelInstanceServer::deliver(m_socketPath, message, remaining, reason);
        if (delivery != Delivery::NoAnswer)
            return delivery;
        if (!isClient()) {
            qInfo() << "The running instance has gone; this one takes its place";
            return Delivery::NoAnswer;
        }
        QThread::msleep(ulong(qBound<qint64>(0, timeoutMs - elapsed.elapsed(), kRetryPauseMs)));
    } while (elapsed.elapsed() < timeoutMs);
    qWarning() << "Another instance holds" << lockFilePath() << "but did not take the message within" << timeoutMs
               << "ms";
    return Delivery::NoAnswer;
}
