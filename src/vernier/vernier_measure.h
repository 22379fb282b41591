// SPDX-License-Identifier: Apache-2.0
// The measuring step's shared pieces: the print's rows, the tick geometry, a band's profile
// along the bars, the group map, lines and the lean, and the rooms' entry points.
#pragma once
#include <functional>
#include <vector>

#include "vernier/vernier_internal.h"

namespace reader {

// Rows of the print head (1/180 inch) from the upper bar: the upper print's ticks hang from it
// over rows 0..19, the lower print's rise over rows 15..34 to the lower bar at row 35.
constexpr double BAR_ROWS = 35;
constexpr double UPPER_BAND[2] = {3, 13};
constexpr double LOWER_BAND[2] = {21, 32};
constexpr double LABEL_BAND[2] = {-25, -4};
// A print's three ticks in a group stand a tick spacing apart from where its bar's dash starts,
// so they span twice that; the rest of the pitch is the gap to the next group.
constexpr double TICK_SPACING = 0.4;  // of a pitch
constexpr double TICKS_SPAN = 2 * TICK_SPACING;
// Blank paper before the first group and after the last, in pitches, where noise is measured.
constexpr double QUIET = 0.8;

// Ink averaged across a band of v, every pixel along u from u0.
struct Profile {
    double u0 = 0;
    std::vector<float> p;
    double noise = 1;
    float at(double u) const {
        double i = u - u0;
        if (i < 0 || i >= double(p.size()) - 1) return 0;
        size_t k = size_t(i);
        double f = i - double(k);
        return float(p[k] * (1 - f) + p[k + 1] * f);
    }
};

// The two bars as traced across the frame: the height v of the upper and the lower bar along
// u. A photo at a slant draws them converging; a height between them is counted in rows of the
// print head between the two at each u, so the bands stay on the ticks along the whole pattern.
struct Rails {
    double t0 = 0, ts = 0, b0 = 0, bs = 0;
    double rowPx(double u) const { return ((b0 + bs * u) - (t0 + ts * u)) / BAR_ROWS; }
    double v(double u, double row) const { return t0 + ts * u + row * rowPx(u); }
};

// Where profiles are taken: the ink along the straightened frame, in rows of the head between
// the rails, every pixel along u from u0 to u1; pitch sets the blank ends the noise is taken from.
struct Bands {
    const InkMap& ink;
    const Frame& frame;
    const Rails& rails;
    double u0 = 0, u1 = 0, pitch = 0;
    // Ink averaged across rows row0..row1 of the head. Where the ticks lean (leanAt0 + leanSlope
    // * u pixels across per pixel down), the rows are taken along them about the band's middle,
    // so a leaning tick stays as sharp as a standing one.
    Profile profile(double row0, double row1, double leanAt0 = 0, double leanSlope = 0) const;
};

// One group of the upper print as a whole, for matching against the lower print where blur
// has merged its ticks too far for ticks() to find them one by one: the three together still
// carry the group's position, so a shift of a fifth of a pixel shows in how well they overlap.
struct Comb {
    std::vector<double> us, a, w;
    double sw = 0, va = 0;
};

// Where the groups of one print stand along u. A flat sheet seen through a pinhole camera maps
// the paper's evenly spaced groups onto the picture by a one-dimensional projective map
// u(k) = (a + b k) / (1 + c k): a photo taken at a slant foreshortens the pattern towards one
// end, so the pitch changes along it (by a tenth at 20 degrees), and equally spaced windows
// would slide off the far groups. The map also gives the local pitch, the scale the offsets
// are measured in.
struct GroupMap {
    double a = 0, b = 0, c = 0;
    double rms = 0;  // the centres' scatter about the map, pixels
    int n = 0;
    static double k(int group) { return group - (VERNIER_GROUPS - 1) / 2.0; }
    double at(int group) const { return atK(k(group)); }
    double pitch(int group) const { return pitchK(k(group)); }
    double atK(double x) const { return (a + b * x) / (1 + c * x); }
    double pitchK(double x) const {
        double d = 1 + c * x;
        return (b - a * c) / (d * d);
    }
};

struct Line {
    double a = 0, b = 0, sigma = 0, kbar = 0, sxx = 0;
    int n = 0;
};

// The ticks stand across the bars on the paper, but a photo taken at a slant leans them, and
// leans them differently along the pattern (the verticals of a tilted sheet meet at a vanishing
// point). The two prints' ticks are measured in bands 18.5 rows apart, so a lean would read as
// an offset growing along the pattern. Each print's own ticks show the lean: measured near the
// top and the bottom of their stretch, fitted as a line along u (exact for a flat sheet under
// a pinhole camera), and the offsets are corrected by it.
struct Lean {
    Line line;  // lean (pixels across per pixel down) against u
    bool known = false;
    bool merged = false;  // measured over stretches: the ticks were too close to part
    double at(double u) const { return known ? line.a + line.b * u : 0; }
    // Standard error of the lean at u.
    double error(double u) const {
        if (!known) return 0;
        return line.sigma * std::sqrt(1.0 / line.n + (u - line.kbar) * (u - line.kbar) / line.sxx);
    }
};

// Two rows clear of the rows both prints' ticks share (15..19): blurred, the other print's
// ticks beside them would pull the lower band's ticks towards them, more the further the
// prints stand apart, and read as a lean along the pattern.
constexpr double UPPER_LEAN[2][2] = {{2, 7}, {8, 13}};
constexpr double LOWER_LEAN[2][2] = {{21, 26}, {28, 33}};
// Between the centres of the bands the offsets are measured in.
constexpr double BAND_DISTANCE =
    (LOWER_BAND[0] + LOWER_BAND[1]) / 2 - (UPPER_BAND[0] + UPPER_BAND[1]) / 2;

// What an operator can do about a picture too blurred to measure.
// The reason leads with it; what was seen follows in brackets.
constexpr const char* TOO_BLURRED = "too blurred: hold the phone still, closer, or scan at 300 dpi";

// Ticks and combs (vernier_ticks.cpp).
// The three ticks of one print of one group whose bar was seen from s over len. The ticks
// stand at 0, 0.4 and 0.8 of a pitch from the bar's start; blur widens the bar seen on both
// sides alike, so its centre is the better guide. The three are looked for together, as a
// comb, so that a neighbouring group's tick is not taken for one of them.
bool ticks(const Profile& pr, double s, double len, double pitch, double out[3]);
// half: how far the comb reaches either side of its centre (half a pitch: one group).
bool comb(const Profile& up, double centre, double half, Comb* c);
// The best overlap within reach of dl, to a fraction of a pixel; false when the best is weak
// or at the edge of the reach.
bool bestOverlap(const Comb& c, const Profile& low, double dl, double reach, double* shift);
// Groups measured as whole combs. Each group alone could match a neighbouring tick, so the
// meeting point is first found for all groups together, with the shift per group the vernier
// is drawn with; each group is then measured near where that puts it.
void measureCombs(const Profile& up, const Profile& low, const std::vector<VernierGroup>& groups,
                  double length, double pitch, double step, std::vector<double>* ks,
                  std::vector<double>* ds);
// The centre of one group's three ticks in a print's band near guess. The three are looked for
// together as a comb scored by its weakest tooth, so that two ticks of this group and one of a
// neighbour's never pass for a group; then each tick is centred where ticks() can part them,
// else (blurred together) the comb's peak is taken: it is symmetric about the centre, so blur
// does not move it.
bool groupCentre(const Profile& pr, double guess, double pitch, double* centre);

// The group map (vernier_groupmap.cpp).
// The map of one print from its ticks. firstCentre and pitch: the evenly spaced guess of the
// bars as found; where the print's bar shows all its gaps, they guide the search instead, as
// they follow the paper's foreshortening where even spacing slides off the far groups.
bool mapGroups(const Profile& pr, const Profile& bar, double firstCentre, double pitch,
               GroupMap* m);

// Geometry: lines, the bars, the lean, labels, quarter turns (vernier_geometry.cpp).
Line fitLine(const std::vector<double>& k, const std::vector<double>& d,
             const std::vector<bool>& use);
// Height of a bar across v at each of its dashes, looked for about v + vSlope * u, fitted as a
// line along u.
bool barLine(const InkMap& ink, const Frame& fr, const DashRow& row, double v, double rowPx,
             double* slope, double* at0, double vSlope = 0);
// Turns the frame so that u runs along the bars (between them, where they converge); returns
// the two bars' lines in it.
bool straighten(const InkMap& ink, BarPair* pair, Rails* bars);
// starts and pitches: each group's start and local pitch, upper print then lower.
// The lean is measured two ways. Each tick found near the top and near the bottom of its
// print's stretch gives its own lean; a stretch of three groups, its ink near the top matched
// against the same stretch near the bottom, gives one for nine ticks at once, and still
// matches where blur has merged each group's ticks (a 1440-dpi print in a phone photo) and
// ticks cannot be found one by one. Single ticks are not disturbed by the other print's ticks
// beside them, so they are kept unless the ticks are too close to part.
Lean measureLean(const Bands& src, const std::vector<double> starts[2],
                 const std::vector<double> pitches[2]);
// Mean ink of the label band over [s, s + len] along u; mirrored: of the band as far below the
// lower bar as the labels stand above the upper one.
double labelInk(const InkMap& ink, const Frame& fr, const Rails& rails, double s, double len,
                bool mirrored = false);
// The ink map turned by quarter turns clockwise, and where its pixels lie on the picture.
InkMap turned(const InkMap& ink, int quarters);
void backToPicture(const InkMap& ink, int quarters, double* x, double* y);

// The verdict (vernier_verdict.cpp).
// geometryPx: the standard error (pixels) the lean correction leaves at the meeting point.
// geometryFits: whether the groups of both prints stand where one projective map of the sheet
// puts them; a picture whose geometry is in doubt is never read as certain.
// wholePixels: the offsets came out in whole pixels, so each is only known to a pixel.
void verdict(VernierReading* r, const Line& l, const FamilyShape& shape, double stepPx, bool merged,
             const std::function<double(double)>& geometryPx, bool geometryFits,
             bool wholePixels = false);

}  // namespace reader
