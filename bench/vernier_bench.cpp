// SPDX-License-Identifier: Apache-2.0
// Benchmark: reading a 600-dpi A4 scan of a bidirectional adjustment print (the virtual
// printer's paper through the scanner simulator, turned 1.5 degrees, JPEG).
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

void BM_ReadA4At600Dpi(benchmark::State& state) {
    Session session;  // the program state of this run
    static VernierImage page = a4Scan();
    int group = 99;
    for (auto _ : state) {
        VernierReading r = Vernier_Read(page);
        group = r.group;
        benchmark::DoNotOptimize(r);
    }
    state.SetLabel("group " + Vernier_LabelText(group));
}
BENCHMARK(BM_ReadA4At600Dpi)->Unit(benchmark::kMillisecond)->Iterations(5);

// A 12-megapixel phone photo (4000 x 3000, JPEG quality 85) taken at a 10-degree slant, the
// print's sheet a third of the picture wide on a table.
void BM_ReadPhoto12Mp(benchmark::State& state) {
    Session session;  // the program state of this run
    static VernierImage photo = [] {
        VernierImage paper = adjustmentPaper();
        PhotoSettings s;
        s.ppi = 330;
        s.tiltXDeg = 10;
        s.tiltYDeg = -5;
        s.background = BACKGROUND_TABLE;
        s.jpegQuality = 85;
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
    }();
    int group = 99;
    for (auto _ : state) {
        VernierReading r = Vernier_Read(photo);
        group = r.status == VERNIER_READ ? r.group : 99;
        benchmark::DoNotOptimize(r);
    }
    state.SetLabel(group == 99 ? "not read" : "group " + Vernier_LabelText(group));
}
BENCHMARK(BM_ReadPhoto12Mp)->Unit(benchmark::kMillisecond)->Iterations(5);

}  // namespace
