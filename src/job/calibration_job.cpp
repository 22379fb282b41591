// SPDX-License-Identifier: Apache-2.0
// The calibration print job: one pattern from job creation to job end.
#include "diag/errors.h"
#include "diag/log.h"
#include "handover/swath_ring.h"
#include "job/job_internal.h"
#include "link/command.h"
#include "link/transmit.h"
#include "params/ring_setup.h"
#include "pattern/patterns.h"
#include "pipeline/swath_plan.h"

namespace {

// Steps 7 to 10 of the job: everything between the link start and the link stop.
void runPatternOnLink(JobContext* ctx, uint8_t pattern) {
    JobOutcome& out = jobOutcome();
    if (!Job_ApplyDefaults(ctx)) return;
    out.paramsRead = true;
    if (!sendJobStart()) return;
    Pattern_Dispatch(pattern);
    Link_WaitAllPrinted();
    out.endAcknowledged = sendJobEnd();
}
}  // namespace

void Job_RunPattern(uint8_t pattern) {
    RunningJob running;
    JobOutcome& out = jobOutcome();
    out = JobOutcome{};
    Log_Open();
    Job_ClearContext();
    JobContext* ctx = jobContext();
    ctx->printSpeedIps = 30;
    Ring_Init(ctx);
    Cmd_Reset();
    ctx->xDpi = ctx->yDpi = 720;
    stampJob(ctx);
    running.stamped();
    linkJobReporting(ctx);
    if (!Link_Start(ctx)) {
        recordJobEnd(ctx);
        Ring_Free();
        return;
    }
    out.linkStarted = true;
    runPatternOnLink(ctx, pattern);
    Link_Stop(&ctx->link);
    recordJobEnd(ctx);
    Log_Trace("校准测试结束\n");
    Log_Close();
    Ring_Free();
}
