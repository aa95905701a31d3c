#pragma once

#include <QList>
#include <QPageSize>
#include <QPrinter>
#include <QString>

#include <memory>

// The printers of the system as the print page needs them. The page asks this interface only, so
// tests can offer printers that do not exist.
class PrinterCatalogue {
public:
    virtual ~PrinterCatalogue() = default;

    virtual QStringList printerNames() const = 0;
    virtual QString defaultPrinterName() const = 0;
    virtual bool hasPrinter(const QString& name) const = 0;
    virtual QString description(const QString& name) const = 0;
    virtual QList<QPageSize> supportedPageSizes(const QString& name) const = 0;
    virtual QPageSize defaultPageSize(const QString& name) const = 0;
    virtual QList<QPrinter::ColorMode> supportedColorModes(const QString& name) const = 0;
    // A printer set up for the named device; null when the printer is gone.
    virtual std::unique_ptr<QPrinter> createPrinter(const QString& name, QPrinter::PrinterMode mode) const = 0;

    // The catalogue over the system's printers (none without a print server).
    static std::unique_ptr<PrinterCatalogue> system();
};
