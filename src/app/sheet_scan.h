// SPDX-License-Identifier: Apache-2.0
// Reading a whole calibration sheet from one scan or photo: every print found by its mark,
// named by the mark (never by its place on the sheet), read with the reader's own certainty.
#pragma once
#include <string>
#include <vector>

#include "job/sheet_mark.h"
#include "vernier/vernier.h"

enum SheetVerdict : uint8_t {
    SHEET_CERTAIN = 0,  // read, and certain: its amount may be entered
    SHEET_UNCERTAIN,    // read, but the spread reaches another group
    SHEET_UNREAD,       // its mark is there, the print could not be read
    SHEET_MISSING,      // no mark of this mode and pass on the sheet
    SHEET_FOREIGN,      // a print of another sheet (its mark names another sheet)
    SHEET_CONFLICT,     // marks of this sheet contradicting each other or their prints
};

struct SheetPrint {
    SheetMark mark;
    SheetVerdict verdict = SHEET_MISSING;
    VernierReading reading;
    int amount = 0;               // the group to enter (certain and uncertain readings)
    std::string reason;           // why it was not read, or why it cannot be entered
    std::string advice;           // what the operator can do about it
    double markX = 0, markY = 0;  // the mark's anchor on the picture (pixels)
    // The corners of the part of the picture read for the print (pixels), for the marked copy.
    double region[4][2] = {};
};

struct SheetScan {
    bool marksFound = false;     // at least one mark of a sheet was decoded
    std::string error;           // why nothing could be read (no mark at all)
    uint32_t sheet = 0;          // the sheet number most marks carry
    bool hd = false;             // the sheet carries second-pass prints
    bool contradictory = false;  // nothing may be entered from this sheet
    std::string contradiction;
    // One row per print the sheet should carry (types 5..10, then with hd 5..9 second pass),
    // then the prints of other sheets found on it.
    std::vector<SheetPrint> prints;
};

// Every mark on the picture, in no particular order (for tests and the marked copy).
struct SheetMarkFound {
    SheetMark mark;
    double x = 0, y = 0;    // anchor centre, picture pixels
    double ux = 0, uy = 0;  // one cell along the mark as it reads, picture pixels
};
std::vector<SheetMarkFound> Sheet_FindMarks(const VernierImage& image);

SheetScan Sheet_Read(const VernierImage& image);
// The picture with each mark boxed and each print's groups marked as the reader marks them,
// the region read outlined (green certain, orange uncertain, red not read).
void Sheet_MarkPicture(VernierImage* image, const SheetScan& scan);
// One line for the result table's "what to do" of a verdict.
const char* Sheet_VerdictName(SheetVerdict verdict);
