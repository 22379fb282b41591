// Win32 message boxes: MessageBoxA without an owner, texts in code page 936.
#include <windows.h>

#include <string>

#include "platform/defaults.h"
#include "platform/win32/win32_text.h"

namespace {
int winShow(const char* text, const char* caption, int buttons, int icon) {
    std::string t = Win32_ToGbk(text ? text : "");
    std::string c = Win32_ToGbk(caption ? caption : "");
    // The seam's button and icon values are the system's MB_ flags.
    int r = MessageBoxA(nullptr, t.c_str(), c.c_str(), static_cast<UINT>(buttons | icon));
    // 0 means the box could not be shown (no desktop): report the safe answer.
    return r == 0 ? MSGBOX_RESULT_CANCEL : r;
}
const MsgBoxBackend winBox{winShow};
}  // namespace

const MsgBoxBackend* Platform_DefaultMsgBox() { return &winBox; }
