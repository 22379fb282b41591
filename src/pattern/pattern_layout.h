// SPDX-License-Identifier: Apache-2.0
// The group layout of the calibration pattern being drawn (one instance, cleared per pattern).
#pragma once
#include <cstdint>

#include "platform/owned_state.h"

struct PatternLayout {
    uint8_t patternNo = 0;
    uint8_t groupCount = 0;    // groups + 1: the groups are numbered 1 .. groupCount - 1
    int16_t labelGap = 0;      // 80 by default; read by no pattern
    uint16_t groupPitch = 0;   // dots from one group to the next
    int16_t layoutStride = 0;  // (groupPitch x groupCount + 7) / 8 at dispatch; read by no pattern
    int32_t labelX = 0;        // dot offset added to every group label
    uint32_t labelRow = 0;     // canvas row of the group labels
};

// The program's one layout.
PatternLayout* patternLayout();
// Clears the layout to its zero state.
void PatternLayout_Clear();
