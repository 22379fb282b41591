// SPDX-License-Identifier: Apache-2.0
// Locale seam: the system default locale identifier in the Windows manner (0x0804 = zh-CN).
#pragma once
#include <cstdint>

struct LocaleBackend {
    // Returns the system default locale identifier (LCID). \threadsafe \nonblocking (reads
    // the environment at most) \errors none: an unknown locale is English (0x0409).
    uint32_t (*systemLocaleId)();
};

void Locale_Install(const LocaleBackend* backend);  // nullptr restores the platform default
uint32_t Locale_SystemId();
// The dialog's language rule: Chinese when the system locale's primary language is Chinese.
bool Locale_IsChinese();

// Maps a POSIX locale name ("zh_CN.UTF-8", "en_GB", "C") onto a Windows locale identifier.
uint32_t Locale_IdFromPosixName(const char* name);
