// SPDX-License-Identifier: Apache-2.0
// Area-averaging resampling of pictures: each output pixel is the mean of the input it covers.
#include <algorithm>
#include <cmath>

#include "vernier/vernier.h"

namespace {

// Input pixels and weights for each output pixel along one axis.
struct Tap {
    uint32_t first;
    std::vector<float> w;
};

std::vector<Tap> taps(uint32_t in, uint32_t out, double scale) {
    std::vector<Tap> t(out);
    for (uint32_t o = 0; o < out; ++o) {
        double a = o / scale, b = (o + 1) / scale;
        uint32_t i0 = uint32_t(std::floor(a)), i1 = std::min(in - 1, uint32_t(std::ceil(b) - 1));
        i0 = std::min(i0, in - 1);
        t[o].first = i0;
        double total = 0;
        for (uint32_t i = i0; i <= i1; ++i) {
            double w = std::min<double>(b, i + 1) - std::max<double>(a, i);
            t[o].w.push_back(float(std::max(0.0, w)));
            total += std::max(0.0, w);
        }
        for (float& w : t[o].w) w = total > 0 ? float(w / total) : 0;
    }
    return t;
}

// std::lround(s) clamped to 0..255, without the library call: s + 0.5 is exact in double for
// any float below 2^29, and whatever rounds below zero clamps to 0.
inline uint8_t toByte(float s) {
    if (!(s > 0)) return 0;
    double r = std::floor(double(s) + 0.5);
    return r >= 255 ? 255 : uint8_t(r);
}

}  // namespace

VernierImage Vernier_Resample(const VernierImage& image, double sx, double sy) {
    VernierImage out;
    if (image.width == 0 || image.height == 0 || sx <= 0 || sy <= 0) return out;
    out.width = std::max(1u, uint32_t(std::lround(image.width * sx)));
    out.height = std::max(1u, uint32_t(std::lround(image.height * sy)));
    out.dpi = image.dpi * sx;
    std::vector<Tap> tx = taps(image.width, out.width, sx), ty = taps(image.height, out.height, sy);
    // One way only (pixels made square): straight from the input, without the float buffer the
    // two-way case needs, so a large picture costs no more than its copy.
    if (out.width == image.width && sx == 1.0) {
        out.rgb.assign(size_t(out.width) * out.height * 3, 0);
        for (uint32_t y = 0; y < out.height; ++y)
            for (size_t i = 0; i < size_t(out.width) * 3; ++i) {
                float s = 0;
                for (size_t k = 0; k < ty[y].w.size(); ++k)
                    s += ty[y].w[k] * image.rgb[(size_t(ty[y].first + k) * image.width) * 3 + i];
                out.rgb[size_t(y) * out.width * 3 + i] = toByte(s);
            }
        return out;
    }
    if (out.height == image.height && sy == 1.0) {
        out.rgb.assign(size_t(out.width) * out.height * 3, 0);
        for (uint32_t y = 0; y < out.height; ++y)
            for (uint32_t x = 0; x < out.width; ++x)
                for (int c = 0; c < 3; ++c) {
                    float s = 0;
                    for (size_t k = 0; k < tx[x].w.size(); ++k)
                        s += tx[x].w[k] * image.at(tx[x].first + uint32_t(k), y)[c];
                    out.at(x, y)[c] = toByte(s);
                }
        return out;
    }
    // Across first into a float buffer, then down. Each output adds up its taps in their order,
    // the three colours of a pixel side by side, and down the picture a whole row at a time.
    std::vector<float> mid(size_t(out.width) * image.height * 3);
    for (uint32_t y = 0; y < image.height; ++y) {
        const uint8_t* row = image.at(0, y);
        float* m = &mid[size_t(y) * out.width * 3];
        for (uint32_t x = 0; x < out.width; ++x, m += 3) {
            const Tap& t = tx[x];
            const uint8_t* px = row + size_t(t.first) * 3;
            float s0 = 0, s1 = 0, s2 = 0;
            for (size_t k = 0; k < t.w.size(); ++k, px += 3) {
                s0 += t.w[k] * px[0];
                s1 += t.w[k] * px[1];
                s2 += t.w[k] * px[2];
            }
            m[0] = s0, m[1] = s1, m[2] = s2;
        }
    }
    out.rgb.assign(size_t(out.width) * out.height * 3, 0);
    const size_t n = size_t(out.width) * 3;
    std::vector<float> sum(n);
    for (uint32_t y = 0; y < out.height; ++y) {
        std::fill(sum.begin(), sum.end(), 0.0f);
        for (size_t k = 0; k < ty[y].w.size(); ++k) {
            const float w = ty[y].w[k];
            const float* m = &mid[size_t(ty[y].first + k) * n];
            for (size_t i = 0; i < n; ++i) sum[i] += w * m[i];
        }
        uint8_t* o = &out.rgb[size_t(y) * n];
        for (size_t i = 0; i < n; ++i) o[i] = toByte(sum[i]);
    }
    return out;
}
