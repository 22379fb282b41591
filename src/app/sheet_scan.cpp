// SPDX-License-Identifier: Apache-2.0
// The calibration sheet's reader: marks first (a solid anchor, a row of cells and an end bar in
// black), then for each mark the print beside it, cut out of the picture and given to the
// vernier reader as the print of the mark's mode.
#include "app/sheet_scan.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <map>

namespace {

// The reduced picture the marks are looked for in: the darkest channel's opposite (the largest
// of R, G, B), so black is dark and the prints' coloured ink is not.
struct Grey {
    uint32_t w = 0, h = 0;
    uint32_t factor = 1;  // picture pixels per grey pixel, each way
    std::vector<uint8_t> v;
    uint8_t at(int64_t x, int64_t y) const {
        x = std::clamp<int64_t>(x, 0, int64_t(w) - 1);
        y = std::clamp<int64_t>(y, 0, int64_t(h) - 1);
        return v[size_t(y) * w + size_t(x)];
    }
};

constexpr uint32_t MAX_GREY_SIDE = 3000;
constexpr uint32_t BLOCK = 32;

Grey reduce(const VernierImage& image) {
    Grey g;
    uint32_t side = std::max(image.width, image.height);
    g.factor = std::max<uint32_t>(1, (side + MAX_GREY_SIDE - 1) / MAX_GREY_SIDE);
    g.w = std::max<uint32_t>(1, image.width / g.factor);
    g.h = std::max<uint32_t>(1, image.height / g.factor);
    g.v.assign(size_t(g.w) * g.h, 255);
    const uint32_t f = g.factor;
    std::vector<uint32_t> sum(g.w);
    for (uint32_t y = 0; y < g.h; ++y) {
        std::fill(sum.begin(), sum.end(), 0);
        for (uint32_t dy = 0; dy < f; ++dy) {
            const uint8_t* row = image.at(0, y * f + dy);
            for (uint32_t x = 0; x < g.w; ++x)
                for (uint32_t dx = 0; dx < f; ++dx) {
                    const uint8_t* p = row + size_t(x * f + dx) * 3;
                    sum[x] += std::max({p[0], p[1], p[2]});
                }
        }
        for (uint32_t x = 0; x < g.w; ++x) g.v[size_t(y) * g.w + x] = uint8_t(sum[x] / (f * f));
    }
    return g;
}

// The paper's level around each block: a high percentile of the block, then the largest of
// its neighbours, so a block filled with ink takes the paper beside it.
std::vector<uint8_t> paperLevels(const Grey& g, uint32_t* bw, uint32_t* bh) {
    *bw = (g.w + BLOCK - 1) / BLOCK;
    *bh = (g.h + BLOCK - 1) / BLOCK;
    std::vector<uint8_t> level(size_t(*bw) * *bh, 255);
    for (uint32_t by = 0; by < *bh; ++by)
        for (uint32_t bx = 0; bx < *bw; ++bx) {
            uint32_t hist[256] = {};
            uint32_t n = 0;
            for (uint32_t y = by * BLOCK; y < std::min(g.h, (by + 1) * BLOCK); ++y)
                for (uint32_t x = bx * BLOCK; x < std::min(g.w, (bx + 1) * BLOCK); ++x, ++n)
                    ++hist[g.v[size_t(y) * g.w + x]];
            uint32_t seen = 0;
            int v = 255;
            for (; v > 0; --v) {
                seen += hist[v];
                if (seen * 20 >= n) break;
            }
            level[size_t(by) * *bw + bx] = uint8_t(v);
        }
    std::vector<uint8_t> out(level.size());
    for (uint32_t by = 0; by < *bh; ++by)
        for (uint32_t bx = 0; bx < *bw; ++bx) {
            uint8_t m = 0;
            for (int dy = -1; dy <= 1; ++dy)
                for (int dx = -1; dx <= 1; ++dx) {
                    int64_t x = int64_t(bx) + dx, y = int64_t(by) + dy;
                    if (x < 0 || y < 0 || x >= int64_t(*bw) || y >= int64_t(*bh)) continue;
                    m = std::max(m, level[size_t(y) * *bw + size_t(x)]);
                }
            out[size_t(by) * *bw + bx] = m;
        }
    return out;
}

struct Blob {
    double area = 0, sx = 0, sy = 0, sxx = 0, syy = 0, sxy = 0, ink = 0;
    double cx = 0, cy = 0, length = 0, width = 0, ax = 1, ay = 0;  // long axis (ax, ay)
};

void finish(Blob* b) {
    b->cx = b->sx / b->area;
    b->cy = b->sy / b->area;
    const double vxx = b->sxx / b->area - b->cx * b->cx + 1.0 / 12;
    const double vyy = b->syy / b->area - b->cy * b->cy + 1.0 / 12;
    const double vxy = b->sxy / b->area - b->cx * b->cy;
    const double tr = vxx + vyy, det = vxx * vyy - vxy * vxy;
    const double disc = std::sqrt(std::max(0.0, tr * tr / 4 - det));
    const double l1 = tr / 2 + disc, l2 = std::max(1e-9, tr / 2 - disc);
    b->length = std::sqrt(12 * l1);
    b->width = std::sqrt(12 * l2);
    const double angle = 0.5 * std::atan2(2 * vxy, vxx - vyy);
    b->ax = std::cos(angle);
    b->ay = std::sin(angle);
    b->ink /= b->area;
}

// Solid dark shapes: connected ink (under 55% of the local paper level) of at least a few
// pixels, with their moments.
std::vector<Blob> blobs(const Grey& g, std::vector<uint8_t>* paperOut, uint32_t* bwOut) {
    uint32_t bw = 0, bh = 0;
    std::vector<uint8_t> paper = paperLevels(g, &bw, &bh);
    std::vector<int32_t> label(size_t(g.w) * g.h, -1);
    std::vector<uint8_t> ink(size_t(g.w) * g.h, 0);
    for (uint32_t y = 0; y < g.h; ++y)
        for (uint32_t x = 0; x < g.w; ++x) {
            const uint8_t p = paper[size_t(y / BLOCK) * bw + x / BLOCK];
            ink[size_t(y) * g.w + x] = p >= 60 && g.v[size_t(y) * g.w + x] * 100 < p * 55u;
        }
    std::vector<Blob> out;
    std::vector<uint32_t> stack;
    for (uint32_t y0 = 0; y0 < g.h; ++y0)
        for (uint32_t x0 = 0; x0 < g.w; ++x0) {
            size_t i0 = size_t(y0) * g.w + x0;
            if (!ink[i0] || label[i0] >= 0) continue;
            Blob b;
            label[i0] = int32_t(out.size());
            stack.assign(1, uint32_t(i0));
            while (!stack.empty()) {
                size_t i = stack.back();
                stack.pop_back();
                const double x = double(i % g.w), y = double(i / g.w);
                b.area += 1, b.sx += x, b.sy += y, b.sxx += x * x, b.syy += y * y, b.sxy += x * y,
                    b.ink += g.v[i];
                const uint32_t xi = uint32_t(i % g.w), yi = uint32_t(i / g.w);
                const size_t next[4] = {xi > 0 ? i - 1 : i, xi + 1 < g.w ? i + 1 : i,
                                        yi > 0 ? i - g.w : i, yi + 1 < g.h ? i + g.w : i};
                for (size_t j : next)
                    if (ink[j] && label[j] < 0) {
                        label[j] = label[i0];
                        stack.push_back(uint32_t(j));
                    }
            }
            if (b.area >= 12) {
                finish(&b);
                out.push_back(b);
            } else {
                out.push_back(Blob{});
            }
        }
    out.erase(std::remove_if(out.begin(), out.end(), [](const Blob& b) { return b.area < 12; }),
              out.end());
    *paperOut = paper;
    *bwOut = bw;
    return out;
}

bool solid(const Blob& b) {
    const double fill = b.area / (b.length * b.width);
    return fill > 0.7 && fill < 1.3;
}

double meanAround(const Grey& g, double x, double y, double r) {
    double sum = 0;
    int n = 0;
    const int64_t x0 = int64_t(std::floor(x - r)), x1 = int64_t(std::ceil(x + r));
    const int64_t y0 = int64_t(std::floor(y - r)), y1 = int64_t(std::ceil(y + r));
    for (int64_t yy = y0; yy <= y1; ++yy)
        for (int64_t xx = x0; xx <= x1; ++xx) sum += g.at(xx, yy), ++n;
    return n ? sum / n : 255;
}

std::vector<SheetMarkFound> findMarks(const Grey& g) {
    std::vector<uint8_t> paper;
    uint32_t bw = 0;
    std::vector<Blob> all = blobs(g, &paper, &bw);
    std::vector<const Blob*> anchors, bars;
    for (const Blob& b : all) {
        if (!solid(b)) continue;
        const double aspect = b.length / b.width;
        if (aspect > 1.5 && aspect < 2.7 && b.area >= 60) anchors.push_back(&b);
        if (aspect > 2.0 && aspect < 4.5) bars.push_back(&b);
    }
    std::vector<SheetMarkFound> out;
    const double barDistance =
        MARK_END_CELL + 0.5 - MARK_ANCHOR_CELLS / 2.0;  // cells from anchor centre to bar centre
    for (const Blob* a : anchors) {
        const double cell = std::sqrt(a->area / (MARK_ANCHOR_CELLS * MARK_HEIGHT_CELLS));
        for (int side : {1, -1}) {
            const double ex = a->cx + side * a->ax * barDistance * cell;
            const double ey = a->cy + side * a->ay * barDistance * cell;
            const Blob* best = nullptr;
            double bestD = 2.5 * cell;
            for (const Blob* b : bars) {
                const double d = std::hypot(b->cx - ex, b->cy - ey);
                const double areaRatio = b->area / (MARK_HEIGHT_CELLS * cell * cell);
                const double across = std::fabs(b->ax * a->ax + b->ay * a->ay);
                if (d < bestD && areaRatio > 0.4 && areaRatio < 2.5 && across < 0.5) {
                    best = b;
                    bestD = d;
                }
            }
            if (!best) continue;
            const double ux = (best->cx - a->cx) / barDistance;
            const double uy = (best->cy - a->cy) / barDistance;
            const uint8_t p = paper[size_t(uint32_t(a->cy) / BLOCK) * bw + uint32_t(a->cx) / BLOCK];
            const double threshold = (p + a->ink) / 2;
            uint32_t bits = 0;
            for (int i = 0; i < MARK_BITS; ++i) {
                const double u = MARK_FIRST_BIT_CELL + i + 0.5 - MARK_ANCHOR_CELLS / 2.0;
                const double r = std::max(0.0, 0.25 * std::hypot(ux, uy));
                if (meanAround(g, a->cx + u * ux, a->cy + u * uy, r) < threshold) bits |= 1u << i;
            }
            SheetMark mark;
            if (!SheetMark_Decode(bits, &mark)) continue;
            const double f = g.factor;
            out.push_back(
                SheetMarkFound{mark, (a->cx + 0.5) * f, (a->cy + 0.5) * f, ux * f, uy * f});
            break;
        }
    }
    return out;
}

// The print of a mark lies after it on the paper: above it as the mark reads, from the print's
// edge line just right of the end bar to 150 cells (7.5 inches) left of it.
constexpr double REGION_LEFT = -128, REGION_RIGHT = 31;  // cells from the anchor's centre
// The left end for the print of job type 5..10: its 4000 dots at its resolution, from its edge
// line 1.5 cells right of the end bar, and 6 cells to spare.
double regionLeft(int type) {
    const double dpi = type <= 7 ? 540 : type <= 9 ? 720 : 1440;
    return std::max(REGION_LEFT, 27.5 - 4000 / dpi / 0.05 - 6);
}
constexpr double REGION_NEAR = -3, REGION_FAR = 16;  // cells above the anchor's centre
constexpr double MARK_CELL_INCH = 0.05;
constexpr double FINEST_READ_PPI = 300;
// A mark's band (its cells and its text), painted paper colour before a print is read.
constexpr double BAND_LEFT = -33, BAND_RIGHT = 27, BAND_HALF = 2.1;

struct Frame {
    double x, y, ux, uy, vx, vy;  // origin, one cell along, one cell down (as the mark reads)
    void at(double u, double v, double* px, double* py) const {
        *px = x + u * ux + v * vx;
        *py = y + u * uy + v * vy;
    }
    void cell(double px, double py, double* u, double* v) const {
        const double dx = px - x, dy = py - y;
        const double det = ux * vy - uy * vx;
        *u = (dx * vy - dy * vx) / det;
        *v = (ux * dy - uy * dx) / det;
    }
};

// Whether a point lies in the cells [u0, u1] x [v0, v1] of a frame, as Frame::cell() puts it.
// A multiplication by one over the determinant stands for cell()'s division wherever the point
// lies clearly off every bound (by far more than the two can differ); near one, cell() decides.
struct CellTest {
    const Frame& f;
    double inv;
    explicit CellTest(const Frame& frame)
        : f(frame), inv(1 / (frame.ux * frame.vy - frame.uy * frame.vx)) {}
    bool operator()(double px, double py, double u0, double u1, double v0, double v1) const {
        const double dx = px - f.x, dy = py - f.y;
        const double u = (dx * f.vy - dy * f.vx) * inv, v = (f.ux * dy - f.uy * dx) * inv;
        const double e = 1e-6 * (1 + std::fabs(u) + std::fabs(v));
        const bool clear = std::fabs(u - u0) > e && std::fabs(u - u1) > e &&
                           std::fabs(v - v0) > e && std::fabs(v - v1) > e;
        if (clear) return u >= u0 && u <= u1 && v >= v0 && v <= v1;
        double cu = 0, cv = 0;
        f.cell(px, py, &cu, &cv);
        return cu >= u0 && cu <= u1 && cv >= v0 && cv <= v1;
    }
    // Of the points from (pxa, py) to (pxb, py): 1 when all lie in the cells, 0 when none does,
    // -1 when that is not clear from the two ends (u and v change linearly between them).
    int span(double pxa, double pxb, double py, double u0, double u1, double v0, double v1) const {
        double u[2], v[2], e[2];
        for (int k = 0; k < 2; ++k) {
            const double dx = (k ? pxb : pxa) - f.x, dy = py - f.y;
            u[k] = (dx * f.vy - dy * f.vx) * inv, v[k] = (f.ux * dy - f.uy * dx) * inv;
            e[k] = 1e-6 * (1 + std::fabs(u[k]) + std::fabs(v[k]));
            if (!std::isfinite(e[k])) return -1;
        }
        auto both = [&](auto holds) { return holds(0) && holds(1); };
        if (both([&](int k) {
                return u[k] > u0 + e[k] && u[k] < u1 - e[k] && v[k] > v0 + e[k] && v[k] < v1 - e[k];
            }))
            return 1;
        if (both([&](int k) { return u[k] < u0 - e[k]; }) ||
            both([&](int k) { return u[k] > u1 + e[k]; }) ||
            both([&](int k) { return v[k] < v0 - e[k]; }) ||
            both([&](int k) { return v[k] > v1 + e[k]; }))
            return 0;
        return -1;
    }
};

Frame frameOf(const SheetMarkFound& m) { return Frame{m.x, m.y, m.ux, m.uy, -m.uy, m.ux}; }

// The part of the picture between `near` and `far` cells above the mark, paper colour outside
// that band, as a picture of its own.
VernierImage cutRegion(const VernierImage& image, const Frame& f, double left, double far,
                       const std::vector<Frame>& bands, SheetPrint* row) {
    const double corners[4][2] = {
        {left, -REGION_NEAR}, {REGION_RIGHT, -REGION_NEAR}, {REGION_RIGHT, -far}, {left, -far}};
    double x0 = 1e18, y0 = 1e18, x1 = -1e18, y1 = -1e18;
    for (int k = 0; k < 4; ++k) {
        f.at(corners[k][0], corners[k][1], &row->region[k][0], &row->region[k][1]);
        x0 = std::min(x0, row->region[k][0]), x1 = std::max(x1, row->region[k][0]);
        y0 = std::min(y0, row->region[k][1]), y1 = std::max(y1, row->region[k][1]);
    }
    const int64_t ix0 = std::clamp<int64_t>(int64_t(std::floor(x0)), 0, image.width);
    const int64_t ix1 = std::clamp<int64_t>(int64_t(std::ceil(x1)), 0, image.width);
    const int64_t iy0 = std::clamp<int64_t>(int64_t(std::floor(y0)), 0, image.height);
    const int64_t iy1 = std::clamp<int64_t>(int64_t(std::ceil(y1)), 0, image.height);
    VernierImage out;
    out.dpi = image.dpi;
    if (ix1 - ix0 < 8 || iy1 - iy0 < 8) return out;
    out.width = uint32_t(ix1 - ix0);
    out.height = uint32_t(iy1 - iy0);
    out.rgb.resize(size_t(out.width) * out.height * 3);
    // Paper colour: the brightest of the band's corners' neighbourhoods would do; the median of a
    // sparse sample along the band is steadier.
    std::vector<uint32_t> lum;
    for (uint32_t y = 0; y < out.height; y += 7)
        for (uint32_t x = 0; x < out.width; x += 13) {
            const uint8_t* p = image.at(uint32_t(ix0 + x), uint32_t(iy0 + y));
            lum.push_back((uint32_t(p[0]) + p[1] + p[2]) << 8 | uint32_t(lum.size() & 0xff));
        }
    uint8_t fill[3] = {255, 255, 255};
    if (!lum.empty()) {
        std::nth_element(lum.begin(), lum.begin() + lum.size() * 3 / 4, lum.end());
        const uint8_t v = uint8_t(std::min<uint32_t>(255, (lum[lum.size() * 3 / 4] >> 8) / 3));
        fill[0] = fill[1] = fill[2] = v;
    }
    // Each mark's band only near it: the pixels of its bounding box, two pixels wider each way
    // than its corners, are the only ones it can take.
    std::vector<std::array<double, 4>> near(bands.size());
    for (size_t b = 0; b < bands.size(); ++b) {
        double bx0 = 1e300, by0 = 1e300, bx1 = -1e300, by1 = -1e300;
        for (double cu : {BAND_LEFT, BAND_RIGHT})
            for (double cv : {-BAND_HALF, BAND_HALF}) {
                double px = 0, py = 0;
                bands[b].at(cu, cv, &px, &py);
                bx0 = std::min(bx0, px), bx1 = std::max(bx1, px);
                by0 = std::min(by0, py), by1 = std::max(by1, py);
            }
        near[b] = std::isfinite(bx0 + bx1 + by0 + by1)
                      ? std::array<double, 4>{bx0 - 2, by0 - 2, bx1 + 2, by1 + 2}
                      : std::array<double, 4>{-1e300, -1e300, 1e300, 1e300};
    }
    const CellTest inRegion(f);
    std::vector<CellTest> inBand;
    for (const Frame& b : bands) inBand.emplace_back(b);
    // A stretch of a row whose ends both lie clearly inside (or clearly beyond one bound) lies
    // so all along; only the stretches across a bound are tested pixel by pixel.
    constexpr uint32_t STRETCH = 32;
    std::vector<size_t> crossing;  // the bands a stretch may cross
    for (uint32_t y = 0; y < out.height; ++y) {
        const double py = double(iy0 + y) + 0.5;
        for (uint32_t xa = 0; xa < out.width; xa += STRETCH) {
            const uint32_t xb = std::min(out.width, xa + STRETCH) - 1;
            const double pxa = double(ix0 + xa) + 0.5, pxb = double(ix0 + xb) + 0.5;
            const int region = inRegion.span(pxa, pxb, py, left, REGION_RIGHT, -far, -REGION_NEAR);
            crossing.clear();
            bool covered = false;  // the whole stretch in one band
            for (size_t b = 0; region != 0 && b < bands.size(); ++b) {
                if (pxb < near[b][0] || py < near[b][1] || pxa > near[b][2] || py > near[b][3])
                    continue;
                const int in =
                    inBand[b].span(pxa, pxb, py, BAND_LEFT, BAND_RIGHT, -BAND_HALF, BAND_HALF);
                if (in == 1) covered = true;
                if (in == -1) crossing.push_back(b);
            }
            for (uint32_t x = xa; x <= xb; ++x) {
                const double px = double(ix0 + x) + 0.5;
                bool inside = region == 1 || (region == -1 && inRegion(px, py, left, REGION_RIGHT,
                                                                       -far, -REGION_NEAR));
                if (covered) inside = false;
                for (size_t i = 0; inside && i < crossing.size(); ++i) {
                    const size_t k = crossing[i];
                    if (px < near[k][0] || py < near[k][1] || px > near[k][2] || py > near[k][3])
                        continue;
                    if (inBand[k](px, py, BAND_LEFT, BAND_RIGHT, -BAND_HALF, BAND_HALF))
                        inside = false;
                }
                const uint8_t* src = inside ? image.at(uint32_t(ix0 + x), uint32_t(iy0 + y)) : fill;
                uint8_t* dst = out.at(x, y);
                dst[0] = src[0], dst[1] = src[1], dst[2] = src[2];
            }
        }
    }
    return out;
}

std::string advice(const VernierReading& r) {
    switch (r.status) {
        case VERNIER_TOO_BLURRED:
            return "retake the picture closer, or scan the sheet at 300 dpi";
        case VERNIER_NOT_FOUND:
            return "scan the whole sheet, or reprint this mode alone (headalign adjust)";
        case VERNIER_OUT_OF_RANGE:
            return "reprint this mode alone after entering the outermost group";
        default:
            return "reprint this mode alone (headalign adjust) and read it with align --scan";
    }
}

int rowOf(const SheetMark& m) { return (m.hd ? 6 : 0) + (m.type - 5); }

}  // namespace

std::vector<SheetMarkFound> Sheet_FindMarks(const VernierImage& image) {
    if (image.width == 0 || image.height == 0) return {};
    return findMarks(reduce(image));
}

const char* Sheet_VerdictName(SheetVerdict v) {
    switch (v) {
        case SHEET_CERTAIN:
            return "certain";
        case SHEET_UNCERTAIN:
            return "not certain";
        case SHEET_UNREAD:
            return "not read";
        case SHEET_MISSING:
            return "missing";
        case SHEET_FOREIGN:
            return "another sheet";
        case SHEET_CONFLICT:
            return "contradicted";
    }
    return "?";
}

SheetScan Sheet_Read(const VernierImage& image) {
    SheetScan scan;
    std::vector<SheetMarkFound> marks = Sheet_FindMarks(image);
    if (marks.empty()) {
        scan.error =
            "no calibration sheet mark on the picture: scan or photograph the whole sheet printed "
            "by headalign calibrate";
        return scan;
    }
    scan.marksFound = true;
    // The sheet is the one most marks name; a tie leaves it unknown.
    std::map<uint32_t, int> votes;
    for (const SheetMarkFound& m : marks) ++votes[m.mark.sheet];
    int top = 0, second = 0;
    for (const auto& [sheet, n] : votes) {
        if (n > top) {
            second = top, top = n, scan.sheet = sheet;
        } else if (n > second) {
            second = n;
        }
    }
    if (top == second) {
        scan.contradictory = true;
        scan.contradiction = "the marks name different sheets, none of them most often";
    }
    for (const SheetMarkFound& m : marks)
        if (m.mark.sheet == scan.sheet && m.mark.hd) scan.hd = true;
    const int rows = scan.hd ? 11 : 6;
    scan.prints.resize(size_t(rows));
    for (int i = 0; i < rows; ++i) {
        SheetPrint& p = scan.prints[size_t(i)];
        p.mark = SheetMark{5 + i % 6, i >= 6, scan.sheet};
        p.reason = "no mark of this print on the picture (cut off, or not printed)";
        p.advice = "scan the whole sheet, or reprint this mode alone (headalign adjust)";
    }
    std::vector<int> seen(size_t(rows), 0);
    for (size_t k = 0; k < marks.size(); ++k) {
        const SheetMarkFound& m = marks[k];
        SheetPrint row;
        row.mark = m.mark;
        row.markX = m.x, row.markY = m.y;
        // The band ends before the next mark above this one, if there is one nearer than usual.
        const Frame f = frameOf(m);
        double far = REGION_FAR;
        for (const SheetMarkFound& o : marks) {
            if (&o == &m) continue;
            double u = 0, v = 0;
            f.cell(o.x, o.y, &u, &v);
            if (v < -BAND_HALF && u > REGION_LEFT && u < REGION_RIGHT)
                far = std::min(far, -v + BAND_HALF);
        }
        std::vector<Frame> bands;
        for (const SheetMarkFound& o : marks) bands.push_back(frameOf(o));
        VernierImage cut = cutRegion(image, f, regionLeft(m.mark.type), far, bands, &row);
        // Pictures finer than the reader needs are read at 300 pixels per inch of paper: a
        // quarter of the work at 600 dpi, and every print (the 1440-dpi one too) still reads
        // certain there.
        const double ppi = std::hypot(m.ux, m.uy) / MARK_CELL_INCH;
        const double scale = ppi > FINEST_READ_PPI * 1.5 ? FINEST_READ_PPI / ppi : 1.0;
        if (scale < 1 && cut.width) cut = Vernier_Resample(cut, scale, scale);
        row.reading =
            cut.width ? Vernier_ReadAs(cut, Vernier_FamilyOfAdjustment(m.mark.type), m.mark.type)
                      : VernierReading{};
        if (scale < 1) {
            VernierReading& r = row.reading;
            r.pitchPx /= scale, r.barDistancePx /= scale;
            for (VernierGroup& g : r.groups)
                g.x /= scale, g.y /= scale, g.u /= scale, g.offsetPx /= scale;
        }
        // Groups in the picture's pixels, for the marked copy.
        const double ox = std::clamp(std::floor(std::min({row.region[0][0], row.region[1][0],
                                                          row.region[2][0], row.region[3][0]})),
                                     0.0, double(image.width));
        const double oy = std::clamp(std::floor(std::min({row.region[0][1], row.region[1][1],
                                                          row.region[2][1], row.region[3][1]})),
                                     0.0, double(image.height));
        for (VernierGroup& g : row.reading.groups) g.x += ox, g.y += oy;
        const VernierReading& r = row.reading;
        if (r.status != VERNIER_READ) {
            row.verdict = SHEET_UNREAD;
            row.reason = r.reason.empty() ? "the print could not be read" : r.reason;
            row.advice = advice(r);
        } else if (r.family != Vernier_FamilyOfAdjustment(m.mark.type)) {
            row.verdict = SHEET_CONFLICT;
            row.reason = std::string("the mark says mode ") + std::to_string(m.mark.type) +
                         " but the print beside it is a " + Vernier_FamilyName(r.family);
            row.advice = "reprint the sheet";
        } else {
            row.amount = Vernier_GroupToEnter(r);
            row.verdict = r.certain ? SHEET_CERTAIN : SHEET_UNCERTAIN;
            if (!r.certain) {
                row.reason = "the reading is not certain: the spread reaches another group";
                row.advice =
                    "retake the picture closer or scan at 300 dpi; or reprint this mode "
                    "alone and read it with align --scan";
            }
        }
        if (m.mark.sheet != scan.sheet || scan.contradictory) {
            row.verdict = SHEET_FOREIGN;
            row.reason = "this print belongs to sheet " + std::to_string(m.mark.sheet) +
                         ", not to sheet " + std::to_string(scan.sheet);
            row.advice = "nothing is entered from it; read its own sheet";
            scan.prints.push_back(row);
            continue;
        }
        const int i = rowOf(m.mark);
        if (i >= rows) continue;
        if (++seen[size_t(i)] > 1) {
            scan.contradictory = true;
            scan.contradiction = "two marks of this sheet name the same print (mode " +
                                 std::to_string(m.mark.type) + (m.mark.hd ? " second pass" : "") +
                                 ")";
            scan.prints[size_t(i)].verdict = SHEET_CONFLICT;
            scan.prints[size_t(i)].reason = "two prints carry this mark";
            scan.prints[size_t(i)].advice = "reprint the sheet";
            continue;
        }
        if (row.verdict == SHEET_CONFLICT) {
            scan.contradictory = true;
            scan.contradiction = row.reason;
        }
        scan.prints[size_t(i)] = row;
    }
    return scan;
}

namespace {
void plot(VernierImage* image, int64_t x, int64_t y, const uint8_t c[3]) {
    if (x < 0 || y < 0 || x >= int64_t(image->width) || y >= int64_t(image->height)) return;
    uint8_t* p = image->at(uint32_t(x), uint32_t(y));
    p[0] = c[0], p[1] = c[1], p[2] = c[2];
}
void line(VernierImage* image, double x0, double y0, double x1, double y1, const uint8_t c[3],
          int thick) {
    const int steps = int(std::max(std::fabs(x1 - x0), std::fabs(y1 - y0))) + 1;
    for (int i = 0; i <= steps; ++i) {
        const double x = x0 + (x1 - x0) * i / steps, y = y0 + (y1 - y0) * i / steps;
        for (int d = -thick; d <= thick; ++d)
            for (int e = -thick; e <= thick; ++e) plot(image, int64_t(x) + d, int64_t(y) + e, c);
    }
}
}  // namespace

void Sheet_MarkPicture(VernierImage* image, const SheetScan& scan) {
    const uint8_t green[3] = {0, 160, 0}, orange[3] = {240, 140, 0}, red[3] = {220, 0, 0};
    const int thick = int(std::max<uint32_t>(1, std::max(image->width, image->height) / 2000));
    for (const SheetPrint& p : scan.prints) {
        if (p.verdict == SHEET_MISSING) continue;
        if (p.reading.status == VERNIER_READ || !p.reading.groups.empty())
            Vernier_MarkGroups(image, p.reading);
        const uint8_t* c = p.verdict == SHEET_CERTAIN     ? green
                           : p.verdict == SHEET_UNCERTAIN ? orange
                                                          : red;
        for (int k = 0; k < 4; ++k)
            line(image, p.region[k][0], p.region[k][1], p.region[(k + 1) % 4][0],
                 p.region[(k + 1) % 4][1], c, thick);
    }
}
