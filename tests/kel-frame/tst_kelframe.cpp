// The frame widget and the delimiter, styled by a program style and painted at the screen's ratio.
#include "../kel-effects/widgetimages.h"
#include "../kelapp/kelapptest.h"

#include "animators/keldisabledstateanimator.h"
#include "animators/kelwidgetstateanimator.h"
#include "kelapplication.h"
#include "kelsettings.h"
#include "kelui.h"
#include "painting/kelpainting.h"
#include "styles/kelqproxystyle.h"
#include "styles/kelstyle.h"
#include "styles/kelstylemanager.h"
#include "widgets/keldelimiter.h"
#include "widgets/kelframe.h"

#include <QApplication>
#include <QVBoxLayout>

#include <memory>

namespace {

const int kFrameRole = 1;
const int kDelimiterRole = 5;

// Styles frames of role 1 and delimiters of role 5 in its own colour.
class FrameStyle : public KelStyle {
public:
    FrameStyle(const QString& id, const QColor& background)
        : m_id(id)
        , m_background(background)
    {
    }
    mutable int frameCalls = 0;

    QString id() const override { return m_id; }
    void applyFrameStyle(KelFrame* frame, int kind) const override
    {
        ++frameCalls;
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
    const double ratio = widget->devicePixelRatioF();
    QImage image = makeImage(widget->size(), ratio);
    widget->render(&image, QPoint(), QRegion(), QWidget::DrawChildren);
    return image;
}

bool showAndWait(QWidget& widget)
{
    widget.show();
    return QTest::qWaitForWindowExposed(&widget);
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

    void framesAreStyledAtOnceLaterOrNever()
    {
        KelFrame styled(kFrameRole);
        QCOMPARE(styled.backgroundColors(), KelStateColors(QColor(255, 0, 0)));
        QCOMPARE(styled.borderWidths(), QMargins(2, 2, 2, 2));

        KelFrame deferred(kFrameRole, nullptr, true);
        QCOMPARE(deferred.backgroundColors(), KelStateColors());
        deferred.applyStyle();
        QCOMPARE(deferred.backgroundColors(), KelStateColors(QColor(255, 0, 0)));

        const int calls = m_red.frameCalls;
        KelFrame plain;
        plain.applyStyle();
        QCOMPARE(plain.widgetType(), -1);
        QCOMPARE(m_red.frameCalls, calls);

        // A style switch restyles every frame with a role.
        QVERIFY(manager()->setCurrentStyle(QStringLiteral("Green")));
        QCOMPARE(styled.backgroundColors(), KelStateColors(QColor(0, 255, 0)));
        QCOMPARE(deferred.backgroundColors(), KelStateColors(QColor(0, 255, 0)));
        QCOMPARE(plain.backgroundColors(), KelStateColors());
        QVERIFY(manager()->setCurrentStyle(QStringLiteral("Red")));
    }

    void theFrameFollowsTheWidgetSize()
    {
        KelFrame frame(kFrameRole);
        frame.setPaddings(QMargins(4, 5, 6, 7));
        frame.resize(60, 40);
        QVERIFY(showAndWait(frame));
        QCOMPARE(frame.frameRect(), QRect(0, 0, 60, 40));
        frame.ensureGeometryIsValid();
        QCOMPARE(frame.contentsRect(), QRect(7, 8, 60 - 7 - 9, 40 - 8 - 10));
        // The widget's own size hints stay those of its layout.
        QCOMPARE(frame.sizeHint(), QSize(-1, -1));
        QCOMPARE(frame.KelFramePainter::sizeHint(), QSize(16, 18));
        frame.resize(80, 40);
        QTRY_COMPARE(frame.frameRect(), QRect(0, 0, 80, 40));
    }

    void framesPaintTheirStateColours()
    {
        KelFrame frame(kFrameRole);
        KelStateColors background(
            QColor(200, 0, 0), QColor(0, 255, 0), QColor(0, 0, 0), QColor(0, 0, 200), QColor(0, 255, 0), QColor());
        background.unchecked.disabled = QColor(50, 50, 50);
        frame.setBackgroundColors(background);
        frame.resize(40, 30);
        const double ratio = frame.devicePixelRatioF();
        const int margin = qRound(ratio), border = qRound(2 * ratio);

        QImage image = rendered(&frame);
        QCOMPARE(image.pixelColor(margin - 1, image.height() / 2).alpha(), 0);
        QCOMPARE(image.pixelColor(margin, image.height() / 2), QColor(0, 0, 0));
        QCOMPARE(image.pixelColor(margin + border - 1, image.height() / 2), QColor(0, 0, 0));
        QCOMPARE(image.pixelColor(margin + border, image.height() / 2), QColor(200, 0, 0));
        QCOMPARE(inkOutside(image, image.rect().adjusted(margin, margin, -margin, -margin)), 0);

        KelWidgetStateAnimator* animator = frame.stateAnimator();
        QCOMPARE(animator->widget(), &frame);
        animator->setHovered(true, false);
        QCOMPARE(colorAt(rendered(&frame), 20, 15), QColor(0, 255, 0));
        animator->setHovered(false, false);
        animator->setChecked(true, false);
        QCOMPARE(colorAt(rendered(&frame), 20, 15), QColor(0, 0, 200));
        animator->setChecked(false, false);
        // The disabled state follows the (hidden, so unanimated) widget.
        frame.setEnabled(false);
        QCOMPARE(colorAt(rendered(&frame), 20, 15), QColor(50, 50, 50));
    }

    void framesRepaintOnlyOnChange()
    {
        Counting<KelFrame> frame(kFrameRole);
        frame.resize(40, 30);
        QVERIFY(showAndWait(frame));
        QTRY_VERIFY(frame.paints > 0);
        QTest::qWait(50);
        const int paints = frame.paints;

        frame.setBackgroundColors(frame.backgroundColors());
        frame.setMargins(frame.margins());
        frame.setBorderWidths(frame.borderWidths());
        frame.applyStyle();
        frame.resize(40, 30);
        QTest::qWait(50);
        QCOMPARE(frame.paints, paints);

        frame.setBackgroundColors(KelStateColors(QColor(0, 0, 255)));
        QTRY_COMPARE(frame.paints, paints + 1);
        frame.setPaddings(QMargins(3, 3, 3, 3));
        QTRY_COMPARE(frame.paints, paints + 2);
    }

    void frameDiagnosticsShowTheBoxModel()
    {
        KelFrame frame(kFrameRole);
        frame.setPaddings(QMargins(4, 4, 4, 4));
        frame.resize(40, 30);
        KelPainting::setDbgPaintKelFrame(true);
        const QImage image = rendered(&frame);
        KelPainting::setDbgPaintKelFrame(false);
        // The margin band, transparent without diagnostics, now shows yellow.
        const QColor margin = image.pixelColor(0, image.height() / 2);
        QVERIFY(margin.alpha() > 0);
        QVERIFY(margin.red() > 128 && margin.green() > 128 && margin.blue() < 128);
    }

    void theProxyStyleKnowsFramePainters()
    {
        KelFrame frame;
        QWidget plain;
        QVERIFY(KelQProxyStyle::isFramePainter(&frame));
        QVERIFY(!KelQProxyStyle::isFramePainter(&plain));
    }

    void delimitersTakeTheirSizeFromTheThickness()
    {
        KelDelimiter horizontal(-1, Qt::Horizontal);
        QCOMPARE(horizontal.sizeHint(), QSize(0, 1));
        QCOMPARE(horizontal.sizePolicy().horizontalPolicy(), QSizePolicy::Expanding);
        QCOMPARE(horizontal.sizePolicy().verticalPolicy(), QSizePolicy::Fixed);
        KelDelimiter vertical(-1, Qt::Vertical);
        vertical.setThickness(4);
        QCOMPARE(vertical.sizeHint(), QSize(4, 0));
        QCOMPARE(vertical.sizePolicy().horizontalPolicy(), QSizePolicy::Fixed);
        QCOMPARE(vertical.sizePolicy().verticalPolicy(), QSizePolicy::Expanding);

        // A new thickness reaches the layout.
        QWidget window;
        auto* layout = new QVBoxLayout(&window);
        layout->setContentsMargins(0, 0, 0, 0);
        auto* line = new KelDelimiter(-1, Qt::Horizontal, &window);
        layout->addWidget(line);
        layout->addStretch();
        window.resize(100, 100);
        QVERIFY(showAndWait(window));
        QCOMPARE(line->height(), 1);
        line->setThickness(9);
        QTRY_COMPARE(line->height(), 9);
    }

    void delimitersAreStyledByRole()
    {
        KelDelimiter styled(kDelimiterRole, Qt::Horizontal);
        QCOMPARE(styled.color(), QColor(255, 0, 0));
        QCOMPARE(styled.thickness(), 7);
        QVERIFY(manager()->setCurrentStyle(QStringLiteral("Green")));
        QCOMPARE(styled.color(), QColor(0, 255, 0));
        QVERIFY(manager()->setCurrentStyle(QStringLiteral("Red")));
        KelDelimiter plain(-1, Qt::Horizontal);
        plain.applyStyle();
        QVERIFY(!plain.color().isValid());
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
        line.setColor(QColor(0, 0, 0));
        line.setThickness(8);
        line.setStartMargin(10);
        line.setEndMargin(20);
        line.setLineOffset(3);
        line.setLineWidth(1);
        line.resize(horizontal ? QSize(200, 8) : QSize(8, 200));
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
        line.setEnabled(true);

        // Diagnostics paint the line blue.
        KelPainting::setDbgPaintKelDelimiter(true);
        image = rendered(&line);
        KelPainting::setDbgPaintKelDelimiter(false);
        QCOMPARE(image.pixelColor(expected.center()).blue(), 255);

        // No colour yet: nothing at all.
        KelDelimiter unstyled(-1, Qt::Horizontal);
        unstyled.resize(50, 4);
        QCOMPARE(inkInside(rendered(&unstyled), QRect(0, 0, 1000, 1000)), 0);
    }

    void delimitersRepaintOnlyOnChange()
    {
        Counting<KelDelimiter> line(-1, Qt::Horizontal);
        line.resize(100, 5);
        QVERIFY(showAndWait(line));
        QTRY_VERIFY(line.paints > 0);
        QTest::qWait(50);
        const int paints = line.paints;
        line.setColor(line.color());
        line.setThickness(line.thickness());
        line.setLineWidth(line.lineWidth());
        line.setLineOffset(line.lineOffset());
        line.setStartMargin(line.startMargin());
        line.setEndMargin(line.endMargin());
        QTest::qWait(50);
        QCOMPARE(line.paints, paints);
        line.setLineOffset(2);
        QTRY_COMPARE(line.paints, paints + 1);
        line.setColor(Qt::red);
        QTRY_COMPARE(line.paints, paints + 2);
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
