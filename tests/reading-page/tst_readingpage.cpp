// The reading page over books of the library: reopening, the page's keys, the title, the
// encoding menu and a book that cannot be opened.

#include "readingfixture.h"
#include "readingpagetest.h"

#include "bookcontext.h"
#include "formats/bookformat.h"
#include "formats/pdf/binding/pdfenginefile.h"
#include "hotkeys.h"
#include "kelapplication.h"
#include "librarybooks.h"
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
        book.title = suffix;
        book.format = format;
        const int id = m_fixture.books()->addBook(book);
        QVERIFY(m_page->openBook(id));
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

    void titleOfFirstLines()
    {
        BookDto book = m_fixture.books()->bookById(m_bookId);
        book.title = QStringLiteral("\n  \n  First line  \nSecond line");
        const int id = m_fixture.books()->addBook(book);
        QVERIFY(id > 0);
        QSignalSpy titles(m_page, &ReadingPage::bookTitleChanged);
        QVERIFY(m_page->openBook(id));
        QVERIFY(!titles.isEmpty());
        const QString title = titles.last().first().toString();
        QVERIFY2(
            title == QLatin1String("First line") || title.startsWith(QLatin1String("First line: ")), qPrintable(title));
        QVERIFY(!title.contains(QLatin1String("Second")));
        QVERIFY(m_page->openBook(m_bookId));
    }

    void damagedBook()
    {
        const QString path = m_fixture.home().filePath(QStringLiteral("broken.epub"));
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("this is not a zip archive");
        file.close();
        BookDto book;
        book.full_path = path;
        book.title = QStringLiteral("broken");
        book.format = 0;
        const int id = m_fixture.books()->addBook(book);
        QVERIFY(id > 0);
        QVERIFY(!m_page->openBook(id));
        QVERIFY(!m_page->bookContext());
        // The next book opens from a page without a book.
        QVERIFY(m_page->openBook(m_bookId));
        QVERIFY(m_page->bookContext());
    }

    void cleanupTestCase() { m_stack.reset(); }

private:
    ReadingFixture m_fixture;
    std::unique_ptr<QStackedWidget> m_stack;
    ReadingPage* m_page = nullptr;
    int m_bookId = -1;
};

int main(int argc, char** argv) { return runReadingTest<TestReadingPage>(argc, argv); }

#include "tst_readingpage.moc"
