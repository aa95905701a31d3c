#include "bookformat.h"

const QMap<int, QString> bookFormatMap = {
    { BookFormat::Epub, QStringLiteral("epub") },
    { BookFormat::Mobi, QStringLiteral("mobi") },
    { BookFormat::Fb2, QStringLiteral("fb2") },
    { BookFormat::Pdf, QStringLiteral("pdf") },
    { BookFormat::Djvu, QStringLiteral("djvu") },
    { BookFormat::Prc, QStringLiteral("prc") },
    { BookFormat::Cbz, QStringLiteral("cbz") },
    { BookFormat::Cbr, QStringLiteral("cbr") },
    { BookFormat::Txt, QStringLiteral("txt") },
    { BookFormat::Zip, QStringLiteral("zip") },
    { BookFormat::SevenZ, QStringLiteral("7z") },
};

int bookFormatFromName(const QString& name)
{
    for (auto it = bookFormatMap.cbegin(); it != bookFormatMap.cend(); ++it) {
        if (it.value().compare(name, Qt::CaseInsensitive) == 0)
            return it.key();
    }
    return BookFormat::Unknown;
}

QString bookFormatName(int code) { return bookFormatMap.value(code, QStringLiteral("unknown")); }
