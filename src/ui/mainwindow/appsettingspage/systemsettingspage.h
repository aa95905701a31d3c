#pragma once

#include "abstractsettingspage.h"

class KelButton;
class LabeledButton;
class LabeledComboBox;
class StyleSelector;

// The first settings tab: interface language, theme, update check and analytics on the left;
// the library folder and export, import and clearing of the library on the right.
class SystemSettingsPage : public AbstractSettingsPage {
    Q_OBJECT

public:
    explicit SystemSettingsPage(QWidget* parent = nullptr);
    ~SystemSettingsPage() override;

    QString title() const override;
    void retranslateUi() override;

    LabeledComboBox* languageBox() const;
    StyleSelector* styleSelector() const;
    KelButton* updateCheckSwitch() const;
    KelButton* analyticsSwitch() const;
    LabeledButton* libraryPathBox() const;
    KelButton* exportButton() const;
    KelButton* importButton() const;
    KelButton* clearButton() const;

    // The archive name the export writes for a chosen file name: the suffix added when missing.
    static QString archiveFileName(const QString& chosen);

private:
    void onLanguageChosen();
    void chooseLibraryFolder();
    void exportLibrary();
    void importLibrary();
    void clearLibrary();

    class Private;
    Private* d;
};
