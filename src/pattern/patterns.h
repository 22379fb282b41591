// The calibration pattern catalogue: job geometry, line art and swaths for each pattern number.
#pragma once
#include <cstdint>

// Sets the common pattern defaults and runs pattern `pattern`; an unknown number only traces.
// Job thread, after PRINT_START.
void Pattern_Dispatch(uint8_t pattern);
