// Window masks on real X11 windows: the X server shapes the window, so what lies under a masked-out
// point is the window beneath, both for hit testing and on screen.
#include "utils/kelhooks.h"
#include "utils/kelwindowmaskutils.h"

#include <QApplication>
#include <QScreen>
#include <QTest>
#include <QWidget>

namespace {

const QRect kGeometry(40, 40, 200, 160);

QWidget* makeWindow(const QColor& color, bool transparentForMouse = false)
{
    auto* window = new QWidget(nullptr, Qt::FramelessWindowHint);
    window->setAttribute(Qt::WA_DeleteOnClose);
    window->setAutoFillBackground(true);
    window->setPalette(QPalette(color));
    if (transparentForMouse)
        window->setAttribute(Qt::WA_TransparentForMouseEvents);
    window->setGeometry(kGeometry);
    window->show();
    return window;
}

QColor screenColorAt(const QPoint& global)
{
    const QImage shot = QGuiApplication::primaryScreen()->grabWindow(0, global.x(), global.y(), 1, 1).toImage();
    return shot.isNull() ? QColor() : shot.pixelColor(0, 0);
}

bool isReddish(const QColor& c) { return c.red() > 200 && c.blue() < 60; }
bool isBluish(const QColor& c) { return c.blue() > 200 && c.red() < 60; }

} // namespace

class TestKelWindowMask : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        if (QGuiApplication::platformName() != QLatin1String("xcb"))
            QSKIP("Needs an X server");
        m_bottom = makeWindow(Qt::red);
        QVERIFY(QTest::qWaitForWindowExposed(m_bottom));
    }

    void cleanupTestCase() { delete m_bottom; }

    void masksShowTheWindowBeneath()
    {
        QWidget* top = makeWindow(Qt::blue);
        QVERIFY(QTest::qWaitForWindowExposed(top));
        const QPoint kept = kGeometry.topLeft() + QPoint(50, 80);
        const QPoint cut = kGeometry.topLeft() + QPoint(150, 80);
        QTRY_COMPARE(QApplication::widgetAt(cut), top);
        KelUtils::setMask(top, QRegion(0, 0, 100, 160));
        QTRY_COMPARE(QApplication::widgetAt(cut), m_bottom);
        QCOMPARE(QApplication::widgetAt(kept), top);
        QCOMPARE(regionAwareWidgetAt(cut), m_bottom);
        QTRY_VERIFY2(isReddish(screenColorAt(cut)), qPrintable(screenColorAt(cut).name()));
        QTRY_VERIFY2(isBluish(screenColorAt(kept)), qPrintable(screenColorAt(kept).name()));
        KelUtils::clearMask(top);
        QTRY_COMPARE(QApplication::widgetAt(cut), top);
        QTRY_VERIFY(isBluish(screenColorAt(cut)));

        // A rounded path leaves the corners out; inverted, it cuts a hole in the middle.
        QPainterPath rounded;
        rounded.addRoundedRect(QRectF(0, 0, 200, 160), 30, 30);
        KelUtils::setMask(top, top->size(), QPoint(0, 0), rounded, 0, false, false);
        const QPoint corner = kGeometry.topLeft() + QPoint(2, 2);
        QTRY_COMPARE(QApplication::widgetAt(corner), m_bottom);
        QCOMPARE(QApplication::widgetAt(kGeometry.center()), top);
        QTRY_VERIFY2(isReddish(screenColorAt(corner)), qPrintable(screenColorAt(corner).name()));
        KelUtils::setMask(top, top->size(), QPoint(0, 0), rounded, 0, true, false);
        QTRY_COMPARE(QApplication::widgetAt(kGeometry.center()), m_bottom);
        top->close();
    }

    void mouseTransparentWindowIsSeenThrough()
    {
        QWidget* overlay = makeWindow(Qt::blue, true);
        QVERIFY(QTest::qWaitForWindowExposed(overlay));
        const QPoint point = kGeometry.center();
        QTRY_VERIFY(isBluish(screenColorAt(point))); // the overlay is on top
        QTRY_COMPARE(regionAwareWidgetAt(point), m_bottom);
        QCOMPARE(overlay->mask(), QRegion()); // looking through leaves the overlay's shape alone
        overlay->close();
    }

private:
    QWidget* m_bottom = nullptr;
};

QTEST_MAIN(TestKelWindowMask)
#include "tst_kelwindowmask.moc"
