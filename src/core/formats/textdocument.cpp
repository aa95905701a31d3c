#include "textdocument.h"

#include "documenttype.h"

#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QRegularExpression>

#include <algorithm>

TextDocument::TextDocument(const QString& filePath, QObject* parent)
    : QObject(nullptr)
    , m_filePath(filePath)
{
    Q_UNUSED(parent)
}

TextDocument::~TextDocument() = default;

void TextDocument::setEncoding(const QString& encoding) { m_encoding = encoding; }

bool TextDocument::load(const QString& outputFolder)
{
    m_outputFolder = outputFolder;
    return false;
}

bool TextDocument::prepareChapter(const QString& name) { return hasChapter(name); }

void TextDocument::prepareFile(const QString& path) { Q_UNUSED(path) }

QList<TocPoint> TextDocument::toc() const { return m_toc; }

void TextDocument::clearChapters()
{
    m_chapters.clear();
    m_chapterParts.clear();
}

void TextDocument::setChapterParts(const QString& name, const QStringList& parts)
{
    m_chapterParts.insert(name.toLower(), parts);
}

QStringList TextDocument::chapterParts(const QString& name) const { return m_chapterParts.value(name.toLower()); }

void TextDocument::addChapter(const QString& name) { m_chapters.append(name); }

void TextDocument::setBasePath(const QString& path) { m_basePath = path; }

void TextDocument::setChapterKind(const QString& name, int kind) { m_chapterKinds.insert(name, kind); }

int TextDocument::chapterKind(const QString& name) const { return m_chapterKinds.value(name, KindNone); }

bool TextDocument::hasChapter(const QString& name) const { return m_chapters.contains(name, Qt::CaseInsensitive); }

QString TextDocument::nextChapter(const QString& name) const
{
    if (name.isEmpty() && !m_chapters.isEmpty())
        return m_chapters.first();
    for (int i = 0; i < m_chapters.size() - 1; ++i) {
        if (m_chapters.at(i).compare(name, Qt::CaseInsensitive) == 0)
            return m_chapters.at(i + 1);
    }
    return QString();
}

QString TextDocument::previousChapter(const QString& name) const
{
    for (int i = 1; i < m_chapters.size(); ++i) {
        if (m_chapters.at(i).compare(name, Qt::CaseInsensitive) == 0)
            return m_chapters.at(i - 1);
    }
    return QString();
}

QString TextDocument::chapterFilePath(const QString& name) const
{
    // Clean: the view asks for a chapter named "../Text/c1.xhtml" without the "..", and a load is
    // followed only to the address the reader asked for.
    return QDir::cleanPath(QDir(m_basePath).absoluteFilePath(shownName(name, chapterKind(name))));
}

bool TextDocument::nameReadsAsXml(const QString& fileName) { return documenttype::readsAsXml(fileName); }

QString TextDocument::shownName(const QString& name, int kind)
{
    if (kind == KindXhtml && !name.endsWith(QLatin1String(".xhtml")))
        return name + QStringLiteral(".xhtml");
    if (kind == KindHtml && nameReadsAsXml(name))
        return name + QStringLiteral(".html");
    if (kind == KindLeftOut)
        return name + QStringLiteral(".left-out.html");
    return name;
}

QByteArray TextDocument::leftOutPage(const QString& name, const QString& reason)
{
    const QString title = QCoreApplication::translate("TextDocument", "Chapter left out");
    const QString text = QCoreApplication::translate("TextDocument", "The chapter \u201c%1\u201d is not shown: %2.")
                             .arg(name.toHtmlEscaped(), reason.toHtmlEscaped());
    return QStringLiteral("\uFEFF<!DOCTYPE html>\n<html><head><meta charset=\"UTF-8\"><title>%1</title></head>\n"
                          "<body><h1>%1</h1>\n<p>%2</p></body></html>\n")
        .arg(title.toHtmlEscaped(), text)
        .toUtf8();
}

QPair<QList<ChapterPageInfo>, QHash<QString, int>> TextDocument::chapterPageInfos() const
{
    QList<ChapterPageInfo> infos;
    infos.reserve(m_chapters.size());
    for (const QString& name : m_chapters) {
        ChapterPageInfo info;
        info.source = name;
        info.fileUrl = QUrl::fromLocalFile(chapterFilePath(name));
        infos.append(info);
    }
    return qMakePair(infos, QHash<QString, int>());
}

QJsonValue TextDocument::tocToJson() const { return tocToJson(toc()); }

QJsonValue TextDocument::tocToJson(const QList<TocPoint>& points)
{
    QJsonArray array;
    for (const TocPoint& point : points)
        array.append(point.toJson());
    return array;
}

void TextDocument::resolveTocLinks(QList<TocPoint>& points) const
{
    for (TocPoint& point : points) {
        resolveTocLinks(point.children);
        if (!point.link || point.link->source.isEmpty())
            continue;
        const QString source = point.link->source;
        const int cut = source.indexOf(QRegularExpression(QStringLiteral("[?#]")));
        const QString path = cut < 0 ? source : source.left(cut);
        // A bare fragment points into the chapter the entry is read with; a known chapter is fine.
        if (path.isEmpty() || hasChapter(path))
            continue;
        // Contents written by hand often leave out the chapters' folder. A book in several
        // languages has a file of that name in each language's folder: the first in reading
        // order is taken.
        const QString fileName = path.section(QLatin1Char('/'), -1);
        const auto match = std::find_if(m_chapters.cbegin(), m_chapters.cend(), [&fileName](const QString& chapter) {
            return chapter.section(QLatin1Char('/'), -1).compare(fileName, Qt::CaseInsensitive) == 0;
        });
        if (match != m_chapters.cend()) {
            point.link->source = *match + source.mid(path.size());
            continue;
        }
        qWarning().noquote()
            << QStringLiteral("The contents entry \"%1\" links to %2, which is no chapter").arg(point.title, source);
        // Shown as an entry that leads nowhere rather than one that silently does nothing.
        point.link->source.clear();
    }
}
