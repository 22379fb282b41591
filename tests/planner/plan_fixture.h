// Job set-up shared by the planner and pattern tests: a single-head 720-dpi job with its ring,
// fast clock, recorded message boxes and an open trace file.
#pragma once
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "diag/errors.h"
#include "diag/log.h"
#include "handover/job_context.h"
#include "handover/swath_ring.h"
#include "params/calibration_params.h"
#include "params/printer_info.h"
#include "params/ring_setup.h"
#include "pattern/canvas.h"
#include "pipeline/feed_step.h"
#include "pipeline/swath_plan.h"
#include "platform/bytes.h"
#include "support/fakes.h"

class PlanFixture : public ::testing::Test {
  protected:
    PlatformFixture platform;
    JobContext* ctx = nullptr;

    void SetUp() override {
        Log_Open();
        Job_ClearContext();
        Plan_ResetForTest();
        resetPrinterInfoForTest();
        *calibrationParams() = CalibrationParams{};
        ctx = jobContext();
        ctx->xDpi = 720;
        ctx->yDpi = 720;
        ctx->printSpeedIps = 30;
        stampJob(ctx);
        Ring_Init(ctx);  // also sets xResolution 720 and resolution class 2
        CalibrationParams* cp = calibrationParams();
        cp->headDpi = 180;
        cp->feedStepsPerMeter = 409600;
        const uint8_t order[8] = {7, 6, 5, 4, 3, 2, 1, 0};
        std::memcpy(cp->inkOrder, order, sizeof order);
        cp->stepPass4 = cp->stepPass6 = cp->stepPass8 = cp->stepPass3 = cp->stepPass2 = 10000;
        ctx->printParams.rowGapSmall = 64;
        ctx->printParams.rowGapLarge = 216;
        ctx->printParams.headEnable = 1;
        ctx->printParams.stepCurrent = 10000;
        ctx->maxPrintWidthDots = 100000;
        std::memset(formatBufferStorage(), 0, MAX_FORMAT_DATA_SIZE);
        msgbox_recorder::clear();
    }
    void TearDown() override {
        Ring_Free();
        Log_Close();
        clearProgramError();
    }

    // Main board version as the last checked information record gives it.
    void setMainBoardVersion(uint8_t version) {
        uint8_t info[136] = {};
        info[0x5c] = version;
        le::putU16(info, 0x86, 0x9876);
        checkPrinterInfo(info, sizeof info);
        clearProgramError();
        msgbox_recorder::clear();
    }
    // Second head at `distance` dots: margin = distance + 8 x (64 + 216).
    void useBothHeads(uint16_t distance) {
        ctx->printParams.headEnable = 3;
        ctx->printParams.headDistance = distance;
    }
    std::string trace() const { return readFileBytes(Log_TracePath()); }
    bool traced(const std::string& text) const { return trace().find(text) != std::string::npos; }
};
