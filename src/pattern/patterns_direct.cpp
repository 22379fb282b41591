// SPDX-License-Identifier: Apache-2.0
// Patterns drawn as plain bars or written straight into the format buffer, and the feed-step
// frames: patterns 3, 4, 19 and 11..14.
#include <algorithm>

#include "diag/errors.h"
#include "params/calibration_params.h"
#include "pattern/patterns_internal.h"
#include "pipeline/feed_step.h"
#include "pipeline/head_format.h"
#include "pipeline/swath_plan.h"
#include "platform/clock.h"

namespace {
constexpr uint32_t WORDS_PER_BLOCK = 180;  // one block = two dot columns of 180 nozzles
constexpr uint32_t CHECK_WORDS[5] = {0, 21, 42, 63, 84};

const PatternGeometry CHECK_GEOMETRY{0, 180, 200, 20, 4000};
const PatternGeometry BARS_GEOMETRY{0, 720, 6000, 1, 6000};
const PatternGeometry NOZZLE_GEOMETRY{0, 180, 570, 8, 570 * 8 + 4200};

// Feed-step pattern per pass count: resolution, step correction and chunk rows.
struct FeedStepMode {
    uint16_t resolution;
    uint16_t CalibrationParams::*stepCorrection;
    uint32_t chunkRows;
};
const FeedStepMode FEED_STEP_MODES[4] = {
    {720, &CalibrationParams::stepPass4, 147},
    {1080, &CalibrationParams::stepPass6, 137},
    {1440, &CalibrationParams::stepPass8, 179},
    {540, &CalibrationParams::stepPass3, 137},
};
constexpr uint32_t FEED_STEP_ROW_BITS = 23040;
constexpr uint32_t FEED_STEP_PAUSE_MS = 800;

void setCheckWords(JobContext* ctx, uint64_t firstBlock, uint32_t blocks, uint16_t bit,
                   bool store) {
    for (uint32_t b = 0; b < blocks; ++b) {
        const uint64_t base = (firstBlock + b) * WORDS_PER_BLOCK;
        for (uint32_t w : CHECK_WORDS) {
            if (store)
                Pat_WordStore(ctx, base + w, bit);
            else
                Pat_WordOr(ctx, base + w, bit);
        }
    }
}

// One run of n blocks of a nozzle-test group from word `pos`: v fires in the even words and is
// cleared from the odd ones.
void nozzleGroupRun(JobContext* ctx, uint64_t pos, uint32_t blocks, uint16_t v) {
    for (uint32_t b = 0; b < blocks; ++b) {
        const uint64_t base = pos + static_cast<uint64_t>(b) * WORDS_PER_BLOCK;
        for (uint32_t w = 0; w < WORDS_PER_BLOCK; w += 2) {
            Pat_WordOr(ctx, base + w, v);
            Pat_WordClear(ctx, base + w + 1, v);
        }
    }
}

void drawFeedFrame(JobContext* ctx) {
    Pat_HLine(ctx, 0, 90, 720);
    Pat_HLine(ctx, 22320, 90, 720);
    Pat_VLine(ctx, 360, 0, 180);
    Pat_VLine(ctx, 22680, 0, 180);
    formatChannel(ctx, 3);
    formatChannel(ctx, 4);
}

bool jobCancelled(const JobContext* ctx) {
    const std::atomic<uint32_t>* cancel = ctx->link.cancelRequest;
    return isJobStopped() || (cancel && cancel->load() == 1) || ctx->link.printerCancelled == 1;
}
}  // namespace

void Pattern_VerticalCheck(JobContext* ctx, PatternLayout* layout) {
    Pat_SetGeometry(ctx, layout, CHECK_GEOMETRY);
    const uint32_t margin = headMarginColumns(ctx);
    const uint32_t columns = ctx->rowBits + margin + 1800;
    Pat_OwnSizes(ctx, columns, 500 * 720, columns * 1440);
    Pat_ClearCanvas(ctx);
    Pat_ClearFormat(ctx);
    const uint8_t* inkOrder = calibrationParams()->inkOrder;
    // inkOrder holds slots 0..7; anything else would shift a bit out of the channel byte.
    const uint8_t last = inkOrder[7] & 7;
    const uint8_t first = inkOrder[0] & 7;
    const int lastOffset = channelRowOffset(ctx, last);
    setCheckWords(ctx, static_cast<uint64_t>((lastOffset + 1) / 2), 2 * ctx->rowBits,
                  static_cast<uint16_t>(1u << last), true);
    const uint16_t thirdStart =
        static_cast<uint16_t>(channelRowOffset(ctx, first) + ctx->rowBits / 3);
    setCheckWords(ctx, thirdStart / 2, ctx->rowBits / 3, static_cast<uint16_t>(1u << first), false);
    Swath_Emit(stepsToLength(720));
}

void Pattern_DoubleHeadBars(JobContext* ctx, PatternLayout* layout) {
    Pat_SetGeometry(ctx, layout, BARS_GEOMETRY);
    if (!Pat_CheckSizes(ctx, 6720, 6000)) return;
    Pat_ClearCanvas(ctx);
    Pat_ClearFormat(ctx);
    for (uint32_t row = 0; row <= 120; row += 30) Pat_HLine(ctx, 0, row, 6000);
    const uint8_t a = ctx->printParams.headOffsetA;
    const uint8_t b = ctx->printParams.headOffsetB;
    // The head that sits further down the paper prints first; the feed brings the other one
    // over the same bars.
    const bool firstHeadFirst = b < a;
    ctx->secondHeadPass = firstHeadFirst ? 0 : 1;
    formatChannel(ctx, firstHeadFirst ? 6 : 1);
    Swath_Emit(stepsToLength(firstHeadFirst ? a : b));
    Pat_ClearFormat(ctx);
    ctx->secondHeadPass = firstHeadFirst ? 1 : 0;
    formatChannel(ctx, firstHeadFirst ? 1 : 6);
    Swath_Emit(stepsToLength(720));
}

void Pattern_NozzleTest(JobContext* ctx, PatternLayout* layout) {
    Pat_SetGeometry(ctx, layout, NOZZLE_GEOMETRY);
    if (!checkJobSizes(ctx)) return;
    Pat_ClearFormat(ctx);
    const uint32_t groupBlocks = (layout->groupPitch - 128) / 10 - 1;
    uint64_t pos = static_cast<uint64_t>(headMarginColumns(ctx)) * WORDS_PER_BLOCK;
    for (int channel = 0; channel < 8; ++channel) {
        uint16_t v = static_cast<uint16_t>(1u << channel);
        for (int group = 0; group < 4; ++group) {
            nozzleGroupRun(ctx, pos, groupBlocks, v);
            pos += static_cast<uint64_t>(groupBlocks + 10) * WORDS_PER_BLOCK;
            if (group % 2 == 0) {
                v = static_cast<uint16_t>(v << 8);
            } else {
                v = static_cast<uint16_t>(v >> 8);
                ++pos;
            }
        }
        pos -= 2;
    }
    Swath_Emit(stepsToLength(720));
}

void Pattern_FeedStep(JobContext* ctx, PatternLayout* layout, uint8_t no) {
    const FeedStepMode& mode = FEED_STEP_MODES[no - 11];
    Pat_SetGeometry(ctx, layout,
                    {0, 180, layout->groupPitch, layout->groupCount, FEED_STEP_ROW_BITS});
    if (!checkJobSizes(ctx)) return;
    Pat_ClearCanvas(ctx);
    Pat_ClearFormat(ctx);
    drawFeedFrame(ctx);
    Swath_Emit(0);

    CalibrationParams* cp = calibrationParams();
    const uint32_t total = cp->feedStepsPerMeter;
    ctx->feedStep = computeStepsPerRow(mode.resolution, cp->*mode.stepCorrection, total);
    uint32_t chunk = rowsToSteps(mode.chunkRows);
    Plan_ExpectWork(2 + Plan_FeedRecordCount(total, chunk), total);
    uint32_t fed = 0;
    // A zero chunk (no valid step size) would never finish the metre.
    while (fed < total && chunk > 0 && !jobCancelled(ctx)) {
        const uint32_t n = std::min(total - fed, chunk);
        sendEmptySteps(n, ctx, 0);
        fed += n;
        Clock_Sleep(FEED_STEP_PAUSE_MS);
        chunk = n;
    }

    Pat_ClearCanvas(ctx);
    drawFeedFrame(ctx);
    Swath_Emit(0);
}
