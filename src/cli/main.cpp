// SPDX-License-Identifier: Apache-2.0
// headalign: the command line for technicians and scripts, and the entry of the console.
#include <cstdio>
#include <cstring>
#include <exception>
#include <string>
#include <vector>

#include "app/session.h"
#include "cli/align_cmd.h"
#include "cli/calibrate_cmd.h"
#include "cli/cli.h"
#include "cli/history_cmd.h"
#include "cli/params_cmd.h"
#include "cli/scan_cmd.h"
#include "cli/usage.h"
#include "platform/interrupt.h"
#include "platform/paths.h"

namespace {
bool takesValue(const char* option) {
    return std::strcmp(option, "--virtual-printer") == 0 || std::strcmp(option, "--log-dir") == 0;
}

int run(int argc, char** argv) {
    CliOptions options;
    std::vector<std::string> words;
    for (int i = 1; i < argc; ++i) {
        const char* a = argv[i];
        if (std::strcmp(a, "--help") == 0 || std::strcmp(a, "-h") == 0) {
            Usage_PrintHelp(stdout);
            return 0;
        }
        if (std::strcmp(a, "--version") == 0) {
            Usage_PrintVersion(stdout);
            return 0;
        }
        if (takesValue(a)) {
            // An empty folder (an unset shell variable) would silently mean the default: the
            // real printer or the platform's log folder.
            if (i + 1 >= argc || argv[i + 1][0] == '\0') {
                std::fprintf(stderr, "headalign: %s needs a folder%s (see --help)\n", a,
                             i + 1 >= argc ? "" : ", not an empty word");
                return 2;
            }
            (std::strcmp(a, "--virtual-printer") == 0 ? options.virtualPrinterDir
                                                      : options.logDir) = argv[++i];
        } else if (std::strcmp(a, "--fast-clock") == 0) {
            options.fastClock = true;
        } else if (std::strcmp(a, "--trace") == 0 && words.empty()) {
            options.trace = true;
        } else if (words.empty() && a[0] == '-') {
            // Before the command only the options above; a command's own options follow it.
            std::fprintf(stderr, "headalign: unknown option '%s' (see --help)\n", a);
            return 2;
        } else {
            words.emplace_back(a);
        }
    }
    if (options.fastClock && options.virtualPrinterDir.empty()) {
        std::fputs("headalign: --fast-clock goes with --virtual-printer only (see --help)\n",
                   stderr);
        return 2;
    }
    if (words.empty()) {
#ifdef HEADALIGN_HAVE_DESKTOP
        return Console_RunDesktop(options);
#else
        Usage_PrintHelp(stdout);
        return 0;
#endif
    }
    const std::string command = words[0];
    std::vector<std::string> args(words.begin() + 1, words.end());
    if (command == "pattern" || command == "adjust") return Cli_RunJob(command, args, options);
    if (command == "params") return Cli_ParamsCommand(args, options);
    if (command == "config") return Cli_ConfigCommand(args, options);
    if (command == "align") return Cli_AlignCommand(args, options);
    if (command == "calibrate") return Cli_CalibrateCommand(args, options);
    if (command == "history") return Cli_HistoryCommand(args, options);
    if (command == "scanners") return Cli_ScannersCommand(args, options);
    std::fprintf(stderr, "headalign: unknown command '%s' (see --help)\n", command.c_str());
    return 2;
}

}  // namespace

// Every failure ends with a message and status 1, never with a signal: whatever escaped the
// commands (it should be nothing) is reported here.
int main(int argc, char** argv) {
    // The one session of this run: every module's state, for the desktop console too.
    Session session;
    Interrupt_Watch(Cli_OnInterrupt, Cli_JobInHand);
    try {
        // Paths on the command line as UTF-8, whatever the system's code page.
        std::vector<std::string> args = Path_Arguments(argc, argv);
        std::vector<char*> words;
        for (std::string& a : args) words.push_back(a.data());
        words.push_back(nullptr);
        return run(static_cast<int>(args.size()), words.data());
    } catch (const std::exception& e) {
        std::fprintf(stderr, "headalign: stopped: %s\n", e.what());
    } catch (...) {
        std::fprintf(stderr, "headalign: stopped by an unexpected error\n");
    }
    return 1;
}
