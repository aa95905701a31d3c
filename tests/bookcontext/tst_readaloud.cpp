// Reading a text book aloud through the book context: a generated two-chapter EPUB in a real
// library with the real page-counting helper, spoken by the test speech engine (which records
// what it is asked to say) and, when installed, by the flite engine.

#include "bookcontext.h"
#include "readingfixture.h"
#include "readingservices.h"
#include "textbookchapter.h"
#include "textviewer.h"

#include <QSignalSpy>
#include <QTextToSpeech>
#include <QtTest>

namespace {

QStringList spoken() { return qApp->property("spokenTexts").toStringList(); }

} // namespace

class TestReadAloud : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QCoreApplication::addLibraryPath(QStringLiteral(SPEECH_PLUGIN_DIR));
        QVERIFY2(QTextToSpeech::availableEngines().contains(QStringLiteral("recorder")),
            qPrintable(QTextToSpeech::availableEngines().join(QLatin1Char(' '))));
        m_fixture.reset(new ReadingFixture);
        m_bookId = m_fixture->addEpub(QStringLiteral("two.epub"), 2, 2500);
        QVERIFY(m_bookId >= 0);
    }

    void cleanup()
    {
        m_fixture->close();
        ReadingServices::setTextToSpeech(nullptr);
        qApp->setProperty("speechFails", false);
    }

    void readsToTheEnd_data()
    {
        QTest::addColumn<QString>("how");
        // The first row is the reference the others are compared with.
        QTest::newRow("once") << "once";
        QTest::newRow("paused and resumed") << "pause";
        QTest::newRow("started twice") << "twice";
        QTest::newRow("started while a chapter loads") << "loading";
    }

    void readsToTheEnd()
    {
        QFETCH(QString, how);
        QTextToSpeech speech(QStringLiteral("recorder"));
        ReadingServices::setTextToSpeech(&speech);
        qApp->setProperty("spokenTexts", QStringList());
        QSharedPointer<BookContext> context = m_fixture->open(m_bookId, false);
        QVERIFY(context);
        TextViewer* viewer = m_fixture->viewer();
        QSignalSpy done(context.data(), &BookContext::ttsNoMoreWords);

        // From the start of the book, whatever place the last row left in the state file.
        viewer->goLink(QStringLiteral("ch1.xhtml?kelpath=start"), true);
        QVERIFY(!viewer->isVisible());
        if (how != QLatin1String("loading"))
            QVERIFY(ReadingFixture::waitFor([&] { return viewer->isVisible(); }));
        context->readingAloud(true);
        if (how == QLatin1String("twice")) {
            context->readingAloud(true);
        } else if (how == QLatin1String("pause")) {
            context->readingAloudPause();
            QTest::qWait(300);
            QCOMPARE(spoken().size(), 1);
            QVERIFY(viewer->isReadingAloudPaused());
            context->readingAloud(true);
        }
        QVERIFY(ReadingFixture::waitFor([&] { return done.count() > 0; }));
        QTest::qWait(200);
        QCOMPARE(done.count(), 1);
        const QStringList texts = spoken();

        if (how == QLatin1String("once")) {
            const QString all = texts.join(QLatin1Char('\n'));
            QVERIFY2(!all.contains(QLatin1String("[cut]")), qPrintable(all));
            QCOMPARE(texts.first().trimmed(), QStringLiteral("Chapter 1"));
            QVERIFY2(texts.contains(QStringLiteral("Chapter 2")), qPrintable(all));
            QVERIFY2(texts.last().contains(QLatin1String(ReadingFixture::kRareWord)), qPrintable(texts.last()));
            QVERIFY(texts.size() > 20);
            // The second chapter came to the screen while it was read.
            QCOMPARE(viewer->chapterPage()->source(), QStringLiteral("ch2.xhtml"));
            m_reference = texts;
        } else {
            QVERIFY(!m_reference.isEmpty());
            QCOMPARE(texts, m_reference);
        }
        context->readingAloud(false);
        QVERIFY(!viewer->isReadingAloud());
    }

    void failingEngineStops()
    {
        qApp->setProperty("speechFails", true);
        QTextToSpeech speech(QStringLiteral("recorder"));
        QCOMPARE(speech.state(), QTextToSpeech::BackendError);
        ReadingServices::setTextToSpeech(&speech);
        qApp->setProperty("spokenTexts", QStringList());
        QSharedPointer<BookContext> context = m_fixture->open(m_bookId, false);
        QVERIFY(context);
        QSignalSpy done(context.data(), &BookContext::ttsNoMoreWords);
        QTest::ignoreMessage(QtWarningMsg, "The speech engine failed; reading aloud stops");
        context->readingAloud(true);
        QCOMPARE(done.count(), 1);
        QVERIFY(!m_fixture->viewer()->isReadingAloud());
        QVERIFY(spoken().isEmpty());
    }

    void withoutSpeechNothingHappens()
    {
        QSharedPointer<BookContext> context = m_fixture->open(m_bookId, false);
        QVERIFY(context);
        QSignalSpy done(context.data(), &BookContext::ttsNoMoreWords);
        context->readingAloud(true);
        QVERIFY(!m_fixture->viewer()->isReadingAloud());
        context->readingAloud(false);
        QCOMPARE(done.count(), 0);
    }

    void fliteReachesTheEnd()
    {
        if (!QTextToSpeech::availableEngines().contains(QStringLiteral("flite")))
            QSKIP("The flite speech engine is not installed");
        QTextToSpeech speech(QStringLiteral("flite"));
        if (speech.state() == QTextToSpeech::BackendError)
            QSKIP("The flite speech engine does not start here");
        ReadingServices::setTextToSpeech(&speech);
        const int id = m_fixture->addEpub(QStringLiteral("short.epub"), 2, 10);
        QSharedPointer<BookContext> context = m_fixture->open(id, false);
        QVERIFY(context);
        QSignalSpy done(context.data(), &BookContext::ttsNoMoreWords);
        context->readingAloud(true);
        QVERIFY(ReadingFixture::waitFor([&] { return done.count() > 0; }, 240000));
        QCOMPARE(m_fixture->viewer()->chapterPage()->source(), QStringLiteral("ch2.xhtml"));
    }

private:
    QScopedPointer<ReadingFixture> m_fixture;
    int m_bookId = -1;
    QStringList m_reference;
};

QTEST_MAIN(TestReadAloud)

#include "tst_readaloud.moc"
