#include "utils/kelgeometryutils.h"

#include <QApplication>
#include <QEvent>
#include <QScreen>
#include <QTest>
#include <QWidget>

namespace {

class FontChangeCounter : public QWidget {
public:
    int changes = 0;

protected:
    void changeEvent(QEvent* event) override
    {
        if (event->type() == QEvent::FontChange)
            ++changes;
        QWidget::changeEvent(event);
    }
};

} // namespace

class TestKelGeometryUtils : public QObject {
    Q_OBJECT

private slots:
    void alignRectInteger_data()
    {
        QTest::addColumn<int>("alignment");
        QTest::addColumn<QRect>("outer");
        QTest::addColumn<QSize>("size");
        QTest::addColumn<bool>("clip");
        QTest::addColumn<QRect>("expected");
        const QRect outer(0, 0, 15, 15);
        QTest::newRow("centre") << int(Qt::AlignCenter) << outer << QSize(10, 10) << false << QRect(2, 2, 10, 10);
        QTest::newRow("same size") << int(Qt::AlignRight | Qt::AlignBottom) << outer << QSize(15, 15) << false << outer;
        QTest::newRow("bottom right") << int(Qt::AlignRight | Qt::AlignBottom) << QRect(10, 20, 30, 40) << QSize(5, 6)
                                      << false << QRect(35, 54, 5, 6);
        QTest::newRow("no flags keeps the top-left")
            << 0 << QRect(10, 20, 30, 40) << QSize(5, 6) << false << QRect(10, 20, 5, 6);
        QTest::newRow("later flag wins") << int(Qt::AlignLeft | Qt::AlignRight) << QRect(0, 0, 20, 20) << QSize(4, 4)
                                         << false << QRect(16, 0, 4, 4);
        QTest::newRow("larger, clipped") << int(Qt::AlignCenter) << QRect(0, 0, 10, 10) << QSize(20, 4) << true
                                         << QRect(0, 3, 10, 4);
        QTest::newRow("larger, unclipped")
            << int(Qt::AlignCenter) << QRect(0, 0, 10, 10) << QSize(20, 4) << false << QRect(-5, 3, 20, 4);
    }
    void alignRectInteger()
    {
        QFETCH(int, alignment);
        QFETCH(QRect, outer);
        QFETCH(QSize, size);
        QFETCH(bool, clip);
        QFETCH(QRect, expected);
        QCOMPARE(KelUtils::alignRect(Qt::Alignment(alignment), outer, size, clip), expected);
    }

    void alignRectFloating()
    {
        const QRectF outer(10, 20, 15, 15);
        QCOMPARE(KelUtils::alignRect(Qt::AlignCenter, outer, QSizeF(10, 10)), QRectF(12.5, 22.5, 10, 10));
        QCOMPARE(KelUtils::alignRect(Qt::AlignRight | Qt::AlignBottom, outer, QSizeF(5, 5)), QRectF(20, 30, 5, 5));
        // No flag on an axis keeps the outer rectangle's edge on that axis, as the integer form does.
        QCOMPARE(KelUtils::alignRect(Qt::AlignHCenter, outer, QSizeF(5, 5)), QRectF(15, 20, 5, 5));
        QCOMPARE(KelUtils::alignRect(Qt::AlignLeft, outer, QSizeF(15.0 + 1e-14, 15)), outer);
        QCOMPARE(KelUtils::alignRect(Qt::AlignTop, outer, QSizeF(5, 30), true), QRectF(10, 20, 5, 15));
    }

    void alignedRectBesideAnAnchor_data()
    {
        QTest::addColumn<int>("edge");
        QTest::addColumn<int>("alignment");
        QTest::addColumn<QPoint>("offset");
        QTest::addColumn<QRect>("expected");
        // Anchor (100, 100, 50, 20); the placed rectangle is 30 x 10.
        QTest::newRow("bottom, left") << int(Qt::BottomEdge) << int(Qt::AlignLeft) << QPoint(4, 0)
                                      << QRect(100, 124, 30, 10);
        QTest::newRow("top, left") << int(Qt::TopEdge) << int(Qt::AlignLeft) << QPoint(4, 0) << QRect(100, 86, 30, 10);
        QTest::newRow("bottom, right, shifted")
            << int(Qt::BottomEdge) << int(Qt::AlignRight) << QPoint(0, -3) << QRect(117, 120, 30, 10);
        QTest::newRow("bottom, centre") << int(Qt::BottomEdge) << int(Qt::AlignHCenter) << QPoint(0, 0)
                                        << QRect(110, 120, 30, 10);
        QTest::newRow("right, top") << int(Qt::RightEdge) << int(Qt::AlignTop) << QPoint(2, 1)
                                    << QRect(152, 101, 30, 10);
        QTest::newRow("left, bottom") << int(Qt::LeftEdge) << int(Qt::AlignBottom) << QPoint(0, 0)
                                      << QRect(70, 110, 30, 10);
        QTest::newRow("left, vcentre") << int(Qt::LeftEdge) << int(Qt::AlignVCenter) << QPoint(0, 0)
                                       << QRect(70, 105, 30, 10);
        // Justify: the rectangle starts left of the anchor's left edge or is moved there.
        QTest::newRow("bottom, justify") << int(Qt::BottomEdge) << int(Qt::AlignJustify) << QPoint(0, 0)
                                         << QRect(100, 120, 30, 10);
    }
    void alignedRectBesideAnAnchor()
    {
        QFETCH(int, edge);
        QFETCH(int, alignment);
        QFETCH(QPoint, offset);
        QFETCH(QRect, expected);
        const QRect anchor(100, 100, 50, 20);
        const QRect rect(400, 400, 30, 10);
        QCOMPARE(KelUtils::alignedRect(anchor, rect, Qt::Edge(edge), Qt::AlignmentFlag(alignment), offset), expected);
    }

    void alignedRectWithUnknownAlignmentStillMeetsTheEdge()
    {
        QTest::ignoreMessage(QtWarningMsg, "NOT IMPLEMENTED");
        const QRect placed = KelUtils::alignedRect(
            QRect(100, 100, 50, 20), QRect(7, 9, 30, 10), Qt::BottomEdge, Qt::AlignAbsolute, QPoint(0, 0));
        QCOMPARE(placed, QRect(7, 120, 30, 10));
    }

    void fitIntoAvailableGeometry()
    {
        QScreen* screen = QGuiApplication::primaryScreen();
        QVERIFY(screen);
        const QRect area = screen->availableGeometry();
        const QRect reference(area.center(), QSize(1, 1));

        // Inside already: unchanged.
        QCOMPARE(KelUtils::fitIntoAvailableGeometry(reference, QRect(area.x() + 10, area.y() + 10, 50, 50)),
            QRect(area.x() + 10, area.y() + 10, 50, 50));
        // Over the right and bottom edges: moved back so that the last pixel is the area's last pixel.
        const QRect moved
            = KelUtils::fitIntoAvailableGeometry(reference, QRect(area.right() - 20, area.bottom() - 10, 50, 40));
        QCOMPARE(moved.size(), QSize(50, 40));
        QCOMPARE(moved.right(), area.x() + area.width() - 1);
        QCOMPARE(moved.bottom(), area.y() + area.height() - 1);
        // Wider than the area: starts at its left and is cut at its last pixel.
        const QRect wide
            = KelUtils::fitIntoAvailableGeometry(reference, QRect(area.x() - 50, area.y(), area.width() + 200, 10));
        QCOMPARE(wide.left(), area.x());
        QCOMPARE(wide.right(), area.x() + area.width() - 1);
        // Left of the area: moved right.
        QCOMPARE(
            KelUtils::fitIntoAvailableGeometry(reference, QRect(area.x() - 30, area.y() + 5, 20, 20)).left(), area.x());
        // A reference off every screen falls back to the primary screen.
        QCOMPARE(KelUtils::fitIntoAvailableGeometry(QRect(-5000, -5000, 1, 1), QRect(area.x() - 30, area.y(), 20, 20))
                     .left(),
            area.x());
    }

    void fitIntoAvailableGeometryOnARowGrid()
    {
        QScreen* screen = QGuiApplication::primaryScreen();
        const QRect area = screen->availableGeometry();
        const int step = 20, margin = 5;
        const int expectedTop = area.y() + (area.height() - 2 * margin) % step;
        const QRect fitted = KelUtils::fitIntoAvailableGeometry(area, QRect(area.x(), area.y(), 40, 40), step, margin);
        QCOMPARE(fitted.top(), expectedTop);
        if (area.height() == 600 || area.height() == 1000)
            QCOMPARE(fitted.top() - area.y(), 10);
    }

    void fitRectIntoRect()
    {
        const QRect bounds(0, 0, 100, 50);
        QCOMPARE(
            KelUtils::fitRectIntoRect(QRect(80, 40, 40, 40), bounds, Qt::IgnoreAspectRatio), QRect(80, 40, 20, 10));
        // Larger: scaled down keeping its aspect, then moved inside.
        const QRect scaled = KelUtils::fitRectIntoRect(QRect(-10, -10, 200, 200), bounds, Qt::KeepAspectRatio);
        QCOMPARE(scaled, QRect(0, 0, 50, 50));
        // Smaller but sticking out: moved, not resized.
        QCOMPARE(KelUtils::fitRectIntoRect(QRect(90, 45, 20, 10), bounds, Qt::KeepAspectRatio), QRect(80, 40, 20, 10));
    }

    void screens()
    {
        QScreen* screen = QGuiApplication::primaryScreen();
        const QRect g = screen->geometry();
        QCOMPARE(KelUtils::screenAt(g.center()), screen);
        // The right and bottom edges (x = screen x + width) still find the screen.
        QCOMPARE(KelUtils::screenAt(QPoint(g.x() + g.width(), g.y() + g.height())), screen);
        QCOMPARE(KelUtils::screenAt(QPoint(g.x() + g.width() + 1, g.y())), static_cast<QScreen*>(nullptr));
        QWidget widget;
        QCOMPARE(KelUtils::screenOf(&widget), screen);
        QCOMPARE(KelUtils::screenOf(nullptr), static_cast<QScreen*>(nullptr));
    }

    void globalGeometry()
    {
        QCOMPARE(KelUtils::globalGeometry(nullptr), QRect());
        QWidget window;
        window.setGeometry(120, 80, 100, 100);
        QWidget child(&window);
        child.setGeometry(10, 15, 20, 25);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QCOMPARE(KelUtils::globalGeometry(&child), QRect(child.mapToGlobal(QPoint(0, 0)), QSize(20, 25)));
        QCOMPARE(
            KelUtils::globalGeometry(&child).topLeft() - KelUtils::globalGeometry(&window).topLeft(), QPoint(10, 15));
        // At ratio 1 device positions are global positions.
        QCOMPARE(KelUtils::mapDeviceToWidget(&child, child.mapToGlobal(QPoint(3, 4))), QPoint(3, 4));
    }

    void fonts()
    {
        const QFont font = KelUtils::makeFont(13, QFont::Bold, QStringLiteral("DejaVu Sans"));
        QCOMPARE(font.family(), QStringLiteral("DejaVu Sans"));
        QCOMPARE(font.pixelSize(), 13);
        QCOMPARE(font.weight(), int(QFont::Bold));
        QVERIFY(!font.italic());

        KelUtils::setWidgetFont(nullptr, 12, QFont::Normal, QStringLiteral("DejaVu Sans"));
        FontChangeCounter widget;
        KelUtils::setWidgetFont(&widget, 12, QFont::Normal, QStringLiteral("DejaVu Sans"));
        QCOMPARE(widget.changes, 1);
        QCOMPARE(widget.font().pixelSize(), 12);
        KelUtils::setWidgetFont(&widget, 12, QFont::Normal, QStringLiteral("DejaVu Sans"));
        QCOMPARE(widget.changes, 1); // nothing differs, no new font
        KelUtils::setWidgetFont(&widget, 12, QFont::DemiBold, QStringLiteral("DejaVu Sans"));
        QCOMPARE(widget.changes, 2);
        QCOMPARE(widget.font().weight(), int(QFont::DemiBold));
    }
};

QTEST_MAIN(TestKelGeometryUtils)
#include "tst_kelgeometryutils.moc"
