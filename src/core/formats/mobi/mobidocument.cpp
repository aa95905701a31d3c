#include "mobidocument.h"

#include "chapterparts.h"
#include "headingmarkup.h"
#include "mobi.h"
#include "textpositions.h"

#include "checkedsave.h"
#include "formats/booklink.h"
#include "formats/endrequest.h"
#include "formats/htmlnesting.h"
#include "formats/inlineruns.h"
#include "formats/markupscan.h"

#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QImage>
#include <QMap>
#include <QPair>
#include <QRegularExpression>
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

    // The MOBI markup turned into HTML: a link by position (the digits), an image tag with its
    // recindex (matching stays inside the one tag, so an img tag without recindex cannot swallow
    // the text up to the next image), and a page break (as written).
    QRegularExpression mobiMarkupPattern()
    {
        return QRegularExpression(fileposPattern().pattern()
                + QStringLiteral("|<img[^>]*?recindex=\"([\\d]*)\"[^>]*?>|(?-i:<mbp:pagebreak/>)"),
            QRegularExpression::CaseInsensitiveOption);
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

    // The stretches of the text the parser reads as text or as a comment, or as part of a tag,
    // in order: the content of raw-text and RCDATA elements (a textarea or a title shows it as
    // written), CDATA in SVG and MathML, comments (a tag put in one could end it), and the inside
    // of a tag that holds a "<" (a tag converted there would change the tag's attributes, or end
    // it early). One pass, tag by tag, with the shared reader and the nesting pass's reading of
    // SVG and MathML.
    QVector<QPair<int, int>> textStretches(const QString& text)
    {
        using namespace markupscan;
        const QVector<HtmlNesting::ForeignStretch> foreign = HtmlNesting::foreignStretches(text);
        QVector<QPair<int, int>> stretches;
        const int size = text.size();
        for (int lt = text.indexOf(QLatin1Char('<')); lt >= 0 && lt + 1 < size;) {
            int next = lt + 1;
            const int hidden = hiddenEnd(text, lt, HtmlNesting::foreignAt(foreign, lt).current);
            const bool endTag
                = text.at(lt + 1) == QLatin1Char('/') && lt + 2 < size && isLetter(latin1(text.at(lt + 2)));
            if (hidden >= 0) {
                next = hidden;
                stretches.append({ lt, hidden });
            } else if (endTag || isLetter(latin1(text.at(lt + 1)))) {
                const int nameStart = lt + (endTag ? 2 : 1);
                const int nameEnd = tagNameEnd(text, nameStart);
                const QByteArray name = text.mid(nameStart, nameEnd - nameStart).toLower().toLatin1();
                next = tagEnd(text, nameEnd);
                for (int i = lt + 1; i < next; ++i) {
                    if (text.at(i) == QLatin1Char('<')) {
                        stretches.append({ lt + 1, next });
                        break;
                    }
                }
                if (!endTag && (name == "plaintext" || rawTextElements().contains(name))
                    && !HtmlNesting::foreignAt(foreign, lt).startsForeign) {
                    const int end = rawTextEnd(text, name, next);
                    stretches.append({ next, end });
                    next = end;
                }
            }
            lt = text.indexOf(QLatin1Char('<'), next);
        }
        return stretches;
    }

    // Links by position, images by record and page breaks as HTML, where the parser reads markup.
    QString convertMarkup(const QString& text)
    {
        // What the parser reads as text, as a comment or as part of a tag stays as written; found
        // once there is something to convert.
        QVector<QPair<int, int>> kept;
        bool looked = false;
        QString html;
        int copied = 0;
        int k = 0;
        QRegularExpressionMatchIterator found = mobiMarkupPattern().globalMatch(text);
        while (found.hasNext()) {
            const QRegularExpressionMatch match = found.next();
            const int at = match.capturedStart();
            if (!looked) {
                kept = textStretches(text);
                looked = true;
            }
            while (k < kept.size() && kept.at(k).second <= at)
                ++k;
            if (k < kept.size() && kept.at(k).first <= at)
                continue;
            if (html.isEmpty())
                html.reserve(text.size() + text.size() / 8);
            html.append(text.midRef(copied, at - copied));
            if (match.capturedStart(1) >= 0)
                html.append(QStringLiteral("<a href=\"#%1\"").arg(match.captured(1)));
            else if (match.capturedStart(2) >= 0)
                html.append(QStringLiteral("<center><img src=\"pdbrec_%1.jpg\"></center>").arg(match.captured(2)));
            else
                html.append(QStringLiteral("<p style=\"page-break-after:always\"></p>"));
            copied = match.capturedEnd();
        }
        if (copied == 0)
            return text;
        html.append(text.midRef(copied));
        return html;
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
    // The program's end stops the conversion between its steps: nothing more is written.
    const auto ending = [this] {
        if (!EndRequest::isRaised())
            return false;
        qInfo() << "The conversion of" << filePath() << "stops: the program ends";
        clearChapters();
        m_toc.clear();
        return true;
    };

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
    if (ending())
        return false;

    if (!QDir().mkpath(outputFolder)) {
        qWarning() << "Cannot create the folder" << outputFolder;
        return false;
    }
    setBasePath(outputFolder);
    const QString name = QFileInfo(outputFolder).fileName();
    const QString chapterName = name + QStringLiteral(".html");

    const TextPositions positions(bytes, codec);
    const QString html = toHtml(codec->toUnicode(bytes), &positions);
    if (ending())
        return false;

    // Blocks left open by the thousand would nest the whole book into one element.
    const QByteArray head = chapterHead.toUtf8();
    int changes = 0;
    QVector<int> starts;
    QByteArray chapter
        = HtmlNesting::bounded(head + html.toUtf8(), HtmlNesting::Html, &changes, HtmlNesting::MaxDepth, &starts);
    if (changes > 0)
        qInfo() << filePath() << "nests deeper than" << HtmlNesting::MaxDepth << "levels:" << changes
                << "tags closed or dropped";
    if (ending())
        return false;
    // Lines apart by line breaks only would be laid out as one block of the whole book.
    int runs = 0;
    chapter = InlineRuns::blocked(chapter, HtmlNesting::Html, &runs);
    if (runs > 0)
        qInfo() << filePath() << "has" << runs << "long runs of text outside blocks: cut into blocks";
    if (ending())
        return false;

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
    if (ending())
        return false;
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
        if (ending())
            return false;
        const QString path = QDir::toNativeSeparators(outputFolder + QLatin1Char('/') + names.at(k));
        // The book's own scripts and handlers stay in the file: the chapter page takes out what
        // could run from the document its web view builds (disarmScripts).
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
    return !ending();
}

void MobiDocument::saveImages(const QString& outputFolder)
{
    const int count = m_mobi->imageCount();
    for (int i = 0; i < count && !EndRequest::isRaised(); ++i) {
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
    m_headingScan = 0;
    QString html = convertMarkup(insertAnchors(text, positions));
    // Each heading pass takes a moment on a book of a million headings.
    if (EndRequest::isRaised())
        return html;
    html = HeadingMarkup::closeOpen(html, &m_headingScan);
    if (EndRequest::isRaised())
        return html;
    html = HeadingMarkup::dropEmpty(html, MaxEmptyHeadings, &m_headingScan);
    if (EndRequest::isRaised())
        return html;
    return insertHeadingAnchors(html);
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
    const QVector<HeadingMarkup::Heading> headings = HeadingMarkup::find(text, &m_headingScan);
    if (headings.isEmpty())
        return text;
    QString result;
    result.reserve(text.size() + 64 * headings.size());
    int copied = 0;
    for (const HeadingMarkup::Heading& heading : headings) {
        // Contents titles are plain text. A heading without any (an empty one, or one holding
        // only an image or blanks of any kind) is no contents entry: a book can hold hundreds of
        // thousands.
        const QString title
            = decodeCharacterReferences(withoutTags(text.midRef(heading.start, heading.end - heading.start))).trimmed();
        if (std::all_of(title.cbegin(), title.cend(), [](QChar c) { return HeadingMarkup::isInvisible(c.unicode()); }))
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
