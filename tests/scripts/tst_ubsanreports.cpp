#include "testpaths.h"

#include <QDir>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

namespace {

// A sanitizer report as the logs hold it: the first line, a note, then the stack, one frame per
// location ("(module+0x1)" for a frame without one); "@ROOT@" stands for the project's folder.
QString report(const QString& where, const QStringList& frames)
{
    QString text = where
        + QStringLiteral(": runtime error: downcast of address 0x55d0 which does not point to an object of type 'B'\n"
                         "0x55d0: note: object is of type 'A'\n");
    for (int i = 0; i < frames.size(); ++i)
        text += QStringLiteral("    #%1 0x7f%2 in f%1() %3\n").arg(i).arg(i * 16 + 4096, 0, 16).arg(frames.at(i));
    return text + QLatin1Char('\n');
}

} // namespace

// scripts/ubsan fails on the reports scripts/ubsan-reports prints: each report with a project file
// anywhere in its stack, and no other.
class TestUbsanReports : public QObject {
    Q_OBJECT

private slots:
    void projectFrameAnywhere_data()
    {
        QTest::addColumn<QString>("log");
        QTest::addColumn<QStringList>("counted");
        const QString header = QStringLiteral("/usr/include/x86_64-linux-gnu/qt5/QtCore/qpointer.h:77:14");
        const QString system = QStringLiteral("(/lib/x86_64-linux-gnu/libQt5Core.so.5+0x2b14ba)");
        const QString glibc = QStringLiteral("../csu/libc-start.c:360");
        const QString kind = QStringLiteral("downcast of address 0x... which does not point to an object of type 'B'");
        QTest::newRow("starts in a Qt header, called from our code")
            << report(header,
                   { header.left(header.size() - 3), "../zadadidavidiv/src/widgets/kelslider.cpp:282", system, glibc })
            << QStringList {
                   QStringLiteral("1 %1: %2 (from ../zadadidavidiv/src/widgets/kelslider.cpp:282)").arg(header, kind)
               };
        QTest::newRow("our file on the first line, twice")
            << report("../src/ui/a.cpp:5:3", { "../src/ui/a.cpp:5" }).repeated(2)
            << QStringList { QStringLiteral("2 ../src/ui/a.cpp:5:3: %1").arg(kind) };
        QTest::newRow("our file by its full path")
            << report(header, { header.left(header.size() - 3), "@ROOT@/tests/x/tst_x.cpp:12" })
            << QStringList { QStringLiteral("1 %1: %2 (from @ROOT@/tests/x/tst_x.cpp:12)").arg(header, kind) };
        // glibc's relative paths and the project's binaries named without a file are not ours.
        QTest::newRow("wholly in the system") << report(
            header, { header.left(header.size() - 3), system, glibc, "(@ROOT@/build-ubsan/tests/tst_x+0x10)" })
                                              << QStringList();
        // The stack of the next report is not the first one's.
        QTest::newRow("a system report before ours")
            << report(header, { system }) + report(header, { "../tools/pagecounter/main.cpp:9" })
            << QStringList { QStringLiteral("1 %1: %2 (from ../tools/pagecounter/main.cpp:9)").arg(header, kind) };
    }

    void projectFrameAnywhere()
    {
        QFETCH(QString, log);
        QFETCH(QStringList, counted);
        const QString root = testpaths::sourceDir();
        QTemporaryDir logs;
        QVERIFY(logs.isValid());
        QFile file(logs.filePath(QStringLiteral("ubsan.123")));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(QString(log).replace(QStringLiteral("@ROOT@"), root).toUtf8());
        file.close();

        QProcess script;
        script.start(QStringLiteral("bash"),
            { root + QStringLiteral("/scripts/ubsan-reports"), root, file.fileName(),
                logs.filePath(QStringLiteral("ubsan.none")) });
        QVERIFY(script.waitForFinished(-1));
        QCOMPARE(script.exitCode(), 0);
        QStringList lines;
        for (const QString& line : QString::fromUtf8(script.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts))
            lines << line.trimmed();
        QCOMPARE(lines, QStringList(counted).replaceInStrings(QStringLiteral("@ROOT@"), root));
    }
};

QTEST_GUILESS_MAIN(TestUbsanReports)
#include "tst_ubsanreports.moc"
