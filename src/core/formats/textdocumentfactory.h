#pragma once

#include <QString>

class TextDocument;

// A new, unloaded text document for the book file, chosen by its suffix (case ignored):
// epub -> epub::EpubDocument; mobi and prc -> mobi::MobiDocument (which refuses a PRC file
// that is not a MOBI book); fb2 and txt -> fb2::FbDocument. A zip book is judged by the suffix
// of its only entry, a 7z book by the book file inside it. Anything else gets a bare
// TextDocument, whose load fails. Every document is made for the path given (the archive's
// for a zip or 7z book). Never null; no QObject parent: the caller owns it.
TextDocument* createTextDocument(const QString& path);
