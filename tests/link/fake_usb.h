// SPDX-License-Identifier: Apache-2.0
// A scripted USB driver for the link tests: records every write, answers reads from a queue
// of packets (or from a responder that sees each complete CMM block), fails on request.
#pragma once
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "link/command.h"
#include "platform/usb_driver.h"

namespace fake_usb {

using Bytes = std::vector<uint8_t>;

constexpr const char* PRINTER_PATH = "\\\\?\\usb#vid_2408&pid_0003#5&1a2b3c&0&1#{a5dcbf10}";

struct Counters {
    int opens = 0, closes = 0, enumerations = 0, pipeResets = 0, softResets = 0, reads = 0;
};

// Installs the fake as the driver with one printer present and no script.
void install();
void uninstall();

void setPaths(const std::vector<std::string>& paths);  // -1 entries: use "<detail-fail>"
void setEnumFails(bool fails);
void failOpens(int count);   // the next count opens of the printer path fail
void failWrites(int count);  // the next count write controls fail
void failReads(int count);   // the next count read controls fail
void setLastError(uint32_t code);
// The next read blocks (for real) until its handle is closed or release() is called.
void hangNextRead();
void release();

void queuePacket(const Bytes& packet);  // returned by the next read, as it stands
// Called with each complete CMM transfer's data bytes; its packets are queued for reading.
void setResponder(std::function<std::vector<Bytes>(const Bytes& block)> responder);

std::vector<Bytes> writes();     // every successful write, in order
uint64_t dataBytesWritten();     // bytes of all successful writes
std::vector<Bytes> cmmBlocks();  // data of every complete CMM transfer
Counters counters();
void clearRecords();
// Every protocol fault seen in the writes (bad magic/checksum, wrong kinds or indexes).
std::vector<std::string> protocolErrors();

// A reply packet: header with kind and word 11 = words, then body (cut to 96 bytes).
Bytes replyPacket(uint16_t kind, uint16_t words, const Bytes& body);
// A whole reply body split into as many packets as it needs.
std::vector<Bytes> replyPackets(const Bytes& body);
// A reply body: command, status, word 4, word 6, then extra bytes.
Bytes replyBody(uint16_t command, uint16_t status, uint16_t w4 = 1, uint16_t w6 = 0,
                const Bytes& extra = {});
inline Bytes replyBody(CommandNumber command, uint16_t status, uint16_t w4 = 1, uint16_t w6 = 0,
                       const Bytes& extra = {}) {
    return replyBody(static_cast<uint16_t>(command), status, w4, w6, extra);
}

}  // namespace fake_usb
