#pragma once
// A window manager (and a compositing manager) on the test's own X server, and what the server
// says about the windows it manages. Link xcb to use it.

#include <QByteArray>
#include <QElapsedTimer>
#include <QList>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QThread>
#include <QVector>
#include <QtGlobal>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <signal.h>
#include <xcb/xcb.h>

namespace windowmanager {

// One connection to the X server named by DISPLAY for a few queries.
class XConnection {
public:
    XConnection()
        : m_c(xcb_connect(nullptr, nullptr))
    {
    }
    ~XConnection() { xcb_disconnect(m_c); }
    XConnection(const XConnection&) = delete;
    XConnection& operator=(const XConnection&) = delete;

    bool isValid() const { return !xcb_connection_has_error(m_c); }
    xcb_connection_t* get() const { return m_c; }
    xcb_window_t root() const
    {
        const xcb_setup_t* setup = xcb_get_setup(m_c);
        return setup ? xcb_setup_roots_iterator(setup).data->root : XCB_NONE;
    }
    xcb_atom_t atom(const char* name) const
    {
        xcb_intern_atom_reply_t* reply
            = xcb_intern_atom_reply(m_c, xcb_intern_atom(m_c, 0, uint16_t(strlen(name)), name), nullptr);
        const xcb_atom_t atom = reply ? reply->atom : XCB_NONE;
        free(reply);
        return atom;
    }
    // The 32-bit values of a property (windows, cardinals, atoms); empty when it is not set.
    QVector<quint32> values(xcb_window_t window, const char* property) const
    {
        QVector<quint32> result;
        xcb_get_property_reply_t* reply = xcb_get_property_reply(
            m_c, xcb_get_property(m_c, 0, window, atom(property), XCB_GET_PROPERTY_TYPE_ANY, 0, 4096), nullptr);
        if (reply && reply->format == 32) {
            const auto* data = static_cast<const quint32*>(xcb_get_property_value(reply));
            const int count = xcb_get_property_value_length(reply) / 4;
            for (int i = 0; i < count; ++i)
                result << data[i];
        }
        free(reply);
        return result;
    }
    QByteArray text(xcb_window_t window, const char* property) const
    {
        QByteArray result;
        xcb_get_property_reply_t* reply = xcb_get_property_reply(
            m_c, xcb_get_property(m_c, 0, window, atom(property), XCB_GET_PROPERTY_TYPE_ANY, 0, 4096), nullptr);
        if (reply && reply->format == 8)
            result = QByteArray(
                static_cast<const char*>(xcb_get_property_value(reply)), xcb_get_property_value_length(reply));
        free(reply);
        return result;
    }

private:
    xcb_connection_t* m_c;
};

// Whether an X client owns the selection (WM_S0: a window manager, _NET_WM_CM_S0: a compositor).
inline bool selectionOwned(const char* name)
{
    XConnection c;
    if (!c.isValid())
        return false;
    xcb_get_selection_owner_reply_t* owner
        = xcb_get_selection_owner_reply(c.get(), xcb_get_selection_owner(c.get(), c.atom(name)), nullptr);
    const bool owned = owner && owner->owner != XCB_NONE;
    free(owner);
    return owned;
}

// Starts a program and waits until it owns its selection; its process id, 0 when it did not come up.
// A program that gave up at once (no connection to the server yet) is started again.
inline qint64 startAndWait(const QString& program, const QStringList& args, const char* selection)
{
    QElapsedTimer clock;
    clock.start();
    // A loaded machine can take its time to start a window manager.
    while (clock.elapsed() < 30000) {
        qint64 pid = 0;
        if (!QProcess::startDetached(program, args, QString(), &pid))
            return 0;
        while (!selectionOwned(selection) && clock.elapsed() < 30000 && ::kill(pid_t(pid), 0) == 0)
            QThread::msleep(50);
        if (selectionOwned(selection))
            return pid;
        if (::kill(pid_t(pid), 0) == 0) {
            ::kill(pid_t(pid), SIGTERM);
            return 0;
        }
        qWarning("%s ended before it took over the screen; starting it again", qPrintable(program));
        QThread::msleep(200);
    }
    return 0;
}

// The managers a mode names ("none", "openbox", "metacity", "compositor": openbox with xcompmgr),
// running while the object lives.
class Session {
public:
    explicit Session(const QByteArray& mode)
    {
        // The server resets each time its last client leaves, and a program that connects while it
        // does fails to open the display. The session's own connection, kept while it lives, holds
        // the server up between the queries that wait for the managers and the test's own
        // connection; the first connection can still meet the reset the last test left behind.
        QElapsedTimer clock;
        clock.start();
        for (;;) {
            m_connection = std::make_unique<XConnection>();
            if (m_connection->isValid() || clock.elapsed() > 10000)
                break;
            QThread::msleep(100);
        }
        if (mode == "openbox" || mode == "compositor")
            m_pids << startAndWait(QStringLiteral("openbox"), { QStringLiteral("--sm-disable") }, "WM_S0");
        else if (mode == "metacity")
            m_pids << startAndWait(QStringLiteral("metacity"), { QStringLiteral("--sm-disable") }, "WM_S0");
        if (mode == "compositor" && !m_pids.contains(0))
            m_pids << startAndWait(QStringLiteral("xcompmgr"), {}, "_NET_WM_CM_S0");
        // metacity composites by itself, and takes the compositing selection a moment after the
        // window manager's.
        clock.restart();
        while (mode == "metacity" && !m_pids.contains(0) && !selectionOwned("_NET_WM_CM_S0")
            && clock.elapsed() < 10000)
            QThread::msleep(50);
    }
    ~Session()
    {
        // A program that did not start is kept as 0, and never signalled (0 would be the whole group).
        for (qint64 pid : m_pids) {
            if (pid)
                ::kill(pid_t(pid), SIGTERM);
        }
        // The next test's manager could not take the selections while these still hold them.
        QElapsedTimer clock;
        clock.start();
        while ((selectionOwned("WM_S0") || selectionOwned("_NET_WM_CM_S0")) && clock.elapsed() < 5000)
            QThread::msleep(50);
    }
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    bool isRunning() const { return m_connection->isValid() && !m_pids.contains(0); }

private:
    std::unique_ptr<XConnection> m_connection;
    QList<qint64> m_pids;
};

// The managed windows bottom to top, as the window manager stacks them.
inline QVector<quint32> stacking()
{
    XConnection c;
    return c.isValid() ? c.values(c.root(), "_NET_CLIENT_LIST_STACKING") : QVector<quint32>();
}

// The children of the root window bottom to top: the stacking order when no window manager runs.
inline QVector<quint32> rootChildren()
{
    XConnection c;
    QVector<quint32> result;
    if (!c.isValid())
        return result;
    xcb_query_tree_reply_t* tree = xcb_query_tree_reply(c.get(), xcb_query_tree(c.get(), c.root()), nullptr);
    if (tree) {
        const xcb_window_t* children = xcb_query_tree_children(tree);
        for (int i = 0; i < xcb_query_tree_children_length(tree); ++i)
            result << children[i];
    }
    free(tree);
    return result;
}

// The window named by the window's WM_TRANSIENT_FOR, 0 when none.
inline quint32 transientFor(quint32 window)
{
    XConnection c;
    return c.isValid() ? c.values(window, "WM_TRANSIENT_FOR").value(0) : 0;
}

// The window the window manager says is active, 0 when none.
inline quint32 activeWindow()
{
    XConnection c;
    return c.isValid() ? c.values(c.root(), "_NET_ACTIVE_WINDOW").value(0) : 0;
}

} // namespace windowmanager
