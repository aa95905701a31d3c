#pragma once

#include <QByteArray>
#include <QObject>
#include <QPointer>
#include <QTimer>
#include <QUrl>

class QNetworkAccessManager;
class QNetworkReply;

// One HTTP GET to a server we do not trust: only http and https addresses, an overall deadline
// (a server that accepts and then never answers still ends the request) and a cap on the body,
// whatever the server claims in its headers. Redirects are not followed. finished() comes
// exactly once per started request, also when it is cancelled.
class BoundedGet : public QObject {
    Q_OBJECT

public:
    enum Outcome { Pending, Succeeded, Failed, TimedOut, TooLarge, Cancelled };

    explicit BoundedGet(QObject* parent = nullptr);
    ~BoundedGet() override;

    // True for an absolute http or https address with a host.
    static bool isWebUrl(const QUrl& url);

    // Sends the request. False, with nothing sent and no finished(), when the address is not
    // a web address or a request is already running.
    bool start(QNetworkAccessManager* manager, const QUrl& url, qint64 maxBodyBytes, int timeoutMs);
    // Aborts a running request; finished() comes before this returns.
    void cancel();

    bool isRunning() const { return !m_reply.isNull(); }
    Outcome outcome() const { return m_outcome; }
    // What went wrong, for the log; empty on success.
    QString errorText() const { return m_errorText; }
    // The body received so far (all of it after success).
    QByteArray body() const { return m_body; }

signals:
    void finished();

private:
    void readAvailable();
    void checkDeclaredLength();
    void abortWith(Outcome outcome, const QString& text);
    void onReplyFinished();

    QPointer<QNetworkReply> m_reply;
    QTimer m_deadline;
    qint64 m_maxBodyBytes = 0;
    QByteArray m_body;
    Outcome m_outcome = Pending;
    QString m_errorText;
};
