#include "kelservicepage_general.h"

#include "eventfilters/kelglobalmousewatcher.h"
#include "widgets/kelbutton.h"
#include "widgets/kellabel.h"

#include <QApplication>
#include <QCursor>
#include <QFormLayout>
#include <QPointer>
#include <QTimer>
#include <QWindow>

#include <cstdlib>

KelServicePage_General::KelServicePage_General(QWidget* parent)
    : KelServicePage(parent)
{
    // Ends the process the way a fault does, so the crash report written by the signal handler can
    // be checked by hand.
    form->addRow(addButton(nullptr, QStringLiteral("Crash me!"), [] { std::abort(); }), new QWidget);

    auto addReadout = [this](const QString& caption) {
        auto* captionLabel = new KelLabel(26);
        captionLabel->setText(caption);
        auto* valueLabel = new KelLabel(7);
        form->addRow(captionLabel, valueLabel);
        return valueLabel;
    };
    KelLabel* activeWindow = addReadout(QStringLiteral("qApp->activeWindow():"));
    KelLabel* activeModal = addReadout(QStringLiteral("qApp->activeModalWidget():"));
    KelLabel* activePopup = addReadout(QStringLiteral("qApp->activePopupWidget():"));
    QPointer<KelLabel> focusObject = addReadout(QStringLiteral("qApp->focusObjectChanged():"));
    QPointer<KelLabel> focusWindow = addReadout(QStringLiteral("qApp->focusWindowChanged():"));
    QPointer<KelLabel> focusChange = addReadout(QStringLiteral("qApp->focusChanged():"));
    KelLabel* hookPos = addReadout(QStringLiteral("GetCursorPos():"));
    KelLabel* cursorPos = addReadout(QStringLiteral("QCursor::pos():"));
    KelLabel* underMouse = addReadout(QStringLiteral("qApp->widgetUnderMouse():"));

    auto* timer = new QTimer(this);
    timer->setInterval(500);
    connect(timer, &QTimer::timeout, this, [this, activeWindow, activeModal, activePopup] {
        activeWindow->setText(describeObject(QApplication::activeWindow()));
        activeModal->setText(describeObject(QApplication::activeModalWidget()));
        activePopup->setText(describeObject(QApplication::activePopupWidget()));
        onTimer();
    });
    timer->start();

    connect(qApp, &QGuiApplication::focusObjectChanged, this, [focusObject](QObject* object) {
        if (focusObject)
            focusObject->setText(describeObject(object));
    });
    connect(qApp, &QGuiApplication::focusWindowChanged, this, [focusWindow](QWindow* window) {
        if (focusWindow)
            focusWindow->setText(describeObject(window));
    });
    connect(qApp, &QApplication::focusChanged, this, [focusChange](QWidget* old, QWidget* now) {
        if (focusChange)
            focusChange->setText(
                QStringLiteral("<b>%1</b>, previous: %2").arg(describeObject(now), describeObject(old)));
    });

    auto* watcher = new KelGlobalMouseWatcher(this);
    connect(watcher, &KelGlobalMouseWatcher::mouseMoved, this, [this, hookPos, cursorPos, underMouse](QPoint pos) {
        hookPos->setText(pointText(pos));
        const QPoint current = QCursor::pos();
        cursorPos->setText(pointText(current));
        underMouse->setText(describeObject(QApplication::widgetAt(current)));
        onMouseMoved(current);
    });

    setObjectName(QStringLiteral("General"));
}

KelServicePage_General::~KelServicePage_General() = default;

void KelServicePage_General::onMouseMoved(const QPoint&) { }

void KelServicePage_General::onTimer() { }
