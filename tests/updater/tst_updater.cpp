#include "metrics/metricencoding.h"
#include "scriptedhttpserver.h"
#include "updater/updater.h"

#include <QCoreApplication>
#include <QNetworkProxy>
#include <QSignalSpy>
#include <QTest>

#include <memory>

namespace {

const QString kDeviceId = QStringLiteral("machine-7");
const QString kChangelog = QStringLiteral("https://example.invalid/Folvane/changelog.html");
const QString kDownload = QStringLiteral("https://example.invalid/Download-Folvane/");

// One updater with spies on its three signals.
struct Check {
    explicit Check(const QString& checkUrl, const QString& changelog = kChangelog, const QString& download = kDownload)
        : updater(kDeviceId, QStringLiteral("17"), checkUrl, changelog, download)
        , finished(&updater, &Updater::finished)
        , newVersion(&updater, &Updater::newVersionAvalible)
        , error(&updater, &Updater::error)
    {
    }

    Updater updater;
    QSignalSpy finished;
    QSignalSpy newVersion;
    QSignalSpy error;
};

} // namespace

class TestUpdater : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QNetworkProxy::setApplicationProxy(QNetworkProxy::NoProxy);
        QCoreApplication::setApplicationVersion(QStringLiteral("6.2.9"));
    }

    void serverAnswers_data()
    {
        QTest::addColumn<ScriptedHttpServer::Reply>("reply");
        QTest::addColumn<QString>("announced"); // empty: no newVersionAvalible
        QTest::addColumn<bool>("isError");

        using S = ScriptedHttpServer;
        QTest::newRow("same version") << S::ok("6.2.9") << QString() << false;
        QTest::newRow("numeric, not text comparison") << S::ok("6.2.10\n") << "6.2.10" << false;
        QTest::newRow("older") << S::ok("6.2.8") << QString() << false;
        QTest::newRow("trailing zero is the same") << S::ok("6.2.9.0") << QString() << false;
        QTest::newRow("white space and BOM") << S::ok("\xef\xbb\xbf 6.3 \r\n") << "6.3" << false;
        QTest::newRow("empty answer") << S::ok("") << QString() << false;
        QTest::newRow("second line") << S::ok("7.0\nhttp://evil.invalid/") << QString() << true;
        QTest::newRow("invalid UTF-8") << S::ok("7.\xff") << QString() << true;
        // Versions are at most sixteen numbers of at most nine digits.
        const QByteArray sixteen = QByteArray("9") + QByteArray(".1").repeated(15);
        QTest::newRow("sixteen segments") << S::ok(sixteen) << QString(sixteen) << false;
        QTest::newRow("seventeen segments") << S::ok(sixteen + ".1") << QString() << true;
        QTest::newRow("nine digits") << S::ok("999999999") << "999999999" << false;
        QTest::newRow("ten digits") << S::ok("9999999999") << QString() << true;
        QTest::newRow("trailing dot") << S::ok("7.2.") << QString() << true;
        QTest::newRow("arabic-indic digits") << S::ok("\xd9\xa7") << QString() << true;
        QTest::newRow("nul inside") << S::ok(QByteArray("7.2\0", 4)) << QString() << true;
        QTest::newRow("404") << S::status(404) << QString() << true;
        QTest::newRow("redirect") << S::status(301) << QString() << true;
        S::Reply huge = S::ok(QByteArray(2 * 1024 * 1024, '9'));
        QTest::newRow("huge, declared") << huge << QString() << true;
        huge.declareLength = false;
        QTest::newRow("huge, undeclared") << huge << QString() << true;
        S::Reply late = S::ok("8.0");
        late.delayMs = 100;
        QTest::newRow("late but in time") << late << "8.0" << false;
        QTest::newRow("silent: times out") << S::silent() << QString() << true; // waits 300 ms
    }

    void serverAnswers()
    {
        QFETCH(ScriptedHttpServer::Reply, reply);
        QFETCH(QString, announced);
        QFETCH(bool, isError);

        ScriptedHttpServer server;
        QVERIFY(server.listen());
        server.enqueue(reply);
        Check check(server.url(QStringLiteral("/check.php")));
        check.updater.checkForUpdates(reply.neverAnswer ? 300 : 5000);
        QVERIFY(check.finished.isEmpty()); // signals come later

        QVERIFY(check.finished.wait(5000));
        QTest::qWait(20); // nothing more follows
        QCOMPARE(check.finished.size(), 1);
        // An answer without a length ends when the server closes the connection; Qt may send an
        // idempotent GET again when that close overtakes the answer on a loaded machine.
        if (reply.declareLength)
            QCOMPARE(server.requestCount(), 1);
        else
            QVERIFY(server.requestCount() >= 1);
        QCOMPARE(check.error.size(), isError ? 1 : 0);
        if (announced.isEmpty()) {
            QCOMPARE(check.newVersion.size(), 0);
        } else {
            QCOMPARE(check.newVersion.size(), 1);
            QCOMPARE(check.newVersion.at(0), QVariantList({ announced, kChangelog, kDownload }));
        }
    }

    void requestCarriesVersionAndCheckValues()
    {
        ScriptedHttpServer server;
        QVERIFY(server.listen());
        Check check(server.url(QStringLiteral("/check.php")));
        check.updater.checkForUpdates(5000);
        QVERIFY(check.finished.wait(5000));

        const QString seed = QStringLiteral("maplewood5oak");
        const QString mh = metrics::md5Hex(kDeviceId + seed);
        const QString h = metrics::md5Hex(QStringLiteral("17") + mh + seed);
        QCOMPARE(QString::fromLatin1(server.targets().at(0)),
            QStringLiteral("/check.php?ver=6.2.9&pid=17&mh=%1&h=%2").arg(mh, h));
        QCOMPARE(mh, metrics::deviceHash(kDeviceId)); // the same device hash the metrics send
    }

    void secondCheckStopsFirst()
    {
        ScriptedHttpServer server;
        QVERIFY(server.listen());
        server.enqueue(ScriptedHttpServer::silent());
        server.enqueue(ScriptedHttpServer::ok("9.1"));
        Check check(server.url());

        check.updater.checkForUpdates(5000);
        QVERIFY(server.waitForRequests(1));
        check.updater.checkForUpdates(5000);
        // The first check ended at once, without an error of the server and without a version.
        QCOMPARE(check.finished.size(), 1);
        QCOMPARE(check.error.size(), 0);

        QTRY_COMPARE(check.finished.size(), 2);
        QCOMPARE(server.requestCount(), 2);
        QCOMPARE(check.newVersion.size(), 1);
        QCOMPARE(check.newVersion.at(0).at(0).toString(), QStringLiteral("9.1"));
        QCOMPARE(check.error.size(), 0);
    }

    // No address: nothing is sent and no error; a local file is never read as the answer.
    void addressesThatAreNotAsked_data()
    {
        QTest::addColumn<QString>("address");
        QTest::addColumn<int>("errors");
        QTest::newRow("none") << QString() << 0;
        QTest::newRow("local file") << QStringLiteral("file:///etc/hostname") << 1;
    }

    void addressesThatAreNotAsked()
    {
        QFETCH(QString, address);
        QFETCH(int, errors);
        Check check(address);
        check.updater.checkForUpdates(5000);
        QVERIFY(check.finished.isEmpty());
        QVERIFY(check.finished.wait(1000));
        QCOMPARE(check.error.size(), errors);
        QCOMPARE(check.newVersion.size(), 0);
    }

    void pagesHandedOnMustBeWebPages()
    {
        ScriptedHttpServer server;
        QVERIFY(server.listen());
        server.setDefaultReply(ScriptedHttpServer::ok("10.0"));
        Check check(server.url(), QStringLiteral("javascript:alert(1)"), QStringLiteral("file:///bin/sh"));
        check.updater.checkForUpdates(5000);
        QVERIFY(check.finished.wait(5000));
        QCOMPARE(check.newVersion.size(), 1);
        QCOMPARE(check.newVersion.at(0), QVariantList({ QStringLiteral("10.0"), QString(), QString() }));
    }
};

QTEST_GUILESS_MAIN(TestUpdater)
#include "tst_updater.moc"
