// SPDX-License-Identifier: Apache-2.0
// `headalign calibrate`: the sheet printed (a mark, then the adjustment, for every mode), its
// picture read print by print, every certain reading entered in one SAVE, and the verification
// sheet read the same way.
#include "cli/calibrate_cmd.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "app/calibrate_print.h"
#include "cli/scan_cmd.h"
#include "cli/traces_aside.h"
#include "history/history.h"
#include "platform/dialog_model.h"
#include "vprinter.h"
#ifdef HEADALIGN_HAVE_VERNIER
#include "app/calibrate_flow.h"
#endif

namespace {

struct CalibrateArgs {
    std::string scan, marked;
    bool hd = false, apply = false, verify = false, feed = false;
    std::vector<std::pair<int, std::string>> measured;  // feed-step type 11..15, millimetres
    CliScanArgs scanner;  // --scanner [DEVICE], --scanner-option NAME=VALUE
};

int usage(const std::string& what) {
    std::fprintf(stderr, "headalign: calibrate: %s (see --help)\n", what.c_str());
    return 2;
}

int parse(const std::vector<std::string>& args, CalibrateArgs* a) {
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& w = args[i];
        if (int taken = Cli_ParseScanArg(args, &i, &a->scanner)) {
            if (taken == 2) return 2;
        } else if ((w == "--scan" || w == "--marked") && i + 1 < args.size())
            (w == "--scan" ? a->scan : a->marked) = args[++i];
        else if (w == "--scan" || w == "--marked")
            return usage(w + " needs a file");
        else if (w == "--hd")
            a->hd = true;
        else if (w == "--feed")
            a->feed = true;
        else if (w == "--measured" && i + 1 < args.size()) {
            const std::string& m = args[++i];
            const size_t eq = m.find('=');
            const int type =
                eq == std::string::npos ? -1 : Cli_JobNumber("adjust", m.substr(0, eq));
            if (type < 11 || type > 15)
                return usage("--measured takes STEP=MM, STEP one of pass4 .. pass2 (11..15)");
            for (const auto& [t, mm] : a->measured)
                if (t == type) return usage("--measured names " + m.substr(0, eq) + " twice");
            a->measured.emplace_back(type, m.substr(eq + 1));
        } else if (w == "--measured")
            return usage("--measured needs STEP=MM");
        else if (w == "--apply")
            a->apply = true;
        else if (w == "--verify")
            a->verify = true;
        else if (w.compare(0, 1, "-") == 0)
            return usage("unknown option '" + w + "'");
        else
            return usage("unknown word '" + w + "'");
    }
    if (a->verify && a->apply) return usage("--verify reads only; --apply goes without it");
    if (!a->scanner.options.empty() && !a->scanner.wanted)
        return usage("--scanner-option goes with --scanner");
    if (a->scanner.wanted && !a->scan.empty())
        return usage("give either --scan FILE or --scanner, not both");
    if ((!a->scan.empty() || a->scanner.wanted) && a->hd)
        return usage("--hd goes with printing; the sheet's marks say which prints it carries");
    if (a->feed &&
        (a->verify || !a->scan.empty() || a->scanner.wanted || a->hd || !a->measured.empty()))
        return usage("--feed prints the feed-step prints alone");
    if (!a->measured.empty() && a->verify) return usage("--measured goes without --verify");
    return 0;
}

// The sheet's picture on the virtual printer: its jobs' paper collected into one picture.
CalibratePaper paperOf(const CliOptions& options) {
    CalibratePaper paper;
    if (options.virtualPrinterDir.empty()) return paper;
    paper.begin = [] { VPrinter_BeginSheet(); };
    paper.end = [] { return VPrinter_EndSheet(); };
    return paper;
}

// Prints the sheet (or the verification sheet). Returns the sheet picture's path on the
// virtual printer (empty elsewhere); false when a job did not run to its end.
bool printSheet(bool hd, const CliOptions& options, std::string* picture) {
    CliJobScope jobScope;
    if (!Cli_AttachPrinter(options)) return false;
    CalibratePrinted printed;
    {
        TracesAside aside;
        printed = Calibrate_PrintSheet(hd, paperOf(options));
    }
    Cli_DetachPrinter(options);
    Cli_ReportLogProblem(options);
    if (!printed.ok) {
        std::printf("the sheet did not print to its end\n");
        std::fflush(stdout);
        Cli_ReportJobFailure(printed.outcome);
        return false;
    }
    std::printf("printed sheet %u: %d prints\n", printed.sheet, printed.prints);
    *picture = printed.picture;
    if (!picture->empty()) std::printf("printed: %s\n", picture->c_str());
    return true;
}

// The five feed-step prints one after another: each feeds a metre between its two crosses.
int printFeedSteps(const CliOptions& options) {
    CliJobScope jobScope;
    if (!Cli_AttachPrinter(options)) return 1;
    CalibratePrinted printed;
    {
        TracesAside aside;
        printed = Calibrate_PrintFeedSteps(CalibratePaper{});
    }
    Cli_DetachPrinter(options);
    Cli_ReportLogProblem(options);
    if (!printed.ok) {
        std::printf("the feed-step prints did not print to their end\n");
        std::fflush(stdout);
        Cli_ReportJobFailure(printed.outcome);
        return 1;
    }
    std::printf(
        "printed the feed-step prints of pass4, pass6, pass8, pass3 and pass2; measure each "
        "between its two crosses and run: headalign calibrate --measured pass4=MM ... --apply "
        "(with --scan FILE the sheet's values are saved with them)\n");
    return 0;
}

#ifdef HEADALIGN_HAVE_VERNIER
void printLines(const std::vector<std::string>& lines) {
    for (const std::string& line : lines) std::printf("%s\n", line.c_str());
}

// The feed steps proposed from the measured distances; false when a measurement is refused
// (said why).
bool feedEntries(const CalibrateArgs& a, std::vector<CalibrateFeed>* feed) {
    bool ok = true;
    CalibrateOrigin origin;
    origin.source = "calibrate --measured";
    for (const auto& [type, mm] : a.measured) {
        feed->push_back(Calibrate_ProposeFeed(type, mm, origin));
        std::printf("%s\n", feed->back().text.c_str());
        ok = ok && feed->back().ok;
    }
    return ok;
}

void echoBox(const DialogModelBox& box) {
    std::fprintf(stderr, "[%s] %s\n", box.caption.c_str(), box.text.c_str());
}

// Every certain reading and every feed step proposed, entered and saved in one SAVE; the
// console's boxes (a busy record, a refused record) are echoed to standard error.
int applyAll(const CalibrateSheet* sheet, const std::vector<CalibrateFeed>& feed,
             const CliOptions& options) {
    // A virtual printer folder that cannot be used is its own cause, not a missing printer.
    if (!Cli_AttachPrinter(options)) {
        std::printf("not applied: the virtual printer folder cannot be used\n");
        return 1;
    }
    DialogModel_Reset();
    DialogModel_CaptureSystemBoxes(true);
    DialogModel_SetBoxEcho(echoBox);
    CalibrateApplied applied;
    {
        TracesAside aside;
        applied = Calibrate_Apply(sheet, feed, CalibrateOrigin{});
    }
    DialogModel_SetBoxEcho(nullptr);
    DialogModel_CaptureSystemBoxes(false);
    Cli_DetachPrinter(options);
    std::fflush(stderr);
    printLines(applied.lines);
    // Whatever was not entered leaves the calibration unfinished, which a script must see.
    return applied.complete() ? 0 : 1;
}

void writeMarked(const std::string& path, const CalibrateSheet& sheet) {
    if (path.empty() || sheet.status == CALIBRATE_READ_NO_FILE) return;
    errno = 0;
    if (!Vernier_SavePng(path, Calibrate_MarkedPicture(sheet))) {
        std::fflush(stdout);
        std::fprintf(stderr, "headalign: cannot write %s%s%s\n", path.c_str(), errno ? ": " : "",
                     errno ? std::strerror(errno) : "");
    }
}

// The sheet's picture read: from the file given, the virtual printer's paper just printed, or
// ("" as the path) the scanner. false after saying why nothing could be read.
bool readSheet(const std::string& path, const CalibrateArgs& a, const CliOptions& options,
               bool verification, CalibrateSheet* sheet) {
    CalibrateOrigin origin;
    // The history says how the picture came: a file named, the scanner, or the paper printed.
    origin.source = std::string("calibrate") + (verification ? " --verify" : "") +
                    (a.scanner.wanted  ? " --scanner"
                     : !a.scan.empty() ? " --scan"
                                       : "");
    std::string shown = path;
    if (path.empty()) {
        VernierImage image;
        if (!Cli_ScanSheet(a.scanner, options, &image, &shown)) return false;
        *sheet = Calibrate_ReadImage(std::move(image), shown, verification, origin);
    } else {
        *sheet = Calibrate_ReadFile(path, verification, origin);
    }
    if (sheet->status == CALIBRATE_READ_NO_FILE) {
        std::fprintf(stderr, "headalign: %s\n", sheet->error.c_str());
        return false;
    }
    std::printf(verification ? "verification sheet: %s\n" : "scan: %s (%u x %u)\n", shown.c_str(),
                sheet->image.width, sheet->image.height);
    if (sheet->status == CALIBRATE_READ_NO_MARKS) {
        std::printf("cannot read: %s\n", sheet->error.c_str());
        return false;
    }
    printLines(Calibrate_TableLines(*sheet));
    writeMarked(a.marked, *sheet);
    return true;
}

int readAndApply(const std::string& path, const CalibrateArgs& a, const CliOptions& options) {
    CalibrateSheet sheet;
    if (!readSheet(path, a, options, false, &sheet)) return 1;
    std::vector<CalibrateFeed> feed;
    const bool feedOk = feedEntries(a, &feed);
    if (!a.apply) return feedOk ? 0 : 1;
    if (sheet.contradictory || !feedOk) return 1;
    return applyAll(&sheet, feed, options);
}

int verifySheet(const std::string& path, const CalibrateArgs& a, const CliOptions& options) {
    CalibrateSheet sheet;
    if (!readSheet(path, a, options, true, &sheet)) return 1;
    CalibrateVerdict verdict = Calibrate_Verdict(sheet);
    printLines(verdict.lines);
    return verdict.allLinedUp ? 0 : 1;
}
#endif

}  // namespace

int Cli_CalibrateCommand(const std::vector<std::string>& args, const CliOptions& options) {
    CalibrateArgs a;
    if (int status = parse(args, &a)) return status;
    if (a.feed) return printFeedSteps(options);
#ifdef HEADALIGN_HAVE_VERNIER
    // Readings and the SAVE go into this printer's history, whatever is read.
    History_UsePrinter(options.virtualPrinterDir);
    const bool given = !a.scan.empty() || a.scanner.wanted;
    if (!a.measured.empty() && !given) {
        // The feed steps alone: proposed, and with --apply saved together.
        std::vector<CalibrateFeed> feed;
        if (!feedEntries(a, &feed)) return 1;
        return a.apply ? applyAll(nullptr, feed, options) : 0;
    }
    // The picture given (a file, or "" for the scanner), else the sheet is printed first.
    std::string picture = a.scan;
    if (!given) {
        if (!printSheet(a.hd, options, &picture)) return 1;
        if (picture.empty()) {
            std::printf(
                "scan or photograph the whole sheet and run: headalign calibrate %s--scan FILE%s "
                "(or --scanner [DEVICE])\n",
                a.verify ? "--verify " : "", a.verify ? "" : " --apply");
            return 0;
        }
    }
    return a.verify ? verifySheet(picture, a, options) : readAndApply(picture, a, options);
#else
    if (!a.scan.empty() || a.scanner.wanted || !a.measured.empty()) {
        std::fprintf(stderr,
                     "headalign: this build has no vernier reader (libpng and libjpeg "
                     "missing)\n");
        return 1;
    }
    std::string picture;
    return printSheet(a.hd, options, &picture) ? 0 : 1;
#endif
}
