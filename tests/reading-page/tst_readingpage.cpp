// The reading page over books of the library; the note popup, side pages and loading cover on a book
// the fixture opens beside it; the bars and the print page over bare book contexts.

#include "../app-look/applooktest.h"
#include "readingfixture.h"
#include "smalldisk.h"
#include "testfiles.h"
#include "windowwaits.h"

#include "abstractviewer.h"
#include "appdirs.h"
#include "bookcontext.h"
#include "bookpageparams.h"
#include "checkedsave.h"
#include "enums.h"
#include "epubbuilder.h"
#include "formats/bookformat.h"
#include "formats/pdf/binding/pdfenginefile.h"
#include "formats/textdocument.h"
#include "hotkeys.h"
#include "imageviewer.h"
#include "import/bookfilereader.h"
#include "kelapplication.h"
#include "librarybooks.h"
#include "mainwindow/readingpage/bookmarksbox.h"
#include "mainwindow/readingpage/columncountselector.h"
#include "mainwindow/readingpage/fontfamilyselector.h"
#include "mainwindow/readingpage/linespacingselector.h"
#include "mainwindow/readingpage/notepopup.h"
#include "mainwindow/readingpage/notesbox.h"
#include "mainwindow/readingpage/printbox.h"
#include "mainwindow/readingpage/readingfooter.h"
#include "mainwindow/readingpage/readingpage.h"
#include "mainwindow/readingpage/readingspinner.h"
#include "mainwindow/readingpage/readingtoolbar.h"
#include "mainwindow/readingpage/searchbox.h"
#include "mainwindow/readingpage/settingsbox.h"
#include "mainwindow/readingpage/slidebox.h"
#include "mainwindow/readingpage/styleselector.h"
#include "mainwindow/readingpage/tocbox.h"
#include "metrics/metricsender.h"
#include "mobiwriter.h"
#include "models/bookmarkmodel.h"
#include "models/bookmodel.h"
#include "models/tocmodel.h"
#include "quitsignals.h"
#include "readingservices.h"
#include "readingstatefile.h"
#include "settingsprovider.h"
#include "sevenzwriter.h"
#include "testpaths.h"
#include "textbookchapter.h"
#include "textviewer.h"
#include "utils/kelgeometryutils.h"
#include "widgets/kelbutton.h"
#include "widgets/kelcombobox.h"
#include "widgets/kelexclusivebuttongroup.h"
#include "widgets/kellabel.h"
#include "widgets/kellineedit.h"
#include "widgets/kelplaintextedit.h"
#include "widgets/kelscrollarea.h"
#include "widgets/kelslider.h"
#include "widgets/kelspinbox.h"
#include "widgets/labeled.h"
#include "widgets/wordwraplabel.h"
#include "windows/kelpopupmenu.h"

#include <QAbstractItemModelTester>
#include <QMimeData>
#include <QPaintEvent>
#include <QRandomGenerator>
#include <QScopeGuard>
#include <QScreen>
#include <QScrollBar>
#include <QShortcut>
#include <QSignalSpy>
#include <QStackedWidget>
#include <QTextCodec>
#include <QTextDocument>
#include <QToolTip>
#include <QUuid>
#include <QWebFrame>
#include <QWheelEvent>
#include <QtTest>

#include <algorithm>
#include <cmath>
#include <csignal>
#include <functional>
#include <tuple>

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
// Whether a guarded object still lived when the watched one got the last event of its destruction.
class DestroyWatcher : public QObject {
public:
    DestroyWatcher(QObject* watched, QObject* guarded)
        : m_guarded(guarded)
    {
        watched->installEventFilter(this);
    }
    bool destroyed = false;
    bool guardedLived = false;

protected:
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::Destroy) {
            destroyed = true;
            guardedLived = !m_guarded.isNull();
        }
        return false;
    }

private:
    QPointer<QObject> m_guarded;
};

// The regions a widget paints once the box is hidden; before that only their count.
class PaintRecorder : public QObject {
public:
    explicit PaintRecorder(QWidget* box)
        : m_box(box)
    {
    }
    int whileShown = 0;
    QList<QRegion> afterHidden;

protected:
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::Paint) {
            if (m_box->isVisible())
                ++whileShown;
            else
                afterHidden << static_cast<QPaintEvent*>(event)->region();
        }
        return false;
    }

private:
    QWidget* m_box;
};

// Printers "a", "b", ... described as "Printer A", ...; each offers A4 (its default) and Letter.
class FakeCatalogue : public PrinterCatalogue {
public:
    QStringList names;
    QString defaultName;
    QList<QPrinter::ColorMode> colorModes;

    QStringList printerNames() const override { return names; }
    QString defaultPrinterName() const override { return defaultName; }
    bool hasPrinter(const QString& name) const override { return names.contains(name); }
    QString description(const QString& name) const override { return QStringLiteral("Printer ") + name.toUpper(); }
    QList<QPageSize> supportedPageSizes(const QString&) const override
    {
        return { QPageSize(QPageSize::Letter), QPageSize(QPageSize::A4) };
    }
    QPageSize defaultPageSize(const QString&) const override { return defaultSize; }
    QPageSize defaultSize = QPageSize(QPageSize::A4);
    QList<QPrinter::ColorMode> supportedColorModes(const QString&) const override { return colorModes; }
    std::unique_ptr<QPrinter> createPrinter(const QString& name, QPrinter::PrinterMode mode) const override
    {
        if (!hasPrinter(name))
            return nullptr;
        auto printer = std::make_unique<QPrinter>(mode);
        printer->setOutputFormat(QPrinter::PdfFormat);
        return printer;
    }
};

SettingsProvider* settings() { return SettingsProvider::instance(); }

} // namespace

class TestReadingPage : public QObject {
    Q_OBJECT

    // Points at the first third of the page slider: its tip names the chapter there in its first
    // line. True when no widget around the tip cuts it and the upper half of that line is drawn in
    // the window.
    bool tipShowsChapterWhole()
    {
        KelSlider* slider = m_page->footer()->slider();
        KelButton* tip = slider->tooltip();
        const QPoint at(slider->width() / 3, slider->height() / 2);
        QMouseEvent move(QEvent::MouseMove, at, slider->mapToGlobal(at), Qt::NoButton, Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(slider, &move);
        const QString chapter = m_page->bookContext()->chapterTitleForPage(
            m_page->footer()->sliderValueToPage(slider->valueFromPosition(at)));
        if (!ReadingFixture::waitFor([&] { return tip->isVisible(); }, 2000) || chapter.isEmpty()
            || tip->text() != chapter)
            return false;
        for (QWidget* around = tip->parentWidget(); around; around = around->parentWidget()) {
            if (!around->rect().contains(QRect(tip->mapTo(around, QPoint()), tip->size())))
                return false;
        }
        // The upper half of the line, as the tip draws it alone, is what the window shows there once
        // the tip has faded in; the rounded ends are left out.
        QWidget* window = m_page->window();
        const QPoint origin = tip->mapTo(window, QPoint());
        const int lineTop = tip->paddings().top();
        const int halfLine = tip->fontMetrics().height() / 2;
        const bool drawn = ReadingFixture::waitFor(
            [&] {
                const QImage alone = tip->grab().toImage();
                const QImage shown = window->grab().toImage();
                int ink = 0;
                int differ = 0;
                for (int y = lineTop; y < lineTop + halfLine; ++y) {
                    for (int x = 6; x < tip->width() - 6; ++x) {
                        const QColor own = alone.pixelColor(x, y);
                        ink += !near(own, kelStyle()->color(2), 60);
                        differ += !near(shown.pixelColor(origin + QPoint(x, y)), own, 24);
                    }
                }
                return ink > 10 && differ == 0;
            },
            2000);
        // Its pointer, at its foot, stands over the position of the page it names.
        const int named
            = tip->mapFromGlobal(slider->mapToGlobal(slider->positionFromValue(slider->valueFromPosition(at)))).x();
        const QRegion outline = tip->mask();
        const int foot = tip->height() - 3;
        const bool pointed = outline.contains(QPoint(named, foot)) && !outline.contains(QPoint(named - 12, foot))
            && !outline.contains(QPoint(named + 12, foot)) && outline.contains(QPoint(named - 12, foot - 8));
        tip->hide();
        return drawn && pointed;
    }

private slots:
    void initTestCase()
    {
        m_profiles = std::make_unique<Profiles>();
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
        m_notesId = m_fixture.addEpub(QStringLiteral("notes.epub"), 3, 4000);
        QVERIFY(m_notesId > 0);
        m_context = m_fixture.open(m_notesId);
        QVERIFY(m_context);
        m_popup = std::make_unique<NotePopup>();
        m_popup->setBookContext(m_context);
    }

    // Every case starts without notes and bookmarks.
    void cleanup()
    {
        m_popup->hide();
        for (const BookmarkItem& bookmark : m_context->bookmarks())
            m_context->removeBookmark(bookmark.id);
        for (const NoteItem& note : m_context->notes())
            m_context->removeNote(note.id);
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

    // A book file replaced at its path opens anew with its own text, and the library takes the new
    // file's title, author and cover and measures its progress again; a title the user typed stays.
    // An open book moved to the trash is let go, its state saved first.
    void reopenReadsAReplacedFile()
    {
        const QString path = m_fixture.home().filePath(QStringLiteral("replaced.epub"));
        const auto replace = [&](const QString& name, unsigned colour, int age, int paragraphs = 0) {
            EpubBuilder epub;
            epub.setTitle(name + QStringLiteral(" Title"));
            epub.setAuthor(name + QStringLiteral(" Author"));
            if (colour)
                epub.setCover(QStringLiteral("cover.png"), EpubBuilder::png(40, 60, colour));
            epub.addChapter(QStringLiteral("c1"), QStringLiteral("ch1.xhtml"), QStringLiteral("One"),
                QStringLiteral("<p>The %1 text.</p>").arg(name)
                    + QStringLiteral("<p>%1</p>")
                          .arg(QStringLiteral("More of it. ").repeated(40))
                          .repeated(paragraphs));
            QFile file(path);
            return epub.write(path) && file.open(QIODevice::ReadWrite)
                && file.setFileTime(QDateTime::currentDateTime().addSecs(-age), QFileDevice::FileModificationTime);
        };
        const auto shows = [&](const QString& name) { return pageShows(QStringLiteral("The %1 text.").arg(name)); };
        const auto coverColour = [](const BookDto& book) {
            const QImage cover(book.cover);
            return cover.isNull() ? QColor() : cover.pixelColor(cover.width() / 2, cover.height() / 2);
        };
        // Added as the library adds a book: its record read from the file.
        QVERIFY(replace(QStringLiteral("First"), 0xcc0000, 120));
        BookModel* books = m_fixture.books();
        const int id = addReadFromFile(path);
        QVERIFY(id > 0);
        QVERIFY(m_page->openBook(id));
        QVERIFY(shows(QStringLiteral("First")));
        const QSharedPointer<BookContext> first = m_page->bookContext();
        BookDto read = books->bookById(id);
        read.max_position = 80;
        QVERIFY(books->updateBookInfo(read));

        // Long enough that its first page is far from its end: the progress measured anew on the
        // new text, once its pages are counted, is below the old one.
        QVERIFY(replace(QStringLiteral("Second"), 0x0000cc, 60, 150));
        QVERIFY(m_page->openBook(id));
        const QSharedPointer<BookContext> second = m_page->bookContext();
        QVERIFY(second != first);
        QVERIFY(shows(QStringLiteral("Second")));
        QVERIFY(
            ReadingFixture::waitFor([&] { return second->pageCount() > 1 && books->bookById(id).max_position > 0; }));
        BookDto stored = books->bookById(id);
        QCOMPARE(QStringList({ stored.title, stored.author }), QStringList({ "Second Title", "Second Author" }));
        QCOMPARE(coverColour(stored), QColor(0x0000cc));
        QVERIFY2(stored.max_position < 80, qPrintable(QString::number(stored.max_position)));

        // The user's title stays through the next replacement; a file without a cover shows none.
        stored.title = QStringLiteral("My Own Title");
        QVERIFY(books->setData(books->indexById(id), QVariant::fromValue(stored), Enums::UpdateItem));
        QVERIFY(replace(QStringLiteral("Third"), 0, 0));
        QVERIFY(m_page->openBook(id));
        QVERIFY(shows(QStringLiteral("Third")));
        stored = books->bookById(id);
        QCOMPARE(QStringList({ stored.title, stored.author }), QStringList({ "My Own Title", "Third Author" }));
        QVERIFY(!coverColour(stored).isValid());

        // Moved to the trash, the open book is let go, its state saved where it belongs; emptying the
        // trash then leaves nothing to be written into the folder that went with it.
        QStringList notices;
        const QString besideFolder = m_context->dataFolder();
        ReadingServices::setStorageNoticeHandler(
            [&](ReadingServices::StorageNotice, const QString& file, checkedsave::Failure) {
                if (!file.startsWith(besideFolder))
                    notices << file;
            });
        const auto restore = qScopeGuard([] { ReadingServices::setStorageNoticeHandler({}); });
        const int trashed = m_fixture.addEpub(QStringLiteral("trashed.epub"), 2, 2000);
        QVERIFY(m_page->openBook(trashed));
        QVERIFY(ReadingFixture::waitFor([this] { return m_page->bookContext()->currentPage() > 0; }));
        const QString folder = bookDataDir(books->bookById(trashed).full_path);
        QVERIFY(testfiles::write(ReadingStateFile::filePath(folder), "{}"));
        QVERIFY(books->setData(books->indexById(trashed), QVariant(), Enums::ToTrash));
        QVERIFY(!m_page->bookContext());
        QVERIFY(testfiles::read(ReadingStateFile::filePath(folder)).contains("ReadingPosition"));
        QVERIFY(books->clearTrash());
        QVERIFY(!QFileInfo::exists(folder));

        QVERIFY(m_page->openBook(m_bookId));
        QVERIFY(ReadingFixture::waitFor([this] { return m_page->bookContext()->currentPage() > 0; }));
        QCOMPARE(notices, QStringList());
    }

    // A book file touched with the same bytes (a copy, a sync, a restore) is the same book: its
    // progress, its unpacked files and the title the user shortened stay, and its stamp takes the new
    // time; a large one is hashed while the page shows that a book is on its way. A file of another
    // content starts its progress again and keeps the user's title all the same.
    void touchedFileIsTheSameBook_data()
    {
        QTest::addColumn<QString>("fileTitle");
        QTest::addColumn<QString>("userTitle");
        QTest::addColumn<bool>("sameBytes");
        QTest::addColumn<int>("padding"); // bytes of a stored resource that make a large file
        QTest::newRow("shortened at a bracket, touched") << "Dune Messiah (Dune Chronicles, Book 2)"
                                                         << "Dune Messiah" << true << 0;
        QTest::newRow("shortened at a blank, touched") << "The Hobbit or There and Back Again"
                                                       << "The Hobbit" << true << 0;
        QTest::newRow("large, touched") << "War and Peace"
                                        << "War" << true << 9 * 1024 * 1024;
        QTest::newRow("replaced") << "Dune Messiah (Dune Chronicles, Book 2)"
                                  << "Dune Messiah" << false << 0;
    }

    void touchedFileIsTheSameBook()
    {
        QFETCH(QString, fileTitle);
        QFETCH(QString, userTitle);
        QFETCH(bool, sameBytes);
        QFETCH(int, padding);
        const QString path
            = m_fixture.home().filePath(QStringLiteral("touched, %1.epub").arg(QLatin1String(QTest::currentDataTag())));
        const QDateTime now = QDateTime::currentDateTime();
        const auto setAge = [&](int age) {
            QFile file(path);
            return file.open(QIODevice::ReadWrite)
                && file.setFileTime(now.addSecs(-age), QFileDevice::FileModificationTime);
        };
        const auto write = [&](const QString& words, int age) {
            EpubBuilder epub;
            epub.setTitle(fileTitle);
            epub.setAuthor(QStringLiteral("Frank Herbert"));
            // Pages enough that the first of them is far from the progress stored.
            epub.addChapter(QStringLiteral("c1"), QStringLiteral("ch1.xhtml"), QStringLiteral("One"),
                QStringLiteral("<p>%1</p>").arg(words)
                    + QStringLiteral("<p>%1</p>")
                          .arg(QStringLiteral("A line of the book to fill its pages. ").repeated(40))
                          .repeated(12));
            if (padding > 0) {
                QByteArray noise(padding, '\0');
                QRandomGenerator random(7);
                random.fillRange(reinterpret_cast<quint32*>(noise.data()), padding / 4);
                epub.addResource(QStringLiteral("pad"), QStringLiteral("pad.bin"), noise,
                    QStringLiteral("application/octet-stream"));
            }
            return epub.write(path) && setAge(age);
        };
        const auto stamp = [&] {
            const QDir folder(bookDataDir(path));
            return testfiles::read(folder.filePath(folder.dirName() + QStringLiteral(".source"))).trimmed().split(' ');
        };
        QVERIFY(write(QStringLiteral("The first words."), 120));
        QVERIFY(QFileInfo(path).size() > padding);
        BookModel* books = m_fixture.books();
        const int id = addReadFromFile(path);
        QVERIFY(id > 0);
        QVERIFY(m_page->openBook(id));
        QVERIFY(pageShows(QStringLiteral("The first words.")));
        const QSharedPointer<TextDocument> document = m_page->bookContext()->textDocument();
        const QString chapter = document->chapterFilePath(document->nextChapter(QString()));
        // The progress the reader measured on the first page.
        QVERIFY(ReadingFixture::waitFor([&] { return books->bookById(id).max_position > 0; }));
        const int progress = books->bookById(id).max_position;
        BookDto typed = books->bookById(id);
        QCOMPARE(typed.title, fileTitle);
        typed.title = userTitle;
        QVERIFY(books->setData(books->indexById(id), QVariant::fromValue(typed), Enums::UpdateItem));
        QVERIFY(testfiles::write(chapter, testfiles::read(chapter) + "<!-- kept -->"));
        // The hash of a large file follows its stamp in the background.
        QTRY_COMPARE(stamp().value(2).size(), 40);

        if (sameBytes)
            QVERIFY(setAge(30));
        else
            QVERIFY(write(QStringLiteral("Other words of another edition."), 30));
        // What the page shows while the book opens.
        QSet<int> modes;
        QTimer watch;
        connect(&watch, &QTimer::timeout, this, [&] { modes << m_page->spinner()->mode(); });
        watch.start(5);
        QVERIFY(m_page->openBook(id));
        watch.stop();
        // As the opening left it, before the reader measures the book again.
        const BookDto stored = books->bookById(id);
        QCOMPARE(stored.title, userTitle);
        QCOMPARE(stored.max_position, sameBytes ? progress : 0);
        QVERIFY(pageShows(sameBytes ? QStringLiteral("The first words.") : QStringLiteral("Other words")));
        QCOMPARE(testfiles::read(chapter).contains("<!-- kept -->"), sameBytes);
        QCOMPARE(stamp().value(1).toLongLong(), QFileInfo(path).lastModified().toMSecsSinceEpoch());
        QTRY_COMPARE(stamp().value(2).size(), 40);
        if (padding > 0)
            QVERIFY2(modes.contains(ReadingSpinner::LoadBook), "the page did not show that a book is on its way");

        QVERIFY(m_page->openBook(m_bookId));
        QVERIFY(ReadingFixture::waitFor([this] { return m_page->bookContext()->currentPage() > 0; }));
    }

    // With the whole data folder read-only, a book never opened before is read from a folder of the
    // run: its first page shows, nothing is told beyond the start's box, and the notes count marks
    // that nothing of it is stored. Comic pages and books packed in archives are unpacked there too.
    void readOnlyDataFolderShowsTheBook_data()
    {
        QTest::addColumn<QString>("fileName");
        QTest::addColumn<QString>("packedText"); // a plain text packed in a 7z archive
        QTest::newRow("EPUB") << "never opened.epub" << QString();
        QTest::newRow("CBZ") << "never opened.cbz" << QString();
        QTest::newRow("CBR") << "never opened.cbr" << QString();
        QTest::newRow("PDF") << "never opened.pdf" << QString();
        QTest::newRow("FB2 in ZIP") << "never opened.zip" << QString();
        QTest::newRow("FB2 in 7z") << "never opened.7z" << QString();
        QTest::newRow("TXT in 7z") << "never opened text.7z"
                                   << "Chapter 1 begins here, in plain text.";
    }
    void readOnlyDataFolderShowsTheBook()
    {
        QFETCH(QString, fileName);
        QFETCH(QString, packedText);
        const QString path = m_fixture.home().filePath(fileName);
        const QString suffix = QFileInfo(path).suffix();
        const int format = bookFormatFromName(suffix);
        const bool image = format == BookFormat::Pdf || format == BookFormat::Cbz || format == BookFormat::Cbr;
        int id = -1;
        if (suffix == QLatin1String("epub")) {
            id = m_fixture.addEpub(fileName, 3, 4000);
        } else {
            if (!packedText.isEmpty()) {
                SevenZWriter archive(path);
                archive.add(QStringLiteral("never opened.txt"), packedText.toUtf8());
                QVERIFY(archive.write());
            } else {
                QVERIFY(librarybooks::write(path));
            }
            BookDto book;
            book.full_path = path;
            book.title = fileName;
            book.format = format;
            id = m_fixture.books()->addBook(book);
        }
        QVERIFY(id > 0);
        QStringList notices;
        // The book the fixture keeps open beside the page saves its state on its own.
        const QString besideFolder = m_context->dataFolder();
        ReadingServices::setStorageNoticeHandler(
            [&](ReadingServices::StorageNotice notice, const QString& file, checkedsave::Failure) {
                if (!file.startsWith(besideFolder))
                    notices << QStringLiteral("%1 %2").arg(notice).arg(file);
            });
        const auto restore = qScopeGuard([] { ReadingServices::setStorageNoticeHandler({}); });
        // The book open now is let go while its state can be saved.
        m_page->closeBook();
        ReadOnlyPlace readOnly(QFileInfo(booksDir()).absolutePath());
        if (!readOnly.isReadOnly())
            QSKIP("the data folder cannot be made read-only here");
        QVERIFY(m_page->openBook(id));
        QVERIFY(ReadingFixture::waitFor([this] { return m_page->bookContext()->currentPage() > 0; }));
        const QSharedPointer<BookContext> context = m_page->bookContext();
        if (suffix == QLatin1String("epub") || !packedText.isEmpty()) {
            QVERIFY(pageShows(QStringLiteral("Chapter 1")));
        } else {
            // The first page, in the cover's colour, not a blank view.
            auto* viewer = dynamic_cast<QWidget*>(context->viewer());
            QVERIFY(viewer);
            QVERIFY(ReadingFixture::waitFor([viewer] {
                const QImage shown = viewer->grab().toImage();
                for (int x = 0; x < shown.width(); ++x) {
                    if (near(shown.pixelColor(x, shown.height() / 2), librarybooks::BookRecipe().coverColor))
                        return true;
                }
                return false;
            }));
        }
        if (!image) {
            QVERIFY(context->textDocument()->basePath().startsWith(runTempDir()));
            QCOMPARE(m_page->toolBar()->notesButton()->fullText(), QStringLiteral("Notes (0*)"));
        }
        QVERIFY(context->hasUnsavedState());
        context->saveSettings();
        QVERIFY(ReadingFixture::waitFor([&] { return context->pageCount() > 0; }));
        QCoreApplication::processEvents();
        QCOMPARE(notices.join(QStringLiteral("; ")), QString());
        QVERIFY(!QFileInfo::exists(bookDataDir(path)));
        readOnly.release();
        QVERIFY(m_page->openBook(m_bookId));
        QVERIFY(ReadingFixture::waitFor([this] { return m_page->bookContext()->currentPage() > 0; }));
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
        // Back in the window the page has no native window of its own left: the server would hand
        // it the mouse with positions relative to where that window stays. The keys go on to the book.
        QVERIFY(!m_page->windowHandle());
        QVERIFY(!m_page->internalWinId());
        QCOMPARE(m_stack->focusWidget(), dynamic_cast<QWidget*>(m_page->bookContext()->viewer()));

        // A box closed while one of its controls had the keys gives them back to the book: a hidden
        // font-size slider would take "+" and "-" from the zoom.
        m_page->showSideBar(ReadingEnums::Settings);
        QTRY_VERIFY(m_page->rightBox()->isVisible());
        auto* settings = qobject_cast<SettingsBox*>(m_page->sideBar(ReadingEnums::Settings));
        QVERIFY(settings);
        settings->fontSizeEditor()->editor()->setFocus();
        QCOMPARE(m_stack->focusWidget(), settings->fontSizeEditor()->editor());
        QTest::keyClick(m_stack->focusWidget(), Qt::Key_Escape);
        QVERIFY(!group->checkedButton());
        QTRY_VERIFY(!m_page->rightBox()->isVisible());
        QCOMPARE(m_stack->focusWidget(), dynamic_cast<QWidget*>(m_page->bookContext()->viewer()));
    }

    // While a box slides, the page beneath repaints in strips whose edge cuts through the text and
    // leaves a pixel column of it undrawn; once the box is gone the whole page is drawn again.
    void closedBoxRepaintsPage_data()
    {
        QTest::addColumn<int>("sideBar");
        QTest::newRow("contents, left") << int(ReadingEnums::Toc);
        QTest::newRow("search, left") << int(ReadingEnums::Search);
        QTest::newRow("settings, right") << int(ReadingEnums::Settings);
    }

    void closedBoxRepaintsPage()
    {
        QFETCH(int, sideBar);
        const auto id = ReadingEnums::SideBar(sideBar);
        QWidget* viewer = dynamic_cast<QWidget*>(m_page->bookContext()->viewer());
        QVERIFY(viewer && viewer->isVisible());
        SlideBox* box = (id & ReadingEnums::LeftSideMask) ? m_page->leftBox() : m_page->rightBox();
        m_page->showSideBar(id);
        QTRY_VERIFY(box->isVisible() && box->opacity() >= 1.0);
        QTest::qWait(50);

        PaintRecorder painted(box);
        viewer->installEventFilter(&painted);
        m_page->closeSideBars();
        QTRY_VERIFY(!box->isVisible());
        QTest::qWait(50);
        viewer->removeEventFilter(&painted);
        QVERIFY(painted.whileShown > 0); // the slide repainted the page in strips
        const auto whole = std::find_if(painted.afterHidden.cbegin(), painted.afterHidden.cend(),
            [viewer](const QRegion& region) { return (QRegion(viewer->rect()) - region).isEmpty(); });
        QVERIFY2(whole != painted.afterHidden.cend(),
            qPrintable(QStringLiteral("%1 paints after the box hid").arg(painted.afterHidden.size())));
    }

    // The viewer hides while it loads a chapter; a repaint of the window meanwhile (an open side box
    // causes them) shows the last page there, not an empty one. Sampled from the window's backing store.
    void chapterLoadKeepsLastPage()
    {
        const QSharedPointer<BookContext> context = m_page->bookContext();
        QWidget* viewer = dynamic_cast<QWidget*>(context->viewer());
        QVERIFY(viewer && viewer->isVisible());
        const QStringList chapters = context->textDocument()->chapters();
        QVERIFY(chapters.size() >= 2);
        context->navigateToLink(chapters.first() + QStringLiteral("?kelpath=start"));
        QTRY_VERIFY(viewer->isVisible() && context->currentPage() > 0);
        m_page->showSideBar(ReadingEnums::Toc);
        QTRY_VERIFY(m_page->leftBox()->isVisible() && m_page->leftBox()->opacity() >= 1.0);
        // Text pixels right of the box, where the left box's shadow does not reach.
        const QRect area = QRect(viewer->mapTo(m_stack.get(), QPoint(0, 0)), viewer->size())
                               .adjusted(m_page->leftBox()->width() + 80, 20, -20, -20);
        const auto textPixels = [&] {
            const QImage shown = QGuiApplication::primaryScreen()->grabWindow(m_stack->winId()).toImage();
            int dark = 0;
            for (int y = area.top(); y <= area.bottom(); y += 2) {
                for (int x = area.left(); x <= area.right(); x += 2)
                    dark += qGray(shown.pixel(x, y)) < 128 ? 1 : 0;
            }
            return dark;
        };
        m_stack->repaint();
        const int before = textPixels();
        QVERIFY(before > 100);

        context->navigateToLink(chapters.at(1) + QStringLiteral("?kelpath=start"));
        QVERIFY(viewer->isHidden());
        m_stack->repaint();
        const int loading = textPixels();
        QVERIFY2(loading == before, qPrintable(QStringLiteral("%1 text pixels, %2 before").arg(loading).arg(before)));
        QTRY_VERIFY(viewer->isVisible());

        context->navigateToLink(chapters.first() + QStringLiteral("?kelpath=start"));
        QTRY_VERIFY(viewer->isVisible());
        m_page->closeSideBars();
        QTRY_VERIFY(!m_page->leftBox()->isVisible());
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
        QTest::newRow("plain text") << "txt" << int(BookFormat::Txt) << "1111101" << 1;
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
        // Every total the footer shows and the library's strip keeps.
        QStringList totals;
        QObject guard;
        connect(settings(), &SettingsProvider::last_book_page_countChanged, &guard,
            [&](int count) { totals << QString::number(count); });
        QVERIFY(m_page->openBook(id));
        connect(m_page->bookContext().data(), &BookContext::pageCountChanged, &guard, [&] {
            if (m_page->footer()->isPaginated())
                totals << m_page->footer()->countLabel()->text();
        });
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

        // The footer keeps the progress of a paginated book. Its only total is that of the page
        // as laid out on screen, not one of the viewer before the page gave it its size.
        QVERIFY(ReadingFixture::waitFor([context] { return context->pageCount() > 0; }));
        QTest::qWait(1500);
        QCOMPARE(SettingsProvider::instance()->last_book_id(), id);
        QCOMPARE(SettingsProvider::instance()->last_book_page_count(), context->pageCount());
        totals.removeDuplicates();
        QCOMPARE(totals, QStringList { QString::number(context->pageCount()) });
        QVERIFY(m_page->openBook(m_bookId));
    }

    // Escape closes a side page over a page-image book as over a text book, wherever the focus is.
    void escapeClosesSidePage()
    {
        const QString path = m_fixture.home().filePath(QStringLiteral("escape.pdf"));
        QVERIFY(librarybooks::write(path));
        BookDto book;
        book.full_path = path;
        book.title = QStringLiteral("escape");
        book.format = int(BookFormat::Pdf);
        const int pdf = m_fixture.books()->addBook(book);
        QApplication::setActiveWindow(m_stack.get());
        for (int id : { pdf, m_bookId }) {
            QVERIFY(m_page->openBook(id));
            m_page->toolBar()->settingsButton()->setChecked(true);
            QTRY_VERIFY(m_page->rightBox()->isVisible());
            // The focus in the viewer, or on any control of the page the reader last used.
            QList<QWidget*> targets { QApplication::focusWidget() };
            QList<QWidget*> controls = m_page->sideBar(ReadingEnums::Settings)->findChildren<QWidget*>();
            controls << m_page->toolBar()->findChildren<QWidget*>();
            for (QWidget* control : controls) {
                if (control->isVisible() && control->focusPolicy() != Qt::NoFocus)
                    targets << control;
            }
            for (QWidget* focus : targets) {
                if (!m_page->rightBox()->isVisible()) {
                    m_page->toolBar()->settingsButton()->setChecked(true);
                    QTRY_VERIFY(m_page->rightBox()->isVisible());
                }
                focus->setFocus();
                QTest::keyClick(focus, Qt::Key_Escape);
                QTRY_VERIFY2(!m_page->rightBox()->isVisible(), focus->metaObject()->className());
            }
        }
    }

    void encodingMenu()
    {
        const QString path = m_fixture.home().filePath(QStringLiteral("plain.txt"));
        QVERIFY(testfiles::write(path, QByteArray("A plain text book.\n").repeated(50)));
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

    void cleanupTestCase()
    {
        // The page goes as the program lets it go, with its book open. The slider's tip stands in the
        // page, out of the footer: the footer, and its filter on the tip, are gone before the tip dies.
        DestroyWatcher tipEnd(m_page->footer()->slider()->tooltip(), m_page->footer());
        m_stack.reset();
        QVERIFY(tipEnd.destroyed);
        QVERIFY(!tipEnd.guardedLived);
        m_popup.reset();
        m_context.reset();
    }

    // A colour makes a note, a second one recolours it; removing it elsewhere closes the popup. The
    // delete key acts only on a note.
    void colours()
    {
        select();
        QVERIFY(m_popup->colorGroup()->setCheckedByUserData(NoteItem::Yellow));
        QTRY_COMPARE(m_context->notes().size(), 1);
        QTRY_COMPARE(m_context->notes().first().color, NoteItem::Yellow);
        const NoteItem note = m_context->notes().first();
        QVERIFY(m_popup->colorGroup()->setCheckedByUserData(NoteItem::Purple));
        QTRY_COMPARE(m_context->notes().first().color, NoteItem::Purple);
        QCOMPARE(m_context->notes().size(), 1);
        QCOMPARE(m_popup->currentNoteId(), note.id);
        QCOMPARE(m_popup->mode(), int(NotePopup::NoteMode));
        QVERIFY(m_popup->deleteNoteButton()->isVisibleTo(m_popup.get()));
        QVERIFY(m_popup->deleteColorButton()->isVisibleTo(m_popup.get()));

        m_context->removeNote(note.id);
        QTRY_VERIFY(!m_popup->isVisible());
        QVERIFY(m_popup->currentNoteId().isEmpty());

        select();
        emit m_popup->addNoteButton()->clicked();
        QCOMPARE(m_context->notes().size(), 1);
        m_popup->hide();
        // A fresh selection has no note to delete: the key is ignored.
        select();
        activateShortcut(Hotkeys::Id::SelText_RemoveNote);
        QCOMPARE(m_context->notes().size(), 1);
        QVERIFY(m_popup->isVisible());
        m_popup->showForNote(QRect(40, 40, 80, 20), m_context->notes().first().id);
        QCOMPARE(m_popup->mode(), int(NotePopup::NoteMode));
        activateShortcut(Hotkeys::Id::SelText_RemoveNote);
        QCOMPARE(m_context->notes().size(), 0);
    }

    void addNoteWithComment()
    {
        select();
        emit m_popup->addNoteButton()->clicked();
        QCOMPARE(m_context->notes().size(), 1);
        QCOMPARE(m_context->notes().first().color, NoteItem::Blue);
        QCOMPARE(m_popup->mode(), int(NotePopup::EditorMode));
        QVERIFY(m_popup->editor()->isVisibleTo(m_popup.get()));
        QTRY_VERIFY(m_popup->editor()->hasFocus());
        const QString id = m_popup->currentNoteId();
        QTest::keyClick(m_popup->editor(), Qt::Key_O);
        QCOMPARE(m_context->findNote(id)->note, QStringLiteral("o"));
        QTest::keyClick(m_popup->editor(), Qt::Key_K);
        QCOMPARE(m_context->findNote(id)->note, QStringLiteral("ok"));

        // Opening the note again shows its comment in the editor.
        m_popup->hide();
        m_popup->showForNote(QRect(40, 40, 80, 20), id);
        QCOMPARE(m_popup->mode(), int(NotePopup::EditorMode));
        QCOMPARE(m_popup->editor()->toPlainText(), QStringLiteral("ok"));

        // A long comment keeps the popup on screen.
        m_popup->editor()->setPlainText(QStringLiteral("line\n").repeated(200));
        QCOMPARE(m_popup->editor()->heightForWidth(m_popup->editor()->width()), TextEdit::kMaxHeight);
        QTRY_VERIFY(m_popup->editor()->height() > 300);
        const QRect screen = m_popup->screen()->availableGeometry().adjusted(20, 20, -20, -20);
        QTRY_VERIFY(screen.contains(m_popup->geometry()));
    }

    // The selection popup and the notes' colour popup stay on the screen and within the reading
    // window where they fit there, beside what they belong to, wherever the window is.
    void popupsKeepToTheWindowAndTheScreen_data()
    {
        QTest::addColumn<QPoint>("windowAt");
        QTest::newRow("inside the screen") << QPoint(100, 90);
        QTest::newRow("past the right and bottom edges") << QPoint(450, 300);
        QTest::newRow("past the left and top edges") << QPoint(-150, -100);
    }
    void popupsKeepToTheWindowAndTheScreen()
    {
        QFETCH(QPoint, windowAt);
        const QRect oldGeometry = m_stack->geometry();
        m_stack->setGeometry(QRect(windowAt, QSize(600, 420)));
        NotePopup* popup = m_page->notePopup();
        struct Restore {
            QWidget* window;
            QRect geometry;
            QWidget* popup;
            ~Restore()
            {
                popup->hide();
                window->setGeometry(geometry);
            }
        } restore { m_stack.get(), oldGeometry, popup };
        QTRY_COMPARE(m_stack->geometry().topLeft(), windowAt);
        const QRect screen = m_stack->screen()->availableGeometry();
        const QRect room = screen.intersected(m_stack->frameGeometry());
        const auto keptIn = [&](QWidget* popup, const QRect& anchor) {
            const QRect shown = popup->geometry();
            return screen.contains(shown) && room.contains(shown) && !shown.intersects(anchor)
                ? QString()
                : QStringLiteral("%1 at %2,%3 %4x%5 beside %6,%7")
                      .arg(popup->metaObject()->className())
                      .arg(shown.x())
                      .arg(shown.y())
                      .arg(shown.width())
                      .arg(shown.height())
                      .arg(anchor.x())
                      .arg(anchor.y());
        };

        // A selection near each corner of the window's part on the screen.
        auto* viewer = dynamic_cast<QWidget*>(m_page->bookContext()->viewer());
        const QRect text = room.intersected(KelUtils::globalGeometry(viewer)).adjusted(10, 10, -60, -30);
        for (const QPoint& corner : { text.topLeft(), text.topRight(), text.bottomLeft(), text.bottomRight() }) {
            const QRect anchor(corner, QSize(50, 20));
            popup->showForSelection(QRect(viewer->mapFromGlobal(anchor.topLeft()), anchor.size()));
            QTRY_VERIFY2(keptIn(popup, anchor).isEmpty(), qPrintable(keptIn(popup, anchor)));
            popup->hide();
        }

        m_page->showSideBar(ReadingEnums::Notes);
        KelComboBox* filter = m_page->findChild<NotesBox*>()->colorFilter();
        QTRY_VERIFY(filter->isVisible());
        filter->showPopup();
        const QRect anchor = KelUtils::globalGeometry(filter).marginsRemoved(filter->margins());
        const bool kept = QTest::qWaitFor([&] { return keptIn(filter->popupMenu(), anchor).isEmpty(); }, 2000);
        const QString colours = keptIn(filter->popupMenu(), anchor);
        filter->closePopup();
        m_page->showSideBar(ReadingEnums::Notes);
        QVERIFY2(kept, qPrintable(colours));
    }

    // A fresh selection shows no colour chosen, whatever the last note had; "Add note" shows the
    // colour of the note it made.
    void popupColourIsTheNotes()
    {
        select();
        QVERIFY(m_popup->colorGroup()->setCheckedByUserData(NoteItem::Green));
        QTRY_COMPARE(m_context->notes().size(), 1);
        const QString green = m_context->notes().first().id;
        m_popup->hide();
        select();
        QVERIFY(!m_popup->colorGroup()->checkedButton());
        emit m_popup->addNoteButton()->clicked();
        QCOMPARE(m_context->notes().size(), 2);
        QVERIFY(m_popup->currentNoteId() != green);
        QCOMPARE(m_context->findNote(m_popup->currentNoteId())->color, NoteItem::Blue);
        QCOMPARE(m_popup->colorGroup()->checkedUserData().toInt(), int(NoteItem::Blue));
    }

    // Comments keep what was typed, no-break spaces included, from the popup and the notes page;
    // text dropped into a note's editor on the notes page, which never had the focus, is saved.
    void commentsAsTyped()
    {
        const QString typed = QStringLiteral("10\u00a0km \u00ab\u00a0oui\u00a0\u00bb!");
        select();
        emit m_popup->addNoteButton()->clicked();
        QCOMPARE(m_context->notes().size(), 1);
        const QString id = m_popup->currentNoteId();
        m_popup->editor()->insertPlainText(typed);
        QCOMPARE(m_context->findNote(id)->note, typed);
        m_popup->hide();

        NotesBox box;
        box.resize(360, 400);
        box.show();
        box.setBookContext(m_context);
        QVERIFY(waitForRows(&box, 1));
        KelPlainTextEdit* editor = rows<NoteWidget>(box.modelWidget()).first()->editor();
        QCOMPARE(editor->text(), typed);
        box.searchField()->setFocus();
        QVERIFY(!editor->hasFocus());
        QTextCursor end = editor->textCursor();
        end.movePosition(QTextCursor::End);
        editor->setTextCursor(end);
        QMimeData dropped;
        dropped.setText(QStringLiteral("\u00a0+\u00a0dropped"));
        const QPoint at = editor->cursorRect().center();
        QDragEnterEvent enter(at, Qt::CopyAction, &dropped, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(editor->viewport(), &enter);
        QDragMoveEvent move(at, Qt::CopyAction, &dropped, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(editor->viewport(), &move);
        QDropEvent drop(at, Qt::CopyAction, &dropped, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(editor->viewport(), &drop);
        QCOMPARE(editor->text(), typed + dropped.text());
        QCOMPARE(m_context->findNote(id)->note, typed + dropped.text());
    }

    // "Add note" or a colour after the selection went makes no note and opens no editor; the
    // user is told why.
    void selectionGone()
    {
        const auto told = [] {
            QList<QWidget*> shown;
            for (QWidget* window : QApplication::topLevelWidgets()) {
                for (KelLabel* label : window->findChildren<KelLabel*>()) {
                    if (window->isVisible() && label->text().startsWith(QLatin1String("Nothing is selected")))
                        shown << window;
                }
            }
            return shown;
        };
        for (bool colour : { false, true }) {
            for (QWidget* window : told())
                window->hide();
            select();
            // The reader clicked elsewhere in the page meanwhile.
            m_fixture.viewer()->chapterPage()->mainFrame()->evaluateJavaScript(
                QStringLiteral("window.getSelection().removeAllRanges();"));
            QVERIFY(m_context->viewer()->selectedText().isEmpty());
            if (colour)
                m_popup->colorGroup()->setCheckedByUserData(NoteItem::Red);
            else
                emit m_popup->addNoteButton()->clicked();
            QCOMPARE(m_context->notes().size(), 0);
            QVERIFY(m_popup->mode() != int(NotePopup::EditorMode));
            QTRY_VERIFY(!m_popup->isVisible());
            QVERIFY(m_popup->currentNoteId().isEmpty());
            QVERIFY2(!told().isEmpty(), colour ? "colour" : "add note");
        }
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
        // The whole text is inside the label at the page's narrowest.
        box->resize(box->minimumSizeHint().width(), 700);
        box->resize(340, 700);
        QApplication::processEvents();
        // The text drawn keeps off both edges of the page.
        const QImage drawn = box->grab().toImage().copy(label->geometry());
        const QRgb background = drawn.pixel(drawn.width() - 1, drawn.height() - 1);
        int left = drawn.width(), right = -1;
        for (int y = 0; y < drawn.height(); ++y) {
            for (int x = 0; x < drawn.width(); ++x) {
                if (drawn.pixel(x, y) != background) {
                    left = qMin(left, x);
                    right = qMax(right, x);
                }
            }
        }
        QVERIFY2(right > left && left >= 12 && right < drawn.width() - 12,
            qPrintable(QStringLiteral("text from %1 to %2 of %3").arg(left).arg(right).arg(drawn.width())));
        QCOMPARE(box->hasTitleSeparator(), page == 0);

        box->setBookContext(m_context);
        switch (page) {
        case 1:
            m_context->addBookmark();
            break;
        case 2:
            QVERIFY(!m_fixture.selectOnScreen(12).isEmpty());
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

    // Indents by depth, the dot of a leaf, the mark of a nested entry shown once its parents open, nested
    // clicks; a closed parent hides its open children and shows them open again when it reopens.
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
        QAbstractItemModelTester tester(box.proxyModel(), QAbstractItemModelTester::FailureReportingMode::QtTest);
        TocModel* model = m_context->tocModel();
        const QModelIndex deepIndex = model->index(0, 0, model->index(0, 0, model->index(0, 0)));
        const QString deepId = deepIndex.data(Qt::UserRole).value<BookLinkItem>().id;
        box.modelWidget()->setCurrentItemKey(deepId);
        const auto pages = [&box] {
            QList<int> shown;
            for (TocItemWidget* row : rows<TocItemWidget>(box.modelWidget()))
                shown << row->page();
            return shown;
        };
        TocItemWidget* leaf = rows<TocItemWidget>(box.modelWidget())[1];
        QVERIFY(!leaf->expandButton()->isEnabled() && leaf->expandButton()->icon());
        for (int depth = 0; depth < 2; ++depth) {
            TocItemWidget* item = rows<TocItemWidget>(box.modelWidget())[depth];
            QCOMPARE(item->rowButton()->contentsMargins().left(), 24 + 20 * depth);
            QVERIFY(item->expandButton()->isEnabled() && !item->expandButton()->isChecked());
            QVERIFY(!item->rowButton()->isChecked());
            item->expandButton()->setChecked(true);
            QVERIFY(waitForRows(&box, 3 + depth));
        }
        QCOMPARE(pages(), QList<int>({ 2, 3, 4, 5 }));
        QList<TocItemWidget*> path = rows<TocItemWidget>(box.modelWidget()).mid(0, 3);
        QCOMPARE(path[2]->rowButton()->contentsMargins().left(), 24 + 20 * 2);
        QVERIFY(path[2]->rowButton()->isChecked() && !path[0]->rowButton()->isChecked());
        // New pages reach the open entries.
        path[2]->link()->page = 40;
        model->updatePages();
        QCOMPARE(path[2]->findChildren<KelLabel*>().last()->text(), QStringLiteral("p.40"));

        QSignalSpy navigations(box.modelWidget(), &ReadingModelWidget::navLinkClicked);
        for (TocItemWidget* item : { path[0], path[2] }) {
            QTest::mouseMove(item->rowButton(), QPoint(30, 10));
            QTest::mouseClick(item->rowButton(), Qt::LeftButton, {}, QPoint(30, 10));
            QTRY_COMPARE(
                navigations.size() > 0 ? navigations.last().at(0).value<BookLinkPtr>()->page : -1, item->link()->page);
            navigations.clear();
        }
        path[0]->expandButton()->setChecked(false);
        QVERIFY(waitForRows(&box, 2));
        QCOMPARE(pages(), QList<int>({ 2, 5 }));
        rows<TocItemWidget>(box.modelWidget())[0]->expandButton()->setChecked(true);
        QVERIFY(waitForRows(&box, 4));
        QCOMPARE(pages(), QList<int>({ 2, 3, 40, 5 }));
        QVERIFY(rows<TocItemWidget>(box.modelWidget())[1]->expandButton()->isChecked());

        // A page book's entries name only their page: shown enabled, a click leads there. One that
        // names neither a chapter nor a page is greyed, and a click does nothing.
        TocPoint pageOnly = tocPoint(QStringLiteral("Page only"), 6);
        TocPoint nowhere = tocPoint(QStringLiteral("Nowhere"), -1);
        pageOnly.link->source.clear();
        nowhere.link->source.clear();
        m_context->setToc({ pageOnly, nowhere });
        QVERIFY(waitForRows(&box, 2));
        const QList<TocItemWidget*> flat = rows<TocItemWidget>(box.modelWidget());
        QCOMPARE(flat.size(), 2);
        for (TocItemWidget* item : flat) {
            QCOMPARE(item->findChild<WordWrapLabel*>()->isEnabled(), item == flat[0]);
            QTest::mouseMove(item->rowButton(), QPoint(30, 10));
            QTest::mouseClick(item->rowButton(), Qt::LeftButton, {}, QPoint(30, 10));
        }
        QTRY_COMPARE(navigations.size(), 1);
        QTest::qWait(200);
        QCOMPARE(navigations.size(), 1);
        QCOMPARE(navigations.first().at(0).value<BookLinkPtr>(), pageOnly.link);
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

    // Typing saves on every keystroke without resetting the editor; the cursor stays in view. Then
    // the colour and text filters, and the texts of an empty list.
    void notesPage()
    {
        // The tool bar's count marks notes that the state file did not take.
        ReadingToolBar bar;
        bar.setBookContext(m_context);
        const QString stateFile = ReadingStateFile::filePath(bookDataDir(m_context->bookDto().full_path));
        checkedsave::setFailureInjector([stateFile](const QString& file) { return file == stateFile; });
        const auto noFailure = qScopeGuard([] { checkedsave::setFailureInjector({}); });
        QVERIFY(!m_fixture.selectOnScreen(10).isEmpty());
        QVERIFY(m_context->addNoteAtCurrentSelection(NoteItem::Yellow));
        QCOMPARE(bar.notesButton()->fullText(), QStringLiteral("Notes (1)"));
        QTRY_COMPARE(bar.notesButton()->fullText(), QStringLiteral("Notes (1*)"));
        QVERIFY(bar.notesButton()->toolTip().contains(QLatin1String("Not saved")));
        checkedsave::setFailureInjector({});
        NotesBox box;
        box.resize(360, 150);
        box.show();
        QApplication::setActiveWindow(&box);
        box.setBookContext(m_context);
        QVERIFY(waitForRows(&box, 1));
        // Low, once the empty page's hint (which needs more room) has gone.
        box.resize(360, 150);
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

        m_context->setNoteComment(id, QStringLiteral("about C++ (draft)"));
        QTRY_COMPARE(bar.notesButton()->fullText(), QStringLiteral("Notes (1)"));
        box.resize(360, 600);
        auto* label = box.findChild<KelLabel*>(QStringLiteral("IsEmptyLabel"));
        const QString nothing = QStringLiteral("Nothing found");

        box.colorFilter()->setCurrentData(int(NoteItem::Blue));
        QVERIFY(waitForRows(&box, 0));
        QTRY_COMPARE(label->text(), nothing);
        QVERIFY(box.colorFilter()->icon()->name() != QStringLiteral(":/svg/colors.svg"));
        box.colorFilter()->setCurrentData(0);
        QVERIFY(waitForRows(&box, 1));
        QCOMPARE(box.colorFilter()->icon()->name(), QStringLiteral(":/svg/colors.svg"));
        // The filter and its items speak through icons, not through the colours' numbers.
        QStringList texts { box.colorFilter()->text() };
        for (int i = 0; i < box.colorFilter()->count(); ++i)
            texts << box.colorFilter()->itemButton(i)->text();
        QCOMPARE(texts.join(QString()), QString());

        for (const QString& text : { QStringLiteral("  (  "), QStringLiteral("c++"), QStringLiteral("zz(") }) {
            box.searchField()->clear();
            QTest::keyClicks(box.searchField(), text);
            const bool matches = !text.contains(QLatin1String("zz"));
            QVERIFY2(waitForRows(&box, matches ? 1 : 0), qPrintable(text));
            if (!matches)
                QTRY_COMPARE(label->text(), nothing);
        }
    }

    // Hits on screen with the query coloured, recoloured with the profile; the field takes the focus.
    // Every case of the query is marked; the text around it is escaped, markup included. The open
    // book's page takes the profile's colours, its links too, readable on night and sepia pages. A
    // long text starts a little before the query. In the reading page over a book with hundreds of
    // hits, every row fits the box, shows its page and its text elided, and the end of the list is
    // the last hit.
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
        const auto luminance = [](const QColor& c) {
            const auto channel = [](double v) { return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4); };
            return 0.2126 * channel(c.redF()) + 0.7152 * channel(c.greenF()) + 0.0722 * channel(c.blueF());
        };
        for (const QString& style :
            { QStringLiteral("NightStyle"), QStringLiteral("SepiaStyle"), QStringLiteral("DayStyle") }) {
            Profiles::use(style);
            const ViewerColors page = m_page->bookContext()->pageParams()->pageColors();
            QCOMPARE(page.background, kelStyle()->color(2));
            QCOMPARE(page.link, kelStyle()->color(KelStyle::CL_Text_Link));
            const double linkL = luminance(page.link), pageL = luminance(page.background);
            const double contrast = (qMax(linkL, pageL) + 0.05) / (qMin(linkL, pageL) + 0.05);
            // The day page keeps the book's own link colours.
            QVERIFY2(style == QLatin1String("DayStyle") || contrast >= 4.5,
                qPrintable(QStringLiteral("%1: links %2:1").arg(style).arg(contrast)));
            for (SearchWidget* row : rows<SearchWidget>(box.modelWidget())) {
                const WordWrapLabel* text = row->textLabel();
                QVERIFY2(!text->formats().isEmpty(), qPrintable(text->text()));
                for (const QTextLayout::FormatRange& range : text->formats()) {
                    QCOMPARE(text->text().mid(range.start, range.length).toLower(), QStringLiteral("the"));
                    QCOMPARE(range.format.foreground().color(), kelStyle()->color(1023));
                }
            }
        }
        QCOMPARE(SearchWidget::highlight(QStringLiteral("The <b>&amp; THE"), QStringLiteral("the"), QStringLiteral("["),
                     QStringLiteral("]")),
            QStringLiteral("[The] &lt;b&gt;&amp;amp; [THE]"));
        // A long text starts at a word a little before its first hit, or mid-word where there is none.
        const QString lead = QStringLiteral("Words before the hit, enough of them to fill a line");
        const QString cut(QChar(0x2026));
        for (const auto& [text, query, shown] :
            { std::make_tuple(lead + QStringLiteral(" and loom."), QStringLiteral("LOOM"),
                  cut + QStringLiteral("hit, enough of them to fill a line and loom.")),
                std::make_tuple(QStringLiteral("A loom near the start."), QStringLiteral("loom"),
                    QStringLiteral("A loom near the start.")),
                std::make_tuple(QString(60, QLatin1Char('x')) + QStringLiteral("loom"), QStringLiteral("loom"),
                    cut + QString(40, QLatin1Char('x')) + QStringLiteral("loom")) })
            QCOMPARE(SearchWidget::fromFirstOccurrence(text, query), shown);

        const int bigId = m_fixture.addEpub(QStringLiteral("hits.epub"), 12, 30000);
        QVERIFY(bigId > 0);
        // The fixture's book goes meanwhile: its pages, counted by the same helper, would take turns with these.
        m_fixture.close();
        const auto reopen = qScopeGuard([this] {
            // The page's book counted first: its request for pages would otherwise take the helper
            // from the fixture's book while that one waits for its own.
            m_page->openBook(m_bookId);
            ReadingFixture::waitFor(
                [this] { return m_page->bookContext() && m_page->bookContext()->currentPage() > 0; });
            m_context = m_fixture.open(m_notesId);
            m_popup->setBookContext(m_context);
        });
        QVERIFY(m_page->openBook(bigId));
        QSharedPointer<BookContext> context = m_page->bookContext();
        QVERIFY(ReadingFixture::waitFor([context] { return context->pageCount() > 0; }));
        m_page->showSideBar(ReadingEnums::Search);
        auto* page = static_cast<SearchBox*>(m_page->sideBar(ReadingEnums::Search));
        ReadingModelWidget* list = page->modelWidget();
        QTest::keyClicks(page->searchField(), QStringLiteral("the"));
        // Hits of the query typed (the helper may still hold another one from before).
        QVERIFY(ReadingFixture::waitFor(
            [&] {
                return list->model() && list->model()->rowCount() > 300
                    && list->model()->index(0, 0).data(Qt::UserRole).value<SearchItem>().query == QLatin1String("the");
            },
            30000));
        QTRY_VERIFY(list->isVisible() && list->itemCount() > 3);
        const int hits = list->model()->rowCount();
        const int width = list->viewport()->width();
        QScrollBar* bar = list->verticalScrollBar();
        int elided = 0;
        for (int top : { 0, bar->maximum() / 2, bar->maximum() }) {
            bar->setValue(top);
            for (SearchWidget* row : rows<SearchWidget>(list)) {
                if (!row->isVisible())
                    continue;
                const QList<KelLabel*> labels = row->findChildren<KelLabel*>();
                QVERIFY(row->page() > 0);
                QVERIFY2(row->x() >= 0 && row->geometry().right() < width,
                    qPrintable(QStringLiteral("row %1 in %2").arg(row->width()).arg(width)));
                for (KelLabel* label : labels) {
                    const QRect inRow(label->mapTo(row, QPoint(0, 0)), label->size());
                    QVERIFY2(!label->isVisible() || row->rect().contains(inRow), qPrintable(label->text()));
                }
                QCOMPARE(row->pageLabel()->text(), QStringLiteral("p.%1").arg(row->page()));
                QVERIFY(row->pageLabel()->isVisible());
                QVERIFY(!row->textLabel()->formats().isEmpty());
                row->grab();
                elided += row->textLabel()->isTextElided() ? 1 : 0;
            }
        }
        QVERIFY(elided > 0);
        // At the end of the scroll range the last hit closes the list.
        const QModelIndex last = list->model()->index(hits - 1, 0);
        QTRY_VERIFY([&] {
            bar->setValue(bar->maximum());
            const QWidget* row = dynamic_cast<QWidget*>(list->itemForIndex(last));
            return row && row->geometry().bottom() + 1 == list->widget()->height()
                && row->geometry().bottom() - bar->value() < list->viewport()->height();
        }());
    }

    // The editors and the page parameters of the open book follow each other; only what the viewer
    // supports is offered: a page-image book has no font editors.
    void settingsPage()
    {
        SettingsBox box;
        box.resize(360, 900);
        box.setBookContext(m_context);
        box.retranslateUi();
        box.show();
        QVERIFY(QTest::qWaitForWindowExposed(&box, windowwaits::kTimeoutMs));
        QVERIFY(box.fontFamilySelector()->isVisible() && box.fontSizeEditor()->isVisible()
            && box.lineSpacingSelector()->isVisible() && box.columnCountSelector()->isVisible());
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

        // The text-font list takes a click anywhere on a row, right of the name too; Up and Down
        // move the choice in the open list, Return or a click on it takes it, Escape leaves the
        // font as it was.
        KelComboBox* fonts = box.fontFamilySelector()->editor();
        QVERIFY(fonts->count() >= 5);
        const QString family = params->fontFamily();
        const auto openList = [fonts] {
            fonts->showPopup();
            return QTest::qWaitForWindowExposed(fonts->popupMenu(), windowwaits::kTimeoutMs) && fonts->isPopupVisible();
        };
        const auto key = [fonts](Qt::Key k) { QTest::keyClick(fonts->popupMenu()->windowHandle(), k); };
        fonts->setCurrentData(fonts->itemData(0));
        QVERIFY(openList());
        KelPopupMenu* list = fonts->popupMenu();
        QWidget* rows = list->centralWidget();
        // Right of the row's name, near the list's edge.
        const auto clickRow = [&](int index) {
            KelButton* row = fonts->itemButton(index);
            const QPoint at(
                rows->mapTo(list, QPoint(rows->width() - 6, 0)).x(), row->mapTo(list, row->rect().center()).y());
            QVERIFY(at.x() > row->mapTo(list, QPoint(row->fontMetrics().horizontalAdvance(row->text()), 0)).x() + 30);
            QTest::mouseMove(list->windowHandle(), at);
            QTest::mouseClick(list->windowHandle(), Qt::LeftButton, Qt::NoModifier, at);
        };
        clickRow(2);
        QTRY_COMPARE(params->fontFamily(), fonts->itemData(2).toString());
        QTRY_VERIFY(!fonts->isPopupVisible());
        for (const QString& how : { "return", "click", "escape" }) {
            fonts->setCurrentData(fonts->itemData(2));
            QVERIFY(openList());
            key(Qt::Key_Down);
            key(Qt::Key_Down);
            key(Qt::Key_Up);
            QVERIFY(fonts->itemButton(3)->isChecked() && !fonts->itemButton(2)->isChecked());
            QCOMPARE(params->fontFamily(), fonts->itemData(2).toString());
            if (how == "click")
                clickRow(3);
            else
                key(how == "return" ? Qt::Key_Return : Qt::Key_Escape);
            QTRY_VERIFY(!fonts->isPopupVisible());
            const int chosen = how == "escape" ? 2 : 3;
            QTRY_COMPARE(params->fontFamily(), fonts->itemData(chosen).toString());
            QVERIFY(fonts->itemButton(chosen)->isChecked() && !fonts->itemButton(5 - chosen)->isChecked());
        }
        params->setFontFamily(family);

        const QString path = m_fixture.home().filePath(QStringLiteral("pages.cbz"));
        QVERIFY(librarybooks::write(path));
        BookDto book;
        book.full_path = path;
        book.format = 6;
        auto context = QSharedPointer<BookContext>::create();
        QWidget area;
        QVERIFY(context->readBook(book, &area));
        box.setBookContext(context);
        const QList<QWidget*> fontEditors { box.fontFamilySelector(), box.fontSizeEditor(), box.lineSpacingSelector() };
        QVERIFY(box.styleSelector()->isVisible() && box.allSettingsButton()->isVisible()
            && box.hotkeysButton()->isVisible());
        QCOMPARE(box.columnCountSelector()->isVisible(),
            context->viewer()->supports(AbstractViewer::Feature::ColumnCountChange));
        for (QWidget* editor : fontEditors)
            QVERIFY(!editor->isVisible());
    }

    void footerPages_data()
    {
        // Steps: the page shown after each step, then the slider's range end and value.
        QTest::addColumn<int>("columns");
        QTest::addColumn<int>("count");
        QTest::addColumn<int>("current");
        QTest::addColumn<QString>("label");
        QTest::addColumn<int>("sliderMax");
        QTest::addColumn<int>("sliderValue");
        QTest::addColumn<int>("pageOfSlider3");
        QTest::newRow("two columns, spread before the last") << 2 << 7 << 5 << "5-6" << 4 << 3 << 5;
        QTest::newRow("two columns, last page alone") << 2 << 7 << 7 << "7" << 4 << 4 << 5;
        QTest::newRow("one column") << 1 << 120 << 9 << "9" << 120 << 9 << 3;
    }

    void footerPages()
    {
        QFETCH(int, columns);
        QFETCH(int, count);
        QFETCH(int, current);
        QFETCH(QString, label);
        QFETCH(int, sliderMax);
        QFETCH(int, sliderValue);
        QFETCH(int, pageOfSlider3);
        auto context = QSharedPointer<BookContext>::create();
        context->pageParams()->setColumnCount(columns);
        ReadingFooter footer;
        footer.resize(800, 40);
        footer.setBookContext(context);
        QVERIFY(!footer.isPaginated());
        context->setPageCount(count);
        context->setCurrentPage(current);
        QVERIFY(footer.isPaginated());
        QCOMPARE(footer.pageLabel()->text(), label);
        QCOMPARE(footer.countLabel()->text(), QString::number(count));
        QCOMPARE(footer.slider()->minimum(), 1);
        QCOMPARE(footer.slider()->maximum(), sliderMax);
        QCOMPARE(footer.slider()->value(), sliderValue);
        QCOMPARE(footer.sliderValueToPage(3), pageOfSlider3);

        // "Back to page" shows only once there is a page to go back to, and takes no room from the slider.
        QVERIFY(!footer.backButton()->isVisibleTo(&footer));
        const int sliderWidth = footer.slider()->width();
        context->storeCurrentPageLink();
        context->updateCurrentPageLink();
        QVERIFY(footer.backButton()->isVisibleTo(&footer));
        QCOMPARE(footer.backButton()->text(), QStringLiteral("Back to page %1").arg(current));
        QCOMPARE(footer.slider()->width(), sliderWidth);

        // The label does not grow by a digit while paging within the same count.
        const int width = footer.pageLabel()->width();
        context->setCurrentPage(current + 1);
        QCOMPARE(footer.pageLabel()->width(), width);

        // The wheel never moves the slider.
        const int before = footer.slider()->value();
        QWheelEvent wheel(QPointF(5, 5), QPointF(5, 5), QPoint(), QPoint(0, -120), Qt::NoButton, Qt::NoModifier,
            Qt::NoScrollPhase, false);
        QApplication::sendEvent(footer.slider(), &wheel);
        QCOMPARE(footer.slider()->value(), before);
        // Once the tip is gone, the slider's events reach the footer's filter without building another.
        delete footer.slider()->tooltip();
        QMouseEvent move(QEvent::MouseMove, QPointF(5, 5), QPointF(5, 5), Qt::NoButton, Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(footer.slider(), &move);
        QVERIFY(!footer.slider()->findChild<QObject*>(QStringLiteral("KelSliderTooltip")));

        // Repagination shows the busy bar until the new count arrives.
        emit context->pageCountAboutToChange();
        QVERIFY(!footer.isPaginated());
        footer.setBookContext(nullptr);
        QVERIFY(!footer.isPaginated());
    }

    // A change of look keeps the bars' heights and so the page's size and its total: night, sepia and
    // day twice, each chosen with the settings box open, as a reader does. In each look the slider's
    // tip shows the chapter under the pointer whole, above the slider.
    void themesKeepThePageSize()
    {
        const QSharedPointer<BookContext> context = m_page->bookContext();
        auto* viewer = dynamic_cast<QWidget*>(context->viewer());
        QVERIFY(viewer);
        const auto layout = [&] {
            return QStringLiteral("footer %1, viewer %2x%3, pages %4")
                .arg(m_page->footer()->height())
                .arg(viewer->width())
                .arg(viewer->height())
                .arg(context->pageCount());
        };
        // The fixture's book goes meanwhile: counted by the same helper, its requests after the
        // earlier steps' font changes take turns with the page's, and only the last one is answered.
        m_fixture.close();
        const auto reopen = qScopeGuard([this] {
            m_context = m_fixture.open(m_notesId);
            m_popup->setBookContext(m_context);
        });
        context->repaginate();
        QString before;
        QVERIFY2(ReadingFixture::waitFor(
                     [&] {
                         QTest::qWait(500);
                         const QString now = layout();
                         const bool settled
                             = m_page->footer()->isPaginated() && context->pageCount() > 0 && now == before;
                         before = now;
                         return settled;
                     },
                     30000),
            qPrintable(before + (m_page->footer()->isPaginated() ? QString() : QStringLiteral(", counting"))));
        auto dayAgain = qScopeGuard([this] { Profiles::use(m_profiles->day.id()); });
        for (int round = 0; round < 2; ++round) {
            for (const QString& id : { m_profiles->night.id(), m_profiles->sepia.id(), m_profiles->day.id() }) {
                m_page->showSideBar(ReadingEnums::Settings);
                Profiles::use(id);
                m_page->closeSideBars();
                QTRY_VERIFY(!m_page->isSideBoxVisible());
                // Past the viewer's wait before it lays its pages out anew.
                QTest::qWait(400);
                QCOMPARE(layout(), before);
                QVERIFY2(tipShowsChapterWhole(), qPrintable(id));
            }
        }
    }

    // Floating over the page in full screen, both bars cast a shadow on it; docked they do not.
    void barShadows()
    {
        QWidget host;
        host.setAutoFillBackground(true);
        QPalette palette;
        palette.setColor(QPalette::Window, Qt::white);
        host.setPalette(palette);
        host.resize(600, 400);
        auto* bar = new ReadingToolBar(&host);
        bar->setGeometry(0, 100, 600, 50);
        auto* footer = new ReadingFooter(&host);
        footer->setGeometry(0, 250, 600, 50);
        host.show();
        // How much the rows just above the tool bar and just below the footer are darkened.
        const auto shades = [&] {
            const QImage image = host.grab().toImage();
            return QPair<int, int>(255 - qGray(image.pixel(300, 96)), 255 - qGray(image.pixel(300, 303)));
        };
        QCOMPARE(shades(), qMakePair(0, 0));
        bar->setFullscreenLook(true);
        footer->setFullscreenLook(true);
        QPair<int, int> floating = shades();
        QVERIFY2(floating.first > 3 && floating.second > 3,
            qPrintable(QStringLiteral("%1 %2").arg(floating.first).arg(floating.second)));
        // A change of look keeps the shadow to full screen, floating or docked.
        Profiles::use(m_profiles->night.id());
        Profiles::use(m_profiles->day.id());
        QCOMPARE(shades(), floating);
        bar->setFullscreenLook(false);
        footer->setFullscreenLook(false);
        Profiles::use(m_profiles->night.id());
        Profiles::use(m_profiles->day.id());
        QCOMPARE(shades(), qMakePair(0, 0));
    }

    // Narrowing drops the texts in order, widening brings them back in reverse; the volume keys step
    // by 0.05 and stop at the ends, other keys pass; "tts" is sent for the first ten starts only.
    // Titles and passages that look like markup are shown as the text they are: in the tool bar,
    // and in the tooltip of a shortened row text.
    void titlesAsText()
    {
        const QString title = QStringLiteral("The <html> & <body> tags");
        ReadingToolBar bar;
        bar.resize(1400, 60);
        bar.setFullscreenLook(true);
        bar.setTitle(title);
        bar.show();
        QCOMPARE(bar.titleLabel()->text(), title);
        QVERIFY(bar.titleLabel()->sizeHint().width() >= bar.titleLabel()->fontMetrics().horizontalAdvance(title));

        WordWrapLabel passage(1056);
        passage.setMaxLineCount(1);
        passage.setText(title.repeated(8));
        passage.resize(120, 40);
        passage.show();
        passage.grab();
        QVERIFY(passage.isTextElided());
        QHelpEvent help(QEvent::ToolTip, QPoint(5, 5), passage.mapToGlobal(QPoint(5, 5)));
        QApplication::sendEvent(&passage, &help);
        QTextDocument shown;
        shown.setHtml(QToolTip::text());
        QCOMPARE(shown.toPlainText(), title.repeated(8));
        QToolTip::hideText();
    }

    void toolBar()
    {
        ReadingToolBar bar;
        bar.resize(1400, 60);
        bar.show();
        QVERIFY(QTest::qWaitForWindowExposed(&bar, windowwaits::kTimeoutMs));
        const QList<ReadingToolBar::ShrinkableButton*> order { bar.tocButton(), bar.bookmarksButton(),
            bar.notesButton(), bar.libraryButton() };
        const auto shrunk = [&] {
            QString flags;
            for (auto* button : order)
                flags += button->isShrunk() ? QLatin1Char('1') : QLatin1Char('0');
            return flags;
        };
        const auto sweep = [&](int from, int step) {
            QStringList seen;
            for (int width = from; width >= 200 && width <= 1400; width += step) {
                bar.resize(width, 60);
                QApplication::processEvents();
                if (seen.isEmpty() || seen.last() != shrunk())
                    seen << shrunk();
            }
            return seen;
        };
        QCOMPARE(sweep(1400, -10), QStringList({ "0000", "1000", "1100", "1110", "1111" }));
        QCOMPARE(sweep(200, 10), QStringList({ "1111", "1110", "1100", "1000", "0000" }));
        QCOMPARE(bar.tocButton()->text(), bar.tocButton()->fullText());
        auto* slider = bar.readAloudBox()->volumeButton->slider();
        for (const auto& [start, key, expected] : { std::make_tuple(0.97, Hotkeys::Id::Tts_IncreaseVolume, 1.0),
                 std::make_tuple(0.5, Hotkeys::Id::Tts_DecreaseVolume, 0.45),
                 std::make_tuple(0.03, Hotkeys::Id::Tts_DecreaseVolume, 0.0) }) {
            SettingsProvider::instance()->setTtsVolume(start);
            const int code = Hotkeys::sequences(key).value(0)[0];
            QKeyEvent press(QEvent::KeyPress, code & ~Qt::KeyboardModifierMask,
                Qt::KeyboardModifiers(code & Qt::KeyboardModifierMask));
            QVERIFY(bar.handleKey(&press));
            QCOMPARE(SettingsProvider::instance()->ttsVolume(), expected);
            QCOMPARE(slider->value(), qRound(expected * 100));
        }
        QKeyEvent other(QEvent::KeyPress, Qt::Key_F, Qt::NoModifier);
        QVERIFY(!bar.handleKey(&other));
        MetricSender::init(QStringLiteral("device"), QStringLiteral("product"), QStringLiteral("1"), true,
            QStringLiteral("http://127.0.0.1:9/"));
        bar.setBookContext(QSharedPointer<BookContext>::create());
        // The engine is asked for on the first press; without one a press turns itself off again.
        QVERIFY(bar.readAloudBox()->isEnabled());
        KelButton* play = bar.readAloudBox()->playButton;
        for (int i = 0; i < 12; ++i) {
            play->setChecked(true);
            QTRY_VERIFY(!play->isChecked());
            QVERIFY(!bar.readAloudBox()->stopButton->isVisibleTo(bar.readAloudBox()));
        }
        QCOMPARE(metricCount(QStringLiteral("tts")), 10);
        MetricSender::setEnabled(false);
    }

    void choosesPrinter_data()
    {
        QTest::addColumn<QStringList>("names");
        QTest::addColumn<QString>("defaultName");
        QTest::addColumn<QString>("stored");
        QTest::addColumn<QString>("chosen");
        QTest::addColumn<QStringList>("texts");
        QTest::newRow("one printer, no default mark") << QStringList { "a" } << "a"
                                                      << ""
                                                      << "a" << QStringList { "Printer A" };
        QTest::newRow("stored printer kept") << QStringList { "a", "b" } << "b"
                                             << "a"
                                             << "a" << QStringList { "Printer A", "Printer B (default)" };
        QTest::newRow("stored printer gone, default taken")
            << QStringList { "a", "b" } << "b"
            << "gone"
            << "b" << QStringList { "Printer A", "Printer B (default)" };
        QTest::newRow("no default, first printer") << QStringList { "a", "b" } << ""
                                                   << "gone"
                                                   << "a" << QStringList { "Printer A", "Printer B" };
        QTest::newRow("no printers") << QStringList() << ""
                                     << ""
                                     << "" << QStringList();
    }

    void choosesPrinter()
    {
        QFETCH(QStringList, names);
        QFETCH(QString, defaultName);
        QFETCH(QString, stored);
        QFETCH(QString, chosen);
        QFETCH(QStringList, texts);
        settings()->setPrinter_name(stored);
        auto catalogue = std::make_unique<FakeCatalogue>();
        catalogue->names = names;
        catalogue->defaultName = defaultName;
        PrintBox box(std::move(catalogue));
        box.resize(360, 700);
        box.show();
        KelComboBox* printers = box.printerBox()->editor();
        QStringList shown;
        for (int i = 0; i < printers->count(); ++i)
            shown << printers->itemButton(i)->text();
        QCOMPARE(shown, texts);
        QCOMPARE(box.emptyLabel()->isVisibleTo(&box), names.isEmpty());
        QCOMPARE(box.scrollArea()->isVisibleTo(&box), !names.isEmpty());
        if (names.isEmpty())
            return;
        QCOMPARE(printers->currentData().toString(), chosen);
        QCOMPARE(settings()->printer_name(), chosen);
        QVERIFY(box.printButton()->isEnabled());
        // The paper always starts at the printer's default.
        QCOMPARE(box.pageSizeBox()->editor()->currentData().toInt(), int(QPageSize::A4));
    }

    // The paper shown is named; a default the printer does not list (a custom size) gives way to a
    // listed one of the same paper, else to the first listed one.
    void paperSizeNamed()
    {
        const struct {
            QPageSize preferred;
            QPageSize::PageSizeId shown;
        } cases[] = { { QPageSize(QPageSize::A4), QPageSize::A4 },
            { QPageSize(QSizeF(100, 100), QPageSize::Millimeter), QPageSize::Letter },
            { QPageSize(QPageSize::Legal), QPageSize::Letter } };
        for (const auto& row : cases) {
            auto catalogue = std::make_unique<FakeCatalogue>();
            catalogue->names = QStringList { "a" };
            catalogue->defaultSize = row.preferred;
            PrintBox box(std::move(catalogue));
            box.show();
            KelComboBox* sizes = box.pageSizeBox()->editor();
            QCOMPARE(sizes->currentData().toInt(), int(row.shown));
            QCOMPARE(sizes->text(), QPageSize(row.shown).name());
            QCOMPARE(box.createPrinter()->pageLayout().pageSize().id(), row.shown);
        }
    }

    // The colour mode is offered when the printer has one, editable when it has two.
    void colourModes()
    {
        settings()->setPrinter_color_mode(QPrinter::GrayScale);
        using Modes = QList<QPrinter::ColorMode>;
        for (const auto& [modes, shown] : { std::make_pair(Modes { QPrinter::Color, QPrinter::GrayScale }, 2),
                 std::make_pair(Modes { QPrinter::Color }, 1), std::make_pair(Modes(), 0) }) {
            auto catalogue = std::make_unique<FakeCatalogue>();
            catalogue->names = QStringList { "a" };
            catalogue->colorModes = modes;
            PrintBox box(std::move(catalogue));
            box.show();
            QCOMPARE(box.colorModeBox()->isVisibleTo(&box), shown > 0);
            QCOMPARE(box.colorModeBox()->isEnabled(), shown > 1);
            if (shown > 0) // the stored mode where the printer has it
                QCOMPARE(box.colorModeBox()->editor()->currentData().toInt(), int(modes.last()));
        }
    }

    void handsOverPrinter()
    {
        auto owned = std::make_unique<FakeCatalogue>();
        FakeCatalogue* catalogue = owned.get();
        catalogue->names = QStringList { "a" };
        catalogue->colorModes = { QPrinter::Color, QPrinter::GrayScale };
        PrintBox box(std::move(owned));
        box.show();
        box.setBookContext(QSharedPointer<BookContext>::create());
        box.copiesBox()->editor()->setValue(3);
        box.pageSizeBox()->editor()->setCurrentData(int(QPageSize::Letter));
        box.orientationBox()->editor()->setCurrentData(int(QPrinter::Landscape));
        box.colorModeBox()->editor()->setCurrentData(int(QPrinter::GrayScale));
        QCOMPARE(settings()->printer_copies_count(), 3);
        QVERIFY(settings()->printer_page_size_saved());
        QCOMPARE(settings()->printer_page_size(), QPageSize::Letter);
        QCOMPARE(settings()->printer_orientation(), QPrinter::Landscape);

        std::unique_ptr<QPrinter> printer = box.createPrinter();
        QVERIFY(printer);
        QCOMPARE(printer->copyCount(), 3);
        QCOMPARE(printer->pageLayout().pageSize().id(), QPageSize::Letter);
        QCOMPARE(printer->pageLayout().orientation(), QPageLayout::Landscape);
        QCOMPARE(printer->colorMode(), QPrinter::GrayScale);
        QSignalSpy closes(&box, &ReadingSideBar::closeRequest);
        box.print();
        QCOMPARE(closes.count(), 1);

        // The printer goes away while the page is open: nothing is printed and the page stays.
        catalogue->names.clear();
        QVERIFY(!box.createPrinter());
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("Printer is gone"));
        box.print();
        QCOMPARE(closes.count(), 1);
        // Copies stay within 1 to 99.
        box.copiesBox()->editor()->setValue(500);
        QCOMPARE(box.copiesBox()->editor()->value(), 99);
    }

    // Last, for it ends the event loop. A book of 250,000 headings: its contents box has widgets for the
    // entries near the view only, the end of the list shows the last entries, and a click there still
    // leads to its entry. A quit signal while the rest of the list is measured ends the event loop and
    // closes the book.
    void contentsOfAHugeBook()
    {
        constexpr int kHeadings = 250000;
        QByteArray text = "<html><head></head><body>";
        for (int i = 1; i <= kHeadings; ++i)
            text += "<h1>Entry " + QByteArray::number(i);
        text += "</body></html>";
        MobiWriter writer;
        writer.setText(text);
        const QString path = m_fixture.home().filePath(QStringLiteral("headings.mobi"));
        QVERIFY(writer.write(path));
        BookDto book;
        book.full_path = path;
        book.title = QStringLiteral("Headings");
        book.format = int(BookFormat::Mobi);
        const int id = m_fixture.books()->addBook(book);
        QVERIFY(id > 0);
        // Pages are not looked at here, and the helper would take long over them.
        ReadingServices::setDataExchangeSvc(nullptr);
        const auto restore = qScopeGuard([this] { ReadingServices::setDataExchangeSvc(m_fixture.pageCounter()); });
        QVERIFY(m_page->openBook(id));
        TocModel* toc = m_page->bookContext()->tocModel();
        QCOMPARE(toc->rowCount(), kHeadings);
        m_page->showSideBar(ReadingEnums::Toc);
        auto* box = static_cast<TocBox*>(m_page->sideBar(ReadingEnums::Toc));
        ReadingModelWidget* list = box->modelWidget();
        QTRY_VERIFY(list->isVisible() && list->itemCount() > 3);
        const auto titles = [list] {
            QStringList shown;
            for (TocItemWidget* row : rows<TocItemWidget>(list)) {
                const QRect inView(row->mapTo(list->viewport(), QPoint(0, 0)), row->size());
                if (row->isVisible() && list->viewport()->rect().intersects(inView))
                    shown << row->findChild<WordWrapLabel*>()->text();
            }
            return shown;
        };
        QCOMPARE(titles().value(0), QStringLiteral("Entry 1"));
        QScrollBar* bar = list->verticalScrollBar();
        QTRY_VERIFY([&] {
            bar->setValue(bar->maximum());
            return titles().value(titles().size() - 1) == QStringLiteral("Entry 250000");
        }());
        QVERIFY2(box->findChildren<TocItemWidget*>().size() < 100,
            qPrintable(QString::number(box->findChildren<TocItemWidget*>().size())));

        QSignalSpy navigations(list, &ReadingModelWidget::navLinkClicked);
        TocItemWidget* lastRow = rows<TocItemWidget>(list).last();
        QTest::mouseMove(lastRow->rowButton(), QPoint(30, 10));
        QTest::mouseClick(lastRow->rowButton(), Qt::LeftButton, {}, QPoint(30, 10));
        QTRY_COMPARE(navigations.size(), 1);
        const BookLinkItem lastEntry = toc->index(kHeadings - 1, 0).data(Qt::UserRole).value<BookLinkItem>();
        QCOMPARE(navigations.first().at(0).value<BookLinkPtr>(), lastEntry.link);

        QuitSignals quitSignals;
        QVERIFY(quitSignals.isInstalled());
        bar->setValue(bar->maximum() / 2);
        QTimer fallback;
        fallback.setSingleShot(true);
        connect(&fallback, &QTimer::timeout, [] { QCoreApplication::exit(2); });
        fallback.start(30000);
        ::raise(SIGTERM);
        QCOMPARE(QApplication::exec(), 0);
        QVERIFY(quitSignals.wasReceived());
        QVERIFY(!m_page->bookContext());
    }

private:
    // Whether the page's book comes to show the words on its chapter page.
    bool pageShows(const QString& words)
    {
        return ReadingFixture::waitFor([&] {
            const QSharedPointer<BookContext> context = m_page->bookContext();
            return context && context->chapterPage()
                && context->chapterPage()->mainFrame()->toPlainText().contains(words);
        });
    }

    // Adds the book as the library adds one, its record read from the file; its id, or -1.
    int addReadFromFile(const QString& path)
    {
        BookDto record;
        record.full_path = path;
        return readBookFile(record, false) == ItemAdded ? m_fixture.books()->addBook(record) : -1;
    }

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

    std::unique_ptr<Profiles> m_profiles;
    ReadingFixture m_fixture;
    QSharedPointer<BookContext> m_context;
    std::unique_ptr<QStackedWidget> m_stack;
    ReadingPage* m_page = nullptr;
    int m_bookId = -1;
    int m_notesId = -1;
    std::unique_ptr<NotePopup> m_popup;
};

// In an application with a settings file of its own in a temporary home.
int main(int argc, char** argv)
{
    TempHome home;
    KelApplication app(QUuid::createUuid().toString(), argc, argv);
    SettingsProvider settings(KelApplication::configFilePath(QStringLiteral("settings.ini")), QSettings::IniFormat);
    app.setSettings(&settings);
    int result = 0;
    {
        TestReadingPage test;
        result = QTest::qExec(&test, argc, argv);
    }
    app.setSettings(nullptr);
    return result;
}

#include "tst_readingpage.moc"
