#include "hotkeys.h"
#include "hotkeytesthelpers.h"
#include "windowwaits.h"

#include <QGuiApplication>
#include <QProcess>
#include <QScopeGuard>
#include <QStandardPaths>
#include <QTest>
#include <QWidget>

// Real key presses through the X server (xdotool under Xvfb): the events carry X key codes
// and the characters the layout makes of them (Shift+0 arrives as ")").
namespace {

struct Press {
    int key = 0;
    quint32 keyCode = 0;
    QStringList actions;
};

class KeyRecorder : public QWidget {
public:
    QList<Press> presses;

protected:
    void keyPressEvent(QKeyEvent* event) override
    {
        presses.append({ event->key(), event->nativeScanCode(), matchedActions(*event) });
        event->accept();
    }
};

} // namespace

class TestHotkeysX11 : public QObject {
    Q_OBJECT

private:
    KeyRecorder* m_recorder = nullptr;
    QString m_xdotool;

private slots:
    void initTestCase()
    {
        if (QGuiApplication::platformName() != QLatin1String("xcb"))
            QSKIP("needs an X server");
        m_xdotool = QStandardPaths::findExecutable(QStringLiteral("xdotool"));
        if (m_xdotool.isEmpty())
            QSKIP("xdotool is not installed");
        m_recorder = new KeyRecorder;
        m_recorder->setGeometry(100, 100, 300, 200);
        m_recorder->setFocusPolicy(Qt::StrongFocus);
        m_recorder->show();
        m_recorder->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(m_recorder, windowwaits::kTimeoutMs));
        m_recorder->setFocus();
    }

    void cleanupTestCase() { delete m_recorder; }

    void realKeyPresses_data()
    {
        QTest::addColumn<QString>("keys"); // xdotool key names
        QTest::addColumn<int>("pressCount"); // key press events expected
        QTest::addColumn<QStringList>("expected");

        auto row = [](const char* keys, int presses, QStringList expected) {
            QTest::newRow(keys) << QString::fromLatin1(keys) << presses << expected;
        };
        row("shift+0", 2, { "Zoom_Initial" });
        row("KP_Add", 1, { "Zoom_In" });
        row("plus", 2, { "Zoom_In" }); // Shift+= on the US layout
        row("equal", 1, { "Zoom_In" });
        row("minus", 1, { "Zoom_Out" });
        row("F7", 1, { "Tts_StartPause", "SelBook_Properties" });
        row("ctrl+b", 2, { "Sidebar_Bookmarks_Add" });
        // Shift keeps these keys from turning pages: what they type does not change with it.
        row("shift+space", 2, {});
        row("shift+Right", 2, {});
        row("shift+Left", 2, {});
        row("shift+BackSpace", 2, {});
        row("shift+Next", 2, {});
    }

    void realKeyPresses()
    {
        QFETCH(QString, keys);
        QFETCH(int, pressCount);
        QFETCH(QStringList, expected);
        QCOMPARE(pressAndMatch(keys, pressCount), expected);
    }

    // On a German layout Shift+0 types "=", and xdotool reaches "=" through Shift and the
    // "0" key: both are the physical Shift+0.
    void otherLayoutKeepsPhysicalKeys()
    {
        const QString setxkbmap = QStandardPaths::findExecutable(QStringLiteral("setxkbmap"));
        if (setxkbmap.isEmpty())
            QSKIP("setxkbmap is not installed");
        QVERIFY(runTool(setxkbmap, { QStringLiteral("de") }));
        const auto restore = qScopeGuard([&] { runTool(setxkbmap, { QStringLiteral("us") }); });
        QTest::qWait(200); // the keyboard mapping change reaches the application asynchronously

        QCOMPARE(pressAndMatch(QStringLiteral("shift+0"), 2), QStringList({ QStringLiteral("Zoom_Initial") }));
        QCOMPARE(m_recorder->presses.last().key, int(Qt::Key_Equal));
        QCOMPARE(pressAndMatch(QStringLiteral("equal"), 2), QStringList({ QStringLiteral("Zoom_Initial") }));
        QCOMPARE(pressAndMatch(QStringLiteral("ctrl+b"), 2), QStringList({ QStringLiteral("Sidebar_Bookmarks_Add") }));
        // "+" has a key of its own there.
        QCOMPARE(pressAndMatch(QStringLiteral("plus"), 1), QStringList({ QStringLiteral("Zoom_In") }));
    }

private:
    static bool runTool(const QString& program, const QStringList& arguments)
    {
        QProcess process;
        process.start(program, arguments);
        return process.waitForFinished(10000) && process.exitStatus() == QProcess::NormalExit
            && process.exitCode() == 0;
    }

    // The actions that the keys' presses trigger, once exactly pressCount presses arrived.
    QStringList pressAndMatch(const QString& keys, int pressCount)
    {
        m_recorder->presses.clear();
        if (!runTool(m_xdotool, { QStringLiteral("key"), QStringLiteral("--delay"), QStringLiteral("20"), keys })) {
            qWarning() << "xdotool failed on" << keys;
            return { QStringLiteral("<xdotool failed>") };
        }
        QTest::qWaitFor([&] { return m_recorder->presses.size() >= pressCount; }, 5000);
        QTest::qWait(20); // nothing more may arrive
        if (m_recorder->presses.size() != pressCount)
            return { QStringLiteral("<%1 presses>").arg(m_recorder->presses.size()) };

        QStringList actions;
        for (const Press& press : qAsConst(m_recorder->presses)) {
            if (press.keyCode == 0)
                return { QStringLiteral("<press without X key code>") };
            actions += press.actions;
        }
        return actions;
    }
};

QTEST_MAIN(TestHotkeysX11)
#include "tst_hotkeys_x11.moc"
