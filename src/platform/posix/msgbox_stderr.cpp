// SPDX-License-Identifier: Apache-2.0
// Default message box for programs without a window: the text goes to standard error and the
// box is answered with its default button, so a command line never blocks on an invisible box.
#include <cstdio>

#include "platform/defaults.h"

namespace {
int stderrShow(const char* text, const char* caption, int buttons, int) {
    std::fprintf(stderr, "[%s] %s\n", caption ? caption : "", text ? text : "");
    return buttons == MSGBOX_YESNO || buttons == MSGBOX_YESNOCANCEL ? MSGBOX_RESULT_YES
                                                                    : MSGBOX_RESULT_OK;
}
const MsgBoxBackend stderrBox{
    .show = stderrShow,
};
}  // namespace

const MsgBoxBackend* Platform_DefaultMsgBox() { return &stderrBox; }
