#pragma once

#include "styles/kelstyleable.h"

#include <QLabel>
#include <QScopedPointer>

// The toolkit's label: elides its plain text to its width when an elide mode is set, and fades
// when disabled (through a KelGraphicsOpacityEffect driven by its disabled-state animator).
class KelLabel : public QLabel, public KelStyleable {
    Q_OBJECT
public:
    KelLabel(int widgetType, QWidget* parent = nullptr);
    explicit KelLabel(QWidget* parent = nullptr);
    ~KelLabel() override;

    Qt::TextElideMode elideMode() const;
    void setElideMode(Qt::TextElideMode mode);
    // Whether the last paint drew a shortened text.
    bool isElided() const;
    // The text the last paint drew when it was shortened.
    QString elidedText() const;

    QSize minimumSizeHint() const override;
    void applyStyle() override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    class Private;
    QScopedPointer<Private> d;
};
