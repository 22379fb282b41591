// SPDX-License-Identifier: Apache-2.0
// The pattern dispatcher and the drawing helpers the patterns share.
#include "pattern/patterns.h"

#include <algorithm>
#include <atomic>
#include <cstring>

#include "diag/log.h"
#include "params/calibration_params.h"
#include "pattern/canvas.h"
#include "pattern/glyph.h"
#include "pattern/patterns_internal.h"
#include "pipeline/feed_step.h"
#include "pipeline/swath_plan.h"

namespace {
// Print speed and bidirectional mode of the bidirectional patterns 5..10.
struct BidirMode {
    uint8_t speedIps;
    uint8_t bidirIndex;
};
const BidirMode BIDIR_MODES[6] = {{60, 0}, {50, 1}, {40, 2}, {50, 3}, {40, 4}, {26, 5}};

uint32_t strideOf(const JobContext* ctx) { return (ctx->rowBits + 7) / 8; }

size_t canvasRoom(const JobContext* ctx) {
    if (!ctx->srcBuffer) return 0;
    return std::min<size_t>(bufferRoomFrom(ctx->srcBuffer, MAX_SRC_DATA_SIZE), MAX_SRC_DATA_SIZE);
}

size_t formatRoom(const JobContext* ctx) {
    if (!ctx->formatBuffer) return 0;
    return std::min<size_t>(bufferRoomFrom(ctx->formatBuffer, MAX_FORMAT_DATA_SIZE),
                            MAX_FORMAT_DATA_SIZE);
}

// True when the bytes up to lastByte (counted within the row) of `rows` rows from `row` lie
// inside their rows and the canvas.
bool canvasSpanInside(const JobContext* ctx, uint32_t lastByte, uint32_t row, uint32_t rows) {
    const uint64_t stride = strideOf(ctx);
    if (rows == 0) return true;
    if (lastByte >= stride) return false;
    const uint64_t end = (static_cast<uint64_t>(row) + rows - 1) * stride + lastByte;
    return end < canvasRoom(ctx);
}

void runPattern(JobContext* ctx, PatternLayout* layout, uint8_t no) {
    switch (no) {
        case 1:
            Log_Trace("双头-水平偏移校准\n");
            Pattern_DoubleHeadHorizontal(ctx, layout);
            return;
        case 2:
            Log_Trace("双头-垂直偏移校准\n");
            Pattern_DoubleHeadGroups(ctx, layout);
            return;
        case 3:
            Log_Trace("垂直校准 检测\n");
            Pattern_VerticalCheck(ctx, layout);
            return;
        case 4:
            Log_Trace("双头-垂直偏移校准\n");
            Pattern_DoubleHeadBars(ctx, layout);
            return;
        case 5:
        case 6:
        case 7:
        case 8:
        case 9:
        case 10:
            ctx->printSpeedIps = BIDIR_MODES[no - 5].speedIps;
            ctx->bidirIndex = BIDIR_MODES[no - 5].bidirIndex;
            Pattern_Bidirectional(ctx, layout);
            return;
        case 11:
        case 12:
        case 13:
        case 14:
            Pattern_FeedStep(ctx, layout, no);
            return;
        case 16:
            Log_Trace("垂直校准验证--full\n");
            Pattern_VerticalAlign(ctx, layout);
            return;
        case 17:
            Log_Trace("水平校准-组内\n");
            Pattern_GroupHorizontal(ctx, layout);
            return;
        case 18:
            Log_Trace("水平校准PHMaxLines-Width--K1C1\n");
            Pattern_HeadWidth(ctx, layout);
            return;
        case 19:
            Log_Trace("喷嘴测试\n");
            Pattern_NozzleTest(ctx, layout);
            return;
        default:
            Log_Trace("未定义pattern:%d", no);
            return;
    }
}
}  // namespace

void Pat_CountRefused() { ++OwnedState<PatternRunState>::get().refusedWrites; }

bool Pattern_IsDefined(uint8_t pattern) {
    return (pattern >= 1 && pattern <= 14) || (pattern >= 16 && pattern <= 19);
}

void Pattern_Dispatch(uint8_t pattern) {
    JobContext* ctx = jobContext();
    ctx->yDpi = 720;
    ctx->xDpi = 720;
    ctx->bitsPerPixel = 1;
    ctx->secondHeadPass = 0;
    ctx->feedStep =
        computeStepsPerRow(static_cast<uint16_t>(ctx->yDpi), ctx->printParams.stepCurrent,
                           calibrationParams()->feedStepsPerMeter);
    PatternLayout_Clear();
    PatternLayout* layout = patternLayout();
    layout->patternNo = pattern;
    layout->groupPitch = 160;
    layout->groupCount = 20;
    layout->labelGap = 80;
    ctx->printSpeedIps = 30;
    ctx->rowBits = 160 * 20;
    layout->layoutStride = 400;
    runPattern(ctx, layout, pattern);
}

void Pat_SetGeometry(JobContext* ctx, PatternLayout* layout, const PatternGeometry& g) {
    ctx->passCount = 1;
    ctx->colorCount = 8;
    ctx->swathDirection = 0;
    ctx->headSpanRows = static_cast<uint16_t>(ctx->yDpi);
    ctx->printDirection = g.printDirection;
    ctx->imageRows = g.imageRows;
    layout->groupPitch = g.groupPitch;
    layout->groupCount = g.groupCount;
    ctx->rowBits = g.rowBits;
}

bool Pat_CheckSizes(JobContext* ctx, uint32_t checkBits, uint32_t drawBits) {
    ctx->rowBits = checkBits;
    if (!checkJobSizes(ctx)) return false;
    ctx->rowBits = drawBits;
    return true;
}

void Pat_OwnSizes(JobContext* ctx, uint32_t formatColumns, uint32_t srcDataSize,
                  uint32_t formatDataSize) {
    ctx->formatColumns = formatColumns;
    ctx->srcDataSize = srcDataSize;
    ctx->formatDataSize = formatDataSize;
    ctx->srcBuffer = canvasBuffer();
    ctx->formatBuffer = formatBufferStorage();
}

void Pat_ClearCanvas(JobContext* ctx) {
    if (ctx->srcBuffer)
        std::memset(ctx->srcBuffer, 0, std::min<size_t>(ctx->srcDataSize, canvasRoom(ctx)));
}

void Pat_ClearFormat(JobContext* ctx) {
    if (ctx->formatBuffer)
        std::memset(ctx->formatBuffer, 0, std::min<size_t>(ctx->formatDataSize, formatRoom(ctx)));
}

void Pat_HLine(JobContext* ctx, uint32_t x, uint32_t row, uint32_t length) {
    // Bytes the primitive replaces: the first from dot x, whole bytes, and a part byte at
    // index max(1, length / 8) when the length is not a multiple of 8.
    uint32_t last = length / 8 > 0 ? length / 8 - 1 : 0;
    if (length % 8 != 0) last = std::max(last, std::max(1u, length / 8));
    const uint64_t lastByte = static_cast<uint64_t>(x / 8) + last;
    if (lastByte > UINT32_MAX || !canvasSpanInside(ctx, static_cast<uint32_t>(lastByte), row, 1)) {
        Pat_CountRefused();
        return;
    }
    Canvas_HLine(ctx->srcBuffer, x, row, length, strideOf(ctx));
}

void Pat_VLine(JobContext* ctx, uint32_t x, uint32_t row, uint32_t count) {
    if (!canvasSpanInside(ctx, x / 8, row, count)) {
        Pat_CountRefused();
        return;
    }
    Canvas_VLine(ctx->srcBuffer, x, row, count, strideOf(ctx));
}

void Pat_Figure(JobContext* ctx, uint32_t x, uint32_t barRow, uint32_t tickRow, uint32_t length) {
    Pat_HLine(ctx, x, barRow, length);
    Pat_VLine(ctx, x, tickRow, 20);
    Pat_VLine(ctx, x + length / 2, tickRow, 20);
    Pat_VLine(ctx, x + length, tickRow, 20);
}

void Pat_Labels(JobContext* ctx, PatternLayout* layout, int32_t labelX, uint32_t labelRow) {
    layout->labelX = labelX;
    layout->labelRow = labelRow;
    Glyph_DrawGroupLabels(*layout, ctx);
}

static uint8_t* wordAt(JobContext* ctx, uint64_t word) {
    if (word >= formatRoom(ctx) / 2) {
        Pat_CountRefused();
        return nullptr;
    }
    return ctx->formatBuffer + word * 2;
}

void Pat_WordStore(JobContext* ctx, uint64_t word, uint16_t value) {
    if (uint8_t* p = wordAt(ctx, word)) {
        p[0] = static_cast<uint8_t>(value);
        p[1] = static_cast<uint8_t>(value >> 8);
    }
}

void Pat_WordOr(JobContext* ctx, uint64_t word, uint16_t bits) {
    if (uint8_t* p = wordAt(ctx, word)) {
        p[0] |= static_cast<uint8_t>(bits);
        p[1] |= static_cast<uint8_t>(bits >> 8);
    }
}

void Pat_WordClear(JobContext* ctx, uint64_t word, uint16_t bits) {
    if (uint8_t* p = wordAt(ctx, word)) {
        const uint16_t keep = static_cast<uint16_t>(~bits);
        p[0] &= static_cast<uint8_t>(keep);
        p[1] &= static_cast<uint8_t>(keep >> 8);
    }
}
