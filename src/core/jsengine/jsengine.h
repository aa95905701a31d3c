#pragma once

#include <QString>
#include <QVariant>

// The reading engine's resources and the small rules every caller of the engine follows:
// how text is put into a call text and how a result is told apart from a failure.
namespace jsengine {

// Registers ":/jsengine/..." (the resources live in a static library). Safe to call often.
void initResources();

// The engine script (":/jsengine/script.js") as UTF-8 text; empty, with a warning, when the
// resource cannot be read.
QString script();

// The engine script followed by its init call for a chapter uid.
QString scriptWithInit(const QString& chapterUid);

// A chapter file larger than this is counted by the page counter in pieces of about kPieceChars
// characters of text (the engine's kelSplitPieces): the layout of a whole long chapter in
// columns takes memory in proportion to its length, a piece of it a bounded amount. The reader
// lays such a chapter out whole, with each piece from the top of a column, so that its pages are
// the ones counted.
constexpr qint64 kPieceFileBytes = 1024 * 1024;
constexpr int kPieceChars = 600 * 1000;
// Whether a chapter file is laid out in pieces; the call that splits it, made after init and
// before the first layout.
bool inPieces(const QString& chapterFile);
QString splitPiecesCall();

// Text escaped for the inside of a single-quoted JavaScript string: backslash, quote, line
// breaks, U+2028/U+2029 and other control characters. No call text is built from raw text.
QString escaped(const QString& text);

// What an evaluated call gave back. A JavaScript null arrives as a valid QVariant holding a
// null string; undefined, a thrown error and an unknown function arrive invalid.
enum class ResultKind {
    Value,
    Null,
    Invalid,
};
ResultKind resultKind(const QVariant& result);

} // namespace jsengine
