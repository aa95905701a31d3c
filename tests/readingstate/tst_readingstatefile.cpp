// The per-book state file: what is written for text and image books, what reads back into the
// page look, and what damaged, truncated, oversized or wrong-typed files and unwritable folders
// turn into.

#include "bookpageparams.h"
#include "readingstatefile.h"
#include "temphome.h"
#include "testfiles.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QtTest>

#include <sys/stat.h>
#include <unistd.h>

namespace {

const QString kOriginalFont = QStringLiteral("Original font");
constexpr int kEpub = 0;
constexpr int kPdf = 3;
constexpr int kTxt = 8;

NoteItem makeNote(NoteItem::NoteColor color, int paragraph)
{
    NoteItem note;
    note.chapter = QStringLiteral("Text/chapter%1.xhtml").arg(paragraph);
    note.startPath = QStringLiteral("/html/body/p[%1]/text()[1]").arg(paragraph);
    note.endPath = QStringLiteral("/html/body/p[%1]/text()[1]").arg(paragraph + 1);
    note.startOffset = paragraph * 3;
    note.endOffset = paragraph * 5;
    note.context = QStringLiteral("marked text %1").arg(paragraph);
    note.note = paragraph % 2 ? QStringLiteral("comment with 'quotes' and </script>") : QString();
    note.date = QDateTime::fromMSecsSinceEpoch(1600000000000LL + paragraph * 60000);
    note.color = color;
    return note;
}

BookmarkItem makeBookmark(int paragraph)
{
    BookmarkItem bookmark;
    bookmark.link->source = QStringLiteral("Text/chapter1.xhtml?kelpath=%2Fhtml%2Fbody%2Fp%5B%1%5D").arg(paragraph);
    bookmark.title = QStringLiteral("Chapter One");
    bookmark.text = QStringLiteral("Call me Ishmael, paragraph %1").arg(paragraph);
    bookmark.date = paragraph == 1 ? QDateTime() : QDateTime::fromMSecsSinceEpoch(1650000000000LL + paragraph);
    return bookmark;
}

// A text book's state with every kind of content.
ReadingState fullState()
{
    ReadingState state;
    state.fontSize = 14;
    state.fontFamily = QStringLiteral("DejaVu Serif");
    state.lineSpacing = 150;
    state.encoding = QStringLiteral("windows-1251");
    state.readingSource = QStringLiteral("Text/chapter3.xhtml?kelpath=%2Fhtml%2Fbody%2Fdiv%5B2%5D");
    state.readingPage = 12;
    for (int color = NoteItem::NoColor; color <= NoteItem::Underline; ++color)
        state.notes.append(makeNote(NoteItem::NoteColor(color), color + 1));
    state.bookmarks = { makeBookmark(1), makeBookmark(2) };
    return state;
}

QJsonObject jsonOfFile(const QString& path) { return QJsonDocument::fromJson(testfiles::read(path)).object(); }

// A state that differs from anything a file read could give, to see that a refused file leaves
// it alone.
ReadingState sentinelState()
{
    ReadingState state;
    state.fontFamily = QStringLiteral("untouched");
    state.readingPage = 99;
    return state;
}

void verifyUntouched(const ReadingState& state)
{
    QCOMPARE(state.fontFamily, QStringLiteral("untouched"));
    QCOMPARE(state.readingPage, 99);
    QVERIFY(!state.fontSize);
}

} // namespace

class TestReadingStateFile : public QObject {
    Q_OBJECT

private slots:
    void init();
    void filePathIsNamedAfterTheFolder();
    void textBookRoundTrip();
    void imageBookPosition();
    void pageLookRoundTrip();
    void whatIsWritten_data();
    void whatIsWritten();
    void partialAndWrongTypedFiles_data();
    void partialAndWrongTypedFiles();
    void refusedFiles_data();
    void refusedFiles();
    void truncatedFile();
    void oversizedFile();
    void notARegularFile();
    void unwritableFolder();
    void saveReplacesADamagedFile();

private:
    std::unique_ptr<TempHome> m_home;
    QString m_folder;
    QString m_path;
};

void TestReadingStateFile::init()
{
    m_home = std::make_unique<TempHome>();
    QVERIFY(m_home->isValid());
    m_folder = m_home->filePath(QStringLiteral(".pageloom/books/0123456789abcdef0123456789abcdef"));
    QVERIFY(QDir().mkpath(m_folder));
    m_path = ReadingStateFile::filePath(m_folder);
}

void TestReadingStateFile::filePathIsNamedAfterTheFolder()
{
    QCOMPARE(m_path, m_folder + QStringLiteral("/0123456789abcdef0123456789abcdef.settings"));
    QCOMPARE(
        ReadingStateFile::filePath(QStringLiteral("/data/books/abc/")), QStringLiteral("/data/books/abc/abc.settings"));
    QVERIFY(ReadingStateFile::filePath(QString()).isEmpty());
    // Without the application's settings the book's own fonts are the default.
    QCOMPARE(ReadingStateFile::defaultFontFamily(), kOriginalFont);
}

void TestReadingStateFile::textBookRoundTrip()
{
    const ReadingState written = fullState();
    QVERIFY(ReadingStateFile::write(m_path, written, kTxt));

    const QJsonObject root = jsonOfFile(m_path);
    QCOMPARE(root.keys(), QStringList({ "Bookmarks", "FontSettings", "Notes", "ReadingPosition", "Version" }));
    QCOMPARE(root.value("Version").toInt(), 1);
    QCOMPARE(root.value("FontSettings").toObject(),
        QJsonObject({ { "Size", 14 }, { "FontFamily", "DejaVu Serif" }, { "LineSpacing", 150 },
            { "Encoding", "windows-1251" } }));
    // A text book keeps its place by source only.
    QCOMPARE(root.value("ReadingPosition").toObject(), QJsonObject({ { "Source", written.readingSource } }));
    QCOMPARE(root.value("Notes").toObject().value("Version").toInt(), 1);
    QCOMPARE(root.value("Notes").toObject().value("Items").toArray().size(), 7);
    QCOMPARE(root.value("Bookmarks").toObject().value("Items").toArray().size(), 2);

    ReadingState read = sentinelState();
    QVERIFY(ReadingStateFile::read(m_path, &read));
    QCOMPARE(read.fontSize, std::optional<int>(14));
    QCOMPARE(read.fontFamily, QStringLiteral("DejaVu Serif"));
    QCOMPARE(read.lineSpacing, std::optional<int>(150));
    QCOMPARE(read.encoding, QStringLiteral("windows-1251"));
    QCOMPARE(read.readingSource, written.readingSource);
    QCOMPARE(read.readingPage, -1);

    // Every field of every note and bookmark comes back.
    const auto fields = [](const ReadingState& state) {
        QList<QVariantList> items;
        for (const NoteItem& n : state.notes)
            items.append({ int(n.color), n.chapter, n.startPath, n.endPath, n.startOffset, n.endOffset, n.context,
                n.note, n.date });
        for (const BookmarkItem& b : state.bookmarks)
            items.append({ b.link->source, b.title, b.text, b.date });
        return items;
    };
    QCOMPARE(fields(read), fields(written));
    QCOMPARE(read.notes.size(), 7);
    for (const NoteItem& note : read.notes)
        QVERIFY(note.link->source.startsWith(note.chapter + QStringLiteral("?kelpath=")));
    QVERIFY(read.bookmarks.at(0).date.isNull());

    // No temporary file is left beside it.
    QCOMPARE(QDir(m_folder).entryList(QDir::Files | QDir::Hidden), QStringList(QFileInfo(m_path).fileName()));
}

void TestReadingStateFile::imageBookPosition()
{
    ReadingState written = ReadingStateFile::defaults(kOriginalFont);
    written.readingPage = 37;
    written.encoding = QStringLiteral("koi8-r");
    QVERIFY(ReadingStateFile::write(m_path, written, kPdf));
    const QJsonObject root = jsonOfFile(m_path);
    QCOMPARE(root.value("ReadingPosition").toObject(), QJsonObject({ { "Page", 37 } }));
    QVERIFY(!root.value("FontSettings").toObject().contains("Encoding"));

    ReadingState read;
    QVERIFY(ReadingStateFile::read(m_path, &read));
    QCOMPARE(read.readingPage, 37);
    QVERIFY(read.readingSource.isEmpty());
    QVERIFY(read.encoding.isEmpty());
    QVERIFY(read.notes.isEmpty() && read.bookmarks.isEmpty());
}

void TestReadingStateFile::pageLookRoundTrip()
{
    BookPageParams params;
    params.setFontSize(26);
    params.setFontFamily(QStringLiteral("DejaVu Sans"));
    params.setLineSpacing(175);
    ReadingState state;
    state.takeFontSettings(params);
    QVERIFY(ReadingStateFile::write(m_path, state, kEpub));

    BookPageParams reopened;
    ReadingState read;
    QVERIFY(ReadingStateFile::read(m_path, &read));
    read.applyFontSettings(&reopened);
    QCOMPARE(reopened.fontSize(), 26);
    QCOMPARE(reopened.fontFamily(), QStringLiteral("DejaVu Sans"));
    QCOMPARE(reopened.lineSpacing(), 175);

    // A size out of the page look's range is brought into it.
    QVERIFY(testfiles::write(m_path, R"({"FontSettings":{"Size":400,"FontFamily":"X"}})"));
    QVERIFY(ReadingStateFile::read(m_path, &read));
    read.applyFontSettings(&reopened);
    QCOMPARE(reopened.fontSize(), BookPageParams::kMaxFontSize);
    QCOMPARE(reopened.lineSpacing(), 175);
}

void TestReadingStateFile::whatIsWritten_data()
{
    QTest::addColumn<QString>("source");
    QTest::addColumn<int>("page");
    QTest::addColumn<QString>("encoding");
    QTest::addColumn<int>("format");
    QTest::addColumn<QStringList>("keys");
    QTest::addColumn<QJsonObject>("position");
    QTest::addColumn<bool>("hasEncoding");
    const QStringList fontOnly { "FontSettings", "Version" };
    const QStringList withPosition { "FontSettings", "ReadingPosition", "Version" };
    QTest::newRow("nothing yet") << QString() << -1 << QString() << kEpub << fontOnly << QJsonObject() << false;
    QTest::newRow("page 0 is no position") << QString() << 0 << QString() << kPdf << fontOnly << QJsonObject() << false;
    QTest::newRow("source and page: source only") << "c.html?kelpath=a" << 5 << QString() << kEpub << withPosition
                                                  << QJsonObject({ { "Source", "c.html?kelpath=a" } }) << false;
    QTest::newRow("encoding of a plain-text book")
        << QString() << 2 << "utf-16" << kTxt << withPosition << QJsonObject({ { "Page", 2 } }) << true;
    QTest::newRow("encoding of another format")
        << QString() << -1 << "utf-16" << kEpub << fontOnly << QJsonObject() << false;
}

void TestReadingStateFile::whatIsWritten()
{
    QFETCH(QString, source);
    QFETCH(int, page);
    QFETCH(QString, encoding);
    QFETCH(int, format);
    QFETCH(QStringList, keys);
    QFETCH(QJsonObject, position);
    QFETCH(bool, hasEncoding);
    ReadingState state = ReadingStateFile::defaults(kOriginalFont);
    state.readingSource = source;
    state.readingPage = page;
    state.encoding = encoding;
    const QJsonObject root = ReadingStateFile::toJson(state, format);
    // No notes or bookmarks: no empty lists either.
    QCOMPARE(root.keys(), keys);
    QCOMPARE(root.value("ReadingPosition").toObject(), position);
    QCOMPARE(root.value("FontSettings").toObject().contains("Encoding"), hasEncoding);
    QCOMPARE(root.value("FontSettings").toObject().value("Size").toInt(), 20);
    QCOMPARE(root.value("FontSettings").toObject().value("LineSpacing").toInt(), 110);
}

void TestReadingStateFile::partialAndWrongTypedFiles_data()
{
    QTest::addColumn<QByteArray>("json");
    QTest::addColumn<int>("size"); // 0: not given, the page keeps its own
    QTest::addColumn<int>("spacing"); // 0: not given
    QTest::addColumn<QString>("family");
    QTest::addColumn<QString>("encoding");
    QTest::addColumn<QString>("source");
    QTest::addColumn<int>("page");
    QTest::addColumn<int>("notes");
    QTest::addColumn<int>("bookmarks");
    QTest::addColumn<bool>("warns");

    const QByteArray note = QJsonDocument(makeNote(NoteItem::Red, 4).toJson()).toJson(QJsonDocument::Compact);
    const QByteArray bookmark = QJsonDocument(makeBookmark(3).toJson()).toJson(QJsonDocument::Compact);

    QTest::newRow("empty object: defaults")
        << QByteArray("{}") << 20 << 110 << kOriginalFont << QString() << QString() << -1 << 0 << 0 << false;
    QTest::newRow("size only") << QByteArray(R"({"FontSettings":{"Size":14}})") << 14 << 0 << kOriginalFont << QString()
                               << QString() << -1 << 0 << 0 << false;
    QTest::newRow("family and encoding") << QByteArray(R"({"FontSettings":{"FontFamily":"Serif","Encoding":"cp1251"}})")
                                         << 0 << 0 << "Serif"
                                         << "cp1251" << QString() << -1 << 0 << 0 << false;
    QTest::newRow("page 0") << QByteArray(R"({"ReadingPosition":{"Page":0}})") << 20 << 110 << kOriginalFont
                            << QString() << QString() << -1 << 0 << 0 << false;
    QTest::newRow("page and source") << QByteArray(R"({"ReadingPosition":{"Page":7,"Source":"a.html"}})") << 20 << 110
                                     << kOriginalFont << QString() << "a.html" << 7 << 0 << 0 << false;
    QTest::newRow("font settings a string") << QByteArray(R"({"FontSettings":"big"})") << 20 << 110 << kOriginalFont
                                            << QString() << QString() << -1 << 0 << 0 << true;
    QTest::newRow("size a string") << QByteArray(R"({"FontSettings":{"Size":"14","LineSpacing":1.5}})") << 20 << 110
                                   << kOriginalFont << QString() << QString() << -1 << 0 << 0 << true;
    QTest::newRow("size out of int range") << QByteArray(R"({"FontSettings":{"Size":1e300,"LineSpacing":-1e12}})") << 20
                                           << 110 << kOriginalFont << QString() << QString() << -1 << 0 << 0 << true;
    QTest::newRow("family a number") << QByteArray(R"({"FontSettings":{"FontFamily":5,"Encoding":[]}})") << 0 << 0
                                     << kOriginalFont << QString() << QString() << -1 << 0 << 0 << true;
    QTest::newRow("position an array") << QByteArray(R"({"ReadingPosition":["a.html"]})") << 20 << 110 << kOriginalFont
                                       << QString() << QString() << -1 << 0 << 0 << true;
    QTest::newRow("position of wrong types") << QByteArray(R"({"ReadingPosition":{"Source":3,"Page":"9"}})") << 20
                                             << 110 << kOriginalFont << QString() << QString() << -1 << 0 << 0 << true;
    QTest::newRow("notes an array") << QByteArray(R"({"Notes":[)" + note + "]}") << 20 << 110 << kOriginalFont
                                    << QString() << QString() << -1 << 0 << 0 << true;
    QTest::newRow("items an object") << QByteArray(R"({"Notes":{"Items":{}},"Bookmarks":{"Items":"x"}})") << 20 << 110
                                     << kOriginalFont << QString() << QString() << -1 << 0 << 0 << true;
    QTest::newRow("good and bad items") << QByteArray(R"({"Notes":{"Items":[)" + note + R"(,5,{},null,)" + note
        + R"(],"Version":"x"},)" + R"("Bookmarks":{"Items":[)" + bookmark + R"(,{"Source":1},[]]}})")
                                        << 20 << 110 << kOriginalFont << QString() << QString() << -1 << 2 << 1 << true;
    QJsonObject odd = makeNote(NoteItem::Blue, 5).toJson();
    odd.remove(QStringLiteral("EndOffset"));
    QTest::newRow("note without its end")
        << QByteArray(R"({"Notes":{"Items":[)" + note + "," + QJsonDocument(odd).toJson() + "]}}") << 20 << 110
        << kOriginalFont << QString() << QString() << -1 << 1 << 0 << true;
}

void TestReadingStateFile::partialAndWrongTypedFiles()
{
    QFETCH(QByteArray, json);
    QFETCH(int, size);
    QFETCH(int, spacing);
    QFETCH(QString, family);
    QFETCH(QString, encoding);
    QFETCH(QString, source);
    QFETCH(int, page);
    QFETCH(int, notes);
    QFETCH(int, bookmarks);
    QFETCH(bool, warns);
    QVERIFY(testfiles::write(m_path, json));
    if (warns)
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("^Book settings: ")));
    // Any further warning for the same file is fine; the first one must be there.
    ReadingState state = sentinelState();
    state.encoding = QStringLiteral("stale");
    QVERIFY(ReadingStateFile::read(m_path, &state));
    QCOMPARE(state.fontSize, size ? std::optional<int>(size) : std::nullopt);
    QCOMPARE(state.lineSpacing, spacing ? std::optional<int>(spacing) : std::nullopt);
    QCOMPARE(state.fontFamily, family);
    QCOMPARE(state.encoding, encoding);
    QCOMPARE(state.readingSource, source);
    QCOMPARE(state.readingPage, page);
    QCOMPARE(state.notes.size(), notes);
    QCOMPARE(state.bookmarks.size(), bookmarks);
    for (const NoteItem& item : state.notes)
        QCOMPARE(item.color, NoteItem::Red);

    // Saved again, entries that did not read, and lists in another form, are there unchanged.
    QVERIFY(ReadingStateFile::write(m_path, state, kEpub));
    const QJsonObject after = jsonOfFile(m_path);
    for (const QString& key : { QStringLiteral("Notes"), QStringLiteral("Bookmarks") }) {
        const QJsonValue list = QJsonDocument::fromJson(json).object().value(key);
        const QJsonValue items = list.toObject().value(QStringLiteral("Items"));
        const QJsonArray written = after.value(key).toObject().value(QStringLiteral("Items")).toArray();
        QVERIFY(items.isArray() ? written.size() == items.toArray().size() : after.value(key) == list);
        for (const QJsonValue& entry : items.toArray())
            QVERIFY2(written.contains(entry), qPrintable(key));
    }
}

void TestReadingStateFile::refusedFiles_data()
{
    QTest::addColumn<QByteArray>("data");
    QTest::newRow("empty file") << QByteArray();
    QTest::newRow("not JSON") << QByteArray("FontSettings = 20");
    QTest::newRow("unclosed object") << QByteArray(R"({"FontSettings":{"Size":14})");
    QTest::newRow("array") << QByteArray(R"([{"FontSettings":{}}])");
    QTest::newRow("null") << QByteArray("null");
    QTest::newRow("number") << QByteArray("42");
    QTest::newRow("binary") << QByteArray("\x00\xff\xfe{\x01}", 6);
    QTest::newRow("trailing garbage") << QByteArray(R"({"Version":1} {"Version":2})");
    QTest::newRow("bad UTF-8 in a string") << QByteArray("{\"FontSettings\":{\"FontFamily\":\"\xc3\x28\"}}");
    QTest::newRow("nested past any limit")
        << (QByteArray(R"({"Notes":)") + QByteArray(200000, '[') + QByteArray(200000, ']') + "}");
}

void TestReadingStateFile::refusedFiles()
{
    QFETCH(QByteArray, data);
    QVERIFY(testfiles::write(m_path, data));
    ReadingState state = sentinelState();
    QVERIFY(!ReadingStateFile::read(m_path, &state));
    verifyUntouched(state);
}

void TestReadingStateFile::truncatedFile()
{
    QVERIFY(ReadingStateFile::write(m_path, fullState(), kTxt));
    const QByteArray whole = testfiles::read(m_path);
    // Cut anywhere short of the closing brace (a crash while writing in place would do this).
    for (int length : { 1, 10, int(whole.size() / 3), int(whole.size() / 2), int(whole.size() - 3) }) {
        QVERIFY(testfiles::write(m_path, whole.left(length)));
        ReadingState state = sentinelState();
        QVERIFY2(!ReadingStateFile::read(m_path, &state), qPrintable(QString::number(length)));
        verifyUntouched(state);
    }
}

void TestReadingStateFile::oversizedFile()
{
    // Sparse: costs no disk space, and is refused before anything is read.
    QFile file(m_path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    QVERIFY(file.write("{\"FontSettings\":{}}") > 0);
    QVERIFY(file.resize(ReadingStateFile::kMaxFileSize + 1));
    file.close();
    // The padding would not parse either: only the log tells that the size refused it.
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("too large")));
    ReadingState state = sentinelState();
    QVERIFY(!ReadingStateFile::read(m_path, &state));
    verifyUntouched(state);
}

void TestReadingStateFile::notARegularFile()
{
    ReadingState state = sentinelState();
    // Missing: refused quietly, the caller falls back.
    QVERIFY(!ReadingStateFile::read(m_path, &state));
    QVERIFY(!ReadingStateFile::read(QString(), &state));

    // A folder or a pipe in the file's place: refused without blocking on the pipe.
    QVERIFY(QDir().mkdir(m_path));
    QVERIFY(!ReadingStateFile::read(m_path, &state));
    QVERIFY(QDir().rmdir(m_path));
    QCOMPARE(::mkfifo(QFile::encodeName(m_path).constData(), 0600), 0);
    QVERIFY(!ReadingStateFile::read(m_path, &state));
    verifyUntouched(state);
}

void TestReadingStateFile::unwritableFolder()
{
    const ReadingState state = fullState();
    // No path (a book context that never opened a book).
    QVERIFY(!ReadingStateFile::write(QString(), state, kEpub));

    // The book's folder was removed, or a file stands where the folder should be.
    const QString gone = ReadingStateFile::filePath(m_home->filePath(QStringLiteral("missing/abc")));
    QVERIFY(!ReadingStateFile::write(gone, state, kEpub));
    QVERIFY(testfiles::write(m_home->filePath(QStringLiteral("plainfile")), "x"));
    QVERIFY(!ReadingStateFile::write(m_home->filePath(QStringLiteral("plainfile/plainfile.settings")), state, kEpub));

    // A folder without write permission keeps the file it has. Permissions do not bind root.
    if (::geteuid() == 0)
        return;
    QVERIFY(ReadingStateFile::write(m_path, ReadingStateFile::defaults(kOriginalFont), kEpub));
    const QByteArray before = QJsonDocument(jsonOfFile(m_path)).toJson();
    QVERIFY(QFile::setPermissions(m_folder, QFile::ReadOwner | QFile::ExeOwner));
    const bool written = ReadingStateFile::write(m_path, state, kEpub);
    QFile::setPermissions(m_folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    QVERIFY(!written);
    QCOMPARE(QJsonDocument(jsonOfFile(m_path)).toJson(), before);
}

void TestReadingStateFile::saveReplacesADamagedFile()
{
    QVERIFY(testfiles::write(m_path, QByteArray(5000, '{')));
    ReadingState state;
    QVERIFY(!ReadingStateFile::read(m_path, &state));
    QVERIFY(ReadingStateFile::write(m_path, fullState(), kEpub));
    QVERIFY(ReadingStateFile::read(m_path, &state));
    QCOMPARE(state.notes.size(), 7);
    QVERIFY(state.encoding.isEmpty());
}

QTEST_GUILESS_MAIN(TestReadingStateFile)
#include "tst_readingstatefile.moc"
