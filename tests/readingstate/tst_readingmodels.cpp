// The open book's item models: bookmarks, notes with their filter, search hits and the table of
// contents, each watched by a model tester while it is filled, changed and emptied with the
// kind of items a real book has.

#include "displayformats.h"
#include "models/bookmarkmodel.h"
#include "models/booksearchmodel.h"
#include "models/notesmodel.h"
#include "models/notessortfiltermodel.h"
#include "models/tocmodel.h"
#include "temphome.h"
#include "testfiles.h"

#include <QAbstractItemModelTester>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSignalSpy>
#include <QtTest>

namespace {

BookmarkItem bookmarkAt(int chapter, int page)
{
    BookmarkItem bookmark;
    bookmark.link->source = QStringLiteral("Text/ch%1.xhtml?kelpath=%2Fhtml%2Fbody%2Fp%5B4%5D").arg(chapter);
    bookmark.link->page = page;
    bookmark.title = QStringLiteral("Chapter %1").arg(chapter);
    bookmark.text = QStringLiteral("The text on page %1").arg(page);
    bookmark.date = QDateTime(QDate(2024, 2, chapter), QTime(20, 15), Qt::UTC);
    return bookmark;
}

// One note per colour, on pages 10, 20, ... with distinct marked texts and comments.
QList<NoteItem> notesOfEveryColour()
{
    const QStringList texts { "whale", "harpoon", "ocean", "captain", "sailor", "compass", "anchor" };
    QList<NoteItem> notes;
    for (int color = NoteItem::NoColor; color <= NoteItem::Underline; ++color) {
        NoteItem note;
        note.chapter = QStringLiteral("Text/ch%1.xhtml").arg(color + 1);
        note.startPath = QStringLiteral("/html/body/p[2]/text()[1]");
        note.endPath = note.startPath;
        note.startOffset = 3;
        note.endOffset = 9;
        note.context = texts.at(color);
        note.note = QStringLiteral("remark %1").arg(color);
        note.date = QDateTime(QDate(2021, 3, 1 + color), QTime(8, 0), Qt::UTC);
        note.color = NoteItem::NoteColor(color);
        note.link->source = note.chapter + QStringLiteral("?kelpath=x&offset=3");
        note.link->page = (color + 1) * 10;
        notes.append(note);
    }
    return notes;
}

QStringList displayColumn(const QAbstractItemModel& model, int column, const QModelIndex& parent = QModelIndex())
{
    QStringList texts;
    for (int row = 0; row < model.rowCount(parent); ++row)
        texts.append(model.index(row, column, parent).data().toString());
    return texts;
}

// A contents cache as a text book writes it: parts with chapters, one chapter with sections.
QByteArray tocCache()
{
    auto point = [](const QString& source, const QString& title, const QJsonArray& children = {}) {
        return QJsonObject { { "Source", source }, { "Title", title }, { "Childs", children } };
    };
    const QJsonArray toc {
        point("Text/cover.xhtml", "Cover"),
        point("Text/part1.xhtml", "Part One",
            { point("Text/ch1.xhtml", "Loomings"),
                point("Text/ch2.xhtml", "The Carpet-Bag",
                    { point("Text/ch2.xhtml#s1", "Section 1"), point("Text/ch2.xhtml#s2", "Section 2") }),
                point("Text/ch3.xhtml", "The Spouter-Inn") }),
        point("Text/part2.xhtml", "Part Two", { point("Text/ch4.xhtml", "The Counterpane") }),
    };
    return QJsonDocument(toc).toJson();
}

// The contents read back from their cache file, as the book context gets them.
TocTree loadedTocTree()
{
    TempHome home;
    const QString cache = home.filePath(QStringLiteral("book.toc"));
    if (!testfiles::write(cache, tocCache()))
        return TocTree();
    TocTree tree;
    tree.load(cache, QString());
    return tree;
}

} // namespace

class TestReadingModels : public QObject {
    Q_OBJECT

private slots:
    void bookmarks();
    void notes();
    void notesSetData();
    void notesFilter_data();
    void notesFilter();
    void searchHits();
    void tocBeforeAndAfter();
    void tocTree();
    void tocUpdatePages();
};

void TestReadingModels::bookmarks()
{
    BookmarkModel model;
    QAbstractItemModelTester tester(&model);

    QSignalSpy inserted(&model, &QAbstractItemModel::rowsInserted);
    const QList<BookmarkItem> items { bookmarkAt(1, 3), bookmarkAt(2, 17), bookmarkAt(5, 88) };
    for (const BookmarkItem& item : items)
        model.addBookmark(item);
    QCOMPARE(inserted.count(), 3);
    QCOMPARE(inserted.last().at(1).toInt(), 2);
    QCOMPARE(model.rowCount(), 3);
    QCOMPARE(displayColumn(model, BookmarkModel::PageColumn), QStringList({ "3", "17", "88" }));
    QCOMPARE(displayColumn(model, BookmarkModel::TitleColumn), QStringList({ "Chapter 1", "Chapter 2", "Chapter 5" }));

    const QModelIndex second = model.index(1, 0);
    QCOMPARE(second.data().toString(), items.at(1).id);
    QCOMPARE(model.index(1, BookmarkModel::TextColumn).data().toString(), QStringLiteral("The text on page 17"));
    QCOMPARE(model.index(1, BookmarkModel::TimestampColumn).data().toDateTime(), items.at(1).date);
    QCOMPARE(model.index(1, BookmarkModel::SourceColumn).data().toString(), items.at(1).link->source);
    QCOMPARE(second.data(Qt::UserRole).value<BookmarkItem>().text, items.at(1).text);
    QCOMPARE(second.data(Qt::ToolTipRole).value<BookmarkItem>().id, items.at(1).id);
    QCOMPARE(second.data(Qt::ToolTipRole).toString(), items.at(1).text);
    QVERIFY(!second.data(Qt::DecorationRole).isValid());
    QVERIFY(!model.index(1, 6).isValid());
    QVERIFY(!model.index(3, 0).isValid());

    // The link is shared with the book: a page written by the pagination shows at once.
    items.at(2).link->page = 91;
    QCOMPARE(model.index(2, BookmarkModel::PageColumn).data().toInt(), 91);

    QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);
    BookmarkItem stranger = bookmarkAt(9, 9);
    model.updateBookmark(stranger);
    QCOMPARE(changed.count(), 0);
    BookmarkItem renamed = items.at(0);
    renamed.title = QStringLiteral("Loomings");
    renamed.flag = true;
    model.updateBookmark(renamed);
    QCOMPARE(changed.count(), 1);
    QCOMPARE(changed.first().at(0).toModelIndex().row(), 0);
    QCOMPARE(changed.first().at(1).toModelIndex().column(), 5);
    QCOMPARE(model.index(0, BookmarkModel::TitleColumn).data().toString(), QStringLiteral("Loomings"));
    QVERIFY(model.index(0, 0).data(Qt::UserRole).value<BookmarkItem>().flag);

    QCOMPARE(model.findIndexById(items.at(2).id), model.index(2, 0));
    QVERIFY(!model.findIndexById(stranger.id).isValid());

    QSignalSpy removed(&model, &QAbstractItemModel::rowsRemoved);
    model.removeBookmark(stranger.id);
    QCOMPARE(removed.count(), 0);
    model.removeBookmark(items.at(1).id);
    QCOMPARE(removed.count(), 1);
    QCOMPARE(displayColumn(model, BookmarkModel::PageColumn), QStringList({ "3", "91" }));
}

void TestReadingModels::notes()
{
    NotesModel model;
    QAbstractItemModelTester tester(&model);
    const QList<NoteItem> notes = notesOfEveryColour();
    for (const NoteItem& note : notes)
        model.addNote(note);
    QCOMPARE(displayColumn(model, NotesModel::ColorColumn),
        QStringList({ "", "blue", "purple", "red", "yellow", "green", "underline" }));
    QCOMPARE(displayColumn(model, NotesModel::TextColumn).first(), QStringLiteral("remark 0"));
    QCOMPARE(model.index(3, NotesModel::PageColumn).data().toInt(), 40);
    QCOMPARE(model.index(3, NotesModel::TimestampColumn).data().toDateTime(), notes.at(3).date);
    QCOMPARE(model.index(3, NotesModel::SourceColumn).data().toString(), notes.at(3).link->source);
    QCOMPARE(model.index(3, 0).data(Qt::ToolTipRole).value<NoteItem>().context, QStringLiteral("captain"));
    // As text, the tooltip is the comment, or the marked text without one.
    QCOMPARE(model.index(3, 0).data(Qt::ToolTipRole).toString(), QStringLiteral("remark 3"));
    QVERIFY(!model.index(0, 7).isValid());

    QSignalSpy removed(&model, &QAbstractItemModel::rowsRemoved);
    model.removeNote(QStringLiteral("00000000000000000000000000000000"));
    QCOMPARE(removed.count(), 0);
    model.removeNote(notes.at(0).id);
    QCOMPARE(removed.count(), 1);
    QCOMPARE(model.rowCount(), 6);
    QCOMPARE(model.findIndexById(notes.at(6).id).row(), 5);
}

void TestReadingModels::notesSetData()
{
    NotesModel model;
    QAbstractItemModelTester tester(&model);
    const QList<NoteItem> notes = notesOfEveryColour();
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
    QCOMPARE(changed.first().at(2).value<QVector<int>>(), QVector<int>({ Qt::EditRole }));
    const NoteItem stored = model.index(2, 0).data(Qt::UserRole).value<NoteItem>();
    QCOMPARE(stored.title, QStringLiteral("Loomings"));
    QCOMPARE(stored.color, NoteItem::Green);
    QCOMPARE(stored.note, QStringLiteral("changed comment"));
    QCOMPARE(stored.chapter, QStringLiteral("Text/other.xhtml"));
    QCOMPARE(stored.context, notes.at(2).context);
    QCOMPARE(stored.startOffset, 3);
    QCOMPARE(stored.id, notes.at(2).id);

    // A value that holds no note is refused and leaves the note as it was.
    changed.clear();
    const QString colour = model.index(3, NotesModel::ColorColumn).data().toString();
    const QString comment = model.index(3, NotesModel::TextColumn).data().toString();
    QVERIFY(!colour.isEmpty() && !comment.isEmpty());
    QVERIFY(!model.setData(model.index(3, 0), QStringLiteral("text"), Qt::DisplayRole));
    QCOMPARE(model.index(3, NotesModel::ColorColumn).data().toString(), colour);
    QCOMPARE(model.index(3, NotesModel::TextColumn).data().toString(), comment);
    QVERIFY(!model.setData(QModelIndex(), QVariant::fromValue(edited)));
    QCOMPARE(changed.count(), 0);

    // updateNote finds the row by id and reports it for the display role.
    NoteItem recoloured = notes.at(5);
    recoloured.color = NoteItem::Underline;
    changed.clear();
    model.updateNote(recoloured);
    QCOMPARE(changed.count(), 1);
    QCOMPARE(changed.first().at(2).value<QVector<int>>(), QVector<int>({ Qt::DisplayRole }));
    QCOMPARE(model.index(5, NotesModel::ColorColumn).data().toString(), QStringLiteral("underline"));
    NoteItem unknown;
    model.updateNote(unknown);
    QCOMPARE(changed.count(), 1);
}

void TestReadingModels::notesFilter_data()
{
    const QList<NoteItem> notes = notesOfEveryColour();
    QTest::addColumn<int>("color");
    QTest::addColumn<QString>("fixed"); // set as a fixed string
    QTest::addColumn<QString>("expression"); // set as a regular expression
    QTest::addColumn<QStringList>("shown"); // marked texts in order
    const QStringList all { "whale", "harpoon", "ocean", "captain", "sailor", "compass", "anchor" };
    QTest::newRow("everything") << 0 << QString() << QString() << all;
    QTest::newRow("red only") << int(NoteItem::Red) << QString() << QString() << QStringList({ "captain" });
    QTest::newRow("underline only") << int(NoteItem::Underline) << QString() << QString() << QStringList({ "anchor" });
    QTest::newRow("marked text ignoring case") << 0 << "HARP" << QString() << QStringList({ "harpoon" });
    QTest::newRow("comment") << 0 << "remark 5" << QString() << QStringList({ "compass" });
    QTest::newRow("page label") << 0 << formatPageNumber(30) << QString() << QStringList({ "ocean" });
    QTest::newRow("date text") << 0 << formatDateTime(notes.at(4).date) << QString() << QStringList({ "sailor" });
    QTest::newRow("expression") << 0 << QString() << "^(whale|anchor)$" << QStringList({ "whale", "anchor" });
    QTest::newRow("expression and colour")
        << int(NoteItem::Blue) << QString() << "^(whale|harpoon)$" << QStringList({ "harpoon" });
    QTest::newRow("text of another colour") << int(NoteItem::Green) << "whale" << QString() << QStringList();
    // Every note's comment starts with "remark", and marked texts match too: one row each.
    QTest::newRow("matches several fields once") << 0 << "r" << QString() << all;
}

void TestReadingModels::notesFilter()
{
    QFETCH(int, color);
    QFETCH(QString, fixed);
    QFETCH(QString, expression);
    QFETCH(QStringList, shown);
    NotesModel notes;
    NotesSortFilterModel filter;
    QAbstractItemModelTester tester(&filter);
    filter.setSourceModel(&notes);
    for (const NoteItem& note : notesOfEveryColour())
        notes.addNote(note);
    QVERIFY(!filter.isFilterActive());

    filter.setColorFilter(color);
    if (!fixed.isEmpty())
        filter.setFilterFixedString(fixed);
    if (!expression.isEmpty())
        filter.setFilterRegularExpression(expression);
    QCOMPARE(filter.isFilterActive(), color != 0 || !fixed.isEmpty() || !expression.isEmpty());
    QStringList texts;
    for (int row = 0; row < filter.rowCount(); ++row)
        texts.append(filter.index(row, 0).data(Qt::UserRole).value<NoteItem>().context);
    QCOMPARE(texts, shown);

    // Clearing both shows everything again.
    filter.setColorFilter(0);
    filter.setFilterFixedString(QString());
    filter.setFilterRegularExpression(QString());
    QVERIFY(!filter.isFilterActive());
    QCOMPARE(filter.rowCount(), 7);
}

void TestReadingModels::searchHits()
{
    BookSearchModel model;
    QAbstractItemModelTester tester(&model);
    QCOMPARE(model.columnCount(), 1);

    QList<SearchItem> hits;
    for (int page : { 4, 4, 19, 230 }) {
        SearchItem hit;
        hit.link->source = QStringLiteral("Text/ch2.xhtml?kelpath=p");
        hit.link->page = page;
        hit.text = QStringLiteral("... the white whale on page %1 ...").arg(page);
        hit.query = QStringLiteral("whale");
        hits.append(hit);
    }
    QSignalSpy reset(&model, &QAbstractItemModel::modelReset);
    model.setSearchItems(hits);
    QCOMPARE(reset.count(), 1);
    QCOMPARE(displayColumn(model, 0), QStringList({ "4", "4", "19", "230" }));
    QCOMPARE(model.index(2, 0).data(Qt::UserRole).value<SearchItem>().text, hits.at(2).text);
    QVERIFY(!model.index(2, 0).data(Qt::ToolTipRole).isValid());
    QVERIFY(!model.index(0, 1).isValid());

    QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);
    hits.at(3).link->page = 231;
    model.updatePages();
    QCOMPARE(changed.count(), 1);
    QCOMPARE(changed.first().at(0).toModelIndex(), model.index(0, 0));
    QCOMPARE(changed.first().at(1).toModelIndex(), model.index(3, 0));
    QCOMPARE(model.index(3, 0).data().toInt(), 231);

    model.setSearchItems({});
    QCOMPARE(model.rowCount(), 0);
    changed.clear();
    model.updatePages();
    QCOMPARE(changed.count(), 0);
}

void TestReadingModels::tocBeforeAndAfter()
{
    TocModel model;
    // Before any contents every question has an empty answer.
    QCOMPARE(model.rowCount(), 0);
    QVERIFY(!model.index(0, 0).isValid());
    QVERIFY(!model.data(QModelIndex()).isValid());
    QCOMPARE(model.flags(QModelIndex()), Qt::NoItemFlags);
    model.updatePages();

    QAbstractItemModelTester tester(&model);
    model.setToc({});
    QCOMPARE(model.rowCount(), 0);
    QCOMPARE(model.columnCount(), 2);
}

void TestReadingModels::tocTree()
{
    TocTree tree = loadedTocTree();
    QCOMPARE(tree.points.size(), 3);
    tree.points[1].children[0].link->page = 5;
    // An entry without a link shows page -1.
    tree.points[2].children[0].link.reset();

    TocModel model;
    QAbstractItemModelTester tester(&model);
    model.setToc(tree.points);
    QCOMPARE(displayColumn(model, TocModel::TitleColumn), QStringList({ "Cover", "Part One", "Part Two" }));
    const QModelIndex partOne = model.index(1, 0);
    QCOMPARE(model.rowCount(partOne), 3);
    QCOMPARE(displayColumn(model, TocModel::TitleColumn, partOne),
        QStringList({ "Loomings", "The Carpet-Bag", "The Spouter-Inn" }));
    QCOMPARE(displayColumn(model, TocModel::PageColumn, partOne), QStringList({ "5", "-1", "-1" }));
    const QModelIndex carpetBag = model.index(1, 0, partOne);
    const QModelIndex section2 = model.index(1, 0, carpetBag);
    QCOMPARE(section2.data().toString(), QStringLiteral("Section 2"));
    QCOMPARE(section2.parent(), carpetBag);
    QCOMPARE(carpetBag.parent(), partOne);
    QVERIFY(!partOne.parent().isValid());
    QCOMPARE(model.rowCount(section2), 0);

    const QModelIndex counterpane = model.index(0, TocModel::PageColumn, model.index(2, 0));
    QCOMPARE(counterpane.data().toInt(), -1);
    QCOMPARE(model.flags(counterpane), Qt::ItemIsSelectable | Qt::ItemIsEnabled);
    // A page column cell has no children; nothing hangs below it.
    QCOMPARE(model.rowCount(model.index(1, 1)), 0);
    QCOMPARE(model.columnCount(model.index(1, 1)), 0);
    QVERIFY(!model.index(0, 0, model.index(1, 1)).isValid());
    QVERIFY(!model.index(0, 2).isValid());

    const BookLinkItem item = carpetBag.data(Qt::UserRole).value<BookLinkItem>();
    QCOMPARE(item.title, QStringLiteral("The Carpet-Bag"));
    QCOMPARE(item.id, tree.points[1].children[1].id);
    QCOMPARE(item.link, tree.points[1].children[1].link);
    QCOMPARE(carpetBag.data(Qt::ToolTipRole).value<BookLinkItem>().id, item.id);
    QCOMPARE(carpetBag.data(Qt::ToolTipRole).toString(), QStringLiteral("The Carpet-Bag"));

    // Replacing the contents drops the old tree.
    model.setToc({ tree.points[0] });
    QCOMPARE(model.rowCount(), 1);
    QCOMPARE(model.rowCount(model.index(0, 0)), 0);
}

void TestReadingModels::tocUpdatePages()
{
    const TocTree tree = loadedTocTree();
    QCOMPARE(tree.points.size(), 3);
    TocModel model;
    QAbstractItemModelTester tester(&model);
    model.setToc(tree.points);

    // The pagination writes pages into the shared links; the model then reports them.
    for (const BookLinkPtr& link : tocLinks(tree.points))
        link->page = 7;
    QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);
    model.updatePages();
    // The top level and each entry with children: Part One, The Carpet-Bag, Part Two.
    QCOMPARE(changed.count(), 4);
    QCOMPARE(changed.first().at(0).toModelIndex(), model.index(0, 0));
    QCOMPARE(changed.first().at(1).toModelIndex(), model.index(2, 0));
    QCOMPARE(changed.first().at(2).value<QVector<int>>(), QVector<int>({ Qt::DisplayRole }));
    QCOMPARE(model.index(1, 1, model.index(1, 0, model.index(1, 0))).data().toInt(), 7);
}

QTEST_MAIN(TestReadingModels)
#include "tst_readingmodels.moc"
