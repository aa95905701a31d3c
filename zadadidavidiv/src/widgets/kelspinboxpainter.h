#pragma once

#include "painting/kelbuttonpainter.h"
#include "painting/kelframepainter.h"

#include <QProxyStyle>

class KelPaintContext;
class KelSpinBoxPainter;
class KelWidgetStateAnimator;
class QStyleOptionSpinBox;

// One of the two step arrows of a spin box: a button painter with its own hover and press state that
// tells the owning spin-box painter about every change of its size, layout or look.
class KelSpinBoxArrowPainter : public KelButtonPainter {
public:
    KelSpinBoxArrowPainter(KelSpinBoxPainter* owner, QWidget* widget);
    ~KelSpinBoxArrowPainter() override;

    KelWidgetStateAnimator* stateAnimator() const { return m_stateAnimator; }

protected:
    void onSizeHintChanged() override;
    void onLayoutChanged() override;
    void onAppearanceChanged() override;

private:
    KelSpinBoxPainter* m_owner;
    KelWidgetStateAnimator* m_stateAnimator;
};

// The frame of a spin box with its up and down arrows stacked at the right edge. On a QAbstractSpinBox
// it switches the native frame off and installs a SpinBoxProxyStyle, which places the arrows and the
// edit field inside the frame.
class KelSpinBoxPainter : public KelFramePainter {
public:
    explicit KelSpinBoxPainter(QWidget* widget);
    ~KelSpinBoxPainter() override;

    KelSpinBoxArrowPainter* upArrowPainter() const { return m_up; }
    KelSpinBoxArrowPainter* downArrowPainter() const { return m_down; }
    void setUpArrowParams(const KelArrowSpec& arrow);
    void setDownArrowParams(const KelArrowSpec& arrow);
    void setUpArrowColors(const KelStateColors& colors);
    void setDownArrowColors(const KelStateColors& colors);

    // Paints the arrows the option asks for, each in its own state.
    void drawSpinBox(KelPaintContext& context, const QStyleOptionSpinBox* option);

private:
    friend class KelSpinBoxArrowPainter;
    void drawArrow(KelPaintContext& context, const QStyleOptionSpinBox* option, bool up);

    KelSpinBoxArrowPainter* m_up = nullptr;
    KelSpinBoxArrowPainter* m_down = nullptr;
};

// Sub-control geometry of a spin box painted by a KelSpinBoxPainter: the edit field inside the frame,
// the arrow column at its right edge, and arrows that disable at the bounds.
class SpinBoxProxyStyle : public QProxyStyle {
    Q_OBJECT
public:
    // Over the application style.
    explicit SpinBoxProxyStyle(KelSpinBoxPainter* painter);

    QRect subControlRect(ComplexControl control, const QStyleOptionComplex* option, SubControl subControl,
        const QWidget* widget = nullptr) const override;
    QSize sizeFromContents(ContentsType type, const QStyleOption* option, const QSize& contentsSize,
        const QWidget* widget = nullptr) const override;
    int styleHint(StyleHint hint, const QStyleOption* option = nullptr, const QWidget* widget = nullptr,
        QStyleHintReturn* returnData = nullptr) const override;

private:
    int arrowWidth(const QStyleOptionSpinBox* option) const;

    KelSpinBoxPainter* m_painter;
};
