#pragma once

#include <QString>
#include <QStringList>

class QWebSettings;

// The reader's font choices as the web engine can draw them, the same in the reader and in the
// page-counting helper. The engine takes a family only under a name the font database lists
// as it is: it follows none of the system's substitutions ("Courier New" to a look-alike), and
// a family installed twice (as OpenType and Type 1 files) is listed only with its foundry, which
// the engine refuses too. A name it refuses falls back to one sans face, whatever was chosen.
namespace readingfont {

// The families the reader offers, without "Original font", each with an installed face of its
// kind; a family whose kind has no installed face is left out.
QStringList offeredFamilies();

// The installed family the engine draws a chosen family with: the chosen family itself when the
// engine takes it; for an offered family else the face the system's font matching gives it,
// a metric-compatible face, or the usual face of its kind, whichever the engine takes first;
// empty when the kind has no face the engine takes. Other names come back unchanged.
QString installedFamily(const QString& family);

// The CSS generic family of an offered family's kind ("serif", "sans-serif", "monospace"), the
// fallback after its installed face; empty for other names.
QString genericFamily(const QString& family);

// Empty or "Original font" (any case): the book's own fonts.
bool isOriginal(const QString& family);

// The page's standard font for the choice: its installed face, or the engine's own for the
// book's own fonts (and for a choice without an installed face of its kind).
void applyStandardFont(QWebSettings* settings, const QString& family);

} // namespace readingfont
