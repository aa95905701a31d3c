#pragma once

#include "fbbook.h"

#include "formats/textdocument.h"

namespace fb2 {

// The text document of FB2 and plain text books (also the one book inside a ZIP or 7z
// archive). load writes the book's images and one HTML chapter file per body and per section
// without nested sections into the output folder, named "<folder name>_<n>.html" with n
// counting from 1 (2 for a text packed in an archive), and builds the contents from the bodies
// and sections. An entry without a heading is named by its first words, shortened with "…",
// after the opening paragraphs it shares with other such entries (a converted page's navigation
// line); the main body is named by the book's title. A text book has no body page: its one page holds the
// text and its one contents entry is named after the book.
//
// A section that holds sections has no page of its own (unless it starts with an image), but
// nothing of it is lost: its heading, epigraphs and content before its first nested section
// open the first page below it, and its content after a nested section closes that nested
// section's last page.
class FbDocument : public TextDocument {
    Q_OBJECT

public:
    explicit FbDocument(const QString& path, QObject* parent = nullptr);
    ~FbDocument() override;

    // False (with a log line) when the output folder is empty or cannot be made, when nothing
    // of the book could be read, or when no chapter file could be written. Old chapter files
    // of the folder are deleted only once the book has been read.
    bool load(const QString& outputFolder) override;

    // The book as read by the last load.
    const FbBook& book() const { return m_book; }

private:
    struct Conversion;

    void writeBinaries(const QString& folder);
    void writeBody(Conversion& conversion, FbBody& body, bool first);
    void writeSection(Conversion& conversion, FbSection& section, TocPoint& parent);
    void writeNote(
        Conversion& conversion, QString& page, const QString& fileName, FbSection& section, TocPoint& parent);
    // A text book's one entry is named after the book.
    void nameTextBookEntry(TocPoint& entry) const;
    // The book's title, else the file's base name.
    QString bookName() const;
    QString nameFromWords(const QString& words) const;
    // Counts the openings of the untitled sections among these and their nested ones.
    void countLeads(Conversion& conversion, const QList<FbSection>& sections);
    // An untitled section's contents name: its first words after the opening it shares with
    // other untitled sections.
    QString untitledName(const Conversion& conversion, const FbSection& section) const;

    FbBook m_book;
};

} // namespace fb2
