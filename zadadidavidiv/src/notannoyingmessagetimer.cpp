#include "notannoyingmessagetimer.h"

#include "kelui.h"

#include <QApplication>
#include <QDebug>
#include <QWidget>

NotAnnoyingMessageTimer::NotAnnoyingMessageTimer(KelUi* ui, const QString& text, int interval, std::function<void()> fn)
    : QObject(ui)
    , m_ui(ui)
    , m_text(text)
    , m_fn(std::move(fn))
{
    connect(&m_timer, &QTimer::timeout, this, &NotAnnoyingMessageTimer::onTimer);
    m_timer.setInterval(interval);
    m_timer.setSingleShot(true);
    m_timer.start();
}

void NotAnnoyingMessageTimer::onTimer()
{
    KelWindow* mainWindow = m_ui->mainWindow();
    const bool free = mainWindow && !mainWindow->isBlockedOverlayShown() && mainWindow == QApplication::activeWindow()
        && !QApplication::activeModalWidget() && !QApplication::activePopupWidget();
    if (!free) {
        qInfo() << "Can't show" << m_text << ", because mainWindow is busy. Try again in" << m_timer.interval() / 1000
                << "sec";
        m_timer.start();
        return;
    }
    deleteLater();
    m_fn();
}
