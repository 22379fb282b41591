// SPDX-License-Identifier: Apache-2.0
// The scanner simulator: from the virtual printer's rendered paper, what a flatbed scan or a
// photo would give (resolution, turn, blur, noise, gamma, off-white paper, other ink, JPEG).
#pragma once
#include <cstdint>

#include "vernier/vernier.h"

struct ScanSettings {
    double dpi = 300;
    double angleDeg = 0;          // positive turns the paper clockwise on the scan
    double blurPx = 0.7;          // optical blur, Gaussian sigma in scan pixels
    double noise = 2;             // sensor noise, sigma in grey levels
    double gamma = 1;             // applied to the 0..1 levels
    int jpegQuality = 0;          // 0 = no JPEG step
    double marginInch = 0.3;      // white paper around the printed area
    double dropInch = 1 / 200.0;  // diameter of one drop's dot on the paper
    uint8_t paper[3] = {255, 255, 255};
    bool recolour = false;  // print the pattern in `ink` instead of its own inks
    uint8_t ink[3] = {0, 0, 0};
    uint32_t seed = 1;
};

// paper: the rendered picture, xDpi across and yDpi down.
VernierImage Scan_Simulate(const VernierImage& paper, double xDpi, double yDpi,
                           const ScanSettings& s);

// The picture turned half a turn: the virtual printer shows the sheet as the operator holds it,
// the simulators lay it the way the canvas lies.
VernierImage halfTurned(const VernierImage& image);
