// SPDX-License-Identifier: Apache-2.0
// Preparing the swath ring for a job, together with the calibration set's resolution values
// that follow from the job's horizontal resolution.
#pragma once
#include "handover/job_context.h"

// Job start and whenever a job's printer information is applied: sets xResolution and
// resolutionClass of CalibrationParams from the job's xDpi (720 dpi, class 2 for an unknown
// value), then prepares the ring (Ring_Prepare).
// \context job, or transmit while it applies the JOB_CREATE answer; no swath in flight
// \nonblocking \errors a data buffer that cannot be allocated traces "MAX_FORMAT_DATA_SIZE alloc
// failed" and sets program error 5 (the job then ends).
void Ring_Init(JobContext* job);
