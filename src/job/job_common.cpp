// SPDX-License-Identifier: Apache-2.0
// What both kinds of job share: the parameter read at set-up, the PC cancel, the outcome.
#include <atomic>
#include <cstring>

#include "diag/errors.h"
#include "diag/log.h"
#include "job/job_internal.h"
#include "job/print_job.h"
#include "link/command.h"
#include "link/usb.h"
#include "params/calibration_params.h"
#include "params/parameter_record.h"
#include "platform/msgbox.h"

namespace {
JobRunState& runState() { return OwnedState<JobRunState>::get(); }
}  // namespace

void Job_Report(const Reason& why) {
    if (!why.empty()) MsgBox_Show(why.text, why.caption, MSGBOX_OK, MSGBOX_ICON_INFORMATION);
}

void linkJobReporting(JobContext* ctx) { ctx->link.report = Job_Report; }

bool readPrinterParameters(JobContext* ctx) {
    uint8_t record[PARAMETER_RECORD_SIZE] = {};
    if (!Usb_TransactOnLink(ctx->link.device, USB_SUB_READ_PARAMS, nullptr, 0, record,
                            sizeof record)) {
        Log_Trace("无法连接打印机，获取参数失败");
        return false;
    }
    ctx->printParams.headEnable = record[2];
    return true;
}

bool Job_ApplyDefaults(JobContext* ctx) {
    if (!readPrinterParameters(ctx)) return false;
    applyPatternDefaults(ctx);
    return true;
}

void applyPatternDefaults(JobContext* ctx) {
    ctx->colorCount = 4;
    ctx->rowBits = 0;
    ctx->imageRows = 0;
    ctx->bitsPerPixel = 2;
    ctx->xDpi = 720;
    ctx->yDpi = 720;
    ctx->passCount = 4;
    ctx->nozzlesPerPass = 180;
    ctx->headSpanRows = (180 - 1) * 4;
    ctx->printSpeedIps = 30;
}

bool sendJobStart() {
    if (!Cmd_SendAndWait(CMD_JOB_CREATE)) {
        Log_Trace("Send JOB_CREATE Fail!!\r\n");
        return false;
    }
    runState().lastOutcome.jobCreated = true;
    if (!Cmd_SendAndWait(CMD_PRINT_START)) {
        Log_Trace("Send PRINT_START Fail!!\r\n");
        return false;
    }
    runState().lastOutcome.printStarted = true;
    return true;
}

uint16_t stepCorrectionFor(uint8_t passModeIndex) {
    const CalibrationParams* cp = calibrationParams();
    const uint16_t table[5] = {cp->stepPass4, cp->stepPass6, cp->stepPass8, cp->stepPass3,
                               cp->stepPass2};
    return table[passModeIndex < 5 ? passModeIndex : 0];
}

namespace {
// Process-wide like the job flags they guard: the interrupt's watcher thread reads them while
// the job runs, and may do so after the program's session has ended.
std::atomic<uint32_t> jobRunning{0};
// Where the running job stands for a cancel, one word so that the cancel and the end command
// cannot both win: a cancel taken before the end command is queued means no end command; once
// the end command is on its way a cancel comes too late and the job ends as printed.
enum JobPhase : uint32_t { PHASE_PRINTING = 0, PHASE_CANCELLED = 1, PHASE_ENDING = 2 };
std::atomic<uint32_t> jobPhase{PHASE_PRINTING};

// The cancel itself: the cancel flag and the job stop. The stop makes the drawing, the planner
// and the end-of-print wait return at once; the verdict still reads the cancel flag, so the job
// reports a PC cancel, not an error.
void raiseCancel() {
    jobCancelFlag() = 1;
    requestJobStop();
}
}  // namespace

RunningJob::RunningJob() {
    jobPhase = PHASE_PRINTING;
    jobRunning = 1;
}
RunningJob::~RunningJob() { jobRunning = 0; }
void RunningJob::stamped() {
    if (jobPhase.load() == PHASE_CANCELLED) raiseCancel();
}

bool Job_IsRunning() { return jobRunning.load() != 0; }

bool Job_CancelIfRunning() { return Job_IsRunning() && Job_RequestCancel(); }

bool Job_RequestCancel() {
    uint32_t phase = PHASE_PRINTING;
    if (!jobPhase.compare_exchange_strong(phase, PHASE_CANCELLED) && phase != PHASE_CANCELLED)
        return false;  // the end command is already on its way
    raiseCancel();
    return true;
}

bool sendJobEnd() {
    uint32_t phase = PHASE_PRINTING;
    // A cancel taken first: no end command, as for any job cancelled on the PC (its flag may
    // not be raised yet, so the phase decides, not the flag).
    if (!jobPhase.compare_exchange_strong(phase, PHASE_ENDING)) return true;
    return Cmd_SendAndWait(CMD_JOB_END);
}

void Job_SetHdMode(bool on) { runState().hdModeBox = on ? 1 : 0; }
bool Job_HdMode() { return runState().hdModeBox.load() != 0; }

JobOutcome& jobOutcome() { return runState().lastOutcome; }
const JobOutcome& Job_LastOutcome() { return runState().lastOutcome; }

void recordJobEnd(JobContext* ctx) {
    JobOutcome& outcome = runState().lastOutcome;
    outcome.errorCode = programError();
    outcome.pcCancelled = ctx->link.cancelRequest && ctx->link.cancelRequest->load() != 0;
    outcome.printerCancelled = ctx->link.printerCancelled.load() != 0;
    outcome.swaths = ctx->swathNumber;
}

bool Job_Succeeded(const JobOutcome& o) {
    return o.linkStarted && o.paramsRead && o.jobCreated && o.printStarted && o.endAcknowledged &&
           !o.modeRefused && o.errorCode == ERR_NONE && !o.pcCancelled && !o.printerCancelled;
}
