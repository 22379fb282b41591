// SPDX-License-Identifier: Apache-2.0
// Shared between the reader's two halves: the ink map, the rotated frame, and the bar pairs the
// locator hands to the measuring step.
#pragma once
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "vernier/vernier.h"

// How much ink covers each pixel (0 white paper .. 255 full ink), whatever the ink's colour.
struct InkMap {
    uint32_t w = 0, h = 0;
    std::vector<float> v;
    float at(int x, int y) const { return v[size_t(y) * w + size_t(x)]; }
    // Bilinear; 0 outside the picture.
    float sample(double x, double y) const;
};

// Coordinates along the bars (u) and across them (v, downwards) in picture pixels.
struct Frame {
    double ox = 0, oy = 0;  // picture position of u = 0, v = 0
    double cs = 1, sn = 0;  // cos and sin of the bars' angle
    double x(double u, double v) const { return ox + u * cs - v * sn; }
    double y(double u, double v) const { return oy + u * sn + v * cs; }
};

// A row of equally spaced dashes along u at height v.
struct DashRow {
    double v = 0;
    double start = 0;  // u of the first dash's start
    double pitch = 0;
    double length = 0;  // mean dash length
    int count = 0;
    double strength = 0;
    std::vector<std::pair<double, double>> runs;  // every run of ink along the row (start, end)
};

// Two dash rows that could be the two bars of one vernier, in full-picture pixels, in a frame
// whose u axis runs along the bars.
struct BarPair {
    Frame frame;
    DashRow top, bottom;
};

constexpr int VERNIER_GROUPS = 19;

// What tells the pattern families apart: the group pitch over the bar distance, and the
// designed shift per group over the pitch.
struct FamilyShape {
    VernierFamily family;
    double pitchOverBars;
    double stepOverPitch;
    const char* name;
};
// A photo at a slant foreshortens the bars' distance and the pitch unequally: tilted 15 degrees
// about both axes, their ratio moves by up to a seventh. The adjustment families lie a third
// apart, and a family taken for its neighbour still reads the same group (they shift alike per
// group), so the nearest family within a fifth is taken; whether it is sure is told by the
// spread of the ratio measured (Vernier_FamilyAlone).
constexpr double VERNIER_FAMILY_TOLERANCE = 0.2;
// The family whose pitch over bar distance is nearest the one given, within the tolerance.
const FamilyShape* Vernier_FamilyOf(double pitchOverBars);
// Whether shape is the only family within two spreads (relative) of the ratio measured.
bool Vernier_FamilyAlone(const FamilyShape& shape, double pitchOverBars, double spread);
// The modes whose adjustment prints are of a family, as the operator knows them ("mode 8 or 9").
std::string Vernier_ModesOf(VernierFamily family);

// Ink map of the whole picture (paper level taken from the picture itself).
InkMap Vernier_InkMap(const VernierImage& image);
// Candidate bar pairs, best first, with the number of dashes of the longest row seen (for the
// reason when none qualifies), on the ink map turned by quarter turns clockwise (as
// turned() turns it; the pairs are in the turned map's pixels).
// cutSide: where dashed rows like a vernier's bars run into the picture's edge ("left",
// "right", "top", "bottom"), or empty; for the reason when no vernier is found.
// The bars' angle is looked for at the sharpest angles of the ink, best first, and the pairs of
// the first that shows any are returned. nextAngle (optional): in, the first of those angles
// to look at; out, the one after the angle the pairs came from (another pattern beside the
// print can be sharper at an angle of its own and show pairs that measure as no vernier: the
// caller then looks again from there), or past the last.
std::vector<BarPair> Vernier_LocateBars(const InkMap& ink, int quarters, int* longestRow,
                                        double* angleDeg, std::string* cutSide = nullptr,
                                        int* nextAngle = nullptr);
