// Paper feed: motor steps per dot row from the calibrated step correction, and row counts
// turned into whole steps with the fraction carried across swaths and jobs.
#pragma once
#include <cstdint>

// Steps per row = stepsPerMeter x 10000 / (yDpi x 39.37008 x stepCorrection). A zero input is
// traced and gives 0.0, leaving the stored value as it was.
double computeStepsPerRow(uint16_t yDpi, uint16_t stepCorrection, uint32_t stepsPerMeter);
// Whole steps for `rows` rows; the fraction is carried and fed once it reaches 0.6 step.
uint32_t rowsToSteps(uint32_t rows);

// The module state, for tests and diagnostics.
double feedStepsPerRow();
double feedStepCarry();
bool feedStepReady();
// Tests only: back to the state at program start, or to a chosen ready state.
void FeedStep_ResetForTest();
void FeedStep_SetStateForTest(double stepsPerRow, double carry);
