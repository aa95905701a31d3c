// A speech engine for tests, its settings read when it is made. It keeps each text it is asked to
// say in the application's property
// "spokenTexts" ("[cut] " in front of a text a later say interrupted, as a real engine cuts it
// short) and is Ready again after "speechMsPerChar" ms per character (0: on the next event-loop
// pass). With the property "speechFails" set it is broken from the start. After "speechHeard"
// texts (when set) it stops speaking as an engine without audio does: "speechMute" "stuck" stays
// Speaking, "instant" is Ready again at once; "hung" never returns from say, as a client whose
// service never answers. Each call's name goes to "speechCalls"; one made on the application's
// thread sets "speechOnGuiThread". The properties are written on the application's thread, in the
// order of the calls, since the engine lives on a thread of its own.

#include <QCoreApplication>
#include <QSemaphore>
#include <QTextToSpeechEngine>
#include <QTextToSpeechPlugin>
#include <QThread>
#include <QTimer>
#include <QVoice>

class RecorderEngine : public QTextToSpeechEngine {
    Q_OBJECT
public:
    using QTextToSpeechEngine::QTextToSpeechEngine;
    void say(const QString& text) override
    {
        called("say");
        const bool cut = m_state == QTextToSpeech::Speaking;
        QMetaObject::invokeMethod(
            qApp,
            [text, cut] {
                QStringList spoken = qApp->property("spokenTexts").toStringList();
                if (cut)
                    spoken.last().prepend(QStringLiteral("[cut] "));
                qApp->setProperty("spokenTexts", spoken << text);
            },
            Qt::QueuedConnection);
        const bool mute = m_heard.isValid() && ++m_count > m_heard.toInt();
        const QString& how = m_how;
        if (mute && how == QLatin1String("hung")) {
            static QSemaphore never;
            never.acquire();
        }
        setState(QTextToSpeech::Speaking);
        if (mute && how == QLatin1String("stuck"))
            return;
        const int delay = mute ? 0 : m_msPerChar * int(text.size());
        QTimer::singleShot(delay, this, [this, said = ++m_said] {
            if (said == m_said)
                setState(QTextToSpeech::Ready);
        });
    }
    void stop() override
    {
        called("stop");
        setState(QTextToSpeech::Ready);
    }
    void pause() override { called("pause"); }
    void resume() override { called("resume"); }
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
    static void called(const char* name)
    {
        const bool onGuiThread = QThread::currentThread() == qApp->thread();
        QMetaObject::invokeMethod(
            qApp,
            [name, onGuiThread] {
                qApp->setProperty("speechCalls", qApp->property("speechCalls").toStringList() << name);
                if (onGuiThread)
                    qApp->setProperty("speechOnGuiThread", true);
            },
            Qt::QueuedConnection);
    }
    QTextToSpeech::State m_state
        = qApp->property("speechFails").toBool() ? QTextToSpeech::BackendError : QTextToSpeech::Ready;
    int m_said = 0;
    int m_count = 0;
    // The settings, read once: the application's thread writes the properties meanwhile.
    const QVariant m_heard = qApp->property("speechHeard");
    const QString m_how = qApp->property("speechMute").toString();
    const int m_msPerChar = qApp->property("speechMsPerChar").toInt();
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
