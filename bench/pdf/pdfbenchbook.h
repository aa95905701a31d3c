#pragma once

#include <QByteArray>
#include <QString>

// The realistic book the PDF benchmarks render, and MuPDF alone rendering it: the reference
// every PDF rendering path is measured against.
namespace pdfbench {

// 160 Letter pages of body text in two fonts with headings and page numbers, a bar chart every
// fourth page and a photograph-like JPEG every sixth.
extern const int bookPages;
QByteArray makeBook(int pages = bookPages);

// MuPDF alone: loads each page from `first` (from 0) up to `first + pages` and renders it to an
// RGB pixmap at dpi, as a MuPDF-based viewer does; the time in ms, -1 when the file does not open.
qint64 renderWithMuPdf(const QString& path, int first, int pages, int dpi, qint64* pixels);

// Keeps info and debug lines off the output and takes the PDF engine from beside the
// benchmark's build (bin/).
void prepareRun();
// The PDF to measure: `given` when it is not empty, else the book written into `folder` (its
// size and writing time printed); empty when it cannot be written.
QString bookFile(const QString& given, const QString& folder);

} // namespace pdfbench
