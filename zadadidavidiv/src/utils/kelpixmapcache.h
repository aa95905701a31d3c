#pragma once

#include <QCache>
#include <QObject>
#include <QPixmap>
#include <QString>

// A named cache of rendered pixmaps under string keys, limited by cost in kilobytes; the least recently
// used pixmaps go first.
class KelPixmapCache : public QObject {
    Q_OBJECT
public:
    explicit KelPixmapCache(QObject* parent = nullptr);
    ~KelPixmapCache() override;

    // The limit in megabytes; lowering it evicts at once.
    void setCacheLimit(int megabytes);
    int cacheLimitKb() const;

    // Replaces what the key held. A pixmap costlier than the whole limit is not kept, and the key is then empty.
    void insert(const QString& key, const QPixmap& pixmap);
    // A hit makes the key the most recently used; out may be null to test presence only.
    bool find(const QString& key, QPixmap* out);
    void remove(const QString& key);

    int count() const;
    int totalCostKb() const;
    // Kilobytes of a pixmap, at least 1.
    static int costOf(const QPixmap& pixmap);

private:
    QCache<QString, QPixmap> m_cache;
};
