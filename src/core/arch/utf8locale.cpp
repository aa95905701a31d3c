#include "arch/utf8locale.h"

#include <QtGlobal>

namespace {
// One locale object for the whole process: a locale_t may be used by many threads at once
// as long as nobody frees it, so it is made once and kept.
locale_t utf8Locale()
{
    static const locale_t locale = [] {
        locale_t made = newlocale(LC_CTYPE_MASK, "C.UTF-8", locale_t(nullptr));
        if (!made)
            made = newlocale(LC_CTYPE_MASK, "en_US.UTF-8", locale_t(nullptr));
        if (!made)
            qWarning("No UTF-8 locale available: archive entry names outside ASCII may be lost");
        return made;
    }();
    return locale;
}
}

Utf8LocaleScope::Utf8LocaleScope()
{
    if (const locale_t locale = utf8Locale())
        m_previous = uselocale(locale);
}

Utf8LocaleScope::~Utf8LocaleScope()
{
    if (m_previous)
        uselocale(m_previous);
}
