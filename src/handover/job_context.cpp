// SPDX-License-Identifier: Apache-2.0
// The one job context and its two job flags.
#include "handover/job_context.h"

#include <new>

namespace {
JobContext theJob;
std::atomic<uint32_t> waitBreakFlag{0};
std::atomic<uint32_t> cancelFlag{0};
}  // namespace

JobContext* jobContext() { return &theJob; }

void Job_ClearContext() {
    // A still-joinable thread object would abort on destruction; the link is always stopped
    // (joined or detached) before a job ends, so this only guards against misuse.
    if (theJob.link.thread.joinable()) theJob.link.thread.detach();
    theJob.~JobContext();
    new (&theJob) JobContext();
}

std::atomic<uint32_t>& jobWaitBreakFlag() { return waitBreakFlag; }
std::atomic<uint32_t>& jobCancelFlag() { return cancelFlag; }
