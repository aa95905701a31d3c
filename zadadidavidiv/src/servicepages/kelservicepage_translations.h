#pragma once

#include "servicepages/kelservicepage.h"

// What the translation machinery works with: the system's locale, the locale the user started with
// and the one now selected (kept up to date), and the translator's table of translation files.
class KelServicePage_Translations : public KelServicePage {
    Q_OBJECT

public:
    explicit KelServicePage_Translations(QWidget* parent = nullptr);
    ~KelServicePage_Translations() override;
};
