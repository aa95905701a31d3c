// The reading state: bookmarks and notes as JSON, the per-book state file (what is written,
// what reads back, and what damaged, truncated, oversized, hostile or wrong-typed files and
// unwritable folders turn into), and the open book's item models under a model tester.

#include "displayformats.h"
#include "models/bookmarkmodel.h"
#include "models/booksearchmodel.h"
#include "models/notesmodel.h"
#include "models/notessortfiltermodel.h"
#include "models/tocmodel.h"
#include "readingstatefile.h"
#include "temphome.h"
#include "testfiles.h"

#include <QAbstractItemModelTester>
#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSignalSpy>
#include <QtTest>

#include <sys/stat.h>
#include <unistd.h>

namespace {

const QString kOriginalFont = QStringLiteral("Original font");
constexpr int kEpub = 0;
constexpr int kPdf = 3;
constexpr int kTxt = 8;
// Texts a state file may carry that must come back exactly as they were: quotes and backslashes
// that would end a script string, markup, line breaks and text outside the Basic Multilingual
// Plane.
const QString kHostileText = QStringLiteral("it's \"quoted\" \\ </script><b>bold</b>\n\u2028\U0001F4D6");

NoteItem makeNote(NoteItem::NoteColor color, int paragraph)
{
    NoteItem note;
    note.chapter = QStringLiteral("Text/chapter %1.xhtml").arg(paragraph);
    note.startPath = QStringLiteral("/html/body/p[%1]/text()[1]").arg(paragraph);
    note.endPath = QStringLiteral("/html/body/p[%1]/text()[1]").arg(paragraph + 1);
    note.startOffset = paragraph * 3;
    note.endOffset = paragraph * 5;
    note.context = QStringLiteral("marked text %1").arg(paragraph);
    note.note = paragraph % 2 ? QStringLiteral("comment %1").arg(paragraph) : QString();
    note.date = QDateTime::fromMSecsSinceEpoch(1600000000000LL + paragraph * 60000);
    note.color = color;
    note.link->source = note.chapter + QStringLiteral("?kelpath=x&offset=3");
    note.link->page = paragraph * 10;
    return note;
}

BookmarkItem makeBookmark(int paragraph)
{
    BookmarkItem bookmark;
    bookmark.link->source = QStringLiteral("Text/chapter1.xhtml?kelpath=%2Fhtml%2Fbody%2Fp%5B%1%5D").arg(paragraph);
    bookmark.link->page = paragraph;
    bookmark.title = QStringLiteral("Chapter %1").arg(paragraph);
    bookmark.text = QStringLiteral("Call me Ishmael, paragraph %1").arg(paragraph);
    bookmark.date = paragraph == 1 ? QDateTime() : QDateTime::fromMSecsSinceEpoch(1650000000000LL + paragraph);
    return bookmark;
}

// A text book's state with every kind of content: a note of each colour, one of hostile texts,
// a bookmark without a date and one of hostile texts.
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
    NoteItem hostile = makeNote(NoteItem::Purple, 9);
    hostile.chapter = hostile.startPath = hostile.endPath = hostile.context = hostile.note = kHostileText;
    state.notes.append(hostile);
    BookmarkItem hostileBookmark = makeBookmark(3);
    hostileBookmark.link->source = hostileBookmark.title = hostileBookmark.text = kHostileText;
    state.bookmarks = { makeBookmark(1), makeBookmark(2), hostileBookmark };
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

QStringList displayColumn(const QAbstractItemModel& model, int column, const QModelIndex& parent = QModelIndex())
{
    QStringList texts;
    for (int row = 0; row < model.rowCount(parent); ++row)
        texts.append(model.index(row, column, parent).data().toString());
    return texts;
}

TocPoint tocPoint(const QString& title, const QList<TocPoint>& children = {})
{
    TocPoint point;
    point.title = title;
    point.link = BookLinkPtr::create(QStringLiteral("Text/%1.xhtml").arg(title), -1);
    point.children = children;
    return point;
}

} // namespace

class TestReadingState : public QObject {
    Q_OBJECT

    std::unique_ptr<TempHome> m_home;
    QString m_folder;
    QString m_path;

private slots:
    void init()
    {
        m_home = std::make_unique<TempHome>();
        QVERIFY(m_home->isValid());
        m_folder = m_home->filePath(QStringLiteral(".pageloom/books/0123456789abcdef0123456789abcdef"));
        QVERIFY(QDir().mkpath(m_folder));
        m_path = ReadingStateFile::filePath(m_folder);
        QCOMPARE(m_path, m_folder + QStringLiteral("/0123456789abcdef0123456789abcdef.settings"));
    }

    void textBookRoundTrip()
    {
        const ReadingState written = fullState();
        QVERIFY(ReadingStateFile::write(m_path, written, kTxt));

        const QJsonObject root = jsonOfFile(m_path);
        QCOMPARE(root.keys(), QStringList({ "Bookmarks", "FontSettings", "Notes", "ReadingPosition", "Version" }));
        QCOMPARE(root.value("FontSettings").toObject(),
            QJsonObject({ { "Size", 14 }, { "FontFamily", "DejaVu Serif" }, { "LineSpacing", 150 },
                { "Encoding", "windows-1251" } }));
        // A text book keeps its place by source only.
        QCOMPARE(root.value("ReadingPosition").toObject(), QJsonObject({ { "Source", written.readingSource } }));
        // Each colour by its style and colour names, which earlier versions read.
        QStringList colours;
        for (const QJsonValue& item : root.value("Notes").toObject().value("Items").toArray())
            colours << item["Style"].toString() + QLatin1Char(' ') + item["Color"].toString();
        QCOMPARE(colours,
            QStringList({ " #000000", "blue #aed9f1", "purple #ccb8e4", "red #f3a2a2", "yellow #f3e3a2",
                "green #b1f3a4", "underline #000000", "purple #ccb8e4" }));
        QCOMPARE(root.value("Notes").toObject().value("Items").toArray().at(0)["Date"].toString(),
            QStringLiteral("1600000060000"));

        ReadingState read = sentinelState();
        QVERIFY(ReadingStateFile::read(m_path, &read));
        QCOMPARE(read.fontSize, std::optional<int>(14));
        QCOMPARE(read.fontFamily, QStringLiteral("DejaVu Serif"));
        QCOMPARE(read.lineSpacing, std::optional<int>(150));
        QCOMPARE(read.encoding, QStringLiteral("windows-1251"));
        QCOMPARE(read.readingSource, written.readingSource);
        QCOMPARE(read.readingPage, -1);

        // Every stored field of every note and bookmark comes back; pages are worked out afresh.
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
        QVERIFY(read.bookmarks.at(0).date.isNull());
        QCOMPARE(read.bookmarks.at(1).link->page, -1);
        // A note's link points at the start of the marked text, the path percent-encoded so that
        // the link holds no quote or markup.
        QCOMPARE(read.notes.at(0).link->source,
            QStringLiteral("Text/chapter 1.xhtml?kelpath=%2Fhtml%2Fbody%2Fp%5B1%5D%2Ftext%28%29%5B1%5D&offset=3"));
        QCOMPARE(read.notes.at(0).link->page, -1);
        const QString query = read.notes.last().link->source.mid(kHostileText.size());
        QVERIFY(query.startsWith(QStringLiteral("?kelpath=")));
        QVERIFY(!query.contains(QLatin1Char('\'')) && !query.contains(QLatin1Char('<')) && !query.contains('\n'));

        // Other formats keep no encoding, a page only from 1 on, and no empty lists.
        ReadingState image = ReadingStateFile::defaults(kOriginalFont);
        image.encoding = QStringLiteral("koi8-r");
        image.readingPage = 0;
        QCOMPARE(ReadingStateFile::toJson(image, kPdf).keys(), QStringList({ "FontSettings", "Version" }));
        image.readingPage = 37;
        const QJsonObject imageRoot = ReadingStateFile::toJson(image, kPdf);
        QCOMPARE(imageRoot.value("ReadingPosition").toObject(), QJsonObject({ { "Page", 37 } }));
        QVERIFY(!imageRoot.value("FontSettings").toObject().contains("Encoding"));

        // No temporary file is left beside it.
        QCOMPARE(QDir(m_folder).entryList(QDir::Files | QDir::Hidden), QStringList(QFileInfo(m_path).fileName()));
    }

    void bookmarkNeedsItsTexts_data();
    void bookmarkNeedsItsTexts()
    {
        QFETCH(QString, json);
        QFETCH(bool, ok);
        bool read = !ok;
        const BookmarkItem bookmark = BookmarkItem::fromJson(QJsonDocument::fromJson(json.toUtf8()).object(), &read);
        QCOMPARE(read, ok);
        QVERIFY(bookmark.date.isNull());
    }

    void noteFieldsFromTheFile_data();
    void noteFieldsFromTheFile()
    {
        QFETCH(QByteArray, changes);
        QFETCH(QString, result);
        QJsonObject object = makeNote(NoteItem::Red, 4).toJson();
        const QJsonObject changed = QJsonDocument::fromJson(changes).object();
        for (auto it = changed.begin(); it != changed.end(); ++it) {
            if (it.value() == QJsonValue(QStringLiteral("-")))
                object.remove(it.key());
            else
                object.insert(it.key(), it.value());
        }
        bool ok = false;
        const NoteItem note = NoteItem::fromJson(object, &ok);
        const qint64 date = note.date.isNull() ? 0 : note.date.toMSecsSinceEpoch();
        QCOMPARE(
            ok ? QStringLiteral("%1 %2 %3").arg(int(note.color)).arg(note.startOffset).arg(date) : "refused", result);
        if (ok) {
            QVERIFY(note.link->source.endsWith(QStringLiteral("&offset=%1").arg(note.startOffset)));
            QCOMPARE(note.note, changed.contains("Note") ? QString() : object["Note"].toString());
        }
    }

    void partialAndWrongTypedFiles_data();
    void partialAndWrongTypedFiles()
    {
        QFETCH(QByteArray, json);
        QFETCH(QString, result);
        QVERIFY(testfiles::write(m_path, json));
        if (result.startsWith(QLatin1Char('!')))
            QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("^Book settings: ")));
        // Any further warning for the same file is fine; the first one must be there.
        ReadingState state = sentinelState();
        state.encoding = QStringLiteral("stale");
        QVERIFY(ReadingStateFile::read(m_path, &state));
        const auto text = [](const QString& value) { return value.isEmpty() ? QStringLiteral("-") : value; };
        QCOMPARE(QStringLiteral("%1 %2 %3 %4 %5 %6 %7 %8")
                     .arg(state.fontSize.value_or(0))
                     .arg(state.lineSpacing.value_or(0))
                     .arg(text(state.fontFamily), text(state.encoding), text(state.readingSource))
                     .arg(state.readingPage)
                     .arg(state.notes.size())
                     .arg(state.bookmarks.size()),
            result.mid(result.startsWith(QLatin1Char('!')) ? 1 : 0));

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

    void refusedFiles_data();
    void refusedFiles()
    {
        QFETCH(QByteArray, data);
        QVERIFY(testfiles::write(m_path, data));
        ReadingState state = sentinelState();
        QVERIFY(!ReadingStateFile::read(m_path, &state));
        verifyUntouched(state);
    }

    // Refused without reading: no file, a folder, a pipe (without blocking), and a file over
    // the size limit (sparse, so it costs no disk space; only the log tells the size refused it).
    void notARegularFile()
    {
        ReadingState state = sentinelState();
        QVERIFY(!ReadingStateFile::read(m_path, &state));
        QVERIFY(!ReadingStateFile::read(QString(), &state));
        QVERIFY(QDir().mkdir(m_path));
        QVERIFY(!ReadingStateFile::read(m_path, &state));
        QVERIFY(QDir().rmdir(m_path));
        QCOMPARE(::mkfifo(QFile::encodeName(m_path).constData(), 0600), 0);
        QVERIFY(!ReadingStateFile::read(m_path, &state));
        QVERIFY(QFile::remove(m_path));
        QFile file(m_path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        QVERIFY(file.write("{\"FontSettings\":{}}") > 0);
        QVERIFY(file.resize(ReadingStateFile::kMaxFileSize + 1));
        file.close();
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("too large")));
        QVERIFY(!ReadingStateFile::read(m_path, &state));
        verifyUntouched(state);
    }

    void unwritableFolder()
    {
        const ReadingState state = fullState();
        // No path (a book context that never opened a book).
        QVERIFY(!ReadingStateFile::write(QString(), state, kEpub));

        // The book's folder was removed, or a file stands where the folder should be.
        const QString gone = ReadingStateFile::filePath(m_home->filePath(QStringLiteral("missing/abc")));
        QVERIFY(!ReadingStateFile::write(gone, state, kEpub));
        QVERIFY(testfiles::write(m_home->filePath(QStringLiteral("plainfile")), "x"));
        QVERIFY(
            !ReadingStateFile::write(m_home->filePath(QStringLiteral("plainfile/plainfile.settings")), state, kEpub));

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

    void notesModelSetData()
    {
        NotesModel model;
        QAbstractItemModelTester tester(&model);
        const QList<NoteItem> notes = fullState().notes;
        for (const NoteItem& note : notes)
            model.addNote(note);

        // Only title, colour, comment and chapter move into the stored note.
        NoteItem edited = notes.at(2);
        edited.title = QStringLiteral("Loomings");
        edited.color = NoteItem::Green;
        edited.note = QStringLiteral("changed comment");
        edited.chapter = QStringLiteral("Text/other.xhtml");
        edited.context = QStringLiteral("not taken");
        edited.startOffset = 99;
        edited.id = QStringLiteral("not taken either");
        QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);
        QVERIFY(model.setData(model.index(2, 0), QVariant::fromValue(edited), Qt::EditRole));
        QCOMPARE(changed.count(), 1);
        const NoteItem stored = model.index(2, 0).data(Qt::UserRole).value<NoteItem>();
        QCOMPARE(QVariantList({ stored.title, stored.color, stored.note, stored.chapter, stored.context,
                     stored.startOffset, stored.id }),
            QVariantList({ "Loomings", NoteItem::Green, "changed comment", "Text/other.xhtml", notes.at(2).context,
                notes.at(2).startOffset, notes.at(2).id }));

        // A value that holds no note is refused and leaves the note as it was.
        changed.clear();
        const QString colour = model.index(3, NotesModel::ColorColumn).data().toString();
        QCOMPARE(colour, QStringLiteral("red"));
        QVERIFY(!model.setData(model.index(3, 0), QStringLiteral("text"), Qt::DisplayRole));
        QCOMPARE(model.index(3, NotesModel::ColorColumn).data().toString(), colour);
        QVERIFY(!model.setData(QModelIndex(), QVariant::fromValue(edited)));
        QCOMPARE(changed.count(), 0);

        // updateNote finds the row by id; an unknown note changes nothing.
        NoteItem recoloured = notes.at(5);
        recoloured.color = NoteItem::Underline;
        model.updateNote(recoloured);
        model.updateNote(NoteItem());
        QCOMPARE(changed.count(), 1);
        QCOMPARE(model.index(5, NotesModel::ColorColumn).data().toString(), QStringLiteral("underline"));

        model.removeNote(notes.at(0).id);
        QCOMPARE(model.rowCount(), notes.size() - 1);
        QCOMPARE(model.findIndexById(notes.at(6).id).row(), 5);
    }

    void notesFilter_data()
    {
        const QList<NoteItem> notes = fullState().notes;
        QTest::addColumn<int>("color");
        QTest::addColumn<QString>("fixed"); // set as a fixed string
        QTest::addColumn<QString>("expression"); // set as a regular expression
        QTest::addColumn<QList<int>>("shown"); // rows of the source
        QTest::newRow("purple only") << int(NoteItem::Purple) << QString() << QString() << QList<int> { 2, 7 };
        QTest::newRow("comment") << 0 << "comment 5" << QString() << QList<int> { 4 };
        QTest::newRow("page label") << 0 << formatPageNumber(30) << QString() << QList<int> { 2 };
        QTest::newRow("date text") << 0 << formatDateTime(notes.at(4).date) << QString() << QList<int> { 4 };
        QTest::newRow("expression and colour")
            << int(NoteItem::Blue) << QString() << "^marked text [12]$" << QList<int> { 1 };
        // A text in the marked text and in the comment of the same note: one row.
        QTest::newRow("matches several fields once") << 0 << "t 1" << QString() << QList<int> { 0 };
    }

    void notesFilter()
    {
        QFETCH(int, color);
        QFETCH(QString, fixed);
        QFETCH(QString, expression);
        QFETCH(QList<int>, shown);
        NotesModel notes;
        NotesSortFilterModel filter;
        QAbstractItemModelTester tester(&filter);
        filter.setSourceModel(&notes);
        const QList<NoteItem> items = fullState().notes;
        for (const NoteItem& note : items)
            notes.addNote(note);
        QVERIFY(!filter.isFilterActive());

        filter.setColorFilter(color);
        if (!fixed.isEmpty())
            filter.setFilterFixedString(fixed);
        if (!expression.isEmpty())
            filter.setFilterRegularExpression(expression);
        QCOMPARE(filter.isFilterActive(), color != 0 || !fixed.isEmpty() || !expression.isEmpty());
        QList<int> rows;
        for (int row = 0; row < filter.rowCount(); ++row)
            rows.append(filter.mapToSource(filter.index(row, 0)).row());
        QCOMPARE(rows, shown);

        // Clearing both shows everything again.
        filter.setColorFilter(0);
        filter.setFilterFixedString(QString());
        filter.setFilterRegularExpression(QString());
        QVERIFY(!filter.isFilterActive());
        QCOMPARE(filter.rowCount(), items.size());
    }

    void searchHits()
    {
        BookSearchModel model;
        QAbstractItemModelTester tester(&model);
        QList<SearchItem> hits;
        for (int page : { 4, 4, 19, 230 }) {
            SearchItem hit;
            hit.link->source = QStringLiteral("Text/ch2.xhtml?kelpath=p");
            hit.link->page = page;
            hit.text = QStringLiteral("... the white whale on page %1 ...").arg(page);
            hits.append(hit);
        }
        model.setSearchItems(hits);
        QCOMPARE(displayColumn(model, 0), QStringList({ "4", "4", "19", "230" }));
        QCOMPARE(model.index(2, 0).data(Qt::UserRole).value<SearchItem>().text, hits.at(2).text);

        // Pages written later into the shared links are reported for the whole list at once.
        QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);
        hits.at(3).link->page = 231;
        model.updatePages();
        QCOMPARE(changed.count(), 1);
        QCOMPARE(changed.first().at(0).toModelIndex(), model.index(0, 0));
        QCOMPARE(changed.first().at(1).toModelIndex(), model.index(3, 0));
        QCOMPARE(model.index(3, 0).data().toInt(), 231);

        model.setSearchItems({});
        changed.clear();
        model.updatePages();
        QCOMPARE(changed.count(), 0);
    }

    void tocUpdatePages()
    {
        const QList<TocPoint> toc = { tocPoint("Cover"),
            tocPoint("Part One",
                { tocPoint("Loomings"), tocPoint("The Carpet-Bag", { tocPoint("Section 1"), tocPoint("Section 2") }),
                    tocPoint("The Spouter-Inn") }),
            tocPoint("Part Two", { tocPoint("The Counterpane") }) };
        TocModel model;
        QAbstractItemModelTester tester(&model);
        model.setToc(toc);

        // The pagination writes pages into the shared links; the model then reports them.
        for (const BookLinkPtr& link : tocLinks(toc))
            link->page = 7;
        QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);
        model.updatePages();
        // The top level and each entry with children: Part One, The Carpet-Bag, Part Two.
        QCOMPARE(changed.count(), 4);
        QCOMPARE(changed.first().at(0).toModelIndex(), model.index(0, 0));
        QCOMPARE(changed.first().at(1).toModelIndex(), model.index(2, 0));
        QCOMPARE(model.index(1, 1, model.index(1, 0, model.index(1, 0))).data().toInt(), 7);
    }
};

// Tables of JSON texts are defined out of the class: moc does not read raw strings.
void TestReadingState::bookmarkNeedsItsTexts_data()
{
    QTest::addColumn<QString>("json");
    QTest::addColumn<bool>("ok");
    QTest::newRow("complete") << R"({"Source":"a","Title":"","Text":""})" << true;
    QTest::newRow("number source") << R"({"Source":5,"Title":"t","Text":"x"})" << false;
    QTest::newRow("null text") << R"({"Source":"a","Title":"t","Text":null})" << false;
    QTest::newRow("array title") << R"({"Source":"a","Title":["t"],"Text":"x"})" << false;
    QTest::newRow("date of the wrong type") << R"({"Source":"a","Title":"t","Text":"x","Date":{}})" << true;
}

void TestReadingState::noteFieldsFromTheFile_data()
{
    // Changes to a stored red note (start offset 12, date 1600000240000): keys set to "-" are
    // removed. The result: "colour offset date" (date 0 when null), or "refused".
    QTest::addColumn<QByteArray>("changes");
    QTest::addColumn<QString>("result");
    const auto row = [](const char* tag, const char* changes, const char* result) {
        QTest::newRow(tag) << QByteArray(changes) << QString::fromLatin1(result);
    };
    row("as written", "{}", "3 12 1600000240000");
    row("style ignores case", R"({"Style":"BLUE","Color":"-"})", "1 12 1600000240000");
    row("style wins over colour", R"({"Style":"Yellow","Color":"#aed9f1"})", "4 12 1600000240000");
    row("unknown style", R"({"Style":"magenta","Color":"#aed9f1"})", "0 12 1600000240000");
    row("colour alone", R"({"Style":"-","Color":"#ccb8e4"})", "2 12 1600000240000");
    row("colour compares exactly", R"({"Style":"-","Color":"#AED9F1"})", "0 12 1600000240000");
    row("style not a string", R"({"Style":3,"Color":"#f3a2a2"})", "3 12 1600000240000");
    row("colour not a string", R"({"Style":"-","Color":1})", "refused");
    row("neither style nor colour", R"({"Style":"-","Color":"-"})", "refused");
    row("no chapter", R"({"Chapter":"-"})", "refused");
    row("empty chapter", R"({"Chapter":""})", "3 12 1600000240000");
    row("no start path", R"({"StartPath":"-"})", "refused");
    row("empty end path", R"({"EndPath":""})", "refused");
    row("end path an object", R"({"EndPath":{}})", "refused");
    row("no start offset", R"({"StartOffset":"-"})", "refused");
    row("no end offset", R"({"EndOffset":"-"})", "refused");
    row("no context, comment a number", R"({"Context":"-","Note":7})", "3 12 1600000240000");
    row("date as a number", R"({"Date":1684315812345,"StartOffset":-3})", "3 -3 1684315812345");
    row("date beyond any calendar", R"({"Date":"9223372036854775807","StartOffset":1e300})", "3 0 0");
    row("date overflowing", R"({"Date":"99999999999999999999","StartOffset":-1e10})", "3 0 0");
    row("offset as text", R"({"StartOffset":"12"})", "3 0 1600000240000");
    row("largest offset", R"({"StartOffset":2147483647})", "3 2147483647 1600000240000");
}

void TestReadingState::partialAndWrongTypedFiles_data()
{
    // What reads back: "size spacing family encoding source page notes bookmarks", a size or
    // spacing of 0 when none is given (the page keeps its own); "!" in front when a warning is due.
    QTest::addColumn<QByteArray>("json");
    QTest::addColumn<QString>("result");
    const auto row = [](const char* tag, const QByteArray& json, const QByteArray& result) {
        QTest::newRow(tag) << json << QString::fromUtf8(result);
    };
    const QByteArray note = QJsonDocument(makeNote(NoteItem::Red, 4).toJson()).toJson(QJsonDocument::Compact);
    const QByteArray bookmark = QJsonDocument(makeBookmark(3).toJson()).toJson(QJsonDocument::Compact);
    const QByteArray defaults = "20 110 Original font - - -1 0 0";
    const QByteArray warnsWithDefaults = "!" + defaults;

    row("empty object: defaults", "{}", defaults);
    row("family and encoding", R"({"FontSettings":{"FontFamily":"Serif","Encoding":"cp1251"}})",
        "0 0 Serif cp1251 - -1 0 0");
    row("page 0", R"({"ReadingPosition":{"Page":0}})", defaults);
    row("page and source", R"({"ReadingPosition":{"Page":7,"Source":"a.html"}})",
        "20 110 Original font - a.html 7 0 0");
    row("font settings a string", R"({"FontSettings":"big"})", warnsWithDefaults);
    row("size a string", R"({"FontSettings":{"Size":"14","LineSpacing":1.5}})", warnsWithDefaults);
    row("size out of int range", R"({"FontSettings":{"Size":1e300,"LineSpacing":-1e12}})", warnsWithDefaults);
    row("family a number", R"({"FontSettings":{"FontFamily":5,"Encoding":[]}})", "!0 0 Original font - - -1 0 0");
    row("position an array", R"({"ReadingPosition":["a.html"]})", warnsWithDefaults);
    row("position of wrong types", R"({"ReadingPosition":{"Source":3,"Page":"9"}})", warnsWithDefaults);
    row("notes an array", R"({"Notes":[)" + note + "]}", warnsWithDefaults);
    row("items an object", R"({"Notes":{"Items":{}},"Bookmarks":{"Items":"x"}})", warnsWithDefaults);
    row("good and bad items",
        R"({"Notes":{"Items":[)" + note + R"(,5,{},null,)" + note + R"(],"Version":"x"},)" + R"("Bookmarks":{"Items":[)"
            + bookmark + R"(,{"Source":1},[]]}})",
        "!20 110 Original font - - -1 2 1");
}

void TestReadingState::refusedFiles_data()
{
    QTest::addColumn<QByteArray>("data");
    QTest::newRow("empty file") << QByteArray();
    QTest::newRow("array") << QByteArray(R"([{"FontSettings":{}}])");
    QTest::newRow("bad UTF-8 in a string") << QByteArray("{\"FontSettings\":{\"FontFamily\":\"\xc3\x28\"}}");
    QTest::newRow("nested past any limit")
        << (QByteArray(R"({"Notes":)") + QByteArray(200000, '[') + QByteArray(200000, ']') + "}");
    // Cut short of its end, as a crash while writing in place would leave it.
    const QByteArray whole = QJsonDocument(ReadingStateFile::toJson(fullState(), kTxt)).toJson();
    QTest::newRow("cut in the middle") << whole.left(whole.size() / 2);
    QTest::newRow("cut before the closing brace") << whole.left(whole.size() - 3);
}

QTEST_MAIN(TestReadingState)
#include "tst_readingstate.moc"
