// A speech engine for tests. It speaks nothing: every text it is asked to say is appended to
// the application's "spokenTexts" property, and it is Ready again on the next event-loop pass.
// A say that comes while it still speaks cuts the text before it short, as a real engine does:
// that text is kept with "[cut] " in front. With the application property "speechFails" set, the
// engine starts in the error state and says nothing.

#include <QCoreApplication>
#include <QTextToSpeechEngine>
#include <QTextToSpeechPlugin>
#include <QTimer>
#include <QVoice>

class RecorderEngine : public QTextToSpeechEngine {
    Q_OBJECT
public:
    explicit RecorderEngine(QObject* parent)
        : QTextToSpeechEngine(parent)
        , m_state(qApp->property("speechFails").toBool() ? QTextToSpeech::BackendError : QTextToSpeech::Ready)
    {
    }

    QVector<QLocale> availableLocales() const override { return { QLocale(QLocale::English) }; }
    QVector<QVoice> availableVoices() const override { return {}; }

    void say(const QString& text) override
    {
        if (m_state == QTextToSpeech::BackendError)
            return;
        QStringList spoken = qApp->property("spokenTexts").toStringList();
        if (m_state == QTextToSpeech::Speaking && !spoken.isEmpty())
            spoken.last().prepend(QStringLiteral("[cut] "));
        spoken.append(text);
        qApp->setProperty("spokenTexts", spoken);
        const int utterance = ++m_utterance;
        setState(QTextToSpeech::Speaking);
        QTimer::singleShot(0, this, [this, utterance] {
            if (utterance == m_utterance && m_state == QTextToSpeech::Speaking)
                setState(QTextToSpeech::Ready);
        });
    }
    void stop() override
    {
        if (m_state == QTextToSpeech::Speaking || m_state == QTextToSpeech::Paused)
            setState(QTextToSpeech::Ready);
    }
    void pause() override
    {
        if (m_state == QTextToSpeech::Speaking)
            setState(QTextToSpeech::Paused);
    }
    void resume() override
    {
        if (m_state == QTextToSpeech::Paused)
            setState(QTextToSpeech::Ready);
    }

    double rate() const override { return 0.0; }
    bool setRate(double) override { return true; }
    double pitch() const override { return 0.0; }
    bool setPitch(double) override { return true; }
    QLocale locale() const override { return QLocale(QLocale::English); }
    bool setLocale(const QLocale&) override { return true; }
    double volume() const override { return 1.0; }
    bool setVolume(double) override { return true; }
    QVoice voice() const override { return QVoice(); }
    bool setVoice(const QVoice&) override { return false; }
    QTextToSpeech::State state() const override { return m_state; }

private:
    void setState(QTextToSpeech::State state)
    {
        m_state = state;
        emit stateChanged(state);
    }

    QTextToSpeech::State m_state;
    int m_utterance = 0;
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
