#include "widgets/kelexclusivebuttongroup.h"

#include "widgets/kelbutton.h"

#include <QDebug>
#include <QSignalBlocker>

#include <algorithm>

namespace {

const char kUserDataProperty[] = "__kel_button_group_btn_user_data";

} // namespace

KelExclusiveButtonGroup::KelExclusiveButtonGroup(int widgetType, QObject* parent)
    : QObject(parent)
    , m_widgetType(widgetType)
{
    // toggled() carries the button through queued connections and signal spies.
    qRegisterMetaType<KelButton*>();
}

KelExclusiveButtonGroup::KelExclusiveButtonGroup(QObject* parent)
    : KelExclusiveButtonGroup(-1, parent)
{
}

KelExclusiveButtonGroup::~KelExclusiveButtonGroup() = default;

KelButton* KelExclusiveButtonGroup::addButton(KelButton* button, const QVariant& userData)
{
    if (!button) {
        qCritical() << "Ignore trying to add nullptr button into" << this;
        return nullptr;
    }
    if (buttons().contains(button)) {
        qWarning() << "Ignore add button" << button << "into" << this << "because it's already registered";
        return button;
    }
    button->setCheckable(true);
    button->setUncheckByClickBlocked(!m_emptySelectionAllowed);
    button->setProperty(kUserDataProperty, userData);
    m_buttons.append(button);
    connect(button, &QObject::destroyed, this, &KelExclusiveButtonGroup::onButtonDestroyed);
    connect(
        button, &KelButton::toggled, this, [this, button](bool checked) { onButtonToggled(button, checked); },
        Qt::DirectConnection);
    return button;
}

KelButton* KelExclusiveButtonGroup::createButton(const QVariant& userData, const QString& iconName)
{
    return addButton(new KelButton(m_widgetType, iconName), userData);
}

KelButton* KelExclusiveButtonGroup::button(const QVariant& userData) const
{
    for (KelButton* button : buttons()) {
        if (button->property(kUserDataProperty) == userData)
            return button;
    }
    return nullptr;
}

QList<KelButton*> KelExclusiveButtonGroup::buttons() const
{
    QList<KelButton*> result;
    for (const QPointer<QObject>& entry : m_buttons) {
        if (entry)
            result.append(static_cast<KelButton*>(entry.data()));
    }
    return result;
}

KelButton* KelExclusiveButtonGroup::checkedButton() const
{
    for (KelButton* button : buttons()) {
        if (button->isChecked())
            return button;
    }
    return nullptr;
}

QVariant KelExclusiveButtonGroup::checkedUserData() const { return userData(checkedButton()); }

QVariant KelExclusiveButtonGroup::userData(const KelButton* button)
{
    return button ? button->property(kUserDataProperty) : QVariant();
}

bool KelExclusiveButtonGroup::setCheckedByUserData(const QVariant& userData)
{
    KelButton* target = button(userData);
    if (!target && !m_emptySelectionAllowed)
        return false;
    if (signalsBlocked()) {
        for (KelButton* button : buttons())
            button->setCheckedSilently(button == target);
        return true;
    }
    if (target) {
        target->setChecked(true);
    } else if (KelButton* checked = checkedButton()) {
        checked->setChecked(false);
    }
    return true;
}

bool KelExclusiveButtonGroup::setCheckedByUserDataSilently(const QVariant& userData)
{
    const QSignalBlocker blocker(this);
    return setCheckedByUserData(userData);
}

bool KelExclusiveButtonGroup::uncheckAll() { return setCheckedByUserData(QVariant()); }

void KelExclusiveButtonGroup::setEmptySelectionAllowed(bool allowed)
{
    m_emptySelectionAllowed = allowed;
    for (KelButton* button : buttons())
        button->setUncheckByClickBlocked(!allowed);
}

void KelExclusiveButtonGroup::onButtonToggled(KelButton* button, bool checked)
{
    // The signal comes a pass late: a silent change in between may have overturned it, and acting
    // on the old value would undo that change.
    if (button->isChecked() != checked)
        return;
    if (checked) {
        for (KelButton* other : buttons())
            other->setCheckedSilently(other == button);
        if (!signalsBlocked())
            emit toggled(button, userData(button));
    } else if (!signalsBlocked()) {
        emit toggled(nullptr, QVariant());
    }
}

void KelExclusiveButtonGroup::onButtonDestroyed(QObject* button)
{
    // The widget part says so before the guarded pointers are cleared: compare the plain object.
    m_buttons.erase(std::remove_if(m_buttons.begin(), m_buttons.end(),
                        [button](const QPointer<QObject>& entry) { return !entry || entry.data() == button; }),
        m_buttons.end());
}
