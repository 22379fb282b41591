// SPDX-License-Identifier: Apache-2.0
// USB driver seam: enumeration of device interface paths and the driver's four I/O controls,
// with their codes and buffers unchanged, so the host's framing runs the same on every back end.
#pragma once
#include <cstddef>
#include <cstdint>

using UsbHandle = intptr_t;
constexpr UsbHandle USB_INVALID_HANDLE = -1;

// I/O control codes of the printer's driver (device type 0x22, any access).
constexpr uint32_t USB_IOCTL_WRITE_PACKETS = 0x222051;  // in: u32 0; out: the packet bytes
constexpr uint32_t USB_IOCTL_READ_PACKET = 0x22204E;    // in: u32 2; out: 128-byte buffer
constexpr uint32_t USB_IOCTL_PIPE_RESET = 0x222044;     // in: 2 bytes (code 0xFF, spare); out: 128
constexpr uint32_t USB_IOCTL_DEVICE_RESET = 0x222031;   // no buffers
constexpr size_t USB_READ_PACKET_SIZE = 128;

struct UsbDriverBackend {
    // Takes a snapshot of the present device interfaces. false = enumeration failed.
    bool (*enumBegin)();
    // Path of interface `index` of the snapshot into path (NUL-terminated, cut to cap - 1).
    // Returns 1 when filled, 0 when there is no interface at that index, -1 when the
    // interface exists but its detail cannot be fetched (the caller goes on with index + 1).
    int (*enumPath)(uint32_t index, char* path, size_t cap);
    // Releases the snapshot.
    void (*enumEnd)();
    // Opens a device path for reading and writing (shared). USB_INVALID_HANDLE on failure.
    UsbHandle (*open)(const char* path);
    void (*close)(UsbHandle handle);
    // One device I/O control. Write packets: `out` holds the bytes to send and outLen their
    // count; all bytes go or the call fails. Read packet: fills at most outLen (128) bytes and
    // sets *returned. Any thread; one call at a time per handle.
    bool (*ioctl)(UsbHandle handle, uint32_t code, const void* in, uint32_t inLen, void* out,
                  uint32_t outLen, uint32_t* returned);
    // The system's last error code of the calling thread after a failed call.
    uint32_t (*lastError)();
};

// Installs the driver back end (nullptr restores the platform default). Not during a job.
void UsbDriver_Install(const UsbDriverBackend* backend);
const UsbDriverBackend* UsbDriver_Get();
