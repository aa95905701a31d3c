#pragma once

#include "widgets/kellabel.h"

#include <QBoxLayout>
#include <QDebug>
#include <QWidget>

class KelButton;
class KelComboBox;
class KelPlainTextEdit;
class KelSlider;
class KelSpinBox;
class ProgressBar;

// A caption row above one editor: every captioned control of the settings pages, the properties
// dialog and the reading side pages is one, so they all share one layout and caption look.
template <typename T> class Labeled : public QWidget {
public:
    explicit Labeled(QWidget* parent = nullptr)
        : QWidget(parent)
    {
        m_layout = new QVBoxLayout(this);
        m_layout->setContentsMargins(0, 0, 0, 0);
        m_layout->setSpacing(7);
        m_captionRow = new QHBoxLayout;
        m_captionRow->setContentsMargins(0, 0, 0, 0);
        m_captionRow->setSpacing(6);
        m_layout->addLayout(m_captionRow, 0);
        m_label = new KelLabel(1052, this);
        m_label->setSizePolicy(QSizePolicy::Minimum, QSizePolicy::Minimum);
        m_captionRow->addWidget(m_label, 0);
    }

    // Only the first editor is taken; a later one stays with its owner.
    void setEditor(T* editor)
    {
        if (!editor)
            return;
        if (m_editor) {
            qWarning() << this << "Already has an editor";
            return;
        }
        m_editor = editor;
        m_layout->addWidget(editor, 0);
    }
    T* editor() const { return m_editor; }
    KelLabel* label() const { return m_label; }

protected:
    QHBoxLayout* captionRow() const { return m_captionRow; }

private:
    QHBoxLayout* m_captionRow = nullptr;
    QVBoxLayout* m_layout = nullptr;
    KelLabel* m_label = nullptr;
    T* m_editor = nullptr;
};

class LabeledButton : public Labeled<KelButton> {
public:
    LabeledButton(int widgetType, const QString& iconName, QWidget* parent = nullptr);
};

class LabeledLabel : public Labeled<KelLabel> {
public:
    LabeledLabel(int widgetType, QWidget* parent = nullptr);
};

class LabeledPlainTextEdit : public Labeled<KelPlainTextEdit> {
public:
    explicit LabeledPlainTextEdit(QWidget* parent = nullptr);
};

class LabeledProgress : public Labeled<ProgressBar> {
public:
    explicit LabeledProgress(QWidget* parent = nullptr);
};

class LabeledComboBox : public Labeled<KelComboBox> {
public:
    explicit LabeledComboBox(QWidget* parent = nullptr);
};

// Its caption row ends with a value label that the users fill with the slider's value.
class LabeledSlider : public Labeled<KelSlider> {
public:
    LabeledSlider(int sliderStyle, QWidget* parent = nullptr);
    KelLabel* valueLabel() const { return m_valueLabel; }

private:
    KelLabel* m_valueLabel = nullptr;
};

// With the wheel guard on, the wheel over an unfocused editor is left to the enclosing panel.
class LabeledSpinBox : public Labeled<KelSpinBox> {
public:
    explicit LabeledSpinBox(QWidget* parent = nullptr);
    bool wheelGuard() const { return m_wheelGuard; }
    void setWheelGuard(bool on) { m_wheelGuard = on; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    bool m_wheelGuard = false;
};
