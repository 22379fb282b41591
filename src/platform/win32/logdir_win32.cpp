// Win32 log folder and log text: "C:/PrinterLog", lines written in code page 936.
#include <atomic>
#include <string>

#include "platform/logdir.h"
#include "platform/win32/win32_text.h"

namespace {
std::atomic<bool> codePageText{true};
}

std::string LogDir_Default() { return "C:/PrinterLog"; }

std::string LogDir_FileText(const std::string& utf8) {
    return codePageText.load() ? Win32_ToGbk(utf8) : utf8;
}
void LogDir_SetCodePageText(bool on) { codePageText.store(on); }
