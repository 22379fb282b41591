// SPDX-License-Identifier: Apache-2.0
// The command line's progress of a print job, refreshed from the job's own waits.
#include "cli/job_progress.h"

#include <atomic>
#include <cstdio>
#include <string>
#include <thread>

#include "diag/log.h"
#include "link/transmit.h"
#include "params/calibration_params.h"
#include "params/parameter_record.h"
#include "pipeline/swath_plan.h"
#include "platform/clock.h"
#include "platform/owned_state.h"

namespace {

// The job runs on the dialog thread and waits on the clock between its steps (every poll of
// the ring, the feed-step print's pauses): the line is refreshed there, on that thread, so
// nothing else runs beside the job.
// The transmit thread sleeps through the same clock (and one given up may outlive the job), so
// what it reads here is atomic.
std::atomic<JobProgress*> active{nullptr};
std::atomic<const ClockBackend*> inner{nullptr};
std::atomic<std::thread::id> jobThread{};

void progressSleep(uint32_t ms) {
    JobProgress* progress = active.load();
    if (progress && std::this_thread::get_id() == jobThread.load()) progress->refresh();
    inner.load()->sleepMs(ms);
}
uint32_t progressTick() { return inner.load()->tickMs(); }
void progressLocalTime(LocalTime* out) { inner.load()->localTime(out); }
const ClockBackend PROGRESS_CLOCK{
    .sleepMs = progressSleep,
    .tickMs = progressTick,
    .localTime = progressLocalTime,
};

struct Work {
    uint32_t sent = 0, expected = 0;
    uint64_t fedSteps = 0, expectedSteps = 0;
};

Work currentWork() {
    Work w;
    if (const TransmitState* tx = OwnedState<TransmitState>::find()) {
        w.sent = tx->recordsSent;
        w.fedSteps = tx->feedStepsSent;
    }
    Plan_ExpectedWork(&w.expected, &w.expectedSteps);
    return w;
}

double millimetres(uint64_t steps) {
    uint32_t perMetre = FEED_STEPS_PER_METER;
    if (const CalibrationParams* p = OwnedState<CalibrationParams>::find())
        if (p->feedStepsPerMeter > 0) perMetre = p->feedStepsPerMeter;
    return double(steps) * 1000.0 / perMetre;
}

std::string describe(const Work& w) {
    char text[160];
    int n = w.expected > 0 ? std::snprintf(text, sizeof text, "swath %u of %u sent", w.sent,
                                           std::max(w.expected, w.sent))
                           : std::snprintf(text, sizeof text, "swath %u sent", w.sent);
    if (w.fedSteps > 0 || w.expectedSteps > 0)
        n += std::snprintf(text + n, sizeof text - size_t(n), ", paper fed %.0f mm",
                           millimetres(w.fedSteps));
    if (w.expectedSteps > 0)
        std::snprintf(text + n, sizeof text - size_t(n), " of %.0f mm",
                      millimetres(w.expectedSteps));
    return text;
}

}  // namespace

namespace {
// Whether the job's trace lines would reach a terminal.
bool tracesOnTerminal(bool tracesOnStderr) {
    return tracesOnStderr ? Progress_StderrIsTerminal() : Progress_StdoutIsTerminal();
}
}  // namespace

// With --trace on a terminal the trace lines are the progress: no line between them.
JobProgress::JobProgress(const CliOptions& options, bool tracesOnStderr) {
    const bool terminal = tracesOnTerminal(tracesOnStderr);
    if (options.trace && terminal) line_.disable();
    if (!line_.on()) return;
    // The trace lines reach the terminal only when asked for; a pipe or a file gets them as
    // it always did.
    LogRunState* run = OwnedState<LogRunState>::find();
    tracesWere_ = !run || run->stdoutCopy;
    if (terminal) Log_SetStdoutCopy(false);
    startMs_ = Clock_Tick();
    inner = Clock_Backend();
    innerClock_ = inner.load();
    jobThread = std::this_thread::get_id();
    active = this;
    Clock_Install(&PROGRESS_CLOCK);
    line_.show("printing: starting...", true);
}

JobProgress::~JobProgress() {
    if (innerClock_) {
        Clock_Install(static_cast<const ClockBackend*>(innerClock_));
        active = nullptr;
    }
    line_.finish("");
    if (line_.on()) Log_SetStdoutCopy(tracesWere_);
}

void JobProgress::refresh(bool now) {
    if (!line_.on()) return;
    const Work w = currentWork();
    std::string text = "printing: " + describe(w);
    uint64_t done = 0, total = 0;
    if (w.expectedSteps > 0) {
        done = w.fedSteps, total = w.expectedSteps;
    } else if (w.expected > 0) {
        done = w.sent, total = w.expected;
    }
    // The rate is taken from the first work seen on: the printer's start-up is no guide to it.
    const uint32_t t = Clock_Tick();
    if (done > 0 && !rateStarted_) {
        rateStarted_ = true;
        rateStartMs_ = t;
        rateStartDone_ = done;
    }
    const std::string left =
        rateStarted_ && total > rateStartDone_
            ? Progress_TimeLeft(t - rateStartMs_, done - rateStartDone_, total - rateStartDone_)
            : "";
    if (!left.empty()) text += ", " + left;
    line_.show(text, now);
}

void JobProgress::finish(bool succeeded) {
    if (!line_.on()) return;
    const Work w = currentWork();
    char text[160];
    int n = std::snprintf(text, sizeof text, "%s: %u swath%s sent",
                          succeeded ? "printed" : "stopped", w.sent, w.sent == 1 ? "" : "s");
    if (w.fedSteps > 0)
        n += std::snprintf(text + n, sizeof text - size_t(n), ", %.0f mm of paper fed",
                           millimetres(w.fedSteps));
    std::snprintf(text + n, sizeof text - size_t(n), " in %s",
                  Progress_Duration((Clock_Tick() - startMs_ + 500) / 1000).c_str());
    line_.finish(text);
}
