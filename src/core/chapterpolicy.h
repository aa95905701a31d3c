#pragma once

#include <QByteArray>
#include <QString>

// The Content-Security-Policy every chapter page is under: no script of the page runs (no script
// element, handler, javascript: address or evaluation of a text), in any document the view makes
// from the chapter; the reading engine runs only through the host's evaluateJavaScript. The view
// reads response headers of http replies only, so the policy is a meta element that the chapter's
// reply carries first inside its root element: a meta binds only what comes after it.
namespace chapterpolicy {

// The policy's text.
QString policy();

// The content type a document's reply states: documenttype::servedType, the type the view gives
// the file's name, with charset=utf-8 (a reply's charset is the one thing besides a byte-order
// mark that decides how the view reads the bytes).
QByteArray contentType(const QString& fileName);

// documenttype::isDocument.
bool isDocument(const QString& fileName);

// A document of the book as a chapter page is served it: decoded by the reader
// (epub::ChapterEncoding::decoded) and written in UTF-8 without a byte-order mark. With policy,
// the policy meta goes right after the prolog (HTML: blanks, comments, doctype; the parser puts
// the meta in the head before anything of the book) or right after the root element's start tag
// (XML). In XML every xml-stylesheet instruction is renamed, so no XSLT result (a document of the
// style sheet's making) replaces the chapter; one that links a CSS file of the book becomes a link
// element after the meta. An XML document whose root is not found, or is a template (whose content
// the view keeps out of the document), is served as the policy alone, with a log line.
QByteArray served(const QByteArray& data, const QString& fileName, bool policy);

} // namespace chapterpolicy
