#include "hotkeys.h"
#include "hotkeytesthelpers.h"

#include <QKeyEvent>
#include <QMetaEnum>
#include <QTest>

// Synthetic events: without a native key code the event's Qt key decides; with an X key
// code (as real X events carry) the physical key decides, whatever character it produced.
class TestHotkeys : public QObject {
    Q_OBJECT

private slots:
    void tableShape()
    {
        const QMetaEnum ids = QMetaEnum::fromType<Hotkeys::Id>();
        QCOMPARE(ids.keyCount(), 31);
        for (int i = 0; i < ids.keyCount(); ++i)
            QVERIFY2(!Hotkeys::sequences(Hotkeys::Id(i)).isEmpty(), ids.key(i));
        QVERIFY(Hotkeys::sequences(Hotkeys::Id(31)).isEmpty());
        QVERIFY(Hotkeys::sequences(Hotkeys::Id(-1)).isEmpty());
        QVERIFY(Hotkeys::title(Hotkeys::Id(31)).isEmpty());
    }

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
        row("F1", Qt::Key_F1, none, 0, { "Show_HotkeysHint" });
        row("Left", Qt::Key_Left, none, 0, { "Nav_PrevPage" });
        row("Up", Qt::Key_Up, none, 0, { "Nav_PrevPage" });
        row("PageUp", Qt::Key_PageUp, none, 0, { "Nav_PrevPage" });
        row("Backspace", Qt::Key_Backspace, none, 0, { "Nav_PrevPage" });
        row("Right", Qt::Key_Right, none, 0, { "Nav_NextPage" });
        row("Down", Qt::Key_Down, none, 0, { "Nav_NextPage" });
        row("PageDown", Qt::Key_PageDown, none, 0, { "Nav_NextPage" });
        row("Space", Qt::Key_Space, none, 0, { "Nav_NextPage" });
        row("Home", Qt::Key_Home, none, 0, { "Nav_ToStart" });
        row("End", Qt::Key_End, none, 0, { "Nav_ToEnd" });
        row("F5", Qt::Key_F5, none, 0, { "Tts_PrevParagraph" });
        row("Media Previous", Qt::Key_MediaPrevious, none, 0, { "Tts_PrevParagraph" });
        row("F6", Qt::Key_F6, none, 0, { "Tts_NextParagraph" });
        row("Media Next", Qt::Key_MediaNext, none, 0, { "Tts_NextParagraph" });
        row("F7 serves two actions", Qt::Key_F7, none, 0, { "Tts_StartPause", "SelBook_Properties" });
        row("Media Play", Qt::Key_MediaPlay, none, 0, { "Tts_StartPause" });
        row("F8", Qt::Key_F8, none, 0, { "Tts_Stop" });
        row("Media Stop", Qt::Key_MediaStop, none, 0, { "Tts_Stop" });
        row("Ctrl+Down", Qt::Key_Down, ctrl, 0, { "Tts_DecreaseVolume" });
        row("Ctrl+Up", Qt::Key_Up, ctrl, 0, { "Tts_IncreaseVolume" });
        row("Ctrl+B", Qt::Key_B, ctrl, 0, { "Sidebar_Bookmarks_Add" });
        row("Ctrl+F", Qt::Key_F, ctrl, 0, { "Sidebar_Search_Show" });
        row("F3", Qt::Key_F3, none, 0, { "Sidebar_Search_Show" });
        row("Plus", Qt::Key_Plus, none, 0, { "Zoom_In" });
        row("Keypad plus", Qt::Key_Plus, keypad, 0, { "Zoom_In" });
        row("Equal", Qt::Key_Equal, none, 0, { "Zoom_In" });
        row("Minus", Qt::Key_Minus, none, 0, { "Zoom_Out" });
        row("Keypad minus", Qt::Key_Minus, keypad, 0, { "Zoom_Out" });
        row("Ctrl+0", Qt::Key_0, ctrl, 0, { "Zoom_Initial" });
        row("Shift+0", Qt::Key_0, shift, 0, { "Zoom_Initial" });
        row("Shift+) is Shift+0", Qt::Key_ParenRight, shift, 0, { "Zoom_Initial" });
        row("Ctrl+Shift+0", Qt::Key_0, ctrl | shift, 0, {});
        row("Ctrl+1", Qt::Key_1, ctrl, 0, { "Zoom_FitPage" });
        row("Shift+! is Shift+1", Qt::Key_Exclam, shift, 0, { "Zoom_FitPage" });
        row("Ctrl+2", Qt::Key_2, ctrl, 0, { "Zoom_FitWidth" });
        row("Shift+2", Qt::Key_2, shift, 0, { "Zoom_FitWidth" });
        row("1", Qt::Key_1, none, 0, { "Sidebar_Toc_Show" });
        row("Keypad 1", Qt::Key_1, keypad, 0, { "Sidebar_Toc_Show" });
        row("2", Qt::Key_2, none, 0, { "Sidebar_Notes_Show" });
        row("3", Qt::Key_3, none, 0, { "Sidebar_Bookmarks_Show" });
        row(") without Shift", Qt::Key_ParenRight, none, 0, {});
        row("Ctrl+C", Qt::Key_C, ctrl, 0, { "SelText_Copy" });
        row("Ctrl+Insert", Qt::Key_Insert, ctrl, 0, { "SelText_Copy" });
        row("Ctrl+T", Qt::Key_T, ctrl, 0, { "SelText_Translate" });
        row("Ctrl+N", Qt::Key_N, ctrl, 0, { "SelText_AddNote" });
        row("Delete serves two actions", Qt::Key_Delete, none, 0, { "SelText_RemoveNote", "SelBook_ToTrash" });
        row("F9", Qt::Key_F9, none, 0, { "Switch_Theme" });
        row("F10", Qt::Key_F10, none, 0, { "Switch_ColumnCount" });
        row("F11", Qt::Key_F11, none, 0, { "Switch_Fullscreen" });
        row("Return", Qt::Key_Return, none, 0, { "SelBook_Open" });
        row("Keypad Enter", Qt::Key_Enter, keypad, 0, { "SelBook_Open" });
        row("Shift alone", Qt::Key_Shift, shift, 0, {});
        row("Control alone", Qt::Key_Control, ctrl, 0, {});
        row("Alt alone", Qt::Key_Alt, Qt::AltModifier, 0, {});
        row("Meta alone", Qt::Key_Meta, Qt::MetaModifier, 0, {});
        row("unknown", Qt::Key_unknown, none, 0, {});
        row("no key", 0, none, 0, {});
        row("Alt+F7", Qt::Key_F7, Qt::AltModifier, 0, {});
        row("Ctrl+B with group switch", Qt::Key_B, ctrl | Qt::GroupSwitchModifier, 0, { "Sidebar_Bookmarks_Add" });

        // With an X key code the Qt key does not count (evdev codes: "0" is 19, "=" 21).
        row("code: Shift+0 typed as )", Qt::Key_ParenRight, shift, 19, { "Zoom_Initial" });
        row("code: Shift+0 on a layout where it types =", Qt::Key_Equal, shift, 19, { "Zoom_Initial" });
        row("code: Ctrl+Shift+0", Qt::Key_ParenRight, ctrl | shift, 19, {});
        row("code: main = key", Qt::Key_Equal, none, 21, { "Zoom_In" });
        row("code: keypad +", Qt::Key_Plus, keypad, 86, { "Zoom_In" });
        row("code: keypad 1 with Num Lock", Qt::Key_1, keypad, 87, { "Sidebar_Toc_Show" });
        row("code: keypad 1 without Num Lock is End", Qt::Key_End, keypad, 87, { "Nav_ToEnd" });
        row("code: keypad Enter", Qt::Key_Enter, keypad, 104, { "SelBook_Open" });
        row("code: Ctrl+Z on an AZERTY W key", Qt::Key_Z, ctrl, 25, {});
        row("code: Ctrl+B", Qt::Key_B, ctrl, 56, { "Sidebar_Bookmarks_Add" });
        row("code: Ctrl+Cyrillic on the C key", 0x0441, ctrl, 54, { "SelText_Copy" });
        row("code: left Shift", Qt::Key_Shift, shift, 50, {});
        row("code: right Control", Qt::Key_Control, ctrl, 105, {});
        row("code: Super", Qt::Key_Super_L, Qt::MetaModifier, 133, {});
        row("code: F7", Qt::Key_F7, none, 73, { "Tts_StartPause", "SelBook_Properties" });
        row("code: F11", Qt::Key_F11, none, 95, { "Switch_Fullscreen" });
        row("code: media play", Qt::Key_MediaTogglePlayPause, none, 172, { "Tts_StartPause" });
        row("code: Prior", Qt::Key_PageUp, none, 112, { "Nav_PrevPage" });
        row("code: Delete", Qt::Key_Delete, none, 119, { "SelText_RemoveNote", "SelBook_ToTrash" });
        row("code: unmapped, falls back on the key", Qt::Key_MediaPlay, none, 250, { "Tts_StartPause" });
        row("code: Caps Lock", Qt::Key_CapsLock, none, 66, {});
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

    void matchIsLogged()
    {
        const QKeyEvent event(QEvent::KeyPress, Qt::Key_F7, Qt::NoModifier);
        QTest::ignoreMessage(QtInfoMsg, "Tts_StartPause triggered (F7, Media Play)");
        QVERIFY(Hotkeys::matches(&event, Hotkeys::Id::Tts_StartPause));
    }
};

QTEST_MAIN(TestHotkeys)
#include "tst_hotkeys.moc"
