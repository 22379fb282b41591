// SPDX-License-Identifier: Apache-2.0
// Benchmarks: reading a bidirectional adjustment print from the virtual printer's own picture,
// a 600-dpi A4 scan (the paper through the scanner simulator, turned 1.5 degrees, JPEG) and a
// 12-megapixel phone photo, and refusing a photo too blurred to read.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>

#include "adjustment_paper.h"
#include "app/session.h"
#include "photo_sim.h"
#include "scan_sim.h"
#include "vernier/vernier.h"

namespace {

// An A4 page at 600 dpi with the print's scan pasted near the top.
VernierImage a4Scan() {
    VernierImage paper = adjustmentPaper();
    ScanSettings s;
    s.dpi = 600;
    s.angleDeg = 1.5;
    s.jpegQuality = 85;
    VernierImage scan = Scan_Simulate(paper, paper.dpi, paper.dpi, s);
    VernierImage page;
    page.width = 4960;
    page.height = 7016;
    page.dpi = 600;
    page.rgb.assign(size_t(page.width) * page.height * 3, 250);
    for (uint32_t y = 0; y < scan.height && y + 600 < page.height; ++y)
        for (uint32_t x = 0; x < scan.width && x + 100 < page.width; ++x)
            for (int c = 0; c < 3; ++c) page.at(x + 100, y + 600)[c] = scan.at(x, y)[c];
    return page;
}

// Reads the picture once per iteration; the label says what the last reading named.
void readEach(benchmark::State& state, const VernierImage& picture) {
    VernierReading r;
    for (auto _ : state) {
        r = Vernier_Read(picture);
        benchmark::DoNotOptimize(r);
    }
    state.SetLabel(r.status == VERNIER_READ ? "group " + Vernier_LabelText(r.group) : "refused");
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
    readEach(state, photo);
}
BENCHMARK(BM_RefuseBlurred12MpPhoto)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace
