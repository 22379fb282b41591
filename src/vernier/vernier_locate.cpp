// SPDX-License-Identifier: Apache-2.0
// Finding a vernier on a picture: the bars' angle, and pairs of dashed bars with equally spaced
// dashes, worked out on a reduced copy of the picture.
#include <algorithm>
#include <cmath>
#include <numbers>

#include "vernier/vernier_rows.h"

using namespace reader;

namespace {

constexpr double PI = std::numbers::pi;

// The reduced copy of the ink map turned by quarter turns clockwise (as turned() turns it),
// read straight from the unturned map: a turn that shows no bars costs no turned copy of a whole
// page. Each reduced pixel adds up its pixels in the order of the turned map's rows, so its sum
// is the one the turned copy gives.
Reduced reduce(const InkMap& ink, int quarters) {
    Reduced r;
    const bool swap = quarters % 2 != 0;
    const uint32_t tw = swap ? ink.h : ink.w, th = swap ? ink.w : ink.h;
    uint32_t side = std::max(ink.w, ink.h);
    r.f = std::max(1, int(std::lround(double(side) / REDUCED_SIDE)));
    r.w = std::max(1u, tw / uint32_t(r.f));
    r.h = std::max(1u, th / uint32_t(r.f));
    r.v.assign(size_t(r.w) * r.h, 0);
    double norm = 1.0 / (r.f * r.f);
    const uint32_t f = uint32_t(r.f);
    // Where pixel (tx, ty) of the turned map lies in the unturned one: index = base + tx * dx +
    // ty * dy.
    const int64_t W = ink.w, H = ink.h;
    int64_t base = 0, dx = 1, dy = W;
    if (quarters == 1) base = (H - 1) * W, dx = -W, dy = 1;
    if (quarters == 2) base = (H - 1) * W + W - 1, dx = -1, dy = -W;
    if (quarters == 3) base = W - 1, dx = W, dy = -1;
    // In tiles: a quarter turn reads the map down its columns.
    constexpr uint32_t TILE = 16;
    for (uint32_t y0 = 0; y0 < r.h; y0 += TILE)
        for (uint32_t x0 = 0; x0 < r.w; x0 += TILE)
            for (uint32_t y = y0; y < std::min(r.h, y0 + TILE); ++y)
                for (uint32_t x = x0; x < std::min(r.w, x0 + TILE); ++x) {
                    double s = 0;
                    for (uint32_t ry = 0; ry < f; ++ry) {
                        const float* row =
                            ink.v.data() + base + int64_t(y * f + ry) * dy + int64_t(x * f) * dx;
                        for (uint32_t rx = 0; rx < f; ++rx) s += row[int64_t(rx) * dx];
                    }
                    r.v[size_t(y) * r.w + x] = float(s * norm);
                }
    return r;
}

struct InkPoint {
    float x, y, w;
};

// Pixels clearly darker than the paper's noise.
std::vector<InkPoint> inkPoints(const Reduced& r) {
    std::vector<float> sorted(r.v);
    size_t mid = sorted.size() / 2;
    std::nth_element(sorted.begin(), sorted.begin() + long(mid), sorted.end());
    float median = sorted[mid];
    for (float& s : sorted) s = std::fabs(s - median);
    std::nth_element(sorted.begin(), sorted.begin() + long(mid), sorted.end());
    float threshold = median + 8 * sorted[mid] + 12;
    std::vector<InkPoint> points;
    for (uint32_t y = 0; y < r.h; ++y)
        for (uint32_t x = 0; x < r.w; ++x) {
            float v = r.v[size_t(y) * r.w + x];
            if (v > threshold) points.push_back({float(x), float(y), v - threshold});
        }
    return points;
}

// Projections of the ink across lines at K angles (radians) in one pass over the points, into
// K rows of bins (*bins). Each angle's bins take the points in the same order as alone; the
// angles side by side keep the processor busy where one angle's additions into the same bins
// would wait on each other.
template <size_t K>
void project(const std::vector<InkPoint>& pts, const double* a, const Reduced& r,
             std::vector<double>* bins) {
    double cs[K], sn[K];
    for (size_t k = 0; k < K; ++k) cs[k] = std::cos(a[k]), sn[k] = std::sin(a[k]);
    double span = r.w + r.h + 2.0;
    const size_t n = size_t(2 * span) + 2;
    bins->assign(K * n, 0.0);
    double* out[K];
    for (size_t k = 0; k < K; ++k) out[k] = bins->data() + k * n;
    // A point's height across the lines, -x sin a + y cos a, from its two terms looked up (the
    // same products as worked out point by point).
    std::vector<double> across(K * r.w), down(K * r.h);
    for (size_t k = 0; k < K; ++k) {
        for (uint32_t x = 0; x < r.w; ++x) across[k * r.w + x] = -double(float(x)) * sn[k];
        for (uint32_t y = 0; y < r.h; ++y) down[k * r.h + y] = double(float(y)) * cs[k];
    }
    for (const InkPoint& p : pts) {
        const size_t x = size_t(p.x), y = size_t(p.y);
        const double w = p.w;
        for (size_t k = 0; k < K; ++k) {
            double v = across[k * r.w + x] + down[k * r.h + y] + span;
            // v is positive and far below 2^63: the signed conversion is the same.
            size_t b = size_t(int64_t(v));
            double fr = v - double(b);
            out[k][b] += w * (1 - fr);
            out[k][b + 1] += w * fr;
        }
    }
}

// Sum of squares of each angle's projection: high when the ink sits on few lines.
std::vector<double> sharpnesses(const std::vector<InkPoint>& pts, const std::vector<double>& a,
                                const Reduced& r) {
    std::vector<double> out, bins;
    const size_t n = size_t(2 * (r.w + r.h + 2.0)) + 2;
    for (size_t i = 0; i < a.size();) {
        const size_t k = std::min<size_t>(4, a.size() - i);
        if (k == 4)
            project<4>(pts, &a[i], r, &bins);
        else if (k == 3)
            project<3>(pts, &a[i], r, &bins);
        else if (k == 2)
            project<2>(pts, &a[i], r, &bins);
        else
            project<1>(pts, &a[i], r, &bins);
        for (size_t j = 0; j < k; ++j) {
            double s = 0;
            for (size_t b = j * n; b < (j + 1) * n; ++b) s += bins[b] * bins[b];
            out.push_back(s);
        }
        i += k;
    }
    return out;
}

// The bars' angle, in degrees: the angles of the coarse look whose projection is sharpest,
// best first. Another pattern beside the print can be sharper at an angle of its own (a nozzle
// check's staircase of short dashes lines up along its diagonal, and its grid of dashes is
// nearly as sharp at several more), so up to six angles a degree or more apart are kept, the
// weakest at a third of the best.
std::vector<double> coarseAngles(const std::vector<InkPoint>& pts, const Reduced& r) {
    constexpr double STEP = 0.25;
    std::vector<double> degrees, radians;
    for (double d = -MAX_ANGLE_DEG; d <= MAX_ANGLE_DEG + 1e-9; d += STEP)
        degrees.push_back(d), radians.push_back(d * PI / 180);
    std::vector<double> sharp = sharpnesses(pts, radians, r);
    std::vector<std::pair<double, double>> scores;  // (angle, sharpness)
    for (size_t i = 0; i < degrees.size(); ++i) scores.push_back({degrees[i], sharp[i]});
    std::vector<std::pair<double, double>> peaks;
    for (size_t i = 0; i < scores.size(); ++i) {
        double s = scores[i].second;
        if ((i > 0 && scores[i - 1].second > s) ||
            (i + 1 < scores.size() && scores[i + 1].second >= s))
            continue;
        peaks.push_back(scores[i]);
    }
    std::sort(peaks.begin(), peaks.end(), [](auto& p, auto& q) { return p.second > q.second; });
    std::vector<double> out;
    for (const auto& [d, s] : peaks) {
        if (out.size() == 6 || s < peaks[0].second / 3) break;
        if (std::all_of(out.begin(), out.end(), [&](double o) { return std::fabs(o - d) >= 1; }))
            out.push_back(d);
    }
    if (out.empty()) out.push_back(0);
    return out;
}

// The angle (radians) finer around a coarse one: a bar a thousand reduced pixels long is still a
// sharp line of the projection a quarter of a degree off.
double refineAngle(const std::vector<InkPoint>& pts, const Reduced& r, double coarseDeg) {
    double best = coarseDeg, bestScore = 0;
    bool first = true;
    for (double step : {0.05, 0.01}) {
        double centre = best;
        // The coarse angle itself is looked at first, with the first step's angles.
        std::vector<double> degrees, radians;
        if (first) degrees.push_back(best);
        for (double d = centre - 5 * step; d <= centre + 5 * step + 1e-9; d += step)
            degrees.push_back(d);
        for (double d : degrees) radians.push_back(d * PI / 180);
        std::vector<double> sharp = sharpnesses(pts, radians, r);
        for (size_t i = 0; i < degrees.size(); ++i) {
            if (first) {
                bestScore = sharp[i];
                first = false;
                continue;
            }
            if (sharp[i] > bestScore) bestScore = sharp[i], best = degrees[i];
        }
    }
    return best * PI / 180;
}

// Peaks of the projection: heights across the bars worth a look, strongest first.
std::vector<double> projectionPeaks(const std::vector<InkPoint>& pts, double a, const Reduced& r) {
    std::vector<double> bins;
    project<1>(pts, &a, r, &bins);
    double span = r.w + r.h + 2.0, top = *std::max_element(bins.begin(), bins.end());
    std::vector<std::pair<double, double>> peaks;
    for (size_t i = 2; i + 2 < bins.size(); ++i) {
        double b = bins[i];
        if (b < 0.03 * top) continue;  // a faint bar under bold labels is still a peak
        bool isMax = true;
        for (size_t j = i - 2; j <= i + 2; ++j)
            if (bins[j] > b || (bins[j] == b && j < i)) isMax = false;
        if (!isMax) continue;
        double l = bins[i - 1], rr = bins[i + 1], den = l - 2 * b + rr;
        double off = den < 0 ? 0.5 * (l - rr) / den : 0;
        peaks.push_back({b, double(i) + off - span});
    }
    std::sort(peaks.begin(), peaks.end(), [](auto& p, auto& q) { return p.first > q.first; });
    std::vector<double> out;
    // A photo may hold other strong rows (a printer's vents, a table's edge) above the bars,
    // and a printer's grille alone can give dozens of them.
    for (size_t i = 0; i < peaks.size() && i < 128; ++i) out.push_back(peaks[i].second);
    return out;
}

bool pairs(const DashRow& t, const DashRow& b) {
    double dv = b.v - t.v;
    if (dv <= 0 || t.count < VERNIER_GROUPS - 4 || b.count < VERNIER_GROUPS - 4) return false;
    if (std::fabs(b.pitch / t.pitch - 1) > 0.04) return false;
    // One print's bars lie over each other; a row of another print beside it at the height a
    // bar would have is no partner.
    double tEnd = t.start + t.count * t.pitch, bEnd = b.start + b.count * b.pitch;
    if (std::min(tEnd, bEnd) - std::max(t.start, b.start) <
        0.5 * std::min(t.count, b.count) * t.pitch)
        return false;
    // Both bars come from one head, so the pitch over their distance names the pattern family.
    return Vernier_FamilyOf(t.pitch / dv) != nullptr;
}

// Whether a row is inked over most of [from, to].
bool inkedOver(const DashRow& row, double from, double to) {
    double covered = 0;
    for (const auto& [a, b] : row.runs)
        covered += std::max(0.0, std::min(b, to) - std::max(a, from));
    return covered > 0.5 * (to - from);
}

// A chain of dashes may miss a bar's first or last groups (a label's ink or a tick breaks the
// steady pitch there). The two rows are put on common group numbers and widened, on the side
// where either bar shows a dash, to all 19 groups; the labels are told by position, so a pair
// that cannot be made whole is not a vernier (or is cut off by the picture's edge).
bool alignPair(DashRow* t, DashRow* b) {
    int n = int(std::lround((b->start - t->start) / t->pitch));  // b's first dash is t's group n
    int lo = std::min(0, n), hi = std::max(t->count, n + b->count);
    auto dashAt = [&](int g) {
        double ut = t->start + g * t->pitch, ub = b->start + (g - n) * b->pitch;
        return inkedOver(*t, ut, ut + 0.8 * t->pitch) || inkedOver(*b, ub, ub + 0.8 * b->pitch);
    };
    while (hi - lo < VERNIER_GROUPS) {
        if (dashAt(lo - 1))
            --lo;
        else if (dashAt(hi))
            ++hi;
        else
            return false;
    }
    // A chain running on past a bar's ends (a line crossing the row beside the print, at the
    // groups' pitch by chance) is cut to the other bar's 19 dashes.
    if (hi - lo > VERNIER_GROUPS && b->count == VERNIER_GROUPS) lo = n, hi = n + VERNIER_GROUPS;
    if (hi - lo > VERNIER_GROUPS && t->count == VERNIER_GROUPS) lo = 0, hi = VERNIER_GROUPS;
    if (hi - lo != VERNIER_GROUPS) return false;
    t->start += lo * t->pitch;
    b->start += (lo - n) * b->pitch;
    t->count = b->count = VERNIER_GROUPS;
    return true;
}

// A row of dashes long enough to be a bar that runs out at the picture's edge: the print is
// cut off there. Rows are in reduced pixels at angle a; margin is how near the edge counts.
std::string cutSideOf(const std::vector<DashRow>& rows, const Reduced& r, double a) {
    double cs = std::cos(a), sn = std::sin(a);
    for (const DashRow& row : rows) {
        if (row.count < MIN_CHAIN || row.pitch <= 0) continue;
        double margin = 1.5 * row.pitch;
        double u0 = row.start, u1 = row.start + (row.count - 1) * row.pitch + row.length;
        double x0 = u0 * cs - row.v * sn, x1 = u1 * cs - row.v * sn,
               y = (u0 + u1) / 2 * sn + row.v * cs;
        if (row.count < VERNIER_GROUPS - 1) {
            if (x0 < margin) return "left";
            if (x1 > r.w - margin) return "right";
        }
        // A whole bar with the labels above it or the other bar below it out of the picture.
        if (row.count >= VERNIER_GROUPS - 4) {
            if (y < margin) return "top";
            if (y > r.h - margin) return "bottom";
        }
    }
    return "";
}

// Whether a row (reduced pixels, scaled by f) runs along the same stretch as a pair's top bar:
// prints side by side at one height are a print's length apart or more.
bool samePlaceAlong(const BarPair& pair, const DashRow& t, int f) {
    double a0 = pair.top.start, a1 = a0 + pair.top.count * pair.top.pitch;
    double b0 = t.start * f, b1 = b0 + t.count * t.pitch * f;
    return std::min(a1, b1) - std::max(a0, b0) > 0;
}

// t and b as one vernier's bars, added to into unless they are not a pair or a pair at the
// same heights is in seen or into already; in full-picture pixels.
void pairUpRows(const Reduced& r, double a, const DashRow& t, const DashRow& b,
                const std::vector<BarPair>& seen, std::vector<BarPair>* into) {
    if (!pairs(t, b)) return;
    for (const std::vector<BarPair>* known :
         {&seen, static_cast<const std::vector<BarPair>*>(into)})
        for (const BarPair& o : *known)
            if (std::fabs(o.top.v - t.v * r.f) < 0.3 * o.top.pitch &&
                std::fabs(o.bottom.v - b.v * r.f) < 0.3 * o.top.pitch && samePlaceAlong(o, t, r.f))
                return;
    BarPair pair;
    pair.frame = Frame{(r.f - 1) / 2.0, (r.f - 1) / 2.0, std::cos(a), std::sin(a)};
    pair.top = t;
    pair.bottom = b;
    if (!alignPair(&pair.top, &pair.bottom)) return;
    for (DashRow* d : {&pair.top, &pair.bottom}) {
        d->v *= r.f;
        d->start *= r.f;
        d->pitch *= r.f;
        d->length *= r.f;
    }
    into->push_back(pair);
}

// The dashed rows at the projection's peaks, bridged rows completed, sorted down the picture;
// longestRow and cutSide as for Vernier_LocateBars.
std::vector<DashRow> rowsSeen(const Reduced& r, const std::vector<InkPoint>& pts, double a,
                              int* longestRow, std::string* cutSide) {
    std::vector<DashRow> rows;
    for (double v : projectionPeaks(pts, a, r))
        for (DashRow& row : dashRows(r, a, v)) {
            *longestRow = std::max(*longestRow, row.count);
            rows.push_back(std::move(row));
        }
    completeBridgedRows(&rows);
    if (cutSide) *cutSide = cutSideOf(rows, r, a);
    rows.erase(std::remove_if(rows.begin(), rows.end(),
                              [](const DashRow& r) { return r.count < MIN_CHAIN; }),
               rows.end());
    std::sort(rows.begin(), rows.end(),
              [](const DashRow& p, const DashRow& q) { return p.v < q.v; });
    return rows;
}

// The bar pairs of the rows seen at angle a, strongest first, then those with a partner row
// looked for beside a bar; added to out.
void pairsAt(const Reduced& r, double a, const std::vector<DashRow>& rows,
             std::vector<BarPair>* out) {
    auto pairUp = [&](const DashRow& t, const DashRow& b, std::vector<BarPair>* into) {
        pairUpRows(r, a, t, b, *out, into);
    };
    auto byStrength = [](const BarPair& p, const BarPair& q) {
        return p.top.strength + p.bottom.strength > q.top.strength + q.bottom.strength;
    };
    std::vector<BarPair> seen;
    for (const DashRow& t : rows)
        for (const DashRow& b : rows) pairUp(t, b, &seen);
    std::sort(seen.begin(), seen.end(), byStrength);
    out->insert(out->end(), seen.begin(), seen.end());
    // The pairs with a partner row come after those of the rows seen in the projection: they
    // are wanted where a bar was missed, not in place of a pair already found.
    std::vector<DashRow> partners = partnerRows(r, a, rows), all = rows;
    all.insert(all.end(), partners.begin(), partners.end());
    std::vector<BarPair> more;
    for (size_t i = 0; i < all.size(); ++i)
        for (size_t j = 0; j < all.size(); ++j)
            if (std::max(i, j) >= rows.size()) pairUp(all[i], all[j], &more);
    std::sort(more.begin(), more.end(), byStrength);
    out->insert(out->end(), more.begin(), more.end());
}

}  // namespace

std::vector<BarPair> Vernier_LocateBars(const InkMap& ink, int quarters, int* longestRow,
                                        double* angleDeg, std::string* cutSide, int* nextAngle) {
    const int from = nextAngle ? *nextAngle : 0;
    if (nextAngle) *nextAngle = 1 << 20;
    *longestRow = 0;
    *angleDeg = 0;
    std::vector<BarPair> out;
    if (ink.w < 16 || ink.h < 16) return out;
    Reduced r = reduce(ink, quarters);
    std::vector<InkPoint> pts = inkPoints(r);
    if (pts.size() < 50) return out;
    // The sharpest angle first; the next only where it shows no pair at all.
    bool first = true;
    const std::vector<double> angles = coarseAngles(pts, r);
    for (int i = from; i < int(angles.size()); ++i) {
        const double a = refineAngle(pts, r, angles[size_t(i)]);
        if (first) *angleDeg = a * 180 / PI;
        int longest = 0;
        std::vector<DashRow> rows = rowsSeen(r, pts, a, &longest, first ? cutSide : nullptr);
        *longestRow = std::max(*longestRow, longest);
        pairsAt(r, a, rows, &out);
        first = false;
        if (!out.empty()) {
            *angleDeg = a * 180 / PI;
            if (nextAngle) *nextAngle = i + 1;
            break;
        }
    }
    return out;
}
