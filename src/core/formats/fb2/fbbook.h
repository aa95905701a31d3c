#pragma once

#include "fbdescription.h"
#include "fbsection.h"

#include <QImage>
#include <QList>
#include <QMap>
#include <QString>

#include <initializer_list>

class QDomDocument;
class QDomElement;
class QDomNode;

namespace fb2 {

// Only FB2 and TXT books are read from 7z archives. When the archive holds a book of another
// format, the reason it is refused ("the archive holds an EPUB book; ..."), also logged; empty
// when its book is FB2 or TXT, or when it holds no book at all.
QString sevenZipRefusal(const QString& archivePath);

// True when the ZIP archive holds more than one file: such an archive is a collection, not one
// packed book, and is refused with that cause rather than as a damaged book.
bool zipHoldsSeveralFiles(const QString& archivePath);

// One FB2 book in memory: the decoded images of its binaries, its description and its bodies.
// It reads FB2 files, plain text files (wrapped into a small FB2 document, one paragraph per
// line) and ZIP or 7z archives that hold one such file. Filled by one load, read afterwards;
// not shared between threads.
class FbBook {
public:
    // Files and archive entries above this many bytes are refused.
    static constexpr qint64 kMaxInputBytes = 256LL * 1024 * 1024;
    // Images of more pixels are not decoded.
    static constexpr qint64 kMaxImagePixels = 100LL * 1000 * 1000;
    // Deepest element nesting accepted, in the file and in the readers' own recursion.
    static constexpr int kMaxDepth = 1000;

    // Reads the book at path; true when the whole document was read. codecName names the
    // encoding the user chose for a text book (empty for none); FB2 files declare their own.
    bool load(const QString& path, const QString& codecName);

    // Walks a parsed FB2 document: binaries first, then the description and the bodies.
    bool readDocument(const QDomDocument& document);
    bool readBody(const QDomElement& element);

    // Element converters: each appends to or sets its output and returns false only when a
    // nested reader did (nesting too deep).
    bool readSection(const QDomElement& element, FbSection& section);
    bool readTitle(const QDomElement& element, QString& html);
    bool readEpigraph(const QDomElement& element, QString& html);
    bool readPoem(const QDomElement& element, QString& html);
    bool readStanza(const QDomElement& element, QString& html);
    bool readCite(const QDomElement& element, QString& html);
    bool readInline(const QDomNode& node, QString& html);
    static bool readImageRef(const QDomElement& element, QString& ref);
    bool readBinary(const QDomElement& element);
    static bool readDate(const QDomElement& element, QDate& date);
    static bool elementText(const QDomElement& element, QString& text);

    // Description readers.
    bool readTitleInfo(const QDomElement& element);
    bool readPublishInfo(const QDomElement& element);
    bool readDocumentInfo(const QDomElement& element);
    bool readAuthor(const QDomElement& element, FbAuthor& author);

    // The book title, or when it has none the plain title of the first section.
    QString title() const;
    // The binary the cover page names; else the first binary whose id contains "cover", else
    // the one with the smallest id.
    QImage coverImage() const;
    // "last first middle" of the title-info author.
    QString authorName() const;

    // True when the last load read a plain text, also one packed in a ZIP or 7z archive: its
    // FB2 document is our own wrapping, with one untitled section and no headings.
    bool isTextBook() const { return m_textBook; }

    // The folder a book packed in 7z is unpacked in (a fresh folder inside it, removed once read)
    // in place of the book's data folder, which may not be writable.
    void setDataFolder(const QString& folder) { m_dataFolder = folder; }

    // Lowers the input size limit (tests of the limit use small books).
    void setMaxInputBytes(qint64 bytes) { m_maxInputBytes = bytes; }

    QMap<QString, QImage> binaries;
    FbDescription description;
    QList<FbBody> bodies;

private:
    class DepthGuard;

    bool readSevenZip(const QString& path, const QString& codecName, QString* text);
    bool readZip(const QString& path, const QString& codecName, QString* text);
    bool readFile(const QString& filePath, const QString& codecName, QString* text);
    // Readers of an element whose children are read by tag: a rule's reader (if any) appends
    // the child's HTML, then its literal (if any) follows. Other children are skipped.
    using HtmlReader = bool (FbBook::*)(const QDomElement&, QString&);
    struct ChildRule {
        const char* tag;
        HtmlReader read;
        const char* literal;
    };
    bool readChildren(const QDomElement& element, QString& html, std::initializer_list<ChildRule> rules);
    bool appendParagraph(const QDomElement& element, QString& html);
    bool appendSubtitle(const QDomElement& element, QString& html);
    bool appendInline(const QDomElement& element, QString& html);

    int m_depth = 0;
    bool m_inLink = false;
    bool m_textBook = false;
    qint64 m_maxInputBytes = kMaxInputBytes;
    QString m_dataFolder;
};

} // namespace fb2
