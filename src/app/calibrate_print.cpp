// SPDX-License-Identifier: Apache-2.0
// The calibration sheet's jobs: a mark, then the adjustment, for every mode and pass. Built with
// the console itself (a build without the picture reader still prints the sheet).
#include "app/calibrate_print.h"

#include <random>

#include "job/sheet_mark.h"

namespace {

struct FieldRow {
    const char* name;
    int offset;
};
// Job types 5..10: first pass, second pass (photo mode has one value for both).
const FieldRow BIDIR[6][2] = {
    {{"bidirTextHigh", 0x03}, {"bidirTextHighHd", 0x2a}},
    {{"bidirTextMid", 0x04}, {"bidirTextMidHd", 0x2b}},
    {{"bidirTextLow", 0x05}, {"bidirTextLowHd", 0x2c}},
    {{"bidirImageHigh", 0x1e}, {"bidirImageHighHd", 0x2d}},
    {{"bidirImageLow", 0x1f}, {"bidirImageLowHd", 0x2e}},
    {{"bidirPhoto", 0x20}, {"bidirPhoto", 0x20}},
};
// Job types 11..15.
const FieldRow STEPS[5] = {{"stepPass4", 0x0a},
                           {"stepPass6", 0x0c},
                           {"stepPass8", 0x0e},
                           {"stepPass3", 0x10},
                           {"stepPass2", 0x30}};
const char* const STEP_NAMES[5] = {"pass4", "pass6", "pass8", "pass3", "pass2"};

const FieldRow* fieldOf(int type, bool secondPass) {
    if (type >= 5 && type <= 10) return &BIDIR[type - 5][secondPass ? 1 : 0];
    if (type >= 11 && type <= 15) return &STEPS[type - 11];
    return nullptr;
}

}  // namespace

const char* Calibrate_Field(int jobType, bool secondPass) {
    const FieldRow* f = fieldOf(jobType, secondPass);
    return f ? f->name : nullptr;
}

int Calibrate_FieldOffset(int jobType, bool secondPass) {
    const FieldRow* f = fieldOf(jobType, secondPass);
    return f ? f->offset : -1;
}

int Calibrate_FeedType(const std::string& name) {
    for (int i = 0; i < 5; ++i)
        if (name == STEP_NAMES[i] || name == std::to_string(11 + i)) return 11 + i;
    return 0;
}

CalibratePrinted Calibrate_PrintSheet(bool secondPass, const CalibratePaper& paper) {
    CalibratePrinted out;
    std::random_device random;
    out.sheet = random() % MARK_SHEET_IDS;
    out.prints = secondPass ? 11 : 6;
    const int total = out.prints * 2;
    const bool box = Job_HdMode();
    int done = 0;
    bool ok = true;
    if (paper.begin) paper.begin();
    for (int pass = 0; pass < (secondPass ? 2 : 1) && ok; ++pass)
        for (int type = 5; type <= 10 && ok; ++type) {
            // Photo mode has one value for both passes: printed once.
            if (pass == 1 && type == 10) continue;
            Job_SetHdMode(false);
            Job_RunSheetMark(SheetMark{type, pass == 1, out.sheet});
            ok = Job_Succeeded(Job_LastOutcome());
            if (ok && paper.step && !paper.step(++done, total)) ok = false, out.cancelled = true;
            if (!ok) break;
            Job_SetHdMode(pass == 1);
            Job_RunAdjustment(static_cast<uint8_t>(type));
            ok = Job_Succeeded(Job_LastOutcome());
            if (ok && paper.step && !paper.step(++done, total)) ok = false, out.cancelled = true;
        }
    Job_SetHdMode(box);
    if (paper.end) out.picture = paper.end();
    out.outcome = Job_LastOutcome();
    out.ok = ok;
    return out;
}

CalibratePrinted Calibrate_PrintFeedSteps(const CalibratePaper& paper) {
    CalibratePrinted out;
    out.prints = 5;
    bool ok = true;
    if (paper.begin) paper.begin();
    for (int type = 11; type <= 15 && ok; ++type) {
        Job_RunAdjustment(static_cast<uint8_t>(type));
        ok = Job_Succeeded(Job_LastOutcome());
        if (ok && paper.step && !paper.step(type - 10, 5)) ok = false, out.cancelled = true;
    }
    if (paper.end) out.picture = paper.end();
    out.outcome = Job_LastOutcome();
    out.ok = ok;
    return out;
}
