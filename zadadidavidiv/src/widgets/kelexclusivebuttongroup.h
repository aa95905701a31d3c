#pragma once

#include <QList>
#include <QObject>
#include <QPointer>
#include <QVariant>

class KelButton;

// Keeps at most one of its checkable buttons checked, like radio buttons, and tags each button with
// a user data value so callers select and read the selection by value. The buttons stay wherever
// their owners lay them out; the group neither owns nor deletes them.
class KelExclusiveButtonGroup : public QObject {
    Q_OBJECT

public:
    KelExclusiveButtonGroup(int widgetType, QObject* parent = nullptr);
    explicit KelExclusiveButtonGroup(QObject* parent = nullptr);
    ~KelExclusiveButtonGroup() override;

    // Makes the button checkable and adds it with the value. Null for a null button; a button
    // already in the group is returned unchanged.
    KelButton* addButton(KelButton* button, const QVariant& userData);
    // A new parentless button of the group's widget type, added with the value.
    KelButton* createButton(const QVariant& userData, const QString& iconName = QString());

    // The first button carrying the value, else null.
    KelButton* button(const QVariant& userData) const;
    QList<KelButton*> buttons() const;
    KelButton* checkedButton() const;
    // Invalid when nothing is checked.
    QVariant checkedUserData() const;
    static QVariant userData(const KelButton* button);

    // Checks the button carrying the value, or unchecks all when none does and an empty selection
    // is allowed (false otherwise, nothing changes). toggled() follows on the next event-loop pass.
    bool setCheckedByUserData(const QVariant& userData);
    // The same at once and without toggled().
    bool setCheckedByUserDataSilently(const QVariant& userData);
    bool uncheckAll();

    bool isEmptySelectionAllowed() const { return m_emptySelectionAllowed; }
    // When allowed, a click on the checked button unchecks it.
    void setEmptySelectionAllowed(bool allowed);

signals:
    // A button became checked, or (null, invalid) when the checked one was unchecked.
    void toggled(KelButton* button, QVariant userData);

private:
    void onButtonToggled(KelButton* button, bool checked);
    void onButtonDestroyed(QObject* button);

    // Untyped: a button is already half destroyed when it says so, and must then not be cast.
    QList<QPointer<QObject>> m_buttons;
    int m_widgetType = -1;
    bool m_emptySelectionAllowed = false;
};
