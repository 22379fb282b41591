// SPDX-License-Identifier: Apache-2.0
// Benchmark: peak memory and time of loading and reading the largest scans the reader admits
// (a 1200-dpi page as JPEG, progressive JPEG and PNG, the largest picture decoded whole, a
// 50-megapixel photo), beside a 600-dpi page. Each file is made once in a child process and
// read in another, whose ru_maxrss is the figure: nothing this program holds counts. The
// label names the group read, which must be the same for every case (same print, same error).
#include <benchmark/benchmark.h>
#include <png.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>

// jpeglib.h needs FILE and size_t declared before it.
#include <jpeglib.h>

#include "adjustment_paper.h"
#include "app/session.h"
#include "scan_sim.h"
#include "vernier/vernier.h"

namespace {

enum Format { PNG, JPEG, JPEG_PROGRESSIVE };

struct Case {
    const char* name;
    uint32_t width, height;
    double dpi;  // of the print's scan pasted on the page
    Format format;
};

const Case CASES[] = {
    {"page600dpi_jpeg", 4960, 7016, 600, JPEG},
    {"page1200dpi_jpeg", 10200, 14040, 1200, JPEG},
    {"page1200dpi_progressive_jpeg", 10200, 14040, 1200, JPEG_PROGRESSIVE},
    {"page1200dpi_png", 10200, 14040, 1200, PNG},
    {"whole64Mpx_png", 8000, 8000, 1200, PNG},
    {"photo50Mpx_jpeg", 8160, 6120, 1200, JPEG},
};

std::string folder() {
    return (std::filesystem::temp_directory_path() / "scan_memory_bench").string();
}

// The bidirectional adjustment print as scanned.
VernierImage printScan(double dpi) {
    VernierImage paper = adjustmentPaper();
    ScanSettings s;
    s.dpi = dpi;
    s.angleDeg = 1.5;
    return Scan_Simulate(paper, paper.dpi, paper.dpi, s);
}

// Row y of the page: white paper, the print's scan pasted an inch from the top-left corner.
void pageRow(const Case& c, const VernierImage& scan, uint32_t y, uint8_t* row) {
    std::fill(row, row + size_t(c.width) * 3, uint8_t(250));
    uint32_t at = uint32_t(c.dpi);
    if (y < at || y - at >= scan.height) return;
    uint32_t n = std::min(scan.width, c.width - at);
    std::copy(scan.at(0, y - at), scan.at(0, y - at) + size_t(n) * 3, row + size_t(at) * 3);
}

void writePng(const Case& c, const VernierImage& scan, const std::string& path) {
    FILE* f = std::fopen(path.c_str(), "wb");
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    png_init_io(png, f);
    png_set_compression_level(png, 1);
    png_set_IHDR(png, info, c.width, c.height, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    std::vector<uint8_t> row(size_t(c.width) * 3);
    for (uint32_t y = 0; y < c.height; ++y) {
        pageRow(c, scan, y, row.data());
        png_write_row(png, row.data());
    }
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    std::fclose(f);
}

void writeJpeg(const Case& c, const VernierImage& scan, const std::string& path) {
    FILE* f = std::fopen(path.c_str(), "wb");
    jpeg_compress_struct info;
    jpeg_error_mgr err;
    info.err = jpeg_std_error(&err);
    jpeg_create_compress(&info);
    jpeg_stdio_dest(&info, f);
    info.image_width = c.width;
    info.image_height = c.height;
    info.input_components = 3;
    info.in_color_space = JCS_RGB;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, 90, TRUE);
    if (c.format == JPEG_PROGRESSIVE) jpeg_simple_progression(&info);
    jpeg_start_compress(&info, TRUE);
    std::vector<uint8_t> row(size_t(c.width) * 3);
    while (info.next_scanline < c.height) {
        pageRow(c, scan, info.next_scanline, row.data());
        JSAMPROW r = row.data();
        jpeg_write_scanlines(&info, &r, 1);
    }
    jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
    std::fclose(f);
}

struct ChildResult {
    double seconds = 0;
    long peakKb = 0;
    std::string text;  // what the child wrote
    bool ok = false;
};

// Runs work in a child; its standard output comes back as text.
ChildResult inChild(const std::function<std::string()>& work) {
    ChildResult r;
    int fds[2];
    if (pipe(fds) != 0) return r;
    auto start = std::chrono::steady_clock::now();
    pid_t pid = fork();
    if (pid == 0) {
        close(fds[0]);
        std::string out = work();
        ssize_t written = write(fds[1], out.data(), out.size());
        _exit(written == ssize_t(out.size()) ? 0 : 1);
    }
    close(fds[1]);
    char buffer[512];
    ssize_t n;
    while ((n = read(fds[0], buffer, sizeof buffer)) > 0) r.text.append(buffer, size_t(n));
    close(fds[0]);
    int status = 0;
    struct rusage usage {};
    wait4(pid, &status, 0, &usage);
    r.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    r.peakKb = usage.ru_maxrss;
    r.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    return r;
}

std::string fileOf(const Case& c) {
    std::string path = folder() + "/" + c.name + (c.format == PNG ? ".png" : ".jpg");
    if (std::filesystem::exists(path)) return path;
    inChild([&] {
        std::fflush(stdout);
        if (!std::freopen("/dev/null", "w", stdout)) return std::string();  // the print's traces
        std::filesystem::create_directories(folder());
        VernierImage scan = printScan(c.dpi);
        (c.format == PNG ? writePng : writeJpeg)(c, scan, path + ".part");
        std::filesystem::rename(path + ".part", path);
        return std::string();
    });
    return path;
}

void BM_LoadAndRead(benchmark::State& state, const Case& c) {
    Session session;  // the program state of this run
    std::string path = fileOf(c);
    ChildResult last;
    for (auto _ : state) {
        last = inChild([&] {
            VernierImage image;
            std::string error;
            if (!Vernier_LoadImage(path, &image, &error)) return "refused: " + error;
            VernierReading r = Vernier_Read(image);
            char text[160];
            std::snprintf(text, sizeof text, "%u x %u, %s", image.width, image.height,
                          r.status == VERNIER_READ ? ("group " + Vernier_LabelText(r.group)).c_str()
                                                   : ("not read: " + r.reason).c_str());
            return std::string(text);
        });
        state.SetIterationTime(last.seconds);
    }
    std::error_code ec;
    state.counters["file_MB"] = double(std::filesystem::file_size(path, ec)) / 1e6;
    state.counters["peak_MB"] = double(last.peakKb) / 1024;
    state.SetLabel(last.ok ? last.text : "child failed");
}

int registered = [] {
    for (const Case& c : CASES)
        benchmark::RegisterBenchmark(c.name, BM_LoadAndRead, c)
            ->UseManualTime()
            ->Iterations(1)
            ->Unit(benchmark::kSecond);
    return 0;
}();

}  // namespace
