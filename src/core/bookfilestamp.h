#pragma once

#include <QByteArray>
#include <QString>

// What a book's data folder was made from: the size, the modification time and a hash of the
// bytes of the book file, kept in a small file of the folder. A copy, a sync or a restore gives
// the same bytes a new time: only another content makes the file another book.
class BookFileStamp {
public:
    enum class Verdict {
        Same, // the file the folder was made from
        NotStamped, // no stamp: the folder was never made from a file
        Replaced, // another content at the same path
    };

    // Compares the book file with the stamp. A file of the stamp's size at another time is hashed
    // (off the GUI thread for a large file, the window kept painting meanwhile): the same bytes are
    // the same book, and the stamp takes the new time. A stamp without a hash (written before
    // hashes were kept) gets one in the background when the file is as stamped.
    static Verdict check(const QString& bookPath, const QString& stampPath);

    // Stamps the folder with the file as it is now; its hash follows in the background. False
    // when the stamp could not be written.
    static bool write(const QString& bookPath, const QString& stampPath);

    // Files up to this size are hashed at once: reading them costs less than a frame.
    static constexpr qint64 kHashAtOnceBytes = 8 * 1024 * 1024;
};
