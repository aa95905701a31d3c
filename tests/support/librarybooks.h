#pragma once

#include <QColor>
#include <QSize>
#include <QString>
#include <QStringList>

// Small real books of every format the library adds, with known metadata and a cover of one
// colour (a test tells the stored cover by its pixels).
namespace librarybooks {

struct BookRecipe {
    QString title = QStringLiteral("A Library Book");
    QString authorFirst = QStringLiteral("Ann");
    QString authorLast = QStringLiteral("Author");
    QString publisher = QStringLiteral("Loom Press");
    QString description = QStringLiteral("A short book for tests.");
    QString language = QStringLiteral("en");
    QSize coverSize = QSize(200, 300); // an empty size writes no cover
    QColor coverColor = QColor(0x33, 0x66, 0xcc);
    int chapters = 2;
    bool outline = false; // a PDF's contents: "Chapter n" leading to page n

    QString author() const { return authorFirst + QLatin1Char(' ') + authorLast; }
};

QStringList suffixes();

// Writes the book in the format its suffix names (zip and 7z hold the FB2 book; a PDF's first
// page is filled with the cover colour); false on failure.
bool write(const QString& path, const BookRecipe& recipe = BookRecipe());

QByteArray coverPng(const BookRecipe& recipe);

} // namespace librarybooks
