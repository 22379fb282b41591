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

// The link calls these on the dialog thread (finding and opening the printer, a reset) and on
// the job's transmit thread (the packets); one call at a time per handle.
struct UsbDriverBackend {
    // Takes a snapshot of the present device interfaces. \context dialog, transmit (while
    // reconnecting) \blocks the system's device enumeration (a few ms) \errors false when the
    // enumeration failed (no snapshot to release).
    bool (*enumBegin)();
    // Path of interface `index` of the snapshot into path (NUL-terminated, cut to cap - 1).
    // \context as enumBegin \nonblocking \errors 1 when filled, 0 when there is no interface
    // at that index, -1 when the interface exists but its detail cannot be fetched (the caller
    // goes on with index + 1).
    int (*enumPath)(uint32_t index, char* path, size_t cap);
    // Releases the snapshot. \context as enumBegin \nonblocking \errors none.
    void (*enumEnd)();
    // Opens a device path for reading and writing (shared). \context dialog, transmit (while
    // reconnecting) \blocks opening the device (the driver's claim, a few ms) \errors
    // USB_INVALID_HANDLE, the reason in lastError.
    UsbHandle (*open)(const char* path);
    // Closes a handle; a call hanging on it in another thread then fails. \threadsafe (also
    // while another thread is inside ioctl on the handle) \nonblocking \errors none.
    void (*close)(UsbHandle handle);
    // One device I/O control. Write packets: `out` holds the bytes to send and outLen their
    // count; all bytes go or the call fails. Read packet: fills at most outLen (128) bytes and
    // sets *returned. \context dialog, transmit; one call at a time per handle \blocks USB:
    // the transfer, up to the back end's time-out (a call can hang in a driver: the link's
    // watchdog closes the handle) \errors false, the reason in lastError.
    bool (*ioctl)(UsbHandle handle, uint32_t code, const void* in, uint32_t inLen, void* out,
                  uint32_t outLen, uint32_t* returned);
    // The serial number the device at `path` reports (its USB iSerialNumber string) into out,
    // NUL-terminated and cut to cap - 1: the device's own text, untrusted (any bytes, any
    // length up to the cut). \context dialog, outside jobs \blocks USB: two control transfers
    // on the device's default pipe (up to a second each; none where the system keeps it in the
    // path) \errors false when the device has no serial number or it cannot be read, the
    // reason in lastError. May be null: a back end that cannot ask has no serial numbers.
    bool (*serialNumber)(const char* path, char* out, size_t cap);
    // The system's last error code of the calling thread after a failed call. \threadsafe
    // (per thread) \nonblocking \errors none (0 when nothing failed).
    uint32_t (*lastError)();
};

// Installs the driver back end (nullptr restores the platform default). Not during a job.
void UsbDriver_Install(const UsbDriverBackend* backend);
const UsbDriverBackend* UsbDriver_Get();
