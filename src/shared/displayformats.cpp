#include "displayformats.h"

#include <QCoreApplication>

QString formatDate(const QDateTime& dateTime)
{
    if (!dateTime.isValid())
        return QString();
    const QDateTime midnight(QDate::currentDate(), QTime(0, 0));
    if (dateTime > midnight)
        return QCoreApplication::translate("DateFormats", "Today");
    const QString format = dateTime.date().year() == QDate::currentDate().year()
        ? QCoreApplication::translate("DateFormats", "d MMM")
        : QCoreApplication::translate("DateFormats", "d MMM yyyy");
    return dateTime.toString(format);
}

QString formatDateTime(const QDateTime& dateTime)
{
    if (!dateTime.isValid())
        return QString();
    // The date is already text: quotes here would be shown, not read as a format's literal marks.
    return QStringLiteral("%1, %2").arg(formatDate(dateTime), dateTime.time().toString(QStringLiteral("hh:mm")));
}

QString formatPageNumber(int page)
{
    if (page <= 0)
        return QString();
    return QCoreApplication::translate("Formats", "p.%1").arg(page);
}

QString formatFileSize(qint64 bytes)
{
    static const char* const units[] = {
        QT_TRANSLATE_NOOP("Application", "B"),
        QT_TRANSLATE_NOOP("Application", "KB"),
        QT_TRANSLATE_NOOP("Application", "MB"),
        QT_TRANSLATE_NOOP("Application", "GB"),
        QT_TRANSLATE_NOOP("Application", "TB"),
    };
    double value = double(bytes);
    int unit = 0;
    while (value >= 1024.0 && unit < 4) {
        value *= 1.0 / 1024.0;
        ++unit;
    }
    return QString::number(value, 'f', 1) + QCoreApplication::translate("Application", units[unit]);
}
