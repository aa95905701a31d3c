#include "appsettingspage.h"

AppSettingsPage::AppSettingsPage(QWidget* parent)
    : QWidget(parent)
{
}

AppSettingsPage::~AppSettingsPage() = default;

void AppSettingsPage::translateUi() { }
