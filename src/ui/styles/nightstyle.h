#pragma once

#include "styles/style.h"

// The dark profile: light text on dark blue-grey windows, blue accent.
class NightStyle : public Style {
    Q_OBJECT

public:
    explicit NightStyle(QObject* parent = nullptr);
    ~NightStyle() override;

    QString id() const override;
    QString title() const override;
    QString styleIconPath() const override;
    bool isDarkTheme() const override;
    QColor color(int role) const override;
};
