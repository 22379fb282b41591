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
