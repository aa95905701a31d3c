// The shadow strip: placement along each edge of its target, the strip's pixels at the screen's
// ratio (1, or 2 in the scaled build), the shared pixmap cache, following the target and fading.
#include "../kel-effects/animationclock.h"
#include "../kel-effects/widgetimages.h"
#include "../kelapp/kelapptest.h"

#include "kelapplication.h"
#include "kelui.h"
#include "styles/kelstyle.h"
#include "utils/kelpixmapcache.h"
#include "widgets/kellinearshadowwidget.h"

#include <QtTest>

#include <memory>

namespace {

const int kShadowType = 41;

// The alpha of a logical pixel of a grabbed widget, read at the image's ratio.
int alphaAt(const QImage& image, double x, double y)
{
    const double ratio = image.devicePixelRatio();
    return qAlpha(image.pixel(int(x * ratio), int(y * ratio)));
}

// The strip alone, without any background, at the widget's own ratio.
QImage stripImage(QWidget& widget)
{
    const double ratio = widget.devicePixelRatioF();
    QImage image(widget.size() * ratio, QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(ratio);
    image.fill(Qt::transparent);
    widget.render(&image, QPoint(), QRegion(), QWidget::DrawChildren);
    return image;
}

} // namespace

class TestKelLinearShadow : public QObject {
    Q_OBJECT
private slots:
    void initTestCase()
    {
        m_driver.install();
        m_ratio = m_root.devicePixelRatioF();
#ifdef KEL_TEST_SCALE_FACTOR
        QCOMPARE(m_ratio, double(KEL_TEST_SCALE_FACTOR));
#endif
        m_root.resize(500, 400);
        m_root.show();
        QVERIFY(QTest::qWaitForWindowExposed(&m_root));
    }
    void cleanupTestCase() { m_driver.uninstall(); }

    void placementAlongEachEdge_data();
    void placementAlongEachEdge();
    void stripIsDarkestBesideTheTarget_data();
    void stripIsDarkestBesideTheTarget();
    void nothingIsPaintedWithoutSizeOrColour();
    void shadowPixmapAndSharedCache();
    void followsTheTargetsGeometryVisibilityAndParent();
    void fadesWhenShownAndHidden();
    void untrackedStripKeepsItsThickness();

private:
    FrozenAnimationDriver m_driver;
    SolidWidget m_root { QColor(Qt::white) };
    double m_ratio = 1.0;
};

void TestKelLinearShadow::placementAlongEachEdge_data()
{
    QTest::addColumn<int>("edge");
    QTest::addColumn<int>("placement");
    QTest::addColumn<QRect>("target");
    QTest::addColumn<QRect>("strip");
    const QRect target(10, 20, 300, 200);
    QTest::newRow("top inside") << int(Qt::TopEdge) << 2 << target << QRect(10, 20, 300, 20);
    QTest::newRow("top outside") << int(Qt::TopEdge) << 1 << target << QRect(10, 0, 300, 20);
    QTest::newRow("right inside") << int(Qt::RightEdge) << 2 << QRect(0, 0, 300, 200) << QRect(280, 0, 20, 200);
    QTest::newRow("right outside") << int(Qt::RightEdge) << 1 << target << QRect(310, 20, 20, 200);
    QTest::newRow("left inside") << int(Qt::LeftEdge) << 2 << target << QRect(10, 20, 20, 200);
    QTest::newRow("left outside") << int(Qt::LeftEdge) << 1 << QRect(30, 20, 300, 200) << QRect(10, 20, 20, 200);
    QTest::newRow("bottom inside") << int(Qt::BottomEdge) << 2 << target << QRect(10, 200, 300, 20);
    QTest::newRow("bottom outside") << int(Qt::BottomEdge) << 1 << target << QRect(10, 220, 300, 20);
}

void TestKelLinearShadow::placementAlongEachEdge()
{
    QFETCH(int, edge);
    QFETCH(int, placement);
    QFETCH(QRect, target);
    QFETCH(QRect, strip);
    auto* targetWidget = new SolidWidget(QColor(Qt::white), &m_root);
    std::unique_ptr<QWidget> owner(targetWidget);
    targetWidget->setGeometry(target);
    targetWidget->show();
    KelLinearShadowWidget shadow(kShadowType, Qt::Edge(edge), placement, targetWidget);
    QCOMPARE(shadow.shadowSize(), kelStyle()->metric(1));
    QCOMPARE(shadow.shadowSize(), 20);
    QCOMPARE(shadow.parentWidget(), &m_root);
    QCOMPARE(shadow.geometry(), strip);
    QVERIFY(shadow.isVisible());
    QVERIFY(shadow.testAttribute(Qt::WA_TransparentForMouseEvents));
    QCOMPARE(shadow.objectName(), QStringLiteral("LinearShadowWidget"));
}

void TestKelLinearShadow::stripIsDarkestBesideTheTarget_data()
{
    QTest::addColumn<int>("edge");
    QTest::addColumn<int>("placement");
    for (int placement : { 1, 2 }) {
        const char* where = placement == 2 ? "inside" : "outside";
        QTest::addRow("top %s", where) << int(Qt::TopEdge) << placement;
        QTest::addRow("left %s", where) << int(Qt::LeftEdge) << placement;
        QTest::addRow("right %s", where) << int(Qt::RightEdge) << placement;
        QTest::addRow("bottom %s", where) << int(Qt::BottomEdge) << placement;
    }
}

void TestKelLinearShadow::stripIsDarkestBesideTheTarget()
{
    QFETCH(int, edge);
    QFETCH(int, placement);
    auto* target = new SolidWidget(QColor(Qt::white), &m_root);
    std::unique_ptr<QWidget> owner(target);
    target->setGeometry(60, 60, 300, 200);
    target->show();
    KelLinearShadowWidget shadow(-1, Qt::Edge(edge), placement, target);
    shadow.setShadowColor(QColor(0, 0, 0, 200));
    shadow.setShadowSize(20);
    const QImage image = stripImage(shadow);
    QCOMPARE(image.devicePixelRatio(), m_ratio);
    QCOMPARE(image.size(), shadow.size() * m_ratio);

    // Depth 0 is the side that touches the target's edge, 19 the far side; along the strip the
    // middle is even and the ends fade.
    const bool horizontal = edge == Qt::TopEdge || edge == Qt::BottomEdge;
    const bool depthGrowsWithCoordinate = (placement == 2) == (edge == Qt::TopEdge || edge == Qt::LeftEdge);
    auto sample = [&](double along, double depth) {
        const double across = depthGrowsWithCoordinate ? depth : 19.5 - depth;
        return horizontal ? alphaAt(image, along, across) : alphaAt(image, across, along);
    };
    const double middle = (horizontal ? shadow.width() : shadow.height()) / 2.0;
    const int near = sample(middle, 0.5);
    const int mid = sample(middle, 8.5);
    const int far = sample(middle, 19.5);
    QVERIFY2(near > 40, qPrintable(QString::number(near)));
    QVERIFY2(near > mid && mid > far, qPrintable(QStringLiteral("%1 %2 %3").arg(near).arg(mid).arg(far)));
    QVERIFY(far < 10);
    QVERIFY(qAbs(sample(middle - 80, 0.5) - near) <= 1);
    QVERIFY(qAbs(sample(middle + 80, 0.5) - near) <= 1);
    QVERIFY(sample(0.5, 0.5) < near);
    QVERIFY(sample(2 * middle - 0.5, 0.5) < near);
    // The shadow only darkens: no colour of its own beyond the shadow colour.
    const QColor c = image.pixelColor(int(image.width() / 2), int(image.height() / 2));
    QCOMPARE(c.red() + c.green() + c.blue(), 0);
}

void TestKelLinearShadow::nothingIsPaintedWithoutSizeOrColour()
{
    auto isEmpty = [](const QImage& image) {
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                if (qAlpha(image.pixel(x, y)) != 0)
                    return false;
        return true;
    };
    KelLinearShadowWidget unstyled(-1, Qt::TopEdge, 0);
    unstyled.resize(100, 20);
    QCOMPARE(unstyled.shadowSize(), 0);
    QVERIFY(isEmpty(stripImage(unstyled)));

    unstyled.setShadowSize(20);
    QVERIFY(isEmpty(stripImage(unstyled)));
    unstyled.setShadowColor(Qt::transparent);
    QVERIFY(isEmpty(stripImage(unstyled)));
    unstyled.setShadowColor(Qt::black);
    QVERIFY(!isEmpty(stripImage(unstyled)));

    // Other style ids are left to the program's styles.
    KelLinearShadowWidget other(7, Qt::TopEdge, 0);
    QCOMPARE(other.shadowSize(), 0);
    QVERIFY(!other.shadowColor().isValid());
}

void TestKelLinearShadow::shadowPixmapAndSharedCache()
{
    const QColor color(10, 20, 30, 255);
    const QPixmap pixmap = KelLinearShadowWidget::makeShadowPixmap(10, color, m_ratio);
    QCOMPARE(pixmap.devicePixelRatio(), m_ratio);
    QCOMPARE(pixmap.width(), qRound(41 * m_ratio));
    const QImage image = pixmap.toImage();
    const QColor centre = image.pixelColor(image.width() / 2, image.height() / 2);
    QVERIFY2(centre.alpha() > 200, qPrintable(QString::number(centre.alpha())));
    QCOMPARE(qAlpha(image.pixel(0, 0)), 0);
    QVERIFY(qAbs(centre.red() - 10) <= 2 && qAbs(centre.blue() - 30) <= 2);

    KelPixmapCache* cache = KelUi::instance()->shadowCache();
    const QColor shadowColor(1, 2, 3, 150);
    const QString key = KelLinearShadowWidget::shadowCacheKey(12, shadowColor, m_ratio);
    QCOMPARE(key, QStringLiteral("%1-24-%2").arg(m_ratio).arg(shadowColor.rgba()));
    QVERIFY(!cache->find(key, nullptr));
    const int before = cache->count();
    for (int i = 0; i < 2; ++i) {
        KelLinearShadowWidget shadow(-1, Qt::BottomEdge, 0);
        shadow.resize(80, 12);
        shadow.setShadowSize(12);
        shadow.setShadowColor(shadowColor);
        stripImage(shadow);
    }
    QCOMPARE(cache->count(), before + 1);
    QVERIFY(cache->find(key, nullptr));
}

void TestKelLinearShadow::followsTheTargetsGeometryVisibilityAndParent()
{
    auto* target = new QWidget(&m_root);
    std::unique_ptr<QWidget> owner(target);
    auto* sibling = new QWidget(&m_root);
    std::unique_ptr<QWidget> siblingOwner(sibling);
    target->setGeometry(10, 20, 300, 200);
    target->show();
    sibling->show();
    auto* shadow = new KelLinearShadowWidget(kShadowType, Qt::TopEdge, 2, target);
    QPointer<KelLinearShadowWidget> guard(shadow);
    QCOMPARE(m_root.children().last(), shadow);

    target->setGeometry(40, 50, 200, 100);
    QCOMPARE(shadow->geometry(), QRect(40, 50, 200, 20));

    target->hide();
    QVERIFY(!shadow->isVisible());
    sibling->raise();
    target->show();
    QVERIFY(shadow->isVisible());
    QCOMPARE(m_root.children().last(), shadow);

    auto* other = new QWidget(&m_root);
    std::unique_ptr<QWidget> otherOwner(other);
    auto* otherChild = new QWidget(other);
    otherChild->show();
    other->setGeometry(0, 0, 400, 300);
    other->show();
    target->setParent(other);
    target->show();
    QCOMPARE(shadow->parentWidget(), other);
    QCOMPARE(other->children().last(), shadow);
    QVERIFY(shadow->isVisible());

    // Hidden with its parent window before it is shown: appears with it.
    QWidget window;
    auto* hiddenTarget = new QWidget(&window);
    hiddenTarget->setGeometry(0, 0, 100, 100);
    KelLinearShadowWidget hiddenShadow(kShadowType, Qt::LeftEdge, 2, hiddenTarget);
    QVERIFY(!hiddenShadow.isVisible());
    window.resize(120, 120);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QVERIFY(hiddenShadow.isVisible());
    QCOMPARE(hiddenShadow.geometry(), QRect(0, 0, 20, 100));

    // The strip goes with its target.
    delete owner.release();
    QVERIFY(guard.isNull());
}

void TestKelLinearShadow::fadesWhenShownAndHidden()
{
    auto* target = new SolidWidget(QColor(Qt::white), &m_root);
    std::unique_ptr<QWidget> owner(target);
    target->setGeometry(0, 0, 300, 200);
    target->show();
    KelLinearShadowWidget shadow(-1, Qt::TopEdge, 2, target);
    shadow.setShadowSize(20);
    shadow.setShadowColor(Qt::black);
    // The darkness of the parent's pixel on the target's top edge.
    auto darkness = [&]() { return 255 - m_root.grab().toImage().pixelColor(int(150 * m_ratio), 0).red(); };
    const int shown = darkness();
    QVERIFY2(shown > 60, qPrintable(QString::number(shown)));

    shadow.setVisibleAnimated(false, true);
    QVERIFY(shadow.isVisible());
    advanceAnimations(&shadow, 60);
    const double fading = shadow.opacity();
    QVERIFY(fading > 0.0 && fading < 1.0);
    const int half = darkness();
    QVERIFY2(half > 0 && half < shown, qPrintable(QStringLiteral("%1 %2").arg(half).arg(shown)));
    runAnimations(&shadow);
    QVERIFY(!shadow.isVisible());
    QCOMPARE(darkness(), 0);

    shadow.setVisibleAnimated(true, true);
    QVERIFY(shadow.isVisible());
    QVERIFY(shadow.opacity() < 0.1);
    runAnimations(&shadow);
    QCOMPARE(shadow.opacity(), 1.0);
    QVERIFY(qAbs(darkness() - shown) <= 1);
}

void TestKelLinearShadow::untrackedStripKeepsItsThickness()
{
    KelLinearShadowWidget top(-1, Qt::TopEdge, 0);
    top.setShadowSize(16);
    QCOMPARE(top.minimumHeight(), 16);
    QCOMPARE(top.maximumHeight(), 16);
    QVERIFY(top.parentWidget() == nullptr);

    KelLinearShadowWidget right(-1, Qt::RightEdge, 0);
    right.setShadowSize(12);
    QCOMPARE(right.minimumWidth(), 12);
    QCOMPARE(right.maximumWidth(), 12);

    // A tracking strip without a target is refused and left to its owner.
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("needs a target"));
    KelLinearShadowWidget orphan(-1, Qt::TopEdge, 2, nullptr);
    QCOMPARE(orphan.placement(), 0);
    orphan.setShadowSize(10);
    QCOMPARE(orphan.maximumHeight(), 10);
}

int main(int argc, char** argv)
{
#ifdef KEL_TEST_SCALE_FACTOR
    qputenv("QT_SCALE_FACTOR", QByteArray::number(KEL_TEST_SCALE_FACTOR));
#endif
    return runKelAppTest<KelApplication, TestKelLinearShadow>(argc, argv, QStringLiteral("kel-shadow-test"));
}

#include "tst_kellinearshadow.moc"
