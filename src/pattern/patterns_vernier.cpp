// SPDX-License-Identifier: Apache-2.0
// The vernier patterns: two prints of the same group figures shifted against each other, read
// by the operator at the group that lines up (patterns 1, 2, 5..10, 16, 17, 18).
#include "diag/log.h"
#include "pattern/patterns_internal.h"
#include "pipeline/head_format.h"
#include "pipeline/swath_plan.h"

namespace {
// Patterns 1, 2 and 4 size for a wider row than they draw.
constexpr uint32_t DOUBLE_HEAD_CHECK_BITS = 6720;
constexpr uint32_t DOUBLE_HEAD_DRAW_BITS = 6000;
constexpr uint32_t OWN_SIZING_ROWS = 720;

const PatternGeometry DOUBLE_HEAD_GEOMETRY{0, 720, 300, 20, DOUBLE_HEAD_DRAW_BITS};
const PatternGeometry BIDIR_GEOMETRY{1, 180, 200, 20, 4000};
const PatternGeometry FIGURE_GEOMETRY{0, 180, 200, 20, 4000};
const PatternGeometry ALIGN_GEOMETRY{0, 180, 200, 20, 4100};

// Groups 1 .. groupCount - 1.
template <typename Draw>
void forEachGroup(const PatternLayout* layout, Draw draw) {
    for (uint32_t k = 1; k < layout->groupCount; ++k) draw(k);
}

bool sizeDoubleHead(JobContext* ctx, PatternLayout* layout) {
    Pat_SetGeometry(ctx, layout, DOUBLE_HEAD_GEOMETRY);
    if (!Pat_CheckSizes(ctx, DOUBLE_HEAD_CHECK_BITS, DOUBLE_HEAD_DRAW_BITS)) return false;
    Pat_ClearCanvas(ctx);
    Pat_ClearFormat(ctx);
    return true;
}

// Own sizing of patterns 16 and 18: the format area is the image plus one margin.
void sizeImagePlusMargin(JobContext* ctx, uint32_t srcStride) {
    const uint32_t margin = headMarginColumns(ctx);
    Pat_OwnSizes(ctx, margin + ctx->rowBits, srcStride * OWN_SIZING_ROWS,
                 (margin + ctx->rowBits) * OWN_SIZING_ROWS);
    Pat_ClearCanvas(ctx);
    Pat_ClearFormat(ctx);
}
}  // namespace

void Pattern_DoubleHeadHorizontal(JobContext* ctx, PatternLayout* layout) {
    if (!sizeDoubleHead(ctx, layout)) return;
    Pat_Labels(ctx, layout, 80, 10);
    const uint32_t pitch = layout->groupPitch;
    const uint32_t half = layout->groupCount / 2;
    forEachGroup(layout, [&](uint32_t k) { Pat_Figure(ctx, k * pitch, 40, 40, 240); });
    ctx->secondHeadPass = 0;
    formatChannel(ctx, 6);
    Pat_ClearCanvas(ctx);
    forEachGroup(layout, [&](uint32_t k) { Pat_Figure(ctx, k * pitch + half - k, 75, 55, 240); });
    ctx->secondHeadPass = 1;
    formatChannel(ctx, 3);
    Swath_Emit(stepsToLength(720));
}

void Pattern_DoubleHeadGroups(JobContext* ctx, PatternLayout* layout) {
    if (!sizeDoubleHead(ctx, layout)) return;
    Pat_Labels(ctx, layout, 20, 10);
    ctx->secondHeadPass = 0;
    formatChannel(ctx, 6);
    Pat_ClearCanvas(ctx);
    const uint32_t pitch = layout->groupPitch;
    const uint32_t arm = pitch / 4;
    forEachGroup(layout, [&](uint32_t k) {
        const uint32_t x = k * pitch - 18;
        Pat_VLine(ctx, x, 40, 40);
        Pat_HLine(ctx, x, 40, arm);
        Pat_HLine(ctx, x, 60, arm);
        Pat_HLine(ctx, x, 80, arm);
    });
    formatChannel(ctx, 6);
    Pat_ClearCanvas(ctx);
    forEachGroup(layout, [&](uint32_t k) {
        const uint32_t x = k * pitch + 18;
        // The row is kept in 8 bits: a large second-head offset wraps.
        const uint8_t y = static_cast<uint8_t>(50 + ctx->printParams.headOffsetB - k);
        Pat_VLine(ctx, x + arm, y, 40);
        Pat_HLine(ctx, x, y, arm);
        Pat_HLine(ctx, x, y + 20u, arm);
        Pat_HLine(ctx, x, y + 40u, arm);
    });
    ctx->secondHeadPass = 1;
    formatChannel(ctx, 5);
    Swath_Emit(stepsToLength(360));
}

void Pattern_Bidirectional(JobContext* ctx, PatternLayout* layout) {
    Pat_SetGeometry(ctx, layout, BIDIR_GEOMETRY);
    if (!checkJobSizes(ctx)) return;
    Pat_ClearCanvas(ctx);
    Pat_ClearFormat(ctx);
    Pat_Labels(ctx, layout, 0, 0);
    Log_Trace("双向校准--K1K2C1C2\n");
    const uint32_t pitch = layout->groupPitch;
    const uint32_t bar = pitch - 40;
    forEachGroup(layout, [&](uint32_t k) { Pat_Figure(ctx, k * pitch + 10 - k + 2, 30, 30, bar); });
    ctx->swathDirection = 0;
    formatChannel(ctx, 7);
    Swath_Emit(0);

    Pat_ClearFormat(ctx);
    Pat_ClearCanvas(ctx);
    forEachGroup(layout, [&](uint32_t k) { Pat_Figure(ctx, k * pitch - 8, 65, 45, bar); });
    ctx->swathDirection = 1;
    formatChannel(ctx, 7);
    Swath_Emit(stepsToLength(360));
}

void Pattern_VerticalAlign(JobContext* ctx, PatternLayout* layout) {
    Pat_SetGeometry(ctx, layout, ALIGN_GEOMETRY);
    sizeImagePlusMargin(ctx, 513);
    Pat_Labels(ctx, layout, 100, 20);
    const uint32_t pitch = layout->groupPitch;
    forEachGroup(layout, [&](uint32_t k) {
        const uint32_t x = k * pitch + 100;
        const uint8_t e = static_cast<uint8_t>(k < 10 ? k + 39 : k + 41);
        Pat_VLine(ctx, x, e, 45);
        Pat_HLine(ctx, x, e, 80);
        Pat_HLine(ctx, x, e + 22u, 80);
        Pat_HLine(ctx, x, e + 45u, 80);
    });
    formatChannel(ctx, 7);
    Pat_ClearCanvas(ctx);
    forEachGroup(layout, [&](uint32_t k) {
        const uint32_t x = k * pitch;
        Pat_VLine(ctx, x + 230, 50, 45);
        Pat_HLine(ctx, x + 150, 50, 80);
        Pat_HLine(ctx, x + 150, 72, 80);
        Pat_HLine(ctx, x + 150, 95, 80);
    });
    formatChannel(ctx, 0);
    Swath_Emit(stepsToLength(360));
}

void Pattern_GroupHorizontal(JobContext* ctx, PatternLayout* layout) {
    Pat_SetGeometry(ctx, layout, FIGURE_GEOMETRY);
    const uint32_t margin = headMarginColumns(ctx);
    Pat_OwnSizes(ctx, ctx->rowBits + 2 * margin, 500 * OWN_SIZING_ROWS,
                 ctx->rowBits * OWN_SIZING_ROWS + margin * 1440);
    Pat_ClearCanvas(ctx);
    Pat_ClearFormat(ctx);
    // The labels go to the first print's channel on their own.
    Pat_Labels(ctx, layout, 0, 0);
    formatChannel(ctx, 6);
    Pat_ClearCanvas(ctx);
    const uint32_t pitch = layout->groupPitch;
    forEachGroup(layout, [&](uint32_t k) { Pat_Figure(ctx, k * pitch + 10 - k, 65, 45, 160); });
    formatChannel(ctx, 6);
    Pat_ClearCanvas(ctx);
    forEachGroup(layout, [&](uint32_t k) { Pat_Figure(ctx, k * pitch, 30, 30, 160); });
    formatChannel(ctx, 7);
    Swath_Emit(stepsToLength(760));
}

void Pattern_HeadWidth(JobContext* ctx, PatternLayout* layout) {
    Pat_SetGeometry(ctx, layout, FIGURE_GEOMETRY);
    sizeImagePlusMargin(ctx, 513);
    Pat_Labels(ctx, layout, 0, 0);
    const uint32_t pitch = layout->groupPitch;
    forEachGroup(layout, [&](uint32_t k) { Pat_Figure(ctx, k * pitch + 10 - k, 65, 45, 160); });
    formatChannel(ctx, 1);
    Pat_ClearCanvas(ctx);
    forEachGroup(layout, [&](uint32_t k) { Pat_Figure(ctx, k * pitch, 30, 30, 160); });
    formatChannel(ctx, 2);
    Swath_Emit(stepsToLength(360));
}
