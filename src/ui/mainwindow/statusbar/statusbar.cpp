#include "statusbar.h"

StatusBar::StatusBar(QWidget* parent)
    : QWidget(parent)
{
    setFixedHeight(24);
}

StatusBar::~StatusBar() = default;

void StatusBar::translateUi() { }
