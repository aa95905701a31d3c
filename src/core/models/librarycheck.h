#pragma once

#include <QString>

// Finds a damaged library file before the library opens it. A full check reads the whole file,
// which on a large library whose file is not in the page cache costs a large part of the start,
// so it runs only when the file may have been damaged since it was last verified: the last run
// did not close the library, the file changed while the program was not running, or the last
// full check is more than a week old. Every other start checks the header, the schema and the
// books table, whose pages the library page reads at once anyway.
class LibraryCheck {
public:
    enum class Depth { Start, Full };
    enum class Verdict { Sound, Damaged, Empty, Foreign, Unknown };

    struct Plan {
        Depth depth = Depth::Full;
        QString reason; // for the log
        qint64 lastFullCheck = 0; // seconds since the epoch; 0: never
    };

    static const qint64 kFullCheckPeriodSecs = 7 * 24 * 3600;

    // The check this start needs for the file at path, now being seconds since the epoch.
    static Plan plan(const QString& path, qint64 now);

    // Damaged only when SQLite says so (no database, faults found), with its text in error. A
    // missing file is sound; a file of 0 bytes is Empty (SQLite would take it for a new library,
    // but one the program made holds at least its schema: the library it held is lost); one that
    // is busy or unreadable for another reason is Unknown and left to the normal opening and its
    // messages. A sound database whose tables are not the library's by their columns (of any version
    // the upgrade knows) is Foreign: another program's file in the library's place. A library of
    // an older version holds the library's tables; one that a stopped first start left holds some
    // of them, or none at all.
    static Verdict check(const QString& path, Depth depth, QString* error);

    // The record of a clean close: written once the library is closed at the end of a run, and
    // removed when it opens, so that a run that never closes it leaves none.
    static QString closeRecordPath(const QString& path);
    static bool recordClose(const QString& path, qint64 lastFullCheck);
    static void forgetClose(const QString& path);

    // Whether an SQLite error (its native code) means a damaged file.
    static bool isDamageCode(const QString& nativeErrorCode);
};
