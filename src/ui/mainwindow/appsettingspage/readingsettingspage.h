#pragma once

#include "abstractsettingspage.h"

class ColumnCountSelector;
class FontFamilySelector;
class LabeledComboBox;

// The defaults of text books: page view, text alignment and text font, each written at once.
class ReadingSettingsPage : public AbstractSettingsPage {
    Q_OBJECT

public:
    explicit ReadingSettingsPage(QWidget* parent = nullptr);
    ~ReadingSettingsPage() override;

    QString title() const override;
    void retranslateUi() override;

    ColumnCountSelector* columnCountSelector() const;
    LabeledComboBox* alignmentBox() const;
    FontFamilySelector* fontFamilySelector() const;

private:
    class Private;
    Private* d;
};
