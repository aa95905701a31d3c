#pragma once

#include "epubbuilder.h"

#include "formats/epub/epubdocument.h"
#include "formats/epub/epubparser.h"

#include <QByteArray>
#include <QScopedPointer>
#include <QString>
#include <QTemporaryDir>

// One generated book converted into a fresh output folder, with the document and parser
// kept for inspection.
class EpubFixture {
public:
    EpubFixture();

    // Writes the book to <temp>/book.epub.
    bool write(const EpubBuilder& builder);
    // Full (or fast) conversion into <temp>/out with a new document and parser.
    epub::EpubError convert(bool fast = false);

    QString bookPath() const { return m_dir.filePath(QStringLiteral("book.epub")); }
    QString outputDir() const { return m_dir.filePath(QStringLiteral("out")); }
    QString tempPath(const QString& relative) const { return m_dir.filePath(relative); }
    // A file of the output folder, path relative to it.
    QString outputFile(const QString& relative) const { return outputDir() + QLatin1Char('/') + relative; }
    QByteArray readOutput(const QString& relative) const;

    epub::EpubDocument& document() { return *m_document; }
    epub::EpubParser& parser() { return *m_parser; }

    static const QByteArray Xhtml11Doctype;
    // A chapter document with the given doctype line (may be empty) and body.
    static QByteArray chapter(const QByteArray& body, const QByteArray& doctype = Xhtml11Doctype);

private:
    QTemporaryDir m_dir;
    QScopedPointer<epub::EpubDocument> m_document;
    QScopedPointer<epub::EpubParser> m_parser;
};

// A contents tree in one line: "label=src(children)", siblings apart by blanks.
QString tocText(const QList<epub::NavPoint>& points);
