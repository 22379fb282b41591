// SPDX-License-Identifier: Apache-2.0
// Shared set-up for the head formatter tests: a job at 720 dpi with one head, identity ink
// order, the static canvas and format buffer, and a way to list the bytes a format wrote.
#pragma once
#include <gtest/gtest.h>

#include <cstring>
#include <map>

#include "handover/job_context.h"
#include "params/calibration_params.h"
#include "pattern/canvas.h"
#include "pipeline/head_format.h"
#include "support/fakes.h"

class FormatFixture : public ::testing::Test {
  protected:
    PlatformFixture platform;
    CalibrationParams savedParams{};
    JobContext* ctx = nullptr;
    CalibrationParams* params = nullptr;
    static constexpr uint32_t CLEARED = 4 * 1024 * 1024;

    void SetUp() override {
        params = calibrationParams();
        savedParams = *params;
        Job_ClearContext();
        ctx = jobContext();
        ctx->printParams.rowGapSmall = 64;
        ctx->printParams.rowGapLarge = 216;
        ctx->printParams.headEnable = 1;
        ctx->printSpeedIps = 30;
        ctx->rowBits = 4000;
        ctx->srcBuffer = canvasBuffer();
        ctx->srcBufferA = canvasBuffer();
        ctx->srcBufferB = srcBufferBStorage();
        ctx->formatBuffer = formatBufferStorage();
        params->resolutionClass = 2;
        for (int i = 0; i < 8; ++i) params->inkOrder[i] = static_cast<uint8_t>(i);
        std::memset(canvasBuffer(), 0, 180 * 3600);
        std::memset(srcBufferBStorage(), 0, 180 * 3600);
        std::memset(formatBufferStorage(), 0, CLEARED);
    }
    void TearDown() override {
        *params = savedParams;
        Job_ClearContext();
    }
    uint32_t stride() const { return (ctx->rowBits + 7) / 8; }
    uint8_t* srcRow(uint8_t* src, uint32_t row) const { return src + row * stride(); }
    // Every non-zero byte of the first CLEARED bytes of the format buffer.
    static std::map<uint32_t, uint8_t> written() {
        std::map<uint32_t, uint8_t> out;
        const uint8_t* f = formatBufferStorage();
        for (uint32_t i = 0; i < CLEARED; ++i)
            if (f[i]) out[i] = f[i];
        return out;
    }
};
