#pragma once

#include <QString>
#include <QTest>

#include <initializer_list>

// Adds rows of text columns to a data table, one row a line: the row's tag, then one text a
// column (nullptr for a null string).
inline void addTextRows(std::initializer_list<std::initializer_list<const char*>> rows)
{
    for (const auto& row : rows) {
        auto it = row.begin();
        QTestData& data = QTest::newRow(*it);
        while (++it != row.end())
            data << QString::fromUtf8(*it);
    }
}
