// The page-counting client's side of the wire: the messages it writes, byte for byte in the fixed
// form, and what it makes of the helper's replies, hand-made here, well-formed or broken.

#include "dataexchangesvc.h"
#include "temphome.h"

#include <QDataStream>
#include <QElapsedTimer>
#include <QSignalSpy>
#include <QtTest>

namespace {

// The client without a helper: replies are handed to it directly.
class ReplyClient : public DataExchangeSvc {
public:
    ReplyClient()
        : DataExchangeSvc(QStringLiteral("/nonexistent/zuvezedoda"), nullptr)
    {
    }
    using DataExchangeSvc::onDataReceived;
};

struct Hit {
    QString link;
    QString text;
    qint32 page;
};

struct Chapter {
    QString source;
    qint32 pageCount;
    qint32 startPage;
    QList<Hit> hits;
};

// A reply written field by field in the documented form, independently of the client's writer.
class ReplyWriter {
public:
    explicit ReplyWriter(qint32 type = 2) { out << type; }

    ReplyWriter& chapters(const QList<Chapter>& list)
    {
        out << qint32(list.size());
        for (const Chapter& c : list) {
            out << c.source << QUrl::fromLocalFile(QStringLiteral("/books/") + c.source) << c.pageCount << c.startPage
                << qint32(c.hits.size());
            for (const Hit& h : c.hits)
                out << h.link << h.text << h.page;
        }
        return *this;
    }
    ReplyWriter& tail(const QHash<QString, qint32>& links)
    {
        out << QStringLiteral("query") << qint32(22) << QStringLiteral("failed") << QString() << links;
        return *this;
    }
    ReplyWriter& raw(const QByteArray& bytes)
    {
        out.writeRawData(bytes.constData(), bytes.size());
        return *this;
    }
    template <typename T> ReplyWriter& value(const T& v)
    {
        out << v;
        return *this;
    }

    QByteArray bytes;
    QDataStream out { &bytes, QIODevice::WriteOnly };
};

const QList<Chapter> kThreeChapters = {
    { QStringLiteral("Text/one.xhtml"), 10, 0,
        { { QStringLiteral("Text/one.xhtml?kelpath=%2Fhtml%5B1%5D&offset=3"), QStringLiteral("First hit."), 4 },
            { QStringLiteral("Text/one.xhtml?kelpath=%2Fhtml%5B1%5D&offset=9"), QStringLiteral("Second hit."), 9 } } },
    { QStringLiteral("Text/two.xhtml"), 5, 10, {} },
    { QStringLiteral("Text/three.xhtml"), 7, 15,
        { { QStringLiteral("Text/three.xhtml?kelpath=%2Fp&offset=0"), QStringLiteral("Third hit."), 20 } } },
};

QByteArray goodReply()
{
    return ReplyWriter()
        .chapters(kThreeChapters)
        .tail({ { QStringLiteral("Text/two.xhtml#a"), 12 }, { QStringLiteral("Text/three.xhtml"), 16 } })
        .bytes;
}

void checkEmpty(const DataExchangeSvc& client)
{
    QCOMPARE(client.totalPageCount(), -1);
    QCOMPARE(client.chapterStartPage(QStringLiteral("Text/one.xhtml")), -1);
    QCOMPARE(client.chapterPageCount(QStringLiteral("Text/one.xhtml")), -1);
    QVERIFY(client.searchHits().isEmpty());
}

} // namespace

class TestPageCounterReplies : public QObject {
    Q_OBJECT

    TempHome m_home;

private slots:
    void beforeAnyReply()
    {
        ReplyClient client;
        checkEmpty(client);
        QVERIFY(client.linkPages().isEmpty());
    }

    void storesAWellFormedReply()
    {
        ReplyClient client;
        QSignalSpy done(&client, &DataExchangeSvc::calcDone);
        client.onDataReceived(goodReply());
        QCOMPARE(done.count(), 1);
        QCOMPARE(QList<int>({ client.totalPageCount(), client.chapterStartPage(QStringLiteral("Text/two.xhtml")),
                     client.chapterPageCount(QStringLiteral("Text/three.xhtml")),
                     client.chapterStartPage(QStringLiteral("Text/none.xhtml")),
                     client.chapterPageCount(QStringLiteral("Text/none.xhtml")) }),
            QList<int>({ 22, 10, 7, -1, -1 }));
        QCOMPARE(client.linkPages().value(QStringLiteral("Text/two.xhtml#a")), 12);
        QCOMPARE(client.linkPages().size(), 2);
        QCOMPARE(QStringList({ client.resultText1(), QString::number(client.resultNumber()), client.resultText2() }),
            QStringList({ "query", "22", "failed" }));

        // Hits of both chapters in one list, the first chapter's first, each a new item.
        const QList<SearchItem> hits = client.searchHits();
        QCOMPARE(hits.size(), 3);
        QCOMPARE(hits.at(0).text, QStringLiteral("First hit."));
        QCOMPARE(hits.at(0).link->page, 4);
        QCOMPARE(hits.at(1).link->source, QStringLiteral("Text/one.xhtml?kelpath=%2Fhtml%5B1%5D&offset=9"));
        QCOMPARE(hits.at(2).text, QStringLiteral("Third hit."));
        QCOMPARE(hits.at(2).link->page, 20);
        QVERIFY(hits.at(0).id != hits.at(1).id);
        QVERIFY(client.searchHits().at(0).id != hits.at(0).id);
        QVERIFY(client.searchHits().at(0).link != hits.at(0).link);

        // The next reply replaces the stored one wholesale.
        client.onDataReceived(
            ReplyWriter().chapters({ { QStringLiteral("Text/two.xhtml"), 3, 0, {} } }).tail({}).bytes);
        QCOMPARE(done.count(), 2);
        QCOMPARE(client.totalPageCount(), 3);
        QCOMPARE(client.chapterStartPage(QStringLiteral("Text/one.xhtml")), -1);
        QVERIFY(client.linkPages().isEmpty());
        QVERIFY(client.searchHits().isEmpty());
    }

    void uncountedLastChapter()
    {
        ReplyClient client;
        client.onDataReceived(ReplyWriter()
                                  .chapters({ { QStringLiteral("a"), 4, 0, {} }, { QStringLiteral("b"), 6, -1, {} } })
                                  .tail({})
                                  .bytes);
        QCOMPARE(client.totalPageCount(), -1);
        QCOMPARE(client.chapterStartPage(QStringLiteral("b")), -1);
        QCOMPARE(client.chapterPageCount(QStringLiteral("a")), 4);
    }

    void ignoresOtherMessages_data()
    {
        QTest::addColumn<QByteArray>("payload");
        QTest::newRow("empty") << QByteArray();
        QTest::newRow("two bytes") << QByteArray("\0\0", 2);
        QTest::newRow("type 3") << ReplyWriter().chapters(kThreeChapters).tail({}).bytes.replace(3, 1, "\x03");
        QTest::newRow("type 85") << QByteArray("\0\0\0\x55", 4);
    }

    void ignoresOtherMessages()
    {
        QFETCH(QByteArray, payload);
        ReplyClient client;
        client.onDataReceived(goodReply());
        QSignalSpy done(&client, &DataExchangeSvc::calcDone);
        client.onDataReceived(payload);
        QCOMPARE(done.count(), 0);
        QCOMPARE(client.totalPageCount(), 22);
        QCOMPARE(client.linkPages().size(), 2);
    }

    // Replies that do not parse: the chapter list is emptied, everything after the broken field is
    // empty, calcDone still comes, and no count read from the reply is trusted with memory.
    void malformedReplies_data()
    {
        QTest::addColumn<QByteArray>("payload");
        QTest::addColumn<int>("chapters");
        QTest::addColumn<int>("links");

        const QByteArray good = goodReply();
        QTest::newRow("type only") << ReplyWriter().bytes << 0 << 0;
        QTest::newRow("cut in the chapters") << good.left(60) << 0 << 0;
        QTest::newRow("cut in the hits") << good.left(good.indexOf(QByteArray("S\0e\0c", 5)) + 4) << 0 << 0;
        QTest::newRow("chapter count huge")
            << ReplyWriter().value(qint32(0x7fffffff)).raw(QByteArray(64, '\0')).bytes << 0 << 0;
        QTest::newRow("chapter count negative")
            << ReplyWriter().value(qint32(-1)).raw(QByteArray(64, '\0')).bytes << 0 << 0;
        QTest::newRow("hit count huge") << ReplyWriter()
                                               .value(qint32(1))
                                               .value(QStringLiteral("a"))
                                               .value(QUrl())
                                               .value(qint32(1))
                                               .value(qint32(0))
                                               .value(qint32(0x40000000))
                                               .raw(QByteArray(64, '\0'))
                                               .bytes
                                        << 0 << 0;
        QTest::newRow("source length odd")
            << ReplyWriter().value(qint32(1)).value(quint32(7)).raw("abcdefgh").bytes << 0 << 0;
        QTest::newRow("source length huge")
            << ReplyWriter().value(qint32(1)).value(quint32(0xfffffff0)).bytes << 0 << 0;
        QTest::newRow("no link table") << ReplyWriter()
                                              .chapters(kThreeChapters)
                                              .value(QString())
                                              .value(qint32(0))
                                              .value(QString())
                                              .value(QString())
                                              .bytes
                                       << 3 << 0;
        QTest::newRow("link count huge") << ReplyWriter()
                                                .chapters(kThreeChapters)
                                                .value(QString())
                                                .value(qint32(0))
                                                .value(QString())
                                                .value(QString())
                                                .value(quint32(0xffffffff))
                                                .raw(QByteArray(16, '\0'))
                                                .bytes
                                         << 3 << 0;
        QTest::newRow("link table cut") << good.left(good.size() - 3) << 3 << 0;
    }

    void malformedReplies()
    {
        QFETCH(QByteArray, payload);
        QFETCH(int, chapters);
        QFETCH(int, links);
        ReplyClient client;
        client.onDataReceived(goodReply());
        QSignalSpy done(&client, &DataExchangeSvc::calcDone);
        QElapsedTimer timer;
        timer.start();
        client.onDataReceived(payload);
        QVERIFY2(timer.elapsed() < 2000, "a count from the reply was trusted");
        QCOMPARE(done.count(), 1);
        QCOMPARE(client.linkPages().size(), links);
        if (chapters == 0) {
            checkEmpty(client);
        } else {
            QCOMPARE(client.totalPageCount(), 22);
            QCOMPARE(client.searchHits().size(), 3);
        }
    }

    // Replies carry no book key: one whose chapters are not those sent last belongs to the book
    // open before and is dropped.
    void replyForAnotherChapterList()
    {
        ReplyClient client;
        ChapterPageInfo other;
        other.source = QStringLiteral("Text/b.xhtml");
        QTest::ignoreMessage(QtCriticalMsg, "Can't start handler process!!!");
        client.sendChapterList({ other, other, other });
        QSignalSpy done(&client, &DataExchangeSvc::calcDone);
        client.onDataReceived(goodReply());
        QCOMPARE(done.count(), 0);
        checkEmpty(client);
    }

    // The messages to the helper in the fixed form: type, then the fields in order, containers
    // as a count and their elements.
    void messagesInTheFixedForm()
    {
        ChapterPageInfo info;
        info.source = QStringLiteral("Text/one.xhtml");
        info.fileUrl = QUrl::fromLocalFile(QStringLiteral("/books/Text/one.xhtml"));
        info.hits.append({ QStringLiteral("link"), QStringLiteral("text"), 3 });
        info.localPages.insert(QStringLiteral("never sent"), 1);
        ReplyWriter list(1);
        list.value(qint32(1)).value(info.source).value(info.fileUrl).value(qint32(0)).value(qint32(-1));
        list.value(qint32(1)).value(QStringLiteral("link")).value(QStringLiteral("text")).value(qint32(3));
        QCOMPARE(pagecount::chapterListMessage({ info }), list.bytes);

        PaginationRequest pagination;
        pagination.pageFormatScript = QStringLiteral("setPageDim(2,60, 800, 600, 20);");
        pagination.fontSize = 24;
        pagination.fontFamily = QStringLiteral("DejaVu Serif");
        pagination.linkSources = { QStringLiteral("Text/one.xhtml#a") };
        ReplyWriter expected;
        expected.value(pagination.pageFormatScript).value(qint32(24)).value(pagination.fontFamily).value(QString());
        expected.value(quint32(1)).value(QStringLiteral("Text/one.xhtml#a"));
        QCOMPARE(pagecount::paginationMessage(pagination), expected.bytes);

        PrintRequest print;
        print.pageFormatScript = QStringLiteral("script");
        print.printerName = QStringLiteral("office");
        print.colorMode = 0;
        print.orientation = 1;
        print.pageSizeId = 5;
        print.copyCount = 2;
        QByteArray printBytes;
        QDataStream out(&printBytes, QIODevice::WriteOnly);
        out << qint32(22) << QStringLiteral("script") << qint32(20) << QString() << quint32(0)
            << QStringLiteral("office") << qint64(0) << qint64(0) << qint64(1) << qint64(5) << qint64(2);
        QCOMPARE(pagecount::printMessage(print), printBytes);

        QCOMPARE(pagecount::searchMessage(QStringLiteral("x")), QByteArray("\0\0\0\x03\0\0\0\x02\0x", 10));

        // And what the helper reads back.
        QDataStream in(pagecount::printMessage(print));
        qint32 type = 0;
        in >> type;
        PrintRequest back;
        QVERIFY(pagecount::readPrint(in, &back));
        QCOMPARE(back.printerName, print.printerName);
        QCOMPARE(back.pageSizeId, print.pageSizeId);
        QCOMPARE(back.copyCount, print.copyCount);
    }

    // No helper program: the request is lost, but whoever waits for the numbers hears of it.
    void missingHelper()
    {
        ReplyClient client;
        client.onDataReceived(goodReply());
        QSignalSpy started(&client, &DataExchangeSvc::calcStarted);
        QSignalSpy done(&client, &DataExchangeSvc::calcDone);
        QTest::ignoreMessage(QtCriticalMsg, "Can't start handler process!!!");
        client.repaginate(PaginationRequest());
        QCOMPARE(started.count(), 1);
        QCOMPARE(done.count(), 1);
        checkEmpty(client);
    }
};

QTEST_MAIN(TestPageCounterReplies)
#include "tst_pagecounter_replies.moc"
