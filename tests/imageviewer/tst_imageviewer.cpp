// The image viewer over a fake document (renders on the pool one at a time, page turns by keys,
// wheel and clicks, zoom actions, spreads, teardown while a render runs), and real PDF and comic
// books opened as the reading page opens them (the context's readBook, then the viewer's): the
// password prompt, the position kept across reopening and the progress in the library.

#include "appdirs.h"
#include "bookcontext.h"
#include "bookpageparams.h"
#include "customgraphicspixmapitem.h"
#include "formats/imagedocument.h"
#include "imageviewer.h"
#include "models/bookmodel.h"
#include "models/tocmodel.h"
#include "passwordprompt.h"
#include "pdfencryption.h"
#include "pdfenginefile.h"
#include "pdfwriter.h"
#include "readingservices.h"
#include "readingstatefile.h"
#include "samplelibrary.h"
#include "testpaths.h"
#include "zipwriter.h"

#include <QBuffer>
#include <QGraphicsScene>
#include <QJsonDocument>
#include <QSemaphore>
#include <QtTest>

#include <atomic>
#include <functional>

namespace {

std::atomic<bool> g_destroyedWhileRendering { false };

// Coloured 500 x 200 pages at the requested ratio; counts renders running at once.
struct FakeDocument : ImageDocument {
    using ImageDocument::ImageDocument;
    ~FakeDocument() override { g_destroyedWhileRendering = g_destroyedWhileRendering || running > 0; }
    void load(const QString&) override { }
    QString title() const override { return QString(); }
    int pageCount() const override { return 200; }
    QList<TocPoint> toc() const override { return {}; }
    QList<SearchItem> search(const QString&) override { return {}; }
    double scaleFactor() const override { return factor; }
    QImage requestImage(int page, double scale) override
    {
        ++renders;
        maxRunning = qMax(maxRunning.load(), ++running);
        guiRenders += QThread::currentThread() == qApp->thread();
        // A held render ends when the test releases it; one never released lets go of the hold
        // after a while, so that a viewer waiting for it fails its test instead of hanging.
        if (held && !gate.tryAcquire(1, 20000))
            held = false;
        QThread::msleep(delayMs);
        QImage image(QSize(500, 200) * scale, QImage::Format_RGB32);
        image.fill(color(page));
        image.setDevicePixelRatio(scale);
        --running;
        return page <= 200 ? image : QImage();
    }
    static QRgb color(int page) { return QColor::fromHsv(page * 37 % 360, 255, 220).rgb(); }

    double factor = 1.0;
    int delayMs = 0;
    std::atomic<bool> held { false };
    QSemaphore gate;
    std::atomic<int> running { 0 }, maxRunning { 0 }, guiRenders { 0 }, renders { 0 };
};

struct Viewer : ImageViewer {
    ImageDocument* createDocument(int) override { return fake = new FakeDocument(this); }
    CustomGraphicsPixmapItem* item(int i) const
    {
        return static_cast<CustomGraphicsPixmapItem*>(scene()->items(Qt::AscendingOrder).value(i));
    }
    // The page numbers the scene shows, told by colour.
    QList<int> shownPages() const
    {
        QList<int> numbers;
        for (int i = 0; item(i); ++i)
            for (int page = 1; page <= 200 && !item(i)->image().isNull(); ++page)
                if (item(i)->image().pixel(0, 0) == FakeDocument::color(page))
                    numbers.append(page);
        return numbers;
    }
    FakeDocument* fake = nullptr;
};

using Action = std::function<void(Viewer&)>;

Action keys(Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
{
    return [=](Viewer& v) { QTest::keyClick(&v, key, modifiers); };
}
Action wheel(QPoint delta, int times = 1, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
{
    return [=](Viewer& v) {
        for (int i = 0; i < times; ++i) {
            QWheelEvent event({ 50, 50 }, { 50, 50 }, {}, delta, Qt::NoButton, modifiers, Qt::NoScrollPhase, false);
            QApplication::sendEvent(v.viewport(), &event);
        }
    };
}
Action click(int x, bool skip = false)
{
    return [=](Viewer& v) {
        v.setSkipNextClick(skip);
        QCursor::setPos(v.mapToGlobal(QPoint(x, 300)));
        QTest::mouseClick(v.viewport(), Qt::LeftButton, {}, v.viewport()->mapFromGlobal(QCursor::pos()));
        QTest::qWait(400);
        QVERIFY(!v.skipNextClick());
    };
}
// On a document of the given scale, first a zoom action, then the rest.
Action zoom(AbstractViewer::ZoomAction first, int value, Action then = {}, double factor = 1.0)
{
    return [=](Viewer& v) {
        v.fake->factor = factor;
        v.setZoomValue(first, value);
        if (then)
            then(v);
    };
}

QColor pageColor(int page) { return QColor::fromHsv(page * 80 % 360, 255, 200); }

// Four pages of one colour each, as a PDF (3) with an outline or a CBZ (6), written to path.
bool writeBook(const QString& path, int format)
{
    PdfWriter pdf;
    pdf.setOutline({ { QStringLiteral("Cover"), 1, { { QStringLiteral("Inside"), 3, {} } } },
        { QStringLiteral("Back"), 4, {} }, { QStringLiteral("No target"), 0, {} } });
    ZipWriter zip(path);
    for (int page = 4; page >= 1; --page) {
        QImage image(300, 400, QImage::Format_RGB32);
        image.fill(pageColor(page));
        QBuffer png;
        png.open(QIODevice::WriteOnly);
        image.save(&png, "PNG");
        zip.add(QStringLiteral("p/%1.png").arg(page), png.data(), false);
        pdf.addRect(pdf.addPage(QSizeF(300, 400)), QRectF(0, 0, 300, 400), pageColor(5 - page));
    }
    return format == 3 ? pdf.save(path) : zip.write();
}

// Whether the middle of the view shows the page's colour.
bool shows(AbstractViewer* viewer, int page)
{
    const QImage image = dynamic_cast<QWidget*>(viewer)->grab().toImage();
    const QColor shown = image.pixelColor(image.rect().center()), wanted = pageColor(page);
    return qAbs(shown.hue() - wanted.hue()) < 3 && qAbs(shown.value() - wanted.value()) < 6;
}

} // namespace

Q_DECLARE_METATYPE(Action)

class TestImageViewer : public QObject {
    Q_OBJECT

    QSharedPointer<BookContext> context;
    QScopedPointer<Viewer> viewer;
    std::unique_ptr<SampleLibrary> library;
    std::unique_ptr<BookModel> model;
    QWidget area;

    // The open book's context; null when a readBook refused it.
    QSharedPointer<BookContext> openBook(const QString& path, int format, int id)
    {
        BookDto book;
        book.full_path = path;
        book.format = format;
        book.id = id;
        QSharedPointer<BookContext> context(new BookContext);
        context->pageParams()->setColumnCount(1);
        auto* viewer = context->readBook(book, &area) ? dynamic_cast<ImageViewer*>(context->viewer()) : nullptr;
        if (!viewer || !viewer->readBook(context))
            return {};
        viewer->resize(area.size());
        viewer->show();
        const bool shown
            = QTest::qWaitFor([viewer] { return !viewer->isRendering() && viewer->scene()->items().size(); });
        return shown ? context : nullptr;
    }

    void open(int columns, int delayMs = 0)
    {
        context.reset(new BookContext);
        context->pageParams()->setColumnCount(columns);
        viewer.reset(new Viewer);
        viewer->resize(1040, 600);
        viewer->show();
        QVERIFY(viewer->readBook(context));
        viewer->fake->delayMs = delayMs;
        QTRY_VERIFY(!viewer->isRendering() && viewer->item(0));
    }

private slots:
    void initTestCase()
    {
        pdfengine::setLibraryPath(testpaths::binDir() + QLatin1Char('/') + pdfengine::fileName());
        library.reset(new SampleLibrary);
        model.reset(new BookModel);
        model->selectAll();
        ReadingServices::setBookModel(model.get());
        area.resize(400, 500);
        area.show();
    }
    void cleanupTestCase() { ReadingServices::setBookModel(nullptr); }

    void openTurnReopen_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QStringList>("answers"); // the passwords the user offers before cancelling
        QTest::addColumn<bool>("opens");
        QTest::newRow("pdf") << "book.pdf" << QStringList() << true;
        QTest::newRow("cbz") << "comic.cbz" << QStringList() << true;
        QTest::newRow("password: wrong, then right") << "locked.pdf" << QStringList { "guess", "s3cret" } << true;
        QTest::newRow("password: cancelled") << "locked.pdf" << QStringList { "guess" } << false;
        QTest::newRow("password: no prompt") << "locked.pdf" << QStringList() << false;
        QTest::newRow("damaged pdf") << "damaged.pdf" << QStringList() << false;
    }
    void openTurnReopen()
    {
        QFETCH(QString, name);
        QFETCH(QStringList, answers);
        QFETCH(bool, opens);
        const QString fileName = QString(QTest::currentDataTag()).remove(QRegularExpression("\\W")) + name;
        const QString path = library->home().filePath(fileName);
        const int format = name.endsWith(QLatin1String(".cbz")) ? 6 : 3;
        QVERIFY(writeBook(path, format));
        if (name == QLatin1String("locked.pdf")) {
            QFile plain(path);
            QVERIFY(plain.open(QIODevice::ReadOnly));
            QVERIFY(writeEncryptedPdf(plain.readAll(), path, QStringLiteral("s3cret"), QStringLiteral("owner")));
        } else if (name == QLatin1String("damaged.pdf")) {
            QVERIFY(QFile::resize(path, 300));
        }
        QStringList refused;
        if (!answers.isEmpty())
            setPasswordPrompt([&](const QString& shownName, const PasswordValidator& validator) {
                for (const QString& answer : answers)
                    if (shownName == fileName && validator(answer))
                        return true;
                    else
                        refused.append(answer);
                return false;
            });
        BookDto row;
        row.full_path = path;
        row.format = format;
        const int id = model->addBook(row);
        QSharedPointer<BookContext> context = openBook(path, format, id);
        setPasswordPrompt({});
        QCOMPARE(refused, answers.mid(0, 1));
        QCOMPARE(!context.isNull(), opens);
        if (!opens)
            return;
        QCOMPARE(context->pageCount(), 4);
        auto* viewer = dynamic_cast<ImageViewer*>(context->viewer());
        QTRY_VERIFY(shows(viewer, 1));
        if (!answers.isEmpty())
            return;
        // Every contents entry that names a page is enabled and shows it; one without is disabled.
        QStringList entries;
        std::function<void(const QModelIndex&)> follow = [&](const QModelIndex& parent) {
            TocModel* toc = context->tocModel();
            for (int row = 0; row < toc->rowCount(parent); ++row) {
                const QModelIndex index = toc->index(row, 0, parent);
                const BookLinkItem entry = index.data(Qt::UserRole).value<BookLinkItem>();
                const bool enabled = toc->flags(index).testFlag(Qt::ItemIsEnabled);
                entries << entry.title + QLatin1Char(':') + (enabled ? QString::number(entry.link->page) : "-");
                if (enabled) {
                    context->navigateToLink(entry.link);
                    QTRY_COMPARE(context->currentPage(), entry.link->page);
                    QTRY_VERIFY(shows(viewer, entry.link->page));
                }
                follow(index);
            }
        };
        follow(QModelIndex());
        if (QTest::currentTestFailed())
            return;
        QCOMPARE(entries.join(' '),
            format == 3 ? QStringLiteral("Cover:1 Inside:3 Back:4 No target:-")
                        : QStringLiteral("Page 1:1 Page 2:2 Page 3:3 Page 4:4"));
        context->navigateToPage(1);
        QTRY_VERIFY(shows(viewer, 1));
        for (Qt::Key key : { Qt::Key_Right, Qt::Key_Right, Qt::Key_Left })
            QTest::keyClick(viewer, key);
        QCursor::setPos(viewer->mapToGlobal(QPoint(350, 250)));
        QTest::mouseClick(viewer->viewport(), Qt::LeftButton, {}, viewer->viewport()->mapFromGlobal(QCursor::pos()));
        QTRY_COMPARE(context->currentPage(), 3);
        QTRY_VERIFY(shows(viewer, 3));
        delete viewer;
        context.reset();
        QFile state(ReadingStateFile::filePath(bookDataDir(path)));
        QVERIFY(state.open(QIODevice::ReadOnly));
        QCOMPARE(QJsonDocument::fromJson(state.readAll())["ReadingPosition"]["Page"].toInt(), 3);
        QCOMPARE(model->bookById(id).max_position, 75);

        context = openBook(path, format, id);
        QVERIFY(context);
        QCOMPARE(context->currentPage(), 3);
        QTRY_VERIFY(shows(context->viewer(), 3));
        delete context->viewer();
    }

    void cleanup() { viewer.reset(), context.reset(); }

    void quickTurns_data()
    {
        QTest::addColumn<int>("columns");
        QTest::addColumn<int>("switchEvery");
        QTest::newRow("spread") << 2 << 0;
        QTest::newRow("column switches") << 1 << 7;
    }
    void quickTurns()
    {
        QFETCH(int, columns);
        QFETCH(int, switchEvery);
        open(columns, 3);
        int expected = 1;
        for (int i = 1; i <= 50; ++i) {
            if (switchEvery && i % switchEvery == 0) {
                QTest::keyClick(viewer.data(), Qt::Key_F10);
                columns = 3 - columns;
            } else {
                QTest::keyClick(viewer.data(), i % 5 == 4 ? Qt::Key_Left : Qt::Key_Right);
                expected = qBound(1, expected + (i % 5 == 4 ? -columns : columns), 200);
            }
            QCoreApplication::processEvents();
            QVERIFY2(viewer->item(0), "the scene showed an empty frame");
        }
        const QList<int> shown = columns == 1 ? QList<int> { expected } : QList<int> { expected, expected + 1 };
        QTRY_VERIFY(!viewer->isRendering() && viewer->shownPages() == shown);
        QCOMPARE(context->currentPage(), expected);
        QCOMPARE(context->readingPage(), expected);
        QCOMPARE(viewer->fake->maxRunning.load(), 1);
        QCOMPARE(viewer->fake->guiRenders.load(), 0);
    }

    // A turn forward from the last spread stays on it, so the way back keeps the same spreads.
    void lastSpread()
    {
        open(2);
        viewer->goPage(197);
        QTRY_VERIFY(!viewer->isRendering() && viewer->shownPages() == QList<int>({ 197, 198 }));
        QTest::keyClick(viewer.data(), Qt::Key_Right);
        QTRY_VERIFY(!viewer->isRendering() && viewer->shownPages() == QList<int>({ 199, 200 }));
        QTest::keyClick(viewer.data(), Qt::Key_Right);
        QTest::keyClick(viewer.data(), Qt::Key_Left);
        QTRY_VERIFY(!viewer->isRendering() && viewer->shownPages() == QList<int>({ 197, 198 }));
        QCOMPARE(context->currentPage(), 197);
        // A spread that ends one page short moves on to the last page alone, and back again.
        viewer->goPage(198);
        QTRY_VERIFY(!viewer->isRendering() && viewer->shownPages() == QList<int>({ 198, 199 }));
        QTest::keyClick(viewer.data(), Qt::Key_Right);
        QTRY_COMPARE(context->currentPage(), 200);
        QTest::keyClick(viewer.data(), Qt::Key_Left);
        QTRY_VERIFY(!viewer->isRendering() && viewer->shownPages() == QList<int>({ 198, 199 }));
        // The end key from the first spread shows the last spread of the same steps.
        QTest::keyClick(viewer.data(), Qt::Key_Home);
        QTRY_COMPARE(context->currentPage(), 1);
        QTest::keyClick(viewer.data(), Qt::Key_End);
        QTRY_VERIFY(!viewer->isRendering() && viewer->shownPages() == QList<int>({ 199, 200 }));
        QTest::keyClick(viewer.data(), Qt::Key_Left);
        QTRY_VERIFY(!viewer->isRendering() && viewer->shownPages() == QList<int>({ 197, 198 }));
    }

    // Turns while a slow page renders do not wait for it: each returns to the event loop at
    // once, and of the requests made meanwhile only the newest is rendered after it. The render
    // is held until the turns are made, so a turn that waited for it would find it ended.
    void turnDuringSlowRender()
    {
        open(1);
        viewer->fake->held = true;
        QTest::keyClick(viewer.data(), Qt::Key_Right);
        QTRY_VERIFY(viewer->fake->running > 0);
        const int before = viewer->fake->renders;
        for (int i = 0; i < 3; ++i)
            QTest::keyClick(viewer.data(), Qt::Key_Right);
        QVERIFY2(viewer->fake->held && viewer->fake->running == 1 && viewer->fake->renders == before,
            "a turn waited for the render");
        QCOMPARE(context->currentPage(), 5);
        QVERIFY(viewer->isRendering());
        viewer->fake->held = false;
        viewer->fake->gate.release();
        QTRY_VERIFY_WITH_TIMEOUT(!viewer->isRendering() && viewer->shownPages() == QList<int> { 5 }, 20000);
        QCOMPARE(viewer->fake->renders - before, 1);
        QCOMPARE(viewer->fake->maxRunning.load(), 1);
        QCOMPARE(viewer->fake->guiRenders.load(), 0);
    }

    void teardownDuringRender()
    {
        for (bool reopen : { true, false }) {
            open(2, 150);
            g_destroyedWhileRendering = false;
            QTest::keyClick(viewer.data(), Qt::Key_Right);
            QTRY_VERIFY(viewer->fake->running > 0);
            if (reopen) {
                QVERIFY(viewer->readBook(context));
                QTRY_COMPARE(viewer->shownPages(), QList<int>({ 3, 4 }));
            } else {
                viewer.reset();
            }
            QVERIFY(!g_destroyedWhileRendering);
        }
    }

    void input_data()
    {
        using Z = AbstractViewer::ZoomAction;
        QTest::addColumn<Action>("action");
        QTest::addColumn<int>("columns");
        QTest::addColumn<int>("page"); // from page 10
        QTest::addColumn<int>("percent"); // -1: not checked
        QTest::addColumn<double>("scale"); // of the view; 0: not checked
        QTest::newRow("next") << keys(Qt::Key_Right) << 1 << 11 << -1 << 0.0;
        QTest::newRow("previous spread") << keys(Qt::Key_PageUp) << 2 << 8 << -1 << 0.0;
        QTest::newRow("start") << keys(Qt::Key_Home) << 1 << 1 << -1 << 0.0;
        QTest::newRow("end") << keys(Qt::Key_End) << 1 << 200 << -1 << 0.0;
        QTest::newRow("zoom in") << zoom(Z::Initial, -1, keys(Qt::Key_Plus)) << 1 << 10 << 115 << 1.15;
        QTest::newRow("zoom out") << zoom(Z::Initial, -1, keys(Qt::Key_Minus)) << 1 << 10 << 87 << 0.87;
        QTest::newRow("initial pdf") << zoom(Z::Value, 300, keys(Qt::Key_0, Qt::ShiftModifier), 2) << 1 << 10 << 100
                                     << 0.5;
        QTest::newRow("fit width") << keys(Qt::Key_2, Qt::ShiftModifier) << 1 << 10 << 200 << 2.0;
        QTest::newRow("fit page") << zoom(Z::Value, 300, keys(Qt::Key_1, Qt::ShiftModifier)) << 1 << 10 << 207 << 0.0;
        QTest::newRow("value low") << zoom(Z::Value, 5) << 1 << 10 << 10 << 0.1;
        QTest::newRow("value high pdf") << zoom(Z::Value, 5000, {}, 2) << 1 << 10 << 1000 << 5.0;
        QTest::newRow("wheel down") << wheel({ 0, -120 }) << 2 << 12 << -1 << 0.0;
        QTest::newRow("touchpad up") << wheel({ 0, 30 }, 5) << 1 << 9 << -1 << 0.0;
        QTest::newRow("ctrl wheel") << zoom(Z::Initial, -1, wheel({ 0, 60 }, 2, Qt::ControlModifier)) << 1 << 10 << 115
                                    << 0.0;
        QTest::newRow("click left") << click(100) << 2 << 8 << -1 << 0.0;
        QTest::newRow("click right") << click(900) << 1 << 11 << -1 << 0.0;
        QTest::newRow("skipped click") << click(900, true) << 1 << 10 << -1 << 0.0;
    }
    void input()
    {
        QFETCH(Action, action);
        QFETCH(int, columns);
        QFETCH(int, page);
        QFETCH(int, percent);
        QFETCH(double, scale);
        open(columns);
        viewer->goPage(10);
        QTRY_VERIFY(!viewer->isRendering() && viewer->shownPages().value(0) == 10);
        action(*viewer);
        QTRY_COMPARE(context->currentPage(), page);
        QTRY_COMPARE(viewer->shownPages().value(0), page);
        if (percent >= 0)
            QTRY_COMPARE(viewer->zoomValue(), percent);
        if (scale > 0)
            QCOMPARE(viewer->transform().m11(), scale);
    }

    void spreadGap()
    {
        open(2);
        const int gap = qRound(10 * viewer->devicePixelRatioF());
        for (int page : { 10, 200 }) { // the last page stands alone
            viewer->goPage(page);
            QTRY_VERIFY(!viewer->isRendering() && viewer->shownPages().value(0) == page);
            QCOMPARE(viewer->item(0)->boundingRect(), QRectF(0, 0, 500, 200));
            QCOMPARE(viewer->item(1)->pos(), QPointF(500 + gap, 0));
            QCOMPARE(viewer->item(1)->boundingRect().isEmpty(), page == 200);
            QCOMPARE(viewer->sceneRect().width(), page == 200 ? 500.0 : 1000.0 + gap);
        }
        // At 200 % the page is drawn from a copy resampled for that scale.
        viewer->setZoomValue(AbstractViewer::ZoomAction::Value, 200);
        viewer->grab();
        QCOMPARE(viewer->item(0)->scaledImage().size(), viewer->item(0)->image().size() * 2);
    }
};

QTEST_MAIN(TestImageViewer)
#include "tst_imageviewer.moc"
