// SPDX-License-Identifier: Apache-2.0
// The photo simulator: the virtual printer's paper as a phone would see it, held over the
// sheet at a slant (a pinhole camera), through a lens with barrel distortion, out of focus or
// shaken, under uneven light, with the sheet curled, on a table or under a dark lid, and saved
// as a phone's JPEG.
#pragma once
#include <cstdint>
#include <string>

#include "scan_sim.h"

enum PhotoBackground : uint8_t {
    BACKGROUND_NONE = 0,
    BACKGROUND_TABLE,
    BACKGROUND_DARK,
    BACKGROUND_PRINTER
};

struct PhotoSettings {
    double ppi = 200;          // camera pixels per inch of paper at the sheet's centre
    double tiltXDeg = 0;       // camera turned about its horizontal axis (keystone top/bottom)
    double tiltYDeg = 0;       // about its vertical axis (keystone left/right)
    double rollDeg = 0;        // turned in the picture's plane (90, 180, 270: quarter turns)
    double distanceInch = 12;  // camera above the sheet
    double barrel = 0;         // radial distortion at the picture's corner, fraction of the radius
    double defocusPx = 0.6;    // Gaussian sigma in picture pixels
    double shakePx = 0;        // length of a straight shake across the picture
    double gradient = 0;       // light falling off across the picture (0..1 of paper level)
    double shadow = 0;         // depth of a soft shadow over part of the sheet (0..1)
    double glare = 0;          // strength of a bright glare spot (0..1)
    double curlInch = 0;       // the sheet lifted at its left and right edges
    double sheetMarginInch = 0.5;  // white paper around the printed area
    double backgroundFrac = 0.15;  // background around the sheet, fraction of the picture
    PhotoBackground background = BACKGROUND_NONE;
    double noise = 3;
    int jpegQuality = 0;  // 0 = no JPEG step
    uint32_t seed = 1;
};

// paper: the rendered picture, xDpi across and yDpi down. The photo carries no resolution.
VernierImage Photo_Simulate(const VernierImage& paper, double xDpi, double yDpi,
                            const PhotoSettings& s);

// A named condition of the photo sweep and its settings for a given draw (seeded).
struct PhotoCondition {
    const char* name;
    void (*apply)(PhotoSettings* s, uint32_t draw);
};
extern const PhotoCondition PHOTO_CONDITIONS[];
extern const int PHOTO_CONDITION_COUNT;
