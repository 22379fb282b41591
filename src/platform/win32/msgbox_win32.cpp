// Win32 message boxes without an owner. The texts go to the wide function: on a Chinese system
// that is what MessageBoxA shows for the GBK bytes, and on any other system the Chinese texts
// that stay Chinese (the negative-offset error, for one) still read as Chinese.
#include <windows.h>

#include <string>

#include "platform/defaults.h"
#include "platform/win32/win32_text.h"

namespace {
int winShow(const char* text, const char* caption, int buttons, int icon) {
    std::wstring t = Win32_ToWide(text ? text : "");
    std::wstring c = Win32_ToWide(caption ? caption : "");
    // The seam's button and icon values are the system's MB_ flags.
    int r = MessageBoxW(nullptr, t.c_str(), c.c_str(), static_cast<UINT>(buttons | icon));
    // 0 means the box could not be shown (no desktop): report the safe answer.
    return r == 0 ? MSGBOX_RESULT_CANCEL : r;
}
const MsgBoxBackend winBox{winShow};
}  // namespace

const MsgBoxBackend* Platform_DefaultMsgBox() { return &winBox; }
