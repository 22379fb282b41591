// SPDX-License-Identifier: Apache-2.0
// The scanner simulator: ink dots spread and saturated on the paper, lens blur, the paper
// turned and sampled at the scan's pixels, gamma, noise and a JPEG round trip.
#include "scan_sim.h"

#include <algorithm>
#include <cmath>
#include <random>

namespace {

std::vector<float> gaussian(double sigma) {
    int r = std::max(1, int(std::ceil(3 * sigma)));
    std::vector<float> k(size_t(2 * r + 1));
    double sum = 0;
    for (int i = -r; i <= r; ++i)
        sum += k[size_t(i + r)] = float(std::exp(-0.5 * i * i / (sigma * sigma)));
    for (float& v : k) v = float(v / sum);
    return k;
}

// Gaussian blur of n values a stride apart, edges held. Wide blurs (a large paper grid seen by a
// coarse scan) are three running boxes of matched variance, so their cost does not grow with
// sigma.
void blurLine(float* v, size_t n, size_t stride, double sigma, std::vector<float>& buf) {
    buf.resize(n);
    auto at = [&](long i) { return buf[size_t(std::clamp(i, 0L, long(n) - 1))]; };
    if (sigma < 2) {
        std::vector<float> k = gaussian(sigma);
        long r = long(k.size() / 2);
        for (size_t i = 0; i < n; ++i) buf[i] = v[i * stride];
        for (long i = 0; i < long(n); ++i) {
            float s = 0;
            for (long j = -r; j <= r; ++j) s += k[size_t(j + r)] * at(i + j);
            v[size_t(i) * stride] = s;
        }
        return;
    }
    double ideal = std::sqrt(12 * sigma * sigma / 3 + 1);
    int wl = int(std::floor(ideal));
    if (wl % 2 == 0) --wl;
    int m =
        int(std::lround((12 * sigma * sigma - 3.0 * wl * wl - 12.0 * wl - 9) / (-4.0 * wl - 4)));
    for (int pass = 0; pass < 3; ++pass) {
        long r = (pass < m ? wl : wl + 2) / 2;
        for (size_t i = 0; i < n; ++i) buf[i] = v[i * stride];
        double sum = 0;
        for (long j = -r; j <= r; ++j) sum += at(j);
        for (long i = 0; i < long(n); ++i) {
            v[size_t(i) * stride] = float(sum / double(2 * r + 1));
            sum += at(i + r + 1) - at(i - r);
        }
    }
}

void blurXY(std::vector<float>& img, uint32_t w, uint32_t h, double sx, double sy) {
    std::vector<float> buf;
    for (int c = 0; c < 3; ++c) {
        if (sx > 0.05)
            for (uint32_t y = 0; y < h; ++y)
                blurLine(&img[size_t(y) * w * 3 + size_t(c)], w, 3, sx, buf);
        if (sy > 0.05)
            for (uint32_t x = 0; x < w; ++x)
                blurLine(&img[size_t(x) * 3 + size_t(c)], h, size_t(w) * 3, sy, buf);
    }
}

// Transmission (1 = paper) at a point of the paper's grid, bilinear; paper outside it.
void transmission(const std::vector<float>& t, uint32_t w, uint32_t h, double x, double y,
                  float out[3]) {
    int x0 = int(std::floor(x)), y0 = int(std::floor(y));
    double fx = x - x0, fy = y - y0;
    out[0] = out[1] = out[2] = 0;
    for (int dy = 0; dy < 2; ++dy)
        for (int dx = 0; dx < 2; ++dx) {
            double wt = (dx ? fx : 1 - fx) * (dy ? fy : 1 - fy);
            int xx = x0 + dx, yy = y0 + dy;
            bool inside = xx >= 0 && yy >= 0 && xx < int(w) && yy < int(h);
            for (int c = 0; c < 3; ++c)
                out[c] +=
                    float(wt * (inside ? t[(size_t(yy) * w + size_t(xx)) * 3 + size_t(c)] : 1.0f));
        }
}

}  // namespace

VernierImage Scan_Simulate(const VernierImage& paper, double xDpi, double yDpi,
                           const ScanSettings& s) {
    // The renderer puts each drop in one cell of its grid; on paper a drop spreads into a dot
    // of dropInch across. Spread the darkness by the dot's area, soften it by the dot's
    // profile and let overlapping dots saturate.
    uint32_t pw = paper.width, ph = paper.height;
    double gain = 3.14159265358979323846 / 4 * s.dropInch * s.dropInch * xDpi * yDpi;
    std::vector<float> t(size_t(pw) * ph * 3);
    for (size_t i = 0; i < t.size(); ++i) t[i] = float((255 - paper.rgb[i]) / 255.0 * gain);
    blurXY(t, pw, ph, s.dropInch * xDpi / 4, s.dropInch * yDpi / 4);
    for (float& v : t) v = 1 - std::min(1.0f, v);
    // The lens blurs the paper before the sensor's pixels integrate it (a pixel's box adds a
    // twelfth of a pixel squared); blurring after sampling would snap every line thinner than
    // a pixel to the pixel grid, which no scanner does.
    double optics = std::sqrt(s.blurPx * s.blurPx + 1.0 / 12);
    blurXY(t, pw, ph, optics * xDpi / s.dpi, optics * yDpi / s.dpi);
    double a = s.angleDeg * 3.14159265358979323846 / 180, cs = std::cos(a), sn = std::sin(a);
    double fw = pw * s.dpi / xDpi, fh = ph * s.dpi / yDpi, margin = s.marginInch * s.dpi;
    VernierImage out;
    out.width = uint32_t(std::ceil(fw * std::fabs(cs) + fh * std::fabs(sn) + 2 * margin));
    out.height = uint32_t(std::ceil(fw * std::fabs(sn) + fh * std::fabs(cs) + 2 * margin));
    out.dpi = s.dpi;
    std::vector<float> img(size_t(out.width) * out.height * 3);
    double cx = out.width / 2.0, cy = out.height / 2.0;
    for (uint32_t y = 0; y < out.height; ++y)
        for (uint32_t x = 0; x < out.width; ++x) {
            float tr[3];
            double dx = x + 0.5 - cx, dy = y + 0.5 - cy;
            // Scan pixel centre back onto the paper (the paper turned by a about the centre).
            double px = (dx * cs + dy * sn + fw / 2) * xDpi / s.dpi - 0.5,
                   py = (-dx * sn + dy * cs + fh / 2) * yDpi / s.dpi - 0.5;
            transmission(t, pw, ph, px, py, tr);
            float* o = &img[(size_t(y) * out.width + x) * 3];
            double d = 1 - std::min({tr[0], tr[1], tr[2]});
            for (int c = 0; c < 3; ++c)
                o[c] = float(s.paper[c] * (s.recolour ? 1 - d * (1 - s.ink[c] / 255.0) : tr[c]));
        }
    std::mt19937 rng(s.seed);
    std::normal_distribution<float> noise(0, float(s.noise));
    out.rgb.resize(img.size());
    for (size_t i = 0; i < img.size(); ++i) {
        double v = 255 * std::pow(std::clamp(img[i] / 255.0, 0.0, 1.0), s.gamma) +
                   (s.noise > 0 ? noise(rng) : 0);
        out.rgb[i] = uint8_t(std::clamp(std::lround(v), 0L, 255L));
    }
    if (s.jpegQuality > 0) {
        std::vector<uint8_t> bytes;
        VernierImage decoded;
        if (Vernier_EncodeJpeg(out, s.jpegQuality, &bytes) &&
            Vernier_DecodeJpeg(bytes.data(), bytes.size(), &decoded, nullptr))
            decoded.dpi = s.dpi, out = decoded;
    }
    return out;
}

VernierImage halfTurned(const VernierImage& image) {
    VernierImage out = image;
    const size_t n = size_t(image.width) * image.height;
    for (size_t i = 0; i < n; ++i) std::copy_n(&image.rgb[3 * i], 3, &out.rgb[3 * (n - 1 - i)]);
    return out;
}
