#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include "testfiles.h"

// Small helpers shared by the archive reader tests.
namespace archtest {
// Every file and folder below dir, relative to it, sorted ("a", "a/b.txt"); hidden files too,
// so leftover temporary files show up.
QStringList tree(const QString& dir);
// Bytes that do not compress: a fixed-seed random block.
QByteArray noise(int size, quint32 seed = 1);
// An existing folder that takes no new files: candidate made read-only, or, for root (whom
// permissions do not bind), /proc/self, which refuses new files to everyone.
QString readOnlyFolder(const QString& candidate);
// Debug lines of the readers are many and say nothing to a test run.
void silenceDebugOutput();
}
