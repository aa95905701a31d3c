// Bookmarks and notes as JSON: what is written, what reads back, and what a damaged or hostile
// item in the state file turns into.

#include "bookmarkitem.h"
#include "noteitem.h"

#include <QJsonDocument>
#include <QtTest>

namespace {

// Texts a state file may carry that must come back exactly as they were: quotes and backslashes
// that would end a script string, markup, line breaks and text outside the Basic Multilingual
// Plane.
const QString kHostileText = QStringLiteral("it's \"quoted\" \\ </script><b>bold</b>\n\u2028\U0001F4D6");

NoteItem sampleNote(NoteItem::NoteColor color)
{
    NoteItem note;
    note.chapter = QStringLiteral("OEBPS/chapter 2.xhtml");
    note.startPath = QStringLiteral("/html/body/p[3]/text()[1]");
    note.endPath = QStringLiteral("/html/body/p[4]/em/text()[1]");
    note.startOffset = 17;
    note.endOffset = 4;
    note.context = QStringLiteral("the marked words");
    note.note = QStringLiteral("a comment");
    note.date = QDateTime(QDate(2023, 5, 17), QTime(9, 30, 12, 345), Qt::UTC);
    note.color = color;
    note.title = QStringLiteral("Chapter Two");
    return note;
}

QJsonObject noteObject() { return sampleNote(NoteItem::Red).toJson(); }

} // namespace

class TestReadingItems : public QObject {
    Q_OBJECT

private slots:
    void bookmarkRoundTrip();
    void bookmarkWithoutDate();
    void bookmarkNeedsItsTexts_data();
    void bookmarkNeedsItsTexts();
    void noteRoundTripEveryColour_data();
    void noteRoundTripEveryColour();
    void noteWithoutDate();
    void noteColourFromStyleOrColour_data();
    void noteColourFromStyleOrColour();
    void damagedNotes_data();
    void damagedNotes();
    void hostileTextsStayData();
    void datesAndNumbersFromTheFile_data();
    void datesAndNumbersFromTheFile();
};

void TestReadingItems::bookmarkRoundTrip()
{
    BookmarkItem bookmark;
    bookmark.link->source = QStringLiteral("OEBPS/ch1.xhtml?kelpath=%2Fhtml%2Fbody%2Fp%5B2%5D");
    bookmark.link->page = 12;
    bookmark.title = QStringLiteral("Chapter One");
    bookmark.text = QStringLiteral("It was a bright cold day in April");
    bookmark.date = QDateTime(QDate(2022, 12, 31), QTime(23, 59, 58, 7), Qt::UTC);
    bookmark.flag = true;

    const QJsonObject object = bookmark.toJson();
    QCOMPARE(object.keys(),
        QStringList(
            { QStringLiteral("Date"), QStringLiteral("Source"), QStringLiteral("Text"), QStringLiteral("Title") }));
    QCOMPARE(object.value("Date").toString(), QString::number(bookmark.date.toMSecsSinceEpoch()));

    // Through the file's text form, as the state file stores it.
    const QJsonObject reread = QJsonDocument::fromJson(QJsonDocument(object).toJson()).object();
    bool ok = false;
    const BookmarkItem read = BookmarkItem::fromJson(reread, &ok);
    QVERIFY(ok);
    QCOMPARE(read.link->source, bookmark.link->source);
    QCOMPARE(read.title, bookmark.title);
    QCOMPARE(read.text, bookmark.text);
    QCOMPARE(read.date, bookmark.date);
    // Page, flag and id are not stored: the item read starts afresh.
    QCOMPARE(read.link->page, -1);
    QCOMPARE(read.flag, false);
    QCOMPARE(read.id.size(), 32);
    QVERIFY(read.id != bookmark.id);
    QVERIFY(read.link != bookmark.link);
}

void TestReadingItems::bookmarkWithoutDate()
{
    BookmarkItem bookmark;
    bookmark.link->source = QStringLiteral("ch.html?kelpath=x");
    QVERIFY(!bookmark.toJson().contains("Date"));
    bool ok = false;
    const BookmarkItem read = BookmarkItem::fromJson(bookmark.toJson(), &ok);
    QVERIFY(ok);
    QVERIFY(read.date.isNull());
}

void TestReadingItems::bookmarkNeedsItsTexts_data()
{
    QTest::addColumn<QString>("json");
    QTest::addColumn<bool>("ok");
    QTest::newRow("complete") << R"({"Source":"a","Title":"","Text":""})" << true;
    QTest::newRow("no source") << R"({"Title":"t","Text":"x"})" << false;
    QTest::newRow("no title") << R"({"Source":"a","Text":"x"})" << false;
    QTest::newRow("no text") << R"({"Source":"a","Title":"t"})" << false;
    QTest::newRow("number source") << R"({"Source":5,"Title":"t","Text":"x"})" << false;
    QTest::newRow("null text") << R"({"Source":"a","Title":"t","Text":null})" << false;
    QTest::newRow("array title") << R"({"Source":"a","Title":["t"],"Text":"x"})" << false;
    QTest::newRow("date of the wrong type") << R"({"Source":"a","Title":"t","Text":"x","Date":{}})" << true;
}

void TestReadingItems::bookmarkNeedsItsTexts()
{
    QFETCH(QString, json);
    QFETCH(bool, ok);
    bool read = !ok;
    const BookmarkItem bookmark = BookmarkItem::fromJson(QJsonDocument::fromJson(json.toUtf8()).object(), &read);
    QCOMPARE(read, ok);
    if (ok)
        QVERIFY(bookmark.date.isNull());
}

void TestReadingItems::noteRoundTripEveryColour_data()
{
    QTest::addColumn<int>("color");
    QTest::addColumn<QString>("style");
    QTest::addColumn<QString>("colorName");
    QTest::newRow("none") << 0 << QString() << "#000000";
    QTest::newRow("blue") << 1 << "blue"
                          << "#aed9f1";
    QTest::newRow("purple") << 2 << "purple"
                            << "#ccb8e4";
    QTest::newRow("red") << 3 << "red"
                         << "#f3a2a2";
    QTest::newRow("yellow") << 4 << "yellow"
                            << "#f3e3a2";
    QTest::newRow("green") << 5 << "green"
                           << "#b1f3a4";
    QTest::newRow("underline") << 6 << "underline"
                               << "#000000";
}

void TestReadingItems::noteRoundTripEveryColour()
{
    QFETCH(int, color);
    QFETCH(QString, style);
    QFETCH(QString, colorName);
    const NoteItem note = sampleNote(NoteItem::NoteColor(color));

    const QJsonObject object = note.toJson();
    QCOMPARE(object.keys(),
        QStringList({ "Chapter", "Color", "Context", "Date", "EndOffset", "EndPath", "Note", "StartOffset", "StartPath",
            "Style" }));
    QCOMPARE(object.value("Style").toString(), style);
    QCOMPARE(object.value("Color").toString(), colorName);
    QVERIFY(object.value("StartOffset").isDouble());
    QCOMPARE(object.value("Date").toString(), QStringLiteral("1684315812345"));

    bool ok = false;
    const NoteItem read = NoteItem::fromJson(QJsonDocument::fromJson(QJsonDocument(object).toJson()).object(), &ok);
    QVERIFY(ok);
    const auto fields = [](const NoteItem& n) {
        return QVariantList { int(n.color), n.chapter, n.startPath, n.endPath, n.startOffset, n.endOffset, n.context,
            n.note, n.date };
    };
    QCOMPARE(fields(read), fields(note));
    // The link points at the start of the marked text; title and page come later.
    QCOMPARE(read.link->source,
        QStringLiteral("OEBPS/chapter 2.xhtml?kelpath=%2Fhtml%2Fbody%2Fp%5B3%5D%2Ftext%28%29%5B1%5D&offset=17"));
    QCOMPARE(read.link->page, -1);
    QVERIFY(read.title.isEmpty());
    QVERIFY(read.id != note.id);
}

void TestReadingItems::noteWithoutDate()
{
    NoteItem note = sampleNote(NoteItem::Green);
    note.date = QDateTime();
    const QJsonObject object = note.toJson();
    QCOMPARE(object.value("Date").toString(), QStringLiteral("0"));
    bool ok = false;
    QVERIFY(NoteItem::fromJson(object, &ok).date.isNull());
    QVERIFY(ok);
}

void TestReadingItems::noteColourFromStyleOrColour_data()
{
    QTest::addColumn<QVariant>("style");
    QTest::addColumn<QVariant>("color");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<int>("expected");
    const QVariant absent;
    QTest::newRow("style ignores case") << QVariant("BLUE") << absent << true << 1;
    QTest::newRow("style wins over colour") << QVariant("Yellow") << QVariant("#aed9f1") << true << 4;
    QTest::newRow("unknown style") << QVariant("magenta") << QVariant("#aed9f1") << true << 0;
    QTest::newRow("empty style") << QVariant("") << absent << true << 0;
    QTest::newRow("underline style") << QVariant("underline") << absent << true << 6;
    QTest::newRow("colour alone") << absent << QVariant("#ccb8e4") << true << 2;
    QTest::newRow("colour compares exactly") << absent << QVariant("#AED9F1") << true << 0;
    QTest::newRow("transparent colour") << absent << QVariant("#000000") << true << 0;
    QTest::newRow("style not a string") << QVariant(3) << QVariant("#f3a2a2") << true << 3;
    QTest::newRow("colour not a string") << absent << QVariant(1) << false << 0;
    QTest::newRow("neither") << absent << absent << false << 0;
}

void TestReadingItems::noteColourFromStyleOrColour()
{
    QFETCH(QVariant, style);
    QFETCH(QVariant, color);
    QFETCH(bool, ok);
    QFETCH(int, expected);
    QJsonObject object = noteObject();
    object.remove("Style");
    object.remove("Color");
    if (style.isValid())
        object.insert("Style", QJsonValue::fromVariant(style));
    if (color.isValid())
        object.insert("Color", QJsonValue::fromVariant(color));
    bool read = !ok;
    const NoteItem note = NoteItem::fromJson(object, &read);
    QCOMPARE(read, ok);
    QCOMPARE(int(note.color), expected);
}

void TestReadingItems::damagedNotes_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<QJsonValue>("value"); // undefined: the key is removed
    QTest::addColumn<bool>("ok");
    const QJsonValue removed(QJsonValue::Undefined);
    QTest::newRow("no chapter") << "Chapter" << removed << false;
    QTest::newRow("chapter a number") << "Chapter" << QJsonValue(2) << false;
    QTest::newRow("no start path") << "StartPath" << removed << false;
    QTest::newRow("empty start path") << "StartPath" << QJsonValue("") << false;
    QTest::newRow("no end path") << "EndPath" << removed << false;
    QTest::newRow("empty end path") << "EndPath" << QJsonValue("") << false;
    QTest::newRow("end path an object") << "EndPath" << QJsonValue(QJsonObject()) << false;
    QTest::newRow("no start offset") << "StartOffset" << removed << false;
    QTest::newRow("no end offset") << "EndOffset" << removed << false;
    QTest::newRow("no context") << "Context" << removed << true;
    QTest::newRow("note a number") << "Note" << QJsonValue(7) << true;
    QTest::newRow("no date") << "Date" << removed << true;
    QTest::newRow("empty chapter") << "Chapter" << QJsonValue("") << true;
}

void TestReadingItems::damagedNotes()
{
    QFETCH(QString, key);
    QFETCH(QJsonValue, value);
    QFETCH(bool, ok);
    QJsonObject object = noteObject();
    if (value.isUndefined())
        object.remove(key);
    else
        object.insert(key, value);
    bool read = !ok;
    const NoteItem note = NoteItem::fromJson(object, &read);
    QCOMPARE(read, ok);
    if (ok && key == QLatin1String("Note"))
        QVERIFY(note.note.isEmpty());
}

void TestReadingItems::hostileTextsStayData()
{
    NoteItem note = sampleNote(NoteItem::Purple);
    note.chapter = kHostileText;
    note.startPath = kHostileText;
    note.endPath = kHostileText;
    note.context = kHostileText;
    note.note = kHostileText;
    bool ok = false;
    const NoteItem read
        = NoteItem::fromJson(QJsonDocument::fromJson(QJsonDocument(note.toJson()).toJson()).object(), &ok);
    QVERIFY(ok);
    QCOMPARE(QStringList({ read.chapter, read.startPath, read.context, read.note }),
        QVector<QString>(4, kHostileText).toList());
    // The start path in the link is percent-encoded, so the link holds no quote or markup.
    const QString query = read.link->source.mid(kHostileText.size());
    QVERIFY(query.startsWith(QStringLiteral("?kelpath=")));
    QVERIFY(!query.contains(QLatin1Char('\'')) && !query.contains(QLatin1Char('<')) && !query.contains('\n'));

    BookmarkItem bookmark;
    bookmark.link->source = kHostileText;
    bookmark.title = kHostileText;
    bookmark.text = kHostileText;
    const BookmarkItem readBookmark = BookmarkItem::fromJson(bookmark.toJson(), &ok);
    QVERIFY(ok);
    QCOMPARE(readBookmark.link->source, kHostileText);
    QCOMPARE(readBookmark.text, kHostileText);
}

void TestReadingItems::datesAndNumbersFromTheFile_data()
{
    QTest::addColumn<QJsonValue>("date");
    QTest::addColumn<qint64>("msecs"); // 0: a null date
    QTest::addColumn<QJsonValue>("offset");
    QTest::addColumn<int>("startOffset");
    QTest::newRow("plain") << QJsonValue("1684315812345") << qint64(1684315812345) << QJsonValue(5) << 5;
    QTest::newRow("date as a number") << QJsonValue(1684315812345.0) << qint64(1684315812345) << QJsonValue(-3) << -3;
    QTest::newRow("date not a number") << QJsonValue("yesterday") << qint64(0) << QJsonValue(2.5) << 0;
    QTest::newRow("date beyond any calendar")
        << QJsonValue("9223372036854775807") << qint64(0) << QJsonValue(1e300) << 0;
    QTest::newRow("date overflowing") << QJsonValue("99999999999999999999") << qint64(0) << QJsonValue(-1e10) << 0;
    QTest::newRow("offset as text") << QJsonValue("0") << qint64(0) << QJsonValue("12") << 0;
    QTest::newRow("largest offset") << QJsonValue(1e300) << qint64(0) << QJsonValue(2147483647.0) << 2147483647;
}

void TestReadingItems::datesAndNumbersFromTheFile()
{
    QFETCH(QJsonValue, date);
    QFETCH(qint64, msecs);
    QFETCH(QJsonValue, offset);
    QFETCH(int, startOffset);
    QJsonObject object = noteObject();
    object.insert("Date", date);
    object.insert("StartOffset", offset);
    bool ok = false;
    const NoteItem note = NoteItem::fromJson(object, &ok);
    QVERIFY(ok);
    QCOMPARE(note.startOffset, startOffset);
    QVERIFY(note.link->source.endsWith(QStringLiteral("&offset=%1").arg(startOffset)));
    if (msecs == 0)
        QVERIFY(note.date.isNull());
    else
        QCOMPARE(note.date.toMSecsSinceEpoch(), msecs);
}

QTEST_GUILESS_MAIN(TestReadingItems)
#include "tst_readingitems.moc"
