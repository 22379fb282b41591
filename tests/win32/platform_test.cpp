// SPDX-License-Identifier: Apache-2.0
// The Win32 back ends under Wine: locale, clock, log folder and GBK log lines, and the USB
// driver's enumeration with no printer present.
#include <gtest/gtest.h>

#include <cstring>

#include "diag/errors.h"
#include "diag/log.h"
#include "link/usb.h"
#include "platform/clock.h"
#include "platform/defaults.h"
#include "platform/locale.h"
#include "platform/logdir.h"
#include "platform/win32/win32_text.h"
#include "support/fakes.h"
#include "support/product_internals.h"
#include "win32_support.h"
// After windows.h, which win32_support.h includes.
#include <setupapi.h>

namespace {

TEST(Win32Locale, SystemDefaultLocaleFollowsTheRun) {
    const bool zh = testLanguage() == "zh";
    EXPECT_EQ(Locale_SystemId(), zh ? 0x0804u : 0x0409u);
    EXPECT_EQ(isChineseUi(), zh);
    EXPECT_EQ(GetACP(), zh ? 936u : 1252u);
}

TEST(Win32Clock, TickAndSleepAndLocalTime) {
    uint32_t before = Clock_Tick();
    Clock_Sleep(100);
    uint32_t elapsed = Clock_Tick() - before;
    EXPECT_GE(elapsed, 80u);  // the tick may step in 16 ms units
    EXPECT_LT(elapsed, 2000u);
    SYSTEMTIME st{};
    GetLocalTime(&st);
    LocalTime t = Clock_LocalTime();
    EXPECT_EQ(t.year, st.wYear);
    EXPECT_EQ(t.month, st.wMonth);
    EXPECT_GE(t.day, 1);
}

TEST(Win32Text, Utf8AndGbkRoundTrip) {
    EXPECT_EQ(Win32_ToGbk("连接成功"), "\xC1\xAC\xBD\xD3\xB3\xC9\xB9\xA6");
    EXPECT_EQ(Win32_FromGbk("\xC1\xAC\xBD\xD3\xB3\xC9\xB9\xA6"), "连接成功");
    EXPECT_EQ(Win32_ToGbk("Tip"), "Tip");
    EXPECT_EQ(Win32_ToGbk(""), "");
    // A character outside GBK is replaced, never dropped into broken bytes.
    EXPECT_EQ(Win32_ToGbk("A\xF0\x9F\x98\x80"
                          "B")
                  .front(),
              'A');
}

struct GbkLog : ::testing::Test {
    TempDir dir;
    void SetUp() override {
        LogDir_Install(nullptr);  // the platform's own: code page 936
        LogDir_Set(dir.path);
    }
    void TearDown() override {
        Log_Close();
        LogDir_Set("");
        LogDir_Install(Utf8LogDir());
    }
};

TEST_F(GbkLog, TraceFileAndErrorLogAreWrittenInCodePage936) {
    EXPECT_EQ(LogDir_Default(), "C:/PrinterLog");
    Log_Open();
    ASSERT_TRUE(Log_IsTraceOpen());
    Log_Trace("指令(%d)执行成功\n", 2);
    Log_Error("errset: %s\n", "小车受阻");
    EXPECT_EQ(readFileBytes(Log_TracePath()),
              "\xD6\xB8\xC1\xEE(2)\xD6\xB4\xD0\xD0\xB3\xC9\xB9\xA6\r\n\r\n");
    std::string err = readFileBytes(Log_ErrorPath());
    EXPECT_NE(err.find("errset: \xD0\xA1\xB3\xB5\xCA\xDC\xD7\xE8\r\n"), std::string::npos);
    // The file is named from the local time, in the folder given.
    std::string name = Log_TracePath().substr(dir.path.size());
    EXPECT_EQ(name.rfind("/Y", 0), 0u);
    EXPECT_EQ(name.size(), std::string("/Y20261206_2103.txt").size());
}

TEST(Win32Usb, DetailRecordSizeIsTheFixedPartOfThisBuild) {
    EXPECT_EQ(sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A), sizeof(void*) == 8 ? 8u : 5u);
}

TEST(Win32Usb, NoPrinterPresentFailsWithTheSpecifiedTraces) {
    TempDir dir;
    LogDir_Set(dir.path);
    UsbDriver_Install(nullptr);  // the SetupAPI back end
    Log_Open();
    UsbHandle h = USB_INVALID_HANDLE;
    EXPECT_FALSE(Usb_Open(&h));
    EXPECT_EQ(h, USB_INVALID_HANDLE);
    Log_Close();
    std::string trace = readFileBytes(Log_TracePath());
    // Wine either lists the host's USB devices (none is the printer) or has no USB class at all.
    bool noDevice = trace.find("ERR,未发现指定USB设备") != std::string::npos &&
                    trace.find("打印机设备未连接") != std::string::npos;
    bool noClass = trace.find("ERROR   -   SetupDiGetClassDevs()") != std::string::npos &&
                   trace.find("USB设备未连接") != std::string::npos;
    EXPECT_TRUE(noDevice || noClass) << trace;
    EXPECT_EQ(trace.find("连接成功"), std::string::npos);
    LogDir_Set("");
}

TEST(Win32Usb, DriverCallsOnAMissingDeviceFailWithASystemError) {
    const UsbDriverBackend* usb = Platform_DefaultUsbDriver();
    EXPECT_EQ(
        usb->open("\\\\?\\usb#vid_2408&pid_0003#missing#{a5dcbf10-6530-11d2-901f-00c04fb951ed}"),
        USB_INVALID_HANDLE);
    EXPECT_NE(usb->lastError(), 0u);
    ASSERT_TRUE(usb->enumBegin());
    char path[256];
    int first = usb->enumPath(0, path, sizeof path);
    EXPECT_GE(first, 0);
    if (first == 1) {
        EXPECT_LT(std::strlen(path), sizeof path);
    }
    EXPECT_EQ(usb->enumPath(100000, path, sizeof path), 0);
    usb->enumEnd();
}

}  // namespace
