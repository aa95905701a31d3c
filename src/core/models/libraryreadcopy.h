#pragma once

#include <QString>

// The one way a library file is brought into use from anywhere but its own place: the library of
// the older folder, a file read where it cannot be written, a damaged file read for its rows, a
// file checked for whether it is a library at all. SQLite must write to roll back a journal that a
// stopped writer left beside a file; without the journal the file reads as damaged, and without
// the rollback no statement reads at all. So a file is only ever copied together with its journal,
// into a file its owner can write, and SQLite rolls the journal back in the copy; the user's file
// and its journal are only read. A library that cannot be written in its folder is read from such
// a copy, brought up to date, in the run's private temporary folder.
namespace LibraryReadCopy {

// Whether the library file exists and it or its folder cannot be written.
bool needed(const QString& path);

// Whether a journal (or a write-ahead log) lies beside the file: without a copy it cannot be read.
bool hasJournal(const QString& path);

// Copies the file at from, with its journal, to `to` (replacing what is there), as a file its owner
// can write, and rolls the journal back in the copy; with upgrade the copy's schema is then brought
// up to date. False, with the reason in error and nothing left at `to`, when a step fails.
bool copyWhole(const QString& from, const QString& to, bool upgrade, QString* error);

// Brings the schema of a copy made by copyWhole() up to date; false with the reason in error.
bool bringUpToDate(const QString& copy, QString* error);

// The path a copy of the file takes in the run's private temporary folder (made when missing);
// empty, with the reason in error, when there is no such folder.
QString privatePath(const QString& path, const QString& suffix, QString* error);

// A copy of the file in the run's private temporary folder, rolled back and brought up to date;
// the copy's path, or empty with the reason in error.
QString make(const QString& path, QString* error);

// Puts a finished file in the library's place: synced to disk first, then renamed over it in one
// step. False with the reason in error (the finished file is then removed).
bool putInPlace(const QString& finished, const QString& path, QString* error);

// Removes a file and whatever journal SQLite may have left beside it.
void removeWithJournal(const QString& path);

} // namespace LibraryReadCopy
