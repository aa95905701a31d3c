#pragma once

#include <QString>
#include <QStringList>
#include <QtGlobal>

// Collects the messages of one level while it lives (for messages logged a varying number of times, or noise
// of the platform plugin); messages of other levels go on to the handler before it.
class MessageCatcher {
public:
    explicit MessageCatcher(QtMsgType type)
    {
        s_type = type;
        s_messages.clear();
        s_previous = qInstallMessageHandler(&MessageCatcher::handle);
    }
    ~MessageCatcher() { qInstallMessageHandler(s_previous); }

    int count(const QString& part) const
    {
        int n = 0;
        for (const QString& message : s_messages)
            n += message.contains(part);
        return n;
    }
    int total() const { return s_messages.size(); }

private:
    static void handle(QtMsgType type, const QMessageLogContext& context, const QString& message)
    {
        if (type == s_type)
            s_messages.append(message);
        else if (s_previous)
            s_previous(type, context, message);
    }

    static inline QtMessageHandler s_previous = nullptr;
    static inline QtMsgType s_type = QtDebugMsg;
    static inline QStringList s_messages;
};
