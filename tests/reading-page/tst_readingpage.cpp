// The reading page over books of the library: reopening, the page's keys, the title and the
// encoding menu. The note popup on an open EPUB: colours make and
// recolour one note, "Add note" opens the comment editor that stores every keystroke, the shortcuts
// act only on visible entries, and a long comment keeps the popup inside the screen.

#include "readingfixture.h"
#include "readingpagetest.h"

#include "bookcontext.h"
#include "formats/bookformat.h"
#include "formats/pdf/binding/pdfenginefile.h"
#include "hotkeys.h"
#include "kelapplication.h"
#include "librarybooks.h"
#include "mainwindow/readingpage/notepopup.h"
#include "mainwindow/readingpage/readingpage.h"
#include "mainwindow/readingpage/readingtoolbar.h"
#include "mainwindow/readingpage/slidebox.h"
#include "metrics/metricsender.h"
#include "models/bookmodel.h"
#include "readingstatefile.h"
#include "settingsprovider.h"
#include "testpaths.h"
#include "widgets/kelbutton.h"
#include "widgets/kelexclusivebuttongroup.h"
#include "windows/kelpopupmenu.h"

#include <QScreen>
#include <QShortcut>
#include <QSignalSpy>
#include <QStackedWidget>
#include <QTextCodec>
#include <QtTest>

namespace {

int metricCount(const QString& key)
{
    // Sent events wait in the failed request (nothing listens at the address).
    int count = MetricSender::instance()->pendingRequest().count(QLatin1Char('=') + key + QLatin1Char(':'));
    for (const MetricSender::Event& event : MetricSender::instance()->queuedEvents())
        count += event.key == key ? 1 : 0;
    return count;
}

void press(QWidget* widget, Hotkeys::Id id)
{
    const int code = Hotkeys::sequences(id).value(0)[0];
    QTest::keyClick(
        widget, Qt::Key(code & ~Qt::KeyboardModifierMask), Qt::KeyboardModifiers(code & Qt::KeyboardModifierMask));
}

} // namespace

class TestReadingPage : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        pdfengine::setLibraryPath(testpaths::binDir() + QLatin1Char('/') + pdfengine::fileName());
        MetricSender::init(QStringLiteral("device"), QStringLiteral("product"), QStringLiteral("1"), true,
            QStringLiteral("http://127.0.0.1:9/"));
        m_bookId = m_fixture.addEpub(QStringLiteral("page.epub"), 3, 4000);
        QVERIFY(m_bookId > 0);
        m_stack = std::make_unique<QStackedWidget>();
        m_stack->resize(1000, 700);
        m_page = new ReadingPage(m_stack.get());
        m_stack->addWidget(m_page);
        m_stack->show();
        QVERIFY(m_page->openBook(m_bookId));
        QVERIFY(m_page->bookContext());
        QVERIFY(ReadingFixture::waitFor([this] { return m_page->bookContext()->currentPage() > 0; }));
        // The note popup works on a book the fixture opens beside the page.
        const int notesId = m_fixture.addEpub(QStringLiteral("notes.epub"), 3, 4000);
        QVERIFY(notesId > 0);
        QVERIFY(m_fixture.open(notesId));
        m_popup = std::make_unique<NotePopup>();
        m_popup->setBookContext(m_fixture.context());
    }

    void cleanup()
    {
        m_popup->hide();
        for (const NoteItem& note : m_fixture.context()->notes())
            m_fixture.context()->removeNote(note.id);
    }

    void reopenKeepsBook()
    {
        const QSharedPointer<BookContext> context = m_page->bookContext();
        const int starts = metricCount(QStringLiteral("start"));
        const int counts = metricCount(QStringLiteral("bpgcnt"));
        QCOMPARE(starts, 1);
        QVERIFY(m_page->openBook(m_bookId));
        QCOMPARE(m_page->bookContext(), context);
        QCOMPARE(metricCount(QStringLiteral("start")), starts);
        QCOMPARE(metricCount(QStringLiteral("bpgcnt")), counts);
        QCOMPARE(m_page->spinner()->mode(), ReadingSpinner::Nothing);
    }

    void sideBoxKeys()
    {
        KelExclusiveButtonGroup* group = m_page->toolBar()->sideBarGroup();
        press(m_page, Hotkeys::Id::Sidebar_Toc_Show);
        QCOMPARE(group->checkedUserData().toInt(), int(ReadingEnums::Toc));
        QTRY_VERIFY(m_page->leftBox()->isVisible());
        press(m_page, Hotkeys::Id::Sidebar_Toc_Show);
        QVERIFY(!group->checkedButton());
        QTRY_VERIFY(!m_page->leftBox()->isVisible());

        // Escape closes an open box first, then leaves full screen.
        m_page->setFullscreen(true);
        QVERIFY(m_page->isFullscreen());
        QVERIFY(m_page->isWindow());
        press(m_page, Hotkeys::Id::Sidebar_Bookmarks_Show);
        QCOMPARE(group->checkedUserData().toInt(), int(ReadingEnums::Bookmarks));
        QTest::keyClick(m_page, Qt::Key_Escape);
        QVERIFY(!group->checkedButton());
        QVERIFY(m_page->isFullscreen());
        QTRY_VERIFY(!m_page->leftBox()->isVisible());
        QTest::keyClick(m_page, Qt::Key_Escape);
        QVERIFY(!m_page->isFullscreen());
        QVERIFY(!m_page->isWindow());
        QCOMPARE(m_stack->currentWidget(), m_page);
    }

    void controlsPerBook_data()
    {
        // Visible: contents, notes, bookmarks, search, read aloud, zoom, print.
        QTest::addColumn<QString>("suffix");
        QTest::addColumn<int>("format");
        QTest::addColumn<QString>("visible");
        QTest::addColumn<int>("bookmarksAdded");
        QTest::newRow("text book") << "epub" << int(BookFormat::Epub) << "1111101" << 1;
        QTest::newRow("page images") << "pdf" << int(BookFormat::Pdf) << "1000010" << 0;
    }

    void controlsPerBook()
    {
        QFETCH(QString, suffix);
        QFETCH(int, format);
        QFETCH(QString, visible);
        QFETCH(int, bookmarksAdded);
        const QString path = m_fixture.home().filePath(QStringLiteral("kind.") + suffix);
        QVERIFY(librarybooks::write(path));
        BookDto book;
        book.full_path = path;
        // The title shown is the first line with text.
        book.title = QStringLiteral("\n  \n  First line  \nSecond line");
        book.format = format;
        const int id = m_fixture.books()->addBook(book);
        QSignalSpy titles(m_page, &ReadingPage::bookTitleChanged);
        QVERIFY(m_page->openBook(id));
        const QString title = titles.value(titles.size() - 1).value(0).toString();
        QVERIFY2(
            title == QLatin1String("First line") || title.startsWith(QLatin1String("First line: ")), qPrintable(title));
        QVERIFY(!title.contains(QLatin1String("Second")));
        ReadingToolBar* bar = m_page->toolBar();
        const QList<QWidget*> controls { bar->tocButton(), bar->notesButton(), bar->bookmarksButton(),
            bar->searchButton(), bar->readAloudBox(), bar->zoomBox(), bar->printButton() };
        QString shown;
        for (QWidget* control : controls)
            shown += control->isVisibleTo(bar) ? QLatin1Char('1') : QLatin1Char('0');
        QCOMPARE(shown, visible);

        // The bookmark key falls through where the book has no bookmarks.
        const QSharedPointer<BookContext> context = m_page->bookContext();
        QVERIFY(ReadingFixture::waitFor([context] { return context->currentPage() > 0; }));
        const int before = context->bookmarks().size();
        press(m_page, Hotkeys::Id::Sidebar_Bookmarks_Add);
        QCOMPARE(context->bookmarks().size(), before + bookmarksAdded);

        // The footer keeps the progress of a paginated book.
        QVERIFY(ReadingFixture::waitFor([context] { return context->pageCount() > 0; }));
        QCOMPARE(SettingsProvider::instance()->last_book_id(), id);
        QCOMPARE(SettingsProvider::instance()->last_book_page_count(), context->pageCount());
        QVERIFY(m_page->openBook(m_bookId));
    }

    void encodingMenu()
    {
        const QString path = m_fixture.home().filePath(QStringLiteral("plain.txt"));
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(QByteArray("A plain text book.\n").repeated(50));
        file.close();
        BookDto book;
        book.full_path = path;
        book.title = QStringLiteral("plain");
        book.format = ReadingStateFile::kPlainTextFormat;
        const int id = m_fixture.books()->addBook(book);
        QVERIFY(m_page->openBook(id));
        // Stored names may differ from the list in letter case.
        m_page->bookContext()->changeEncoding(QStringLiteral("windows-1251"));
        QCOMPARE(m_page->bookContext()->encoding(), QStringLiteral("windows-1251"));
        m_page->onEncodingMenuRequested();
        QPointer<QWidget> menu = m_page->encodingMenu();
        QVERIFY(menu);
        QStringList checked;
        for (KelButton* item : menu->findChildren<KelButton*>()) {
            if (item->isChecked())
                checked << item->text();
        }
        QCOMPARE(checked, QStringList { QString::fromLatin1(QTextCodec::codecForName("Windows-1251")->name()) });
        delete menu;
        QVERIFY(m_page->openBook(m_bookId));
    }

    void cleanupTestCase() { m_stack.reset(); }

    // A colour makes a note, a second one recolours it.
    void colours()
    {
        select();
        QVERIFY(m_popup->colorGroup()->setCheckedByUserData(NoteItem::Yellow));
        QTRY_COMPARE(m_fixture.context()->notes().size(), 1);
        QTRY_COMPARE(m_fixture.context()->notes().first().color, NoteItem::Yellow);
        const NoteItem note = m_fixture.context()->notes().first();
        QVERIFY(m_popup->colorGroup()->setCheckedByUserData(NoteItem::Purple));
        QTRY_COMPARE(m_fixture.context()->notes().first().color, NoteItem::Purple);
        QCOMPARE(m_fixture.context()->notes().size(), 1);
        QCOMPARE(m_popup->currentNoteId(), note.id);
        QCOMPARE(m_popup->mode(), int(NotePopup::NoteMode));
        QVERIFY(m_popup->deleteNoteButton()->isVisibleTo(m_popup.get()));
        QVERIFY(m_popup->deleteColorButton()->isVisibleTo(m_popup.get()));

        // Removing the note elsewhere closes the popup.
        m_fixture.context()->removeNote(note.id);
        QTRY_VERIFY(!m_popup->isVisible());
        QVERIFY(m_popup->currentNoteId().isEmpty());
    }

    void addNoteWithComment()
    {
        select();
        emit m_popup->addNoteButton()->clicked();
        QCOMPARE(m_fixture.context()->notes().size(), 1);
        QCOMPARE(m_fixture.context()->notes().first().color, NoteItem::Blue);
        QCOMPARE(m_popup->mode(), int(NotePopup::EditorMode));
        QVERIFY(m_popup->editor()->isVisibleTo(m_popup.get()));
        QTRY_VERIFY(m_popup->editor()->hasFocus());
        const QString id = m_popup->currentNoteId();
        QTest::keyClick(m_popup->editor(), Qt::Key_O);
        QCOMPARE(m_fixture.context()->findNote(id)->note, QStringLiteral("o"));
        QTest::keyClick(m_popup->editor(), Qt::Key_K);
        QCOMPARE(m_fixture.context()->findNote(id)->note, QStringLiteral("ok"));

        // Opening the note again shows its comment in the editor.
        m_popup->hide();
        m_popup->showForNote(QRect(40, 40, 80, 20), id);
        QCOMPARE(m_popup->mode(), int(NotePopup::EditorMode));
        QCOMPARE(m_popup->editor()->toPlainText(), QStringLiteral("ok"));
    }

    void deleteKeyOnSelection()
    {
        select();
        emit m_popup->addNoteButton()->clicked();
        QCOMPARE(m_fixture.context()->notes().size(), 1);
        m_popup->hide();
        // A fresh selection has no note to delete: the key is ignored.
        select();
        activateShortcut(Hotkeys::Id::SelText_RemoveNote);
        QCOMPARE(m_fixture.context()->notes().size(), 1);
        QVERIFY(m_popup->isVisible());
        m_popup->showForNote(QRect(40, 40, 80, 20), m_fixture.context()->notes().first().id);
        QCOMPARE(m_popup->mode(), int(NotePopup::NoteMode));
        activateShortcut(Hotkeys::Id::SelText_RemoveNote);
        QCOMPARE(m_fixture.context()->notes().size(), 0);
    }

    void longCommentStaysOnScreen()
    {
        select();
        emit m_popup->addNoteButton()->clicked();
        m_popup->editor()->setPlainText(QStringLiteral("line\n").repeated(200));
        QCOMPARE(m_popup->editor()->heightForWidth(m_popup->editor()->width()), TextEdit::kMaxHeight);
        QTRY_VERIFY(m_popup->editor()->height() > 300);
        const QRect screen = m_popup->screen()->availableGeometry().adjusted(20, 20, -20, -20);
        QTRY_VERIFY2(screen.contains(m_popup->geometry()),
            qPrintable(QStringLiteral("%1,%2 %3x%4")
                           .arg(m_popup->x())
                           .arg(m_popup->y())
                           .arg(m_popup->width())
                           .arg(m_popup->height())));
    }

private:
    void select()
    {
        QVERIFY(!m_fixture.selectOnScreen(10).isEmpty());
        m_popup->showForSelection(QRect(40, 40, 80, 20));
        QVERIFY(m_popup->isVisible());
        QCOMPARE(m_popup->mode(), int(NotePopup::SelectionMode));
    }

    void activateShortcut(Hotkeys::Id id)
    {
        const QKeySequence sequence = Hotkeys::sequences(id).value(0);
        bool found = false;
        for (QShortcut* shortcut : m_popup->findChildren<QShortcut*>()) {
            if (shortcut->key() == sequence) {
                emit shortcut->activated();
                found = true;
            }
        }
        QVERIFY(found);
    }

    ReadingFixture m_fixture;
    std::unique_ptr<QStackedWidget> m_stack;
    ReadingPage* m_page = nullptr;
    int m_bookId = -1;
    std::unique_ptr<NotePopup> m_popup;
};

int main(int argc, char** argv) { return runReadingTest<TestReadingPage>(argc, argv); }

#include "tst_readingpage.moc"
