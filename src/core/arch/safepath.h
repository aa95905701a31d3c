#pragma once

#include <QString>

// Joining archive entry names to the folder they are unpacked into. Every reader and every
// caller that turns a name taken from a book or an archive into a file path goes through
// these two functions, so a hostile name can never reach outside the folder.
//
// Rules: backslashes count as separators; empty names, names holding a NUL character,
// absolute names ("/x", "//host/x"), drive names ("C:x", "C:/x") and names that still hold a
// ".." component after cleaning are refused. "a/./b" and "a/../b" are cleaned to "a/b" and
// "b". A name that cleans to the folder itself (".", "./") is refused as well.

// The cleaned relative form of entryName ("dir/file.txt", no leading or trailing slash), or
// an empty string when the name is refused.
QString safeEntryName(const QString& entryName);

// destDir (cleaned) + "/" + the cleaned entry name: a path that lies inside destDir. An
// empty string when the name is refused or destDir is empty. Only the strings are looked
// at; see EntryFile for the checks made on the file system while writing.
QString safeEntryPath(const QString& destDir, const QString& entryName);
