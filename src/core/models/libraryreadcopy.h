#pragma once

#include <QString>

// A library file that cannot be written is read from a copy of its own. SQLite must write to roll
// back a journal that a stopped writer left beside the file, and to bring an older schema up to
// date; neither may touch the user's file, and without the rollback no statement reads at all. The
// copy, made in the run's temporary folder, is rolled back and brought up to date there, and the
// library then opens it read-only: it reads as it was last committed, and every change is refused
// as the file itself would refuse it.
namespace LibraryReadCopy {

// Whether the library file exists and it or its folder cannot be written.
bool needed(const QString& path);

// Whether a journal (or a write-ahead log) lies beside the file: without a copy it cannot be read.
bool hasJournal(const QString& path);

// Copies the file with its journal, rolls the copy back and brings its schema up to date; the
// copy's path, or empty with the reason in error.
QString make(const QString& path, QString* error);

} // namespace LibraryReadCopy
