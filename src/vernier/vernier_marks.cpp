// SPDX-License-Identifier: Apache-2.0
// Drawing what the reader found onto the picture, for the operator to check.
#include <algorithm>
#include <cmath>

#include "vernier/vernier.h"

void Vernier_MarkGroups(VernierImage* image, const VernierReading& reading) {
    auto dot = [&](double x, double y, uint8_t r, uint8_t g) {
        long xi = std::lround(x), yi = std::lround(y);
        if (xi < 0 || yi < 0 || xi >= long(image->width) || yi >= long(image->height)) return;
        uint8_t* p = image->at(uint32_t(xi), uint32_t(yi));
        p[0] = r, p[1] = g, p[2] = 0;
    };
    double half = reading.pitchPx * 0.45, tall = reading.barDistancePx * 0.7;
    for (const VernierGroup& g : reading.groups) {
        bool named = reading.status == VERNIER_READ && g.label == reading.group;
        uint8_t r = g.measured ? 0 : 220, gr = g.measured ? 170 : 0;
        for (int thick = 0; thick < (named ? 4 : 1); ++thick) {
            double h = half + thick, t = tall + thick;
            for (double s = -1; s <= 1; s += 0.5 / std::max(h, t)) {
                dot(g.x + s * h, g.y - t, r, gr);
                dot(g.x + s * h, g.y + t, r, gr);
                dot(g.x - h, g.y + s * t, r, gr);
                dot(g.x + h, g.y + s * t, r, gr);
            }
        }
    }
}
