#include "cutchapterplaces.h"

#include "bookmarkitem.h"
#include "formats/htmlnesting.h"
#include "formats/markupscan.h"
#include "formats/textdocument.h"
#include "noteitem.h"
#include "textbookchapter.h"

#include <QFile>
#include <QRegularExpression>
#include <QUrl>
#include <QtDebug>

namespace {

using namespace markupscan;

// The engine moves a chapter's body into a content element and that into a column container:
// the elements right in the book's body are the container's children.
const QStringList kBodySteps { QStringLiteral("html"), QStringLiteral("body"), QStringLiteral("div"),
    QStringLiteral("div") };
const QString kContainerPath = QStringLiteral("/HTML[1]/BODY[1]/DIV[1]/DIV[1]");

// Elements the parser puts in the head until the body starts.
const Names& headElements()
{
    static const Names names { "base", "basefont", "bgsound", "link", "meta", "noframes", "script", "style", "template",
        "title" };
    return names;
}

// Elements whose content the parser takes as text up to their end tag.
const Names& rawText()
{
    static const Names names = rawTextElements() + Names { "noscript" };
    return names;
}

// One step of an element path, "name[index]" (no index meaning the first), as the engine reads it.
bool parseStep(const QString& step, QString* name, int* index)
{
    static const QRegularExpression pattern(QStringLiteral("^([^\\[\\]]+?)\\s*(?:\\[\\s*(\\d+)\\s*\\])?$"));
    const QRegularExpressionMatch match = pattern.match(step.trimmed());
    if (!match.hasMatch())
        return false;
    *name = match.captured(1).toLower();
    bool ok = true;
    *index = match.capturedLength(2) > 0 ? match.captured(2).toInt(&ok) : 1;
    return ok && *index >= 1;
}

// The character references the parser reads without their ";".
const Names& legacyReferences()
{
    static const Names names { "AElig", "AMP", "Aacute", "Acirc", "Agrave", "Aring", "Atilde", "Auml", "COPY", "Ccedil",
        "ETH", "Eacute", "Ecirc", "Egrave", "Euml", "GT", "Iacute", "Icirc", "Igrave", "Iuml", "LT", "Ntilde", "Oacute",
        "Ocirc", "Ograve", "Oslash", "Otilde", "Ouml", "QUOT", "REG", "THORN", "Uacute", "Ucirc", "Ugrave", "Uuml",
        "Yacute", "aacute", "acirc", "acute", "aelig", "agrave", "amp", "aring", "atilde", "auml", "brvbar", "ccedil",
        "cedil", "cent", "copy", "curren", "deg", "divide", "eacute", "ecirc", "egrave", "eth", "euml", "frac12",
        "frac14", "frac34", "gt", "iacute", "icirc", "iexcl", "igrave", "iquest", "iuml", "laquo", "lt", "macr",
        "micro", "middot", "nbsp", "not", "ntilde", "oacute", "ocirc", "ograve", "ordf", "ordm", "oslash", "otilde",
        "ouml", "para", "plusmn", "pound", "quot", "raquo", "reg", "sect", "shy", "sup1", "sup2", "sup3", "szlig",
        "thorn", "times", "uacute", "ucirc", "ugrave", "uml", "uuml", "yacute", "yen", "yuml" };
    return names;
}

// The length of the longest such reference that [from, to) starts with; 0 for none.
int legacyReferenceLength(const QByteArray& text, int from, int to)
{
    for (int length = qMin(to - from, 6); length >= 2; --length) {
        if (legacyReferences().contains(text.mid(from, length)))
            return length;
    }
    return 0;
}

// The value of a digit in the base, -1 for another character.
int digitValue(char c, int base)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (base == 16 && ((c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F')))
        return (c | 0x20) - 'a' + 10;
    return -1;
}

// Characters (UTF-16 units) of a UTF-8 run of text.
int utf16Length(const char* text, int size)
{
    int length = 0;
    for (int i = 0; i < size; ++i) {
        const uchar c = uchar(text[i]);
        if ((c & 0xc0) != 0x80)
            ++length;
        if (c >= 0xf0)
            ++length;
    }
    return length;
}

// Characters of text (UTF-8, with character references) from the parser's view: a line end as
// one, a reference as the character it stands for.
int textLength(const QByteArray& text, int from, int to)
{
    int length = 0;
    int run = from;
    const auto flush = [&](int at) {
        length += utf16Length(text.constData() + run, at - run);
        run = at;
    };
    for (int i = from; i < to; ++i) {
        const char c = text.at(i);
        if (c == '\r' && i + 1 < to && text.at(i + 1) == '\n') {
            flush(i);
            run = i + 1;
        } else if (c == '&' && i + 2 < to) {
            int end = i + 1;
            uint code = 0;
            const bool numeric = text.at(end) == '#';
            if (numeric) {
                const bool hex = end + 1 < to && (text.at(end + 1) == 'x' || text.at(end + 1) == 'X');
                end += hex ? 2 : 1;
                const int digits = end;
                for (int digit = 0; end < to && (digit = digitValue(text.at(end), hex ? 16 : 10)) >= 0; ++end)
                    code = qMin(code * (hex ? 16 : 10) + uint(digit), 0x110000u);
                // "&#" without digits is text as written.
                if (end == digits)
                    continue;
            } else {
                while (end < to && (isLetter(text.at(end)) || digitValue(text.at(end), 10) >= 0))
                    ++end;
                // A name with its ";" is taken for a known one; without, the longest of the names
                // the parser knows without one stands for its character, and the rest is text.
                if (end == i + 1)
                    continue;
                if (end >= to || text.at(end) != ';') {
                    end = i + 1 + legacyReferenceLength(text, i + 1, end);
                    if (end == i + 1)
                        continue;
                }
            }
            flush(i);
            if (end < to && text.at(end) == ';')
                ++end;
            length += numeric && code > 0xffff && code <= 0x10ffff ? 2 : 1;
            run = end;
            i = end - 1;
        }
    }
    flush(to);
    return length;
}

// The characters of the body's text of an HTML text from `from` on: what stands outside tags and
// comments, and the content of elements whose content is text.
int bodyTextLength(const QByteArray& text, int from)
{
    const int size = text.size();
    int length = 0;
    int i = from;
    while (i < size) {
        const int lt = text.indexOf('<', i);
        const int stop = lt < 0 ? size : lt;
        length += textLength(text, i, stop);
        if (lt < 0 || lt + 1 >= size) {
            length += lt < 0 ? 0 : 1;
            break;
        }
        const char next = text.at(lt + 1);
        const int hidden = hiddenEnd(text, lt);
        if (hidden >= 0) {
            i = hidden;
        } else if (next == '/' && lt + 2 < size && isLetter(text.at(lt + 2))) {
            int nameEnd = lt + 2;
            while (nameEnd < size && isNameChar(text.at(nameEnd)))
                ++nameEnd;
            i = tagEnd(text, nameEnd);
        } else if (isLetter(next)) {
            int nameEnd = lt + 1;
            while (nameEnd < size && isNameChar(text.at(nameEnd)))
                ++nameEnd;
            i = tagEnd(text, nameEnd);
            const QByteArray name = text.mid(lt + 1, nameEnd - lt - 1).toLower();
            // The parser drops a line end right after the start of a block of preformatted text.
            if ((name == "pre" || name == "listing" || name == "textarea") && i < size) {
                if (text.at(i) == '\n')
                    ++i;
                else if (text.at(i) == '\r')
                    i += i + 1 < size && text.at(i + 1) == '\n' ? 2 : 1;
            }
            if (name == "plaintext") {
                length += utf16Length(text.constData() + i, size - i);
                break;
            }
            if (rawText().contains(name)) {
                const int end = rawTextEnd(text, name, i);
                length += name == "textarea" || name == "title" ? textLength(text, i, end)
                                                                : utf16Length(text.constData() + i, end - i);
                i = end;
            }
        } else {
            // A "<" that starts no tag is text.
            ++length;
            i = lt + 1;
        }
    }
    return length;
}

} // namespace

CutChapterPlaces::CutChapterPlaces(const TextDocument& document, const QStringList& placedInParts)
    : m_document(document)
{
    for (const QString& chapter : document.chapters()) {
        const QStringList names = document.chapterParts(chapter);
        if (names.size() < 2)
            continue;
        m_chapters.append(chapter);
        if (placedInParts.contains(chapter, Qt::CaseInsensitive))
            continue;
        QVector<Part> parts(names.size());
        for (int k = 0; k < names.size(); ++k)
            parts[k].name = names.at(k);
        m_parts.insert(chapter.toLower(), parts);
    }
}

const CutChapterPlaces::Part& CutChapterPlaces::part(const QString& whole, int index)
{
    Part& part = m_parts[whole][index];
    if (part.read)
        return part;
    part.read = true;
    QFile file(m_document.chapterFilePath(part.name));
    if (!file.open(QIODevice::ReadOnly)) {
        qWarning() << "Cannot read the part" << file.fileName() << "to find the places stored in it";
        return part;
    }
    part.readable = true;
    const QByteArray text = file.readAll();
    const QVector<HtmlNesting::Element> elements = HtmlNesting::bodyLevelElements(text);
    // The body starts with its tag, or else with the first element the parser puts in it: what
    // comes before, the chapter's head and the style sheets a part begins with, is the head's.
    const int bodyTag = indexOfTag(text, "body");
    int bodyStart = bodyTag < 0 ? text.size() : tagEnd(text, bodyTag + 5);
    for (const HtmlNesting::Element& element : elements) {
        if (element.at < bodyStart && !headElements().contains(element.name))
            bodyStart = element.at;
    }
    for (const HtmlNesting::Element& element : elements) {
        if (element.at < bodyStart)
            continue;
        part.elements[element.name] += 1;
        // The engine puts a span before every line break.
        if (element.name == "br")
            part.elements["span"] += 1;
    }
    part.textLength = bodyTextLength(text, bodyStart);
    return part;
}

int CutChapterPlaces::locate(Place* place)
{
    const QString whole = place->chapter.toLower();
    if (!m_parts.contains(whole))
        return -1;
    QStringList steps = place->path.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    if (steps.size() < 2)
        return -1;
    for (int k = 0; k < qMin(steps.size(), kBodySteps.size()); ++k) {
        QString name;
        int index = 0;
        if (!parseStep(steps.at(k), &name, &index) || name != kBodySteps.at(k) || index != 1)
            return -1;
    }
    const int partCount = m_parts.value(whole).size();
    if (steps.size() <= kBodySteps.size()) {
        // The body or a wrapper of it: an offset into the whole's text.
        int offset = place->offset;
        for (int k = 0; k < partCount; ++k) {
            if (!part(whole, k).readable)
                return -1;
            const int length = part(whole, k).textLength;
            if (offset <= length) {
                place->chapter = m_parts.value(whole).at(k).name;
                place->offset = offset;
                return k;
            }
            offset -= length;
        }
        return -1;
    }
    QString name;
    int index = 0;
    const int step = kBodySteps.size();
    if (!parseStep(steps.at(step), &name, &index))
        return -1;
    const QByteArray key = name.toUtf8();
    for (int k = 0; k < partCount; ++k) {
        if (!part(whole, k).readable)
            return -1;
        const int count = part(whole, k).elements.value(key);
        if (index <= count) {
            const QString written = steps.at(step).trimmed();
            steps[step] = written.left(written.indexOf(QLatin1Char('['))).trimmed() + QStringLiteral("[%1]").arg(index);
            place->chapter = m_parts.value(whole).at(k).name;
            place->path = QLatin1Char('/') + steps.join(QLatin1Char('/'));
            return k;
        }
        index -= count;
    }
    return -1;
}

bool CutChapterPlaces::relocate(Place* place)
{
    Place moved = *place;
    if (locate(&moved) <= 0)
        return false;
    *place = moved;
    return true;
}

bool CutChapterPlaces::relocate(NoteItem* note)
{
    Place start { note->chapter, note->startPath, note->startOffset };
    Place end { note->chapter, note->endPath, note->endOffset };
    const int startPart = locate(&start);
    if (startPart < 0)
        return false;
    if (locate(&end) != startPart) {
        // A note spans one file: it ends where its first part ends.
        end = { start.chapter, kContainerPath, part(note->chapter.toLower(), startPart).textLength };
        qInfo() << "A note ran across the cut of a chapter into parts; it now ends with its first part";
    } else if (startPart == 0) {
        // The first part holds it as the whole did.
        return false;
    }
    note->chapter = start.chapter;
    note->startPath = start.path;
    note->startOffset = start.offset;
    note->endPath = end.path;
    note->endOffset = end.offset;
    // The link stays the one the notes list shares.
    note->link->source = TextBookChapter::readingLink(note->chapter, note->startPath)
        + QStringLiteral("&offset=%1").arg(note->startOffset);
    return true;
}

QString CutChapterPlaces::relocatedSource(const QString& source)
{
    const QLatin1String key("?kelpath=");
    const int at = source.indexOf(key);
    if (at <= 0)
        return source;
    QString path = QUrl::fromPercentEncoding(source.mid(at + key.size()).toUtf8());
    int offset = 0;
    static const QRegularExpression offsetPattern(
        QStringLiteral("&offset=(\\d+)\\s*$"), QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch match = offsetPattern.match(path);
    if (match.hasMatch()) {
        bool ok = false;
        offset = match.captured(1).toInt(&ok);
        if (!ok)
            return source;
        path.truncate(match.capturedStart());
    }
    Place place { source.left(at), path, offset };
    if (!relocate(&place))
        return source;
    return TextBookChapter::readingLink(
        place.chapter, match.hasMatch() ? place.path + QStringLiteral("&offset=%1").arg(place.offset) : place.path);
}

bool CutChapterPlaces::relocate(BookmarkItem* bookmark)
{
    if (!bookmark->link)
        return false;
    const QString source = relocatedSource(bookmark->link->source);
    if (source == bookmark->link->source)
        return false;
    bookmark->link->source = source;
    return true;
}
