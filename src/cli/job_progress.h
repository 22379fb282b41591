// SPDX-License-Identifier: Apache-2.0
// A print job on the command line: on a terminal one progress line on standard error (swaths
// sent of the job's total, paper fed, time left) ending with the job's summary, and the trace
// lines kept off the terminal unless --trace. Piped, a job prints what it always printed.
#pragma once
#include <cstdint>
#include <memory>

#include "cli/cli.h"
#include "cli/progress_line.h"

class JobProgress {
  public:
    // Around one job, after Cli_AttachPrinter (it wraps the clock that installed) and ended
    // before Cli_DetachPrinter. tracesOnStderr: the caller has moved the trace lines' standard
    // output to standard error for the job. Dialog thread, which the job then holds.
    explicit JobProgress(const CliOptions& options, bool tracesOnStderr = false);
    ~JobProgress();
    JobProgress(const JobProgress&) = delete;
    JobProgress& operator=(const JobProgress&) = delete;

    // Ends the line with the summary of the job that has just returned.
    void finish(bool succeeded);
    // The line as it stands now ("printing: swath 3 of 197 sent, ..."); called by the clock
    // while the job waits.
    void refresh(bool now = false);

  private:
    ProgressLine line_;
    uint32_t startMs_ = 0;
    bool rateStarted_ = false;
    uint32_t rateStartMs_ = 0;
    uint64_t rateStartDone_ = 0;
    bool tracesWere_ = true;
    const void* innerClock_ = nullptr;
};
