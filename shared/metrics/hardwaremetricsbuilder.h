#pragma once

#include <QRect>
#include <QString>
#include <QStringList>
#include <QVector>

#include <functional>

// Describes the machine once, on the first run, as metric log lines ("#key:value"), which the
// metrics handler turns into events. Screens and touch input are GUI facts: this library links
// no GUI module, so the application hands them in through a provider.
class HardwareMetricsBuilder {
public:
    struct ScreenFacts {
        bool primary = false;
        QRect geometry; // logical pixels
        int effectiveDpi = 96; // logical DPI times the device pixel ratio
    };
    struct DisplayFacts {
        QVector<ScreenFacts> screens;
        bool integratedTouch = false; // a touch screen is attached and ready
        int desktops = 1; // X11 has one desktop per session for this purpose
    };
    using DisplayFactsProvider = std::function<DisplayFacts()>;

    // Set by the application; without a provider no screen, no touch and one desktop are reported.
    static void setDisplayFactsProvider(DisplayFactsProvider provider);
    // Where the machine identifier is read, first readable wins. Default: /etc/machine-id,
    // then /var/lib/dbus/machine-id. Tests point this at files of their own.
    static void setMachineIdFiles(const QStringList& paths);
    // The power-supply class folder (default /sys/class/power_supply).
    static void setPowerSupplyDir(const QString& path);

    static void dumpMetrics();

    // Salted hash of the machine identifier; the hash of the salt alone when there is none.
    static QString osMachineId();
    // 1 with a system battery, 0 without one, -1 when the power supplies cannot be read.
    static int laptopState();
    // Total physical memory in MiB, 0 when unknown.
    static qint64 physicalMemoryMiB();
};
