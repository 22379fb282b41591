// SPDX-License-Identifier: Apache-2.0
// The history's picture against its data, shared by the picture's tests on Linux (cairo) and
// under Wine (GDI+, and headalign.exe's "history --plot"): every reading, verification and SAVE
// in its mode's colour where the frame's mapping puts it. Header only: the programs that use it
// link the picture codec, the others need not.
#pragma once
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

#include "history/analysis.h"
#include "platform/image_codec.h"

struct PlotPicture {
    ImagePixels pixels;
    bool colourAt(double x, double y, const HistoryColour& c) const {
        int px = int(std::lround(x)), py = int(std::lround(y));
        if (px < 0 || py < 0 || px >= int(pixels.width) || py >= int(pixels.height)) return false;
        const uint8_t* p = &pixels.rgb[(size_t(py) * pixels.width + size_t(px)) * 3];
        auto near = [](uint8_t v, double want) { return std::abs(int(v) - int(want * 255)) <= 40; };
        return near(p[0], c.r) && near(p[1], c.g) && near(p[2], c.b);
    }
    // Within a pixel of (x, y): for thin marks whose edge the anti-aliasing lightens.
    bool colourNear(double x, double y, const HistoryColour& c) const {
        for (int dy = -1; dy <= 1; ++dy)
            for (int dx = -1; dx <= 1; ++dx)
                if (colourAt(x + dx, y + dy, c)) return true;
        return false;
    }
    // Pixels darker than mid grey inside the rectangle: where the words are.
    int inkIn(int x0, int y0, int x1, int y1) const {
        int n = 0;
        for (int y = std::max(0, y0); y < std::min(y1, int(pixels.height)); ++y)
            for (int x = std::max(0, x0); x < std::min(x1, int(pixels.width)); ++x) {
                const uint8_t* p = &pixels.rgb[(size_t(y) * pixels.width + size_t(x)) * 3];
                n += p[0] + p[1] + p[2] < 3 * 128;
            }
        return n;
    }
};

// The PNG decoded; false (and a failed expectation) when it is not one.
inline bool PlotPicture_Decode(const std::string& png, PlotPicture* picture) {
    std::string why;
    ImageLimits limits{20000, 100000000, 100000000};
    bool ok = ImageCodec_Backend()->decodePng(reinterpret_cast<const uint8_t*>(png.data()),
                                              png.size(), limits, &picture->pixels, &why);
    EXPECT_TRUE(ok) << why;
    return ok;
}

// Checks every point of the series against the picture; returns how many were checked.
inline int PlotPicture_CheckPoints(const PlotPicture& picture,
                                   const std::vector<HistorySeries>& series) {
    const HistoryPlotFrame f = History_PlotFrame(series);
    EXPECT_EQ(picture.pixels.width, uint32_t(f.width));
    EXPECT_EQ(picture.pixels.height, uint32_t(f.height));
    // The words are drawn: the title above the panels, the legend's mode names at the right.
    EXPECT_GT(picture.inkIn(int(f.left), 10, int(f.left) + 300, 36), 100) << "no title";
    EXPECT_GT(picture.inkIn(int(f.right) + 50, int(f.savedTop), f.width, int(f.savedTop) + 40), 30)
        << "no legend";
    int checked = 0;
    for (const HistorySeries& s : series) {
        SCOPED_TRACE("mode " + std::to_string(s.mode) + " pass " + std::to_string(s.pass));
        const HistoryColour c = History_ModeColour(s.mode, s.pass);
        for (const HistoryPoint& r : s.readings) {
            double x = f.x(r.time), y = f.yReading(r.value);
            EXPECT_GT(x, f.left);
            EXPECT_LT(x, f.right);
            EXPECT_GT(y, f.readTop);
            EXPECT_LT(y, f.readBottom);
            // A certain reading is a filled dot; an uncertain one a ring (its edge is coloured).
            EXPECT_TRUE(r.certain ? picture.colourAt(x, y, c) : picture.colourNear(x + 5, y, c))
                << "reading " << r.value << " at " << x << "," << y;
            ++checked;
        }
        for (const HistoryPoint& v : s.verifications) {
            EXPECT_TRUE(picture.colourAt(f.x(v.time), f.yReading(v.value), c))
                << "verification " << v.value;
            ++checked;
        }
        for (size_t i = 1; i + 1 < s.saved.size(); ++i) {
            double y = f.ySaved(s.saved[i].value);
            EXPECT_GT(y, f.savedTop);
            EXPECT_LT(y, f.savedBottom);
            EXPECT_TRUE(picture.colourAt(f.x(s.saved[i].time) + 2, y, c))
                << "save of " << s.saved[i].value;
            ++checked;
        }
    }
    return checked;
}
