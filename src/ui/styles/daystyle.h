#pragma once

#include "styles/style.h"

// The light profile: white windows on a light grey base, blue accent.
class DayStyle : public Style {
    Q_OBJECT

public:
    explicit DayStyle(QObject* parent = nullptr);
    ~DayStyle() override;

    QString id() const override;
    QString title() const override;
    QString styleIconPath() const override;
    bool isDarkTheme() const override;
    QColor color(int role) const override;
};
