// The reading page's parts follow the open book through the watcher: each connection to a book
// exists once, and none outlives its book or its watcher.

#include "bookcontext.h"
#include "mainwindow/readingpage/bookcontextwatcher.h"

#include <QtTest>

#include <memory>

namespace {

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
};

QTEST_MAIN(TestBookContextWatcher)
#include "tst_bookcontextwatcher.moc"
