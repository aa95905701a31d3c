// Opening, reading, keeping and using a text book, end to end: generated books in a real
// library, page numbers from the real helper, a real text viewer offscreen; reading aloud through
// a speech engine that records what it is asked to say, printing, encodings and look-ups.

#include "abstractviewer.h"
#include "appdirs.h"
#include "bookcontext.h"
#include "bookpageparams.h"
#include "dataexchangesvc.h"
#include "enums.h"
#include "formats/pdf/binding/pdfenginefile.h"
#include "formats/pdf/pdfdocument.h"
#include "formats/textdocument.h"
#include "kelapplication.h"
#include "kelui.h"
#include "mainwindow/readingpage/bookcontextwatcher.h"
#include "models/bookmodel.h"
#include "models/booksearchmodel.h"
#include "readingfixture.h"
#include "readingservices.h"
#include "readingstatefile.h"
#include "settingsprovider.h"
#include "testfiles.h"
#include "testpaths.h"
#include "textbookchapter.h"
#include "textviewer.h"

#include <QClipboard>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPrinter>
#include <QSignalSpy>
#include <QTextCodec>
#include <QTextToSpeech>
#include <QWebFrame>
#include <QtTest>

#include <memory>

namespace {

// The screen shown holds the book page.
bool shows(const QSharedPointer<BookContext>& context, int page)
{
    return ReadingFixture::waitFor([&] {
        const int current = context->currentPage();
        return current > 0 && current <= page && page < current + context->pageParams()->columnCount();
    });
}

bool pageAgrees(const ReadingFixture& fixture, const QSharedPointer<BookContext>& context)
{
    TextViewer* viewer = fixture.viewer();
    const int start = fixture.pageCounter()->chapterStartPage(viewer->chapterPage()->source());
    return context->currentPage() == start + viewer->chapterPage()->currentPage();
}

// received: signals through a connection that has no QObject to end it.
struct Counts {
    int received = 0;
    int changes = 0;
    int resets = 0;
};

class Probe : public BookContextWatcher {
public:
    explicit Probe(std::shared_ptr<Counts> counts)
        : m_counts(std::move(counts))
    {
    }

protected:
    void onBookContextChanged(QSharedPointer<BookContext> context) override
    {
        ++m_counts->changes;
        std::shared_ptr<Counts> counts = m_counts;
        m_bookConnections.append(
            QObject::connect(context.data(), &BookContext::pageCountChanged, [counts] { ++counts->received; }));
    }
    void resetBookState() override { ++m_counts->resets; }

private:
    std::shared_ptr<Counts> m_counts;
};

const QByteArray kOddNote(R"({"Source":1,"Comment":"keep me"})");

} // namespace

class TestBookContext : public QObject {
    Q_OBJECT
public:
    QList<QUrl> opened;

public slots:
    // Stands in for the browser.
    void openUrl(const QUrl& url) { opened.append(url); }

private:
    QScopedPointer<ReadingFixture> m_fixture;
    int m_epub = -1;
    QStringList m_reference;

    QString evaluate(const QString& script) const
    {
        return m_fixture->viewer()->chapterPage()->mainFrame()->evaluateJavaScript(script).toString();
    }
    // A book of its own for each test function and row.
    int addEpub(int chapters, int chapterBytes)
    {
        return m_fixture->addEpub(
            QStringLiteral("%1 %2.epub").arg(QTest::currentTestFunction(), QTest::currentDataTag()), chapters,
            chapterBytes);
    }
    int addText(const QString& name, const QString& text, const char* codec)
    {
        QFile file(m_fixture->home().filePath(name));
        if (!file.open(QIODevice::WriteOnly) || file.write(QTextCodec::codecForName(codec)->fromUnicode(text)) < 0)
            return -1;
        BookDto book;
        book.full_path = file.fileName();
        book.format = 8;
        return m_fixture->books()->addBook(book);
    }

private slots:
    void initTestCase()
    {
        QCoreApplication::addLibraryPath(QStringLiteral(SPEECH_PLUGIN_DIR));
        pdfengine::setLibraryPath(testpaths::binDir() + QLatin1Char('/') + pdfengine::fileName());
        m_fixture.reset(new ReadingFixture);
        m_epub = m_fixture->addEpub(QStringLiteral("two.epub"), 2, 2500);
    }

    void cleanup() { m_fixture->close(); }

    void readAloud_data()
    {
        QTest::addColumn<QString>("how");
        // The rows after the first must say what it said.
        for (const char* how : { "once", "paused and resumed", "started twice", "started while loading", "broken" })
            QTest::newRow(how) << how;
    }

    void readAloud()
    {
        QFETCH(QString, how);
        qApp->setProperty("speechFails", how == "broken");
        qApp->setProperty("spokenTexts", QStringList());
        QTextToSpeech speech(QStringLiteral("recorder"));
        ReadingServices::setTextToSpeech(&speech);
        QSharedPointer<BookContext> context = m_fixture->open(m_epub, false);
        QVERIFY(context);
        TextViewer* viewer = m_fixture->viewer();
        QSignalSpy done(context.data(), &BookContext::ttsNoMoreWords);
        // From the start, whatever place the last row left in the state file.
        viewer->goLink(QStringLiteral("ch1.xhtml?kelpath=start"), true);
        QVERIFY(how == "started while loading" || ReadingFixture::waitFor([&] { return viewer->isVisible(); }));
        context->readingAloud(true);
        if (how == "started twice")
            context->readingAloud(true);
        if (how == "paused and resumed") {
            context->readingAloudPause();
            QTest::qWait(300);
            QCOMPARE(qApp->property("spokenTexts").toStringList().size(), 1);
            context->readingAloud(true);
        }
        QVERIFY(ReadingFixture::waitFor([&] { return done.count() > 0; }, 240000));
        QTest::qWait(100);
        QCOMPARE(done.count(), 1);
        QCOMPARE(viewer->isReadingAloud(), how != "broken");
        const QStringList texts = qApp->property("spokenTexts").toStringList();
        if (how == "once") {
            QVERIFY2(texts.size() > 20 && texts.first() == "Chapter 1" && texts.indexOf("Chapter 2") > 0
                    && texts.last().contains(ReadingFixture::kRareWord) && !texts.join(' ').contains("[cut]"),
                qPrintable(texts.join('\n')));
            m_reference = texts;
        } else if (how == "broken") {
            QCOMPARE(texts.size(), 0);
            QCOMPARE(viewer->chapterPage()->source(), QStringLiteral("ch1.xhtml"));
        } else {
            QCOMPARE(texts, m_reference);
        }
        ReadingServices::setTextToSpeech(nullptr);
    }

    void printIntoPdfFile()
    {
        QSharedPointer<BookContext> context = m_fixture->open(m_epub);
        QVERIFY(context);
        const int pages = context->pageCount();
        QPrinter printer;
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setOutputFileName(m_fixture->home().filePath(QStringLiteral("printed.pdf")));
        context->print(printer);
        QCOMPARE(context->pageCount(), -1);
        // A pagination queued before the print may answer first: the file tells when it is done.
        PdfDocument document;
        QVERIFY(ReadingFixture::waitFor([&] {
            document.load(printer.outputFileName());
            return context->pageCount() == pages && document.pageCount() > 2;
        }));
        QVERIFY(!document.search("Chapter 1").isEmpty() && !document.search(ReadingFixture::kRareWord).isEmpty());
    }

    void changeEncoding()
    {
        QString text;
        for (int i = 1; i <= 300; ++i)
            text += QStringLiteral("L%1 Съешь ещё этих булок.\n").arg(i);
        const int id = addText(QStringLiteral("cp1251.txt"), text, "windows-1251");
        // Without a choice the text would be guessed right; the reader first chose UTF-8.
        const QString dataDir = bookDataDir(m_fixture->books()->bookById(id).full_path);
        QFile state(ReadingStateFile::filePath(dataDir));
        QVERIFY(QDir().mkpath(dataDir) && state.open(QIODevice::WriteOnly));
        state.write(R"({"FontSettings":{"Encoding":"UTF-8"}})");
        state.close();
        const QString utf8 = QStringLiteral("UTF-8");
        for (const QString& encoding : { utf8, QStringLiteral("windows-1251") }) {
            QSharedPointer<BookContext> context = m_fixture->open(id);
            QVERIFY(context);
            QCOMPARE(context->encoding(), encoding);
            QCOMPARE(evaluate("document.body.textContent").contains("булок"), encoding != utf8);
            for (int i = 0; i < 3; ++i)
                QTest::keyClick(m_fixture->viewer(), Qt::Key_Right);
            const QString line = "(document.caretRangeFromPoint(60, 60).startContainer.data || '').split(' ')[0]";
            const QString top = evaluate(line);
            QVERIFY2(top.mid(1).toInt() > 10, qPrintable(top));
            context->changeEncoding(QStringLiteral("windows-1251"));
            QCOMPARE(context->pageCount(), -1);
            QVERIFY(ReadingFixture::waitFor([&] {
                return context->pageCount() > 0 && m_fixture->viewer()->isVisible()
                    && evaluate("document.body.textContent").contains("L300 Съешь ещё этих булок.");
            }));
            QCOMPARE(evaluate(line), top);
            const int start = m_fixture->pageCounter()->chapterStartPage(context->chapterPage()->source());
            QCOMPARE(context->currentPage(), start + context->chapterPage()->currentPage());
        }
        QSharedPointer<BookContext> epub = m_fixture->open(m_epub);
        QSignalSpy loads(m_fixture->viewer(), &TextViewer::beginLoading);
        epub->changeEncoding(QStringLiteral("windows-1251"));
        QVERIFY(loads.isEmpty() && epub->encoding().isEmpty());
    }

    void selectionLookUps_data()
    {
        QTest::addColumn<QByteArray>("slot");
        QTest::addColumn<QString>("selection");
        QTest::addColumn<QString>("result");
        const QString cyrillic = "%D0%9F%D1%80%D0%B8%D0%B2%D0%B5%D1%82%20%D0%BC%D0%B8%D1%80";
        QTest::newRow("copy") << QByteArray("copySelection") << " lantern "
                              << "lantern";
        QTest::newRow("copy nothing") << QByteArray("copySelection") << ""
                                      << "";
        QTest::newRow("web, nothing") << QByteArray("searchSelectionGoogle") << ""
                                      << "";
        QTest::newRow("encyclopedia") << QByteArray("searchSelectionWikipedia") << " Привет мир "
                                      << "https://de.wikipedia.org/wiki/Special:Search?search=" + cyrillic;
        QTest::newRow("translation") << QByteArray("translateSelection") << " Привет мир "
                                     << "https://translate.google.com/?langpair=auto%7Cauto&text=" + cyrillic;
    }

    void selectionLookUps()
    {
        QFETCH(QByteArray, slot);
        QFETCH(QString, selection);
        QFETCH(QString, result);
        static const int id = addText("words.txt", "The lantern glowed.\nОн сказал Привет мир и ушёл.\n", "UTF-8");
        QSharedPointer<BookContext> context = m_fixture->open(id, false);
        QVERIFY(context);
        connect(context->viewer()->userEvents(), &AbstractViewer::UserEvents::externalLinkClicked, this,
            [](const QString& url) { KelUi::instance()->openLinkInSuitableApp(url); });
        QDesktopServices::setUrlHandler("https", this, "openUrl");
        opened.clear();
        QGuiApplication::clipboard()->setText("before");
        QCOMPARE(evaluate(QString("(window.find('%1') && window.getSelection().toString()) || ''").arg(selection)),
            selection);
        QVERIFY(QMetaObject::invokeMethod(context.data(), slot.constData()));
        QDesktopServices::unsetUrlHandler("https");
        const bool copy = slot == "copySelection";
        QCOMPARE(QGuiApplication::clipboard()->text(), copy && !result.isEmpty() ? result : QString("before"));
        QCOMPARE(opened, copy || result.isEmpty() ? QList<QUrl>() : QList<QUrl> { QUrl(result) });
    }

    void readAnnotateAndReopen()
    {
        const int id = addEpub(3, 9000);
        QSharedPointer<BookContext> context = m_fixture->open(id);
        QVERIFY(context);
        TextViewer* viewer = m_fixture->viewer();
        const int pageCount = context->pageCount();
        QCOMPARE(pageCount, m_fixture->pageCounter()->totalPageCount());
        QVERIFY2(pageCount > 10, qPrintable(QString::number(pageCount)));
        QCOMPARE(context->currentPage(), 1);
        QCOMPARE(context->currentChapterTitle(), QStringLiteral("Chapter 1"));
        // Progress written on page turns must not clear the favourite mark.
        QVERIFY(m_fixture->books()->setData(m_fixture->books()->indexById(id), true, int(Enums::ToFavorite)));

        // Key presses, one screen each, across the end of the first chapter.
        const int columns = context->pageParams()->columnCount();
        const QString first = viewer->chapterPage()->source();
        int before = 1;
        while (viewer->chapterPage()->source() == first) {
            QTest::keyClick(viewer, Qt::Key_Right);
            QVERIFY(ReadingFixture::waitFor([&] { return context->currentPage() > before; }, 20000));
            QVERIFY(context->currentPage() - before <= columns);
            QVERIFY(pageAgrees(*m_fixture, context));
            before = context->currentPage();
        }
        QCOMPARE(viewer->chapterPage()->currentPage(), 1);
        QTest::keyClick(viewer, Qt::Key_Left);
        QVERIFY(ReadingFixture::waitFor([&] { return context->currentPage() < before; }));
        QCOMPARE(viewer->chapterPage()->source(), first);

        // A page of the last chapter, then the search hit there, then back twice.
        context->navigateToPage(pageCount - 1);
        QVERIFY(shows(context, pageCount - 1));
        QVERIFY(pageAgrees(*m_fixture, context));
        context->search(QLatin1String(ReadingFixture::kRareWord));
        QVERIFY(ReadingFixture::waitFor([&] { return context->searchModel()->rowCount() > 0; }));
        QCOMPARE(context->searchModel()->rowCount(), 1);
        const SearchItem hit = context->searchModel()->items().first();
        QVERIFY(hit.link->page > m_fixture->pageCounter()->chapterStartPage(viewer->chapterPage()->source()));
        QCOMPARE(hit.title, QStringLiteral("Chapter 3"));
        context->navigateToPage(3);
        QVERIFY(shows(context, 3));
        context->navigateToLink(hit.link);
        QVERIFY(shows(context, hit.link->page));
        QCOMPARE(context->backToPageLink()->page, 3);
        context->goBackToPage();
        QVERIFY(shows(context, 3));
        context->goBackToPage();
        QVERIFY(shows(context, hit.link->page));

        // A bookmark (once only) and a note on a screen that starts inside a paragraph.
        context->navigateToPage(3);
        QVERIFY(shows(context, 3));
        QSignalSpy bookmarked(context.data(), &BookContext::bookmarkAdded);
        context->addBookmark();
        context->addBookmark();
        QCOMPARE(bookmarked.count(), 1);
        const QString selected = m_fixture->selectOnScreen(12);
        QVERIFY(!selected.isEmpty());
        QVERIFY(context->addNoteAtCurrentSelection(NoteItem::Yellow));
        QCOMPARE(context->notes().size(), 1);
        const NoteItem note = context->notes().first();
        QCOMPARE(note.context, selected);
        QCOMPARE(note.link->page, 3);
        const QString noteParagraph = QStringLiteral("getPageByXPathWithOffset('%1', 0)").arg(note.startPath);
        QVERIFY(viewer->chapterPage()->mainFrame()->evaluateJavaScript(noteParagraph).toInt() < 3);
        QCOMPARE(context->bookmarks().first().link->page, 3);
        const QString bookmarkSource = context->bookmarks().first().link->source;
        // Saved while the book is still open: a reader killed now keeps the note.
        const QString stateFile = ReadingStateFile::filePath(bookDataDir(m_fixture->books()->bookById(id).full_path));
        QVERIFY(ReadingFixture::waitFor([&] {
            ReadingState saved;
            return ReadingStateFile::read(stateFile, &saved) && saved.notes.size() == 1
                && saved.notes.first().startPath == note.startPath;
        }));

        context.reset();
        m_fixture->close();
        const BookDto row = m_fixture->books()->bookById(id);
        QCOMPARE(row.notes_count, 1);
        QCOMPARE(row.max_position, 3 * 100 / pageCount);
        QCOMPARE(row.is_favorite, 1);

        context = m_fixture->open(id);
        QVERIFY(context);
        QCOMPARE(context->currentPage(), 3);
        QCOMPARE(context->bookmarks().size(), 1);
        QCOMPARE(context->bookmarks().first().link->source, bookmarkSource);
        QVERIFY(ReadingFixture::waitFor([&] { return context->bookmarks().first().link->page == 3; }));
        QCOMPARE(context->notes().size(), 1);
        const NoteItem reread = context->notes().first();
        QVERIFY(reread.startPath == note.startPath && reread.endPath == note.endPath);
        QVERIFY(reread.startOffset == note.startOffset && reread.endOffset == note.endOffset);
        QCOMPARE(reread.color, NoteItem::Yellow);
        QCOMPARE(reread.link->page, 3);
        // The note is drawn again in its chapter.
        const QVariant marks = m_fixture->viewer()->chapterPage()->mainFrame()->evaluateJavaScript(
            QStringLiteral("document.getElementsByClassName('yellownote').length"));
        QVERIFY(marks.toInt() > 0);
    }

    // A damaged state file is kept as ".bak" and the older data folder's file used when there is
    // one; a note this version cannot read stays in the file after the book was read and saved.
    void stateFileFallbacks_data()
    {
        // Empty: no such file.
        QTest::addColumn<QByteArray>("current");
        QTest::addColumn<QByteArray>("legacy");
        QTest::addColumn<int>("fontSize");
        QTest::addColumn<bool>("damaged");
        const QByteArray good("{\"FontSettings\": {\"Size\": 14}}");
        QTest::newRow("current an array")
            << QByteArray("[{\"FontSettings\": {\"Size\": 31}}]") << QByteArray() << 20 << true;
        QTest::newRow("older folder only") << QByteArray() << good << 14 << false;
        QTest::newRow("bad current, good older") << QByteArray("{") << good << 14 << true;
        QTest::newRow("unread note") << QByteArray(
            R"({"FontSettings":{"Size":14},"Notes":{"Items":[)" + kOddNote + "]}}")
                                     << QByteArray() << 14 << false;
    }

    void stateFileFallbacks()
    {
        QFETCH(QByteArray, current);
        QFETCH(QByteArray, legacy);
        QFETCH(int, fontSize);
        QFETCH(bool, damaged);
        const int id = addEpub(2, 3000);
        const QString bookPath = m_fixture->books()->bookById(id).full_path;
        const QString path = ReadingStateFile::filePath(bookDataDir(bookPath));
        const QString legacyDir = legacyBookDataDir(bookPath);
        QVERIFY(current.isEmpty() || testfiles::write(path, current));
        QVERIFY(legacy.isEmpty() || testfiles::write(ReadingStateFile::filePath(legacyDir), legacy));
        QVERIFY(m_fixture->open(id, false));
        QCOMPARE(m_fixture->context()->pageParams()->fontSize(), fontSize);
        m_fixture->close();
        QCOMPARE(testfiles::read(path + QStringLiteral(".bak")), damaged ? current : QByteArray());
        ReadingState state;
        QVERIFY(ReadingStateFile::read(path, &state));
        QCOMPARE(state.fontSize.value_or(0), fontSize);
        const QJsonArray notes
            = QJsonDocument::fromJson(testfiles::read(path)).object()["Notes"].toObject()["Items"].toArray();
        QCOMPARE(notes.contains(QJsonDocument::fromJson(kOddNote).object()), current.contains(kOddNote));
    }

    // The reading page's parts follow the open book through the watcher: each connection to a
    // book exists once, and none outlives its book or its watcher.
    void watcherFollowsOneBook_data()
    {
        // Steps: "a"/"b" set that book, "0" sets none, "x" destroys the watcher. Then book a
        // and book b each change their page count once.
        QTest::addColumn<QString>("steps");
        QTest::addColumn<int>("received");
        QTest::addColumn<int>("changes");
        QTest::addColumn<int>("resets");
        QTest::newRow("one book") << "a" << 1 << 1 << 0;
        QTest::newRow("same book again") << "aa" << 1 << 2 << 1;
        QTest::newRow("another book") << "ab" << 1 << 2 << 1;
        QTest::newRow("none after a book") << "a0" << 0 << 1 << 1;
        QTest::newRow("watcher destroyed") << "ax" << 0 << 1 << 0;
    }

    void watcherFollowsOneBook()
    {
        QFETCH(QString, steps);
        QFETCH(int, received);
        QFETCH(int, changes);
        QFETCH(int, resets);
        const QSharedPointer<BookContext> a = QSharedPointer<BookContext>::create();
        const QSharedPointer<BookContext> b = QSharedPointer<BookContext>::create();
        auto counts = std::make_shared<Counts>();
        auto probe = std::make_unique<Probe>(counts);
        for (const QChar step : steps) {
            if (step == QLatin1Char('x'))
                probe.reset();
            else
                probe->setBookContext(step == QLatin1Char('a') ? a : step == QLatin1Char('b') ? b : nullptr);
        }
        a->setPageCount(10);
        b->setPageCount(10);
        QCOMPARE(counts->received, received);
        QCOMPARE(counts->changes, changes);
        QCOMPARE(counts->resets, resets);
    }

    void refusedBooksLeaveNoViewer_data()
    {
        QTest::addColumn<QString>("suffix");
        QTest::addColumn<int>("format");
        QTest::newRow("unknown format code") << "epub" << 12;
        QTest::newRow("no document for djvu") << "djvu" << 4;
    }

    void refusedBooksLeaveNoViewer()
    {
        QFETCH(QString, suffix);
        QFETCH(int, format);
        BookDto book = m_fixture->books()->bookById(addEpub(1, 1000));
        if (suffix != QLatin1String("epub")) {
            const QString epub = book.full_path;
            book.full_path.replace(QLatin1String(".epub"), QLatin1Char('.') + suffix);
            QVERIFY(QFile::copy(epub, book.full_path));
        }
        book.format = format;
        QWidget area;
        BookContext context;
        QVERIFY(!context.readBook(book, &area));
        QVERIFY(!context.viewer() && area.children().isEmpty());
    }

    void wheelTurnsOneScreenPerNotch_data()
    {
        QTest::addColumn<QList<QPoint>>("deltas");
        QTest::addColumn<int>("screens");
        QTest::newRow("touchpad steps") << QList<QPoint> { { 0, -40 }, { 0, -50 }, { 0, -30 } } << 1;
        QTest::newRow("less than a notch") << QList<QPoint> { { 0, -40 }, { 0, -40 } } << 0;
        QTest::newRow("direction changed") << QList<QPoint> { { 0, -80 }, { 0, 40 }, { 0, -80 } } << 0;
        QTest::newRow("horizontal") << QList<QPoint> { { -120, 0 }, { -240, 0 } } << 0;
        QTest::newRow("two notches") << QList<QPoint> { { 0, -240 } } << 2;
    }

    void wheelTurnsOneScreenPerNotch()
    {
        QFETCH(QList<QPoint>, deltas);
        QFETCH(int, screens);
        QVERIFY(m_fixture->open(addEpub(1, 9000), false));
        TextViewer* viewer = m_fixture->viewer();
        for (const QPoint& delta : deltas) {
            QWheelEvent event(QPointF(400, 300), QPointF(400, 300), QPoint(), delta, Qt::NoButton, Qt::NoModifier,
                Qt::NoScrollPhase, false);
            QApplication::sendEvent(viewer, &event);
        }
        QCOMPARE(viewer->chapterPage()->currentPage(), 1 + screens * m_fixture->context()->pageParams()->columnCount());
    }
};

// The look-up addresses are application settings; the encyclopedia's follows the system's
// interface language, which Qt reads once.
int main(int argc, char** argv)
{
    qputenv("LANGUAGE", "de_DE");
    TempHome home;
    KelApplication app(QUuid::createUuid().toString(), argc, argv);
    SettingsProvider settings(KelApplication::configFilePath(QStringLiteral("settings.ini")), QSettings::IniFormat);
    app.setSettings(&settings);
    TestBookContext test;
    const int result = QTest::qExec(&test, argc, argv);
    app.setSettings(nullptr);
    return result;
}

#include "tst_bookcontext.moc"
