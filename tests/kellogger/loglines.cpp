#include "loglines.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>

bool parseLogLine(const QString& text, bool withFunction, LogLine* line)
{
    static const QRegularExpression withColumn(
        QStringLiteral("^(\\d\\d:\\d\\d:\\d\\d\\.\\d\\d\\d): \\(([DIW!x])\\) ( *\\d+): (.{40}): ( *)(.*)$"));
    static const QRegularExpression withoutColumn(
        QStringLiteral("^(\\d\\d:\\d\\d:\\d\\d\\.\\d\\d\\d): \\(([DIW!x])\\) ( *\\d+): ( *)(.*)$"));
    const QRegularExpressionMatch match = (withFunction ? withColumn : withoutColumn).match(text);
    if (!match.hasMatch() || match.captured(3).size() < 5)
        return false;
    int group = 1;
    line->time = QTime::fromString(match.captured(group++), QStringLiteral("hh:mm:ss.zzz"));
    line->tag = match.captured(group++).at(0);
    line->threadField = match.captured(group++);
    line->threadId = line->threadField.trimmed().toLongLong();
    line->hasFunction = withFunction;
    line->functionField = withFunction ? match.captured(group++) : QString();
    line->indent = match.captured(group++).size();
    line->message = match.captured(group++);
    return line->time.isValid();
}

QStringList readLogLines(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QStringList lines = QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'));
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    return lines;
}

QStringList filesIn(const QString& dir)
{
    QStringList paths;
    const QFileInfoList files = QDir(dir).entryInfoList(QDir::Files | QDir::Hidden | QDir::NoSymLinks, QDir::Name);
    for (const QFileInfo& file : files)
        paths.append(file.absoluteFilePath());
    return paths;
}

QString onlyFileIn(const QString& dir)
{
    const QStringList files = filesIn(dir);
    return files.size() == 1 ? files.first() : QString();
}
