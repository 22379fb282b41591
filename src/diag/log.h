// SPDX-License-Identifier: Apache-2.0
// Trace files and the error log: one trace file per job, one error log for all jobs and runs.
#pragma once
#include <atomic>
#include <cstdint>
#include <string>

#include "platform/logdir.h"
#include "platform/owned_state.h"

// What the log keeps per program run (the log files themselves are the process's).
struct LogRunState {
    // Whether this run has written the "* New Job" banner to the error log.
    std::atomic<uint8_t> bannerWritten{0};
    // Whether trace lines are copied to standard output (the program's way from the start; a
    // command line showing a job's progress on a terminal turns it off).
    std::atomic<bool> stdoutCopy{true};
};

// Longest formatted line kept; longer lines are cut, never overflowed.
constexpr int LOG_LINE_MAX = 510;

// Start of a job (dialog thread): creates the trace file named from the local time, empty,
// and makes sure the error log can be appended to. Silent when the folder is missing.
void Log_Open();
// End of a job: from now on trace lines reach standard output only; error lines are dropped.
void Log_Close();
// One trace line: appended (with a line feed) to the trace file while it is open, and written
// unchanged to standard output unless Log_SetStdoutCopy turned that off. Any thread.
void Log_Trace(const char* fmt, ...) HEADALIGN_PRINTF(1, 2);
// Whether Log_Trace copies its lines to standard output (on at the start of every run; the
// trace file gets them either way). Any thread.
void Log_SetStdoutCopy(bool on);
// One error line: appended to the error log while it is open, preceded once per run by the
// "* New Job" banner. Any thread.
void Log_Error(const char* fmt, ...) HEADALIGN_PRINTF(1, 2);

// Why the last Log_Open left the log files off when their folder is there but a path cannot be
// opened as it is (too long for the platform); empty otherwise. Front ends show it.
std::string Log_OpenProblem();
