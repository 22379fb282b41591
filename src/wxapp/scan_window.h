// SPDX-License-Identifier: Apache-2.0
// "Read scan..." beside each bidirectional row of the desktop console: reads a scan of the
// row's adjustment print, fills the row's "加减:" entry and shows the scan with the groups marked.
#pragma once
#include <string>

// Adds a small button after each of the six bidirectional entries of the dialog on screen,
// and beside each a "Scan" button (greyed when no scanner is found, as on a build without
// scanner support). Dialog thread, once the console has created its dialog; false when there
// is no dialog, it lacks the entries, or the program was built without the vernier reader.
// Idempotent.
bool WxVernier_Install();
// What the button of row 0..5 does once a file is chosen: reads the scan, types the aligned
// group's label into the row's entry (the console's SAVE then applies it) and shows the scan
// with the groups marked. false with the reason in *message when the scan cannot be read.
bool WxVernier_ReadInto(int row, const std::string& scanPath, std::string* message);
// What the "Scan" button of row 0..5 does: scans the print on the first scanner found (300 dpi
// grey) with a progress window whose Cancel stops the scan, keeps the picture in the log folder
// and reads it as WxVernier_ReadInto does. false with the reason in *message (the scanner's
// own error in the operator's words) when nothing was entered.
bool WxVernier_ScanInto(int row, std::string* message);

// The desktop's one search for scanners, started by the first call of any of these (or by
// WxVernier_Install) on a thread of its own: whether it has ended, and the first scanner it
// found ("" when none, or not yet known). Dialog thread.
bool WxScanner_Looked();
std::string WxScanner_First();
