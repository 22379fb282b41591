// SPDX-License-Identifier: Apache-2.0
// The adjustment job runner: mode set-up, image sizing and the verdict of one run.
#include <cstdio>
#include <functional>

#include "diag/errors.h"
#include "diag/log.h"
#include "handover/swath_ring.h"
#include "job/job_internal.h"
#include "link/command.h"
#include "link/transmit.h"
#include "params/calibration_params.h"
#include "params/printer_info.h"
#include "params/ring_setup.h"
#include "pipeline/feed_step.h"
#include "pipeline/swath_plan.h"

namespace {

struct ModeRow {
    uint8_t speed;
    uint8_t bidirIndex;
    uint32_t xDpi;
    uint8_t hdBidirIndex;  // mode with the second-pass box ticked
    uint8_t hdSpeed;       // 0 = speed unchanged
};
// Job types 5..10: print speed, bidirectional correction and resolution of each print mode.
const ModeRow BIDIR_MODES[] = {
    {50, 0, 540, 6, 0},  {40, 1, 540, 7, 0},  {30, 2, 540, 8, 0},
    {42, 3, 720, 9, 35}, {26, 4, 720, 10, 0}, {26, 5, 1440, 5, 0},
};

// Step 7 of the run: the verdict in the trace. True for a clean end.
bool traceVerdict(JobContext* ctx) {
    const int code = static_cast<int>(programError());
    if (code != 0) {
        Log_Trace("Quit for Error：%d\n", code);
        Log_Trace("Quit for Error：%d,swath:%d\n", code, ctx->swathNumber);
        return false;
    }
    if (ctx->link.cancelRequest && ctx->link.cancelRequest->load()) {
        Log_Trace("PC取消作业,swath:%d\n", ctx->swathNumber);
        return false;
    }
    if (ctx->link.printerCancelled.load()) {
        Log_Trace("打印机取消作业,swath:%d\n", ctx->swathNumber);
        return false;
    }
    Log_Trace("Job End OK %d/%d\n", 0, 1);
    Log_Trace("Job End OK %d\n", ctx->swathNumber);
    return true;
}

// Steps 3 to 6: mode, job commands, the print and the end of the job.
void runAdjustmentOnLink(JobContext* ctx, uint8_t type) {
    JobOutcome& out = jobOutcome();
    if (!Job_SetMode(ctx, type)) return;
    if (!sendJobStart()) return;
    printAdjustment(ctx, type);
    Link_WaitAllPrinted();
    out.endAcknowledged = sendJobEnd();
    traceVerdict(ctx);
}
}  // namespace

bool Job_SetMode(JobContext* ctx, uint8_t type) {
    if (!readPrinterParameters(ctx)) return false;
    jobOutcome().paramsRead = true;
    return selectAdjustmentMode(ctx, type);
}

bool selectAdjustmentMode(JobContext* ctx, uint8_t type) {
    ctx->colorCount = 4;
    ctx->rowBits = 8000;
    ctx->imageRows = 720;
    ctx->bitsPerPixel = 2;
    ctx->xDpi = 720;
    ctx->yDpi = 720;
    if (type >= 5 && type <= 10) {
        const ModeRow& m = BIDIR_MODES[type - 5];
        ctx->printSpeedIps = m.speed;
        ctx->bidirIndex = m.bidirIndex;
        ctx->xDpi = m.xDpi;
        if (Job_HdMode()) {
            ctx->bidirIndex = m.hdBidirIndex;
            if (m.hdSpeed) ctx->printSpeedIps = m.hdSpeed;
        }
    } else if (type >= 11 && type <= 15) {
        ctx->printSpeedIps = 30;
        ctx->xDpi = 720;
        ctx->rowBits = 24000;
    }
    return Job_CheckMode(ctx);
}

bool Job_CheckMode(JobContext* ctx) {
    bool refused = ctx->yDpi != 540 && ctx->yDpi != 720 && ctx->yDpi != 1080 && ctx->yDpi != 1440;
    Log_Trace("--Enable mask");
    Ring_Init(ctx);
    if (isHeadAEnabled() && isHeadBEnabled()) {
        Log_Trace("--双头模式");
        if (ctx->yDpi != 720 && ctx->yDpi != 1080) refused = true;
    }
    if (ctx->colorCount != 4 || ctx->bitsPerPixel != 2) refused = true;
    if (!refused) return true;
    char text[160];
    std::snprintf(text, sizeof text, "本机型不支图像模式(%dx%d),MaxC:%d,Bitn:%d\r\n", ctx->xDpi,
                  ctx->yDpi, ctx->colorCount, ctx->bitsPerPixel);
    Log_Trace("%s", text);
    Job_Report({text, "Error"});
    jobOutcome().modeRefused = true;
    return false;
}

bool Job_PlanImage(JobContext* ctx) {
    ctx->feedStep = computeStepsPerRow(static_cast<uint16_t>(ctx->yDpi),
                                       stepCorrectionFor(calibrationParams()->passModeIndex),
                                       ctx->printParams.stepsPerMeter);
    uint32_t rows =
        isDoubleHead() ? 2u * ctx->nozzlesPerPass : static_cast<uint32_t>(ctx->nozzlesPerPass) - 1u;
    // A printer that never sent its geometry leaves nozzlesPerPass at 0: no negative feed.
    if (!isDoubleHead() && ctx->nozzlesPerPass == 0) rows = 0;
    ctx->feedPerSwath = static_cast<uint16_t>(rowsToSteps(rows));
    ctx->canvasStride = (ctx->rowBits + 7) / 8;
    Log_Trace("Swath steps: %d \n", ctx->feedPerSwath);
    return checkJobSizes(ctx);
}

void printAdjustment(JobContext* ctx, uint8_t type) {
    // The size check's verdict decides: an image that does not fit its buffers (or the
    // printable width) ends the job with the check's error before anything is drawn or queued.
    if (!Job_PlanImage(ctx)) return;
    if (type >= 5 && type <= 10) {
        printBidirectional(ctx);
    } else if (type >= 11 && type <= 15) {
        printFeedStep(ctx, type);
    }
}

int Job_RunAdjustment(uint8_t type) {
    return runAdjustmentFrame([type](JobContext* ctx) { runAdjustmentOnLink(ctx, type); });
}

int runAdjustmentFrame(const std::function<void(JobContext*)>& onLink) {
    RunningJob running;
    JobOutcome& out = jobOutcome();
    out = JobOutcome{};
    Log_Open();
    Job_ClearContext();
    JobContext* ctx = jobContext();
    Cmd_Reset();
    stampJob(ctx);
    running.stamped();
    linkJobReporting(ctx);
    if (!Link_Start(ctx)) {
        recordJobEnd(ctx);
        Ring_Free();
        return 1;
    }
    out.linkStarted = true;
    onLink(ctx);
    Link_Stop(&ctx->link);
    recordJobEnd(ctx);
    Log_Close();
    Ring_Free();
    return 0;
}
