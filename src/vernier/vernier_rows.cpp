// SPDX-License-Identifier: Apache-2.0
// Dashed rows: the ink along a row cut into runs, runs chained into equally spaced dashes, rows
// whose gaps blur shut completed, and a bar missed by the projection looked for beside its
// partner.
#include <algorithm>
#include <cmath>
#include <deque>
#include <utility>

#include "vernier/vernier_rows.h"

namespace reader {

namespace {

struct Run {
    double start, end, mass;
};

// Blur lifts the short gaps between dashes; a valley well below the ink on both sides of it
// still parts two dashes, cut where the profile is below half-way between valley and ink.
std::vector<Run> splitValleys(const std::vector<float>& p, const std::vector<Run>& runs) {
    constexpr int NEAR = 3, SIDE = 12;
    std::vector<Run> out;
    for (const Run& r : runs) {
        size_t a = size_t(std::max(0.0, std::ceil(r.start))),
               b = std::min(p.size() - 1, size_t(r.end));
        double from = r.start;
        for (size_t i = a + NEAR; i + NEAR <= b; ++i) {
            bool lowest = true;
            for (size_t j = i - NEAR; j <= i + NEAR; ++j)
                if (p[j] < p[i] || (p[j] == p[i] && j < i)) lowest = false;
            if (!lowest) continue;
            float left = 0, right = 0;
            for (size_t j = (i > size_t(SIDE) ? i - SIDE : 0); j < i; ++j)
                left = std::max(left, p[j]);
            for (size_t j = i + 1; j <= std::min(p.size() - 1, i + SIDE); ++j)
                right = std::max(right, p[j]);
            float ink = std::min(left, right);
            if (p[i] > 0.5f * ink) continue;
            float half = (p[i] + ink) / 2;
            size_t l = i, h = i;
            while (l > a && p[l - 1] < half) --l;
            while (h < b && p[h + 1] < half) ++h;
            if (double(l) - 0.5 > from) out.push_back({from, double(l) - 0.5, r.mass});
            from = double(h) + 0.5;
            i = h;
        }
        out.push_back({from, r.end, r.mass});
    }
    return out;
}

std::vector<Run> runsOf(const std::vector<float>& p) {
    std::vector<float> strong;
    float top = *std::max_element(p.begin(), p.end());
    for (float s : p)
        if (s > 0.15f * top) strong.push_back(s);
    if (strong.empty() || top <= 0) return {};
    std::nth_element(strong.begin(), strong.begin() + long(strong.size() / 2), strong.end());
    float thr = 0.5f * strong[strong.size() / 2];
    std::vector<Run> runs;
    for (size_t i = 1; i < p.size(); ++i) {
        if (p[i] > thr && p[i - 1] <= thr) {
            double edge = double(i) - (p[i] - thr) / (p[i] - p[i - 1]);
            runs.push_back({edge, edge, 0});
        } else if (p[i] <= thr && p[i - 1] > thr && !runs.empty()) {
            runs.back().end = double(i) - (thr - p[i]) / (p[i - 1] - p[i]);
        }
        if (p[i] > thr && !runs.empty()) runs.back().mass += p[i];
    }
    if (!runs.empty() && runs.back().end <= runs.back().start) runs.pop_back();
    runs = splitValleys(p, runs);
    // A tick drawn into a bar may cut a hole of a column or two in it: close holes that are
    // small against the pieces beside them (the gaps between groups are a quarter of a dash,
    // less where blur has eaten into them).
    std::vector<Run> merged;
    double lastPiece = 0;  // length of the last piece itself, not of what it was merged into
    for (const Run& r : runs) {
        double piece = r.end - r.start;
        std::swap(piece, lastPiece);
        if (!merged.empty() && r.start - merged.back().end < 0.1 * std::max(piece, lastPiece)) {
            merged.back().end = r.end;
            merged.back().mass += r.mass;
            continue;
        }
        merged.push_back(r);
    }
    return merged;
}

// Blur can bridge the short gap between two dashes. Where most runs share one length and
// pitch, a run as long as several dashes and the gaps between them is cut back into dashes.
std::vector<Run> splitBridged(const std::vector<Run>& runs) {
    std::vector<double> pitches, lengths;
    for (size_t i = 0; i + 1 < runs.size(); ++i) {
        double len = runs[i].end - runs[i].start, next = runs[i + 1].end - runs[i + 1].start;
        if (len > 3 && std::fabs(next - len) < 0.15 * len) {
            pitches.push_back(runs[i + 1].start - runs[i].start);
            lengths.push_back(len);
        }
    }
    if (pitches.empty()) return runs;
    std::nth_element(pitches.begin(), pitches.begin() + long(pitches.size() / 2), pitches.end());
    std::nth_element(lengths.begin(), lengths.begin() + long(lengths.size() / 2), lengths.end());
    double pitch = pitches[pitches.size() / 2], len = lengths[lengths.size() / 2];
    if (len > 0.97 * pitch || len < 0.5 * pitch) return runs;
    std::vector<Run> out;
    for (const Run& r : runs) {
        double extra = (r.end - r.start - len) / pitch;
        int m = int(std::lround(extra));
        if (m < 1 || std::fabs(extra - m) > 0.15) {
            out.push_back(r);
            continue;
        }
        for (int i = 0; i <= m; ++i)
            out.push_back({r.start + i * pitch, r.start + i * pitch + len, r.mass / (m + 1)});
    }
    return out;
}

// The longest sequence of runs with a steady pitch and length. At low resolution each group's
// label blurs into one mark, and the row of labels keeps the groups' pitch where the bars' gaps
// have blurred shut (completeFrom() takes it from there); but a label is two characters ("09",
// "-1"), which the threshold parts in some groups. Runs that together span a dash's length
// where the pitch puts the next dash are taken as one. Only some marks come apart so: a row
// whose dashes are mostly pieced together is a band of ticks, not labels or a bar.
DashRow longestChain(const std::vector<Run>& found, double uOrigin) {
    std::vector<Run> runs = splitBridged(found);
    DashRow best;
    for (size_t i = 0; i + 1 < runs.size(); ++i) {
        double pitch = runs[i + 1].start - runs[i].start, len = runs[i].end - runs[i].start;
        if (pitch < 3 || len < 0.5 * pitch || len > 0.97 * pitch) continue;
        // Foreshortened, the dashes shrink along the row as the pitch does.
        const double pitch0 = pitch;
        auto dash = [&] { return len * pitch / pitch0; };
        auto fits = [&](double l) { return std::fabs(l - dash()) <= 0.3 * dash() + 1; };
        size_t j = i + 1;
        int count = 1, pieced = 0;
        double mass = runs[i].mass, lsum = len, last = runs[i].start;
        while (j < runs.size()) {
            // A thin line crossing the row between two dashes (a frame or another pattern's
            // rule on a crowded sheet) is a short run where a gap should be: passed over.
            while (j + 1 < runs.size() && runs[j].end - runs[j].start < 0.25 * dash() &&
                   runs[j].end < last + pitch - 0.05 * pitch)
                ++j;
            double step = runs[j].start - last;
            if (std::fabs(step - pitch) > 0.1 * pitch + 1) break;
            // A photo with one end of the print nearer the lens shrinks the pitch along the
            // row (by a sixth end to end, close up at 12 degrees): the pitch looked for next
            // follows the steps taken, smoothed against a dash's jitter.
            if (count >= 2) pitch = 0.6 * pitch + 0.4 * step;
            size_t k = j;
            double dashMass = runs[j].mass;
            while (!fits(runs[k].end - runs[j].start) && k + 1 < runs.size() &&
                   runs[k + 1].end - runs[j].start < 1.3 * dash() + 1)
                dashMass += runs[++k].mass;
            double lj = runs[k].end - runs[j].start;
            if (!fits(lj)) break;
            mass += dashMass, lsum += lj, last = runs[j].start, ++count;
            if (k > j) ++pieced;
            j = k + 1;
        }
        if (count > best.count && 2 * pieced <= count) {
            best.count = count;
            best.start = runs[i].start + uOrigin;
            best.pitch = (last - runs[i].start) / std::max(1, count - 1);
            best.length = lsum / count;
            best.strength = mass / count;
        }
    }
    return best;
}

// The profile less the least ink within reach either side: a reach longer than a pitch takes
// in a gap between dashes, so what is left is the dashes above whatever fills the gaps.
std::vector<float> aboveGaps(const std::vector<float>& p) {
    constexpr size_t REACH = 50;  // reduced pixels: a print a quarter of the picture wide or more
    std::vector<float> out(p.size());
    std::deque<size_t> low;  // indices of increasing ink: the least in the window first
    size_t n = p.size(), next = 0;
    for (size_t i = 0; i < n; ++i) {
        for (; next < n && next <= i + REACH; ++next) {
            while (!low.empty() && p[low.back()] >= p[next]) low.pop_back();
            low.push_back(next);
        }
        while (low.front() + REACH < i) low.pop_front();
        out[i] = p[i] - p[low.front()];
    }
    return out;
}

// The stretch of u where the row at height v crosses the picture, widened by two pieces and
// begun on the grid of pieces laid from -reach; empty (first > last) where it does not cross.
std::pair<double, double> crossing(const Reduced& r, double cs, double sn, double v, int piece) {
    double reach = double(r.w) + r.h, lo = -reach, hi = reach;
    auto within = [&](double base, double slope, double size) {
        if (std::fabs(slope) < 1e-9) {
            if (base < 0 || base > size) lo = hi + 1;
            return;
        }
        double a0 = (0 - base) / slope, a1 = (size - base) / slope;
        lo = std::max(lo, std::min(a0, a1)), hi = std::min(hi, std::max(a0, a1));
    };
    within(-v * sn, cs, r.w);
    within(v * cs, sn, r.h);
    if (lo > hi) return {reach + 1, reach};
    double first = -reach + piece * std::floor((lo - 2 * piece + reach) / piece);
    return {std::max(-reach, first), std::min(reach, hi + 2 * piece)};
}

// At low resolution the gaps of a bar can blur shut, wholly or in part, while another row (the
// other bar, or the group labels) still shows six groups or more at the groups' pitch. A row
// inked without a break as long as a gap from where a bar's first dash starts to where its
// last ends (19 groups less the last gap) is taken as a bar with that pitch. A band of blurred
// ticks can pass this too; the pairs are sorted out by whether their groups measure like a
// vernier.
bool completeFrom(DashRow* r, const DashRow& f) {
    double gap = 0.45 * f.pitch, want = (VERNIER_GROUPS - 1 + 0.8) * f.pitch;
    for (size_t i = 0; i < r->runs.size();) {
        double first = r->runs[i].first, last = r->runs[i].second, inked = last - first;
        for (++i; i < r->runs.size() && r->runs[i].first - last < gap; ++i)
            last = r->runs[i].second, inked += r->runs[i].second - r->runs[i].first;
        double pitch = (last - first) / (VERNIER_GROUPS - 1 + 0.8);
        bool overlaps =
            first < f.start + want && last > f.start - (VERNIER_GROUPS - f.count) * f.pitch;
        if (std::fabs(pitch / f.pitch - 1) < 0.04 && inked > 0.75 * (last - first) && overlaps) {
            r->start = first;
            r->pitch = pitch;
            r->length = 0.8 * pitch;
            r->count = VERNIER_GROUPS;
            r->strength = f.strength * inked / (last - first);
            return true;
        }
    }
    return false;
}

// Every chain of equally spaced dashes along a row, longest first: prints side by side at one
// height (an adjustment print beside a calibration pattern on a crowded sheet) are chains of
// their own, and the longer one must not hide the other. A few at most.
std::vector<DashRow> chainsOf(std::vector<Run> runs, double uOrigin) {
    std::vector<DashRow> out;
    while (out.size() < 4) {
        DashRow c = longestChain(runs, uOrigin);
        if (out.empty() ? c.count == 0 : c.count < MIN_CHAIN) break;
        const double from = c.start - uOrigin - 0.5 * c.pitch,
                     to = c.start - uOrigin + (c.count - 1) * c.pitch + c.length + 0.5 * c.pitch;
        const size_t before = runs.size();
        runs.erase(std::remove_if(runs.begin(), runs.end(),
                                  [&](const Run& r) { return r.end > from && r.start < to; }),
                   runs.end());
        out.push_back(c);
        if (runs.size() == before) break;
    }
    return out;
}

}  // namespace

std::vector<DashRow> dashRows(const Reduced& r, double a, double v) {
    double cs = std::cos(a), sn = std::sin(a);
    double reach = double(r.w) + r.h;
    auto at = [&](double u, double vv) { return r.sample(u * cs - vv * sn, u * sn + vv * cs); };
    std::vector<float> p;
    p.reserve(size_t(2 * reach) + 1);
    // The bar is followed piece by piece: a small error of the angle moves it off a fixed
    // height along its length, and a wide band would take in the labels above it.
    constexpr int PIECE = 24, OUTER = 7, INNER = 5;
    auto [first, hi] = crossing(r, cs, sn, v, PIECE);
    // Every sample is kept with the height it was taken at, so that a later look at the same
    // point (the same u and the same height, to the last bit) takes it again instead of
    // sampling anew: the piece's own heights at its even columns, and a flat look along the
    // row at the heights of either.
    struct Piece {
        double u0;
        double outerV[OUTER], innerV[INNER];
        float outer[OUTER][PIECE / 2];
        float inner[PIECE][INNER];
    };
    std::vector<Piece> pieces;
    double outerV[OUTER];
    {
        int k = 0;
        for (double dv = -1.5; dv <= 1.5; dv += 0.5) outerV[k++] = v + dv;
    }
    for (double u0 = first; u0 <= hi; u0 += PIECE) {
        Piece& pc = pieces.emplace_back();
        pc.u0 = u0;
        std::copy(outerV, outerV + OUTER, pc.outerV);
        double bestDv = 0, bestSum = -1;
        int k = 0;
        for (double dv = -1.5; dv <= 1.5; dv += 0.5, ++k) {
            double sum = 0;
            for (int i = 0; i < PIECE; i += 2) {
                float s = pc.outer[k][i / 2] = at(u0 + i, outerV[k]);
                sum += s;
            }
            if (sum > bestSum + 1e-3) bestSum = sum, bestDv = dv;
        }
        // Which of the piece's heights were sampled already at its even columns.
        int same[INNER];
        int m = 0;
        for (double dv = -0.5; dv <= 0.5; dv += 0.25, ++m) {
            pc.innerV[m] = v + bestDv + dv;
            same[m] = -1;
            for (int o = 0; o < OUTER; ++o)
                if (pc.innerV[m] == outerV[o]) same[m] = o;
        }
        for (int i = 0; i < PIECE && u0 + i <= reach; ++i) {
            float best = 0;
            for (m = 0; m < INNER; ++m) {
                float s = pc.inner[i][m] = i % 2 == 0 && same[m] >= 0 ? pc.outer[same[m]][i / 2]
                                                                      : at(u0 + i, pc.innerV[m]);
                best = std::max(best, s);
            }
            p.push_back(best);
        }
    }
    DashRow row;
    row.v = v;
    if (p.empty()) return {row};
    std::vector<Run> runs = runsOf(p);
    std::vector<DashRow> chains = chainsOf(runs, first);
    // A line drawn along the bar (a rule or frame of another pattern on a crowded sheet) fills
    // its gaps; above the ink of the gaps, the dashes still stand out.
    if (chains.empty() || chains[0].count < VERNIER_GROUPS - 4) {
        // Followed at its own height: a strong line beside the bar would draw the pieces to it.
        std::vector<float> flat(p.size());
        double flatV[INNER];
        {
            int m = 0;
            for (double dv = -0.5; dv <= 0.5; dv += 0.25) flatV[m++] = v + dv;
        }
        for (size_t piece = 0; piece * PIECE < flat.size(); ++piece) {
            const Piece& pc = pieces[piece];
            const size_t i0 = piece * PIECE, i1 = std::min(flat.size(), i0 + PIECE);
            // The piece's samples serve where they were taken at the same u and height.
            const bool sameU = pc.u0 == first + double(i0);
            int inner[INNER], outer[INNER];
            for (int q = 0; q < INNER; ++q) {
                inner[q] = outer[q] = -1;
                for (int m = 0; sameU && m < INNER; ++m)
                    if (flatV[q] == pc.innerV[m]) inner[q] = m;
                for (int o = 0; sameU && o < OUTER; ++o)
                    if (flatV[q] == pc.outerV[o]) outer[q] = o;
            }
            for (size_t i = i0; i < i1; ++i) {
                const size_t j = i - i0;
                const bool same = sameU && pc.u0 + int(j) == first + double(i);
                for (int q = 0; q < INNER; ++q) {
                    float s = same && inner[q] >= 0 ? pc.inner[j][inner[q]]
                              : same && j % 2 == 0 && outer[q] >= 0
                                  ? pc.outer[outer[q]][j / 2]
                                  : at(first + double(i), flatV[q]);
                    flat[i] = std::max(flat[i], s);
                }
            }
        }
        std::vector<Run> above = runsOf(aboveGaps(flat));
        std::vector<DashRow> other = chainsOf(above, first);
        if (!other.empty() && (chains.empty() || other[0].count > chains[0].count))
            chains = std::move(other), runs = std::move(above);
    }
    std::vector<std::vector<Run>> runsOfChain(chains.size(), runs);
    // The threshold that parts a row's dashes is taken from the ink along the whole row; a
    // print beside a bolder pattern at the same height (thin bars beside a calibration
    // pattern's solid ones) falls under the bolder one's threshold. With the chains found
    // taken out, what is left of the row is cut at a threshold of its own.
    if (!chains.empty() && chains[0].count >= MIN_CHAIN) {
        std::vector<float> rest(p);
        for (const DashRow& c : chains) {
            const double from = c.start - first - 0.5 * c.pitch,
                         to = c.start - first + (c.count - 1) * c.pitch + c.length + 0.5 * c.pitch;
            for (size_t i = size_t(std::max(0.0, std::floor(from)));
                 i < rest.size() && double(i) <= to; ++i)
                rest[i] = 0;
        }
        std::vector<Run> own = runsOf(rest);
        bool any = false;
        for (const DashRow& c : chainsOf(own, first))
            if (c.count >= MIN_CHAIN) chains.push_back(c), runsOfChain.push_back(own), any = true;
        // Its gaps blurred shut, it is no chain, but its runs may still complete it as a bar
        // (completeBridgedRows).
        if (!any && !own.empty()) chains.push_back(row), runsOfChain.push_back(own);
    }
    if (chains.empty()) chains.push_back(row), runsOfChain.push_back(runs);
    for (size_t k = 0; k < chains.size(); ++k) {
        chains[k].v = v;
        for (const Run& u : runsOfChain[k])
            chains[k].runs.push_back({u.start + first, u.end + first});
    }
    // Longest first, as the chains of one cut are.
    std::stable_sort(chains.begin(), chains.end(),
                     [](const DashRow& a, const DashRow& b) { return a.count > b.count; });
    return chains;
}

DashRow dashRow(const Reduced& r, double a, double v) { return dashRows(r, a, v)[0]; }

void completeBridgedRows(std::vector<DashRow>* rows) {
    std::vector<DashRow> steady;
    for (const DashRow& r : *rows)
        if (r.count >= 6) steady.push_back(r);
    for (DashRow& r : *rows) {
        if (r.count >= VERNIER_GROUPS - 4) continue;
        for (const DashRow& f : steady)
            if (std::fabs(r.v - f.v) >= 2 && completeFrom(&r, f)) break;
    }
}

// A bar one head row thick beside its print's ticks can show in the projection as no more than
// a shoulder of the ticks' peak, so no row is looked at there. Where one bar is seen whole, the
// other is looked for at the distances from it the families put it at, above and below. The
// rows found so are returned apart from those given.
std::vector<DashRow> partnerRows(const Reduced& r, double a, const std::vector<DashRow>& rows) {
    // A row follows its bar within a pixel and a half or two of the height it is looked for at.
    constexpr double STEP = 2;
    std::vector<DashRow> found;
    for (const DashRow& bar : rows) {
        if (bar.count < VERNIER_GROUPS - 4) continue;
        for (double side : {-1.0, 1.0}) {
            DashRow best;
            const FamilyShape* family = nullptr;
            auto keep = [&] {
                // Both bars are drawn alike; labels and ticks at such a distance make shorter
                // dashes.
                if (best.count < VERNIER_GROUPS - 4 ||
                    std::fabs(best.length / bar.length - 1) > 0.2)
                    return;
                // A bar found already, looked at from a little off its height, is not a new one.
                auto sameBar = [&](const DashRow& o) {
                    return std::fabs(o.v - best.v) < 1.5 * STEP && o.count >= VERNIER_GROUPS - 4;
                };
                if (std::none_of(rows.begin(), rows.end(), sameBar) &&
                    std::none_of(found.begin(), found.end(), sameBar))
                    found.push_back(best);
            };
            for (double dv = STEP; dv < 4 * bar.pitch; dv += STEP) {
                const FamilyShape* f = Vernier_FamilyOf(bar.pitch / dv);
                if (f != family) keep(), best = DashRow(), family = f;
                if (!f) continue;
                DashRow row = dashRow(r, a, bar.v + side * dv);
                if (row.count > best.count ||
                    (row.count == best.count && row.strength > best.strength))
                    best = row;
            }
            keep();
        }
    }
    return found;
}

}  // namespace reader
