// SPDX-License-Identifier: Apache-2.0
// The command line: options shared by every subcommand and the subcommand entries.
#pragma once
#include <atomic>
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

// Held by a command that prints, from attaching the printer to detaching it: an interrupt in
// that time ends the job through its PC-cancel path and lets the command finish the job's
// records before the program ends (see Cli_OnInterrupt). Main thread.
class CliJobScope {
  public:
    CliJobScope();
    ~CliJobScope();
    CliJobScope(const CliJobScope&) = delete;
    CliJobScope& operator=(const CliJobScope&) = delete;
};
// The command line's answer to the operator's interrupt (Ctrl-C, SIGTERM, the console closed):
// during a scan the scan is cancelled and true is returned;
// during a job the job is cancelled as from the console's Cancel and true is returned; while a
// job's records are still being finished true as well; otherwise false (the program ends at
// once, as it always has). Called on the interrupt's own thread; does not block.
bool Cli_OnInterrupt();
// The cancel flag of a scan now running on the main thread, which Cli_OnInterrupt raises
// (Ctrl-C then cancels the scan, and the command ends saying so); nullptr when the scan ends.
// \threadsafe
void Cli_SetScanCancel(std::atomic<bool>* flag);
// A job or its records are in hand (what a closing console waits for). Any thread.
bool Cli_JobInHand();

// The desktop console, where the program is built with it (HEADALIGN_HAVE_DESKTOP): what
// `headalign` without a command opens. Returns the process exit status.
int Console_RunDesktop(const CliOptions& options);
