// SPDX-License-Identifier: Apache-2.0
// Win32 clock back end: Sleep, GetTickCount and GetLocalTime.
#include <windows.h>

#include "platform/defaults.h"

namespace {
void winSleep(uint32_t ms) { Sleep(ms); }
uint32_t winTick() { return GetTickCount(); }
void winLocalTime(LocalTime* out) {
    SYSTEMTIME t{};
    GetLocalTime(&t);
    out->year = t.wYear;
    out->month = static_cast<uint8_t>(t.wMonth);
    out->day = static_cast<uint8_t>(t.wDay);
    out->hour = static_cast<uint8_t>(t.wHour);
    out->minute = static_cast<uint8_t>(t.wMinute);
    out->second = static_cast<uint8_t>(t.wSecond);
}
const ClockBackend winClock{
    .sleepMs = winSleep,
    .tickMs = winTick,
    .localTime = winLocalTime,
};
}  // namespace

const ClockBackend* Platform_DefaultClock() { return &winClock; }
