// The page-counting client against the real helper on generated chapters: the helper's numbers
// must be those the reading engine gives in one chapter page at the same size and font, since a
// book page is the chapter's start page plus the engine's page within the chapter.

#include "chapterbuilder.h"
#include "dataexchangesvc.h"
#include "enginepage.h"
#include "jsengine/jsengine.h"
#include "temphome.h"
#include "testpaths.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QUrl>
#include <QtTest>

#include <csignal>
#include <memory>

namespace {

constexpr int kReplyTimeoutMs = 120000;
const char kWord[] = "zebrafish";

class Client : public DataExchangeSvc {
public:
    Client()
        : DataExchangeSvc(testpaths::binDir() + QStringLiteral("/zuvezedoda"), nullptr)
    {
    }
    using DataExchangeSvc::helperProcessId;
};

struct TestChapter {
    QString source;
    QString path;
};

// The numbers one chapter page gives for a chapter: its page count and the pages of links.
struct EngineNumbers {
    int count = -1;
    QHash<QString, int> linkPages; // engine link ("#id", "kelpath=...") -> page
};

QString encoded(const QString& path) { return QString::fromLatin1(QUrl::toPercentEncoding(path)); }

} // namespace

class TestPageCounterClient : public QObject {
    Q_OBJECT

    TempHome m_home;
    QTemporaryDir m_dir;
    QList<TestChapter> m_chapters;
    std::unique_ptr<Client> m_client;
    QString m_paragraphPath; // an element path in the third chapter
    QString m_printFile;

    QList<ChapterPageInfo> chapterInfos() const
    {
        QList<ChapterPageInfo> infos;
        for (const TestChapter& chapter : m_chapters) {
            ChapterPageInfo info;
            info.source = chapter.source;
            info.fileUrl = QUrl::fromLocalFile(chapter.path);
            infos.append(info);
        }
        return infos;
    }

    static PaginationRequest request(const PageFormat& format, const QSet<QString>& links = {})
    {
        PaginationRequest r;
        r.pageFormatScript = EnginePage::pageFormatScript(format);
        r.fontSize = format.fontSize;
        r.linkSources = links;
        return r;
    }

    EngineNumbers engineNumbers(int chapter, const PageFormat& format, const QStringList& links = {})
    {
        EnginePage page;
        EngineNumbers numbers;
        numbers.count = page.open(m_chapters.at(chapter).path, format);
        for (const QString& link : links)
            numbers.linkPages.insert(link, page.getPageByKelLink(link));
        return numbers;
    }

    bool paginate(const PaginationRequest& r)
    {
        QSignalSpy started(m_client.get(), &DataExchangeSvc::calcStarted);
        QSignalSpy done(m_client.get(), &DataExchangeSvc::calcDone);
        m_client->repaginate(r);
        return started.count() == 1 && (done.count() == 1 || done.wait(kReplyTimeoutMs));
    }

    // Page counts and start pages of the last result match the engine's counts.
    void checkCounts(const PageFormat& format)
    {
        int start = 0;
        for (int i = 0; i < m_chapters.size(); ++i) {
            const int count = engineNumbers(i, format).count;
            QVERIFY(count > 0);
            QCOMPARE(m_client->chapterPageCount(m_chapters.at(i).source), count);
            QCOMPARE(m_client->chapterStartPage(m_chapters.at(i).source), start);
            start += count;
        }
        QCOMPARE(m_client->totalPageCount(), start);
        QCOMPARE(m_client->resultNumber(), start);
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        // A print goes into this file, so no print system is needed (read by the helper at its start).
        m_printFile = m_dir.filePath(QStringLiteral("printed.pdf"));
        qputenv("ZUVEZEDODA_PRINT_FILE", m_printFile.toLocal8Bit());

        ChapterBuilder one(21);
        one.addHeading(1, QStringLiteral("Chapter One"));
        one.addProse(6);
        one.addParagraph(QStringLiteral("The %1 swam past the harbour. It was small.").arg(kWord));
        one.addProse(8);
        one.addParagraph(QStringLiteral("Nobody saw the Zebrafish again."));
        one.addProse(3);
        ChapterBuilder two(22);
        two.addHeading(1, QStringLiteral("Chapter Two"));
        two.addRealisticContent(40000);
        two.addRaw(QStringLiteral("<h2 id=\"target\">The target</h2>\n"));
        two.addProse(10);
        ChapterBuilder three(23);
        three.addHeading(1, QStringLiteral("Chapter Three"));
        three.addProse(15);
        three.addParagraph(QStringLiteral("A last %1 here.").arg(kWord));
        three.addProse(4);
        const QString text = m_dir.filePath(QStringLiteral("Text"));
        m_chapters = {
            { QStringLiteral("Text/one.xhtml"), one.write(text, QStringLiteral("one.xhtml")) },
            { QStringLiteral("Text/two.xhtml"), two.write(text, QStringLiteral("two.xhtml")) },
            { QStringLiteral("Text/three.html"), three.write(text, QStringLiteral("three.html")) },
        };
        for (const TestChapter& chapter : m_chapters)
            QVERIFY(!chapter.path.isEmpty());
        // The 12th paragraph of the third chapter, wrapped by the engine's two divs.
        m_paragraphPath = QStringLiteral("/HTML[1]/BODY[1]/DIV[1]/DIV[1]/P[12]");

        m_client.reset(new Client);
        m_client->setBookKey(QStringLiteral("book-1"));
        m_client->sendChapterList(chapterInfos());
        QVERIFY(m_client->isConnected());
        m_client->search(QString::fromLatin1(kWord));
    }

    void paginatesLikeTheEngine()
    {
        const PageFormat format = PageFormat::withColumns(2);
        const QString pathLink = QStringLiteral("kelpath=") + encoded(m_paragraphPath);
        const QSet<QString> links = {
            QStringLiteral("Text/two.xhtml#target"),
            QStringLiteral("Text/three.html?") + pathLink,
            QStringLiteral("Text/one.xhtml?kelpath=end"),
            QStringLiteral("Text/two.xhtml?kelpath=start"),
            QStringLiteral("Text/two.xhtml?kelpage=3"),
            QStringLiteral("Text/three.html"),
            QStringLiteral("TEXT/ONE.XHTML#missing"),
            QStringLiteral("Text/nowhere.xhtml#target"),
        };
        QVERIFY(paginate(request(format, links)));
        checkCounts(format);

        const int one = engineNumbers(0, format).count;
        const EngineNumbers two = engineNumbers(1, format, { QStringLiteral("#target") });
        const EngineNumbers three = engineNumbers(2, format, { pathLink });
        QVERIFY(two.linkPages.value(QStringLiteral("#target")) > 1);
        QVERIFY(three.linkPages.value(pathLink) > 1);

        const QHash<QString, int> pages = m_client->linkPages();
        QCOMPARE(pages.value(QStringLiteral("Text/two.xhtml#target")), one + two.linkPages.value("#target"));
        QCOMPARE(pages.value(QStringLiteral("Text/three.html?") + pathLink),
            one + two.count + three.linkPages.value(pathLink));
        QCOMPARE(pages.value(QStringLiteral("Text/one.xhtml?kelpath=end")), one);
        QCOMPARE(pages.value(QStringLiteral("Text/two.xhtml?kelpath=start")), one + 1);
        QCOMPARE(pages.value(QStringLiteral("Text/two.xhtml?kelpage=3")), one + 3);
        QCOMPARE(pages.value(QStringLiteral("Text/three.html")), one + two.count + 1);
        // An anchor that is gone still lands in its chapter (named in another letter case).
        QCOMPARE(pages.value(QStringLiteral("TEXT/ONE.XHTML#missing")), 1);
        QVERIFY(!pages.contains(QStringLiteral("Text/nowhere.xhtml#target")));
        QCOMPARE(pages.size(), links.size() - 1);
        QVERIFY(m_client->resultText2().isEmpty());
    }

    void searchHitsOfTwoChaptersInOrder()
    {
        const PageFormat format = PageFormat::withColumns(2);
        m_client->search(QString::fromLatin1(kWord));
        QVERIFY(paginate(request(format)));
        QCOMPARE(m_client->resultText1(), QString::fromLatin1(kWord));

        const QList<SearchItem> hits = m_client->searchHits();
        QCOMPARE(hits.size(), 3);
        const QStringList chapters
            = { QStringLiteral("Text/one.xhtml"), QStringLiteral("Text/one.xhtml"), QStringLiteral("Text/three.html") };
        const QList<int> indexes = { 0, 0, 2 };
        int previousPage = 0;
        for (int i = 0; i < hits.size(); ++i) {
            const SearchItem& hit = hits.at(i);
            QVERIFY2(hit.text.contains(QLatin1String(kWord), Qt::CaseInsensitive), qPrintable(hit.text));
            const QString prefix = chapters.at(i) + QStringLiteral("?kelpath=");
            QVERIFY2(hit.link->source.startsWith(prefix), qPrintable(hit.link->source));
            QVERIFY(hit.link->page >= previousPage);
            previousPage = hit.link->page;
            // The hit's link leads the chapter page to the page the helper gave.
            const QString engineLink = hit.link->source.mid(chapters.at(i).size() + 1);
            const EngineNumbers numbers = engineNumbers(indexes.at(i), format, { engineLink });
            QCOMPARE(hit.link->page, m_client->chapterStartPage(chapters.at(i)) + numbers.linkPages.value(engineLink));
        }
        QCOMPARE(hits.at(0).text, QStringLiteral("The %1 swam past the harbour.").arg(kWord));
        QCOMPARE(hits.at(1).text, QStringLiteral("Nobody saw the Zebrafish again."));
    }

    void repaginatesAfterFontSizeChange()
    {
        PageFormat format = PageFormat::withColumns(2);
        int before = 0;
        for (int i = 0; i < m_chapters.size(); ++i)
            before += engineNumbers(i, format).count;
        format.fontSize = 28;
        QVERIFY(paginate(request(format)));
        checkCounts(format);
        QVERIFY(m_client->totalPageCount() > before);
        // The search is still the last one.
        QCOMPARE(m_client->resultText1(), QString::fromLatin1(kWord));
        QCOMPARE(m_client->searchHits().size(), 3);
    }

    // A helper that went away is started anew and told the book again, without the book
    // context sending its chapter list a second time.
    void newHelperKnowsTheBook()
    {
        const qint64 pid = m_client->helperProcessId();
        QVERIFY(pid > 0);
        QSignalSpy closed(m_client.get(), &KelRemoteProcHandler::handlerClosed);
        ::kill(pid_t(pid), SIGKILL);
        QVERIFY(closed.wait(10000));
        const PageFormat format = PageFormat::withColumns(1);
        QVERIFY(paginate(request(format)));
        QVERIFY(m_client->helperProcessId() != pid);
        checkCounts(format);
        QCOMPARE(m_client->searchHits().size(), 3);
    }

    // The helper dies while it lays the book out: the request is sent to a new one.
    void requestSurvivesAHelperCrash()
    {
        const PageFormat format = PageFormat::withColumns(2);
        QSignalSpy done(m_client.get(), &DataExchangeSvc::calcDone);
        const qint64 pid = m_client->helperProcessId();
        m_client->repaginate(request(format));
        ::kill(pid_t(pid), SIGKILL);
        QVERIFY(done.count() == 1 || done.wait(kReplyTimeoutMs));
        checkCounts(format);
    }

    void printsTheBookAndRestoresTheNumbers()
    {
        const int total = m_client->totalPageCount();
        PrintRequest print;
        print.pageFormatScript = EnginePage::pageFormatScript(PageFormat::withColumns(2));
        print.fontSize = 20;
        print.pageSizeId = 0; // A4
        QSignalSpy started(m_client.get(), &DataExchangeSvc::calcStarted);
        QSignalSpy done(m_client.get(), &DataExchangeSvc::calcDone);
        m_client->print(print);
        QCOMPARE(started.count(), 1);
        QVERIFY(done.count() == 1 || done.wait(kReplyTimeoutMs));
        QCOMPARE(m_client->totalPageCount(), total);

        QFile file(m_printFile);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray pdf = file.readAll();
        QVERIFY(pdf.startsWith("%PDF"));
        // One sheet per page of a one-column layout of A4: at least one per chapter.
        const int sheets = pdf.count("/Type /Page\n") + pdf.count("/Type /Page ");
        QVERIFY2(sheets >= m_chapters.size(), qPrintable(QString::number(sheets)));
    }

    // The helper asked again dies as well: the request is given up with an error, and the
    // numbers of the last layout stay.
    void helperDyingTwiceKeepsTheLastNumbers()
    {
        const int total = m_client->totalPageCount();
        QVERIFY(total > 0);
        QSignalSpy done(m_client.get(), &DataExchangeSvc::calcDone);
        QSignalSpy failed(m_client.get(), &DataExchangeSvc::calcError);
        QSignalSpy ready(m_client.get(), &KelRemoteProcHandler::handlerReady);
        m_client->repaginate(request(PageFormat::withColumns(1)));
        ::kill(pid_t(m_client->helperProcessId()), SIGKILL);
        QVERIFY(ready.wait(kReplyTimeoutMs));
        ::kill(pid_t(m_client->helperProcessId()), SIGKILL);
        QVERIFY(failed.count() == 1 || failed.wait(kReplyTimeoutMs));
        QCOMPARE(done.count(), 0);
        QCOMPARE(m_client->totalPageCount(), total);
        // The next request is served by a new helper.
        QVERIFY(paginate(request(PageFormat::withColumns(1))));
        checkCounts(PageFormat::withColumns(1));
    }

    void stopEndsTheHelper()
    {
        const qint64 pid = m_client->helperProcessId();
        QVERIFY(pid > 0);
        m_client->stopHandler();
        QTRY_COMPARE_WITH_TIMEOUT(m_client->helperProcessId(), qint64(0), 15000);
    }
};

QTEST_MAIN(TestPageCounterClient)
#include "tst_pagecounter_client.moc"
