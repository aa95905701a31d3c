#include "utils/kelpixmapcache.h"

#include <limits>

namespace {
constexpr int defaultLimitKb = 10 * 1024;
}

KelPixmapCache::KelPixmapCache(QObject* parent)
    : QObject(parent)
    , m_cache(defaultLimitKb)
{
}

KelPixmapCache::~KelPixmapCache() = default;

void KelPixmapCache::setCacheLimit(int megabytes)
{
    const qint64 kilobytes = qBound<qint64>(0, qint64(megabytes) * 1024, std::numeric_limits<int>::max());
    m_cache.setMaxCost(int(kilobytes));
}

int KelPixmapCache::cacheLimitKb() const { return m_cache.maxCost(); }

void KelPixmapCache::insert(const QString& key, const QPixmap& pixmap)
{
    // QCache drops the old entry first and refuses (deleting the copy) what exceeds the whole limit.
    m_cache.insert(key, new QPixmap(pixmap), costOf(pixmap));
}

bool KelPixmapCache::find(const QString& key, QPixmap* out)
{
    const QPixmap* pixmap = m_cache.object(key);
    if (!pixmap)
        return false;
    if (out)
        *out = *pixmap;
    return true;
}

void KelPixmapCache::remove(const QString& key) { m_cache.remove(key); }

int KelPixmapCache::count() const { return m_cache.count(); }

int KelPixmapCache::totalCostKb() const { return m_cache.totalCost(); }

int KelPixmapCache::costOf(const QPixmap& pixmap)
{
    const qint64 cost = qint64(pixmap.width()) * pixmap.height() * pixmap.depth() / 8192;
    return int(qBound<qint64>(1, cost, std::numeric_limits<int>::max()));
}
