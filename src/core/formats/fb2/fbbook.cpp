// Loading an FB2 book: choosing the input kind, reading and decoding it, walking the document.
#include "fbbook.h"
#include "fbinput.h"
#include "fbplaintext.h"
#include "fbtextcodec.h"
#include "fbxmlreader.h"

#include "appdirs.h"
#include "arch/safepath.h"
#include "arch/sevenzreader.h"
#include "kellogger/tracelogger.h"

#include <QDebug>
#include <QDomDocument>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTextCodec>

#include <quazip/quazip.h>
#include <quazip/quazipfile.h>

namespace {

bool hasSuffix(const QString& fileName, const char* suffix)
{
    return QFileInfo(fileName).suffix().compare(QLatin1String(suffix), Qt::CaseInsensitive) == 0;
}

// A text entry's first line is its title when it is this short.
constexpr int kMaxTextTitle = 60;

} // namespace

namespace fb2 {

QString sevenZipRefusal(const QString& archivePath)
{
    const QString format = sevenzreader::instance()->getInternalFileFormat(archivePath);
    if (format.isEmpty() || format == QLatin1String("fb2") || format == QLatin1String("txt"))
        return QString();
    const QString article = QStringLiteral("aeiou").contains(format.at(0)) ? QStringLiteral("an") : QStringLiteral("a");
    const QString reason
        = QStringLiteral("the archive holds %1 %2 book; only FB2 and TXT books are read from 7z archives")
              .arg(article, format.toUpper());
    qWarning().noquote() << archivePath << ":" << reason;
    return reason;
}

bool zipHoldsSeveralFiles(const QString& archivePath)
{
    QuaZip zip(archivePath);
    if (!zip.open(QuaZip::mdUnzip))
        return false;
    int files = 0;
    for (bool more = zip.goToFirstFile(); more && files < 2; more = zip.goToNextFile()) {
        if (!zip.getCurrentFileName().endsWith(QLatin1Char('/')))
            ++files;
    }
    zip.close();
    return files > 1;
}

bool FbBook::load(const QString& path, const QString& codecName)
{
    TraceLogger trace(Q_FUNC_INFO, QStringLiteral("Load fb2 %1").arg(path));
    QString text;
    bool ok = false;
    m_textBook = false;
    if (hasSuffix(path, "7z"))
        ok = readSevenZip(path, codecName, &text);
    else if (hasSuffix(path, "zip"))
        ok = readZip(path, codecName, &text);
    else
        ok = readFile(path, codecName, &text);
    if (!ok)
        return false;

    QDomDocument document;
    QString error;
    if (!parseXml(text, kMaxDepth, &document, &error)) {
        qWarning() << "Cannot parse" << path << ":" << error;
        return false;
    }
    text.clear();
    if (!readDocument(document)) {
        qWarning() << "Cannot read the FB2 document" << path;
        return false;
    }
    return true;
}

// A plain file, also the one unpacked from a 7z archive. A text file's codec is the named
// one, else the guess (a byte-order mark, BOM-less UTF-16, valid UTF-8, then the statistics):
// legacy text must not turn into replacement characters.
bool FbBook::readFile(const QString& filePath, const QString& codecName, QString* text)
{
    QByteArray bytes;
    if (!readFileCapped(filePath, m_maxInputBytes, &bytes))
        return false;
    if (!hasSuffix(filePath, "txt")) {
        *text = decodeText(bytes, fb2Codec(bytes));
        return true;
    }
    QTextCodec* codec = codecByName(codecName);
    if (!codec)
        codec = detectCodec(bytes);
    m_textBook = true;
    *text = textBookXml(
        splitLines(decodeText(bytes, codec)), QFileInfo(filePath).baseName(), true, QStringLiteral("utf-8"));
    return true;
}

bool FbBook::readZip(const QString& path, const QString& codecName, QString* text)
{
    QuaZip zip(path);
    if (!zip.open(QuaZip::mdUnzip)) {
        qWarning() << "Cannot open the ZIP archive" << path << ": error" << zip.getZipError();
        return false;
    }
    if (zip.getEntriesCount() != 1) {
        qWarning() << "The ZIP archive" << path << "holds" << zip.getEntriesCount() << "entries, not one book";
        return false;
    }
    QuaZipFileInfo64 info;
    if (!zip.goToFirstFile() || !zip.hasCurrentFile() || !zip.getCurrentFileInfo(&info)) {
        qWarning() << "Cannot read the entry of" << path;
        return false;
    }
    const bool isText = hasSuffix(info.name, "txt");
    if (!isText && !hasSuffix(info.name, "fb2")) {
        qWarning() << "The entry" << info.name << "of" << path << "is neither FB2 nor text";
        return false;
    }
    QuaZipFile entry(&zip);
    if (!entry.open(QIODevice::ReadOnly)) {
        qWarning() << "Cannot open the entry" << info.name << "of" << path << ": error" << entry.getZipError();
        return false;
    }
    QByteArray bytes;
    const bool read = readAllCapped(&entry, m_maxInputBytes, path + QLatin1Char('/') + info.name, &bytes);
    entry.close();
    if (read && entry.getZipError() != UNZ_OK) {
        qWarning() << "The entry" << info.name << "of" << path << "is damaged: error" << entry.getZipError();
        return false;
    }
    if (!read)
        return false;

    if (!isText) {
        // The prolog is read from the raw bytes, then the whole entry is decoded with its codec.
        *text = decodeText(bytes, fb2Codec(bytes));
        return true;
    }
    QTextCodec* codec = codecByName(codecName);
    if (!codec)
        codec = detectCodec(bytes);
    m_textBook = true;
    const QStringList lines = splitLines(decodeText(bytes, codec));
    const QString title = !lines.isEmpty() && lines.first().size() <= kMaxTextTitle ? lines.first() : QString();
    *text = textBookXml(lines, title, !bytes.isEmpty(), QString::fromLatin1(codec->name()));
    return true;
}

bool FbBook::readSevenZip(const QString& path, const QString& codecName, QString* text)
{
    if (!sevenZipRefusal(path).isEmpty())
        return false;
    // The book is unpacked into a fresh owner-only folder inside its own data folder, never
    // under a predictable name in the shared temporary folder, and removed once read.
    const QString dataFolder = m_dataFolder.isEmpty() ? bookDataDir(path) : m_dataFolder;
    QTemporaryDir scratch(dataFolder + QStringLiteral("/7z-XXXXXX"));
    if (!scratch.isValid()) {
        qWarning() << "Cannot make a folder to unpack" << path << "into:" << scratch.errorString();
        return false;
    }
    const QString name = sevenzreader::instance()->extractSingleFile(path, scratch.path());
    const QString file = name.isEmpty() ? QString() : safeEntryPath(scratch.path(), name);
    if (file.isEmpty()) {
        qWarning() << "No book could be unpacked from" << path;
        return false;
    }
    // The unpacked file's name stands for the book's: its suffix and, for text, its title.
    return readFile(file, codecName, text);
}

bool FbBook::readDocument(const QDomDocument& document)
{
    bodies.clear();
    const QDomElement root = document.documentElement();
    if (root.tagName() != QLatin1String("FictionBook")) {
        qWarning() << "The root element is" << root.tagName() << ", not FictionBook";
        return false;
    }
    // Images first, so that every body finds them wherever they stand in the file.
    for (QDomElement child = root.firstChildElement(); !child.isNull(); child = child.nextSiblingElement()) {
        if (child.tagName() == QLatin1String("binary") && !readBinary(child))
            return false;
    }
    for (QDomElement child = root.firstChildElement(); !child.isNull(); child = child.nextSiblingElement()) {
        const QString tag = child.tagName();
        if (tag == QLatin1String("body")) {
            if (!readBody(child))
                return false;
            continue;
        }
        if (tag != QLatin1String("description"))
            continue;
        for (QDomElement part = child.firstChildElement(); !part.isNull(); part = part.nextSiblingElement()) {
            const QString name = part.tagName();
            bool ok = true;
            if (name == QLatin1String("title-info"))
                ok = readTitleInfo(part);
            else if (name == QLatin1String("document-info"))
                ok = readDocumentInfo(part);
            else if (name == QLatin1String("publish-info"))
                ok = readPublishInfo(part);
            if (!ok)
                return false;
        }
    }
    return true;
}

bool FbBook::readBody(const QDomElement& element)
{
    FbBody body;
    if (element.hasAttribute(QStringLiteral("name")))
        body.name = element.attribute(QStringLiteral("name"));
    for (QDomElement child = element.firstChildElement(); !child.isNull(); child = child.nextSiblingElement()) {
        const QString tag = child.tagName();
        bool ok = true;
        if (tag == QLatin1String("section")) {
            FbSection section;
            ok = readSection(child, section);
            body.sections.append(section);
        } else if (tag == QLatin1String("image")) {
            ok = readImageRef(child, body.image);
        } else if (tag == QLatin1String("title")) {
            ok = readTitle(child, body.title);
        } else if (tag == QLatin1String("epigraph")) {
            QString html;
            ok = readEpigraph(child, html);
            body.epigraphs.append(html);
        }
        if (!ok)
            return false;
    }
    bodies.append(body);
    return true;
}

QString FbBook::title() const
{
    const QString& bookTitle = description.titleInfo.bookTitle;
    if (!bookTitle.isEmpty() || bodies.isEmpty() || bodies.first().sections.isEmpty())
        return bookTitle;
    return plainTitle(bodies.first().sections.first().title);
}

QImage FbBook::coverImage() const
{
    // The image the description's cover page shows is the book's own choice.
    const auto named = binaries.constFind(description.titleInfo.coverImageRef);
    if (named != binaries.constEnd() && !named.value().isNull())
        return named.value();
    for (auto it = binaries.constBegin(); it != binaries.constEnd(); ++it) {
        if (it.key().contains(QLatin1String("cover")))
            return it.value();
    }
    return binaries.isEmpty() ? QImage() : binaries.first();
}

QString FbBook::authorName() const
{
    const FbAuthor& author = description.titleInfo.author;
    return QStringLiteral("%1 %2 %3").arg(author.lastName, author.firstName, author.middleName);
}

} // namespace fb2
