#pragma once

#include <QString>

#include <functional>

// How the reading core asks the user for a document's password without knowing the
// application's dialogs: the application installs a prompt at start-up, tests install a scripted
// one. The prompt shows the file name, hands every candidate to the validator, keeps asking while
// it answers false, and returns true once a candidate was accepted, false when the user cancels.
using PasswordValidator = std::function<bool(const QString& password)>;
using PasswordPrompt = std::function<bool(const QString& fileName, const PasswordValidator& validator)>;

// An empty function removes the prompt.
void setPasswordPrompt(const PasswordPrompt& prompt);
bool hasPasswordPrompt();
// Without an installed prompt nobody can answer: a warning, and the request counts as cancelled.
bool askPassword(const QString& fileName, const PasswordValidator& validator);
// How many requests so far ended without an accepted password, so that a caller can tell a
// declined prompt from a broken file.
int cancelledPasswordPrompts();
