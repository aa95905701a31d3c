// Opening, reading, keeping and using a text book, end to end: generated books in a real
// library, page numbers from the real helper, a real text viewer offscreen; reading aloud through
// a speech engine that records what it is asked to say, printing, encodings and look-ups. And
// the reading state alone: bookmarks and notes as JSON, the per-book state file (what is written,
// what reads back, and what damaged, oversized, hostile or wrong-typed files and unwritable
// folders turn into), and the open book's item models under a model tester.

#include "abstractviewer.h"
#include "appdirs.h"
#include "bookcontext.h"
#include "bookpageparams.h"
#include "checkedsave.h"
#include "cutchapterplaces.h"
#include "dataexchangesvc.h"
#include "displayformats.h"
#include "enums.h"
#include "epubbuilder.h"
#include "formats/endrequest.h"
#include "formats/epub/epubconversion.h"
#include "formats/pdf/binding/pdfenginefile.h"
#include "formats/pdf/pdfdocument.h"
#include "formats/textdocument.h"
#include "hotkeys.h"
#include "jsengine/jsengine.h"
#include "kelapplication.h"
#include "kelui.h"
#include "mainwindow/readingpage/bookcontextwatcher.h"
#include "models/bookmarkmodel.h"
#include "models/bookmodel.h"
#include "models/booksearchmodel.h"
#include "models/notesmodel.h"
#include "models/notessortfiltermodel.h"
#include "models/tocmodel.h"
#include "readingfixture.h"
#include "readingservices.h"
#include "readingstatefile.h"
#include "settingsprovider.h"
#include "smalldisk.h"
#include "speechengine.h"
#include "testfiles.h"
#include "testpaths.h"
#include "textbookchapter.h"
#include "textviewer.h"

#include <QAbstractItemModelTester>
#include <QClipboard>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPrinter>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTextCodec>
#include <QTextToSpeech>
#include <QWebFrame>
#include <QWebSettings>
#include <QtTest>

#include <memory>
#include <sys/stat.h>
#include <tuple>
#include <unistd.h>

namespace {

// Where encyclopedia look-ups go in this run (see main).
QString g_encyclopedia = QStringLiteral("https://de.wikipedia.org/");

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
    // The chapter page each text of m_reference was said on.
    QList<int> m_referencePages;
    std::unique_ptr<QTemporaryDir> m_stateDir;
    QString m_folder;
    QString m_path;

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
    // The two-chapter book opened to be read aloud by the speech engine, within the limits, once the
    // engine was made (or could not be).
    QSharedPointer<BookContext> openToReadAloud(const ReadingServices::SpeechLimits& limits, SpeechEngine* speech)
    {
        if (!ReadingFixture::waitFor([&] { return speech->status() != SpeechEngine::Status::Starting; }))
            return {};
        ReadingServices::setSpeechLimits(limits);
        ReadingServices::setTextToSpeech(speech);
        return m_fixture->open(m_epub, false);
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
        for (const char* how : { "once", "paused and resumed", "started twice", "started while loading",
                 "stopped and started again", "broken" })
            QTest::newRow(how) << how;
    }

    void readAloud()
    {
        QFETCH(QString, how);
        qApp->setProperty("speechFails", how == "broken");
        qApp->setProperty("spokenTexts", QStringList());
        qApp->setProperty("speechCalls", QStringList());
        qApp->setProperty("speechOnGuiThread", false);
        // The test engine ends each text on the next event-loop pass, far sooner than a voice could.
        ReadingServices::SpeechLimits limits;
        limits.minMsPerChar = 0;
        SpeechEngine speech(QStringLiteral("recorder"));
        QSharedPointer<BookContext> context = openToReadAloud(limits, &speech);
        QVERIFY(context);
        TextViewer* viewer = m_fixture->viewer();
        QSignalSpy done(context.data(), &BookContext::ttsNoMoreWords);
        QSignalSpy failed(context.data(), &BookContext::readingAloudFailed);
        QList<int> pages;
        // Where the first box of the highlight stands while each text is said.
        QStringList highlights;
        // The engine announces Speaking inside say(), after the page was turned for the text.
        connect(&speech, &SpeechEngine::stateChanged, viewer, [&](QTextToSpeech::State state) {
            if (state != QTextToSpeech::Speaking)
                return;
            pages << viewer->chapterPage()->currentPage();
            highlights << evaluate(QStringLiteral("(function() { var h = document.getElementById('keltts_' + "
                                                  "page.chapterUid); var b = h && h.firstChild; return b ? "
                                                  "b.style.left + ' ' + b.style.top : ''; })()"));
        });
        // From the start, whatever place the last row left in the state file.
        viewer->goLink(QStringLiteral("ch1.xhtml?kelpath=start"), true);
        QVERIFY(how == "started while loading" || ReadingFixture::waitFor([&] { return viewer->isVisible(); }));
        context->readingAloud(true);
        if (how == "started twice")
            context->readingAloud(true);
        // The end of the first text, cut short by the stop, must not pass for the end of the next.
        if (how == "stopped and started again") {
            context->readingAloud(false);
            context->readingAloud(true);
        }
        if (how == "paused and resumed") {
            context->readingAloudPause();
            QTest::qWait(300);
            QCOMPARE(qApp->property("spokenTexts").toStringList().size(), 1);
            context->readingAloud(true);
        }
        QVERIFY(ReadingFixture::waitFor([&] { return done.count() + failed.count() > 0; }, 240000));
        QTest::qWait(100);
        QCOMPARE(done.count(), how == "broken" ? 0 : 1);
        QCOMPARE(failed.count(), how == "broken" ? 1 : 0);
        QCOMPARE(viewer->isReadingAloud(), how != "broken");
        const QStringList texts = qApp->property("spokenTexts").toStringList();
        if (how == "once") {
            QVERIFY2(texts.size() > 20 && texts.first() == "Chapter 1" && texts.indexOf("Chapter 2") > 0
                    && texts.last().contains(ReadingFixture::kRareWord) && !texts.join(' ').contains("[cut]"),
                qPrintable(texts.join('\n')));
            m_reference = texts;
            m_referencePages = pages;
            // The highlight follows: on every text, and never left where the text before stood.
            QCOMPARE(highlights.size(), texts.size());
            for (int i = 0; i < highlights.size(); ++i) {
                QVERIFY2(!highlights.at(i).isEmpty(), qPrintable(texts.at(i)));
                QVERIFY2(i == 0 || highlights.at(i) != highlights.at(i - 1), qPrintable(texts.at(i)));
            }
            // The pages follow the texts forward through each chapter.
            QVERIFY(pages.last() > pages.first());
        } else if (how == "broken") {
            QCOMPARE(texts.size(), 0);
            QCOMPARE(viewer->chapterPage()->source(), QStringLiteral("ch1.xhtml"));
        } else if (how == "stopped and started again") {
            QCOMPARE(texts, QStringList(m_reference.first()) + m_reference);
        } else {
            QCOMPARE(texts, m_reference);
        }
        // Stopped, the engine is told so on its own thread: the application's thread never calls it,
        // since a service may never answer.
        const auto stops = [] { return qApp->property("speechCalls").toStringList().count(QStringLiteral("stop")); };
        const int stopsBefore = stops();
        context->readingAloud(false);
        QVERIFY(how == "broken" || ReadingFixture::waitFor([&] { return stops() > stopsBefore; }));
        QVERIFY(!qApp->property("speechOnGuiThread").toBool());
        ReadingServices::setTextToSpeech(nullptr);
        ReadingServices::setSpeechLimits({});
    }

    // An engine that stops speaking (no audio output: every text ends at once, or none ever ends)
    // stops reading aloud at the first text not heard, once; the page goes back to where the last
    // heard text stood and the book's page never moves on.
    void readAloudStopsOnFailure_data()
    {
        QTest::addColumn<QString>("mute");
        QTest::addColumn<bool>("laterPage");
        QTest::newRow("ends at once") << "instant" << false;
        QTest::newRow("never ends") << "stuck" << false;
        QTest::newRow("never ends, on the next screen") << "stuck" << true;
        // The engine's client waits for a service that never answers: the call's bound ends it.
        QTest::newRow("never answers") << "hung" << false;
    }

    void readAloudStopsOnFailure()
    {
        QFETCH(QString, mute);
        QFETCH(bool, laterPage);
        QVERIFY2(!m_referencePages.isEmpty(), "needs the reference walk of readAloud");
        // The first text said on another screen than the first: the texts before it are heard.
        int heard = 1; // "Chapter 1", too short to judge by its time
        if (laterPage) {
            heard = 0;
            while (heard < m_referencePages.size() && m_referencePages.at(heard) == m_referencePages.first())
                ++heard;
            QVERIFY(heard < m_referencePages.size());
        }
        qApp->setProperty("speechFails", false);
        qApp->setProperty("spokenTexts", QStringList());
        qApp->setProperty("speechHeard", heard);
        qApp->setProperty("speechMute", mute);
        qApp->setProperty("speechMsPerChar", 5);
        ReadingServices::SpeechLimits limits;
        const auto restoreBound
            = qScopeGuard([bound = SpeechEngine::callTimeout()] { SpeechEngine::setCallTimeout(bound); });
        if (mute == "stuck") {
            // Long enough for the texts heard (5 ms a character), short for the one that never ends.
            limits.maxStartMs = 400;
            limits.maxMsPerChar = 10;
        } else if (mute == "hung") {
            // Only the bound of the call can end it.
            limits.maxStartMs = 600000;
            SpeechEngine::setCallTimeout(1000);
        }
        SpeechEngine speech(QStringLiteral("recorder"));
        QSharedPointer<BookContext> context = openToReadAloud(limits, &speech);
        QVERIFY(context);
        TextViewer* viewer = m_fixture->viewer();
        viewer->goLink(QStringLiteral("ch1.xhtml?kelpath=start"), true);
        QVERIFY(ReadingFixture::waitFor([&] { return viewer->isVisible() && context->currentPage() > 0; }));
        const int bookPage = context->currentPage();
        const int chapterPage = viewer->chapterPage()->currentPage();
        QSignalSpy done(context.data(), &BookContext::ttsNoMoreWords);
        QSignalSpy failed(context.data(), &BookContext::readingAloudFailed);
        bool movedOn = false;
        connect(viewer->chapterPage(), &TextBookChapter::currentPageChanged, viewer,
            [&] { movedOn = movedOn || viewer->chapterPage()->currentPage() != chapterPage; });

        context->readingAloud(true);
        QVERIFY(ReadingFixture::waitFor([&] { return failed.count() > 0; }, 20000));
        QTest::qWait(300);
        QCOMPARE(failed.count(), 1);
        QCOMPARE(done.count(), 0);
        QVERIFY(!viewer->isReadingAloud());
        const QStringList texts = qApp->property("spokenTexts").toStringList();
        QVERIFY2(texts == m_reference.mid(0, heard + 1), qPrintable(texts.join(QLatin1Char('\n'))));
        QCOMPARE(movedOn, laterPage);
        QCOMPARE(viewer->chapterPage()->currentPage(), chapterPage);
        QVERIFY(ReadingFixture::waitFor([&] { return context->currentPage() == bookPage; }, 5000));
        // An engine held by its service is given up for good; one that stopped speaking is not.
        QCOMPARE(speech.stoppedAnswering(), mute == "hung");
        QCOMPARE(speech.status(), mute == "hung" ? SpeechEngine::Status::Failed : SpeechEngine::Status::Ready);
        ReadingServices::setTextToSpeech(nullptr);
        ReadingServices::setSpeechLimits({});
        for (const char* name : { "speechHeard", "speechMute", "speechMsPerChar" })
            qApp->setProperty(name, QVariant());
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

        // Paper is white with dark text whatever the screen's look: a night page prints as a day one.
        ViewerColors night = context->pageParams()->pageColors();
        night.background = QColor(0x1d, 0x20, 0x26);
        night.text = QColor(0xd8, 0xdc, 0xe3);
        night.link = QColor(0x45, 0x8b, 0xcf);
        context->pageParams()->setPageColors(night);
        printer.setOutputFileName(m_fixture->home().filePath(QStringLiteral("printed at night.pdf")));
        context->print(printer);
        PdfDocument atNight;
        QVERIFY(ReadingFixture::waitFor([&] {
            atNight.load(printer.outputFileName());
            return atNight.pageCount() > 2;
        }));
        const QImage paper = atNight.requestImage(1, 1.0);
        int light = 0, dark = 0, nightText = 0;
        for (int y = 0; y < paper.height(); y += 2) {
            for (int x = 0; x < paper.width(); x += 2) {
                const QColor pixel = paper.pixelColor(x, y);
                light += pixel.lightness() > 240;
                dark += pixel.lightness() < 80;
                nightText += qAbs(pixel.red() - night.text.red()) < 12 && qAbs(pixel.blue() - night.text.blue()) < 12;
            }
        }
        QVERIFY2(light > paper.width() * paper.height() / 8 && dark > 100 && nightText < dark,
            qPrintable(QStringLiteral("light %1 dark %2 night text %3").arg(light).arg(dark).arg(nightText)));

        // A book whose rest is still to convert is converted whole before it is printed.
        struct Release {
            ~Release() { epub::EpubConversion::holdBackgroundWork(false); }
        } release;
        epub::EpubConversion::holdBackgroundWork(true);
        context = m_fixture->open(addEpub(3, 2500), false);
        QVERIFY(context);
        QVERIFY(!context->textDocument()->isComplete());
        printer.setOutputFileName(m_fixture->home().filePath(QStringLiteral("printed early.pdf")));
        context->print(printer);
        QVERIFY(context->textDocument()->isComplete());
        PdfDocument early;
        QVERIFY(ReadingFixture::waitFor([&] {
            early.load(printer.outputFileName());
            return early.pageCount() > 2 && !early.search(ReadingFixture::kRareWord).isEmpty();
        }));
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
                                      << g_encyclopedia + "wiki/Special:Search?search=" + cyrillic;
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
        // Saved while the book is still open: a reader killed now keeps the note and the page,
        // and the library counts the note only once the state file holds it.
        const QString stateFile = ReadingStateFile::filePath(bookDataDir(m_fixture->books()->bookById(id).full_path));
        const auto saved = [&] {
            ReadingState state;
            return ReadingStateFile::read(stateFile, &state) ? state : ReadingState();
        };
        bool countedUnsaved = false;
        const QMetaObject::Connection countWatch
            = connect(m_fixture->books(), &QAbstractItemModel::dataChanged, this, [&] {
                  if (m_fixture->books()->bookById(id).notes_count == 1 && saved().notes.size() != 1)
                      countedUnsaved = true;
              });
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
        QVERIFY(ReadingFixture::waitFor([&] {
            const ReadingState state = saved();
            return state.notes.size() == 1 && state.notes.first().startPath == note.startPath
                && state.readingSource == viewer->chapterPage()->getReadingLink();
        }));
        QVERIFY(ReadingFixture::waitFor([&] { return m_fixture->books()->bookById(id).notes_count == 1; }));
        disconnect(countWatch);
        QVERIFY(!countedUnsaved);

        context.reset();
        m_fixture->close();
        const BookDto row = m_fixture->books()->bookById(id);
        QCOMPARE(row.notes_count, 1);
        // The progress counts the last page on screen.
        QCOMPARE(row.max_position, (3 + columns - 1) * 100 / pageCount);
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
        // The search of the last opening is not this one's: no hits without their query; a new
        // search brings hits that carry it, so they are coloured.
        QCOMPARE(m_fixture->pageCounter()->resultText1(), QString());
        QCOMPARE(context->searchModel()->rowCount(), 0);
        context->search(QLatin1String(ReadingFixture::kRareWord));
        QVERIFY(ReadingFixture::waitFor([&] { return context->searchModel()->rowCount() > 0; }));
        QCOMPARE(context->searchModel()->items().first().query, QLatin1String(ReadingFixture::kRareWord));
    }

    // The page counter connects late: the book opens and is read meanwhile, and a book closed and
    // another opened before it connects leave nothing behind; the one open then gets its numbers.
    // One that never connects leaves them unknown, with a log line.
    void pageCounterConnectsLate()
    {
        QTemporaryDir gateDir;
        const QString gate = gateDir.filePath(QStringLiteral("connect"));
        qputenv("PL_PAGECOUNTER_CONNECT_GATE", QFile::encodeName(gate));
        const auto restore = qScopeGuard([this] {
            qunsetenv("PL_PAGECOUNTER_CONNECT_GATE");
            m_fixture->close();
            m_fixture->restartPageCounter(KelRemoteProcHandler::kConnectTimeoutMs);
        });
        // Long enough for the steps below on a busy machine: the helper must not be given up before the gate opens.
        m_fixture->restartPageCounter(300000);
        DataExchangeSvc* counter = m_fixture->pageCounter();
        const int first = addEpub(3, 9000);
        const int second = m_fixture->addEpub(QStringLiteral("pageCounterConnectsLate second.epub"), 2, 9000);

        QSharedPointer<BookContext> context = m_fixture->open(first, false);
        QVERIFY(context);
        TextViewer* viewer = m_fixture->viewer();
        QTest::keyClick(viewer, Qt::Key_Right);
        QVERIFY(ReadingFixture::waitFor([&] { return viewer->chapterPage()->currentPage() > 1; }));
        const QString selected = m_fixture->selectOnScreen(12);
        QVERIFY(!selected.isEmpty());
        QVERIFY(context->addNoteAtCurrentSelection(NoteItem::Yellow));
        const QString place = viewer->chapterPage()->getReadingLink();
        QVERIFY(!counter->isConnected());
        context.reset();
        m_fixture->close();
        context = m_fixture->open(second, false);
        QVERIFY(context);
        QVERIFY(!counter->isConnected());
        QCOMPARE(context->pageCount(), -1);
        QVERIFY(QFile(gate).open(QIODevice::WriteOnly));
        QVERIFY(ReadingFixture::waitFor([&] { return context->pageCount() > 0 && context->currentPage() == 1; }));
        QVERIFY(counter->resultForSentChapters());
        QCOMPARE(context->pageCount(), counter->totalPageCount());
        ReadingState state;
        QVERIFY(ReadingStateFile::read(
            ReadingStateFile::filePath(bookDataDir(m_fixture->books()->bookById(first).full_path)), &state));
        QCOMPARE(state.readingSource, place);
        QCOMPARE(state.notes.size(), 1);
        QCOMPARE(state.notes.first().context, selected);
        QCOMPARE(m_fixture->books()->bookById(first).notes_count, 1);

        context.reset();
        m_fixture->close();
        QVERIFY(QFile::remove(gate));
        m_fixture->restartPageCounter(1000);
        QSignalSpy failed(m_fixture->pageCounter(), &KelRemoteProcHandler::handlerFailed);
        QTest::ignoreMessage(QtWarningMsg,
            QRegularExpression(
                QStringLiteral("^The helper did not connect within 1000 ms; \\d+ queued frames dropped$")));
        context = m_fixture->open(first, false);
        QVERIFY(context);
        QVERIFY(ReadingFixture::waitFor([&] { return failed.count() == 1; }));
        QVERIFY(m_fixture->viewer()->chapterPage()->currentPage() > 0);
        QCOMPARE(context->pageCount(), -1);
        QCOMPARE(context->currentPage(), -1);
        QCOMPARE(context->notes().size(), 1);
    }

    // End shows the last screen of the count, in two columns as in one, and the library then
    // holds the whole book read; a chapter too long for the page counter to lay out whole too.
    void endOfTheBook_data()
    {
        QTest::addColumn<int>("columns");
        QTest::addColumn<int>("chapterBytes");
        QTest::newRow("two columns") << 2 << 9000;
        QTest::newRow("one column") << 1 << 9000;
        QTest::newRow("a chapter counted in pieces") << 2 << 1300 * 1024;
    }
    void endOfTheBook()
    {
        QFETCH(int, columns);
        QFETCH(int, chapterBytes);
        SettingsProvider* settings = SettingsProvider::instance();
        const int before = settings->column_count();
        settings->setColumn_count(columns);
        struct Restore {
            SettingsProvider* settings;
            int columns;
            ~Restore() { settings->setColumn_count(columns); }
        } restore { settings, before };
        const int id = addEpub(2, chapterBytes);
        const QSharedPointer<BookContext> context = m_fixture->open(id);
        QVERIFY(context);
        QCOMPARE(context->pageParams()->columnCount(), columns);
        const int pageCount = context->pageCount();
        const int end = Hotkeys::sequences(Hotkeys::Id::Nav_ToEnd).value(0)[0];
        QTest::keyClick(m_fixture->viewer(), Qt::Key(end & ~Qt::KeyboardModifierMask),
            Qt::KeyboardModifiers(end & Qt::KeyboardModifierMask));
        QVERIFY(shows(context, pageCount));
        QCOMPARE(context->currentPage(), pageCount - columns + 1);
        QCOMPARE(context->pageCount(), pageCount);
        QCOMPARE(m_fixture->books()->bookById(id).max_position, 100);
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
        QStringList unreadable;
        ReadingServices::setStorageNoticeHandler(
            [&](ReadingServices::StorageNotice notice, const QString& file, checkedsave::Failure) {
                if (notice == ReadingServices::NotesUnreadable)
                    unreadable << file;
            });
        QVERIFY(m_fixture->open(id, false));
        QCOMPARE(m_fixture->context()->pageParams()->fontSize(), fontSize);
        // The user is told while the book is open, and the named copy is already there.
        QCOMPARE(unreadable, damaged ? QStringList { path + QStringLiteral(".bak") } : QStringList());
        QCOMPARE(testfiles::read(path + QStringLiteral(".bak")), damaged ? current : QByteArray());
        m_fixture->close();
        ReadingServices::setStorageNoticeHandler({});
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
        QTest::addColumn<bool>("ending");
        QTest::newRow("unknown format code") << "epub" << 12 << false;
        QTest::newRow("no document for djvu") << "djvu" << 4 << false;
        // The opening stops, and the book keeps the state stored for it: none.
        QTest::newRow("opened as the program ends") << "epub" << 0 << true;
    }

    void refusedBooksLeaveNoViewer()
    {
        QFETCH(QString, suffix);
        QFETCH(int, format);
        QFETCH(bool, ending);
        if (ending)
            EndRequest::raise();
        const auto goOn = qScopeGuard([] { EndRequest::clear(); });
        BookDto book = m_fixture->books()->bookById(addEpub(1, 1000));
        if (suffix != QLatin1String("epub")) {
            const QString epub = book.full_path;
            book.full_path.replace(QLatin1String(".epub"), QLatin1Char('.') + suffix);
            QVERIFY(QFile::copy(epub, book.full_path));
        }
        book.format = format;
        QWidget area;
        {
            BookContext context;
            QVERIFY(!context.readBook(book, &area));
            QVERIFY(!context.viewer() && area.children().isEmpty());
        }
        QVERIFY(!QFileInfo::exists(ReadingStateFile::filePath(bookDataDir(book.full_path))));
    }

    void wheelTurnsOneScreenPerNotch_data()
    {
        QTest::addColumn<QList<QPoint>>("deltas");
        QTest::addColumn<int>("screens");
        QTest::newRow("touchpad steps") << QList<QPoint> { { 0, -40 }, { 0, -50 }, { 0, -30 } } << 1;
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

    // A book file replaced at the same path opens with its own text, and with the reading state
    // the old one left; an unchanged file keeps what was unpacked.
    void replacedBookFile()
    {
        const QString path = m_fixture->home().filePath(QStringLiteral("replaced.epub"));
        const auto write = [&](const QString& words, const QDateTime& time) {
            EpubBuilder epub;
            epub.setTitle(QStringLiteral("Replaced"));
            epub.addChapter(QStringLiteral("c1"), QStringLiteral("ch1.xhtml"), QStringLiteral("One"),
                QStringLiteral("<p>%1</p>").arg(words));
            QFile file(path);
            return epub.write(path) && file.open(QIODevice::ReadWrite)
                && file.setFileTime(time, QFileDevice::FileModificationTime);
        };
        const auto shownText = [&] {
            QSharedPointer<TextDocument> document = m_fixture->context()->textDocument();
            QFile chapter(document->chapterFilePath(document->nextChapter(QString())));
            return chapter.open(QIODevice::ReadOnly) ? QString::fromUtf8(chapter.readAll()) : QString();
        };
        const QDateTime first = QDateTime::currentDateTime().addSecs(-60);
        QVERIFY(write(QStringLiteral("Old words of the first file."), first));
        BookDto book;
        book.full_path = path;
        book.format = kEpub;
        const int id = m_fixture->books()->addBook(book);
        QVERIFY(m_fixture->open(id, false));
        QVERIFY(shownText().contains(QLatin1String("Old words")));
        m_fixture->context()->pageParams()->setFontSize(14);
        m_fixture->close();

        // Another time; then the same time with another size.
        const QString longer = QStringLiteral("Newer words, %1.").arg(QStringLiteral("and more of them ").repeated(40));
        const QList<QPair<QString, QDateTime>> versions { { QStringLiteral("New words."), first.addSecs(30) },
            { longer, first.addSecs(30) } };
        for (const auto& version : versions) {
            QVERIFY(write(version.first, version.second));
            QVERIFY(m_fixture->open(id, false));
            QVERIFY2(shownText().contains(version.first), qPrintable(shownText()));
            QCOMPARE(m_fixture->context()->pageParams()->fontSize(), 14);
            m_fixture->close();
        }
        // The same file again: what was unpacked is used as it is.
        QVERIFY(m_fixture->open(id, false));
        QFile chapter(m_fixture->context()->textDocument()->chapterFilePath(
            m_fixture->context()->textDocument()->nextChapter(QString())));
        m_fixture->close();
        QVERIFY(chapter.open(QIODevice::Append) && chapter.write("<!-- kept -->") > 0);
        chapter.close();
        QVERIFY(m_fixture->open(id, false));
        QVERIFY(shownText().contains(QLatin1String("kept")));

        // A stamp an older version wrote, without a hash, gets one at the next opening: from then on
        // the same bytes at a new time are the same book.
        m_fixture->close();
        const QDir folder(bookDataDir(path));
        const QString stampPath = folder.filePath(folder.dirName() + QStringLiteral(".source"));
        const QFileInfo file(path);
        QVERIFY(testfiles::write(stampPath,
            QByteArray::number(file.size()) + ' ' + QByteArray::number(file.lastModified().toMSecsSinceEpoch())
                + '\n'));
        QVERIFY(m_fixture->open(id, false));
        m_fixture->close();
        QCOMPARE(testfiles::read(stampPath).trimmed().split(' ').value(2).size(), 40);
        QFile touched(path);
        QVERIFY(touched.open(QIODevice::ReadWrite)
            && touched.setFileTime(first.addSecs(90), QFileDevice::FileModificationTime));
        touched.close();
        QVERIFY(m_fixture->open(id, false));
        QVERIFY(shownText().contains(QLatin1String("kept")));
    }

    // A book opened before its conversion has gone past the first chapter (the worker held
    // back): the saved chapter shows with its style sheet and image, contents and End reach
    // chapters not converted yet, a note is kept, and page count and search wait for the whole
    // book. Closed while held, it ends at once, and opens whole again.
    void openedBeforeTheRestIsConverted()
    {
        const QString path = m_fixture->home().filePath(QStringLiteral("staged.epub"));
        constexpr int chapters = 6;
        EpubBuilder epub;
        epub.setTitle(QStringLiteral("Staged"));
        epub.addResource(QStringLiteral("css"), QStringLiteral("style.css"), "h1 { color: rgb(200, 0, 0); }",
            QStringLiteral("text/css"));
        epub.addResource(QStringLiteral("pic"), QStringLiteral("images/pic.png"), EpubBuilder::png(7, 5),
            QStringLiteral("image/png"));
        QList<EpubBuilder::NavPoint> contents;
        for (int i = 1; i <= chapters; ++i) {
            QString body = QStringLiteral("<h1>Chapter %1</h1>\n").arg(i);
            if (i == 4)
                body += QStringLiteral("<p><img src=\"images/pic.png\" alt=\"pic\"/></p>\n");
            body += QStringLiteral("<p>%1</p>\n")
                        .arg(QStringLiteral("Words of a page to read and to count. ").repeated(80))
                        .repeated(6);
            if (i == chapters)
                body += QStringLiteral("<p>At last it ended %1.</p>\n").arg(QLatin1String(ReadingFixture::kRareWord));
            const QString href = QStringLiteral("ch%1.xhtml").arg(i);
            QByteArray page = EpubBuilder::xhtml(QStringLiteral("Chapter %1").arg(i), body);
            page.replace("</head>", "<link rel=\"stylesheet\" type=\"text/css\" href=\"style.css\"/>\n</head>");
            epub.addItem(QStringLiteral("c%1").arg(i), href, page);
            contents.append({ QStringLiteral("Chapter %1").arg(i), href, {} });
        }
        epub.setNavPoints(contents);
        QVERIFY(epub.write(path));
        BookDto book;
        book.full_path = path;
        book.format = kEpub;
        const int id = m_fixture->books()->addBook(book);
        // A data folder that no stamp ties to the book file has its unpacked files made anew; the
        // reading state stays.
        const auto forgetUnpacked = [&] {
            const QDir folder(bookDataDir(path));
            return QFile::remove(folder.filePath(folder.dirName() + QStringLiteral(".source")));
        };
        const auto showsChapter = [&](int chapter) {
            TextViewer* viewer = m_fixture->viewer();
            return ReadingFixture::waitFor([&] {
                return viewer->isVisible()
                    && viewer->chapterPage()->source() == QStringLiteral("ch%1.xhtml").arg(chapter)
                    && viewer->chapterPage()->currentPage() > 0;
            });
        };

        // Read up to the fourth chapter once, so that the book opens there.
        QSharedPointer<BookContext> context = m_fixture->open(id, false);
        QVERIFY(context);
        context->navigateToLink(QStringLiteral("ch4.xhtml"));
        QVERIFY(showsChapter(4));
        context.reset();
        m_fixture->close();

        struct Release {
            ~Release() { epub::EpubConversion::holdBackgroundWork(false); }
        } release;
        QVERIFY(forgetUnpacked());
        // The style sheet and the image come from the files, not from the last opening.
        QWebSettings::clearMemoryCaches();
        epub::EpubConversion::holdBackgroundWork(true);
        context = m_fixture->open(id, false);
        QVERIFY(context);
        QVERIFY(showsChapter(4));
        const QSharedPointer<TextDocument> document = context->textDocument();
        QVERIFY(!document->isComplete());
        QVERIFY(!QFileInfo::exists(document->chapterFilePath(QStringLiteral("ch5.xhtml"))));
        QCOMPARE(evaluate(QStringLiteral("getComputedStyle(document.querySelector('h1')).color")),
            QStringLiteral("rgb(200, 0, 0)"));
        QCOMPARE(evaluate(QStringLiteral("String(document.images[0].naturalWidth)")), QStringLiteral("7"));
        // All contents entries at once.
        QCOMPARE(context->toc().size(), chapters);

        context->navigateToLink(context->toc().at(1).link);
        QVERIFY(showsChapter(2));
        QCOMPARE(evaluate(QStringLiteral("document.querySelector('h1').textContent")), QStringLiteral("Chapter 2"));
        m_fixture->viewer()->moveToEnd();
        QVERIFY(showsChapter(chapters));

        const QString selected = m_fixture->selectOnScreen(12);
        QVERIFY(!selected.isEmpty());
        QVERIFY(context->addNoteAtCurrentSelection(NoteItem::Green));
        context->search(QLatin1String(ReadingFixture::kRareWord));
        // The page counter lays out every chapter: it hears of this book only once all are there.
        QVERIFY(m_fixture->pageCounter()->bookKey() != context->contextId());
        QVERIFY(context->pageCount() <= 0);
        QVERIFY(!document->isComplete());

        epub::EpubConversion::holdBackgroundWork(false);
        QVERIFY(ReadingFixture::waitFor([&] { return document->isComplete() && context->pageCount() > 0; }));
        QCOMPARE(context->pageCount(), m_fixture->pageCounter()->totalPageCount());
        QVERIFY(ReadingFixture::waitFor([&] { return context->searchModel()->rowCount() > 0; }));
        QCOMPARE(context->searchModel()->rowCount(), 1);
        QCOMPARE(context->searchModel()->items().first().title, QStringLiteral("Chapter %1").arg(chapters));
        const QString stateFile = ReadingStateFile::filePath(bookDataDir(path));
        QVERIFY(ReadingFixture::waitFor([&] {
            ReadingState state;
            return ReadingStateFile::read(stateFile, &state) && state.notes.size() == 1
                && state.notes.first().context == selected;
        }));
        context.reset();
        m_fixture->close();

        // Closed while the rest is held back: no wait for the worker, nothing half-made.
        QVERIFY(forgetUnpacked());
        epub::EpubConversion::holdBackgroundWork(true);
        context = m_fixture->open(id, false);
        QVERIFY(context);
        QVERIFY(showsChapter(chapters));
        QVERIFY(!context->textDocument()->isComplete());
        context.reset();
        m_fixture->close();
        epub::EpubConversion::holdBackgroundWork(false);

        context = m_fixture->open(id);
        QVERIFY(context);
        QVERIFY(showsChapter(chapters));
        QVERIFY(ReadingFixture::waitFor([&] { return context->textDocument()->isComplete(); }));
        QCOMPARE(context->textDocument()->chapters().size(), chapters);
        QCOMPARE(context->notes().size(), 1);
        QVERIFY(ReadingFixture::waitFor([&] { return context->pageCount() > 0; }));
        QCOMPARE(context->pageCount(), m_fixture->pageCounter()->totalPageCount());
    }

    // The disk fills while the rest of the book converts: the chapters that fit are read, the
    // user hears why the others are missing, and an opening with room has them all again.
    void fullDiskWhileTheRestConverts()
    {
        const QString path = m_fixture->home().filePath(QStringLiteral("full disk.epub"));
        const int id = m_fixture->addEpub(QFileInfo(path).fileName(), 6, 250000);
        QVERIFY(id > 0);
        const QString folder = bookDataDir(path);
        QVERIFY(QDir().mkpath(folder));
        QList<QPair<int, checkedsave::Failure>> notices;
        ReadingServices::setStorageNoticeHandler(
            [&](ReadingServices::StorageNotice notice, const QString& file, checkedsave::Failure failure) {
                if (file == folder)
                    notices.append({ notice, failure });
            });
        struct Restore {
            ~Restore()
            {
                epub::EpubConversion::holdBackgroundWork(false);
                ReadingServices::setStorageNoticeHandler({});
            }
        } restore;
        {
            SmallDisk disk(folder);
            if (!disk.isMounted())
                QSKIP("no tmpfs can be mounted here (not root)");
            epub::EpubConversion::holdBackgroundWork(true);
            QSharedPointer<BookContext> context = m_fixture->open(id, false);
            QVERIFY(context);
            const QSharedPointer<TextDocument> document = context->textDocument();
            QVERIFY(disk.fill());
            epub::EpubConversion::holdBackgroundWork(false);
            QVERIFY(ReadingFixture::waitFor([&] { return document->isComplete(); }));
            QVERIFY(document->isPartial());
            QVERIFY(document->chapters().size() < 6);
            QCOMPARE(notices.size(), 1);
            QCOMPARE(notices.first().first, int(ReadingServices::BookPartlyUnpacked));
            QCOMPARE(notices.first().second, checkedsave::Failure::DiskFull);
            // What was read stays readable.
            QVERIFY(ReadingFixture::waitFor([&] { return m_fixture->viewer()->chapterPage()->currentPage() > 0; }));
            context.reset();
            m_fixture->close();
        }
        QSharedPointer<BookContext> context = m_fixture->open(id);
        QVERIFY(context);
        QVERIFY(ReadingFixture::waitFor([&] { return context->textDocument()->isComplete(); }));
        QVERIFY(!context->textDocument()->isPartial());
        QCOMPARE(context->textDocument()->chapters().size(), 6);
        QCOMPARE(notices.size(), 1);
        context.reset();
        m_fixture->close();
    }

    // Notes made while the book's disk fills, empties and fills again: each run of failed saves is
    // told once, and the library counts only the notes the state file holds.
    void fullDiskTwiceWithASaveBetween()
    {
        const QString path = m_fixture->home().filePath(QStringLiteral("full twice.epub"));
        const int id = m_fixture->addEpub(QFileInfo(path).fileName(), 2, 9000);
        QVERIFY(id > 0);
        const QString folder = bookDataDir(path);
        QVERIFY(QDir().mkpath(folder));
        const QString stateFile = ReadingStateFile::filePath(folder);
        int notices = 0;
        ReadingServices::setStorageNoticeHandler(
            [&](ReadingServices::StorageNotice notice, const QString& file, checkedsave::Failure failure) {
                if (notice == ReadingServices::NotesNotSaved && file == stateFile
                    && failure == checkedsave::Failure::DiskFull)
                    ++notices;
            });
        const auto restore = qScopeGuard([] { ReadingServices::setStorageNoticeHandler({}); });
        SmallDisk disk(folder);
        if (!disk.isMounted())
            QSKIP("no tmpfs can be mounted here (not root)");
        QSharedPointer<BookContext> context = m_fixture->open(id);
        QVERIFY(context);
        const auto storedNotes = [&] {
            ReadingState state;
            return ReadingStateFile::read(stateFile, &state) ? state.notes.size() : -1;
        };
        // Full disk, notes shown, notices, notes in the file and in the library.
        const QList<std::tuple<bool, int, int, int>> steps { { false, 1, 0, 1 }, { true, 2, 1, 1 }, { false, 3, 1, 3 },
            { true, 4, 2, 3 } };
        for (const auto& [full, shown, told, stored] : steps) {
            if (full)
                QVERIFY(disk.fill());
            else
                disk.release();
            context->navigateToPage(shown);
            QVERIFY(shows(context, shown));
            QVERIFY(!m_fixture->selectOnScreen(12).isEmpty());
            QVERIFY(context->addNoteAtCurrentSelection(NoteItem::Green));
            QVERIFY2(ReadingFixture::waitFor([&, full = full, stored = stored] {
                return context->hasUnsavedState() == full && storedNotes() == stored
                    && m_fixture->books()->bookById(id).notes_count == stored;
            }),
                qPrintable(QStringLiteral("%1 notes").arg(shown)));
            QCOMPARE(context->notes().size(), shown);
            QCOMPARE(notices, told);
        }
        context.reset();
        m_fixture->close();
        QCOMPARE(storedNotes(), 3);
        QCOMPARE(notices, 2);
    }

    // A fresh book folder for the state file of each test.
    void init()
    {
        m_stateDir = std::make_unique<QTemporaryDir>();
        m_folder = m_stateDir->filePath(QStringLiteral("0123456789abcdef0123456789abcdef"));
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
        QCOMPARE(QVariantList({ read.fontSize.value_or(0), read.fontFamily, read.lineSpacing.value_or(0), read.encoding,
                     read.readingSource, read.readingPage }),
            QVariantList({ 14, written.fontFamily, 150, written.encoding, written.readingSource, -1 }));

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

        // The chapters whose places are given in their parts, only when there are any.
        ReadingState cut = written;
        cut.cutChapters = QStringList { QStringLiteral("book.html") };
        QVERIFY(ReadingStateFile::write(m_path, cut, kTxt));
        QCOMPARE(jsonOfFile(m_path).value("CutChapters").toArray(), QJsonArray({ "book.html" }));
        QVERIFY(ReadingStateFile::read(m_path, &read));
        QCOMPARE(read.cutChapters, cut.cutChapters);

        // No temporary file is left beside it.
        QCOMPARE(QDir(m_folder).entryList(QDir::Files | QDir::Hidden), QStringList(QFileInfo(m_path).fileName()));
    }

    // A chapter cut into parts as a large MOBI book is, of markup the parser reads its own way:
    // every place in the whole chapter (the start of each text, in its element or in the body's
    // text) is found in the part that holds it, at the same words. A note that ran across a cut
    // ends with its first part. Chapters whose places are given in their parts are left alone.
    void placesInTheParts_data()
    {
        QTest::addColumn<QByteArrayList>("parts"); // the body of each part
        QTest::newRow("headings and paragraphs") << QByteArrayList { "<h2>One</h2><p>Alpha <b>beta</b> gamma</p>",
            "<h2>Two</h2><p>Delta</p><p>Epsilon <i>zeta</i></p>", "<h2>Three</h2><div><p>Eta</p> theta</div>" };
        QTest::newRow("text right in the body") << QByteArrayList { "<p>Iota</p>Loose &amp; free&#8217;s\r\nwords<br>"
                                                                    "more &#x1F600; kappa &#;<br>\n",
            "<h2>Lambda</h2>Tail&nbsp;text &copy2020 &zz <br>mu", "<h3>Nu</h3>xi<p>omicron</p>pi" };
        QTest::newRow("spans and line breaks") << QByteArrayList { "<span>rho</span><br>sigma<br/><span>tau</span>",
            "<span>upsilon</span><br>phi<span>chi</span>", "<p>psi</p><br><span>omega</span>" };
        QTest::newRow("formatting carried across blocks")
            << QByteArrayList { "<p><b>bold one</p><p>bold two</p></b><p>plain</p>",
                   "<h2>Cut</h2><p><i>it</p>loose<p>also</p></i><p>end</p>", "<p>last</p>" };
        QTest::newRow("stray end tags") << QByteArrayList { "<p>aa</p></p>bb</br>cc", "<h2>dd</h2></p>ee</br>ff",
            "<p>gg</p>" };
        QTest::newRow("raw text, comments, preformatted text")
            << QByteArrayList { "<pre>\nline one</pre><!-- <p>no</p> --><script>var s = '<p>';</script>"
                                "<style>p { color: red; }</style><p>words</p>",
                   "<h3>Head</h3><pre>\r\nline two</pre><textarea>\nt &amp; u</textarea><p>more</p>",
                   "<table><tr><td>cell</td></tr></table><p>after</p>" };
    }

    void placesInTheParts()
    {
        QFETCH(QByteArrayList, parts);
        const QByteArray head
            = "<head><meta http-equiv=\"Content-Type\" content=\"text/html; charset = utf-8\"/></head>";
        TextDocument document(m_folder + QStringLiteral(".mobi"));
        document.setBasePath(m_folder);
        QStringList names;
        QByteArray whole;
        for (int k = 0; k < parts.size(); ++k) {
            names << (k == 0 ? QStringLiteral("w.html")
                             : QStringLiteral("w_%1.html").arg(k + 1, 4, 10, QLatin1Char('0')));
            const QByteArray end = k + 1 == parts.size() ? "</body></html>" : "";
            const QByteArray file = k == 0
                ? head + "<html><head><title>T</title><guide></guide></head><body>" + parts.at(k) + end
                : head + parts.at(k) + end;
            whole += k == 0 ? file : parts.at(k) + end;
            QVERIFY(testfiles::write(document.chapterFilePath(names.last()), file));
            document.addChapter(names.last());
        }
        document.setChapterParts(QStringLiteral("w.html"), names);
        const auto load = [](const QByteArray& html) {
            auto page = std::make_shared<QWebPage>();
            page->mainFrame()->setContent(html, QStringLiteral("text/html;charset=utf-8"));
            page->mainFrame()->evaluateJavaScript(jsengine::scriptWithInit(QStringLiteral("u")));
            return page;
        };
        // The start of every text of the whole, as the engine gives a place there, and its words.
        const QVariantList places
            = load(whole)
                  ->mainFrame()
                  ->evaluateJavaScript("(function () { var out = [], w = kelTextWalker(kelColumns()), n;"
                                       " while ((n = w.nextNode())) { var k = n.data.search(/\\S/);"
                                       " if (k < 0) continue; var p = kelElementPoint(n, k);"
                                       " out.push({ path: kelElementPath(p.element), offset: p.offset,"
                                       " words: n.data.substr(k, 6) }); } return out; })()")
                  .toList();
        QVERIFY(places.size() >= 6);
        std::vector<std::shared_ptr<QWebPage>> shown;
        for (const QString& name : names)
            shown.push_back(load(testfiles::read(document.chapterFilePath(name))));
        const auto wordsAt = [&](const CutChapterPlaces::Place& place, int length) {
            const int k = names.indexOf(place.chapter);
            return k < 0 ? QStringLiteral("no part")
                         : shown.at(k)
                               ->mainFrame()
                               ->evaluateJavaScript(QStringLiteral(
                                   "(function () { var r = kelResolvePosition('%1&offset=%2');"
                                   " return r ? r.element.textContent.substr(r.offset, %3) : 'nowhere'; })()")
                                                        .arg(jsengine::escaped(place.path))
                                                        .arg(place.offset)
                                                        .arg(length))
                               .toString();
        };
        CutChapterPlaces cut(document);
        QCOMPARE(cut.chapters(), QStringList { "w.html" });
        QSet<QString> partsReached;
        for (const QVariant& value : places) {
            const QVariantMap map = value.toMap();
            CutChapterPlaces::Place place { "w.html", map.value("path").toString(), map.value("offset").toInt() };
            const bool moved = cut.relocate(&place);
            QCOMPARE(moved, place.chapter != "w.html");
            const QString words = map.value("words").toString();
            QVERIFY2(wordsAt(place, words.size()) == words,
                qPrintable(map.value("path").toString() + ' ' + place.chapter + ' ' + place.path + ' '
                    + QString::number(place.offset) + ": " + wordsAt(place, words.size()) + " / " + words));
            // Found again where it is now, it stays.
            QVERIFY(!cut.relocate(&place));
            partsReached.insert(place.chapter);
        }
        QCOMPARE(partsReached.size(), names.size());

        // A note from the second part into the third, and a link to its start.
        const QVariantMap first = places.at(places.size() / 2).toMap();
        const QVariantMap last = places.last().toMap();
        NoteItem note;
        note.chapter = QStringLiteral("W.html");
        note.startPath = first.value("path").toString();
        note.startOffset = first.value("offset").toInt();
        note.endPath = last.value("path").toString();
        note.endOffset = last.value("offset").toInt() + 2;
        QVERIFY(cut.relocate(&note));
        const int part = names.indexOf(note.chapter);
        QVERIFY2(part > 0 && part + 1 < names.size(), qPrintable(note.chapter));
        QCOMPARE(note.link->source,
            TextBookChapter::readingLink(note.chapter, note.startPath)
                + "&offset=" + QString::number(note.startOffset));
        const QString marked = shown.at(part)
                                   ->mainFrame()
                                   ->evaluateJavaScript(QStringLiteral(
                                       "createNoteFromParams('%1', %2, '%3', %4, 'n', 'x') ? notes.x.r.toString() : ''")
                                                            .arg(jsengine::escaped(note.startPath))
                                                            .arg(note.startOffset)
                                                            .arg(jsengine::escaped(note.endPath))
                                                            .arg(note.endOffset))
                                   .toString();
        const QString partText = shown.at(part)->mainFrame()->evaluateJavaScript("kelColumns().textContent").toString();
        QVERIFY2(marked.startsWith(first.value("words").toString()) && partText.endsWith(marked), qPrintable(marked));

        // A bookmark's and the position's links; none in a chapter given in parts already.
        const QString source = TextBookChapter::readingLink(
            "w.html", last.value("path").toString() + "&offset=" + last.value("offset").toString());
        const QString relocated = cut.relocatedSource(source);
        QVERIFY(relocated.startsWith(names.last() + "?kelpath="));
        QCOMPARE(cut.relocatedSource(relocated), relocated);
        QCOMPARE(cut.relocatedSource("w.html#anchor"), QStringLiteral("w.html#anchor"));
        CutChapterPlaces placed(document, { "W.HTML" });
        QVERIFY(placed.isEmpty());
        QCOMPARE(placed.relocatedSource(source), source);
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
        const QString gone = ReadingStateFile::filePath(m_stateDir->filePath(QStringLiteral("missing/abc")));
        QVERIFY(!ReadingStateFile::write(gone, state, kEpub));
        QVERIFY(testfiles::write(m_stateDir->filePath(QStringLiteral("plainfile")), "x"));
        QVERIFY(!ReadingStateFile::write(
            m_stateDir->filePath(QStringLiteral("plainfile/plainfile.settings")), state, kEpub));

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

    // A full disk never empties the state file: the old file stays whole, the failure is
    // reported once per file as notes that could not be saved. On a real 2 MB file system when
    // the test may mount one, and through the save helper's seam either way.
    void fullDiskKeepsStateFile_data()
    {
        QTest::addColumn<bool>("realDisk");
        QTest::newRow("tmpfs filled up") << true;
        QTest::newRow("injected failure") << false;
    }

    void fullDiskKeepsStateFile()
    {
        QFETCH(bool, realDisk);
        SmallDisk disk;
        if (realDisk && !disk.isMounted())
            QSKIP("no tmpfs can be mounted here (not root)");
        const QString folder = realDisk ? disk.filePath(QStringLiteral("0123456789abcdef")) : m_folder;
        QVERIFY(QDir().mkpath(folder));
        const QString path = ReadingStateFile::filePath(folder);
        QVERIFY(ReadingStateFile::write(path, ReadingStateFile::defaults(kOriginalFont), kEpub));
        const QByteArray before = testfiles::read(path);
        QVERIFY(!before.isEmpty());

        QList<QPair<int, QString>> notices;
        ReadingServices::setStorageNoticeHandler(
            [&](ReadingServices::StorageNotice notice, const QString& file, checkedsave::Failure failure) {
                notices.append({ notice, file });
                QCOMPARE(failure, checkedsave::Failure::DiskFull);
            });
        if (realDisk)
            QVERIFY(disk.fill());
        else
            checkedsave::setFailureInjector([&path](const QString& file) { return file == path; });
        const ReadingState state = fullState();
        const bool first = ReadingStateFile::write(path, state, kEpub);
        const bool second = ReadingStateFile::write(path, state, kEpub);
        checkedsave::setFailureInjector({});
        QVERIFY(!first);
        QVERIFY(!second);
        QCOMPARE(testfiles::read(path), before);
        QCOMPARE(notices.size(), 1);
        QCOMPARE(notices.first().first, int(ReadingServices::NotesNotSaved));
        QCOMPARE(notices.first().second, path);
        // Nothing of the failed saves is left beside the file.
        QCOMPARE(QDir(folder).entryList(QDir::Files | QDir::Hidden), QStringList { QFileInfo(path).fileName() });

        // With room again the state is saved; a full disk after that is told again.
        disk.release();
        QVERIFY(ReadingStateFile::write(path, state, kEpub));
        QCOMPARE(ReadingStateFile::toJson(state, kEpub), jsonOfFile(path));
        if (realDisk)
            QVERIFY(disk.fill());
        else
            checkedsave::setFailureInjector([&path](const QString& file) { return file == path; });
        QVERIFY(!ReadingStateFile::write(path, fullState(), kEpub));
        QVERIFY(!ReadingStateFile::write(path, fullState(), kEpub));
        checkedsave::setFailureInjector({});
        ReadingServices::setStorageNoticeHandler({});
        QCOMPARE(notices.size(), 2);
        QCOMPARE(notices.last(), qMakePair(int(ReadingServices::NotesNotSaved), path));
    }

    void notesModelSetData()
    {
        NotesModel model;
        QAbstractItemModelTester tester(&model);
        const QList<NoteItem> notes = fullState().notes;
        for (const NoteItem& note : notes)
            model.addNote(note);

        // An edit keeps the note's place in the text.
        NoteItem edited = notes.at(2);
        edited.color = NoteItem::Green;
        edited.startOffset = 99;
        QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);
        QVERIFY(model.setData(model.index(2, 0), QVariant::fromValue(edited), Qt::EditRole));
        QCOMPARE(changed.count(), 1);
        const NoteItem stored = model.index(2, 0).data(Qt::UserRole).value<NoteItem>();
        QCOMPARE(QVariantList({ stored.color, stored.startOffset }),
            QVariantList({ NoteItem::Green, notes.at(2).startOffset }));

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

        // updateNotes takes each note by id, in any order, and reports every row changed once.
        changed.clear();
        QList<NoteItem> retitled { NoteItem() };
        for (int i = notes.size() - 1; i >= 0; --i) {
            retitled << notes.at(i);
            retitled.last().title = QStringLiteral("Part %1").arg(i);
            retitled.last().startOffset = -1;
        }
        model.updateNotes(retitled);
        QCOMPARE(changed.count(), 1);
        QCOMPARE(changed.first().at(0).toModelIndex().row(), 0);
        QCOMPARE(changed.first().at(1).toModelIndex().row(), notes.size() - 1);
        for (int i = 0; i < notes.size(); ++i) {
            const NoteItem stored = model.index(i, 0).data(Qt::UserRole).value<NoteItem>();
            QCOMPARE(stored.title, QStringLiteral("Part %1").arg(i));
            QCOMPARE(stored.startOffset, notes.at(i).startOffset);
        }

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
void TestBookContext::noteFieldsFromTheFile_data()
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
    row("no context, comment and date of other types", R"({"Context":"-","Note":7,"Date":{}})", "3 12 0");
    row("date as a number", R"({"Date":1684315812345,"StartOffset":-3})", "3 -3 1684315812345");
    row("date beyond any calendar", R"({"Date":"9223372036854775807","StartOffset":1e300})", "3 0 0");
    row("date overflowing", R"({"Date":"99999999999999999999","StartOffset":-1e10})", "3 0 0");
    row("offset as text", R"({"StartOffset":"12"})", "3 0 1600000240000");
    row("largest offset", R"({"StartOffset":2147483647})", "3 2147483647 1600000240000");
}

void TestBookContext::partialAndWrongTypedFiles_data()
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
    // A bookmark needs its source, title and text as texts, empty or not.
    row("good and bad items",
        R"({"Notes":{"Items":[)" + note + R"(,5,{},null,)" + note + R"(],"Version":"x"},)" + R"("Bookmarks":{"Items":[)"
            + bookmark + R"(,{"Source":1,"Title":"t","Text":"x"},{"Source":"a","Title":["t"],"Text":"x"},)"
            + R"({"Source":"a","Title":"t","Text":null},{"Source":"a","Title":"","Text":""},[]]}})",
        "!20 110 Original font - - -1 2 2");
}

void TestBookContext::refusedFiles_data()
{
    QTest::addColumn<QByteArray>("data");
    QTest::newRow("empty file") << QByteArray();
    QTest::newRow("bad UTF-8 in a string") << QByteArray("{\"FontSettings\":{\"FontFamily\":\"\xc3\x28\"}}");
    QTest::newRow("nested past any limit")
        << (QByteArray(R"({"Notes":)") + QByteArray(200000, '[') + QByteArray(200000, ']') + "}");
    // Cut short of its end, as a crash while writing in place would leave it.
    const QByteArray whole = QJsonDocument(ReadingStateFile::toJson(fullState(), kTxt)).toJson();
    QTest::newRow("cut in the middle") << whole.left(whole.size() / 2);
}

// The look-up addresses are application settings; the encyclopedia's follows the system's
// interface language, which Qt reads once: German, or under PL_C_LOCALE (a run of its own) the C
// locale, which names none.
int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsSet("PL_C_LOCALE")) {
        for (const char* name : { "LANGUAGE", "LC_ALL", "LC_MESSAGES" })
            qunsetenv(name);
        qputenv("LANG", "C.UTF-8");
        g_encyclopedia = QStringLiteral("https://wikipedia.org/");
    } else {
        qputenv("LANGUAGE", "de_DE");
    }
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
