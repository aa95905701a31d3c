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

// The content type a chapter's reply states, by the file's name: XML for ".xhtml", ".xht", ".xml"
// and ".svg" (any case), HTML otherwise, so the view parses the chapter as it was edited.
QByteArray contentType(const QString& fileName);

// The chapter's bytes as its page is served them. In XML every xml-stylesheet instruction is
// renamed, so no XSLT result (a document of the style sheet's making) replaces the chapter. With
// policy, the policy meta goes right after the prolog (HTML: byte-order mark, blanks, comments,
// doctype; the parser puts the meta in the head before anything of the book) or right after the
// root element's start tag (XML), in the chapter's own encoding. The bytes unchanged, with a log
// line, where the encoding or the place cannot be told.
QByteArray served(const QByteArray& data, const QString& fileName, bool policy);

} // namespace chapterpolicy
