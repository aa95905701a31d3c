#pragma once

#include <QString>
#include <QStringList>
#include <QTime>

// Reading back what the log wrote.
struct LogLine {
    QTime time;
    QChar tag; // D, I, W, ! or x
    QString threadField; // as written: the id right-justified to at least 5 characters
    qint64 threadId = 0;
    bool hasFunction = false;
    QString functionField; // the whole column as written (padded or cut)
    int indent = 0;
    QString message; // without the indentation
};

// Parses one line of the log's format; withFunction says whether a function column is expected.
bool parseLogLine(const QString& text, bool withFunction, LogLine* line);
// The lines of a file (split on LF; the final empty piece after the last LF dropped).
QStringList readLogLines(const QString& path);
// Absolute paths of the regular files in dir, hidden ones included, sorted by name.
QStringList filesIn(const QString& dir);
// The one file in dir (empty when there is not exactly one).
QString onlyFileIn(const QString& dir);
