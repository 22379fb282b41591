// SPDX-License-Identifier: Apache-2.0
// "Read scan..." beside each bidirectional row of the native console.
#pragma once
#include "platform/dialog.h"

// The first of the six buttons' control IDs (rows text-high .. photo in order).
constexpr int SCAN_BUTTON_FIRST_ID = 0x7E00;

// "History..." after "Import": the printer's history in a window of its own
// (winapp/history_window.h).
constexpr int HISTORY_BUTTON_ID = SCAN_BUTTON_FIRST_ID + 16;
// "Calibrate..." before "Export": the calibration sitting in a window of its own
// (winapp/calibrate_window.h).
constexpr int CALIBRATE_BUTTON_ID = SCAN_BUTTON_FIRST_ID + 17;

// The Win32 dialog back end whose console gets a "..." button after each bidirectional row's
// add entry: it asks for a scan, reads it, shows it with the found groups marked in a window
// beside the dialog and types the group to enter into the entry, or says why not in a box.
// Dialog thread only, like the back end it wraps.
const DialogBackend* Win32ScanButtons_Backend();
