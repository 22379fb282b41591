// SPDX-License-Identifier: Apache-2.0
// The ink map: how much ink covers each pixel, whatever its colour, against the paper's own
// level taken locally (uneven light, a shadow, a table around the sheet).
#include <algorithm>
#include <cmath>

#include "vernier/vernier_internal.h"

namespace {

constexpr uint32_t BLOCK = 32;  // pixels: the blocks the paper's level is taken in

// The paper's level of each colour channel: the most common bright value. The three channels'
// histograms are taken in one pass over the picture.
void paperLevels(const VernierImage& image, int level[3]) {
    std::vector<uint32_t> hist(3 * 256, 0);
    size_t n = size_t(image.width) * image.height;
    size_t step = n > 4000000 ? n / 4000000 : 1;
    for (size_t i = 0; i < n; i += step)
        for (size_t c = 0; c < 3; ++c) ++hist[c * 256 + image.rgb[i * 3 + c]];
    for (size_t c = 0; c < 3; ++c) {
        const uint32_t* h = &hist[c * 256];
        int best = 255;
        std::vector<uint64_t> count(256, 0);
        uint64_t bestCount = 0;
        for (int v = 64; v < 256; ++v) {
            for (int d = -2; d <= 2; ++d)
                if (v + d >= 0 && v + d < 256) count[size_t(v)] += h[v + d];
            if (count[size_t(v)] > bestCount) bestCount = count[size_t(v)], best = v;
        }
        level[c] = best;
        // A photo may show more table than sheet: the paper is the brightest level that is
        // common, not the most common one.
        for (int v = 254; v > best; --v)
            if (count[size_t(v)] >= bestCount / 3 && count[size_t(v)] >= count[size_t(v) - 1] &&
                count[size_t(v)] >= count[size_t(v) + 1]) {
                level[c] = v;
                break;
            }
    }
}

// The paper's level of each block and colour: a high percentile rather than the maximum, so a
// speck of glare or noise is not the paper.
std::vector<float> blockLevels(const VernierImage& image, uint32_t bw, uint32_t bh) {
    const uint32_t w = image.width, h = image.height;
    std::vector<float> level(size_t(bw) * bh * 3, 0);
    std::vector<uint32_t> hist(3 * 256);
    for (uint32_t by = 0; by < bh; ++by)
        for (uint32_t bx = 0; bx < bw; ++bx) {
            std::fill(hist.begin(), hist.end(), 0);
            uint32_t n = 0;
            for (uint32_t y = by * BLOCK; y < std::min(h, (by + 1) * BLOCK); y += 2)
                for (uint32_t x = bx * BLOCK; x < std::min(w, (bx + 1) * BLOCK); x += 2) {
                    const uint8_t* p = image.at(x, y);
                    ++hist[p[0]], ++hist[256 + p[1]], ++hist[512 + p[2]], ++n;
                }
            for (size_t c = 0; c < 3; ++c) {
                const uint32_t* hc = &hist[c * 256];
                uint32_t want = n / 50, seen = 0;
                int v = 255;
                while (v > 0 && (seen += hc[v]) <= want) --v;
                level[(size_t(by) * bw + bx) * 3 + c] = float(v);
            }
        }
    return level;
}

// The paper's levels of the blocks, interpolated between block centres: a row's levels once per
// block column, then linearly along the row. What depends on the level alone (whether it is
// paper, and the scale from a pixel's darkness to ink) is worked out there, so a pixel costs a
// subtraction and a multiplication per colour.
struct PaperLevels {
    std::vector<float> level;  // block by block, three colours each
    uint32_t bw = 0, bh = 0;
    float inv[3] = {1, 1, 1};  // one over the sheet's own paper level
    // Along a row: the two block columns each pixel lies between, and its weight to the second.
    std::vector<uint32_t> x0, x1;
    std::vector<float> tx;
    void columns(uint32_t w) {
        x0.resize(w), x1.resize(w), tx.resize(w);
        for (uint32_t x = 0; x < w; ++x) {
            double fx = std::clamp((x + 0.5) / BLOCK - 0.5, 0.0, double(bw - 1));
            x0[x] = uint32_t(fx), x1[x] = std::min(bw - 1, x0[x] + 1);
            tx[x] = float(fx - x0[x]);
        }
    }
    // The scales along row y: each colour's level and its scale to ink (colour by colour, pixel
    // by pixel), and 0 in onPaper where the pixel is not on paper.
    void scales(uint32_t y, std::vector<float>* levels, std::vector<float>* invs,
                std::vector<uint8_t>* onPaper) const {
        const size_t w = x0.size();
        double fy = std::clamp((y + 0.5) / BLOCK - 0.5, 0.0, double(bh - 1));
        uint32_t y0 = uint32_t(fy), y1 = std::min(bh - 1, y0 + 1);
        float ty = float(fy - y0);
        std::vector<float> col(size_t(bw) * 3);
        for (size_t i = 0; i < col.size(); ++i)
            col[i] =
                level[size_t(y0) * bw * 3 + i] * (1 - ty) + level[size_t(y1) * bw * 3 + i] * ty;
        for (size_t x = 0; x < w; ++x) {
            const float t = tx[x];
            const float* a = &col[x0[x] * 3];
            const float* b = &col[x1[x] * 3];
            float lo = 1e9f, hi = 0;
            for (size_t c = 0; c < 3; ++c) {
                float l = std::max(1.0f, a[c] * (1 - t) + b[c] * t);
                lo = std::min(lo, l * inv[c]), hi = std::max(hi, l * inv[c]);
                (*levels)[c * w + x] = l;
                (*invs)[c * w + x] = 255.0f / l;
            }
            // Paper at least a quarter as bright as the sheet's own level, lit evenly in all
            // colours (a shadow darkens them alike, a table does not); anything else is
            // background.
            (*onPaper)[x] = lo > 0.25f && lo > 0.7f * hi;
        }
    }
};

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
    PaperLevels paper;
    int sheet[3];
    paperLevels(image, sheet);
    for (int c = 0; c < 3; ++c) paper.inv[c] = 1.0f / float(std::max(1, sheet[c]));
    paper.bw = (m.w + BLOCK - 1) / BLOCK, paper.bh = (m.h + BLOCK - 1) / BLOCK;
    // A block whose own paper is dark is background; blocks are small enough that a shadow's
    // edge moves the level within a block or two, and large enough to hold paper beside the
    // pattern's ink, so each keeps its own level.
    paper.level = blockLevels(image, paper.bw, paper.bh);
    paper.columns(m.w);
    std::vector<float> levels(size_t(m.w) * 3), invs(size_t(m.w) * 3);
    std::vector<uint8_t> onPaper(m.w);
    const float *l0 = &levels[0], *l1 = &levels[m.w], *l2 = &levels[2 * size_t(m.w)];
    const float *i0 = &invs[0], *i1 = &invs[m.w], *i2 = &invs[2 * size_t(m.w)];
    // The level changes by a block's worth over 32 rows; taken afresh every 4 rows (at their
    // middle) it is within an eighth of that of each row's own.
    constexpr uint32_t ROWS_PER_LEVEL = 4;
    for (uint32_t y = 0; y < m.h; ++y) {
        if (y % ROWS_PER_LEVEL == 0)
            paper.scales(std::min(m.h - 1, y + ROWS_PER_LEVEL / 2), &levels, &invs, &onPaper);
        float* out = &m.v[size_t(y) * m.w];
        const uint8_t* px = image.at(0, y);
        for (uint32_t x = 0; x < m.w; ++x, px += 3) {
            float best = 0;
            best = std::max(best, (l0[x] - float(px[0])) * i0[x]);
            best = std::max(best, (l1[x] - float(px[1])) * i1[x]);
            best = std::max(best, (l2[x] - float(px[2])) * i2[x]);
            out[x] = onPaper[x] ? best : 0.0f;
        }
    }
    return m;
}
