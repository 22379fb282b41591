// SPDX-License-Identifier: Apache-2.0
// POSIX log folder: $XDG_STATE_HOME/headalign/PrinterLog, else ~/.local/state/headalign/PrinterLog.
#include <cstdlib>
#include <string>

#include "platform/defaults.h"

namespace {
std::string posixDefaultDir() {
    const char* state = std::getenv("XDG_STATE_HOME");
    if (state && *state) return std::string(state) + "/headalign/PrinterLog";
    const char* home = std::getenv("HOME");
    return std::string(home && *home ? home : ".") + "/.local/state/headalign/PrinterLog";
}
std::string utf8Text(const std::string& utf8) { return utf8; }
const LogDirBackend posixLogDir{
    .defaultDir = posixDefaultDir,
    .fileText = utf8Text,
};
}  // namespace

const LogDirBackend* Platform_DefaultLogDir() { return &posixLogDir; }
