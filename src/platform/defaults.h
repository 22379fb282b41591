// Platform defaults of the seams, filled by the back end that CMake picks for the target.
#pragma once
#include "platform/clock.h"
#include "platform/locale.h"
#include "platform/msgbox.h"
#include "platform/usb_driver.h"

const ClockBackend* Platform_DefaultClock();
const LocaleBackend* Platform_DefaultLocale();
const MsgBoxBackend* Platform_DefaultMsgBox();
const UsbDriverBackend* Platform_DefaultUsbDriver();
