#pragma once

#include "readingsidebar.h"

class ColumnCountSelector;
class FontFamilySelector;
class KelButton;
class LabeledSlider;
class LineSpacingSelector;
class StyleSelector;

// The quick reading settings of the open book: theme, one or two columns, font, font size and
// line spacing (those the viewer supports), and the ways to the full settings and the hotkeys.
class SettingsBox : public ReadingSideBar {
    Q_OBJECT
public:
    explicit SettingsBox(QWidget* parent = nullptr);

    void retranslateUi() override;
    QString title() const override;
    QString closeText() const override;

    StyleSelector* styleSelector() const { return m_styleSelector; }
    ColumnCountSelector* columnCountSelector() const { return m_columnCountSelector; }
    FontFamilySelector* fontFamilySelector() const { return m_fontFamilySelector; }
    LabeledSlider* fontSizeEditor() const { return m_fontSize; }
    LineSpacingSelector* lineSpacingSelector() const { return m_lineSpacing; }
    KelButton* allSettingsButton() const { return m_allSettings; }
    KelButton* hotkeysButton() const { return m_hotkeys; }

    // Line spacing in per cent for a step of the selector (clamped to 1..10), and back.
    static int lineSpacingPercent(int step);
    static int lineSpacingStep(int percent);

signals:
    void goToAppSettingsClicked();

protected:
    void onBookContextChanged(QSharedPointer<BookContext> context) override;

private:
    void refresh();

    StyleSelector* m_styleSelector;
    ColumnCountSelector* m_columnCountSelector;
    FontFamilySelector* m_fontFamilySelector;
    LabeledSlider* m_fontSize;
    LineSpacingSelector* m_lineSpacing;
    KelButton* m_allSettings;
    KelButton* m_hotkeys;
};
