// The program's one calibration parameter set.
#include "params/calibration_params.h"

namespace {
CalibrationParams theParams{};
}

CalibrationParams* calibrationParams() { return &theParams; }
