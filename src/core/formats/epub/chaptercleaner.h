#pragma once

#include <QByteArray>
#include <QString>

namespace epub {

// Prepares one chapter file for the chapter page: removes scripts, event handlers,
// javascript: links, frames and plugins, and XSLT instructions (UnsafeMarkup), and tells the
// chapter's kind (HTML or XHTML by its document type). The removal is a first filter: the
// chapter page decides on the document its web view built, and takes out whatever is left
// that could run (disarmScripts).
//
// A well-formed chapter read as XML is cleaned through Qt's DOM and written back without
// indentation, so its text keeps every blank; one that the HTML parser shows, or that is not
// well-formed, goes through the tolerant HtmlTextCleaner. A chapter from which nothing is
// removed keeps its bytes, and a rewritten one replaces the old file atomically. Every pass
// reads the chapter in an encoding it can read: one in UTF-16 (or another encoding whose bytes
// are not ASCII) is read, and when rewritten stored, in UTF-8 (ChapterEncoding).
//
// The web view's XML parser stops at the first error and draws an error box over the page.
// Characters XML forbids become spaces first in a chapter it reads (the HTML parser shows
// them, and stored positions count them there); a chapter that is still not well-formed as that
// parser reads it (undeclared prefixes, entities without the DTD it knows) is of kind HTML,
// to be shown by the HTML parser under an HTML name (TextDocument::shownName). An XHTML
// chapter shown so gets end tags for its self-closed elements and keeps its encoding.
class ChapterCleaner {
public:
    enum Outcome {
        Unchanged, // nothing to remove; the file was not written
        Cleaned, // something was removed and the file rewritten
        Skipped, // not to be shown: unreadable, too large, too deep, or the rewrite failed
        Stopped // the program ends (EndRequest): stopped between two passes, nothing written
    };

    struct Result {
        Outcome outcome = Skipped;
        int kind = 1; // TextDocument::KindHtml or KindXhtml
        int removed = 0;
        bool wellFormed = false;
        // Tags closed or dropped because the chapter nested deeper than the reading page
        // lays out (HtmlNesting); such a chapter is Cleaned and rewritten too.
        int flattened = 0;
        // Long runs of text outside any block cut into blocks (InlineRuns); such a chapter is
        // Cleaned and rewritten too.
        int runsCut = 0;
        // Characters XML forbids replaced, changes that let an XHTML chapter be read whole by
        // the HTML parser, and a rewrite in UTF-8; such a chapter is Cleaned and rewritten too.
        int repaired = 0;
        QString reason; // why the chapter is skipped
    };

    // Bounds of a chapter that is cleaned through the DOM; a larger one with something to
    // remove is cleaned as text and skipped.
    static constexpr int MaxDomBytes = 16 << 20;
    static constexpr int MaxDomElements = 200000;

    // renamedByKind: the file is a chapter, to be shown under the name of its kind
    // (TextDocument::shownName); any other document is shown under its own name.
    static Result cleanFile(const QString& path, bool renamedByKind = true);
    // The same on bytes; out receives the chapter as it is to be stored. The file name tells
    // whether the web view will read a well-formed chapter as XML (an XHTML name) or as HTML.
    static Result cleanData(
        const QByteArray& data, QByteArray* out, const QString& fileName = QString(), bool renamedByKind = true);

private:
    // cleanData on a chapter in an encoding the byte passes read (ChapterEncoding).
    static Result cleanReadable(const QByteArray& data, QByteArray* out, const QString& fileName, bool renamedByKind);
    // Removes through the DOM; false when Qt's DOM parser does not accept the data.
    static bool cleanDom(const QByteArray& data, bool dropInternalSubset, QByteArray* out, int* removed);
    // Whether the program's end stops the cleaning here; the result says so then.
    static bool stops(Result* result);
    // Keeps a chapter to be shown from nesting deeper than HtmlNesting's bound, and gives long
    // runs of bare text blocks to be laid out in; the last of the passes that rewrite the chapter.
    // rewritten: a pass after the removal of unsafe parts has already changed it.
    static void boundNesting(
        Result* result, int scannedDepth, const QString& fileName, QByteArray* out, bool rewritten = false);
};

} // namespace epub
