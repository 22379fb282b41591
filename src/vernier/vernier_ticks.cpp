// SPDX-License-Identifier: Apache-2.0
// Ticks and combs: a band's profile along the bars, each print's three ticks of a group found
// together, and whole groups matched as combs where blur has merged their ticks.
#include <algorithm>
#include <cmath>

#include "vernier/vernier_measure.h"

namespace reader {

namespace {

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

}  // namespace

Profile Bands::profile(double row0, double row1, double leanAt0, double leanSlope) const {
    Profile out;
    out.u0 = u0;
    for (double u = u0; u <= u1; u += 1) {
        double v0 = rails.v(u, row0), v1 = rails.v(u, row1), s = 0, lean = leanAt0 + leanSlope * u;
        int steps = std::max(1, int(std::ceil(v1 - v0)));
        for (int j = 0; j <= steps; ++j) {
            double v = v0 + (v1 - v0) * j / steps, along = u + lean * (v - (v0 + v1) / 2);
            s += ink.sample(frame.x(along, v), frame.y(along, v));
        }
        out.p.push_back(float(s / (steps + 1)));
    }
    // The noise of the paper, from the white pitch before the first group and after the last:
    // the quieter of the two, as a line crossing the bars beside the print (a rule of the print's
    // own, another pattern on the sheet) may stand in one of them.
    auto spread = [&](double from, double to) {
        double mean = 0, var = 0;
        int n = 0;
        for (double i = std::max(0.0, from); i < to && i < double(out.p.size()); i += 1, ++n)
            mean += out.p[size_t(i)];
        if (n < 2) return 1e9;
        mean /= n;
        for (double i = std::max(0.0, from); i < to && i < double(out.p.size()); i += 1)
            var += (out.p[size_t(i)] - mean) * (out.p[size_t(i)] - mean);
        return std::sqrt(var / n);
    };
    double n = double(out.p.size()),
           quiet = std::min(spread(0, QUIET * pitch), spread(n - QUIET * pitch, n));
    if (quiet < 1e9) out.noise = std::max(0.5, quiet);
    return out;
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
    double start = s + (len - TICKS_SPAN * pitch) / 2, spacing = TICK_SPACING * pitch;
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

// The centre of one group's three ticks in a print's band near guess. The three are looked for
// together as a comb scored by its weakest tooth, so that two ticks of this group and one of a
// neighbour's never pass for a group; then each tick is centred where ticks() can part them,
// else (blurred together) the comb's peak is taken: it is symmetric about the centre, so blur
// does not move it.
bool groupCentre(const Profile& pr, double guess, double pitch, double* centre) {
    constexpr double STEP = 0.25;
    auto combAt = [&](double c) {
        return std::min(
            {pr.at(c - TICK_SPACING * pitch), pr.at(c), pr.at(c + TICK_SPACING * pitch)});
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
    if (ticks(pr, best - TICK_SPACING * pitch, TICKS_SPAN * pitch, pitch, t) &&
        std::fabs((t[0] + t[1] + t[2]) / 3 - best) < 0.1 * pitch) {
        *centre = (t[0] + t[1] + t[2]) / 3;
        return true;
    }
    double l = combAt(best - STEP), r = combAt(best + STEP), den = l - 2 * bestS + r;
    *centre = best + (den < 0 ? std::clamp(0.5 * (l - r) / den, -1.0, 1.0) * STEP : 0);
    return true;
}

}  // namespace reader
