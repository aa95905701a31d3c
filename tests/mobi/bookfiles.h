#pragma once

#include <QFile>
#include <QTemporaryDir>

// Writes fixture books into one temporary folder, each under a fresh name.
class BookFiles {
public:
    QString save(const QByteArray& book, const QString& suffix = QStringLiteral("mobi"))
    {
        const QString path = m_dir.filePath(QStringLiteral("book%1.%2").arg(++m_counter).arg(suffix));
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write(book) != book.size())
            qFatal("cannot write fixture %s", qPrintable(path));
        return path;
    }
    QString filePath(const QString& name) const { return m_dir.filePath(name); }

private:
    QTemporaryDir m_dir;
    int m_counter = 0;
};
