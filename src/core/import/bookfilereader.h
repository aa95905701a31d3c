#pragma once

#include "itemstatus.h"

struct BookDto;

// Turns one book file into a complete library record: the format from the file's suffix, then
// title, author, cover and descriptive metadata from that format's reader. A title or author
// that came with the record (from a library archive, possibly edited by the user) is kept:
// the format's reader fills them only when empty.
//
// Runs on the import worker's thread. It writes only into the book's own data folder (the
// scaled cover, what the EPUB parser unpacks there, comic pages) and never touches the
// database or the models. Failures are the returned status; the record then keeps what it
// had, apart from what the format's branch had already filled.
//
// ignoreExisting: read the book even when its data folder already holds its reading state
// (it was opened before, so it is or was in a library).
ItemStatus readBookFile(BookDto& record, bool ignoreExisting);

// The path of the reading-state file in a book's data folder: named after the folder.
QString readingStateFile(const QString& bookDataFolder);
