// SPDX-License-Identifier: Apache-2.0
// The photo simulator: the flat sheet (from the scanner simulator at twice the camera's
// resolution) seen through a pinhole camera at a slant, the ray of every picture pixel followed
// back onto the (possibly curled) sheet; then lens, light, sensor and JPEG.
#include "photo_sim.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <random>

namespace {

constexpr double PI = 3.14159265358979323846;
using Vec = std::array<double, 3>;
using Mat = std::array<Vec, 3>;

Mat mul(const Mat& a, const Mat& b) {
    Mat m{};
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            for (int k = 0; k < 3; ++k) m[i][j] += a[i][k] * b[k][j];
    return m;
}
Vec apply(const Mat& m, const Vec& v) {
    return {m[0][0] * v[0] + m[0][1] * v[1] + m[0][2] * v[2],
            m[1][0] * v[0] + m[1][1] * v[1] + m[1][2] * v[2],
            m[2][0] * v[0] + m[2][1] * v[1] + m[2][2] * v[2]};
}
Vec applyT(const Mat& m, const Vec& v) {
    return {m[0][0] * v[0] + m[1][0] * v[1] + m[2][0] * v[2],
            m[0][1] * v[0] + m[1][1] * v[1] + m[2][1] * v[2],
            m[0][2] * v[0] + m[1][2] * v[1] + m[2][2] * v[2]};
}
Mat rotX(double a) {
    return {{{1, 0, 0}, {0, std::cos(a), -std::sin(a)}, {0, std::sin(a), std::cos(a)}}};
}
Mat rotY(double a) {
    return {{{std::cos(a), 0, std::sin(a)}, {0, 1, 0}, {-std::sin(a), 0, std::cos(a)}}};
}
Mat rotZ(double a) {
    return {{{std::cos(a), -std::sin(a), 0}, {std::sin(a), std::cos(a), 0}, {0, 0, 1}}};
}

// Background at a picture pixel (0..255 per channel).
void background(PhotoBackground kind, double x, double y, std::mt19937& rng, float out[3]) {
    std::uniform_real_distribution<float> jitter(-6, 6);
    switch (kind) {
        case BACKGROUND_TABLE: {  // wood: brown with a grain
            double grain = 0.5 + 0.5 * std::sin(x * 0.05 + 3 * std::sin(y * 0.01));
            out[0] = float(150 + 40 * grain), out[1] = float(100 + 30 * grain),
            out[2] = float(60 + 20 * grain);
            break;
        }
        case BACKGROUND_DARK:
            out[0] = out[1] = out[2] = 25;
            break;
        case BACKGROUND_PRINTER: {  // grey plastic with vents
            bool vent = int(y / 12) % 3 == 0 && int(x / 200) % 2 == 0;
            out[0] = out[1] = out[2] = vent ? 40.0f : 170.0f;
            break;
        }
        default:
            out[0] = out[1] = out[2] = 235;
            break;
    }
    for (int c = 0; c < 3; ++c) out[c] += jitter(rng);
}

void boxBlur(std::vector<float>& img, uint32_t w, uint32_t h, int len, bool across) {
    if (len < 2) return;
    std::vector<float> line;
    uint32_t n = across ? w : h, lines = across ? h : w;
    for (uint32_t l = 0; l < lines; ++l)
        for (int c = 0; c < 3; ++c) {
            auto idx = [&](long i) {
                i = std::clamp(i, 0L, long(n) - 1);
                return across ? (size_t(l) * w + size_t(i)) * 3 + size_t(c)
                              : (size_t(i) * w + l) * 3 + size_t(c);
            };
            line.resize(n);
            for (uint32_t i = 0; i < n; ++i) {
                double s = 0;
                for (int k = 0; k < len; ++k) s += img[idx(long(i) + k - len / 2)];
                line[i] = float(s / len);
            }
            for (uint32_t i = 0; i < n; ++i) img[idx(i)] = line[i];
        }
}

}  // namespace

VernierImage Photo_Simulate(const VernierImage& paper, double xDpi, double yDpi,
                            const PhotoSettings& s) {
    // The flat sheet at twice the camera's resolution, sharp and clean: the camera adds its own.
    ScanSettings flat;
    flat.dpi = 2 * s.ppi;
    flat.blurPx = 0.5;
    flat.noise = 0;
    flat.marginInch = s.sheetMarginInch;
    // The sweep photographs one paper under many conditions: the last sheet is kept.
    static VernierImage lastPaper, sheet;
    static double lastKey[4] = {0, 0, 0, 0};
    double key[4] = {xDpi, yDpi, flat.dpi, flat.marginInch};
    if (!std::equal(key, key + 4, lastKey) || lastPaper.width != paper.width ||
        lastPaper.rgb != paper.rgb) {
        sheet = Scan_Simulate(paper, xDpi, yDpi, flat);
        lastPaper = paper;
        std::copy(key, key + 4, lastKey);
    }
    double sw = sheet.width / flat.dpi, sh = sheet.height / flat.dpi;  // inches

    // Camera: x right, y down, z forward; looking straight down it sees the sheet's x and y.
    Mat base{{{1, 0, 0}, {0, 1, 0}, {0, 0, -1}}};
    Mat r = mul(mul(mul(rotX(s.tiltXDeg * PI / 180), rotY(s.tiltYDeg * PI / 180)),
                    rotZ(s.rollDeg * PI / 180)),
                base);
    Vec forward = applyT(r, {0, 0, 1});
    Vec cam = {-s.distanceInch * forward[0], -s.distanceInch * forward[1],
               -s.distanceInch * forward[2]};
    double f = s.ppi * s.distanceInch;
    auto project = [&](double X, double Y) {
        Vec c = apply(r, {X - cam[0], Y - cam[1], -cam[2]});
        return std::pair{f * c[0] / c[2], f * c[1] / c[2]};
    };
    double minX = 1e18, maxX = -1e18, minY = 1e18, maxY = -1e18;
    for (double X : {-sw / 2, sw / 2})
        for (double Y : {-sh / 2, sh / 2}) {
            auto [u, v] = project(X, Y);
            minX = std::min(minX, u), maxX = std::max(maxX, u), minY = std::min(minY, v),
            maxY = std::max(maxY, v);
        }
    double border = s.backgroundFrac * std::max(maxX - minX, maxY - minY);
    VernierImage out;
    out.width = uint32_t(std::ceil(maxX - minX + 2 * border));
    out.height = uint32_t(std::ceil(maxY - minY + 2 * border));
    double ox = minX - border, oy = minY - border;  // picture pixel 0 in camera coordinates
    double cx = out.width / 2.0, cy = out.height / 2.0, rmax = std::hypot(cx, cy);

    std::mt19937 rng(s.seed);
    std::uniform_real_distribution<double> u01(0, 1);
    double gradAngle = u01(rng) * 2 * PI, shadowAngle = u01(rng) * 2 * PI;
    double glareX = (0.3 + 0.4 * u01(rng)) * out.width,
           glareY = (0.3 + 0.4 * u01(rng)) * out.height;
    double glareR = 0.12 * std::max(out.width, out.height);

    std::vector<float> img(size_t(out.width) * out.height * 3);
    for (uint32_t py = 0; py < out.height; ++py)
        for (uint32_t px = 0; px < out.width; ++px) {
            float acc[3] = {0, 0, 0};
            int onSheet = 0;
            for (int sub = 0; sub < 4; ++sub) {
                double x = px + 0.25 + 0.5 * (sub & 1), y = py + 0.25 + 0.5 * (sub >> 1);
                // Barrel: the lens pulls the outer parts of the scene inwards.
                double dx = x - cx, dy = y - cy, rr = std::hypot(dx, dy) / rmax;
                double k = 1 + s.barrel * rr * rr;
                double ux = cx + dx * k + ox, uy = cy + dy * k + oy;
                Vec d = applyT(r, {ux / f, uy / f, 1});
                // The ray onto the sheet, curled: lifted by curl * (2X/width)^2, found by
                // following the ray to the height of the last point a few times.
                double X = 0, Y = 0, Z = 0;
                for (int it = 0; it < 4; ++it) {
                    double t = (Z - cam[2]) / d[2];
                    X = cam[0] + t * d[0], Y = cam[1] + t * d[1];
                    Z = s.curlInch * std::pow(std::clamp(2 * X / sw, -1.0, 1.0), 2);
                }
                double sx = (X + sw / 2) * flat.dpi - 0.5, sy = (Y + sh / 2) * flat.dpi - 0.5;
                if (sx < 0 || sy < 0 || sx >= sheet.width - 1 || sy >= sheet.height - 1) continue;
                ++onSheet;
                int x0 = int(sx), y0 = int(sy);
                double fx = sx - x0, fy = sy - y0;
                for (int c = 0; c < 3; ++c)
                    acc[c] += float(
                        (sheet.at(x0, y0)[c] * (1 - fx) + sheet.at(x0 + 1, y0)[c] * fx) * (1 - fy) +
                        (sheet.at(x0, y0 + 1)[c] * (1 - fx) + sheet.at(x0 + 1, y0 + 1)[c] * fx) *
                            fy);
            }
            float bg[3] = {0, 0, 0};  // weighed by the subsamples off the sheet, none on it
            if (onSheet < 4) background(s.background, px, py, rng, bg);
            float* o = &img[(size_t(py) * out.width + px) * 3];
            for (int c = 0; c < 3; ++c) o[c] = (acc[c] + (4 - onSheet) * bg[c]) / 4;
            // Light: a gradient, a soft shadow edge and a glare spot.
            double nx = double(px) / out.width - 0.5, ny = double(py) / out.height - 0.5;
            double light =
                1 - s.gradient * (0.5 + nx * std::cos(gradAngle) + ny * std::sin(gradAngle));
            double side = nx * std::cos(shadowAngle) + ny * std::sin(shadowAngle);
            light *= 1 - s.shadow / (1 + std::exp(-side * 40));
            double g = s.glare * std::exp(-(std::pow(px - glareX, 2) + std::pow(py - glareY, 2)) /
                                          (2 * glareR * glareR));
            for (int c = 0; c < 3; ++c) o[c] = float(o[c] * light + g * (255 - o[c] * light));
        }
    // Lens and hand: defocus as Gaussian (three boxes), shake as a box along x.
    if (s.defocusPx > 0.3) {
        int len = std::max(2, int(std::lround(std::sqrt(12 * s.defocusPx * s.defocusPx / 3 + 1))));
        for (int pass = 0; pass < 3; ++pass)
            boxBlur(img, out.width, out.height, len, true),
                boxBlur(img, out.width, out.height, len, false);
    }
    boxBlur(img, out.width, out.height, int(std::lround(s.shakePx)), true);
    std::normal_distribution<float> noise(0, float(s.noise));
    out.rgb.resize(img.size());
    for (size_t i = 0; i < img.size(); ++i)
        out.rgb[i] =
            uint8_t(std::clamp(std::lround(img[i] + (s.noise > 0 ? noise(rng) : 0)), 0L, 255L));
    if (s.jpegQuality > 0) {
        std::vector<uint8_t> bytes;
        VernierImage decoded;
        if (Vernier_EncodeJpeg(out, s.jpegQuality, &bytes) &&
            Vernier_DecodeJpeg(bytes.data(), bytes.size(), &decoded, nullptr))
            out = decoded;
    }
    out.dpi = 0;
    return out;
}

namespace {
double pick(uint32_t draw, double lo, double hi) {
    std::mt19937 rng(draw);
    return lo + (hi - lo) * std::uniform_real_distribution<double>(0, 1)(rng);
}
double sign(uint32_t draw) { return draw & 1 ? 1 : -1; }
}  // namespace

const PhotoCondition PHOTO_CONDITIONS[] = {
    {"straight", [](PhotoSettings* s, uint32_t d) { s->rollDeg = pick(d, -3, 3); }},
    {"tilt 5",
     [](PhotoSettings* s, uint32_t d) { s->tiltXDeg = 5 * sign(d), s->tiltYDeg = pick(d, -5, 5); }},
    {"tilt 10 top", [](PhotoSettings* s, uint32_t d) { s->tiltXDeg = 10 * sign(d); }},
    {"tilt 10 side", [](PhotoSettings* s, uint32_t d) { s->tiltYDeg = 10 * sign(d); }},
    // One edge nearer the lens: about the axis across the print (one end of its row of groups
    // nearer) and about the axis along it, either way.
    {"tilt 8 top", [](PhotoSettings* s, uint32_t d) { s->tiltXDeg = 8 * sign(d); }},
    {"tilt 8 side", [](PhotoSettings* s, uint32_t d) { s->tiltYDeg = 8 * sign(d); }},
    {"tilt 12 top", [](PhotoSettings* s, uint32_t d) { s->tiltXDeg = 12 * sign(d); }},
    {"tilt 12 side", [](PhotoSettings* s, uint32_t d) { s->tiltYDeg = 12 * sign(d); }},
    {"tilt 15 top", [](PhotoSettings* s, uint32_t d) { s->tiltXDeg = 15 * sign(d); }},
    {"tilt 15 side", [](PhotoSettings* s, uint32_t d) { s->tiltYDeg = 15 * sign(d); }},
    {"tilt 15 both",
     [](PhotoSettings* s, uint32_t d) {
         s->tiltXDeg = 15 * sign(d), s->tiltYDeg = 15 * sign(d >> 1);
     }},
    {"tilt 20", [](PhotoSettings* s,
                   uint32_t d) { s->tiltXDeg = 20 * sign(d), s->tiltYDeg = pick(d, -10, 10); }},
    {"barrel", [](PhotoSettings* s,
                  uint32_t d) { s->barrel = pick(d, 0.02, 0.06), s->backgroundFrac = 0.05; }},
    {"defocus and shake",
     [](PhotoSettings* s, uint32_t d) { s->defocusPx = pick(d, 0.8, 1.3), s->shakePx = 2; }},
    {"gradient", [](PhotoSettings* s, uint32_t d) { s->gradient = pick(d, 0.3, 0.6); }},
    {"shadow", [](PhotoSettings* s, uint32_t d) { s->shadow = pick(d, 0.3, 0.5); }},
    {"glare", [](PhotoSettings* s, uint32_t d) { s->glare = pick(d, 0.4, 0.8); }},
    {"curl", [](PhotoSettings* s, uint32_t d) { s->curlInch = pick(d, 0.2, 0.5); }},
    {"table",
     [](PhotoSettings* s, uint32_t) { s->background = BACKGROUND_TABLE, s->backgroundFrac = 0.3; }},
    {"dark lid",
     [](PhotoSettings* s, uint32_t) { s->background = BACKGROUND_DARK, s->backgroundFrac = 0.3; }},
    {"printer", [](PhotoSettings* s,
                   uint32_t) { s->background = BACKGROUND_PRINTER, s->backgroundFrac = 0.3; }},
    {"quarter turn",
     [](PhotoSettings* s, uint32_t d) { s->rollDeg = 90 * (1 + d % 3) + pick(d, -3, 3); }},
    {"turned 12",
     [](PhotoSettings* s, uint32_t d) { s->rollDeg = 90 * (d % 4) + 12 * sign(d >> 2); }},
    {"jpeg 40", [](PhotoSettings* s, uint32_t) { s->jpegQuality = 40; }},
    {"low resolution", [](PhotoSettings* s, uint32_t) { s->ppi = 120; }},
    // Below what the 720- and 1440-dpi prints need: read or not, never certain and wrong.
    {"too far", [](PhotoSettings* s, uint32_t d) { s->ppi = pick(d, 85, 110); }},
};
const int PHOTO_CONDITION_COUNT = int(sizeof PHOTO_CONDITIONS / sizeof PHOTO_CONDITIONS[0]);
