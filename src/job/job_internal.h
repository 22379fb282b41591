// Pieces shared by the calibration job and the adjustment runner.
#pragma once
#include "diag/errors.h"
#include "job/print_job.h"

// The job layer's one reporting point: raises the box of a reason found below it (the link,
// the printer information) or by the job itself, on the calling thread, OK button and
// information icon. Dialog or transmit thread; blocks until the operator closes the box.
// Nothing is shown for an empty reason.
void Job_Report(const Reason& why);
// Lets the link report through Job_Report (after the context is cleared, before Link_Start).
void linkJobReporting(JobContext* ctx);

// Parameter record read over the link's handle; stores the head enable flags.
bool readPrinterParameters(JobContext* ctx);
JobOutcome& jobOutcome();
// Fills the verdict part of the outcome from the job state at its end.
void recordJobEnd(JobContext* ctx);
// JOB_CREATE then PRINT_START, each awaited, with the failure trace of the one refused;
// records both in the outcome. false when the job cannot go on.
bool sendJobStart();
// Feed-step correction of the step table for a pass mode index 0..4.
uint16_t stepCorrectionFor(uint8_t passModeIndex);
// Job defaults of a calibration pattern once the parameter record has been read.
void applyPatternDefaults(JobContext* ctx);
// Defaults and print mode of adjustment `type` once the parameter record has been read;
// false (the user told) when the mode is refused.
bool selectAdjustmentMode(JobContext* ctx, uint8_t type);
// Sizing and the adjustment print of `type`, after PRINT_START; nothing is drawn or queued
// when the size check refuses the image (its error code is then set).
void printAdjustment(JobContext* ctx, uint8_t type);
// The two adjustment prints, drawn into the image canvas and queued.
void printBidirectional(JobContext* ctx);
void printFeedStep(JobContext* ctx, uint8_t type);
