// Reading aloud, printing, encodings and selection look-ups of an open book, end to end: books
// generated into a real library, the real page-counting helper, a text viewer offscreen.

#include "abstractviewer.h"
#include "appdirs.h"
#include "bookcontext.h"
#include "dataexchangesvc.h"
#include "formats/pdf/binding/pdfenginefile.h"
#include "formats/pdf/pdfdocument.h"
#include "kelapplication.h"
#include "kelui.h"
#include "models/bookmodel.h"
#include "readingfixture.h"
#include "readingservices.h"
#include "readingstatefile.h"
#include "settingsprovider.h"
#include "testpaths.h"
#include "textbookchapter.h"
#include "textviewer.h"

#include <QClipboard>
#include <QDesktopServices>
#include <QPrinter>
#include <QSignalSpy>
#include <QTextCodec>
#include <QTextToSpeech>
#include <QWebFrame>
#include <QtTest>

class TestReadingTools : public QObject {
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
        for (const char* how :
            { "once", "paused and resumed", "started twice", "started while loading", "broken", "flite" })
            QTest::newRow(how) << how;
    }

    void readAloud()
    {
        QFETCH(QString, how);
        const QString engine = how == "flite" ? how : "recorder";
        if (!QTextToSpeech::availableEngines().contains(engine))
            QSKIP("The speech engine is not installed");
        qApp->setProperty("speechFails", how == "broken");
        qApp->setProperty("spokenTexts", QStringList());
        QTextToSpeech speech(engine);
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
        } else if (how == "broken" || how == "flite") {
            QCOMPARE(texts.size(), 0);
            QCOMPARE(viewer->chapterPage()->source(), QString(how == "flite" ? "ch2.xhtml" : "ch1.xhtml"));
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
        QTest::newRow("web") << QByteArray("searchSelectionGoogle") << " lantern "
                             << "https://www.google.com/search?q=lantern";
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
    TestReadingTools test;
    const int result = QTest::qExec(&test, argc, argv);
    app.setSettings(nullptr);
    return result;
}

#include "tst_readingtools.moc"
