// The icon widget: size hints from icon and margins, alignment, tint, rounded clipping and the
// dimmed disabled look.
#include "../kelapp/kelapptest.h"
#include "buttontesthelpers.h"

#include "kelapplication.h"
#include "widgets/keliconwidget.h"

#include <QtTest>

class TestKelIconWidget : public QObject {
    Q_OBJECT

private slots:
    void sizeHintsComeFromIconAndMargins()
    {
        KelIconWidget widget;
        widget.setContentsMargins(2, 3, 4, 5);
        QCOMPARE(widget.minimumSizeHint(), QSize(6, 8));
        widget.setIcon(solidIcon("icon-widget-blue", QSize(12, 10), Qt::blue));
        QCOMPARE(widget.minimumSizeHint(), QSize(18, 18));
        widget.setIconSize(QSize(20, 20));
        QCOMPARE(widget.minimumSizeHint(), QSize(26, 28));
        QCOMPARE(widget.sizePolicy().horizontalPolicy(), QSizePolicy::Fixed);
        KelIconWidget named("icon-widget-blue");
        QCOMPARE(named.icon()->name(), QStringLiteral("icon-widget-blue"));
    }

    void paintsAlignedTintedAndDimmed()
    {
        KelIconWidget widget;
        widget.setIcon(solidIcon("icon-widget-blue", QSize(12, 10), Qt::blue));
        widget.resize(40, 30);
        widget.setAlignment(Qt::AlignRight | Qt::AlignBottom);
        QImage image = grabImage(&widget);
        QVERIFY(nearColor(pixelAt(image, 39, 29), QColor(Qt::blue)));
        QVERIFY(!nearColor(pixelAt(image, 27, 19), QColor(Qt::blue), 60));

        widget.setColor(Qt::red);
        image = grabImage(&widget);
        QVERIFY(nearColor(pixelAt(image, 35, 25), QColor(Qt::red)));

        // Disabled: opacity 0.7 over the window background.
        widget.setEnabled(false);
        image = grabImage(&widget);
        const QColor background = widget.palette().color(QPalette::Window);
        const QColor dimmed = pixelAt(image, 35, 25);
        QVERIFY2(qAbs(dimmed.red() - qRound(255 * 0.7 + background.red() * 0.3)) <= 2, qPrintable(dimmed.name()));
    }

    void cornerRadiusClipsTheIcon()
    {
        KelIconWidget widget;
        widget.setIcon(solidIcon("icon-widget-green-20", QSize(20, 20), Qt::green));
        widget.resize(20, 20);
        widget.setCornerRadius(8);
        const QImage image = grabImage(&widget);
        QVERIFY(!nearColor(pixelAt(image, 0, 0), QColor(Qt::green), 60));
        QVERIFY(nearColor(pixelAt(image, 10, 10), QColor(Qt::green)));
        QVERIFY(nearColor(pixelAt(image, 10, 0), QColor(Qt::green)));
    }
};

int main(int argc, char** argv)
{
    return runKelAppTest<KelApplication, TestKelIconWidget>(argc, argv, QStringLiteral("Kel Icon Widget Test"));
}

#include "tst_keliconwidget.moc"
