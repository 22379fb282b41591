// SPDX-License-Identifier: Apache-2.0
// Win32 log folder and log text: "C:/PrinterLog", lines written in code page 936.
#include <string>

#include "platform/defaults.h"
#include "platform/win32/win32_text.h"

namespace {
std::string winDefaultDir() { return "C:/PrinterLog"; }
std::string winFileText(const std::string& utf8) { return Win32_ToGbk(utf8); }
const LogDirBackend winLogDir{
    .defaultDir = winDefaultDir,
    .fileText = winFileText,
};
}  // namespace

const LogDirBackend* Platform_DefaultLogDir() { return &winLogDir; }
