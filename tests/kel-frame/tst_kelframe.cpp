// The frame painter drawn into images at device pixel ratios 1, 1.5 and 2; the frame widget and the
// delimiter styled by a program style and painted at the screen's ratio (1, or 1.5 in the scaled build).
#include "../kel-effects/widgetimages.h"
#include "../kelapp/kelapptest.h"

#include "animators/keldisabledstateanimator.h"
#include "kelapplication.h"
#include "kelsettings.h"
#include "kelui.h"
#include "painting/kelframepainter.h"
#include "painting/kelpaintcontext.h"
#include "styles/kelstyle.h"
#include "styles/kelstylemanager.h"
#include "widgets/keldelimiter.h"
#include "widgets/kelframe.h"

#include <functional>
#include <memory>

namespace {

const QColor kBorder(255, 0, 0);
const QColor kBackground(0, 0, 255);
const int kFrameRole = 1;
const int kDelimiterRole = 5;

QPainterPath ellipsePath(KelFramePainter*, const QRect& rect)
{
    QPainterPath path;
    path.addEllipse(QRectF(rect));
    return path;
}

QPainterPath emptyPath(KelFramePainter*, const QRect&) { return QPainterPath(); }

// A frame over the whole image, drawn with the colours.
QImage drawn(KelFramePainter& painter, const QSize& size, double ratio, const QColor& border = kBorder,
    const QColor& background = kBackground)
{
    QImage image = makeImage(size, ratio);
    painter.setFrameRect(QRect(QPoint(0, 0), size));
    {
        KelPaintContext context(&image);
        painter.drawFrame(context, border, background);
    }
    return image;
}

void addRatios()
{
    QTest::addColumn<double>("ratio");
    QTest::newRow("100%") << 1.0;
    QTest::newRow("150%") << 1.5;
    QTest::newRow("200%") << 2.0;
}

// Styles frames of role 1 and delimiters of role 5 in its own colour.
class FrameStyle : public KelStyle {
public:
    FrameStyle(const QString& id, const QColor& background)
        : m_id(id)
        , m_background(background)
    {
    }
    QString id() const override { return m_id; }
    void applyFrameStyle(KelFrame* frame, int kind) const override
    {
        if (kind != kFrameRole)
            return;
        frame->setMargins(QMargins(1, 1, 1, 1));
        frame->setBorderWidths(QMargins(2, 2, 2, 2));
        frame->setBorderColors(KelStateColors(QColor(0, 0, 0)));
        frame->setBackgroundColors(KelStateColors(m_background));
    }
    void applyDelimiterStyle(KelDelimiter* delimiter, int kind) const override
    {
        if (kind != kDelimiterRole)
            return;
        delimiter->setColor(m_background);
        delimiter->setThickness(7);
    }

private:
    QString m_id;
    QColor m_background;
};

template <typename Base> class Counting : public Base {
public:
    using Base::Base;
    int paints = 0;

protected:
    void paintEvent(QPaintEvent* event) override
    {
        ++paints;
        Base::paintEvent(event);
    }
};

// The widget alone on a transparent image at its own device pixel ratio.
QImage rendered(QWidget* widget)
{
    QImage image = makeImage(widget->size(), widget->devicePixelRatioF());
    widget->render(&image, QPoint(), QRegion(), QWidget::DrawChildren);
    return image;
}

// Paints once shown, then counts the paints that the change brings.
template <typename W> int repaintsAfter(W& widget, const std::function<void()>& change)
{
    widget.show();
    if (!QTest::qWaitForWindowExposed(&widget))
        return -1;
    QTest::qWait(50);
    const int before = widget.paints;
    change();
    QTest::qWait(50);
    return widget.paints - before;
}

} // namespace

class TestKelFrame : public QObject {
    Q_OBJECT

    std::unique_ptr<KelSettings> m_settings;
    FrameStyle m_red { QStringLiteral("Red"), QColor(255, 0, 0) };
    FrameStyle m_green { QStringLiteral("Green"), QColor(0, 255, 0) };

    KelStyleManager* manager() { return KelUi::instance()->styleManager(); }

private slots:
    void initTestCase()
    {
        m_settings = std::make_unique<KelSettings>(
            KelApplication::configFilePath(QStringLiteral("settings.ini")), QSettings::IniFormat);
        KelApplication::instance()->setSettings(m_settings.get());
        manager()->addStyle(&m_red);
        manager()->addStyle(&m_green);
        QVERIFY(manager()->setCurrentStyle(QStringLiteral("Red")));
#ifdef KEL_TEST_SCALE_FACTOR
        QCOMPARE(QWidget().devicePixelRatioF(), double(KEL_TEST_SCALE_FACTOR));
#endif
    }

    void cleanupTestCase() { KelApplication::instance()->setSettings(nullptr); }

    void bordersOfDifferentWidthsAreBars_data() { addRatios(); }
    void bordersOfDifferentWidthsAreBars()
    {
        QFETCH(double, ratio);
        const int margin = qRound(2 * ratio), bar = qRound(ratio);
        const int right = qRound(22 * ratio), bottom = qRound(16 * ratio);
        const QRect box(margin, margin, right - margin, bottom - margin);
        KelFramePainter painter(nullptr);
        painter.setMargins(QMargins(2, 2, 2, 2));
        painter.setBorderWidths(QMargins(0, 1, 0, 1));
        QImage image = drawn(painter, QSize(24, 18), ratio, kBorder, Qt::transparent);
        QCOMPARE(inkInside(image, image.rect()), 2 * bar * box.width());
        QCOMPARE(inkInside(image, QRect(box.left(), bottom - bar, box.width(), bar)), bar * box.width());
        // A background below bars of two widths fills the whole box when the pen overlaps it.
        painter.setBorderWidths(QMargins(1, 2, 1, 2));
        image = drawn(painter, QSize(24, 18), ratio);
        QCOMPARE(image.pixelColor(box.center().x(), margin + qRound(2 * ratio) - 1), kBorder);
        QCOMPARE(image.pixelColor(box.center().x(), margin + qRound(2 * ratio)), kBackground);
        QCOMPARE(inkInside(image, box), box.width() * box.height());
        // Nothing wanted: nothing painted.
        QCOMPARE(inkInside(drawn(painter, QSize(10, 10), ratio, QColor(), Qt::transparent), QRect(0, 0, 99, 99)), 0);
    }

    void aTranslucentBorderOverlapsTheBackgroundOrNot()
    {
        const QColor translucent(255, 0, 0, 128);
        for (bool uniform : { true, false }) {
            KelFramePainter painter(nullptr);
            painter.setBorderWidths(uniform ? QMargins(2, 2, 2, 2) : QMargins(2, 2, 2, 3));
            const QImage over = drawn(painter, QSize(20, 20), 1.0, translucent, kBackground);
            QCOMPARE(over.pixelColor(0, 10).alpha(), 255);
            QVERIFY(over.pixelColor(0, 10).blue() > 100);
            painter.setPenOverlapping(KelPainting::NotOverlapping);
            const QImage beside = drawn(painter, QSize(20, 20), 1.0, translucent, kBackground);
            QCOMPARE(beside.pixelColor(0, 10).blue(), 0);
            QVERIFY(qAbs(beside.pixelColor(0, 10).alpha() - 128) <= 1);
            QCOMPARE(beside.pixelColor(10, 10), kBackground);
        }
    }

    void roundedCorners_data() { addRatios(); }
    void roundedCorners()
    {
        QFETCH(double, ratio);
        KelFramePainter painter(nullptr);
        painter.setBorderWidths(QMargins(1, 1, 1, 1));
        painter.setRadii(KelRadii(6));
        const QImage image = drawn(painter, QSize(30, 20), ratio);
        const int w = image.width(), h = image.height();
        for (const QPoint& corner : { QPoint(0, 0), QPoint(w - 1, 0), QPoint(0, h - 1), QPoint(w - 1, h - 1) })
            QCOMPARE(image.pixelColor(corner).alpha(), 0);
        QCOMPARE(image.pixelColor(w / 2, 0), kBorder);
        QCOMPARE(image.pixelColor(w / 2, h / 2), kBackground);
    }

    void aCustomPathIsPaintedAndMasksTheWidget()
    {
        auto* widget = new QWidget;
        widget->resize(30, 30);
        KelFramePainter painter(widget);
        painter.setCustomPathFunction(ellipsePath);
        const QImage image = drawn(painter, QSize(30, 30), 1.0, QColor(), kBackground);
        QCOMPARE(image.pixelColor(15, 15), kBackground);
        QCOMPARE(image.pixelColor(1, 1).alpha(), 0);
        QVERIFY(widget->mask().contains(QPoint(15, 15)));
        QVERIFY(!widget->mask().contains(QPoint(1, 1)));
        // A path that became empty takes the mask away; the box is painted again.
        painter.setCustomPathFunction(emptyPath);
        QCOMPARE(drawn(painter, QSize(30, 30), 1.0, QColor(), kBackground).pixelColor(1, 1), kBackground);
        QVERIFY(widget->mask().isEmpty());
        // The widget is guarded: the hooks find none to update once it is gone.
        delete widget;
        QVERIFY(!painter.widget());
        painter.setMargins(QMargins(1, 1, 1, 1));
        QCOMPARE(painter.sizeHint(), QSize(2, 2));
    }

    void framesAndDelimitersAreStyledByRole()
    {
        KelFrame styled(kFrameRole);
        QCOMPARE(styled.backgroundColors(), KelStateColors(QColor(255, 0, 0)));
        KelFrame deferred(kFrameRole, nullptr, true);
        QCOMPARE(deferred.backgroundColors(), KelStateColors());
        deferred.applyStyle();
        QCOMPARE(deferred.backgroundColors(), KelStateColors(QColor(255, 0, 0)));
        KelFrame plain;
        KelDelimiter line(kDelimiterRole, Qt::Horizontal);
        QCOMPARE(line.thickness(), 7);
        // A style switch restyles every frame and delimiter with a role.
        QVERIFY(manager()->setCurrentStyle(QStringLiteral("Green")));
        QCOMPARE(styled.backgroundColors(), KelStateColors(QColor(0, 255, 0)));
        QCOMPARE(deferred.backgroundColors(), KelStateColors(QColor(0, 255, 0)));
        QCOMPARE(plain.backgroundColors(), KelStateColors());
        QCOMPARE(line.color(), QColor(0, 255, 0));
        QVERIFY(manager()->setCurrentStyle(QStringLiteral("Red")));
    }

    void theFrameWidgetPaintsItsBoxModel()
    {
        KelFrame frame(kFrameRole);
        frame.setPaddings(QMargins(4, 5, 6, 7));
        frame.resize(60, 40);
        frame.show();
        QVERIFY(QTest::qWaitForWindowExposed(&frame));
        frame.ensureGeometryIsValid();
        QCOMPARE(frame.contentsRect(), QRect(7, 8, 60 - 7 - 9, 40 - 8 - 10));
        // The widget's own size hints stay those of its layout.
        QCOMPARE(frame.sizeHint(), QSize(-1, -1));
        // Margin 1 and border 2 land on whole device pixels, the state colours follow the widget.
        const double ratio = frame.devicePixelRatioF();
        const int margin = qRound(ratio), border = qRound(2 * ratio);
        const QImage image = rendered(&frame);
        const int y = image.height() / 2;
        QCOMPARE(image.pixelColor(margin - 1, y).alpha(), 0);
        QCOMPARE(image.pixelColor(margin, y), QColor(0, 0, 0));
        QCOMPARE(image.pixelColor(margin + border - 1, y), QColor(0, 0, 0));
        QCOMPARE(image.pixelColor(margin + border, y), QColor(255, 0, 0));
        QCOMPARE(inkOutside(image, image.rect().adjusted(margin, margin, -margin, -margin)), 0);
        KelStateColors background(QColor(255, 0, 0));
        background.unchecked.disabled = QColor(50, 50, 50);
        frame.setBackgroundColors(background);
        frame.hide(); // hidden, so the disabled state comes unanimated
        frame.setEnabled(false);
        QCOMPARE(colorAt(rendered(&frame), 30, 20), QColor(50, 50, 50));
    }

    void delimitersPaintTheirLine_data()
    {
        QTest::addColumn<int>("orientation");
        QTest::newRow("horizontal") << int(Qt::Horizontal);
        QTest::newRow("vertical") << int(Qt::Vertical);
    }
    void delimitersPaintTheirLine()
    {
        QFETCH(int, orientation);
        const bool horizontal = orientation == Qt::Horizontal;
        KelDelimiter line(-1, Qt::Orientation(orientation));
        line.setThickness(8);
        line.resize(horizontal ? QSize(200, 8) : QSize(8, 200));
        // No colour yet: nothing at all.
        QCOMPARE(inkInside(rendered(&line), QRect(0, 0, 1000, 1000)), 0);
        line.setColor(QColor(0, 0, 0));
        line.setStartMargin(10);
        line.setEndMargin(20);
        line.setLineOffset(3);
        line.setLineWidth(1);
        const double r = line.devicePixelRatioF();
        // Each value on whole device pixels: (10, 3, 170, 1) at 100 %.
        auto device = [r](double v) { return int(std::round(v * r)); };
        const QRect along(device(10), device(3), device(200) - device(10) - device(20), device(1));
        const QRect expected = horizontal ? along : QRect(along.y(), along.x(), along.height(), along.width());
        QImage image = rendered(&line);
        QCOMPARE(inkOutside(image, expected), 0);
        QCOMPARE(inkInside(image, expected), expected.width() * expected.height());
        QCOMPARE(image.pixelColor(expected.topLeft()), QColor(0, 0, 0));
        // Disabled: dimmed by the disabled animator.
        line.setEnabled(false);
        image = rendered(&line);
        QVERIFY(qAbs(image.pixelColor(expected.topLeft()).alphaF() - line.disabledAnimator()->opacity()) < 0.01);
        QVERIFY(line.disabledAnimator()->opacity() < 0.9);
    }

    void widgetsRepaintOnlyOnChange()
    {
        Counting<KelFrame> frame(kFrameRole);
        frame.resize(40, 30);
        QCOMPARE(repaintsAfter(frame,
                     [&] {
                         frame.setBackgroundColors(frame.backgroundColors());
                         frame.setMargins(frame.margins());
                         frame.setBorderWidths(frame.borderWidths());
                         frame.applyStyle();
                         frame.resize(40, 30);
                     }),
            0);
        QCOMPARE(repaintsAfter(frame, [&] { frame.setPaddings(QMargins(3, 3, 3, 3)); }), 1);

        Counting<KelDelimiter> line(-1, Qt::Horizontal);
        line.resize(100, 5);
        QCOMPARE(repaintsAfter(line,
                     [&] {
                         line.setColor(line.color());
                         line.setThickness(line.thickness());
                         line.setLineWidth(line.lineWidth());
                         line.setLineOffset(line.lineOffset());
                         line.setStartMargin(line.startMargin());
                         line.setEndMargin(line.endMargin());
                     }),
            0);
        QCOMPARE(repaintsAfter(line, [&] { line.setLineOffset(2); }), 1);
    }
};

int main(int argc, char** argv)
{
#ifdef KEL_TEST_SCALE_FACTOR
    qputenv("QT_SCALE_FACTOR", QByteArray::number(KEL_TEST_SCALE_FACTOR));
#endif
    return runKelAppTest<KelApplication, TestKelFrame>(argc, argv, QStringLiteral("kel-frame-test"));
}

#include "tst_kelframe.moc"
