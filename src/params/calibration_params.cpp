// SPDX-License-Identifier: Apache-2.0
// The program's one calibration parameter set.
#include "params/calibration_params.h"

CalibrationParams* calibrationParams() { return &OwnedState<CalibrationParams>::get(); }
