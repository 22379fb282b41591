// SPDX-License-Identifier: Apache-2.0
// The vernier reader against the virtual printer's paper, straight and through the scanner
// simulator, and against pages it must refuse.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <random>

#include <zlib.h>

#include "photo_sim.h"
#include "support/rows.h"
#include "vernier_support.h"

namespace {

ScanSettings randomScan(std::mt19937& rng, double dpi) {
    std::uniform_real_distribution<double> angle(-3, 3), blur(0.4, 1.2), noise(1, 5),
        gamma(0.7, 1.4), u(0, 1);
    ScanSettings s;
    s.dpi = dpi;
    s.angleDeg = angle(rng);
    s.blurPx = blur(rng);
    s.noise = noise(rng);
    s.gamma = gamma(rng);
    s.jpegQuality = u(rng) < 0.5 ? 75 + int(u(rng) * 20) : 0;
    if (u(rng) < 0.3) s.paper[0] = 245, s.paper[1] = 238, s.paper[2] = 222;
    if (u(rng) < 0.3) s.recolour = true, s.ink[0] = 200, s.ink[1] = 30, s.ink[2] = 120;
    s.seed = uint32_t(rng());
    return s;
}

struct Tally {
    int right = 0, wrong = 0, refused = 0, wrongSure = 0, uncertain = 0, certainWrong = 0;
    // Readings whose error is beyond two stated spreads: the spread must cover the error.
    int beyondTwo = 0;
    // Readings of the print asked for as another mode's that were certain all the same.
    int otherCertain = 0;
    int read() const { return right + wrong; }
    std::map<std::pair<int, int>, int> table;  // (expected x2, named group x2 or 99 refused)
    void add(double expected, const VernierReading& r) {
        int key = r.status == VERNIER_READ ? r.group * 2 : 99;
        ++table[{int(std::lround(expected * 2)), key}];
        // A certain reading claims where the prints meet: on its group, or between its two.
        if (r.status == VERNIER_READ && !r.certain) ++uncertain;
        if (r.status == VERNIER_READ && std::fabs(r.estimate - expected) > 2 * r.sigma + 0.02)
            ++beyondTwo;
        if (r.status == VERNIER_READ && r.certain) {
            double lo = r.halfway ? std::min(r.group, r.neighbour) : r.group - 0.5;
            double hi = r.halfway ? std::max(r.group, r.neighbour) : r.group + 0.5;
            if (expected < lo - 0.05 || expected > hi + 0.05) ++certainWrong;
        }
        if (r.status != VERNIER_READ)
            ++refused;
        else if (rightGroup(expected, r.group))
            ++right;
        else
            ++wrong, wrongSure += r.highConfidence ? 1 : 0;
    }
    int total() const { return right + wrong + refused; }
    void print() const {
        std::printf(
            "right %d, wrong %d (sure %d), cannot read %d of %d; uncertain %d, certain but wrong "
            "%d; beyond two spreads %d; as another mode certain %d\n",
            right, wrong, wrongSure, refused, total(), uncertain, certainWrong, beyondTwo,
            otherCertain);
        int lastExpected = 1000;
        for (const auto& [k, n] : table) {
            if (k.first != lastExpected) std::printf("\n  expected %+5.1f:", k.first / 2.0);
            lastExpected = k.first;
            if (k.second == 99)
                std::printf("  cannot read x%d", n);
            else
                std::printf("  %s x%d", Vernier_LabelText(k.second / 2).c_str(), n);
        }
        std::printf("\n");
    }
};

// A 3 x 3 box over the picture, as a viewer smooths a reduced picture.
VernierImage smoothed(const VernierImage& in) {
    VernierImage out = in;
    for (uint32_t y = 1; y + 1 < in.height; ++y)
        for (uint32_t x = 1; x + 1 < in.width; ++x)
            for (int c = 0; c < 3; ++c) {
                int sum = 0;
                for (uint32_t yy = y - 1; yy <= y + 1; ++yy)
                    for (uint32_t xx = x - 1; xx <= x + 1; ++xx) sum += in.at(xx, yy)[c];
                out.at(x, y)[c] = uint8_t(sum / 9);
            }
    return out;
}

class ReaderTest : public ::testing::Test {
  protected:
    VernierBench bench;
};

// On the exact paper every mode reads its residue at zero error, and an error of n columns
// moves the meeting point by n/2 groups towards the negative labels.
TEST_F(ReaderTest, ExactPaperOfEveryModeAcrossTheRange) {
    for (const ModeInfo& m : MODES) {
        if (!sampledRow(size_t(&m - MODES), std::size(MODES))) continue;
        double zero = zeroErrorEstimate(bench, m);
        EXPECT_NEAR(zero * 2, std::round(zero * 2), 0.05) << "mode " << m.type;
        for (double target : {-9.0, -4.5, 9.0}) {
            int cols = columnsFor(zero, target);
            VernierReading r = Vernier_Read(bench.print(m.type, errorForColumns(m, cols)).square());
            ASSERT_EQ(r.status, VERNIER_READ)
                << "mode " << m.type << " target " << target << ": " << r.reason;
            EXPECT_NEAR(r.estimate, zero - cols / 2.0, 0.08) << "mode " << m.type;
            EXPECT_EQ(r.highConfidence, std::fabs(target - std::round(target)) < 0.1)
                << "mode " << m.type;
            // Half-way is an answer, not a doubt: the exact paper is certain either way.
            EXPECT_EQ(r.halfway, std::fabs(target - std::round(target)) > 0.4) << "mode " << m.type;
            EXPECT_TRUE(r.certain) << "mode " << m.type << " target " << target;
            EXPECT_EQ(r.family, Vernier_FamilyOfAdjustment(m.type));
            EXPECT_EQ(r.groups.size(), 19u);
        }
        // Read as another mode, the print is refused, naming the modes it looks like.
        static const char* const LOOKS_LIKE[] = {"mode 5, 6 or 7", "mode 8 or 9", "mode 10"};
        int asked = m.dpi == 720 ? 10 : 8;
        VernierReading other = Vernier_ReadAs(bench.print(m.type, 0).square(),
                                              Vernier_FamilyOfAdjustment(asked), asked);
        EXPECT_EQ(other.status, VERNIER_OTHER_MODE) << "mode " << m.type;
        EXPECT_FALSE(other.certain);
        EXPECT_NE(other.reason.find(std::string("looks like ") +
                                    LOOKS_LIKE[m.dpi == 540   ? 0
                                               : m.dpi == 720 ? 1
                                                              : 2] +
                                    " (bidirectional adjustment, " + std::to_string(m.dpi) +
                                    " dpi), not mode " + std::to_string(asked)),
                  std::string::npos)
            << other.reason;
    }
}

// Pixels that are not square, as a picture drawn on the board's 720-dpi grid down a 540-dpi
// print: read right when the file states its densities (PNG pHYs, JPEG JFIF with or without a
// unit), taken for another mode's print when it claims square pixels, refused when its ratio is
// no device's.
TEST_F(ReaderTest, UnequalDensitiesStatedInTheFileAreMadeSquare) {
    const ModeInfo& m = MODES[0];
    double zero = zeroErrorEstimate(bench, m);
    const double target = 3;
    PrintedPaper paper = bench.print(m.type, errorForColumns(m, columnsFor(zero, target)));
    VernierImage tall = Vernier_Resample(paper.image, 1.0, 720.0 / 540);
    tall.dpi = 540;
    std::vector<uint8_t> png, jpeg;
    TempDir dir;
    ASSERT_TRUE(Vernier_SavePng(dir.path + "/p.png", tall));
    std::string bytes = readFileBytes(dir.path + "/p.png");
    png.assign(bytes.begin(), bytes.end());
    ASSERT_TRUE(Vernier_EncodeJpeg(tall, 95, &jpeg));
    // The densities across and down written into the header, its CRC made right again.
    auto pngStating = [&](uint32_t across, uint32_t down, uint8_t unit) {
        std::vector<uint8_t> b = png;
        size_t at =
            std::search(b.begin(), b.end(), std::begin("pHYs"), std::end("pHYs") - 1) - b.begin();
        for (int i = 0; i < 4; ++i)
            b[at + 4 + size_t(i)] = uint8_t(across >> (24 - 8 * i)),
                       b[at + 8 + size_t(i)] = uint8_t(down >> (24 - 8 * i));
        b[at + 12] = unit;
        uLong crc = crc32(0, b.data() + at, 13);
        for (int i = 0; i < 4; ++i) b[at + 13 + size_t(i)] = uint8_t(crc >> (24 - 8 * i));
        return b;
    };
    auto jpegStating = [&](uint16_t across, uint16_t down, uint8_t unit) {
        std::vector<uint8_t> b = jpeg;
        b[13] = unit, b[14] = uint8_t(across >> 8), b[15] = uint8_t(across),
        b[16] = uint8_t(down >> 8), b[17] = uint8_t(down);
        return b;
    };
    struct Row {
        const char* what;
        std::vector<uint8_t> file;
        bool loads, readsRight;
        const char* says;
    };
    const Row rows[] = {
        {"PNG 540 x 720 dpi", pngStating(21260, 28346, 1), true, true, ""},
        {"PNG ratio 3:4, no unit", pngStating(3, 4, 0), true, true, ""},
        {"PNG claiming square pixels", pngStating(21260, 21260, 1), true, false, ""},
        {"PNG ratio 1:8", pngStating(1, 8, 0), false, false, "pixels are 8 times as wide as tall"},
        {"JPEG 540 x 720 dpi", jpegStating(540, 720, 1), true, true, ""},
        {"JPEG ratio 3:4, no unit", jpegStating(3, 4, 0), true, true, ""},
        {"JPEG ratio 5:1", jpegStating(5, 1, 0), false, false,
         "pixels are 5 times as tall as wide"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        VernierImage image;
        std::string error;
        ASSERT_EQ(Vernier_DecodeImage(row.file.data(), row.file.size(), &image, &error), row.loads)
            << error;
        if (!row.loads) {
            EXPECT_NE(error.find(row.says), std::string::npos) << error;
            continue;
        }
        VernierReading r = Vernier_Read(image);
        bool right = r.status == VERNIER_READ && r.family == FAMILY_ADJUST_540 &&
                     rightGroup(target, r.group);
        EXPECT_EQ(right, row.readsRight)
            << Vernier_FamilyName(r.family) << " " << r.estimate << " " << r.reason;
        if (row.readsRight) {
            EXPECT_NEAR(image.height, paper.image.height, 1.0);
        }
    }
}

// Beyond the outermost group the reader says so instead of naming "09" or "-9".
TEST_F(ReaderTest, BeyondTheRangeIsNotReadAsTheLastGroup) {
    const ModeInfo& m = MODES[3];
    double zero = zeroErrorEstimate(bench, m);
    for (double target : {-11.0, 11.5}) {
        VernierReading r = Vernier_Read(
            bench.print(m.type, errorForColumns(m, columnsFor(zero, target))).square());
        EXPECT_EQ(r.status, VERNIER_OUT_OF_RANGE) << r.reason;
        EXPECT_FALSE(r.highConfidence);
        EXPECT_FALSE(r.certain);
    }
}

// Scans at 150, 300 and 600 dpi, turned up to 3 degrees, blurred, noisy, JPEG: the right
// group nearly always, a wrong one never with high confidence. VERNIER_SWEEP=1 runs every
// group and half step of every mode and prints the confusion table.
TEST_F(ReaderTest, ScannedSweep) {
    bool full = std::getenv("VERNIER_SWEEP") != nullptr;
    // VERNIER_SWEEP_MODE=10 and VERNIER_SWEEP_DPI=150 narrow the sweep to one mode or resolution
    // (any resolution: VERNIER_SWEEP_DPI=1200 sweeps at 1200 dpi alone).
    const char* onlyMode = std::getenv("VERNIER_SWEEP_MODE");
    const char* onlyDpi = std::getenv("VERNIER_SWEEP_DPI");
    std::vector<double> resolutions = {150, 300, 600};
    if (onlyDpi &&
        std::find(resolutions.begin(), resolutions.end(), std::atof(onlyDpi)) == resolutions.end())
        resolutions = {std::atof(onlyDpi)};
    auto only = [](const char* wanted, int value) { return !wanted || std::atoi(wanted) == value; };
    std::mt19937 rng(12345);
    Tally tally, small;
    std::vector<double> targets;
    if (full)
        for (int t = -18; t <= 18; ++t) targets.push_back(t / 2.0);
    for (const ModeInfo& m : MODES) {
        // Modes left out of the sample still draw their random numbers, so the modes that run
        // see the same scans as in the whole sweep.
        const bool runs =
            only(onlyMode, m.type) && sampledRow(size_t(&m - MODES), std::size(MODES));
        double zero = runs ? zeroErrorEstimate(bench, m) : 0;
        std::vector<double> mine = targets;
        if (!full) {  // a spread of groups and half steps, different for each mode
            std::uniform_int_distribution<int> pick(-18, 18);
            mine.push_back(pick(rng) / 2.0);
        }
        for (double target : mine) {
            int cols = columnsFor(zero, target);
            PrintedPaper paper;
            if (runs) paper = bench.print(m.type, errorForColumns(m, cols));
            for (double dpi : resolutions) {
                if (!full && dpi == 600 && m.type % 3 != 0)
                    continue;  // 600 dpi costs four times 300
                ScanSettings settings = randomScan(
                    rng, dpi);  // drawn always, so a part of the sweep sees the same scans
                if (!runs || !only(onlyDpi, int(dpi))) continue;
                VernierImage scan = Scan_Simulate(paper.image, paper.xDpi, paper.yDpi, settings);
                VernierReading r = Vernier_Read(scan);
                double expected = zero - cols / 2.0;
                tally.add(expected, r);
                if (const char* dump = std::getenv("VERNIER_DUMP");
                    dump && (r.status != VERNIER_READ || !rightGroup(expected, r.group)))
                    Vernier_SavePng(std::string(dump) + "/m" + std::to_string(m.type) + "_" +
                                        std::to_string(int(dpi)) + "_" +
                                        std::to_string(int(std::lround(expected * 2))) + ".png",
                                    scan);
                if (r.status != VERNIER_READ || !rightGroup(expected, r.group))
                    std::printf("mode %d dpi %.0f expected %+.1f: %s %s est %+.2f sigma %.2f\n",
                                m.type, dpi, expected,
                                r.status == VERNIER_READ ? "named" : "cannot read",
                                r.reason.c_str(), r.estimate, r.sigma);
            }
            // The printer's own picture reduced below what the prints need (a fifth and a
            // quarter: 108 and 135 pixels per inch of the 540-dpi paper), smoothed once.
            if (!only(onlyMode, m.type) || (!full && m.type != 5)) continue;
            for (double f : {0.2, 0.25}) {
                double expected = zero - cols / 2.0;
                VernierReading r = Vernier_Read(smoothed(Vernier_Resample(
                    halfTurned(paper.square()), f * 540 / paper.yDpi, f * 540 / paper.yDpi)));
                small.add(expected, r);
                if (r.status == VERNIER_READ && r.certain && !rightGroup(expected, r.group))
                    std::printf("mode %d reduced %.2f expected %+.1f: certain at %+.2f\n", m.type,
                                f, expected, r.estimate);
            }
        }
    }
    std::printf("the printer's picture reduced: ");
    small.print();
    EXPECT_EQ(small.certainWrong, 0);
    EXPECT_LE(small.beyondTwo, std::max(1, small.read() / 20));
    tally.print();
    EXPECT_EQ(tally.wrongSure, 0);
    EXPECT_EQ(tally.certainWrong, 0);
    EXPECT_EQ(tally.wrong, 0);
    EXPECT_GE(tally.right, int(std::ceil(0.98 * tally.total())));
}

// Phone photos: the same sweep with a condition axis (slant, lens, light, curl, background,
// quarter turns, JPEG, resolution). A wrong reading is never certain in any condition.
// VERNIER_SWEEP=1 runs every condition on every group and half step of every mode and prints
// a confusion table per condition; VERNIER_PHOTO_CONDITION=name narrows it to one.
TEST_F(ReaderTest, PhotoSweep) {
    bool full = std::getenv("VERNIER_SWEEP") != nullptr;
    const char* onlyMode = std::getenv("VERNIER_SWEEP_MODE");
    const char* onlyCondition = std::getenv("VERNIER_PHOTO_CONDITION");
    std::mt19937 rng(4242);
    std::map<std::string, Tally> byCondition;
    Tally all;
    int draw = 0;
    for (const ModeInfo& m : MODES) {
        if (onlyMode && std::atoi(onlyMode) != m.type) continue;
        // Modes left out of the sample still count their draws (see ScannedSweep); the sample
        // takes the 720-dpi mode whose low-resolution photo is checked.
        const bool runs = onlyMode || sampledRow(size_t(&m - MODES), std::size(MODES), 3);
        double zero = runs ? zeroErrorEstimate(bench, m) : 0;
        std::vector<double> targets;
        // VERNIER_SWEEP_STRIDE=5 takes every fifth half step of the full sweep.
        int stride = std::max(1, std::getenv("VERNIER_SWEEP_STRIDE")
                                     ? std::atoi(std::getenv("VERNIER_SWEEP_STRIDE"))
                                     : 1);
        if (full)
            for (int t = -18 + (m.type % stride); t <= 18; t += stride) targets.push_back(t / 2.0);
        else
            targets.push_back(std::uniform_int_distribution<int>(-18, 18)(rng) / 2.0);
        for (double target : targets) {
            int cols = columnsFor(zero, target);
            PrintedPaper paper;
            if (runs) paper = bench.print(m.type, errorForColumns(m, cols));
            double expected = zero - cols / 2.0;
            for (int c = 0; c < PHOTO_CONDITION_COUNT; ++c) {
                const PhotoCondition& cond = PHOTO_CONDITIONS[c];
                ++draw;
                if (!runs) continue;
                if (onlyCondition && std::string(onlyCondition) != cond.name) continue;
                // The short sweep takes one condition per mode, a different one for each, and the
                // 720-dpi prints at low resolution, where their bars are under a pixel thick.
                bool lowRes720 =
                    (m.type == 8 || m.type == 9) && std::string(cond.name) == "low resolution";
                if (!full && !onlyCondition && c != (m.type * 3) % PHOTO_CONDITION_COUNT &&
                    !lowRes720)
                    continue;
                PhotoSettings s;
                s.jpegQuality = 85;
                if (!full) s.ppi = 150;  // the short sweep keeps the pictures small
                s.seed = uint32_t(draw);
                cond.apply(&s, uint32_t(draw * 2654435761u));
                VernierImage photo = Photo_Simulate(paper.image, paper.xDpi, paper.yDpi, s);
                VernierReading r = Vernier_Read(photo);
                byCondition[cond.name].add(expected, r);
                all.add(expected, r);
                // Asked for a mode of another resolution, the print is never read as certain.
                if (full) {
                    int other = m.dpi == 720 ? 5 : 8;
                    if (Vernier_ReadAs(photo, Vernier_FamilyOfAdjustment(other), other).certain)
                        ++byCondition[cond.name].otherCertain, ++all.otherCertain;
                }
                bool right = r.status == VERNIER_READ && rightGroup(expected, r.group);
                if (!full && lowRes720) {
                    EXPECT_TRUE(right) << "mode " << m.type << " at low resolution: " << r.reason;
                }
                if (const char* dump = std::getenv("VERNIER_DUMP"); dump && !right)
                    Vernier_SavePng(std::string(dump) + "/photo_m" + std::to_string(m.type) + "_" +
                                        std::to_string(c) + "_" +
                                        std::to_string(int(std::lround(expected * 2))) + ".png",
                                    photo);
                if (!right)
                    std::printf("mode %d %s expected %+.1f: %s %s est %+.2f sigma %.2f%s\n", m.type,
                                cond.name, expected,
                                r.status == VERNIER_READ ? "named" : "cannot read",
                                r.reason.c_str(), r.estimate, r.sigma, r.certain ? " CERTAIN" : "");
            }
        }
    }
    for (auto& [name, t] : byCondition) {
        std::printf("%-18s ", name.c_str());
        if (full)
            t.print();
        else
            std::printf("right %d, wrong %d, cannot read %d, certain but wrong %d\n", t.right,
                        t.wrong, t.refused, t.certainWrong);
        // The stated spread covers the error: past two spreads in a few readings at most.
        if (full && t.read() >= 20) {
            EXPECT_LE(t.beyondTwo, std::max(1, t.read() / 20)) << name;
        }
    }
    std::printf("all photos: ");
    all.print();
    EXPECT_EQ(all.otherCertain, 0);
    EXPECT_EQ(all.certainWrong, 0);
    EXPECT_EQ(all.wrongSure, 0);
}

// A slanted photo leans the ticks and foreshortens the pattern along its length; the reading
// follows the paper, not the slant: the same print reads within a tenth of a group at tilts up
// to 15 degrees about either axis or both. A tenth of a group is a fiftieth of a pixel in a
// 150-ppi photo of the 1440-dpi print, finer than its flat reading holds (0.2), so each print
// is photographed where a group's shift spans about half a pixel: 200 ppi, the 1440-dpi print
// at 300. A close-up (the phone five inches over the sheet, not twelve) slants the sheet's
// lines far more for the same tilt: one end of the row of groups a sixth nearer the lens than
// the other at 12 degrees about the axis across the groups. VERNIER_SWEEP=1 takes every mode
// and tilts -20..20 in steps of 5 about each axis and prints the reading's move per tilt
// (VERNIER_TILT=x,y[,inches] one tilt, VERNIER_TILT_PPI=n another resolution).
TEST_F(ReaderTest, TiltDoesNotMoveTheReading) {
    bool full = std::getenv("VERNIER_SWEEP") != nullptr;
    struct Tilt {
        double x, y, inches = 12;
    };
    std::vector<Tilt> tilts;
    if (full) {
        for (double t : {-20, -15, -12, -10, -8, -5, 0, 5, 8, 10, 12, 15, 20})
            tilts.push_back({t, 0});
        for (double t : {-20, -15, -12, -10, -8, -5, 5, 8, 10, 12, 15, 20}) tilts.push_back({0, t});
        for (double t : {-15.0, 15.0}) tilts.push_back({t, t}), tilts.push_back({t, -t});
        for (double t : {-15, -12, 12, 15}) tilts.push_back({0, t, 5}), tilts.push_back({t, 0, 5});
    } else {
        tilts = {{0, 0},   {10, 0}, {-10, 0}, {0, 10}, {0, -15},    {15, -15},   {-15, -15},
                 {8, 0},   {-8, 0}, {0, 8},   {0, -8}, {12, 0},     {-12, 0},    {0, 12},
                 {0, -12}, {15, 0}, {-15, 0}, {0, 15}, {0, -12, 5}, {0, -15, 5}, {0, 15, 5}};
    }
    if (const char* t = std::getenv("VERNIER_TILT")) {
        const char* y = std::strchr(t, ',');
        const char* d = y ? std::strchr(y + 1, ',') : nullptr;
        tilts = {{std::atof(t), y ? std::atof(y + 1) : 0, d ? std::atof(d + 1) : 12}};
    } else {
        tilts = sampledRows(tilts, 3);
    }
    double worst = 0;
    for (const ModeInfo& m : MODES) {
        if (const char* only = std::getenv("VERNIER_SWEEP_MODE"); only && std::atoi(only) != m.type)
            continue;
        // The short table takes the 720-dpi print, and the 540-dpi one close up.
        const bool closeUpsOnly = !full && m.type == 5;
        if (!full && m.type != 8 && !closeUpsOnly) continue;
        if (!full && std::none_of(tilts.begin(), tilts.end(),
                                  [&](const Tilt& t) { return closeUpsOnly == (t.inches < 12); }))
            continue;
        double zero = zeroErrorEstimate(bench, m);
        int cols = columnsFor(zero, 3);
        PrintedPaper paper = bench.print(m.type, errorForColumns(m, cols));
        if (full) std::printf("mode %d:", m.type);
        for (const Tilt& t : tilts) {
            if (!full && closeUpsOnly != (t.inches < 12)) continue;
            PhotoSettings s;
            s.ppi = m.dpi > 720 ? 300 : 200;
            if (const char* ppi = std::getenv("VERNIER_TILT_PPI")) s.ppi = std::atof(ppi);
            s.tiltXDeg = t.x, s.tiltYDeg = t.y, s.distanceInch = t.inches;
            std::string what = "mode " + std::to_string(m.type) + " tilt " +
                               std::to_string(int(t.x)) + "," + std::to_string(int(t.y)) +
                               (t.inches < 12 ? " close up" : "");
            const VernierImage photo = Photo_Simulate(paper.image, paper.xDpi, paper.yDpi, s);
            if (const char* dump = std::getenv("VERNIER_DUMP"))
                Vernier_SavePng(std::string(dump) + "/tilt_m" + std::to_string(m.type) + "_" +
                                    std::to_string(int(t.x)) + "_" + std::to_string(int(t.y)) +
                                    "_" + std::to_string(int(t.inches)) + ".png",
                                photo);
            VernierReading r = Vernier_Read(photo);
            bool within = std::max(std::fabs(t.x), std::fabs(t.y)) <= 15;
            if (within) {
                EXPECT_EQ(r.status, VERNIER_READ) << what << ": " << r.reason;
            }
            const char* mark = t.inches < 12 ? "c" : "";
            if (r.status != VERNIER_READ) {
                if (full) std::printf(" %+.0f,%+.0f%s:--", t.x, t.y, mark);
                continue;
            }
            double moved = r.estimate - (zero - cols / 2.0);
            worst = std::max(worst, std::fabs(moved));
            if (full) std::printf(" %+.0f,%+.0f%s:%+.3f", t.x, t.y, mark, moved);
            if (within) {
                EXPECT_NEAR(moved, 0, 0.1) << what;
            }
            EXPECT_FALSE(r.certain && !rightGroup(zero - cols / 2.0, r.group)) << what;
        }
        if (full) std::printf("\n");
    }
    std::printf("largest move of the reading with tilt: %.3f group\n", worst);
}

TEST_F(ReaderTest, BlankPageNozzleCheckAndOtherPatternsCannotBeRead) {
    VernierImage blank;
    blank.width = 1240;
    blank.height = 1754;
    blank.rgb.assign(size_t(blank.width) * blank.height * 3, 250);
    VernierReading r = Vernier_Read(blank);
    EXPECT_EQ(r.status, VERNIER_NOT_FOUND);
    EXPECT_NE(r.reason.find("pattern not found"), std::string::npos);
    // Prints without a vernier: the nozzle check, two calibration patterns, the feed-step print.
    struct Other {
        int type, pattern;
        double angle;
    };
    // The metre-long feed-step print stands inside the table, so the sanitizer build's sample
    // (the first and last rows) reads the two small prints and leaves it to the optimized build.
    const std::vector<Other> others = {{0, 19, 1.5}, {0, 3, 1.5}, {11, 0, 0}, {0, 16, 1.5}};
    for (const Other& o : sampledRows(others)) {
        PrintedPaper p = bench.print(o.type, 0, o.pattern);
        ScanSettings s;
        s.angleDeg = o.angle;
        s.dpi = 150;
        r = Vernier_Read(Scan_Simulate(p.image, p.xDpi, p.yDpi, s));
        EXPECT_NE(r.status, VERNIER_READ) << "job " << o.type << " pattern " << o.pattern;
    }
    // A print cut off by the picture's edge is refused saying which side to bring in.
    const PrintedPaper five = bench.print(5, 0);
    VernierImage scan = Scan_Simulate(five.image, five.xDpi, five.yDpi, ScanSettings{});
    VernierReading whole = Vernier_Read(scan);
    ASSERT_EQ(whole.status, VERNIER_READ) << whole.reason;
    double top = whole.groups[0].y - whole.barDistancePx * 0.6,
           bottom = whole.groups[0].y + whole.barDistancePx * 0.3;
    double left = whole.groups[0].x, right = whole.groups[18].x;
    struct Crop {
        const char* side;
        double x0, y0, x1, y1;
    };
    const std::vector<Crop> crops = {
        Crop{"left", (left + right) / 2, 0, 1e9, 1e9}, Crop{"right", 0, 0, (left + right) / 2, 1e9},
        Crop{"top", 0, top, 1e9, 1e9}, Crop{"bottom", 0, 0, 1e9, bottom}};
    for (const Crop& c : sampledRows(crops)) {
        VernierImage part;
        uint32_t x0 = uint32_t(c.x0), y0 = uint32_t(c.y0);
        part.width = std::min(scan.width, uint32_t(std::min(c.x1, 1e6))) - x0;
        part.height = std::min(scan.height, uint32_t(std::min(c.y1, 1e6))) - y0;
        for (uint32_t y = 0; y < part.height; ++y)
            part.rgb.insert(part.rgb.end(), scan.at(x0, y0 + y),
                            scan.at(x0, y0 + y) + size_t(part.width) * 3);
        r = Vernier_Read(part);
        EXPECT_EQ(r.status, VERNIER_NOT_FOUND) << c.side;
        EXPECT_NE(r.reason.find(std::string("the print is cut off on the ") + c.side +
                                ": place the whole print in the picture"),
                  std::string::npos)
            << r.reason;
    }
}

// A photo of an unrelated regular pattern: a checkerboard of dashes and a ruled page.
TEST_F(ReaderTest, UnrelatedRegularPatternsCannotBeRead) {
    VernierImage page;
    page.width = 1500;
    page.height = 600;
    page.rgb.assign(size_t(page.width) * page.height * 3, 255);
    for (uint32_t y = 100; y < 500; ++y)
        for (uint32_t x = 100; x < 1400; ++x)
            if ((y % 40 < 2) || ((x / 30) % 2 == 0 && y % 40 < 6 && y > 200))
                page.at(x, y)[0] = page.at(x, y)[1] = page.at(x, y)[2] = 30;
    EXPECT_NE(Vernier_Read(page).status, VERNIER_READ);
}

TEST_F(ReaderTest, TwoVerniersThatDisagreeAreTwoCandidates) {
    const ModeInfo& m = MODES[0];
    double zero = zeroErrorEstimate(bench, m);
    VernierImage a = bench.print(m.type, errorForColumns(m, columnsFor(zero, 4))).square();
    VernierImage b = bench.print(m.type, errorForColumns(m, columnsFor(zero, -3))).square();
    auto stack = [](const VernierImage& top, const VernierImage& bottom) {
        VernierImage out;
        out.width = std::max(top.width, bottom.width);
        out.height = top.height + bottom.height;
        out.rgb.assign(size_t(out.width) * out.height * 3, 255);
        for (uint32_t y = 0; y < out.height; ++y) {
            const VernierImage& src = y < top.height ? top : bottom;
            uint32_t sy = y < top.height ? y : y - top.height;
            std::copy_n(src.at(0, sy), size_t(src.width) * 3, out.at(0, y));
        }
        return out;
    };
    VernierImage both = stack(a, b);
    VernierReading r = Vernier_Read(both);
    EXPECT_EQ(r.status, VERNIER_TWO_CANDIDATES) << r.reason;
    // Asked for one mode, another mode's print or a calibration pattern on the same sheet is
    // passed over; asked for the mode of two disagreeing prints, they stay two candidates.
    const ModeInfo& other = MODES[3];
    double otherZero = zeroErrorEstimate(bench, other);
    VernierImage c =
        bench.print(other.type, errorForColumns(other, columnsFor(otherZero, -6))).square();
    VernierImage mixed = stack(a, c);
    r = Vernier_ReadAs(mixed, Vernier_FamilyOfAdjustment(other.type));
    EXPECT_EQ(r.status, VERNIER_READ) << r.reason;
    EXPECT_EQ(r.group, -6);
    r = Vernier_ReadAs(mixed, Vernier_FamilyOfAdjustment(m.type));
    EXPECT_EQ(r.status, VERNIER_READ) << r.reason;
    EXPECT_EQ(r.group, 4);
    EXPECT_EQ(
        Vernier_ReadAs(stack(bench.print(0, 0, 17).square(), a), Vernier_FamilyOfAdjustment(m.type))
            .group,
        4);
    r = Vernier_ReadAs(both, Vernier_FamilyOfAdjustment(m.type), m.type);
    EXPECT_EQ(r.status, VERNIER_TWO_CANDIDATES);
    EXPECT_NE(r.reason.find("two prints of mode " + std::to_string(m.type) +
                            " on the picture: cover one"),
              std::string::npos)
        << r.reason;
    // The same print twice is one reading.
    VernierImage twice = stack(a, a);
    r = Vernier_Read(twice);
    EXPECT_EQ(r.status, VERNIER_READ);
    EXPECT_EQ(r.group, 4);
}

TEST_F(ReaderTest, HeavyBlurIsTooBlurredNeverAGuess) {
    const ModeInfo& m = MODES[5];
    PrintedPaper p = bench.print(m.type, errorForColumns(m, 6));
    ScanSettings s;
    s.dpi = 150;
    s.blurPx = 3.5;
    s.noise = 6;
    VernierReading r = Vernier_Read(Scan_Simulate(p.image, p.xDpi, p.yDpi, s));
    EXPECT_NE(r.status, VERNIER_READ)
        << "named " << r.group << " est " << r.estimate << " sigma " << r.sigma;
    EXPECT_FALSE(r.highConfidence);
    EXPECT_FALSE(r.certain);
}

TEST(VernierImageFiles, PngAndJpegRoundTripsAndBadFiles) {
    TempDir dir;
    VernierImage img;
    img.width = 40;
    img.height = 30;
    img.dpi = 300;
    img.rgb.resize(size_t(40) * 30 * 3);
    for (size_t i = 0; i < img.rgb.size(); ++i) img.rgb[i] = uint8_t(i * 7);
    std::string png = dir.path + "/a.png", error;
    ASSERT_TRUE(Vernier_SavePng(png, img));
    VernierImage back;
    ASSERT_TRUE(Vernier_LoadImage(png, &back, &error)) << error;
    EXPECT_EQ(back.rgb, img.rgb);
    EXPECT_NEAR(back.dpi, 300, 0.1);
    std::vector<uint8_t> jpeg;
    ASSERT_TRUE(Vernier_EncodeJpeg(img, 90, &jpeg));
    std::string jpg = dir.path + "/a.jpg";
    std::ofstream(jpg, std::ios::binary)
        .write(reinterpret_cast<const char*>(jpeg.data()), long(jpeg.size()));
    ASSERT_TRUE(Vernier_LoadImage(jpg, &back, &error)) << error;
    EXPECT_EQ(back.width, 40u);
    EXPECT_NEAR(back.dpi, 300, 0.1);
    // Truncated files and other files give a message, not a crash.
    for (const auto& [path, keep] : {std::pair{png, size_t(60)}, std::pair{jpg, jpeg.size() / 2}}) {
        std::string bytes = readFileBytes(path);
        std::ofstream(path, std::ios::binary).write(bytes.data(), long(keep));
        EXPECT_FALSE(Vernier_LoadImage(path, &back, &error)) << path;
        EXPECT_FALSE(error.empty());
    }
    std::ofstream(dir.path + "/t.txt") << "not a picture";
    EXPECT_FALSE(Vernier_LoadImage(dir.path + "/t.txt", &back, &error));
    EXPECT_FALSE(Vernier_LoadImage(dir.path + "/missing.png", &back, &error));
    VernierImage empty;
    EXPECT_EQ(Vernier_Read(empty).status, VERNIER_NOT_FOUND);
}

}  // namespace

namespace {

// The calibration patterns built on the same vernier read too; on the default printer the
// within-group patterns meet at "00", the bidirectional calibration pattern near "-9".
TEST_F(ReaderTest, CalibrationPatternsOnThePaperAndThroughScans) {
    struct Case {
        int pattern;
        VernierFamily family;
        double estimate;
    };
    const std::vector<Case> cases = {
        Case{17, FAMILY_PATTERN_200, 0}, Case{18, FAMILY_PATTERN_200, 0},
        Case{1, FAMILY_PATTERN_300, 0}, Case{5, FAMILY_PATTERN_200, -9}};
    for (const Case c : sampledRows(cases)) {
        PrintedPaper paper = bench.print(0, 0, c.pattern);
        VernierReading r = Vernier_Read(paper.square());
        ASSERT_EQ(r.status, VERNIER_READ) << "pattern " << c.pattern << ": " << r.reason;
        EXPECT_EQ(r.family, c.family) << "pattern " << c.pattern;
        EXPECT_NEAR(r.estimate, c.estimate, 0.3) << "pattern " << c.pattern;
        // And through a scan at the lowest and a middle resolution, turned and compressed.
        for (double dpi : sampledRows(std::vector<double>{150, 300}, 1)) {
            ScanSettings s;
            s.dpi = dpi;
            s.angleDeg = -2;
            s.jpegQuality = 85;
            VernierReading scanned =
                Vernier_Read(Scan_Simulate(paper.image, paper.xDpi, paper.yDpi, s));
            ASSERT_EQ(scanned.status, VERNIER_READ)
                << "pattern " << c.pattern << " at " << dpi << " dpi: " << scanned.reason;
            EXPECT_EQ(scanned.group, r.group) << "pattern " << c.pattern << " at " << dpi << " dpi";
        }
    }
}

}  // namespace

namespace {

// A line one 1440-dpi column wide moved by one column must move by that much on a 150-dpi
// scan: the dots saturate on the paper, and the scanner's pixels average what they cover.
TEST(ScanSimulator, ThinLineKeepsItsSubPixelPosition) {
    auto centreOfLine = [](uint32_t column) {
        VernierImage paper;
        paper.width = 1440;
        paper.height = 200;
        paper.rgb.assign(size_t(paper.width) * paper.height * 3, 255);
        for (uint32_t y = 40; y < 160; y += 8)
            for (int c = 0; c < 3; ++c) paper.at(column, y)[c] = c == 0 ? 0 : 160;
        ScanSettings s;
        s.dpi = 150;
        s.noise = 0;
        VernierImage scan = Scan_Simulate(paper, 1440, 1440, s);
        double sw = 0, sx = 0;
        for (uint32_t y = 0; y < scan.height; ++y)
            for (uint32_t x = 0; x < scan.width; ++x) {
                double ink = 255.0 - scan.at(x, y)[0];
                sw += ink, sx += ink * x;
            }
        return sx / sw;
    };
    double scanPx = 150.0 / 1440;
    for (uint32_t column : {700u, 703u, 705u}) {
        double moved = centreOfLine(column + 1) - centreOfLine(column);
        EXPECT_NEAR(moved, scanPx, 0.02) << "column " << column;
    }
}

}  // namespace
