#include "awkwardnames.h"

namespace awkwardnames {
QStringList escaping(const QString& absoluteOutside)
{
    return { QStringLiteral("../escaped1.txt"), QStringLiteral("a/../../escaped2.txt"),
        QStringLiteral("..\\escaped3.txt"), QStringLiteral("C:/escaped4.txt"), absoluteOutside };
}

QString dosCyrillic() { return QString::fromUtf8("Книги/Ёжик в тумане, гл.1.fb2"); }

QString unicodeCyrillic() { return QString::fromUtf8("Книги/Война и мир — том 1.fb2"); }

QString unicodeMixed() { return QString::fromUtf8("漫画/ページ №2 «ё».png"); }
}
