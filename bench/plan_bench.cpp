// SPDX-License-Identifier: Apache-2.0
// Swath planner throughput: the extent scan of a full format buffer (blank, and inked in the
// middle so both scans cross half of it) and the record fill of a full-width swath, beside a
// memcpy of the same bytes out of the cache.
#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

#include "bench_support.h"
#include "memcpy_baseline.h"

namespace {

constexpr uint32_t ROW_BITS = 24000;

// A one-bit pattern swath at 720 dpi on one head, format buffer cleared.
JobContext* setUpSwath() {
    bench::installSeams();
    JobContext* ctx = bench::setUpJob();
    ctx->rowBits = ROW_BITS;
    ctx->bitsPerPixel = 1;
    ctx->swathDirection = 0;
    ctx->srcBuffer = canvasBuffer();
    ctx->formatBuffer = formatBufferStorage();
    std::memset(formatBufferStorage(), 0, MAX_FORMAT_DATA_SIZE);
    return ctx;
}

// Column groups the scans look at, in bytes.
size_t scannedBytes(const JobContext* ctx) {
    const uint32_t count = ctx->rowBits + headMarginColumns(ctx);
    return static_cast<size_t>(count / 2) * SWATH_COLUMN_GROUP_BYTES;
}

void extentScan(benchmark::State& state, bool inked) {
    JobContext* ctx = setUpSwath();
    const size_t bytes = scannedBytes(ctx);
    // One nozzle of one column in the middle: the forward scan stops there, the backward scan
    // comes back to it.
    if (inked) formatBufferStorage()[bytes / 2 + 5] = 0x01;
    for (auto _ : state) {
        benchmark::DoNotOptimize(findSwathExtent(ctx));
        benchmark::ClobberMemory();
    }
    if (inked && ctx->swathWidth == 0) state.SkipWithError("no ink found");
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(bytes));
    bench::endJob();
}
BENCHMARK_CAPTURE(extentScan, blank, false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(extentScan, inked_middle, true)->Unit(benchmark::kMillisecond);

void BM_FillSwathRecordFullWidth(benchmark::State& state) {
    JobContext* ctx = setUpSwath();
    // Ink in the first and the last column group: the whole width is one swath.
    const size_t bytes = scannedBytes(ctx);
    formatBufferStorage()[0] = 0x80;
    formatBufferStorage()[bytes - 1] = 0x80;
    findSwathExtent(ctx);
    SwathRecord* record = Ring_GetEmpty();
    if (!record) {
        state.SkipWithError("no ring record");
        return;
    }
    for (auto _ : state) {
        fillSwathRecord(ctx, record);
        benchmark::DoNotOptimize(record->data);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * record->size);
    state.counters["record_bytes"] = record->size;
    Ring_SetState(record, SWATH_EMPTY);
    bench::endJob();
}
BENCHMARK(BM_FillSwathRecordFullWidth)->Unit(benchmark::kMillisecond);

// A memcpy of the scanned bytes out of the cache, for scale.
void BM_MemcpyScannedBytes(benchmark::State& state) {
    const size_t bytes = scannedBytes(setUpSwath());
    bench::endJob();
    bench::memcpyOutOfCache(state, bytes);
}
BENCHMARK(BM_MemcpyScannedBytes)->Unit(benchmark::kMillisecond);

}  // namespace
