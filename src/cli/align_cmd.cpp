// SPDX-License-Identifier: Apache-2.0
// `headalign align`: the loop print, read, apply, verify for the bidirectional corrections.
#include "cli/align_cmd.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "app/calibrate_print.h"
#include "app/console.h"
#include "app/feed_measure.h"
#include "app/texts.h"
#include "cli/job_progress.h"
#include "cli/params_cmd.h"
#include "cli/scan_cmd.h"
#include "cli/traces_aside.h"
#include "history/history.h"
#include "job/print_job.h"
#include "platform/dialog_model.h"
#include "platform/paths.h"
#include "vprinter.h"
#ifdef HEADALIGN_HAVE_VERNIER
#include "vernier/vernier.h"
#endif

namespace {

// The aligned group's label is the amount to add: a right-to-left print landing 2 columns
// too far shifts the meeting point by one group, and one unit of the correction moves the
// right-to-left print by 2 columns back.
constexpr int ENTRY_PER_GROUP = 1;

struct AlignArgs {
    int type = -1;
    std::string scan, marked, measured;
    bool apply = false, verify = false, hd = false, force = false;
    CliScanArgs scanner;  // --scanner [DEVICE], --scanner-option NAME=VALUE
};

int usage(const char* what) {
    std::fprintf(stderr, "headalign: align: %s (see --help)\n", what);
    return 2;
}

int parse(const std::vector<std::string>& args, AlignArgs* a) {
    if (args.empty())
        return usage("name the mode (5..10 or text-high .. photo, 11..15 or pass4 .. pass2)");
    a->type = Cli_JobNumber("adjust", args[0]);
    if (a->type < 5 || a->type > 15)
        return usage("the mode is a bidirectional adjustment 5..10 or a feed step 11..15");
    bool measuredGiven = false;
    for (size_t i = 1; i < args.size(); ++i) {
        const std::string& w = args[i];
        if (int taken = Cli_ParseScanArg(args, &i, &a->scanner)) {
            if (taken == 2) return 2;
            continue;
        }
        if ((w == "--scan" || w == "--marked") && i + 1 < args.size())
            (w == "--scan" ? a->scan : a->marked) = args[++i];
        else if (w == "--measured" && i + 1 < args.size()) {
            a->measured = args[++i];
            measuredGiven = true;
        } else if (w == "--measured")
            return usage("--measured needs the distance in millimetres");
        else if (w == "--apply")
            a->apply = true;
        else if (w == "--verify")
            a->verify = true;
        else if (w == "--hd")
            a->hd = true;
        else if (w == "--force")
            a->force = true;
        else if (w == "--scan" || w == "--marked")
            return usage((w + " needs a file").c_str());
        else if (w.compare(0, 1, "-") == 0)
            return usage(("unknown option '" + w + "'").c_str());
        else
            return usage(("unknown word '" + w + "'").c_str());
    }
    if (a->type >= 11) {
        if (!measuredGiven)
            return usage("a feed step takes --measured MM, the distance between its crosses");
        if (!a->scan.empty() || a->verify || a->hd || a->force || !a->marked.empty() ||
            a->scanner.wanted || !a->scanner.options.empty())
            return usage("a feed step takes only --measured MM and --apply");
        return 0;
    }
    if (measuredGiven) return usage("--measured goes with a feed step 11..15 (pass4 .. pass2)");
    if (!a->scanner.options.empty() && !a->scanner.wanted)
        return usage("--scanner-option goes with --scanner");
    if (a->scanner.wanted && !a->scan.empty())
        return usage("give either --scan FILE or --scanner, not both");
    if (a->verify == (!a->scan.empty() || a->scanner.wanted))
        return usage("give either --scan FILE, --scanner [DEVICE] or --verify");
    if (a->apply && a->verify) return usage("--apply goes with --scan");
    if (a->force && !a->apply) return usage("--force goes with --apply");
    if (!a->marked.empty() && a->verify) return usage("--marked goes with --scan");
    return 0;
}

// Why the console did not take the entry: the cause, not a guess. Its own box, echoed above,
// gives the details.
const char* whyNotApplied(int status) {
    if (status == 2) return "the entry could not be given to the console (see the message above)";
    if (!consoleState()->printerConnected)
        return "no printer is connected (its parameter record could not be read)";
    std::vector<DialogModelBox> boxes = DialogModel_Boxes();
    for (ConsoleMessage m : {MSG_SAVE_FAIL, MSG_SHARED_BUSY, MSG_NOT_CONNECTED})
        if (!boxes.empty() && boxes.back().text == consoleText(m).text)
            return "the save did not reach the printer";
    return "the console refused the entry";
}

// A picture named as the history keeps it: absolute, so that it can be found again.
std::string absolutePicture(const std::string& path) {
    std::error_code ec;
    std::filesystem::path full = std::filesystem::absolute(Path_FromUtf8(path), ec);
    return ec ? path : Path_ToUtf8(full.lexically_normal());
}

// The step value from the distance measured between the feed-step print's crosses.
int measured(const AlignArgs& a, const CliOptions& options) {
    const char* field = Cli_FeedStepField(a.type);
    FeedStepProposal p = proposeFeedStep(a.measured, field);
    if (!p.ok) {
        std::fprintf(stderr, "headalign: align: %s\n", p.refusal.c_str());
        return 1;
    }
    const long proposal = p.value;
    HistoryEntry reading;
    reading.mode = a.type;
    reading.reading = std::strtod(a.measured.c_str(), nullptr);
    reading.certain = true;
    reading.source = "align --measured";
    History_UsePrinter(options.virtualPrinterDir);
    History_Record(reading);
    History_SetSaveOrigin("align --apply", true);
    long current = 0;
    bool known = false;
    {
        // Traces and the console's own boxes go to standard error while the record is read.
        TracesAside aside;
        known = Cli_ReadParamField(field, options, &current);
    }
    std::printf("%s", p.arithmetic.c_str());
    if (known)
        std::printf(" (now %ld)\n", current);
    else
        std::printf(" (the current value could not be read)\n");
    std::printf("entry: %s \"设为:\" %ld\n", field, proposal);
    if (!a.apply) return 0;
    if (!known) {
        std::printf(
            "not applied: no printer is connected (its parameter record could not be read)\n");
        return 1;
    }
    if (current == proposal) {
        std::printf("nothing to apply: %s is already %ld\n", field, proposal);
        return 0;
    }
    std::fflush(stdout);
    int status =
        Cli_ParamsCommand({"set", std::string(field) + "=" + std::to_string(proposal)}, options);
    std::fflush(stderr);
    if (status == 0)
        std::printf("applied and saved\n");
    else
        std::printf("not applied: %s\n", whyNotApplied(status));
    return status == 0 ? 0 : 1;
}

#ifdef HEADALIGN_HAVE_VERNIER
// A reading of a bidirectional print into the printer's history.
void record(HistoryKind kind, const AlignArgs& a, const VernierReading& r,
            const std::string& picture, const char* source, bool aligned = false) {
    HistoryEntry e;
    e.kind = kind;
    e.mode = a.type;
    e.pass = a.hd ? 2 : 1;
    e.reading = r.estimate;
    e.spread = r.sigma;
    e.certain = r.certain;
    e.aligned = aligned;
    e.picture = absolutePicture(picture);
    e.source = source;
    History_Record(e);
}

void describe(const VernierReading& r) {
    int measured = 0;
    for (const VernierGroup& g : r.groups) measured += g.measured ? 1 : 0;
    std::printf("found: %s; %d of 19 groups measured; turned %.2f degrees\n",
                Vernier_FamilyName(r.family), measured, r.angleDeg);
    if (r.status != VERNIER_READ) return;
    if (r.halfway)
        std::printf("lines up between \"%s\" and \"%s\"",
                    Vernier_LabelText(std::max(r.group, r.neighbour)).c_str(),
                    Vernier_LabelText(std::min(r.group, r.neighbour)).c_str());
    else
        std::printf("lines up at: \"%s\"", Vernier_LabelText(r.group).c_str());
    std::printf("; estimate %+.2f groups +/- %.2f; %s\n", r.estimate, r.sigma,
                r.certain ? "certain" : "not certain: the spread reaches another group");
}

int scan(const AlignArgs& a, const CliOptions& options) {
    VernierImage image;
    std::string error, source = a.scan;
    // A scan that fails or is cancelled ends here, before anything is entered.
    if (a.scanner.wanted) {
        if (!Cli_ScanPrint(a.scanner, a.type, options, &image, &source)) return 1;
    } else if (!Vernier_LoadImage(a.scan, &image, &error)) {
        std::fprintf(stderr, "headalign: %s\n", error.c_str());
        return 1;
    }
    VernierReading r = Vernier_ReadAs(image, Vernier_FamilyOfAdjustment(a.type), a.type);
    std::printf("scan: %s (%u x %u)\n", source.c_str(), image.width, image.height);
    if (r.family != FAMILY_UNKNOWN) describe(r);
    bool markedWritten = true;
    if (!a.marked.empty()) {
        Vernier_MarkGroups(&image, r);
        errno = 0;
        markedWritten = Vernier_SavePng(a.marked, image);
        if (!markedWritten) {
            std::fflush(stdout);
            std::fprintf(stderr, "headalign: cannot write %s%s%s\n", a.marked.c_str(),
                         errno ? ": " : "", errno ? std::strerror(errno) : "");
        }
    }
    if (r.status != VERNIER_READ) {
        std::printf("cannot read: %s\n", r.reason.c_str());
        return 1;
    }
    if (r.family != Vernier_FamilyOfAdjustment(a.type)) {
        std::printf("cannot read: the scan shows a %s, not the print of mode %d\n",
                    Vernier_FamilyName(r.family), a.type);
        return 1;
    }
    History_UsePrinter(options.virtualPrinterDir);
    record(HISTORY_READING, a, r, a.scan, "align --scan");
    const char* field = Cli_AlignField(a.type, a.hd);
    int amount = ENTRY_PER_GROUP * Vernier_GroupToEnter(r);
    std::printf("entry: %s \"加减:\" %d\n", field, amount);
    if (!markedWritten) {
        if (a.apply) std::printf("not applied: the marked scan could not be written\n");
        return 1;
    }
    if (!a.apply) return 0;
    if (!r.certain && !a.force) {
        std::printf(
            "not applied: the reading is not certain; check the print and type the entry, or give "
            "--force to enter it anyway\n");
        return 1;
    }
    if (amount == 0) {
        std::printf(r.halfway ? "nothing to apply: \"00\" lines up to half a group\n"
                              : "nothing to apply: \"00\" lines up\n");
        return 0;
    }
    if (!r.certain) std::printf("entering an uncertain reading (--force)\n");
    std::fflush(stdout);
    History_SetSaveOrigin(r.certain ? "align --apply" : "align --apply --force", true);
    // A virtual printer folder that cannot be used is its own cause, not a missing printer.
    if (!options.virtualPrinterDir.empty()) {
        if (!Cli_AttachPrinter(options)) {
            std::printf("not applied: the virtual printer folder cannot be used\n");
            return 1;
        }
        Cli_DetachPrinter(options);
    }
    int status =
        Cli_ParamsCommand({"add", std::string(field) + "=" + std::to_string(amount)}, options);
    std::fflush(stderr);
    if (status == 0)
        std::printf("applied and saved\n");
    else
        std::printf("not applied: %s\n", whyNotApplied(status));
    return status == 0 ? 0 : 1;
}

int verify(const AlignArgs& a, const CliOptions& options) {
    CliJobScope jobScope;
    if (!Cli_AttachPrinter(options)) return 1;
    uint32_t job = 0;
    std::string path;
    bool ok = false;
    JobOutcome outcome;
    {
        TracesAside aside;
        JobProgress progress(options, true);
        Job_SetHdMode(a.hd);
        Job_RunAdjustment(static_cast<uint8_t>(a.type));
        outcome = Job_LastOutcome();
        ok = Job_Succeeded(outcome);
        progress.finish(ok);
        if (!options.virtualPrinterDir.empty()) {
            VPrinter_WaitPaper();
            job = VPrinter_LastJobNumber();
            if (job) path = VPrinter_JobPath(job, ".png");
        }
    }
    Cli_DetachPrinter(options);
    Cli_ReportLogProblem(options);
    if (!ok) {
        std::printf("the print did not complete\n");
        std::fflush(stdout);
        Cli_ReportJobFailure(outcome);
        return 1;
    }
    if (!job) {
        std::printf("printed; scan the print and run: headalign align %d --scan FILE\n", a.type);
        return 0;
    }
    VernierImage image;
    std::string error;
    if (!Vernier_LoadImage(path, &image, &error)) {
        std::printf("cannot read the printed paper: %s\n", error.c_str());
        return 1;
    }
    VernierReading r = Vernier_ReadAs(image, Vernier_FamilyOfAdjustment(a.type), a.type);
    std::printf("printed: %s\n", path.c_str());
    if (r.family != FAMILY_UNKNOWN) describe(r);
    if (r.status != VERNIER_READ && r.status != VERNIER_OUT_OF_RANGE) {
        std::printf("cannot read: %s\n", r.reason.c_str());
        return 1;
    }
    bool aligned = r.status == VERNIER_READ && std::fabs(r.estimate) <= 0.5 + r.sigma;
    if (r.status == VERNIER_READ)
        record(HISTORY_VERIFICATION, a, r, path, "align --verify", aligned);
    std::printf(
        aligned ? "verified: \"00\" lines up\n" : "not aligned: the prints meet at %+.2f groups\n",
        r.estimate);
    return aligned ? 0 : 1;
}
#endif

}  // namespace

const char* Cli_AlignField(int jobType, bool hd) {
    return jobType >= 5 && jobType <= 10 ? Calibrate_Field(jobType, hd) : nullptr;
}

const char* Cli_FeedStepField(int jobType) {
    return jobType >= 11 && jobType <= 15 ? Calibrate_Field(jobType, false) : nullptr;
}

int Cli_AlignCommand(const std::vector<std::string>& args, const CliOptions& options) {
    AlignArgs a;
    if (int status = parse(args, &a)) return status;
    if (a.type >= 11) return measured(a, options);
#ifdef HEADALIGN_HAVE_VERNIER
    return a.verify ? verify(a, options) : scan(a, options);
#else
    (void)options;
    std::fprintf(stderr,
                 "headalign: this build has no vernier reader (libpng and libjpeg missing)\n");
    return 1;
#endif
}
