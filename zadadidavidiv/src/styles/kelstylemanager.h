#pragma once

#include <QList>
#include <QObject>
#include <QString>

class KelStyle;
class KelStyleable;

// The registry of looks: the styles the application added, the current one, and every styled
// object alive. Switching the style saves the choice in the settings ("lastStyleId"), sets the
// application font from the new style and restyles every registered object in registration order.
// The manager lives in the application's KelUi; construction also sets process-wide look defaults
// (the proxy style, UI effects, no scroller overshoot).
class KelStyleManager : public QObject {
    Q_OBJECT

public:
    explicit KelStyleManager(QObject* parent);
    ~KelStyleManager() override;

    // The application's manager (made with its KelUi on first use); null without a toolkit
    // application.
    static KelStyleManager* instance();

    // Not owned; a style that is destroyed drops out of the list.
    void addStyle(KelStyle* style);
    QList<KelStyle*> styles() const;
    // Never null: a base style owned by the manager while no added style is current.
    KelStyle* currentStyle();
    // Makes the first added style with that id current; false when there is none.
    bool setCurrentStyle(const QString& id);
    // The saved style, or defaultId when nothing usable is saved.
    bool restoreLastStyle(const QString& defaultId);

    void registerStyleable(KelStyleable* styleable);
    // Removes the first occurrence.
    void unregisterStyleable(KelStyleable* styleable);
    QList<KelStyleable*> styleables() const;

private:
    KelStyle* findStyle(const QString& id) const;
    void restyleAll();

    class Private;
    Private* d;
};
