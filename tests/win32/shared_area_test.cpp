// SPDX-License-Identifier: Apache-2.0
// The shared parameter area between two Windows processes: a stand-in front end creates the
// mapping and the mutex; the console's accesses open them through the Win32 back end.
#include "platform/shared_area.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>

#include "app/shared_record.h"
#include "app/texts.h"
#include "platform/dialog_model.h"
#include "support/fakes.h"
#include "support/product_internals.h"
#include "win32_support.h"

namespace {

struct SharedAreaBetweenProcesses : ::testing::Test {
    std::string area, lock;
    Child host;
    HANDLE ready = nullptr, quit = nullptr;

    void SetUp() override {
        static int run = 0;
        std::string tag = std::to_string(GetCurrentProcessId()) + "_" + std::to_string(++run);
        area = "SharePrinterAdjust_" + tag;
        lock = "SPAdjust_Mutex_" + tag;
        SharedArea_SetNames(area.c_str(), lock.c_str());
        SharedArea_Install(nullptr);
        msgbox_recorder::install();
        DialogModel_Reset();
        ready = CreateEventA(nullptr, TRUE, FALSE, (area + "_ready").c_str());
        quit = CreateEventA(nullptr, TRUE, FALSE, (area + "_quit").c_str());
    }
    void TearDown() override {
        SetEvent(quit);
        CloseHandle(ready);
        CloseHandle(quit);
        msgbox_recorder::uninstall();
        SharedArea_SetNames(nullptr, nullptr);
    }
    // Starts the front end and waits until its area exists.
    void startHost(bool withMutex, DWORD holdMs, int recordByte) {
        std::string args = area + " " + (withMutex ? lock : "-") + " " + std::to_string(holdMs) +
                           " " + std::to_string(recordByte);
        ASSERT_TRUE(host.start(FRONT_END_HOST, args));
        ASSERT_EQ(WaitForSingleObject(ready, 20000), WAIT_OBJECT_0);
    }
};

TEST_F(SharedAreaBetweenProcesses, AbsentAreaIsNotPresent) { EXPECT_FALSE(openSharedArea()); }

TEST_F(SharedAreaBetweenProcesses, FreeAreaIsReadAndSavedWithTheFlagFirst) {
    startHost(true, 0, 0x20);
    ASSERT_TRUE(openSharedArea());
    uint8_t record[56] = {};
    ASSERT_EQ(readSharedRecord(record), SHARED_READ);
    for (int i = 0; i < 56; ++i) EXPECT_EQ(record[i], 0x20 + i) << i;

    uint8_t saved[56];
    for (int i = 0; i < 56; ++i) saved[i] = static_cast<uint8_t>(0xAC - i);
    ASSERT_TRUE(openSharedArea());
    EXPECT_TRUE(writeSharedRecord(saved));
    EXPECT_TRUE(DialogModel_Boxes().empty());

    // The front end's own view of its area.
    HANDLE mapping = OpenFileMappingA(FILE_MAP_READ, FALSE, area.c_str());
    ASSERT_NE(mapping, nullptr);
    auto* view = static_cast<const uint8_t*>(MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0));
    ASSERT_NE(view, nullptr);
    EXPECT_EQ(view[0], 1);
    EXPECT_EQ(view[1] | view[2] | view[3], 0);
    EXPECT_EQ(std::memcmp(view + 4, saved, 56), 0);
    UnmapViewOfFile(view);
    CloseHandle(mapping);
}

TEST_F(SharedAreaBetweenProcesses, MutexHeldPastTwoSecondsGivesTheBusyWarningAndLeavesTheArea) {
    startHost(true, 3500, 0x10);
    ASSERT_TRUE(openSharedArea());
    uint8_t saved[56] = {0xAC};
    DWORD start = GetTickCount();
    EXPECT_FALSE(writeSharedRecord(saved));
    DWORD waited = GetTickCount() - start;
    EXPECT_GE(waited, 1900u);
    EXPECT_LT(waited, 3400u);
    auto boxes = DialogModel_Boxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, consoleText(MSG_SHARED_BUSY).text);
    EXPECT_EQ(boxes[0].caption, "WARNING");

    SetEvent(quit);
    ASSERT_EQ(host.wait(20000), 0);
}

TEST_F(SharedAreaBetweenProcesses, MissingMutexFailsTheSaveWithoutAWarning) {
    startHost(false, 0, 0x30);
    ASSERT_TRUE(openSharedArea());
    uint8_t record[56] = {};
    EXPECT_EQ(readSharedRecord(record), SHARED_NO_MUTEX);
    ASSERT_TRUE(openSharedArea());
    EXPECT_FALSE(writeSharedRecord(record));
    EXPECT_TRUE(DialogModel_Boxes().empty());
}

}  // namespace
