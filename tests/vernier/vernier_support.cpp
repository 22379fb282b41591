// SPDX-License-Identifier: Apache-2.0
// Vernier test helpers: adjustment prints with configured errors on the virtual printer.
#include "vernier_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <map>
#include <tuple>

#include "diag/errors.h"
#include "job/print_job.h"
#include "vprinter.h"

const ModeInfo MODES[6] = {{5, 50, 540}, {6, 40, 540}, {7, 30, 540},
                           {8, 42, 720}, {9, 26, 720}, {10, 26, 1440}};

VernierImage PrintedPaper::square() const {
    return xDpi == yDpi ? image : Vernier_Resample(image, yDpi / xDpi, 1.0);
}

int errorForColumns(const ModeInfo& m, int columns) {
    return int(std::lround(columns * 1440.0 / m.dpi));
}

VernierBench::VernierBench() { EXPECT_TRUE(printer.attached()) << printer.error(); }

PrintedPaper VernierBench::print(int type, int error1440, int pattern) {
    // Jobs are deterministic: one print per (job, error) for the whole test program.
    static std::map<std::tuple<int, int, int>, PrintedPaper> printed;
    auto key = std::make_tuple(type, error1440, pattern);
    auto found = printed.find(key);
    if (found != printed.end()) return found->second;
    printer.useFullSizePaper();
    VPrinterModel model = VPrinter_GetModel();
    model.bidirErrorByIps.clear();
    for (const ModeInfo& m : MODES) model.bidirErrorByIps.push_back({uint16_t(m.ips), error1440});
    model.bidirErrorByIps.push_back({35, error1440});
    model.bidirErrorByIps.push_back({30, error1440});
    VPrinter_SetModel(model);
    clearProgramError();
    EXPECT_TRUE(Job_Succeeded(runPrintJob(pattern ? PrintJob::pattern(uint8_t(pattern))
                                                  : PrintJob::adjust(uint8_t(type)))));
    PrintedPaper p;
    std::string error;
    EXPECT_TRUE(Vernier_LoadImage(printer.lastJobPath(".png"), &p.image, &error)) << error;
    p.image = halfTurned(p.image);
    p.xDpi = p.yDpi = p.image.dpi;
    // A picture finer than the board's 720-row grid repeats each paper row: the simulators
    // take the paper on that grid itself, as the board laid it down.
    if (p.image.dpi > 720) {
        p.image = Vernier_Resample(p.image, 1.0, 720 / p.image.dpi);
        p.yDpi = 720;
    }
    return printed[key] = p;
}

double zeroErrorEstimate(VernierBench& bench, const ModeInfo& m) {
    static std::map<int, double> cache;
    auto it = cache.find(m.type);
    if (it != cache.end()) return it->second;
    VernierReading r = Vernier_Read(bench.print(m.type, 0).square());
    EXPECT_EQ(r.status, VERNIER_READ) << r.reason;
    return cache[m.type] = r.estimate;
}

bool rightGroup(double expected, int group) { return std::fabs(group - expected) < 0.51; }
