#include "bookcontextwatcher.h"

#include "bookcontext.h"

#include <QObject>

// A watcher that goes first must not leave connections that call into it.
BookContextWatcher::~BookContextWatcher() { dropConnections(); }

void BookContextWatcher::dropConnections()
{
    while (!m_bookConnections.isEmpty())
        QObject::disconnect(m_bookConnections.takeLast());
}

void BookContextWatcher::setBookContext(QSharedPointer<BookContext> context)
{
    dropConnections();
    if (m_bookContext)
        resetBookState();
    m_bookContext = context;
    if (m_bookContext)
        onBookContextChanged(m_bookContext);
}
