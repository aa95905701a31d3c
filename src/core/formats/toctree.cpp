#include "toctree.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QUrl>

namespace {

// The cache file is ours, but it sits in the user's folder: a hand-made file must not be able
// to exhaust the stack.
constexpr int kMaxTocDepth = 256;

void registerTocPoint() { qRegisterMetaType<TocPoint>("TocPoint"); }

// The entry that covers a page: the last one, in reading order, that starts at or before it.
// Entries whose page is unknown (a link that resolved nowhere) cover nothing, and a parent
// covers the pages before its first child. A later entry that starts before an earlier one
// (contents out of reading order) does not take the earlier one's pages.
void findCovering(const QList<TocPoint>& list, int page, const TocPoint*& best, int& bestPage)
{
    for (const TocPoint& point : list) {
        const int start = point.link ? point.link->page : -1;
        if (start >= 1 && start <= page && start >= bestPage) {
            best = &point;
            bestPage = start;
        }
        findCovering(point.children, page, best, bestPage);
    }
}

TocPoint pointAtIn(const QList<TocPoint>& list, int page)
{
    const TocPoint* best = nullptr;
    int bestPage = 0;
    findCovering(list, page, best, bestPage);
    return best ? *best : list.first();
}

void collectStarts(const QList<TocPoint>& list, QMap<int, QString>& starts)
{
    for (const TocPoint& point : list) {
        const int start = point.link ? point.link->page : -1;
        if (start >= 1)
            starts.insert(start, point.title);
        collectStarts(point.children, starts);
    }
}

void collectLinks(const QList<TocPoint>& list, QSet<BookLinkPtr>& links)
{
    for (const TocPoint& point : list) {
        if (links.contains(point.link))
            continue;
        links.insert(point.link);
        collectLinks(point.children, links);
    }
}

void collectSources(const QList<TocPoint>& list, bool asLocalPath, QList<QString>& result, QSet<QString>& seen)
{
    for (const TocPoint& point : list) {
        QString source = point.link ? point.link->source : QString();
        if (asLocalPath)
            source = QUrl::fromLocalFile(source).path(QUrl::FullyDecoded);
        if (seen.contains(source))
            continue;
        seen.insert(source);
        result.append(source);
        collectSources(point.children, asLocalPath, result, seen);
    }
}

} // namespace

Q_CONSTRUCTOR_FUNCTION(registerTocPoint)

QJsonObject TocPoint::toJson() const
{
    QJsonObject object = BookLinkItem::toJson();
    QJsonArray childs;
    for (const TocPoint& child : children)
        childs.append(child.toJson());
    object.insert(QStringLiteral("Childs"), childs);
    return object;
}

void TocTree::load(const QString& file, const QString& basePath)
{
    QFile input(file);
    if (!input.open(QIODevice::ReadOnly | QIODevice::Text))
        return;
    read(input.readAll(), basePath);
}

void TocTree::read(const QByteArray& json, const QString& basePath)
{
    points.clear();
    nextIndex = 0;
    const QJsonDocument document = QJsonDocument::fromJson(json);
    if (!document.isArray())
        return;
    const QJsonArray array = document.array();
    for (const QJsonValue& value : array) {
        points.append(TocPoint());
        readPoint(basePath, points.last(), value, 0);
    }
}

void TocTree::readPoint(const QString& basePath, TocPoint& point, const QJsonValue& value)
{
    readPoint(basePath, point, value, 0);
}

void TocTree::readPoint(const QString& basePath, TocPoint& point, const QJsonValue& value, int depth)
{
    if (!value.isObject())
        return;
    const QJsonObject object = value.toObject();
    fillPoint(basePath, point, object.value(QStringLiteral("Source")).toString(),
        object.value(QStringLiteral("Title")).toString());

    const QJsonValue childs = object.value(QStringLiteral("Childs"));
    if (!childs.isArray() || !withinDepth(depth))
        return;
    QList<TocPoint> children;
    const QJsonArray array = childs.toArray();
    for (const QJsonValue& child : array) {
        children.append(TocPoint());
        readPoint(basePath, children.last(), child, depth + 1);
    }
    point.children = children;
}

void TocTree::assign(const QList<TocPoint>& list, const QString& basePath)
{
    points.clear();
    nextIndex = 0;
    points.reserve(list.size());
    for (const TocPoint& point : list) {
        points.append(TocPoint());
        copyPoint(basePath, points.last(), point, 0);
    }
}

void TocTree::copyPoint(const QString& basePath, TocPoint& point, const TocPoint& from, int depth)
{
    fillPoint(basePath, point, from.link ? from.link->source : QString(), from.title);
    if (from.children.isEmpty() || !withinDepth(depth))
        return;
    point.children.reserve(from.children.size());
    for (const TocPoint& child : from.children) {
        point.children.append(TocPoint());
        copyPoint(basePath, point.children.last(), child, depth + 1);
    }
}

void TocTree::fillPoint(const QString& basePath, TocPoint& point, const QString& source, const QString& title)
{
    QString local = QDir::cleanPath(source);
    // Strip "<basePath>/" only when the base path really is a leading folder of the source.
    if (!basePath.isEmpty() && local.startsWith(basePath, Qt::CaseInsensitive) && local.size() > basePath.size()
        && local.at(basePath.size()) == QLatin1Char('/')) {
        local.remove(0, basePath.size() + 1);
    }
    point.index = nextIndex++;
    point.link->source = local;
    point.title = title.simplified();
}

bool TocTree::withinDepth(int depth)
{
    if (depth < kMaxTocDepth)
        return true;
    qWarning() << "Contents nested deeper than" << kMaxTocDepth << "levels; deeper entries dropped";
    return false;
}

TocPoint TocTree::pointAt(int page) const { return tocPointAt(points, page); }

TocPoint tocPointAt(const QList<TocPoint>& list, int page)
{
    if (list.isEmpty())
        return TocPoint();
    return pointAtIn(list, page);
}

QString tocTitleAt(const QList<TocPoint>& list, int page) { return tocPointAt(list, page).title; }

// The covering entry has the greatest start at or before the page, the last of those in reading
// order: later entries with the same start overwrite earlier ones as the tree is walked in order.
TocPageTitles::TocPageTitles(const QList<TocPoint>& list)
{
    if (list.isEmpty())
        return;
    m_firstTitle = list.first().title;
    collectStarts(list, m_starts);
}

QString TocPageTitles::titleAt(int page) const
{
    auto it = m_starts.upperBound(page);
    if (it == m_starts.cbegin())
        return m_firstTitle;
    return (--it).value();
}

QString tocIdAt(const QList<TocPoint>& list, int page) { return tocPointAt(list, page).id; }

QSet<BookLinkPtr> tocLinks(const QList<TocPoint>& list)
{
    QSet<BookLinkPtr> links;
    collectLinks(list, links);
    return links;
}

QList<QString> tocChapterSources(const QList<TocPoint>& list, bool asLocalPath)
{
    QList<QString> result;
    QSet<QString> seen;
    collectSources(list, asLocalPath, result, seen);
    return result;
}
