// SPDX-License-Identifier: Apache-2.0
// Geometry: straight lines through measured points, the bars traced and the frame turned along
// them, the ticks' lean measured along the pattern, the labels' ink, and quarter turns.
#include <algorithm>
#include <cmath>

#include "vernier/vernier_measure.h"

namespace reader {

namespace {

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

}  // namespace

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
bool barLine(const InkMap& ink, const Frame& fr, const DashRow& row, double v0, double rowPx,
             double* slope, double* at0, double vSlope) {
    std::vector<double> us, vs;
    std::vector<bool> use;
    // A close-up at a slant foreshortens the row by a sixth or more from end to end, and the
    // dashes drift off the even spacing of the row's mean pitch by a third of a pitch at the
    // middle, where the samples would fall into the gaps and onto the ticks. Each dash is
    // followed where the bar's ink along its line shows it (the strongest ink across the
    // window at each u, summed over a dash's length), from where the last one was.
    const double window = 2 * rowPx + 1, reach = 0.4 * row.pitch;
    const double uFrom = row.start - row.pitch, uTo = row.start + (row.count + 1) * row.pitch;
    std::vector<double> sum(1, 0.0);  // prefix sums of the strongest ink across, from uFrom
    for (double u = uFrom; u < uTo; u += 1) {
        double top = 0;
        for (double dv = -window; dv <= window; dv += 0.5) {
            double v = v0 + vSlope * u + dv;
            top = std::max(top, double(ink.sample(fr.x(u, v), fr.y(u, v))));
        }
        sum.push_back(sum.back() + top);
    }
    auto inkOver = [&](double a) {
        size_t i0 = size_t(std::clamp(a - uFrom, 0.0, double(sum.size() - 1)));
        size_t i1 = size_t(std::clamp(a + row.length - uFrom, 0.0, double(sum.size() - 1)));
        return sum[i1] - sum[i0];
    };
    double drift = 0;
    for (int i = 0; i < row.count; ++i) {
        double nominal = row.start + i * row.pitch + drift, best = nominal,
               bestInk = inkOver(nominal);
        for (double d = -reach; d <= reach; d += 1)
            if (inkOver(nominal + d) > bestInk + 1e-6)
                bestInk = inkOver(nominal + d), best = nominal + d;
        // Within a seventh of a pitch (and two pixels) of even spacing the samples are well
        // inside the dash where the row put it.
        double off = best - (row.start + i * row.pitch);
        if (std::fabs(off) < std::max(2.0, 0.15 * row.pitch)) off = 0;
        drift = off;
        double s = row.start + i * row.pitch + off;
        for (double part : {0.2, 0.75}) {
            double u0 = s + part * row.length, u1 = u0 + 0.1 * row.length,
                   v = v0 + vSlope * (u0 + u1) / 2;
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
            }
            // Ink rising to the window's edge is the flank of something beyond it (a label seen
            // from a little off the bar's height), not the bar: the strongest peak within it.
            for (size_t k = 1; k + 1 < samples.size(); ++k) {
                double m = samples[k].second;
                if (m > top && m >= samples[k - 1].second && m >= samples[k + 1].second)
                    top = m, topV = samples[k].first;
            }
            if (top < 0) continue;
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
    // Heights are taken against the line looked along: a close-up at a slant converges the
    // bars by a row or more along the pattern.
    std::vector<double> sorted(vs);
    for (size_t i = 0; i < us.size(); ++i) sorted[i] -= vSlope * us[i];
    std::nth_element(sorted.begin(), sorted.begin() + long(sorted.size() / 2), sorted.end());
    double median = sorted[sorted.size() / 2], near = std::max(0.6, 0.6 * rowPx);
    for (size_t i = 0; i < us.size(); ++i)
        use[i] = std::fabs(vs[i] - vSlope * us[i] - median) < 2 * near;
    Line l = fitLine(us, vs, use);
    for (size_t i = 0; i < us.size(); ++i) use[i] = std::fabs(vs[i] - l.a - l.b * us[i]) < near;
    l = fitLine(us, vs, use);
    if (l.n < 6) return false;
    *slope = l.b;
    *at0 = l.a;
    return true;
}

// Turns the frame so that u runs along the bars; each bar is then looked for along the line
// it was found on, which in a close-up at a slant converges on the other by rows over the
// pattern (a height taken at u = 0, a pattern's length away, is far off where the bar is).
bool straighten(const InkMap& ink, BarPair* pair, Rails* bars) {
    double vt = pair->top.v, vb = pair->bottom.v, ts = 0, bs = 0;
    const double span = pair->top.count * pair->top.pitch, uMid = pair->top.start + span / 2;
    // Two rounds turn the frame onto bars drawn parallel; bars that converge are followed a
    // few rounds more, as each round's window reaches further along a converging bar.
    double converged = 0;
    for (int round = 0; round < 6; ++round) {
        if (round >= 2 && std::fabs((bs - ts) * span - converged) < 0.25) break;
        converged = (bs - ts) * span;
        double rowPx = ((vb + bs * uMid) - (vt + ts * uMid)) / BAR_ROWS, st = 0, sb = 0, ct = 0,
               cb = 0;
        if (!barLine(ink, pair->frame, pair->top, vt, rowPx, &st, &ct, ts)) return false;
        if (!barLine(ink, pair->frame, pair->bottom, vb, rowPx, &sb, &cb, bs)) return false;
        double m = (st + sb) / 2, turn = std::atan(m);
        Frame& f = pair->frame;
        double ox = f.x(0, ct), oy = f.y(0, ct);
        double a = std::atan2(f.sn, f.cs) + turn;
        f = Frame{ox, oy, std::cos(a), std::sin(a)};
        // The bars' lines in the new frame.
        vt = 0;
        vb = (cb - ct) * std::cos(turn);
        ts = st - m;
        bs = sb - m;
        pair->top.v = vt;
        pair->bottom.v = vb;
    }
    *bars = Rails{vt, ts, vb, bs};
    return bars->rowPx(uMid) > 0;
}

// starts and pitches: each group's start and local pitch, upper print then lower.
// The lean is measured two ways. Each tick found near the top and near the bottom of its
// print's stretch gives its own lean; a stretch of three groups, its ink near the top matched
// against the same stretch near the bottom, gives one for nine ticks at once, and still
// matches where blur has merged each group's ticks (a 1440-dpi print in a phone photo) and
// ticks cannot be found one by one. Single ticks are not disturbed by the other print's ticks
// beside them, so they are kept unless the ticks are too close to part.
Lean measureLean(const Bands& src, const std::vector<double> starts[2],
                 const std::vector<double> pitches[2]) {
    const Rails& rails = src.rails;
    const double pitch = src.pitch;
    std::vector<double> us, ls, stretchUs, stretchLs;
    // Ticks six pixels apart or more are always parted; their stretches are not needed.
    const bool mayMerge = TICK_SPACING * pitch < 6;
    for (int print = 0; print < 2; ++print) {
        const auto* bands = print == 0 ? UPPER_LEAN : LOWER_LEAN;
        Profile a = src.profile(bands[0][0], bands[0][1]);
        Profile b = src.profile(bands[1][0], bands[1][1]);
        double rows = ((bands[1][0] + bands[1][1]) - (bands[0][0] + bands[0][1])) / 2;
        for (int i = 0; i < VERNIER_GROUPS; ++i) {
            double s = starts[print][size_t(i)], p = pitches[print][size_t(i)], ta[3], tb[3],
                   shift = 0;
            if (ticks(a, s, TICKS_SPAN * p, p, ta) && ticks(b, s, TICKS_SPAN * p, p, tb))
                for (int j = 0; j < 3; ++j) {
                    double u = (ta[j] + tb[j]) / 2;
                    us.push_back(u), ls.push_back((tb[j] - ta[j]) / (rows * rails.rowPx(u)));
                }
            // Within a third of a pitch either way the stretch cannot match its neighbour's ticks.
            Comb c;
            double centre = s + TICK_SPACING * p;
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

double labelInk(const InkMap& ink, const Frame& fr, const Rails& rails, double s, double len,
                bool mirrored) {
    double sum = 0;
    int n = 0;
    double rowStep = std::max(1.0, 1 / std::max(0.1, rails.rowPx(s)));
    double from = mirrored ? BAR_ROWS - LABEL_BAND[1] : LABEL_BAND[0],
           to = mirrored ? BAR_ROWS - LABEL_BAND[0] : LABEL_BAND[1];
    for (double row = from; row <= to; row += rowStep)
        for (double u = s; u <= s + len; u += 1, ++n) {
            double v = rails.v(u, row);
            sum += ink.sample(fr.x(u, v), fr.y(u, v));
        }
    return n ? sum / n : 0;
}

// The ink map turned by quarter turns clockwise, and where its pixels lie on the picture.
InkMap turned(const InkMap& ink, int quarters) {
    InkMap out;
    bool swap = quarters % 2 != 0;
    out.w = swap ? ink.h : ink.w;
    out.h = swap ? ink.w : ink.h;
    out.v.resize(ink.v.size());
    // In tiles: a quarter turn reads the map down its columns, and a whole page's map read so
    // row after row misses the cache at every pixel.
    constexpr uint32_t TILE = 64;
    for (uint32_t y0 = 0; y0 < out.h; y0 += TILE)
        for (uint32_t x0 = 0; x0 < out.w; x0 += TILE)
            for (uint32_t y = y0; y < std::min(out.h, y0 + TILE); ++y)
                for (uint32_t x = x0; x < std::min(out.w, x0 + TILE); ++x) {
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

}  // namespace reader
