// SPDX-License-Identifier: Apache-2.0
// Whole prints without a printer: every calibration pattern from Pattern_Dispatch, and every
// adjustment print from the runner's drawing, to the last swath taken from the ring by a null
// transmit side. Waits cost nothing (the real-clock run is bench/run's end-to-end part).
#include <benchmark/benchmark.h>

#include <string>

#include "bench_support.h"
#include "job/job_internal.h"
#include "job/print_job.h"

namespace {

// The adjustment's mode and image as the runner sets them after reading the printer's
// parameters (the bench's context already holds the default printer's).
bool setUpAdjustment(JobContext* ctx, uint8_t type) {
    return selectAdjustmentMode(ctx, type) && Job_PlanImage(ctx);
}

void runPrint(benchmark::State& state, bool adjustment, uint8_t number) {
    bench::installSeams();
    uint64_t bytes = 0;
    int swaths = 0;
    for (auto _ : state) {
        state.PauseTiming();
        JobContext* ctx = bench::setUpJob();
        if (adjustment && !setUpAdjustment(ctx, number)) {
            state.SkipWithError("mode refused");
            bench::endJob();
            return;
        }
        state.ResumeTiming();
        bench::NullDrain drain(ctx);
        if (!adjustment)
            Pattern_Dispatch(number);
        else if (number <= 10)
            printBidirectional(ctx);
        else
            printFeedStep(ctx, number);
        drain.finish();
        state.PauseTiming();
        bytes += drain.bytes();
        swaths = ctx->swathNumber;
        bench::endJob();
        state.ResumeTiming();
    }
    state.SetBytesProcessed(static_cast<int64_t>(bytes));
    state.counters["swath_records"] = swaths;
}

const int registered = [] {
    for (const PrintJob& job : everyPrintJob()) {
        if (!job.adjustment && job.number == 15) continue;  // no pattern 15
        const std::string name =
            (job.adjustment ? "adjustment/" : "pattern/") + std::to_string(job.number);
        benchmark::RegisterBenchmark(name.c_str(), runPrint, job.adjustment, job.number)
            ->Unit(benchmark::kMillisecond)
            ->UseRealTime()
            ->MeasureProcessCPUTime();
    }
    return 0;
}();

}  // namespace
