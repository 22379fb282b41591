// SPDX-License-Identifier: Apache-2.0
// The reader's way in: every pair of bars found measured (straightened, each group's ticks in
// both prints, the offsets fitted across the groups), every quarter turn tried.
#include <algorithm>
#include <cmath>
#include <functional>
#include <numbers>
#include <string>

#include "vernier/vernier_measure.h"

using namespace reader;

namespace {

// What measuring one pair of bars works on, step by step.
struct Measuring {
    Measuring(const InkMap& map, const BarPair& bars) : ink(map), pair(bars) {}
    const InkMap& ink;
    BarPair pair;
    double vt = 0, vb = 0;  // the bars' heights in the straightened frame mid-pattern
    double pitch = 0;       // group pitch of the bars as found
    double u0 = 0, u1 = 0;  // the stretch of u the profiles cover
    const FamilyShape* shape = nullptr;
    Rails rails;
    Profile up, low;  // the two prints' tick bands
    // Each print's groups where the paper puts them (upper print, then lower) and the local
    // pitch; the map of each and whether both could be mapped.
    std::vector<double> starts[2], pitches[2];
    GroupMap maps[2];
    bool mapped = true;
    double midPitch = 0;  // the pitch at the middle of the pattern: the offsets' scale
    Lean lean;
    bool merged = false;         // offsets or lean from ticks blurred together
    int whole = 0;               // offsets within a tenth of a pixel of a whole or half pixel
    int labels = 0;              // groups with a label's ink beside them
    std::vector<double> ks, ds;  // group number (1..19) and its offset, pixels at midPitch
    std::vector<bool> use;

    Bands bands() const { return Bands{ink, pair.frame, rails, u0, u1, pitch}; }
    // A group where the picture is foreshortened shows its offset smaller by as much as its pitch.
    double scaleAt(int i) const {
        return midPitch * 2 / (pitches[0][size_t(i)] + pitches[1][size_t(i)]);
    }
    // The offset a lean alone would show between the two bands, at a group's ticks.
    double leanOffset(double u) const { return lean.at(u) * BAND_DISTANCE * rails.rowPx(u); }
    // Where group i's ticks meet, along u.
    double tickU(int i) const {
        return starts[0][size_t(i)] + TICK_SPACING * pitches[0][size_t(i)];
    }
};

struct Measured {
    VernierReading reading;
    bool located = false;
};

// The frame turned along the bars, the family from their pitch and distance, and the bars
// traced once more in it: where they converge, so do the bands.
bool traceBars(Measuring& m, VernierReading* r) {
    Rails bars;
    if (!straighten(m.ink, &m.pair, &bars)) {
        r->reason =
            "pattern not found: the bars could not be traced: lay the print flat and light it "
            "evenly";
        return false;
    }
    // The bars' distance where the pattern's middle is: a close-up at a slant draws it larger at
    // the near end than the far by as much as it does the pitch.
    const DashRow &top = m.pair.top, &bottom = m.pair.bottom;
    const double uMid = top.start + top.count * top.pitch / 2;
    m.vt = bars.v(uMid, 0);
    m.vb = bars.v(uMid, BAR_ROWS);
    double rowPx = bars.rowPx(uMid);
    m.pitch = top.pitch;
    m.shape = Vernier_FamilyOf(m.pitch / (m.vb - m.vt));
    if (!m.shape) {
        r->reason = "pattern not found: dashed bars, but not spaced like a vernier";
        return false;
    }
    // The paper's noise is taken from the pitch beyond either end; a photo at a slant stretches
    // the far end of the pattern by up to a third of a pitch beyond where even spacing puts it.
    m.u0 = std::min(top.start, bottom.start) - 2 * m.pitch;
    m.u1 = std::max(top.start, bottom.start) + (top.count + 2) * m.pitch;
    m.rails = bars;
    double st = 0, ct = 0, sb = 0, cb = 0;
    if (barLine(m.ink, m.pair.frame, top, bars.t0, rowPx, &st, &ct, bars.ts) &&
        barLine(m.ink, m.pair.frame, bottom, bars.b0, rowPx, &sb, &cb, bars.bs) &&
        cb + sb * uMid > ct + st * uMid)
        m.rails = Rails{ct, st, cb, sb};
    return true;
}

// Each print's groups where the paper puts them, and the local pitch. Where a print's groups
// cannot be mapped (blurred shut, partly covered) they stay evenly spaced as the bars were found.
void mapPrints(Measuring& m) {
    Bands bands = m.bands();
    m.up = bands.profile(UPPER_BAND[0], UPPER_BAND[1]);
    m.low = bands.profile(LOWER_BAND[0], LOWER_BAND[1]);
    for (int print = 0; print < 2; ++print) {
        const DashRow& row = print == 0 ? m.pair.top : m.pair.bottom;
        double barRow = print == 0 ? 0 : BAR_ROWS;
        Profile bar = bands.profile(barRow - 0.5, barRow + 0.5);
        GroupMap& map = m.maps[print];
        bool ok =
            mapGroups(print == 0 ? m.up : m.low, bar, row.start + row.length / 2, row.pitch, &map);
        m.mapped = m.mapped && ok;
        // A flat scan shows no foreshortening; there the evenly spaced groups of the bars are
        // the steadier guide, and the map only vouches for the geometry.
        ok = ok && std::fabs(map.c) * (VERNIER_GROUPS - 1) / 2 > 0.01;
        for (int i = 0; i < VERNIER_GROUPS; ++i) {
            double p = ok ? map.pitch(i) : row.pitch;
            m.starts[print].push_back(ok ? map.at(i) - TICK_SPACING * p
                                         : row.start + i * row.pitch +
                                               (row.length - TICKS_SPAN * row.pitch) / 2);
            m.pitches[print].push_back(p);
        }
    }
    m.midPitch = (m.pitches[0][VERNIER_GROUPS / 2] + m.pitches[1][VERNIER_GROUPS / 2]) / 2;
}

// The calibration patterns shift by a two-hundredth of a pitch per group: a lean measured on
// their ticks is not fine enough to correct them, and they are read from flat scans. Where the
// ticks lean, the bands are taken again along them.
void correctLean(Measuring& m) {
    VernierFamily f = m.shape->family;
    if (f != FAMILY_ADJUST_540 && f != FAMILY_ADJUST_720 && f != FAMILY_ADJUST_1440) return;
    m.lean = measureLean(m.bands(), m.starts, m.pitches);
    m.merged = m.lean.merged;
    if (!m.lean.known) return;
    Bands bands = m.bands();
    m.up = bands.profile(UPPER_BAND[0], UPPER_BAND[1], m.lean.line.a, m.lean.line.b);
    m.low = bands.profile(LOWER_BAND[0], LOWER_BAND[1], m.lean.line.a, m.lean.line.b);
}

// Every group's three ticks in both prints, its offset, and whether a label stands beside it.
void measureGroups(Measuring& m, VernierReading* r) {
    const Frame& fr = m.pair.frame;
    // Blank paper beyond either end, where the groups' map puts them (a photo at a slant
    // stretches one end beyond where even spacing does); the quieter of the two, as a label
    // or a rule may stand beside one end.
    const int last = VERNIER_GROUPS - 1;
    double white = std::min(
        labelInk(m.ink, fr, m.rails, m.starts[0][0] - 2 * m.pitches[0][0], m.pitches[0][0]),
        labelInk(m.ink, fr, m.rails, m.starts[0][last] + 1.2 * m.pitches[0][last],
                 m.pitches[0][last]));
    for (int i = 0; i < VERNIER_GROUPS && i < m.pair.top.count && i < m.pair.bottom.count; ++i) {
        VernierGroup g;
        g.label = 9 - i;
        double st = m.starts[0][size_t(i)], sb = m.starts[1][size_t(i)],
               pt = m.pitches[0][size_t(i)], pb = m.pitches[1][size_t(i)], at = m.tickU(i);
        g.u = st;
        g.x = fr.x(at, m.rails.v(at, 17));
        g.y = fr.y(at, m.rails.v(at, 17));
        // A label has ink beside its group on its own side only: a shadow over the print
        // darkens both sides alike, and the print seen upside down has its labels on the other.
        double label = labelInk(m.ink, fr, m.rails, st, TICKS_SPAN * pt),
               mirror = labelInk(m.ink, fr, m.rails, st, TICKS_SPAN * pt, true);
        if (label > white + 3 + m.up.noise && label > mirror + 3 + m.up.noise) ++m.labels;
        double t[3], b[3];
        if (ticks(m.up, st, TICKS_SPAN * pt, pt, t) && ticks(m.low, sb, TICKS_SPAN * pb, pb, b)) {
            g.measured = true;
            double offset = ((b[0] - t[0]) + (b[1] - t[1]) + (b[2] - t[2])) / 3;
            if (std::fabs(2 * offset - std::round(2 * offset)) < 0.2) ++m.whole;
            g.offsetPx = (offset - m.leanOffset(at)) * m.scaleAt(i);
            m.ks.push_back(i + 1);
            m.ds.push_back(g.offsetPx);
            m.use.push_back(true);
        }
        r->groups.push_back(g);
    }
}

// Where too few groups' ticks could be parted, the groups are matched as whole combs.
void measureMerged(Measuring& m, VernierReading* r) {
    m.merged = true;
    m.ks.clear(), m.ds.clear();
    measureCombs(m.up, m.low, r->groups, TICKS_SPAN * m.pitch, m.pitch,
                 m.shape->stepOverPitch * m.pitch, &m.ks, &m.ds);
    for (size_t j = 0; j < m.ks.size(); ++j) {
        int i = int(m.ks[j]) - 1;
        m.ds[j] = (m.ds[j] - m.leanOffset(m.tickU(i))) * m.scaleAt(i);
    }
    m.use.assign(m.ks.size(), true);
    for (VernierGroup& g : r->groups) g.measured = false;
    for (size_t j = 0; j < m.ks.size(); ++j) {
        VernierGroup& g = r->groups[size_t(m.ks[j]) - 1];
        g.measured = true;
        g.offsetPx = m.ds[j];
    }
}

// The offsets' line across the groups, rid of groups far off it; false (with the reason) when
// the offsets do not shift as the family's vernier is drawn.
bool fitOffsets(Measuring& m, VernierReading* r, Line* line) {
    Line l = fitLine(m.ks, m.ds, m.use);
    for (size_t i = 0; i < m.ks.size(); ++i)
        if (std::fabs(m.ds[i] - l.a - l.b * m.ks[i]) > std::max(4 * l.sigma, 0.15 * std::fabs(l.b)))
            m.use[i] = false;
    l = fitLine(m.ks, m.ds, m.use);
    for (size_t i = 0, j = 0; i < r->groups.size(); ++i)
        if (r->groups[i].measured && !m.use[j++]) r->groups[i].measured = false;
    double step = std::fabs(l.b) / m.pitch, designed = m.shape->stepOverPitch;
    *line = l;
    if (l.n >= VERNIER_GROUPS / 2 && step >= 0.6 * designed && step <= 1.5 * designed) return true;
    r->status = l.sigma > 0.3 * std::fabs(l.b) ? VERNIER_TOO_BLURRED : VERNIER_NOT_FOUND;
    r->reason = r->status == VERNIER_TOO_BLURRED
                    ? std::string(TOO_BLURRED) + " (the offsets do not follow the groups)"
                    : "pattern not found: the groups do not shift like a vernier's";
    return false;
}

// The family of a print is known from its pitch over its bars' distance, measured at the
// middle of the pattern after the projective correction; a photo at a slant still draws the
// two directions unequally, by about as much as the pitch changes along the pattern and the
// bars converge (a few hundredths at 15 degrees), plus three hundredths for what the
// correction leaves.
bool familyIsSure(const Measuring& m, VernierReading* r) {
    double uMid = m.tickU(VERNIER_GROUPS / 2), rowPx = m.rails.rowPx(uMid);
    double half = (VERNIER_GROUPS - 1) / 2.0;
    r->familyRatio = m.midPitch / (BAR_ROWS * rowPx);
    double converge = std::fabs(m.rails.bs - m.rails.ts) * half * m.midPitch / (BAR_ROWS * rowPx);
    double foreshorten = std::max(std::fabs(m.maps[0].c), std::fabs(m.maps[1].c)) * half;
    r->familySpread = 0.03 + converge + foreshorten;
    return Vernier_FamilyAlone(*m.shape, r->familyRatio, r->familySpread);
}

// Ticks too close to part give the lean to about a hundredth at best (turned a few degrees, a
// flat scan shows that much), which moves the 1440-dpi print's reading by most of a group:
// such a reading is never certain, whatever its spread. Nor is one whose groups do not stand
// where one projective map of the sheet puts them, or whose family is in doubt.
void judge(const Measuring& m, const Line& l, VernierReading* r) {
    bool geometryFits = m.mapped && std::max(m.maps[0].rms, m.maps[1].rms) < 0.05 * m.midPitch &&
                        !m.lean.merged && familyIsSure(m, r);
    double firstU = m.tickU(0);
    auto geometryPx = [&](double k) {
        double u = firstU + (k - 1) * m.pitch;
        return m.lean.error(u) * BAND_DISTANCE * m.rails.rowPx(u);
    };
    // Ticks narrower than a pixel on a sharp picture square to the pixels (a scan reduced by
    // averaging whole pixels) fall each into one pixel, or half into two: their offsets come
    // out in whole and half pixels (two in five by chance otherwise), and the groups no longer
    // dither the pixel grid finely where a group's shift is a simple fraction of a pixel.
    bool whole = !m.merged && m.whole >= 0.8 * double(m.ks.size());
    verdict(r, l, *m.shape, m.shape->stepOverPitch * m.midPitch, m.merged, geometryPx, geometryFits,
            whole);
}

Measured measure(const InkMap& ink, const BarPair& pair) {
    Measured out;
    VernierReading& r = out.reading;
    Measuring m(ink, pair);
    if (!traceBars(m, &r)) return out;
    mapPrints(m);
    correctLean(m);
    measureGroups(m, &r);
    r.pitchPx = m.pitch;
    r.barDistancePx = m.vb - m.vt;
    r.angleDeg = std::atan2(m.pair.frame.sn, m.pair.frame.cs) * 180 / std::numbers::pi;
    if (m.labels < VERNIER_GROUPS / 2) {
        r.reason =
            "pattern not found: bars like a vernier's, but without group labels under the "
            "groups: place the adjustment print itself in the picture";
        return out;
    }
    out.located = true;
    if (int(m.ks.size()) < VERNIER_GROUPS / 2) measureMerged(m, &r);
    if (int(m.ks.size()) < VERNIER_GROUPS / 2) {
        r.status = VERNIER_TOO_BLURRED;
        r.reason = std::string(TOO_BLURRED) + " (the ticks of only " + std::to_string(m.ks.size()) +
                   " of 19 groups can be told apart)";
        return out;
    }
    Line l;
    if (!fitOffsets(m, &r, &l)) {
        out.located = r.status == VERNIER_TOO_BLURRED;
        return out;
    }
    judge(m, l, &r);
    return out;
}

// A print of another family than the one asked for: nothing of it is entered as this mode's.
VernierReading otherMode(VernierReading r, VernierFamily wanted, int mode) {
    std::string asked = mode > 0 ? "mode " + std::to_string(mode) : Vernier_ModesOf(wanted);
    r.status = VERNIER_OTHER_MODE;
    r.reason = "this print looks like " + Vernier_ModesOf(r.family) + " (" +
               Vernier_FamilyName(r.family) + "), not " + asked + ": print " + asked +
               "'s adjustment, or read this print as its own mode";
    r.certain = r.highConfidence = false;
    return r;
}

// The reader's frame lies as the canvas does, labels above the groups; the operator holds the
// sheet the other way up, labels under the groups, and the turn is told from that.
VernierReading upright(VernierReading r, int quarters) {
    r.angleDeg = std::remainder(r.angleDeg - 90.0 * quarters + 180.0, 360.0);
    if (std::fabs(r.angleDeg) < 0.005) r.angleDeg = 0;
    return r;
}

// Every pair of bars the locator found measured, the first few of them: at low resolution a bar
// and a band of blurred ticks can look alike, so several pairs of one vernier may qualify; the
// pair whose groups shift as designed is the vernier. why: the first pair's reason for not
// being one.
std::vector<VernierReading> candidates(const InkMap& ink, const std::vector<BarPair>& pairs,
                                       std::string* why) {
    constexpr size_t MAX_PAIRS = 10;
    std::vector<VernierReading> found;
    for (size_t i = 0; i < pairs.size() && i < MAX_PAIRS; ++i) {
        Measured m = measure(ink, pairs[i]);
        if (m.located)
            found.push_back(m.reading);
        else if (why->empty())
            *why = m.reading.reason;
    }
    return found;
}

// Why no vernier was read, from what the locator saw.
std::string whyNone(const std::string& cut, const std::string& why, int longest) {
    if (!cut.empty())
        return "the print is cut off on the " + cut + ": place the whole print in the picture";
    if (!why.empty()) return why;
    if (longest == 0)
        return "pattern not found: no dashed bars on the picture: place the adjustment print in "
               "the picture";
    if (longest < VERNIER_GROUPS)
        return "pattern not found: only part of a print's bars is seen: place the whole print in "
               "the picture, flat and evenly lit";
    return "pattern not found: dashed rows, but no two that pair up like a vernier's bars: place "
           "the whole adjustment print in the picture";
}

// Two prints read at different places that disagree by half a group or more: the best is
// made a "two candidates" answer naming both.
void twoCandidates(const std::vector<VernierReading>& found, VernierFamily wanted, int mode,
                   VernierReading* best) {
    for (size_t i = 1; i < found.size(); ++i) {
        const VernierReading& o = found[i];
        bool sameSpot = std::fabs(o.groups[0].x - best->groups[0].x) < best->pitchPx &&
                        std::fabs(o.groups[0].y - best->groups[0].y) < best->barDistancePx;
        if (sameSpot || o.status != VERNIER_READ || best->status != VERNIER_READ) continue;
        if (std::fabs(o.estimate - best->estimate) < 0.5) continue;
        // Asked for one mode's print, the two are of that mode.
        std::string what = wanted == FAMILY_UNKNOWN ? "two prints"
                           : mode > 0               ? "two prints of mode " + std::to_string(mode)
                                                    : "two prints of this mode";
        best->status = VERNIER_TWO_CANDIDATES;
        best->reason = what + " on the picture: cover one (one lines up at \"" +
                       Vernier_LabelText(best->group) + "\", the other at \"" +
                       Vernier_LabelText(o.group) + "\")";
        best->highConfidence = false;
        best->certain = false;
        return;
    }
}

// The picture's ink map turned by quarter turns clockwise read. The turned map is made only
// where the locator finds bars in it to measure.
VernierReading readInk(const InkMap& picture, int quarters, VernierFamily wanted, int mode) {
    int longest = 0;
    double angle = 0;
    std::string cut, why;
    int nextAngle = 0;
    std::vector<BarPair> pairs =
        Vernier_LocateBars(picture, quarters, &longest, &angle, &cut, &nextAngle);
    // The turned map, made once the locator has found bars in it to measure.
    InkMap turnedMap;
    bool made = false;
    auto measured = [&](const std::vector<BarPair>& at, std::string* reason) {
        if (at.empty()) return std::vector<VernierReading>{};
        if (quarters == 0) return candidates(picture, at, reason);
        if (!made) turnedMap = turned(picture, quarters), made = true;
        return candidates(turnedMap, at, reason);
    };
    std::vector<VernierReading> found = measured(pairs, &why);
    auto read = [](const VernierReading& r) {
        return r.status == VERNIER_READ || r.status == VERNIER_OUT_OF_RANGE;
    };
    // The pairs at the sharpest angle may all be another pattern's (a nozzle check's staircase
    // of dashes lines up along its own diagonal): the next angles are looked at until a pair
    // measures as a vernier of the family asked for.
    auto wantedFound = [&] {
        return std::any_of(found.begin(), found.end(), [&](const VernierReading& r) {
            return wanted == FAMILY_UNKNOWN || r.family == wanted;
        });
    };
    while (!wantedFound() && !pairs.empty()) {
        int longestThere = 0;
        double angleThere = 0;
        pairs =
            Vernier_LocateBars(picture, quarters, &longestThere, &angleThere, nullptr, &nextAngle);
        std::string whyThere;
        std::vector<VernierReading> more = measured(pairs, &whyThere);
        found.insert(found.end(), more.begin(), more.end());
    }
    // A crowded sheet: other patterns and other modes' prints are not the one asked for.
    if (wanted != FAMILY_UNKNOWN) {
        auto ofWanted = [&](const VernierReading& r) { return r.family == wanted; };
        bool have = std::any_of(found.begin(), found.end(), ofWanted);
        auto other = std::find_if(found.begin(), found.end(), read);
        if (!have && other != found.end()) return otherMode(*other, wanted, mode);
        if (have)
            found.erase(std::remove_if(found.begin(), found.end(), std::not_fn(ofWanted)),
                        found.end());
    }
    std::stable_partition(found.begin(), found.end(), read);
    if (found.empty()) {
        VernierReading none;
        none.angleDeg = angle;
        none.reason = whyNone(cut, why, longest);
        return none;
    }
    VernierReading best = found[0];
    twoCandidates(found, wanted, mode, &best);
    return best;
}

}  // namespace

VernierReading Vernier_Read(const VernierImage& image) {
    return Vernier_ReadAs(image, FAMILY_UNKNOWN);
}

VernierReading Vernier_ReadAs(const VernierImage& image, VernierFamily wanted, int mode) {
    VernierReading none;
    if (image.width == 0 || image.height == 0 ||
        image.rgb.size() < size_t(image.width) * image.height * 3) {
        none.reason = "pattern not found: empty picture";
        return none;
    }
    InkMap ink = Vernier_InkMap(image);
    VernierReading first = upright(readInk(ink, 0, wanted, mode), 0);
    auto answers = [](const VernierReading& r) {
        return r.status == VERNIER_READ || r.status == VERNIER_OUT_OF_RANGE ||
               r.status == VERNIER_TWO_CANDIDATES || r.status == VERNIER_OTHER_MODE;
    };
    if (answers(first)) return first;
    // A photo may hold the sheet any way round. Upside down the labels stand below the lower
    // bar and the pair is not taken for a vernier, so only the way that reads is kept. A
    // blurred print upside down can still pass for a vernier whose ticks cannot be told apart
    // (a 1440-dpi print scanned at 300 dpi): that is no answer while another way reads. Half a
    // turn first: a sheet as the operator holds it, and the virtual printer's picture, lie so.
    VernierReading fallback = first;
    for (int quarters : {2, 1, 3}) {
        VernierReading r = readInk(ink, quarters, wanted, mode);
        if (r.status == VERNIER_NOT_FOUND) continue;
        for (VernierGroup& g : r.groups) backToPicture(ink, quarters, &g.x, &g.y);
        r = upright(std::move(r), quarters);
        if (answers(r)) return r;
        if (fallback.status == VERNIER_NOT_FOUND) fallback = r;
    }
    return fallback;
}
