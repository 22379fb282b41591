// SPDX-License-Identifier: Apache-2.0
// Default USB driver until a real back end is installed: no devices present.
#include "platform/defaults.h"

namespace {
bool noneBegin() { return true; }
int nonePath(uint32_t, char*, size_t) { return 0; }
void noneEnd() {}
UsbHandle noneOpen(const char*) { return USB_INVALID_HANDLE; }
void noneClose(UsbHandle) {}
bool noneIoctl(UsbHandle, uint32_t, const void*, uint32_t, void*, uint32_t, uint32_t*) {
    return false;
}
bool noneSerial(const char*, char*, size_t) { return false; }
uint32_t noneLastError() { return 2; }  // file not found, as the system reports a missing device
const UsbDriverBackend noneDriver{
    .enumBegin = noneBegin,
    .enumPath = nonePath,
    .enumEnd = noneEnd,
    .open = noneOpen,
    .close = noneClose,
    .ioctl = noneIoctl,
    .serialNumber = noneSerial,
    .lastError = noneLastError,
};
}  // namespace

const UsbDriverBackend* Platform_DefaultUsbDriver() { return &noneDriver; }
