// SPDX-License-Identifier: Apache-2.0
// "Read scan..." of the console's bidirectional rows: a scan of a row's adjustment print read
// into that row's "加减:" entry. Every front end calls this; each shows the marked scan its
// own way.
#pragma once
#include <string>

#include "vernier/vernier.h"

constexpr int SCAN_ROW_COUNT = 6;

// The "加减:" entry of bidirectional row 0..5 (text high .. photo); 0 for any other row.
int ScanRow_Entry(int row);

struct ScanEntryResult {
    bool entered = false;  // the amount to add is in the row's entry
    std::string message;   // for the operator when nothing was entered
    bool marked = false;   // `picture` holds the scan with the groups marked
    VernierImage picture;
};

// Reads the scan at `scanPath` as the print of row `row` and, when the reading is certain,
// types the group to enter into the row's entry of the console's dialog; SAVE applies it as
// any typed amount. An uncertain reading, another mode's print or an unreadable file enters
// nothing and says why. Dialog thread.
ScanEntryResult Console_ReadScanInto(int row, const std::string& scanPath);

// Keeps a scanned picture as PNG in `folder` (the log folder, beside the trace files and the
// job records) as "Scan_<what>_<yyyymmdd>_<hhmmss>.png", never over an earlier file: a second
// scan in the same second becomes "..._2.png" (File_CreateUnique). `what` names the print:
// "M5" for a mode's print, "Sheet" for the calibration sheet. true with *kept the path written;
// false with *error naming the file and why.
bool Scan_KeepPicture(const VernierImage& image, const std::string& folder, const std::string& what,
                      std::string* kept, std::string* error);
