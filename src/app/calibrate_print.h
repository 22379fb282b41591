// SPDX-License-Identifier: Apache-2.0
// The calibration sheet's jobs, part of the calibration sitting (app/calibrate_flow.h) that is
// built with the console itself: a build without the picture reader still prints the sheet.
// Dialog thread: each call runs its jobs to their end.
#pragma once
#include <cstdint>
#include <functional>
#include <string>

#include "job/print_job.h"

// ---- The sheet's fields ------------------------------------------------------------------

// The record field whose "加减:" entry takes the correction of job type 5..10 (second pass:
// its "高清二次" value; photo mode has one value for both), or whose "设为:" entry takes the
// feed step of job type 11..15; nullptr for other types.
const char* Calibrate_Field(int jobType, bool secondPass);
// The record offset of that field (bidirectional: one byte; feed step: a 16-bit word); -1 for
// other types.
int Calibrate_FieldOffset(int jobType, bool secondPass);
// What the console's entries let a field hold: 0 .. 255 for a bidirectional value, 1 .. 65535
// for a feed step.
constexpr long CALIBRATE_BIDIR_MIN = 0, CALIBRATE_BIDIR_MAX = 255;

// "pass4" .. "pass2" or "11" .. "15" to the feed-step job type; 0 for anything else.
int Calibrate_FeedType(const std::string& name);

// ---- Printing ----------------------------------------------------------------------------

// What the front end does around the sheet's jobs. All may be empty.
struct CalibratePaper {
    // Before the first job and after the last: the virtual printer collects the jobs' paper
    // into one picture and `end` gives its path ("" where there is no such picture).
    std::function<void()> begin;
    std::function<std::string()> end;
    // After each job (mark or adjustment) that ran to its end: jobs done and of the sheet. A
    // false return stops the sheet there (the operator cancelled); the result is then not ok.
    std::function<bool(int done, int total)> step;
};

struct CalibratePrinted {
    bool ok = false;         // every job ran to its end
    uint32_t sheet = 0;      // the sheet's number, carried by every mark
    int prints = 0;          // adjustments on the sheet: 6, or 11 with the second pass
    std::string picture;     // the paper's picture (virtual printer), empty elsewhere
    JobOutcome outcome;      // the last job's outcome (the failed one when not ok)
    bool cancelled = false;  // `step` stopped it
};

// Prints the calibration sheet: for each mode 5..10 (and with `secondPass` 5..9 again for the
// second-pass values) its mark, then its adjustment job as it stands. The same sheet serves as
// the verification sheet after a SAVE. The console's second-pass box is left off afterwards.
// Blocks for the whole sheet.
CalibratePrinted Calibrate_PrintSheet(bool secondPass, const CalibratePaper& paper);
// The five feed-step prints (pass4, pass6, pass8, pass3, pass2) one after another, each
// feeding a metre between its two crosses; `prints` is 5.
CalibratePrinted Calibrate_PrintFeedSteps(const CalibratePaper& paper);
