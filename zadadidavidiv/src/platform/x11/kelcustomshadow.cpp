#include "platform/x11/kelcustomshadow.h"

#include "animators/kelprogressanimator.h"
#include "painting/kelpainting.h"
#include "painting/kelqtblur.h"
#include "utils/kelfuzzy.h"
#include "windows/kelwindowframe.h"

#include <QDebug>
#include <QEasingCurve>
#include <QPainter>
#include <QPointer>
#include <QWidget>
#include <QWindow>

namespace {

// The window that shows the image: never focused, never activated, clicks go through it.
class ShadowWindow : public QWidget {
public:
    explicit ShadowWindow(const QImage* image, const int* alpha)
        : QWidget(nullptr,
            Qt::Tool | Qt::FramelessWindowHint | Qt::WindowTransparentForInput | Qt::WindowDoesNotAcceptFocus
                | Qt::NoDropShadowWindowHint)
        , m_image(image)
        , m_alpha(alpha)
    {
        setObjectName(QStringLiteral("KelCustomShadowWindow"));
        setAttribute(Qt::WA_TranslucentBackground);
        setAttribute(Qt::WA_ShowWithoutActivating);
        setAttribute(Qt::WA_TransparentForMouseEvents);
        setAttribute(Qt::WA_X11DoNotAcceptFocus);
        setAttribute(Qt::WA_QuitOnClose, false);
        setFocusPolicy(Qt::NoFocus);
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.setCompositionMode(QPainter::CompositionMode_Source);
        painter.fillRect(rect(), Qt::transparent);
        if (m_image->isNull() || *m_alpha <= 0)
            return;
        painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
        painter.setOpacity(*m_alpha / 255.0);
        painter.drawImage(rect(), *m_image);
    }

private:
    const QImage* m_image;
    const int* m_alpha;
};

} // namespace

class KelCustomShadow::Private {
public:
    KelCustomShadow* q = nullptr;
    QPointer<QWidget> target;
    QPointer<KelWindowFrame> frame;
    KelProgressAnimator* fade = nullptr;
    QMetaObject::Connection opacityConnection;
    QPointer<QWindow> targetHandle;
    QPointer<ShadowWindow> window;

    bool visible = false;
    // The target's native window is on the screen (exposed) since it was last shown.
    bool targetOnScreen = false;
    double ratio = 1.0;
    KelWindowFrame::Anchor anchor;
    QRect rect; // logical screen rectangle of the shadow window
    // Times the shadow was put back at rect after someone else moved it; a window manager that
    // keeps moving it is let be after a few.
    int putBack = 0;
    QImage image;
    double progress = 0.0;
    double opacity = 1.0;
    int alpha = 0;

    QRect shadowRect() const;
    void dropWindow();
    void setGeometry(bool shouldBeVisible, const QRect& r, double newRatio);
    void rebuildImage();
    void update();
    void setOpacity(double value);
};

QRect KelCustomShadow::Private::shadowRect() const
{
    const int s = frame ? frame->shadowSize() : 0;
    return target->geometry().adjusted(-s, -s, s, s);
}

// The filter goes first: the window's own destructor still sends it events, and by then the
// object is no longer a shadow window to compare or look at.
void KelCustomShadow::Private::dropWindow()
{
    ShadowWindow* old = window.data();
    window = nullptr;
    if (!old)
        return;
    old->removeEventFilter(q);
    delete old;
}

void KelCustomShadow::Private::setGeometry(bool shouldBeVisible, const QRect& r, double newRatio)
{
    const bool ratioChanged = !KelUtils::isFuzzyEqual(newRatio, ratio);
    const KelWindowFrame::Anchor newAnchor = frame ? frame->anchor() : KelWindowFrame::Anchor();
    const bool anchorChanged = newAnchor.edge != anchor.edge || newAnchor.alignment != anchor.alignment;
    const bool moved = r.topLeft() != rect.topLeft();
    const bool resized = r.size() != rect.size();
    const bool becameVisible = shouldBeVisible && !visible;
    if (shouldBeVisible == visible && !ratioChanged && !anchorChanged && !moved && !resized)
        return;
    visible = shouldBeVisible;
    ratio = newRatio;
    anchor = newAnchor;
    rect = r;
    putBack = 0;
    if (window)
        window->setGeometry(r);
    if (becameVisible || (visible && (resized || image.isNull())) || ratioChanged || anchorChanged)
        rebuildImage();
    else
        update();
}

void KelCustomShadow::Private::rebuildImage()
{
    const QSize deviceSize(qRound(rect.width() * ratio), qRound(rect.height() * ratio));
    image = frame ? KelCustomShadow::makeShadowImage(deviceSize, frame, ratio) : QImage();
    update();
}

void KelCustomShadow::Private::update()
{
    if (!window || image.isNull())
        return;
    alpha = qRound(opacity * progress * 255);
    window->update();
}

void KelCustomShadow::Private::setOpacity(double value)
{
    if (KelUtils::isFuzzyEqual(value, opacity))
        return;
    opacity = value;
    update();
}

KelCustomShadow::KelCustomShadow(QObject* parent, QWidget* target, KelWindowFrame* frame)
    : QObject(parent)
    , d(new Private)
{
    d->q = this;
    d->target = target;
    d->frame = frame;
    KelAnimationParams params;
    params.forwardEasing = QEasingCurve::InQuad;
    params.forwardDuration = 250;
    params.backwardEasing = QEasingCurve::Linear;
    params.backwardDuration = 0;
    params.startValue = 0.0;
    params.endValue = 1.0;
    d->fade = new KelProgressAnimator(this, params);
    connect(d->fade, &KelProgressAnimator::progressChanged, this, [this](double value) {
        if (KelUtils::isFuzzyEqual(value, d->progress))
            return;
        d->progress = value;
        d->update();
    });
    if (target && target->windowHandle())
        createShadowWindow();
    if (frame) {
        connect(frame, &KelWindowFrame::shadowColorChanged, this, [this] {
            if (d->visible)
                d->rebuildImage();
        });
    }
}

KelCustomShadow::~KelCustomShadow()
{
    d->dropWindow();
    if (d->targetHandle)
        d->targetHandle->removeEventFilter(this);
    delete d;
}

void KelCustomShadow::createShadowWindow()
{
    if (!d->target)
        return;
    QWindow* handle = d->target->window()->windowHandle();
    if (handle == d->targetHandle && d->window)
        return;
    d->dropWindow();
    QObject::disconnect(d->opacityConnection);
    if (d->targetHandle)
        d->targetHandle->removeEventFilter(this);
    if (!d->frame)
        return;
    d->targetHandle = handle;
    if (!handle)
        return;
    handle->installEventFilter(this);
    d->targetOnScreen = handle->isExposed();
    d->opacityConnection
        = connect(handle, &QWindow::opacityChanged, this, [this](qreal value) { d->setOpacity(value); });
    d->window = new ShadowWindow(&d->image, &d->alpha);
    d->window->setGeometry(d->shadowRect());
    d->window->winId();
    d->window->installEventFilter(this);
    if (QWindow* own = d->window->windowHandle())
        own->setTransientParent(handle);
    d->visible = false;
    d->rect = QRect();
    d->setOpacity(handle->opacity());
}

void KelCustomShadow::sync(const QPoint&)
{
    if (!d->target || !d->targetHandle || !d->window)
        return;
    QWidget* target = d->target;
    const bool wasVisible = d->visible;
    if (!target->isVisible())
        d->targetOnScreen = false;
    // Only once the target is on the screen: a window is often placed just after it is shown, and a
    // shadow mapped before it would first stand where the window was (the screen's corner for a new
    // box), where a compositor may leave it painted; a window manager would also not take it for
    // the window's own while its owner is not yet managed.
    const bool shouldBeVisible = target->isVisible() && d->targetOnScreen && !target->isMinimized()
        && !target->isMaximized() && !target->isFullScreen();
    d->setGeometry(shouldBeVisible, d->shadowRect(), target->devicePixelRatioF());
    if (shouldBeVisible == wasVisible)
        return;
    if (shouldBeVisible) {
        d->fade->animateToEnd();
        // Window managers keep it above its window (it is transient for it); the cut-out leaves the
        // window itself uncovered.
        d->window->show();
    } else {
        d->fade->jumpToStart();
        d->window->hide();
    }
}

bool KelCustomShadow::eventFilter(QObject* watched, QEvent* event)
{
    // openbox can place a newly mapped shadow after it has already followed its window (the move
    // asked for while the map was pending comes first), which would leave it at the screen's
    // corner for good: it goes back to its window's side, after the move has been taken in.
    if (watched == d->window && event->type() == QEvent::Move && d->visible
        && d->window->geometry().topLeft() != d->rect.topLeft() && d->putBack < 3) {
        ++d->putBack;
        QMetaObject::invokeMethod(
            this,
            [this] {
                if (d->window && d->visible && d->window->geometry().topLeft() != d->rect.topLeft())
                    d->window->setGeometry(d->rect);
            },
            Qt::QueuedConnection);
        return false;
    }
    if (watched == d->targetHandle && event->type() == QEvent::Expose) {
        // An unmap is told as an expose of nothing; a stale one never shows the shadow early.
        d->targetOnScreen = d->targetHandle->isExposed();
        sync(QPoint());
    }
    return false;
}

QWidget* KelCustomShadow::shadowWindow() const { return d->window; }

QImage KelCustomShadow::image() const { return d->image; }

int KelCustomShadow::alpha() const { return d->alpha; }

bool KelCustomShadow::isShown() const { return d->visible && d->window && d->window->isVisible(); }

QImage KelCustomShadow::makeShadowImage(const QSize& size, const KelWindowFrame* frame, double ratio)
{
    if (!frame || size.isEmpty())
        return QImage();
    const double s = frame->shadowSize() * ratio;
    const QRectF content(s, s, size.width() - 2 * s, size.height() - 2 * s);
    QPainterPath outline;
    if (frame->shapeFunction()) {
        outline = frame->shapeFunction()(frame, content.size(), ratio).translated(content.topLeft());
    } else {
        const KelRadii r = frame->radii();
        outline = KelPainting::roundedRectPath(content,
            KelRadii(qRound(r.topLeft * ratio), qRound(r.topRight * ratio), qRound(r.bottomRight * ratio),
                qRound(r.bottomLeft * ratio)));
    }

    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    image.fill(0);
    {
        QPainter painter(&image);
        painter.setCompositionMode(QPainter::CompositionMode_Source);
        painter.fillPath(outline.translated(0, frame->shadowVerticalOffset() * ratio), Qt::black);
    }
    qt_blurImage(nullptr, image, s, false, true);
    {
        QPainter painter(&image);
        painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
        painter.fillRect(image.rect(), frame->shadowColor());
    }
    if (image.size() != size)
        image = image.scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    {
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setCompositionMode(QPainter::CompositionMode_Source);
        painter.fillPath(outline, Qt::transparent);
    }
    return image;
}
