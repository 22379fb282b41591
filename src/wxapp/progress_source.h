// SPDX-License-Identifier: Apache-2.0
// What the desktop console's progress window shows of the job running: the swath being sent,
// and Cancel, which asks the job to stop.
#pragma once
#include "platform/wx/wx_ui.h"

// The source to give WxUi_SetProgressSource (static; lives as long as the program).
const WxProgressSource* Desktop_ProgressSource();
