// SPDX-License-Identifier: Apache-2.0
// The board's command layer: transactions, job commands and swaths, their replies and the
// faults injected into those replies.
#include <cstdio>
#include <cstring>
#include <string>

#include "platform/bytes.h"
#include "vp_board.h"

namespace {

constexpr uint16_t STATUS_DONE = 1;
constexpr uint16_t STATUS_BUSY = 2;
constexpr uint16_t STATUS_NOT_READY = 0;
constexpr uint16_t KIND_UNKNOWN = 0xF00F;

// Reply body of `size` bytes (at least 8) with its four leading words.
std::vector<uint8_t> replyBody(uint16_t command, uint16_t status, uint16_t w4 = 0, uint16_t w6 = 0,
                               size_t size = 8) {
    std::vector<uint8_t> body(size < 8 ? 8 : size, 0);
    le::putU16(body.data(), 0, command);
    le::putU16(body.data(), 2, status);
    le::putU16(body.data(), 4, w4);
    le::putU16(body.data(), 6, w6);
    return body;
}

void fault(VpBoard& b, const std::string& what) {
    vpEvent(b, "{\"event\":\"fault\",\"what\":\"" + vpJsonEscape(what) + "\"}");
}

// Shortens the reply just queued: the last packet is lost, or a lone packet loses its tail.
void cutLastReply(VpBoard& b, size_t packetsBefore) {
    size_t added = b.replies.size() - packetsBefore;
    if (added > 1) {
        b.replies.pop_back();
        return;
    }
    std::vector<uint8_t>& p = b.replies.back();
    if (p.size() <= 36) return;
    p.resize(36);
    le::putU16(p.data(), 22, 2);
    uint32_t sum = 0;
    for (int w = 0; w < 15; ++w) sum += le::getU16(p.data(), 2 * w);
    le::putU16(p.data(), 30, static_cast<uint16_t>(sum));
}

// Queues a reply, preceded or damaged by the faults that are due.
void sendReply(VpBoard& b, const std::vector<uint8_t>& body) {
    VPrinterFaults& f = b.faults;
    if (f.lostReplies > 0) {
        --f.lostReplies;
        fault(b, "reply lost");
        return;
    }
    if (f.unknownKindReplies > 0) {
        --f.unknownKindReplies;
        fault(b, "packet of unknown kind");
        vpQueueReply(b, replyBody(0, 0));
        le::putU16(b.replies.back().data(), 16, KIND_UNKNOWN);
    }
    if (f.otherCommandFirst > 0) {
        --f.otherCommandFirst;
        static const uint16_t others[] = {2, 8, 9, 18};
        uint16_t command = le::getU16(body.data(), 0);
        uint16_t other = others[f.seed % 4];
        if (other == command) other = others[(f.seed + 1) % 4];
        fault(b, "reply to command " + std::to_string(other) + " first");
        vpQueueReply(b, replyBody(other, STATUS_DONE, 1));
    }
    size_t before = b.replies.size();
    vpQueueReply(b, body);
    if (f.cutReplies > 0) {
        --f.cutReplies;
        fault(b, "reply cut short");
        cutLastReply(b, before);
    }
}

bool takeBusy(VpBoard& b) {
    if (b.faults.busyCount == 0) return false;
    --b.faults.busyCount;
    fault(b, "busy");
    return true;
}

void checkZero(VpBoard& b, const std::vector<uint8_t>& block, size_t from, size_t to,
               const char* what) {
    for (size_t i = from; i < to && i < block.size(); ++i) {
        if (block[i] != 0) {
            vpProtocolError(b, "%s: byte %zu is 0x%02X (expected 0)", what, i, block[i]);
            return;
        }
    }
}

std::string hex(const uint8_t* p, size_t n) {
    static const char digits[] = "0123456789abcdef";
    std::string s;
    for (size_t i = 0; i < n; ++i) {
        s += digits[p[i] >> 4];
        s += digits[p[i] & 15];
    }
    return s;
}

void onTransaction(VpBoard& b, const std::vector<uint8_t>& block) {
    uint16_t sub = le::getU16(block.data(), 4);
    uint16_t status = STATUS_DONE;
    std::vector<uint8_t> body;
    std::string extra;
    if (sub == 64) {
        checkZero(b, block, 6, 64, "transaction 64 block");
        body = replyBody(sub, STATUS_DONE, 0, 0, 8 + VP_RECORD_SIZE);
        std::memcpy(body.data() + 8, b.record, VP_RECORD_SIZE);
    } else if (sub == 65) {
        checkZero(b, block, 60, 64, "transaction 65 block");
        uint8_t incoming[VP_RECORD_SIZE];
        std::memcpy(incoming, b.record, VP_RECORD_SIZE);
        std::memcpy(incoming, block.data() + 6, 54);  // bytes 54..55 keep what was stored
        // A record the folder did not take is not the board's record: it answers "not done"
        // and a read-back shows the old one.
        if (!vpStoreRecord(b, incoming)) status = 3;
        extra = ",\"record\":\"" + hex(b.record, VP_RECORD_SIZE) + "\"";
        body = replyBody(sub, status);
    } else {
        vpProtocolError(b, "transaction sub-command %u (expected 64 or 65)", sub);
        status = STATUS_BUSY;
        body = replyBody(sub, status);
    }
    vpEvent(b, "{\"event\":\"transaction\",\"sub\":" + std::to_string(sub) +
                   ",\"status\":" + std::to_string(status) + extra + "}");
    sendReply(b, body);
}

// The job commands' body fields, decoded for the record (block byte = body byte + 4).
std::string commandFields(const std::vector<uint8_t>& k) {
    char text[400];
    std::snprintf(text, sizeof text,
                  "\"byte0\":%u,\"byte1\":%u,\"byte3\":%u,\"passes\":%u,\"speed\":%u,\"byte8\":%u,"
                  "\"byte9\":%u,\"byte10\":%u,\"byte11\":%u,\"job_id\":%u,\"word14\":%u,"
                  "\"word20\":%u,\"date\":%u,\"time\":%u",
                  k[4], k[5], k[7], k[8], k[9], k[12], k[13], k[14], k[15],
                  le::getU16(k.data(), 16), le::getU16(k.data(), 18), le::getU16(k.data(), 24),
                  le::getU32(k.data(), 32), le::getU32(k.data(), 36));
    return text;
}

void commandEvent(VpBoard& b, uint32_t command, const std::vector<uint8_t>& block,
                  uint16_t status) {
    vpEvent(b, "{\"event\":\"command\",\"command\":" + std::to_string(command) + "," +
                   commandFields(block) + ",\"status\":" + std::to_string(status) + "}");
}

void onJobCreate(VpBoard& b, intptr_t handle, const std::vector<uint8_t>& block) {
    if (b.faults.notReadyCount > 0) {
        --b.faults.notReadyCount;
        fault(b, "not ready");
        commandEvent(b, 2, block, STATUS_NOT_READY);
        sendReply(b, replyBody(2, STATUS_NOT_READY));
        return;
    }
    if (takeBusy(b)) {
        commandEvent(b, 2, block, STATUS_BUSY);
        sendReply(b, replyBody(2, STATUS_BUSY));
        return;
    }
    if (b.jobOpen) vpCloseJob(b, "next JOB_CREATE");
    vpOpenJob(b, handle);
    commandEvent(b, 2, block, STATUS_DONE);
    // A board with the short layout sends its 128 bytes and nothing after them.
    uint8_t info[VP_INFO_SIZE];
    vpBuildInfoRecord(b, info);
    size_t infoBytes = b.model.shortLayout ? VP_INFO_SHORT_SIZE : VP_INFO_SIZE;
    std::vector<uint8_t> body = replyBody(2, STATUS_DONE, 0, 0, 8 + infoBytes);
    std::memcpy(body.data() + 8, info, infoBytes);
    sendReply(b, body);
}

void onJobCommand(VpBoard& b, uint32_t command, const std::vector<uint8_t>& block) {
    if (!b.jobOpen)
        vpProtocolError(b, "%s outside a job", command == 8 ? "PRINT_START" : "end of job");
    uint16_t status = takeBusy(b) ? STATUS_BUSY : STATUS_DONE;
    commandEvent(b, command, block, status);
    sendReply(b, replyBody(static_cast<uint16_t>(command), status));
    if (command == 18 && status == STATUS_DONE && b.jobOpen) vpCloseJob(b, "end of job");
}

VpSwath decodeSwath(const std::vector<uint8_t>& k) {
    VpSwath s;
    s.size = le::getU32(k.data(), 8);
    s.resolutionCode = k[29];
    s.r2l = k[30];
    s.l2r = k[32];
    s.spit = k[33];
    s.speed = le::getU16(k.data(), 34);
    s.start = le::getU16(k.data(), 36);
    s.stop = le::getU16(k.data(), 38);
    s.nextStart = le::getU16(k.data(), 40);
    s.spitDistance = le::getU16(k.data(), 42);
    s.number = le::getU32(k.data(), 48);
    s.feed = le::getU32(k.data(), 56);
    return s;
}

std::string swathEvent(const VpSwath& s, uint16_t status, uint16_t ack, bool repeat) {
    char text[600];
    std::snprintf(text, sizeof text,
                  "{\"event\":\"swath\",\"number\":%u,\"size\":%u,\"start\":%u,\"stop\":%u,"
                  "\"next_start\":%u,\"r2l\":%u,\"l2r\":%u,\"resolution\":%u,\"speed\":%u,"
                  "\"spit\":%u,\"spit_distance\":%u,\"feed\":%u,\"feed_backwards\":%u,"
                  "\"status\":%u,\"ack\":%u,\"repeat\":%u}",
                  s.number, s.size, s.start, s.stop, s.nextStart, s.r2l, s.l2r, s.resolutionCode,
                  s.speed, s.spit, s.spitDistance, s.feed & 0x7FFFFFFFu, s.feed >> 31, status, ack,
                  repeat ? 1u : 0u);
    return text;
}

void finishSwath(VpBoard& b, const std::vector<uint8_t>& block, std::vector<uint8_t>&& data) {
    VpSwath s = decodeSwath(block);
    uint16_t number = static_cast<uint16_t>(s.number);
    if (takeBusy(b)) {
        vpEvent(b, swathEvent(s, STATUS_BUSY, number, false));
        sendReply(b, replyBody(9, STATUS_BUSY, 1));
        return;
    }
    // A swath number already printed in this job comes again only when the host missed our
    // reply (lost on the wire, a failed read, a reset): acknowledge it, print it once.
    auto printed = b.printedSwaths.find(s.number);
    bool repeat = printed != b.printedSwaths.end();
    if (repeat && printed->second != block)
        vpProtocolError(b, "swath %u resent with another block than the one printed", s.number);
    if (!repeat) {
        if (!data.empty() && vpResolutionDpi(s.resolutionCode) == 0)
            vpProtocolError(b, "swath %u: unknown resolution code %u", s.number, s.resolutionCode);
        else if (!data.empty())
            vpPaperSwath(s, std::move(data), le::getU16(b.record, 0x08));
        vpPaperFeed(s.feed);
        b.printedSwaths.emplace(s.number, block);
    }
    uint16_t panel = 1;
    if (b.faults.panelCancelAtSwath >= 0 && uint32_t(b.faults.panelCancelAtSwath) == s.number) {
        b.faults.panelCancelAtSwath = -1;
        fault(b, "panel cancel");
        panel = 0;
    }
    uint16_t ack = number;
    if (b.faults.wrongSwathAck > 0) {
        --b.faults.wrongSwathAck;
        fault(b, "wrong swath acknowledgement");
        ack = static_cast<uint16_t>(number - 1);
    }
    vpEvent(b, swathEvent(s, STATUS_DONE, ack, repeat));
    std::vector<uint8_t> body = replyBody(9, STATUS_DONE, panel, 0, 12);
    le::putU16(body.data(), 8, ack);
    sendReply(b, body);
}

void onSwathBlock(VpBoard& b, const std::vector<uint8_t>& block) {
    if (!b.jobOpen) vpProtocolError(b, "swath block outside a job");
    checkZero(b, block, 4, 8, "swath block");
    checkZero(b, block, 12, 28, "swath block");
    checkZero(b, block, 60, 64, "swath block");
    uint32_t size = le::getU32(block.data(), 8);
    if (size == 0) {
        finishSwath(b, block, {});
        return;
    }
    if (size % 2 != 0) vpProtocolError(b, "swath of an odd size (%u bytes)", size);
    b.swathBlock = block;
    b.expectData = true;
}

}  // namespace

void vpOnCommand(VpBoard& b, intptr_t handle, const std::vector<uint8_t>& received) {
    std::vector<uint8_t> block = received;
    if (block.size() != 64) {
        vpProtocolError(b, "command block of %zu bytes (expected 64)", block.size());
        block.resize(64, 0);
    }
    if (b.expectData) {
        vpProtocolError(b, "swath %u: expected its DATA transfer, got a command block",
                        le::getU32(b.swathBlock.data(), 48));
        b.expectData = false;
    }
    uint32_t command = le::getU32(block.data(), 0);
    if (b.jobOpen && b.jobSuspended) {
        if (command == 8 || command == 9 || command == 18) {
            b.jobSuspended = false;
            b.jobHandle = handle;
            vpEvent(b, "{\"event\":\"link\",\"what\":\"reconnected\"}");
        } else {
            vpCloseJob(b, "link closed");
        }
    }
    switch (command) {
        case 1:
            onTransaction(b, block);
            break;
        case 2:
            onJobCreate(b, handle, block);
            break;
        case 8:
        case 18:
            onJobCommand(b, command, block);
            break;
        case 9:
            onSwathBlock(b, block);
            break;
        default:
            vpProtocolError(b, "unknown command %u", command);
            sendReply(b, replyBody(static_cast<uint16_t>(command), STATUS_BUSY));
    }
}

void vpOnData(VpBoard& b, std::vector<uint8_t>&& data) {
    if (!b.expectData) {
        vpProtocolError(b, "DATA transfer of %zu bytes without a swath block", data.size());
        return;
    }
    b.expectData = false;
    uint32_t size = le::getU32(b.swathBlock.data(), 8);
    if (data.size() != size)
        vpProtocolError(b, "swath %u: DATA of %zu bytes, block announced %u",
                        le::getU32(b.swathBlock.data(), 48), data.size(), size);
    finishSwath(b, b.swathBlock, std::move(data));
}

void vpBuildInfoRecord(const VpBoard& b, uint8_t out[VP_INFO_SIZE]) {
    const VPrinterModel& m = b.model;
    std::memset(out, 0, VP_INFO_SIZE);
    std::memcpy(out, b.record, VP_RECORD_SIZE);
    out[0x39] = m.spitInterval;
    out[0x44] = m.marginSwitch;
    le::putU16(out, 0x52, m.rightMargin);
    out[0x56] = m.modeByte;
    out[0x57] = m.overlapLevel;
    le::putU16(out, 0x66, m.carriageTravel);
    le::putU16(out, 0x70, m.carriageId);
    le::putU16(out, 0x72, m.mainBoardId);
    le::putU16(out, 0x74, m.driverId);
    le::putU16(out, 0x64, m.modelCode);
    if (m.shortLayout) {
        le::putU32(out, 0x38, 0);  // axis test value
        out[0x3c] = m.passFigure;
        out[0x3e] = m.speedClass;
        out[0x3f] = m.printDirection;
        out[0x5e] = m.mainBoardVersion;
        out[0x60] = m.carriageVersion;
        out[0x62] = m.driverVersion;
        le::putU16(out, 0x7e, 0x1154);
        return;
    }
    out[0x38] = m.reportFigure;
    out[0x3b] = m.printDirection;
    out[0x3c] = m.fixedDirection;
    out[0x5c] = m.mainBoardVersion;
    out[0x5e] = m.carriageVersion;
    out[0x60] = m.driverVersion;
    le::putU16(out, 0x86, 0x9876);
}
