// SPDX-License-Identifier: Apache-2.0
// `headalign pattern` and `headalign adjust`: one print job with an exit status that tells
// whether it ran to its end.
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <span>

#include "app/record_store.h"
#include "cli/cli.h"
#include "cli/job_progress.h"
#include "diag/errors.h"
#include "diag/log.h"
#include "history/history.h"
#include "job/print_job.h"
#include "pattern/patterns.h"
#include "platform/clock.h"
#include "platform/logdir.h"
#include "platform/paths.h"
#include "platform/sim_clock.h"
#include "vprinter.h"

namespace {
struct JobName {
    const char* name;
    int number;
};
const JobName PATTERN_NAMES[] = {{"nozzle", 19}, {"line-check", 3}, {"vertical", 16}};
const JobName ADJUST_NAMES[] = {
    {"text-high", 5}, {"text-mid", 6}, {"text-low", 7}, {"image-high", 8},
    {"image-low", 9}, {"photo", 10},   {"pass4", 11},   {"pass6", 12},
    {"pass8", 13},    {"pass3", 14},   {"pass2", 15},
};

constexpr uint32_t VPRINTER_FOLDER_WAIT_MS = 10000;
constexpr uint32_t VPRINTER_FOLDER_POLL_MS = 50;

// Read on the interrupt's thread.
std::atomic<int> jobCommands{0};
// The cancel flag of the scan in progress (nullptr when none).
std::atomic<std::atomic<bool>*> scanCancel{nullptr};
}  // namespace

void Cli_SetScanCancel(std::atomic<bool>* flag) { scanCancel.store(flag); }

CliJobScope::CliJobScope() { ++jobCommands; }
CliJobScope::~CliJobScope() { --jobCommands; }

bool Cli_OnInterrupt() {
    if (std::atomic<bool>* scan = scanCancel.load()) {
        scan->store(true);
        return true;  // the scan stops within a block and its command ends with the reason
    }
    if (Job_CancelIfRunning()) {
        std::fputs(
            "\nheadalign: interrupted: cancelling the job (interrupt again to stop at once)\n",
            stderr);
        return true;
    }
    if (jobCommands.load() == 0) return false;
    std::fputs("\nheadalign: interrupted: finishing the job's records first\n", stderr);
    return true;
}

bool Cli_JobInHand() { return Job_IsRunning() || jobCommands.load() > 0; }

void Cli_ReportJobFailure(const JobOutcome& o) {
    std::fflush(stdout);
    if (!o.linkStarted) {
        std::fprintf(stderr, "headalign: the printer could not be opened\n");
    } else if (!o.paramsRead) {
        std::fprintf(stderr, "headalign: the printer did not send its parameters\n");
    } else if (o.modeRefused) {
        std::fprintf(stderr, "headalign: the printer does not support this print mode\n");
    } else if (o.errorCode != ERR_NONE) {
        // The error's own message box has already put its text on standard error.
        std::fprintf(stderr, "headalign: error %d stopped the job (see the message above)\n",
                     static_cast<int>(o.errorCode));
    } else if (o.pcCancelled) {
        std::fprintf(stderr, "headalign: the job was cancelled on the PC\n");
    } else if (o.printerCancelled) {
        std::fprintf(stderr, "headalign: the job was cancelled at the printer\n");
    } else if (!o.jobCreated) {
        std::fprintf(stderr, "headalign: JOB_CREATE was not acknowledged\n");
    } else if (!o.printStarted) {
        std::fprintf(stderr, "headalign: PRINT_START was not acknowledged\n");
    } else if (!o.endAcknowledged) {
        std::fprintf(stderr, "headalign: the end of job was not acknowledged\n");
    }
}

int Cli_JobNumber(const std::string& kind, const std::string& text) {
    std::span<const JobName> names = kind == "pattern" ? std::span<const JobName>(PATTERN_NAMES)
                                                       : std::span<const JobName>(ADJUST_NAMES);
    for (const JobName& n : names)
        if (text == n.name) return n.number;
    char* end = nullptr;
    long v = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || v < 0 || v > 255) return -1;
    return static_cast<int>(v);
}

std::vector<std::string> Cli_JobNames(const std::string& kind) {
    std::span<const JobName> names = kind == "pattern" ? std::span<const JobName>(PATTERN_NAMES)
                                                       : std::span<const JobName>(ADJUST_NAMES);
    std::vector<std::string> out;
    for (const JobName& n : names) out.emplace_back(n.name);
    return out;
}

bool Cli_AttachPrinter(const CliOptions& options) {
    if (!options.logDir.empty()) LogDir_Set(options.logDir);
    // Readings and saves from here on go into this printer's history.
    History_UsePrinter(options.virtualPrinterDir);
    if (options.virtualPrinterDir.empty()) {
        if (options.fastClock) SimClock_Install();
        return true;
    }
    std::error_code ec;
    std::filesystem::create_directories(Path_FromUtf8(options.virtualPrinterDir), ec);
    std::string error;
    // The folder is its printer's lock: a command started while another program holds it waits
    // for it (on the real clock, before a simulated one takes over) rather than being turned
    // away at once.
    bool attached = VPrinter_Attach(options.virtualPrinterDir, &error);
    for (uint32_t start = Clock_Tick();
         !attached && error.rfind("virtual printer busy", 0) == 0 &&
         static_cast<uint32_t>(Clock_Tick() - start) < VPRINTER_FOLDER_WAIT_MS;) {
        Clock_Sleep(VPRINTER_FOLDER_POLL_MS);
        attached = VPrinter_Attach(options.virtualPrinterDir, &error);
    }
    if (options.fastClock) SimClock_Install();
    if (!attached) {
        // "virtual printer busy: ..." says it all; a state file names itself after the folder.
        if (error.rfind("virtual printer busy", 0) == 0)
            std::fprintf(stderr, "headalign: %s\n", error.c_str());
        else
            std::fprintf(stderr, "headalign: cannot use the virtual printer folder %s: %s\n",
                         options.virtualPrinterDir.c_str(), error.c_str());
        return false;
    }
    // The virtual printer and nothing else: a front end's shared area is never read or written.
    Record_UseOwnPrinter("virtual printer " + options.virtualPrinterDir);
    return true;
}

void Cli_DetachPrinter(const CliOptions& options) {
    if (!options.virtualPrinterDir.empty()) {
        Record_UseOwnPrinter("");
        VPrinter_Detach();
    }
    if (options.fastClock) Clock_Install(nullptr);
}

int Cli_RunJob(const std::string& kind, const std::vector<std::string>& args,
               const CliOptions& options) {
    for (const std::string& a : args)
        if (a.size() > 1 && a[0] == '-' && a[1] == '-') {
            std::fprintf(stderr, "headalign: %s: unknown option '%s' (see --help)\n", kind.c_str(),
                         a.c_str());
            return 2;
        }
    if (args.size() != 1) {
        std::fprintf(stderr, "headalign: %s takes one number or name (see --help)\n", kind.c_str());
        return 2;
    }
    int number = Cli_JobNumber(kind, args[0]);
    if (number < 0) {
        std::fprintf(stderr, "headalign: unknown %s '%s' (see --help)\n", kind.c_str(),
                     args[0].c_str());
        return 2;
    }
    CliJobScope jobScope;
    if (!Cli_AttachPrinter(options)) return 1;
    {
        JobProgress progress(options);
        if (kind == "pattern") {
            Job_RunPattern(static_cast<uint8_t>(number));
        } else {
            Job_RunAdjustment(static_cast<uint8_t>(number));
        }
        progress.finish(Job_Succeeded(Job_LastOutcome()));
    }
    const JobOutcome outcome = Job_LastOutcome();
    uint32_t jobNumber = options.virtualPrinterDir.empty() ? 0 : VPrinter_LastJobNumber();
    Cli_DetachPrinter(options);
    Cli_ReportLogProblem(options);
    // What the virtual printer could not store (its disk full, say) makes the job not done.
    std::vector<std::string> unstored;
    if (!options.virtualPrinterDir.empty()) unstored = VPrinter_StorageErrors();
    // The printer is told about the job either way (the trace names the unknown number); only a
    // job that sent swaths put anything on the paper.
    if (jobNumber && outcome.swaths > 0 && unstored.empty()) {
        // A build without PNG support records the job but draws no picture.
        std::string png = VPrinter_JobPath(jobNumber, ".png");
        std::error_code ec;
        if (std::filesystem::exists(Path_FromUtf8(png), ec))
            std::printf("\nprinted: %s\n", png.c_str());
    }
    const bool succeeded = Job_Succeeded(outcome) && unstored.empty();
    if (!Job_Succeeded(outcome)) Cli_ReportJobFailure(outcome);
    if (!unstored.empty()) std::fflush(stdout);
    for (const std::string& what : unstored)
        std::fprintf(stderr, "headalign: the virtual printer could not store the job: %s\n",
                     what.c_str());
    if (!Cli_JobDefined(kind, number)) {
        std::fflush(stdout);
        if (kind == "pattern")
            std::fprintf(stderr,
                         "\nheadalign: no such pattern %d (patterns are 1..14 and 16..19); nothing "
                         "was printed\n",
                         number);
        else
            std::fprintf(stderr,
                         "\nheadalign: no such pattern: adjustment %d is not one of 5..15; nothing "
                         "was printed\n",
                         number);
        return 1;
    }
    return succeeded ? 0 : 1;
}

bool Cli_JobDefined(const std::string& kind, int number) {
    if (number < 0 || number > 255) return false;
    if (kind == "pattern") return Pattern_IsDefined(static_cast<uint8_t>(number));
    for (const JobName& n : ADJUST_NAMES)
        if (n.number == number) return true;
    return false;
}

void Cli_ReportLogProblem(const CliOptions& options) {
    std::string problem = Log_OpenProblem();
    std::error_code ec;
    // The folder is never created; a folder named on the command line that is not there would
    // otherwise leave the operator looking for a trace that was never written.
    if (problem.empty() && !options.logDir.empty() &&
        !std::filesystem::is_directory(Path_FromUtf8(options.logDir), ec))
        problem = "no log files were written: the log folder " + options.logDir + " does not exist";
    if (problem.empty()) return;
    std::fflush(stdout);
    std::fprintf(stderr, "\nheadalign: %s\n", problem.c_str());
}
