#include "printercatalogue.h"

#include <QPrinterInfo>

namespace {

class SystemPrinterCatalogue : public PrinterCatalogue {
public:
    QStringList printerNames() const override { return QPrinterInfo::availablePrinterNames(); }
    QString defaultPrinterName() const override { return QPrinterInfo::defaultPrinterName(); }
    bool hasPrinter(const QString& name) const override { return !QPrinterInfo::printerInfo(name).isNull(); }
    QString description(const QString& name) const override
    {
        const QString text = QPrinterInfo::printerInfo(name).description();
        return text.isEmpty() ? name : text;
    }
    QList<QPageSize> supportedPageSizes(const QString& name) const override
    {
        return QPrinterInfo::printerInfo(name).supportedPageSizes();
    }
    QPageSize defaultPageSize(const QString& name) const override
    {
        return QPrinterInfo::printerInfo(name).defaultPageSize();
    }
    QList<QPrinter::ColorMode> supportedColorModes(const QString& name) const override
    {
        return QPrinterInfo::printerInfo(name).supportedColorModes();
    }
    std::unique_ptr<QPrinter> createPrinter(const QString& name, QPrinter::PrinterMode mode) const override
    {
        const QPrinterInfo info = QPrinterInfo::printerInfo(name);
        if (info.isNull())
            return nullptr;
        return std::make_unique<QPrinter>(info, mode);
    }
};

} // namespace

std::unique_ptr<PrinterCatalogue> PrinterCatalogue::system() { return std::make_unique<SystemPrinterCatalogue>(); }
