// The scanner simulator: area resampling, rotation by supersampling, Gaussian blur, gamma,
// noise and a JPEG round trip.
#include "scan_sim.h"

#include <algorithm>
#include <cmath>
#include <random>

namespace {

std::vector<float> gaussian(double sigma) {
    int r = std::max(1, int(std::ceil(3 * sigma)));
    std::vector<float> k(size_t(2 * r + 1));
    double sum = 0;
    for (int i = -r; i <= r; ++i) sum += k[size_t(i + r)] = float(std::exp(-0.5 * i * i / (sigma * sigma)));
    for (float& v : k) v = float(v / sum);
    return k;
}

void blur(std::vector<float>& img, uint32_t w, uint32_t h, double sigma) {
    if (sigma <= 0.05) return;
    std::vector<float> k = gaussian(sigma), tmp(img.size());
    int r = int(k.size() / 2);
    for (uint32_t y = 0; y < h; ++y)
        for (uint32_t x = 0; x < w; ++x)
            for (int c = 0; c < 3; ++c) {
                float s = 0;
                for (int i = -r; i <= r; ++i) {
                    int xx = std::clamp(int(x) + i, 0, int(w) - 1);
                    s += k[size_t(i + r)] * img[(size_t(y) * w + size_t(xx)) * 3 + size_t(c)];
                }
                tmp[(size_t(y) * w + x) * 3 + size_t(c)] = s;
            }
    for (uint32_t y = 0; y < h; ++y)
        for (uint32_t x = 0; x < w; ++x)
            for (int c = 0; c < 3; ++c) {
                float s = 0;
                for (int i = -r; i <= r; ++i) {
                    int yy = std::clamp(int(y) + i, 0, int(h) - 1);
                    s += k[size_t(i + r)] * tmp[(size_t(yy) * w + x) * 3 + size_t(c)];
                }
                img[(size_t(y) * w + x) * 3 + size_t(c)] = s;
            }
}

// Transmission of the print (1 = paper) at a point of the fine picture, bilinear.
void transmission(const VernierImage& fine, double x, double y, float out[3]) {
    int x0 = int(std::floor(x)), y0 = int(std::floor(y));
    double fx = x - x0, fy = y - y0;
    out[0] = out[1] = out[2] = 0;
    for (int dy = 0; dy < 2; ++dy)
        for (int dx = 0; dx < 2; ++dx) {
            double w = (dx ? fx : 1 - fx) * (dy ? fy : 1 - fy);
            int xx = x0 + dx, yy = y0 + dy;
            bool inside = xx >= 0 && yy >= 0 && xx < int(fine.width) && yy < int(fine.height);
            for (int c = 0; c < 3; ++c)
                out[c] += float(w * (inside ? fine.at(uint32_t(xx), uint32_t(yy))[c] / 255.0 : 1.0));
        }
}

}  // namespace

VernierImage Scan_Simulate(const VernierImage& paper, double xDpi, double yDpi, const ScanSettings& s) {
    VernierImage fine = Vernier_Resample(paper, s.dpi / xDpi, s.dpi / yDpi);
    // The renderer puts each drop in one cell of its grid; on paper a drop spreads into a dot
    // of dropInch across. Spread the darkness by the dot's area, soften it by the dot's
    // profile and let overlapping dots saturate.
    double gain = 3.14159265358979323846 / 4 * s.dropInch * s.dropInch * xDpi * yDpi;
    std::vector<float> dark(size_t(fine.width) * fine.height * 3);
    for (size_t i = 0; i < dark.size(); ++i) dark[i] = float((255 - fine.rgb[i]) / 255.0 * gain * 255);
    blur(dark, fine.width, fine.height, s.dropInch * s.dpi / 4);
    for (size_t i = 0; i < dark.size(); ++i) fine.rgb[i] = uint8_t(255 - std::min(255.0f, dark[i]));
    double a = s.angleDeg * 3.14159265358979323846 / 180, cs = std::cos(a), sn = std::sin(a);
    double fw = fine.width, fh = fine.height, margin = s.marginInch * s.dpi;
    VernierImage out;
    out.width = uint32_t(std::ceil(fw * std::fabs(cs) + fh * std::fabs(sn) + 2 * margin));
    out.height = uint32_t(std::ceil(fw * std::fabs(sn) + fh * std::fabs(cs) + 2 * margin));
    out.dpi = s.dpi;
    std::vector<float> img(size_t(out.width) * out.height * 3);
    double cx = out.width / 2.0, cy = out.height / 2.0;
    for (uint32_t y = 0; y < out.height; ++y)
        for (uint32_t x = 0; x < out.width; ++x) {
            float t[3];
            double dx = x + 0.5 - cx, dy = y + 0.5 - cy;
            // Scan point back onto the paper (the paper turned by a about the centre).
            transmission(fine, dx * cs + dy * sn + fw / 2 - 0.5, -dx * sn + dy * cs + fh / 2 - 0.5, t);
            float* o = &img[(size_t(y) * out.width + x) * 3];
            double d = 1 - std::min({t[0], t[1], t[2]});
            for (int c = 0; c < 3; ++c) o[c] = float(s.paper[c] * (s.recolour ? 1 - d * (1 - s.ink[c] / 255.0) : t[c]));
        }
    blur(img, out.width, out.height, s.blurPx);
    std::mt19937 rng(s.seed);
    std::normal_distribution<float> noise(0, float(s.noise));
    out.rgb.resize(img.size());
    for (size_t i = 0; i < img.size(); ++i) {
        double v = 255 * std::pow(std::clamp(img[i] / 255.0, 0.0, 1.0), s.gamma) + (s.noise > 0 ? noise(rng) : 0);
        out.rgb[i] = uint8_t(std::clamp(std::lround(v), 0L, 255L));
    }
    if (s.jpegQuality > 0) {
        std::vector<uint8_t> bytes;
        VernierImage decoded;
        if (Vernier_EncodeJpeg(out, s.jpegQuality, &bytes) && Vernier_DecodeJpeg(bytes.data(), bytes.size(), &decoded, nullptr))
            decoded.dpi = s.dpi, out = decoded;
    }
    return out;
}
