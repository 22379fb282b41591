// SPDX-License-Identifier: Apache-2.0
// The command line's reference in one table: `headalign --help` prints it, and the manual page
// and the bash completion are generated from it at build time, so the three cannot disagree.
#pragma once
#include <cstdio>

enum class UsageKind {
    Command,        // a command or subcommand, e.g. "pattern N|NAME"
    CommandOption,  // an option of the command above, e.g. "[--apply] [--hd]"
    Option,         // an option of the program, e.g. "--log-dir DIR"
    ExitStatus,     // one exit status: term = the number
};

struct UsageRow {
    UsageKind kind;
    const char* term;      // the synopsis of the command or option
    int column;            // where --help starts the description
    const char* lines[4];  // the description as --help wraps it (nullptr ends it early)
    const char* manual;    // more for the manual page only (plain text), or nullptr; one
                           // that starts with '=' stands there instead of the help wording
};

const UsageRow* Usage_Rows(int* count);
const char* Usage_Synopsis();  // "headalign [options] <command> [arguments]"
const char* Usage_Summary();   // the sentence under the synopsis

// The whole --help text.
void Usage_PrintHelp(std::FILE* out);
// "headalign 1.72": the version the program and its package carry.
void Usage_PrintVersion(std::FILE* out);
