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
