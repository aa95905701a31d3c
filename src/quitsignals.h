#pragma once

#include <QObject>

class QSocketNotifier;

// Turns SIGTERM and SIGINT into a normal end of the event loop, so the program saves its window
// and settings as when the window is closed. The handler only raises the EndRequest, which stops
// a book's conversion between its steps, and writes the signal number to a pipe; the GUI thread
// reads it through a socket notifier and quits the loop.
class QuitSignals : public QObject {
    Q_OBJECT

public:
    explicit QuitSignals(QObject* parent = nullptr);
    ~QuitSignals() override;

    // Whether the handlers are in place.
    bool isInstalled() const { return m_notifier != nullptr; }
    // A signal arrived; one that came before the event loop ran means the loop must not start.
    bool wasReceived() const { return m_received != 0; }

signals:
    // Emitted on the GUI thread before the loop is asked to quit.
    void received(int signalNumber);

private:
    void onReadable();

    QSocketNotifier* m_notifier = nullptr;
    int m_received = 0;
};
