// SPDX-License-Identifier: Apache-2.0
// Printer information record: version checks, pass geometry, print parameters and trace lines.
#include "params/printer_info.h"

#include <gtest/gtest.h>

#include <string>

#include "diag/errors.h"
#include "diag/log.h"
#include "handover/job_context.h"
#include "handover/swath_ring.h"
#include "info_record_builder.h"
#include "params/calibration_params.h"
#include "platform/msgbox.h"
#include "support/fakes.h"
#include "support/product_internals.h"

namespace {

class PrinterInfoTest : public ::testing::Test {
  protected:
    PlatformFixture platform;
    JobContext* ctx = jobContext();

    void SetUp() override {
        Job_ClearContext();
        clearProgramError();
        *calibrationParams() = CalibrationParams{};
        // As the job's defaults leave it before JOB_CREATE is answered.
        ctx->xDpi = 720;
        ctx->yDpi = 720;
        ctx->passCount = 4;
        ctx->printSpeedIps = 30;
        ctx->feedStep = 2.5;
        Log_Open();
    }
    void TearDown() override {
        Ring_Free();
        clearProgramError();
    }
    // The job's head flags come from the parameter record read before JOB_CREATE.
    InfoVerdict accept(const InfoRecordBuilder& b) {
        ctx->printParams.headEnable = b.bytes[0x02];
        ::testing::internal::CaptureStdout();
        InfoVerdict verdict = acceptPrinterInfo(b.bytes.data(), b.bytes.size());
        ::testing::internal::GetCapturedStdout();
        return verdict;
    }
    std::string trace() const { return readFileBytes(Log_TracePath()); }
};

// --- version check ----------------------------------------------------------------------

struct VersionCase {
    uint8_t version;
    bool accepted;
};
class MainBoardVersionTest : public PrinterInfoTest,
                             public ::testing::WithParamInterface<VersionCase> {};

TEST_P(MainBoardVersionTest, AcceptsOnly151To199) {
    const VersionCase c = GetParam();
    const InfoVerdict verdict = accept(InfoRecordBuilder().version(c.version));
    EXPECT_EQ(verdict.accepted, c.accepted);
    EXPECT_EQ(mainBoardVersion(), c.version);  // stored even for a rejected record
    EXPECT_EQ(ctx->paramsReady, c.accepted ? 1u : 0u);
    // The reply parser reports the reason, then sets error 3: nothing is raised here.
    EXPECT_EQ(programError(), ERR_NONE);
    EXPECT_TRUE(msgbox_recorder::boxes().empty());
    if (c.accepted) {
        EXPECT_TRUE(verdict.reason.empty());
    } else {
        ASSERT_FALSE(verdict.reason.empty());
        EXPECT_STREQ(verdict.reason.text, "主板版本与驱动不匹配!\r\n");
        EXPECT_STREQ(verdict.reason.caption, "Error");
        EXPECT_NE(trace().find("主板版本与驱动不匹配!\r\r\n"), std::string::npos);
    }
}
INSTANTIATE_TEST_SUITE_P(Edges, MainBoardVersionTest,
                         ::testing::Values(VersionCase{150, false}, VersionCase{151, true},
                                           VersionCase{199, true}, VersionCase{200, false}));

TEST_F(PrinterInfoTest, MainBoardVersionIsZeroBeforeTheFirstRecord) {
    EXPECT_EQ(mainBoardVersion(), 0);
}

// --- short layout -----------------------------------------------------------------------

TEST_F(PrinterInfoTest, ShortLayoutAcceptedWhateverItsVersionWithItsOwnReport) {
    for (uint8_t version : {0, 150, 255}) {
        auto b = InfoRecordBuilder::shortLayout();
        b.u8(0x5e, version).u16(0x72, 0xb00d).u8(0x3f, 1).u8(0x62, 7).u16(0x74, 0x00d1);
        b.u8(0x60, 9).u16(0x70, 0x0ca1).u16(0x64, 0x1a2b).u8(0x3c, 4).u8(0x3e, 1);
        b.u32(0x38, 12345);
        b.u8(0x02, 1);
        Log_Open();
        ASSERT_TRUE(accept(b)) << int(version);
        EXPECT_EQ(mainBoardVersion(), version);
        EXPECT_EQ(ctx->printSpeedIps, 35);
        EXPECT_EQ(ctx->paramsReady, 1u);
        EXPECT_EQ(trace(),
                  "================1A2B=====================\r\n\r\n"
                  "主板版本:" +
                      std::to_string(1000 + version).substr(1) +
                      ", 编号:B00D, 打印方向: 双向\r\n\r\n"
                      "驱动版本:007, 编号:00D1,\r\n\r\n"
                      "小车版本:009, 编号:0CA1, 步进:2.50\r\n\r\n"
                      "Pass 4, 速度:35 IPS, 轴测试值: 12345, 当前步进: 2.50\r\n\r\n"
                      "最大打印宽度:0 mm = 0mm - (0+0) dots\r\n"
                      "打印参数: Db-0-0-0\r\n"
                      "PHA enable\r\n");
    }
    EXPECT_EQ(programError(), ERR_NONE);
}

TEST_F(PrinterInfoTest, ShortLayoutSpeedClasses) {
    const std::pair<uint8_t, uint8_t> cases[] = {{0, 26}, {1, 35}, {2, 40}, {200, 40}};
    for (auto [speedClass, ips] : cases) {
        ASSERT_TRUE(accept(InfoRecordBuilder::shortLayout().u8(0x3e, speedClass)));
        EXPECT_EQ(ctx->printSpeedIps, ips);
    }
}

// --- records cut short -------------------------------------------------------------------

TEST_F(PrinterInfoTest, RecordShorterThanItsLayoutIsRejectedWithoutOverread) {
    // Each record lives in a heap block of exactly its length, so the sanitizer would
    // catch a read beyond it.
    for (size_t length : {size_t{0}, size_t{56}, size_t{127}, size_t{128}, size_t{135}}) {
        clearProgramError();
        InfoRecordBuilder b;
        b.bytes.resize(length);
        const InfoVerdict verdict = accept(b);
        EXPECT_FALSE(verdict) << length;
        EXPECT_TRUE(verdict.reason.empty()) << length;  // only traced
    }
    EXPECT_EQ(ctx->paramsReady, 0u);
    EXPECT_NE(trace().find("info record of 135 bytes"), std::string::npos);
    clearProgramError();
    EXPECT_FALSE(acceptPrinterInfo(nullptr, 136));
}

TEST_F(PrinterInfoTest, ShortLayoutNeedsOnly128Bytes) {
    auto b = InfoRecordBuilder::shortLayout();
    ASSERT_EQ(b.bytes.size(), 128u);
    EXPECT_TRUE(accept(b));
    b.bytes.resize(127);  // the mark's second byte missing
    clearProgramError();
    EXPECT_FALSE(accept(b));
}

// --- pass geometry ------------------------------------------------------------------------

struct GeometryCase {
    uint32_t yDpi;
    uint8_t heads, overlapLevel;
    uint8_t passCount, passModeIndex;
    uint16_t nozzlesPerPass, headSpanRows;
    uint8_t extraRows;
};
class PassGeometryTest : public PrinterInfoTest,
                         public ::testing::WithParamInterface<GeometryCase> {};

TEST_P(PassGeometryTest, DerivedFromVerticalResolutionHeadsAndOverlap) {
    const GeometryCase c = GetParam();
    ctx->yDpi = c.yDpi;
    ASSERT_TRUE(accept(InfoRecordBuilder().heads(c.heads).overlap(c.overlapLevel)));
    EXPECT_EQ(ctx->passCount, c.passCount);
    EXPECT_EQ(calibrationParams()->passModeIndex, c.passModeIndex);
    EXPECT_EQ(ctx->nozzlesPerPass, c.nozzlesPerPass);
    EXPECT_EQ(ctx->headSpanRows, c.headSpanRows);
    EXPECT_EQ(ctx->extraRows, c.extraRows);
    EXPECT_EQ(ctx->overlapLevel, c.overlapLevel);
}
INSTANTIATE_TEST_SUITE_P(
    Table, PassGeometryTest,
    ::testing::Values(
        GeometryCase{720, 1, 0, 4, 0, 180, 716, 0}, GeometryCase{720, 1, 2, 4, 0, 140, 556, 21},
        GeometryCase{720, 1, 3, 4, 0, 120, 476, 121}, GeometryCase{360, 1, 0, 2, 4, 138, 274, 0},
        GeometryCase{540, 3, 0, 4, 3, 137, 411, 0},  // both heads, 3 passes: count kept
        GeometryCase{1080, 1, 0, 6, 1, 180, 1074, 0},
        GeometryCase{1080, 1, 9, 6, 1, 138, 822, 115},  // any non-zero level means 42
        GeometryCase{1440, 1, 2, 8, 2, 180, 1432, 0}, GeometryCase{720, 3, 0, 2, 0, 119, 476, 0},
        GeometryCase{1080, 3, 1, 3, 1, 134, 804, 0}));

TEST_F(PrinterInfoTest, BothHeadsAt1080RescaleHeadOffsetsTo1080Rows) {
    ctx->yDpi = 1080;
    ASSERT_TRUE(accept(InfoRecordBuilder().heads(3).u8(0x06, 11)));
    EXPECT_EQ(ctx->printParams.headOffsetA, 16);  // 11 x 1080 / 720, truncated
    EXPECT_EQ(ctx->printParams.headOffsetB, 0);

    ctx->yDpi = 720;
    ASSERT_TRUE(accept(InfoRecordBuilder().heads(3).u8(0x06, 11)));
    EXPECT_EQ(ctx->printParams.headOffsetA, 11);
    ctx->yDpi = 1080;
    ASSERT_TRUE(accept(InfoRecordBuilder().heads(1).u8(0x06, 11)));
    EXPECT_EQ(ctx->printParams.headOffsetA, 11);
}

TEST_F(PrinterInfoTest, UnknownVerticalResolutionOrOverlapIsRejected) {
    ctx->yDpi = 600;
    EXPECT_FALSE(accept(InfoRecordBuilder()));
    EXPECT_NE(trace().find("no pass geometry for 600 dpi"), std::string::npos);
    EXPECT_EQ(ctx->nozzlesPerPass, 0);

    clearProgramError();
    ctx->yDpi = 720;
    EXPECT_FALSE(accept(InfoRecordBuilder().overlap(4)));
    EXPECT_NE(trace().find("overlap level 4 at 720 dpi"), std::string::npos);
    EXPECT_EQ(ctx->paramsReady, 0u);
}

// --- print parameters ---------------------------------------------------------------------

TEST_F(PrinterInfoTest, PrintableWidthBaseAndMarginSwitch) {
    // 1800 mm travel, 720 dpi: both heads leave (1800 - 500) mm, one head (1800 - 370) mm.
    auto b = InfoRecordBuilder().heads(3).u16(0x52, 120).u16(0x14, 10);
    ASSERT_TRUE(accept(b));
    EXPECT_EQ(ctx->maxPrintWidthDots, 36850u - (120 + 10) * 720 / 600);
    EXPECT_NE(trace().find("最大打印宽度:1294 mm = 1800mm - (144+12) dots\r\n"), std::string::npos);

    ASSERT_TRUE(accept(b.u8(0x44, 1)));  // the right margin is taken as 0
    EXPECT_EQ(ctx->maxPrintWidthDots, 36850u - 12);

    ASSERT_TRUE(accept(b.heads(1)));
    EXPECT_EQ(ctx->maxPrintWidthDots, 40535u - 12);

    ASSERT_TRUE(accept(b.u16(0x66, 300)));  // travel shorter than the base
    EXPECT_EQ(ctx->maxPrintWidthDots, 0u);
}

TEST_F(PrinterInfoTest, StartOffsetMovedByHeadDistanceOnlyWithoutPha) {
    struct Case {
        uint8_t heads;
        uint16_t dots;
        const char* lines;
    } cases[] = {
        {1, 283, "PHA enable\r\n"},
        {2, 283 + 500, "PHB enable\r\n"},
        {3, 283, "PHA enable\r\nPHB enable\r\n"},
        {0, 283, ""},
    };
    for (const Case& c : cases) {
        Log_Open();
        ASSERT_TRUE(accept(InfoRecordBuilder().heads(c.heads).u16(0x14, 10).u16(0x08, 500)));
        EXPECT_EQ(ctx->startOffsetDots, c.dots) << int(c.heads);
        const std::string t = trace();
        const std::string tail = std::string("打印参数: Db-0-0-0\r\n") + c.lines;
        EXPECT_EQ(t.substr(t.size() - tail.size()), tail) << int(c.heads);
        EXPECT_EQ(isHeadAEnabled(), (c.heads & 1) != 0);
        EXPECT_EQ(isHeadBEnabled(), (c.heads & 2) != 0);
        EXPECT_EQ(isDoubleHead(), c.heads == 3);
    }
}

TEST_F(PrinterInfoTest, BlockJobFieldsAndCalibrationValuesFilled) {
    ctx->xDpi = 360;
    ctx->printParams.stepsPerMeter = 77;  // cleared before the fill
    auto b = InfoRecordBuilder().heads(1);
    b.u8(0x01, 1).u8(0x03, 11).u8(0x04, 12).u8(0x05, 13).u16(0x0a, 9990).u16(0x0c, 10010);
    b.u8(0x06, 5).u16(0x08, 640).u16(0x12, 33).u8(0x3c, 1).u8(0x39, 8).u8(0x3b, 2);
    b.u8(0x56, 0x5a).u8(0x16, 7).u8(0x1d, 0).u16(0x30, 10002);
    ASSERT_TRUE(accept(b));
    const PrintParamBlock& p = ctx->printParams;
    EXPECT_EQ(p.uniDirection, 1);
    EXPECT_EQ(p.headOffsetA, 5);
    EXPECT_EQ(p.headOffsetB, 0);
    EXPECT_EQ(p.spitInterval, 8);
    EXPECT_EQ(p.headDistance, 640);
    EXPECT_EQ(p.rowGapSmall, 31);  // 360 dpi is class 1
    EXPECT_EQ(p.rowGapLarge, 108);
    EXPECT_EQ(p.bidirCurrent, 12);  // mode index 1
    EXPECT_EQ(p.stepCurrent, 10010);
    EXPECT_EQ(p.spitDistanceMm, 33);
    EXPECT_EQ(p.stepsPerMeter, 409600u);
    EXPECT_EQ(p.headEnable, 1);
    EXPECT_EQ(ctx->printDirection, 2);
    EXPECT_EQ(ctx->printerModelCode, 0x2a51);
    EXPECT_EQ(ctx->infoModeByte, 0x5a);
    const CalibrationParams* c = calibrationParams();
    EXPECT_EQ(c->xResolution, 360);
    EXPECT_EQ(c->resolutionClass, 1);
    EXPECT_DOUBLE_EQ(c->xScale, 2.0);
    EXPECT_EQ(c->headDpi, 180);
    EXPECT_EQ(c->rowGapSmall[4], 94);
    EXPECT_EQ(c->rowGapLarge[3], 432);
    EXPECT_EQ(c->bidirTextLow, 13);
    EXPECT_EQ(c->stepPass2, 10002);
    EXPECT_EQ(c->inkOrder[0], 7);
    EXPECT_EQ(c->feedStepsPerMeter, 409600u);
    EXPECT_NE(trace().find("打印参数: Db-11-12-13\r\n"), std::string::npos);
}

TEST_F(PrinterInfoTest, WildModeIndexStaysInsideTheRecord) {
    ASSERT_TRUE(accept(InfoRecordBuilder().u8(0x01, 0xff)));
    EXPECT_EQ(ctx->printParams.bidirCurrent, 0);
    EXPECT_EQ(ctx->printParams.stepCurrent, 0);
}

// --- trace lines --------------------------------------------------------------------------

TEST_F(PrinterInfoTest, VersionReportLinesExact) {
    auto b = InfoRecordBuilder().version(160).u16(0x72, 0x1f2e).u8(0x60, 42).u16(0x74, 0xabc);
    b.u8(0x5e, 7).u16(0x70, 0x77).u8(0x38, 99).u8(0x3b, 0);
    ASSERT_TRUE(accept(b));
    EXPECT_EQ(trace().substr(0, trace().find("最大")),
              "================2A51=====================\r\n\r\n"
              "主板版本:160, 编号:1F2E, 打印方向: 单向\r\n\r\n"
              "驱动版本:042, 编号:0ABC,\r\n\r\n"
              "小车版本:007, 编号:0077, 步进:2.50\r\n\r\n"
              "30, 99 , 2.50\r\n\r\n");
}

TEST_F(PrinterInfoTest, WrongTailMarkIsLoggedButNotFatal) {
    ASSERT_TRUE(accept(InfoRecordBuilder().u16(0x86, 0x1234)));
    const std::string line = "参数异常:00001234(00009876)\r\r\n\r\n";
    EXPECT_EQ(trace().substr(0, line.size()), line);
    EXPECT_EQ(programError(), ERR_NONE);
}

}  // namespace
