// SPDX-License-Identifier: Apache-2.0
// Head formatter throughput: all eight channels of a full swath (a vernier pattern and a dense
// image), each head and each direction, beside a memcpy of the same format-buffer span out of
// the cache.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <vector>

#include "app/session.h"
#include "handover/job_context.h"
#include "memcpy_baseline.h"
#include "params/calibration_params.h"
#include "pattern/canvas.h"
#include "pattern/glyph.h"
#include "pipeline/head_format.h"

namespace {

constexpr uint32_t ROW_BITS = 24000;
constexpr uint32_t ROWS = 180;

// A swath as the vernier patterns draw it: numbered groups of a bar with three ticks, every
// 200 dots, plus a frame line, on a 720 dpi head with the usual row gaps.
enum class Image { Vernier, Dense };

JobContext* setUpSwath(uint8_t direction, Image image = Image::Vernier, int head = 0) {
    Job_ClearContext();
    JobContext* ctx = jobContext();
    ctx->printParams.rowGapSmall = 64;
    ctx->printParams.rowGapLarge = 216;
    ctx->printParams.headEnable = 1;
    ctx->printSpeedIps = 30;
    ctx->rowBits = ROW_BITS;
    ctx->swathDirection = direction;
    ctx->srcBuffer = canvasBuffer();
    ctx->formatBuffer = formatBufferStorage();
    calibrationParams()->resolutionClass = 2;
    calibrationParams()->bidirTextHigh = 3;
    if (head == 1) {
        // The second head of a double-head printer, 420 dots beside the first.
        ctx->printParams.headEnable = 3;
        ctx->printParams.headDistance = 420;
        ctx->secondHeadPass = 1;
    }
    const uint32_t stride = (ROW_BITS + 7) / 8;
    if (image == Image::Dense) {
        // Every second dot set: every column pair of every nozzle prints.
        std::memset(canvasBuffer(), 0xAA, stride * ROWS);
        return ctx;
    }
    std::memset(canvasBuffer(), 0, stride * ROWS);
    for (uint32_t k = 1; k * 200 + 170 < ROW_BITS; ++k) {
        const uint32_t x = k * 200 + 10 - k % 20;
        Canvas_HLine(canvasBuffer(), x, 65, 160, stride);
        for (uint32_t t : {x, x + 80, x + 160}) Canvas_VLine(canvasBuffer(), t, 45, 20, stride);
        char label[8];
        std::snprintf(label, sizeof label, "%02d", static_cast<int>(k % 20) - 10);
        if (k % 3 == 0) Glyph_DrawText(canvasBuffer(), label, k * 200, 100, 8, ROW_BITS);
    }
    Canvas_HLine(canvasBuffer(), 0, 160, ROW_BITS, stride);
    return ctx;
}

size_t formatSpan(const JobContext* ctx) {
    return (static_cast<size_t>(ctx->rowBits) + 2 * headMarginColumns(ctx)) * 180;
}

void formatAllChannels(benchmark::State& state, Image image, int head, uint8_t direction) {
    Session session;  // the program state of this run
    JobContext* ctx = setUpSwath(direction, image, head);
    const size_t span = formatSpan(ctx);
    std::memset(formatBufferStorage(), 0, span);
    for (auto _ : state) {
        for (int ch = 0; ch < 8; ++ch) formatChannel(ctx, ch);
        benchmark::DoNotOptimize(formatBufferStorage()[0]);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(span));
    state.counters["span_bytes"] = static_cast<double>(span);
}

BENCHMARK_CAPTURE(formatAllChannels, vernier_PHA_LtoR, Image::Vernier, 0, 0)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(formatAllChannels, vernier_PHA_RtoL, Image::Vernier, 0, 1)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(formatAllChannels, vernier_PHB_LtoR, Image::Vernier, 1, 0)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(formatAllChannels, vernier_PHB_RtoL, Image::Vernier, 1, 1)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(formatAllChannels, dense_PHA_LtoR, Image::Dense, 0, 0)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(formatAllChannels, dense_PHA_RtoL, Image::Dense, 0, 1)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(formatAllChannels, dense_PHB_LtoR, Image::Dense, 1, 0)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(formatAllChannels, dense_PHB_RtoL, Image::Dense, 1, 1)
    ->Unit(benchmark::kMillisecond);

// The same span copied once, out of the cache: the yardstick of every program.
void BM_MemcpyFormatSpan(benchmark::State& state) {
    bench::memcpyOutOfCache(state, formatSpan(setUpSwath(0)));
}

BENCHMARK(BM_MemcpyFormatSpan)->Unit(benchmark::kMillisecond);

}  // namespace
