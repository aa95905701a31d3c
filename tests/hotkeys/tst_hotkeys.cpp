#include "hotkeys.h"
#include "hotkeytesthelpers.h"

#include <QKeyEvent>
#include <QTest>

// Synthetic events: without a native key code the event's Qt key decides; with an X key
// code (as real X events carry) the physical key decides, whatever character it produced.
class TestHotkeys : public QObject {
    Q_OBJECT

private slots:
    void matches_data()
    {
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("modifiers");
        QTest::addColumn<int>("keyCode"); // X key code, 0 for none
        QTest::addColumn<QStringList>("expected");

        const int none = Qt::NoModifier;
        const int shift = Qt::ShiftModifier;
        const int ctrl = Qt::ControlModifier;
        const int keypad = Qt::KeypadModifier;
        auto row = [](const char* name, int key, int modifiers, int code, QStringList expected) {
            QTest::newRow(name) << key << modifiers << code << expected;
        };

        // Without a native key code.
        row("F7 serves two actions", Qt::Key_F7, none, 0, { "Tts_StartPause", "SelBook_Properties" });
        row("Keypad plus", Qt::Key_Plus, keypad, 0, { "Zoom_In" });
        row("Equal", Qt::Key_Equal, none, 0, { "Zoom_In" });
        row("Shift+) is Shift+0", Qt::Key_ParenRight, shift, 0, { "Zoom_Initial" });
        row("Ctrl+Shift+0", Qt::Key_0, ctrl | shift, 0, {});
        row("Shift+! is Shift+1", Qt::Key_Exclam, shift, 0, { "Zoom_FitPage" });
        row(") without Shift", Qt::Key_ParenRight, none, 0, {});
        row("no key", 0, none, 0, {});
        row("Alt+F7", Qt::Key_F7, Qt::AltModifier, 0, {});
        row("Ctrl+B with group switch", Qt::Key_B, ctrl | Qt::GroupSwitchModifier, 0, { "Sidebar_Bookmarks_Add" });

        // With an X key code the Qt key does not count (evdev codes: "0" is 19, "=" 21).
        row("code: Shift+0 on a layout where it types =", Qt::Key_Equal, shift, 19, { "Zoom_Initial" });
        row("code: keypad 1 with Num Lock", Qt::Key_1, keypad, 87, { "Sidebar_Toc_Show" });
        row("code: keypad 1 without Num Lock is End", Qt::Key_End, keypad, 87, { "Nav_ToEnd" });
        row("code: Ctrl+Z on an AZERTY W key", Qt::Key_Z, ctrl, 25, {});
        row("code: Ctrl+Cyrillic on the C key", 0x0441, ctrl, 54, { "SelText_Copy" });
        row("code: F7", Qt::Key_F7, none, 73, { "Tts_StartPause", "SelBook_Properties" });
        row("code: unmapped, falls back on the key", Qt::Key_MediaPlay, none, 250, { "Tts_StartPause" });
        row("code: beyond the table", Qt::Key_F1, none, 300, {});
    }

    void matches()
    {
        QFETCH(int, key);
        QFETCH(int, modifiers);
        QFETCH(int, keyCode);
        QFETCH(QStringList, expected);
        const QKeyEvent event(QEvent::KeyPress, key, Qt::KeyboardModifiers(modifiers), quint32(keyCode), 0, 0);
        QCOMPARE(matchedActions(event), expected);
    }

    void nullEventMatchesNothing() { QVERIFY(!Hotkeys::matches(nullptr, Hotkeys::Id::Show_HotkeysHint)); }
};

QTEST_MAIN(TestHotkeys)
#include "tst_hotkeys.moc"
