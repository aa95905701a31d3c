#include "boundedget.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>

BoundedGet::BoundedGet(QObject* parent)
    : QObject(parent)
{
    m_deadline.setSingleShot(true);
    connect(&m_deadline, &QTimer::timeout, this,
        [this] { abortWith(TimedOut, QStringLiteral("No complete answer in time")); });
}

BoundedGet::~BoundedGet()
{
    if (m_reply) {
        m_reply->disconnect(this);
        m_reply->abort();
        m_reply->deleteLater();
    }
}

bool BoundedGet::isWebUrl(const QUrl& url)
{
    const QString scheme = url.scheme().toLower();
    return url.isValid() && (scheme == QLatin1String("http") || scheme == QLatin1String("https"))
        && !url.host().isEmpty();
}

bool BoundedGet::start(QNetworkAccessManager* manager, const QUrl& url, qint64 maxBodyBytes, int timeoutMs)
{
    if (!manager || m_reply || !isWebUrl(url))
        return false;
    m_maxBodyBytes = maxBodyBytes;
    m_body.clear();
    m_outcome = Pending;
    m_errorText.clear();

    QNetworkRequest request(url);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
    m_reply = manager->get(request);
    connect(m_reply.data(), &QNetworkReply::metaDataChanged, this, &BoundedGet::checkDeclaredLength);
    connect(m_reply.data(), &QIODevice::readyRead, this, &BoundedGet::readAvailable);
    connect(m_reply.data(), &QNetworkReply::finished, this, &BoundedGet::onReplyFinished);
    m_deadline.start(timeoutMs);
    return true;
}

void BoundedGet::cancel() { abortWith(Cancelled, QStringLiteral("Cancelled")); }

void BoundedGet::checkDeclaredLength()
{
    if (!m_reply)
        return;
    const QVariant declared = m_reply->header(QNetworkRequest::ContentLengthHeader);
    if (declared.isValid() && declared.toLongLong() > m_maxBodyBytes)
        abortWith(TooLarge, QStringLiteral("Answer larger than %1 bytes").arg(m_maxBodyBytes));
}

void BoundedGet::readAvailable()
{
    if (!m_reply)
        return;
    // Read as it comes, so the reply's own buffer never holds more than one network read.
    m_body += m_reply->read(m_maxBodyBytes + 1 - m_body.size());
    if (m_body.size() > m_maxBodyBytes)
        abortWith(TooLarge, QStringLiteral("Answer larger than %1 bytes").arg(m_maxBodyBytes));
}

void BoundedGet::abortWith(Outcome outcome, const QString& text)
{
    if (!m_reply || m_outcome != Pending)
        return;
    m_outcome = outcome;
    m_errorText = text;
    // abort() delivers finished() at once; onReplyFinished keeps the outcome set here.
    m_reply->abort();
    if (m_reply) // a reply that had already finished emits nothing more
        onReplyFinished();
}

void BoundedGet::onReplyFinished()
{
    QNetworkReply* reply = m_reply.data();
    if (!reply)
        return;
    m_reply = nullptr;
    m_deadline.stop();
    reply->disconnect(this);
    if (m_outcome == Pending) {
        const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        if (reply->error() != QNetworkReply::NoError) {
            m_outcome = Failed;
            m_errorText = reply->errorString();
        } else if (status < 200 || status > 299) {
            // Redirects and other answers without an error of their own carry no usable body.
            m_outcome = Failed;
            m_errorText = QStringLiteral("Unexpected HTTP status %1").arg(status);
        } else {
            m_body += reply->read(m_maxBodyBytes + 1 - m_body.size());
            if (m_body.size() > m_maxBodyBytes) {
                m_outcome = TooLarge;
                m_errorText = QStringLiteral("Answer larger than %1 bytes").arg(m_maxBodyBytes);
            } else {
                m_outcome = Succeeded;
            }
        }
    }
    if (m_outcome != Succeeded)
        m_body.clear();
    reply->deleteLater();
    emit finished();
}
