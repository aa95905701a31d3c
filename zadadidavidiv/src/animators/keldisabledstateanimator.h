#pragma once

#include "styles/kelstyleable.h"

#include <QObject>
#include <QPointer>

class KelPropertyAnimator;
class QWidget;

// The disabled state of one watched widget as a fading progress (0 enabled, 1 disabled) and the opacity a
// painter dims the widget with. Curves, durations and the dimming come from the current style; as a
// styleable without a style id it takes them again on every style switch (applyStyle).
//
// Modes: 0 no event filter (the widget drives every state itself); 1 follows the widget's enabled state;
// 2 also follows focus and hover (see KelWidgetStateAnimator).
class KelDisabledStateAnimator : public QObject, public KelStyleable {
    Q_OBJECT
    Q_PROPERTY(double disabledProgress READ disabledProgress WRITE setDisabledProgress NOTIFY disabledProgressChanged)
public:
    explicit KelDisabledStateAnimator(int mode, QObject* parent = nullptr);
    ~KelDisabledStateAnimator() override;

    int mode() const { return m_mode; }

    // Watches the widget (the filter only for modes 1 and 2) and takes its enabled state, animated only
    // while it is visible.
    void setWidget(QWidget* widget);
    QWidget* widget() const { return m_widget; }
    KelPropertyAnimator* propertyAnimator() const { return m_animator; }

    bool isDisabled() const { return m_disabled; }
    void setDisabled(bool disabled, bool animated);

    // A dimming of its own, kept over style switches. Nothing repaints.
    void setDisabledDimming(double dimming);
    double disabledDimming() const { return m_dimming; }
    // 1 - disabledProgress x dimming.
    double opacity() const;

    double disabledProgress() const { return m_disabledProgress; }
    void setDisabledProgress(double progress);
    bool hasDisabledProgress() const;

    // The style hook: the style's dimming (unless customised) and disabled animation.
    void applyStyle() override;

signals:
    void disabledProgressChanged(double progress);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    // Stores a progress value; false when it did not change.
    static bool storeProgress(double& field, double value);
    void repaintWidget();
    // Records the state the property heads to and moves it there (the end for true); nothing when unchanged.
    void moveState(bool& field, bool state, const char* property, bool animated);

private:
    int m_mode = 0;
    QPointer<QWidget> m_widget;
    KelPropertyAnimator* m_animator = nullptr;
    bool m_disabled = false;
    bool m_dimmingCustomised = false;
    double m_dimming = 0.0;
    double m_disabledProgress = 0.0;
};
