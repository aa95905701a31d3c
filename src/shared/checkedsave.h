#pragma once

#include <QByteArray>
#include <QIODevice>
#include <QString>

#include <functional>

// Replaces a file only with complete content. QSaveFile alone is not enough: in Qt 5.15 a
// failed flush inside commit() (a full disk) still renames the short temporary file over the
// good one. Every write and the final flush are checked first; on any failure the temporary
// file is dropped and the previous file stays as it was.
namespace checkedsave {

enum class Failure {
    None,
    NotWritable, // the folder or the file cannot be written (permissions, read-only mount)
    DiskFull,
    Other,
};

struct Result {
    Failure failure = Failure::None;
    QString errorText; // the system's description, for the log and messages

    bool ok() const { return failure == Failure::None; }
    explicit operator bool() const { return ok(); }
};

enum Option {
    NoOption = 0,
    TextMode = 1, // QIODevice::Text
    // Files rebuilt on every opening (converted chapters) skip the sync to disk: one per page
    // makes a long book open slowly. They are still written under a temporary name and renamed
    // only when complete, never through a link that appeared in between.
    NoSync = 2,
};
Q_DECLARE_FLAGS(Options, Option)

// Writes the bytes.
Result writeFile(const QString& path, const QByteArray& data, Options options = NoOption);

// The producer writes into the open device (an image's save(), a stream) and returns whether
// it succeeded; the device's own error state is checked as well.
Result writeFile(const QString& path, const std::function<bool(QIODevice*)>& produce, Options options = NoOption);

// What the file system of path (or its nearest existing folder) says when a write to it fails:
// NotWritable for a folder that cannot be written, DiskFull when no space is left.
Failure classifyFolder(const QString& path);

// A short text for the user: "The folder ... cannot be written", "The disk is full" ...
QString failureText(Failure failure, const QString& path);

// Test seam: while set, a save whose path the predicate accepts fails as if the disk were
// full, after the temporary file was written; pass an empty function to clear it.
void setFailureInjector(const std::function<bool(const QString& path)>& injector);

} // namespace checkedsave

Q_DECLARE_OPERATORS_FOR_FLAGS(checkedsave::Options)
