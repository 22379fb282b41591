// SPDX-License-Identifier: Apache-2.0
// Trace files and the error log, written by open-append-close per line through the files
// module (regular files only, never through a link, never waiting on a pipe).
#include "diag/log.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <mutex>

#include "platform/clock.h"
#include "platform/files.h"
#include "platform/logdir.h"

namespace {
constexpr size_t LINE_BUFFER = LOG_LINE_MAX + 2;

std::atomic<uint8_t> traceOpen{0};
std::atomic<uint8_t> errorOpen{0};
// Both threads log; the lock keeps one line's append (and its console copy) in one piece.
std::mutex appendMutex;
// Kept at full length: a path cut to a fixed buffer names another file, which the job's trace
// would then empty and fill.
std::string tracePath;
std::string errorPath;
std::string openProblem;
// The last trace name asked for and the number it was given: jobs in the same minute start
// after that number, not at the name itself again, so a long run within a minute stays linear.
std::string lastBase;
int lastChoice = 0;

// The open's failure, noted for the front end. A missing folder is not one: the folder is
// never created, and without it no log file is written.
void noteProblem(const FileResult& result, const char* which) {
    if (result.ok() || result.status == FILE_MISSING) return;
    if (!openProblem.empty()) openProblem += "; ";
    openProblem += std::string(which) + result.message;
}

// Creates the job's trace file new, never over an earlier one: a file of the same name (a job
// started in the same minute, or anything planted there) keeps its name and content, and this
// job's trace takes the next free numbered name. false when none could be created.
bool createTrace(std::string* path) {
    FileResult checked = File_CheckPath(*path);
    if (!checked.ok()) {
        if (openProblem.empty()) openProblem = "log files are off for this job: " + checked.message;
        return false;
    }
    int first = *path == lastBase ? lastChoice + 1 : 1;
    std::string created;
    int chosen = 0;
    FileResult made = File_CreateUnique(*path, nullptr, 0, &created, &chosen, first);
    noteProblem(made, "no trace file for this job: ");
    if (!made.ok()) return false;
    lastBase = *path;
    lastChoice = chosen;
    *path = created;
    return true;
}

// Opens the error log for appending, creating it when missing; a pipe, device, folder or link
// in its place is refused without waiting.
bool openErrorLog(const std::string& path) {
    FileResult checked = File_CheckPath(path);
    if (!checked.ok()) {
        if (openProblem.empty()) openProblem = "log files are off for this job: " + checked.message;
        return false;
    }
    FileResult opened = File_Append(path, nullptr, 0);
    noteProblem(opened, "no error log for this job: ");
    return opened.ok();
}

// Text-mode semantics of the operator's platform on every platform: LF is stored as CR LF.
bool appendText(const std::string& path, const char* utf8) {
    std::string text = LogDir_FileText(utf8);  // the platform's code page for log files
    std::string bytes;
    bytes.reserve(text.size() + 8);
    for (char c : text) {
        if (c == '\n') bytes += '\r';
        bytes += c;
    }
    return File_Append(path, reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()).ok();
}

void formatLine(char* line, const char* fmt, va_list ap) {
    int n = std::vsnprintf(line, LOG_LINE_MAX + 1, fmt, ap);
    if (n < 0) line[0] = '\0';
}
}  // namespace

void Log_Open() {
    // The back ends' lines go where this layer's go.
    Platform_InstallTraceSink([](const char* line) { Log_Trace("%s", line); });
    LocalTime t = Clock_LocalTime();
    std::string dir = LogDir_Get();
    char name[64];
    std::snprintf(name, sizeof name, "/Y%d%02d%02d_%02d%02d.txt", t.year, t.month, t.day, t.hour,
                  t.minute);
    std::lock_guard<std::mutex> lock(appendMutex);
    openProblem.clear();
    tracePath = dir + name;
    errorPath = dir + "/err.txt";
    traceOpen = createTrace(&tracePath) ? 1 : 0;
    errorOpen = openErrorLog(errorPath) ? 1 : 0;
}

void Log_Close() {
    traceOpen = 0;
    errorOpen = 0;
}

void Log_Trace(const char* fmt, ...) {
    char line[LINE_BUFFER];
    va_list ap;
    va_start(ap, fmt);
    formatLine(line, fmt, ap);
    va_end(ap);
    std::lock_guard<std::mutex> lock(appendMutex);
    if (traceOpen) {
        std::string withFeed = std::string(line) + "\n";
        appendText(tracePath, withFeed.c_str());
    }
    // A line from a transmit thread that outlived its session keeps the program's default.
    const LogRunState* run = OwnedState<LogRunState>::find();
    if (run && !run->stdoutCopy) return;
    std::fputs(LogDir_FileText(line).c_str(), stdout);
    std::fflush(stdout);
}

void Log_SetStdoutCopy(bool on) {
    if (LogRunState* run = OwnedState<LogRunState>::find()) run->stdoutCopy = on;
}

void Log_Error(const char* fmt, ...) {
    char line[LINE_BUFFER];
    va_list ap;
    va_start(ap, fmt);
    formatLine(line, fmt, ap);
    va_end(ap);
    std::lock_guard<std::mutex> lock(appendMutex);
    if (!errorOpen) return;
    std::string text;
    // The banner belongs to the run: a line logged after the program's session ended (by a
    // transmit thread left behind) gets none.
    LogRunState* run = OwnedState<LogRunState>::find();
    if (run && !run->bannerWritten) {
        run->bannerWritten = 1;
        LocalTime t = Clock_LocalTime();
        char banner[64];
        std::snprintf(banner, sizeof banner, "* New Job: %d%02d%02d_%02d%02d\r\n", t.year, t.month,
                      t.day, t.hour, t.minute);
        text = banner;
    }
    text += std::string(line) + "\n";
    appendText(errorPath, text.c_str());
}

std::string Log_TracePath() {
    std::lock_guard<std::mutex> lock(appendMutex);
    return tracePath;
}
std::string Log_ErrorPath() {
    std::lock_guard<std::mutex> lock(appendMutex);
    return errorPath;
}
std::string Log_OpenProblem() {
    std::lock_guard<std::mutex> lock(appendMutex);
    return openProblem;
}
bool Log_IsTraceOpen() { return traceOpen != 0; }
bool Log_IsErrorOpen() { return errorOpen != 0; }
