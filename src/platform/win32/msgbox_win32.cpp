// SPDX-License-Identifier: Apache-2.0
// Win32 message boxes. The console shows MessageBoxW boxes without an owner: the texts go to
// the wide function, so on a Chinese system they read as MessageBoxA shows the GBK bytes, and
// on any other the texts that stay Chinese (the negative-offset error, for one) still read as
// Chinese. The command line's default writes the box to standard error in code page 936 and
// answers with the default button, so a script never blocks on a box.
#include <windows.h>

#include <cstdio>
#include <string>

#include "platform/defaults.h"
#include "platform/win32/win32_dialog.h"
#include "platform/win32/win32_text.h"

namespace {
int windowShow(const char* text, const char* caption, int buttons, int icon) {
    std::wstring t = Win32_ToWide(text ? text : "");
    std::wstring c = Win32_ToWide(caption ? caption : "");
    // The seam's button and icon values are the system's MB_ flags.
    int r = MessageBoxW(nullptr, t.c_str(), c.c_str(), static_cast<UINT>(buttons | icon));
    // 0 means the box could not be shown (no desktop): report the safe answer.
    return r == 0 ? MSGBOX_RESULT_CANCEL : r;
}

int stderrShow(const char* text, const char* caption, int buttons, int) {
    std::fprintf(stderr, "[%s] %s\n", Win32_ToGbk(caption ? caption : "").c_str(),
                 Win32_ToGbk(text ? text : "").c_str());
    return buttons == MSGBOX_YESNO || buttons == MSGBOX_YESNOCANCEL ? MSGBOX_RESULT_YES
                                                                    : MSGBOX_RESULT_OK;
}

const MsgBoxBackend windowBox{
    .show = windowShow,
};
const MsgBoxBackend stderrBox{
    .show = stderrShow,
};
}  // namespace

const MsgBoxBackend* Win32MsgBox_Backend() { return &windowBox; }
const MsgBoxBackend* Platform_DefaultMsgBox() { return &stderrBox; }
