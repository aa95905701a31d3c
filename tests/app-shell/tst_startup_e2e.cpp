// The real program under a real X server: start-up to the main window, the hand-over of a second
// start, the theme hotkey, a clean exit on SIGTERM and a crash report on SIGSEGV.

#include "epubbuilder.h"
#include "programdriver.h"

#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QImage>
#include <QPixmap>
#include <QProcess>
#include <QScreen>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

namespace {

using namespace programdriver;

// Mean brightness (0..255) and number of distinct colours of an image.
QPair<double, int> sample(const QImage& image)
{
    double sum = 0;
    int count = 0;
    QSet<QRgb> colours;
    for (int y = 0; y < image.height(); y += 4) {
        for (int x = 0; x < image.width(); x += 4) {
            const QRgb pixel = image.pixel(x, y);
            sum += qGray(pixel);
            ++count;
            colours.insert(pixel);
        }
    }
    return { count ? sum / count : 0, colours.size() };
}

} // namespace

class StartupE2ETest : public QObject {
    Q_OBJECT

    QTemporaryDir m_home;
    QProcessEnvironment m_env;

    QString logDir() const { return m_home.filePath(QStringLiteral(".%1/log").arg(kAppName)); }
    QString settingsPath() const
    {
        return m_home.filePath(QStringLiteral(".config/Brindle/%1/settings.ini").arg(kAppName));
    }

    QString allLogs() const { return logs(m_home.path()); }

    void start(QProcess& process, const QStringList& args = QStringList(), const QString& workDir = QString())
    {
        QVERIFY(programdriver::start(process, m_env, args, workDir));
    }

private slots:
    void initTestCase()
    {
        if (QGuiApplication::platformName() != QLatin1String("xcb"))
            QSKIP("needs an X server");
        QVERIFY(m_home.isValid());
        m_env = environment(m_home);
    }

    void runHandOverThemeAndExit()
    {
        QProcess first;
        start(first);
        const QString window = waitForMainWindow(first.processId());
        QVERIFY2(!window.isEmpty(), "no main window appeared");
        QTest::qWait(500);
        const QImage day = grab(window);
        const QString artifacts = QStringLiteral(PL_ARTIFACT_DIR);
        QDir().mkpath(artifacts);
        QVERIFY(day.save(QDir(artifacts).filePath(QStringLiteral("startup-main-window.png"))));
        const auto daySample = sample(day);
        QVERIFY2(daySample.second > 4, "the window is blank");
        QVERIFY2(daySample.first > 150, qPrintable(QStringLiteral("not a day look: %1").arg(daySample.first)));

        // A second start with a relative book path hands it over and ends.
        QTemporaryDir books;
        EpubBuilder epub;
        epub.setTitle(QStringLiteral("Hand-over"));
        epub.addChapter(
            QStringLiteral("c1"), QStringLiteral("c1.xhtml"), QStringLiteral("One"), QStringLiteral("<p>Text</p>"));
        QVERIFY(epub.write(books.filePath(QStringLiteral("handed.epub"))));
        QProcess second;
        QElapsedTimer elapsed;
        elapsed.start();
        start(second, { QStringLiteral("handed.epub") }, books.path());
        QVERIFY(second.waitForFinished(10000));
        QVERIFY(elapsed.elapsed() < 10000);
        QCOMPARE(second.exitStatus(), QProcess::NormalExit);
        QCOMPARE(second.exitCode(), 0);
        QTRY_VERIFY(allLogs().contains(QLatin1String("Exit from application (already running)")));
        QTRY_VERIFY(allLogs().contains(books.filePath(QStringLiteral("handed.epub"))));
        // The running instance adds the book and says so in a box, which has the focus; Escape
        // closes it.
        QTRY_VERIFY_WITH_TIMEOUT(allLogs().contains(QLatin1String("start import")), 10000);
        QTest::qWait(2000);
        xdotool({ QStringLiteral("key"), QStringLiteral("Escape") });
        QTest::qWait(500);

        xdotool({ QStringLiteral("windowfocus"), QStringLiteral("--sync"), window });
        // Through the X test extension: keys sent to a window directly carry no real key code.
        xdotool({ QStringLiteral("key"), QStringLiteral("F9") });
        QTRY_VERIFY_WITH_TIMEOUT(allLogs().contains(QLatin1String("Set current style: \"NightStyle\"")), 10000);
        QTest::qWait(300);
        const QImage night = grab(window);
        night.save(QDir(artifacts).filePath(QStringLiteral("startup-night.png")));
        QVERIFY2(sample(night).first < daySample.first - 40,
            qPrintable(QStringLiteral("night %1, day %2").arg(sample(night).first).arg(daySample.first)));

        ::kill(pid_t(first.processId()), SIGTERM);
        QVERIFY(first.waitForFinished(20000));
        QCOMPARE(first.exitStatus(), QProcess::NormalExit);
        QCOMPARE(first.exitCode(), 0);
        QFile settings(settingsPath());
        QVERIFY(settings.open(QIODevice::ReadOnly));
        const QString text = QString::fromUtf8(settings.readAll());
        QVERIFY2(text.contains(QLatin1String("lastStyleId=NightStyle")), qPrintable(text));
        QVERIFY(text.contains(QLatin1String("MainWindow_Geometry=")));
    }

    void crashLeavesReport()
    {
        QProcess process;
        start(process);
        QVERIFY(!waitForMainWindow(process.processId()).isEmpty());
        ::kill(pid_t(process.processId()), SIGSEGV);
        QVERIFY(process.waitForFinished(20000));
        QCOMPARE(process.exitStatus(), QProcess::CrashExit);
        QString report;
        QDirIterator it(QDir(logDir()).filePath(QStringLiteral("crashes")), { QStringLiteral("crash.txt") },
            QDir::Files, QDirIterator::Subdirectories);
        while (it.hasNext())
            report = QFileInfo(it.next()).absolutePath();
        QVERIFY2(!report.isEmpty(), "no crash report");
        const QStringList files = QDir(report).entryList(QDir::Files);
        QVERIFY2(files.contains(QStringLiteral("settings.ini")), qPrintable(files.join(' ')));
        QVERIFY2(!QDir(report).entryList({ QStringLiteral("pageloom*.txt") }, QDir::Files).isEmpty(),
            qPrintable(files.join(' ')));
        QFile crash(QDir(report).filePath(QStringLiteral("crash.txt")));
        QVERIFY(crash.open(QIODevice::ReadOnly));
        QVERIFY(crash.readAll().contains("SIGSEGV"));
    }
};

QTEST_MAIN(StartupE2ETest)
#include "tst_startup_e2e.moc"
