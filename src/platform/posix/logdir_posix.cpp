// POSIX log folder: $XDG_STATE_HOME/headalign/PrinterLog, else ~/.local/state/headalign/PrinterLog.
#include <cstdlib>
#include <string>

#include "platform/logdir.h"

std::string LogDir_Default() {
    const char* state = std::getenv("XDG_STATE_HOME");
    if (state && *state) return std::string(state) + "/headalign/PrinterLog";
    const char* home = std::getenv("HOME");
    return std::string(home && *home ? home : ".") + "/.local/state/headalign/PrinterLog";
}

std::string LogDir_FileText(const std::string& utf8) { return utf8; }
void LogDir_SetCodePageText(bool) {}
