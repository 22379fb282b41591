// SPDX-License-Identifier: Apache-2.0
// The calibration sheet's mark job: the mark of the print that follows it, in black, left to
// right in four swaths a paper row apart so that its cells come out solid, then the feed the
// adjustment print makes after itself, which leaves room for the print.
#include <algorithm>
#include <cstring>
#include <string>

#include "diag/errors.h"
#include "diag/log.h"
#include "handover/swath_ring.h"
#include "job/job_internal.h"
#include "job/sheet_mark.h"
#include "link/command.h"
#include "link/transmit.h"
#include "pattern/canvas.h"
#include "pattern/glyph.h"
#include "pipeline/feed_step.h"
#include "pipeline/head_format.h"
#include "pipeline/swath_plan.h"

namespace {

constexpr uint32_t MARK_ROWS = 180;  // canvas rows cleared and drawn in
constexpr uint32_t MARK_TOP_ROW = 2;
constexpr uint32_t MARK_PASSES = 4;
constexpr uint32_t MARK_GAP_ROWS =
    108;  // 0.15 inch of paper before the mark  // rows of 1/720 inch between a nozzle's rows
constexpr uint32_t MARK_RIGHT_DOT = 40;  // canvas dot of the mark's end (the print's edge side)
constexpr int BLACK_PAIR = 3;            // channels 6 and 7

// A filled box of canvas dots [x0, x1) and rows [r0, r1); the canvas has two bits per dot.
void fillBox(uint8_t* canvas, uint32_t x0, uint32_t x1, uint32_t r0, uint32_t r1, uint32_t stride) {
    for (uint32_t r = r0; r < r1; ++r) Canvas_HLine(canvas, 2 * x0, r, 2 * (x1 - x0), stride);
}

// Cell (k across, j down as the mark is read upright) in canvas dots and rows: the canvas lies
// half a turn from the paper as it is read.
void fillCell(uint8_t* canvas, int k, int j, int cellsWide, uint32_t stride) {
    const uint32_t right = MARK_RIGHT_DOT + uint32_t(MARK_END_CELL + 1) * MARK_CELL_DOTS;
    const uint32_t x1 = right - uint32_t(k) * MARK_CELL_DOTS;
    const uint32_t x0 = x1 - uint32_t(cellsWide) * MARK_CELL_DOTS;
    const uint32_t r1 = MARK_TOP_ROW + uint32_t(MARK_HEIGHT_CELLS - j) * MARK_CELL_ROWS;
    fillBox(canvas, x0, x1, r1 - MARK_CELL_ROWS, r1, stride);
}

void drawMark(JobContext* ctx, int pair, const SheetMark& mark) {
    const uint32_t stride = ctx->canvasStride;
    uint8_t* canvas = ctx->srcBufferA;
    const size_t room =
        std::min<size_t>(bufferRoomFrom(canvas, MAX_SRC_DATA_SIZE), MAX_SRC_DATA_SIZE);
    std::memset(canvas, 0, std::min<size_t>(size_t(stride) * MARK_ROWS, room));
    if (pair != BLACK_PAIR) return;
    // The anchor (cells 0..5, all three rows) and the end bar (one cell, all three rows),
    // drawn as the cells of their rectangles, right to left as read.
    for (int j = 0; j < MARK_HEIGHT_CELLS; ++j) {
        fillCell(canvas, 0, j, MARK_ANCHOR_CELLS, stride);
        fillCell(canvas, MARK_END_CELL, j, 1, stride);
    }
    const uint32_t bits = SheetMark_Encode(mark);
    for (int i = 0; i < MARK_BITS; ++i)
        if ((bits >> i) & 1u) fillCell(canvas, MARK_FIRST_BIT_CELL + i, 1, 1, stride);
    // The text to the left of the anchor as read: on the canvas beyond the anchor's far side,
    // byte-aligned as the glyphs are drawn.
    const uint32_t textDot = MARK_RIGHT_DOT + uint32_t(MARK_END_CELL + 2) * MARK_CELL_DOTS;
    const std::string text = SheetMark_Text(mark);
    Glyph_DrawText(canvas, text.c_str(), (2 * textDot + 7) / 8 * 8, 0, 8, ctx->rowBits);
}

void printMark(JobContext* ctx, const SheetMark& mark) {
    if (!Job_PlanImage(ctx)) return;
    if (!ctx->srcBufferA || !ctx->formatBuffer) return;
    // Room between the print before and this mark, so each print lies nearer its own mark.
    sendEmptySteps(rowsToSteps(MARK_GAP_ROWS), ctx, 0);
    const uint32_t row = rowsToSteps(1);
    const uint32_t after = rowsToSteps(ctx->nozzlesPerPass * 3u / 2u);
    for (uint32_t pass = 0; pass < MARK_PASSES; ++pass) {
        ctx->swathDirection = 0;
        const size_t room = std::min<size_t>(
            bufferRoomFrom(ctx->formatBuffer, MAX_FORMAT_DATA_SIZE), MAX_FORMAT_DATA_SIZE);
        std::memset(ctx->formatBuffer, 0, std::min<size_t>(ctx->formatDataSize, room));
        for (int i = 0; i < ctx->colorCount; ++i) {
            if (isJobStopped()) return;
            drawMark(ctx, i, mark);
            formatChannelPair(ctx, i);
        }
        ctx->swathCounter++;
        const uint32_t feed =
            pass + 1 < MARK_PASSES ? row : (after > 3 * row ? after - 3 * row : after);
        ctx->feedPerSwath = static_cast<uint16_t>(feed);
        if (!planSwath(ctx)) return;
    }
}

}  // namespace

int Job_RunSheetMark(const SheetMark& mark) {
    return runAdjustmentFrame([&mark](JobContext* ctx) {
        // The mode of the text-high print: any mode prints the mark, which goes one way only.
        if (!Job_SetMode(ctx, 5) || !sendJobStart()) return;
        printMark(ctx, mark);
        Link_WaitAllPrinted();
        jobOutcome().endAcknowledged = sendJobEnd();
    });
}
