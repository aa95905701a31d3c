#pragma once

#include "printercatalogue.h"
#include "readingsidebar.h"
#include "widgets/labeled.h"

class KelButton;
class KelScrollArea;

// The side page that prints the open book on one of the system's printers, with copies, paper,
// orientation, colour and quality remembered between runs.
class PrintBox : public ReadingSideBar {
    Q_OBJECT

public:
    explicit PrintBox(QWidget* parent = nullptr);
    // Tests hand in printers of their own; the page takes ownership.
    PrintBox(std::unique_ptr<PrinterCatalogue> catalogue, QWidget* parent = nullptr);
    ~PrintBox() override;

    void retranslateUi() override;
    QString title() const override;
    QString closeText() const override;
    bool hasTitleSeparator() const override { return true; }

    // Fills the printer list anew (done on every show).
    void fillPrinters();
    // The printer configured from the page; null when the chosen printer is gone.
    std::unique_ptr<QPrinter> createPrinter() const;
    void print();

    LabeledComboBox* printerBox() const { return m_printerBox; }
    LabeledSpinBox* copiesBox() const { return m_copiesBox; }
    LabeledComboBox* pageSizeBox() const { return m_pageSizeBox; }
    LabeledComboBox* orientationBox() const { return m_orientationBox; }
    LabeledComboBox* qualityBox() const { return m_qualityBox; }
    LabeledComboBox* colorModeBox() const { return m_colorModeBox; }
    KelButton* printButton() const { return m_printButton; }
    KelLabel* emptyLabel() const { return m_emptyLabel; }
    KelScrollArea* scrollArea() const { return m_scrollArea; }

    static const char* const kInvalidPrinterName;

private:
    void refreshOptions();

    std::unique_ptr<PrinterCatalogue> m_catalogue;
    KelScrollArea* m_scrollArea = nullptr;
    KelLabel* m_emptyLabel = nullptr;
    LabeledComboBox* m_printerBox = nullptr;
    LabeledSpinBox* m_copiesBox = nullptr;
    LabeledComboBox* m_pageSizeBox = nullptr;
    LabeledComboBox* m_orientationBox = nullptr;
    LabeledComboBox* m_qualityBox = nullptr;
    LabeledComboBox* m_colorModeBox = nullptr;
    KelFrame* m_buttonBar = nullptr;
    KelButton* m_cancelButton = nullptr;
    KelButton* m_printButton = nullptr;
};
