#pragma once

#include "servicepages/kelservicepage.h"

// Opens every kind of toolkit dialog with short, long and extra-long texts, to check wrapping,
// eliding and button layout: message boxes, text-input boxes, the file dialogs asked for from the
// GUI thread and from a worker thread, toast notifications with and without links, and the update and
// default-application prompts. What the demos remember (typed texts, check boxes) lasts for the process.
class KelServicePage_Dialogs : public KelServicePage {
    Q_OBJECT

public:
    explicit KelServicePage_Dialogs(QWidget* parent = nullptr);
    ~KelServicePage_Dialogs() override;

private:
    void addFileDialogRow(const QString& caption, bool onWorkerThread);
};
