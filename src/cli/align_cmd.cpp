// `headalign align`: the loop print, read, apply, verify for the bidirectional corrections.
#include "cli/align_cmd.h"

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <cstdio>
#include <string>

#include "cli/params_cmd.h"
#include "job/print_job.h"
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
    std::string scan, marked;
    bool apply = false, verify = false, hd = false;
};

int usage(const char* what) {
    std::fprintf(stderr, "headalign: align: %s (see --help)\n", what);
    return 2;
}

int parse(const std::vector<std::string>& args, AlignArgs* a) {
    if (args.empty()) return usage("name the mode (5..10 or text-high .. photo)");
    a->type = Cli_JobNumber("adjust", args[0]);
    if (a->type < 5 || a->type > 10) return usage("the mode is a bidirectional adjustment 5..10");
    for (size_t i = 1; i < args.size(); ++i) {
        const std::string& w = args[i];
        if ((w == "--scan" || w == "--marked") && i + 1 < args.size())
            (w == "--scan" ? a->scan : a->marked) = args[++i];
        else if (w == "--apply") a->apply = true;
        else if (w == "--verify") a->verify = true;
        else if (w == "--hd") a->hd = true;
        else return usage(("unknown word '" + w + "'").c_str());
    }
    if (a->verify == !a->scan.empty()) return usage("give either --scan FILE or --verify");
    if (a->apply && a->verify) return usage("--apply goes with --scan");
    return 0;
}

// Traces of the link go to standard output; keep them on standard error during a job.
struct TracesAside {
    int saved;
    TracesAside() {
        std::fflush(stdout);
        saved = dup(1);
        if (saved >= 0) dup2(2, 1);
    }
    ~TracesAside() {
        if (saved < 0) return;
        std::fflush(stdout);
        dup2(saved, 1);
        close(saved);
    }
};

#ifdef HEADALIGN_HAVE_VERNIER
double numberAfter(const std::string& text, const char* key) {
    size_t at = text.find(key);
    return at == std::string::npos ? 0 : std::atof(text.c_str() + at + std::strlen(key));
}

void describe(const VernierReading& r) {
    int measured = 0;
    for (const VernierGroup& g : r.groups) measured += g.measured ? 1 : 0;
    std::printf("found: %s; %d of 19 groups measured; turned %.2f degrees\n", Vernier_FamilyName(r.family),
                measured, r.angleDeg);
    if (r.status != VERNIER_READ) return;
    std::printf("lines up at: \"%s\"", Vernier_LabelText(r.group).c_str());
    if (r.neighbour != r.group) std::printf(" (between \"%s\" and \"%s\")", Vernier_LabelText(r.group).c_str(),
                                            Vernier_LabelText(r.neighbour).c_str());
    std::printf("; estimate %+.2f groups +/- %.2f; confidence %s (%.2f)\n", r.estimate, r.sigma,
                r.highConfidence ? "high" : "low", r.confidence);
}

// Whether the reading can be entered: a named group that is either sure, or one of two
// equally good neighbours (a half-step error that no whole correction removes).
bool enterable(const VernierReading& r) {
    return r.status == VERNIER_READ && (r.highConfidence || (r.neighbour != r.group && r.sigma < 0.15));
}

int scan(const AlignArgs& a, const CliOptions& options) {
    VernierImage image;
    std::string error;
    if (!Vernier_LoadImage(a.scan, &image, &error)) {
        std::fprintf(stderr, "headalign: %s\n", error.c_str());
        return 1;
    }
    VernierReading r = Vernier_Read(image);
    std::printf("scan: %s (%u x %u)\n", a.scan.c_str(), image.width, image.height);
    if (r.family != FAMILY_UNKNOWN) describe(r);
    if (!a.marked.empty()) {
        Vernier_MarkGroups(&image, r);
        if (!Vernier_SavePng(a.marked, image)) std::fprintf(stderr, "headalign: cannot write %s\n", a.marked.c_str());
    }
    if (r.status != VERNIER_READ) {
        std::printf("cannot read: %s\n", r.reason.c_str());
        return 1;
    }
    if (r.family != Vernier_FamilyOfAdjustment(a.type)) {
        std::printf("cannot read: the scan shows a %s, not the print of mode %d\n", Vernier_FamilyName(r.family),
                    a.type);
        return 1;
    }
    const char* field = Cli_AlignField(a.type, a.hd);
    int amount = ENTRY_PER_GROUP * r.group;
    std::printf("entry: %s \"加减:\" %d\n", field, amount);
    if (!a.apply) return 0;
    if (!enterable(r)) {
        std::printf("not applied: the reading is not sure enough; check the print and type the entry\n");
        return 1;
    }
    if (amount == 0) {
        std::printf("nothing to apply: \"00\" lines up\n");
        return 0;
    }
    std::fflush(stdout);
    int status = Cli_ParamsCommand({"add", std::string(field) + "=" + std::to_string(amount)}, options);
    std::printf(status == 0 ? "applied and saved\n" : "not applied: the console refused the entry\n");
    return status == 0 ? 0 : 1;
}

int verify(const AlignArgs& a, const CliOptions& options) {
    if (!Cli_AttachPrinter(options)) return 1;
    uint32_t job = 0;
    std::string path, picture;
    bool ok = false;
    {
        TracesAside aside;
        Job_SetHdMode(a.hd);
        Job_RunAdjustment(static_cast<uint8_t>(a.type));
        ok = Job_Succeeded(Job_LastOutcome());
        if (!options.virtualPrinterDir.empty()) {
            VPrinter_WaitPaper();
            job = VPrinter_LastJobNumber();
            if (job) path = VPrinter_JobPath(job, ".png");
            for (const std::string& e : VPrinter_JobEvents())
                if (e.find("\"event\":\"picture\"") != std::string::npos) picture = e;
        }
    }
    Cli_DetachPrinter(options);
    if (!ok) {
        std::printf("the print did not complete\n");
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
    // The paper is drawn at the job's resolution across and the board's grid down: square it.
    double xDpi = numberAfter(picture, "\"x_dpi\":") / std::max(1.0, numberAfter(picture, "\"scale_x\":"));
    double yDpi = numberAfter(picture, "\"y_dpi\":") / std::max(1.0, numberAfter(picture, "\"scale_y\":"));
    if (xDpi > 0 && yDpi > 0 && xDpi != yDpi) image = Vernier_Resample(image, yDpi / xDpi, 1.0);
    VernierReading r = Vernier_Read(image);
    std::printf("printed: %s\n", path.c_str());
    if (r.family != FAMILY_UNKNOWN) describe(r);
    if (r.status != VERNIER_READ && r.status != VERNIER_OUT_OF_RANGE) {
        std::printf("cannot read: %s\n", r.reason.c_str());
        return 1;
    }
    bool aligned = r.status == VERNIER_READ && std::fabs(r.estimate) <= 0.5 + r.sigma;
    std::printf(aligned ? "verified: \"00\" lines up\n" : "not aligned: the prints meet at %+.2f groups\n",
                r.estimate);
    return aligned ? 0 : 1;
}
#endif

}  // namespace

const char* Cli_AlignField(int jobType, bool hd) {
    static const char* const FIELDS[6][2] = {
        {"bidirTextHigh", "bidirTextHighHd"},   {"bidirTextMid", "bidirTextMidHd"},
        {"bidirTextLow", "bidirTextLowHd"},     {"bidirImageHigh", "bidirImageHighHd"},
        {"bidirImageLow", "bidirImageLowHd"},   {"bidirPhoto", "bidirPhoto"},
    };
    if (jobType < 5 || jobType > 10) return nullptr;
    return FIELDS[jobType - 5][hd ? 1 : 0];
}

int Cli_AlignCommand(const std::vector<std::string>& args, const CliOptions& options) {
    AlignArgs a;
    if (int status = parse(args, &a)) return status;
#ifdef HEADALIGN_HAVE_VERNIER
    return a.verify ? verify(a, options) : scan(a, options);
#else
    (void)options;
    std::fprintf(stderr, "headalign: this build has no vernier reader (libpng and libjpeg missing)\n");
    return 1;
#endif
}
