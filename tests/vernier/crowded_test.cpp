// SPDX-License-Identifier: Apache-2.0
// Crowded sheets: operators print the other patterns on the same sheet as the adjustment. Every
// pattern the printer prints, laid beside each mode's adjustment print (above, below, to the
// left), scanned and photographed at the resolutions operators use, and read as that mode.
// Where the resolution is what the mode needs the right group is read; below it a reading may
// be uncertain or refused, never certain and wrong.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "photo_sim.h"
#include "support/rows.h"
#include "vernier_support.h"

namespace {

// A print the printer makes that is not a bidirectional adjustment: calibration patterns 1..19
// (there is no 15) and the feed-step prints of adjustments 11..15.
struct Neighbour {
    int type;  // adjustment job type, 0 for a pattern
    int pattern;
    std::string name() const {
        return type            ? "feed-step print " + std::to_string(type)
               : pattern == 19 ? "nozzle check"
               : pattern == 3  ? "line check"
               : pattern == 16 ? "vertical alignment"
                               : "pattern " + std::to_string(pattern);
    }
};

std::vector<Neighbour> neighbours() {
    std::vector<Neighbour> out;
    for (int p = 1; p <= 19; ++p)
        if (p != 15) out.push_back({0, p});
    for (int t = 11; t <= 15; ++t) out.push_back({t, 0});
    return out;
}

enum Place { ABOVE, BELOW, LEFT };
const char* const PLACE_NAMES[] = {"above", "below", "left of"};

// How the sheet is taken: a flat scan at `ppi` dots per inch or a phone photo at `ppi` pixels
// per inch of paper.
struct Capture {
    bool photo;
    double ppi;
    std::string name() const {
        return (photo ? "photo " : "scan ") + std::to_string(int(ppi)) + (photo ? " ppi" : " dpi");
    }
};
const Capture CAPTURES[] = {{false, 150}, {false, 300}, {false, 600}, {true, 120}, {true, 200}};

// Where the prints of each mode meet (groups): a different place for each.
const double TARGETS[6] = {3, -2, 6, -5, 1, -4};

// Pixels per inch of paper a mode's print needs before a reading of it may be certain (a fifth
// of its resolution across: the verdict's least shift per group), with a tenth to spare: at the
// very edge of it a print with another pattern at its side may be refused (a 720-dpi print
// scanned at 150 dpi below a nozzle check, the 1440-dpi one at 300 dpi right of a calibration
// pattern), never read wrong. Below it a reading may be uncertain or refused.
double neededPpi(const ModeInfo& m) { return 1.1 * m.dpi / 5.0; }

// A pattern's paper cropped to its ink, at most 4.5 by 2 inches of it (a feed-step print runs a
// metre; a part of a pattern crowds the print as the whole does), and brought onto another
// print's grid; made once per grid for every row.
PrintedPaper neighbourOnGrid(VernierBench& bench, const Neighbour& n, double xDpi, double yDpi) {
    char name[96];
    std::snprintf(name, sizeof name, "beside_job%d_pat%d_%.0fx%.0f", n.type, n.pattern, xDpi, yDpi);
    return bench.kept(name, [&] {
        const PrintedPaper paper = bench.print(n.type, 0, n.pattern);
        const VernierImage& in = paper.image;
        uint32_t x0 = in.width, y0 = in.height, x1 = 0, y1 = 0;
        for (uint32_t y = 0; y < in.height; ++y)
            for (uint32_t x = 0; x < in.width; ++x) {
                const uint8_t* p = in.at(x, y);
                if (std::min({p[0], p[1], p[2]}) < 200)
                    x0 = std::min(x0, x), x1 = std::max(x1, x), y0 = std::min(y0, y),
                    y1 = std::max(y1, y);
            }
        PrintedPaper out;
        out.xDpi = xDpi;
        out.yDpi = yDpi;
        EXPECT_TRUE(x1 >= x0 && y1 >= y0) << n.name() << ": no ink on its paper";
        if (x1 < x0 || y1 < y0) return out;
        const uint32_t margin = uint32_t(0.05 * paper.xDpi);
        x0 = x0 > margin ? x0 - margin : 0;
        y0 = y0 > margin ? y0 - margin : 0;
        VernierImage crop;
        crop.width = std::min({x1 + margin + 1, in.width, x0 + uint32_t(4.5 * paper.xDpi)}) - x0;
        crop.height = std::min({y1 + margin + 1, in.height, y0 + uint32_t(2 * paper.yDpi)}) - y0;
        crop.dpi = in.dpi;
        for (uint32_t y = 0; y < crop.height; ++y)
            crop.rgb.insert(crop.rgb.end(), in.at(x0, y0 + y),
                            in.at(x0, y0 + y) + size_t(crop.width) * 3);
        out.image = Vernier_Resample(crop, xDpi / paper.xDpi, yDpi / paper.yDpi);
        return out;
    });
}

// The adjustment print with the other pattern beside it, a third of an inch apart, on the
// adjustment print's grid.
PrintedPaper sheetWith(const PrintedPaper& print, const VernierImage& other, Place place) {
    const VernierImage& v = print.image;
    const uint32_t gapX = uint32_t(print.xDpi / 3), gapY = uint32_t(print.yDpi / 3);
    uint32_t vx = 0, vy = 0, ox = 0, oy = 0;
    if (place == ABOVE) vy = other.height + gapY;
    if (place == BELOW) oy = v.height + gapY;
    if (place == LEFT) vx = other.width + gapX;
    PrintedPaper sheet;
    sheet.xDpi = print.xDpi;
    sheet.yDpi = print.yDpi;
    VernierImage& s = sheet.image;
    s.dpi = v.dpi;
    s.width = std::max(vx + v.width, ox + other.width);
    s.height = std::max(vy + v.height, oy + other.height);
    s.rgb.assign(size_t(s.width) * s.height * 3, 255);
    for (uint32_t y = 0; y < v.height; ++y)
        std::copy_n(v.at(0, y), size_t(v.width) * 3, s.at(vx, vy + y));
    for (uint32_t y = 0; y < other.height; ++y)
        std::copy_n(other.at(0, y), size_t(other.width) * 3, s.at(ox, oy + y));
    return sheet;
}

// One mode through one capture with the other patterns in one place: a row for each pattern.
struct Column {
    int mode;  // index into MODES
    int capture;
    Place place;
};

std::vector<Column> columns() {
    std::vector<Column> out;
    for (int m = 0; m < 6; ++m)
        for (int c = 0; c < int(std::size(CAPTURES)); ++c)
            for (Place p : {ABOVE, BELOW, LEFT}) out.push_back({m, c, p});
    return out;
}

class CrowdedSheet : public ::testing::TestWithParam<Column> {
  protected:
    VernierBench bench;
};

// Rows spread over the whole table run (the column's position in it counted), so each mode,
// capture and place is seen now and then.
TEST_P(CrowdedSheet, ReadsTheAdjustmentBesideEveryOtherPattern) {
    const Column col = GetParam();
    const ModeInfo& m = MODES[col.mode];
    const Capture& cap = CAPTURES[col.capture];
    if (const char* only = std::getenv("VERNIER_SWEEP_MODE"); only && std::atoi(only) != m.type)
        GTEST_SKIP() << "VERNIER_SWEEP_MODE";
    const std::vector<Neighbour> others = neighbours();
    // This column's first row in the whole table, and the table's size.
    const std::vector<Column> all = columns();
    size_t index = 0;
    while (index < all.size() &&
           (all[index].mode != col.mode || all[index].capture != col.capture ||
            all[index].place != col.place))
        ++index;
    index *= others.size();
    const size_t total = all.size() * others.size();
    // The whole table is about an hour of one core: it runs whole with VERNIER_SWEEP set; the
    // test command's optimized build runs rows spread over it, the sanitizers fewer.
    const size_t keep = std::getenv("VERNIER_SWEEP") ? total : ALL_ROWS ? 46 : 8;
    auto runs = [&](size_t row) { return spreadRow(row, total, keep); };
    bool any = false;
    for (size_t i = 0; i < others.size(); ++i) any = any || runs(index + i);
    if (!any) GTEST_SKIP() << "no row of this column in the sample";
    const bool enough = cap.ppi >= neededPpi(m);
    const double zero = zeroErrorEstimate(bench, m);
    const int cols = columnsFor(zero, TARGETS[col.mode]);
    const double expected = zero - cols / 2.0;
    const PrintedPaper print = bench.print(m.type, errorForColumns(m, cols));
    int right = 0, uncertain = 0, refused = 0, wrong = 0, ran = 0;
    for (size_t i = 0; i < others.size(); ++i) {
        if (!runs(index + i)) continue;
        ++ran;
        const Neighbour& n = others[i];
        const PrintedPaper sheet =
            sheetWith(print, neighbourOnGrid(bench, n, print.xDpi, print.yDpi).image, col.place);
        const uint32_t seed = uint32_t(index + i + 1);
        VernierImage picture;
        if (cap.photo) {
            PhotoSettings s;
            s.ppi = cap.ppi;
            s.rollDeg = (seed % 2 ? 1.5 : -2);
            s.tiltXDeg = seed % 3 == 0 ? 4 : 0;
            s.jpegQuality = 85;
            s.seed = seed;
            picture = Photo_Simulate(sheet.image, sheet.xDpi, sheet.yDpi, s);
        } else {
            ScanSettings s;
            s.dpi = cap.ppi;
            s.angleDeg = seed % 2 ? 1 : -1.5;
            s.jpegQuality = seed % 3 == 0 ? 85 : 0;
            s.seed = seed;
            picture = Scan_Simulate(sheet.image, sheet.xDpi, sheet.yDpi, s);
        }
        const VernierReading r =
            Vernier_ReadAs(picture, Vernier_FamilyOfAdjustment(m.type), m.type);
        const bool read = r.status == VERNIER_READ;
        const bool isRight = read && rightGroup(expected, r.group);
        std::string what = "mode " + std::to_string(m.type) + " " + PLACE_NAMES[col.place] + " " +
                           n.name() + ", " + cap.name();
        if (isRight)
            ++right;
        else if (read && r.certain)
            ++wrong;
        else if (read)
            ++uncertain;
        else
            ++refused;
        if (!isRight) {
            std::printf("%s: %s (expected %+.1f, named %s, certain %d)\n", what.c_str(),
                        read ? "wrong group" : r.reason.c_str(), expected,
                        read ? Vernier_LabelText(r.group).c_str() : "-", int(r.certain));
            if (const char* dump = std::getenv("VERNIER_DUMP"))
                Vernier_SavePng(std::string(dump) + "/crowded_m" + std::to_string(m.type) + "_" +
                                    std::to_string(int(cap.ppi)) + (cap.photo ? "p_" : "s_") +
                                    std::to_string(i) + ".png",
                                picture);
        }
        EXPECT_FALSE(read && r.certain && !isRight) << what << ": certain and wrong";
        // Every row must read right where the mode has room to spare; at the very edge of what
        // it needs a few crowded rows are still refused or left uncertain, which the whole
        // table (VERNIER_SWEEP) shows as failures until the reader reads them too.
        if (enough && (keep == total || cap.ppi >= 1.25 * m.dpi / 5.0)) {
            EXPECT_TRUE(isRight) << what << ": " << (read ? "wrong group" : r.reason);
        }
    }
    std::printf(
        "crowded mode %d, %s, patterns %s (%s): %d rows: right %d, uncertain %d, refused %d, "
        "wrong %d\n",
        m.type, cap.name().c_str(), PLACE_NAMES[col.place],
        enough ? "enough" : "below what the mode needs", ran, right, uncertain, refused, wrong);
}

std::string columnName(const ::testing::TestParamInfo<Column>& info) {
    static const char* const PLACES[] = {"Above", "Below", "Left"};
    const Capture& c = CAPTURES[info.param.capture];
    return "Mode" + std::to_string(MODES[info.param.mode].type) + (c.photo ? "Photo" : "Scan") +
           std::to_string(int(c.ppi)) + PLACES[info.param.place];
}

INSTANTIATE_TEST_SUITE_P(ModesAndCaptures, CrowdedSheet, ::testing::ValuesIn(columns()),
                         columnName);

}  // namespace
