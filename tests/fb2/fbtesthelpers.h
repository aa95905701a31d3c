#pragma once

#include <QDomDocument>
#include <QString>

// The namespace declarations every FB2 snippet of the tests is parsed with.
QString fbNamespaces();

// Parses one element (given as XML, namespaces added to its start tag) with the parser the
// loader uses; the document keeps the element alive. Fails the calling test on a parse error.
QDomElement fbElement(const QString& xml, QDomDocument& keeper);

// Parses a whole document with the loader's parser; false (with a warning) on an error.
bool fbParse(const QString& xml, QDomDocument& document);

// A PNG whose header claims width x height pixels, black and white, with real compressed
// rows: small on disk, large when decoded.
QByteArray hugeMonochromePng(int width, int height);
