// SPDX-License-Identifier: Apache-2.0
// POSIX clock back end: monotonic tick, nanosleep and localtime_r.
#include <ctime>

#include "platform/defaults.h"

namespace {
void posixSleep(uint32_t ms) {
    timespec ts{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
    while (nanosleep(&ts, &ts) != 0) {
    }
}
uint32_t posixTick() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<uint32_t>(static_cast<uint64_t>(ts.tv_sec) * 1000u + ts.tv_nsec / 1000000);
}
void posixLocalTime(LocalTime* out) {
    time_t now = time(nullptr);
    tm t{};
    localtime_r(&now, &t);
    out->year = static_cast<uint16_t>(t.tm_year + 1900);
    out->month = static_cast<uint8_t>(t.tm_mon + 1);
    out->day = static_cast<uint8_t>(t.tm_mday);
    out->hour = static_cast<uint8_t>(t.tm_hour);
    out->minute = static_cast<uint8_t>(t.tm_min);
    out->second = static_cast<uint8_t>(t.tm_sec);
}
const ClockBackend posixClock{
    .sleepMs = posixSleep,
    .tickMs = posixTick,
    .localTime = posixLocalTime,
};
}  // namespace

const ClockBackend* Platform_DefaultClock() { return &posixClock; }
