#pragma once

#include "sqlitepages.h"
#include "testfiles.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QtEndian>

// Leaves a SQLite file as a writer that was killed in the middle of a transaction leaves it: the
// statements' changes in the file, and beside it a hot journal (SQLite's documented rollback journal
// format) that holds the pages as they were, so that the next reader rolls the changes back. False
// when a step fails.
inline bool leaveHotJournal(const QString& path, const QStringList& statements)
{
    const QByteArray before = testfiles::read(path);
    const qint64 pageSize = sqlitepages::pageSizeOf(before);
    if (pageSize <= 0 || before.size() % pageSize != 0 || !sqlitepages::execute(path, statements))
        return false;
    const QByteArray after = testfiles::read(path);
    const quint32 nonce = 0x5eed1e55;
    const auto be32 = [](quint32 value) {
        QByteArray bytes(4, '\0');
        qToBigEndian(value, bytes.data());
        return bytes;
    };
    QByteArray records;
    quint32 count = 0;
    for (qint64 page = 0; page < before.size() / pageSize; ++page) {
        const QByteArray old = before.mid(page * pageSize, pageSize);
        if (old == after.mid(page * pageSize, pageSize))
            continue;
        // The checksum adds every 200th byte from the end of the page to the nonce.
        quint32 sum = nonce;
        for (qint64 i = pageSize - 200; i > 0; i -= 200)
            sum += quint8(old.at(i));
        records += be32(quint32(page + 1)) + old + be32(sum);
        ++count;
    }
    const int sector = 512;
    QByteArray header = QByteArray::fromHex("d9d505f920a163d7") + be32(count) + be32(nonce)
        + be32(quint32(before.size() / pageSize)) + be32(sector) + be32(quint32(pageSize));
    header.append(sector - header.size(), '\0');
    return count > 0 && testfiles::write(path + QStringLiteral("-journal"), header + records);
}
