#include "kelsplash.h"

#include "kelui.h"
#include "singleapplication/kelsingleapplication.h"

#include <QCoreApplication>
#include <QDebug>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QPainter>
#include <QPointer>
#include <QScreen>
#include <QTimer>

class KelSplash::Private {
public:
    QPointer<KelSplash> q;
    QString loadingText;
    QColor loadingTextColor;
    QRect loadingTextRect;
    QString versionText;
    QColor versionTextColor;
    QRect versionTextRect;
    QTimer tickTimer;
    QElapsedTimer elapsed;
    int tickMs = 0;
    int minimumMs = 0;
    int minDots = 0;
    int maxDots = 0;
    int dots = 0;
    bool showMainWindowWhenDone = false;
    bool minimumReached = false;
    // setMainWindowIsReady was called; with a null window there is nothing to wait for.
    bool mainWindowReported = false;

    void onTick();
    void onMinDurationReached();
    void handOver(QWidget* window);
};

void KelSplash::Private::onTick()
{
    const QString text = QCoreApplication::translate("Application", "Loading%1").arg(QString(dots, QLatin1Char('.')));
    if (++dots > maxDots)
        dots = minDots;
    // Unchanged text needs no paint: with a still text a fast tick would otherwise repaint without pause.
    if (text != loadingText) {
        loadingText = text;
        q->repaint();
    }
    if (!minimumReached && elapsed.elapsed() >= minimumMs) {
        minimumReached = true;
        onMinDurationReached();
    }
    // About one frame at least: a shorter tick only burns the processor while the application loads.
    tickTimer.start(qMax(tickMs, 16));
}

void KelSplash::Private::onMinDurationReached()
{
    if (!showMainWindowWhenDone) {
        qInfo() << "Splash min wait time is reached and app is ready. No need to show mainwindow, simply close splash";
        tickTimer.stop();
        q->close();
        return;
    }
    qInfo() << "Splash min wait time is reached and app is ready. Show existing mainWindow or create it";
    KelUi* ui = KelUi::instance();
    QWidget* window = ui ? ui->mainWindow() : nullptr;
    if (window) {
        qInfo() << "Main window already exists. Finish splash using" << window;
        handOver(window);
    } else if (mainWindowReported) {
        // The application made no main window: waiting would keep the splash up for ever.
        qWarning() << "Main window could not be created. Close splash";
        tickTimer.stop();
        q->close();
    } else {
        qInfo() << "Main window still not exists";
    }
}

void KelSplash::Private::handOver(QWidget* window)
{
    tickTimer.stop();
    if (window->metaObject()->indexOfMethod("showAndActivate(bool)") >= 0)
        QMetaObject::invokeMethod(window, "showAndActivate", Qt::DirectConnection, Q_ARG(bool, false));
    else
        KelSingleApplication::bringToFront(window);
    q->finish(window);
}

KelSplash::KelSplash(QRect screenArea, const QPixmap& pixmap, const QString& version, int minimumMs, int tickMs,
    int minDots, int maxDots, bool showMainWindowWhenDone, const QPoint& loadingTextOffset,
    const QPoint& versionTextOffset, const QColor& loadingTextColor, const QColor& versionTextColor)
    : QSplashScreen(pixmap)
    , d(new Private)
{
    d->q = this;

    QScreen* screen = nullptr;
    for (QScreen* candidate : QGuiApplication::screens()) {
        if (candidate->availableGeometry().contains(screenArea.center())) {
            screen = candidate;
            break;
        }
    }
    if (!screen) {
        screen = QGuiApplication::primaryScreen();
        if (screen)
            screenArea = screen->availableGeometry();
    }
    const qreal ratio = screen ? screen->devicePixelRatio() : 1.0;
    const QRect picture = QRectF(0, 0, pixmap.width() / ratio, pixmap.height() / ratio).toAlignedRect();

    d->loadingTextColor = loadingTextColor.isValid() ? loadingTextColor : QColor(Qt::white);
    d->loadingTextRect = loadingTextOffset.isNull()
        ? picture.adjusted(105, 0, 0, -46)
        : picture.adjusted(loadingTextOffset.x(), 0, 0, -loadingTextOffset.y());
    d->versionText = QStringLiteral("v%1").arg(version);
    d->versionTextColor = versionTextColor.isValid() ? versionTextColor : QColor(Qt::white);
    d->versionTextRect = versionTextOffset.isNull()
        ? picture.adjusted(0, 0, -20, -20)
        : picture.adjusted(0, 0, -versionTextOffset.x(), -versionTextOffset.y());

    d->tickMs = tickMs;
    d->minimumMs = minimumMs;
    d->minDots = minDots;
    d->maxDots = maxDots;
    d->dots = minDots;
    d->showMainWindowWhenDone = showMainWindowWhenDone;

    d->elapsed.start();
    d->tickTimer.setSingleShot(true);
    d->tickTimer.start(0);
    setAttribute(Qt::WA_DeleteOnClose);
    if (screenArea.isValid()) {
        QRect area = geometry();
        area.moveCenter(screenArea.center());
        setGeometry(area);
    }
    connect(&d->tickTimer, &QTimer::timeout, this, [this] { d->onTick(); });
}

KelSplash::~KelSplash()
{
    delete d;
    d = nullptr;
}

void KelSplash::setMainWindowIsReady(KelWindow* window)
{
    d->mainWindowReported = true;
    if (!d->minimumReached)
        return;
    qInfo() << "Main window was created. Finish splash using" << window;
    d->tickTimer.stop();
    if (window)
        d->handOver(window);
    else
        close();
}

QString KelSplash::loadingText() const { return d->loadingText; }

QString KelSplash::versionText() const { return d->versionText; }

QRect KelSplash::loadingTextRect() const { return d->loadingTextRect; }

QRect KelSplash::versionTextRect() const { return d->versionTextRect; }

bool KelSplash::isMinimumTimeReached() const { return d->minimumReached; }

void KelSplash::drawContents(QPainter* painter)
{
    // The base class's message is not drawn: the two texts are all the splash shows.
    if (d->loadingTextColor.alpha() > 0) {
        painter->setPen(d->loadingTextColor);
        painter->drawText(d->loadingTextRect, Qt::AlignLeft | Qt::AlignBottom, d->loadingText);
    }
    if (d->versionTextColor.alpha() > 0) {
        painter->setPen(d->versionTextColor);
        painter->drawText(d->versionTextRect, Qt::AlignRight | Qt::AlignBottom, d->versionText);
    }
}
