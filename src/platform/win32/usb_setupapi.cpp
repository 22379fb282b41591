// SPDX-License-Identifier: Apache-2.0
// Win32 USB driver back end: present USB device interfaces through SetupAPI, the printer's
// driver through CreateFileA and DeviceIoControl.
// clang-format off
#include <windows.h>

#include <setupapi.h>
// clang-format on

#include <cstring>
#include <vector>

#include "platform/defaults.h"

namespace {

// GUID_DEVINTERFACE_USB_DEVICE {A5DCBF10-6530-11D2-901F-00C04FB951ED}
const GUID USB_DEVICE_INTERFACE = {
    0xA5DCBF10, 0x6530, 0x11D2, {0x90, 0x1F, 0x00, 0xC0, 0x4F, 0xB9, 0x51, 0xED}};

// Present devices, device-interface semantics (0x12).
constexpr DWORD ENUM_FLAGS = DIGCF_PRESENT | DIGCF_DEVICEINTERFACE;
static_assert(ENUM_FLAGS == 0x12, "enumeration flags");

// The snapshot belongs to the thread that opens the device; opens are never concurrent.
HDEVINFO deviceSet = INVALID_HANDLE_VALUE;

bool enumBegin() {
    deviceSet = SetupDiGetClassDevsA(&USB_DEVICE_INTERFACE, nullptr, nullptr, ENUM_FLAGS);
    return deviceSet != INVALID_HANDLE_VALUE;
}

int enumPath(uint32_t index, char* path, size_t cap) {
    if (deviceSet == INVALID_HANDLE_VALUE || cap == 0) return 0;
    SP_DEVICE_INTERFACE_DATA iface{};
    iface.cbSize = sizeof iface;
    if (!SetupDiEnumDeviceInterfaces(deviceSet, nullptr, &USB_DEVICE_INTERFACE, index, &iface))
        return 0;
    DWORD needed = 0;
    SetupDiGetDeviceInterfaceDetailA(deviceSet, &iface, nullptr, 0, &needed, nullptr);
    if (needed < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A)) return -1;
    std::vector<uint8_t> storage(needed);
    auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(storage.data());
    // The fixed part of the record for this build: 8 bytes in a 64-bit process, 5 in 32-bit.
    detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
    if (!SetupDiGetDeviceInterfaceDetailA(deviceSet, &iface, detail, needed, nullptr, nullptr))
        return -1;
    size_t room = needed - offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath);
    size_t n = strnlen(detail->DevicePath, room);
    if (n >= cap) n = cap - 1;
    std::memcpy(path, detail->DevicePath, n);
    path[n] = '\0';
    return 1;
}

void enumEnd() {
    if (deviceSet != INVALID_HANDLE_VALUE) SetupDiDestroyDeviceInfoList(deviceSet);
    deviceSet = INVALID_HANDLE_VALUE;
}

UsbHandle openDevice(const char* path) {
    HANDLE h = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                           nullptr, OPEN_EXISTING, 0, nullptr);
    return h == INVALID_HANDLE_VALUE ? USB_INVALID_HANDLE : reinterpret_cast<UsbHandle>(h);
}

void closeDevice(UsbHandle handle) {
    if (handle != USB_INVALID_HANDLE) CloseHandle(reinterpret_cast<HANDLE>(handle));
}

bool ioctl(UsbHandle handle, uint32_t code, const void* in, uint32_t inLen, void* out,
           uint32_t outLen, uint32_t* returned) {
    DWORD got = 0;
    BOOL ok = DeviceIoControl(reinterpret_cast<HANDLE>(handle), code, const_cast<void*>(in), inLen,
                              out, outLen, &got, nullptr);
    if (returned) *returned = got;
    return ok != FALSE;
}

// The system names a device interface "\\?\usb#vid_VVVV&pid_PPPP#INSTANCE#{class}", the
// instance being the device's serial number when it reports one and a made-up location ("6&2a
// ...&0&1", always with '&', which a serial number the system takes never holds) when not. No
// device I/O: the printer's driver owns the device, and the name is all the system gives us.
bool serialNumber(const char* path, char* out, size_t cap) {
    if (!path || !out || cap == 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    const char* usb = std::strstr(path, "usb#");
    if (!usb) usb = std::strstr(path, "USB#");
    const char* first = usb ? std::strchr(usb + 4, '#') : nullptr;
    const char* end = first ? std::strchr(first + 1, '#') : nullptr;
    if (!end || end == first + 1 || std::memchr(first + 1, '&', size_t(end - first - 1))) {
        SetLastError(ERROR_NOT_SUPPORTED);
        return false;
    }
    size_t n = size_t(end - first - 1);
    if (n >= cap) n = cap - 1;
    std::memcpy(out, first + 1, n);
    out[n] = '\0';
    return true;
}

uint32_t lastError() { return GetLastError(); }

const UsbDriverBackend setupApiDriver{
    .enumBegin = enumBegin,
    .enumPath = enumPath,
    .enumEnd = enumEnd,
    .open = openDevice,
    .close = closeDevice,
    .ioctl = ioctl,
    .serialNumber = serialNumber,
    .lastError = lastError,
};

}  // namespace

const UsbDriverBackend* Platform_DefaultUsbDriver() { return &setupApiDriver; }
