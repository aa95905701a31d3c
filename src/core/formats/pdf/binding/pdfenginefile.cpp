#include "pdfenginefile.h"

#include <QCoreApplication>

namespace pdfengine {

namespace {
    QString& overridePath()
    {
        static QString path;
        return path;
    }
}

QString fileName() { return QStringLiteral(PL_PDF_ENGINE_FILE_NAME); }

QString defaultPath() { return QCoreApplication::applicationDirPath() + QLatin1Char('/') + fileName(); }

QString libraryPath() { return overridePath().isEmpty() ? defaultPath() : overridePath(); }

void setLibraryPath(const QString& path) { overridePath() = path; }

} // namespace pdfengine
