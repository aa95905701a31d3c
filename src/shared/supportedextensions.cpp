#include "supportedextensions.h"

QStringList supportedExtensions()
{
    return { QStringLiteral("epub"), QStringLiteral("mobi"), QStringLiteral("prc"), QStringLiteral("fb2"),
        QStringLiteral("cbr"), QStringLiteral("cbz"), QStringLiteral("pdf"), QStringLiteral("txt"),
        QStringLiteral("zip"), QStringLiteral("7z") };
}
