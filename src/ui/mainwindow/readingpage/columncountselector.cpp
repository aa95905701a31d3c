#include "columncountselector.h"

#include "settingsprovider.h"
#include "widgets/kelbutton.h"
#include "widgets/kelexclusivebuttongroup.h"

#include <QCoreApplication>

ColumnCountSelector::ColumnCountSelector(QWidget* parent)
    : LabeledButtonGroup(parent)
{
    setObjectName(QStringLiteral("ColumnCountSelector"));
    addButton(2, QStringLiteral(":/svg/columns-double.svg"));
    addButton(1, QStringLiteral(":/svg/columns-single.svg"));
    SettingsProvider* settings = SettingsProvider::instance();
    if (!settings)
        return;
    buttonGroup()->setCheckedByUserDataSilently(settings->column_count());
    QObject::connect(buttonGroup(), &KelExclusiveButtonGroup::toggled, this, [this] {
        if (SettingsProvider* settings = SettingsProvider::instance(); settings && buttonGroup()->checkedButton())
            settings->setColumn_count(buttonGroup()->checkedUserData().toInt());
    });
    QObject::connect(settings, &SettingsProvider::column_countChanged, this,
        [this](int count) { buttonGroup()->setCheckedByUserDataSilently(count); });
}

void ColumnCountSelector::translateUi()
{
    const char* c = "MainWindow_Settings_Reading";
    if (KelButton* single = buttonGroup()->button(1))
        single->setText(QCoreApplication::translate(c, "Single"));
    if (KelButton* twin = buttonGroup()->button(2))
        twin->setText(QCoreApplication::translate(c, "Double"));
}

void setClampedColumnCount(int count)
{
    if (SettingsProvider* settings = SettingsProvider::instance())
        settings->setColumn_count(qBound(1, count, 2));
}
