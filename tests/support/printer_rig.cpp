// SPDX-License-Identifier: Apache-2.0
// The shared virtual printer and job builder.
#include "support/printer_rig.h"

#include <cstdio>
#include <cstring>

#include "app/session.h"
#include "diag/errors.h"
#include "diag/log.h"
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
#include "support/restart_state.h"

std::string PrintJob::name() const {
    char text[32];
    std::snprintf(text, sizeof text, "%s-%02u%s", adjustment ? "adjust" : "pattern",
                  unsigned(number), hd ? "-hd" : "");
    return text;
}

bool PrintJob::paced() const {
    return adjustment ? number >= 11 && number <= 15 : number >= 11 && number <= 14;
}

std::vector<PrintJob> everyPrintJob(bool hd) {
    std::vector<PrintJob> jobs;
    for (uint8_t p = 1; p <= 19; ++p) jobs.push_back(PrintJob::pattern(p));
    for (uint8_t t = 5; t <= 15; ++t) jobs.push_back(PrintJob::adjust(t));
    if (hd)
        for (uint8_t t = 5; t <= 10; ++t) jobs.push_back(PrintJob::adjust(t, true));
    return jobs;
}

JobOutcome runPrintJob(const PrintJob& job) {
    Job_SetHdMode(job.hd);
    if (job.adjustment)
        Job_RunAdjustment(job.number);
    else
        Job_RunPattern(job.number);
    Job_SetHdMode(false);
    return Job_LastOutcome();
}

VirtualPrinter::VirtualPrinter() : folder_(temp_.path) { attach(); }
VirtualPrinter::VirtualPrinter(const std::string& folder) : folder_(folder) { attach(); }
VirtualPrinter::~VirtualPrinter() {
    detach();
    clearProgramError();
}

bool VirtualPrinter::attach() {
    clearProgramError();
    Job_SetHdMode(false);
    attached_ = VPrinter_Attach(folder_, &error_);
    return attached_;
}

void VirtualPrinter::detach() {
    if (attached_ && VPrinter_IsAttached()) VPrinter_Detach();
    attached_ = false;
}

void VirtualPrinter::useFullSizePaper() {
    VPrinterModel model = VPrinter_GetModel();
    model.maxPictureWidth = model.maxPictureHeight = 40000;
    VPrinter_SetModel(model);
}

std::string VirtualPrinter::lastJobPath(const char* extension) const {
    VPrinter_WaitPaper();
    return VPrinter_JobPath(VPrinter_LastJobNumber(), extension);
}

JobContext* setUpPlannerJob() {
    Log_Open();
    Job_ClearContext();
    // A job of its own: the planner and what it reads start afresh, the rest of the session
    // (the USB serial, the log banner) runs on.
    restartState<PlanHandoverState>();
    restartState<PlannerState>();
    restartState<PrinterInfoState>();
    restartState<FeedStepState>();
    restartState<PatternRunState>();
    restartState<FormatState>();
    clearProgramError();
    *calibrationParams() = CalibrationParams{};
    JobContext* ctx = jobContext();
    ctx->xDpi = 720;
    ctx->yDpi = 720;
    ctx->printSpeedIps = 30;
    stampJob(ctx);
    Ring_Init(ctx);  // also sets xResolution 720 and resolution class 2
    CalibrationParams* cp = calibrationParams();
    cp->headDpi = 180;
    cp->feedStepsPerMeter = 409600;
    const uint8_t order[8] = {7, 6, 5, 4, 3, 2, 1, 0};
    std::memcpy(cp->inkOrder, order, sizeof order);
    cp->stepPass4 = cp->stepPass6 = cp->stepPass8 = cp->stepPass3 = cp->stepPass2 = 10000;
    ctx->printParams.rowGapSmall = 64;
    ctx->printParams.rowGapLarge = 216;
    ctx->printParams.headEnable = 1;
    ctx->printParams.stepCurrent = 10000;
    ctx->printParams.stepsPerMeter = 409600;
    ctx->maxPrintWidthDots = 100000;
    ctx->nozzlesPerPass = 180;
    std::memset(formatBufferStorage(), 0, MAX_FORMAT_DATA_SIZE);
    uint8_t info[PRINTER_INFO_SIZE] = {};
    info[0x5c] = 151;
    le::putU16(info, 0x86, 0x9876);
    checkPrinterInfo(info, sizeof info);
    clearProgramError();
    return ctx;
}

void endPlannerJob() {
    Ring_Free();
    Log_Close();
    clearProgramError();
}
