// The real program under a real X server: start-up to the main window, the hand-over of a second
// start adding its books, files dropped from another program, the theme hotkey, a clean exit on
// SIGTERM and a crash report on SIGSEGV.

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
#include <QSqlDatabase>
#include <QSqlQuery>
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

    // One small EPUB per title in dir, named prefix1.epub, prefix2.epub...; the paths written.
    static QStringList writeBooks(const QTemporaryDir& dir, const QString& prefix, const QStringList& titles)
    {
        QStringList paths;
        for (const QString& title : titles) {
            EpubBuilder epub;
            epub.setTitle(title);
            epub.addChapter(
                QStringLiteral("c1"), QStringLiteral("c1.xhtml"), QStringLiteral("One"), QStringLiteral("<p>Text</p>"));
            const QString path = dir.filePath(QStringLiteral("%1%2.epub").arg(prefix).arg(paths.size() + 1));
            if (epub.write(path))
                paths << path;
        }
        return paths;
    }

    // Titles of the books in the library database of the running program, sorted.
    QStringList libraryTitles() const
    {
        QStringList titles;
        for (const QVariantList& row :
            queryLibrary(m_home.path(), QStringLiteral("select title from books order by title")))
            titles << row.value(0).toString();
        return titles;
    }

    void start(QProcess& process, const QStringList& args = QStringList(), const QString& workDir = QString())
    {
        QVERIFY(programdriver::start(process, m_env, args, workDir));
    }

    QString waitForWindow(qint64 pid, const QString& name)
    {
        QElapsedTimer timer;
        timer.start();
        while (timer.elapsed() < 60000) {
            const QStringList ids = xdotool({ QStringLiteral("search"), QStringLiteral("--onlyvisible"),
                                                QStringLiteral("--pid"), QString::number(pid) })
                                        .split(QLatin1Char('\n'), Qt::SkipEmptyParts);
            for (const QString& id : ids) {
                if (xdotool({ QStringLiteral("getwindowname"), id }) == name)
                    return id;
            }
            QTest::qWait(200);
        }
        return QString();
    }

    // The window's frame on the screen, from "xdotool getwindowgeometry --shell".
    static QRect geometry(const QString& windowId)
    {
        QMap<QString, int> values;
        const QStringList lines
            = xdotool({ QStringLiteral("getwindowgeometry"), QStringLiteral("--shell"), windowId }).split('\n');
        for (const QString& line : lines)
            values.insert(line.section(QLatin1Char('='), 0, 0), line.section(QLatin1Char('='), 1).toInt());
        return QRect(values.value(QStringLiteral("X")), values.value(QStringLiteral("Y")),
            values.value(QStringLiteral("WIDTH")), values.value(QStringLiteral("HEIGHT")));
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

        // A second start with relative book paths hands them over and ends.
        QTemporaryDir books;
        const QStringList titles { QStringLiteral("Hand-over"), QStringLiteral("Hand-over Two") };
        QStringList names;
        for (const QString& path : writeBooks(books, QStringLiteral("handed"), titles))
            names << QFileInfo(path).fileName();
        QCOMPARE(names.size(), titles.size());
        QProcess second;
        QElapsedTimer elapsed;
        elapsed.start();
        start(second, names, books.path());
        QVERIFY(second.waitForFinished(10000));
        QVERIFY(elapsed.elapsed() < 10000);
        QCOMPARE(second.exitStatus(), QProcess::NormalExit);
        QCOMPARE(second.exitCode(), 0);
        QTRY_VERIFY(allLogs().contains(QLatin1String("Exit from application (already running)")));
        QTRY_VERIFY(allLogs().contains(books.filePath(names.first())));
        // Both books reach the running instance's library.
        QTRY_COMPARE_WITH_TIMEOUT(libraryTitles(), titles, 15000);
        // The running instance says so in a box, which has the focus; Escape closes it.
        QTest::qWait(1000);
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

    // Files dragged from another program by XDND, with the real pointer, are added.
    void dropFromAnotherProgram()
    {
        QProcess program;
        start(program);
        const QString window = waitForMainWindow(program.processId());
        QVERIFY2(!window.isEmpty(), "no main window appeared");
        QTemporaryDir books;
        const QStringList titles { QStringLiteral("Dropped One"), QStringLiteral("Dropped Two") };
        const QStringList files = writeBooks(books, QStringLiteral("dropped"), titles);
        QCOMPARE(files.size(), titles.size());
        QProcess source;
        source.setProcessEnvironment(m_env);
        source.start(QStringLiteral(PL_DRAG_SOURCE), files);
        QVERIFY2(source.waitForStarted(10000), qPrintable(source.errorString()));
        const QString sourceWindow = waitForWindow(source.processId(), QStringLiteral("Drag Source"));
        QVERIFY2(!sourceWindow.isEmpty(), "no drag source window");
        QTest::qWait(300);

        const QPoint from = geometry(sourceWindow).center();
        const QRect target = geometry(window);
        // The middle of the window's lower half: the book list, clear of the source window.
        const QPoint to(target.center().x(), target.top() + target.height() * 3 / 4);
        QVERIFY2(!geometry(sourceWindow).contains(to), "the source covers the drop point");
        const auto moveTo = [](const QPoint& at) {
            xdotool({ QStringLiteral("mousemove"), QString::number(at.x()), QString::number(at.y()) });
            QTest::qWait(50);
        };
        moveTo(from);
        xdotool({ QStringLiteral("mousedown"), QStringLiteral("1") });
        const int steps = 20;
        for (int i = 1; i <= steps; ++i)
            moveTo(from + (to - from) * i / steps);
        QTest::qWait(300);
        moveTo(to + QPoint(2, 2));
        xdotool({ QStringLiteral("mouseup"), QStringLiteral("1") });
        QVERIFY(source.waitForFinished(10000));
        QCOMPARE(source.exitCode(), 0); // the drop was taken as a copy

        const auto added = [&] {
            const QStringList stored = libraryTitles();
            return stored.contains(titles.first()) && stored.contains(titles.last());
        };
        QTRY_VERIFY_WITH_TIMEOUT(added(), 15000);
        ::kill(pid_t(program.processId()), SIGTERM);
        QVERIFY(program.waitForFinished(20000));
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
