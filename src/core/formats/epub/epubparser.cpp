#include "epubparser.h"

#include "encryptioninfo.h"
#include "epubconversion.h"
#include "epubdocument.h"
#include "unsafemarkup.h"
#include "xmlguard.h"

#include "arch/safepath.h"
#include "arch/zipreader.h"
#include "kellogger/tracelogger.h"

#include <QDebug>
#include <QDir>
#include <QDomDocument>
#include <QFile>
#include <QFileInfo>
#include <QRegExp>
#include <QSet>
#include <QUrl>
#include <QVector>

namespace epub {

namespace {

    const QLatin1String XhtmlType("application/xhtml+xml");
    const QLatin1String ContainerEntry("META-INF/container.xml");
    const QLatin1String EncryptionEntry("META-INF/encryption.xml");

    // Element names are matched without their prefix, so a package written with "opf:"
    // prefixes reads like any other.
    QString localNameOf(const QDomElement& element)
    {
        const QString local = element.localName();
        return local.isEmpty() ? UnsafeMarkup::localName(element.nodeName()).toString() : local;
    }

    bool hasName(const QDomElement& element, const char* name, Qt::CaseSensitivity cs = Qt::CaseSensitive)
    {
        return localNameOf(element).compare(QLatin1String(name), cs) == 0;
    }

    // The elements below root with that local name, in document order (no recursion).
    QList<QDomElement> descendants(const QDomNode& root, const char* name, Qt::CaseSensitivity cs)
    {
        QList<QDomElement> found;
        QVector<QDomElement> pending;
        for (QDomElement child = root.lastChildElement(); !child.isNull(); child = child.previousSiblingElement())
            pending.append(child);
        while (!pending.isEmpty()) {
            const QDomElement element = pending.takeLast();
            if (hasName(element, name, cs))
                found.append(element);
            for (QDomElement child = element.lastChildElement(); !child.isNull();
                 child = child.previousSiblingElement())
                pending.append(child);
        }
        return found;
    }

    // An address of the package as the address it is: its fragment and query are cut off before
    // its path is decoded, once, so "c%231.xhtml#p2" names the file "c#1.xhtml" and "c%2541.xhtml"
    // the file "c%41.xhtml". The fragment is decoded as well.
    struct Address {
        QString file;
        QString fragment;
    };

    Address addressOf(const QString& href)
    {
        const int hash = href.indexOf(QLatin1Char('#'));
        QString path = hash < 0 ? href : href.left(hash);
        const int query = path.indexOf(QLatin1Char('?'));
        if (query >= 0)
            path.truncate(query);
        return { QUrl::fromPercentEncoding(path.toUtf8()),
            hash < 0 ? QString() : QUrl::fromPercentEncoding(href.mid(hash + 1).toUtf8()) };
    }

    // A contents link: the file decoded, and its fragment after the first "#" that follows the
    // file's name (TextViewer finds a chapter in a link by its whole name).
    QString linkOf(const Address& address)
    {
        return address.fragment.isEmpty() ? address.file : address.file + QLatin1Char('#') + address.fragment;
    }

    bool isContentDocument(const QString& mediaType)
    {
        return mediaType == XhtmlType || mediaType == QLatin1String("text/html")
            || mediaType == QLatin1String("image/svg+xml");
    }

} // namespace

EpubParser::EpubParser(EpubDocument* document)
    : m_document(document)
{
}

EpubParser::~EpubParser() = default;

EpubError EpubParser::parse(const QString& epubPath, const QString& outputDir, bool fast)
{
    if (fast)
        return fastConvert(epubPath, QDir(outputDir).absolutePath());
    const EpubError error = parseStructure(epubPath, outputDir);
    if (error != NoError)
        return error;
    if (!convertRest())
        return ReadError;
    applyChapterOutcomes();
    return NoError;
}

EpubError EpubParser::parseStructure(const QString& epubPath, const QString& outputDir)
{
    TraceLogger trace(Q_FUNC_INFO, QStringLiteral("Load epub %1").arg(epubPath));
    m_outputDir = QDir::cleanPath(QDir(outputDir).absolutePath());
    m_conversion = std::make_unique<EpubConversion>(epubPath, m_outputDir);
    if (!m_conversion->open()) {
        qCritical().noquote() << QStringLiteral("Error unzip epub:%1").arg(epubPath);
        return ReadError;
    }
    m_conversion->unpack({ ContainerEntry });
    const QString opfEntry = getOpfFilePath(m_outputDir + QLatin1Char('/') + ContainerEntry);
    if (opfEntry.isEmpty() || !setPackageLocation(m_outputDir, opfEntry)) {
        qCritical().noquote() << QStringLiteral("Invalid epub:%1").arg(epubPath);
        return ReadError;
    }
    m_package.setPackageDir(m_opfFolder.isEmpty() ? m_outputDir : m_outputDir + QLatin1Char('/') + m_opfFolder);
    m_conversion->unpack({ m_opfEntry, EncryptionEntry });
    loadMetaData(m_outputDir + QLatin1Char('/') + m_opfEntry);
    assignRoles();

    const QString encryption = m_outputDir + QLatin1Char('/') + EncryptionEntry;
    if (QFileInfo::exists(encryption)) {
        const Protection protection = protectionOf(encryption, [this](const QString& href, QString* file) {
            *file = filePathOf(href, "chapter");
            if (!file->isEmpty())
                m_conversion->unpack({ entryNameOf(href) });
            return true;
        });
        if (protection == Protection::Enciphered)
            return ProtectedError;
    }

    ZipReader reader;
    extractCover(reader, epubPath, m_outputDir);
    unpackHrefs({ ncxFilePath(), navigationDocumentHref() });
    loadContents();
    loadSpine();
    return NoError;
}

void EpubParser::assignRoles()
{
    for (const ManifestItem& item : qAsConst(m_package.manifest)) {
        if (isContentDocument(item.mediaType))
            m_conversion->setRole(entryNameOf(item.href), EpubConversion::Document);
    }
    for (const QString& idref : qAsConst(m_package.spine)) {
        const ManifestItem item = m_package.item(idref);
        if (item.mediaType == XhtmlType)
            m_conversion->setRole(entryNameOf(item.href), EpubConversion::Chapter);
    }
}

void EpubParser::unpackHrefs(const QStringList& hrefs)
{
    QStringList entries;
    for (const QString& href : hrefs) {
        const QString entry = href.isEmpty() ? QString() : entryNameOf(href);
        if (!entry.isEmpty() && m_conversion->contains(entry))
            entries.append(entry);
    }
    if (!entries.isEmpty())
        m_conversion->unpack(entries);
}

bool EpubParser::prepareChapter(const QString& name)
{
    if (!m_conversion || !m_document)
        return false;
    const QString entry = entryNameOf(name);
    const EpubConversion::Outcome outcome = entry.isEmpty() ? EpubConversion::Outcome() : m_conversion->prepare(entry);
    if (!outcome.ready) {
        qWarning() << "The chapter" << name << "can not be shown: it is left out";
        QStringList chapters = m_document->chapters();
        chapters.removeAll(name);
        m_document->clearChapters();
        for (const QString& chapter : qAsConst(chapters))
            m_document->addChapter(chapter);
        return false;
    }
    m_document->setChapterKind(name, outcome.kind);
    return true;
}

void EpubParser::prepareFile(const QString& path)
{
    if (!m_conversion || m_outputDir.isEmpty())
        return;
    const QString relative = QDir(m_outputDir).relativeFilePath(QDir::cleanPath(path));
    const QString entry = relative.startsWith(QLatin1String("../")) ? QString() : safeEntryName(relative);
    if (!entry.isEmpty() && m_conversion->contains(entry))
        m_conversion->prepare(entry);
}

checkedsave::Failure EpubParser::diskFailure() const
{
    return m_conversion ? m_conversion->diskFailure() : checkedsave::Failure::None;
}

bool EpubParser::convertRest() { return m_conversion && m_conversion->convertRest(); }

void EpubParser::convertRestInBackground(const std::function<void(bool ok)>& finished)
{
    if (m_conversion)
        m_conversion->convertRestInBackground(finished);
}

void EpubParser::cancel()
{
    if (m_conversion)
        m_conversion->cancel();
}

void EpubParser::applyChapterOutcomes()
{
    if (!m_document || !m_conversion)
        return;
    const QStringList names = m_document->chapters();
    m_document->clearChapters();
    for (const QString& name : names) {
        const QString entry = entryNameOf(name);
        const EpubConversion::Outcome outcome
            = entry.isEmpty() ? EpubConversion::Outcome() : m_conversion->outcome(entry);
        if (!outcome.ready)
            continue;
        m_document->setChapterKind(name, outcome.kind);
        m_document->addChapter(name);
    }
}

EpubError EpubParser::fastConvert(const QString& epubPath, const QString& outputDir)
{
    m_outputDir = QDir::cleanPath(outputDir);
    ZipReader reader;
    QString containerPath;
    if (!reader.extract(epubPath, QString(ContainerEntry), m_outputDir, containerPath))
        return ReadError;
    const QString opfEntry = getOpfFilePath(containerPath);
    if (opfEntry.isEmpty() || !setPackageLocation(m_outputDir, opfEntry))
        return ReadError;
    QString opfPath;
    if (!reader.extract(epubPath, m_opfEntry, m_outputDir, opfPath) || opfPath.isEmpty()) {
        qCritical() << "Can not extract opf-file";
        return ReadError;
    }
    loadMetaData(opfPath);

    QString encryption;
    if (!reader.extract(epubPath, QString(EncryptionEntry), m_outputDir, encryption))
        return ReadError;
    if (!encryption.isEmpty()) {
        const Protection protection = protectionOf(encryption, [&](const QString& href, QString* file) {
            file->clear();
            const QString entry = entryNameOf(href);
            return entry.isEmpty() || reader.extract(epubPath, entry, m_outputDir, *file);
        });
        if (protection == Protection::ReadFailed)
            return ReadError;
        if (protection == Protection::Enciphered)
            return ProtectedError;
    }
    extractCover(reader, epubPath, m_outputDir);
    return NoError;
}

bool EpubParser::setPackageLocation(const QString& outputDir, const QString& opfEntryName)
{
    const QString entry = safeEntryName(opfEntryName);
    if (entry.isEmpty()) {
        qWarning() << "The package document lies outside the book:" << opfEntryName;
        return false;
    }
    m_outputDir = QDir::cleanPath(outputDir);
    m_opfEntry = entry;
    m_opfFolder = entry.section(QLatin1Char('/'), 0, -2);
    return true;
}

QString EpubParser::entryNameOf(const QString& file) const
{
    if (file.isEmpty() || file.startsWith(QLatin1Char('/')) || file.startsWith(QLatin1Char('\\')))
        return QString();
    return safeEntryName(m_opfFolder.isEmpty() ? file : m_opfFolder + QLatin1Char('/') + file);
}

QString EpubParser::filePathOf(const QString& href, const char* what) const
{
    const QString entry = entryNameOf(href);
    const QString path = entry.isEmpty() ? QString() : safeEntryPath(m_outputDir, entry);
    if (path.isEmpty())
        qWarning().nospace() << "Skipping the " << what << " " << href << ": its path leaves the book";
    return path;
}

QString EpubParser::getOpfFilePath(const QString& containerPath)
{
    QDomDocument document;
    QString error;
    switch (XmlGuard::loadFile(containerPath, false, false, &document, &error)) {
    case XmlGuard::CannotOpen:
        qCritical().noquote() << QStringLiteral("Can not open container: %1").arg(containerPath);
        return QString();
    case XmlGuard::NotXml:
        qCritical() << "Can not set content for xml-doc";
        qWarning().noquote() << containerPath << error;
        return QString();
    case XmlGuard::Loaded:
        break;
    }
    QString opfPath;
    const QList<QDomElement> rootfiles = descendants(document.documentElement(), "rootfile", Qt::CaseInsensitive);
    for (const QDomElement& rootfile : rootfiles) {
        if (rootfile.attribute(QStringLiteral("media-type"))
                .compare(QLatin1String("application/oebps-package+xml"), Qt::CaseInsensitive)
            == 0) {
            opfPath = rootfile.attribute(QStringLiteral("full-path"));
            break;
        }
    }
    qInfo().noquote() << QStringLiteral("OPF path:%1").arg(opfPath);
    return opfPath;
}

void EpubParser::loadMetaData(const QString& opfPath)
{
    qInfo() << "Load meta data. Begin";
    QDomDocument document;
    QString error;
    switch (XmlGuard::loadFile(opfPath, true, false, &document, &error)) {
    case XmlGuard::CannotOpen:
        qCritical().noquote() << QStringLiteral("Load meta data. Error opening file :%1").arg(opfPath);
        return;
    case XmlGuard::NotXml:
        qCritical().noquote() << QStringLiteral("Load meta data. Error loading xml-file :%1").arg(opfPath);
        qWarning().noquote() << error;
        return;
    case XmlGuard::Loaded:
        break;
    }
    qInfo() << "Parse meta data. Begin";
    for (const QDomElement& metadata : descendants(document, "metadata", Qt::CaseSensitive))
        parseMetadata(metadata);
    qInfo() << "Parse meta data. Complete";
    qInfo() << "Parse manifest data. Begin";
    for (const QDomElement& manifest : descendants(document, "manifest", Qt::CaseSensitive))
        parseManifest(manifest);
    qInfo() << "Parse manifest data. Complete";
    qInfo() << "Parse spine data. Begin";
    for (const QDomElement& spine : descendants(document, "spine", Qt::CaseSensitive))
        parseSpine(spine);
    qInfo() << "Parse spine data. Complete";
    qInfo() << "Load meta data. Complete";
}

void EpubParser::parseMetadata(const QDomElement& metadata)
{
    for (QDomElement child = metadata.firstChildElement(); !child.isNull(); child = child.nextSiblingElement()) {
        // Metadata names keep their prefix: "dc:title" is a title, a bare "title" is not.
        const QString name = child.nodeName();
        if (name.toLower() == QLatin1String("meta")) {
            const QString metaName = child.attribute(QStringLiteral("name"));
            const QString content = child.attribute(QStringLiteral("content"));
            if (!metaName.isEmpty() && !content.isEmpty())
                setMetadata(metaName, content);
        } else {
            setMetadata(name, child.text());
        }
    }
}

void EpubParser::setMetadata(const QString& name, const QVariant& value)
{
    m_package.setValue(metadataKind(name), value);
}

void EpubParser::parseManifest(const QDomElement& manifest)
{
    for (const QDomElement& element : descendants(manifest, "item", Qt::CaseSensitive)) {
        ManifestItem item;
        item.id = element.attribute(QStringLiteral("id"));
        item.href = addressOf(element.attribute(QStringLiteral("href"))).file;
        item.mediaType = element.attribute(QStringLiteral("media-type"));
        item.properties = element.attribute(QStringLiteral("properties"));
        m_package.manifest.insert(item.id, item);
        if (item.id.compare(QLatin1String("cover"), Qt::CaseInsensitive) == 0)
            qDebug() << "Cover:" << item.href;
    }
}

void EpubParser::parseSpine(const QDomElement& spine)
{
    m_package.tocId = spine.attribute(QStringLiteral("toc"));
    for (const QDomElement& itemref : descendants(spine, "itemref", Qt::CaseSensitive))
        m_package.spine.append(itemref.attribute(QStringLiteral("idref")));
}

EpubParser::Protection EpubParser::protectionOf(const QString& encryptionPath, const ChapterFile& chapterFile)
{
    switch (EncryptionInfo::readFile(encryptionPath)) {
    case EncryptionInfo::NotEnciphered:
        return Protection::None;
    case EncryptionInfo::Enciphered:
        m_package.isProtected = true;
        return Protection::Enciphered;
    case EncryptionInfo::Unreadable:
        break;
    }
    // No usable list of what is enciphered: an enciphered chapter does not parse, so the
    // first chapter that can be read decides.
    for (const QString& idref : qAsConst(m_package.spine)) {
        const ManifestItem item = m_package.item(idref);
        if (item.mediaType != XhtmlType)
            continue;
        QString path;
        if (!chapterFile(item.href, &path))
            return Protection::ReadFailed;
        QByteArray data;
        QString error;
        if (path.isEmpty() || !XmlGuard::readFile(path, &data, &error))
            continue;
        if (XmlGuard::scan(data).state == XmlGuard::NotWellFormed) {
            m_package.isProtected = true;
            return Protection::Enciphered;
        }
        break;
    }
    return Protection::None;
}

void EpubParser::extractCover(ZipReader& reader, const QString& epubPath, const QString& outputDir)
{
    const QString entry = findCoverEntry(m_conversion ? m_conversion->storedNames() : reader.files(epubPath));
    QString path;
    // In a full conversion the cover is one of the book's entries, unpacked once.
    if (!entry.isEmpty() && m_conversion) {
        if (m_conversion->unpack({ safeEntryName(entry) }))
            path = safeEntryPath(m_outputDir, entry);
    } else if (!entry.isEmpty()) {
        // Only the chosen entry: the name is matched whole and exactly.
        const QRegExp exactName(QLatin1Char('^') + QRegExp::escape(entry) + QLatin1Char('$'), Qt::CaseSensitive);
        if (!reader.extract(epubPath, exactName, outputDir, path))
            path.clear();
    }
    qDebug() << "RESULT COVER PATH:" << path;
    m_package.setCoverPath(path);
}

QString EpubParser::findCoverEntry(const QStringList& entries) const
{
    QStringList files;
    for (const QString& entry : entries) {
        if (!entry.endsWith(QLatin1Char('/')))
            files.append(entry);
    }
    const auto lastMatch = [&files](const QRegExp& pattern) {
        for (int i = files.size() - 1; i >= 0; --i) {
            if (pattern.indexIn(files.at(i)) >= 0)
                return files.at(i);
        }
        return QString();
    };

    for (const QString& candidate : m_package.coverages) {
        if (candidate.isEmpty())
            continue;
        qDebug() << "SEARCH FIRST COVER:" << candidate;
        QString text = candidate;
        QString found;
        if (m_package.manifest.contains(candidate)) {
            const ManifestItem item = m_package.item(candidate);
            qDebug() << "FOUND COVER IN MANIFEST:"
                     << "HREF:" << item.href << " media:" << item.mediaType;
            if (item.mediaType.startsWith(QLatin1String("image/")) && !item.href.isEmpty()) {
                const QString exact = entryNameOf(item.href);
                if (!exact.isEmpty() && files.contains(exact))
                    found = exact;
                // Without its package folder, for books whose manifest gets the folder wrong.
                text = QDir::cleanPath(item.href);
                while (text.startsWith(QLatin1String("../")))
                    text.remove(0, 3);
            }
        }
        if (found.isEmpty()) {
            // The text as a whole trailing part of an entry name, optionally with an image
            // suffix: "cover.jpg" finds "images/cover.jpg" but not "back-cover.jpg".
            found = lastMatch(
                QRegExp(QStringLiteral("(^|/)%1(\\.(jpe?g|png|gif|svg|webp|bmp))?$").arg(QRegExp::escape(text)),
                    Qt::CaseInsensitive));
        }
        if (!found.isEmpty()) {
            qDebug() << "COVER BY MANIFEST FOUND:" << found;
            return found;
        }
        qDebug() << "COVER BY MANIFEST NOT FOUND:" << text;
    }

    qDebug() << "TRY SEARCH COVER...";
    const QString found = lastMatch(QRegExp(QStringLiteral("cover[^/]*\\.(jpg|jpeg|png|svg)$"), Qt::CaseInsensitive));
    if (found.isEmpty())
        qDebug() << "COVER NOT FOUND";
    return found;
}

QString EpubParser::ncxFilePath() const
{
    const QString href = declaredNcxHref();
    return href.isEmpty() ? QStringLiteral("toc.ncx") : href;
}

QString EpubParser::declaredNcxHref() const
{
    QString href;
    if (m_package.manifest.contains(QStringLiteral("ncx")))
        href = m_package.item(QStringLiteral("ncx")).href;
    if (!m_package.tocId.isEmpty() && m_package.manifest.contains(m_package.tocId))
        href = m_package.item(m_package.tocId).href;
    if (href.isEmpty()) {
        for (const ManifestItem& item : m_package.manifest) {
            if (item.mediaType.compare(QLatin1String("application/x-dtbncx+xml"), Qt::CaseInsensitive) == 0
                && item.href.endsWith(QLatin1String(".ncx"), Qt::CaseInsensitive)) {
                href = item.href;
                break;
            }
        }
    }
    return href;
}

QString EpubParser::navigationDocumentHref() const
{
    for (const ManifestItem& item : m_package.manifest) {
        if (item.properties.split(QLatin1Char(' '), Qt::SkipEmptyParts).contains(QLatin1String("nav")))
            return item.href;
    }
    return QString();
}

void EpubParser::loadContents()
{
    // An NCX on disk, or one the package names, is read as it always was; EPUB 3 books
    // without one have their contents in the navigation document.
    const QString ncx = filePathOf(ncxFilePath(), "navigation file");
    const QString nav = navigationDocumentHref();
    if (!ncx.isEmpty() && (QFileInfo(ncx).isFile() || (nav.isEmpty() && !declaredNcxHref().isEmpty())))
        loadTOC(ncx);
    else if (!nav.isEmpty())
        loadNavigationDocument(nav);
    else
        qWarning() << "The book has no contents: neither an NCX nor a navigation document";
}

void EpubParser::loadNavigationDocument(const QString& navHref)
{
    const QString path = filePathOf(navHref, "navigation document");
    if (path.isEmpty())
        return;
    QDomDocument document;
    QString error;
    if (XmlGuard::loadFile(path, true, false, &document, &error) != XmlGuard::Loaded) {
        qWarning().noquote() << QStringLiteral("Cannot read the navigation document %1: %2").arg(navHref, error);
        return;
    }
    const QString navFolder = entryNameOf(navHref).section(QLatin1Char('/'), 0, -2);
    NavPoint root;
    for (const QDomElement& nav : descendants(document, "nav", Qt::CaseInsensitive)) {
        const QString type = nav.attributeNS(QStringLiteral("http://www.idpf.org/2007/ops"), QStringLiteral("type"),
            nav.attribute(QStringLiteral("epub:type")));
        if (!type.split(QLatin1Char(' '), Qt::SkipEmptyParts).contains(QLatin1String("toc")))
            continue;
        for (QDomElement child = nav.firstChildElement(); !child.isNull(); child = child.nextSiblingElement()) {
            if (hasName(child, "ol", Qt::CaseInsensitive)) {
                parseNavList(child, navFolder, root);
                break;
            }
        }
        break;
    }
    if (root.children.isEmpty())
        qWarning() << "The navigation document" << navHref << "has no contents";
    m_toc.append(root);
}

void EpubParser::parseNavList(const QDomElement& list, const QString& navFolder, NavPoint& parent) const
{
    // The guarded parse bounds the nesting, and with it this recursion.
    for (QDomElement item = list.firstChildElement(); !item.isNull(); item = item.nextSiblingElement()) {
        if (!hasName(item, "li", Qt::CaseInsensitive))
            continue;
        NavPoint point;
        bool labelled = false;
        for (QDomElement child = item.firstChildElement(); !child.isNull(); child = child.nextSiblingElement()) {
            if (!labelled
                && (hasName(child, "a", Qt::CaseInsensitive) || hasName(child, "span", Qt::CaseInsensitive))) {
                // An entry's title is its own label; a sub-list written inside the label is the
                // entry's children, not part of its title.
                labelled = true;
                point.label = navLabelText(child).simplified();
                QDomElement link = child;
                if (!link.hasAttribute(QStringLiteral("href")))
                    link = child.firstChildElement(QStringLiteral("a"));
                if (!link.isNull() && link.hasAttribute(QStringLiteral("href")))
                    point.src = navTarget(link.attribute(QStringLiteral("href")), navFolder);
                for (QDomElement inner = child.firstChildElement(); !inner.isNull();
                     inner = inner.nextSiblingElement()) {
                    if (hasName(inner, "ol", Qt::CaseInsensitive) || hasName(inner, "ul", Qt::CaseInsensitive))
                        parseNavList(inner, navFolder, point);
                }
            } else if (hasName(child, "ol", Qt::CaseInsensitive) || hasName(child, "ul", Qt::CaseInsensitive)) {
                parseNavList(child, navFolder, point);
            }
        }
        parent.children.append(point);
    }
}

QString EpubParser::navLabelText(const QDomElement& label)
{
    QString text;
    for (QDomNode node = label.firstChild(); !node.isNull(); node = node.nextSibling()) {
        if (node.isText() || node.isCDATASection()) {
            text += node.toCharacterData().data();
        } else if (node.isElement()) {
            const QDomElement element = node.toElement();
            if (!hasName(element, "ol", Qt::CaseInsensitive) && !hasName(element, "ul", Qt::CaseInsensitive))
                text += navLabelText(element);
        }
    }
    return text;
}

QString EpubParser::navTarget(const QString& href, const QString& navFolder) const
{
    const Address address = addressOf(href);
    const QString& file = address.file;
    // Links into the navigation document itself or off the book lead to no chapter.
    if (file.isEmpty() || !QUrl(file).isRelative())
        return QString();
    const QString entry = file.startsWith(QLatin1Char('/')) || file.startsWith(QLatin1Char('\\'))
        ? QString()
        : safeEntryName(navFolder.isEmpty() ? file : navFolder + QLatin1Char('/') + file);
    QString relative = entry;
    if (!m_opfFolder.isEmpty())
        relative = entry.startsWith(m_opfFolder + QLatin1Char('/')) ? entry.mid(m_opfFolder.size() + 1) : QString();
    if (relative.isEmpty()) {
        qWarning().nospace() << "Skipping the contents link " << href << ": its path leaves the book";
        return QString();
    }
    return linkOf({ relative, address.fragment });
}

void EpubParser::loadTOC(const QString& ncxPath)
{
    QDomDocument document;
    QString error;
    // Read as UTF-8 whatever the declaration says.
    switch (XmlGuard::loadFile(ncxPath, true, true, &document, &error)) {
    case XmlGuard::CannotOpen:
        qCritical().noquote() << QStringLiteral("Load TOC. Error opening ncx-file:%1").arg(ncxPath);
        return;
    case XmlGuard::NotXml:
        qCritical().noquote() << QStringLiteral("Loading TOC. Error loading xml from ncx-file:%1").arg(ncxPath);
        qWarning().noquote() << error;
        return;
    case XmlGuard::Loaded:
        break;
    }
    NavPoint root;
    for (const QDomElement& navMap : descendants(document, "navMap", Qt::CaseSensitive)) {
        for (QDomElement child = navMap.firstChildElement(); !child.isNull(); child = child.nextSiblingElement()) {
            if (hasName(child, "navPoint", Qt::CaseInsensitive))
                parseNavPoint(child, root);
        }
    }
    m_toc.append(root);
}

void EpubParser::parseNavPoint(const QDomElement& element, NavPoint& parent)
{
    // The guarded parse bounds the nesting, and with it this recursion.
    NavPoint point;
    for (QDomElement child = element.firstChildElement(); !child.isNull(); child = child.nextSiblingElement()) {
        if (hasName(child, "navLabel", Qt::CaseInsensitive)) {
            for (QDomElement text = child.firstChildElement(); !text.isNull(); text = text.nextSiblingElement()) {
                if (hasName(text, "text", Qt::CaseInsensitive)) {
                    if (!text.text().isEmpty())
                        point.label = text.text();
                    break;
                }
            }
        } else if (hasName(child, "content", Qt::CaseInsensitive)) {
            point.src = linkOf(addressOf(child.attribute(QStringLiteral("src"))));
        } else if (hasName(child, "navPoint", Qt::CaseInsensitive)) {
            parseNavPoint(child, point);
        }
    }
    parent.children.append(point);
}

void EpubParser::loadSpine()
{
    qDebug() << "EPUB root" << m_package.packageDir();
    if (!m_document)
        return;
    m_document->clearChapters();
    m_document->setBasePath(m_package.packageDir());
    // A file the spine names again (often by another item, with a fragment) is one chapter,
    // where it first came: listed twice, a page turn from its second place would lead back to
    // its first, for ever. Names are matched without case, as the chapter list is. Chapters are
    // cleaned when they are needed (prepareChapter) or with the rest of the book.
    QSet<QString> listed;
    for (const QString& idref : qAsConst(m_package.spine)) {
        const ManifestItem item = m_package.item(idref);
        if (item.mediaType != XhtmlType)
            continue;
        const QString& name = item.href;
        const QString path = filePathOf(name, "chapter");
        if (path.isEmpty())
            continue;
        const QString entry = entryNameOf(name);
        if (m_conversion ? !m_conversion->contains(entry) : !QFileInfo(path).isFile()) {
            qWarning().nospace() << "Can't find spine element: " << name;
            continue;
        }
        if (listed.contains(entry.toLower())) {
            qInfo().nospace() << "The spine names " << item.href << " again: it stays where it came first";
            continue;
        }
        listed.insert(entry.toLower());
        m_document->addChapter(name);
    }
}

} // namespace epub
