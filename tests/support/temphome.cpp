#include "temphome.h"

#include <QDir>

static const char* const kXdgVariables[] = { "XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME" };

TempHome::TempHome()
    : m_dir(QDir::tempPath() + QStringLiteral("/pl-home-XXXXXX"))
{
    m_hadHome = qEnvironmentVariableIsSet("HOME");
    m_oldHome = qgetenv("HOME");
    for (const char* name : kXdgVariables) {
        if (qEnvironmentVariableIsSet(name)) {
            m_savedXdg.append({ QByteArray(name), qgetenv(name) });
            qunsetenv(name);
        }
    }
    if (m_dir.isValid())
        qputenv("HOME", QFile::encodeName(m_dir.path()));
}

TempHome::~TempHome()
{
    if (m_hadHome)
        qputenv("HOME", m_oldHome);
    else
        qunsetenv("HOME");
    for (const auto& saved : m_savedXdg)
        qputenv(saved.first.constData(), saved.second);
}
