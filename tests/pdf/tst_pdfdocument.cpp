#include "debenupdflibrarydllqt1016.h"
#include "logcapture.h"
#include "pdfdocument.h"
#include "pdfencryption.h"
#include "pdfenginefile.h"
#include "pdffixtures.h"
#include "temphome.h"
#include "testpaths.h"

#include <QFile>
#include <QTest>
#include <QtConcurrent>

#include <cmath>
#include <memory>

namespace {

// Titles and pages of a contents tree as "title:page" with children in brackets.
QString describe(const QList<TocPoint>& points)
{
    QStringList items;
    for (const TocPoint& point : points) {
        QString item = point.title + QLatin1Char(':') + QString::number(point.link->page);
        if (point.index != point.link->page || !point.link->source.isEmpty())
            item += QStringLiteral("!");
        if (!point.children.isEmpty())
            item += QLatin1Char('[') + describe(point.children) + QLatin1Char(']');
        items.append(item);
    }
    return items.join(QLatin1Char(','));
}

int depth(const QList<TocPoint>& points) { return points.isEmpty() ? 0 : 1 + depth(points.first().children); }

} // namespace

// The PDF document over the real engine: loading and passwords, page images, contents, search
// and information, and several documents sharing the one library across threads.
class TestPdfDocument : public QObject {
    Q_OBJECT

private:
    TempHome home;
    QString bookPath;
    QString rotationsPath;

    QString write(const QString& name, const QByteArray& bytes)
    {
        return pdffixtures::writeFile(home.filePath(name), bytes);
    }

    static int documentCount() { return PdfDocument::sharedLibrary()->DocumentCount(); }

private slots:
    void initTestCase()
    {
        pdfengine::setLibraryPath(testpaths::binDir() + QLatin1Char('/') + pdfengine::fileName());
        bookPath = write(QStringLiteral("book.pdf"), pdffixtures::book().toPdf());
        rotationsPath = write(QStringLiteral("rotations.pdf"), pdffixtures::rotations().toPdf());
        QVERIFY(!bookPath.isEmpty() && !rotationsPath.isEmpty());
    }

    void beforeLoadEverythingIsEmpty()
    {
        PdfDocument document;
        QVERIFY(PdfDocument::sharedLibrary());
        QVERIFY(PdfDocument::sharedLibrary()->LibraryLoaded());
        QVERIFY(document.toc().isEmpty());
        QVERIFY(document.search(QStringLiteral("1")).isEmpty());
        QVERIFY(document.requestImage(1, 1.0).isNull());

        // The contents asked before a load are read after it.
        document.load(bookPath);
        QCOMPARE(document.toc().size(), 3);
    }

    void loadsBook()
    {
        PdfDocument document;
        document.load(bookPath);
        QCOMPARE(document.pageCount(), 3);
        QVERIFY(!document.isPasswordRequired());
        QCOMPARE(document.title(), QStringLiteral("A Test Book"));
        QCOMPARE(document.author(), QStringLiteral("Ann Author"));
        QCOMPARE(document.creator(), QStringLiteral("Test Writer"));
        QCOMPARE(document.coverImage().size(), QSize(1632, 2112));
    }

    void imageSizes_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<int>("page");
        QTest::addColumn<double>("scale");
        QTest::addColumn<QSize>("size");
        const QString book = QStringLiteral("book");
        const QString rotations = QStringLiteral("rotations");
        QTest::newRow("letter 1.0") << book << 1 << 1.0 << QSize(1632, 2112);
        QTest::newRow("letter 1.5") << book << 1 << 1.5 << QSize(2448, 3168);
        QTest::newRow("letter 1.25") << book << 1 << 1.25 << QSize(2040, 2640);
        QTest::newRow("letter 0.5") << book << 1 << 0.5 << QSize(816, 1056);
        QTest::newRow("A4 in whole points") << book << 2 << 1.0 << QSize(1587, 2245);
        QTest::newRow("rotate 90") << book << 3 << 1.0 << QSize(2112, 1632);
        const int values[] = { 0, 90, 180, 270, -90, 450, 45 };
        for (int i = 0; i < 7; ++i) {
            const bool sideways = values[i] != 0 && values[i] != 180;
            QTest::addRow("rotate %d", values[i])
                << rotations << i + 1 << 1.0 << (sideways ? QSize(2112, 1632) : QSize(1632, 2112));
        }
        QTest::newRow("crop box") << rotations << 8 << 1.0 << QSize(800, 533);
    }

    void imageSizes()
    {
        QFETCH(QString, file);
        QFETCH(int, page);
        QFETCH(double, scale);
        QFETCH(QSize, size);
        PdfDocument document;
        document.load(file == QLatin1String("book") ? bookPath : rotationsPath);
        const QImage image = document.requestImage(page, scale);
        QCOMPARE(image.size(), size);
        QCOMPARE(image.devicePixelRatio(), scale);
        QCOMPARE(image.format(), QImage::Format_RGB32);
    }

    void imagePixels()
    {
        PdfDocument document;
        document.load(bookPath);
        // The red box at 72, 72 (144 x 72 points) is 192..576 x 192..384 pixels at 192 dpi.
        QImage image = document.requestImage(1, 1.0);
        QCOMPARE(image.pixel(384, 288), qRgb(255, 0, 0));
        QCOMPARE(image.pixel(100, 100), qRgb(255, 255, 255));
        QCOMPARE(image.pixel(1631, 2111), qRgb(255, 255, 255));
        // Turned clockwise on page 3, the box is at 648..720 x 72..216 points.
        image = document.requestImage(3, 1.0);
        QCOMPARE(image.pixel(1824, 384), qRgb(255, 0, 0));
        QCOMPARE(image.pixel(384, 288), qRgb(255, 255, 255));
        // At scale 2 the same box in twice as many pixels.
        image = document.requestImage(1, 2.0);
        QCOMPARE(image.pixel(768, 576), qRgb(255, 0, 0));
        QCOMPARE(image.pixel(370, 576), qRgb(255, 255, 255));
    }

    void noImageOutsideThePages()
    {
        PdfDocument document;
        document.load(bookPath);
        LogCapture log;
        QVERIFY(document.requestImage(0, 1.0).isNull());
        QVERIFY(document.requestImage(4, 1.0).isNull());
        QVERIFY(document.requestImage(-1, 1.0).isNull());
        QVERIFY(document.requestImage(1, 0.0).isNull());
        QVERIFY(document.requestImage(1, std::nan("")).isNull());
        QVERIFY(log.lines().isEmpty());
        // The second column of a spread on the last page.
        const auto pair = document.requestImages(3, 4, 1.0);
        QVERIFY(!pair.first.isNull());
        QVERIFY(pair.second.isNull());
    }

    void hugePagesAreScaledDown_data()
    {
        QTest::addColumn<QSizeF>("points");
        QTest::addColumn<double>("dpi");
        QTest::addColumn<QSize>("size");
        QTest::newRow("letter") << QSizeF(612, 792) << 192.0 << QSize(1632, 2112);
        QTest::newRow("at the side cap") << QSizeF(6144, 100) << 192.0 << QSize(16384, 267);
        QTest::newRow("wide") << QSizeF(14400, 100) << 192.0 << QSize(16384, 113);
        QTest::newRow("square") << QSizeF(14400, 14400) << 192.0 << QSize(16000, 16000);
        QTest::newRow("no area") << QSizeF(0, 792) << 192.0 << QSize();
    }

    void hugePagesAreScaledDown()
    {
        QFETCH(QSizeF, points);
        QFETCH(double, dpi);
        QFETCH(QSize, size);
        double used = dpi;
        const QSize result = PdfDocument::imageSize(points, used);
        QCOMPARE(result, size);
        QVERIFY(result.width() <= PdfDocument::maxImageSide && result.height() <= PdfDocument::maxImageSide);
        QVERIFY(qint64(result.width()) * result.height() <= PdfDocument::maxImagePixels);
        if (!result.isEmpty())
            QVERIFY(qAbs(result.width() - points.width() * used / 72) < 1.0);
    }

    void hugePageRendersWithinTheCap()
    {
        PdfWriter writer;
        const int page = writer.addPage(QSizeF(14400, 100));
        writer.addRect(page, QRectF(7200, 0, 7200, 100), Qt::red);
        PdfDocument document;
        document.load(write(QStringLiteral("huge.pdf"), writer.toPdf()));
        const QImage image = document.requestImage(1, 1.0);
        QCOMPARE(image.size(), QSize(16384, 113));
        QCOMPARE(image.pixel(100, 50), qRgb(255, 255, 255));
        QCOMPARE(image.pixel(16283, 50), qRgb(255, 0, 0));
    }

    void contents()
    {
        PdfDocument document;
        document.load(bookPath);
        const QString expected = QStringLiteral("Part A:1[Part A1:2,Part A2:3],Part B:3,No target:0");
        QCOMPARE(describe(document.toc()), expected);
        QCOMPARE(describe(document.toc()), expected);

        document.load(write(QStringLiteral("long.pdf"), pdffixtures::longOutline(100000).toPdf()));
        const QList<TocPoint> items = document.toc();
        QCOMPARE(items.size(), 100000);
        QCOMPARE(items.last().title, QStringLiteral("Item 100000"));

        document.load(write(QStringLiteral("deep.pdf"), pdffixtures::deepOutline(200).toPdf()));
        QCOMPARE(depth(document.toc()), PdfDocument::maxOutlineDepth);
        QCOMPARE(document.toc().first().title, QStringLiteral("Level 1"));
    }

    void search_data()
    {
        QTest::addColumn<QString>("query");
        QTest::addColumn<QStringList>("hits");
        QTest::newRow("page number first")
            << QStringLiteral("3")
            << QStringList { QStringLiteral("3:Go to page 3"), QStringLiteral("2:Second page, with Commas, inside 3") };
        QTest::newRow("after a comma") << QStringLiteral("pears")
                                       << QStringList { QStringLiteral("1:apples, pears and plums") };
        QTest::newRow("any case") << QStringLiteral("COMMAS")
                                  << QStringList { QStringLiteral("2:Second page, with Commas, inside 3") };
        QTest::newRow("rotated page") << QStringLiteral("rotated") << QStringList { QStringLiteral("3:Rotated page") };
        QTest::newRow("no such page") << QStringLiteral("12") << QStringList();
        QTest::newRow("empty") << QString() << QStringList();
    }

    void search()
    {
        QFETCH(QString, query);
        QFETCH(QStringList, hits);
        PdfDocument document;
        document.load(bookPath);
        QStringList found;
        for (const SearchItem& item : document.search(query)) {
            found.append(QString::number(item.link->page) + QLatin1Char(':') + item.text);
            QCOMPARE(item.query, query);
        }
        QCOMPARE(found, hits);
    }

    void passwords()
    {
        const QByteArray plain = pdffixtures::book().toPdf();
        const QString user = home.filePath(QStringLiteral("user.pdf"));
        const QString owner = home.filePath(QStringLiteral("owner.pdf"));
        QVERIFY(writeEncryptedPdf(plain, user, QStringLiteral("secret-word"), QStringLiteral("owner-word")));
        QVERIFY(writeEncryptedPdf(plain, owner, QString(), QStringLiteral("owner-word")));

        LogCapture log;
        PdfDocument document;
        document.load(user);
        QVERIFY(document.isPasswordRequired());
        QCOMPARE(document.pageCount(), 0);
        QVERIFY(log.contains(QStringLiteral("empty password")));
        QVERIFY(log.contains(QStringLiteral("Invalid password")));
        document.setPassword(QStringLiteral("wrong-word"));
        document.load(user);
        QVERIFY(document.isPasswordRequired());
        document.setPassword(QStringLiteral("secret-word"));
        document.load(user);
        QVERIFY(!document.isPasswordRequired());
        QCOMPARE(document.pageCount(), 3);
        QCOMPARE(document.title(), QStringLiteral("A Test Book"));
        QCOMPARE(document.requestImage(1, 1.0).pixel(384, 288), qRgb(255, 0, 0));
        for (const QString& line : log.lines())
            QVERIFY2(!line.contains(QStringLiteral("-word")), qPrintable(line));

        PdfDocument ownerOnly;
        ownerOnly.load(owner);
        QVERIFY(!ownerOnly.isPasswordRequired());
        QCOMPARE(ownerOnly.pageCount(), 3);
    }

    void brokenFiles_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("pages");
        QTest::addColumn<QString>("message");
        QTest::newRow("missing") << QStringLiteral("missing.pdf") << QByteArray() << 0
                                 << QStringLiteral("File not found");
        QTest::newRow("garbage") << QStringLiteral("garbage.pdf") << pdffixtures::garbage() << 0
                                 << QStringLiteral("Invalid file structure, file is damaged");
        QTest::newRow("truncated") << QStringLiteral("truncated.pdf") << pdffixtures::truncated() << 3 << QString();
    }

    void brokenFiles()
    {
        QFETCH(QString, name);
        QFETCH(QByteArray, bytes);
        QFETCH(int, pages);
        QFETCH(QString, message);
        const QString path = bytes.isNull() ? home.filePath(name) : write(name, bytes);
        LogCapture log;
        PdfDocument document;
        document.load(path);
        QCOMPARE(document.pageCount(), pages);
        QVERIFY(!document.isPasswordRequired());
        if (!message.isEmpty()) {
            QCOMPARE(log.criticalLines().size(), 1);
            QVERIFY2(log.criticalLines().first().contains(message), qPrintable(log.criticalLines().first()));
            QVERIFY(document.requestImage(1, 1.0).isNull());
        } else {
            QCOMPARE(document.requestImage(1, 1.0).size(), QSize(1632, 2112));
        }
    }

    void reloadAndDestructionRemoveDocuments()
    {
        const int before = documentCount();
        {
            PdfDocument document;
            document.load(bookPath);
            QCOMPARE(documentCount(), before + 1);
            document.load(rotationsPath);
            QCOMPARE(documentCount(), before + 1);
            QCOMPARE(document.pageCount(), 8);
            document.load(home.filePath(QStringLiteral("missing.pdf")));
            QCOMPARE(documentCount(), before);
            QCOMPARE(document.pageCount(), 0);
            document.load(bookPath);
            QCOMPARE(documentCount(), before + 1);
        }
        QCOMPARE(documentCount(), before);
    }

    void twoDocumentsWhileAnotherThreadRenders()
    {
        // The reader's book renders on a pool thread while another book is read on this thread
        // and a third is imported on another pool thread: each answers for its own file only.
        PdfDocument book;
        book.load(bookPath);
        PdfDocument rotations;
        rotations.load(rotationsPath);

        QFuture<bool> rendering = QtConcurrent::run([&book] {
            for (int round = 0; round < 3; ++round) {
                if (book.requestImage(1, 0.5).pixel(192, 144) != qRgb(255, 0, 0)
                    || book.requestImage(3, 0.5).size() != QSize(1056, 816)
                    || book.requestImage(2, 0.5).size() != QSize(793, 1123))
                    return false;
            }
            return true;
        });
        QFuture<QString> import = QtConcurrent::run([this] {
            PdfDocument imported;
            imported.load(bookPath);
            const QImage cover = imported.coverImage();
            return imported.title() + QLatin1Char('/') + QString::number(cover.width());
        });
        for (int round = 0; round < 3; ++round) {
            QCOMPARE(rotations.requestImage(5, 0.5).size(), QSize(1056, 816));
            QCOMPARE(rotations.search(QStringLiteral("Rotate 450")).size(), 1);
            QCOMPARE(rotations.search(QStringLiteral("Rotate 450")).first().link->page, 6);
            QVERIFY(rotations.toc().isEmpty());
            QCOMPARE(describe(book.toc()).left(6), QStringLiteral("Part A"));
        }
        QVERIFY(rendering.result());
        QCOMPARE(import.result(), QStringLiteral("A Test Book/1632"));
    }

    // Last: takes the shared library down, as the application's end does.
    void libraryDeletedUnderDocuments()
    {
        auto document = std::make_unique<PdfDocument>();
        document->load(bookPath);
        QCOMPARE(document->pageCount(), 3);
        delete PdfDocument::sharedLibrary();
        QVERIFY(!PdfDocument::sharedLibrary());
        LogCapture log;
        QVERIFY(document->requestImage(1, 1.0).isNull());
        QVERIFY(document->search(QStringLiteral("pears")).isEmpty());
        document->load(bookPath);
        QCOMPARE(document->pageCount(), 0);
        QCOMPARE(log.criticalLines().size(), 1);
        document.reset();
    }
};

QTEST_GUILESS_MAIN(TestPdfDocument)
#include "tst_pdfdocument.moc"
