// SPDX-License-Identifier: Apache-2.0
// Reading a located vernier: straighten the frame on the bars, measure every group's ticks in
// both prints, fit the offsets across the groups and name the group where they meet.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>

#include "vernier/vernier_internal.h"

extern const FamilyShape VERNIER_FAMILIES[5];

namespace {

// Rows of the print head (1/180 inch) from the upper bar: the upper print's ticks hang from it
// over rows 0..19, the lower print's rise over rows 15..34 to the lower bar at row 35.
constexpr double BAR_ROWS = 35;
constexpr double UPPER_BAND[2] = {3, 13};
constexpr double LOWER_BAND[2] = {21, 32};
constexpr double LABEL_BAND[2] = {-25, -4};

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

// Ink averaged across rows row0..row1 of the head, every pixel along u from u0. Where the
// ticks lean (leanAt0 + leanSlope * u pixels across per pixel down), the rows are taken along
// them about the band's middle, so a leaning tick stays as sharp as a standing one.
Profile profile(const InkMap& ink, const Frame& fr, const Rails& rails, double u0, double u1,
                double row0, double row1, double pitch, double leanAt0 = 0, double leanSlope = 0) {
    Profile out;
    out.u0 = u0;
    for (double u = u0; u <= u1; u += 1) {
        double v0 = rails.v(u, row0), v1 = rails.v(u, row1), s = 0, lean = leanAt0 + leanSlope * u;
        int steps = std::max(1, int(std::ceil(v1 - v0)));
        for (int j = 0; j <= steps; ++j) {
            double v = v0 + (v1 - v0) * j / steps, along = u + lean * (v - (v0 + v1) / 2);
            s += ink.sample(fr.x(along, v), fr.y(along, v));
        }
        out.p.push_back(float(s / (steps + 1)));
    }
    // The noise of the paper, from the white pitch before the first group and after the last.
    std::vector<float> d;
    for (size_t i = 0; i < out.p.size(); ++i)
        if (double(i) < 0.8 * pitch || double(i) > double(out.p.size()) - 0.8 * pitch)
            d.push_back(out.p[i]);
    if (d.size() < 4) return out;
    double mean = 0, var = 0;
    for (float x : d) mean += x;
    mean /= double(d.size());
    for (float x : d) var += (x - mean) * (x - mean);
    out.noise = std::max(0.5, std::sqrt(var / double(d.size())));
    return out;
}

// Centre of the ink between u - hw and u + hw above base, pixels weighted by how much of
// each lies inside the window.
bool centroid(const Profile& pr, double base, double* u, double hw, double* height) {
    double c = *u;
    for (int it = 0; it < 4; ++it) {
        double sw = 0, su = 0, top = 0;
        for (double x = std::ceil(c - hw); x <= c + hw; x += 1) {
            double w = std::max(0.0, double(pr.at(x)) - base);
            double edge = std::min(1.0, std::min(x - (c - hw), c + hw - x) + 0.5);
            sw += w * edge;
            su += w * edge * x;
            top = std::max(top, w);
        }
        if (sw <= 0) return false;
        c = su / sw;
        *height = top;
    }
    *u = c;
    return true;
}

// The three ticks of one print of one group whose bar was seen from s over len. The ticks
// stand at 0, 0.4 and 0.8 of a pitch from the bar's start; blur widens the bar seen on both
// sides alike, so its centre is the better guide. The three are looked for together, as a
// comb, so that a neighbouring group's tick is not taken for one of them.
bool ticks(const Profile& pr, double s, double len, double pitch, double out[3]) {
    std::vector<float> span;
    for (double x = s - 0.1 * pitch; x <= s + 0.95 * pitch; x += 1) span.push_back(pr.at(x));
    if (span.size() < 5) return false;
    std::nth_element(span.begin(), span.begin() + long(span.size() / 2), span.end());
    double base = span[span.size() / 2];
    double start = s + (len - 0.8 * pitch) / 2, spacing = 0.4 * pitch;
    double bestO = 0, bestV = -1e9;
    for (double o = -0.2 * pitch; o <= 0.2 * pitch; o += 0.25) {
        double v = pr.at(start + o) + pr.at(start + o + spacing) + pr.at(start + o + 2 * spacing);
        if (v > bestV) bestV = v, bestO = o;
    }
    double hw = std::max(1.2, 0.12 * pitch);
    for (int i = 0; i < 3; ++i) {
        double at = start + bestO + i * spacing, height = 0;
        if (!centroid(pr, base, &at, hw, &height)) return false;
        if (height < 4 * pr.noise || height < 3) return false;
        out[i] = at;
    }
    double gap1 = out[1] - out[0], gap2 = out[2] - out[1];
    return std::fabs(gap1 - spacing) < 0.08 * pitch && std::fabs(gap2 - spacing) < 0.08 * pitch;
}

// One group of the upper print as a whole, for matching against the lower print where blur
// has merged its ticks too far for ticks() to find them one by one: the three together still
// carry the group's position, so a shift of a fifth of a pixel shows in how well they overlap.
struct Comb {
    std::vector<double> us, a, w;
    double sw = 0, va = 0;
};

// half: how far the comb reaches either side of its centre (half a pitch: one group).
bool comb(const Profile& up, double centre, double half, Comb* c) {
    const double taper = 0.16 * half;
    double mean = 0;
    for (double u = std::floor(centre - half); u <= centre + half; u += 1) {
        double wt = std::clamp((half - std::fabs(u - centre)) / taper, 0.0, 1.0);
        if (wt <= 0) continue;
        c->us.push_back(u), c->a.push_back(up.at(u)), c->w.push_back(wt);
        mean += wt * c->a.back(), c->sw += wt;
    }
    if (c->us.size() < 5 || c->sw <= 0) return false;
    mean /= c->sw;
    for (size_t i = 0; i < c->a.size(); ++i) c->a[i] -= mean, c->va += c->w[i] * c->a[i] * c->a[i];
    return std::sqrt(c->va / c->sw) >= 2 * up.noise;
}

// Correlation (-1 .. 1) of the upper group with the lower print moved by dl.
double overlap(const Comb& c, const Profile& low, double dl) {
    double mean = 0;
    for (size_t i = 0; i < c.us.size(); ++i) mean += c.w[i] * low.at(c.us[i] + dl);
    mean /= c.sw;
    double s = 0, vb = 0;
    for (size_t i = 0; i < c.us.size(); ++i) {
        double b = low.at(c.us[i] + dl) - mean;
        s += c.w[i] * c.a[i] * b, vb += c.w[i] * b * b;
    }
    return vb > 0 && c.va > 0 ? s / std::sqrt(c.va * vb) : -1.0;
}

// The best overlap within reach of dl, to a fraction of a pixel; false when the best is weak
// or at the edge of the reach.
bool bestOverlap(const Comb& c, const Profile& low, double dl, double reach, double* shift) {
    // Coarse, then fine about the best: the overlap of ticks a pixel or more wide changes
    // smoothly over a quarter of a pixel.
    constexpr double STEP = 0.05, COARSE = 0.25;
    double best = dl, bestS = -2;
    for (double d = dl - reach; d <= dl + reach + 1e-9; d += COARSE) {
        double s = overlap(c, low, d);
        if (s > bestS) bestS = s, best = d;
    }
    double from = std::max(dl - reach, best - COARSE), to = std::min(dl + reach, best + COARSE);
    for (double d = from; d <= to + 1e-9; d += STEP) {
        double s = overlap(c, low, d);
        if (s > bestS) bestS = s, best = d;
    }
    if (bestS < 0.5 || std::fabs(best - dl) > reach - 1.5 * STEP) return false;
    double l = overlap(c, low, best - STEP), r = overlap(c, low, best + STEP),
           den = l - 2 * bestS + r;
    *shift = best + (den < 0 ? 0.5 * (l - r) / den * STEP : 0);
    return true;
}

// Groups measured as whole combs. Each group alone could match a neighbouring tick, so the
// meeting point is first found for all groups together, with the shift per group the vernier
// is drawn with; each group is then measured near where that puts it.
void measureCombs(const Profile& up, const Profile& low, const std::vector<VernierGroup>& groups,
                  double length, double pitch, double step, std::vector<double>* ks,
                  std::vector<double>* ds) {
    std::vector<Comb> combs(groups.size());
    std::vector<bool> have(groups.size());
    for (size_t i = 0; i < groups.size(); ++i)
        have[i] = comb(up, groups[i].u + length / 2, 0.5 * pitch, &combs[i]);
    double bestK = 0, bestSign = 1, bestS = -1e9;
    for (double sign : {1.0, -1.0})
        for (double k0 = -2; k0 <= VERNIER_GROUPS + 3; k0 += 0.1) {
            double sum = 0;
            for (size_t i = 0; i < combs.size(); ++i)
                if (have[i]) sum += overlap(combs[i], low, sign * step * (double(i) + 1 - k0));
            if (sum > bestS) bestS = sum, bestK = k0, bestSign = sign;
        }
    for (size_t i = 0; i < groups.size(); ++i) {
        double shift = 0;
        if (have[i] && bestOverlap(combs[i], low, bestSign * step * (double(i) + 1 - bestK),
                                   0.1 * pitch, &shift)) {
            ks->push_back(double(i) + 1);
            ds->push_back(shift);
        }
    }
}

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

// Least squares of u (1 + c k) = a + b k over the groups found; c stays 0 with few of them.
// kOffset: where centres[i] stands against group i (half a group for the gap after it).
bool fitGroupMap(const std::vector<double>& centres, GroupMap* m, double kOffset = 0) {
    double A[3][3] = {}, y[3] = {};
    int n = 0;
    for (size_t i = 0; i < centres.size(); ++i) {
        if (std::isnan(centres[i])) continue;
        double k = GroupMap::k(int(i)) + kOffset, u = centres[i], row[3] = {1, k, -k * u};
        for (int r = 0; r < 3; ++r) {
            for (int q = 0; q < 3; ++q) A[r][q] += row[r] * row[q];
            y[r] += row[r] * u;
        }
        ++n;
    }
    if (n < 3) return false;
    // The map's curvature is only told from many groups; from a few, the pitch alone.
    int dim = n >= 9 ? 3 : 2;
    // Gaussian elimination with partial pivoting on the dim x dim system.
    for (int col = 0; col < dim; ++col) {
        int piv = col;
        for (int r = col + 1; r < dim; ++r)
            if (std::fabs(A[r][col]) > std::fabs(A[piv][col])) piv = r;
        if (std::fabs(A[piv][col]) < 1e-12) return false;
        std::swap(A[col], A[piv]);
        std::swap(y[col], y[piv]);
        for (int r = 0; r < dim; ++r) {
            if (r == col) continue;
            double f = A[r][col] / A[col][col];
            for (int q = col; q < dim; ++q) A[r][q] -= f * A[col][q];
            y[r] -= f * y[col];
        }
    }
    GroupMap out;
    out.a = y[0] / A[0][0];
    out.b = y[1] / A[1][1];
    out.c = dim == 3 ? y[2] / A[2][2] : 0;
    // Beyond a pitch changing by a third across the pattern, no sheet the reader can use.
    if (!(out.b > 0) || std::fabs(out.c) * (VERNIER_GROUPS - 1) / 2 > 0.3) return false;
    double ss = 0;
    for (size_t i = 0; i < centres.size(); ++i)
        if (!std::isnan(centres[i]))
            ss += std::pow(centres[i] - out.atK(GroupMap::k(int(i)) + kOffset), 2);
    out.rms = std::sqrt(ss / std::max(1, n - dim));
    out.n = n;
    *m = out;
    return true;
}

// The centre of one group's three ticks in a print's band near guess. The three are looked for
// together as a comb scored by its weakest tooth, so that two ticks of this group and one of a
// neighbour's never pass for a group; then each tick is centred where ticks() can part them,
// else (blurred together) the comb's peak is taken: it is symmetric about the centre, so blur
// does not move it.
bool groupCentre(const Profile& pr, double guess, double pitch, double* centre) {
    constexpr double STEP = 0.25;
    auto combAt = [&](double c) {
        return std::min({pr.at(c - 0.4 * pitch), pr.at(c), pr.at(c + 0.4 * pitch)});
    };
    double best = guess, bestS = -1, worst = 1e9;
    for (double o = -0.3 * pitch; o <= 0.3 * pitch; o += STEP) {
        double v = combAt(guess + o);
        worst = std::min(worst, v);
        if (v > bestS) bestS = v, best = guess + o;
    }
    if (bestS - worst < 4 * pr.noise || std::fabs(best - guess) > 0.3 * pitch - 2 * STEP)
        return false;
    double t[3];
    if (ticks(pr, best - 0.4 * pitch, 0.8 * pitch, pitch, t) &&
        std::fabs((t[0] + t[1] + t[2]) / 3 - best) < 0.1 * pitch) {
        *centre = (t[0] + t[1] + t[2]) / 3;
        return true;
    }
    double l = combAt(best - STEP), r = combAt(best + STEP), den = l - 2 * bestS + r;
    *centre = best + (den < 0 ? std::clamp(0.5 * (l - r) / den, -1.0, 1.0) * STEP : 0);
    return true;
}

// The map of one print: groups found from the middle of the pattern outwards, each looked for
// where the map of those found so far puts it, the first ones where start puts them.
bool walkGroups(const Profile& pr, const GroupMap& start, double pitch, GroupMap* m) {
    std::vector<double> centres(VERNIER_GROUPS, std::nan(""));
    GroupMap fit = start;
    constexpr int MIDDLE = VERNIER_GROUPS / 2;
    for (int step = 0; step < VERNIER_GROUPS; ++step) {
        int i = MIDDLE + (step % 2 ? (step + 1) / 2 : -(step / 2));
        double c = 0;
        // The middle groups are looked for where the start puts them; the rest where the map
        // of the middle ones does, and a centre far from that is a neighbour's tick.
        bool okc = groupCentre(pr, fit.at(i), std::max(3.0, fit.pitch(i)), &c);
        if (okc && step >= 5 && std::fabs(c - fit.at(i)) > 0.15 * fit.pitch(i)) okc = false;
        if (okc) {
            centres[size_t(i)] = c;
            GroupMap next;
            if (step >= 4 && fitGroupMap(centres, &next)) fit = next;
        }
    }
    // Drop centres the whole map disagrees with (a label's or a smudge's ink) and refit.
    for (int round = 0; round < 2; ++round) {
        for (size_t i = 0; i < centres.size(); ++i)
            if (!std::isnan(centres[i]) &&
                std::fabs(centres[i] - fit.at(int(i))) > std::max(0.5, 3 * fit.rms) + 0.04 * pitch)
                centres[i] = std::nan("");
        if (!fitGroupMap(centres, &fit)) return false;
    }
    if (fit.n < VERNIER_GROUPS / 2) return false;
    *m = fit;
    return true;
}

// The gaps between a bar's dashes, wherever they are: the longest run of them whose spacing
// changes slowly along the bar, as a sheet seen at a slant foreshortens it. Empty unless all
// the gaps of a bar's 19 dashes are in it.
std::vector<double> barGaps(const Profile& bar, double pitch) {
    const double half = 0.1 * pitch;
    std::vector<float> ink(bar.p.size());
    for (size_t i = 0; i < ink.size(); ++i) {
        double sum = 0;
        int n = 0;
        for (double x = double(i) - half; x <= double(i) + half + 1e-9; x += 0.5, ++n)
            sum += bar.at(bar.u0 + x);
        ink[i] = float(sum / n);
    }
    // A gap is a least between dashes on both sides.
    std::vector<double> found;
    const long reach = std::max(2L, std::lround(0.45 * pitch));
    for (long i = reach; i + reach < long(ink.size()); ++i) {
        bool least = true;
        float left = 0, right = 0;
        for (long j = i - reach; j <= i + reach; ++j) {
            if (ink[size_t(j)] < ink[size_t(i)] || (ink[size_t(j)] == ink[size_t(i)] && j < i))
                least = false;
            float& side = j < i ? left : right;
            side = std::max(side, ink[size_t(j)]);
        }
        if (!least || std::min(left, right) - ink[size_t(i)] < 4 * bar.noise) continue;
        float l = ink[size_t(i - 1)], r = ink[size_t(i + 1)], den = l - 2 * ink[size_t(i)] + r;
        found.push_back(bar.u0 + double(i) +
                        (den > 0 ? std::clamp(0.5f * (l - r) / den, -0.5f, 0.5f) : 0));
    }
    std::vector<double> best;
    for (size_t i = 0; i + 1 < found.size(); ++i) {
        std::vector<double> run{found[i]};
        double last = 0;
        for (size_t j = i + 1; j < found.size(); ++j) {
            double d = found[j] - run.back();
            if (d < 0.7 * pitch || d > 1.3 * pitch || (last > 0 && std::fabs(d / last - 1) > 0.1))
                break;
            run.push_back(found[j]);
            last = d;
        }
        if (run.size() > best.size()) best = run;
    }
    if (best.size() != VERNIER_GROUPS - 1) best.clear();
    return best;
}

// The map of one print from its ticks. firstCentre and pitch: the evenly spaced guess of the
// bars as found; where the print's bar shows all its gaps, they guide the search instead, as
// they follow the paper's foreshortening where even spacing slides off the far groups.
bool mapGroups(const Profile& pr, const Profile& bar, double firstCentre, double pitch,
               GroupMap* m) {
    GroupMap start;
    start.a = firstCentre + (VERNIER_GROUPS - 1) / 2.0 * pitch;
    start.b = pitch;
    GroupMap gaps;
    // The gap after group i lies half a pitch beyond its centre.
    if (fitGroupMap(barGaps(bar, pitch), &gaps, 0.5) && gaps.rms < 0.1 * pitch) start = gaps;
    return walkGroups(pr, start, pitch, m);
}

struct Line {
    double a = 0, b = 0, sigma = 0, kbar = 0, sxx = 0;
    int n = 0;
};

Line fitLine(const std::vector<double>& k, const std::vector<double>& d,
             const std::vector<bool>& use) {
    Line l;
    double sk = 0, sd = 0;
    for (size_t i = 0; i < k.size(); ++i)
        if (use[i]) sk += k[i], sd += d[i], ++l.n;
    if (l.n < 3) return l;
    l.kbar = sk / l.n;
    double md = sd / l.n, sxy = 0;
    for (size_t i = 0; i < k.size(); ++i)
        if (use[i])
            l.sxx += (k[i] - l.kbar) * (k[i] - l.kbar), sxy += (k[i] - l.kbar) * (d[i] - md);
    l.b = sxy / l.sxx;
    l.a = md - l.b * l.kbar;
    double ss = 0;
    for (size_t i = 0; i < k.size(); ++i)
        if (use[i]) ss += std::pow(d[i] - l.a - l.b * k[i], 2);
    l.sigma = std::sqrt(ss / std::max(1, l.n - 2));
    return l;
}

// Height of a bar across v at each of its dashes, fitted as a line along u.
bool barLine(const InkMap& ink, const Frame& fr, const DashRow& row, double v, double rowPx,
             double* slope, double* at0) {
    std::vector<double> us, vs;
    std::vector<bool> use;
    for (int i = 0; i < row.count; ++i) {
        double s = row.start + i * row.pitch;
        for (double part : {0.2, 0.75}) {
            double u0 = s + part * row.length, u1 = u0 + 0.1 * row.length;
            // The bar is the strongest ink across it; labels above the upper bar and ticks
            // beside both bars sit within reach once blurred, so only the peak itself is
            // weighed, down to half its height.
            std::vector<std::pair<double, double>> samples;
            double lo = 1e9, top = -1, topV = v;
            for (double dv = -2 * rowPx - 1; dv <= 2 * rowPx + 1; dv += 0.25) {
                double m = 0;
                int n = 0;
                for (double u = u0; u <= u1; u += 1, ++n)
                    m += ink.sample(fr.x(u, v + dv), fr.y(u, v + dv));
                m /= std::max(1, n);
                samples.push_back({v + dv, m});
                lo = std::min(lo, m);
                if (m > top) top = m, topV = v + dv;
            }
            double half = (top + lo) / 2, sw = 0, sv = 0, reach = std::max(1.5, 1.5 * rowPx);
            for (auto& [vv, m] : samples)
                if (std::fabs(vv - topV) <= reach && m > half)
                    sw += m - half, sv += (m - half) * vv;
            if (sw <= 0) continue;
            us.push_back((u0 + u1) / 2);
            vs.push_back(sv / sw);
            use.push_back(true);
        }
    }
    if (us.size() < 6) return false;
    // A dash where a label's ink won over the bar's lies off the bar by rows. The frame runs
    // along the bars within a small angle, so most dashes sit near their median height.
    std::vector<double> sorted(vs);
    std::nth_element(sorted.begin(), sorted.begin() + long(sorted.size() / 2), sorted.end());
    double median = sorted[sorted.size() / 2], near = std::max(0.6, 0.6 * rowPx);
    for (size_t i = 0; i < us.size(); ++i) use[i] = std::fabs(vs[i] - median) < 2 * near;
    Line l = fitLine(us, vs, use);
    for (size_t i = 0; i < us.size(); ++i) use[i] = std::fabs(vs[i] - l.a - l.b * us[i]) < near;
    l = fitLine(us, vs, use);
    if (l.n < 6) return false;
    *slope = l.b;
    *at0 = l.a;
    return true;
}

// Turns the frame so that u runs exactly along the bars; returns the bars' v in it.
bool straighten(const InkMap& ink, BarPair* pair, double* vTop, double* vBottom) {
    double vt = pair->top.v, vb = pair->bottom.v;
    for (int round = 0; round < 2; ++round) {
        double rowPx = (vb - vt) / BAR_ROWS, st = 0, sb = 0, ct = 0, cb = 0;
        if (!barLine(ink, pair->frame, pair->top, vt, rowPx, &st, &ct)) return false;
        if (!barLine(ink, pair->frame, pair->bottom, vb, rowPx, &sb, &cb)) return false;
        double m = (st + sb) / 2, turn = std::atan(m);
        Frame& f = pair->frame;
        double ox = f.x(0, ct), oy = f.y(0, ct);
        double a = std::atan2(f.sn, f.cs) + turn;
        f = Frame{ox, oy, std::cos(a), std::sin(a)};
        // The lower bar's height at u = 0 in the new frame.
        vb = (cb - ct) * std::cos(turn);
        vt = 0;
        pair->top.v = vt;
        pair->bottom.v = vb;
    }
    *vTop = vt;
    *vBottom = vb;
    return vb > vt;
}

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

// The lean line through measured (u, lean) points, rid of outliers; unknown from too few.
Lean fitLean(const std::vector<double>& us, const std::vector<double>& ls, size_t fewest) {
    Lean lean;
    if (us.size() < fewest) return lean;
    std::vector<bool> use(us.size(), true);
    lean.line = fitLine(us, ls, use);
    for (int round = 0; round < 2; ++round) {
        for (size_t i = 0; i < us.size(); ++i)
            use[i] =
                std::fabs(ls[i] - lean.line.a - lean.line.b * us[i]) <= 3 * lean.line.sigma + 1e-3;
        lean.line = fitLine(us, ls, use);
    }
    lean.known = lean.line.n >= int(fewest) && lean.line.sxx > 0;
    return lean;
}

// starts and pitches: each group's start and local pitch, upper print then lower.
// The lean is measured two ways. Each tick found near the top and near the bottom of its
// print's stretch gives its own lean; a stretch of three groups, its ink near the top matched
// against the same stretch near the bottom, gives one for nine ticks at once, and still
// matches where blur has merged each group's ticks (a 1440-dpi print in a phone photo) and
// ticks cannot be found one by one. Single ticks are not disturbed by the other print's ticks
// beside them, so they are kept unless the ticks are too close to part.
Lean measureLean(const InkMap& ink, const Frame& frame, const Rails& rails, double u0, double u1,
                 double pitch, const std::vector<double> starts[2],
                 const std::vector<double> pitches[2]) {
    std::vector<double> us, ls, stretchUs, stretchLs;
    // Ticks six pixels apart or more are always parted; their stretches are not needed.
    const bool mayMerge = 0.4 * pitch < 6;
    for (int print = 0; print < 2; ++print) {
        const auto* bands = print == 0 ? UPPER_LEAN : LOWER_LEAN;
        Profile a = profile(ink, frame, rails, u0, u1, bands[0][0], bands[0][1], pitch);
        Profile b = profile(ink, frame, rails, u0, u1, bands[1][0], bands[1][1], pitch);
        double rows = ((bands[1][0] + bands[1][1]) - (bands[0][0] + bands[0][1])) / 2;
        for (int i = 0; i < VERNIER_GROUPS; ++i) {
            double s = starts[print][size_t(i)], p = pitches[print][size_t(i)], ta[3], tb[3],
                   shift = 0;
            if (ticks(a, s, 0.8 * p, p, ta) && ticks(b, s, 0.8 * p, p, tb))
                for (int j = 0; j < 3; ++j) {
                    double u = (ta[j] + tb[j]) / 2;
                    us.push_back(u), ls.push_back((tb[j] - ta[j]) / (rows * rails.rowPx(u)));
                }
            // Within a third of a pitch either way the stretch cannot match its neighbour's ticks.
            Comb c;
            double centre = s + 0.4 * p;
            if (mayMerge && comb(a, centre, 1.5 * p, &c) && bestOverlap(c, b, 0, 0.3 * p, &shift))
                stretchUs.push_back(centre),
                    stretchLs.push_back(shift / (rows * rails.rowPx(centre)));
        }
    }
    // Stretches take in the other print's ticks beside them, which pull the match the further
    // the prints stand apart; so they are kept for ticks too close to be parted (under six
    // pixels apart: the 1440-dpi print in a phone photo), where single ticks are found in fewer
    // than two groups of three and the few found are the least blurred, not a fair sample.
    bool stretches = us.size() < 2 * 3 * VERNIER_GROUPS * 2 / 3 && mayMerge;
    Lean lean = stretches ? fitLean(stretchUs, stretchLs, VERNIER_GROUPS) : fitLean(us, ls, 18);
    lean.merged = stretches;
    // A flat scan shows no lean; where the fit cannot tell its lean from none (neither the
    // mean lean nor its change along the pattern stands out of the ticks' scatter), the
    // correction would only add the fit's noise, which a vernier with a small shift per group
    // cannot bear. Matched stretches of merged ticks in a flat scan turned a few degrees still
    // show a lean of up to 0.013 (the pixel grid crosses the ticks at another phase in each
    // band): below 0.015 theirs is not told from none.
    if (lean.known) {
        double meanError = lean.line.sigma / std::sqrt(double(lean.line.n));
        double meanLean = lean.line.a + lean.line.b * lean.line.kbar;
        double slopeError = lean.line.sigma / std::sqrt(lean.line.sxx);
        double floor = stretches ? 0.015 : 0, span = std::sqrt(lean.line.sxx / lean.line.n) * 2;
        if (std::fabs(meanLean) < std::max(3 * meanError, floor) &&
            std::fabs(lean.line.b) < std::max(3 * slopeError, floor / span))
            lean.known = false;
    }
    return lean;
}

// The family of a print is known from its pitch over its bars' distance, measured at the
// middle of the pattern after the projective correction; a photo at a slant still draws the
// two directions unequally, by about as much as the pitch changes along the pattern and the
// bars converge (a few hundredths at 15 degrees), plus three hundredths for what the
// correction leaves. The family is sure when no other lies within twice that spread.
bool familyIsSure(const FamilyShape& shape, double midPitch, const Rails& rails,
                  const GroupMap maps[2], double uMid, VernierReading* r) {
    double rowPx = rails.rowPx(uMid), half = (VERNIER_GROUPS - 1) / 2.0;
    r->familyRatio = midPitch / (BAR_ROWS * rowPx);
    double converge = std::fabs(rails.bs - rails.ts) * half * midPitch / (BAR_ROWS * rowPx);
    double foreshorten = std::max(std::fabs(maps[0].c), std::fabs(maps[1].c)) * half;
    r->familySpread = 0.03 + converge + foreshorten;
    for (const FamilyShape& f : VERNIER_FAMILIES)
        if (f.family != shape.family &&
            std::fabs(r->familyRatio / f.pitchOverBars - 1) < 2 * r->familySpread)
            return false;
    return std::fabs(r->familyRatio / shape.pitchOverBars - 1) < 2 * r->familySpread;
}

struct Measured {
    VernierReading reading;
    bool located = false;
};

double labelInk(const InkMap& ink, const Frame& fr, const Rails& rails, double s, double len) {
    double sum = 0;
    int n = 0;
    double rowStep = std::max(1.0, 1 / std::max(0.1, rails.rowPx(s)));
    for (double row = LABEL_BAND[0]; row <= LABEL_BAND[1]; row += rowStep)
        for (double u = s; u <= s + len; u += 1, ++n) {
            double v = rails.v(u, row);
            sum += ink.sample(fr.x(u, v), fr.y(u, v));
        }
    return n ? sum / n : 0;
}

// What an operator can do about a picture too blurred to measure.
// The reason leads with it; what was seen follows in brackets.
constexpr const char* TOO_BLURRED = "too blurred: hold the phone still, closer, or scan at 300 dpi";

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

// geometryPx: the standard error (pixels) the lean correction leaves at the meeting point.
// geometryFits: whether the groups of both prints stand where one projective map of the sheet
// puts them; a picture whose geometry is in doubt is never read as certain.
void verdict(VernierReading* r, const Line& l, const FamilyShape& shape, double stepPx, bool merged,
             const std::function<double(double)>& geometryPx, bool geometryFits) {
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

Measured measure(const InkMap& ink, BarPair pair) {
    Measured m;
    VernierReading& r = m.reading;
    double vt = 0, vb = 0;
    if (!straighten(ink, &pair, &vt, &vb)) {
        r.reason =
            "pattern not found: the bars could not be traced: lay the print flat and light it "
            "evenly";
        return m;
    }
    double rowPx = (vb - vt) / BAR_ROWS, pitch = pair.top.pitch;
    const FamilyShape* shape = Vernier_FamilyOf(pitch / (vb - vt), VERNIER_FAMILY_TOLERANCE);
    if (!shape) {
        r.reason = "pattern not found: dashed bars, but not spaced like a vernier";
        return m;
    }
    // The paper's noise is taken from the pitch beyond either end; a photo at a slant stretches
    // the far end of the pattern by up to a third of a pitch beyond where even spacing puts it.
    double u0 = std::min(pair.top.start, pair.bottom.start) - 2 * pitch;
    double u1 = std::max(pair.top.start, pair.bottom.start) + (pair.top.count + 2) * pitch;
    // The bars traced once more in the straightened frame: where they converge, so do the bands.
    Rails rails{vt, 0, vb, 0};
    {
        double st = 0, ct = 0, sb = 0, cb = 0;
        if (barLine(ink, pair.frame, pair.top, vt, rowPx, &st, &ct) &&
            barLine(ink, pair.frame, pair.bottom, vb, rowPx, &sb, &cb) && cb > ct)
            rails = Rails{ct, st, cb, sb};
    }
    Profile up = profile(ink, pair.frame, rails, u0, u1, UPPER_BAND[0], UPPER_BAND[1], pitch);
    Profile low = profile(ink, pair.frame, rails, u0, u1, LOWER_BAND[0], LOWER_BAND[1], pitch);
    // The calibration patterns shift by a two-hundredth of a pitch per group: a lean measured
    // on their ticks is not fine enough to correct them, and they are read from flat scans.
    bool adjustment = shape->family == FAMILY_ADJUST_540 || shape->family == FAMILY_ADJUST_720 ||
                      shape->family == FAMILY_ADJUST_1440;
    // Each print's groups where the paper puts them, and the local pitch. Where a print's
    // groups cannot be mapped (blurred shut, partly covered) they stay evenly spaced as the
    // bars were found.
    std::vector<double> starts[2], pitches[2];
    GroupMap maps[2];
    bool mapped = true;
    for (int print = 0; print < 2; ++print) {
        const DashRow& row = print == 0 ? pair.top : pair.bottom;
        const Profile& pr = print == 0 ? up : low;
        double barRow = print == 0 ? 0 : BAR_ROWS;
        Profile bar = profile(ink, pair.frame, rails, u0, u1, barRow - 0.5, barRow + 0.5, pitch);
        bool ok = mapGroups(pr, bar, row.start + row.length / 2, row.pitch, &maps[print]);
        mapped = mapped && ok;
        // A flat scan shows no foreshortening; there the evenly spaced groups of the bars are
        // the steadier guide, and the map only vouches for the geometry.
        ok = ok && std::fabs(maps[print].c) * (VERNIER_GROUPS - 1) / 2 > 0.01;
        for (int i = 0; i < VERNIER_GROUPS; ++i) {
            double p = ok ? maps[print].pitch(i) : row.pitch;
            starts[print].push_back(ok ? maps[print].at(i) - 0.4 * p
                                       : row.start + i * row.pitch +
                                             (row.length - 0.8 * row.pitch) / 2);
            pitches[print].push_back(p);
        }
    }
    // The offsets are taken in the pitch at the middle of the pattern: a group where the
    // picture is foreshortened shows its offset smaller by as much as its pitch.
    double midPitch = (pitches[0][VERNIER_GROUPS / 2] + pitches[1][VERNIER_GROUPS / 2]) / 2;
    auto scaleAt = [&](int i) {
        return midPitch * 2 / (pitches[0][size_t(i)] + pitches[1][size_t(i)]);
    };
    Lean lean =
        adjustment ? measureLean(ink, pair.frame, rails, u0, u1, pitch, starts, pitches) : Lean{};
    // The offset a lean alone would show between the two bands, at a group's ticks.
    auto leanOffset = [&](double u) { return lean.at(u) * BAND_DISTANCE * rails.rowPx(u); };
    if (lean.known) {
        up = profile(ink, pair.frame, rails, u0, u1, UPPER_BAND[0], UPPER_BAND[1], pitch,
                     lean.line.a, lean.line.b);
        low = profile(ink, pair.frame, rails, u0, u1, LOWER_BAND[0], LOWER_BAND[1], pitch,
                      lean.line.a, lean.line.b);
    }
    std::vector<double> ks, ds;
    std::vector<bool> use;
    int labels = 0;
    double white = labelInk(ink, pair.frame, rails, pair.top.start - 2 * pitch, pitch);
    for (int i = 0; i < VERNIER_GROUPS && i < pair.top.count && i < pair.bottom.count; ++i) {
        VernierGroup g;
        g.label = 9 - i;
        double st = starts[0][size_t(i)], sb = starts[1][size_t(i)], pt = pitches[0][size_t(i)],
               pb = pitches[1][size_t(i)];
        g.u = st;
        g.x = pair.frame.x(st + 0.4 * pt, rails.v(st + 0.4 * pt, 17));
        g.y = pair.frame.y(st + 0.4 * pt, rails.v(st + 0.4 * pt, 17));
        if (labelInk(ink, pair.frame, rails, st, 0.8 * pt) > white + 3 + up.noise) ++labels;
        double t[3], b[3];
        if (ticks(up, st, 0.8 * pt, pt, t) && ticks(low, sb, 0.8 * pb, pb, b)) {
            g.measured = true;
            g.offsetPx =
                (((b[0] - t[0]) + (b[1] - t[1]) + (b[2] - t[2])) / 3 - leanOffset(st + 0.4 * pt)) *
                scaleAt(i);
            ks.push_back(i + 1);
            ds.push_back(g.offsetPx);
            use.push_back(true);
        }
        r.groups.push_back(g);
    }
    m.located = true;
    r.pitchPx = pitch;
    r.barDistancePx = vb - vt;
    r.angleDeg = std::atan2(pair.frame.sn, pair.frame.cs) * 180 / 3.14159265358979323846;
    if (labels < VERNIER_GROUPS / 2) {
        m.located = false;
        r.reason =
            "pattern not found: bars like a vernier's, but without group labels under the "
            "groups: place the adjustment print itself in the picture";
        return m;
    }
    bool merged = lean.merged;
    if (int(ks.size()) < VERNIER_GROUPS / 2) {
        merged = true;
        ks.clear(), ds.clear();
        measureCombs(up, low, r.groups, 0.8 * pitch, pitch, shape->stepOverPitch * pitch, &ks, &ds);
        for (size_t j = 0; j < ks.size(); ++j) {
            int i = int(ks[j]) - 1;
            ds[j] = (ds[j] - leanOffset(r.groups[size_t(i)].u + 0.4 * pitches[0][size_t(i)])) *
                    scaleAt(i);
        }
        use.assign(ks.size(), true);
        for (VernierGroup& g : r.groups) g.measured = false;
        for (size_t j = 0; j < ks.size(); ++j) {
            VernierGroup& g = r.groups[size_t(ks[j]) - 1];
            g.measured = true;
            g.offsetPx = ds[j];
        }
    }
    if (int(ks.size()) < VERNIER_GROUPS / 2) {
        r.status = VERNIER_TOO_BLURRED;
        r.reason = std::string(TOO_BLURRED) + " (the ticks of only " + std::to_string(ks.size()) +
                   " of 19 groups can be told apart)";
        return m;
    }
    Line l = fitLine(ks, ds, use);
    for (size_t i = 0; i < ks.size(); ++i)
        if (std::fabs(ds[i] - l.a - l.b * ks[i]) > std::max(4 * l.sigma, 0.15 * std::fabs(l.b)))
            use[i] = false;
    l = fitLine(ks, ds, use);
    for (size_t i = 0, j = 0; i < r.groups.size(); ++i)
        if (r.groups[i].measured && !use[j++]) r.groups[i].measured = false;
    double step = std::fabs(l.b) / pitch;
    if (l.n < VERNIER_GROUPS / 2 || step < 0.6 * shape->stepOverPitch ||
        step > 1.5 * shape->stepOverPitch) {
        r.status = l.sigma > 0.3 * std::fabs(l.b) ? VERNIER_TOO_BLURRED : VERNIER_NOT_FOUND;
        r.reason = r.status == VERNIER_TOO_BLURRED
                       ? std::string(TOO_BLURRED) + " (the offsets do not follow the groups)"
                       : "pattern not found: the groups do not shift like a vernier's";
        m.located = r.status == VERNIER_TOO_BLURRED;
        return m;
    }
    double firstU = r.groups[0].u + 0.4 * pitches[0][0];
    // Ticks too close to part give the lean to about a hundredth at best (turned a few degrees,
    // a flat scan shows that much), which moves the 1440-dpi print's reading by most of a
    // group: such a reading is never certain, whatever its spread.
    bool geometryFits = mapped && std::max(maps[0].rms, maps[1].rms) < 0.05 * midPitch &&
                        !lean.merged &&
                        familyIsSure(*shape, midPitch, rails, maps, r.groups[9].u, &r);
    verdict(
        &r, l, *shape, shape->stepOverPitch * midPitch, merged,
        [&](double k) {
            double u = firstU + (k - 1) * pitch;
            return lean.error(u) * BAND_DISTANCE * rails.rowPx(u);
        },
        geometryFits);
    return m;
}

}  // namespace

extern const FamilyShape VERNIER_FAMILIES[] = {
    {FAMILY_ADJUST_540, (100.0 / 540) / (35.0 / 180), 2.0 / 100,
     "bidirectional adjustment, 540 dpi"},
    {FAMILY_ADJUST_720, (100.0 / 720) / (35.0 / 180), 2.0 / 100,
     "bidirectional adjustment, 720 dpi"},
    {FAMILY_ADJUST_1440, (100.0 / 1440) / (35.0 / 180), 2.0 / 100,
     "bidirectional adjustment, 1440 dpi"},
    {FAMILY_PATTERN_200, (200.0 / 720) / (35.0 / 180), 1.0 / 200,
     "calibration pattern, 200-dot groups"},
    {FAMILY_PATTERN_300, (300.0 / 720) / (35.0 / 180), 1.0 / 300,
     "calibration pattern, 300-dot groups"},
};

const FamilyShape* Vernier_FamilyOf(double pitchOverBars, double tolerance) {
    const FamilyShape* best = nullptr;
    for (const FamilyShape& f : VERNIER_FAMILIES) {
        double off = std::fabs(pitchOverBars / f.pitchOverBars - 1);
        if (off < tolerance && (!best || off < std::fabs(pitchOverBars / best->pitchOverBars - 1)))
            best = &f;
    }
    return best;
}

std::string Vernier_LabelText(int label) {
    char text[16];
    std::snprintf(text, sizeof text, "%02d", label);
    return text;
}

const char* Vernier_FamilyName(VernierFamily family) {
    for (const FamilyShape& f : VERNIER_FAMILIES)
        if (f.family == family) return f.name;
    return "unknown";
}

VernierFamily Vernier_FamilyOfAdjustment(int jobType) {
    if (jobType >= 5 && jobType <= 7) return FAMILY_ADJUST_540;
    if (jobType == 8 || jobType == 9) return FAMILY_ADJUST_720;
    if (jobType == 10) return FAMILY_ADJUST_1440;
    return FAMILY_UNKNOWN;
}

namespace {

// The ink map turned by quarter turns clockwise, and where its pixels lie on the picture.
InkMap turned(const InkMap& ink, int quarters) {
    InkMap out;
    bool swap = quarters % 2 != 0;
    out.w = swap ? ink.h : ink.w;
    out.h = swap ? ink.w : ink.h;
    out.v.resize(ink.v.size());
    for (uint32_t y = 0; y < out.h; ++y)
        for (uint32_t x = 0; x < out.w; ++x) {
            uint32_t sx = quarters == 1 ? y : quarters == 2 ? ink.w - 1 - x : ink.w - 1 - y;
            uint32_t sy = quarters == 1 ? ink.h - 1 - x : quarters == 2 ? ink.h - 1 - y : x;
            out.v[size_t(y) * out.w + x] = ink.v[size_t(sy) * ink.w + sx];
        }
    return out;
}

void backToPicture(const InkMap& ink, int quarters, double* x, double* y) {
    double tx = *x, ty = *y;
    if (quarters == 1)
        *x = ty, *y = ink.h - 1 - tx;
    else if (quarters == 2)
        *x = ink.w - 1 - tx, *y = ink.h - 1 - ty;
    else if (quarters == 3)
        *x = ink.w - 1 - ty, *y = tx;
}

// The modes whose adjustment prints are of a family, as the operator knows them.
std::string modesOf(VernierFamily family) {
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

// A print of another family than the one asked for: nothing of it is entered as this mode's.
VernierReading otherMode(VernierReading r, VernierFamily wanted, int mode) {
    std::string asked = mode > 0 ? "mode " + std::to_string(mode) : modesOf(wanted);
    r.status = VERNIER_OTHER_MODE;
    r.reason = "this print looks like " + modesOf(r.family) + " (" + Vernier_FamilyName(r.family) +
               "), not " + asked + ": print " + asked +
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

VernierReading readInk(const InkMap& ink, VernierFamily wanted, int mode) {
    VernierReading none;
    int longest = 0;
    double angle = 0;
    std::string cut;
    std::vector<BarPair> pairs = Vernier_LocateBars(ink, &longest, &angle, &cut);
    std::vector<VernierReading> found;
    std::string why;
    // At low resolution a bar and a band of blurred ticks can look alike, so several pairs of
    // one vernier may qualify; the pair whose groups shift as designed is the vernier.
    constexpr size_t MAX_PAIRS = 10;
    for (size_t i = 0; i < pairs.size() && i < MAX_PAIRS; ++i) {
        Measured m = measure(ink, pairs[i]);
        if (m.located)
            found.push_back(m.reading);
        else if (why.empty())
            why = m.reading.reason;
    }
    // A crowded sheet: other patterns and other modes' prints are not the one asked for.
    if (wanted != FAMILY_UNKNOWN) {
        bool have = std::any_of(found.begin(), found.end(),
                                [&](const VernierReading& r) { return r.family == wanted; });
        if (have)
            found.erase(std::remove_if(found.begin(), found.end(),
                                       [&](const VernierReading& r) { return r.family != wanted; }),
                        found.end());
        auto read = [](const VernierReading& r) {
            return r.status == VERNIER_READ || r.status == VERNIER_OUT_OF_RANGE;
        };
        auto other = std::find_if(found.begin(), found.end(), read);
        if (!have && other != found.end()) return otherMode(*other, wanted, mode);
    }
    auto rank = [](const VernierReading& r) {
        return r.status == VERNIER_READ || r.status == VERNIER_OUT_OF_RANGE ? 0 : 1;
    };
    std::stable_sort(
        found.begin(), found.end(),
        [&](const VernierReading& a, const VernierReading& b) { return rank(a) < rank(b); });
    if (found.empty()) {
        none.angleDeg = angle;
        none.reason = !cut.empty() ? "the print is cut off on the " + cut +
                                         ": place the whole print in the picture"
                      : !why.empty() ? why
                      : longest == 0 ? "pattern not found: no dashed bars on the picture: place "
                                       "the adjustment print in the picture"
                      : longest < VERNIER_GROUPS ? "pattern not found: only part of a print's bars "
                                                   "is seen: place the whole print in the picture, "
                                                   "flat and evenly lit"
                                                 : "pattern not found: dashed rows, but no two "
                                                   "that pair up like a vernier's bars: place the "
                                                   "whole adjustment print in the picture";
        return none;
    }
    VernierReading& best = found[0];
    for (size_t i = 1; i < found.size(); ++i) {
        const VernierReading& o = found[i];
        bool sameSpot = std::fabs(o.groups[0].x - best.groups[0].x) < best.pitchPx &&
                        std::fabs(o.groups[0].y - best.groups[0].y) < best.barDistancePx;
        if (sameSpot || o.status != VERNIER_READ || best.status != VERNIER_READ) continue;
        if (std::fabs(o.estimate - best.estimate) >= 0.5) {
            char text[160];
            // Asked for one mode's print, the two are of that mode.
            if (wanted != FAMILY_UNKNOWN)
                std::snprintf(text, sizeof text,
                              "two prints of %s on the picture: cover one (one lines up at \"%s\", "
                              "the other at \"%s\")",
                              mode > 0 ? ("mode " + std::to_string(mode)).c_str() : "this mode",
                              Vernier_LabelText(best.group).c_str(),
                              Vernier_LabelText(o.group).c_str());
            else
                std::snprintf(
                    text, sizeof text,
                    "two prints on the picture: cover one (one lines up at \"%s\", the other at "
                    "\"%s\")",
                    Vernier_LabelText(best.group).c_str(), Vernier_LabelText(o.group).c_str());
            best.status = VERNIER_TWO_CANDIDATES;
            best.reason = text;
            best.highConfidence = false;
            best.certain = false;
            break;
        }
    }
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
    VernierReading first = upright(readInk(ink, wanted, mode), 0);
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
        VernierReading r = readInk(turned(ink, quarters), wanted, mode);
        if (r.status == VERNIER_NOT_FOUND) continue;
        for (VernierGroup& g : r.groups) backToPicture(ink, quarters, &g.x, &g.y);
        r = upright(std::move(r), quarters);
        if (answers(r)) return r;
        if (fallback.status == VERNIER_NOT_FOUND) fallback = r;
    }
    return fallback;
}

int Vernier_GroupToEnter(const VernierReading& reading) {
    if (!reading.halfway) return reading.group;
    return std::abs(reading.neighbour) < std::abs(reading.group) ? reading.neighbour
                                                                 : reading.group;
}

void Vernier_MarkGroups(VernierImage* image, const VernierReading& reading) {
    auto dot = [&](double x, double y, uint8_t r, uint8_t g) {
        long xi = std::lround(x), yi = std::lround(y);
        if (xi < 0 || yi < 0 || xi >= long(image->width) || yi >= long(image->height)) return;
        uint8_t* p = image->at(uint32_t(xi), uint32_t(yi));
        p[0] = r, p[1] = g, p[2] = 0;
    };
    double half = reading.pitchPx * 0.45, tall = reading.barDistancePx * 0.7;
    for (const VernierGroup& g : reading.groups) {
        bool named = reading.status == VERNIER_READ && g.label == reading.group;
        uint8_t r = g.measured ? 0 : 220, gr = g.measured ? 170 : 0;
        for (int thick = 0; thick < (named ? 4 : 1); ++thick) {
            double h = half + thick, t = tall + thick;
            for (double s = -1; s <= 1; s += 0.5 / std::max(h, t)) {
                dot(g.x + s * h, g.y - t, r, gr);
                dot(g.x + s * h, g.y + t, r, gr);
                dot(g.x - h, g.y + s * t, r, gr);
                dot(g.x + h, g.y + s * t, r, gr);
            }
        }
    }
}
