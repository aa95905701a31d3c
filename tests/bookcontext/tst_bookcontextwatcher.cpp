// The reading page's parts follow the open book through the watcher: each connection to a book
// exists once, and none outlives its book or its watcher.

#include "bookcontext.h"
#include "mainwindow/readingpage/bookcontextwatcher.h"

#include <QtTest>

#include <memory>

namespace {

// Counts what reaches it through a connection that has no QObject to end it.
class Probe : public BookContextWatcher {
public:
    explicit Probe(std::shared_ptr<int> received)
        : m_received(std::move(received))
    {
    }
    int changes = 0;
    int resets = 0;

protected:
    void onBookContextChanged(QSharedPointer<BookContext> context) override
    {
        ++changes;
        std::shared_ptr<int> received = m_received;
        m_bookConnections.append(
            QObject::connect(context.data(), &BookContext::pageCountChanged, [received] { ++*received; }));
    }
    void resetBookState() override { ++resets; }

private:
    std::shared_ptr<int> m_received;
};

} // namespace

class TestBookContextWatcher : public QObject {
    Q_OBJECT

private slots:
    void followsOneBook_data()
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
        QTest::newRow("none without a book") << "0" << 0 << 0 << 0;
        QTest::newRow("watcher destroyed") << "ax" << 0 << 1 << 0;
    }

    void followsOneBook()
    {
        QFETCH(QString, steps);
        QFETCH(int, received);
        QFETCH(int, changes);
        QFETCH(int, resets);
        const QSharedPointer<BookContext> a = QSharedPointer<BookContext>::create();
        const QSharedPointer<BookContext> b = QSharedPointer<BookContext>::create();
        auto count = std::make_shared<int>(0);
        auto probe = std::make_unique<Probe>(count);
        int seenChanges = 0;
        int seenResets = 0;
        for (const QChar step : steps) {
            if (step == QLatin1Char('x')) {
                seenChanges = probe->changes;
                seenResets = probe->resets;
                probe.reset();
                continue;
            }
            probe->setBookContext(step == QLatin1Char('a') ? a : step == QLatin1Char('b') ? b : nullptr);
        }
        if (probe) {
            seenChanges = probe->changes;
            seenResets = probe->resets;
        }
        a->setPageCount(10);
        b->setPageCount(10);
        QCOMPARE(*count, received);
        QCOMPARE(seenChanges, changes);
        QCOMPARE(seenResets, resets);
    }
};

QTEST_MAIN(TestBookContextWatcher)
#include "tst_bookcontextwatcher.moc"
