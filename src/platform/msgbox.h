// SPDX-License-Identifier: Apache-2.0
// Message-box seam: modal boxes shown to the operator on the calling thread.
#pragma once

enum MsgBoxButtons { MSGBOX_OK = 0, MSGBOX_OKCANCEL = 1, MSGBOX_YESNO = 4, MSGBOX_YESNOCANCEL = 3 };
enum MsgBoxIcon {
    MSGBOX_ICON_NONE = 0,
    MSGBOX_ICON_ERROR = 0x10,
    MSGBOX_ICON_QUESTION = 0x20,
    MSGBOX_ICON_WARNING = 0x30,
    MSGBOX_ICON_INFORMATION = 0x40
};
enum MsgBoxResult {
    MSGBOX_RESULT_OK = 1,
    MSGBOX_RESULT_CANCEL = 2,
    MSGBOX_RESULT_YES = 6,
    MSGBOX_RESULT_NO = 7
};

struct MsgBoxBackend {
    // Shows text with caption and returns the MsgBoxResult of the button pressed.
    // \context dialog, job, transmit (whichever thread reports) \blocks until the operator
    // answers (the standard-error default: not at all, it answers OK or Yes) \errors none: a box
    // that cannot be shown answers Cancel.
    int (*show)(const char* text, const char* caption, int buttons, int icon);
};

void MsgBox_Install(const MsgBoxBackend* backend);  // nullptr restores the default (stderr)
int MsgBox_Show(const char* text, const char* caption, int buttons, int icon);
