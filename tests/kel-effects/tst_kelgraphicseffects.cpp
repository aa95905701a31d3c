#include "../kelapp/kelapptest.h"
#include "widgetimages.h"

#include "kelapplication.h"
#include "kelui.h"
#include "painting/kelgraphicsdropshadoweffect.h"
#include "painting/kelgraphicsopacityeffect.h"
#include "utils/kelpixmapcache.h"

#include <QGraphicsBlurEffect>
#include <QListView>
#include <QScrollArea>
#include <QScrollBar>
#include <QVBoxLayout>
#include <QtTest>

Q_DECLARE_METATYPE(QMargins)

namespace {

const QColor white(255, 255, 255);
const QColor blue(0, 0, 255);
const QColor red(255, 0, 0);

// The bounding rectangle of the pixels that differ from the background colour.
QRect inkRect(const QImage& image, const QColor& background)
{
    QRect result;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (!sameColor(image.pixelColor(x, y), background, 8))
                result |= QRect(x, y, 1, 1);
    return result;
}

// A white root with a blue 40 x 40 box at (20, 20) or wherever the test puts it.
struct Scene {
    Scene()
        : root(white)
        , box(new SolidWidget(blue, &root))
    {
        root.resize(120, 120);
        box->setGeometry(20, 20, 40, 40);
    }
    SolidWidget root;
    SolidWidget* box;
};

int forceRepaintEffectCount(QWidget* root)
{
    int count = 0;
    const auto effects = root->findChildren<QGraphicsEffect*>();
    for (QGraphicsEffect* effect : effects)
        count += effect->objectName() == QLatin1String("ForceRepaintEffect");
    return count;
}

bool hasForceRepaintEffect(QWidget* widget)
{
    return widget->graphicsEffect() && widget->graphicsEffect()->objectName() == QLatin1String("ForceRepaintEffect");
}

KelPixmapCache* shadowCache() { return KelUi::instance()->shadowCache(); }

} // namespace

class TestKelGraphicsEffects : public QObject {
    Q_OBJECT
private slots:
    void init() { shadowCache()->setCacheLimit(50); }
    void cleanup() { shadowCache()->setCacheLimit(0); } // empties the cache between tests

    void opacityFadesAndZeroSkipsThePaintEvent()
    {
        Scene scene;
        auto* effect = new KelGraphicsOpacityEffect(scene.box);
        effect->setOpacity(0.5);
        QImage image = renderWidget(&scene.root);
        QVERIFY2(
            sameColor(colorAt(image, 40, 40), QColor(127, 127, 255), 3), qPrintable(colorAt(image, 40, 40).name()));
        QCOMPARE(inkRect(image, white), QRect(20, 20, 40, 40));

        scene.box->paints = 0;
        effect->setOpacity(0.0);
        QVERIFY(inkRect(renderWidget(&scene.root), white).isNull());
        QCOMPARE(scene.box->paints, 0);

        // Values are clamped; at (nearly) one the effect switches itself off.
        effect->setOpacity(-0.2);
        QVERIFY(effect->opacity() == 0.0 && effect->isEnabled());
        effect->setOpacity(1.5);
        QVERIFY(effect->opacity() == 1.0 && !effect->isEnabled());
        effect->setOpacity(1.0 - 1e-14);
        QVERIFY(effect->opacity() == 1.0 && !effect->isEnabled());
        effect->setOpacity(0.5);
        QVERIFY(effect->isEnabled());
    }

    void slideMovesTheWidget_data()
    {
        QTest::addColumn<int>("edge");
        QTest::addColumn<int>("distance");
        QTest::addColumn<double>("opacity");
        QTest::addColumn<QPoint>("shift");
        QTest::newRow("left") << int(Qt::LeftEdge) << 16 << 0.5 << QPoint(-8, 0);
        QTest::newRow("right") << int(Qt::RightEdge) << 30 << 0.9 << QPoint(3, 0);
    }
    void slideMovesTheWidget()
    {
        QFETCH(int, edge);
        QFETCH(int, distance);
        QFETCH(double, opacity);
        QFETCH(QPoint, shift);
        Scene scene;
        scene.box->move(40, 40);
        auto* effect = new KelGraphicsOpacityEffect(scene.box);
        effect->setSlideParams(Qt::Edge(edge), distance);
        effect->setOpacity(opacity);
        QCOMPARE(effect->slideOffset(), shift);
        // The effect paints within the widget's own rectangle, so the moved widget is cut at its edges.
        const QRect place(40, 40, 40, 40);
        const QRect visible = place.translated(shift) & place;
        for (double ratio : { 1.0, 2.0 })
            QCOMPARE(inkRect(renderWidget(&scene.root, ratio), white),
                QRect(visible.topLeft() * ratio, visible.size() * ratio));
    }

    void cachedModeFreezesTheRendering()
    {
        Scene scene;
        auto* effect = new KelGraphicsOpacityEffect(scene.box);
        effect->setOpacity(0.5);
        effect->installForceRepaintEffects();
        renderWidget(&scene.root);
        const int paints = scene.box->paints;
        // New content is not taken while place and size stay; a new size is.
        scene.box->color = red;
        effect->setOpacity(0.6);
        QImage image = renderWidget(&scene.root);
        QCOMPARE(scene.box->paints, paints);
        QVERIFY2(
            sameColor(colorAt(image, 40, 40), QColor(102, 102, 255), 3), qPrintable(colorAt(image, 40, 40).name()));
        scene.box->resize(50, 50);
        image = renderWidget(&scene.root);
        QVERIFY(sameColor(colorAt(image, 40, 40), QColor(255, 102, 102), 3));
    }

    void forceRepaintEffectsOnScrollAreas()
    {
        QWidget root;
        auto* layout = new QVBoxLayout(&root);
        auto* area = new QScrollArea;
        area->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        area->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
        auto* doomed = new QScrollArea;
        auto* list = new QListView;
        auto* foreign = new QGraphicsBlurEffect;
        list->viewport()->setGraphicsEffect(foreign);
        layout->addWidget(area);
        layout->addWidget(doomed);
        layout->addWidget(list);
        auto* effect = new KelGraphicsOpacityEffect(&root);

        effect->installForceRepaintEffects();
        effect->installForceRepaintEffects();
        QVERIFY(hasForceRepaintEffect(area->viewport()));
        QVERIFY(hasForceRepaintEffect(area->verticalScrollBar()));
        QVERIFY(!area->horizontalScrollBar()->graphicsEffect());
        // Another effect stays where it is; the list's scroll bars get theirs.
        QCOMPARE(list->viewport()->graphicsEffect(), foreign);
        QVERIFY(hasForceRepaintEffect(list->verticalScrollBar()));
        QCOMPARE(forceRepaintEffectCount(&root), 7);

        // A deleted area is skipped; a viewport that got an effect of its own in the meantime keeps it.
        delete doomed;
        auto* replacement = new QGraphicsBlurEffect;
        area->viewport()->setGraphicsEffect(replacement);
        effect->removeForceRepaintEffects();
        QCOMPARE(forceRepaintEffectCount(&root), 0);
        QCOMPARE(area->viewport()->graphicsEffect(), replacement);
        QCOMPARE(list->viewport()->graphicsEffect(), foreign);
    }

    void dropShadowBoundingRect_data()
    {
        QTest::addColumn<QSize>("size");
        QTest::addColumn<QPointF>("offset");
        QTest::addColumn<double>("blur");
        QTest::addColumn<QMargins>("padding");
        QTest::addColumn<QMargins>("effectivePadding");
        QTest::addColumn<QRectF>("bounds");
        QTest::newRow("up left") << QSize(100, 40) << QPointF(-8, -8) << 2.0 << QMargins() << QMargins()
                                 << QRectF(-12, -12, 112, 52);
        QTest::newRow("padding cut to half the height")
            << QSize(100, 40) << QPointF(8, 8) << 1.0 << QMargins(30, 30, 30, 30) << QMargins(30, 18, 30, 18)
            << QRectF(0, 0, 100, 40);
        QTest::newRow("tiny widget") << QSize(2, 2) << QPointF(0, 0) << 1.0 << QMargins(5, 5, 5, 5) << QMargins()
                                     << QRectF(-2, -2, 6, 6);
    }
    void dropShadowBoundingRect()
    {
        QFETCH(QSize, size);
        QFETCH(QPointF, offset);
        QFETCH(double, blur);
        QFETCH(QMargins, padding);
        QFETCH(QMargins, effectivePadding);
        QFETCH(QRectF, bounds);
        QWidget widget;
        widget.resize(size);
        auto* effect = new KelGraphicsDropShadowEffect(&widget);
        effect->setOffset(offset);
        effect->setBlurRadius(blur);
        effect->setPadding(padding);
        QCOMPARE(effect->effectivePadding(), effectivePadding);
        QCOMPARE(effect->boundingRectFor(QRectF(QPointF(), size)), bounds);
    }

    void shadowImagesAndOffscreenPixmaps()
    {
        KelGraphicsDropShadowEffect effect(nullptr);
        effect.setColor(Qt::black);
        effect.setOffset(QPointF(0, 0));
        QPixmap pixmap(40, 40);
        pixmap.fill(blue);
        QCOMPARE(qAlpha(effect.shadowImage(pixmap).pixel(5, 20)), 255);
        // With padding only the interior casts the shadow, less the blur, which spills back over the padding.
        effect.setPadding(QMargins(10, 10, 10, 10));
        QImage shadow = effect.shadowImage(pixmap);
        QCOMPARE(qAlpha(shadow.pixel(20, 20)), 255);
        QCOMPARE(qAlpha(shadow.pixel(5, 20)), 0);
        QCOMPARE(qAlpha(shadow.pixel(34, 20)), 0);
        QVERIFY(qAlpha(shadow.pixel(11, 20)) > 0);

        // At ratio 2 the offset of 8 is 16 device pixels, the blur radius of 2 is 4.
        KelGraphicsDropShadowEffect scaled(nullptr);
        scaled.setColor(QColor(0, 0, 0, 128));
        pixmap.setDevicePixelRatio(2.0);
        shadow = scaled.shadowImage(pixmap);
        QCOMPARE(shadow.devicePixelRatioF(), 2.0);
        QVERIFY(qAbs(qAlpha(shadow.pixel(30, 30)) - 128) <= 1);
        QCOMPARE(qAlpha(shadow.pixel(4, 30)), 0);
        QCOMPARE(qAlpha(shadow.pixel(30, 4)), 0);

        // A thumbnail with room for its shadow around it, drawn by hand.
        effect.setPadding(QMargins());
        effect.setOffset(QPointF(8, 8));
        pixmap = QPixmap(40, 40);
        pixmap.fill(Qt::transparent);
        QPainter(&pixmap).fillRect(10, 10, 20, 20, blue);
        QImage image(60, 60, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        QPainter painter(&image);
        effect.drawWithShadow(&painter, QPointF(10, 10), pixmap, QRectF(pixmap.rect()), true);
        effect.setOpacity(0.5); // the shadow goes in at the effect's opacity; without the source
        effect.drawWithShadow(&painter, QPointF(10, 0), pixmap, QRectF(pixmap.rect()), false);
        painter.end();
        QCOMPARE(image.pixelColor(25, 25), blue);
        QCOMPARE(image.pixelColor(40, 40), QColor(Qt::black));
        QCOMPARE(qAlpha(image.pixel(49, 49)), 0);
        QVERIFY(qAbs(qAlpha(image.pixel(45, 20)) - 128) <= 2);
        QCOMPARE(qAlpha(image.pixel(25, 15)), 0);
    }

    void translucentWidgetHidesItsShadow()
    {
        SolidWidget root(red);
        root.resize(120, 120);
        auto* box = new SolidWidget(white, &root);
        box->setGeometry(20, 20, 40, 40);
        auto* effect = new KelGraphicsDropShadowEffect(box);
        effect->setColor(Qt::black);
        effect->setOpacity(0.5);
        const QImage image = renderWidget(&root);
        // Inside the box the shadow lies under the widget in one layer: half white over red, not darkened.
        QVERIFY2(
            sameColor(colorAt(image, 55, 55), QColor(255, 127, 127), 3), qPrintable(colorAt(image, 55, 55).name()));
        QVERIFY2(sameColor(colorAt(image, 64, 64), QColor(127, 0, 0), 3), qPrintable(colorAt(image, 64, 64).name()));
    }

    void opaqueWidgetsShareCachedShadows()
    {
        Scene scene;
        auto* effect = new KelGraphicsDropShadowEffect(scene.box);
        // A widget that may be translucent computes its shadow every time.
        renderWidget(&scene.root);
        QCOMPARE(shadowCache()->count(), 0);
        scene.box->setAttribute(Qt::WA_OpaquePaintEvent);
        const QImage first = renderWidget(&scene.root);
        QCOMPARE(renderWidget(&scene.root), first);
        QCOMPARE(shadowCache()->count(), 1);
        // A shadow of another colour is not served the cached one.
        effect->setColor(Qt::black);
        const QImage black = renderWidget(&scene.root);
        QCOMPARE(shadowCache()->count(), 2);
        QVERIFY(colorAt(black, 64, 64).lightness() < colorAt(first, 64, 64).lightness() - 20);
    }
};

int main(int argc, char** argv)
{
    return runKelAppTest<KelApplication, TestKelGraphicsEffects>(argc, argv, QStringLiteral("Kel Effects Test"));
}

#include "tst_kelgraphicseffects.moc"
