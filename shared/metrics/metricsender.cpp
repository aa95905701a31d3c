#include "metricsender.h"

#include "boundedget.h"
#include "metricencoding.h"

#include <QCoreApplication>
#include <QDebug>
#include <QNetworkAccessManager>
#include <QThread>
#include <QTimer>

namespace {

// No metrics address is built in: without a configured one nothing leaves the machine.
const char* const kDefaultBaseUrl = "";

const int kIdleInterval = 5000;
const int kBurstInterval = 100;
const int kDrainInterval = 10;
const int kMaxRequestLength = 1024;
// Events wait here while the address is unreachable; beyond this many new ones are dropped.
const int kMaxQueuedEvents = 1000;
// The answer is not used; anything longer than this is a misbehaving server.
const qint64 kMaxReplyBytes = 64 * 1024;

std::atomic<int> s_requestTimeout { 30000 };

MetricSender::Event eventFromMessage(const QString& message)
{
    const QStringList parts = message.mid(1).split(QLatin1Char(':'));
    MetricSender::Event event;
    event.key = parts.at(0);
    event.value = parts.size() > 1 ? parts.at(1) : QStringLiteral("1");
    if (parts.size() > 2)
        event.extra = parts.at(2);
    return event;
}

// "key:value[:extra]". The key is encoded too: a key is free text to direct callers, and
// ":" or "&" in it would change what the server reads.
QString entryValue(const MetricSender::Event& event)
{
    QString entry = metrics::percentEncoded(event.key) + QLatin1Char(':') + metrics::percentEncoded(event.value);
    if (!event.extra.isEmpty())
        entry += QLatin1Char(':') + metrics::percentEncoded(event.extra);
    return entry;
}

} // namespace

MetricSender::MetricSender()
    : m_timer(new QTimer(this))
{
    connect(m_timer, &QTimer::timeout, this, &MetricSender::sendNext);
}

MetricSender* MetricSender::instance()
{
    // Never destroyed: any thread may still log (and so reach this object) while the process
    // exits. The network and the timer are shut down with the application object instead.
    static MetricSender* const sender = [] {
        auto* created = new MetricSender;
        if (QCoreApplication* app = QCoreApplication::instance())
            created->moveToThread(app->thread());
        qAddPostRoutine(&MetricSender::shutdown);
        return created;
    }();
    return sender;
}

QString MetricSender::settingKey() { return QStringLiteral("SendData"); }

void MetricSender::setRequestTimeout(int ms) { s_requestTimeout = ms; }

void MetricSender::init(
    const QString& deviceId, const QString& productId, const QString& version, bool enabled, const QString& baseUrl)
{
    MetricSender* sender = instance();
    QString base = baseUrl.isEmpty() ? QString::fromLatin1(kDefaultBaseUrl) : baseUrl;
    while (base.endsWith(QLatin1Char('/')))
        base.chop(1);
    if (!base.isEmpty() && !BoundedGet::isWebUrl(QUrl(base, QUrl::TolerantMode))) {
        qWarning() << "Metrics address is not an http or https address, nothing is sent:" << base;
        base.clear();
    }
    QUrlQuery query;
    query.addQueryItem(QStringLiteral("pid"), metrics::percentEncoded(productId));
    query.addQueryItem(QStringLiteral("ver"), metrics::percentEncoded(version));
    query.addQueryItem(QStringLiteral("dev"), metrics::deviceHash(deviceId));

    QMetaObject::invokeMethod(sender, &MetricSender::cancelRequest, Qt::AutoConnection);
    {
        QMutexLocker lock(&sender->m_mutex);
        sender->m_baseUrl = base;
        sender->m_query = query;
        sender->m_enabled = enabled;
        sender->m_request.clear();
        sender->m_queue.clear();
        sender->m_overflowLogged = false;
    }
    sender->restartSendTimer(kIdleInterval);
}

void MetricSender::installMessageHandler()
{
    MetricSender* sender = instance();
    const QtMessageHandler replaced = qInstallMessageHandler(&MetricSender::messageHandler);
    // Installed twice, the handler must not become its own predecessor.
    if (replaced != &MetricSender::messageHandler)
        sender->m_previousHandler = replaced;
}

void MetricSender::messageHandler(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    if (message.startsWith(QLatin1Char('#'))) {
        const Event event = eventFromMessage(message);
        addMetric(event.key, event.value, event.extra);
        return;
    }
    if (const QtMessageHandler previous = instance()->m_previousHandler.load())
        previous(type, context, message);
}

void MetricSender::addMetric(const QString& key, const QString& value, const QString& extra)
{
    MetricSender* sender = instance();
    Event event { key, value, extra };
    bool overflow = false;
    {
        QMutexLocker lock(&sender->m_mutex);
        if (!sender->m_enabled || sender->m_shutDown || sender->m_baseUrl.isEmpty())
            return;
        if (sender->m_queue.size() >= kMaxQueuedEvents) {
            overflow = !sender->m_overflowLogged;
            sender->m_overflowLogged = true;
        } else {
            sender->m_queue.enqueue(std::move(event));
        }
    }
    if (overflow) {
        qWarning() << "Metrics queue full, new events are dropped";
        return;
    }
    sender->restartSendTimer(kBurstInterval);
}

void MetricSender::addMetricValue(const QString& key, int value) { addMetric(key, QString::number(value)); }

bool MetricSender::isEnabled()
{
    MetricSender* sender = instance();
    QMutexLocker lock(&sender->m_mutex);
    return sender->m_enabled;
}

void MetricSender::setEnabled(bool enabled)
{
    MetricSender* sender = instance();
    QMutexLocker lock(&sender->m_mutex);
    sender->m_enabled = enabled;
}

void MetricSender::restartSendTimer(int ms)
{
    if (QThread::currentThread() == thread()) {
        m_timer->start(ms);
        return;
    }
    // The timer belongs to the application's thread. One posted restart at a time is enough:
    // it runs after every event queued before it.
    if (m_restartPosted.exchange(true))
        return;
    QMetaObject::invokeMethod(
        this,
        [this, ms] {
            m_restartPosted = false;
            {
                QMutexLocker lock(&m_mutex);
                if (m_shutDown)
                    return;
            }
            m_timer->start(ms);
        },
        Qt::QueuedConnection);
}

QString MetricSender::requestText(const QUrlQuery& query) const
{
    return m_baseUrl + QStringLiteral("/?") + query.query(QUrl::FullyEncoded);
}

QString MetricSender::buildRequest(QStringList* dropped)
{
    QUrlQuery query = m_query;
    QString request;
    int count = 0;
    while (!m_queue.isEmpty()) {
        QUrlQuery candidate = query;
        candidate.addQueryItem(QStringLiteral("m%1").arg(count + 1), entryValue(m_queue.head()));
        const QString text = requestText(candidate);
        if (text.size() >= kMaxRequestLength) {
            if (count > 0)
                break; // the rest goes into the next request
            // Too long even alone: it would block the queue for good.
            dropped->append(m_queue.dequeue().key);
            continue;
        }
        query = candidate;
        request = text;
        ++count;
        m_queue.dequeue();
    }
    return request;
}

void MetricSender::sendNext()
{
    if (m_reply)
        return;
    QString request;
    QStringList dropped;
    {
        QMutexLocker lock(&m_mutex);
        if (!m_enabled || m_baseUrl.isEmpty()) {
            m_request.clear();
            m_queue.clear();
        }
        if (m_queue.isEmpty() || m_shutDown)
            return;
        m_timer->setInterval(kIdleInterval);
        if (m_request.isEmpty())
            m_request = buildRequest(&dropped);
        request = m_request;
    }
    for (const QString& key : dropped)
        qWarning() << "Metric too long for a request, dropped:" << key;
    if (request.isEmpty())
        return;

    qWarning() << "Metric:" << request;
    if (!m_network)
        m_network = new QNetworkAccessManager(this);
    auto* reply = new BoundedGet(this);
    connect(reply, &BoundedGet::finished, this, [this, reply] { onRequestFinished(reply); });
    if (!reply->start(m_network, QUrl(request, QUrl::TolerantMode), kMaxReplyBytes, s_requestTimeout.load())) {
        qWarning() << "Send analitics failed: not an http or https address";
        delete reply;
        QMutexLocker lock(&m_mutex);
        m_request.clear();
        return;
    }
    m_reply = reply;
}

void MetricSender::onRequestFinished(BoundedGet* reply)
{
    if (reply != m_reply)
        return;
    m_reply = nullptr;
    reply->deleteLater();

    bool enabled = false;
    bool queueEmpty = true;
    const bool succeeded = reply->outcome() == BoundedGet::Succeeded;
    {
        QMutexLocker lock(&m_mutex);
        enabled = m_enabled && !m_shutDown;
        if (succeeded)
            m_request.clear();
        queueEmpty = m_queue.isEmpty();
    }
    if (!enabled)
        m_timer->stop();
    if (!succeeded) {
        qWarning() << "Send analitics failed:" << reply->errorText();
        return;
    }
    qDebug() << "Send analitics [OK]";
    if (!enabled)
        return;
    if (queueEmpty)
        m_timer->setInterval(kIdleInterval);
    else
        m_timer->start(kDrainInterval);
}

void MetricSender::cancelRequest()
{
    if (BoundedGet* reply = m_reply.data()) {
        m_reply = nullptr;
        reply->disconnect(this);
        reply->cancel();
        reply->deleteLater();
    }
}

void MetricSender::shutdown()
{
    MetricSender* sender = instance();
    {
        QMutexLocker lock(&sender->m_mutex);
        sender->m_shutDown = true;
        sender->m_enabled = false;
        sender->m_queue.clear();
        sender->m_request.clear();
    }
    sender->m_timer->stop();
    sender->cancelRequest();
    // Deleted while the application still exists: its worker thread must not outlive it.
    delete sender->m_network;
    sender->m_network = nullptr;
    qInfo() << "Delete MetricSender";
    if (sender->m_previousHandler.load()) {
        const QtMessageHandler current = qInstallMessageHandler(nullptr);
        if (current != &MetricSender::messageHandler)
            qInstallMessageHandler(current); // someone else's handler stays
    }
}

QVector<MetricSender::Event> MetricSender::queuedEvents() const
{
    QMutexLocker lock(&m_mutex);
    return QVector<Event>(m_queue.cbegin(), m_queue.cend());
}

QString MetricSender::pendingRequest() const
{
    QMutexLocker lock(&m_mutex);
    return m_request;
}

bool MetricSender::isSending() const { return !m_reply.isNull(); }

bool MetricSender::isTimerActive() const { return m_timer->isActive(); }

int MetricSender::timerInterval() const { return m_timer->interval(); }
