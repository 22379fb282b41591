// SPDX-License-Identifier: Apache-2.0
// Pieces shared by the calibration job and the adjustment runner.
// Threads and contract words: docs/ARCHITECTURE.md.
#pragma once
#include <functional>

#include "diag/errors.h"
#include "job/print_job.h"

// The job layer's one reporting point: raises the box of a reason found below it (the link,
// the printer information) or by the job itself, OK button and information icon.
// \context job, transmit (through LinkState::report) \blocks until the operator closes the box
// \errors none; nothing is shown for an empty reason.
void Job_Report(const Reason& why);
// Lets the link report through Job_Report. \context job (after the context is cleared, before
// Link_Start) \nonblocking
void linkJobReporting(JobContext* ctx);

// Parameter record read over the link's handle; stores the head enable flags.
// \context job (before JOB_CREATE) \blocks USB \errors false when the printer does not answer
// (traced "无法连接打印机，获取参数失败").
bool readPrinterParameters(JobContext* ctx);
// The outcome of the job in progress. \context job \nonblocking
JobOutcome& jobOutcome();
// Fills the verdict part of the outcome from the job state at its end.
// \context job (after Link_Stop) \nonblocking
void recordJobEnd(JobContext* ctx);

// Marks one job's run for Job_CancelIfRunning, from before its log opens to after its verdict.
class RunningJob {
  public:
    RunningJob();
    ~RunningJob();
    RunningJob(const RunningJob&) = delete;
    RunningJob& operator=(const RunningJob&) = delete;
    // After stampJob, which clears the job flags: a cancel asked for since the job began is
    // raised again, so it is never lost in that window.
    void stamped();
};
// JOB_CREATE then PRINT_START, each awaited, with the failure trace of the one refused;
// records both in the outcome. \context job \blocks as Cmd_SendAndWait \errors false when the
// job cannot go on.
bool sendJobStart();
// The end of job, awaited (Cmd_SendAndWait), unless the job was cancelled on the PC first
// (then true at once, nothing sent); from here on a cancel is refused (Job_RequestCancel), so
// the job either ends through its end command or through its PC cancel, never both.
// \context job (after Link_WaitAllPrinted) \blocks as Cmd_SendAndWait \errors false when the
// end was not acknowledged.
bool sendJobEnd();
// The frame of an adjustment job around `onLink` (what runs between the link's start and its
// stop): outcome cleared, log, context, command slot, link start and stop, verdict, ring freed.
// \context dialog (becomes the job) \blocks the whole print \errors 1 when the link could not be
// started, else 0; the rest in the outcome.
int runAdjustmentFrame(const std::function<void(JobContext*)>& onLink);
// Feed-step correction of the step table for a pass mode index 0..4 (any other: index 0).
// \context job \nonblocking
uint16_t stepCorrectionFor(uint8_t passModeIndex);
// Job defaults of a calibration pattern once the parameter record has been read.
// \context job \nonblocking
void applyPatternDefaults(JobContext* ctx);
// Defaults and print mode of adjustment `type` once the parameter record has been read.
// \context job \blocks a message box when refused \errors false (the operator told) when the
// mode is refused.
bool selectAdjustmentMode(JobContext* ctx, uint8_t type);
// Sizing and the adjustment print of `type`, after PRINT_START; nothing is drawn or queued
// when the size check refuses the image (its error code is then set). \context job \blocks the
// clock while the ring is full (the planner waits for the transmit thread) \errors through the
// program error code.
void printAdjustment(JobContext* ctx, uint8_t type);
// The two adjustment prints, drawn into the image canvas and queued. \context job \blocks as
// printAdjustment \errors through the program error code.
void printBidirectional(JobContext* ctx);
void printFeedStep(JobContext* ctx, uint8_t type);
