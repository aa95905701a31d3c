#pragma once

#include <QObject>
#include <QPointer>
#include <QVariant>

class QVariantAnimation;
class QWidget;

// A one-shot animation of one value of a widget. A request runs from the widget's present value,
// retargets a running animation (which keeps its remaining time), or puts the value on at once when
// the widget is hidden or no animation is wanted. A child of the widget: it dies with it.
class KelAbstractAnimator : public QObject {
    Q_OBJECT
public:
    explicit KelAbstractAnimator(QWidget* widget);
    ~KelAbstractAnimator() override;

    QWidget* widget() const { return m_widget; }
    QVariantAnimation* animation() const { return m_animation; }
    bool isRunning() const;
    // The widget keeps the value reached.
    void stop();

signals:
    void finished();

protected:
    // Puts one animation value on the widget.
    virtual void applyValue(const QVariant& value) = 0;

    void setDuration(int duration) { m_duration = duration; }
    // With wait the call returns after the animation, processing all but user input meanwhile.
    void animate(const QVariant& from, const QVariant& to, bool animated, bool wait);

private:
    QPointer<QWidget> m_widget;
    QVariantAnimation* m_animation = nullptr;
    int m_duration = 0;
};
