// SPDX-License-Identifier: Apache-2.0
// The board's packet layer: strict checks of every CMM and DATA packet the host writes, and
// the framing of the board's replies (one packet of at most 128 bytes per read).
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "platform/bytes.h"
#include "vp_board.h"

namespace {

uint16_t word(const uint8_t* p, uint32_t w) { return le::getU16(p, 2 * w); }

uint16_t sumWords(const uint8_t* p, uint32_t count) {
    uint32_t sum = 0;
    for (uint32_t w = 0; w < count; ++w) sum += word(p, w);
    return static_cast<uint16_t>(sum);
}

uint16_t expectedKind(uint16_t index, uint16_t count) {
    if (count == 1) return VP_KIND_ONLY;
    if (index == 0) return VP_KIND_FIRST;
    return index + 1 == count ? VP_KIND_LAST : VP_KIND_MIDDLE;
}

const char* streamName(uint16_t stream) { return stream == VP_STREAM_CMM ? "CMM" : "DATA"; }

// Fields of a packet header that the transfer rules look at.
struct Header {
    uint16_t stream, kind, serial, index, word11, count;
    uint32_t total;
};

Header readHeader(const uint8_t* p) {
    return Header{word(p, 7),
                  word(p, 8),
                  word(p, 9),
                  word(p, 10),
                  word(p, 11),
                  word(p, 12),
                  (uint32_t(word(p, 13)) << 16) | word(p, 14)};
}

// Magic words and header checksum: a packet failing these is not a packet at all.
bool checkFraming(VpBoard& b, const uint8_t* p) {
    for (uint32_t w = 0; w < 7; ++w) {
        if (word(p, w) != VP_MAGIC[w]) {
            vpProtocolError(b, "magic word %u: expected 0x%04X, got 0x%04X", w, VP_MAGIC[w],
                            word(p, w));
            return false;
        }
    }
    uint16_t sum = sumWords(p, 15);
    if (word(p, 15) != sum) {
        vpProtocolError(b, "header checksum: expected 0x%04X, got 0x%04X", sum, word(p, 15));
        return false;
    }
    return true;
}

void abandonTransfer(VpBoard& b) { b.rx = VpTransfer{}; }

// A first packet opens a transfer; the serial number must follow the last complete transfer.
bool openTransfer(VpBoard& b, const Header& h, uint32_t capacity) {
    if (b.rx.active) {
        if (!b.interrupted)
            vpProtocolError(b, "%s transfer %u abandoned at packet %u of %u",
                            streamName(b.rx.stream), b.rx.serial, b.rx.nextIndex, b.rx.count);
        abandonTransfer(b);
    }
    if (h.index != 0) {
        vpProtocolError(b, "%s packet index %u without a transfer in progress (expected 0)",
                        streamName(h.stream), h.index);
        return false;
    }
    uint32_t limit = h.stream == VP_STREAM_CMM ? VP_CMM_MAX_WORDS : VP_DATA_MAX_WORDS;
    if (h.total > limit) {
        vpProtocolError(b, "%s transfer of %u words exceeds the board's buffer of %u words",
                        streamName(h.stream), h.total, limit);
        return false;
    }
    uint32_t needed = (h.total + capacity - 1) / capacity;
    if (h.total == 0 || h.count != needed) {
        vpProtocolError(b, "%s packet count: expected %u for %u words, got %u",
                        streamName(h.stream), needed, h.total, h.count);
        return false;
    }
    uint16_t expectSerial = static_cast<uint16_t>(b.lastSerial + 1);
    if (b.serialKnown && h.serial != expectSerial)
        vpProtocolError(b, "transfer serial: expected %u, got %u", expectSerial, h.serial);
    b.rx.active = true;
    b.rx.stream = h.stream;
    b.rx.serial = h.serial;
    b.rx.count = h.count;
    b.rx.total = h.total;
    b.rx.nextIndex = 0;
    b.rx.data.assign(size_t(h.total) * 2, 0);
    return true;
}

// Index, kind, count, total and serial of one packet against the transfer in progress.
bool checkSequence(VpBoard& b, const Header& h, uint32_t capacity) {
    if (h.index == 0 && !openTransfer(b, h, capacity)) return false;
    if (!b.rx.active) {
        vpProtocolError(b, "%s packet index %u without a transfer in progress (expected 0)",
                        streamName(h.stream), h.index);
        return false;
    }
    const VpTransfer& t = b.rx;
    if (h.stream != t.stream || h.index != t.nextIndex || h.count != t.count ||
        h.total != t.total) {
        vpProtocolError(b,
                        "%s packet: expected index %u of %u (%u words), got %s index %u of %u "
                        "(%u words)",
                        streamName(t.stream), t.nextIndex, t.count, t.total, streamName(h.stream),
                        h.index, h.count, h.total);
        abandonTransfer(b);
        return false;
    }
    if (h.serial != t.serial)
        vpProtocolError(b, "serial changed within a transfer: expected %u, got %u", t.serial,
                        h.serial);
    uint16_t kind = expectedKind(h.index, h.count);
    if (h.kind != kind) {
        vpProtocolError(b, "packet kind of %s packet %u of %u: expected 0x%04X, got 0x%04X",
                        streamName(h.stream), h.index, h.count, kind, h.kind);
        abandonTransfer(b);
        return false;
    }
    return true;
}

uint32_t wordsInPacket(const Header& h, uint32_t capacity) {
    uint32_t done = uint32_t(h.index) * capacity;
    uint32_t left = h.total > done ? h.total - done : 0;
    return left < capacity ? left : capacity;
}

// Stores a packet's words; completes the transfer after its last packet.
void acceptWords(VpBoard& b, const uint8_t* body, uint32_t words, uint32_t capacity) {
    VpTransfer& t = b.rx;
    std::memcpy(t.data.data() + size_t(t.nextIndex) * capacity * 2, body, size_t(words) * 2);
    ++t.nextIndex;
    if (t.nextIndex < t.count) return;
    b.serialKnown = true;
    b.lastSerial = t.serial;
    b.interrupted = false;
    VpTransfer done = std::move(t);
    t = VpTransfer{};
    if (done.stream == VP_STREAM_CMM) {
        vpOnCommand(b, b.writer, done.data);
    } else {
        b.dataBytes += done.data.size();
        vpOnData(b, std::move(done.data));
    }
}

void receiveCmm(VpBoard& b, const uint8_t* p, uint32_t length) {
    if (length != VP_CMM_PACKET_BYTES) {
        vpProtocolError(b, "CMM write of %u bytes (expected one packet of 128)", length);
        if (length < VP_CMM_PACKET_BYTES) return;
    }
    Header h = readHeader(p);
    if (h.word11 != VP_CMM_WORDS) {
        vpProtocolError(b, "CMM word 11: expected 47, got %u", h.word11);
        abandonTransfer(b);
        return;
    }
    uint16_t sum = sumWords(p, 63);
    if (word(p, 63) != sum) {
        vpProtocolError(b, "CMM packet checksum: expected 0x%04X, got 0x%04X", sum, word(p, 63));
        abandonTransfer(b);
        return;
    }
    if (!checkSequence(b, h, VP_CMM_WORDS)) return;
    uint32_t words = wordsInPacket(h, VP_CMM_WORDS);
    for (uint32_t w = 16 + words; w < 63; ++w) {
        if (word(p, w) != 0) {
            vpProtocolError(b, "CMM packet %u: unused data word %u is 0x%04X (expected 0)", h.index,
                            w - 16, word(p, w));
            break;
        }
    }
    acceptWords(b, p + 32, words, VP_CMM_WORDS);
}

bool zeroTail(const uint8_t* p, uint32_t n) {
    for (uint32_t i = 0; i < n; ++i)
        if (p[i] != 0) return false;
    return true;
}

// One DATA packet at slot `slot` of a batch write; returns false to stop parsing the write.
bool receiveDataPacket(VpBoard& b, const uint8_t* bytes, uint32_t length, uint32_t slot,
                       bool* transferEnded) {
    uint32_t off = slot * VP_DATA_SLOT;
    const uint8_t* p = bytes + off;
    if (length - off < 32) {
        vpProtocolError(b, "DATA write of %u bytes ends inside the header of slot %u", length,
                        slot);
        return false;
    }
    if (!checkFraming(b, p)) return false;
    Header h = readHeader(p);
    if (h.stream != VP_STREAM_DATA) {
        vpProtocolError(b, "slot %u of a DATA batch: stream type 0x%04X", slot, h.stream);
        return false;
    }
    if (!checkSequence(b, h, VP_DATA_WORDS)) return false;
    uint32_t words = wordsInPacket(h, VP_DATA_WORDS);
    if (uint32_t(h.word11) + 1 != words) {
        vpProtocolError(b, "DATA word 11 of packet %u: expected %u, got %u", h.index, words - 1,
                        h.word11);
        abandonTransfer(b);
        return false;
    }
    if (off + 32 + words * 2 > length) {
        vpProtocolError(b, "DATA packet %u runs past the end of its write", h.index);
        abandonTransfer(b);
        return false;
    }
    bool last = h.index + 1 == h.count;
    if (!last && !zeroTail(p + 32 + words * 2, 32))
        vpProtocolError(b, "DATA packet %u: zero tail not zero", h.index);
    acceptWords(b, p + 32, words, VP_DATA_WORDS);
    *transferEnded = last;
    return true;
}

void receiveData(VpBoard& b, const uint8_t* bytes, uint32_t length) {
    bool full = length == VP_DATA_BATCH;
    for (uint32_t slot = 0; slot < 7; ++slot) {
        if (slot * VP_DATA_SLOT >= length) {
            vpProtocolError(b, "DATA write of %u bytes: short batch before the transfer's end",
                            length);
            abandonTransfer(b);
            return;
        }
        bool ended = false;
        // Whether this slot's packet ends the transfer decides the shape of the write.
        const uint8_t* p = bytes + slot * VP_DATA_SLOT;
        Header h = length - slot * VP_DATA_SLOT >= 32 ? readHeader(p) : Header{};
        if (!receiveDataPacket(b, bytes, length, slot, &ended)) return;
        if (ended) {
            uint32_t end = slot * VP_DATA_SLOT + 32 + (uint32_t(h.word11) + 1) * 2;
            if (!full && end != length)
                vpProtocolError(b, "last DATA batch: %u bytes written, expected %u", length, end);
            if (full && slot != 6)
                vpProtocolError(b, "full DATA batch after the transfer's last packet (slot %u)",
                                slot);
            return;
        }
        if (slot == 6) {
            if (!full)
                vpProtocolError(b, "DATA batch of %u bytes (expected %u)", length, VP_DATA_BATCH);
            return;
        }
    }
}

}  // namespace

void vpReceiveWrite(VpBoard& b, const uint8_t* bytes, uint32_t length) {
    if (length < 32) {
        vpProtocolError(b, "write of %u bytes, shorter than a packet header", length);
        return;
    }
    if (length % 2 != 0) vpProtocolError(b, "write of an odd number of bytes (%u)", length);
    if (!checkFraming(b, bytes)) {
        abandonTransfer(b);
        return;
    }
    uint16_t stream = word(bytes, 7);
    if (stream == VP_STREAM_CMM) {
        receiveCmm(b, bytes, length);
    } else if (stream == VP_STREAM_DATA) {
        receiveData(b, bytes, length);
    } else {
        vpProtocolError(b, "stream type: expected 0x0BAA or 0x85B5, got 0x%04X", stream);
        abandonTransfer(b);
    }
}

void vpQueueReply(VpBoard& b, const std::vector<uint8_t>& body) {
    uint32_t totalWords = static_cast<uint32_t>((body.size() + 1) / 2);
    uint32_t perPacket = VP_REPLY_BODY_MAX / 2;
    uint16_t count =
        static_cast<uint16_t>(totalWords == 0 ? 1 : (totalWords + perPacket - 1) / perPacket);
    for (uint16_t i = 0; i < count; ++i) {
        uint32_t first = i * perPacket;
        uint32_t words = totalWords - first < perPacket ? totalWords - first : perPacket;
        std::vector<uint8_t> p(32 + size_t(words) * 2, 0);
        for (uint32_t w = 0; w < 7; ++w) le::putU16(p.data(), 2 * w, VP_MAGIC[w]);
        le::putU16(p.data(), 14, VP_STREAM_CMM);
        le::putU16(p.data(), 16, expectedKind(i, count));
        le::putU16(p.data(), 18, b.replySerial);
        le::putU16(p.data(), 20, i);
        le::putU16(p.data(), 22, static_cast<uint16_t>(words));
        le::putU16(p.data(), 24, count);
        le::putU16(p.data(), 26, static_cast<uint16_t>(totalWords >> 16));
        le::putU16(p.data(), 28, static_cast<uint16_t>(totalWords));
        le::putU16(p.data(), 30, sumWords(p.data(), 15));
        size_t from = size_t(first) * 2;
        size_t n = std::min(body.size() - std::min(body.size(), from), size_t(words) * 2);
        if (n) std::memcpy(p.data() + 32, body.data() + from, n);
        b.replies.push_back(std::move(p));
    }
    ++b.replySerial;
}

void vpProtocolError(VpBoard& b, const char* fmt, ...) {
    char text[400];
    va_list args;
    va_start(args, fmt);
    std::vsnprintf(text, sizeof text, fmt, args);
    va_end(args);
    b.protocolErrors.push_back(text);
    vpEvent(b, "{\"event\":\"protocol_error\",\"what\":\"" + vpJsonEscape(text) + "\"}");
}

uint32_t VPrinter_ProtocolErrorCount() {
    VpBoard& b = vpBoard();
    std::lock_guard<std::mutex> lock(b.mu);
    return static_cast<uint32_t>(b.protocolErrors.size());
}

std::vector<std::string> VPrinter_ProtocolErrors() {
    VpBoard& b = vpBoard();
    std::lock_guard<std::mutex> lock(b.mu);
    return b.protocolErrors;
}

uint32_t VPrinter_PendingReplyPackets() {
    VpBoard& b = vpBoard();
    std::lock_guard<std::mutex> lock(b.mu);
    return static_cast<uint32_t>(b.replies.size());
}

uint64_t VPrinter_DataBytesReceived() {
    VpBoard& b = vpBoard();
    std::lock_guard<std::mutex> lock(b.mu);
    return b.dataBytes;
}
