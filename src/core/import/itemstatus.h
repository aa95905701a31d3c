#pragma once

#include <QMetaType>

// The outcome of reading one book file for the library, carried by
// bookimporter::itemProcessed. One bit per outcome, so callers may collect several outcomes in
// one mask; the values are fixed, the pages map them to their messages.
enum ItemStatus : int {
    ItemAdded = 0, // the record is complete
    ItemFileMissing = 2,
    ItemProtected = 4, // enciphered (DRM)
    ItemReadFailed = 16,
    ItemUnsupportedFormat = 32,
    ItemUnsupportedArchivedBook = 64, // a 7z archive whose book is neither FB2 nor TXT
    ItemAlreadyInLibrary = 128,
    // Causes that are no fault of the book: they say what to fix instead of "damaged".
    ItemFolderNotWritable = 256, // the library's data folder cannot be written
    ItemDiskFull = 512,
    ItemSeveralBooksInArchive = 1024, // a ZIP archive holding more than one file
};

Q_DECLARE_METATYPE(ItemStatus)

// Keys of a book's descriptive metadata (BookDto::metadata and the database's metadata rows).
enum BookMetaKey : int {
    BookMetaIdentifier = 0,
    BookMetaTitle = 1,
    BookMetaAuthor = 2,
    BookMetaContributor = 3,
    BookMetaSubject = 4,
    BookMetaPublisher = 5,
    BookMetaDescription = 6,
    BookMetaType = 7,
    BookMetaFormat = 8,
    BookMetaSource = 9,
    BookMetaLanguage = 10,
    BookMetaRights = 11,
    // Not the file's: a title or author the user typed in, kept so that a new file at the book's
    // path does not take it back.
    BookMetaUserTitle = 100,
    BookMetaUserAuthor = 101,
};
