// SPDX-License-Identifier: Apache-2.0
// Win32 log folder and log text: "C:/PrinterLog", lines written in code page 936.
#include <atomic>
#include <string>

#include "platform/defaults.h"
#include "platform/win32/win32_text.h"

namespace {
std::atomic<bool> codePageText{true};

std::string winDefaultDir() { return "C:/PrinterLog"; }
std::string winFileText(const std::string& utf8) {
    return codePageText.load() ? Win32_ToGbk(utf8) : utf8;
}
const LogDirBackend winLogDir{
    .defaultDir = winDefaultDir,
    .fileText = winFileText,
};
}  // namespace

const LogDirBackend* Platform_DefaultLogDir() { return &winLogDir; }
void LogDir_SetCodePageText(bool on) { codePageText.store(on); }
