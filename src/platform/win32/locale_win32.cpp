// SPDX-License-Identifier: Apache-2.0
// Win32 locale back end: the system default locale identifier.
#include <windows.h>

#include "platform/defaults.h"

namespace {
uint32_t winLocaleId() { return static_cast<uint32_t>(GetSystemDefaultLCID()); }
const LocaleBackend winLocale{
    .systemLocaleId = winLocaleId,
};
}  // namespace

const LocaleBackend* Platform_DefaultLocale() { return &winLocale; }
