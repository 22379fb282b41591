// SPDX-License-Identifier: Apache-2.0
// Fuzz target: reply reassembly of Usb_Read and the transaction reader, fed by a driver that
// returns fuzzed packets.
//
// Input: mode byte (bit 0: run a transaction instead of one read; bits 1-2: capacity), then
// packets as [returned count][that many bytes, at most 128]; a count of 0xFF is a failed read.
// When the input ends every further read fails, which ends any read loop.
#include <cstdio>
#include <cstring>
#include <vector>

#include "../fuzz_support.h"
#include "app/session.h"
#include "link/usb.h"
#include "platform/usb_driver.h"

namespace {

constexpr uint8_t FAILED_READ = 0xFF;
constexpr UsbHandle HANDLE = 7;

FuzzInput* script = nullptr;
uint32_t readsServed = 0;

bool enumBegin() { return true; }
int enumPath(uint32_t index, char* path, size_t cap) {
    if (index > 0) return 0;
    std::snprintf(path, cap, "%s", "\\\\?\\usb#vid_2408&pid_0003#fuzz");
    return 1;
}
void enumEnd() {}
UsbHandle openPath(const char*) { return HANDLE; }
void closeHandle(UsbHandle) {}

bool ioctl(UsbHandle, uint32_t code, const void*, uint32_t, void* out, uint32_t outLen,
           uint32_t* returned) {
    if (code != USB_IOCTL_READ_PACKET) return true;  // writes and resets succeed
    ++readsServed;
    if (!script || script->empty()) return false;
    uint8_t count = script->byte();
    if (count == FAILED_READ) return false;
    std::vector<uint8_t> bytes = script->bytes(count < outLen ? count : outLen);
    std::memset(out, 0xA5, outLen);  // stale bytes of an earlier read, never to be trusted
    if (!bytes.empty()) std::memcpy(out, bytes.data(), bytes.size());
    // A driver may claim more than it delivered; Usb_Read must hold to the buffer.
    *returned = count;
    return true;
}
uint32_t lastError() { return 31; }

const UsbDriverBackend FUZZ_DRIVER{
    .enumBegin = enumBegin,
    .enumPath = enumPath,
    .enumEnd = enumEnd,
    .open = openPath,
    .close = closeHandle,
    .ioctl = ioctl,
    .serialNumber = nullptr,  // no serial numbers
    .lastError = lastError,
};

const uint32_t CAPACITIES[4] = {3000, USB_TRANSACT_REPLY_BUFFER, USB_REPLY_BODY_MAX, 1};

void runRead(FuzzInput& in, uint32_t capacity) {
    // Exactly the capacity, so that ASan sees any write past it.
    std::vector<uint8_t> dest(capacity);
    uint32_t received = 0xDEADBEEF;
    Usb_Read(HANDLE, dest.data(), capacity, &received);
    FUZZ_CHECK(received <= capacity);
    (void)in;
}

void runTransact(FuzzInput& in) {
    uint8_t reply[56];
    std::memset(reply, 0x5A, sizeof reply);
    uint8_t before[56];
    std::memcpy(before, reply, sizeof reply);
    bool ok = Usb_TransactOnLink(HANDLE, USB_SUB_READ_PARAMS, nullptr, 0, reply, sizeof reply);
    if (!ok) FUZZ_CHECK(std::memcmp(reply, before, sizeof reply) == 0);
    (void)in;
}

}  // namespace

int fuzzOne_usb_read(const uint8_t* data, size_t size) {
    Session session;  // every input starts from a fresh program state
    fuzzPlatform();
    FuzzInput in{data, size};
    uint8_t mode = in.byte();
    script = &in;
    readsServed = 0;
    const UsbDriverBackend* previous = UsbDriver_Get();
    UsbDriver_Install(&FUZZ_DRIVER);
    if (mode & 1)
        runTransact(in);
    else
        runRead(in, CAPACITIES[(mode >> 1) & 3]);
    UsbDriver_Install(previous);
    script = nullptr;
    // Every read consumed at least one input byte or ended the loop: no endless reading.
    FUZZ_CHECK(readsServed <= size + 1);
    return 0;
}
