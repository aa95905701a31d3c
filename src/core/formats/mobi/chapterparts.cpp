#include "chapterparts.h"

#include "formats/htmlnesting.h"
#include "formats/markupscan.h"

#include <QSet>
#include <QUrl>
#include <QVector>

#include <algorithm>

namespace mobi {

namespace {

    using namespace markupscan;

    bool headingAt(const QByteArray& text, int at)
    {
        return at + 3 < text.size() && (text.at(at + 1) == 'h' || text.at(at + 1) == 'H') && text.at(at + 2) >= '1'
            && text.at(at + 2) <= '6' && tagNameEnd(text, at + 1) == at + 3;
    }

    // Whether [from, to) holds just an anchor, "<a ...>...</a>" and blanks: a link target put
    // before the element at to, which goes with it.
    bool anchorBefore(const QByteArray& text, int from, int to)
    {
        if (to - from < 7 || qstrnicmp(text.constData() + from, "<a", 2) != 0 || !isBlank(text.at(from + 2)))
            return false;
        int end = to;
        while (end > from && isBlank(text.at(end - 1)))
            --end;
        return end - from >= 7 && qstrnicmp(text.constData() + end - 4, "</a>", 4) == 0
            && text.indexOf('<', from + 1) == end - 4;
    }

    // The style sheets of the text before `to`: the style elements and link tags, as written.
    QByteArray styleSheets(const QByteArray& text, int to)
    {
        QByteArray sheets;
        for (int at = indexOfTag(text, "style", 0, to); at >= 0; at = indexOfTag(text, "style", at + 1, to)) {
            const int close = indexOfTag(text, "/style", at);
            const int end = close < 0 ? -1 : tagEnd(text, close + 7);
            if (end < 0 || end > to)
                break;
            sheets += text.mid(at, end - at);
            at = end - 1;
        }
        for (int at = indexOfTag(text, "link", 0, to); at >= 0; at = indexOfTag(text, "link", at + 1, to))
            sheets += text.mid(at, tagEnd(text, at + 5) - at);
        return sheets;
    }

    // Where to cut the text among its body-level starts: each part within both bounds where a
    // start lets it, before the last heading of the part's second half where there is one.
    QVector<int> chooseCuts(const QByteArray& text, const QVector<int>& starts, const ChapterParts::Bounds& bounds)
    {
        QVector<int> cuts;
        const int count = starts.size();
        int partStart = 0;
        int partFirst = 0; // index of the first start in the part
        while (text.size() - partStart > bounds.partBytes || count - partFirst > bounds.partElements) {
            const int byBytes
                = int(std::upper_bound(starts.cbegin(), starts.cend(), partStart + bounds.partBytes) - starts.cbegin())
                - 1;
            const int reach = qMin(byBytes, partFirst + bounds.partElements);
            // Without a start within reach the part runs on to the next one.
            int cut = partFirst + 1;
            if (reach > partFirst) {
                cut = reach;
                for (int k = reach; k > partFirst; --k) {
                    if (starts.at(k) - partStart < bounds.partBytes / 2 && k - partFirst < bounds.partElements / 2)
                        break;
                    if (headingAt(text, starts.at(k))) {
                        cut = k;
                        while (cut - 1 > partFirst && anchorBefore(text, starts.at(cut - 1), starts.at(cut)))
                            --cut;
                        break;
                    }
                }
            }
            if (cut >= count)
                break;
            cuts.append(starts.at(cut));
            partStart = starts.at(cut);
            partFirst = cut;
        }
        return cuts;
    }

    // Calls found(attribute) for every attribute of every start tag outside raw text.
    template <typename Found> void forEachAttribute(const QByteArray& text, const Found& found)
    {
        const int size = text.size();
        for (int lt = text.indexOf('<'); lt >= 0 && lt + 1 < size; lt = text.indexOf('<', lt + 1)) {
            if (!isLetter(text.at(lt + 1)))
                continue;
            const int nameEnd = tagNameEnd(text, lt + 1);
            const int end = tagEnd(text, nameEnd);
            Attribute attribute;
            for (int i = nameEnd; nextAttribute(text, i, end, &attribute); i = attribute.end)
                found(attribute);
            const QByteArray name = text.mid(lt + 1, nameEnd - lt - 1).toLower();
            lt = rawTextElements().contains(name) ? rawTextEnd(text, name, end) : end - 1;
        }
    }

} // namespace

QList<QByteArray> ChapterParts::cut(
    const QByteArray& chapter, const QByteArray& head, const Bounds& bounds, const QVector<int>* known)
{
    // Every element starts with a "<": a chapter with fewer needs no closer look.
    if (chapter.size() <= bounds.maxBytes && chapter.count('<') <= bounds.maxElements)
        return { chapter };
    QVector<int> starts = known ? *known : HtmlNesting::bodyLevelStarts(chapter);
    // What stands before the body (the chapter's head) is no place to cut.
    const int bodyTag = indexOfTag(chapter, "body");
    const int bodyStart = bodyTag >= 0 ? bodyTag + 1 : head.size();
    starts.erase(starts.begin(), std::lower_bound(starts.begin(), starts.end(), bodyStart));
    if (chapter.size() <= bounds.maxBytes && starts.size() <= bounds.maxElements)
        return { chapter };
    const QVector<int> cuts = chooseCuts(chapter, starts, bounds);
    if (cuts.isEmpty())
        return { chapter };
    const QByteArray prefix = head + styleSheets(chapter, bodyTag >= 0 ? bodyTag : cuts.first());
    QList<QByteArray> parts { chapter.left(cuts.first()) };
    for (int k = 0; k < cuts.size(); ++k) {
        const int end = k + 1 < cuts.size() ? cuts.at(k + 1) : chapter.size();
        parts.append(prefix + chapter.mid(cuts.at(k), end - cuts.at(k)));
    }
    return parts;
}

QHash<QByteArray, int> ChapterParts::resolveLinks(QList<QByteArray>& parts, const QStringList& names)
{
    struct Span {
        int part;
        int begin;
        int end;
    };
    QVector<Span> ids;
    QVector<QVector<Span>> links(parts.size()); // each from its "#"
    for (int k = 0; k < parts.size(); ++k) {
        const QByteArray& text = parts.at(k);
        forEachAttribute(text, [&](const Attribute& attribute) {
            const bool id = nameIs(text, attribute, "id") || nameIs(text, attribute, "name");
            if (!id && !nameIs(text, attribute, "href"))
                return;
            int begin = 0, end = 0;
            attributeValue(text, attribute, &begin, &end);
            if (id)
                ids.append({ k, begin, end });
            else if (begin < end && text.at(begin) == '#')
                links[k].append({ k, begin, end });
        });
    }
    const auto value = [&parts](const Span& span, int skip = 0) {
        return parts.at(span.part).mid(span.begin + skip, span.end - span.begin - skip);
    };
    // Only ids that a link names are looked up: a book may hold hundreds of thousands of others.
    QSet<QByteArray> targets;
    for (const QVector<Span>& partLinks : qAsConst(links)) {
        for (const Span& link : partLinks) {
            targets.insert(value(link, 1));
            targets.insert(QByteArray::fromPercentEncoding(value(link, 1)));
        }
    }
    QHash<QByteArray, int> holders;
    for (const Span& id : qAsConst(ids)) {
        const QByteArray name = value(id);
        if (targets.contains(name) && !holders.contains(name))
            holders.insert(name, id.part);
    }
    for (int k = 0; k < parts.size(); ++k) {
        QByteArray resolved;
        int copied = 0;
        for (const Span& link : qAsConst(links.at(k))) {
            int holder = holders.value(value(link, 1), -1);
            if (holder < 0)
                holder = holders.value(QByteArray::fromPercentEncoding(value(link, 1)), -1);
            if (holder < 0 || holder == k || holder >= names.size())
                continue;
            if (resolved.isEmpty())
                resolved.reserve(parts.at(k).size() + 1024);
            resolved.append(parts.at(k).constData() + copied, link.begin - copied);
            resolved.append(QUrl::toPercentEncoding(names.at(holder)));
            copied = link.begin;
        }
        if (copied > 0) {
            resolved.append(parts.at(k).constData() + copied, parts.at(k).size() - copied);
            parts[k] = resolved;
        }
    }
    return holders;
}

}
