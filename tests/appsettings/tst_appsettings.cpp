#include "../kelapp/kelapptest.h"
#include "appdirs.h"
#include "displayformats.h"
#include "dragdata.h"
#include "hotkeytesthelpers.h"
#include "kelapplication.h"
#include "settingsprovider.h"
#include "supportedextensions.h"
#include "temphome.h"
#include "testfiles.h"

#include <QDataStream>
#include <QDir>
#include <QFile>
#include <QLocale>
#include <QMetaMethod>
#include <QMimeData>
#include <QSignalSpy>
#include <QStandardItemModel>
#include <QTest>
#include <QUrl>

#include <functional>
#include <memory>

namespace {

// One key: where it is stored, its default, another value, and typed access.
struct KeyCase {
    const char* name;
    QString path; // group/key as stored in the file
    QVariant defaultValue;
    QVariant otherValue;
    std::function<QVariant(SettingsProvider&)> get;
    std::function<void(SettingsProvider&, const QVariant&)> set;
};

template <typename T, typename SetArg>
KeyCase keyCase(const char* name, const char* group, T (SettingsProvider::*getter)() const,
    void (SettingsProvider::*setter)(SetArg), const T& defaultValue, const T& otherValue)
{
    return { name, QLatin1String(group) + QLatin1String(name), QVariant::fromValue(defaultValue),
        QVariant::fromValue(otherValue), [getter](SettingsProvider& s) { return QVariant::fromValue((s.*getter)()); },
        [setter](SettingsProvider& s, const QVariant& v) { (s.*setter)(v.value<T>()); } };
}

// The signal named after the key, as QSignalSpy wants it.
QByteArray changeSignal(const char* key)
{
    const QMetaObject& meta = SettingsProvider::staticMetaObject;
    const QByteArray name = QByteArray(key) + "Changed";
    for (int i = 0; i < meta.methodCount(); ++i) {
        const QMetaMethod method = meta.method(i);
        if (method.methodType() == QMetaMethod::Signal && method.name() == name)
            return QByteArray::number(QSIGNAL_CODE) + method.methodSignature();
    }
    return QByteArray();
}

// A key's row: its type, name (also the getter's), setter, group, default and another value.
#define KEY(T, name, setter, group, defaultValue, otherValue)                                                          \
    keyCase<T>(#name, group, &SettingsProvider::name, &SettingsProvider::setter, defaultValue, otherValue)

// Keys that the pages' tests store and read back (last page, printer copies, speech rate) have no row.
const QList<KeyCase>& keyCases()
{
    static const QList<KeyCase> cases = {
        KEY(bool, showFirstStartWizard, setShowFirstStartWizard, "", true, false),
        KEY(Enums::BookCategory, library_category, setLibrary_category, "", Enums::AllBooks,
            Enums::BookCategory(Enums::MaxBookFormat + 5)),
        KEY(int, library_sort_column, setLibrary_sort_column, "", 2, 5),
        KEY(Qt::SortOrder, library_sort_order, setLibrary_sort_order, "", Qt::DescendingOrder, Qt::AscendingOrder),
        KEY(Enums::LibraryViewMode, library_view_mode, setLibrary_view_mode, "", Enums::View_Cards, Enums::View_Table),
        KEY(int, column_count, setColumn_count, "viewer.text/", 2, 1),
        KEY(QString, font_family, setFont_family, "viewer.text/", QStringLiteral("Original font"),
            QStringLiteral("DejaVu Serif")),
        KEY(int, text_alignment, setText_alignment, "viewer.text/", int(Enums::JustifyTextAlign),
            int(Enums::LeftTextAlign)),
        KEY(QString, import_folder, setImport_folder, "", importDir(), QStringLiteral("/srv/books")),
        KEY(int, last_book_id, setLast_book_id, "", -1, 42),
        KEY(QString, printer_name, setPrinter_name, "", QString(), QStringLiteral("Office")),
        KEY(QPageSize::PageSizeId, printer_page_size, setPrinter_page_size, "", QPageSize::A4, QPageSize::Letter),
        KEY(QPrinter::Orientation, printer_orientation, setPrinter_orientation, "", QPrinter::Portrait,
            QPrinter::Landscape),
        KEY(QPrinter::PrinterMode, printer_mode, setPrinter_mode, "", QPrinter::HighResolution,
            QPrinter::ScreenResolution),
        KEY(QString, ttsLocaleName, setTtsLocaleName, "", QLocale::system().name(), QStringLiteral("de_DE")),
        KEY(LocaleVoiceMap, ttsLocaleVoiceMap, setTtsLocaleVoiceMap, "", LocaleVoiceMap(),
            LocaleVoiceMap({ { "de_DE", "Anna" }, { "en_GB", "Daniel" } })),
        KEY(double, ttsVolume, setTtsVolume, "", 1.0, 0.5),
        KEY(double, ttsPitch, setTtsPitch, "", 0.0, -0.3),
        KEY(QString, updateCheckerShowedVersion, setUpdateCheckerShowedVersion, "", QString(), QStringLiteral("6.3.0")),
    };
    return cases;
}

constexpr int kBookIdRole = Qt::UserRole + 1;

QByteArray idPayload(qint32 count, const QList<qint32>& ids)
{
    QByteArray payload;
    QDataStream out(&payload, QIODevice::WriteOnly);
    out << count;
    for (qint32 id : ids)
        out << id;
    return payload;
}

std::unique_ptr<QMimeData> mimeWith(const QString& type, const QByteArray& data)
{
    auto mime = std::make_unique<QMimeData>();
    mime->setData(type, data);
    return mime;
}

std::unique_ptr<QMimeData> uriList(const QList<QUrl>& urls)
{
    auto mime = std::make_unique<QMimeData>();
    mime->setUrls(urls);
    return mime;
}

} // namespace

class TestAppSettings : public QObject {
    Q_OBJECT

    QString m_file;

    std::unique_ptr<SettingsProvider> open()
    {
        return std::make_unique<SettingsProvider>(m_file, QSettings::IniFormat);
    }

    // Writes straight into the file, as an earlier run or a user would have left it.
    void store(const QString& path, const QVariant& value)
    {
        QSettings raw(m_file, QSettings::IniFormat);
        raw.setValue(path, value);
    }

private slots:
    void init()
    {
        static int counter = 0;
        m_file = KelApplication::configFilePath(QStringLiteral("settings-%1.ini").arg(++counter));
    }

    void keys_data()
    {
        QTest::addColumn<int>("index");
        for (int i = 0; i < keyCases().size(); ++i)
            QTest::newRow(keyCases().at(i).name) << i;
    }

    // Default, signal only on change, stored place, persistence: the same for every key.
    void keys()
    {
        QFETCH(int, index);
        const KeyCase& key = keyCases().at(index);
        auto settings = open();
        QCOMPARE(key.get(*settings), key.defaultValue);

        QSignalSpy spy(settings.get(), changeSignal(key.name).constData());
        QVERIFY(spy.isValid());
        key.set(*settings, key.defaultValue);
        QCOMPARE(spy.count(), 0);

        key.set(*settings, key.otherValue);
        QCOMPARE(spy.count(), 1);
        QCOMPARE(spy.first().first(), key.otherValue);
        QCOMPARE(key.get(*settings), key.otherValue);
        QVERIFY(QSettings(m_file, QSettings::IniFormat).contains(key.path));

        // An equal value made anew (an equal map is another object) changes nothing.
        key.set(*settings, QVariant(key.otherValue));
        QCOMPARE(spy.count(), 1);

        settings.reset();
        settings = open();
        QCOMPARE(key.get(*settings), key.otherValue);

        key.set(*settings, key.defaultValue);
        settings.reset();
        QCOMPARE(key.get(*open()), key.defaultValue);
    }

    void fileLayout()
    {
        auto settings = open();
        settings->setColumn_count(1);
        settings->setLibrary_view_mode(Enums::View_Table);
        settings->setTtsLocaleVoiceMap({ { QStringLiteral("de_DE"), QStringLiteral("Anna") } });
        settings->setLibrary_sort_order(Qt::AscendingOrder);
        settings->sync();

        QFile file(m_file);
        QVERIFY(file.open(QIODevice::ReadOnly | QIODevice::Text));
        const QString text = QString::fromUtf8(file.readAll());
        QVERIFY2(text.contains(QStringLiteral("[viewer.text]\ncolumn_count=1\n")), qPrintable(text));
        QVERIFY2(text.contains(QStringLiteral("library_sort_order=0\n")), qPrintable(text));
        // Enums and the voice map keep their variant types in the file.
        QVERIFY2(text.contains(QStringLiteral("library_view_mode=@Variant(")), qPrintable(text));
        QVERIFY2(text.contains(QStringLiteral("ttsLocaleVoiceMap=\"@Variant(")), qPrintable(text));
        QVERIFY(m_file.startsWith(QDir::homePath() + QStringLiteral("/.config/")));
    }

    void unreadableValues()
    {
        store(QStringLiteral("viewer.text/column_count"), QStringLiteral("two"));
        store(QStringLiteral("last_book_id"), QStringLiteral("x"));
        store(QStringLiteral("ttsVolume"), QStringLiteral("loud"));
        store(QStringLiteral("printer_orientation"), 7);
        store(QStringLiteral("library_view_mode"), QStringLiteral("0"));
        store(QStringLiteral("library_sort_order"), -4);
        store(QStringLiteral("ttsLocaleVoiceMap"), QStringLiteral("not a map"));
        auto settings = open();
        // A text that is not a number reads as 0, not as the default.
        QCOMPARE(settings->column_count(), 0);
        QCOMPARE(settings->last_book_id(), 0);
        QCOMPARE(settings->ttsVolume(), 0.0);
        // Enum values that no version wrote give the default; plain numbers are accepted.
        QCOMPARE(settings->printer_orientation(), QPrinter::Portrait);
        QCOMPARE(settings->library_view_mode(), Enums::View_Table);
        QCOMPARE(settings->library_sort_order(), Qt::DescendingOrder);
        QVERIFY(settings->ttsLocaleVoiceMap().isEmpty());

        // A stored value equal to the default is still a value: replacing it stores and signals.
        QSignalSpy columns(settings.get(), &SettingsProvider::column_countChanged);
        settings->setColumn_count(2);
        QCOMPARE(columns.count(), 1);
    }

    void instanceIsTheApplicationsSettings()
    {
        KelApplication* app = KelApplication::instance();
        KelSettings toolkitOnly(m_file, QSettings::IniFormat);
        app->setSettings(&toolkitOnly);
        QVERIFY(!SettingsProvider::instance());

        auto settings = open();
        app->setSettings(settings.get());
        QCOMPARE(SettingsProvider::instance(), settings.get());
        settings.reset(); // held by a guarded pointer
        QVERIFY(!SettingsProvider::instance());
        app->setSettings(nullptr);
    }

    void foldersLiveUnderTheHiddenAppFolder()
    {
        TempHome home;
        QVERIFY(home.isValid());
        const QString root = home.path() + QStringLiteral("/.Brindle Folvane");
        const QString book = QStringLiteral("/books/Война и мир.epub");

        QCOMPARE(booksDir(), root + QStringLiteral("/books"));
        // Named by the MD5 of the path's UTF-8 bytes, not of its Latin-1 form.
        QCOMPARE(md5Hex(book), QStringLiteral("251e3764cc10b438ac438237c4c2e1ae"));
        QCOMPARE(bookDataDir(book), root + QStringLiteral("/books/") + md5Hex(book));
        QVERIFY(QDir(bookDataDir(book)).exists());
        QCOMPARE(databasePath(), root + QStringLiteral("/data/ebooklib.sqlite3"));
        QVERIFY(QDir(root + QStringLiteral("/data")).exists());
        QVERIFY(!QFile::exists(databasePath()));
        QCOMPARE(importDir(), root + QStringLiteral("/Import"));
        QVERIFY(QDir(importDir()).exists());
        QCOMPARE(coverFilePath(book), root + QStringLiteral("/covers/") + md5Hex(book) + QStringLiteral(".jpg"));
        QVERIFY(QDir(root + QStringLiteral("/covers")).exists());

        QCOMPARE(legacyBookDataDir(book), home.path() + QStringLiteral("/.folvane/books/") + md5Hex(book));
        QVERIFY(!QDir(legacyBookDataDir(book)).exists());
        QCOMPARE(legacyDatabasePath(), home.path() + QStringLiteral("/.folvane/data/ebooklib.sqlite3"));
    }

    // Filters ignore case, results are appended, and links looping back end the walk.
    void findFilesRecursively()
    {
        TempHome home;
        QDir root(home.path());
        for (const char* name : { "lib/one.epub", "lib/sub/two.FB2", "lib/sub/notes.doc" })
            QVERIFY(testfiles::write(root.filePath(name), QByteArray()));
        QVERIFY(QFile::link(root.filePath(QStringLiteral("lib")), root.filePath(QStringLiteral("lib/sub/up"))));
        QVERIFY(QFile::link(root.filePath(QStringLiteral("lib/sub")), root.filePath(QStringLiteral("lib/self"))));
        QStringList found { QStringLiteral("already-there") };
        ::findFilesRecursively(found, root.filePath(QStringLiteral("lib")), { "*.epub", "*.fb2" });
        QCOMPARE(found.takeFirst(), QStringLiteral("already-there"));
        for (QString& path : found)
            path = QFileInfo(path).canonicalFilePath(); // reached through a link or not
        found.sort();
        QCOMPARE(found,
            QStringList(
                { root.filePath(QStringLiteral("lib/one.epub")), root.filePath(QStringLiteral("lib/sub/two.FB2")) }));
    }

    void dates()
    {
        const QDateTime midnight(QDate::currentDate(), QTime(0, 0));
        QCOMPARE(formatDate(QDateTime()), QString());
        QCOMPARE(formatDate(midnight.addSecs(1)), QStringLiteral("Today"));
        QVERIFY(formatDate(midnight) != QStringLiteral("Today"));
        const QDateTime older(QDate(2001, 3, 4), QTime(9, 5));
        QCOMPARE(formatDate(older), older.toString(QStringLiteral("d MMM yyyy")));
        const QDate thisYear(QDate::currentDate().year(), 1, 1);
        if (QDateTime(thisYear, QTime(0, 0)) < midnight)
            QCOMPARE(formatDate(QDateTime(thisYear, QTime(12, 0))),
                QDateTime(thisYear, QTime(12, 0)).toString(QStringLiteral("d MMM")));
        QCOMPARE(formatDateTime(midnight.addSecs(9 * 3600 + 5 * 60)), QStringLiteral("Today, 09:05"));
        QCOMPARE(formatDateTime(older.addSecs(8 * 3600 + 25 * 60)), formatDate(older) + QStringLiteral(", 17:30"));
        QCOMPARE(formatDateTime(QDateTime()), QString());
    }

    void pagesAndSizes_data()
    {
        QTest::addColumn<qint64>("bytes");
        QTest::addColumn<QString>("text");
        QTest::newRow("below KB") << qint64(1023) << QStringLiteral("1023.0B");
        QTest::newRow("one KB") << qint64(1024) << QStringLiteral("1.0KB");
        QTest::newRow("GB") << qint64(5) * 1024 * 1024 * 1024 << QStringLiteral("5.0GB");
        QTest::newRow("past TB stays TB") << qint64(2048) * 1024 * 1024 * 1024 * 1024 << QStringLiteral("2048.0TB");
    }

    void pagesAndSizes()
    {
        QFETCH(qint64, bytes);
        QFETCH(QString, text);
        QCOMPARE(formatFileSize(bytes), text);
        QCOMPARE(formatPageNumber(0), QString());
        QCOMPARE(formatPageNumber(-3), QString());
        QCOMPARE(formatPageNumber(12), QStringLiteral("p.12"));
    }

    // Synthetic key events: without a native key code the Qt key decides; with an X key code (as real
    // X events carry) the physical key decides, whatever character it produced.
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
        row("Shift+= types +", Qt::Key_Plus, shift, 0, { "Zoom_In" });
        row("Minus", Qt::Key_Minus, none, 0, { "Zoom_Out" });
        row("Shift+- types _", Qt::Key_Underscore, shift, 0, {});
        row("Ctrl++", Qt::Key_Plus, ctrl | shift, 0, {});
        row("Shift+) is Shift+0", Qt::Key_ParenRight, shift, 0, { "Zoom_Initial" });
        row("Ctrl+Shift+0", Qt::Key_0, ctrl | shift, 0, {});
        row("Shift+! is Shift+1", Qt::Key_Exclam, shift, 0, { "Zoom_FitPage" });
        row(") without Shift", Qt::Key_ParenRight, none, 0, {});
        row("no key", 0, none, 0, {});
        row("Alt+F7", Qt::Key_F7, Qt::AltModifier, 0, {});
        row("Ctrl+B with group switch", Qt::Key_B, ctrl | Qt::GroupSwitchModifier, 0, { "Sidebar_Bookmarks_Add" });
        // Shift does not change what these keys type, so it keeps them from their bare actions.
        row("Shift+Space", Qt::Key_Space, shift, 0, {});
        row("Shift+Right", Qt::Key_Right, shift, 0, {});
        row("Shift+Backspace", Qt::Key_Backspace, shift, 0, {});

        // With an X key code the Qt key does not count (evdev codes: "0" is 19, "=" 21).
        row("code: Shift+0 on a layout where it types =", Qt::Key_Equal, shift, 19, { "Zoom_Initial" });
        row("code: Shift+= on the US layout types +", Qt::Key_Plus, shift, 21, { "Zoom_In" });
        row("code: the + key of the German layout", Qt::Key_Plus, none, 35, { "Zoom_In" });
        row("code: the - key of the German layout", Qt::Key_Minus, none, 61, { "Zoom_Out" });
        row("code: Shift+1 on a layout where it types 3", Qt::Key_3, shift, 10, { "Zoom_FitPage" });
        row("code: keypad 1 with Num Lock", Qt::Key_1, keypad, 87, { "Sidebar_Toc_Show" });
        row("code: keypad 1 without Num Lock is End", Qt::Key_End, keypad, 87, { "Nav_ToEnd" });
        row("code: Ctrl+Z on an AZERTY W key", Qt::Key_Z, ctrl, 25, {});
        row("code: Ctrl+Cyrillic on the C key", 0x0441, ctrl, 54, { "SelText_Copy" });
        row("code: unmapped, falls back on the key", Qt::Key_MediaPlay, none, 250, { "Tts_StartPause" });
        row("code: beyond the table", Qt::Key_F1, none, 300, {});
        row("code: Shift+Space", Qt::Key_Space, shift, 65, {});
        row("code: Shift+Left", Qt::Key_Left, shift, 113, {});
        row("code: Shift+Right", Qt::Key_Right, shift, 114, {});
        row("code: Shift+Backspace", Qt::Key_Backspace, shift, 22, {});
        row("code: Shift+PgDown", Qt::Key_PageDown, shift, 117, {});
        row("code: Shift+3 types 3 on AZERTY", Qt::Key_3, shift, 12, { "Sidebar_Bookmarks_Show" });
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

    void bookIdsRoundTrip()
    {
        QStandardItemModel model;
        const QList<QVariant> values = { 7, QVariant(), 3, 7, QStringLiteral("not a number"), -2 };
        for (const QVariant& value : values) {
            auto* item = new QStandardItem(QStringLiteral("book"));
            item->setData(value, kBookIdRole);
            model.appendRow(item);
        }
        QModelIndexList indexes;
        for (int row = 0; row < model.rowCount(); ++row)
            indexes.append(model.index(row, 0));

        std::unique_ptr<QMimeData> mime(bookIdsToMimeData(indexes));
        QVERIFY(mime);
        // The stored form is a big-endian count followed by the ids, as other builds read it.
        QCOMPARE(mime->data(bookIdsMimeType()), idPayload(4, { 7, 3, 7, -2 }));
        QCOMPARE(bookIdsFromMimeData(mime.get()), QList<int>({ 7, 3, 7, -2 }));
        QVERIFY(!bookIdsToMimeData({ model.index(1, 0) })); // no ids, no drag data
        QVERIFY(bookIdsFromMimeData(nullptr).isEmpty());
    }

    void bookIdsFromForeignDrops_data()
    {
        QTest::addColumn<QString>("type");
        QTest::addColumn<QByteArray>("payload");
        QTest::addColumn<QList<int>>("expected");

        const QString type = bookIdsMimeType();
        QTest::newRow("other type") << QStringLiteral("text/plain") << idPayload(1, { 5 }) << QList<int>();
        QTest::newRow("short count") << type << QByteArray("\0\0\1", 3) << QList<int>();
        QTest::newRow("negative count") << type << idPayload(-3, { 5, 6, 7 }) << QList<int>();
        QTest::newRow("fewer ids than counted") << type << idPayload(3, { 5, 6 }) << QList<int>({ 5, 6 });
        QTest::newRow("truncated id") << type << idPayload(2, { 5, 6 }).left(10) << QList<int>({ 5 });
        QTest::newRow("trailing bytes ignored") << type << idPayload(1, { 5, 6 }) << QList<int>({ 5 });
        QTest::newRow("maximum count, two ids") << type << idPayload(0x7fffffff, { 1, 2 }) << QList<int>({ 1, 2 });
    }

    void bookIdsFromForeignDrops()
    {
        QFETCH(QString, type);
        QFETCH(QByteArray, payload);
        QFETCH(QList<int>, expected);
        const auto mime = mimeWith(type, payload);
        // A reader that trusted the count would return the padding zeros it read past the end.
        QCOMPARE(bookIdsFromMimeData(mime.get()), expected);
    }

    void bookFilesFromDrops()
    {
        const QString root = QDir::home().filePath(QStringLiteral("drop"));
        for (const char* name :
            { "one.epub", "Two.PDF", "notes.doc", "lib/three.fb2", "lib/deeper/four.cbz", "lib/deeper/readme" })
            QVERIFY(testfiles::write(root + '/' + name, QByteArray()));
        // A link back up must not make the walk endless or list books twice.
        QVERIFY(QFile::link(root + "/lib", root + "/lib/deeper/loop"));
        const QStringList suffixes = supportedExtensions();

        // Files in drop order, other suffixes and missing or remote entries skipped.
        bool folderSeen = true;
        auto mime = uriList({ QUrl::fromLocalFile(root + "/Two.PDF"), QUrl::fromLocalFile(root + "/notes.doc"),
            QUrl::fromLocalFile(root + "/missing.epub"), QUrl(QStringLiteral("https://example.org/remote.epub")),
            QUrl::fromLocalFile(root + "/one.epub") });
        QCOMPARE(bookFilesFromMimeData(mime.get(), suffixes, true, &folderSeen),
            QStringList({ root + "/Two.PDF", root + "/one.epub" }));
        QVERIFY(!folderSeen);
        QVERIFY(bookFilesFromMimeData(nullptr, suffixes, true, &folderSeen).isEmpty());
        const auto text = mimeWith(QStringLiteral("text/plain"), "/tmp/book.epub"); // not a URI list
        QVERIFY(bookFilesFromMimeData(text.get(), suffixes, true, &folderSeen).isEmpty());

        // A folder without recursion adds nothing but is reported.
        mime = uriList({ QUrl::fromLocalFile(root + "/lib"), QUrl::fromLocalFile(root + "/one.epub") });
        QCOMPARE(bookFilesFromMimeData(mime.get(), suffixes, false, &folderSeen), QStringList({ root + "/one.epub" }));
        QVERIFY(folderSeen);

        // With recursion every book below it, once.
        folderSeen = false;
        mime = uriList({ QUrl::fromLocalFile(root + "/lib") });
        QStringList found = bookFilesFromMimeData(mime.get(), suffixes, true, &folderSeen);
        found.sort();
        QCOMPARE(found, QStringList({ root + "/lib/deeper/four.cbz", root + "/lib/three.fb2" }));
        QVERIFY(folderSeen);
    }
};

int main(int argc, char** argv)
{
    return runKelAppTest<KelApplication, TestAppSettings>(argc, argv, QStringLiteral("Brindle Folvane"));
}

#include "tst_appsettings.moc"
