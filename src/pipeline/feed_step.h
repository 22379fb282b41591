// SPDX-License-Identifier: Apache-2.0
// Paper feed: motor steps per dot row from the calibrated step correction, and row counts
// turned into whole steps with the fraction carried across swaths and jobs.
#pragma once
#include <cstdint>

#include "platform/owned_state.h"

// The feed step of one session (job thread).
struct FeedStepState {
    double stepsPerRow = 0.0;
    uint32_t stepReady = 0;
    // Runs across swaths and jobs of one run; never cleared.
    double stepCarry = 0.0;
};

// Steps per row = stepsPerMeter x 10000 / (yDpi x 39.37008 x stepCorrection). A zero input is
// traced and gives 0.0, leaving the stored value as it was.
double computeStepsPerRow(uint16_t yDpi, uint16_t stepCorrection, uint32_t stepsPerMeter);
// Whole steps for `rows` rows; the fraction is carried and fed once it reaches 0.6 step.
uint32_t rowsToSteps(uint32_t rows);
