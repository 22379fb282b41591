// headalign: the command line for technicians and scripts, and the entry of the console.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "cli/align_cmd.h"
#include "cli/cli.h"
#include "cli/params_cmd.h"

namespace {
const char* HELP =
    "Usage: headalign [options] <command> [arguments]\n"
    "\n"
    "Print-head alignment tool. Without a command the console opens (where available).\n"
    "\n"
    "Commands:\n"
    "  pattern N|NAME     print calibration pattern N (1..19); names: nozzle (19),\n"
    "                     line-check (3), vertical (16)\n"
    "  adjust TYPE|NAME   print an adjustment: 5..10 bidirectional (text-high, text-mid,\n"
    "                     text-low, image-high, image-low, photo), 11..15 feed step\n"
    "                     (pass4, pass6, pass8, pass3, pass2)\n"
    "\n"
    "Options:\n"
    "  --virtual-printer DIR  use the built-in virtual printer; its state, job records\n"
    "                         (jobs/NNNN.jsonl) and printed paper (jobs/NNNN.png) live in DIR\n"
    "  --log-dir DIR          folder of the trace files and the error log (never created)\n"
    "  --fast-clock           simulate waits instead of sleeping (virtual printer only)\n"
    "  --help                 this text\n"
    "\n"
    "Exit status: 0 when the job ran to its end with every command acknowledged, no error\n"
    "and no cancel; 1 otherwise (the reason on standard error); 2 for a usage error.\n";

bool takesValue(const char* option) {
    return std::strcmp(option, "--virtual-printer") == 0 || std::strcmp(option, "--log-dir") == 0;
}
}  // namespace

int main(int argc, char** argv) {
    CliOptions options;
    std::vector<std::string> words;
    for (int i = 1; i < argc; ++i) {
        const char* a = argv[i];
        if (std::strcmp(a, "--help") == 0 || std::strcmp(a, "-h") == 0) {
            std::fputs(HELP, stdout);
            std::fputs(CLI_PARAMS_HELP, stdout);
            std::fputs(CLI_ALIGN_HELP, stdout);
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
        } else if (words.empty() && a[0] == '-') {
            // Before the command only the options above; a command's own options follow it.
            std::fprintf(stderr, "headalign: unknown option '%s' (see --help)\n", a);
            return 2;
        } else {
            words.emplace_back(a);
        }
    }
    if (options.fastClock && options.virtualPrinterDir.empty()) {
        std::fputs("headalign: --fast-clock goes with --virtual-printer only (see --help)\n", stderr);
        return 2;
    }
    if (words.empty()) {
#ifdef HEADALIGN_HAVE_DESKTOP
        return Console_RunDesktop(options);
#else
        std::fputs(HELP, stdout);
        return 0;
#endif
    }
    const std::string command = words[0];
    std::vector<std::string> args(words.begin() + 1, words.end());
    if (command == "pattern" || command == "adjust") return Cli_RunJob(command, args, options);
    if (command == "params") return Cli_ParamsCommand(args, options);
    if (command == "config") return Cli_ConfigCommand(args, options);
    if (command == "align") return Cli_AlignCommand(args, options);
    std::fprintf(stderr, "headalign: unknown command '%s' (see --help)\n", command.c_str());
    return 2;
}
