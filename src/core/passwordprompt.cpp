#include "passwordprompt.h"

#include <QtDebug>

namespace {

PasswordPrompt& installedPrompt()
{
    static PasswordPrompt prompt;
    return prompt;
}

} // namespace

void setPasswordPrompt(const PasswordPrompt& prompt) { installedPrompt() = prompt; }

bool hasPasswordPrompt() { return bool(installedPrompt()); }

bool askPassword(const QString& fileName, const PasswordValidator& validator)
{
    const PasswordPrompt prompt = installedPrompt();
    if (!prompt) {
        qWarning() << "No password prompt installed; opening" << fileName << "is cancelled";
        return false;
    }
    return prompt(fileName, validator);
}
