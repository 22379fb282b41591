// SPDX-License-Identifier: Apache-2.0
// The locator's dashed rows: a reduced copy of the ink map, and rows of equally spaced dashes
// followed along it (bars, labels, bands of ticks), shared by the locator's rooms.
#pragma once
#include <vector>

#include "vernier/vernier_internal.h"

namespace reader {

// A phone held over the sheet turns it a little off the picture's sides; quarter turns are
// tried apart.
constexpr double MAX_ANGLE_DEG = 15.0;
constexpr uint32_t REDUCED_SIDE = 1500;  // the reduced copy's longer side, about
constexpr int MIN_CHAIN = 8;             // dash rows shorter than this are not kept

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
        // Inside, the four pixels are read without a test each (the rows are followed across
        // the whole picture thousands of times).
        if (x0 >= 0 && y0 >= 0 && x0 + 1 < int(w) && y0 + 1 < int(h)) {
            const float* p = &v[size_t(y0) * w + size_t(x0)];
            return float((p[0] * (1 - fx) + p[1] * fx) * (1 - fy) +
                         (p[w] * (1 - fx) + p[w + 1] * fx) * fy);
        }
        return float((at(x0, y0) * (1 - fx) + at(x0 + 1, y0) * fx) * (1 - fy) +
                     (at(x0, y0 + 1) * (1 - fx) + at(x0 + 1, y0 + 1) * fx) * fy);
    }
};

// The row of dashes at height v across the reduced picture at angle a (radians): its longest
// chain of dashes.
DashRow dashRow(const Reduced& r, double a, double v);
// Every chain of dashes along that row, longest first (prints side by side at one height); at
// least one row, with no dashes where none is seen. Each carries every run of ink of the row.
std::vector<DashRow> dashRows(const Reduced& r, double a, double v);
// Rows whose gaps blur shut completed from a steady row beside them.
void completeBridgedRows(std::vector<DashRow>* rows);
// A bar one head row thick beside its print's ticks can show in the projection as no more than
// a shoulder of the ticks' peak, so no row is looked at there. Where one bar is seen whole, the
// other is looked for at the distances from it the families put it at, above and below. The
// rows found so are returned apart from those given.
std::vector<DashRow> partnerRows(const Reduced& r, double a, const std::vector<DashRow>& rows);

}  // namespace reader
