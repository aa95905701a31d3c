#include "ttssettingspage.h"

#include "application.h"
#include "kelsettings.h"
#include "kelui.h"
#include "settingsprovider.h"
#include "speechengine.h"
#include "speechservice.h"
#include "styles/kelstyle.h"
#include "widgets/kelbutton.h"
#include "widgets/kelcombobox.h"
#include "widgets/kellabel.h"
#include "widgets/kelslider.h"
#include "widgets/labeled.h"

#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QHBoxLayout>
#include <QPointer>
#include <QStandardPaths>
#include <QTimer>
#include <QUrl>
#include <QVBoxLayout>

namespace {

const char* const kContext = "MainWindow_Settings_TTS";

QString translated(const char* text) { return QCoreApplication::translate(kContext, text); }

SpeechEngine* speechEngine()
{
    Application* app = Application::instance();
    return app ? app->textToSpeech() : nullptr;
}

// One slider bound to one stored value: position p stands for p / 100.
struct SliderBinding {
    LabeledSlider* slider;
    int minimum;
    int maximum;
    bool percent;
    double (SettingsProvider::*get)() const;
    void (SettingsProvider::*set)(double);
    void (SettingsProvider::*changed)(double);
};

QString valueText(int position, bool percent)
{
    return percent ? QStringLiteral("%1%").arg(position) : QString::number(position);
}

} // namespace

class TtsSettingsPage::Private {
public:
    LabeledComboBox* locales = nullptr;
    LabeledComboBox* voices = nullptr;
    // The engine last asked for a locale, and that locale.
    QPointer<SpeechEngine> askedEngine;
    QString askedLocale;
    LabeledSlider* pitch = nullptr;
    LabeledSlider* volume = nullptr;
    LabeledSlider* rate = nullptr;
    KelButton* refresh = nullptr;
    KelButton* moreLanguages = nullptr;
    // Why the lists are empty while the speech service is connecting or unavailable.
    KelLabel* status = nullptr;
};

TtsSettingsPage::TtsSettingsPage(QWidget* parent)
    : AbstractSettingsPage(0, parent)
    , d(new Private)
{
    d->locales = new LabeledComboBox(column(0));
    d->locales->setObjectName(QStringLiteral("Locales"));
    d->voices = new LabeledComboBox(column(0));
    d->voices->setObjectName(QStringLiteral("Voices"));
    d->pitch = new LabeledSlider(1072, column(0));
    d->pitch->setObjectName(QStringLiteral("Pitch"));
    d->volume = new LabeledSlider(36, column(0));
    d->volume->setObjectName(QStringLiteral("Volume"));
    d->rate = new LabeledSlider(1072, column(0));
    d->rate->setObjectName(QStringLiteral("Rate"));
    d->refresh = new KelButton(1008, column(0));
    d->moreLanguages = new KelButton(1008, column(0));
    d->status = new KelLabel(1052, column(0));
    d->status->setObjectName(QStringLiteral("SpeechStatus"));
    d->status->setTextFormat(Qt::PlainText);
    d->status->setWordWrap(true);
    d->status->hide();

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(d->refresh, 1);
    buttons->addWidget(d->moreLanguages, 1);
    QVBoxLayout* layout = columnLayout(0);
    layout->addWidget(d->status);
    layout->addWidget(d->locales);
    layout->addWidget(d->voices);
    layout->addSpacing(24);
    layout->addWidget(d->volume);
    layout->addWidget(d->rate);
    layout->addWidget(d->pitch);
    layout->addSpacing(24);
    layout->addLayout(buttons);
    layout->addStretch();
    column(0)->setMinimumWidth(kelStyle()->metric(1001));
    pageLayout()->addStretch(1);

    // The engine is made when the page is first shown, never while the window is built.
    if (Application* app = Application::instance()) {
        connect(app->speechService(), &SpeechService::statusChanged, this, &TtsSettingsPage::onSpeechStatusChanged);
    }
    showSpeechStatus();
    fillLocales();
    fillVoices();

    SettingsProvider* settings = SettingsProvider::instance();
    if (settings) {
        connect(settings, &SettingsProvider::ttsLocaleNameChanged, this, &TtsSettingsPage::onLocaleChanged);
        connect(settings, &SettingsProvider::ttsVoiceNameChanged, this, &TtsSettingsPage::onVoiceChanged);
    }
    connect(d->locales->editor(), &KelComboBox::currentDataChanged, this, [](const QVariant& data) {
        if (SettingsProvider* settings = SettingsProvider::instance())
            settings->setTtsLocaleName(data.toString());
    });
    connect(d->voices->editor(), &KelComboBox::currentDataChanged, this, &TtsSettingsPage::onVoiceChosen);

    const SliderBinding bindings[] = {
        { d->volume, 0, 100, true, &SettingsProvider::ttsVolume, &SettingsProvider::setTtsVolume,
            &SettingsProvider::ttsVolumeChanged },
        { d->rate, -100, 100, false, &SettingsProvider::ttsRate, &SettingsProvider::setTtsRate,
            &SettingsProvider::ttsRateChanged },
        { d->pitch, -100, 100, false, &SettingsProvider::ttsPitch, &SettingsProvider::setTtsPitch,
            &SettingsProvider::ttsPitchChanged },
    };
    for (const SliderBinding& binding : bindings) {
        KelSlider* slider = binding.slider->editor();
        KelLabel* label = binding.slider->valueLabel();
        const bool percent = binding.percent;
        const auto set = binding.set;
        if (settings) {
            connect(
                settings, binding.changed, slider, [slider](double value) { slider->setValue(qRound(value * 100)); });
        }
        connect(slider, &QAbstractSlider::valueChanged, this, [set, label, percent](int position) {
            if (SettingsProvider* settings = SettingsProvider::instance())
                (settings->*set)(position / 100.0);
            label->setText(valueText(position, percent));
        });
        slider->setRange(binding.minimum, binding.maximum);
        if (settings)
            slider->setValue(qRound((settings->*binding.get)() * 100));
        // A slider left at 0 shows its value too, not only after the first move.
        label->setText(valueText(slider->value(), percent));
    }

    connect(d->refresh, &KelButton::clicked, this, [this] {
        // After a failed connection the service is asked again; the lists follow when it answers.
        Application* app = Application::instance();
        if (app && app->speechService() && app->speechService()->status() == SpeechService::Status::Unavailable)
            app->initTts();
        fillLocales();
        QTimer::singleShot(0, this, &TtsSettingsPage::fillVoices);
    });
    // No system page lists more voices here; the speech service's configuration folder is the
    // place to add them.
    d->moreLanguages->setVisible(!speechConfigFolder().isEmpty());
    connect(d->moreLanguages, &KelButton::clicked, this, [] {
        const QString folder = speechConfigFolder();
        if (!folder.isEmpty() && KelUi::instance())
            KelUi::instance()->openLinkInSuitableApp(QUrl::fromLocalFile(folder).toString());
    });
    setObjectName(QStringLiteral("TTS"));
}

TtsSettingsPage::~TtsSettingsPage()
{
    delete d;
    d = nullptr;
}

void TtsSettingsPage::showEvent(QShowEvent* event)
{
    AbstractSettingsPage::showEvent(event);
    Application* app = Application::instance();
    if (app && app->speechService() && app->speechService()->status() == SpeechService::Status::Idle)
        app->initTts();
}

void TtsSettingsPage::onSpeechStatusChanged()
{
    showSpeechStatus();
    fillLocales();
    fillVoices();
}

void TtsSettingsPage::showSpeechStatus()
{
    Application* app = Application::instance();
    const SpeechService::Status status
        = app && app->speechService() ? app->speechService()->status() : SpeechService::Status::Unavailable;
    QString text;
    if (status == SpeechService::Status::Connecting || status == SpeechService::Status::Idle)
        text = translated("Connecting to the speech service...");
    else if (status == SpeechService::Status::Unavailable)
        text = translated("Text to speech is not available: no speech service answers.");
    d->status->setText(text);
    d->status->setVisible(!text.isEmpty());
}

QString TtsSettingsPage::title() const { return translated("Text to speech"); }

void TtsSettingsPage::retranslateUi()
{
    d->locales->label()->setText(translated("Locale"));
    d->voices->label()->setText(translated("Voice"));
    d->volume->label()->setText(translated("Reading volume"));
    d->rate->label()->setText(translated("Reading speed"));
    d->pitch->label()->setText(translated("Reading pitch"));
    d->refresh->setText(translated("Refresh lists"));
    d->moreLanguages->setText(translated("More languages"));
    showSpeechStatus();
}

QString TtsSettingsPage::speechConfigFolder()
{
    const QString user = QDir(QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation))
                             .filePath(QStringLiteral("speech-dispatcher"));
    if (QDir(user).exists())
        return user;
    const QString system = QStringLiteral("/etc/speech-dispatcher");
    return QDir(system).exists() ? system : QString();
}

void TtsSettingsPage::fillLocales()
{
    SettingsProvider* settings = SettingsProvider::instance();
    QString saved = settings ? settings->ttsLocaleName() : QString();
    if (saved.isEmpty())
        saved = KelSettings::defaultLocaleName();
    KelComboBox* box = d->locales->editor();
    box->clear();
    SpeechEngine* engine = speechEngine();
    if (!engine)
        return;
    bool matched = false;
    QString first;
    for (const QLocale& locale : engine->availableLocales()) {
        QString text = locale.nativeLanguageName();
        if (!text.isEmpty())
            text[0] = text[0].toUpper();
        box->addItem(locale.name(), text);
        if (first.isEmpty())
            first = locale.name();
        if (locale.name() == saved) {
            box->setCurrentData(locale.name());
            matched = true;
        }
    }
    if (!matched && !first.isEmpty())
        box->setCurrentData(first);
}

void TtsSettingsPage::fillVoices()
{
    SettingsProvider* settings = SettingsProvider::instance();
    const QString locale = settings ? settings->ttsLocaleName() : QString();
    const QString wanted = settings ? settings->ttsLocaleVoiceMap().value(locale) : QString();
    KelComboBox* box = d->voices->editor();
    box->clear();
    SpeechEngine* engine = speechEngine();
    if (!engine)
        return;
    // The engine answers on its own thread: the list is filled when it tells its voices of the
    // locale (once asked; a locale it lacks leaves the voices it has).
    connect(engine, &SpeechEngine::voicesChanged, this, &TtsSettingsPage::fillVoices, Qt::UniqueConnection);
    if (engine->locale().name() != locale && (d->askedEngine != engine || d->askedLocale != locale)) {
        d->askedEngine = engine;
        d->askedLocale = locale;
        engine->setLocale(QLocale(locale));
        return;
    }
    bool matched = false;
    QString first;
    for (const QVoice& voice : engine->availableVoices()) {
        box->addItem(voice.name());
        if (first.isEmpty())
            first = voice.name();
        if (voice.name() == wanted) {
            box->setCurrentData(voice.name());
            matched = true;
        }
    }
    if (!matched && !first.isEmpty())
        box->setCurrentData(first);
}

void TtsSettingsPage::onLocaleChanged(const QString& locale)
{
    KelComboBox* box = d->locales->editor();
    // Following a change must not write back the refill's own pick.
    const bool blocked = box->blockSignals(true);
    if (!box->containsData(locale))
        fillLocales();
    box->setCurrentData(locale);
    box->blockSignals(blocked);
    QTimer::singleShot(0, this, &TtsSettingsPage::fillVoices);
}

void TtsSettingsPage::onVoiceChanged(const QString& voice)
{
    KelComboBox* box = d->voices->editor();
    const bool blocked = box->blockSignals(true);
    if (!box->containsData(voice))
        fillVoices();
    box->setCurrentData(voice);
    box->blockSignals(blocked);
}

void TtsSettingsPage::onVoiceChosen(const QVariant& data)
{
    SettingsProvider* settings = SettingsProvider::instance();
    if (!settings)
        return;
    const QString voice = data.toString();
    settings->setTtsVoiceName(voice);
    LocaleVoiceMap map = settings->ttsLocaleVoiceMap();
    map.insert(settings->ttsLocaleName(), voice);
    settings->setTtsLocaleVoiceMap(map);
}

LabeledComboBox* TtsSettingsPage::localeBox() const { return d->locales; }

LabeledComboBox* TtsSettingsPage::voiceBox() const { return d->voices; }

LabeledSlider* TtsSettingsPage::volumeSlider() const { return d->volume; }

LabeledSlider* TtsSettingsPage::rateSlider() const { return d->rate; }

LabeledSlider* TtsSettingsPage::pitchSlider() const { return d->pitch; }

KelButton* TtsSettingsPage::refreshButton() const { return d->refresh; }

KelButton* TtsSettingsPage::moreLanguagesButton() const { return d->moreLanguages; }
