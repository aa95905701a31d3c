#include "colortesthelpers.h"

#include "styles/kelstyle.h"
#include "windows/kelwindowframe.h"

#include <QApplication>
#include <QSignalSpy>
#include <QTest>

namespace {

// A window that counts its paint events.
class PaintedWindow : public QWidget {
public:
    int paints = 0;

protected:
    void paintEvent(QPaintEvent*) override { ++paints; }
};

class ThickShadowStyle : public KelStyle {
public:
    int metric(int kind) const override { return kind == 1 ? 33 : KelStyle::metric(kind); }
    QColor color(int role) const override { return role == 6 ? QColor(Qt::darkCyan) : KelStyle::color(role); }
};

} // namespace

class TestKelWindowFrame : public QObject {
    Q_OBJECT

private slots:
    void detachedFrameIgnoresChanges()
    {
        KelWindowFrame detached(nullptr, nullptr);
        QVERIFY(!detached.window());
        detached.setBorderWidth(2);
        detached.setBackground(Qt::red);
        QCOMPARE(detached.background(), QBrush());
    }

    // Every change that affects painting repaints the window once; an equal value does nothing.
    void settersRepaintOnChange()
    {
        PaintedWindow window;
        window.resize(40, 40);
        KelWindowFrame frame(&window, &window);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QSignalSpy shadowSpy(&frame, &KelWindowFrame::shadowColorChanged);

        const QList<std::function<void()>> changes = {
            [&] { frame.setBorderColor(Qt::red); },
            [&] { frame.setBorderWidth(3); },
            [&] { frame.setRadii(1, 2, 3, 4); },
            [&] { frame.setShadowColor(Qt::blue); },
            [&] { frame.setShadowSize(12); },
            [&] { frame.setShadowOffset(2); },
        };
        for (const auto& change : changes) {
            QCoreApplication::processEvents();
            const int before = window.paints;
            change();
            QTRY_VERIFY(window.paints > before);
            QCoreApplication::processEvents();
            const int settled = window.paints;
            change();
            QCoreApplication::processEvents();
            QCOMPARE(window.paints, settled);
        }
        QCOMPARE(shadowSpy.count(), 1);
        QCOMPARE(shadowSpy.first().first().value<QColor>(), QColor(Qt::blue));
        QCOMPARE(frame.radii(), KelRadii(1, 2, 3, 4));
        QCOMPARE(frame.shadowVerticalOffset(), 2);
        QVERIFY(frame.needsTranslucentBackground());

        frame.setBackground(QColor(Qt::darkGreen));
        QCOMPARE(frame.background(), QBrush(Qt::darkGreen));
        QVERIFY(window.autoFillBackground());
    }

    void maximizedWindowsHaveNoBorder()
    {
        QWidget window;
        KelWindowFrame frame(&window, &window);
        frame.setBorderWidth(4);
        QCOMPARE(frame.effectiveBorderWidth(), 4);
        window.setWindowState(Qt::WindowMaximized);
        QCOMPARE(frame.effectiveBorderWidth(), 0);
        window.setWindowState(Qt::WindowFullScreen);
        QCOMPARE(frame.effectiveBorderWidth(), 0);
        window.setWindowState(Qt::WindowNoState);
        QCOMPARE(frame.effectiveBorderWidth(), 4);
        QCOMPARE(frame.borderWidth(), 4);
    }

    void windowKindsTakeTheirRoles_data()
    {
        QTest::addColumn<int>("kind");
        QTest::addColumn<QColor>("background");
        QTest::addColumn<int>("borderWidth");
        QTest::addColumn<int>("shadowSize");
        QTest::newRow("plain") << 0 << QColor(Qt::white) << 1 << 33;
        QTest::newRow("dialog") << 1 << QColor(Qt::darkCyan) << 1 << 33;
        QTest::newRow("popup") << 3 << QColor(Qt::white) << 1 << 33;
        QTest::newRow("plain, own border") << 6 << QColor(Qt::white) << 1 << 33;
    }
    // Dialog and popup kinds take the plain window's metrics through the virtual metric().
    void windowKindsTakeTheirRoles()
    {
        QFETCH(int, kind);
        QFETCH(QColor, background);
        QFETCH(int, borderWidth);
        QFETCH(int, shadowSize);
        ThickShadowStyle style;
        QWidget window;
        KelWindowFrame frame(&window, &window);
        style.applyWindowFrameStyle(&frame, kind);
        QCOMPARE(frame.background().color(), background);
        COMPARE_COLOR(frame.borderColor(), QColor(0, 0, 0, 56));
        COMPARE_COLOR(frame.shadowColor(), QColor(0, 0, 0, 56));
        QCOMPARE(frame.borderWidth(), borderWidth);
        QCOMPARE(frame.shadowSize(), shadowSize);
        QCOMPARE(frame.shadowOffset(), 0);
    }

    void unknownWindowKindChangesNothing()
    {
        KelStyle style;
        QWidget window;
        KelWindowFrame frame(&window, &window);
        style.applyWindowFrameStyle(&frame, 7);
        QVERIFY(!frame.borderColor().isValid());
        QCOMPARE(frame.shadowSize(), 0);
        style.applyWindowFrameStyle(nullptr, 0);
    }
};

QTEST_MAIN(TestKelWindowFrame)
#include "tst_kelwindowframe.moc"
