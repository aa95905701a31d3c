#pragma once

#include <QByteArray>
#include <QDir>
#include <QString>
#include <QTemporaryDir>

// Points HOME at a fresh temporary folder while the object lives, so a test never touches the
// user's data, settings or logs; the XDG folders are unset so that Qt derives them from HOME.
class TempHome {
public:
    TempHome()
        : m_dir(QDir::tempPath() + QStringLiteral("/pl-home-XXXXXX"))
    {
        for (const char* name : { "HOME", "XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME" })
            m_saved.append({ name, qEnvironmentVariableIsSet(name), qgetenv(name) });
        for (int i = 1; i < m_saved.size(); ++i)
            qunsetenv(m_saved[i].name);
        if (m_dir.isValid())
            qputenv("HOME", QFile::encodeName(m_dir.path()));
    }
    ~TempHome()
    {
        for (const Variable& saved : m_saved) {
            if (saved.set)
                qputenv(saved.name, saved.value);
            else
                qunsetenv(saved.name);
        }
    }
    TempHome(const TempHome&) = delete;
    TempHome& operator=(const TempHome&) = delete;

    bool isValid() const { return m_dir.isValid(); }
    QString path() const { return m_dir.path(); }
    QString filePath(const QString& relative) const { return m_dir.filePath(relative); }

private:
    struct Variable {
        const char* name;
        bool set;
        QByteArray value;
    };
    QTemporaryDir m_dir;
    QList<Variable> m_saved;
};
