#pragma once

#include <QMap>
#include <QString>

// Book-format codes as stored with every library book. 11 has no entry; 12 stands for
// "unknown" (a name that is not in the table).
namespace BookFormat {
enum Code {
    Epub = 0,
    Mobi = 1,
    Fb2 = 2,
    Pdf = 3,
    Djvu = 4,
    Prc = 5,
    Cbz = 6,
    Cbr = 7,
    Txt = 8,
    Zip = 9,
    SevenZ = 10,
    Unknown = 12
};
}

// The code -> name table, built before main and read-only afterwards.
extern const QMap<int, QString> bookFormatMap;

// The first code whose name equals name, case ignored; 12 when none does.
int bookFormatFromName(const QString& name);
// The table's name for the code; "unknown" for any code outside the table.
QString bookFormatName(int code);
