// SPDX-License-Identifier: Apache-2.0
// The two kinds of print job: calibration patterns and the adjustment prints.
#pragma once
#include <atomic>
#include <cstdint>

#include "diag/errors.h"
#include "handover/job_context.h"
#include "platform/owned_state.h"

// Threads and contract words: docs/ARCHITECTURE.md. A job runs on the dialog thread, which it
// holds for its whole length ("job" below); one job at a time.

// Runs one calibration job for a pattern number: link start, parameter read, JOB_CREATE and
// PRINT_START, the pattern drawn and sent, the end of job, link stop; the outcome in
// Job_LastOutcome. \context dialog (becomes the job) \blocks the whole print: the clock, USB,
// message boxes (the job's and the error codes') \errors in the outcome and the trace;
// nothing is returned.
void Job_RunPattern(uint8_t pattern);
// Reads the printer's parameter record over the link and sets the pattern defaults.
// \context job (link started, before JOB_CREATE) \blocks USB \errors false when the printer
// does not answer (traced; the context is then left untouched).
bool Job_ApplyDefaults(JobContext* ctx);

// Runs one adjustment job (types 5..10 bidirectional, 11..15 feed step) as Job_RunPattern.
// \context dialog (becomes the job) \blocks the whole print \errors 1 when the link could not be
// started, else 0; the rest in the outcome.
int Job_RunAdjustment(uint8_t type);
// Runs the mark job of the calibration sheet (job/sheet_mark.h): the mark of the adjustment
// print that follows, one swath left to right, then a feed; as Job_RunAdjustment.
// \context dialog (becomes the job) \blocks the whole print \errors 1 when the link could not be
// started, else 0; the rest in the outcome.
struct SheetMark;
int Job_RunSheetMark(const SheetMark& mark);
// Reads the parameter record, then sets and checks the print mode of adjustment `type`.
// \context job \blocks USB, a message box when the mode is refused \errors false when the
// printer does not answer or the mode is refused.
bool Job_SetMode(JobContext* ctx, uint8_t type);
// Checks the job's resolution, heads and colour format against what the printer prints and
// prepares the ring. \context job \blocks a message box ("本机型不支图像模式...", raised through
// Job_Report) when refused \errors false when refused; the outcome's modeRefused is set.
bool Job_CheckMode(JobContext* ctx);
// Feed step, swath feed and canvas stride of the adjustment image, then the size check.
// \context job \blocks the size check's error box \errors false with program error 4, 5 or 6
// set when the image does not fit its buffers or the printable width.
bool Job_PlanImage(JobContext* ctx);

// Asks the running job to stop as cancelled from the PC (raises the cancel flag and the job
// stop): true when it now ends through its PC-cancel path, false (nothing done) when its end
// command is already on its way, which a cancel can no longer hold back (the job then ends as
// printed). \threadsafe \nonblocking
bool Job_RequestCancel();
// The same for a request from outside the console (the operator's interrupt): true when a job
// is running and now ends through its PC-cancel path, false (nothing done) when none is or its
// end command is already on its way.
// \threadsafe \nonblocking
bool Job_CancelIfRunning();
// A job is running (from before its log opens to after its verdict). \threadsafe \nonblocking
bool Job_IsRunning();

// The console's "second pass" (high-definition) box, read by the adjustment jobs.
// \threadsafe \nonblocking
void Job_SetHdMode(bool on);
bool Job_HdMode();

// How the last job ended, for front ends that report it (the command line's exit status).
struct JobOutcome {
    bool linkStarted = false;
    bool paramsRead = false;
    bool jobCreated = false;
    bool printStarted = false;
    bool endAcknowledged = false;
    bool modeRefused = false;
    ProgramErrorCode errorCode = ERR_NONE;
    bool pcCancelled = false;
    bool printerCancelled = false;
    int swaths = 0;
};
// \context dialog, after the job has returned \nonblocking
const JobOutcome& Job_LastOutcome();

// What the jobs of one session keep between jobs.
struct JobRunState {
    // The console's "second pass" box (dialog thread writes, the job reads).
    std::atomic<uint8_t> hdModeBox{0};
    // How the last job ended (dialog thread).
    JobOutcome lastOutcome;
};
// True when the job ran to its end with every command acknowledged, no error and no cancel.
// \threadsafe \nonblocking
bool Job_Succeeded(const JobOutcome& outcome);
