#pragma once

#include <locale.h>

// Switches the calling thread's character type to UTF-8 for the lifetime of the object and
// restores the previous thread locale afterwards.
//
// libarchive converts entry names through the C library's current locale: under the plain
// "C" locale (the default of services and CI) every non-ASCII name comes back null. Only
// the calling thread is touched (uselocale); setlocale would change the whole process and
// race with other threads.
class Utf8LocaleScope {
public:
    Utf8LocaleScope();
    ~Utf8LocaleScope();
    Utf8LocaleScope(const Utf8LocaleScope&) = delete;
    Utf8LocaleScope& operator=(const Utf8LocaleScope&) = delete;

    // False when no UTF-8 locale could be made; the thread then keeps its locale.
    bool isActive() const { return m_previous != nullptr; }

private:
    locale_t m_previous = nullptr;
};
