// SPDX-License-Identifier: Apache-2.0
// The virtual printer as a USB driver back end: enumeration, handles and the four I/O controls.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "platform/bytes.h"
#include "platform/clock.h"
#include "platform/paths.h"
#include "platform/usb_driver.h"
#include "vp_board.h"

namespace {

constexpr uint32_t ERROR_FILE_NOT_FOUND_CODE = 2;
constexpr uint32_t ERROR_INVALID_HANDLE_CODE = 6;
constexpr uint32_t ERROR_GEN_FAILURE_CODE = 31;
constexpr uint32_t ERROR_INVALID_PARAMETER_CODE = 87;
constexpr uint32_t ERROR_SEM_TIMEOUT_CODE = 121;
constexpr uint32_t ERROR_OPERATION_ABORTED_CODE = 995;
constexpr uint32_t READ_POLL_MS = 10;

const char* const PRINTER_PATH =
    "\\\\?\\usb#vid_2408&pid_0003#vprinter#{a5dcbf10-6530-11d2-901f-00c04fb951ed}";

thread_local uint32_t lastErrorCode = 0;

bool fail(uint32_t code) {
    lastErrorCode = code;
    return false;
}

bool enumBegin() {
    VpBoard& b = vpBoard();
    std::lock_guard<std::mutex> lock(b.mu);
    b.snapshot = b.decoys;
    if (b.faults.disappearOpens > 0) {
        --b.faults.disappearOpens;
        vpEvent(b, "{\"event\":\"fault\",\"what\":\"device absent\"}");
    } else {
        b.snapshot.push_back(PRINTER_PATH);
    }
    return true;
}

int enumPath(uint32_t index, char* path, size_t cap) {
    VpBoard& b = vpBoard();
    std::lock_guard<std::mutex> lock(b.mu);
    if (index >= b.snapshot.size()) return 0;
    if (cap == 0) return -1;
    std::snprintf(path, cap, "%s", b.snapshot[index].c_str());
    return 1;
}

void enumEnd() {
    VpBoard& b = vpBoard();
    std::lock_guard<std::mutex> lock(b.mu);
    b.snapshot.clear();
}

UsbHandle openPath(const char* path) {
    VpBoard& b = vpBoard();
    std::lock_guard<std::mutex> lock(b.mu);
    bool printer = path && std::strcmp(path, PRINTER_PATH) == 0;
    bool decoy = false;
    for (const std::string& d : b.decoys) decoy = decoy || (path && d == path);
    // Absent means absent for open too: the snapshot decided whether the board is there.
    bool present = false;
    for (const std::string& s : b.snapshot) present = present || (path && s == path);
    if (!b.attached || !(printer || decoy) || (printer && !b.snapshot.empty() && !present)) {
        lastErrorCode = ERROR_FILE_NOT_FOUND_CODE;
        return USB_INVALID_HANDLE;
    }
    intptr_t h = b.nextHandle++;
    b.handles[h].printer = printer;
    return h;
}

void closeHandle(UsbHandle h) {
    VpBoard& b = vpBoard();
    std::lock_guard<std::mutex> lock(b.mu);
    auto it = b.handles.find(h);
    if (it == b.handles.end()) return;
    bool printer = it->second.printer;
    b.handles.erase(it);
    if (printer) vpInterrupted(b);
    if (b.jobOpen && !b.jobSuspended && b.jobHandle == h) vpSuspendJob(b);
}

bool isPrinterHandle(VpBoard& b, UsbHandle h) {
    auto it = b.handles.find(h);
    return it != b.handles.end() && it->second.printer;
}

bool doWrite(VpBoard& b, UsbHandle h, const void* in, uint32_t inLen, const void* out,
             uint32_t outLen) {
    if (inLen != 4 || !in || le::getU32(static_cast<const uint8_t*>(in), 0) != 0)
        vpProtocolError(b, "write I/O control input: expected u32 0 (4 bytes), got %u bytes",
                        inLen);
    if (b.faults.failWrites > 0) {
        --b.faults.failWrites;
        vpInterrupted(b);
        vpEvent(b, "{\"event\":\"fault\",\"what\":\"write failed\"}");
        return fail(ERROR_GEN_FAILURE_CODE);
    }
    if (!out || outLen == 0) return fail(ERROR_INVALID_PARAMETER_CODE);
    b.writer = h;
    vpReceiveWrite(b, static_cast<const uint8_t*>(out), outLen);
    return true;
}

// Waits on the platform clock for a reply packet; the board lock is released while waiting.
bool doRead(std::unique_lock<std::mutex>& lock, VpBoard& b, const void* in, uint32_t inLen,
            void* out, uint32_t outLen, uint32_t* returned) {
    if (inLen != 4 || !in || le::getU32(static_cast<const uint8_t*>(in), 0) != 2)
        vpProtocolError(b, "read I/O control input: expected u32 2 (4 bytes), got %u bytes", inLen);
    if (!out || outLen < USB_READ_PACKET_SIZE) {
        vpProtocolError(b, "read buffer of %u bytes (expected 128)", outLen);
        return fail(ERROR_INVALID_PARAMETER_CODE);
    }
    uint32_t generation = b.resetGeneration;
    if (b.faults.hangMs > 0) {
        uint32_t hang = b.faults.hangMs;
        b.faults.hangMs = 0;
        vpEvent(b, "{\"event\":\"fault\",\"what\":\"read hangs " + std::to_string(hang) + " ms\"}");
        for (uint32_t waited = 0; waited < hang; waited += READ_POLL_MS) {
            lock.unlock();
            Clock_Sleep(READ_POLL_MS);
            lock.lock();
            if (b.resetGeneration != generation) return fail(ERROR_OPERATION_ABORTED_CODE);
        }
    }
    if (b.faults.failReads > 0) {
        --b.faults.failReads;
        vpInterrupted(b);
        // The reply in flight is lost with the failed transfer.
        while (!b.replies.empty()) b.replies.pop_front();
        vpEvent(b, "{\"event\":\"fault\",\"what\":\"read failed\"}");
        return fail(ERROR_GEN_FAILURE_CODE);
    }
    uint32_t waited = 0;
    while (b.replies.empty()) {
        if (waited >= b.model.readTimeoutMs) return fail(ERROR_SEM_TIMEOUT_CODE);
        lock.unlock();
        Clock_Sleep(READ_POLL_MS);
        lock.lock();
        waited += READ_POLL_MS;
        if (b.resetGeneration != generation) return fail(ERROR_OPERATION_ABORTED_CODE);
        if (!b.attached) return fail(ERROR_FILE_NOT_FOUND_CODE);
    }
    const std::vector<uint8_t>& p = b.replies.front();
    std::memset(out, 0, outLen);
    std::memcpy(out, p.data(), p.size());
    if (returned) *returned = static_cast<uint32_t>(p.size());
    b.replies.pop_front();
    return true;
}

void resetBoard(VpBoard& b, const char* what) {
    b.replies.clear();
    b.rx = VpTransfer{};
    b.expectData = false;
    vpInterrupted(b);
    ++b.resetGeneration;
    vpEvent(b, std::string("{\"event\":\"reset\",\"what\":\"") + what + "\"}");
}

bool ioctl(UsbHandle h, uint32_t code, const void* in, uint32_t inLen, void* out, uint32_t outLen,
           uint32_t* returned) {
    VpBoard& b = vpBoard();
    std::unique_lock<std::mutex> lock(b.mu);
    if (returned) *returned = 0;
    if (!b.attached || b.handles.find(h) == b.handles.end()) return fail(ERROR_INVALID_HANDLE_CODE);
    if (!isPrinterHandle(b, h)) return fail(ERROR_GEN_FAILURE_CODE);
    switch (code) {
        case USB_IOCTL_WRITE_PACKETS:
            return doWrite(b, h, in, inLen, out, outLen);
        case USB_IOCTL_READ_PACKET:
            return doRead(lock, b, in, inLen, out, outLen, returned);
        case USB_IOCTL_PIPE_RESET:
            if (inLen < 1 || !in || static_cast<const uint8_t*>(in)[0] != 0xFF)
                vpProtocolError(b, "pipe reset: expected code 0xFF");
            resetBoard(b, "pipe");
            if (returned) *returned = 0;
            return true;
        case USB_IOCTL_DEVICE_RESET:
            resetBoard(b, "device");
            return true;
        default:
            vpProtocolError(b, "unknown I/O control code 0x%X", code);
            return fail(ERROR_INVALID_PARAMETER_CODE);
    }
}

// The model's serial number, for the board's own path only, as the device would report it.
bool serialNumber(const char* path, char* out, size_t cap) {
    VpBoard& b = vpBoard();
    std::lock_guard<std::mutex> lock(b.mu);
    if (!path || !out || cap == 0 || std::strcmp(path, PRINTER_PATH) != 0 || !b.attached)
        return fail(ERROR_FILE_NOT_FOUND_CODE);
    if (b.model.serial.empty()) return fail(ERROR_GEN_FAILURE_CODE);
    size_t n = std::min(b.model.serial.size(), cap - 1);
    std::memcpy(out, b.model.serial.data(), n);
    out[n] = '\0';
    return true;
}

uint32_t lastError() { return lastErrorCode; }

const UsbDriverBackend vprinterDriver{
    .enumBegin = enumBegin,
    .enumPath = enumPath,
    .enumEnd = enumEnd,
    .open = openPath,
    .close = closeHandle,
    .ioctl = ioctl,
    .serialNumber = serialNumber,
    .lastError = lastError,
};

}  // namespace

void vpInterrupted(VpBoard& b) {
    b.interrupted = true;
    // After a failure the host sends the swath block again before its data: a block left
    // waiting for data is forgotten, not reported.
    b.expectData = false;
}

VpBoard& vpBoard() {
    static VpBoard board;
    return board;
}

namespace {
bool attachFailed(std::string* error, const std::string& why) {
    vpAttachFailed(why);
    if (error) *error = why;
    return false;
}
}  // namespace

bool VPrinter_Attach(const std::string& stateDir, std::string* error) {
    if (VPrinter_IsAttached()) VPrinter_Detach();
    std::error_code ec;
    std::filesystem::create_directories(Path_FromUtf8(stateDir), ec);
    if (!std::filesystem::is_directory(Path_FromUtf8(stateDir), ec))
        return attachFailed(error, stateDir + ": cannot be made a folder");
    VpBoard& b = vpBoard();
    {
        std::lock_guard<std::mutex> lock(b.mu);
        // Two programs on one folder would hand out the same job numbers and lose each
        // other's records and stored values: the folder is one program's until it detaches.
        std::string busy;
        if (!vpLockFolder(b, stateDir, &busy)) return attachFailed(error, busy);
        b.dir = stateDir;
        b.faults = VPrinterFaults{};
        b.handles.clear();
        b.replies.clear();
        b.rx = VpTransfer{};
        b.serialKnown = false;
        b.interrupted = false;
        b.expectData = false;
        b.jobOpen = false;
        b.looseEvents.clear();
        b.protocolErrors.clear();
        b.storageErrors.clear();
        b.dataBytes = 0;
        if (!vpLoadState(b)) {
            vpUnlockFolder(b);
            return attachFailed(error, VPrinter_AttachError());
        }
        b.previousDriver = UsbDriver_Get();
        b.attached = true;
    }
    vpWorkerStart();
    UsbDriver_Install(&vprinterDriver);
    return true;
}

void VPrinter_Detach() {
    VpBoard& b = vpBoard();
    const UsbDriverBackend* previous = nullptr;
    {
        std::lock_guard<std::mutex> lock(b.mu);
        if (!b.attached) return;
        if (b.jobOpen) vpCloseJob(b, "detached");
        b.attached = false;
        b.handles.clear();
        b.replies.clear();
        previous = static_cast<const UsbDriverBackend*>(b.previousDriver);
    }
    UsbDriver_Install(previous == &vprinterDriver ? nullptr : previous);
    vpWorkerStop();  // the last pictures are written while the folder is still ours
    std::lock_guard<std::mutex> lock(b.mu);
    vpUnlockFolder(b);
}

bool VPrinter_IsAttached() {
    VpBoard& b = vpBoard();
    std::lock_guard<std::mutex> lock(b.mu);
    return b.attached;
}

std::string VPrinter_DevicePath() { return PRINTER_PATH; }

void VPrinter_AddDecoy(const std::string& devicePath) {
    VpBoard& b = vpBoard();
    std::lock_guard<std::mutex> lock(b.mu);
    b.decoys.push_back(devicePath);
}

void VPrinter_ClearDecoys() {
    VpBoard& b = vpBoard();
    std::lock_guard<std::mutex> lock(b.mu);
    b.decoys.clear();
}

bool VPrinter_FeedWrite(const uint8_t* bytes, uint32_t length) {
    VpBoard& b = vpBoard();
    std::lock_guard<std::mutex> lock(b.mu);
    size_t before = b.protocolErrors.size();
    vpReceiveWrite(b, bytes, length);
    return b.protocolErrors.size() == before;
}
