#pragma once

#include <QPointer>
#include <QWidget>

class KelExclusiveButtonGroup;
class QVariantAnimation;

// An accent bar under the checked button of a tab row. On a tab change the leading edge runs to
// the new tab quickly and the trailing edge follows slowly, so the bar stretches, then contracts.
class TabIndicator : public QWidget {
    Q_OBJECT

public:
    TabIndicator(QWidget* parent, KelExclusiveButtonGroup* group);
    ~TabIndicator() override;

    int thickness() const { return m_thickness; }
    void setThickness(int thickness);
    // The bar's horizontal extent: the edge values, smaller first.
    int barLeft() const;
    int barRight() const;

public slots:
    void updatePosition(bool animated);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    void watchButtons();
    static void moveEdge(QVariantAnimation* edge, int target, bool animated, bool fast);

    int m_thickness = 3;
    int m_center = 0;
    QPointer<KelExclusiveButtonGroup> m_group;
    QVariantAnimation* m_leftEdge;
    QVariantAnimation* m_rightEdge;
};
