// A speech engine for tests. It keeps each text it is asked to say in the application's property
// "spokenTexts" ("[cut] " in front of a text a later say interrupted, as a real engine cuts it
// short) and is Ready again after "speechMsPerChar" ms per character (0: on the next event-loop
// pass). With the property "speechFails" set it is broken from the start. After "speechHeard"
// texts (when set) it stops speaking as an engine without audio does: "speechMute" "stuck" stays
// Speaking, "instant" is Ready again at once.

#include <QCoreApplication>
#include <QTextToSpeechEngine>
#include <QTextToSpeechPlugin>
#include <QTimer>
#include <QVoice>

class RecorderEngine : public QTextToSpeechEngine {
    Q_OBJECT
public:
    using QTextToSpeechEngine::QTextToSpeechEngine;
    void say(const QString& text) override
    {
        QStringList spoken = qApp->property("spokenTexts").toStringList();
        if (m_state == QTextToSpeech::Speaking)
            spoken.last().prepend(QStringLiteral("[cut] "));
        qApp->setProperty("spokenTexts", spoken << text);
        setState(QTextToSpeech::Speaking);
        const QVariant heard = qApp->property("speechHeard");
        const bool mute = heard.isValid() && spoken.size() > heard.toInt();
        const QString how = qApp->property("speechMute").toString();
        if (mute && how == QLatin1String("stuck"))
            return;
        const int delay = mute ? 0 : qApp->property("speechMsPerChar").toInt() * int(text.size());
        QTimer::singleShot(delay, this, [this, said = ++m_said] {
            if (said == m_said)
                setState(QTextToSpeech::Ready);
        });
    }
    void stop() override { setState(QTextToSpeech::Ready); }
    void pause() override { }
    void resume() override { }
    QTextToSpeech::State state() const override { return m_state; }
    QVector<QLocale> availableLocales() const override { return {}; }
    QVector<QVoice> availableVoices() const override { return {}; }
    double rate() const override { return 0; }
    bool setRate(double) override { return false; }
    double pitch() const override { return 0; }
    bool setPitch(double) override { return false; }
    QLocale locale() const override { return {}; }
    bool setLocale(const QLocale&) override { return false; }
    double volume() const override { return 1; }
    bool setVolume(double) override { return false; }
    QVoice voice() const override { return {}; }
    bool setVoice(const QVoice&) override { return false; }

private:
    void setState(QTextToSpeech::State state) { emit stateChanged(m_state = state); }
    QTextToSpeech::State m_state
        = qApp->property("speechFails").toBool() ? QTextToSpeech::BackendError : QTextToSpeech::Ready;
    int m_said = 0;
};

class RecorderPlugin : public QObject, public QTextToSpeechPlugin {
    Q_OBJECT
    Q_PLUGIN_METADATA(IID "org.qt-project.qt.speech.tts.plugin/5.0" FILE "recorder.json")
    Q_INTERFACES(QTextToSpeechPlugin)
public:
    QTextToSpeechEngine* createTextToSpeechEngine(const QVariantMap&, QObject* parent, QString*) const override
    {
        return new RecorderEngine(parent);
    }
};

#include "recorderplugin.moc"
