#pragma once

#include <QKeySequence>
#include <QList>
#include <QObject>
#include <QString>

class QKeyEvent;

// The program's fixed keyboard actions: identifiers, display titles, key sequences and the
// test whether a key press triggers an action. Users cannot change the sequences.
class Hotkeys {
    Q_GADGET

public:
    enum class Id {
        Show_HotkeysHint = 0,
        Nav_PrevPage,
        Nav_NextPage,
        Nav_ToStart,
        Nav_ToEnd,
        Tts_PrevParagraph,
        Tts_NextParagraph,
        Tts_StartPause,
        Tts_Stop,
        Tts_DecreaseVolume,
        Tts_IncreaseVolume,
        Sidebar_Bookmarks_Add,
        Sidebar_Search_Show,
        Zoom_In,
        Zoom_Out,
        Zoom_Initial,
        Zoom_FitPage,
        Zoom_FitWidth,
        Sidebar_Toc_Show,
        Sidebar_Notes_Show,
        Sidebar_Bookmarks_Show,
        SelText_Copy,
        SelText_Translate,
        SelText_AddNote,
        SelText_RemoveNote,
        Switch_Theme,
        Switch_ColumnCount,
        Switch_Fullscreen,
        SelBook_Properties,
        SelBook_Open,
        SelBook_ToTrash,
    };
    Q_ENUM(Id)

    // The translated title (context "MainWindow_Settings_Hotkeys"), empty for actions the
    // hotkeys page does not list.
    static QString title(Id id);
    // The action's sequences, made anew on each call; empty for an unknown id.
    static QList<QKeySequence> sequences(Id id);
    // Whether the key press triggers the action. The physical key decides, not the typed
    // character, so the answer does not depend on the keyboard layout or on what Shift makes
    // of a key (Shift+0 is Shift+0, not ")"). A press whose physical key no action lists
    // matches by the symbol or digit it typed, Shift aside: "+" works however the keyboard
    // makes it, while Shift+Space and Shift with an arrow are not the bare keys.
    // Modifier keys alone never match.
    static bool matches(const QKeyEvent* event, Id id);

    // The key the press stands for in the sequences above (Qt::Key_unknown when none): taken
    // from the X key code when the event carries one, else from the event's Qt key.
    static int physicalKey(const QKeyEvent* event);
};
