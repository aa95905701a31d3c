#pragma once

#include <QByteArray>
#include <QString>

class QDomDocument;

namespace epub {

// Reading the XML files of a book without trusting them: files are read whole only up to
// a size limit, and every document is first walked with a streaming reader, because Qt's
// DOM parser recurses per nesting level and crashes on deeply nested input.
class XmlGuard {
public:
    static constexpr int MaxDepth = 1000;
    static constexpr qint64 MaxFileSize = qint64(64) << 20;
    // Qt's XML readers take time quadratic in one element's attribute count: an element with
    // more attributes than this makes the document count as not well-formed.
    static constexpr int MaxAttributes = 10000;

    enum State { WellFormed, NotWellFormed, TooDeep };

    struct Scan {
        State state = NotWellFormed;
        QString errorString;
        QString doctypePublicId;
        QString doctypeSystemId;
        // The DOCTYPE has an internal subset: its entities and attribute defaults add markup.
        bool internalSubset = false;
        // Set only when the scan was asked to inspect the markup: UnsafeMarkup's rules, or an
        // internal subset.
        bool unsafeMarkup = false;
        int elements = 0;
        // The deepest nesting of elements, the root counted (as far as the scan went).
        int depth = 0;
        // References to entities the document does not declare (&nbsp; without a DTD).
        bool undeclaredEntities = false;
        // Element or attribute names with a prefix other than "xml:" (namespaces unchecked).
        bool prefixedNames = false;

        // The chapter declares an XHTML document type (public or system identifier).
        bool isXhtmlDoctype() const;
    };

    // Undeclared entities (&nbsp; without a DTD) are accepted, as Qt's DOM parser does. With
    // checkNamespaces an undeclared prefix makes the document not well-formed.
    static Scan scan(const QByteArray& data, bool inspectMarkup = false, bool checkNamespaces = false);
    static Scan scan(const QString& text, bool inspectMarkup = false);

    // Replaces the characters XML forbids (the C0 controls but tab, line feed and carriage
    // return), at which an XML parser stops, with spaces: positions stored as offsets into an
    // element's text still count the same characters. UTF-16 (by its mark or its first
    // character) is read in code units; any other encoding is ASCII-compatible, where those
    // bytes are the controls themselves (the shifts and escapes of ISO-2022 are kept). Returns
    // how many were replaced; out receives the result only then.
    static int replaceForbiddenCharacters(const QByteArray& data, QByteArray* out);

    // Whether a tag of the text carries more than MaxAttributes attributes; one linear pass
    // over the characters, made before any XML reader sees them.
    static bool hasCrowdedElement(const QByteArray& data);
    static bool hasCrowdedElement(const QString& text);
    static QString crowdedElementMessage();

    // Reads the whole file; false with error set when it does not open or is larger than
    // MaxFileSize.
    static bool readFile(const QString& path, QByteArray* data, QString* error);

    enum LoadResult { Loaded, CannotOpen, NotXml };
    // readFile, then setContent; a file larger than MaxFileSize counts as not XML. With
    // forceUtf8 the bytes are read as UTF-8 whatever the XML declaration says.
    static LoadResult loadFile(
        const QString& path, bool namespaceProcessing, bool forceUtf8, QDomDocument* doc, QString* error);

    // Scans, then parses into doc; false with error set when the document is not
    // well-formed or too deep.
    static bool setContent(QDomDocument* doc, const QByteArray& data, bool namespaceProcessing, QString* error);
    static bool setContent(QDomDocument* doc, const QString& text, bool namespaceProcessing, QString* error);
};

} // namespace epub
