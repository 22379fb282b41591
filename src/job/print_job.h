// The two kinds of print job: calibration patterns and the adjustment prints.
#pragma once
#include <cstdint>

#include "handover/job_context.h"

// Runs one calibration job for a pattern number on the calling (dialog) thread.
void Job_RunPattern(uint8_t pattern);
// Reads the printer's parameter record over the link and sets the job defaults; false when the
// printer does not answer (the context is then left untouched).
bool Job_ApplyDefaults(JobContext* ctx);

// Runs one adjustment job (types 5..10 bidirectional, 11..15 feed step); 1 when the link
// could not be started, else 0.
int Job_RunAdjustment(uint8_t type);
bool Job_SetMode(JobContext* ctx, uint8_t type);
bool Job_CheckMode(JobContext* ctx);
bool Job_PlanImage(JobContext* ctx);

// Asks the running job to stop as cancelled from the PC. Any thread.
void Job_RequestCancel();

// The console's "second pass" (high-definition) box, read by the adjustment jobs.
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
    uint8_t errorCode = 0;
    bool pcCancelled = false;
    bool printerCancelled = false;
    int swaths = 0;
};
const JobOutcome& Job_LastOutcome();
// True when the job ran to its end with every command acknowledged, no error and no cancel.
bool Job_Succeeded(const JobOutcome& outcome);
