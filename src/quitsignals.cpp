#include "quitsignals.h"

#include "formats/endrequest.h"

#include <QCoreApplication>
#include <QDebug>
#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace {

int g_pipe[2] = { -1, -1 };
constexpr int kSignals[] = { SIGTERM, SIGINT };
struct sigaction g_previous[2];

void onSignal(int sig)
{
    const int savedErrno = errno;
    // A book being converted on the GUI thread keeps the pipe from being read until it is done:
    // the conversion looks at this between its steps and stops.
    EndRequest::raise();
    const unsigned char byte = static_cast<unsigned char>(sig);
    // A full pipe already holds a pending quit; nothing else may be done in a handler.
    [[maybe_unused]] const ssize_t written = ::write(g_pipe[1], &byte, 1);
    errno = savedErrno;
}

} // namespace

QuitSignals::QuitSignals(QObject* parent)
    : QObject(parent)
{
    if (g_pipe[0] >= 0) {
        qWarning() << "Quit signals are already handled";
        return;
    }
    if (::pipe2(g_pipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        qWarning() << "Can't make the quit-signal pipe:" << std::strerror(errno);
        g_pipe[0] = g_pipe[1] = -1;
        return;
    }
    struct sigaction action;
    std::memset(&action, 0, sizeof(action));
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int i = 0; i < 2; ++i) {
        if (::sigaction(kSignals[i], &action, &g_previous[i]) != 0)
            qWarning() << "Can't handle signal" << kSignals[i] << std::strerror(errno);
    }
    m_notifier = new QSocketNotifier(g_pipe[0], QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &QuitSignals::onReadable);
}

QuitSignals::~QuitSignals()
{
    if (!m_notifier)
        return;
    for (int i = 0; i < 2; ++i)
        ::sigaction(kSignals[i], &g_previous[i], nullptr);
    delete m_notifier;
    ::close(g_pipe[0]);
    ::close(g_pipe[1]);
    g_pipe[0] = g_pipe[1] = -1;
}

void QuitSignals::onReadable()
{
    unsigned char byte = 0;
    int last = 0;
    while (::read(g_pipe[0], &byte, 1) == 1)
        last = byte;
    if (!last)
        return;
    qInfo() << "Signal" << last << "received; quitting";
    m_received = last;
    emit received(last);
    QCoreApplication::quit();
}
