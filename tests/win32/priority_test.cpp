// SPDX-License-Identifier: Apache-2.0
// The transmit thread runs at THREAD_PRIORITY_HIGHEST during a job: seen from the job's own
// waits, which look at every thread of the process.
#include <gtest/gtest.h>

#include <atomic>

#include "diag/errors.h"
#include "job/print_job.h"
#include "platform/clock.h"
#include "platform/logdir.h"
#include "support/fakes.h"
#include "vprinter.h"
#include "win32_support.h"
// After windows.h, which win32_support.h includes.
#include <tlhelp32.h>

namespace {

std::atomic<int> highestSeen{THREAD_PRIORITY_IDLE};
// The fast test clock the watching clock passes every call on to.
const ClockBackend* innerClock = nullptr;

int highestOtherThreadPriority() {
    int best = THREAD_PRIORITY_IDLE;
    HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snap == INVALID_HANDLE_VALUE) return best;
    THREADENTRY32 t{};
    t.dwSize = sizeof t;
    for (BOOL more = Thread32First(snap, &t); more; more = Thread32Next(snap, &t)) {
        if (t.th32OwnerProcessID != GetCurrentProcessId() || t.th32ThreadID == GetCurrentThreadId())
            continue;
        if (HANDLE h = OpenThread(THREAD_QUERY_INFORMATION, FALSE, t.th32ThreadID)) {
            int p = GetThreadPriority(h);
            if (p != THREAD_PRIORITY_ERROR_RETURN && p > best) best = p;
            CloseHandle(h);
        }
    }
    CloseHandle(snap);
    return best;
}

void watchingSleep(uint32_t ms) {
    int p = highestOtherThreadPriority();
    if (p > highestSeen) highestSeen = p;
    innerClock->sleepMs(ms);
}
uint32_t passTick() { return innerClock->tickMs(); }
void passLocalTime(LocalTime* out) { innerClock->localTime(out); }

TEST(TransmitThread, RunsAtTheHighestNormalPriorityDuringAJob) {
    TempDir printer, logs;
    LogDir_Set(logs.path);
    msgbox_recorder::install();
    fake_clock::install();
    innerClock = Clock_Backend();
    const ClockBackend watching{
        .sleepMs = watchingSleep,
        .tickMs = passTick,
        .localTime = passLocalTime,
    };
    Clock_Install(&watching);
    clearProgramError();
    ASSERT_TRUE(VPrinter_Attach(printer.path));
    Job_RunPattern(19);
    VPrinter_Detach();
    fake_clock::uninstall();
    msgbox_recorder::uninstall();
    LogDir_Set("");
    EXPECT_TRUE(Job_Succeeded(Job_LastOutcome()));
    EXPECT_EQ(highestSeen.load(), THREAD_PRIORITY_HIGHEST);
}

}  // namespace
