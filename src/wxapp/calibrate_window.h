// SPDX-License-Identifier: Apache-2.0
// "Calibrate..." of the desktop console: a window of its own that walks the operator through
// the calibration sheet: print it, read its picture (a file or the scanner), the result table
// beside the marked picture, one SAVE of every certain reading, and the verification sheet.
#pragma once

class wxFrame;

// Adds the "Calibrate..." button after "History..." in the parameter-file row of the dialog
// on screen. Dialog thread, once the console has created its dialog and "History..." stands;
// false when there is no dialog or the program was built without the reader. Idempotent.
bool WxCalibrate_Install();
// Opens (or brings up) the calibration window. nullptr without a console dialog. Dialog thread.
wxFrame* WxCalibrate_Show();
// Whether the window is scanning or reading a picture on its worker thread (its buttons are
// greyed meanwhile; a timer on the dialog thread takes the result). Dialog thread.
bool WxCalibrate_Busy();
