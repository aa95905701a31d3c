#pragma once

#include "abstractsettingspage.h"

class KelButton;
class LabeledComboBox;
class LabeledSlider;

// The speech locale and voice of reading aloud and its volume, speed and pitch, each stored at
// once and followed when changed elsewhere.
class TtsSettingsPage : public AbstractSettingsPage {
    Q_OBJECT

public:
    explicit TtsSettingsPage(QWidget* parent = nullptr);
    ~TtsSettingsPage() override;

    QString title() const override;
    void retranslateUi() override;

    LabeledComboBox* localeBox() const;
    LabeledComboBox* voiceBox() const;
    LabeledSlider* volumeSlider() const;
    LabeledSlider* rateSlider() const;
    LabeledSlider* pitchSlider() const;
    KelButton* refreshButton() const;
    KelButton* moreLanguagesButton() const;

    // Where the speech service keeps its voices and modules: the user's folder, else the system's;
    // empty when neither exists.
    static QString speechConfigFolder();

protected:
    void showEvent(QShowEvent* event) override;

private:
    void onSpeechStatusChanged();
    void showSpeechStatus();
    void fillLocales();
    void fillVoices();
    void onLocaleChanged(const QString& locale);
    void onVoiceChanged(const QString& voice);
    void onVoiceChosen(const QVariant& data);

    class Private;
    Private* d;
};
