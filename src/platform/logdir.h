// Log-directory seam: where trace files and the error log live. Never created by the program.
#pragma once
#include <string>

// The folder in use: an override if one was set, else the platform default
// ("C:/PrinterLog" on Windows, $XDG_STATE_HOME/headalign/PrinterLog on POSIX).
std::string LogDir_Get();
// Front ends and tests point logging elsewhere; an empty path restores the default.
void LogDir_Set(const std::string& path);
// The platform default, without the override.
std::string LogDir_Default();

// A line as it is written into the log files and to standard output: unchanged (UTF-8) on
// POSIX, converted to code page 936 on Windows.
std::string LogDir_FileText(const std::string& utf8);
// Windows only (no effect on POSIX): false keeps log lines in UTF-8, so that tests of the
// platform-neutral logic compare the same texts on every platform. On by default.
void LogDir_SetCodePageText(bool on);
