#include "styles/sepiastyle.h"

#include "styles/profilecolors.h"

#include <QCoreApplication>

namespace {

const ProfileColors kSepia = { 0xfcf6e1, 0xfefaed,
    { 0x829dff, 0xdae0f9, 0xb7c7ff, 0xa68deb, 0xe4dbfc, 0xdfd3ff, 0xec7980, 0xfadadc, 0xffc2c6, 0xf7d755, 0xf3e8bb,
        0xfff0af, 0x76d45f, 0xd3e9ce, 0xccffbe } };

} // namespace

SepiaStyle::SepiaStyle(QObject* parent)
    : Style(parent)
{
}

SepiaStyle::~SepiaStyle() = default;

QString SepiaStyle::id() const { return QStringLiteral("SepiaStyle"); }

QString SepiaStyle::title() const { return QCoreApplication::translate("MainWindow_Settings_System", "Sepia"); }

QString SepiaStyle::styleIconPath() const { return QStringLiteral(":/svg/style-sepia.svg"); }

bool SepiaStyle::isDarkTheme() const { return false; }

QColor SepiaStyle::color(int role) const
{
    switch (role) {
    case CL_Accent:
        return QColor(0x40331b);
    case CL_Text_Dark:
        return QColor(0x1a1202);
    case CL_Text_Light:
        return QColor(0xfbfbfb);
    case CL_Text_Link:
        // The common blue is too pale on the cream base (3.3:1); this one reads at 6.3:1.
        return QColor(0x245c9e);
    case 1038:
        return color(1007);
    case 1039:
        // The progress fill keeps the blue of the other profiles, not the brown accent.
        return QColor(0x1e4cf0);
    default:
        return profileColor(*this, kSepia, role);
    }
}
