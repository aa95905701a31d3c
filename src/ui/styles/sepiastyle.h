#pragma once

#include "styles/style.h"

// The warm light profile: cream windows, brown accent and text; progress stays blue.
class SepiaStyle : public Style {
    Q_OBJECT

public:
    explicit SepiaStyle(QObject* parent = nullptr);
    ~SepiaStyle() override;

    QString id() const override;
    QString title() const override;
    QString styleIconPath() const override;
    bool isDarkTheme() const override;
    QColor color(int role) const override;
};
