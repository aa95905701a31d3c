#pragma once

#include <QColor>
#include <QSize>
#include <QString>
#include <QStringList>

// Writes small real books of every format the library adds, each with a known title, author,
// a few metadata and (optionally) a cover picture, for the tests and benchmarks of adding
// books. The cover is one colour, so a test can tell the stored cover by its pixels.
namespace librarybooks {

struct BookSpec {
    QString title = QStringLiteral("A Library Book");
    QString authorFirst = QStringLiteral("Ann");
    QString authorLast = QStringLiteral("Author");
    QString publisher = QStringLiteral("Loom Press");
    QString description = QStringLiteral("A short book for tests.");
    QString language = QStringLiteral("en");
    QSize coverSize = QSize(200, 300); // an empty size writes no cover
    QColor coverColor = QColor(0x33, 0x66, 0xcc);
    int chapters = 2;

    QString author() const { return authorFirst + QLatin1Char(' ') + authorLast; }
};

// The suffixes write() knows: epub, mobi, prc, fb2, txt, pdf, cbz, cbr, zip (an FB2 inside) and
// 7z (an FB2 inside).
QStringList suffixes();

// Writes the book at path, in the format its suffix names; false when it cannot be written.
//   epub   EPUB 2 with title, creator, publisher, description, language and a cover item
//   mobi   MOBI with full name, EXTH author (100), publisher (101), description (103), cover
//   prc    the same book as mobi
//   fb2    FB2 with title-info (title, author, genre, annotation, lang), publisher, cover binary
//   txt    plain text, no metadata and no cover
//   pdf    one page per chapter, information Title, Author, Creator "Loom Writer"; page 1 is
//          filled with the cover colour (the cover is the rendered page)
//   cbz    PNG pages, the first of the cover's size and colour; cbr the same in RAR 4
//   zip/7z the FB2 book as the archive's only entry
bool write(const QString& path, const BookSpec& recipe = BookSpec());

// The encoded cover picture of the recipe (PNG).
QByteArray coverPng(const BookSpec& recipe);

} // namespace librarybooks
