#pragma once

#include <QProxyStyle>

#include <functional>

// The application-wide proxy over the platform style. Toolkit widgets paint their own frames, so
// the native focus rectangle, line-edit panel and spin-box bevel are not drawn under them; a few
// metrics and hints come from the current toolkit style or are fixed.
class KelQProxyStyle : public QProxyStyle {
    Q_OBJECT

public:
    // Whether a widget paints its own frame, or its own spin-box arrows. The painter mixins that
    // answer these are not part of this folder: their owners install the tests; while a test is
    // not installed no widget counts as one.
    using WidgetTest = std::function<bool(const QWidget* widget)>;
    static void setFramePainterTest(WidgetTest test);
    static void setSpinBoxPainterTest(WidgetTest test);
    static bool isFramePainter(const QWidget* widget);
    static bool isSpinBoxPainter(const QWidget* widget);

    // Takes ownership of the base style.
    explicit KelQProxyStyle(QStyle* baseStyle);
    ~KelQProxyStyle() override;

    void drawPrimitive(PrimitiveElement element, const QStyleOption* option, QPainter* painter,
        const QWidget* widget = nullptr) const override;
    int pixelMetric(
        PixelMetric metric, const QStyleOption* option = nullptr, const QWidget* widget = nullptr) const override;
    int styleHint(StyleHint hint, const QStyleOption* option = nullptr, const QWidget* widget = nullptr,
        QStyleHintReturn* returnData = nullptr) const override;
};
