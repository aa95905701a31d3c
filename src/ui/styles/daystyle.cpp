#include "styles/daystyle.h"

#include "styles/profilecolors.h"

#include <QCoreApplication>

namespace {

const ProfileColors kDay = { 0xffffff, 0xe4e4e4,
    { 0x829dff, 0xdde4fd, 0xb7c7ff, 0xa68deb, 0xeae2ff, 0xdfd3ff, 0xec7980, 0xffe9ea, 0xffc2c6, 0xf7d755, 0xfff4ca,
        0xfff0af, 0x76d45f, 0xe9ffe3, 0xccffbe } };

} // namespace

DayStyle::DayStyle(QObject* parent)
    : Style(parent)
{
}

DayStyle::~DayStyle() = default;

QString DayStyle::id() const { return QStringLiteral("DayStyle"); }

QString DayStyle::title() const { return QCoreApplication::translate("MainWindow_Settings_System", "Day"); }

QString DayStyle::styleIconPath() const { return QStringLiteral(":/svg/style-day.svg"); }

bool DayStyle::isDarkTheme() const { return false; }

QColor DayStyle::color(int role) const { return profileColor(*this, kDay, role); }
