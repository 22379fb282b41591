// SPDX-License-Identifier: Apache-2.0
// The calibration pattern catalogue: job geometry, line art and swaths for each pattern number.
#pragma once
#include <atomic>
#include <cstdint>

#include "platform/owned_state.h"

// The catalogue's state of one session: drawing positions a pattern asked for that lay outside
// the canvas row or the format buffer and were therefore not written (diagnostics).
struct PatternRunState {
    std::atomic<uint64_t> refusedWrites{0};
};

// Sets the common pattern defaults and runs pattern `pattern`; an unknown number only traces.
// Job thread, after PRINT_START.
void Pattern_Dispatch(uint8_t pattern);
// Whether the catalogue has pattern `pattern` (1..14, 16..19): the others print nothing.
bool Pattern_IsDefined(uint8_t pattern);
