#pragma once

#include "pdfwriter.h"

#include <QString>

// The PDF books the PDF tests share, written into a folder of the test's own.
namespace pdffixtures {

// Three pages. 1: US Letter with a red box at (72, 72) size 144 x 72 points from the top left
// and the lines "Chapter One" and "apples, pears and plums"; 2: A4 (595.276 x 841.89) with
// "Second page, with Commas, inside 3"; 3: US Letter turned by /Rotate 90 with the same red box
// and "Rotated page". Information: title "A Test Book", author "Ann Author", creator
// "Test Writer". Outline: "Part A" (page 1) with "Part A1" (page 2) and "Part A2" (page 3),
// "Part B" (page 3), "No target" (no destination).
PdfWriter book();
extern const QRectF redBox;

// One US Letter page per rotation value, written as given: 0, 90, 180, 270, -90, 450, 45; then
// a page whose crop box (100 100 400 300) lies inside its Letter media box.
PdfWriter rotations();
extern const int rotationValues[7];

// An outline of `count` top-level items "Item <n>", all pointing at page 1.
PdfWriter longOutline(int count);
// An outline nested `depth` levels deep, one item "Level <n>" per level.
PdfWriter deepOutline(int depth);
// An outline whose two items name each other as next, and the first names itself as child.
PdfWriter cyclicOutline();

// Bytes that are no PDF at all, and a real PDF cut off before its cross-reference table.
QByteArray garbage();
QByteArray truncated();

// Writes bytes to a file; the path, or an empty string when it cannot be written.
QString writeFile(const QString& path, const QByteArray& bytes);

} // namespace pdffixtures
