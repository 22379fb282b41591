// SPDX-License-Identifier: Apache-2.0
// The pattern families a vernier can come from: one table of their shapes, one tolerance, and
// the names the operator reads.
#include <cmath>
#include <cstdio>

#include "vernier/vernier_internal.h"

namespace {

// Pitch over bar distance: both are printed by one head, the pitch in dots of the print's
// resolution, the bars 35 rows of the head (1/180 inch) apart.
constexpr double BARS_INCH = 35.0 / 180;

const FamilyShape FAMILIES[] = {
    {FAMILY_ADJUST_540, (100.0 / 540) / BARS_INCH, 2.0 / 100, "bidirectional adjustment, 540 dpi"},
    {FAMILY_ADJUST_720, (100.0 / 720) / BARS_INCH, 2.0 / 100, "bidirectional adjustment, 720 dpi"},
    {FAMILY_ADJUST_1440, (100.0 / 1440) / BARS_INCH, 2.0 / 100,
     "bidirectional adjustment, 1440 dpi"},
    {FAMILY_PATTERN_200, (200.0 / 720) / BARS_INCH, 1.0 / 200,
     "calibration pattern, 200-dot groups"},
    {FAMILY_PATTERN_300, (300.0 / 720) / BARS_INCH, 1.0 / 300,
     "calibration pattern, 300-dot groups"},
};

double off(double pitchOverBars, const FamilyShape& f) {
    return std::fabs(pitchOverBars / f.pitchOverBars - 1);
}

}  // namespace

const FamilyShape* Vernier_FamilyOf(double pitchOverBars) {
    const FamilyShape* best = nullptr;
    for (const FamilyShape& f : FAMILIES)
        if (off(pitchOverBars, f) < VERNIER_FAMILY_TOLERANCE &&
            (!best || off(pitchOverBars, f) < off(pitchOverBars, *best)))
            best = &f;
    return best;
}

bool Vernier_FamilyAlone(const FamilyShape& shape, double pitchOverBars, double spread) {
    for (const FamilyShape& f : FAMILIES)
        if (f.family != shape.family && off(pitchOverBars, f) < 2 * spread) return false;
    return off(pitchOverBars, shape) < 2 * spread;
}

const char* Vernier_FamilyName(VernierFamily family) {
    for (const FamilyShape& f : FAMILIES)
        if (f.family == family) return f.name;
    return "unknown";
}

std::string Vernier_ModesOf(VernierFamily family) {
    switch (family) {
        case FAMILY_ADJUST_540:
            return "mode 5, 6 or 7";
        case FAMILY_ADJUST_720:
            return "mode 8 or 9";
        case FAMILY_ADJUST_1440:
            return "mode 10";
        default:
            return "a calibration pattern";
    }
}

VernierFamily Vernier_FamilyOfAdjustment(int jobType) {
    if (jobType >= 5 && jobType <= 7) return FAMILY_ADJUST_540;
    if (jobType == 8 || jobType == 9) return FAMILY_ADJUST_720;
    if (jobType == 10) return FAMILY_ADJUST_1440;
    return FAMILY_UNKNOWN;
}

std::string Vernier_LabelText(int label) {
    char text[16];
    std::snprintf(text, sizeof text, "%02d", label);
    return text;
}
