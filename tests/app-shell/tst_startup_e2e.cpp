// The real program under a real X server: start-up to the main window, the hand-over of a second
// start adding its books, files dropped from another program, a clean exit on SIGTERM and a crash
// report on SIGSEGV.

#include "librarybooks.h"
#include "programdriver.h"
#include "testfiles.h"

#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

using namespace programdriver;

class StartupE2ETest : public QObject {
    Q_OBJECT

    QTemporaryDir m_home;
    QProcessEnvironment m_env;

    QString allLogs() const { return logs(m_home.path()); }

    // One small EPUB per title in dir, named after it; the names of the files written.
    static QStringList writeBooks(const QTemporaryDir& dir, const QStringList& titles)
    {
        QStringList names;
        for (const QString& title : titles) {
            librarybooks::BookSpec book;
            book.title = title;
            if (librarybooks::write(dir.filePath(title + QStringLiteral(".epub")), book))
                names << title + QStringLiteral(".epub");
        }
        return names;
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

    // A second start with relative book paths hands them over and ends; files dragged from another
    // program by XDND, with the real pointer, are added; SIGTERM ends the program cleanly.
    void handOverDropAndExit()
    {
        QProcess first;
        const QString window = launch(first, m_env);
        QVERIFY2(!window.isEmpty(), "no main window appeared");
        QTemporaryDir books;
        const QStringList titles { QStringLiteral("Hand-over"), QStringLiteral("Hand-over Two") };
        const QStringList names = writeBooks(books, titles);
        QCOMPARE(names.size(), titles.size());
        QProcess second;
        QElapsedTimer elapsed;
        elapsed.start();
        QVERIFY(programdriver::start(second, m_env, names, books.path()));
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

        const QStringList dropped { QStringLiteral("Dropped One"), QStringLiteral("Dropped Two") };
        QStringList files;
        for (const QString& name : writeBooks(books, dropped))
            files << books.filePath(name);
        QCOMPARE(files.size(), dropped.size());
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

        QTRY_COMPARE_WITH_TIMEOUT(libraryTitles().filter(QStringLiteral("Dropped")), dropped, 15000);

        QVERIFY(terminate(first));
        const QString text = QString::fromUtf8(testfiles::read(settingsFile(m_home.path())));
        QVERIFY2(text.contains(QLatin1String("MainWindow_Geometry=")), qPrintable(text));
    }

    void crashLeavesReport()
    {
        QProcess process;
        QVERIFY(!launch(process, m_env).isEmpty());
        ::kill(pid_t(process.processId()), SIGSEGV);
        QVERIFY(process.waitForFinished(20000));
        QCOMPARE(process.exitStatus(), QProcess::CrashExit);
        QString report;
        QDirIterator it(m_home.filePath(QStringLiteral(".%1/log/crashes").arg(kAppName)),
            { QStringLiteral("crash.txt") }, QDir::Files, QDirIterator::Subdirectories);
        while (it.hasNext())
            report = QFileInfo(it.next()).absolutePath();
        QVERIFY2(!report.isEmpty(), "no crash report");
        const QStringList files = QDir(report).entryList(QDir::Files);
        QVERIFY2(files.contains(QStringLiteral("settings.ini")), qPrintable(files.join(' ')));
        QVERIFY2(!QDir(report).entryList({ QStringLiteral("pageloom*.txt") }, QDir::Files).isEmpty(),
            qPrintable(files.join(' ')));
        QVERIFY(testfiles::read(QDir(report).filePath(QStringLiteral("crash.txt"))).contains("SIGSEGV"));
    }
};

QTEST_MAIN(StartupE2ETest)
#include "tst_startup_e2e.moc"
