// SPDX-License-Identifier: Apache-2.0
// Shared pieces of the benchmark programs: trace lines kept off the report, a clock whose waits
// cost nothing, silent message boxes, a null transmit side for the swath ring, the job set-up
// the patterns and adjustment prints expect (shared with the tests), and the A4 page the
// reader's benchmarks paste their scans on.
#pragma once
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <ext/stdio_filebuf.h>
#include <iostream>
#include <thread>

#include "diag/errors.h"
#include "diag/log.h"
#include "handover/job_context.h"
#include "handover/swath_ring.h"
#include "params/calibration_params.h"
#include "params/printer_info.h"
#include "params/ring_setup.h"
#include "pattern/canvas.h"
#include "pattern/patterns.h"
#include "pipeline/feed_step.h"
#include "pipeline/head_format.h"
#include "pipeline/swath_plan.h"
#include "platform/bytes.h"
#include "platform/clock.h"
#include "platform/logdir.h"
#include "platform/msgbox.h"
#include "support/printer_rig.h"
#include "vernier/vernier.h"

namespace bench {

// Trace lines go to standard output with every swath; the report goes to the original output
// instead, so a run shows only the table.
inline void quietTraceOutput() {
    static bool done = false;
    if (done) return;
    done = true;
    std::cout.flush();
    const int report = dup(STDOUT_FILENO);
    const int null = open("/dev/null", O_WRONLY);
    if (report < 0 || null < 0) return;
    dup2(null, STDOUT_FILENO);
    close(null);
    static __gnu_cxx::stdio_filebuf<char> reportBuf(report, std::ios::out);
    std::cout.rdbuf(&reportBuf);
}

// Waits advance the tick at once, with a token real pause so the other thread runs.
namespace instant_clock {
inline std::atomic<uint32_t> tick{0};
inline void sleepMs(uint32_t ms) {
    tick += ms;
    std::this_thread::sleep_for(std::chrono::microseconds(20));
}
inline uint32_t tickMs() { return tick.load(); }
inline void localTime(LocalTime* out) { *out = LocalTime{2026, 12, 7, 21, 0, 0}; }
inline const ClockBackend backend{
    .sleepMs = sleepMs,
    .tickMs = tickMs,
    .localTime = localTime,
};
}  // namespace instant_clock

inline int silentBox(const char*, const char*, int, int) { return MSGBOX_RESULT_OK; }
inline const MsgBoxBackend silentBoxes{
    .show = silentBox,
};

// The platform seams of a benchmark: no files, no boxes, no real waiting.
inline void installSeams() {
    quietTraceOutput();
    Clock_Install(&instant_clock::backend);
    MsgBox_Install(&silentBoxes);
    LogDir_Set("/nonexistent/headalign-bench-log");
}

// The transmit side without a printer: every full record is released as soon as it is queued.
class NullDrain {
  public:
    explicit NullDrain(JobContext* job) {
        job->txReleased = 1;
        thread_ = std::thread([this] {
            while (running_) {
                if (SwathRecord* r = Ring_TakeFull()) {
                    bytes_ += r->size;
                    Ring_SetState(r, SWATH_EMPTY);
                    continue;
                }
                std::this_thread::sleep_for(std::chrono::microseconds(20));
            }
        });
    }
    ~NullDrain() { stop(); }
    // Releases the held-back swath, as the job's final wait does, waits until the last queued
    // swath has been taken and ends the drain.
    void finish() {
        flushPendingSwath();
        while (Ring_CountState(SWATH_EMPTY) < SWATH_RING_SIZE)
            std::this_thread::sleep_for(std::chrono::microseconds(20));
        stop();
    }
    void stop() {
        running_ = false;
        if (thread_.joinable()) thread_.join();
    }
    uint64_t bytes() const { return bytes_.load(); }

  private:
    std::atomic<bool> running_{true};
    std::atomic<uint64_t> bytes_{0};
    std::thread thread_;
};

// The tests' single-head 720-dpi job as the planner sees it after the parameter read, in the
// program's session (main/session_main.cpp).
inline JobContext* setUpJob() { return setUpPlannerJob(); }
inline void endJob() { endPlannerJob(); }

// An A4 page scanned at 600 dpi (4960 x 7016, the paper's grey 250) with `picture` (a scan of a
// print or a sheet at the same resolution) pasted at (left, top), cut at the page's edge. An
// empty picture gives the blank page.
inline VernierImage a4PageWith(const VernierImage& picture, uint32_t left, uint32_t top) {
    VernierImage page;
    page.width = 4960;
    page.height = 7016;
    page.dpi = 600;
    page.rgb.assign(size_t(page.width) * page.height * 3, 250);
    for (uint32_t y = 0; y < picture.height && top + y < page.height; ++y) {
        if (left >= page.width) break;
        const uint32_t n = std::min(picture.width, page.width - left);
        std::memcpy(page.at(left, top + y), picture.at(0, y), size_t(n) * 3);
    }
    return page;
}

// A 12-megapixel photo (4000 x 3000) with `shot` in its top left corner, its light divided by
// `dimmer` (1: as shot), on a background of grey `background`.
inline VernierImage twelveMegapixelsWith(const VernierImage& shot, uint8_t background,
                                         int dimmer = 1) {
    VernierImage full;
    full.width = 4000;
    full.height = 3000;
    full.rgb.assign(size_t(full.width) * full.height * 3, background);
    for (uint32_t y = 0; y < shot.height && y < full.height; ++y)
        for (uint32_t x = 0; x < shot.width && x < full.width; ++x)
            for (int c = 0; c < 3; ++c) full.at(x, y)[c] = uint8_t(shot.at(x, y)[c] / dimmer);
    return full;
}

}  // namespace bench
