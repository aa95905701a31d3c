#include "textdocumentfactory.h"

#include "arch/sevenzreader.h"
#include "arch/zipreader.h"
#include "formats/epub/epubdocument.h"
#include "formats/fb2/fbbook.h"
#include "formats/fb2/fbdocument.h"
#include "formats/mobi/mobidocument.h"

#include <QFileInfo>

TextDocument* createTextDocument(const QString& path)
{
    QString suffix = QFileInfo(path).suffix().toLower();
    if (suffix == QLatin1String("zip"))
        suffix = ZipReader::singleEntrySuffix(path);
    if (suffix == QLatin1String("7z")) {
        // No document claims to open a 7z book that the FB2 loader would refuse.
        if (!fb2::sevenZipRefusal(path).isEmpty())
            return new TextDocument(path);
        suffix = sevenzreader::instance()->getInternalFileFormat(path);
    }

    if (suffix == QLatin1String("epub"))
        return new epub::EpubDocument(path);
    // The library adds PRC files whose PalmDB header names a MOBI book: they open as MOBI.
    if (suffix == QLatin1String("mobi") || suffix == QLatin1String("prc"))
        return new mobi::MobiDocument(path);
    if (suffix == QLatin1String("fb2") || suffix == QLatin1String("txt"))
        return new fb2::FbDocument(path);
    return new TextDocument(path);
}
