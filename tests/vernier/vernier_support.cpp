// SPDX-License-Identifier: Apache-2.0
// Vernier test helpers: adjustment prints with configured errors on the virtual printer.
#include "vernier_support.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
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

int columnsFor(double zero, double target) { return int(std::lround(2 * (zero - target))); }

VernierBench::VernierBench() { EXPECT_TRUE(printer.attached()) << printer.error(); }

namespace {

// Papers printed by this very test program, kept on disk beside it for the other test
// processes (ctest runs each case in a process of its own): jobs are deterministic, so one
// print per (job, error, pattern) serves every case. The folder is named after the program's
// size and time, so a rebuilt program never reads an older program's paper; older folders are
// removed when a new one is made.
std::filesystem::path paperCacheDir() {
    static const std::filesystem::path dir = [] {
        std::error_code ec;
        std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
        if (ec) return std::filesystem::path();
        auto stamp = std::filesystem::last_write_time(exe, ec).time_since_epoch().count();
        auto size = std::filesystem::file_size(exe, ec);
        if (ec) return std::filesystem::path();
        std::filesystem::path root = exe.parent_path() / "paper-cache";
        std::string mine =
            exe.filename().string() + "-" + std::to_string(size) + "-" + std::to_string(stamp);
        for (std::filesystem::directory_iterator it(root, ec), end; !ec && it != end;
             it.increment(ec)) {
            std::string name = it->path().filename().string();
            if (name != mine && name.rfind(exe.filename().string() + "-", 0) == 0) {
                std::error_code ignored;
                std::filesystem::remove_all(it->path(), ignored);
            }
        }
        std::filesystem::create_directories(root / mine, ec);
        return ec ? std::filesystem::path() : root / mine;
    }();
    return dir;
}

std::filesystem::path paperFile(int type, int error1440, int pattern) {
    std::filesystem::path dir = paperCacheDir();
    if (dir.empty()) return dir;
    return dir / ("job" + std::to_string(type) + "_err" + std::to_string(error1440) + "_pat" +
                  std::to_string(pattern) + ".paper");
}

// A header line "width height dpi xDpi yDpi", then the pixels.
bool loadPaper(const std::filesystem::path& file, PrintedPaper* p) {
    std::ifstream in(file, std::ios::binary);
    if (!in) return false;
    std::string header;
    if (!std::getline(in, header)) return false;
    std::istringstream fields(header);
    PrintedPaper got;
    if (!(fields >> got.image.width >> got.image.height >> got.image.dpi >> got.xDpi >> got.yDpi))
        return false;
    got.image.rgb.resize(size_t(got.image.width) * got.image.height * 3);
    if (!in.read(reinterpret_cast<char*>(got.image.rgb.data()),
                 std::streamsize(got.image.rgb.size())))
        return false;
    *p = std::move(got);
    return true;
}

// Written under a name of its own and renamed, so a process reading at the same time sees the
// whole file or none.
void savePaper(const std::filesystem::path& file, const PrintedPaper& p) {
    std::filesystem::path part = file;
    part += "." + std::to_string(getpid()) + ".part";
    {
        std::ofstream out(part, std::ios::binary);
        char header[160];
        std::snprintf(header, sizeof header, "%u %u %.17g %.17g %.17g\n", p.image.width,
                      p.image.height, p.image.dpi, p.xDpi, p.yDpi);
        out << header;
        out.write(reinterpret_cast<const char*>(p.image.rgb.data()),
                  std::streamsize(p.image.rgb.size()));
        if (!out) return;
    }
    std::error_code ec;
    std::filesystem::rename(part, file, ec);
    if (ec) std::filesystem::remove(part, ec);
}

}  // namespace

PrintedPaper VernierBench::print(int type, int error1440, int pattern) {
    // Jobs are deterministic: one print per (job, error) for the whole test program.
    static std::map<std::tuple<int, int, int>, PrintedPaper> printed;
    auto key = std::make_tuple(type, error1440, pattern);
    auto found = printed.find(key);
    if (found != printed.end()) return found->second;
    const std::filesystem::path file = paperFile(type, error1440, pattern);
    PrintedPaper kept;
    if (!file.empty() && loadPaper(file, &kept)) return printed[key] = kept;
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
    if (!file.empty() && !::testing::Test::HasFailure()) savePaper(file, p);
    return printed[key] = p;
}

namespace {
// Made once per test program, and kept on disk beside the papers for its other processes.
PrintedPaper keptOnDisk(const std::string& fileName, const std::function<PrintedPaper()>& make) {
    static std::map<std::string, PrintedPaper> made;
    auto found = made.find(fileName);
    if (found != made.end()) return found->second;
    const std::filesystem::path dir = paperCacheDir();
    const std::filesystem::path file = dir.empty() ? dir : dir / fileName;
    PrintedPaper p;
    if (!file.empty() && loadPaper(file, &p)) return made[fileName] = p;
    p = make();
    if (!file.empty() && !::testing::Test::HasFailure()) savePaper(file, p);
    return made[fileName] = p;
}
}  // namespace

PrintedPaper VernierBench::kept(const std::string& name,
                                const std::function<PrintedPaper()>& make) {
    return keptOnDisk(name + ".paper", make);
}

VernierImage sharedPicture(const std::string& name, const std::function<VernierImage()>& make) {
    return keptOnDisk(name + ".picture",
                      [&] {
                          PrintedPaper p;
                          p.image = make();
                          p.xDpi = p.yDpi = p.image.dpi;
                          return p;
                      })
        .image;
}

double zeroErrorEstimate(VernierBench& bench, const ModeInfo& m) {
    static std::map<int, double> cache;
    auto it = cache.find(m.type);
    if (it != cache.end()) return it->second;
    // Kept beside the papers for the other test processes, as exact as a double prints.
    std::filesystem::path dir = paperCacheDir();
    std::filesystem::path file =
        dir.empty() ? dir : dir / ("zero" + std::to_string(m.type) + ".txt");
    double zero = 0;
    if (!file.empty() && (std::ifstream(file) >> zero)) return cache[m.type] = zero;
    VernierReading r = Vernier_Read(bench.print(m.type, 0).square());
    EXPECT_EQ(r.status, VERNIER_READ) << r.reason;
    if (!file.empty() && r.status == VERNIER_READ) {
        std::filesystem::path part = file;
        part += "." + std::to_string(getpid()) + ".part";
        char text[40];
        std::snprintf(text, sizeof text, "%.17g\n", r.estimate);
        std::ofstream(part) << text;
        std::error_code ec;
        std::filesystem::rename(part, file, ec);
    }
    return cache[m.type] = r.estimate;
}

bool rightGroup(double expected, int group) { return std::fabs(group - expected) < 0.51; }
