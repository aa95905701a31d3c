#pragma once

#include "styles/kelstyleable.h"

#include <QProgressBar>

#include <memory>

// A styled progress bar that can switch to Qt's busy mode and back without losing its range and value.
class KelProgressBar : public QProgressBar, public KelStyleable {
    Q_OBJECT

public:
    enum State { Normal = 0, Indeterminate = 1, Paused = 2 };
    Q_ENUM(State)

    explicit KelProgressBar(int widgetType, QWidget* parent = nullptr, bool deferStyle = false);
    ~KelProgressBar() override;

    State state() const;
    // Indeterminate keeps the range and value and shows the busy mode; Normal straight after it gives
    // them back. Paused only records the state: the bar keeps what it shows.
    void setState(State state);

    void applyStyle() override;

private:
    class Private;
    std::unique_ptr<Private> d;
};
