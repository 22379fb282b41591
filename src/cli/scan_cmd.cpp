// SPDX-License-Identifier: Apache-2.0
// `headalign scanners` and the command line's scan: the scanner seam, a progress line on a
// terminal, Ctrl-C to cancel, and the picture kept for later checking.
#include "cli/scan_cmd.h"

#include <atomic>
#include <cstdio>

#include "app/calibrate_flow.h"
#include "app/scan_entry.h"
#include "cli/progress_line.h"
#include "platform/clock.h"
#include "platform/locale.h"
#include "platform/logdir.h"
#include "platform/scanner.h"

namespace {

std::string operatorText(ScanStatus status, const std::string& detail) {
    return Scanner_StatusText(status, detail, Locale_IsChinese());
}

}  // namespace

int Cli_ScannersCommand(const std::vector<std::string>& args, const CliOptions&) {
    if (!args.empty()) {
        std::fprintf(stderr, "headalign: scanners takes no arguments (see --help)\n");
        return 2;
    }
    std::vector<ScannerDevice> devices;
    std::string error;
    if (!Scanner_List(&devices, &error)) {
        std::fprintf(stderr, "headalign: %s\n", error.c_str());
        return 1;
    }
    if (devices.empty()) {
        std::fprintf(stderr, "headalign: %s\n", operatorText(ScanStatus::NoDevice, "").c_str());
        return 1;
    }
    for (const ScannerDevice& d : devices)
        std::printf("%s\t%s %s (%s)\n", d.name.c_str(), d.vendor.c_str(), d.model.c_str(),
                    d.type.c_str());
    return 0;
}

int Cli_ParseScanArg(const std::vector<std::string>& args, size_t* i, CliScanArgs* out) {
    const std::string& w = args[*i];
    if (w == "--scanner") {
        out->wanted = true;
        // The device is optional: a following word that is not an option names it.
        if (*i + 1 < args.size() && !args[*i + 1].empty() && args[*i + 1][0] != '-')
            out->device = args[++*i];
        return 1;
    }
    if (w != "--scanner-option") return 0;
    ScanOption parsed;
    if (*i + 1 >= args.size() || !Scanner_ParseOption(args[*i + 1], &parsed)) {
        std::fprintf(stderr,
                     "headalign: --scanner-option needs NAME=VALUE, a SANE option of the "
                     "scanner (see --help)\n");
        return 2;
    }
    out->options.push_back(args[++*i]);
    return 1;
}

#ifdef HEADALIGN_HAVE_VERNIER
namespace {

// Ctrl-C during a scan reaches Cli_OnInterrupt (the interrupt seam's thread), which raises this
// flag for as long as the scan runs.
std::atomic<bool> interrupted{false};

struct InterruptCancels {
    InterruptCancels() {
        interrupted.store(false);
        Cli_SetScanCancel(&interrupted);
    }
    ~InterruptCancels() { Cli_SetScanCancel(nullptr); }
    InterruptCancels(const InterruptCancels&) = delete;
    InterruptCancels& operator=(const InterruptCancels&) = delete;
};

struct ScanProgress {
    ProgressLine line;
    std::string device;
    uint32_t startMs = Clock_Tick();
};

void showScanProgress(void* context, uint64_t done, uint64_t total) {
    auto* p = static_cast<ScanProgress*>(context);
    char text[160];
    if (total > 0) {
        const std::string left = Progress_TimeLeft(Clock_Tick() - p->startMs, done, total);
        std::snprintf(text, sizeof text, "scanning %s: %3d%% (%.1f of %.1f MB)%s%s",
                      p->device.c_str(), int(done * 100 / total), double(done) / 1e6,
                      double(total) / 1e6, left.empty() ? "" : ", ", left.c_str());
    } else {
        std::snprintf(text, sizeof text, "scanning %s: %.1f MB", p->device.c_str(),
                      double(done) / 1e6);
    }
    p->line.show(text);
}

}  // namespace

namespace {

// Scans as asked, with a progress line and Ctrl-C, and keeps the picture as "Scan_<what>_..."
// beside the job's records (the log folder), never over an earlier scan.
bool scanAndKeep(ScanRequest request, const std::string& what, const CliOptions& options,
                 VernierImage* image, std::string* source) {
    if (!options.logDir.empty()) LogDir_Set(options.logDir);
    ScanProgress progress;
    progress.device = request.device.empty() ? "the first scanner" : request.device;
    request.cancel = &interrupted;
    request.progress = showScanProgress;
    request.progressContext = &progress;
    ImagePixels pixels;
    std::string detail;
    ScanStatus status;
    {
        InterruptCancels ctrlC;
        progress.line.show("scanning " + progress.device + "...", true);
        status = Scanner_Scan(request, &pixels, &detail);
    }
    if (status != ScanStatus::Ok) {
        progress.line.finish("");
        std::fflush(stdout);
        std::fprintf(stderr, "headalign: %s\n", operatorText(status, detail).c_str());
        return false;
    }
    const uint32_t width = pixels.width, height = pixels.height;
    const double dpi = pixels.dpi;
    std::string error;
    if (!Vernier_FromPixels(std::move(pixels), image, &error)) {
        progress.line.finish("");
        std::fprintf(stderr, "headalign: the scanner's picture cannot be read: %s\n",
                     error.c_str());
        return false;
    }
    char summary[160];
    std::snprintf(summary, sizeof summary, "scanned %s: %u x %u pixels at %.0f dpi",
                  progress.device.c_str(), width, height, dpi);
    progress.line.finish(summary);
    std::string kept;
    if (Scan_KeepPicture(*image, LogDir_Get(), what, &kept, &error)) {
        std::printf("scan kept: %s\n", kept.c_str());
        *source = kept;
    } else {
        std::fflush(stdout);
        std::fprintf(stderr, "headalign: the scan was not kept: %s (is the log folder there?)\n",
                     error.c_str());
        *source = "scanner " + progress.device;
    }
    return true;
}

}  // namespace

bool Cli_ScanPrint(const CliScanArgs& scan, int jobType, const CliOptions& options,
                   VernierImage* image, std::string* source) {
    ScanRequest request;
    request.device = scan.device;
    // The reader's decoding budget: larger is refused before it is read (lower the resolution).
    request.maxPixels = VERNIER_DECODE_PIXELS;
    for (const std::string& o : scan.options) {
        ScanOption parsed;
        if (Scanner_ParseOption(o, &parsed)) request.options.push_back(parsed);
    }
    return scanAndKeep(request, "M" + std::to_string(jobType), options, image, source);
}

bool Cli_ScanSheet(const CliScanArgs& scan, const CliOptions& options, VernierImage* image,
                   std::string* source) {
    return scanAndKeep(Calibrate_ScanRequest(scan.device, scan.options), "Sheet", options, image,
                       source);
}
#endif
