#pragma once

#include "widgets/kellineedit.h"

#include <QPointer>

class KelGlobalMouseWatcher;

// A line edit that looks like a label and is edited in place: Escape puts back the text it had
// when editing began, a click anywhere else or Return ends the editing and keeps the text.
class EditableLabel : public KelLineEdit {
    Q_OBJECT

public:
    EditableLabel(int styleRole, QWidget* parent = nullptr);
    ~EditableLabel() override;

protected:
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    QString m_savedText;
    QPointer<KelGlobalMouseWatcher> m_mouseWatcher; // only while editing
};
