#pragma once

#include <QByteArray>
#include <QString>

// What a file of a book is to the web view by its name: the one rule by which the conversion reads
// a chapter and a chapter page serves it, so that both parse it alike.
namespace documenttype {

// The type the web view gives a file it reads from disk by its name: its own short table of names
// first, then the MIME database by the name's extension; empty when neither knows the name.
QByteArray viewType(const QString& fileName);

// The content type (without a charset) a document of the book is served with: the view's own type
// where the view shows such a file as a page (HTML, XHTML, SVG, XML, XSL, RSS, Atom),
// application/xml for another name the MIME database counts as XML (the view would not show it at
// all), text/html for any other name (".shtml", a chapter without a known name).
QByteArray servedType(const QString& fileName);

// Whether a document of that name is parsed as XML: exactly when it is served as XML.
bool readsAsXml(const QString& fileName);

// Whether a file of the book is, by its name, a document the view would parse as markup (HTML,
// XHTML, SVG or another XML).
bool isDocument(const QString& fileName);

} // namespace documenttype
