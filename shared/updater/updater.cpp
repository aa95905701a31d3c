#include "updater.h"

#include "metrics/boundedget.h"
#include "metrics/metricencoding.h"

#include <QCoreApplication>
#include <QDebug>
#include <QNetworkAccessManager>
#include <QPointer>
#include <QRegularExpression>
#include <QTimer>
#include <QUrlQuery>
#include <QVersionNumber>

namespace {

const qint64 kMaxReplyBytes = 1024 * 1024;
const int kDefaultTimeoutMs = 30000;
const int kMaxLoggedReply = 200;

QString webUrlOrEmpty(const QString& text, const char* what)
{
    if (text.isEmpty() || BoundedGet::isWebUrl(QUrl(text, QUrl::StrictMode)))
        return text;
    qWarning() << "Not an http or https address, not handed on as" << what << ":" << text;
    return QString();
}

} // namespace

class Updater::Private {
public:
    explicit Private(Updater* owner)
        : owner(owner)
    {
    }

    void onReplyFinished(BoundedGet* finished);
    void handleAnswer(const QByteArray& body);
    void finishLater(const QString& errorText);

    Updater* owner;
    QPointer<QNetworkAccessManager> network;
    QPointer<BoundedGet> reply;
    QString deviceId;
    QString productId;
    QString checkUrl;
    QString changelogUrl;
    QString downloadUrl;
    const QString seed = QLatin1String(metrics::kDeviceSeed);
};

Updater::Updater(const QString& deviceId, const QString& productId, const QString& checkUrl,
    const QString& changelogUrl, const QString& downloadUrl, QObject* parent)
    : QObject(parent)
    , d(new Private(this))
{
    d->deviceId = deviceId;
    d->productId = productId;
    d->checkUrl = checkUrl;
    d->changelogUrl = webUrlOrEmpty(changelogUrl, "change log");
    d->downloadUrl = webUrlOrEmpty(downloadUrl, "download page");
    qInfo() << "Instance created";
}

Updater::~Updater()
{
    if (d->reply) {
        d->reply->disconnect(this);
        d->reply->cancel();
    }
    d.reset();
    qInfo() << "Instance destroyed";
}

void Updater::checkForUpdates(int timeoutMs)
{
    if (!d->network)
        d->network = new QNetworkAccessManager(this);
    if (d->reply) {
        qInfo() << "Update check is running yet, force stop previous request";
        d->reply->cancel(); // its finished() comes now, before the new check starts
    }
    if (timeoutMs <= 0)
        timeoutMs = kDefaultTimeoutMs;

    if (d->checkUrl.isEmpty()) {
        qInfo() << "No update address configured, nothing to check";
        d->finishLater(QString());
        return;
    }
    const QString mh = metrics::md5Hex(d->deviceId + d->seed);
    const QString h = metrics::md5Hex(d->productId + mh + d->seed);
    QUrl url(d->checkUrl, QUrl::TolerantMode);
    QUrlQuery query(url);
    query.addQueryItem(QStringLiteral("ver"), metrics::percentEncoded(QCoreApplication::applicationVersion()));
    query.addQueryItem(QStringLiteral("pid"), metrics::percentEncoded(d->productId));
    query.addQueryItem(QStringLiteral("mh"), mh);
    query.addQueryItem(QStringLiteral("h"), h);
    url.setQuery(query);

    qInfo() << "Get actual version number from" << url.toString(QUrl::FullyEncoded);
    auto* reply = new BoundedGet(this);
    if (!reply->start(d->network, url, kMaxReplyBytes, timeoutMs)) {
        delete reply;
        const QString text = QStringLiteral("Update address is not an http or https address");
        qWarning() << "Update checker reply error:" << text;
        d->finishLater(text);
        return;
    }
    connect(reply, &BoundedGet::finished, this, [this, reply] { d->onReplyFinished(reply); });
    d->reply = reply;
}

void Updater::Private::finishLater(const QString& errorText)
{
    QMetaObject::invokeMethod(
        owner,
        [owner = owner, errorText] {
            if (!errorText.isEmpty())
                emit owner->error(errorText);
            emit owner->finished();
        },
        Qt::QueuedConnection);
}

void Updater::Private::onReplyFinished(BoundedGet* finished)
{
    if (reply == finished)
        reply = nullptr;
    finished->deleteLater();

    switch (finished->outcome()) {
    case BoundedGet::Succeeded:
        handleAnswer(finished->body());
        break;
    case BoundedGet::Cancelled:
        // Replaced by a newer check (or the updater goes away): not a failure of the server.
        qWarning() << "Update checker reply error:" << finished->errorText();
        break;
    default:
        qWarning() << "Update checker reply error:" << finished->errorText();
        emit owner->error(finished->errorText());
        break;
    }
    emit owner->finished();
}

void Updater::Private::handleAnswer(const QByteArray& body)
{
    const QString text = QString::fromUtf8(body.constData(), body.size());
    qInfo() << "Server response:"
            << (text.size() > kMaxLoggedReply ? text.left(kMaxLoggedReply) + QStringLiteral("...") : text);
    if (text.trimmed().isEmpty())
        return;
    QString version;
    if (!parseServerVersion(body, &version)) {
        const QString message = QStringLiteral("The answer is not a version number");
        qWarning() << "Update checker reply error:" << message;
        emit owner->error(message);
        return;
    }
    const QString current = QCoreApplication::applicationVersion();
    const int result = QVersionNumber::compare(
        QVersionNumber::fromString(version).normalized(), QVersionNumber::fromString(current).normalized());
    qInfo() << "Compare versions. "
            << "server version:" << version << "current version:" << current << "result:" << result;
    if (result > 0) {
        qInfo() << "Emit newVersionAvalible:" << version;
        emit owner->newVersionAvalible(version, changelogUrl, downloadUrl);
    }
}

bool Updater::parseServerVersion(const QByteArray& body, QString* version)
{
    static const QRegularExpression pattern(QStringLiteral("^[0-9]{1,9}(\\.[0-9]{1,9}){0,15}$"));
    QString text = QString::fromUtf8(body.constData(), body.size()).trimmed();
    if (text.startsWith(QChar(0xfeff))) // a byte-order mark some servers put first
        text = text.mid(1).trimmed();
    if (!pattern.match(text).hasMatch())
        return false;
    *version = text;
    return true;
}
