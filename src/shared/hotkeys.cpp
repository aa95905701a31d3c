#include "hotkeys.h"

#include <QChar>
#include <QCoreApplication>
#include <QKeyEvent>
#include <QMetaEnum>
#include <QtDebug>
#include <QtGlobal>

#include <array>

namespace {

constexpr const char* kTitleContext = "MainWindow_Settings_Hotkeys";

struct HotkeyEntry {
    const char* title; // null: no title
    std::array<const char*, 4> sequences; // null-terminated when shorter
};

// Indexed by Hotkeys::Id. "F7" and "Del" serve two actions each; the page that asks decides
// which one it tests.
const HotkeyEntry kHotkeys[] = {
    { QT_TRANSLATE_NOOP("MainWindow_Settings_Hotkeys", "Show hotkeys"), { "F1" } },
    { QT_TRANSLATE_NOOP("MainWindow_Settings_Hotkeys", "Go to previous page"), { "Left", "Up", "PgUp", "Backspace" } },
    { QT_TRANSLATE_NOOP("MainWindow_Settings_Hotkeys", "Go to next page"), { "Right", "Down", "PgDown", "Space" } },
    { QT_TRANSLATE_NOOP("MainWindow_Settings_Hotkeys", "Go to book start"), { "Home" } },
    { QT_TRANSLATE_NOOP("MainWindow_Settings_Hotkeys", "Go to book end"), { "End" } },
    { nullptr, { "F5", "Media Previous" } },
    { nullptr, { "F6", "Media Next" } },
    { QT_TRANSLATE_NOOP("MainWindow_Settings_Hotkeys", "Start/pause reading aloud"), { "F7", "Media Play" } },
    { QT_TRANSLATE_NOOP("MainWindow_Settings_Hotkeys", "Stop reading aloud:"), { "F8", "Media Stop" } },
    { QT_TRANSLATE_NOOP("MainWindow_Settings_Hotkeys", "Decrease volume"), { "Ctrl+Down" } },
    { QT_TRANSLATE_NOOP("MainWindow_Settings_Hotkeys", "Increase volume"), { "Ctrl+Up" } },
    { QT_TRANSLATE_NOOP("MainWindow_Settings_Hotkeys", "Add bookmark"), { "Ctrl+B" } },
    { QT_TRANSLATE_NOOP("MainWindow_Settings_Hotkeys", "Search"), { "Ctrl+F", "F3" } },
    { QT_TRANSLATE_NOOP("MainWindow_Settings_Hotkeys", "Zoom in / increase font size"), { "+", "=" } },
    { QT_TRANSLATE_NOOP("MainWindow_Settings_Hotkeys", "Zoom out / decrease font size"), { "-" } },
    { QT_TRANSLATE_NOOP("MainWindow_Settings_Hotkeys", "Reset zoom to 100%"), { "Ctrl+0", "Shift+0" } },
    { QT_TRANSLATE_NOOP("MainWindow_Settings_Hotkeys", "Fit to page"), { "Ctrl+1", "Shift+1" } },
    { QT_TRANSLATE_NOOP("MainWindow_Settings_Hotkeys", "Fit to width"), { "Ctrl+2", "Shift+2" } },
    { QT_TRANSLATE_NOOP("MainWindow_Settings_Hotkeys", "Show Table of contents"), { "1" } },
    { QT_TRANSLATE_NOOP("MainWindow_Settings_Hotkeys", "Show notes list"), { "2" } },
    { QT_TRANSLATE_NOOP("MainWindow_Settings_Hotkeys", "Show bookmarks list"), { "3" } },
    { nullptr, { "Ctrl+C", "Ctrl+Ins" } },
    { nullptr, { "Ctrl+T" } },
    { nullptr, { "Ctrl+N" } },
    { nullptr, { "Del" } },
    { QT_TRANSLATE_NOOP("MainWindow_Settings_Hotkeys", "Switch theme"), { "F9" } },
    { QT_TRANSLATE_NOOP("MainWindow_Settings_Hotkeys", "Switch column count"), { "F10" } },
    { QT_TRANSLATE_NOOP("MainWindow_Settings_Hotkeys", "Switch fullscreen"), { "F11" } },
    { nullptr, { "F7" } },
    { nullptr, { "Return", "Num+Enter" } },
    { nullptr, { "Del" } },
};
constexpr int kHotkeyCount = int(sizeof(kHotkeys) / sizeof(kHotkeys[0]));
static_assert(kHotkeyCount == int(Hotkeys::Id::SelBook_ToTrash) + 1, "one entry per hotkey id");

const HotkeyEntry* entryOf(Hotkeys::Id id)
{
    const int index = int(id);
    return index >= 0 && index < kHotkeyCount ? &kHotkeys[index] : nullptr;
}

// Keys by X key code, for the evdev key codes of X servers on Linux (the kernel's input code
// plus 8). The mapping follows the physical key: the main "=" key counts as "+", the keypad
// digits as digits, the keypad Enter as Return.
constexpr int kKeyCodeTableSize = 256;

std::array<int, kKeyCodeTableSize> buildKeyCodeTable()
{
    std::array<int, kKeyCodeTableSize> table;
    table.fill(Qt::Key_unknown);
    auto set = [&table](int code, int key) { table[size_t(code)] = key; };
    auto setRow = [&set](int firstCode, const char* letters) {
        for (int i = 0; letters[i]; ++i)
            set(firstCode + i, Qt::Key_A + (letters[i] - 'A'));
    };

    set(9, Qt::Key_Escape);
    for (int i = 0; i < 9; ++i)
        set(10 + i, Qt::Key_1 + i);
    set(19, Qt::Key_0);
    set(20, Qt::Key_Minus);
    set(21, Qt::Key_Plus);
    set(22, Qt::Key_Backspace);
    set(23, Qt::Key_Tab);
    setRow(24, "QWERTYUIOP");
    set(34, Qt::Key_BracketLeft);
    set(35, Qt::Key_BracketRight);
    set(36, Qt::Key_Return);
    set(37, Qt::Key_Control);
    setRow(38, "ASDFGHJKL");
    set(47, Qt::Key_Colon);
    set(48, Qt::Key_QuoteDbl);
    set(49, Qt::Key_AsciiTilde);
    set(50, Qt::Key_Shift);
    set(51, Qt::Key_Backslash);
    setRow(52, "ZXCVBNM");
    set(59, Qt::Key_Comma);
    set(60, Qt::Key_Period);
    set(61, Qt::Key_Slash);
    set(62, Qt::Key_Shift);
    set(63, Qt::Key_Asterisk);
    set(64, Qt::Key_Alt);
    set(65, Qt::Key_Space);
    for (int i = 0; i < 10; ++i)
        set(67 + i, Qt::Key_F1 + i);

    // Keypad: 7 8 9 - / 4 5 6 + / 1 2 3 / 0 .
    const int keypad[] = { Qt::Key_7, Qt::Key_8, Qt::Key_9, Qt::Key_Minus, Qt::Key_4, Qt::Key_5, Qt::Key_6,
        Qt::Key_Plus, Qt::Key_1, Qt::Key_2, Qt::Key_3, Qt::Key_0, Qt::Key_Period };
    for (int i = 0; i < int(sizeof(keypad) / sizeof(keypad[0])); ++i)
        set(79 + i, keypad[i]);

    set(95, Qt::Key_F11);
    set(96, Qt::Key_F12);
    set(104, Qt::Key_Return); // keypad Enter
    set(105, Qt::Key_Control);
    set(106, Qt::Key_Slash); // keypad
    set(108, Qt::Key_Alt);
    set(110, Qt::Key_Home);
    set(111, Qt::Key_Up);
    set(112, Qt::Key_PageUp);
    set(113, Qt::Key_Left);
    set(114, Qt::Key_Right);
    set(115, Qt::Key_End);
    set(116, Qt::Key_Down);
    set(117, Qt::Key_PageDown);
    set(118, Qt::Key_Insert);
    set(119, Qt::Key_Delete);
    set(121, Qt::Key_VolumeMute);
    set(122, Qt::Key_VolumeDown);
    set(123, Qt::Key_VolumeUp);
    set(129, Qt::Key_Comma); // keypad separator
    set(133, Qt::Key_Super_L);
    set(134, Qt::Key_Super_R);
    set(171, Qt::Key_MediaNext);
    set(172, Qt::Key_MediaPlay); // play/pause
    set(173, Qt::Key_MediaPrevious);
    set(174, Qt::Key_MediaStop);
    set(208, Qt::Key_MediaPlay);
    for (int i = 0; i < 12; ++i)
        set(191 + i, Qt::Key_F13 + i);
    return table;
}

const std::array<int, kKeyCodeTableSize>& keyCodeTable()
{
    static const std::array<int, kKeyCodeTableSize> table = buildKeyCodeTable();
    return table;
}

bool isKeypadCode(quint32 code) { return code >= 79 && code <= 91; }

bool isNavigationKey(int key)
{
    switch (key) {
    case Qt::Key_Home:
    case Qt::Key_End:
    case Qt::Key_Left:
    case Qt::Key_Up:
    case Qt::Key_Right:
    case Qt::Key_Down:
    case Qt::Key_PageUp:
    case Qt::Key_PageDown:
    case Qt::Key_Insert:
    case Qt::Key_Delete:
    case Qt::Key_Clear:
        return true;
    default:
        return false;
    }
}

// What Shift makes of the digit and punctuation keys on the US layout, back to the key.
int unshiftedKey(int key)
{
    switch (key) {
    case Qt::Key_ParenRight:
        return Qt::Key_0;
    case Qt::Key_Exclam:
        return Qt::Key_1;
    case Qt::Key_At:
        return Qt::Key_2;
    case Qt::Key_NumberSign:
        return Qt::Key_3;
    case Qt::Key_Dollar:
        return Qt::Key_4;
    case Qt::Key_Percent:
        return Qt::Key_5;
    case Qt::Key_AsciiCircum:
        return Qt::Key_6;
    case Qt::Key_Ampersand:
        return Qt::Key_7;
    case Qt::Key_Asterisk:
        return Qt::Key_8;
    case Qt::Key_ParenLeft:
        return Qt::Key_9;
    case Qt::Key_Underscore:
        return Qt::Key_Minus;
    case Qt::Key_BraceLeft:
        return Qt::Key_BracketLeft;
    case Qt::Key_BraceRight:
        return Qt::Key_BracketRight;
    case Qt::Key_Bar:
        return Qt::Key_Backslash;
    case Qt::Key_Less:
        return Qt::Key_Comma;
    case Qt::Key_Greater:
        return Qt::Key_Period;
    case Qt::Key_Question:
        return Qt::Key_Slash;
    default:
        return key;
    }
}

// The event's Qt key brought to the table's terms, for events without a native key code
// (synthetic events) and for key codes the table does not know.
int normalisedQtKey(const QKeyEvent* event)
{
    int key = event->key();
    const Qt::KeyboardModifiers modifiers = event->modifiers();
    if ((modifiers & Qt::ShiftModifier) && !(modifiers & Qt::KeypadModifier))
        key = unshiftedKey(key);
    switch (key) {
    case Qt::Key_Equal:
        return Qt::Key_Plus;
    case Qt::Key_Enter:
        return Qt::Key_Return;
    case Qt::Key_Backtab:
        return Qt::Key_Tab;
    case Qt::Key_Semicolon:
        return Qt::Key_Colon;
    case Qt::Key_Apostrophe:
        return Qt::Key_QuoteDbl;
    case Qt::Key_QuoteLeft:
        return Qt::Key_AsciiTilde;
    case Qt::Key_AltGr:
        return Qt::Key_Alt;
    case 0:
        return Qt::Key_unknown;
    default:
        return key;
    }
}

bool isModifierOrUnknown(int key)
{
    switch (key) {
    case Qt::Key_Shift:
    case Qt::Key_Control:
    case Qt::Key_Meta:
    case Qt::Key_Alt:
    case Qt::Key_Super_L:
    case Qt::Key_Super_R:
    case Qt::Key_unknown:
        return true;
    default:
        return false;
    }
}

// Whether any action lists the sequence.
bool isListed(const QKeySequence& sequence)
{
    for (int id = 0; id < kHotkeyCount; ++id) {
        if (Hotkeys::sequences(Hotkeys::Id(id)).contains(sequence))
            return true;
    }
    return false;
}

// Whether the key is a character that Shift can make of another key: a symbol or a digit.
// Space, letters (Shift only changes their case) and the non-character keys (arrows,
// Backspace, Page keys) stay themselves with Shift, so Shift+Space is not Space.
bool isShiftableCharacter(int key)
{
    if (key <= Qt::Key_Space || key > 0x10FFFF) // the non-character keys start at Qt::Key_Escape
        return false;
    return !QChar::isLetter(uint(key));
}

// The key as the keyboard typed it, for a press whose physical key no action lists: "+" is
// Shift and "=" on some keyboards and a key of its own on others, and the keypad makes it too.
// Shift made the character, so it is not part of the key; with other modifiers the physical
// key alone decides.
QKeySequence typedKey(const QKeyEvent* event, int modifiers)
{
    const int key = event->key();
    if ((modifiers & ~Qt::ShiftModifier) != 0 || !isShiftableCharacter(key))
        return QKeySequence();
    return QKeySequence(key);
}

QString sequencesText(const QList<QKeySequence>& sequences)
{
    QStringList texts;
    for (const QKeySequence& sequence : sequences)
        texts.append(sequence.toString(QKeySequence::NativeText));
    return texts.join(QStringLiteral(", "));
}

} // namespace

QString Hotkeys::title(Id id)
{
    const HotkeyEntry* entry = entryOf(id);
    if (!entry || !entry->title)
        return QString();
    return QCoreApplication::translate(kTitleContext, entry->title);
}

QList<QKeySequence> Hotkeys::sequences(Id id)
{
    QList<QKeySequence> result;
    const HotkeyEntry* entry = entryOf(id);
    if (!entry)
        return result;
    for (const char* text : entry->sequences) {
        if (!text)
            break;
        result.append(QKeySequence(QString::fromLatin1(text), QKeySequence::NativeText));
    }
    return result;
}

int Hotkeys::physicalKey(const QKeyEvent* event)
{
    if (!event)
        return Qt::Key_unknown;
    // On X11 the native scan code is the X key code; synthetic events carry none.
    const quint32 code = event->nativeScanCode();
    if (code == 0)
        return normalisedQtKey(event);
    if (code >= quint32(kKeyCodeTableSize))
        return Qt::Key_unknown;
    const int key = keyCodeTable()[code];
    // Without Num Lock the keypad digits are navigation keys; the key code alone cannot tell.
    if (isKeypadCode(code) && isNavigationKey(event->key()))
        return event->key();
    if (key == Qt::Key_unknown)
        return normalisedQtKey(event);
    return key;
}

bool Hotkeys::matches(const QKeyEvent* event, Id id)
{
    const int key = physicalKey(event);
    if (isModifierOrUnknown(key))
        return false;
    // Keypad and group-switch states are not part of a hotkey.
    const int modifiers
        = int(event->modifiers() & ~(Qt::KeypadModifier | Qt::GroupSwitchModifier) & Qt::KeyboardModifierMask);
    const QKeySequence pressed(modifiers | key);
    const QList<QKeySequence> candidates = sequences(id);
    if (!candidates.contains(pressed)) {
        const QKeySequence typed = typedKey(event, modifiers);
        if (typed.isEmpty() || !candidates.contains(typed) || isListed(pressed))
            return false;
    }
    const char* name = QMetaEnum::fromType<Id>().valueToKey(int(id));
    qInfo().noquote() << QStringLiteral("%1 triggered (%2)").arg(QLatin1String(name), sequencesText(candidates));
    return true;
}
