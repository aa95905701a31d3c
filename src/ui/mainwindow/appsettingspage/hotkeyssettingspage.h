#pragma once

#include "abstractsettingspage.h"
#include "hotkeys.h"

#include <QKeySequence>

class QFormLayout;

// Every keyboard action with its key sequences, read-only, in two halves of label and key caps.
// Scrollable on the settings page; plain inside the hotkeys dialog.
class HotkeysSettingsPage : public AbstractSettingsPage {
    Q_OBJECT

public:
    explicit HotkeysSettingsPage(bool scrollable, QWidget* parent = nullptr);
    ~HotkeysSettingsPage() override;

    QString title() const override;
    void retranslateUi() override;

    QFormLayout* leftForm() const;
    QFormLayout* rightForm() const;
    // The key caps of one sequence: its portable text split at '+', the plus key kept ("Ctrl++"
    // gives Ctrl and +).
    static QStringList keyCaps(const QKeySequence& sequence);

private:
    class Private;
    Private* d;
};
