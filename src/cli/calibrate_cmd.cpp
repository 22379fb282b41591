// SPDX-License-Identifier: Apache-2.0
// `headalign calibrate`: the sheet printed (a mark, then the adjustment, for every mode), its
// picture read print by print, every certain reading entered in one SAVE, and the verification
// sheet read the same way.
#include "cli/calibrate_cmd.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>

#include "app/feed_measure.h"
#include "cli/align_cmd.h"
#include "cli/params_cmd.h"
#include "cli/traces_aside.h"
#include "job/print_job.h"
#include "job/sheet_mark.h"
#include "vprinter.h"
#ifdef HEADALIGN_HAVE_VERNIER
#include "app/sheet_scan.h"
#endif

namespace {

struct CalibrateArgs {
    std::string scan, marked;
    bool hd = false, apply = false, verify = false, feed = false;
    std::vector<std::pair<int, std::string>> measured;  // feed-step type 11..15, millimetres
};

int usage(const std::string& what) {
    std::fprintf(stderr, "headalign: calibrate: %s (see --help)\n", what.c_str());
    return 2;
}

int parse(const std::vector<std::string>& args, CalibrateArgs* a) {
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& w = args[i];
        if ((w == "--scan" || w == "--marked") && i + 1 < args.size())
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
    if (!a->scan.empty() && a->hd)
        return usage("--hd goes with printing; the sheet's marks say which prints it carries");
    if (a->feed && (a->verify || !a->scan.empty() || a->hd || !a->measured.empty()))
        return usage("--feed prints the feed-step prints alone");
    if (!a->measured.empty() && a->verify) return usage("--measured goes without --verify");
    return 0;
}

// Prints the sheet: for each mode (and with hd each second-pass mode) its mark, then its
// adjustment job as it stands. Returns the sheet picture's path on the virtual printer (empty
// elsewhere); false when a job did not run to its end.
bool printSheet(bool hd, const CliOptions& options, std::string* picture) {
    if (!Cli_AttachPrinter(options)) return false;
    std::random_device random;
    const uint32_t sheet = random() % MARK_SHEET_IDS;
    const bool virtualPrinter = !options.virtualPrinterDir.empty();
    bool ok = true;
    {
        TracesAside aside;
        if (virtualPrinter) VPrinter_BeginSheet();
        for (int pass = 0; pass < (hd ? 2 : 1) && ok; ++pass)
            for (int type = 5; type <= 10 && ok; ++type) {
                // Photo mode has one value for both passes: printed once.
                if (pass == 1 && type == 10) continue;
                Job_SetHdMode(false);
                Job_RunSheetMark(SheetMark{type, pass == 1, sheet});
                ok = Job_Succeeded(Job_LastOutcome());
                if (!ok) break;
                Job_SetHdMode(pass == 1);
                Job_RunAdjustment(static_cast<uint8_t>(type));
                ok = Job_Succeeded(Job_LastOutcome());
            }
        Job_SetHdMode(false);
        if (virtualPrinter) *picture = VPrinter_EndSheet();
    }
    const JobOutcome outcome = Job_LastOutcome();
    Cli_DetachPrinter(options);
    Cli_ReportLogProblem(options);
    if (!ok) {
        std::printf("the sheet did not print to its end\n");
        std::fflush(stdout);
        Cli_ReportJobFailure(outcome);
        return false;
    }
    std::printf("printed sheet %u: %d prints\n", sheet, hd ? 11 : 6);
    if (!picture->empty()) std::printf("printed: %s\n", picture->c_str());
    return true;
}

// The five feed-step prints one after another: each feeds a metre between its two crosses.
int printFeedSteps(const CliOptions& options) {
    if (!Cli_AttachPrinter(options)) return 1;
    bool ok = true;
    {
        TracesAside aside;
        for (int type = 11; type <= 15 && ok; ++type) {
            Job_RunAdjustment(static_cast<uint8_t>(type));
            ok = Job_Succeeded(Job_LastOutcome());
        }
    }
    const JobOutcome outcome = Job_LastOutcome();
    Cli_DetachPrinter(options);
    Cli_ReportLogProblem(options);
    if (!ok) {
        std::printf("the feed-step prints did not print to their end\n");
        std::fflush(stdout);
        Cli_ReportJobFailure(outcome);
        return 1;
    }
    std::printf(
        "printed the feed-step prints of pass4, pass6, pass8, pass3 and pass2; measure each "
        "between its two crosses and run: headalign calibrate --measured pass4=MM ... --apply "
        "(with --scan FILE the sheet's values are saved with them)\n");
    return 0;
}

#ifdef HEADALIGN_HAVE_VERNIER
// The one amount to enter of a reading: the aligned group's label (align's rule).
std::string readingText(const SheetPrint& p) {
    const VernierReading& r = p.reading;
    if (r.status != VERNIER_READ) return "-";
    char text[32];
    if (r.halfway)
        std::snprintf(text, sizeof text, "\"%s\"/\"%s\"",
                      Vernier_LabelText(std::max(r.group, r.neighbour)).c_str(),
                      Vernier_LabelText(std::min(r.group, r.neighbour)).c_str());
    else
        std::snprintf(text, sizeof text, "\"%s\"", Vernier_LabelText(r.group).c_str());
    return text;
}

void printTable(const SheetScan& scan) {
    std::printf("sheet %u%s\n", scan.sheet, scan.hd ? " (with the second pass)" : "");
    std::printf("%-5s %-6s %-11s %-13s %-6s %s\n", "mode", "pass", "reading", "", "enter", "field");
    for (const SheetPrint& p : scan.prints) {
        const bool entered = p.verdict == SHEET_CERTAIN || p.verdict == SHEET_UNCERTAIN;
        char amount[16] = "-";
        if (entered) std::snprintf(amount, sizeof amount, "%+d", p.amount);
        std::printf("%-5d %-6s %-11s %-13s %-6s %s\n", p.mark.type, p.mark.hd ? "second" : "first",
                    readingText(p).c_str(), Sheet_VerdictName(p.verdict), amount,
                    Cli_AlignField(p.mark.type, p.mark.hd));
    }
    bool header = false;
    for (const SheetPrint& p : scan.prints) {
        if (p.verdict == SHEET_CERTAIN) continue;
        if (!header) std::printf("not entered:\n");
        header = true;
        std::printf("  mode %d%s: %s; %s\n", p.mark.type, p.mark.hd ? " second pass" : "",
                    p.reason.c_str(), p.advice.c_str());
    }
    if (scan.contradictory)
        std::printf("the sheet's marks contradict each other: %s; nothing is entered from it\n",
                    scan.contradiction.c_str());
}

// The feed steps proposed from the measured distances, as "stepPassN=VALUE" words; false when
// a measurement is refused (said why).
bool feedEntries(const CalibrateArgs& a, std::vector<std::string>* words) {
    bool ok = true;
    for (const auto& [type, mm] : a.measured) {
        const char* field = Cli_FeedStepField(type);
        FeedStepProposal p = proposeFeedStep(mm, field);
        if (!p.ok) {
            std::printf("feed step %s: %s\n", field, p.refusal.c_str());
            ok = false;
            continue;
        }
        std::printf("feed step: %s\n", p.arithmetic.c_str());
        words->push_back(std::string(field) + "=" + std::to_string(p.value));
    }
    return ok;
}

// Every certain reading with something to enter and every feed step proposed, entered as
// the values they make and saved in one SAVE per pass: the console's entries stand for the
// pass its second-pass box chooses. The one place that saves.
int applyAll(const SheetScan* scan, std::vector<std::string> feed, const CliOptions& options) {
    std::vector<std::string> words[2];
    words[0] = std::move(feed);
    int refused = 0, left = 0;
    for (const SheetPrint& p : scan ? scan->prints : std::vector<SheetPrint>{}) {
        if (p.verdict != SHEET_CERTAIN) {
            ++left;
            continue;
        }
        if (p.amount == 0) continue;
        const char* field = Cli_AlignField(p.mark.type, p.mark.hd);
        long current = 0;
        bool known = false;
        {
            TracesAside aside;
            known = Cli_ReadParamField(field, options, &current);
        }
        if (!known) {
            std::printf(
                "not applied: no printer is connected (its parameter record could not be "
                "read)\n");
            return 1;
        }
        if (current + p.amount < 0 || current + p.amount > 255) {
            std::printf(
                "not applied: mode %d%s: %s would become %ld, and the console takes 0 .. "
                "255; the printer has no room for this correction that way\n",
                p.mark.type, p.mark.hd ? " second pass" : "", field, current + p.amount);
            ++refused;
            continue;
        }
        words[p.mark.hd ? 1 : 0].push_back(std::string(field) + "=" +
                                           std::to_string(current + p.amount));
    }
    int status = 0;
    bool any = false;
    for (auto& w : words) {
        if (w.empty()) continue;
        any = true;
        w.insert(w.begin(), "set");
        std::fflush(stdout);
        if (Cli_ParamsCommand(w, options) != 0) status = 1;
        std::fflush(stderr);
    }
    left += refused;
    if (!any && !refused)
        std::printf("nothing to apply: every certain reading lines up at \"00\"\n");
    else if (any)
        std::printf(status == 0 ? "applied and saved\n" : "not applied: the save failed\n");
    // Whatever was not entered leaves the calibration unfinished, which a script must see.
    if (status == 0 && left)
        std::printf("%d print%s not entered (see above)\n", left, left == 1 ? "" : "s");
    return status == 0 && left == 0 ? 0 : 1;
}

bool loadSheet(const std::string& path, VernierImage* image) {
    std::string error;
    if (Vernier_LoadImage(path, image, &error)) return true;
    std::fprintf(stderr, "headalign: %s\n", error.c_str());
    return false;
}

void writeMarked(const std::string& path, VernierImage image, const SheetScan& scan) {
    if (path.empty()) return;
    Sheet_MarkPicture(&image, scan);
    errno = 0;
    if (!Vernier_SavePng(path, image)) {
        std::fflush(stdout);
        std::fprintf(stderr, "headalign: cannot write %s%s%s\n", path.c_str(), errno ? ": " : "",
                     errno ? std::strerror(errno) : "");
    }
}

int readAndApply(const std::string& path, const CalibrateArgs& a, const CliOptions& options) {
    VernierImage image;
    if (!loadSheet(path, &image)) return 1;
    SheetScan scan = Sheet_Read(image);
    std::printf("scan: %s (%u x %u)\n", path.c_str(), image.width, image.height);
    if (!scan.marksFound) {
        std::printf("cannot read: %s\n", scan.error.c_str());
        return 1;
    }
    printTable(scan);
    writeMarked(a.marked, image, scan);
    std::vector<std::string> feed;
    const bool feedOk = feedEntries(a, &feed);
    if (!a.apply) return feedOk ? 0 : 1;
    if (scan.contradictory || !feedOk) return 1;
    return applyAll(&scan, feed, options);
}

int verifySheet(const std::string& path, const CalibrateArgs& a) {
    VernierImage image;
    if (!loadSheet(path, &image)) return 1;
    SheetScan scan = Sheet_Read(image);
    std::printf("verification sheet: %s\n", path.c_str());
    if (!scan.marksFound) {
        std::printf("cannot read: %s\n", scan.error.c_str());
        return 1;
    }
    printTable(scan);
    writeMarked(a.marked, image, scan);
    bool all = !scan.contradictory;
    for (const SheetPrint& p : scan.prints) {
        if (p.verdict == SHEET_FOREIGN) continue;
        const VernierReading& r = p.reading;
        const bool lined = (p.verdict == SHEET_CERTAIN || p.verdict == SHEET_UNCERTAIN) &&
                           std::fabs(r.estimate) <= 0.5 + r.sigma;
        if (!lined) all = false;
        if (p.verdict == SHEET_CERTAIN || p.verdict == SHEET_UNCERTAIN)
            std::printf("mode %d%s: %s\n", p.mark.type, p.mark.hd ? " second pass" : "",
                        lined ? "verified: \"00\" lines up"
                              : ("not aligned: the prints meet at " +
                                 std::to_string(r.estimate).substr(0, 5) + " groups")
                                    .c_str());
    }
    std::printf(all ? "verified: every mode lines up\n" : "not verified: see above\n");
    return all ? 0 : 1;
}
#endif

}  // namespace

int Cli_CalibrateCommand(const std::vector<std::string>& args, const CliOptions& options) {
    CalibrateArgs a;
    if (int status = parse(args, &a)) return status;
    if (a.feed) return printFeedSteps(options);
#ifdef HEADALIGN_HAVE_VERNIER
    if (!a.measured.empty() && a.scan.empty()) {
        // The feed steps alone: proposed, and with --apply saved together.
        std::vector<std::string> feed;
        if (!feedEntries(a, &feed)) return 1;
        return a.apply ? applyAll(nullptr, feed, options) : 0;
    }
    if (!a.scan.empty())
        return a.verify ? verifySheet(a.scan, a) : readAndApply(a.scan, a, options);
    std::string picture;
    if (!printSheet(a.hd, options, &picture)) return 1;
    if (picture.empty()) {
        std::printf(
            "scan or photograph the whole sheet and run: headalign calibrate %s--scan FILE%s\n",
            a.verify ? "--verify " : "", a.verify ? "" : " --apply");
        return 0;
    }
    return a.verify ? verifySheet(picture, a) : readAndApply(picture, a, options);
#else
    if (!a.scan.empty()) {
        std::fprintf(stderr,
                     "headalign: this build has no vernier reader (libpng and libjpeg "
                     "missing)\n");
        return 1;
    }
    std::string picture;
    return printSheet(a.hd, options, &picture) ? 0 : 1;
#endif
}
