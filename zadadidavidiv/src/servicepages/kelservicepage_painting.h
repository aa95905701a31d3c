#pragma once

#include "servicepages/kelservicepage.h"

// Switches the paint diagnostics on and off. The switches are kept in the application's settings
// under the flags' own names and come back whenever such a page is made.
class KelServicePage_Painting : public KelServicePage {
    Q_OBJECT

public:
    explicit KelServicePage_Painting(QWidget* parent = nullptr);
    ~KelServicePage_Painting() override;
};
