#include "nestedloop.h"

#include <QCoreApplication>
#include <QThread>

namespace {
int g_depth = 0;

bool onGuiThread()
{
    const QCoreApplication* app = QCoreApplication::instance();
    return app && QThread::currentThread() == app->thread();
}
} // namespace

NestedLoop::Scope::Scope()
    : m_counted(onGuiThread())
{
    if (m_counted)
        ++g_depth;
}

NestedLoop::Scope::~Scope()
{
    if (m_counted && --g_depth == 0)
        emit NestedLoop::instance()->ended();
}

NestedLoop* NestedLoop::instance()
{
    // Never deleted: a scope may end while the application object is destroyed.
    static NestedLoop* const loops = new NestedLoop;
    return loops;
}

int NestedLoop::depth() { return g_depth; }

void NestedLoop::processEvents(QEventLoop::ProcessEventsFlags flags)
{
    if (!QCoreApplication::instance())
        return;
    Scope scope;
    QCoreApplication::processEvents(flags);
}
