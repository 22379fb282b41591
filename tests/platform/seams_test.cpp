// SPDX-License-Identifier: Apache-2.0
// Platform seams: locale names, the default log folder and the fast clocks.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <thread>

#include "platform/clock.h"
#include "platform/locale.h"
#include "platform/logdir.h"
#include "platform/sim_clock.h"
#include "support/fakes.h"

namespace {

TEST(LocaleNames, WindowsIdentifiersFromPosixNames) {
    EXPECT_EQ(Locale_IdFromPosixName("zh_CN.UTF-8"), 0x0804u);
    EXPECT_EQ(Locale_IdFromPosixName("zh_TW.UTF-8"), 0x0404u);
    EXPECT_EQ(Locale_IdFromPosixName("zh_HK"), 0x0c04u);
    EXPECT_EQ(Locale_IdFromPosixName("zh_SG.GBK"), 0x1004u);
    EXPECT_EQ(Locale_IdFromPosixName("en_US.UTF-8"), 0x0409u);
    EXPECT_EQ(Locale_IdFromPosixName("en_GB"), 0x0809u);
    EXPECT_EQ(Locale_IdFromPosixName("de_AT.UTF-8"), 0x0407u);
    EXPECT_EQ(Locale_IdFromPosixName("C"), 0x0409u);
    EXPECT_EQ(Locale_IdFromPosixName("POSIX"), 0x0409u);
    EXPECT_EQ(Locale_IdFromPosixName(""), 0x0409u);
    EXPECT_EQ(Locale_IdFromPosixName(nullptr), 0x0409u);
}

TEST(LocaleNames, EnvironmentOrderDecides) {
    setenv("LC_ALL", "zh_CN.UTF-8", 1);
    setenv("LANG", "en_US.UTF-8", 1);
    EXPECT_EQ(Locale_SystemId(), 0x0804u);
    unsetenv("LC_ALL");
    setenv("LC_MESSAGES", "en_GB.UTF-8", 1);
    EXPECT_EQ(Locale_SystemId(), 0x0809u);
    unsetenv("LC_MESSAGES");
    EXPECT_EQ(Locale_SystemId(), 0x0409u);
}

TEST(LogFolder, XdgStateHomeThenHomeThenOverride) {
    setenv("XDG_STATE_HOME", "/tmp/state", 1);
    EXPECT_EQ(LogDir_Get(), "/tmp/state/headalign/PrinterLog");
    unsetenv("XDG_STATE_HOME");
    setenv("HOME", "/home/op", 1);
    EXPECT_EQ(LogDir_Get(), "/home/op/.local/state/headalign/PrinterLog");
    LogDir_Set("/elsewhere");
    EXPECT_EQ(LogDir_Get(), "/elsewhere");
    LogDir_Set("");
}

TEST(FastClock, HundredMillisecondPollsAdvanceTheTickWithoutWaiting) {
    fake_clock::install();
    uint32_t start = Clock_Tick();
    auto real = std::chrono::steady_clock::now();
    for (int i = 0; i < 201; ++i) Clock_Sleep(100);
    auto elapsed = std::chrono::steady_clock::now() - real;
    EXPECT_EQ(Clock_Tick() - start, 20100u);
    EXPECT_EQ(fake_clock::sleptMs(), 20100u);
    EXPECT_LT(std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count(), 2000);
    fake_clock::uninstall();
}

// The simulated clock of --fast-clock: a poller's 20 s pass without real waiting when it is
// alone, but time stands still while a thread that takes part (announced before it was
// started) has not come to a wait of its own, however long it takes to be scheduled.
TEST(FastClock, SimulatedTimeWaitsForEveryThreadThatTakesPart) {
    fake_clock::install();
    SimClock_Install();
    uint32_t start = Clock_Tick();
    for (int i = 0; i < 201; ++i) Clock_Sleep(100);
    EXPECT_EQ(Clock_Tick() - start, 20100u);

    start = Clock_Tick();
    std::atomic<bool> release{false};
    std::atomic<uint32_t> seenWhileHeld{0};
    Clock_ThreadStarting();
    std::thread member([&] {
        Clock_ThreadBegin();
        while (!release.load()) std::this_thread::yield();  // running, not waiting
        Clock_Sleep(50);
        Clock_ThreadEnd();
    });
    // Not on the clock: looks at it while the member is held, then lets it go.
    std::thread observer([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(3));
        seenWhileHeld = Clock_Tick() - start;
        release = true;
    });
    Clock_Sleep(100);
    observer.join();
    member.join();
    EXPECT_EQ(seenWhileHeld.load(), 0u);
    EXPECT_EQ(Clock_Tick() - start, 100u);
    fake_clock::uninstall();
}

}  // namespace
