#pragma once

#include <QMetaObject>
#include <QSharedPointer>
#include <QVector>

class BookContext;

// Every part of the reading page that shows something of the open book derives from it: it
// connects to the book in onBookContextChanged and keeps those connections in
// m_bookConnections, so that a new book (or none) drops them all again.
class BookContextWatcher {
public:
    BookContextWatcher() = default;
    virtual ~BookContextWatcher();
    BookContextWatcher(const BookContextWatcher&) = delete;
    BookContextWatcher& operator=(const BookContextWatcher&) = delete;

    // Drops the connections to the old book, resets the state of the old one, and connects to
    // the new one; null only clears.
    virtual void setBookContext(QSharedPointer<BookContext> context);
    QSharedPointer<BookContext> bookContext() const { return m_bookContext; }

protected:
    virtual void onBookContextChanged(QSharedPointer<BookContext> context) = 0;
    virtual void resetBookState() { }

    QVector<QMetaObject::Connection> m_bookConnections;

private:
    void dropConnections();

    QSharedPointer<BookContext> m_bookContext;
};
