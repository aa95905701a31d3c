#pragma once

#include <QWidget>

class KelButton;
class KelLabel;

// A line-spacing step chosen with a minus and a plus button, each with a caption below it. The
// host sets the range, the captions and the meaning of the steps.
class LineSpacingSelector : public QWidget {
    Q_OBJECT

public:
    explicit LineSpacingSelector(QWidget* parent = nullptr);

    int minimum() const { return m_minimum; }
    int maximum() const { return m_maximum; }
    int value() const { return m_value; }
    void setRange(int minimum, int maximum);
    void setValueSilently(int value);
    void setDecreaseText(const QString& text);
    void setIncreaseText(const QString& text);

    KelButton* decreaseButton() const { return m_decrease; }
    KelButton* increaseButton() const { return m_increase; }
    KelLabel* decreaseLabel() const { return m_decreaseLabel; }
    KelLabel* increaseLabel() const { return m_increaseLabel; }

signals:
    void valueChanged(int value);

private:
    void step(int delta);
    void updateEnabledStates();

    int m_minimum = 0;
    int m_maximum = 0;
    int m_value = 0;
    KelButton* m_decrease;
    KelButton* m_increase;
    KelLabel* m_decreaseLabel;
    KelLabel* m_increaseLabel;
};
