// SPDX-License-Identifier: Apache-2.0
// Job set-up shared by the planner and pattern tests: the shared single-head 720-dpi job with
// its ring and an open trace file, the fast clock and recorded message boxes.
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
#include "support/printer_rig.h"
#include "support/product_internals.h"

class PlanFixture : public ::testing::Test {
  protected:
    PlatformFixture platform;
    JobContext* ctx = nullptr;

    void SetUp() override {
        ctx = setUpPlannerJob();
        msgbox_recorder::clear();
    }
    void TearDown() override { endPlannerJob(); }

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
