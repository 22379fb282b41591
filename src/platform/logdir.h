// SPDX-License-Identifier: Apache-2.0
// Log-directory seam: where trace files and the error log live, and the bytes a log line is
// written as. Never created by the program.
#pragma once
#include <string>

struct LogDirBackend {
    // The platform's default folder ("C:/PrinterLog" on Windows,
    // $XDG_STATE_HOME/headalign/PrinterLog on POSIX). \threadsafe \nonblocking (reads the
    // environment at most) \errors none.
    std::string (*defaultDir)();
    // A line as it is written into the log files and to standard output: unchanged (UTF-8) on
    // POSIX, converted to code page 936 on Windows. \threadsafe \nonblocking \errors none (a
    // character the code page lacks is written as the system replaces it).
    std::string (*fileText)(const std::string& utf8);
};

// Installs a back end (nullptr restores the platform default). Before any log is opened.
void LogDir_Install(const LogDirBackend* backend);
const LogDirBackend* LogDir_Backend();

// The folder in use: an override if one was set, else the back end's default. Any thread.
std::string LogDir_Get();
// Front ends and tests point logging elsewhere; an empty path restores the default. Any thread.
void LogDir_Set(const std::string& path);
// The back end's default, without the override.
std::string LogDir_Default();
// The back end's text of a log line.
std::string LogDir_FileText(const std::string& utf8);

#if defined(__MINGW32__)
// The C99 formatting of mingw-w64 (__USE_MINGW_ANSI_STDIO), not the system's older printf.
#define HEADALIGN_PRINTF(a, b) __attribute__((format(gnu_printf, a, b)))
#elif defined(__GNUC__)
#define HEADALIGN_PRINTF(a, b) __attribute__((format(printf, a, b)))
#else
#define HEADALIGN_PRINTF(a, b)
#endif

// Trace lines of the platform back ends (a libusb failure, say). The diagnostics layer points
// them at the trace file when it opens one; until then they are dropped, as its own lines are.
// Any thread; the sink is called with the formatted line.
using TraceSink = void (*)(const char* line);
void Platform_InstallTraceSink(TraceSink sink);
void Platform_Trace(const char* fmt, ...) HEADALIGN_PRINTF(1, 2);
