#pragma once

#include <QString>

// The PDF engine library's file: its name is set once, in the build, for the binding, the
// engine's own target and the tests.
namespace pdfengine {
// The file name alone ("lib....so").
QString fileName();
// Beside the executable, where the reader finds it.
QString defaultPath();
// The file the PDF document loads: defaultPath() unless set otherwise. Tests, whose executables
// live apart from the engine, set it before the first document is made.
QString libraryPath();
void setLibraryPath(const QString& path);
}
