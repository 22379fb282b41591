// SPDX-License-Identifier: Apache-2.0
// "Calibrate..." of the native console: the calibration sitting (app/calibrate_flow.h) step by
// step in a window beside the dialog: print the sheet (with or without the second pass), read
// its picture from a file, the result table with the marked picture beside it, ONE SAVE of
// every certain reading, and the verification sheet printed and read the same way. The window
// only shows what the sitting decides.
#pragma once
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include "app/calibrate_print.h"

constexpr wchar_t CALIBRATE_WINDOW_CLASS[] = L"HeadalignCalibrate";
// The window's parts (after the history window's).
enum : int {
    CALIBRATE_SECOND_PASS_ID = 0x7E30,  // check box: the sheet carries the second-pass prints
    CALIBRATE_PRINT_ID,                 // "Print sheet"
    CALIBRATE_READ_ID,                  // "Read file..."
    CALIBRATE_SAVE_ID,                  // "SAVE"
    CALIBRATE_VERIFY_PRINT_ID,          // "Print again" (the verification sheet)
    CALIBRATE_VERIFY_READ_ID,           // "Read verification..."
    CALIBRATE_CLOSE_ID,                 // "Close"
    CALIBRATE_TABLE_ID,                 // read-only edit: the result table
    CALIBRATE_PICTURE_ID,               // the marked picture (a PictureView)
    CALIBRATE_STATUS_ID,                // read-only edit: what the last step did
    CALIBRATE_STEP_FIRST_ID,            // the four steps' titles follow
};

// What the front end does around the sheet's jobs (the virtual printer's sheet picture); set
// before the window opens. Dialog thread.
void WinCalibrate_SetPaper(const CalibratePaper& paper);
// Opens the window (or brings the open one forward). Dialog thread.
HWND WinCalibrate_Show(HWND dialog);
