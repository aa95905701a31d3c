#pragma once

#include <QEventLoop>
#include <QObject>

// Counts the local event loops the program runs on the GUI thread under a caller: a box's exec(),
// a wait for a worker, a processEvents() inside a long step. Posted work that can delete objects
// (a hand-over from a second start that opens another book, a close) asks whether one runs, waits
// while it does, and goes on when ended() says the last one is over.
class NestedLoop : public QObject {
    Q_OBJECT

public:
    // Counts one loop for its lifetime; off the GUI thread it counts nothing.
    class Scope {
    public:
        Scope();
        ~Scope();
        Scope(const Scope&) = delete;
        Scope& operator=(const Scope&) = delete;

    private:
        bool m_counted = false;
    };

    // Lives as long as the process; made on first use.
    static NestedLoop* instance();
    // How many counted loops run now.
    static int depth();
    // QCoreApplication::processEvents inside a Scope.
    static void processEvents(QEventLoop::ProcessEventsFlags flags = QEventLoop::ExcludeUserInputEvents);

signals:
    // The last counted loop ended. Emitted as the loop's caller returns: receivers that open boxes
    // or delete objects connect queued.
    void ended();

private:
    NestedLoop() = default;
};
