// Pieces shared by the calibration job and the adjustment runner.
#pragma once
#include "job/print_job.h"

// Parameter record read over the link's handle; stores the head enable flags.
bool readPrinterParameters(JobContext* ctx);
JobOutcome& jobOutcome();
// Fills the verdict part of the outcome from the job state at its end.
void recordJobEnd(JobContext* ctx);
// The two adjustment prints, drawn into the image canvas and queued.
void printBidirectional(JobContext* ctx);
void printFeedStep(JobContext* ctx, uint8_t type);
