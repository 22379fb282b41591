// SPDX-License-Identifier: Apache-2.0
// Benchmark: reading a whole calibration sheet (six prints, each found by its mark and read as
// its mode) from a 600-dpi A4 scan and from a 12-megapixel phone photo.
#include <benchmark/benchmark.h>

#include <cmath>
#include <string>

#include "app/session.h"
#include "app/sheet_scan.h"
#include "bench_support.h"
#include "job/print_job.h"
#include "job/sheet_mark.h"
#include "photo_sim.h"
#include "scan_sim.h"
#include "support/printer_rig.h"
#include "vernier/vernier.h"
#include "vprinter.h"

namespace {

// The sheet of a printer that lines up at 20 and holds values a few groups off, as the
// virtual printer draws it at 600 dpi.
VernierImage sheetPaper() {
    VirtualPrinter printer;
    VPrinterModel m = VPrinter_GetModel();
    m.bidirMechanicalColumns = -8;
    m.startBidir = {20, 18, 23, 21, 17, 22, 19, 24, 16, 20, 22};
    m.sheetDpi = 600;
    VPrinter_SetModel(m);
    uint8_t record[56];
    VPrinter_StoredRecord(record);
    const size_t offsets[6] = {0x03, 0x04, 0x05, 0x1e, 0x1f, 0x20};
    for (int i = 0; i < 6; ++i) record[offsets[i]] = uint8_t(m.startBidir[size_t(i)]);
    VPrinter_SetStoredRecord(record);
    VPrinter_BeginSheet();
    for (int type = 5; type <= 10; ++type) {
        Job_RunSheetMark(SheetMark{type, false, 77});
        runPrintJob(PrintJob::adjust(uint8_t(type)));
    }
    VernierImage paper;
    std::string error;
    if (!Vernier_LoadImage(VPrinter_EndSheet(), &paper, &error)) return VernierImage{};
    return paper;
}

std::string label(const SheetScan& scan) {
    int certain = 0;
    for (const SheetPrint& p : scan.prints) certain += p.verdict == SHEET_CERTAIN ? 1 : 0;
    return std::to_string(certain) + " of " + std::to_string(scan.prints.size()) + " certain";
}

// An A4 page at 600 dpi with the sheet's scan on it, turned 1 degree, JPEG; empty when the
// sheet could not be printed.
const VernierImage& a4Page() {
    static VernierImage page = [] {
        VernierImage paper = sheetPaper();
        if (paper.width == 0) return paper;
        ScanSettings s;
        s.dpi = 600;
        s.angleDeg = 1;
        s.jpegQuality = 85;
        return bench::a4PageWith(Scan_Simulate(paper, paper.dpi, paper.dpi, s), 60, 300);
    }();
    return page;
}

// Reads the sheet once per iteration. A sheet that could not be made, or whose six prints are
// not all found, fails the benchmark with the reason instead of timing less work.
void readSheetEach(benchmark::State& state, const VernierImage& picture) {
    if (picture.width == 0) {
        state.SkipWithError("the sheet could not be printed on the virtual printer");
        return;
    }
    SheetScan scan;
    for (auto _ : state) {
        scan = Sheet_Read(picture);
        benchmark::DoNotOptimize(scan);
    }
    if (scan.prints.size() != 6) {
        state.SkipWithError(
            ("found " + std::to_string(scan.prints.size()) + " of the sheet's 6 prints").c_str());
        return;
    }
    state.SetLabel(label(scan));
}

void BM_ReadSheetA4At600Dpi(benchmark::State& state) {
    Session session;
    readSheetEach(state, a4Page());
}
BENCHMARK(BM_ReadSheetA4At600Dpi)->Unit(benchmark::kMillisecond)->Iterations(3);

// Of that, finding and decoding the marks alone.
void BM_FindMarksA4At600Dpi(benchmark::State& state) {
    Session session;
    const VernierImage& page = a4Page();
    if (page.width == 0) {
        state.SkipWithError("the sheet could not be printed on the virtual printer");
        return;
    }
    size_t found = 0;
    for (auto _ : state) {
        found = Sheet_FindMarks(page).size();
        benchmark::DoNotOptimize(found);
    }
    state.SetLabel(std::to_string(found) + " marks");
}
BENCHMARK(BM_FindMarksA4At600Dpi)->Unit(benchmark::kMillisecond)->Iterations(3);

// A 12-megapixel photo (4000 x 3000, JPEG 85) of the sheet on a table, slanted 8 degrees.
void BM_ReadSheetPhoto12Mp(benchmark::State& state) {
    Session session;
    static VernierImage photo = [] {
        VernierImage paper = sheetPaper();
        if (paper.width == 0) return paper;
        PhotoSettings s;
        s.ppi = 440;
        s.tiltXDeg = 8;
        s.background = BACKGROUND_TABLE;
        s.backgroundFrac = 0.08;
        s.jpegQuality = 85;
        VernierImage shot = Photo_Simulate(paper, paper.dpi, paper.dpi, s);
        return bench::twelveMegapixelsWith(shot, 120);
    }();
    readSheetEach(state, photo);
}
BENCHMARK(BM_ReadSheetPhoto12Mp)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace
