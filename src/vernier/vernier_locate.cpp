// SPDX-License-Identifier: Apache-2.0
// Finding a vernier on a picture: ink map, the bars' angle, and pairs of dashed bars with
// equally spaced dashes, worked out on a reduced copy of the picture.
#include <algorithm>
#include <cmath>
#include <functional>

#include "vernier/vernier_internal.h"

namespace {

constexpr double PI = 3.14159265358979323846;
// A phone held over the sheet turns it a little off the picture's sides; quarter turns are
// tried apart.
constexpr double MAX_ANGLE_DEG = 15.0;
constexpr uint32_t REDUCED_SIDE = 1500;  // the reduced copy's longer side, about
constexpr int MIN_CHAIN = 8;             // dash rows shorter than this are not kept

// The paper's level of one colour channel: the most common bright value.
int paperLevel(const VernierImage& image, int channel) {
    std::vector<uint32_t> hist(256, 0);
    size_t n = size_t(image.width) * image.height;
    size_t step = n > 4000000 ? n / 4000000 : 1;
    for (size_t i = 0; i < n; i += step) ++hist[image.rgb[i * 3 + size_t(channel)]];
    int best = 255;
    std::vector<uint64_t> count(256, 0);
    uint64_t bestCount = 0;
    for (int v = 64; v < 256; ++v) {
        for (int d = -2; d <= 2; ++d)
            if (v + d >= 0 && v + d < 256) count[size_t(v)] += hist[size_t(v + d)];
        if (count[size_t(v)] > bestCount) bestCount = count[size_t(v)], best = v;
    }
    // A photo may show more table than sheet: the paper is the brightest level that is common,
    // not the most common one.
    for (int v = 254; v > best; --v)
        if (count[size_t(v)] >= bestCount / 3 && count[size_t(v)] >= count[size_t(v) - 1] &&
            count[size_t(v)] >= count[size_t(v) + 1])
            return v;
    return best;
}

struct Reduced {
    uint32_t w = 0, h = 0;
    int f = 1;
    std::vector<float> v;
    float at(int x, int y) const {
        if (x < 0 || y < 0 || x >= int(w) || y >= int(h)) return 0;
        return v[size_t(y) * w + size_t(x)];
    }
    float sample(double x, double y) const {
        int x0 = int(std::floor(x)), y0 = int(std::floor(y));
        double fx = x - x0, fy = y - y0;
        return float((at(x0, y0) * (1 - fx) + at(x0 + 1, y0) * fx) * (1 - fy) +
                     (at(x0, y0 + 1) * (1 - fx) + at(x0 + 1, y0 + 1) * fx) * fy);
    }
};

Reduced reduce(const InkMap& ink) {
    Reduced r;
    uint32_t side = std::max(ink.w, ink.h);
    r.f = std::max(1, int(std::lround(double(side) / REDUCED_SIDE)));
    r.w = std::max(1u, ink.w / uint32_t(r.f));
    r.h = std::max(1u, ink.h / uint32_t(r.f));
    r.v.assign(size_t(r.w) * r.h, 0);
    double norm = 1.0 / (r.f * r.f);
    for (uint32_t y = 0; y < r.h; ++y)
        for (uint32_t x = 0; x < r.w; ++x) {
            double s = 0;
            for (int dy = 0; dy < r.f; ++dy) {
                const float* row = &ink.v[size_t(y * r.f + dy) * ink.w + x * r.f];
                for (int dx = 0; dx < r.f; ++dx) s += row[dx];
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

// Projection of the ink across lines at angle a (radians): sum of squares, high when the
// ink sits on few lines.
double sharpness(const std::vector<InkPoint>& pts, double a, const Reduced& r,
                 std::vector<double>* bins) {
    double cs = std::cos(a), sn = std::sin(a);
    double span = r.w + r.h + 2.0;
    bins->assign(size_t(2 * span) + 2, 0.0);
    for (const InkPoint& p : pts) {
        double v = -p.x * sn + p.y * cs + span;
        size_t b = size_t(v);
        double fr = v - double(b);
        (*bins)[b] += p.w * (1 - fr);
        (*bins)[b + 1] += p.w * fr;
    }
    double s = 0;
    for (double b : *bins) s += b * b;
    return s;
}

double findAngle(const std::vector<InkPoint>& pts, const Reduced& r) {
    std::vector<double> bins;
    double best = 0, bestScore = -1;
    // Coarse, then finer around the best: a bar a thousand reduced pixels long is still a
    // sharp line of the projection a quarter of a degree off.
    for (double step : {0.25, 0.05, 0.01}) {
        double centre = best, reach = step == 0.25 ? MAX_ANGLE_DEG : 5 * step;
        for (double d = centre - reach; d <= centre + reach + 1e-9; d += step) {
            double s = sharpness(pts, d * PI / 180, r, &bins);
            if (s > bestScore) bestScore = s, best = d;
        }
    }
    return best * PI / 180;
}

// Peaks of the projection: heights across the bars worth a look, strongest first.
std::vector<double> projectionPeaks(const std::vector<InkPoint>& pts, double a, const Reduced& r) {
    std::vector<double> bins;
    sharpness(pts, a, r, &bins);
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
        auto fits = [&](double l) { return std::fabs(l - len) <= 0.3 * len + 1; };
        size_t j = i + 1;
        int count = 1, pieced = 0;
        double mass = runs[i].mass, lsum = len, last = runs[i].start;
        while (j < runs.size()) {
            if (std::fabs(runs[j].start - last - pitch) > 0.1 * pitch + 1) break;
            size_t k = j;
            double dashMass = runs[j].mass;
            while (!fits(runs[k].end - runs[j].start) && k + 1 < runs.size() &&
                   runs[k + 1].end - runs[j].start < len + 0.3 * len + 1)
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

DashRow dashRow(const Reduced& r, double a, double v) {
    double cs = std::cos(a), sn = std::sin(a);
    double reach = double(r.w) + r.h;
    auto at = [&](double u, double vv) { return r.sample(u * cs - vv * sn, u * sn + vv * cs); };
    std::vector<float> p;
    p.reserve(size_t(2 * reach) + 1);
    // The bar is followed piece by piece: a small error of the angle moves it off a fixed
    // height along its length, and a wide band would take in the labels above it.
    constexpr int PIECE = 24;
    // Only the stretch of u where the row crosses the picture is followed (on the same grid of
    // pieces as from -reach); the rest would be blank.
    double lo = -reach, hi = reach;
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
    double first =
        lo > hi ? reach + 1 : -reach + PIECE * std::floor((lo - 2 * PIECE + reach) / PIECE);
    first = std::max(-reach, first);
    hi = std::min(reach, hi + 2 * PIECE);
    for (double u0 = first; u0 <= hi; u0 += PIECE) {
        double bestDv = 0, bestSum = -1;
        for (double dv = -1.5; dv <= 1.5; dv += 0.5) {
            double sum = 0;
            for (int i = 0; i < PIECE; i += 2) sum += at(u0 + i, v + dv);
            if (sum > bestSum + 1e-3) bestSum = sum, bestDv = dv;
        }
        for (int i = 0; i < PIECE && u0 + i <= reach; ++i) {
            float best = 0;
            for (double dv = -0.5; dv <= 0.5; dv += 0.25)
                best = std::max(best, at(u0 + i, v + bestDv + dv));
            p.push_back(best);
        }
    }
    DashRow row;
    row.v = v;
    if (p.empty()) return row;
    std::vector<Run> runs = runsOf(p);
    row = longestChain(runs, first);
    row.v = v;
    for (const Run& r : runs) row.runs.push_back({r.start + first, r.end + first});
    return row;
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
                const FamilyShape* f = Vernier_FamilyOf(bar.pitch / dv, 0.15);
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

bool pairs(const DashRow& t, const DashRow& b) {
    double dv = b.v - t.v;
    if (dv <= 0 || t.count < VERNIER_GROUPS - 4 || b.count < VERNIER_GROUPS - 4) return false;
    if (std::fabs(b.pitch / t.pitch - 1) > 0.04) return false;
    // Both bars come from one head, so the pitch over their distance names the pattern family.
    return Vernier_FamilyOf(t.pitch / dv, VERNIER_FAMILY_TOLERANCE) != nullptr;
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
    if (hi - lo != VERNIER_GROUPS) return false;
    t->start += lo * t->pitch;
    b->start += (lo - n) * b->pitch;
    t->count = b->count = VERNIER_GROUPS;
    return true;
}

}  // namespace

float InkMap::sample(double x, double y) const {
    int x0 = int(std::floor(x)), y0 = int(std::floor(y));
    if (x0 < 0 || y0 < 0 || x0 + 1 >= int(w) || y0 + 1 >= int(h)) return 0;
    double fx = x - x0, fy = y - y0;
    const float* p = &v[size_t(y0) * w + size_t(x0)];
    return float((p[0] * (1 - fx) + p[1] * fx) * (1 - fy) + (p[w] * (1 - fx) + p[w + 1] * fx) * fy);
}

// A photo lights the sheet unevenly (a gradient, a shadow's edge, glare) and shows more than
// the sheet (a table, a dark lid). The paper's level is taken locally: the brightest of each
// small block of the picture (a block holds paper beside any ink of the pattern), interpolated
// between block centres. Where that level is far below the sheet's
// own, there is no paper and no ink.
InkMap Vernier_InkMap(const VernierImage& image) {
    InkMap m;
    m.w = image.width;
    m.h = image.height;
    m.v.assign(size_t(m.w) * m.h, 0);
    int paper[3];
    for (int c = 0; c < 3; ++c) paper[c] = paperLevel(image, c);
    constexpr uint32_t BLOCK = 32;
    uint32_t bw = (m.w + BLOCK - 1) / BLOCK, bh = (m.h + BLOCK - 1) / BLOCK;
    // A high percentile rather than the maximum, so a speck of glare or noise is not the paper.
    std::vector<float> level(size_t(bw) * bh * 3, 0);
    std::vector<uint32_t> hist(256);
    for (uint32_t by = 0; by < bh; ++by)
        for (uint32_t bx = 0; bx < bw; ++bx)
            for (int c = 0; c < 3; ++c) {
                std::fill(hist.begin(), hist.end(), 0);
                uint32_t n = 0;
                for (uint32_t y = by * BLOCK; y < std::min(m.h, (by + 1) * BLOCK); y += 2)
                    for (uint32_t x = bx * BLOCK; x < std::min(m.w, (bx + 1) * BLOCK); x += 2)
                        ++hist[image.at(x, y)[c]], ++n;
                uint32_t want = n / 50, seen = 0;
                int v = 255;
                while (v > 0 && (seen += hist[size_t(v)]) <= want) --v;
                level[(size_t(by) * bw + bx) * 3 + size_t(c)] = float(v);
            }
    // A block whose own paper is dark is background; blocks are small enough that a shadow's
    // edge moves the level within a block or two, and large enough to hold paper beside the
    // pattern's ink, so each keeps its own level.
    // Each row's paper level is interpolated between block centres once per block column and
    // linearly along the row; what depends on the level alone (whether it is paper, and the
    // scale from a pixel's darkness to ink) is worked out there, so a pixel costs a subtraction
    // and a multiplication per colour.
    std::vector<float> colLevel(size_t(bw) * 3);
    struct Scale {
        float level[3], inv[3];
        bool onPaper;
    };
    std::vector<Scale> row(m.w);
    auto scaleRow = [&](uint32_t y) {
        float* out = &m.v[size_t(y) * m.w];
        const uint8_t* px = image.at(0, y);
        for (uint32_t x = 0; x < m.w; ++x, px += 3) {
            const Scale& sc = row[x];
            if (!sc.onPaper) continue;
            float best = 0;
            for (int c = 0; c < 3; ++c)
                best = std::max(best, (sc.level[c] - float(px[c])) * sc.inv[c]);
            out[x] = best;
        }
    };
    float invPaper[3];
    for (int c = 0; c < 3; ++c) invPaper[c] = 1.0f / float(std::max(1, paper[c]));
    // The level changes by a block's worth over 32 rows; taken afresh every 4 rows (at their
    // middle) it is within an eighth of that of each row's own.
    constexpr uint32_t ROWS_PER_LEVEL = 4;
    for (uint32_t y = 0; y < m.h; ++y) {
        if (y % ROWS_PER_LEVEL != 0) {
            scaleRow(y);
            continue;
        }
        double fy = std::clamp((std::min(m.h - 1, y + ROWS_PER_LEVEL / 2) + 0.0) / BLOCK - 0.5, 0.0,
                               double(bh - 1));
        uint32_t y0 = uint32_t(fy), y1 = std::min(bh - 1, y0 + 1);
        float ty = float(fy - y0);
        for (uint32_t bx = 0; bx < bw; ++bx)
            for (size_t c = 0; c < 3; ++c)
                colLevel[bx * 3 + c] = level[(size_t(y0) * bw + bx) * 3 + c] * (1 - ty) +
                                       level[(size_t(y1) * bw + bx) * 3 + c] * ty;
        for (uint32_t x = 0; x < m.w; ++x) {
            double fx = std::clamp((x + 0.5) / BLOCK - 0.5, 0.0, double(bw - 1));
            uint32_t x0 = uint32_t(fx), x1 = std::min(bw - 1, x0 + 1);
            float tx = float(fx - x0), lo = 1e9f, hi = 0;
            Scale& sc = row[x];
            for (size_t c = 0; c < 3; ++c) {
                float l =
                    std::max(1.0f, colLevel[x0 * 3 + c] * (1 - tx) + colLevel[x1 * 3 + c] * tx);
                float ratio = l * invPaper[c];
                lo = std::min(lo, ratio), hi = std::max(hi, ratio);
                sc.level[c] = l;
                sc.inv[c] = 255.0f / l;
            }
            // Paper at least a quarter as bright as the sheet's own level, lit evenly in all
            // colours (a shadow darkens them alike, a table does not); anything else is background.
            sc.onPaper = lo > 0.25f && lo > 0.7f * hi;
        }
        scaleRow(y);
    }
    return m;
}

namespace {

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

}  // namespace

std::vector<BarPair> Vernier_LocateBars(const InkMap& ink, int* longestRow, double* angleDeg,
                                        std::string* cutSide) {
    *longestRow = 0;
    *angleDeg = 0;
    std::vector<BarPair> out;
    if (ink.w < 16 || ink.h < 16) return out;
    Reduced r = reduce(ink);
    std::vector<InkPoint> pts = inkPoints(r);
    if (pts.size() < 50) return out;
    double a = findAngle(pts, r);
    *angleDeg = a * 180 / PI;
    std::vector<DashRow> rows;
    for (double v : projectionPeaks(pts, a, r)) {
        DashRow row = dashRow(r, a, v);
        *longestRow = std::max(*longestRow, row.count);
        rows.push_back(row);
    }
    completeBridgedRows(&rows);
    if (cutSide) *cutSide = cutSideOf(rows, r, a);
    rows.erase(std::remove_if(rows.begin(), rows.end(),
                              [](const DashRow& r) { return r.count < MIN_CHAIN; }),
               rows.end());
    std::sort(rows.begin(), rows.end(),
              [](const DashRow& p, const DashRow& q) { return p.v < q.v; });
    auto pairUp = [&](const DashRow& t, const DashRow& b, std::vector<BarPair>* into) {
        if (!pairs(t, b)) return;
        for (const std::vector<BarPair>* seen : {&out, into})
            for (const BarPair& o : *seen)
                if (std::fabs(o.top.v - t.v * r.f) < 0.3 * o.top.pitch &&
                    std::fabs(o.bottom.v - b.v * r.f) < 0.3 * o.top.pitch)
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
    };
    auto byStrength = [](const BarPair& p, const BarPair& q) {
        return p.top.strength + p.bottom.strength > q.top.strength + q.bottom.strength;
    };
    for (const DashRow& t : rows)
        for (const DashRow& b : rows) pairUp(t, b, &out);
    std::sort(out.begin(), out.end(), byStrength);
    // The pairs with a partner row come after those of the rows seen in the projection: they
    // are wanted where a bar was missed, not in place of a pair already found.
    std::vector<DashRow> partners = partnerRows(r, a, rows), all = rows;
    all.insert(all.end(), partners.begin(), partners.end());
    std::vector<BarPair> more;
    for (size_t i = 0; i < all.size(); ++i)
        for (size_t j = 0; j < all.size(); ++j)
            if (std::max(i, j) >= rows.size()) pairUp(all[i], all[j], &more);
    std::sort(more.begin(), more.end(), byStrength);
    out.insert(out.end(), more.begin(), more.end());
    return out;
}
