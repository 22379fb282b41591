// SPDX-License-Identifier: Apache-2.0
// POSIX locale back end: the Windows-style identifier from LC_ALL, LC_MESSAGES or LANG.
#include <cstdlib>
#include <initializer_list>

#include "platform/defaults.h"

namespace {
uint32_t posixLocaleId() {
    for (const char* var : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char* v = std::getenv(var);
        if (v && *v) return Locale_IdFromPosixName(v);
    }
    return Locale_IdFromPosixName(nullptr);
}
const LocaleBackend posixLocale{
    .systemLocaleId = posixLocaleId,
};
}  // namespace

const LocaleBackend* Platform_DefaultLocale() { return &posixLocale; }
