// SPDX-License-Identifier: Apache-2.0
// Shared helpers of the pattern catalogue: job geometry, buffer clearing and bounded drawing.
#pragma once
#include <cstdint>

#include "handover/job_context.h"
#include "pattern/pattern_layout.h"

// The geometry row of a pattern: direction, rows, group layout and row length.
struct PatternGeometry {
    uint8_t printDirection;
    uint32_t imageRows;
    uint16_t groupPitch;
    uint8_t groupCount;
    uint32_t rowBits;
};

// Sets the geometry every pattern shares (one pass, eight colours, left to right, one canvas
// row per dot row) and the pattern's own row of it.
void Pat_SetGeometry(JobContext* ctx, PatternLayout* layout, const PatternGeometry& g);
// Sizing through the planner with `checkBits` as the row length, then the drawing row length.
bool Pat_CheckSizes(JobContext* ctx, uint32_t checkBits, uint32_t drawBits);
// Sizing with the pattern's own formulas: points the job at the canvas and format buffer.
void Pat_OwnSizes(JobContext* ctx, uint32_t formatColumns, uint32_t srcDataSize,
                  uint32_t formatDataSize);
// Clears the bytes in use of the canvas / the format buffer (never past their capacity).
void Pat_ClearCanvas(JobContext* ctx);
void Pat_ClearFormat(JobContext* ctx);

// Line primitives on the job's canvas with the stride of rowBits. A line that would leave its
// canvas row or the canvas is refused whole and counted, never written.
void Pat_HLine(JobContext* ctx, uint32_t x, uint32_t row, uint32_t length);
void Pat_VLine(JobContext* ctx, uint32_t x, uint32_t row, uint32_t count);
// The vernier figure: a bar of `length` dots and three 20-row ticks at its ends and middle.
void Pat_Figure(JobContext* ctx, uint32_t x, uint32_t barRow, uint32_t tickRow, uint32_t length);
// Group labels of the layout into the job's canvas.
void Pat_Labels(JobContext* ctx, PatternLayout* layout, int32_t labelX, uint32_t labelRow);

// Format buffer as 16-bit little-endian words (blocks of 180 words = two dot columns).
// Writes outside the format buffer are refused and counted.
void Pat_WordStore(JobContext* ctx, uint64_t word, uint16_t value);
void Pat_WordOr(JobContext* ctx, uint64_t word, uint16_t bits);
void Pat_WordClear(JobContext* ctx, uint64_t word, uint16_t bits);
void Pat_CountRefused();

// The patterns (dispatcher runs them after the common defaults).
void Pattern_DoubleHeadHorizontal(JobContext* ctx, PatternLayout* layout);  // 1
void Pattern_DoubleHeadGroups(JobContext* ctx, PatternLayout* layout);      // 2
void Pattern_VerticalCheck(JobContext* ctx, PatternLayout* layout);         // 3
void Pattern_DoubleHeadBars(JobContext* ctx, PatternLayout* layout);        // 4
void Pattern_Bidirectional(JobContext* ctx, PatternLayout* layout);         // 5..10
void Pattern_FeedStep(JobContext* ctx, PatternLayout* layout, uint8_t no);  // 11..14
void Pattern_VerticalAlign(JobContext* ctx, PatternLayout* layout);         // 16
void Pattern_GroupHorizontal(JobContext* ctx, PatternLayout* layout);       // 17
void Pattern_HeadWidth(JobContext* ctx, PatternLayout* layout);             // 18
void Pattern_NozzleTest(JobContext* ctx, PatternLayout* layout);            // 19
