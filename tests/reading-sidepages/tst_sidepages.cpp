// The side pages of the reading page and its loading cover, on real models and a real book.

#include "../app-look/applooktest.h"

#include "abstractviewer.h"

#include "bookcontext.h"
#include "bookpageparams.h"
#include "mainwindow/readingpage/bookmarksbox.h"
#include "mainwindow/readingpage/columncountselector.h"
#include "mainwindow/readingpage/fontfamilyselector.h"
#include "mainwindow/readingpage/linespacingselector.h"
#include "mainwindow/readingpage/notesbox.h"
#include "mainwindow/readingpage/readingspinner.h"
#include "mainwindow/readingpage/searchbox.h"
#include "mainwindow/readingpage/settingsbox.h"
#include "mainwindow/readingpage/styleselector.h"
#include "mainwindow/readingpage/tocbox.h"
#include "models/bookmarkmodel.h"
#include "models/notesmodel.h"
#include "models/tocmodel.h"
#include "readingfixture.h"
#include "settingsprovider.h"
#include "widgets/kelcombobox.h"
#include "widgets/kelexclusivebuttongroup.h"
#include "widgets/kellabel.h"
#include "widgets/kellineedit.h"
#include "widgets/kelplaintextedit.h"
#include "widgets/kelslider.h"
#include "widgets/labeled.h"
#include "zipwriter.h"

#include <QApplication>
#include <QBuffer>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>

#include <functional>

namespace {

template <typename Row> QList<Row*> rows(ReadingModelWidget* list)
{
    QList<Row*> found;
    list->forEachItem([&](KelListWidgetItem* item, int) { found << dynamic_cast<Row*>(item); });
    return found;
}

bool waitForRows(BookItemsSideBar* page, int count)
{
    // Rows are shown once the list has finished a burst of changes.
    ReadingModelWidget* list = page->modelWidget();
    return ReadingFixture::waitFor(
        [&] { return list->itemCount() == count && list->viewport()->isVisible() == (count > 0); }, 20000);
}

TocPoint tocPoint(const QString& title, int page, const QList<TocPoint>& children = {})
{
    TocPoint point;
    point.title = title;
    point.link = BookLinkPtr::create(QStringLiteral("c%1.xhtml").arg(page), page);
    point.children = children;
    return point;
}

// Whether some bar of the ghost page crosses the vertical line at x.
bool barsAt(const QImage& image, int x, const QColor& background)
{
    for (int y = 0; y < image.height(); ++y)
        if (!near(image.pixelColor(x, y), background))
            return true;
    return false;
}
}

class TestSidePages : public QObject {
    Q_OBJECT
private slots:
    void initTestCase()
    {
        auto* settings
            = new SettingsProvider(QDir::home().filePath(QStringLiteral("settings.ini")), QSettings::IniFormat, qApp);
        KelApplication::instance()->setSettings(settings);
        m_profiles.reset(new Profiles);
        m_fixture.reset(new ReadingFixture);
        const int id = m_fixture->addEpub(QStringLiteral("sides.epub"), 3, 4000);
        QVERIFY(id > 0);
        m_context = m_fixture->open(id);
        QVERIFY(m_context);
    }
    // Every case starts without notes and bookmarks.
    void cleanup()
    {
        for (const BookmarkItem& bookmark : m_context->bookmarks())
            m_context->removeBookmark(bookmark.id);
        for (const NoteItem& note : m_context->notes())
            m_context->removeNote(note.id);
    }
    void cleanupTestCase()
    {
        m_context.reset();
        m_fixture.reset();
    }

    // Each list page: its text while empty, and the first row that replaces it.
    void emptyThenFirstRow_data()
    {
        QTest::addColumn<int>("page");
        QTest::addColumn<QString>("emptyText");
        QTest::newRow("contents") << 0 << "This book has no table of contents";
        QTest::newRow("bookmarks") << 1 << "To add a new bookmark click on the button above.";
        QTest::newRow("notes") << 2
                               << "To add a note:\n1. Select text you need to mark\n2. Then click a color or \"Add "
                                  "Note\" button in the opened menu.";
        QTest::newRow("search") << 3 << "Search by text or by page number";
    }
    void emptyThenFirstRow()
    {
        QFETCH(int, page);
        QFETCH(QString, emptyText);
        const std::function<BookItemsSideBar*()> makers[] = { [] { return new TocBox; },
            [] { return new BookmarksBox; }, [] { return new NotesBox; }, [] { return new SearchBox; } };
        QScopedPointer<BookItemsSideBar> box(makers[page]());
        box->resize(360, 700);
        box->show();
        box->retranslateUi();
        auto* label = box->findChild<KelLabel*>(QStringLiteral("IsEmptyLabel"));
        QCOMPARE(label->text(), emptyText);
        QVERIFY(label->isVisible() && !box->modelWidget()->isVisible());
        QCOMPARE(box->hasTitleSeparator(), page == 0);

        box->setBookContext(m_context);
        switch (page) {
        case 1:
            m_context->addBookmark();
            break;
        case 2:
            QVERIFY(!m_fixture->selectOnScreen(12).isEmpty());
            QVERIFY(m_context->addNoteAtCurrentSelection(NoteItem::Yellow));
            break;
        case 3:
            m_context->search(QLatin1String(ReadingFixture::kRareWord));
            break;
        }
        QVERIFY(ReadingFixture::waitFor([&] { return box->modelWidget()->itemCount() >= 1; }, 20000));
        QTRY_VERIFY(box->modelWidget()->isVisible() && !label->isVisible());
        cleanup();
        if (page == 1 || page == 2) {
            QVERIFY(waitForRows(box.data(), 0));
            QTRY_VERIFY(label->isVisible());
        }
    }

    // Rows are current while their page is on screen; a row without a page never is.
    void currentPageRange()
    {
        BookmarkModel model;
        const QList<int> pages { 0, 2, 3, 4, 5 };
        for (int page : pages) {
            BookmarkItem item;
            item.link = BookLinkPtr::create(QStringLiteral("c.xhtml"), page);
            model.addBookmark(item);
        }
        ReadingModelWidget list;
        list.installRowFactory<BookmarkWidget>();
        list.setModel(&model);
        list.resize(360, 900);
        list.show();
        QTRY_COMPARE(list.itemCount(), pages.size());
        for (const QVariant& key : { QVariant::fromValue(qMakePair(3, 4)), QVariant::fromValue(qMakePair(0, 0)) }) {
            list.setCurrentItemKey(key);
            const auto range = key.value<QPair<int, int>>();
            const QList<BookmarkWidget*> widgets = rows<BookmarkWidget>(&list);
            for (int i = 0; i < pages.size(); ++i) {
                const bool current = pages[i] >= 1 && pages[i] >= range.first && pages[i] <= range.second;
                QCOMPARE(widgets[i]->isChecked(), current);
            }
        }
    }

    // Indents by depth, the dot of a leaf, the mark inside a collapsed parent and nested clicks.
    void contentsTree()
    {
        const TocPoint deep = tocPoint(QStringLiteral("Deep"), 4);
        const TocPoint middle = tocPoint(QStringLiteral("Middle"), 3, { deep });
        QList<TocPoint> toc { tocPoint(QStringLiteral("Top"), 2, { middle }), tocPoint(QStringLiteral("Leaf"), 5) };
        m_context->setToc(toc);
        TocBox box;
        box.resize(360, 700);
        box.show();
        box.setBookContext(m_context);
        QVERIFY(waitForRows(&box, 2));
        QList<TocItemWidget*> level = rows<TocItemWidget>(box.modelWidget());
        TocItemWidget* leaf = level[1];
        QVERIFY(!leaf->expandButton()->isEnabled() && leaf->expandButton()->icon());
        QList<TocItemWidget*> path { level[0] };
        for (int depth = 0; depth < 3; ++depth) {
            TocItemWidget* item = path.last();
            QCOMPARE(item->rowButton()->contentsMargins().left(), 24 + 20 * depth);
            if (depth == 2)
                break;
            QVERIFY(item->expandButton()->isEnabled() && item->childList() && !item->childList()->isVisibleTo(item));
            QVERIFY(ReadingFixture::waitFor([&] { return item->childList()->itemCount() == 1; }));
            path << rows<TocItemWidget>(item->childList()).first();
        }
        TocModel* model = m_context->tocModel();
        const QModelIndex deepIndex = model->index(0, 0, model->index(0, 0, model->index(0, 0)));
        const QString deepId = deepIndex.data(Qt::UserRole).value<BookLinkItem>().id;
        box.modelWidget()->setCurrentItemKey(deepId);
        QVERIFY(path[2]->rowButton()->isChecked() && !path[0]->rowButton()->isChecked());

        QSignalSpy navigations(box.modelWidget(), &ReadingModelWidget::navLinkClicked);
        path[0]->expandButton()->setChecked(true);
        path[1]->expandButton()->setChecked(true);
        QTRY_VERIFY(path[2]->isVisible() && path[1]->childList()->viewport()->isVisible());
        for (TocItemWidget* item : { path[0], path[2] }) {
            QTest::mouseMove(item->rowButton(), QPoint(30, 10));
            QTest::mouseClick(item->rowButton(), Qt::LeftButton, {}, QPoint(30, 10));
            QTRY_COMPARE(
                navigations.size() > 0 ? navigations.last().at(0).value<BookLinkPtr>()->page : -1, item->link()->page);
            navigations.clear();
        }
    }

    // The ghost page follows the column setting; the gap between columns stays empty.
    void spinner()
    {
        QWidget parent;
        ReadingSpinner spinner(&parent);
        spinner.resize(600, 900);
        SettingsProvider::instance()->setColumn_count(2);
        spinner.setMode(ReadingSpinner::LoadBook);
        QVERIFY(spinner.isVisibleTo(&parent));
        const QColor background = kelStyle()->color(2);
        const QImage two = spinner.grab().toImage();
        QVERIFY(!barsAt(two, 300, background) && barsAt(two, 75, background) && barsAt(two, 525, background));
        SettingsProvider::instance()->setColumn_count(1);
        const QImage one = spinner.grab().toImage();
        QVERIFY(barsAt(one, 75, background) && barsAt(one, 300, background));
        QCOMPARE(spinner.grab().toImage(), one); // repaints show the same ghost text
        spinner.setMode(ReadingSpinner::Nothing);
        QVERIFY(!spinner.isVisibleTo(&parent));
    }

    // Typing saves on every keystroke without resetting the editor; the cursor stays in view.
    void noteEditing()
    {
        QVERIFY(!m_fixture->selectOnScreen(10).isEmpty());
        QVERIFY(m_context->addNoteAtCurrentSelection(NoteItem::Blue));
        NotesBox box;
        box.resize(360, 150);
        box.show();
        QApplication::setActiveWindow(&box);
        box.setBookContext(m_context);
        QVERIFY(waitForRows(&box, 1));
        NoteWidget* row = rows<NoteWidget>(box.modelWidget()).first();
        const QString id = m_context->notes().first().id;
        row->editor()->setFocus();
        QTRY_VERIFY(row->editor()->hasFocus());
        QString typed;
        for (const QChar c : QStringLiteral("ab\n\n\n\n\n\ncd")) {
            QTest::keyClick(row->editor(), c == QLatin1Char('\n') ? Qt::Key_Return : Qt::Key(c.toUpper().unicode()),
                c.isUpper() ? Qt::ShiftModifier : Qt::NoModifier);
            typed += c;
            QCOMPARE(m_context->findNote(id)->note, typed);
            QCOMPARE(row->editor()->toPlainText(), typed);
            QCOMPARE(row->editor()->textCursor().position(), typed.size());
        }
        ReadingModelWidget* list = box.modelWidget();
        const QPoint cursor = row->editor()->viewport()->mapTo(list->viewport(), row->editor()->cursorRect().center());
        QVERIFY2(list->verticalScrollBar()->value() > 0, "the list scrolled to the cursor");
        QVERIFY2(cursor.y() <= list->viewport()->height() - 32, qPrintable(QString::number(cursor.y())));
    }

    // Colour and text filters, and the texts of an empty list.
    void noteFilters()
    {
        QVERIFY(!m_fixture->selectOnScreen(10).isEmpty());
        QVERIFY(m_context->addNoteAtCurrentSelection(NoteItem::Yellow));
        m_context->setNoteComment(m_context->notes().first().id, QStringLiteral("about C++ (draft)"));
        NotesBox box;
        box.resize(360, 600);
        box.show();
        box.setBookContext(m_context);
        QVERIFY(waitForRows(&box, 1));
        auto* label = box.findChild<KelLabel*>(QStringLiteral("IsEmptyLabel"));
        const QString nothing = QStringLiteral("Nothing found");

        box.colorFilter()->setCurrentData(int(NoteItem::Blue));
        QVERIFY(waitForRows(&box, 0));
        QTRY_COMPARE(label->text(), nothing);
        QVERIFY(box.colorFilter()->icon()->name() != QStringLiteral(":/svg/colors.svg"));
        box.colorFilter()->setCurrentData(0);
        QVERIFY(waitForRows(&box, 1));
        QCOMPARE(box.colorFilter()->icon()->name(), QStringLiteral(":/svg/colors.svg"));

        for (const QString& text : { QStringLiteral("  (  "), QStringLiteral("c++"), QStringLiteral("zz(") }) {
            box.searchField()->clear();
            QTest::keyClicks(box.searchField(), text);
            const bool matches = !text.contains(QLatin1String("zz"));
            QVERIFY2(waitForRows(&box, matches ? 1 : 0), qPrintable(text));
            if (!matches)
                QTRY_COMPARE(label->text(), nothing);
        }
    }

    void highlight_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("query");
        QTest::addColumn<QString>("html");
        QTest::newRow("every case") << "The the THE"
                                    << "the"
                                    << "[The] [the] [THE]";
        QTest::newRow("markup is text") << "a <b>&amp; b"
                                        << "b"
                                        << "a &lt;[b]&gt;&amp;amp; [b]";
        QTest::newRow("no hit") << "x < y"
                                << "z"
                                << "x &lt; y";
    }
    void highlight()
    {
        QFETCH(QString, text);
        QFETCH(QString, query);
        QFETCH(QString, html);
        QCOMPARE(SearchWidget::highlight(text, query, QStringLiteral("["), QStringLiteral("]")), html);
    }

    // Hits on screen as rich text, recoloured with the profile; the field takes the focus.
    void searchPage()
    {
        SearchBox box;
        box.resize(360, 600);
        box.setBookContext(m_context);
        box.show();
        QApplication::setActiveWindow(&box);
        QTRY_VERIFY(box.searchField()->hasFocus());
        m_context->search(QStringLiteral("the"));
        QVERIFY(ReadingFixture::waitFor([&] { return box.modelWidget()->itemCount() > 2; }, 20000));
        for (const QString& style :
            { QStringLiteral("NightStyle"), QStringLiteral("SepiaStyle"), QStringLiteral("DayStyle") }) {
            Profiles::use(style);
            const QString tag = QStringLiteral("<font color='%1'>").arg(kelStyle()->color(1023).name());
            for (SearchWidget* row : rows<SearchWidget>(box.modelWidget())) {
                const KelLabel* text = row->findChildren<KelLabel*>().at(1);
                QVERIFY2(text->text().contains(tag), qPrintable(text->text()));
            }
        }
    }

    // Only what the viewer supports is offered: a page-image book has no font editors.
    void settingsPageFeatures_data()
    {
        QTest::addColumn<bool>("textBook");
        QTest::newRow("text book") << true;
        QTest::newRow("page images") << false;
    }
    void settingsPageFeatures()
    {
        QFETCH(bool, textBook);
        QSharedPointer<BookContext> context = m_context;
        QWidget area;
        if (!textBook) {
            const QString path = QDir::home().filePath(QStringLiteral("pages.cbz"));
            ZipWriter zip(path);
            QImage image(60, 80, QImage::Format_RGB32);
            image.fill(Qt::darkCyan);
            QBuffer png;
            png.open(QIODevice::WriteOnly);
            image.save(&png, "PNG");
            zip.add(QStringLiteral("1.png"), png.data(), false);
            QVERIFY(zip.write());
            BookDto book;
            book.full_path = path;
            book.format = 6;
            context = QSharedPointer<BookContext>::create();
            QVERIFY(context->readBook(book, &area));
        }
        SettingsBox box;
        box.resize(360, 900);
        box.setBookContext(context);
        box.show();
        const QList<QWidget*> fontEditors { box.fontFamilySelector(), box.fontSizeEditor(), box.lineSpacingSelector() };
        QVERIFY(box.styleSelector()->isVisible() && box.allSettingsButton()->isVisible()
            && box.hotkeysButton()->isVisible());
        QCOMPARE(box.columnCountSelector()->isVisible(),
            context->viewer()->supports(AbstractViewer::Feature::ColumnCountChange));
        for (QWidget* editor : fontEditors)
            QCOMPARE(editor->isVisible(), textBook);
    }

    // The editors and the page parameters of the open book follow each other.
    void settingsPageBinding()
    {
        SettingsBox box;
        box.resize(360, 900);
        box.setBookContext(m_context);
        box.retranslateUi();
        box.show();
        QVERIFY(QTest::qWaitForWindowExposed(&box));
        BookPageParams* params = m_context->pageParams();
        KelSlider* slider = box.fontSizeEditor()->editor();
        for (const auto& [set, got] : { qMakePair(0, 8), qMakePair(100, 32), qMakePair(20, 20) }) {
            slider->setValue(set);
            QCOMPARE(params->fontSize(), got);
            QCOMPARE(box.fontSizeEditor()->valueLabel()->text(), QStringLiteral("%1px").arg(got));
        }
        params->setFontSize(24);
        QCOMPARE(slider->value(), 24);

        LineSpacingSelector* spacing = box.lineSpacingSelector();
        params->setLineSpacing(225);
        QCOMPARE(spacing->value(), 10);
        QVERIFY(!spacing->increaseButton()->isEnabled());
        params->setLineSpacing(90);
        QCOMPARE(spacing->value(), 1);
        emit spacing->valueChanged(3);
        QCOMPARE(params->lineSpacing(), 120);

        params->setColumnCount(2);
        KelButton* single = box.columnCountSelector()->buttonGroup()->button(1);
        QCOMPARE(single->text(), QStringLiteral("Single"));
        single->setChecked(true);
        QTRY_COMPARE(SettingsProvider::instance()->column_count(), 1);
        params->setColumnCount(5);
        QCOMPARE(SettingsProvider::instance()->column_count(), 2);
        QVERIFY(box.columnCountSelector()->buttonGroup()->button(2)->isChecked());
    }

private:
    QScopedPointer<Profiles> m_profiles;
    QScopedPointer<ReadingFixture> m_fixture;
    QSharedPointer<BookContext> m_context;
};

int main(int argc, char** argv)
{
    return runKelAppTest<KelApplication, TestSidePages>(argc, argv, QStringLiteral("side-pages-test"));
}

#include "tst_sidepages.moc"
