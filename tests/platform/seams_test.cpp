// Platform seams: locale names, the default log folder and the fast clock.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>

#include "platform/clock.h"
#include "platform/locale.h"
#include "platform/logdir.h"
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

}  // namespace
