// Cost of one frame of a shadowed or fading widget: a shadow blurred on every paint against one served from
// the shadow cache, and a fade that renders the widget on every frame against the cached mode.
#include "kelapplication.h"
#include "kelui.h"
#include "painting/kelgraphicsdropshadoweffect.h"
#include "painting/kelgraphicsopacityeffect.h"
#include "temphome.h"
#include "utils/kelpixmapcache.h"

#include <QElapsedTimer>
#include <QImage>
#include <QLabel>
#include <QPainter>
#include <QUuid>
#include <QVBoxLayout>
#include <QWidget>

#include <cstdio>

namespace {

// A card with some text, like the library's book cards.
QWidget* makeCard(QWidget* parent)
{
    auto* card = new QWidget(parent);
    card->setAutoFillBackground(true);
    auto* layout = new QVBoxLayout(card);
    for (int i = 0; i < 12; ++i)
        layout->addWidget(new QLabel(QStringLiteral("Line %1 of a book card with a title and an author").arg(i)));
    card->setGeometry(60, 60, 360, 480);
    return card;
}

double msPerFrame(QWidget* root, double ratio, int frames, const std::function<void(int)>& beforeFrame)
{
    QImage image(root->size() * ratio, QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(ratio);
    QElapsedTimer timer;
    timer.start();
    for (int i = 0; i < frames; ++i) {
        beforeFrame(i);
        image.fill(Qt::white);
        root->render(&image);
    }
    return double(timer.nsecsElapsed()) / 1e6 / frames;
}

} // namespace

int main(int argc, char** argv)
{
    TempHome home;
    KelApplication app(QUuid::createUuid().toString(), argc, argv);
    const int frames = 100;

    for (double ratio : { 1.0, 2.0 }) {
        QWidget root;
        root.resize(480, 600);
        QWidget* card = makeCard(&root);
        auto* shadow = new KelGraphicsDropShadowEffect(card);
        shadow->setBlurRadius(20);
        shadow->setOffset(QPointF(0, 0));
        shadow->setPadding(QMargins(0, 12, 0, 12));

        const double blurred = msPerFrame(&root, ratio, frames, [](int) {});
        card->setAttribute(Qt::WA_OpaquePaintEvent);
        const double cached = msPerFrame(&root, ratio, frames, [](int) {});
        std::printf("ratio %.0f  shadow, blurred every frame: %8.3f ms/frame\n", ratio, blurred);
        std::printf("ratio %.0f  shadow, from the cache:      %8.3f ms/frame (%d entries)\n", ratio, cached,
            KelUi::instance()->shadowCache()->count());

        QWidget fadeRoot;
        fadeRoot.resize(480, 600);
        QWidget* fading = makeCard(&fadeRoot);
        auto* fade = new KelGraphicsOpacityEffect(fading);
        const auto step = [fade](int i) { fade->setOpacity(0.01 + 0.98 * (i % 50) / 50.0); };
        const double live = msPerFrame(&fadeRoot, ratio, frames, step);
        fade->installForceRepaintEffects();
        const double frozen = msPerFrame(&fadeRoot, ratio, frames, step);
        fade->removeForceRepaintEffects();
        std::printf("ratio %.0f  fade, rendered every frame:  %8.3f ms/frame\n", ratio, live);
        std::printf("ratio %.0f  fade, cached mode:           %8.3f ms/frame\n", ratio, frozen);
    }
    return 0;
}
