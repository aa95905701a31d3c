#pragma once

#include <QObject>

// Toast notifications: small frameless windows with a title, a text that may hold links and a close
// button. They slide up into the bottom-right corner of the primary screen, stack above each other,
// stay for their display time (paused while the mouse is over them) and fade out.
class KelNotificationManager : public QObject {
    Q_OBJECT

public:
    explicit KelNotificationManager(QObject* parent = nullptr);
    // Closes the notifications still up.
    ~KelNotificationManager() override;

    // Seconds of 0 or less mean the default display time. Returns the notification's id.
    int showNotification(const QString& title, const QString& text, int seconds = 0);
    // The display time in milliseconds when none is given.
    static int systemMessageDuration();

    // The notification's window while it exists (for inspection).
    class KelWindow* notificationWindow(int id) const;
    // Its display timer's interval and state; -1 and false for an unknown id.
    int displayInterval(int id) const;
    bool isTimerActive(int id) const;

    bool eventFilter(QObject* watched, QEvent* event) override;

signals:
    void clicked(int notificationId);

private:
    class Private;
    Private* d;
};
