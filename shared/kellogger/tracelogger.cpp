#include "tracelogger.h"

#include <QDebug>

TraceLogger::TraceLogger(const char* function, const QString& name)
    : m_function(function)
    , m_name(name)
{
    m_name.remove(QStringLiteral("__thiscall "));
    m_timer.start();
    QMessageLogger(nullptr, 0, m_function).info().noquote() << QLatin1String("Entering '") + m_name + QLatin1Char('\'');
    QMessageLogger(nullptr, 0, m_function).info(">");
}

TraceLogger::~TraceLogger()
{
    QMessageLogger(nullptr, 0, m_function).info("<");
    QMessageLogger(nullptr, 0, m_function).info().noquote() << QLatin1String("Leaving '") + m_name
            + QLatin1String("'. Elapsed time: ") + QString::number(m_timer.elapsed());
}
