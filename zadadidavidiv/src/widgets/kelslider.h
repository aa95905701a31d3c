#pragma once

#include "styles/kelstyleable.h"

#include <QAbstractSlider>
#include <QColor>
#include <QScopedPointer>
#include <QSize>

#include <functional>

class KelButton;
class KelPaintContext;

// The toolkit's slider. The handle is a real child button that the slider moves over its groove
// (animated when the value changes from outside) and that the user drags directly; the slider paints
// only the groove, the filled part up to the handle and optional markers. A second button, the value
// tooltip, may live in an ancestor so that it is not clipped.
class KelSlider : public QAbstractSlider, public KelStyleable {
    Q_OBJECT
public:
    using TooltipTextFunction = std::function<void(int value, QString& text, QString& subText)>;

    KelSlider(int styleRole, Qt::Orientation orientation, QWidget* parent = nullptr, bool deferStyle = false);
    explicit KelSlider(Qt::Orientation orientation, QWidget* parent = nullptr, bool deferStyle = false);
    ~KelSlider() override;

    // The slider a handle or tooltip belongs to; null for other objects.
    static KelSlider* fromSubcontrol(QObject* subcontrol);

    KelButton* positionHandle() const;
    // Made on the first call.
    KelButton* tooltip();

    int grooveThickness() const;
    int grooveRadius() const;
    void setGrooveThickness(int thickness, int radius);
    QColor grooveColor() const;
    QColor filledColor() const;
    void setGrooveColors(const QColor& groove, const QColor& filled);
    // 0: a groove click holds the slider down until the release; 1: it does not.
    void setClickMode(int mode);
    // 1: the groove runs only between the extreme handle centres.
    void setGrooveSpanMode(int mode);
    // 0 none; -2 follows the mouse; -1 both ends of the filled part; 1 the groove centre (the filled
    // part then grows from it); n >= 2: n evenly spaced ticks.
    int markerPosition() const;
    void setMarkerPosition(int position);
    void setMarkerSize(const QSize& size, int radius);
    // Invalid: the filled colour.
    void setMarkerColor(const QColor& color);
    // -1 while no marker follows the mouse.
    int hoverPosition() const;

    void setValueSilently(int value);
    void setTooltipTextFunction(TooltipTextFunction function);
    void setTooltipOffset(const QPoint& offset);
    // The tooltip's parent: the slider (null) or one of its ancestors.
    void setSubcontrolsParent(QWidget* newParent);

    virtual int valueFromPosition(const QPoint& pos) const;
    // Where the handle's hot spot belongs for the value.
    virtual QPoint positionFromValue(int value) const;

    QSize minimumSizeHint() const override;
    void applyStyle() override;

signals:
    // Declared for trim handles, which this slider never makes.
    void lowerTrimPressed(int val);
    void lowerTrimMoved(int val);
    void lowerTrimReleased(int val);
    void lowerTrimChanged(int val);
    void upperTrimPressed(int val);
    void upperTrimMoved(int val);
    void upperTrimReleased(int val);
    void upperTrimChanged(int val);
    void hovered();
    void leaved();

protected:
    bool event(QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void sliderChange(SliderChange change) override;
    virtual void paintGroove(KelPaintContext& context, const QRectF& groove, const QColor& grooveColor,
        const QRectF& filled, const QColor& filledColor);

private:
    class Private;
    QScopedPointer<Private> d;
};
