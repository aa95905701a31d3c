#pragma once

#include <QSettings>
#include <QString>

// The toolkit's settings: a QSettings over the application's settings file with the few typed,
// signalling values the toolkit needs. The program's own settings object derives from it, adds its
// keys and extends readSettings and writeSettings. Every key lives in the root group. Change
// signals carry the new value and are emitted only when the value really changed.
class KelSettings : public QSettings {
    Q_OBJECT

public:
    KelSettings(const QString& fileName, QSettings::Format format, QObject* parent = nullptr);
    ~KelSettings() override;

    static QString defaultLocaleName();

    // Reads "localeName", "updateCheckerEnabled" and "registerAsDefaultApp" into the members,
    // emitting the change signal of each member whose value differs.
    virtual void readSettings();
    // Writes the three members; emits nothing.
    virtual void writeSettings();

    QString localeName() const { return m_localeName; }
    void setLocaleName(const QString& value);
    bool updateCheckerEnabled() const { return m_updateCheckerEnabled; }
    void setUpdateCheckerEnabled(bool value);
    bool registerAsDefaultApp() const { return m_registerAsDefaultApp; }
    void setRegisterAsDefaultApp(bool value);

    // Stored keys, read and written through at once.
    int lastScreen();
    void setLastScreen(int screen);
    QString lastOpenFilePath();
    void setLastOpenFilePath(const QString& path);
    QString lastStyleId();
    void setLastStyleId(const QString& id);

    // For a start that ends without running (it handed its books over, or the running instance is
    // busy): the file belongs to the running instance, and nothing is written to it, neither the
    // application's values at its end nor the end of the first run. A write would wait for the
    // running instance's lock on the file, for ever when that instance is stopped in the middle of
    // its own write.
    void leaveFileToRunningInstance() { m_leaveFile = true; }
    bool leavesFileToRunningInstance() const { return m_leaveFile; }

signals:
    void localeNameChanged(QString val);
    void lastScreenChanged(int val);
    void updateCheckerEnabledChanged(bool val);
    void updateCheckerShowedVersionChanged(QString val);
    void registerAsDefaultAppChanged(bool val);
    // Declared for subclasses: the toolkit has no key for it and never emits it.
    void checkIsNotDefaultChanged(bool val);
    void lastOpenFilePathChanged(QString val);
    void lastStyleIdChanged(QString val);

protected:
    // Reads a root-group key. A stored value that converts to the default's type gives the
    // converted value (a failed conversion gives false, 0 or an empty text); anything else gives
    // the default.
    QVariant typedValue(const QString& key, const QVariant& defaultValue);
    void setRootValue(const QString& key, const QVariant& value);
    // Stores value under key and reports true when it differs from what was stored.
    bool storeIfChanged(const QString& key, const QVariant& value);

private:
    template <typename F> auto inRootGroup(F access);

    QString m_localeName;
    bool m_updateCheckerEnabled = true;
    bool m_registerAsDefaultApp = true;
    bool m_leaveFile = false;
};
