// SPDX-License-Identifier: Apache-2.0
// The command line's reference: commands, options and exit statuses with the wording of --help.
// tools/make_docs.cpp turns the same rows into the manual page and the bash completion.
#include "cli/usage.h"

#include <algorithm>
#include <cstring>
#include <string>

#ifndef HEADALIGN_VERSION
#define HEADALIGN_VERSION "unknown"
#endif

namespace {
using K = UsageKind;

const UsageRow ROWS[] = {
    {K::Command,
     "pattern N|NAME",
     21,
     {"print calibration pattern N (1..19); names: nozzle (19),", "line-check (3), vertical (16)"},
     nullptr},
    {K::Command,
     "adjust TYPE|NAME",
     21,
     {"print an adjustment: 5..10 bidirectional (text-high, text-mid,",
      "text-low, image-high, image-low, photo), 11..15 feed step",
      "(pass4, pass6, pass8, pass3, pass2)"},
     nullptr},
    {K::Command,
     "params show [--json]",
     32,
     {"the parameter record as the console reads it at start",
      "(shared area first, else the printer), field by field"},
     "With --json the fields are printed as one JSON object."},
    {K::Command,
     "params set NAME=VALUE...",
     32,
     {"enter values as the dialog's entries and SAVE"},
     "NAME is a field of the parameter record (see PARAMETER FIELDS); the values are checked as "
     "the console checks its entries and nothing is saved when one is refused."},
    {K::Command,
     "params add NAME=AMOUNT...",
     32,
     {"(--hd: tick the second-pass box first; inkOrder takes",
      "eight ink names from left to right, K2,K1,...)"},
     "Adds each AMOUNT to the field's value as the console's amount entries do, and SAVEs; "
     "set and add both take --hd."},
    {K::Command, "params export FILE", 32, {"write the 60-byte record file"}, nullptr},
    {K::Command,
     "params import FILE [--yes]",
     32,
     {"check a 60-byte record file, list the fields it changes,",
      "ask (--yes: do not ask) and SAVE it"},
     "The file must be exactly 60 bytes holding a record the console's entries could make; the "
     "fields that will change are listed first. Without --yes the console's question before saving "
     "is answered no."},
    {K::Command,
     "config list",
     32,
     {"the parameter files of the Config folder"},
     "The Config folder is the folder Config below the current directory."},
    {K::Command, "config store", 32, {"store the printer's record as a new Config file"}, nullptr},
    {K::Command, "config load NAME", 32, {"load a Config file and SAVE it"}, nullptr},
    {K::Command,
     "align MODE --scan FILE",
     32,
     {"read a scan or photo (PNG, JPEG) of the bidirectional",
      "print of MODE (5..10 or text-high .. photo) and propose",
      "the amount for its \"加减:\" entry"},
     nullptr},
    {K::CommandOption,
     "[--apply] [--hd]",
     32,
     {"enter it and SAVE (--hd: the second-pass values); only a", "certain reading is entered"},
     nullptr},
    {K::CommandOption, "[--force]", 32, {"with --apply: enter an uncertain reading too"}, nullptr},
    {K::CommandOption,
     "[--marked OUT.png]",
     32,
     {"write the scan with the groups found marked"},
     nullptr},
    {K::Command,
     "align MODE --scanner [DEVICE]",
     32,
     {"", "scan the print instead of reading a file (300 dpi grey,",
      "the first scanner unless DEVICE is named); Ctrl-C cancels;",
      "the scan is kept in the log folder; takes the options above"},
     "The scan is kept as Scan_MMODE_DATE_TIME.png in the folder of the trace files, so the "
     "reading can be checked later; a second scan in the same second is kept beside it as "
     "..._2.png, never over it. Scanning needs SANE (Linux); the Windows build has no "
     "scanner support and reads files only."},
    {K::CommandOption,
     "[--scanner-option NAME=VALUE]",
     32,
     {"", "a SANE option of the scanner, as scanimage names it",
      "(mode=Color, resolution=600, ...)"},
     "Given as often as needed; applied after the 300 dpi grey defaults, so it may override them."},
    {K::Command,
     "align MODE --verify [--hd]",
     32,
     {"print the adjustment again; on the virtual printer read",
      "the printed paper and tell whether \"00\" lines up"},
     nullptr},
    {K::Command,
     "align STEP --measured MM",
     32,
     {"propose the \"设为:\" value of feed step STEP (11..15 or",
      "pass4, pass6, pass8, pass3, pass2) from the millimetres",
      "measured between the two crosses of its print"},
     "The feed-step print feeds one metre of paper between its crosses: they lie 1000.0 mm apart "
     "on a true printer. The value proposed is 10000 x MM / 1000.0, rounded, whatever the current "
     "value; MM outside 900..1100 is refused."},
    {K::CommandOption, "[--apply]", 32, {"enter it and SAVE"}, nullptr},
    {K::Command,
     "history",
     32,
     {"the printer's calibration history: readings, saves,",
      "verifications, and the modes that have drifted"},
     "Kept per printer in $XDG_DATA_HOME/headalign/history (~/.local/share/headalign/history; "
     "%LOCALAPPDATA%\\headalign\\history on Windows), at most 256 KiB each: older months are "
     "folded into monthly summaries. HEADALIGN_HISTORY_TIME (YYYY-MM-DD[THH:MM:SSZ]) stands in "
     "for the clock in its time stamps only."},
    {K::CommandOption, "[--mode M]", 32, {"only mode M (5..15 or its name)"}, nullptr},
    {K::CommandOption, "[--since DATE]", 32, {"only from DATE (YYYY-MM-DD, UTC)"}, nullptr},
    {K::CommandOption, "[--until DATE]", 32, {"only up to DATE (the whole day)"}, nullptr},
    {K::CommandOption, "[--json]", 32, {"one JSON object (entries, drifts) for scripts"}, nullptr},
    {K::CommandOption,
     "[--plot OUT.png]",
     32,
     {"draw saved values and readings over time (not on", "Windows)"},
     nullptr},
    {K::Command, "scanners", 32, {"the scanners found, one a line: DEVICE and its name"}, nullptr},

    {K::Command,
     "calibrate [--hd] [--apply]",
     32,
     {"print every bidirectional adjustment on one sheet, each with",
      "a mark naming its mode (--hd: the second-pass ones too); on",
      "the virtual printer read the sheet's picture as --scan does"},
     "Each print is named by its mark, never by its place, so a print cut off or smudged leaves "
     "the others as they are. Prints of another sheet are reported and never entered; marks "
     "that contradict each other enter nothing."},
    {K::Command,
     "calibrate --scan FILE",
     32,
     {"read a scan or photo of the whole sheet: per print its mode,",
      "pass, reading, certainty and the amount to enter, and why", "any print was not read"},
     nullptr},
    {K::CommandOption,
     "[--apply]",
     32,
     {"enter every certain reading (both passes) and SAVE once"},
     "Every certain reading and every feed step measured go into one record, saved in one "
     "transaction; a correction that would take a value past 0 .. 255 is refused by name (the "
     "printer has no room that way) and the others are saved. The exit status is 0 only when "
     "every print was entered."},
    {K::CommandOption,
     "[--marked OUT.png]",
     32,
     {"write the picture with the marks and groups found marked"},
     nullptr},
    {K::CommandOption,
     "[--measured STEP=MM]...",
     32,
     {"the feed steps from the distances measured on the prints of",
      "calibrate --feed, proposed and saved with the sheet's values"},
     nullptr},
    {K::Command,
     "calibrate --scanner [DEVICE]",
     32,
     {"", "scan the whole sheet instead of reading a file (300 dpi",
      "grey, the device's whole area); kept in the log folder as",
      "Scan_Sheet_DATE_TIME.png; takes the options of --scan"},
     nullptr},
    {K::CommandOption,
     "[--scanner-option NAME=VALUE]",
     32,
     {"", "a SANE option of the scanner (as for align)"},
     nullptr},
    {K::Command,
     "calibrate --feed",
     32,
     {"print the five feed-step prints (pass4 .. pass2) one after", "another"},
     nullptr},
    {K::Command,
     "calibrate --verify [--hd]",
     32,
     {"print the sheet again; on the virtual printer read it and",
      "exit 1 unless every mode lines up at \"00\" or half a group", "from it"},
     nullptr},
    {K::CommandOption,
     "[--scan FILE | --scanner [DEVICE]]",
     32,
     {"", "read the scan of the printed verification sheet instead"},
     nullptr},

    {K::Option,
     "--virtual-printer DIR",
     25,
     {"use the built-in virtual printer; its state, job records",
      "(jobs/NNNN.jsonl) and printed paper (jobs/NNNN.png) live in DIR"},
     "DIR is created when it does not exist."},
    {K::Option,
     "--log-dir DIR",
     25,
     {"folder of the trace files and the error log (never created)"},
     nullptr},
    {K::Option,
     "--trace",
     25,
     {"trace lines on standard output during a job on a terminal",
      "too (instead of progress only)"},
     "When standard output is not a terminal the trace lines are written there anyway, as they "
     "always were; on a terminal a job shows one progress line on standard error instead."},
    {K::Option,
     "--fast-clock",
     25,
     {"simulate waits instead of sleeping (virtual printer only)"},
     nullptr},
    {K::Option, "--version", 25, {"the program's version"}, "= Prints the version and exits."},
    {K::Option,
     "--help",
     25,
     {"this text"},
     "= Prints the commands, options and exit statuses and exits; -h does the same."},

    {K::ExitStatus,
     "0",
     0,
     {"when the job ran to its end with every command acknowledged, no error and no cancel"},
     nullptr},
    {K::ExitStatus, "1", 0, {"otherwise (the reason on standard error)"}, nullptr},
    {K::ExitStatus, "2", 0, {"for a usage error"}, nullptr},
};

// Words of a paragraph filled to this width, as the exit-status paragraph always was.
constexpr size_t HELP_WIDTH = 86;

void printRow(std::FILE* out, const UsageRow& r) {
    std::string line(r.kind == K::CommandOption ? 8 : 2, ' ');
    line += r.term;
    for (const char* text : r.lines) {
        if (!text) break;
        line.resize(std::max<size_t>(line.size() + 1, static_cast<size_t>(r.column)), ' ');
        line += text;
        // A term too long for its column stands alone, its description on the lines below.
        while (!line.empty() && line.back() == ' ') line.pop_back();
        std::fprintf(out, "%s\n", line.c_str());
        line.clear();
    }
}

void printFilled(std::FILE* out, const std::string& text) {
    std::string line, word;
    auto flushWord = [&] {
        if (word.empty()) return;
        if (!line.empty() && line.size() + 1 + word.size() > HELP_WIDTH) {
            std::fprintf(out, "%s\n", line.c_str());
            line.clear();
        }
        line += (line.empty() ? "" : " ") + word;
        word.clear();
    };
    for (char c : text) {
        if (c == ' ')
            flushWord();
        else
            word += c;
    }
    flushWord();
    if (!line.empty()) std::fprintf(out, "%s\n", line.c_str());
}
}  // namespace

const UsageRow* Usage_Rows(int* count) {
    *count = static_cast<int>(sizeof ROWS / sizeof ROWS[0]);
    return ROWS;
}

const char* Usage_Synopsis() { return "headalign [options] <command> [arguments]"; }

const char* Usage_Summary() {
    return "Print-head alignment tool. Without a command the console opens (where available).";
}

void Usage_PrintHelp(std::FILE* out) {
    std::fprintf(out, "Usage: %s\n\n%s\n\nCommands:\n", Usage_Synopsis(), Usage_Summary());
    for (const UsageRow& r : ROWS)
        if (r.kind == K::Command || r.kind == K::CommandOption) printRow(out, r);
    std::fputs("\nOptions:\n", out);
    for (const UsageRow& r : ROWS)
        if (r.kind == K::Option) printRow(out, r);
    std::string exits = "Exit status:";
    const char* separator = " ";
    for (const UsageRow& r : ROWS) {
        if (r.kind != K::ExitStatus) continue;
        exits += separator + std::string(r.term) + " " + r.lines[0];
        separator = "; ";
    }
    std::fputs("\n", out);
    printFilled(out, exits + ".");
}

void Usage_PrintVersion(std::FILE* out) { std::fprintf(out, "headalign %s\n", HEADALIGN_VERSION); }
