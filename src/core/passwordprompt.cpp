#include "passwordprompt.h"

#include <QtDebug>

namespace {

PasswordPrompt& installedPrompt()
{
    static PasswordPrompt prompt;
    return prompt;
}

int s_cancelled = 0;

} // namespace

void setPasswordPrompt(const PasswordPrompt& prompt) { installedPrompt() = prompt; }

bool hasPasswordPrompt() { return bool(installedPrompt()); }

bool askPassword(const QString& fileName, const PasswordValidator& validator)
{
    const PasswordPrompt prompt = installedPrompt();
    if (!prompt) {
        qWarning() << "No password prompt installed; opening" << fileName << "is cancelled";
        ++s_cancelled;
        return false;
    }
    const bool accepted = prompt(fileName, validator);
    if (!accepted)
        ++s_cancelled;
    return accepted;
}

int cancelledPasswordPrompts() { return s_cancelled; }
