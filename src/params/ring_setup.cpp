// SPDX-License-Identifier: Apache-2.0
// Ring_Init: the ring's preparation and the resolution values of the calibration set, which
// the ring's resolution table decides.
#include "params/ring_setup.h"

#include "diag/errors.h"
#include "diag/log.h"
#include "handover/swath_ring.h"
#include "params/calibration_params.h"

void Ring_Init(JobContext* job) {
    const ResolutionEntry& res = Ring_Resolution(job->xDpi);
    CalibrationParams* params = calibrationParams();
    params->xResolution = static_cast<uint16_t>(res.dpi);
    params->resolutionClass = res.resolutionClass;
    if (!Ring_Prepare(job)) {
        // Without its buffers the planner would wait for a record that never comes.
        Log_Trace("MAX_FORMAT_DATA_SIZE alloc failed");
        setProgramError(ERR_DATA_BUFFER_OVERFLOW);
    }
}
