#pragma once

#include <QDateTime>
#include <QString>

// Display texts of dates, page numbers and file sizes, the same everywhere in the program.

// "Today" for a moment after today's midnight, else "d MMM" (this year) or "d MMM yyyy".
QString formatDate(const QDateTime& dateTime);
// "'<formatDate>,' hh:mm", quotes and comma included, e.g. 'Today,' 09:05.
QString formatDateTime(const QDateTime& dateTime);
// "p.<page>" for a page above 0, else empty.
QString formatPageNumber(int page);
// One decimal and a unit without a space: 1023.0B, 1.0KB ... up to TB.
QString formatFileSize(qint64 bytes);
