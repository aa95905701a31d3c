#include "platform/x11/kelsystemutils.h"

#include <QOperatingSystemVersion>

#include <cerrno>
#include <cstring>

namespace KelUtils {

QString lastWinErrorText()
{
    const int code = errno;
    if (code == 0)
        return QString();
    return QStringLiteral("%1 (%2)").arg(QString::fromLocal8Bit(std::strerror(code))).arg(code);
}

} // namespace KelUtils

bool isWindows8OrGreater()
{
    const QOperatingSystemVersion current = QOperatingSystemVersion::current();
    return current.type() == QOperatingSystemVersion::Windows && current >= QOperatingSystemVersion::Windows8;
}

bool isWindows10OrGreater(int build)
{
    const QOperatingSystemVersion current = QOperatingSystemVersion::current();
    return current.type() == QOperatingSystemVersion::Windows
        && current >= QOperatingSystemVersion(QOperatingSystemVersion::Windows, 10, 0, build);
}
