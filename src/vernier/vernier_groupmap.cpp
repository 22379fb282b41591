// SPDX-License-Identifier: Apache-2.0
// The group map: where each print's groups stand along the bars, a one-dimensional projective
// map fitted to the groups found from the middle outwards, guided by the bar's own gaps.
#include <cmath>

#include "vernier/vernier_measure.h"

namespace reader {

namespace {

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

}  // namespace

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

}  // namespace reader
