#pragma once

#include <QObject>
#include <QString>
#include <QTimer>

#include <functional>

class KelUi;

// Holds a message back until the user is free for it: when the timer fires and the main window
// is active, not dimmed by a blocking window, with nothing modal or popup up, the function runs and the object goes;
// otherwise it waits another full interval.
class NotAnnoyingMessageTimer : public QObject {
    Q_OBJECT

public:
    NotAnnoyingMessageTimer(KelUi* ui, const QString& text, int interval, std::function<void()> fn);

private:
    void onTimer();

    KelUi* m_ui;
    QString m_text;
    std::function<void()> m_fn;
    QTimer m_timer;
};
