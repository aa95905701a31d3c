#pragma once

#include "styles/kelstyleable.h"

#include <QColor>
#include <QWidget>

class KelProgressAnimator;

// A child widget that dims its window while a modal window blocks it. It fades in and out; its
// real visibility follows the fade, so hiding takes the fade-out's time. It always covers its
// parent.
class KelWindowBlockedOverlay : public QWidget, public KelStyleable {
    Q_OBJECT

public:
    explicit KelWindowBlockedOverlay(QWidget* parent);
    ~KelWindowBlockedOverlay() override;

    // True raises the overlay and fades it in; false fades it out.
    void setVisible(bool visible) override;
    QColor color() const { return m_color; }
    KelProgressAnimator* animator() const { return m_animator; }

    void applyStyle() override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QColor m_color;
    KelProgressAnimator* m_animator = nullptr;
};
