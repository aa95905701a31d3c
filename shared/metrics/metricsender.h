#pragma once

#include <QMutex>
#include <QObject>
#include <QPointer>
#include <QQueue>
#include <QString>
#include <QUrlQuery>
#include <QVector>

#include <atomic>

class BoundedGet;
class QNetworkAccessManager;
class QTimer;

// Collects small usage events (key, value, optional extra) from every thread and sends them in
// batches as query items of HTTP GET requests to the metrics address. Events come from direct
// calls and from log messages that begin with "#", which the sender's message handler, chained
// in front of the log's, turns into events and keeps out of the log.
//
// Nothing is queued before init(), while sending is switched off, or while no metrics address
// is configured (the built-in one is empty). A request that fails is kept whole and sent again
// when new events arrive. One process-wide instance; it lives in the application's thread.
class MetricSender : public QObject {
    Q_OBJECT

public:
    struct Event {
        QString key;
        QString value;
        QString extra;
    };

    static MetricSender* instance();

    // Prepares sending: baseUrl empty selects the built-in address; enabled is the user's
    // "SendData" choice. Starts the send timer. Events queued before are dropped.
    static void init(const QString& deviceId, const QString& productId, const QString& version, bool enabled,
        const QString& baseUrl);
    // Chains the metrics handler in front of the installed message handler.
    static void installMessageHandler();

    static void addMetric(const QString& key, const QString& value, const QString& extra = QString());
    static void addMetricValue(const QString& key, int value);

    static bool isEnabled();
    static void setEnabled(bool enabled);
    // Name of the per-user setting that switches sending on (value 1).
    static QString settingKey();

    // Upper bound for one request, from sending to the complete answer (30 s unless changed).
    static void setRequestTimeout(int ms);

    // State for diagnostics and tests; call from the sender's thread.
    QVector<Event> queuedEvents() const;
    QString pendingRequest() const; // the request kept until it succeeds, empty when none
    bool isSending() const; // a request is in flight
    bool isTimerActive() const;
    int timerInterval() const;

    // One tick of the send timer: sends the kept request or the next batch.
    void sendNext();

private:
    MetricSender();

    static void messageHandler(QtMsgType type, const QMessageLogContext& context, const QString& message);
    static void shutdown();

    void restartSendTimer(int ms);
    QString buildRequest(QStringList* dropped);
    QString requestText(const QUrlQuery& query) const;
    void onRequestFinished(BoundedGet* request);
    void cancelRequest();

    bool m_enabled = false;
    bool m_shutDown = false;
    QTimer* m_timer;
    mutable QMutex m_mutex; // guards the queue, the request, the base strings and the flags above
    std::atomic<QtMessageHandler> m_previousHandler { nullptr };
    std::atomic<bool> m_restartPosted { false };
    QUrlQuery m_query; // pid, ver and dev
    QString m_baseUrl;
    QString m_request;
    QQueue<Event> m_queue;
    bool m_overflowLogged = false;
    QNetworkAccessManager* m_network = nullptr;
    QPointer<BoundedGet> m_reply;
};
