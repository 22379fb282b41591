// SPDX-License-Identifier: Apache-2.0
// The native console: the dialog seam over the dialog from the resource script, and its boxes.
#pragma once
#include "platform/dialog.h"
#include "platform/msgbox.h"

// Dialog back end over CreateDialogParamW (the GBK resource script compiles to Unicode) and
// the message loop; texts cross as UTF-16. Dialog thread only.
const DialogBackend* Win32Dialog_Backend();

// The console's message boxes (MessageBoxW without an owner), for any thread. The platform
// default, used by the command line, writes boxes to standard error instead.
const MsgBoxBackend* Win32MsgBox_Backend();
