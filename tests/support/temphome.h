#pragma once

#include <QByteArray>
#include <QDir>
#include <QString>
#include <QTemporaryDir>

// Points HOME at a fresh temporary folder for the lifetime of the object, so a test never
// touches the user's data folder, settings or logs. The XDG folders are unset so that Qt
// derives them from HOME.
class TempHome {
public:
    TempHome()
        : m_dir(QDir::tempPath() + QStringLiteral("/pl-home-XXXXXX"))
        , m_hadHome(qEnvironmentVariableIsSet("HOME"))
        , m_oldHome(qgetenv("HOME"))
    {
        for (const char* name : { "XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME" }) {
            if (qEnvironmentVariableIsSet(name)) {
                m_savedXdg.append({ QByteArray(name), qgetenv(name) });
                qunsetenv(name);
            }
        }
        if (m_dir.isValid())
            qputenv("HOME", QFile::encodeName(m_dir.path()));
    }
    ~TempHome()
    {
        if (m_hadHome)
            qputenv("HOME", m_oldHome);
        else
            qunsetenv("HOME");
        for (const auto& saved : m_savedXdg)
            qputenv(saved.first.constData(), saved.second);
    }
    TempHome(const TempHome&) = delete;
    TempHome& operator=(const TempHome&) = delete;

    bool isValid() const { return m_dir.isValid(); }
    QString path() const { return m_dir.path(); }
    // Absolute path of a file or folder inside the temporary home.
    QString filePath(const QString& relative) const { return m_dir.filePath(relative); }

private:
    QTemporaryDir m_dir;
    bool m_hadHome;
    QByteArray m_oldHome;
    QList<QPair<QByteArray, QByteArray>> m_savedXdg;
};
