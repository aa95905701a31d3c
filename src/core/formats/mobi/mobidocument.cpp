#include "mobidocument.h"

#include "chapterparts.h"
#include "mobi.h"
#include "textpositions.h"

#include "checkedsave.h"
#include "formats/booklink.h"
#include "formats/htmlnesting.h"
#include "formats/inlineruns.h"
#include "formats/markupscan.h"

#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QMap>
#include <QRegularExpression>
#include <QSet>
#include <QTextCodec>

#include <algorithm>

namespace mobi {

namespace {
    // The patterns are built per call: a conversion may run on a pool thread while another
    // runs on the GUI thread.
    QRegularExpression fileposPattern()
    {
        return QRegularExpression(
            QStringLiteral("<a(?: href=\"[^\"]*\"){0,1}[\\s]+filepos=['\"]{0,1}([\\d]+)[\"']{0,1}"),
            QRegularExpression::CaseInsensitiveOption);
    }

    // The image tag with its recindex. Matching stays inside the one tag, so an img tag
    // without recindex cannot swallow the text up to the next image.
    QRegularExpression imagePattern()
    {
        return QRegularExpression(
            QStringLiteral("<img[^>]*?recindex=\"([\\d]*)\"[^>]*?>"), QRegularExpression::CaseInsensitiveOption);
    }

    // Headings: "<hN ...>" (N 1-4) up to the first "</hN>" of the same level (any letter case)
    // that closes within this many characters. Longer or unclosed ones are no headings.
    constexpr int MaxHeadingContent = 65535;
    // An opening tag longer than this is no heading either: it bounds the work per "<h".
    constexpr int MaxHeadingTag = 4096;

    // The level of "h1".."h4" (any letter case) at position at; 0 for anything else.
    int headingLevelAt(const QString& text, int at)
    {
        if (at + 1 >= text.size() || (text.at(at) != QLatin1Char('h') && text.at(at) != QLatin1Char('H')))
            return 0;
        const ushort digit = text.at(at + 1).unicode();
        return digit >= '1' && digit <= '4' ? digit - '0' : 0;
    }

    // The end (after ">") of the opening tag whose attributes start at from; -1 when it has none
    // within reach. Quoted attribute values may hold ">".
    int openingTagEnd(const QString& text, int from)
    {
        const int limit = qMin(text.size(), from + MaxHeadingTag);
        for (int i = from; i < limit; ++i) {
            const QChar c = text.at(i);
            if (c == QLatin1Char('>'))
                return i + 1;
            if (c == QLatin1Char('"') || c == QLatin1Char('\'')) {
                const int close = text.indexOf(c, i + 1);
                if (close < 0 || close >= limit)
                    return -1;
                i = close;
            }
        }
        return -1;
    }

    struct Heading {
        int start;
        int end;
    };

    // Every heading in one pass: the closing tags of each level are listed once, and each
    // opening tag looks up the first closing tag after it, so unclosed headings cost nothing.
    QVector<Heading> findHeadings(const QString& text)
    {
        QVector<int> closers[5];
        for (int i = text.indexOf(QLatin1String("</")); i >= 0; i = text.indexOf(QLatin1String("</"), i + 2)) {
            const int level = headingLevelAt(text, i + 2);
            if (level > 0 && i + 4 < text.size() && text.at(i + 4) == QLatin1Char('>'))
                closers[level].append(i);
        }
        QVector<Heading> headings;
        int resumeAt = 0;
        for (int i = text.indexOf(QLatin1Char('<')); i >= 0; i = text.indexOf(QLatin1Char('<'), i + 1)) {
            const int level = i < resumeAt ? 0 : headingLevelAt(text, i + 1);
            if (level == 0)
                continue;
            const int contentStart = openingTagEnd(text, i + 3);
            if (contentStart < 0)
                continue;
            const QVector<int>& list = closers[level];
            const auto closer = std::lower_bound(list.cbegin(), list.cend(), contentStart);
            if (closer == list.cend() || *closer - contentStart > MaxHeadingContent)
                continue;
            headings.append({ i, *closer + 5 });
            resumeAt = *closer + 5;
        }
        return headings;
    }

    // The name of the tag at "<" position at, in lower case ("/p" for an end tag), and the end of
    // the tag after its ">"; an empty name for anything else.
    QString tagAt(const QString& text, int at, int* end)
    {
        int i = at + 1;
        if (i < text.size() && text.at(i) == QLatin1Char('/'))
            ++i;
        while (i < text.size() && (text.at(i).isLetterOrNumber() || text.at(i) == QLatin1Char(':')))
            ++i;
        *end = openingTagEnd(text, i);
        if (*end < 0 || i == at + 1)
            return QString();
        return text.mid(at + 1, i - at - 1).toLower();
    }

    bool isHeadingTag(const QString& name)
    {
        return name.size() == 2 && name.at(0) == QLatin1Char('h') && name.at(1) >= QLatin1Char('1')
            && name.at(1) <= QLatin1Char('6');
    }

    // Text-level elements a heading may hold, to be closed with it.
    bool isInlineTag(const QString& name)
    {
        static const QStringList names { "a", "abbr", "b", "big", "cite", "code", "del", "dfn", "em", "font", "i",
            "ins", "kbd", "q", "s", "samp", "small", "span", "strike", "strong", "sub", "sup", "tt", "u", "var" };
        return names.contains(name);
    }

    // Tags that start or end a block: a heading still open before one of them ends there.
    bool isBlockBoundary(const QString& name)
    {
        static const QStringList names { "p", "div", "blockquote", "table", "ul", "ol", "dl", "li", "dd", "dt",
            "center", "pre", "hr", "address", "section", "article", "body", "html" };
        const QString bare = name.startsWith(QLatin1Char('/')) ? name.mid(1) : name;
        return isHeadingTag(bare) || names.contains(bare);
    }

    // Elements that show nothing while they hold nothing that shows: text-level formatting, line
    // breaks and anchors. Anything else (an image, a control, an element not known) may show.
    bool showsNothingEmpty(const QString& name)
    {
        static const QSet<QString> names { "a", "abbr", "b", "bdi", "bdo", "big", "br", "cite", "code", "del", "dfn",
            "em", "font", "i", "ins", "kbd", "mark", "nobr", "s", "samp", "small", "span", "strike", "strong", "sub",
            "sup", "time", "tt", "u", "var", "wbr" };
        return names.contains(name);
    }

    // Characters that leave no mark: blanks of every kind, the no-break space too, and the
    // format characters (zero-width spaces and joiners, the soft hyphen).
    bool isInvisible(uint code) { return QChar::isSpace(code) || QChar::category(code) == QChar::Other_Format; }

    // The character of the reference at amp ("&nbsp;", "&#160;", "&#xA0;") and the reference's
    // end; 0 for a reference to anything but a blank or format character, or for no reference.
    uint invisibleReferenceAt(const QString& text, int amp, int* end)
    {
        static const QHash<QString, uint> named { { "nbsp", 0xa0 }, { "ensp", 0x2002 }, { "emsp", 0x2003 },
            { "emsp13", 0x2004 }, { "emsp14", 0x2005 }, { "numsp", 0x2007 }, { "puncsp", 0x2008 }, { "thinsp", 0x2009 },
            { "hairsp", 0x200a }, { "ZeroWidthSpace", 0x200b }, { "zwnj", 0x200c }, { "zwj", 0x200d },
            { "lrm", 0x200e }, { "rlm", 0x200f }, { "MediumSpace", 0x205f }, { "NoBreak", 0x2060 }, { "shy", 0xad },
            { "Tab", 0x9 }, { "NewLine", 0xa } };
        int nameEnd = amp + 1;
        while (nameEnd < text.size() && nameEnd - amp <= 32
            && (text.at(nameEnd).isLetterOrNumber() || text.at(nameEnd) == QLatin1Char('#')))
            ++nameEnd;
        const QStringRef name = text.midRef(amp + 1, nameEnd - amp - 1);
        if (nameEnd >= text.size() || text.at(nameEnd) != QLatin1Char(';')) {
            // The parser takes these legacy names without their semicolon too.
            for (const char* legacy : { "nbsp", "shy" }) {
                if (name.startsWith(QLatin1String(legacy))) {
                    *end = amp + 1 + int(qstrlen(legacy));
                    return named.value(QLatin1String(legacy));
                }
            }
            return 0;
        }
        bool ok = false;
        uint code = 0;
        if (name.startsWith(QLatin1String("#x"), Qt::CaseInsensitive))
            code = name.mid(2).toUInt(&ok, 16);
        else if (name.startsWith(QLatin1Char('#')))
            code = name.mid(1).toUInt(&ok, 10);
        else
            code = named.value(name.toString());
        if (code == 0 || code > 0xffff || !isInvisible(code))
            return 0;
        *end = nameEnd + 1;
        return code;
    }

    // The id and name attributes of one tag: as written, and their values.
    struct Attribute {
        QString written;
        QStringList values;
    };

    // The id and name attributes of the tag in [from, to), read as the parser reads them.
    void collectTargetAttributes(const QString& text, int from, int to, QVector<Attribute>* attributes)
    {
        const QStringRef written = text.midRef(from, to - from);
        if (!written.contains(QLatin1String("id"), Qt::CaseInsensitive)
            && !written.contains(QLatin1String("name"), Qt::CaseInsensitive))
            return;
        const QByteArray tag = written.toUtf8();
        int i = 1;
        while (i < tag.size() && (markupscan::isNameChar(tag.at(i)) || tag.at(i) == '/'))
            ++i;
        Attribute ids;
        markupscan::Attribute attribute;
        for (; markupscan::nextAttribute(tag, i, tag.size(), &attribute); i = attribute.end) {
            if (!markupscan::nameIs(tag, attribute, "id") && !markupscan::nameIs(tag, attribute, "name"))
                continue;
            int begin = 0, end = 0;
            markupscan::attributeValue(tag, attribute, &begin, &end);
            ids.written += (ids.written.isEmpty() ? QString() : QStringLiteral(" "))
                + QString::fromUtf8(tag.mid(attribute.nameBegin, attribute.end - attribute.nameBegin));
            ids.values.append(QString::fromUtf8(tag.mid(begin, end - begin)));
        }
        if (!ids.values.isEmpty())
            attributes->append(ids);
    }

    // Whether the heading whose start tag runs from start to contentStart shows nothing up to the
    // end tag of a heading: only blanks of every kind (as they are or as references), comments
    // and elements that show nothing while they hold nothing that shows. end is set after the
    // end tag; attributes receives the id and name attributes on the way, the heading's own too.
    bool headingShowsNothing(const QString& text, int start, int contentStart, int* end, QVector<Attribute>* attributes)
    {
        QVector<Attribute> found;
        collectTargetAttributes(text, start, contentStart, &found);
        int i = contentStart;
        while (i < text.size()) {
            const QChar c = text.at(i);
            if (c == QLatin1Char('<')) {
                if (text.midRef(i, 4) == QLatin1String("<!--")) {
                    const int close = text.indexOf(QLatin1String("-->"), i + 4);
                    if (close < 0)
                        return false;
                    i = close + 3;
                    continue;
                }
                int tagEnd = -1;
                const QString name = tagAt(text, i, &tagEnd);
                const bool endTag = name.startsWith(QLatin1Char('/'));
                if (endTag && isHeadingTag(name.mid(1))) {
                    *end = tagEnd;
                    *attributes += found;
                    return true;
                }
                if (name.isEmpty() || !showsNothingEmpty(endTag ? name.mid(1) : name))
                    return false;
                if (!endTag)
                    collectTargetAttributes(text, i, tagEnd, &found);
                i = tagEnd;
            } else if (c == QLatin1Char('&')) {
                if (!invisibleReferenceAt(text, i, &i))
                    return false;
            } else if (isInvisible(c.unicode()) && !c.isSurrogate()) {
                ++i;
            } else {
                return false;
            }
        }
        return false;
    }

    // The fragments that links of the text lead to ("#x" in an href).
    QSet<QString> linkTargets(const QString& text)
    {
        QSet<QString> targets;
        const QRegularExpression href(
            QStringLiteral("\\shref\\s*=\\s*[\"']?#([^\"'\\s>]*)"), QRegularExpression::CaseInsensitiveOption);
        QRegularExpressionMatchIterator it = href.globalMatch(text);
        while (it.hasNext()) {
            const QString fragment = it.next().captured(1);
            targets.insert(fragment);
            targets.insert(QUrl::fromPercentEncoding(fragment.toUtf8()));
        }
        return targets;
    }

    // The text with every "<" up to the next ">" taken out.
    QString withoutTags(const QStringRef& text)
    {
        QString out;
        out.reserve(text.size());
        int from = 0;
        for (int lt = text.indexOf(QLatin1Char('<')); lt >= 0; lt = text.indexOf(QLatin1Char('<'), from)) {
            const int gt = text.indexOf(QLatin1Char('>'), lt + 1);
            if (gt < 0)
                break;
            out += text.mid(from, lt - from);
            from = gt + 1;
        }
        out += text.mid(from);
        return out;
    }

    const QString chapterHead
        = QStringLiteral("<head><meta http-equiv=\"Content-Type\" content=\"text/html; charset = utf-8\"/></head>");
}

MobiDocument::MobiDocument(const QString& bookPath, QObject* parent)
    : TextDocument(bookPath, parent)
    , m_mobi(std::make_unique<Mobi>(bookPath))
{
}

MobiDocument::~MobiDocument() = default;

bool MobiDocument::load(const QString& outputFolder)
{
    // A second load replaces what the first one made instead of repeating it.
    clearChapters();
    m_toc.clear();
    m_headingTitles.clear();
    m_headingIds.clear();

    if (!m_mobi->isMobi()) {
        qWarning() << filePath() << "is not a MOBI book: identifier" << m_mobi->mobiHead().identifier();
        return false;
    }
    if (m_mobi->isEncrypted()) {
        qWarning() << filePath() << "is encrypted";
        return false;
    }
    QTextCodec* codec = m_mobi->mobiHead().textCodec();
    if (!codec)
        return false;
    bool ok = false;
    const QByteArray bytes = m_mobi->textBytes(&ok);
    if (!ok || bytes.isEmpty()) {
        qWarning() << filePath() << "has no readable text";
        return false;
    }

    if (!QDir().mkpath(outputFolder)) {
        qWarning() << "Cannot create the folder" << outputFolder;
        return false;
    }
    setBasePath(outputFolder);
    const QString name = QFileInfo(outputFolder).fileName();
    const QString chapterName = name + QStringLiteral(".html");

    const TextPositions positions(bytes, codec);
    const QString html = toHtml(codec->toUnicode(bytes), &positions);

    // Blocks left open by the thousand would nest the whole book into one element.
    const QByteArray head = chapterHead.toUtf8();
    int changes = 0;
    QVector<int> starts;
    QByteArray chapter
        = HtmlNesting::bounded(head + html.toUtf8(), HtmlNesting::Html, &changes, HtmlNesting::MaxDepth, &starts);
    if (changes > 0)
        qInfo() << filePath() << "nests deeper than" << HtmlNesting::MaxDepth << "levels:" << changes
                << "tags closed or dropped";
    // Lines apart by line breaks only would be laid out as one block of the whole book.
    int runs = 0;
    chapter = InlineRuns::blocked(chapter, HtmlNesting::Html, &runs);
    if (runs > 0)
        qInfo() << filePath() << "has" << runs << "long runs of text outside blocks: cut into blocks";

    // A book too large to be laid out as one chapter is cut into several; the first keeps the
    // name of the whole.
    QList<QByteArray> parts = ChapterParts::cut(chapter, head, changes == 0 && runs == 0 ? &starts : nullptr);
    chapter.clear();
    QStringList names { chapterName };
    for (int k = 1; k < parts.size(); ++k)
        names << QStringLiteral("%1_%2.html").arg(name).arg(k + 1, 4, 10, QLatin1Char('0'));
    if (parts.size() > 1) {
        qInfo() << filePath() << "is cut into" << parts.size() << "chapters";
        ChapterParts::resolveLinks(parts, names);
    }
    // The anchors of the headings stand in text order: each is looked for from the last one on.
    int part = 0;
    int from = 0;
    for (int k = 0; k < m_headingTitles.size(); ++k) {
        const QByteArray anchor = "<a id='" + m_headingIds.at(k).toLatin1() + "'>";
        for (int next = part; parts.size() > 1 && next < parts.size(); ++next) {
            const int at = parts.at(next).indexOf(anchor, next == part ? from : 0);
            if (at >= 0) {
                part = next;
                from = at + anchor.size();
                break;
            }
        }
        TocPoint point;
        point.title = m_headingTitles.at(k);
        point.link->source = names.at(part) + QLatin1Char('#') + m_headingIds.at(k);
        m_toc.append(point);
    }
    for (int k = 0; k < parts.size(); ++k) {
        const QString path = QDir::toNativeSeparators(outputFolder + QLatin1Char('/') + names.at(k));
        // Parts are made again on every opening, as the images are: no sync for each.
        if (!checkedsave::writeFile(
                path, parts.at(k), parts.size() > 1 ? checkedsave::NoSync : checkedsave::NoOption)) {
            qWarning() << "Cannot write" << path;
            clearChapters();
            return false;
        }
        addChapter(names.at(k));
    }
    if (parts.size() > 1)
        setChapterParts(chapterName, names);
    saveImages(outputFolder);
    return true;
}

void MobiDocument::saveImages(const QString& outputFolder)
{
    const int count = m_mobi->imageCount();
    for (int i = 0; i < count; ++i) {
        const QImage image = m_mobi->image(i);
        // Records after the images (FLIS, FCIS, end of file) are no images.
        if (image.isNull())
            continue;
        const QString path = QDir::toNativeSeparators(
            outputFolder + QStringLiteral("/pdbrec_%1.jpg").arg(i + 1, 5, 10, QLatin1Char('0')));
        // Rebuilt on every opening: no sync, but never left half-written.
        if (!checkedsave::writeFile(
                path, [&image](QIODevice* device) { return image.save(device, "JPG"); }, checkedsave::NoSync))
            qWarning() << "Cannot write the image" << path;
    }
}

QString MobiDocument::toHtml(const QString& text, const TextPositions* positions)
{
    QString html = insertAnchors(text, positions);
    html.replace(fileposPattern(), QStringLiteral("<a href=\"#\\1\""));
    html.replace(imagePattern(), QStringLiteral("<center><img src=\"pdbrec_\\1.jpg\"></center>"));
    html.replace(QStringLiteral("<mbp:pagebreak/>"), QStringLiteral("<p style=\"page-break-after:always\"></p>"));
    return insertHeadingAnchors(dropEmptyHeadings(closeOpenHeadings(html)));
}

QString MobiDocument::closeOpenHeadings(const QString& text)
{
    // A heading left open, with its font and bold, would hold the rest of the book: the next
    // heading opens inside it, so the chapter nests as deep as it has headings and lays out as
    // one block. Such a heading, and what it opened, is closed where the next block starts.
    QString result;
    int copied = 0;
    QString heading;
    QStringList open;
    for (int i = text.indexOf(QLatin1Char('<')); i >= 0; i = text.indexOf(QLatin1Char('<'), i + 1)) {
        int end = -1;
        const QString name = tagAt(text, i, &end);
        if (name.isEmpty())
            continue;
        if (heading.isEmpty()) {
            if (isHeadingTag(name)) {
                heading = name;
                open.clear();
            }
            i = end - 1;
            continue;
        }
        if (name.startsWith(QLatin1Char('/')) && isHeadingTag(name.mid(1))) {
            // The end of any heading ends the open one.
            heading.clear();
        } else if (isBlockBoundary(name)) {
            if (result.isEmpty())
                result.reserve(text.size() + text.size() / 16);
            result.append(text.midRef(copied, i - copied));
            copied = i;
            for (int k = open.size() - 1; k >= 0; --k)
                result.append(QStringLiteral("</%1>").arg(open.at(k)));
            result.append(QStringLiteral("</%1>").arg(heading));
            heading.clear();
            // The boundary may itself open the next heading.
            if (isHeadingTag(name)) {
                heading = name;
                open.clear();
            }
        } else if (name.startsWith(QLatin1Char('/'))) {
            const int at = open.lastIndexOf(name.mid(1));
            if (at >= 0)
                open.erase(open.begin() + at, open.end());
        } else if (isInlineTag(name) && text.at(end - 2) != QLatin1Char('/')) {
            open.append(name);
        }
        i = end - 1;
    }
    if (copied == 0)
        return text;
    result.append(text.midRef(copied));
    return result;
}

QString MobiDocument::dropEmptyHeadings(const QString& text)
{
    // A heading that shows nothing is no link target of its own, but the web view lays out each
    // one. A real book has a few, and keeps them: dropping one would move the stored element
    // paths of the headings after it.
    struct Empty {
        Heading span;
        QStringList kept; // the id and name attributes, as written, of each element links lead to
    };
    QVector<Empty> empty;
    QVector<QPair<int, Attribute>> ids;
    for (int i = text.indexOf(QLatin1String("<h"), 0, Qt::CaseInsensitive); i >= 0;
         i = text.indexOf(QLatin1String("<h"), i + 2, Qt::CaseInsensitive)) {
        int contentStart = -1;
        if (!isHeadingTag(tagAt(text, i, &contentStart)))
            continue;
        QVector<Attribute> found;
        int end = -1;
        if (!headingShowsNothing(text, i, contentStart, &end, &found))
            continue;
        for (const Attribute& attribute : qAsConst(found))
            ids.append({ empty.size(), attribute });
        empty.append(Empty { { i, end }, {} });
        i = end - 2;
    }
    if (empty.size() <= MaxEmptyHeadings)
        return text;
    // An id or name inside stays where a link leads to it, on an anchor that shows nothing.
    if (!ids.isEmpty()) {
        const QSet<QString> targets = linkTargets(text);
        for (const QPair<int, Attribute>& id : qAsConst(ids)) {
            const QStringList& values = id.second.values;
            if (std::any_of(values.cbegin(), values.cend(), [&](const QString& v) { return targets.contains(v); }))
                empty[id.first].kept.append(id.second.written);
        }
    }
    qInfo() << empty.size() << "empty headings left out of the chapter";
    QString result;
    result.reserve(text.size());
    int copied = 0;
    for (const Empty& heading : qAsConst(empty)) {
        result.append(text.midRef(copied, heading.span.start - copied));
        // "x<<h1></h1>script>" stays text.
        markupscan::escapeDanglingLessThan(&result);
        for (const QString& attribute : heading.kept)
            result.append(QStringLiteral("<a %1></a>").arg(attribute));
        copied = heading.span.end;
    }
    result.append(text.midRef(copied));
    return result;
}

QString MobiDocument::insertAnchors(const QString& text, const TextPositions* positions) const
{
    // Link targets: offset -> digits as written (a later link replaces the text of an earlier one).
    QMap<quint64, QString> targets;
    QRegularExpressionMatchIterator links = fileposPattern().globalMatch(text);
    while (links.hasNext()) {
        const QString digits = links.next().captured(1);
        bool ok = false;
        const uint offset = digits.toUInt(&ok);
        if (ok && offset != 0)
            targets.insert(offset, digits);
    }
    if (targets.isEmpty())
        return text;
    const QHash<quint64, int> mapped = positions ? positions->map(targets.keys()) : QHash<quint64, int>();

    // An anchor goes before the tag its target falls into, or at the target between tags.
    // Targets ascend, so each backward search only covers what the previous one did not.
    QString result;
    result.reserve(text.size() + targets.size() * 48);
    int copied = 0;
    int searchedFrom = 0;
    int bracket = -1;
    for (auto it = targets.cbegin(); it != targets.cend(); ++it) {
        qint64 target = it.key();
        if (positions)
            target = mapped.value(it.key(), -1);
        if (target < 0 || target >= text.size())
            continue;
        const int position = int(target);
        for (int k = position - 1; k >= searchedFrom; --k) {
            if (text.at(k) == QLatin1Char('<') || text.at(k) == QLatin1Char('>')) {
                bracket = k;
                break;
            }
        }
        searchedFrom = position;
        const int insertAt = bracket >= 0 && text.at(bracket) == QLatin1Char('<') ? bracket : position;
        result.append(text.midRef(copied, insertAt - copied));
        copied = insertAt;
        result.append(QStringLiteral("<a id='%1' name='%1'>&nbsp;</a>").arg(it.value()));
    }
    result.append(text.midRef(copied));
    return result;
}

QString MobiDocument::insertHeadingAnchors(const QString& text)
{
    const QVector<Heading> headings = findHeadings(text);
    if (headings.isEmpty())
        return text;
    QString result;
    result.reserve(text.size() + 64 * headings.size());
    int copied = 0;
    for (const Heading& heading : headings) {
        // Contents titles are plain text. A heading without any (an empty one, or one holding
        // only an image or blanks of any kind) is no contents entry: a book can hold hundreds of
        // thousands.
        const QString title
            = decodeCharacterReferences(withoutTags(text.midRef(heading.start, heading.end - heading.start))).trimmed();
        if (std::all_of(title.cbegin(), title.cend(), [](QChar c) { return isInvisible(c.unicode()); }))
            continue;
        const QString id = newBookLinkId();
        result.append(text.midRef(copied, heading.end - copied));
        copied = heading.end;
        result.append(QStringLiteral("<a id='%1'>&nbsp;</a>").arg(id));
        m_headingTitles.append(title);
        m_headingIds.append(id);
    }
    result.append(text.midRef(copied));
    return result;
}

QVariant MobiDocument::loadResource(int type, const QUrl& url)
{
    if (type != ImageResource || url.scheme() != QLatin1String("pdbrec"))
        return QVariant();
    bool ok = false;
    const int number = url.path().mid(1).toUShort(&ok);
    if (!ok || number < 1 || number > m_mobi->imageCount())
        return QVariant();
    return m_mobi->image(number - 1);
}

}
