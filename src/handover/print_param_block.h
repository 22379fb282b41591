// SPDX-License-Identifier: Apache-2.0
// The job's print parameters taken from the printer information record (28-byte block).
#pragma once
#include <cstdint>

struct PrintParamBlock {
    uint8_t uniDirection = 0;  // byte 0: 1 = every swath of a unidirectional job runs right to left
    uint8_t headOffsetA = 0;   // byte 1: vertical offset of the first head, rows
    uint8_t headOffsetB = 0;   // byte 2: vertical offset of the second head, rows
    uint8_t spitInterval = 0;  // byte 4: swaths between spit requests (0 = never)
    uint16_t headDistance = 0;    // word 6
    uint16_t rowGapSmall = 0;     // word 8: dots between the two rows of a row pair
    uint16_t rowGapLarge = 0;     // word 10: dots from one row pair to the next
    uint16_t bidirCurrent = 0;    // word 12: bidirectional correction of the current mode
    uint16_t stepCurrent = 0;     // word 14: feed-step correction of the current mode
    uint16_t spitDistanceMm = 0;  // word 16
    uint32_t stepsPerMeter = 0;   // dword 20: 409600
    uint8_t headEnable = 0;       // byte 25: bit 0 PHA, bit 1 PHB
};
