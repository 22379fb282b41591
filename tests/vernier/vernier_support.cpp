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

const ModeInfo MODES[6] = {{5, 50, 540}, {6, 40, 540}, {7, 30, 540}, {8, 42, 720}, {9, 26, 720}, {10, 26, 1440}};

namespace {
double numberAfter(const std::string& text, const std::string& key) {
    size_t at = text.find("\"" + key + "\":");
    return at == std::string::npos ? 0 : std::atof(text.c_str() + at + key.size() + 3);
}
}  // namespace

VernierImage PrintedPaper::square() const {
    return xDpi == yDpi ? image : Vernier_Resample(image, yDpi / xDpi, 1.0);
}

VernierImage halfTurned(const VernierImage& image) {
    VernierImage out = image;
    const size_t n = size_t(image.width) * image.height;
    for (size_t i = 0; i < n; ++i) std::copy_n(&image.rgb[3 * i], 3, &out.rgb[3 * (n - 1 - i)]);
    return out;
}

int errorForColumns(const ModeInfo& m, int columns) {
    return int(std::lround(columns * 1440.0 / m.dpi));
}

VernierBench::VernierBench() {
    clearProgramError();
    Job_SetHdMode(false);
    EXPECT_TRUE(VPrinter_Attach(printerDir.path));
}

VernierBench::~VernierBench() {
    VPrinter_Detach();
    clearProgramError();
}

PrintedPaper VernierBench::print(int type, int error1440, int pattern) {
    // Jobs are deterministic: one print per (job, error) for the whole test program.
    static std::map<std::tuple<int, int, int>, PrintedPaper> printed;
    auto key = std::make_tuple(type, error1440, pattern);
    auto found = printed.find(key);
    if (found != printed.end()) return found->second;
    VPrinterModel model = VPrinter_GetModel();
    model.maxPictureWidth = 40000;
    model.maxPictureHeight = 40000;
    model.bidirErrorByIps.clear();
    for (const ModeInfo& m : MODES) model.bidirErrorByIps.push_back({uint16_t(m.ips), error1440});
    model.bidirErrorByIps.push_back({35, error1440});
    model.bidirErrorByIps.push_back({30, error1440});
    VPrinter_SetModel(model);
    clearProgramError();
    if (pattern) Job_RunPattern(uint8_t(pattern));
    else Job_RunAdjustment(uint8_t(type));
    EXPECT_TRUE(Job_Succeeded(Job_LastOutcome()));
    VPrinter_WaitPaper();
    PrintedPaper p;
    std::string error;
    EXPECT_TRUE(Vernier_LoadImage(VPrinter_JobPath(VPrinter_LastJobNumber(), ".png"), &p.image, &error)) << error;
    p.image = halfTurned(p.image);
    for (const std::string& e : VPrinter_JobEvents())
        if (e.find("\"event\":\"picture\"") != std::string::npos) {
            p.xDpi = numberAfter(e, "x_dpi") / numberAfter(e, "scale_x");
            p.yDpi = numberAfter(e, "y_dpi") / numberAfter(e, "scale_y");
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

bool rightGroup(double expected, int group) {
    return std::fabs(group - expected) < 0.51;
}
