#include "editablelabel.h"

#include "eventfilters/kelglobalmousewatcher.h"
#include "utils/kelgeometryutils.h"

#include <QKeyEvent>

EditableLabel::EditableLabel(int styleRole, QWidget* parent)
    : KelLineEdit(styleRole, parent)
{
    connect(this, &QLineEdit::editingFinished, this, [this] {
        clearFocus();
        // A long name shows its beginning again.
        setCursorPosition(0);
    });
}

EditableLabel::~EditableLabel() { delete m_mouseWatcher; }

void EditableLabel::focusInEvent(QFocusEvent* event)
{
    m_savedText = text();
    KelLineEdit::focusInEvent(event);
    if (m_mouseWatcher)
        return;
    m_mouseWatcher = new KelGlobalMouseWatcher;
    connect(m_mouseWatcher, &KelGlobalMouseWatcher::mousePressed, this, [this](QPoint rawGlobalPos) {
        if (!rect().contains(KelUtils::mapDeviceToWidget(this, rawGlobalPos)))
            clearFocus();
    });
}

void EditableLabel::focusOutEvent(QFocusEvent* event)
{
    KelLineEdit::focusOutEvent(event);
    if (m_mouseWatcher) {
        m_mouseWatcher->disconnect(this);
        m_mouseWatcher->deleteLater();
        m_mouseWatcher = nullptr;
    }
}

void EditableLabel::keyPressEvent(QKeyEvent* event)
{
    if (event->matches(QKeySequence::Cancel)) {
        setTextSilently(m_savedText);
        clearFocus();
        event->accept();
        return;
    }
    KelLineEdit::keyPressEvent(event);
}
