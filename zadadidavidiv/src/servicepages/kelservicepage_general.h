#pragma once

#include "servicepages/kelservicepage.h"

#include <QPoint>

// Live diagnostics: the active window, modal widget and popup, where the focus goes, the cursor as
// the global mouse watcher and as Qt report it, the widget under it, and a button that makes the
// process fault so that the crash report can be checked.
class KelServicePage_General : public KelServicePage {
    Q_OBJECT

public:
    explicit KelServicePage_General(QWidget* parent = nullptr);
    ~KelServicePage_General() override;

protected:
    // Called after each cursor readout with QCursor::pos().
    virtual void onMouseMoved(const QPoint& cursorPos);
    // Called after each timer readout.
    virtual void onTimer();
};
