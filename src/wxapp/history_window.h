// SPDX-License-Identifier: Apache-2.0
// "History..." of the desktop console: the printer's calibration history in a window of its
// own, the picture above, the entries listed below, the drift said in words at the top.
#pragma once
#include <string>

class wxFrame;

// Adds the "History..." button after "Import" in the parameter-file row of the dialog on
// screen. Dialog thread, once the console has created its dialog; false when there is no
// dialog. Idempotent.
bool WxHistory_Install();
// Opens (or brings up again, refreshed) the history window of the printer the console is on.
// Returns it; nullptr when no printer is chosen. Dialog thread.
wxFrame* WxHistory_Show();
