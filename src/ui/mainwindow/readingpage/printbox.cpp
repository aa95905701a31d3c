#include "printbox.h"

#include "bookcontext.h"
#include "kelui.h"
#include "settingsprovider.h"
#include "ui.h"
#include "widgets/kelbutton.h"
#include "widgets/kelcombobox.h"
#include "widgets/kellabel.h"
#include "widgets/kelscrollarea.h"
#include "widgets/kelspinbox.h"
#include "windows/kelpopupmenu.h"

#include <QCoreApplication>
#include <QFontInfo>
#include <QScrollBar>
#include <QVBoxLayout>

namespace {

QString tr(const char* text) { return QCoreApplication::translate("MainWindow_Reading_Print", text); }

const int kPrintSideBar = 32;

} // namespace

const char* const PrintBox::kInvalidPrinterName = "InvalidPrinterName";

PrintBox::PrintBox(QWidget* parent)
    : PrintBox(PrinterCatalogue::system(), parent)
{
}

PrintBox::PrintBox(std::unique_ptr<PrinterCatalogue> catalogue, QWidget* parent)
    : ReadingSideBar(kPrintSideBar, parent)
    , m_catalogue(std::move(catalogue))
{
    setObjectName(QStringLiteral("PrintBox"));
    auto* content = new QWidget;
    auto* column = new QVBoxLayout(content);
    column->setContentsMargins(12, 16, 12, 16);
    column->setSpacing(0);
    m_printerBox = new LabeledComboBox(content);
    m_copiesBox = new LabeledSpinBox(content);
    m_pageSizeBox = new LabeledComboBox(content);
    m_orientationBox = new LabeledComboBox(content);
    m_colorModeBox = new LabeledComboBox(content);
    m_qualityBox = new LabeledComboBox(content);
    for (QWidget* box : { static_cast<QWidget*>(m_printerBox), static_cast<QWidget*>(m_copiesBox),
             static_cast<QWidget*>(m_pageSizeBox), static_cast<QWidget*>(m_orientationBox),
             static_cast<QWidget*>(m_colorModeBox), static_cast<QWidget*>(m_qualityBox) }) {
        box->setContentsMargins(12, 16, 12, 0);
        column->addWidget(box);
    }
    m_printerBox->setContentsMargins(12, 0, 12, 0);
    column->addStretch();

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    m_scrollArea = new KelScrollArea(this);
    m_scrollArea->setObjectName(QStringLiteral("PrintScroll"));
    m_scrollArea->setEdgeShadows(Qt::TopEdge | Qt::BottomEdge, 41, true);
    m_scrollArea->setWidget(content);
    m_scrollArea->setWidgetResizable(true);
    m_emptyLabel = new KelLabel(1064, this);
    m_emptyLabel->setObjectName(QStringLiteral("PrintIsEmptyLabel"));
    m_emptyLabel->setAlignment(Qt::AlignCenter);
    m_emptyLabel->setWordWrap(true);
    m_emptyLabel->hide();
    m_buttonBar = new KelFrame(1042, this);
    m_buttonBar->setBorderWidths(QMargins(0, 1, 0, 0));
    auto* buttons = new QHBoxLayout(m_buttonBar);
    buttons->setContentsMargins(24, 24, 24, 24);
    buttons->setSpacing(8);
    m_cancelButton = new KelButton(1006, m_buttonBar);
    m_printButton = new KelButton(1009, ":/svg/print.svg", m_buttonBar);
    buttons->addWidget(m_cancelButton);
    buttons->addWidget(m_printButton);
    layout->addWidget(m_scrollArea, 1);
    layout->addWidget(m_emptyLabel, 1);
    layout->addWidget(m_buttonBar);

    m_copiesBox->editor()->setFixedWidth(120);
    m_copiesBox->editor()->setRange(1, 99);
    m_pageSizeBox->editor()->popupMenu()->enableScrolling(2, 38);
    m_pageSizeBox->editor()->popupMenu()->setMaximumHeight(720);
    m_orientationBox->editor()->addItem(int(QPrinter::Landscape));
    m_orientationBox->editor()->addItem(int(QPrinter::Portrait));
    m_colorModeBox->editor()->addItem(int(QPrinter::Color));
    m_colorModeBox->editor()->addItem(int(QPrinter::GrayScale));
    m_qualityBox->editor()->addItem(int(QPrinter::ScreenResolution));
    m_qualityBox->editor()->addItem(int(QPrinter::HighResolution));

    SettingsProvider* settings = SettingsProvider::instance();
    connect(this, &KelWidget::showed, this, &PrintBox::fillPrinters);
    connect(m_printerBox->editor(), &KelComboBox::currentDataChanged, this, [this, settings](const QVariant& data) {
        refreshOptions();
        settings->setPrinter_name(data.toString());
    });
    connect(m_copiesBox->editor(), &KelSpinBox::intValueChanged, settings, &SettingsProvider::setPrinter_copies_count);
    connect(m_pageSizeBox->editor(), &KelComboBox::currentDataChanged, settings, [settings](const QVariant& data) {
        settings->setPrinter_page_size_saved(true);
        settings->setPrinter_page_size(QPageSize::PageSizeId(data.toInt()));
    });
    connect(m_orientationBox->editor(), &KelComboBox::currentDataChanged, settings,
        [settings](const QVariant& data) { settings->setPrinter_orientation(QPrinter::Orientation(data.toInt())); });
    connect(m_colorModeBox->editor(), &KelComboBox::currentDataChanged, settings,
        [settings](const QVariant& data) { settings->setPrinter_color_mode(QPrinter::ColorMode(data.toInt())); });
    connect(m_qualityBox->editor(), &KelComboBox::currentDataChanged, settings,
        [settings](const QVariant& data) { settings->setPrinter_mode(QPrinter::PrinterMode(data.toInt())); });
    connect(m_cancelButton, &KelButton::clicked, this, &ReadingSideBar::closeRequest);
    connect(m_printButton, &KelButton::clicked, this, &PrintBox::print);
    connect(m_scrollArea->verticalScrollBar(), &QScrollBar::rangeChanged, this, [this](int min, int max) {
        // While the panel scrolls, the wheel over an unfocused box scrolls the panel.
        m_copiesBox->setWheelGuard(min < max);
        m_copiesBox->editor()->setFocusPolicy(min < max ? Qt::StrongFocus : Qt::WheelFocus);
    });
    retranslateUi();
}

PrintBox::~PrintBox() = default;

QString PrintBox::title() const { return tr("Print"); }

QString PrintBox::closeText() const { return tr("Close"); }

void PrintBox::retranslateUi()
{
    m_emptyLabel->setText(tr("There are no printers available."));
    m_printerBox->label()->setText(tr("Printer"));
    m_copiesBox->label()->setText(tr("Copies"));
    m_pageSizeBox->label()->setText(tr("Paper size"));
    m_orientationBox->label()->setText(tr("Orientation"));
    m_colorModeBox->label()->setText(tr("Color mode"));
    m_qualityBox->label()->setText(tr("Print quality"));
    m_orientationBox->editor()->setItemText(int(QPrinter::Landscape), tr("Landscape"));
    m_orientationBox->editor()->setItemText(int(QPrinter::Portrait), tr("Portrait"));
    m_colorModeBox->editor()->setItemText(int(QPrinter::Color), tr("Color"));
    m_colorModeBox->editor()->setItemText(int(QPrinter::GrayScale), tr("Grayscale"));
    m_qualityBox->editor()->setItemText(int(QPrinter::ScreenResolution), tr("Low quality"));
    m_qualityBox->editor()->setItemText(int(QPrinter::HighResolution), tr("High quality"));
    m_cancelButton->setText(tr("CANCEL"));
    m_printButton->setText(tr("Print"));
}

void PrintBox::fillPrinters()
{
    const QStringList names = m_catalogue->printerNames();
    m_scrollArea->setVisible(!names.isEmpty());
    m_buttonBar->setVisible(!names.isEmpty());
    m_emptyLabel->setVisible(names.isEmpty());
    if (names.isEmpty())
        return;

    KelComboBox* box = m_printerBox->editor();
    const bool blocked = box->blockSignals(true);
    box->clear();
    const QString defaultName = m_catalogue->defaultPrinterName();
    for (const QString& name : names) {
        const bool isDefault = name == defaultName;
        QString text = m_catalogue->description(name);
        if (isDefault && names.size() > 1)
            text += QLatin1Char(' ') + tr("(default)");
        KelButton* item = box->addItem(name, text);
        if (isDefault) {
            const QFont font = item->KelButtonPainter::font();
            item->setFont(font.pixelSize() > 0 ? font.pixelSize() : QFontInfo(font).pixelSize(), QFont::Bold);
        }
    }
    // A printer that does not exist, to try the disconnected printer; never offered to users.
    KelUi* ui = KelUi::instance();
    if (ui && ui->isMaintenanceMode())
        box->addItem(QString::fromLatin1(kInvalidPrinterName), QStringLiteral("Invalid printer"));
    box->blockSignals(blocked);

    QString name = SettingsProvider::instance()->printer_name();
    if (name.isEmpty() || !box->containsData(name))
        name = defaultName;
    // With printers but no default one the first printer is taken, rather than no printer.
    if (!box->containsData(name))
        name = names.first();
    box->setCurrentDataSilently(QVariant());
    box->setCurrentData(name);
}

void PrintBox::refreshOptions()
{
    const QString name = m_printerBox->editor()->currentData().toString();
    const bool valid = m_catalogue->hasPrinter(name);
    SettingsProvider* settings = SettingsProvider::instance();

    m_copiesBox->editor()->setValueSilently(settings->printer_copies_count());
    m_copiesBox->setVisible(valid);

    KelComboBox* sizes = m_pageSizeBox->editor();
    const bool blocked = sizes->blockSignals(true);
    sizes->clear();
    if (valid) {
        const QList<QPageSize> supported = m_catalogue->supportedPageSizes(name);
        for (const QPageSize& size : supported)
            sizes->addItem(int(size.id()), size.name());
        // A default that is no entry of the list (a custom size has no id of its own) would show
        // as its bare id: the entry of the same paper stands for it, else the first one.
        const QPageSize preferred = m_catalogue->defaultPageSize(name);
        const QPageSize* chosen = nullptr;
        for (const QPageSize& size : supported) {
            if (!chosen && size.id() != QPageSize::Custom && size.id() == preferred.id())
                chosen = &size;
        }
        for (const QPageSize& size : supported) {
            if (!chosen && size.isEquivalentTo(preferred))
                chosen = &size;
        }
        if (!chosen && !supported.isEmpty())
            chosen = &supported.first();
        if (chosen)
            sizes->setCurrentDataSilently(int(chosen->id()), chosen->name());
        else if (preferred.isValid())
            sizes->setCurrentDataSilently(int(preferred.id()), preferred.name());
    }
    sizes->blockSignals(blocked);
    m_pageSizeBox->setVisible(valid);

    m_orientationBox->editor()->setCurrentDataSilently(int(settings->printer_orientation()));
    m_orientationBox->setVisible(valid);
    m_qualityBox->editor()->setCurrentDataSilently(int(settings->printer_mode()));
    m_qualityBox->setVisible(valid);

    const QList<QPrinter::ColorMode> modes
        = valid ? m_catalogue->supportedColorModes(name) : QList<QPrinter::ColorMode>();
    m_colorModeBox->setVisible(valid && !modes.isEmpty());
    m_colorModeBox->setEnabled(valid && modes.size() >= 2);
    if (modes.size() == 2)
        m_colorModeBox->editor()->setCurrentDataSilently(int(settings->printer_color_mode()));
    else if (modes.size() == 1)
        m_colorModeBox->editor()->setCurrentDataSilently(int(modes.first()));

    m_printButton->setEnabled(valid);
}

std::unique_ptr<QPrinter> PrintBox::createPrinter() const
{
    const QString name = m_printerBox->editor()->currentData().toString();
    const auto mode = QPrinter::PrinterMode(m_qualityBox->editor()->currentData().toInt());
    std::unique_ptr<QPrinter> printer = m_catalogue->createPrinter(name, mode);
    if (!printer)
        return nullptr;
    printer->setCopyCount(m_copiesBox->editor()->value());
    printer->setPageSize(QPageSize(QPageSize::PageSizeId(m_pageSizeBox->editor()->currentData().toInt())));
    printer->setPageOrientation(
        QPrinter::Orientation(m_orientationBox->editor()->currentData().toInt()) == QPrinter::Landscape
            ? QPageLayout::Landscape
            : QPageLayout::Portrait);
    printer->setColorMode(QPrinter::ColorMode(m_colorModeBox->editor()->currentData().toInt()));
    return printer;
}

void PrintBox::print()
{
    const QSharedPointer<BookContext> context = bookContext();
    if (!context)
        return;
    const std::unique_ptr<QPrinter> printer = createPrinter();
    if (!printer) {
        if (Ui* ui = Ui::instance())
            ui->showPrinterDisconnected(m_printerBox->editor()->currentText());
        qWarning() << "Printer is gone:" << m_printerBox->editor()->currentData().toString();
        return;
    }
    context->print(*printer);
    emit closeRequest();
}
