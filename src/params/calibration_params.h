// SPDX-License-Identifier: Apache-2.0
// The one calibration parameter set of the program, shown and edited by the console.
#pragma once
#include <cstdint>

#include "platform/owned_state.h"

struct CalibrationParams {
    uint16_t bidirTextHigh, bidirTextMid, bidirTextLow;
    uint16_t bidirImageHigh, bidirImageLow, bidirPhoto;
    uint16_t bidirTextHighHd, bidirTextMidHd, bidirTextLowHd, bidirImageHighHd, bidirImageLowHd;
    uint16_t stepPass4, stepPass6, stepPass8,
        stepPass3;       // step table indexed by passModeIndex 0..3
    uint16_t stepPass2;  // index 4 of the same table
    uint8_t passModeIndex;
    uint8_t inkOrder[8];
    uint16_t xResolution;
    uint8_t resolutionClass;  // 0 = 450/540, 1 = 300/360, 2 = 600/720, 3 = 1200/1440 dpi
    uint8_t rowGapSmall[5];
    uint16_t rowGapLarge[5];
    uint32_t feedStepsPerMeter;
    uint8_t featherMode, featherDepth;
    uint16_t headDpi;
    double xScale;
    uint8_t skipLrBlank;
    uint8_t colorBandOn, colorBandSides;
    uint16_t colorBandMargin, colorBandWidth;
};

// The program's one instance (zeroed at start). Dialog thread; read by the job it runs.
CalibrationParams* calibrationParams();
