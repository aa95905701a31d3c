#pragma once

#include "animators/kelwidgetstateanimator.h"
#include "eventfilters/kelqmenustyler.h"
#include "painting/kelpaintcontext.h"
#include "styles/kelstyle.h"
#include "styles/kelstyleable.h"
#include "widgets/kelspinboxpainter.h"

#include <QKeyEvent>
#include <QKeySequence>
#include <QLineEdit>
#include <QList>
#include <QMouseEvent>
#include <QPainter>
#include <QStyleOptionSpinBox>

// The behaviour of the toolkit's spin boxes over a Qt spin box T: the toolkit frame and arrows, Enter
// and Escape as signals, and arrow keys at the ends of the text asking to move on to the neighbouring
// field of a form. A template cannot declare signals, so the concrete class emits them in the emit...
// operations.
template <typename T> class KelAbstractSpinBox : public T, public KelSpinBoxPainter, public KelStyleable {
public:
    KelAbstractSpinBox(int widgetType, QWidget* parent)
        : T(parent)
        , KelSpinBoxPainter(this)
        , KelStyleable(widgetType)
    {
        new KelQMenuStyler(this->lineEdit(), kMenuStyleRole);
        // Mode 2: focus shows as the checked state, hover as the hovered one.
        m_stateAnimator = new KelWidgetStateAnimator(2, this);
        m_stateAnimator->setWidget(this);
        this->setAttribute(Qt::WA_Hover);
        QLineEdit* edit = this->lineEdit();
        edit->setTextMargins(edit->textMargins() - QMargins(2, 2, 2, 1));
        if (isStyled())
            kelStyle()->applySpinBoxStyle(this, widgetType);
    }

    // Both bases name these; the widget's meaning wins.
    using QWidget::contentsRect;
    using QWidget::font;
    using QWidget::setFont;
    using T::minimumSizeHint;
    using T::sizeHint;

    KelWidgetStateAnimator* stateAnimator() const { return m_stateAnimator; }
    QList<int> prevWidgetKeys() const { return m_prevWidgetKeys; }
    void setPrevWidgetKeys(const QList<int>& keys) { m_prevWidgetKeys = keys; }
    QList<int> nextWidgetKeys() const { return m_nextWidgetKeys; }
    void setNextWidgetKeys(const QList<int>& keys) { m_nextWidgetKeys = keys; }

    void applyStyle() override
    {
        if (isStyled())
            kelStyle()->applySpinBoxStyle(this, widgetType());
    }

protected:
    virtual void emitEnterPressed() = 0;
    virtual void emitEscPressed() = 0;
    virtual void emitPrevWidgetRequested() = 0;
    virtual void emitNextWidgetRequested() = 0;
    virtual void emitButtonPressed() = 0;
    virtual void emitButtonReleased() = 0;

    void keyPressEvent(QKeyEvent* event) override
    {
        const QLineEdit* edit = this->lineEdit();
        if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
            emitEnterPressed();
            event->accept();
        } else if (event->matches(QKeySequence::Cancel)) {
            emitEscPressed();
            event->accept();
        } else if (m_prevWidgetKeys.contains(event->key()) && edit->cursorPosition() == 0) {
            emitPrevWidgetRequested();
            event->accept();
        } else if (m_nextWidgetKeys.contains(event->key()) && edit->cursorPosition() == edit->text().size()) {
            emitNextWidgetRequested();
            event->accept();
        } else {
            QAbstractSpinBox::keyPressEvent(event);
        }
    }

    void mousePressEvent(QMouseEvent* event) override
    {
        const auto steps = this->stepEnabled();
        if (event->button() == Qt::LeftButton && this->buttonSymbols() != QAbstractSpinBox::NoButtons
            && steps != QAbstractSpinBox::StepNone) {
            QStyleOptionSpinBox option;
            this->initStyleOption(&option);
            const QStyle* style = this->style();
            const QRect up = style->subControlRect(QStyle::CC_SpinBox, &option, QStyle::SC_SpinBoxUp, this);
            const QRect down = style->subControlRect(QStyle::CC_SpinBox, &option, QStyle::SC_SpinBoxDown, this);
            if ((up.contains(event->pos()) && (steps & QAbstractSpinBox::StepUpEnabled))
                || (down.contains(event->pos()) && (steps & QAbstractSpinBox::StepDownEnabled))) {
                m_arrowPressed = true;
                emitButtonPressed();
            }
        }
        QAbstractSpinBox::mousePressEvent(event);
    }

    void mouseReleaseEvent(QMouseEvent* event) override
    {
        QAbstractSpinBox::mouseReleaseEvent(event);
        if (m_arrowPressed) {
            m_arrowPressed = false;
            emitButtonReleased();
        }
    }

    void paintEvent(QPaintEvent*) override
    {
        KelPaintContext context(this);
        QPainter* painter = context.painter();
        painter->save();
        painter->setOpacity(KelVisibilityAnimatable::opacity());
        drawFrame(context, m_stateAnimator);
        QStyleOptionSpinBox option;
        this->initStyleOption(&option);
        drawSpinBox(context, &option);
        painter->restore();
    }

    void resizeEvent(QResizeEvent* event) override
    {
        setFrameSize(this->size());
        QAbstractSpinBox::resizeEvent(event);
    }

    void onLayoutChanged() override
    {
        KelSpinBoxPainter::onLayoutChanged();
        // The arrows are laid out while the line edit is made; nothing to place it in yet.
        if (QLineEdit* edit = this->lineEdit())
            edit->setContentsMargins(margins() + borderWidths() + paddings());
        this->updateGeometry();
    }

private:
    static const int kMenuStyleRole = 40;

    KelWidgetStateAnimator* m_stateAnimator = nullptr;
    QList<int> m_prevWidgetKeys { Qt::Key_Left };
    QList<int> m_nextWidgetKeys { Qt::Key_Right };
    bool m_arrowPressed = false;
};
