// SPDX-License-Identifier: Apache-2.0
// Platform defaults of the seams, filled by the back end that CMake picks for the target.
#pragma once
#include "platform/clock.h"
#include "platform/locale.h"
#include "platform/logdir.h"
#include "platform/msgbox.h"
#include "platform/thread.h"
#include "platform/usb_driver.h"

const ClockBackend* Platform_DefaultClock();
const LocaleBackend* Platform_DefaultLocale();
const MsgBoxBackend* Platform_DefaultMsgBox();
const LogDirBackend* Platform_DefaultLogDir();
const ThreadBackend* Platform_DefaultThread();
const UsbDriverBackend* Platform_DefaultUsbDriver();
