// Benchmark: reading a 600-dpi A4 scan of a bidirectional adjustment print (the virtual
// printer's paper through the scanner simulator, turned 1.5 degrees, JPEG).
#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>

#include "job/print_job.h"
#include "scan_sim.h"
#include "vernier/vernier.h"
#include "vprinter.h"

namespace {

// An A4 page at 600 dpi with the print's scan pasted near the top.
VernierImage a4Scan() {
    std::string dir = std::filesystem::temp_directory_path() / "vernier_bench_printer";
    std::filesystem::remove_all(dir);
    VPrinter_Attach(dir);
    VPrinterModel m = VPrinter_GetModel();
    m.maxPictureWidth = m.maxPictureHeight = 40000;
    m.bidirErrorByIps = {{50, 13}};
    VPrinter_SetModel(m);
    Job_RunAdjustment(5);
    VPrinter_WaitPaper();
    VernierImage paper;
    std::string error;
    Vernier_LoadImage(VPrinter_JobPath(VPrinter_LastJobNumber(), ".png"), &paper, &error);
    VPrinter_Detach();
    std::filesystem::remove_all(dir);
    ScanSettings s;
    s.dpi = 600;
    s.angleDeg = 1.5;
    s.jpegQuality = 85;
    VernierImage scan = Scan_Simulate(paper, 540, 720, s);
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

}  // namespace
