#pragma once

#include <QObject>
#include <QPointer>
#include <QSet>
#include <QVector>

#include <QEvent>

class QWidget;

// Reports the child widgets added to and removed from a widget and the mouse entering and leaving them.
// Without Recursive only the watched widget's own children count, and only those added after setWidget;
// with Recursive every descendant present at setWidget is tracked, and children of tracked children as
// they arrive.
class KelChildWatcher : public QObject {
    Q_OBJECT
public:
    enum Flag {
        WatchAdded = 1,
        WatchRemoved = 2,
        WatchEnter = 4,
        WatchLeave = 8,
        Recursive = 0x1000,
    };
    Q_DECLARE_FLAGS(Flags, Flag)

    KelChildWatcher(int flags, QWidget* widget, QObject* parent = nullptr);
    ~KelChildWatcher() override;

    void setWidget(QWidget* widget);
    QWidget* widget() const { return m_widget; }
    bool isTracked(const QWidget* child) const;

signals:
    void childWidgetAdded(QWidget* child);
    void childWidgetEntered(QWidget* child);
    void childWidgetLeaved(QWidget* child);
    // The child may be in its destructor, no longer a widget: compare the pointer, do not use it.
    void childWidgetRemoved(QObject* child);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private slots:
    void forget(QObject* child);

private:
    void track(QObject* child);
    void untrack(QObject* child);
    void untrackAll();

    Flags m_flags;
    QVector<QEvent::Type> m_eventTypes;
    QPointer<QWidget> m_widget;
    QSet<QObject*> m_tracked;
};

Q_DECLARE_OPERATORS_FOR_FLAGS(KelChildWatcher::Flags)
