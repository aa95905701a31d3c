#pragma once

#include "booklink.h"

#include <QJsonValue>
#include <QList>
#include <QMap>
#include <QSet>

// One table-of-contents node. Copies share the link and copy the children by value.
struct TocPoint : public BookLinkItem {
    TocPoint() = default;

    // Adds "Childs": the children's objects in order (an empty array for a leaf).
    QJsonObject toJson() const override;

    int index = 0; // pre-order number over the whole tree, given when read from the cache
    QList<TocPoint> children;
};

Q_DECLARE_METATYPE(TocPoint)

// The table of contents of the open book, as read back from its ".toc" cache file.
class TocTree {
public:
    // Replaces the tree with the cache file's JSON array. An unreadable file leaves the tree as
    // it was; content that is not an array leaves it empty.
    void load(const QString& file, const QString& basePath);
    // The same from the cache file's bytes.
    void read(const QByteArray& json, const QString& basePath);
    // Fills one entry from a JSON value and, recursively, its children.
    void readPoint(const QString& basePath, TocPoint& point, const QJsonValue& value);
    // Replaces the tree with what read gives for the cache file written from the list, without
    // the file: entries of their own (ids and links), sources and titles as read would make them.
    void assign(const QList<TocPoint>& list, const QString& basePath);
    TocPoint pointAt(int page) const;

    QList<TocPoint> points;
    int nextIndex = 0;

private:
    void readPoint(const QString& basePath, TocPoint& point, const QJsonValue& value, int depth);
    void copyPoint(const QString& basePath, TocPoint& point, const TocPoint& from, int depth);
    // The entry's index, its source (relative to the base path where it lies inside) and title.
    void fillPoint(const QString& basePath, TocPoint& point, const QString& source, const QString& title);
    // Whether an entry at that depth may have children; a log line when not.
    static bool withinDepth(int depth);
};

// The entry that holds a page; a default entry for an empty list.
TocPoint tocPointAt(const QList<TocPoint>& list, int page);
QString tocTitleAt(const QList<TocPoint>& list, int page);
QString tocIdAt(const QList<TocPoint>& list, int page);
// The titles of tocPointAt for many pages at once (the hits of a search, every note): the tree is
// walked once, then each page costs a lookup instead of a walk.
class TocPageTitles {
public:
    explicit TocPageTitles(const QList<TocPoint>& list);
    QString titleAt(int page) const;

private:
    // The first page of each entry that has one, to the title of the last entry in reading order
    // starting there.
    QMap<int, QString> m_starts;
    QString m_firstTitle;
};

// Every link of the tree (a subtree whose link was seen already is skipped).
QSet<BookLinkPtr> tocLinks(const QList<TocPoint>& list);
// The distinct sources of the tree in tree order, optionally as decoded local paths.
QList<QString> tocChapterSources(const QList<TocPoint>& list, bool asLocalPath);
