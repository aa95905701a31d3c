#include "epubbuilder.h"
#include "formats/comics/comicdocument.h"
#include "formats/comics/naturalorder.h"
#include "mobiwriter.h"
#include "rarwriter.h"
#include "temphome.h"
#include "testfiles.h"
#include "textrows.h"
#include "zipwriter.h"

#include "appdirs.h"

#include <QBuffer>
#include <QGuiApplication>
#include <QImageWriter>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QThreadPool>
#include <QtConcurrent>

namespace {
// A page image whose size tells which page it is: page n is (10 + n) x (20 + n).
QByteArray pageImage(int number) { return EpubBuilder::png(10 + number, 20 + number, 0x101010u * number); }

QList<ZipEntry> numberedPages(const QStringList& names)
{
    QList<ZipEntry> pages;
    for (int i = 0; i < names.size(); ++i)
        pages.append({ names.at(i), pageImage(i + 1) });
    return pages;
}

// What a viewer asks of the pool: one page's image, here only its size.
struct PageSize {
    using result_type = QSize;
    ComicDocument* document;
    QSize operator()(int page) const { return document->requestImage(page, 1.0).size(); }
};
}

class TestComicDocument : public QObject {
    Q_OBJECT

private:
    TempHome m_home;
    QTemporaryDir m_dir;
    int m_count = 0;

    QString writeCbz(const QList<ZipEntry>& pages, const QString& name = QString())
    {
        const QString path = m_dir.filePath(name.isEmpty() ? QStringLiteral("c%1.cbz").arg(++m_count) : name);
        return ZipWriter::write(path, pages) ? path : QString();
    }

private slots:
    void initTestCase() { QVERIFY(m_home.isValid() && m_dir.isValid()); }

    // The first name sorts before the second.
    void naturalOrder_data()
    {
        QTest::addColumn<QString>("a");
        QTest::addColumn<QString>("b");
        addTextRows({ { "numbers by value", "page2.jpg", "page10.jpg" }, { "leading zeros", "p007", "p10" },
            { "equal values, fewer zeros last", "p01", "p1" },
            { "longer than 64 bits", "99999999999999999999", "100000000000000000000" },
            { "case ignored", "apple.png", "Banana.png" }, { "case only: total order", "A.png", "a.png" },
            { "prefix first", "ch1", "ch1a" } });
    }

    void naturalOrder()
    {
        QFETCH(QString, a);
        QFETCH(QString, b);
        QVERIFY(naturalCompare(a, b) < 0);
        QVERIFY(naturalCompare(b, a) > 0);
        QCOMPARE(naturalCompare(a, a), 0);
    }

    // Under the C locale (no collator); the archive's signature, not its suffix, picks the reader.
    void pagesInNaturalOrder()
    {
        const QStringList stored
            = { "10.jpg", "2.jpg", "1.jpg", "Page 20.PNG", "page 3.png", "ch10/1.gif", "ch2/1.BMP", "11.jpeg" };
        ComicDocument document;
        document.load(writeCbz(numberedPages(stored), "zip-inside.cbr"));
        QCOMPARE(document.pageNames(),
            QStringList(
                { "1.jpg", "2.jpg", "10.jpg", "11.jpeg", "ch2/1.BMP", "ch10/1.gif", "page 3.png", "Page 20.PNG" }));
        // Page 3 is the entry 10.jpg, the first stored.
        QCOMPARE(document.requestImage(3, 1.0).size(), QSize(11, 21));
    }

    void nonImagesAreNotPages()
    {
        const QList<ZipEntry> entries
            = { { "ComicInfo.xml", "<ComicInfo/>" }, { "__MACOSX/", {} }, { "__MACOSX/._01.jpg", "resource fork" },
                  { "._01.jpg", "resource fork" }, { ".DS_Store", "x" }, { "Thumbs.db", "x" }, { "scans/", {} },
                  { "scans/01.jpg", pageImage(1) }, { "scans/02.png", pageImage(2) }, { "readme.txt", "hello" } };
        ComicDocument document;
        document.load(writeCbz(entries));
        QCOMPARE(document.pageNames(), QStringList({ "scans/01.jpg", "scans/02.png" }));
        QCOMPARE(document.coverImage().size(), QSize(11, 21));

        QVERIFY(ComicDocument::isPageName(QStringLiteral("a\\b\\c.JPEG")));
        QVERIFY(!ComicDocument::isPageName(QStringLiteral("x.jpg/")));
        QVERIFY(!ComicDocument::isPageName(QStringLiteral("__macosx\\x.png")));
        QVERIFY(!ComicDocument::isPageName(QStringLiteral("jpg")));
    }

    // A page named like the library's cover does not replace it, nor the other way round.
    void pagesFolder()
    {
        const QString path = writeCbz({ { "cover.png", pageImage(1) }, { "002.png", pageImage(2) } });
        const QString dataDir = bookDataDir(path);
        QVERIFY(testfiles::write(dataDir + "/cover.png", "library cover"));

        ComicDocument document;
        document.load(path);
        QCOMPARE(document.pageNames(), QStringList({ "002.png", "cover.png" }));
        QCOMPARE(document.requestImage(2, 1.0).size(), QSize(11, 21));
        QCOMPARE(testfiles::read(dataDir + "/cover.png"), QByteArray("library cover"));
        QVERIFY(QFileInfo::exists(dataDir + "/pages/cover.png"));
        // A page already unpacked is unpacked again, whatever is on disk.
        QVERIFY(testfiles::write(dataDir + "/pages/cover.png", "stale"));
        QCOMPARE(document.requestImage(2, 1.0).size(), QSize(11, 21));
    }

    void documentInterface()
    {
        ComicDocument document;
        const QString rar = m_dir.filePath(QStringLiteral("My_Comic_Vol.2.cbz"));
        QVERIFY(RarWriter::write(rar, numberedPages({ "c.png", "a.png", "b.png" })));
        document.load(rar);
        QCOMPARE(document.title(), QStringLiteral("My Comic Vol"));
        QStringList toc;
        for (const TocPoint& point : document.toc())
            toc << QStringLiteral("%1:%2:%3").arg(point.title).arg(point.link->page).arg(point.index);
        QCOMPARE(toc, QStringList({ "Page 1:1:1", "Page 2:2:2", "Page 3:3:3" }));

        // The page and column setters clamp, and signal only a change.
        QSignalSpy pageSpy(&document, &ImageDocument::pageNumberChanged);
        QSignalSpy columnSpy(&document, &ImageDocument::columnCountChanged);
        document.setPageNumber(42);
        QCOMPARE(document.pageNumber(), 3);
        document.setPageNumber(3);
        document.setPageNumber(-4);
        QCOMPARE(document.pageNumber(), 1);
        QCOMPARE(pageSpy.count(), 2);
        document.setColumnCount(7);
        document.setColumnCount(2);
        document.setColumnCount(0);
        QCOMPARE(document.columnCount(), 1);
        QCOMPARE(columnSpy.count(), 2);

        const QList<SearchItem> hits = document.search(QStringLiteral("2"));
        QCOMPARE(hits.size(), 1);
        QCOMPARE(hits[0].link->page, 2);
        QCOMPARE(hits[0].text, QStringLiteral("Go to page 2"));
        QVERIFY(!hits[0].flag);
        QVERIFY(document.search(QStringLiteral("4")).isEmpty());

        QVERIFY(document.requestImage(0, 1.0).isNull());
        QVERIFY(document.requestImage(4, 1.0).isNull());
        const QImage scaled = document.requestImage(1, 2.0);
        QCOMPARE(scaled.size(), QSize(12, 22));
        QCOMPARE(scaled.devicePixelRatio(), 2.0);

        // Loading another book replaces the pages; a missing archive or one without a reader has none.
        document.load(writeCbz(numberedPages({ "only.png" })));
        QCOMPARE(document.pageCount(), 1);
        document.load(m_dir.filePath(QStringLiteral("missing.cbz")));
        QCOMPARE(document.pageCount(), 0);
        const QString tar = m_dir.filePath(QStringLiteral("pages.tar"));
        QVERIFY(testfiles::write(tar, QByteArray(1024, '\0')));
        document.load(tar);
        QCOMPARE(document.pageCount(), 0);
        QVERIFY(document.requestImage(1, 1.0).isNull());
    }

    void badPages()
    {
        // A JPEG whose frame header claims 20000 x 20000 pixels (400 megapixels).
        QByteArray huge = MobiWriter::image(QSize(8, 8), Qt::red, "JPG");
        const int frame = huge.indexOf("\xff\xc0");
        QVERIFY(frame > 0);
        huge.replace(frame + 5, 4, QByteArray("\x4e\x20\x4e\x20", 4));

        QImage upright(4, 2, QImage::Format_RGB32);
        upright.fill(Qt::green);
        QByteArray rotated;
        QBuffer buffer(&rotated);
        buffer.open(QIODevice::WriteOnly);
        QImageWriter writer(&buffer, "jpeg");
        writer.setTransformation(QImageIOHandler::TransformationRotate90);
        QVERIFY(writer.write(upright));

        ComicDocument document;
        document.load(writeCbz({ { "1.jpg", "not an image" }, { "2.jpg", huge }, { "3.png", pageImage(3).left(60) },
            { "4.jpg", rotated } }));
        QCOMPARE(document.pageCount(), 4);
        QVERIFY(document.requestImage(1, 1.0).isNull());
        QVERIFY(document.requestImage(2, 1.0).isNull()); // refused before decoding
        QVERIFY(document.requestImage(3, 1.0).isNull());
        // The orientation stored with the photo is applied.
        QCOMPARE(document.requestImage(4, 1.0).size(), QSize(2, 4));
    }

    void requestsFromPoolThreads()
    {
        const int count = 12;
        QStringList names;
        for (int i = 1; i <= count; ++i)
            names << QStringLiteral("p%1.png").arg(i);
        ComicDocument document;
        document.load(writeCbz(numberedPages(names)));
        QCOMPARE(document.pageCount(), count);

        QList<int> requests; // every page six times
        for (int i = 0; i < 6 * count; ++i)
            requests << 1 + i % count;
        QThreadPool::globalInstance()->setMaxThreadCount(qMax(8, QThread::idealThreadCount()));
        const QList<QSize> sizes = QtConcurrent::blockingMapped(requests, PageSize { &document });
        for (int i = 0; i < requests.size(); ++i)
            QCOMPARE(sizes.at(i), QSize(10 + requests.at(i), 20 + requests.at(i)));

        // Loading again while requests run: each request sees one whole book or the other.
        QFuture<QSize> running = QtConcurrent::mapped(requests, PageSize { &document });
        document.load(writeCbz(numberedPages(names)));
        running.waitForFinished();
        for (const QSize& size : running.results())
            QVERIFY(size.isEmpty() || size.width() + 10 == size.height());
    }
};

int main(int argc, char** argv)
{
    // Page order must not follow the locale: run as a system without one would.
    qputenv("LANG", "C.UTF-8");
    qputenv("LC_ALL", "C.UTF-8");
    QGuiApplication app(argc, argv);
    TestComicDocument test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_comicdocument.moc"
