#pragma once

#include <QByteArray>

// A chapter as a conformant HTML5 parser (gumbo) reads it, without what UnsafeMarkup forbids
// taken out of the parsed tree: script elements, event handlers, javascript: addresses. A tool of
// the tests and benchmarks: the program leaves the decision on what may run to the web view that
// would run it (disarmScripts).
//
// A chapter from which nothing is removed keeps its bytes. Otherwise the tree is written out
// again so that the web view's parser builds the same tree from it, without what was removed:
// text and attribute values escaped, raw-text elements written as they are, void elements
// without end tags, SVG and MathML names in their own case, the document type as written.
//
// Works on any ASCII-compatible encoding: bytes beyond ASCII are kept as they are, characters
// that references stand for are written as references.
//
// The parser cannot be stopped and takes seconds over the largest chapters, so a chapter beyond a
// quarter of a megabyte is parsed on a thread of its own while the caller waits, looking at
// EndRequest: the program's end stops the check at once, and the parse left behind frees what it
// made when it is done.
class HtmlParserCleaner {
public:
    // What clean answers when the program's end stopped it.
    static constexpr int Stopped = -2;
    // A chapter whose check takes a noticeable time (a third of a second and more): logged.
    static constexpr int LargeChapter = 4 << 20;

    // Number of elements and attributes removed; out receives the text to store (the input when
    // none). -1, with out empty, when the parser could not read it: it is not to be shown then.
    // Stopped, with out empty, when the program's end (EndRequest) stopped it: nothing is to be
    // stored then.
    static int clean(const QByteArray& data, QByteArray* out);

    // Parses still running, those whose callers stopped waiting included.
    static int parsesRunning();
    // Called on the parse's thread as it starts (tests end the program there); none by default.
    using Hook = void (*)();
    static void setParseStartHook(Hook hook);
};
