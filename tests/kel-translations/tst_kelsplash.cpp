#include "../kelapp/kelapptest.h"
#include "kelapplication.h"
#include "kelui.h"
#include "windows/kelsplash.h"
#include "windows/kelwindow.h"

#include <QElapsedTimer>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPointer>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>

namespace {
const QString kVersion = QStringLiteral("1.2.3");

// A main window as toolkit windows offer it: shown through showAndActivate.
class StubWindow : public KelWindow {
    Q_OBJECT
public:
    StubWindow()
        : KelWindow(KelWindow::WindowParams())
    {
    }

public slots:
    void showAndActivate(bool withParent)
    {
        ++activations;
        lastWithParent = withParent;
        show();
    }

public:
    int activations = 0;
    bool lastWithParent = true;
};

class TestUi : public KelUi {
public:
    using KelUi::KelUi;
    bool makeWindow = true;

protected:
    KelWindow* createMainWindow() override { return makeWindow ? new StubWindow : nullptr; }
};

class TestApp : public KelApplication {
public:
    using KelApplication::KelApplication;
    int splashesDestroyed = 0;

protected:
    KelUi* createUi() override { return new TestUi(this); }
    void onSplashDestroyed() override { ++splashesDestroyed; }
};

TestApp* testApp() { return static_cast<TestApp*>(KelApplication::instance()); }

// A fresh UI object, so that each case makes its own main window.
TestUi* freshUi(bool makeWindow)
{
    delete KelUi::instance();
    auto* ui = static_cast<TestUi*>(KelUi::instance());
    ui->makeWindow = makeWindow;
    return ui;
}

// Records every loading text the splash paints, once per change.
class RecordingSplash : public KelSplash {
public:
    using KelSplash::KelSplash;
    QStringList texts;
    static inline int paints = 0;
    void drawOn(QPainter* painter) { drawContents(painter); }

protected:
    void drawContents(QPainter* painter) override
    {
        ++paints;
        if (texts.isEmpty() || texts.last() != loadingText())
            texts.append(loadingText());
        KelSplash::drawContents(painter);
    }
};

QPixmap blackPicture(const QSize& size)
{
    QPixmap pixmap(size);
    pixmap.fill(Qt::black);
    return pixmap;
}

RecordingSplash* makeSplash(int minimumMs, int tickMs, bool showMainWindow, const QColor& loadingColor = Qt::red,
    const QRect& area = QRect(), int minDots = 0, int maxDots = 3)
{
    return new RecordingSplash(area, blackPicture(QSize(400, 200)), kVersion, minimumMs, tickMs, minDots, maxDots,
        showMainWindow, QPoint(), QPoint(40, 124), loadingColor, QColor(Qt::white));
}

// Pixels in the rectangle that are not black.
int inkIn(const QImage& image, const QRect& rect)
{
    int count = 0;
    for (int y = rect.top(); y <= rect.bottom(); ++y) {
        for (int x = rect.left(); x <= rect.right(); ++x)
            count += image.pixelColor(x, y) != Qt::black ? 1 : 0;
    }
    return count;
}
}

class SplashTest : public QObject {
    Q_OBJECT

private slots:
    void loadingDotsCycle()
    {
        QPointer<RecordingSplash> splash = makeSplash(60000, 5, false);
        splash->show();
        QTRY_VERIFY(splash->texts.size() >= 6);
        QCOMPARE(splash->texts.mid(0, 6),
            (QStringList { "Loading", "Loading.", "Loading..", "Loading...", "Loading", "Loading." }));
        QCOMPARE(splash->versionText(), QStringLiteral("v1.2.3"));
        QVERIFY(!splash->isMinimumTimeReached());
        splash->close();
        QTRY_VERIFY(!splash);
    }

    void textsSitInTheirCorners_data()
    {
        QTest::addColumn<QColor>("loadingColor");
        QTest::addColumn<bool>("loadingDrawn");
        QTest::newRow("red loading text") << QColor(Qt::red) << true;
        QTest::newRow("transparent loading text") << QColor(Qt::transparent) << false;
    }

    void textsSitInTheirCorners()
    {
        QFETCH(QColor, loadingColor);
        QFETCH(bool, loadingDrawn);
        QPointer<RecordingSplash> splash = makeSplash(60000, 1000, false, loadingColor);
        // Default insets for the loading text, the given ones for the version.
        QCOMPARE(splash->loadingTextRect(), QRect(105, 0, 295, 154));
        QCOMPARE(splash->versionTextRect(), QRect(0, 0, 360, 76));
        QTRY_VERIFY(!splash->loadingText().isEmpty());

        QImage image(400, 200, QImage::Format_RGB32);
        image.fill(Qt::black);
        {
            QPainter painter(&image);
            QFont font(QStringLiteral("DejaVu Sans"));
            font.setPixelSize(24);
            painter.setFont(font);
            splash->drawOn(&painter);
        }
        // The version ends 40 px from the right and 124 px from the bottom, the loading text
        // starts 105 px from the left and ends 46 px from the bottom.
        QVERIFY(inkIn(image, QRect(180, 40, 180, 36)) > 20);
        QCOMPARE(inkIn(image, QRect(361, 0, 39, 200)), 0);
        QCOMPARE(inkIn(image, QRect(0, 77, 400, 123)) > 20, loadingDrawn);
        QCOMPARE(inkIn(image, QRect(0, 0, 104, 200)), 0);
        delete splash;
    }

    void goesToTheScreenOfItsArea()
    {
        QScreen* primary = QGuiApplication::primaryScreen();
        QVERIFY(primary);
        const QRect onScreen = primary->geometry().adjusted(0, 0, -100, -60);
        std::unique_ptr<KelSplash> splash(makeSplash(60000, 1000, false, Qt::red, onScreen));
        QCOMPARE(splash->geometry().center(), onScreen.center());
        QCOMPARE(splash->size(), QSize(400, 200));
        // An area on no screen falls back to the primary screen's available area.
        splash.reset(makeSplash(60000, 1000, false, Qt::red, QRect(-100000, -100000, 50, 50)));
        QCOMPARE(splash->geometry().center(), primary->availableGeometry().center());
    }

    void closesAtTheMinimumTime_data()
    {
        // A zero tick must not repaint without pause: a still text paints once, dots about once a frame.
        QTest::addColumn<int>("maxDots");
        QTest::addColumn<int>("maxPaints");
        QTest::newRow("still text") << 0 << 3;
        QTest::newRow("cycling dots") << 3 << 30;
    }

    void closesAtTheMinimumTime()
    {
        QFETCH(int, maxDots);
        QFETCH(int, maxPaints);
        QElapsedTimer clock;
        clock.start();
        RecordingSplash::paints = 0;
        QPointer<RecordingSplash> splash = makeSplash(200, 0, false, Qt::red, QRect(), 0, maxDots);
        splash->show();
        QTRY_VERIFY(!splash);
        QVERIFY(clock.elapsed() >= 200);
        QVERIFY2(RecordingSplash::paints <= maxPaints, qPrintable(QString::number(RecordingSplash::paints)));
    }

    void handsOverToAWindowMadeEarly()
    {
        TestUi* ui = freshUi(true);
        QTemporaryDir dir;
        const QString image = dir.filePath(QStringLiteral("splash.png"));
        QVERIFY(QImage(300, 150, QImage::Format_RGB32).save(image));
        const int destroyedBefore = testApp()->splashesDestroyed;

        QElapsedTimer clock;
        clock.start();
        QPointer<KelSplash> splash = testApp()->showSplash(image, 300, 0, 0, 3, QStringLiteral("DejaVu Sans"), 24, true,
            QPoint(), QPoint(40, 124), QColor(Qt::transparent), QColor(Qt::white));
        QVERIFY(splash);
        QCOMPARE(testApp()->splash(), splash.data());
        QVERIFY(testApp()->isSplashVisible());
        QCOMPARE(splash->pixmap().size(), QSize(300, 150));
        QCOMPARE(splash->font().pixelSize(), 24);
        QCOMPARE(splash->versionText(), QStringLiteral("v") + QCoreApplication::applicationVersion());

        // A window made before the minimum time does not end the splash early.
        ui->initMainWindow();
        auto* window = qobject_cast<StubWindow*>(ui->mainWindow());
        QVERIFY(window);
        QVERIFY(splash && splash->isVisible());
        QCOMPARE(window->activations, 0);
        QTRY_VERIFY(!splash);
        QVERIFY(clock.elapsed() >= 300);
        QCOMPARE(window->activations, 1);
        QCOMPARE(window->lastWithParent, false);
        QVERIFY(window->isVisible());
        QVERIFY(!testApp()->splash());
        QCOMPARE(testApp()->splashesDestroyed, destroyedBefore + 1);
    }

    void waitsForAWindowMadeLater()
    {
        TestUi* ui = freshUi(true);
        QPointer<RecordingSplash> splash = makeSplash(50, 0, true);
        splash->show();
        QTRY_VERIFY(splash->isMinimumTimeReached());
        // No window yet: the splash keeps animating.
        const int painted = splash->texts.size();
        QTRY_VERIFY(splash->texts.size() > painted);
        QVERIFY(splash->isVisible());

        ui->initMainWindow(); // not through the application, so hand over as the application would
        QVERIFY(splash);
        splash->setMainWindowIsReady(ui->mainWindow());
        QTRY_VERIFY(!splash);
        QCOMPARE(static_cast<StubWindow*>(ui->mainWindow())->activations, 1);
    }

    void aPlainWindowIsBroughtToFront()
    {
        freshUi(true);
        QPointer<RecordingSplash> splash = makeSplash(0, 0, true);
        QTRY_VERIFY(splash->isMinimumTimeReached());
        KelWindow window { KelWindow::WindowParams() };
        splash->setMainWindowIsReady(&window);
        QVERIFY(window.isVisible());
        QTRY_VERIFY(!splash);
    }

    void closesWhenNoMainWindowCanBeMade()
    {
        TestUi* ui = freshUi(false);
        QPointer<KelSplash> splash = testApp()->showSplash(QStringLiteral("missing.png"), 100, 0, 0, 3,
            QStringLiteral("DejaVu Sans"), 24, true, QPoint(), QPoint(), QColor(), QColor());
        QVERIFY(splash);
        ui->initMainWindow();
        QVERIFY(!ui->mainWindow());
        QTRY_VERIFY(!splash);
    }
};

int main(int argc, char** argv)
{
    return runKelAppTest<TestApp, SplashTest>(argc, argv, QStringLiteral("KelSplashTest"));
}

#include "tst_kelsplash.moc"
