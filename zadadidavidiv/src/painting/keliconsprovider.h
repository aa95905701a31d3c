#pragma once

#include <QHash>
#include <QObject>
#include <QString>
#include <QVector>

class KelIcon;

// The application-wide registry of icons: file icons are loaded on their first request by path, icons
// that the application draws itself are registered under a name. Every icon it hands out lives as long
// as the provider, so callers keep plain pointers and never delete them.
class KelIconsProvider : public QObject {
    Q_OBJECT
public:
    explicit KelIconsProvider(QObject* parent = nullptr);
    ~KelIconsProvider() override;

    // The running toolkit application's provider; null without one.
    static KelIconsProvider* instance();

    // Never null: a registered icon, a file icon (valid or not) for an existing path, else the shared
    // null icon. A path ending in ".svg" in any case loads as SVG, any other as a raster image.
    KelIcon* icon(const QString& nameOrPath);
    KelIcon* icon(const char* nameOrPath);

    // Takes ownership. A name already taken keeps its first icon.
    void registerIcon(KelIcon* icon);

private:
    // Keeps an icon that leaves the table (or never enters it) alive until the provider goes, since
    // callers may still hold it.
    void retire(KelIcon* icon);

    QHash<QString, KelIcon*> m_icons;
    KelIcon* m_nullIcon = nullptr;
    QVector<KelIcon*> m_retired;
};

// The running provider's icon for the name; null, with a warning, without a provider.
KelIcon* kelIconByName(const char* nameOrPath);
