#pragma once

#include <QString>
#include <QStringList>

namespace fb2 {

// Plain text books are read through a small FB2 document of our own making: the title in the
// description and one paragraph per line in one untitled section.

// The lines of a text, without their line ends ("\n", "\r\n" or a lone "\r"); a final line end
// does not start another line, and an empty text has no lines. A line of more than 16,384
// characters becomes several, cut at sentence ends where it has them.
QStringList splitLines(const QString& text);

// Text escaped for XML: the four characters of QString::toHtmlEscaped become references and
// characters XML does not allow (control characters, unpaired surrogates, U+FFFE, U+FFFF)
// are dropped, so a stray form feed cannot make a whole book unreadable.
QString escapeXmlText(const QString& text);

// The FB2 document of a text book. withDescription false leaves the description out (an
// empty text inside an archive); encoding is only written into the XML declaration.
QString textBookXml(const QStringList& lines, const QString& title, bool withDescription, const QString& encoding);

} // namespace fb2
