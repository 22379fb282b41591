// SPDX-License-Identifier: Apache-2.0
// Trace files and the error log: exact bytes on disk and the console copy.
#include <gtest/gtest.h>

#include <thread>

#include <filesystem>
#include <fstream>

#include "diag/log.h"
#include "platform/logdir.h"
#include "support/fakes.h"
#include "support/product_internals.h"

namespace {

class LogTest : public ::testing::Test {
  protected:
    PlatformFixture platform;
    std::string dir() const { return platform.logDir.path; }
    std::string traceFile() const { return dir() + "/Y20261206_2103.txt"; }
};

TEST_F(LogTest, TraceFileNamedFromLocalTimeWithCrLfAndConsoleCopy) {
    Log_Open();
    EXPECT_EQ(Log_TracePath(), traceFile());
    ::testing::internal::CaptureStdout();
    Log_Trace("Task start\n");
    Log_Trace("tx swath%d, size:%d", 3, 64);
    std::string console = ::testing::internal::GetCapturedStdout();
    // The console gets the text exactly as formatted; the file gets an added line feed,
    // and every line feed is stored as CR LF.
    EXPECT_EQ(console, "Task start\ntx swath3, size:64");
    EXPECT_EQ(readFileBytes(traceFile()), "Task start\r\n\r\ntx swath3, size:64\r\n");
}

TEST_F(LogTest, CommandSuccessFormatLeavesEmptyLine) {
    Log_Open();
    ::testing::internal::CaptureStdout();
    Log_Trace("指令(%d)执行成功\n", 2);
    ::testing::internal::GetCapturedStdout();
    EXPECT_EQ(readFileBytes(traceFile()), "指令(2)执行成功\r\n\r\n");
}

TEST_F(LogTest, LinesOutsideAJobReachOnlyStandardOutput) {
    ::testing::internal::CaptureStdout();
    Log_Trace("before\n");
    Log_Open();
    Log_Trace("during");
    Log_Close();
    Log_Trace("after");
    Log_Error("dropped %d", 1);
    std::string console = ::testing::internal::GetCapturedStdout();
    EXPECT_EQ(console, "before\nduringafter");
    EXPECT_EQ(readFileBytes(traceFile()), "during\r\n");
    EXPECT_EQ(readFileBytes(dir() + "/err.txt"), "");
    EXPECT_FALSE(Log_IsTraceOpen());
    EXPECT_FALSE(Log_IsErrorOpen());
}

// A job started in the same minute as an earlier one (or a name taken by anything else) keeps
// the earlier file and traces under the next numbered name.
TEST_F(LogTest, SecondJobInSameMinuteKeepsTheEarlierTrace) {
    Log_Open();
    ::testing::internal::CaptureStdout();
    Log_Trace("first job");
    Log_Close();
    Log_Open();
    Log_Trace("second job");
    Log_Close();
    Log_Open();
    Log_Trace("third job");
    ::testing::internal::GetCapturedStdout();
    EXPECT_EQ(readFileBytes(traceFile()), "first job\r\n");
    EXPECT_EQ(Log_TracePath(), dir() + "/Y20261206_2103_3.txt");
    EXPECT_EQ(readFileBytes(dir() + "/Y20261206_2103_2.txt"), "second job\r\n");
    EXPECT_EQ(readFileBytes(dir() + "/Y20261206_2103_3.txt"), "third job\r\n");
}

TEST_F(LogTest, NextMinuteOpensANewFile) {
    Log_Open();
    ::testing::internal::CaptureStdout();
    Log_Trace("one");
    fake_clock::setLocalTime({2026, 1, 2, 3, 4, 5});
    Log_Open();
    Log_Trace("two");
    ::testing::internal::GetCapturedStdout();
    EXPECT_EQ(readFileBytes(traceFile()), "one\r\n");
    EXPECT_EQ(readFileBytes(dir() + "/Y20260102_0304.txt"), "two\r\n");
}

TEST_F(LogTest, BannerOncePerRunBeforeFirstErrorLine) {
    Log_Open();
    Log_Error("errset: %s\n", "Carrier stall");
    Log_Close();
    fake_clock::setLocalTime({2026, 12, 6, 22, 0, 0});
    Log_Open();
    Log_Error("second");
    // Text-mode writing turns the banner's own CR LF into CR CR LF, as on the operator's PC.
    EXPECT_EQ(readFileBytes(dir() + "/err.txt"),
              "* New Job: 20261206_2103\r\r\nerrset: Carrier stall\r\n\r\nsecond\r\n");
}

TEST_F(LogTest, ErrorLogIsAppendedAcrossJobsAndNotTraced) {
    Log_Open();
    ::testing::internal::CaptureStdout();
    Log_Error("a");
    std::string console = ::testing::internal::GetCapturedStdout();
    EXPECT_EQ(console, "");
    EXPECT_EQ(readFileBytes(traceFile()), "");
    Log_Open();
    Log_Error("b");
    EXPECT_EQ(readFileBytes(dir() + "/err.txt"), "* New Job: 20261206_2103\r\r\na\r\nb\r\n");
}

TEST_F(LogTest, MissingFolderWritesNothingAndJobGoesOn) {
    std::string missing = dir() + "/absent";
    LogDir_Set(missing);
    Log_Open();
    EXPECT_FALSE(Log_IsTraceOpen());
    EXPECT_FALSE(Log_IsErrorOpen());
    ::testing::internal::CaptureStdout();
    Log_Trace("still on console");
    Log_Error("lost");
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "still on console");
    EXPECT_FALSE(std::filesystem::exists(missing));
}

TEST_F(LogTest, OverlongLineIsCutNotOverflowed) {
    Log_Open();
    std::string longText(2000, 'x');
    ::testing::internal::CaptureStdout();
    Log_Trace("%s", longText.c_str());
    std::string console = ::testing::internal::GetCapturedStdout();
    EXPECT_EQ(console.size(), static_cast<size_t>(LOG_LINE_MAX));
    EXPECT_EQ(readFileBytes(traceFile()), std::string(LOG_LINE_MAX, 'x') + "\r\n");
}

TEST_F(LogTest, LinesFromTwoThreadsDoNotInterleave) {
    Log_Open();
    ::testing::internal::CaptureStdout();
    auto writer = [](char c) {
        std::string text(200, c);
        for (int i = 0; i < 50; ++i) Log_Trace("%s", text.c_str());
    };
    std::thread a(writer, 'a'), b(writer, 'b');
    a.join();
    b.join();
    ::testing::internal::GetCapturedStdout();
    std::string bytes = readFileBytes(traceFile());
    size_t lines = 0;
    for (size_t pos = 0; pos < bytes.size();) {
        size_t end = bytes.find("\r\n", pos);
        ASSERT_NE(end, std::string::npos);
        std::string line = bytes.substr(pos, end - pos);
        ASSERT_EQ(line.size(), 200u);
        EXPECT_EQ(line.find_first_not_of(line[0]), std::string::npos);
        pos = end + 2;
        ++lines;
    }
    EXPECT_EQ(lines, 100u);
}

#ifndef _WIN32  // there the C library opens no path beyond MAX_PATH
// Folders whose trace path passes 255 characters: written at full length, never to the file
// the path cut short would name; a name the file system cannot take turns logging off for the
// job with the reason, and the next job in a usable folder logs again.
TEST_F(LogTest, LongFolderPathsAreKeptWholeOrRefused) {
    std::string deep = dir() + "/" + std::string(120, 'a') + "/" + std::string(120, 'b');
    std::filesystem::create_directories(deep);
    const std::string cut = (deep + "/Y20261206_2103.txt").substr(0, 255);
    std::ofstream(cut) << "keep";
    LogDir_Set(deep);
    Log_Open();
    EXPECT_TRUE(Log_IsTraceOpen());
    EXPECT_EQ(Log_OpenProblem(), "");
    ::testing::internal::CaptureStdout();
    Log_Trace("deep");
    ::testing::internal::GetCapturedStdout();
    EXPECT_EQ(readFileBytes(deep + "/Y20261206_2103.txt"), "deep\r\n");
    EXPECT_EQ(readFileBytes(cut), "keep");

    LogDir_Set(dir() + "/" + std::string(300, 'n'));
    Log_Open();
    EXPECT_FALSE(Log_IsTraceOpen());
    EXPECT_FALSE(Log_IsErrorOpen());
    EXPECT_NE(Log_OpenProblem().find("too long"), std::string::npos) << Log_OpenProblem();
    LogDir_Set(dir());
    Log_Open();
    EXPECT_TRUE(Log_IsTraceOpen());
    EXPECT_EQ(Log_OpenProblem(), "");
}
#endif

}  // namespace
