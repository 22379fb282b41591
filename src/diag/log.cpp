// SPDX-License-Identifier: Apache-2.0
// Trace files and the error log, written by open-append-close per line.
#include "diag/log.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <mutex>

#include "platform/clock.h"
#include "platform/files.h"
#include "platform/logdir.h"
#include "platform/paths.h"

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

// Creates (mode "wb") or opens for appending (mode "ab") one log file; false when the path
// cannot be opened as it is, with the reason noted for the front end.
bool touch(const std::string& path, const char* mode) {
    FileResult checked = File_CheckPath(path);
    if (!checked.ok()) {
        if (openProblem.empty()) openProblem = "log files are off for this job: " + checked.message;
        return false;
    }
    FILE* f = Path_OpenFile(path, mode);
    if (f) std::fclose(f);
    return f != nullptr;
}

// Text-mode semantics of the operator's platform on every platform: LF is stored as CR LF.
bool appendText(const std::string& path, const char* utf8) {
    FILE* f = Path_OpenFile(path, "ab");
    if (!f) return false;
    std::string text = LogDir_FileText(utf8);  // the platform's code page for log files
    for (const char* p = text.c_str(); *p; ++p) {
        if (*p == '\n') std::fputc('\r', f);
        std::fputc(*p, f);
    }
    return std::fclose(f) == 0;
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
    traceOpen = touch(tracePath, "wb") ? 1 : 0;
    errorOpen = touch(errorPath, "ab") ? 1 : 0;
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
