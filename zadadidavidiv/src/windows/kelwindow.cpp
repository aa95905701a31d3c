#include "windows/kelwindow.h"

#include "animators/kelgeometryanimator.h"
#include "animators/kelopacityanimator.h"
#include "kelapplication.h"
#include "kelsettings.h"
#include "kelui.h"
#include "painting/kelpaintcontext.h"
#include "painting/kelpainting.h"
#include "platform/x11/kelnativewindowutils.h"
#include "styles/kelstyle.h"
#include "utils/kelfuzzy.h"
#include "utils/kelgeometryutils.h"
#include "utils/kelwindowmaskutils.h"
#include "widgets/kelbutton.h"
#include "widgets/kellabel.h"
#include "windows/keltitlebar.h"
#include "windows/kelwindowblockedoverlay.h"
#include "windows/kelwindowframe.h"

#include <QApplication>
#include <QBoxLayout>
#include <QCursor>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPointer>
#include <QScreen>
#include <QTimer>
#include <QWindow>

namespace {

const QString kMaintenanceWord = QStringLiteral("plonk");
const int kDragThreshold = 4;

bool isFull(const QWidget* w) { return w->windowState() & (Qt::WindowMaximized | Qt::WindowFullScreen); }

int styleMetric(int kind) { return kelStyle()->metric(kind); }

QSettings* appSettings()
{
    KelApplication* app = KelApplication::instance();
    return app ? app->settings() : nullptr;
}

QScreen* screenByIndex(int index)
{
    const QList<QScreen*> screens = QGuiApplication::screens();
    if (index >= 0 && index < screens.size() && screens.at(index))
        return screens.at(index);
    return QGuiApplication::primaryScreen();
}

} // namespace

class KelWindow::Private {
public:
    KelWindow* q = nullptr;
    WindowParams params;
    ShadowType shadowType = ShadowType::Not_Set;
    QString typedKeys;
    KelNativeWindowUtils* nativeUtils = nullptr;
    bool geometryRestoredEarly = false;
    QPoint initialPos;
    QPointer<KelTitleBar> titleBar;
    QPointer<QWidget> sideBar;
    QPointer<QWidget> central;
    QPointer<QBoxLayout> centralLayout;
    QPoint pressPos;
    double devicePixelRatio = -1.0;
    bool hovered = false;
    bool blocked = false;
    QPointer<KelWindowBlockedOverlay> overlay;
    double normalOpacity = 1.0;
    QMetaObject::Connection screenConnection;
    QPointer<QScreen> screen;
    QPointer<KelOpacityAnimator> opacityAnimator;
    QPointer<KelGeometryAnimator> geometryAnimator;
    bool maskSet = false;
    QPointer<QWidget> owner;
    // The window a parentless one belonged to when last shown: shown again while nothing is active
    // (just after its own hide), it goes back to it.
    QPointer<QWidget> lastOwner;
    bool needsOwner = false;
    bool keptInOwnerWindow = false;

    bool isPlaced() const { return q->testAttribute(Qt::WA_Moved) && q->pos() != initialPos; }
    void restoreEarly(const QString& name);
    void buildTree();
    void updateContentMargins();
    void checkTranslucentBackground();
    void updateMask();
    void onScreenChanged(QScreen* newScreen);
    void fadeTo(double opacity, bool animated);
    bool raiseOwnedModal();
    QString geometryKey() const { return q->objectName() + QStringLiteral("_Geometry"); }
};

void KelWindow::Private::restoreEarly(const QString& name)
{
    q->setObjectName(name);
    QSettings* settings = appSettings();
    if (!settings || !settings->contains(geometryKey()))
        return;
    const QRect before = q->geometry();
    geometryRestoredEarly = q->restoreGeometry(settings->value(geometryKey()).toByteArray());
    if (!geometryRestoredEarly) {
        qInfo() << "early restore geometry failed. Not a bug, maybe screen configuration was changed";
        return;
    }
    qInfo() << "early restore geometry:" << geometryRestoredEarly << q->geometry() << "dpr:" << q->devicePixelRatioF()
            << q->windowState();
    const QRect restored = q->geometry();
    for (QScreen* s : QGuiApplication::screens()) {
        if (s->geometry().intersects(restored))
            return;
    }
    qWarning() << "  Restored geometry is out of screen!";
    qWarning() << "  Restored geom:" << restored;
    qWarning() << "  Screens:";
    for (QScreen* s : QGuiApplication::screens())
        qWarning() << "    " << s->name() << "dpr:" << s->devicePixelRatio() << "geom:" << s->geometry();
    qWarning() << "Clear saved geometry";
    settings->remove(geometryKey());
    q->setGeometry(before);
    // Nobody placed or sized the window: it is sized and centred like a new one.
    q->setAttribute(Qt::WA_Moved, false);
    q->setAttribute(Qt::WA_Resized, false);
    geometryRestoredEarly = false;
}

void KelWindow::Private::buildTree()
{
    auto* central = new QVBoxLayout;
    central->setObjectName(QStringLiteral("KelCentralWidgetLayout"));
    central->setSpacing(0);
    central->setContentsMargins(0, 0, 0, 0);
    centralLayout = central;
    QBoxLayout* top = central;
    if (params & SideBar) {
        auto* main = new QHBoxLayout;
        main->setObjectName(QStringLiteral("KelMainLayout"));
        main->setSpacing(0);
        auto* holder = new KelWidget(q);
        holder->setObjectName(QStringLiteral("KelSideBar"));
        main->addWidget(holder);
        main->addLayout(central);
        sideBar = holder;
        top = main;
    }
    top->setContentsMargins(0, 0, 0, 0);
    top->setSizeConstraint(QLayout::SetMinAndMaxSize);
    q->setLayout(top);

    if (params & TitleBar) {
        auto* bar = new KelTitleBar(q);
        const Qt::WindowFlags flags = q->windowFlags();
        int mask = 0;
        if (flags & Qt::WindowMinimizeButtonHint)
            mask |= 1;
        if (flags & Qt::WindowMaximizeButtonHint)
            mask |= 2;
        if (flags & Qt::WindowCloseButtonHint)
            mask |= 4;
        bar->setButtons(mask);
        central->addWidget(bar);
        nativeUtils->setCaptionWidget(bar);
        const QList<KelButton*> buttons = bar->findChildren<KelButton*>();
        for (KelButton* button : buttons)
            nativeUtils->addNonCaptionWidget(button);
        titleBar = bar;
    }
    auto* widget = new KelWidget(q);
    widget->setObjectName(QStringLiteral("KelCentralWidget"));
    central->addWidget(widget);
    this->central = widget;
}

void KelWindow::Private::updateContentMargins()
{
    if (!nativeUtils->hasCompositorFrame() || !q->layout())
        return;
    const double dpr = q->devicePixelRatioF();
    const double border = isFull(q) ? 8.0 : 0.0;
    const double bottomExtra = 1.0;
    const int side = qRound(border / dpr);
    q->layout()->setContentsMargins(side, side, side, qRound(bottomExtra / dpr + border));
    q->update();
}

void KelWindow::Private::checkTranslucentBackground()
{
    // Without a compositing manager a translucent window reads as black where it is transparent:
    // the outline then comes from a window mask instead.
    const bool wanted = !nativeUtils->hasCompositorFrame() && nativeUtils->frame()->needsTranslucentBackground()
        && KelNativeWindowUtils::isCompositionEnabled();
    if (q->testAttribute(Qt::WA_TranslucentBackground) == wanted)
        return;
    qInfo() << "Turn Qt::WA_TranslucentBackground" << (wanted ? "ON" : "OFF");
    q->setAttribute(Qt::WA_TranslucentBackground, wanted);
    if (q->testAttribute(Qt::WA_WState_Created))
        qCritical() << "QTBUG-83424: Can't change Qt::WA_TranslucentBackground after window creation. Please set "
                       "Qt::WA_TranslucentBackground manually before first call to winId()";
}

void KelWindow::Private::updateMask()
{
    KelWindowFrame* frame = nativeUtils->frame();
    const bool wanted = !q->testAttribute(Qt::WA_TranslucentBackground) && frame->needsTranslucentBackground()
        && !nativeUtils->hasCompositorFrame() && !isFull(q);
    if (!wanted) {
        if (maskSet) {
            KelUtils::clearMask(q);
            maskSet = false;
        }
        return;
    }
    const QSizeF size = q->size();
    const QPainterPath outline = frame->shapeFunction()
        ? frame->shapeFunction()(frame, size, 1.0)
        : KelPainting::roundedRectPath(QRectF(QPointF(0, 0), size), frame->radii());
    KelUtils::setMask(q, q->size(), QPoint(), outline, 0.0, false, false);
    maskSet = true;
}

void KelWindow::Private::onScreenChanged(QScreen* newScreen)
{
    if (devicePixelRatio < 0) {
        screen = newScreen;
        devicePixelRatio = q->devicePixelRatioF();
        qInfo() << "initial pixel ratio:" << devicePixelRatio << "initial screen:" << newScreen;
        return;
    }
    if (newScreen != screen) {
        qInfo() << "screen changed from" << (screen ? screen->name() : QStringLiteral("QScreen(nullptr)")) << "to"
                << (newScreen ? newScreen->name() : QStringLiteral("nullptr"));
        screen = newScreen;
    }
    const double ratio = q->devicePixelRatioF();
    if (!KelUtils::isFuzzyEqual(ratio, devicePixelRatio)) {
        qInfo() << "pixel ratio changed from" << devicePixelRatio << "to" << ratio;
        const double old = devicePixelRatio;
        devicePixelRatio = ratio;
        emit q->devicePixelRatioChanged(ratio, old);
        q->update();
    }
}

void KelWindow::Private::fadeTo(double opacity, bool animated)
{
    if (!opacityAnimator)
        opacityAnimator = new KelOpacityAnimator(q);
    opacityAnimator->animateOpacity(opacity, animated, styleMetric(16));
}

namespace {

// Whether the window belongs to owner, directly or through owners of owners.
bool isOwnedBy(const QWidget* window, const QWidget* owner)
{
    const QWindow* ownerHandle = owner ? owner->windowHandle() : nullptr;
    for (const QWindow* w = window ? window->windowHandle() : nullptr; w && ownerHandle; w = w->transientParent()) {
        if (w->transientParent() == ownerHandle)
            return true;
    }
    for (const QWidget* w = window; w && owner; w = w->parentWidget() ? w->parentWidget()->window() : nullptr) {
        if (w->parentWidget() && w->parentWidget()->window() == owner)
            return true;
    }
    return false;
}

} // namespace

// The modal window in front belongs to this one: it goes back above it and takes the focus, so a
// question is never hidden behind the window it blocks (a window mapped or raised later, a click on
// the blocked window). Returns whether there was one.
bool KelWindow::Private::raiseOwnedModal()
{
    QWidget* modal = QApplication::activeModalWidget();
    if (!modal || modal == q || !modal->isVisible() || !isOwnedBy(modal, q))
        return false;
    modal->raise();
    if (!modal->isActiveWindow() && !modal->testAttribute(Qt::WA_ShowWithoutActivating))
        modal->activateWindow();
    return true;
}

KelWindow::KelWindow(
    int widgetType, WindowParams params, QWidget* parent, ShadowType shadowType, bool deferStyle, const QString& name)
    : KelWidget(parent, windowFlagsFor(params))
    , KelStyleable(widgetType)
    , d(new Private)
{
    d->q = this;
    d->params = params;
    setAttribute(Qt::WA_DontCreateNativeAncestors);
    setAttribute(Qt::WA_DeleteOnClose, false);
    if (shadowType == ShadowType::Default) {
        KelUi* ui = KelUi::instance();
        shadowType = ui ? ui->defaultShadowType() : ShadowType::DWM_API;
    }
    // No X11 window manager shadows a frameless window: the toolkit draws its own.
    if (shadowType == ShadowType::DWM_API)
        shadowType = ShadowType::Custom_D2D_Compatible;
    d->shadowType = shadowType;
    d->needsOwner = params & Popup;

    d->nativeUtils = new KelNativeWindowUtils(this);
    d->nativeUtils->setResizable(params & Resizable);
    d->nativeUtils->setCaptionEnabled(params & Movable);
    d->nativeUtils->setCompositorFrame(shadowType == ShadowType::DWM_API);
    connect(d->nativeUtils, &KelNativeWindowUtils::moveByUserStarted, this, &KelWindow::moveByUserStarted);
    connect(d->nativeUtils, &KelNativeWindowUtils::moveByUserFinished, this, &KelWindow::moveByUserFinished);
    connect(d->nativeUtils, &KelNativeWindowUtils::resizeByUserStarted, this, &KelWindow::resizeByUserStarted);
    connect(d->nativeUtils, &KelNativeWindowUtils::resizeByUserFinished, this, &KelWindow::resizeByUserFinished);

    if (name.isEmpty()) {
        QWidget* parentWindow = parent ? parent->window() : nullptr;
        QScreen* screen = parentWindow ? KelUtils::screenOf(parentWindow) : nullptr;
        if (screen) {
            // Created on the parent's screen; where it finally goes is decided when it shows.
            d->initialPos = screen->geometry().topLeft();
            move(d->initialPos);
        }
    } else {
        d->restoreEarly(name);
    }

    d->buildTree();
    if (!deferStyle)
        applyStyle();
    connect(this, &KelWidget::hided, d->nativeUtils->frame(), &KelWindowFrame::clearAnchor);
}

KelWindow::KelWindow(WindowParams params, QWidget* parent, ShadowType shadowType, bool deferStyle, const QString& name)
    : KelWindow(0, params, parent, shadowType, deferStyle, name)
{
}

KelWindow::~KelWindow()
{
    delete d->overlay.data();
    delete d;
}

Qt::WindowFlags KelWindow::windowFlagsFor(WindowParams params)
{
    Qt::WindowFlags flags = Qt::Window | Qt::FramelessWindowHint | Qt::NoDropShadowWindowHint;
    if (params & Popup)
        flags |= Qt::Popup;
    if (params & TitleBar) {
        flags |= Qt::WindowCloseButtonHint;
        if (params & MinimizeButton)
            flags |= Qt::WindowMinimizeButtonHint;
        if (params & MaximizeButton)
            flags |= Qt::WindowMaximizeButtonHint;
    }
    return flags;
}

QWidget* KelWindow::centralWidget() const { return d->central; }

KelTitleBar* KelWindow::titleBar() const { return d->titleBar; }

QWidget* KelWindow::sideBarWidget() const { return d->sideBar; }

KelWindow::WindowParams KelWindow::windowParams() const { return d->params; }

KelWindow::ShadowType KelWindow::shadowType() const { return d->shadowType; }

void KelWindow::setTitleText(const QString& text)
{
    if (d->titleBar)
        d->titleBar->titleLabel()->setText(text);
}

void KelWindow::setSideBarWidget(QWidget* widget, int stretch, Qt::Alignment alignment)
{
    auto* main = qobject_cast<QBoxLayout*>(layout());
    if (!widget || !(d->params & SideBar) || !d->sideBar || !main) {
        qCritical() << "Changing of sideBarWidget is not implemented!";
        return;
    }
    if (widget == d->sideBar)
        return;
    const int index = main->indexOf(d->sideBar);
    main->insertWidget(index, widget, stretch, alignment);
    main->removeWidget(d->sideBar);
    d->sideBar->hide();
    d->sideBar->deleteLater();
    d->sideBar = widget;
}

KelWindowFrame* KelWindow::windowFrame() const { return d->nativeUtils->frame(); }

KelNativeWindowUtils* KelWindow::nativeWindowUtils() const { return d->nativeUtils; }

QSize KelWindow::fittedSize()
{
    const QList<QWidget*> children = findChildren<QWidget*>();
    for (QWidget* child : children)
        child->updateGeometry();
    updateGeometry();
    // Rendering once polishes the widgets and activates the layouts.
    grab();
    const QSize hint = sizeHint();
    const int width = qBound(minimumWidth(), hint.width(), maximumWidth());
    const int height = hasHeightForWidth() ? heightForWidth(width) : hint.height();
    return QSize(width, qBound(minimumHeight(), height, maximumHeight()));
}

void KelWindow::showWithStrategy(ShowStrategy strategy)
{
    if (!window())
        return;
    QWidget* parentWindow = parentWidget() ? parentWidget()->window() : nullptr;
    if (parentWindow && strategy == ShowStrategy::CenteredOnParent) {
        if (parentWindow->isMinimized())
            parentWindow->setWindowState(parentWindow->windowState() & ~Qt::WindowMinimized);
        if (!parentWindow->isVisible()) {
            parentWindow->show();
            parentWindow->raise();
        }
    }
    // Where the strategy puts the window at its present size.
    const auto placed = [&]() {
        QRect rect = geometry();
        rect.setWidth(qMax(rect.width(), minimumWidth()));
        rect.setHeight(qMax(rect.height(), minimumHeight()));
        QRect target = rect;
        if (strategy == ShowStrategy::CenteredOnParent) {
            QRect area;
            if (parentWindow) {
                area = parentWindow->geometry();
            } else {
                KelSettings* settings = KelApplication::instance() ? KelApplication::instance()->settings() : nullptr;
                QScreen* screen = screenByIndex(settings ? settings->lastScreen() : -1);
                area = screen ? screen->geometry() : QRect();
            }
            if (area.isValid())
                target.moveCenter(area.center());
        } else if (strategy == ShowStrategy::CursorPos) {
            target.moveTopLeft(QCursor::pos());
        } else if (strategy == ShowStrategy::CursorScreen) {
            QScreen* screen = KelUtils::screenAt(QCursor::pos());
            if (!screen)
                screen = QGuiApplication::primaryScreen();
            if (screen)
                target.moveCenter(screen->availableGeometry().center());
        }
        return target == geometry() ? target : KelUtils::fitIntoAvailableGeometry(target, target);
    };
    if (isMinimized())
        setWindowState(windowState() & ~Qt::WindowMinimized);
    if (!isVisible()) {
        if (!(d->params & Resizable)) {
            if (!testAttribute(Qt::WA_WState_Created) && !parentWidget() && hasHeightForWidth()) {
                d->checkTranslucentBackground();
                winId();
            }
            if (!testAttribute(Qt::WA_Resized))
                resize(fittedSize());
        }
        // Placed before it is mapped: shown where it stood and moved after, the window (and its
        // shadow) would first stand there, and the window manager could leave it painted there.
        if (strategy != ShowStrategy::NoChange && testAttribute(Qt::WA_Resized)) {
            const QRect target = placed();
            if (target.topLeft() != pos())
                move(target.topLeft());
        }
        d->checkTranslucentBackground();
        show();
    }
    if (strategy != ShowStrategy::NoChange) {
        const QRect target = placed();
        if (target != geometry())
            setGeometry(target);
    }
    raise();
    if (d->raiseOwnedModal())
        return;
    if (!testAttribute(Qt::WA_ShowWithoutActivating) && !isActiveWindow())
        activateWindow();
}

void KelWindow::showAndActivate(bool withParent)
{
    if (withParent && parentWidget()) {
        QWidget* parentWindow = parentWidget()->window();
        if (parentWindow->isMinimized())
            parentWindow->setWindowState(parentWindow->windowState() & ~Qt::WindowMinimized);
        parentWindow->show();
    }
    if (!isVisible())
        restoreWindowGeometry();
    showWithStrategy(ShowStrategy::NoChange);
}

void KelWindow::showAnimated()
{
    if (isVisible())
        return;
    setWindowOpacity(0.01);
    showWithStrategy(parentWidget() && !d->isPlaced() ? ShowStrategy::CenteredOnParent : ShowStrategy::NoChange);
    d->fadeTo(d->normalOpacity, true);
}

void KelWindow::hideAnimated() { d->fadeTo(0.0, true); }

Qt::Edge KelWindow::showNextToRect(
    const QRect& anchor, Qt::Edge edge, Qt::Alignment alignment, bool animated, const QPoint& offset, int screenMargin)
{
    const QSize size = fittedSize();
    KelWindowFrame* frame = windowFrame();
    frame->setAnchor(edge, alignment);
    const auto align = Qt::AlignmentFlag(int(alignment));
    const auto placed = [&](Qt::Edge side, const QWidget* window) {
        const QRect beside = KelUtils::alignedRect(anchor, QRect(pos(), size), side, align, offset);
        return KelUtils::fitIntoWindow(KelUtils::fitIntoAvailableGeometry(anchor, beside, 1, screenMargin), window);
    };
    Qt::Edge flipped = Qt::TopEdge;
    switch (edge) {
    case Qt::TopEdge:
        flipped = Qt::BottomEdge;
        break;
    case Qt::BottomEdge:
        flipped = Qt::TopEdge;
        break;
    case Qt::LeftEdge:
        flipped = Qt::RightEdge;
        break;
    case Qt::RightEdge:
        flipped = Qt::LeftEdge;
        break;
    }
    // Within the window the popup belongs to, on either side of the anchor, when it fits there.
    QWidget* host = nullptr;
    if (d->keptInOwnerWindow) {
        host = parentWidget() ? parentWidget()->window() : nullptr;
        while (host && host->windowType() == Qt::Popup)
            host = host->parentWidget() ? host->parentWidget()->window() : nullptr;
    }
    QRect rect;
    bool inHost = false;
    for (Qt::Edge side : { edge, flipped }) {
        if (!host || inHost)
            break;
        rect = placed(side, host);
        if (!rect.intersects(anchor)) {
            inHost = true;
            frame->setAnchor(side, alignment);
            edge = side;
        }
    }
    if (!inHost)
        rect = placed(edge, nullptr);
    if (!inHost && rect.intersects(anchor)) {
        const QRect other = placed(flipped, nullptr);
        if (!other.intersects(anchor)) {
            rect = other;
            frame->setAnchor(flipped, alignment);
        } else {
            frame->clearAnchor();
        }
        edge = flipped;
    }
    if (isVisible()) {
        animateGeometry(rect, true, styleMetric(17));
        return edge;
    }
    setGeometry(rect);
    setWindowOpacity(0.01);
    showWithStrategy(parentWidget() && !d->isPlaced() ? ShowStrategy::CenteredOnParent : ShowStrategy::NoChange);
    d->fadeTo(d->normalOpacity, animated);
    return edge;
}

void KelWindow::setKeptInOwnerWindow(bool kept) { d->keptInOwnerWindow = kept; }

void KelWindow::animateGeometry(const QRect& rect, bool animated, int duration, bool wait)
{
    if (!d->geometryAnimator)
        d->geometryAnimator = new KelGeometryAnimator(this);
    if (duration < 0 && animated)
        duration = styleMetric(17);
    d->geometryAnimator->animateGeometry(rect, animated, qMax(0, duration), wait);
}

double KelWindow::normalOpacity() const { return d->normalOpacity; }

void KelWindow::setNormalOpacity(double opacity)
{
    if (KelUtils::isFuzzyEqual(opacity, d->normalOpacity))
        return;
    d->normalOpacity = opacity;
    if (isVisible() && !d->hovered)
        d->fadeTo(opacity, true);
}

void KelWindow::setBlockedOverlayVisible(bool visible)
{
    if (visible) {
        if (!d->overlay)
            d->overlay = new KelWindowBlockedOverlay(this);
        d->overlay->setVisible(d->blocked);
        return;
    }
    if (d->overlay) {
        d->overlay->setVisible(false);
        d->overlay->deleteLater();
        d->overlay = nullptr;
    }
}

bool KelWindow::isBlockedOverlayShown() const { return d->overlay && d->blocked; }

bool KelWindow::isBlocked() const { return d->blocked; }

QWidget* KelWindow::ownerWindow() const
{
    if (d->owner)
        return d->owner->window() != this ? d->owner->window() : nullptr;
    if (parentWidget())
        return parentWidget()->window();
    if (!d->needsOwner && !isModal())
        return nullptr;
    // Any active window of ours but the splash (the detached full-screen reading page is no toolkit
    // window, but a question asked over it belongs to it).
    QWidget* active = QApplication::activeWindow();
    if (active && active != this && active->windowType() != Qt::SplashScreen && !isOwnedBy(active, this))
        return active;
    if (d->lastOwner && d->lastOwner->isVisible())
        return d->lastOwner;
    KelUi* ui = KelUi::instance();
    QWidget* mainWindow = ui ? ui->mainWindow() : nullptr;
    return mainWindow != this && !isOwnedBy(mainWindow, this) ? mainWindow : nullptr;
}

void KelWindow::setOwnerWindow(QWidget* owner) { d->owner = owner; }

void KelWindow::setNeedsOwner(bool needs) { d->needsOwner = needs; }

void KelWindow::setStayOnTop(bool on) { KelNativeWindowUtils::setStayOnTop(this, on); }

void KelWindow::setShowWithoutActivating(bool on) { KelNativeWindowUtils::setShowWithoutActivating(this, on); }

void KelWindow::setShowInTaskbar(bool on) { KelNativeWindowUtils::setShowInTaskbar(this, on); }

bool KelWindow::isInSystemMoveOrResize() const { return d->nativeUtils->isInSizeMove(); }

bool KelWindow::hasHeightForWidth() const
{
    if (d->nativeUtils->isMoving())
        return false;
    return KelWidget::hasHeightForWidth();
}

void KelWindow::setVisible(bool visible)
{
    // The first show creates the native window: translucency must be settled before.
    if (visible && !testAttribute(Qt::WA_WState_Created))
        d->checkTranslucentBackground();
    QWidget* owner = visible ? ownerWindow() : nullptr;
    if (owner) {
        // Both native windows exist before the map, so Qt knows the transient parent when it maps
        // (it writes the X property itself for popups).
        if (!owner->testAttribute(Qt::WA_WState_Created)) {
            owner->ensurePolished();
            owner->winId();
        }
        winId();
        KelNativeWindowUtils::setTransientOwner(this, owner);
        d->lastOwner = owner;
    }
    KelWidget::setVisible(visible);
    if (owner && isVisible())
        KelNativeWindowUtils::setTransientOwner(this, owner);
}

void KelWindow::applyStyle()
{
    kelStyle()->applyWindowStyle(this, isStyled() ? widgetType() : 0);
    d->updateContentMargins();
    d->updateMask();
}

void KelWindow::translateUi()
{
    qDebug() << "Retranslate" << this;
    if (d->titleBar)
        d->titleBar->retranslateUi();
}

void KelWindow::restoreWindowGeometry()
{
    if (d->geometryRestoredEarly)
        return;
    QSettings* settings = objectName().isEmpty() ? nullptr : appSettings();
    bool restored = false;
    if (settings && settings->contains(d->geometryKey()))
        restored = restoreGeometry(settings->value(d->geometryKey()).toByteArray());
    if (!restored && !isVisible())
        applyDefaultGeometry();
}

void KelWindow::applyDefaultGeometry()
{
    if (isMaximized())
        return;
    if (!testAttribute(Qt::WA_Resized)) {
        adjustSize();
        resize(minimumSize().isEmpty() ? sizeHint() : minimumSize());
    }
    if (d->isPlaced())
        return;
    QScreen* screen = KelUtils::screenOf(this);
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    if (!screen)
        return;
    QRect rect = geometry();
    rect.moveCenter(screen->availableGeometry().center());
    move(rect.topLeft());
}

void KelWindow::saveWindowGeometry()
{
    QSettings* settings = objectName().isEmpty() ? nullptr : appSettings();
    if (!settings)
        return;
    settings->setValue(d->geometryKey(), saveGeometry());
    KelUi* ui = KelUi::instance();
    if (ui && ui->mainWindow() == this) {
        QScreen* screen = KelUtils::screenOf(this);
        const int index = screen ? QGuiApplication::screens().indexOf(screen) : -1;
        if (KelSettings* kelSettings = KelApplication::instance()->settings())
            kelSettings->setLastScreen(index);
    }
}

bool KelWindow::event(QEvent* event)
{
    switch (event->type()) {
    case QEvent::Polish:
        d->checkTranslucentBackground();
        break;
    case QEvent::Enter:
        if (!KelUtils::isFuzzyEqual(d->normalOpacity, 1.0))
            d->fadeTo(1.0, true);
        if (isEnabled()) {
            d->hovered = true;
            emit hovered();
        }
        break;
    case QEvent::Leave:
        if (!KelUtils::isFuzzyEqual(d->normalOpacity, 1.0))
            d->fadeTo(d->normalOpacity, true);
        d->hovered = false;
        emit leaved();
        break;
    case QEvent::WindowBlocked:
        d->blocked = true;
        if (d->overlay)
            d->overlay->setVisible(true);
        break;
    case QEvent::Show:
    case QEvent::WindowActivate:
        // After the map or the activation has gone through the window system.
        if (QApplication::activeModalWidget() && QApplication::activeModalWidget() != this)
            QTimer::singleShot(0, this, [this] { d->raiseOwnedModal(); });
        break;
    case QEvent::WindowUnblocked:
        d->blocked = false;
        if (d->overlay)
            d->overlay->setVisible(false);
        break;
    case QEvent::WindowStateChange:
        if (d->titleBar)
            d->titleBar->setVisible(true);
        QTimer::singleShot(0, this, [this] {
            d->updateContentMargins();
            d->updateMask();
        });
        break;
    case QEvent::WinIdChange:
        if (QWindow* handle = windowHandle()) {
            QObject::disconnect(d->screenConnection);
            d->screenConnection
                = connect(handle, &QWindow::screenChanged, this, [this](QScreen* s) { d->onScreenChanged(s); });
            d->onScreenChanged(handle->screen());
        }
        break;
    case QEvent::Hide:
        // A fade to nothing ends hidden; a later plain show must not bring up an invisible window.
        if (KelUtils::isFuzzyNull(windowOpacity()))
            setWindowOpacity(d->normalOpacity);
        break;
    default:
        break;
    }
    return KelWidget::event(event);
}

void KelWindow::mousePressEvent(QMouseEvent* event)
{
    if ((d->params & Movable) && event->button() == Qt::LeftButton && !isFull(this)) {
        d->pressPos = event->globalPos();
        event->accept();
        return;
    }
    KelWidget::mousePressEvent(event);
}

void KelWindow::mouseReleaseEvent(QMouseEvent* event)
{
    d->pressPos = QPoint();
    KelWidget::mouseReleaseEvent(event);
}

void KelWindow::mouseMoveEvent(QMouseEvent* event)
{
    if (!d->pressPos.isNull() && (event->globalPos() - d->pressPos).manhattanLength() > kDragThreshold) {
        d->pressPos = QPoint();
        d->nativeUtils->startMove(event->globalPos());
        event->accept();
        return;
    }
    KelWidget::mouseMoveEvent(event);
}

void KelWindow::keyPressEvent(QKeyEvent* event)
{
    // The key, not the text: with Ctrl held X11 delivers control characters as the text.
    const int key = event->key();
    // Holding or pressing Ctrl and Alt again between the letters keeps the word going.
    if (key == Qt::Key_Control || key == Qt::Key_Alt || key == Qt::Key_Shift || key == Qt::Key_Meta) {
        QWidget::keyPressEvent(event);
        return;
    }
    if (event->modifiers() == (Qt::ControlModifier | Qt::AltModifier) && key >= Qt::Key_A && key <= Qt::Key_Z) {
        const QString typed = d->typedKeys + QChar('a' + (key - Qt::Key_A));
        if (kMaintenanceWord.startsWith(typed, Qt::CaseInsensitive)) {
            d->typedKeys = typed;
            if (typed.size() == kMaintenanceWord.size()) {
                if (KelUi* ui = KelUi::instance())
                    ui->setMaintenanceMode(!ui->isMaintenanceMode());
                d->typedKeys.clear();
            }
            event->accept();
            return;
        }
    }
    d->typedKeys.clear();
    QWidget::keyPressEvent(event);
}

void KelWindow::paintEvent(QPaintEvent*)
{
    KelPaintContext context(this);
    QPainter* painter = context.painter();
    const double dpr = context.devicePixelRatio();
    KelWindowFrame* frame = windowFrame();

    const double border = frame->effectiveBorderWidth();
    QColor borderColor = frame->borderColor();
    if ((frame->flags() & 1) && !isActiveWindow())
        borderColor.setAlphaF(borderColor.alphaF() * 0.7);

    QRectF rect = context.rect();
    const QSize client = d->nativeUtils->clientSize();
    if (client.isValid()) {
        if (rect.right() * dpr > client.width())
            rect.setRight(rect.right() - 1.0 / dpr);
        if (rect.bottom() * dpr > client.height())
            rect.setBottom(rect.bottom() - 1.0 / dpr);
    }
    if (d->nativeUtils->hasCompositorFrame())
        rect.setBottom(rect.bottom() - 1.0 / dpr);

    QPen pen(Qt::NoPen);
    if (!KelUtils::isFuzzyNull(border)) {
        pen = QPen(QBrush(borderColor), qRound(border * dpr) / dpr, Qt::SolidLine, Qt::SquareCap, Qt::MiterJoin);
    }
    const QBrush brush = frame->background();

    d->checkTranslucentBackground();
    if (!d->nativeUtils->hasCompositorFrame() && frame->shapeFunction()) {
        const QPainterPath path = frame->shapeFunction()(frame, rect.size(), 1.0);
        painter->setRenderHint(QPainter::Antialiasing);
        painter->setPen(pen);
        painter->setBrush(brush);
        painter->drawPath(path.translated(rect.topLeft()));
        return;
    }
    if (brush.style() != Qt::NoBrush) {
        painter->setPen(Qt::NoPen);
        painter->setBrush(brush);
        KelPainting::drawRoundedRect(*painter, rect, frame->radii());
    }
    if (pen.style() != Qt::NoPen) {
        painter->setPen(pen);
        painter->setBrush(Qt::NoBrush);
        KelPainting::drawRoundedRect(*painter, rect, frame->radii());
    }
}

void KelWindow::resizeEvent(QResizeEvent* event)
{
    KelWidget::resizeEvent(event);
    d->updateMask();
}

bool KelWindow::nativeEvent(const QByteArray& eventType, void* message, long* result)
{
    if (d->nativeUtils->nativeEvent(eventType, message, result))
        return true;
    return QWidget::nativeEvent(eventType, message, result);
}

QDebug operator<<(QDebug debug, const KelWindow* window)
{
    QDebugStateSaver saver(debug);
    debug.nospace().noquote();
    if (!window)
        return debug << "KelWindow(nullptr)";
    const QString name = window->objectName().isEmpty() ? QString::fromLatin1(window->metaObject()->className())
                                                        : window->objectName();
    return debug << name << QStringLiteral("(0x%1)").arg(quintptr(window), 0, 16);
}
