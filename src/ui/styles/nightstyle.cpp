#include "styles/nightstyle.h"

#include "styles/profilecolors.h"

#include <QCoreApplication>

namespace {

const ProfileColors kNight = { 0x1d2026, 0x2b343d,
    { 0x3757c8, 0x18234b, 0x164a97, 0x6e4dcb, 0x1f1145, 0x4d3888, 0xd04850, 0x460c0f, 0x96292f, 0xc7a51e, 0x372e09,
        0x66550b, 0x53bd3a, 0x123807, 0x1d550e } };

} // namespace

NightStyle::NightStyle(QObject* parent)
    : Style(parent)
{
}

NightStyle::~NightStyle() = default;

QString NightStyle::id() const { return QStringLiteral("NightStyle"); }

QString NightStyle::title() const { return QCoreApplication::translate("MainWindow_Settings_System", "Night"); }

QString NightStyle::styleIconPath() const { return QStringLiteral(":/svg/style-night.svg"); }

bool NightStyle::isDarkTheme() const { return true; }

QColor NightStyle::color(int role) const { return profileColor(*this, kNight, role); }
