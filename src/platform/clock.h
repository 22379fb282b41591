// SPDX-License-Identifier: Apache-2.0
// Clock seam: every sleep, poll, tick and local-time read of the program goes through here.
#pragma once
#include <cstdint>

struct LocalTime {
    uint16_t year;
    uint8_t month;   // 1..12
    uint8_t day;     // 1..31
    uint8_t hour;    // 0..23
    uint8_t minute;  // 0..59
    uint8_t second;  // 0..59
};

struct ClockBackend {
    // Sleeps the calling thread for about ms milliseconds. \threadsafe \blocks ms (a
    // simulated clock: until every thread taking part waits) \errors none.
    void (*sleepMs)(uint32_t ms);
    // Millisecond tick counter that wraps at 2^32, like GetTickCount. \threadsafe
    // \nonblocking \errors none.
    uint32_t (*tickMs)();
    // Current local wall-clock time. \threadsafe \nonblocking \errors none.
    void (*localTime)(LocalTime* out);
};

// Installs a back end (nullptr restores the platform default). Call before any job runs.
void Clock_Install(const ClockBackend* backend);
const ClockBackend* Clock_Backend();

void Clock_Sleep(uint32_t ms);
uint32_t Clock_Tick();
LocalTime Clock_LocalTime();

// A thread that waits on the clock for other threads, as they wait for it. A simulated clock
// (sim_clock.h) lets time pass only while all of them wait, so these mark a thread's life:
// the starting thread calls Clock_ThreadStarting just before it starts the thread, which
// calls Clock_ThreadBegin first and Clock_ThreadEnd last (Clock_ThreadNotStarted when it
// could not be started). Real clocks pay them no heed.
void Clock_ThreadStarting();
void Clock_ThreadNotStarted();
void Clock_ThreadBegin();
void Clock_ThreadEnd();
