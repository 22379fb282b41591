// The native console dialog: the dialog seam over a dialog created from the resource script.
#pragma once
#include "platform/dialog.h"

// Dialog back end over CreateDialogParamA and the message loop; texts cross in code page 936.
// Dialog thread only.
const DialogBackend* Win32Dialog_Backend();
