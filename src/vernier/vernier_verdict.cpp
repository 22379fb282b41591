// SPDX-License-Identifier: Apache-2.0
// The verdict: where the prints meet, how sure that is, and whether it is certain.
#include <algorithm>
#include <cmath>
#include <cstdio>

#include "vernier/vernier_measure.h"

namespace reader {

namespace {

// Beyond this standard error the fit is not trusted to place the prints within a group.
constexpr double CERTAIN_SIGMA = 0.16;
// What no fit across the groups averages away, in picture pixels: the sampling phase of ticks a
// pixel or two wide, JPEG's smear, the bars' traced angle. Read against the scanner and photo
// simulators, the meeting point of parted ticks stays within a twelfth of a pixel of the
// paper's at every resolution, and of ticks blurred together within a sixth, near the middle group;
// a meeting point towards either end is extrapolated from the groups' offsets, and its
// systematic error grows to twice that at the outermost group.
constexpr double FLOOR_PX_PARTED = 0.04;
constexpr double FLOOR_PX_MERGED = 0.08;
// Below this shift per group (pixels) the prints are not resolved finely enough to be sure of
// a group whatever the fit says: 108 pixels per inch of paper for the 540-dpi prints, 144 for
// the 720-dpi ones, 288 for the 1440-dpi one.
constexpr double CERTAIN_STEP_PX = 0.4;
// Offsets in whole pixels: each is off by up to half a pixel, and where the groups' shift is a
// simple fraction of a pixel (a half, two fifths) the errors repeat every few groups instead of
// averaging out across them. Read against the printer's own picture reduced by whole-pixel
// averaging, the meeting point then strays by up to a quarter of a pixel near the middle group
// (twice that towards the ends). Where a group shifts the prints by a pixel or more the ticks
// stand a whole number of pixels apart on such a picture and are measured exactly.
constexpr double FLOOR_PX_WHOLE = 0.25;
constexpr double WHOLE_STEP_PX = 0.9;
// At the resolution limit and below it the ticks of neighbouring groups blur into each other
// and the meeting point strays by whole groups (the printer's picture of a 540-dpi print
// reduced to 108 pixels per inch and smoothed once): the spread says so.
constexpr double FLOOR_PX_UNRESOLVED = 0.3;
constexpr double UNRESOLVED_STEP_PX = 0.41;

}  // namespace

// geometryPx: the standard error (pixels) the lean correction leaves at the meeting point.
// geometryFits: whether the groups of both prints stand where one projective map of the sheet
// puts them; a picture whose geometry is in doubt is never read as certain.
void verdict(VernierReading* r, const Line& l, const FamilyShape& shape, double stepPx, bool merged,
             const std::function<double(double)>& geometryPx, bool geometryFits, bool wholePixels) {
    double k0 = -l.a / l.b;
    r->estimate = 10 - k0;
    double sk =
        l.sigma / std::fabs(l.b) * std::sqrt(1.0 / l.n + (k0 - l.kbar) * (k0 - l.kbar) / l.sxx);
    sk = std::hypot(sk, geometryPx(k0) / std::fabs(l.b));
    r->family = shape.family;
    // Offsets that scatter this much about their line are not a measurement.
    if (sk > 0.3) {
        r->sigma = sk;
        r->status = VERNIER_TOO_BLURRED;
        r->reason = std::string(TOO_BLURRED) + " (the groups' offsets scatter by " +
                    std::to_string(int(r->sigma * 100)) + "% of a group)";
        return;
    }
    // The fit's own error misses what is common to all groups (JPEG colour smear, a slightly
    // wrong angle): never claim better than a twelfth of a group, nor than the pixels allow.
    double floorPx = merged ? FLOOR_PX_MERGED : FLOOR_PX_PARTED;
    if (wholePixels && stepPx < WHOLE_STEP_PX) floorPx = FLOOR_PX_WHOLE;
    if (stepPx < UNRESOLVED_STEP_PX) floorPx = FLOOR_PX_UNRESOLVED;
    double towardsEnd = 1 + std::min(1.0, std::fabs(k0 - (VERNIER_GROUPS + 1) / 2.0) / 9);
    r->sigma = std::max(0.08, std::hypot(sk, floorPx * towardsEnd / stepPx));
    geometryFits = geometryFits && stepPx >= CERTAIN_STEP_PX;
    r->group = int(std::lround(r->estimate));
    double frac = r->estimate - r->group;
    r->neighbour = std::fabs(frac) > 0.25 ? r->group + (frac > 0 ? 1 : -1) : r->group;
    r->confidence = std::clamp(1 - (std::fabs(frac) + 2 * r->sigma) / 0.5, 0.0, 1.0);
    r->highConfidence = std::fabs(frac) + 3 * r->sigma < 0.5 && r->sigma < CERTAIN_SIGMA;
    r->halfway = r->neighbour != r->group;
    // Sure of the answer it gives: the whole spread inside the named group's half-width, or
    // for a half-way reading between the centres of its two groups. A spread that reaches
    // across a group centre and a half-way point at once could be either answer.
    double lo = r->estimate - 3 * r->sigma, hi = r->estimate + 3 * r->sigma;
    bool onGroup = lo > r->group - 0.5 && hi < r->group + 0.5;
    bool betweenTwo = r->halfway && lo >= std::min(r->group, r->neighbour) &&
                      hi <= std::max(r->group, r->neighbour);
    r->certain = r->sigma < CERTAIN_SIGMA && (onGroup || betweenTwo) && geometryFits;
    r->highConfidence = r->highConfidence && geometryFits;
    if (r->estimate > 9.5 || r->estimate < -9.5) {
        r->status = VERNIER_OUT_OF_RANGE;
        char text[120];
        std::snprintf(text, sizeof text,
                      "no group lines up: the prints meet at %+.1f groups, beyond \"%s\"",
                      r->estimate, r->estimate > 0 ? "09" : "-9");
        r->reason = text;
        r->highConfidence = false;
        r->certain = false;
        return;
    }
    r->status = VERNIER_READ;
}

}  // namespace reader

int Vernier_GroupToEnter(const VernierReading& reading) {
    if (!reading.halfway) return reading.group;
    return std::abs(reading.neighbour) < std::abs(reading.group) ? reading.neighbour
                                                                 : reading.group;
}
