#pragma once

#include <QString>

// Where tests find the project's own files and the built programs.
namespace testpaths {
// The source tree (for the malformed-input regression folder and resources).
QString sourceDir();
// The folder of the built executables and shared libraries (bin/ of the build tree).
QString binDir();
// tests/data/malformed/<area>: inputs that once broke a reader, kept as regression cases.
QString malformedDir(const QString& area);
}
