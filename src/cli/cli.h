// SPDX-License-Identifier: Apache-2.0
// The command line: options shared by every subcommand and the subcommand entries.
#pragma once
#include <string>
#include <vector>

struct JobOutcome;

struct CliOptions {
    std::string virtualPrinterDir;  // empty = the real printer through the platform's USB back end
    std::string logDir;             // empty = the platform's log folder
    bool fastClock = false;         // simulated waits (only sensible with the virtual printer)
    bool trace = false;  // trace lines on a terminal too (else a job there shows its progress)
};

// Attaches the printer chosen by the options (virtual printer, clock). False with a message
// on standard error when the virtual printer's folder cannot be used.
bool Cli_AttachPrinter(const CliOptions& options);
void Cli_DetachPrinter(const CliOptions& options);

// `pattern N|NAME` and `adjust TYPE|NAME`. Returns the process exit status.
int Cli_RunJob(const std::string& kind, const std::vector<std::string>& args,
               const CliOptions& options);
// Number of a pattern or adjustment given as a number or a name; -1 when unknown.
int Cli_JobNumber(const std::string& kind, const std::string& text);
// The names `pattern` or `adjust` takes, in the order --help lists them.
std::vector<std::string> Cli_JobNames(const std::string& kind);
// Whether `number` is a pattern ("pattern") or adjustment type ("adjust") that prints anything.
bool Cli_JobDefined(const std::string& kind, int number);
// After a job: tells on standard error when the log files were left off for it (a path that
// cannot be opened as it is, or a --log-dir folder that is not there), since the job itself
// runs on without them.
void Cli_ReportLogProblem(const CliOptions& options);
// The cause of a job that did not run to its end, on standard error.
void Cli_ReportJobFailure(const JobOutcome& outcome);

// The desktop console, where the program is built with it (HEADALIGN_HAVE_DESKTOP): what
// `headalign` without a command opens. Returns the process exit status.
int Console_RunDesktop(const CliOptions& options);
