#pragma once

#include <QString>

class QDomDocument;

namespace fb2 {

// Parses XML text into a DOM with namespace processing, in one pass over QXmlStreamReader.
// Elements nested deeper than maxDepth are refused before they are built, and so is a
// document type that declares entities (their expansion is unbounded). Unlike
// QDomDocument::setContent, text made only of white space is kept: between two inline
// elements it separates words. The text is already decoded, so the encoding its XML
// declaration names is not looked at. false with a message in error on any failure.
bool parseXml(const QString& text, int maxDepth, QDomDocument* document, QString* error);

// True when the text holds only XML white space (blank, tab, line feed, carriage return).
bool isXmlWhitespace(const QString& text);

} // namespace fb2
