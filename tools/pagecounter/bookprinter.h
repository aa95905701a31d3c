#pragma once

#include "pagecountprotocol.h"

#include <QList>
#include <QString>
#include <functional>

class ChapterLayout;

// Prints a book page by page as the engine lays it out: each chapter gets the reader's page
// format with one column the size of the printer's paper, black text on white, and every page
// of it is painted onto its own sheet. One print job holds the whole book.
class BookPrinter {
public:
    // Prints into this PDF file when the request names none (checks without a print system).
    static constexpr const char* kOutputVariable = "ZUVEZEDODA_PRINT_FILE";

    BookPrinter(ChapterLayout* layout, const QString& engineScript, std::function<bool()> stopped);

    // The number of pages printed, or -1 when the printer cannot be used.
    int print(const QList<ChapterPageInfo>& chapters, const PrintRequest& request, const QString& fontFamily);

private:
    ChapterLayout* m_layout;
    QString m_engineScript;
    std::function<bool()> m_stopped;
};
