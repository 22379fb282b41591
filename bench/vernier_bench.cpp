// SPDX-License-Identifier: Apache-2.0
// Benchmarks: reading a bidirectional adjustment print from the virtual printer's own picture,
// a 600-dpi A4 scan (the paper through the scanner simulator, turned 1.5 degrees, JPEG) and a
// 12-megapixel phone photo, and refusing what holds no readable print: a photo too blurred, a
// dim photo of a sheet with no print, a blank A4 page. A benchmark whose picture could not be
// made, or whose reading is not the one it stands for, fails with the reason (bench/run then
// fails its target) rather than timing something else.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>

#include "adjustment_paper.h"
#include "app/session.h"
#include "bench_support.h"
#include "photo_sim.h"
#include "scan_sim.h"
#include "vernier/vernier.h"

namespace {

// An A4 page at 600 dpi with the print's scan pasted near the top.
VernierImage a4Scan() {
    VernierImage paper = adjustmentPaper();
    if (paper.width == 0) return paper;
    ScanSettings s;
    s.dpi = 600;
    s.angleDeg = 1.5;
    s.jpegQuality = 85;
    return bench::a4PageWith(Scan_Simulate(paper, paper.dpi, paper.dpi, s), 100, 600);
}

// Reads the picture once per iteration; the label says what the last reading named. `reads`:
// whether the picture holds a print to read (else it stands for a refusal); a reading that
// does otherwise fails the benchmark with its reason.
void readEach(benchmark::State& state, const VernierImage& picture, bool reads = true) {
    if (picture.width == 0) {
        state.SkipWithError("the picture could not be made (the virtual printer's paper?)");
        return;
    }
    VernierReading r;
    for (auto _ : state) {
        r = Vernier_Read(picture);
        benchmark::DoNotOptimize(r);
    }
    const bool read = r.status == VERNIER_READ;
    if (read != reads) {
        state.SkipWithError(
            read ? ("read group " + Vernier_LabelText(r.group) + " where it should refuse").c_str()
                 : ("not read: " + r.reason).c_str());
        return;
    }
    state.SetLabel(read ? "group " + Vernier_LabelText(r.group) : "refused");
}

void BM_ReadA4At600Dpi(benchmark::State& state) {
    Session session;  // the program state of this run
    static VernierImage page = a4Scan();
    readEach(state, page);
}
BENCHMARK(BM_ReadA4At600Dpi)->Unit(benchmark::kMillisecond)->Iterations(5);

// The virtual printer's own picture of the print (4019 x 196 at 540 dpi), upright as the
// operator holds the sheet.
void BM_ReadPrintersPicture(benchmark::State& state) {
    Session session;  // the program state of this run
    static VernierImage picture = halfTurned(adjustmentPaper());
    readEach(state, picture);
}
BENCHMARK(BM_ReadPrintersPicture)->Unit(benchmark::kMillisecond)->Iterations(5);

// A 12-megapixel phone photo (4000 x 3000, JPEG quality 85) taken at a 10-degree slant, the
// print's sheet a third of the picture wide on a table. defocusPx: the lens's blur; far out
// of focus the print is refused, after every way round has been tried.
VernierImage photo12Mp(double defocusPx) {
    VernierImage paper = adjustmentPaper();
    if (paper.width == 0) return paper;
    PhotoSettings s;
    s.ppi = 330;
    s.tiltXDeg = 10;
    s.tiltYDeg = -5;
    s.background = BACKGROUND_TABLE;
    s.jpegQuality = 85;
    s.defocusPx = defocusPx;
    VernierImage shot = Photo_Simulate(paper, paper.dpi, paper.dpi, s);
    // Placed on a 4000 x 3000 picture of the same table.
    VernierImage full;
    full.width = 4000;
    full.height = 3000;
    full.rgb.resize(size_t(full.width) * full.height * 3);
    for (uint32_t y = 0; y < full.height; ++y)
        for (uint32_t x = 0; x < full.width; ++x) {
            uint8_t* p = full.at(x, y);
            if (x < shot.width && y >= 1000 && y - 1000 < shot.height) {
                const uint8_t* q = shot.at(x, y - 1000);
                p[0] = q[0], p[1] = q[1], p[2] = q[2];
            } else {
                double grain = 0.5 + 0.5 * std::sin(x * 0.05 + 3 * std::sin(y * 0.01));
                p[0] = uint8_t(150 + 40 * grain), p[1] = uint8_t(100 + 30 * grain),
                p[2] = uint8_t(60 + 20 * grain);
            }
        }
    return full;
}

void BM_ReadPhoto12Mp(benchmark::State& state) {
    Session session;  // the program state of this run
    static VernierImage photo = photo12Mp(0.6);
    readEach(state, photo);
}
BENCHMARK(BM_ReadPhoto12Mp)->Unit(benchmark::kMillisecond)->Iterations(5);

void BM_RefuseBlurred12MpPhoto(benchmark::State& state) {
    Session session;  // the program state of this run
    static VernierImage photo = photo12Mp(8);
    readEach(state, photo, false);
}
BENCHMARK(BM_RefuseBlurred12MpPhoto)->Unit(benchmark::kMillisecond)->Iterations(3);

// A dim 12-megapixel photo of a sheet with no print on it (light falling off, a shadow, a
// third of the usual light), on a table.
void BM_RefuseDim12MpPhotoWithoutPrint(benchmark::State& state) {
    Session session;  // the program state of this run
    static VernierImage photo = [] {
        VernierImage paper;
        paper.width = 4000;
        paper.height = 2600;
        paper.dpi = 540;
        paper.rgb.assign(size_t(paper.width) * paper.height * 3, 255);
        PhotoSettings s;
        s.ppi = 330;
        s.tiltXDeg = 6;
        s.gradient = 0.5;
        s.shadow = 0.4;
        s.noise = 6;
        s.background = BACKGROUND_TABLE;
        s.jpegQuality = 85;
        VernierImage shot = Photo_Simulate(paper, paper.dpi, paper.dpi, s);
        return bench::twelveMegapixelsWith(shot, 40, 3);
    }();
    readEach(state, photo, false);
}
BENCHMARK(BM_RefuseDim12MpPhotoWithoutPrint)->Unit(benchmark::kMillisecond)->Iterations(3);

// A blank A4 page scanned at 600 dpi.
void BM_RefuseBlankA4At600Dpi(benchmark::State& state) {
    Session session;  // the program state of this run
    static VernierImage page = bench::a4PageWith(VernierImage{}, 0, 0);
    readEach(state, page, false);
}
BENCHMARK(BM_RefuseBlankA4At600Dpi)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace
