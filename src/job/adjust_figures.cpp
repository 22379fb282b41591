// SPDX-License-Identifier: Apache-2.0
// The figures of the adjustment prints: bidirectional vernier and feed-step frame.
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "diag/errors.h"
#include "job/job_internal.h"
#include "params/calibration_params.h"
#include "pattern/canvas.h"
#include "pattern/glyph.h"
#include "pipeline/feed_step.h"
#include "pipeline/head_format.h"
#include "pipeline/swath_plan.h"
#include "platform/clock.h"

namespace {
constexpr uint32_t FIGURE_ROWS = 180;
constexpr int VERNIER_GROUPS = 19;
constexpr uint32_t CROSS_ARM = 720;  // length of a frame cross's bar, in dots

// The bytes in use, never past the buffer: a geometry the size check refuses may have left
// sizes larger than the buffers behind.
void clearFormatBuffer(JobContext* ctx) {
    if (!ctx->formatBuffer) return;
    const size_t room = std::min<size_t>(bufferRoomFrom(ctx->formatBuffer, MAX_FORMAT_DATA_SIZE),
                                         MAX_FORMAT_DATA_SIZE);
    std::memset(ctx->formatBuffer, 0, std::min<size_t>(ctx->formatDataSize, room));
}

void clearImage(JobContext* ctx, uint64_t bytes) {
    if (!ctx->srcBufferA) return;
    const size_t room =
        std::min<size_t>(bufferRoomFrom(ctx->srcBufferA, MAX_SRC_DATA_SIZE), MAX_SRC_DATA_SIZE);
    std::memset(ctx->srcBufferA, 0, static_cast<size_t>(std::min<uint64_t>(bytes, room)));
}

// One print of the bidirectional vernier: group k (1..19) starts at origin + k x pitch with a
// bar of 160 dots and ticks at its start, middle and end, between two edge lines.
struct VernierPrint {
    uint32_t origin, pitch;
    uint32_t tickRow;  // first of the 20 rows of the ticks and edge lines
    uint32_t barRow;
    bool labels;  // the first print carries the group labels "09" .. "-9"
};
// The second print's groups are 204 dots apart: group k is shifted by 4k - 38 dots.
const VernierPrint FIRST_PRINT{1800, 200, 30, 30, true};
const VernierPrint SECOND_PRINT{1762, 204, 45, 65, false};

void drawVernierPrint(JobContext* ctx, int pair, const VernierPrint& print) {
    const uint32_t stride = ctx->canvasStride;
    uint8_t* canvas = ctx->srcBufferA;
    clearImage(ctx, static_cast<uint64_t>(stride) * FIGURE_ROWS);
    if (pair != 0) return;
    if (print.labels) {
        for (int v = 19; v >= 1; --v) {
            char label[8];
            std::snprintf(label, sizeof label, "%02d", v - 10);
            Glyph_DrawText(canvas, label, static_cast<uint32_t>(20 - v) * 200 + 1800, 0, 8,
                           ctx->rowBits);
        }
    }
    Canvas_VLineEven(canvas, 0, print.tickRow, 20, stride);
    Canvas_VLineEven(canvas, 7960, print.tickRow, 20, stride);
    for (uint32_t k = 1; k <= VERNIER_GROUPS; ++k) {
        uint32_t x = k * print.pitch + print.origin;
        Canvas_HLine(canvas, x, print.barRow, 160, stride);
        for (uint32_t tick : {x, x + 80, x + 160})
            Canvas_VLineEven(canvas, tick, print.tickRow, 20, stride);
    }
}

// A cross near each end of the row; the operator measures the feed between the crosses of
// the two prints. The right cross mirrors the left one inside the row.
void drawFrame(JobContext* ctx, int pair) {
    ctx->passCount = 1;
    ctx->printDirection = 0;
    ctx->colorCount = 8;
    ctx->swathDirection = 0;
    ctx->headSpanRows = static_cast<uint16_t>(ctx->yDpi);
    ctx->srcBuffer = ctx->srcBufferA;
    const uint32_t stride = ctx->canvasStride;
    // At least the rows the frame is drawn in and formatted from: a printer that sends no pass
    // geometry (the short information layout) leaves srcDataSize at 0, and whatever an earlier
    // job drew there would be printed with the frame.
    clearImage(ctx,
               std::max<uint64_t>(ctx->srcDataSize, static_cast<uint64_t>(stride) * FIGURE_ROWS));
    if (pair != 0) return;
    uint8_t* canvas = ctx->srcBufferA;
    Canvas_HLine(canvas, 0, 90, CROSS_ARM, stride);
    Canvas_VLineEven(canvas, CROSS_ARM / 2, 0, FIGURE_ROWS, stride);
    if (ctx->rowBits >= 2 * CROSS_ARM) {
        uint32_t right = ctx->rowBits - CROSS_ARM;
        Canvas_HLine(canvas, right, 90, CROSS_ARM, stride);
        Canvas_VLineEven(canvas, ctx->rowBits - CROSS_ARM / 2 - 2, 0, FIGURE_ROWS, stride);
    }
}

// Draws and formats every pair of one frame swath; false when the job was stopped.
bool drawFrameSwath(JobContext* ctx) {
    clearFormatBuffer(ctx);
    for (int i = 0; i < ctx->colorCount; ++i) {
        if (isJobStopped()) return false;
        drawFrame(ctx, i);
        formatChannelPair(ctx, i);
    }
    return true;
}

struct FeedRow {
    uint16_t yDpi;
    uint8_t passModeIndex;  // which step correction of the step table applies
    uint32_t chunkRows;
};
// Job types 11..15: resolution, step correction and feed chunk of each pass count.
const FeedRow FEED_ROWS[] = {
    {720, 0, 147}, {1080, 1, 137}, {1440, 2, 179}, {540, 3, 137}, {360, 4, 147},
};

}  // namespace

void printBidirectional(JobContext* ctx) {
    if (!ctx->srcBufferA || !ctx->formatBuffer) return;
    ctx->swathDirection = 0;
    Plan_ExpectWork(2, 0);
    clearFormatBuffer(ctx);
    for (int i = 0; i < ctx->colorCount; ++i) {
        if (isJobStopped()) return;
        drawVernierPrint(ctx, i, FIRST_PRINT);
        formatChannelPair(ctx, i);
    }
    ctx->swathCounter++;
    ctx->feedPerSwath = 0;
    if (!planSwath(ctx)) return;

    ctx->swathDirection = 1;
    clearFormatBuffer(ctx);
    for (int i = 0; i < ctx->colorCount; ++i) {
        if (isJobStopped()) return;
        drawVernierPrint(ctx, i, SECOND_PRINT);
        formatChannelPair(ctx, i);
    }
    ctx->swathCounter++;
    ctx->feedPerSwath = static_cast<uint16_t>(rowsToSteps(ctx->nozzlesPerPass * 3u / 2u));
    planSwath(ctx);
}

void printFeedStep(JobContext* ctx, uint8_t type) {
    if (!ctx->srcBufferA || !ctx->formatBuffer || type < 11 || type > 15) return;
    if (!drawFrameSwath(ctx)) return;
    ctx->swathCounter++;
    ctx->feedPerSwath = 0;
    Swath_Emit(0);

    const FeedRow& row = FEED_ROWS[type - 11];
    uint32_t total = calibrationParams()->feedStepsPerMeter;
    ctx->feedStep = computeStepsPerRow(row.yDpi, stepCorrectionFor(row.passModeIndex), total);
    uint32_t chunk = rowsToSteps(row.chunkRows);
    Plan_ExpectWork(2 + Plan_FeedRecordCount(total, chunk), total);
    // One metre of paper in chunks, paced so the printer's queue keeps up with the feeds.
    for (uint32_t left = total; left > 0 && chunk > 0;) {
        if (isJobStopped()) return;
        uint32_t n = left < chunk ? left : chunk;
        sendEmptySteps(n, ctx, 0);
        Clock_Sleep(800);
        left -= n;
        chunk = n;
    }

    if (!drawFrameSwath(ctx)) return;
    ctx->swathCounter++;
    Swath_Emit(0);
}
