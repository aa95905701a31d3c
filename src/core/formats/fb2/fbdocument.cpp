#include "fbdocument.h"

#include "arch/safepath.h"
#include "checkedsave.h"
#include "formats/htmlnesting.h"
#include "formats/inlineruns.h"

#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QImageWriter>
#include <QUrl>

namespace {

const QString kBodyHead
    = QStringLiteral("<html><head><meta http-equiv='Content-Type' content='text/html; charset=utf-8'/></head>");
const QString kSectionHead = QStringLiteral("<html><head><meta http-equiv='Content-Type' content='text/html; "
                                            "charset = utf-8'/></head><body class='section'>");
const QString kPageEnd = QStringLiteral("</body></html>");

// The library keeps the book's cover under this name in the book's data folder.
const QString kLibraryCover = QStringLiteral("cover.png");

// A contents row named by its words: about a short heading's length, so that it fits a row.
constexpr int kNameLength = 50;
// How far into untitled sections their shared opening (a converted page's navigation line) is
// looked for, in characters and in blocks.
constexpr int kLeadLength = 4 * kNameLength;
constexpr int kLeadBlocks = 6;

// The keys of a section's opening blocks, one for each count of them, as far as they are whole.
QStringList leadKeys(QStringList blocks, bool cut)
{
    if (cut && !blocks.isEmpty())
        blocks.removeLast();
    QStringList keys;
    QString key;
    for (int k = 0; k < qMin(int(blocks.size()), kLeadBlocks); ++k) {
        key += blocks.at(k) + QLatin1Char('\n');
        keys.append(key);
    }
    return keys;
}

QStringList leadKeys(const fb2::FbSection& section, int limit)
{
    bool cut = false;
    const QStringList blocks = section.leadingBlocks(limit, &cut);
    return leadKeys(blocks, cut);
}

// Words cut at the last blank within kNameLength characters (anywhere within them when that
// would leave little), marked as cut; empty when there are none.
QString shortName(const QString& words)
{
    if (words.size() <= kNameLength)
        return words;
    int cut = words.lastIndexOf(QLatin1Char(' '), kNameLength);
    if (cut < kNameLength / 2) {
        cut = kNameLength;
        if (words.at(cut - 1).isHighSurrogate())
            --cut;
    }
    QString name = words.left(cut);
    while (!name.isEmpty() && (name.back().isSpace() || QStringLiteral(",;:-").contains(name.back())))
        name.chop(1);
    return name + QChar(0x2026);
}

bool isNotesBody(const fb2::FbBody& body)
{
    return body.name == QLatin1String("notes") || body.name == QLatin1String("comments");
}

// Binary ids come from the book: only plain file names become files.
bool isPlainFileName(const QString& id)
{
    return !id.isEmpty() && !id.contains(QLatin1Char('/')) && !id.contains(QLatin1Char('\\'))
        && !id.contains(QLatin1String("..")) && !id.startsWith(QLatin1Char('.'));
}

// Written under a temporary name and renamed when complete, so a reader never sees half a
// page. Pages are rebuilt on every opening, so they are not forced to disk.
bool writePage(const QString& path, const QString& html)
{
    // Text-level elements nested hundreds deep would nest the section into one element.
    int changes = 0;
    const QByteArray page = HtmlNesting::bounded(html.toUtf8(), HtmlNesting::Html, &changes);
    if (changes > 0)
        qInfo() << path << "nests deeper than" << HtmlNesting::MaxDepth << "levels:" << changes << "tags dropped";
    // A poem of thousands of verses is lines apart by line breaks, outside any block.
    int runs = 0;
    const QByteArray blocked = InlineRuns::blocked(page, HtmlNesting::Html, &runs);
    if (runs > 0)
        qInfo() << path << "has" << runs << "long runs of text outside blocks: cut into blocks";
    return checkedsave::writeFile(path, blocked, checkedsave::NoSync).ok();
}

void removeChapterFiles(const QString& folder)
{
    const QFileInfoList files = QDir(folder).entryInfoList(QDir::Files | QDir::Hidden | QDir::System);
    for (const QFileInfo& info : files) {
        // Also a page left half-written when a conversion was cut short.
        if (info.suffix().compare(QLatin1String("html"), Qt::CaseInsensitive) != 0
            && !info.fileName().endsWith(QLatin1String(".html.part"), Qt::CaseInsensitive))
            continue;
        if (!QFile::remove(info.absoluteFilePath()))
            qWarning() << "Cannot remove the old chapter file" << info.absoluteFilePath();
    }
}

// A section's own content cut where its nested sections stand: slice 0 comes before the first
// nested section, slice k + 1 after nested section k.
QStringList contentSlices(const fb2::FbSection& section)
{
    QStringList slices;
    int done = 0;
    for (const fb2::FbSection& nested : section.sections) {
        const int at = qBound(done, nested.contentOffset, section.content.size());
        slices.append(section.content.mid(done, at - done));
        done = at;
    }
    slices.append(section.content.mid(done));
    return slices;
}

} // namespace

namespace fb2 {

// The state of one load: chapter numbering, and the pieces of a parent section's own
// content that belong on a neighbouring section page.
struct FbDocument::Conversion {
    QString folder;
    QString prefix;
    int n = 1;
    bool textBook = false;
    // Heading and leading content of parent sections, for the top of the next section page.
    QString pendingTop;
    // The last section page written in the current body, for parent content that follows it.
    QString lastPath;
    QString lastHtml;
    bool lastChanged = false;
    // Where the book's links lead: "page#anchor" of each section id, by the id as the links
    // write it (escaped). Sections whose heading goes on the next page written wait for its name.
    QHash<QString, QString> targets;
    QList<QPair<QString, QString>> pendingTargets; // escaped id, anchor (empty without a heading)
    // How many untitled sections open with each run of blocks (see leadKeys): an opening they
    // share does not tell them apart, so it is no part of their names.
    QHash<QString, int> leads;
    // Pages with links into the book, as they are to be written once every target is known.
    QHash<QString, QString> linkedPages;

    QString nextName() const { return QStringLiteral("%1_%2.html").arg(prefix).arg(n); }
    QString pathOf(const QString& name) const { return QDir::toNativeSeparators(folder + QLatin1Char('/') + name); }

    // Writes the next section page; its name (and n advances) on success, empty otherwise.
    QString writeSectionPage(const QString& html)
    {
        flushLastPage();
        const QString content = pendingTop + html;
        pendingTop.clear();
        const QString name = nextName();
        const QString path = pathOf(name);
        if (!write(path, kSectionHead + content + kPageEnd)) {
            lastPath.clear();
            pendingTargets.clear();
            return QString();
        }
        settleTargets(name);
        lastPath = path;
        lastHtml = content;
        ++n;
        return name;
    }

    void appendToLastPage(const QString& html)
    {
        if (html.isEmpty())
            return;
        if (lastPath.isEmpty()) {
            qWarning() << "Section content without a page to hold it is left out";
            return;
        }
        lastHtml += html;
        lastChanged = true;
    }

    void flushLastPage()
    {
        if (lastChanged)
            write(lastPath, kSectionHead + lastHtml + kPageEnd);
        lastChanged = false;
    }

    // The section's heading goes on the next page written.
    void addTarget(FbSection& section)
    {
        if (!section.id.isEmpty())
            pendingTargets.append(
                { escapeAttribute(section.id), section.title.isEmpty() ? QString() : section.anchor() });
    }

    void settleTargets(const QString& name)
    {
        const QString page = QString::fromLatin1(QUrl::toPercentEncoding(name));
        for (const auto& pending : qAsConst(pendingTargets)) {
            if (!targets.contains(pending.first))
                targets.insert(
                    pending.first, pending.second.isEmpty() ? page : page + QLatin1Char('#') + pending.second);
        }
        pendingTargets.clear();
    }

    // A page with links into the book is written with their words alone until the links can
    // lead somewhere: should it not be written again, it still reads whole.
    bool write(const QString& path, const QString& page)
    {
        if (!hasInternalLinks(page)) {
            linkedPages.remove(path);
            return writePage(path, page);
        }
        const bool written = writePage(path, resolveInternalLinks(page, {}));
        if (written)
            linkedPages.insert(path, page);
        else
            linkedPages.remove(path);
        return written;
    }

    void writeLinks()
    {
        for (auto it = linkedPages.cbegin(); it != linkedPages.cend(); ++it) {
            if (!writePage(it.key(), resolveInternalLinks(it.value(), targets)))
                qWarning() << "The links of" << it.key() << "lead nowhere: the page could not be written again";
        }
        linkedPages.clear();
    }

    void finishBody()
    {
        flushLastPage();
        lastPath.clear();
        lastHtml.clear();
        pendingTop.clear();
        pendingTargets.clear();
    }
};

FbDocument::FbDocument(const QString& path, QObject* parent)
    : TextDocument(path, parent)
{
}

FbDocument::~FbDocument() = default;

bool FbDocument::load(const QString& outputFolder)
{
    m_outputFolder = outputFolder;
    clearChapters();
    m_toc.clear();
    m_book = FbBook();
    // An empty path would be the working folder, whose HTML files must not be touched.
    if (outputFolder.isEmpty()) {
        qWarning() << "No output folder to convert" << m_filePath << "into";
        return false;
    }
    const QString folder = QDir::cleanPath(outputFolder);
    if (!QDir().mkpath(folder)) {
        qWarning() << "Cannot make the output folder" << folder;
        return false;
    }
    // A book packed in 7z is unpacked beside its chapters, wherever they are written.
    m_book.setDataFolder(folder);
    const bool read = m_book.load(m_filePath, m_encoding);
    if (!read && m_book.bodies.isEmpty()) {
        qWarning() << "Nothing could be read from" << m_filePath;
        return false;
    }

    removeChapterFiles(folder);
    writeBinaries(folder);
    setBasePath(folder);

    Conversion conversion;
    conversion.folder = folder;
    conversion.prefix = QFileInfo(folder).fileName();
    // A text book has no body page. What was read decides, not the path: a text packed in a ZIP
    // or 7z archive has no headings either, and would show a blank page and blank entries.
    conversion.textBook = m_book.isTextBook();
    // Earlier versions wrote a blank body page in front of a packed text, so its page was number 2:
    // reading positions, bookmarks and notes saved then name that file, so it keeps the name.
    if (conversion.textBook && QFileInfo(m_filePath).suffix().compare(QLatin1String("txt"), Qt::CaseInsensitive) != 0)
        conversion.n = 2;
    if (!conversion.textBook) {
        for (const FbBody& body : qAsConst(m_book.bodies))
            countLeads(conversion, body.sections);
    }
    for (int i = 0; i < m_book.bodies.size(); ++i)
        writeBody(conversion, m_book.bodies[i], i == 0);
    conversion.writeLinks();

    if (chapters().isEmpty()) {
        qWarning() << "No chapter of" << m_filePath << "could be written into" << folder;
        return false;
    }
    return true;
}

void FbDocument::writeBinaries(const QString& folder)
{
    const QList<QByteArray> formats = QImageWriter::supportedImageFormats();
    for (auto it = m_book.binaries.cbegin(); it != m_book.binaries.cend(); ++it) {
        const QString& id = it.key();
        const QImage& image = it.value();
        if (image.isNull())
            continue;
        const QString path = isPlainFileName(id) ? safeEntryPath(folder, id) : QString();
        if (path.isEmpty()) {
            qWarning() << "Binary" << id << "of" << m_filePath << "is not written: its id is not a plain file name";
            continue;
        }
        QByteArray format = QFileInfo(id).suffix().toLower().toLatin1();
        // Ids such as "img_3" name no format; the pages refer to the file by its id all the same,
        // and the web view tells the format from the file's bytes.
        if (!formats.contains(format))
            format = "png";
        // The library's cover of the book (possibly one the user chose) is never replaced.
        if (id == kLibraryCover && QFileInfo::exists(path))
            continue;
        const auto save = [&](QIODevice* device) { return image.save(device, format.constData()); };
        if (!checkedsave::writeFile(path, save))
            qWarning() << "Cannot write the image" << path;
    }
}

void FbDocument::writeBody(Conversion& conversion, FbBody& body, bool first)
{
    const bool notes = isNotesBody(body);
    TocPoint entry;
    if (!conversion.textBook) {
        const QString name = conversion.nextName();
        QString page = kBodyHead + (notes ? QStringLiteral("<body class='section notes'>") : QStringLiteral("<body>"));
        if (!body.title.isEmpty())
            page += QStringLiteral("<h2 id='%1'>%2</h2>").arg(body.anchor(), body.title);
        for (const QString& epigraph : qAsConst(body.epigraphs))
            page += QStringLiteral("<p>") + epigraph + QStringLiteral("</p>");
        if (!body.image.isEmpty())
            page += QStringLiteral("<img src='%1'/>").arg(escapeAttribute(body.image));
        else if (first && QFileInfo::exists(conversion.folder + QLatin1Char('/') + kLibraryCover))
            page += QStringLiteral("<img src='%1'/>").arg(kLibraryCover);
        if (notes) {
            for (FbSection& section : body.sections)
                writeNote(conversion, page, name, section, entry);
        }
        page += kPageEnd;
        if (conversion.write(conversion.pathOf(name), page)) {
            conversion.settleTargets(name);
            ++conversion.n;
            addChapter(name);
            body.fileName = name;
        } else {
            conversion.pendingTargets.clear();
            entry = TocPoint(); // the notes it would have listed are not on disk
        }
        // The first note shares this link (it took it while the body's was empty).
        entry.link->source = name;
        entry.title = plainTitle(body.title);
        // The main body without a heading is the book itself.
        if (entry.title.isEmpty())
            entry.title = first ? bookName() : nameFromWords(body.leadingText(kNameLength));
    }
    if (!notes) {
        for (FbSection& section : body.sections)
            writeSection(conversion, section, entry);
    }
    if (conversion.textBook)
        nameTextBookEntry(entry);
    conversion.finishBody();
    m_toc.append(entry);
}

void FbDocument::writeSection(Conversion& conversion, FbSection& section, TocPoint& parent)
{
    TocPoint entry;
    const QStringList slices = contentSlices(section);
    const bool leaf = section.sections.isEmpty();
    conversion.addTarget(section);
    // A section that starts with an image keeps a page of its own for it, ahead of the pages
    // of its nested sections.
    if (leaf || !section.image.isEmpty()) {
        const QString name
            = conversion.writeSectionPage(leaf ? section.toHtml(false) : section.headHtml() + slices.first());
        if (!name.isEmpty()) {
            entry.link->source = name;
            if (parent.link->source.isEmpty())
                parent.link = entry.link;
            addChapter(name);
            section.fileName = name;
        }
    } else {
        conversion.pendingTop += section.headHtml() + slices.first();
    }
    entry.title = plainTitle(section.title);
    // A text's one section is not listed (see nameTextBookEntry).
    if (entry.title.isEmpty() && !conversion.textBook)
        entry.title = untitledName(conversion, section);
    for (int k = 0; k < section.sections.size(); ++k) {
        writeSection(conversion, section.sections[k], entry);
        conversion.appendToLastPage(slices.at(k + 1));
    }
    parent.children.append(entry);
}

void FbDocument::nameTextBookEntry(TocPoint& entry) const
{
    // A text has no headings: without a name its one contents row, the chapter name of every
    // page and each bookmark's chapter would be blank. Its untitled section shares the entry's
    // page and would only repeat it as a blank row, and as the entry that covers every page.
    entry.title = bookName();
    QList<TocPoint> kept;
    for (const TocPoint& child : qAsConst(entry.children)) {
        if (!child.title.isEmpty() || child.link != entry.link || !child.children.isEmpty())
            kept.append(child);
    }
    entry.children = kept;
}

QString FbDocument::bookName() const
{
    const QString title = m_book.title().simplified();
    return title.isEmpty() ? QFileInfo(m_filePath).baseName() : title;
}

// A contents row without words would show only a page number: an entry without a heading is
// named by its first words, or after the book when it has none (pictures only).
QString FbDocument::nameFromWords(const QString& words) const
{
    const QString name = shortName(words);
    return name.isEmpty() ? bookName() : name;
}

void FbDocument::countLeads(Conversion& conversion, const QList<FbSection>& sections)
{
    for (const FbSection& section : sections) {
        if (plainTitle(section.title).isEmpty()) {
            const QStringList keys = leadKeys(section, kLeadLength);
            // A section without words before its first nested one opens with that one's words:
            // they are counted once, for the nested section.
            const FbSection* first = section.sections.isEmpty() ? nullptr : &section.sections.first();
            if (keys.isEmpty() || !first || !plainTitle(first->title).isEmpty()
                || leadKeys(*first, kLeadLength).value(0) != keys.first()) {
                for (const QString& key : keys)
                    ++conversion.leads[key];
            }
        }
        countLeads(conversion, section.sections);
    }
}

QString FbDocument::untitledName(const Conversion& conversion, const FbSection& section) const
{
    // Read far enough that the words after a shared opening can fill a name.
    bool cut = false;
    QStringList blocks = section.leadingBlocks(kLeadLength + kNameLength, &cut);
    const QStringList keys = leadKeys(blocks, cut);
    int shared = 0;
    while (shared < keys.size() && conversion.leads.value(keys.at(shared)) > 1)
        ++shared;
    // A section that is nothing but the shared opening is still named by it.
    if (shared < blocks.size())
        blocks = blocks.mid(shared);
    return nameFromWords(blocks.join(QLatin1Char(' ')));
}

void FbDocument::writeNote(
    Conversion& conversion, QString& page, const QString& fileName, FbSection& section, TocPoint& parent)
{
    section.fileName = fileName;
    conversion.addTarget(section);
    TocPoint entry;
    entry.link->source = fileName + QLatin1Char('#') + section.anchor();
    entry.title = plainTitle(section.title);
    if (entry.title.isEmpty())
        entry.title = untitledName(conversion, section);
    if (parent.link->source.isEmpty())
        parent.link = entry.link;
    // Each nested note once, where it stands in its note's content.
    const QStringList slices = contentSlices(section);
    page += section.headHtml() + slices.first();
    for (int k = 0; k < section.sections.size(); ++k) {
        writeNote(conversion, page, fileName, section.sections[k], entry);
        page += slices.at(k + 1);
    }
    parent.children.append(entry);
}

} // namespace fb2
