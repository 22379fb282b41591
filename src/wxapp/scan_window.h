// SPDX-License-Identifier: Apache-2.0
// "Read scan..." beside each bidirectional row of the desktop console: reads a scan of the
// row's adjustment print, fills the row's "加减:" entry and shows the scan with the groups marked.
#pragma once
#include <string>

// Adds a small button after each of the six bidirectional entries of the dialog on screen.
// Dialog thread, once the console has created its dialog; false when there is no dialog, it
// lacks the entries, or the program was built without the vernier reader. Idempotent.
bool WxVernier_Install();
// What the button of row 0..5 does once a file is chosen: reads the scan, types the aligned
// group's label into the row's entry (the console's SAVE then applies it) and shows the scan
// with the groups marked. false with the reason in *message when the scan cannot be read.
bool WxVernier_ReadInto(int row, const std::string& scanPath, std::string* message);
