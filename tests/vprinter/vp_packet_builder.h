// SPDX-License-Identifier: Apache-2.0
// Hand-built host packets for driving the virtual printer, written apart from the host's own
// framing so that a mistake in either shows up as a disagreement.
#pragma once
#include <cstdint>
#include <cstring>
#include <vector>

#include "platform/usb_driver.h"

namespace vpt {

using Bytes = std::vector<uint8_t>;

constexpr uint16_t MAGIC[7] = {0xABCD, 0xEC38, 0xB92B, 0x7CAE, 0x9899, 0xC2F0, 0xDC35};
constexpr uint16_t CMM = 0x0BAA, DATA = 0x85B5;
constexpr uint16_t ONLY = 0xF008, FIRST = 0xF001, MIDDLE = 0xF004, LAST = 0xF002;

inline void put16(uint8_t* p, size_t off, uint32_t v) {
    p[off] = uint8_t(v);
    p[off + 1] = uint8_t(v >> 8);
}
inline void put32(uint8_t* p, size_t off, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[off + i] = uint8_t(v >> (8 * i));
}
inline uint16_t get16(const uint8_t* p, size_t off) { return uint16_t(p[off] | (p[off + 1] << 8)); }
inline uint32_t get32(const uint8_t* p, size_t off) {
    return uint32_t(p[off]) | uint32_t(p[off + 1]) << 8 | uint32_t(p[off + 2]) << 16 |
           uint32_t(p[off + 3]) << 24;
}
inline uint16_t wordSum(const uint8_t* p, int words) {
    uint32_t s = 0;
    for (int w = 0; w < words; ++w) s += get16(p, 2 * w);
    return uint16_t(s);
}

inline uint16_t kindOf(uint32_t index, uint32_t count) {
    if (count == 1) return ONLY;
    if (index == 0) return FIRST;
    return index + 1 == count ? LAST : MIDDLE;
}

// Writes the 16-word header at p (checksum included).
inline void header(uint8_t* p, uint16_t stream, uint16_t kind, uint16_t serial, uint16_t index,
                   uint16_t w11, uint16_t count, uint32_t total) {
    for (int w = 0; w < 7; ++w) put16(p, 2 * w, MAGIC[w]);
    put16(p, 14, stream);
    put16(p, 16, kind);
    put16(p, 18, serial);
    put16(p, 20, index);
    put16(p, 22, w11);
    put16(p, 24, count);
    put16(p, 26, total >> 16);
    put16(p, 28, total & 0xFFFF);
    put16(p, 30, wordSum(p, 15));
}
inline void fixHeaderSum(uint8_t* p) { put16(p, 30, wordSum(p, 15)); }
inline void fixPacketSum(uint8_t* p) { put16(p, 126, wordSum(p, 63)); }

// A CMM transfer: one 128-byte write per packet.
inline std::vector<Bytes> cmmPackets(const Bytes& body, uint16_t serial) {
    uint32_t words = uint32_t(body.size() / 2);
    uint32_t count = (words + 46) / 47;
    std::vector<Bytes> out;
    for (uint32_t i = 0; i < count; ++i) {
        Bytes p(128, 0);
        header(p.data(), CMM, kindOf(i, count), serial, uint16_t(i), 47, uint16_t(count), words);
        uint32_t n = std::min<uint32_t>(47, words - i * 47);
        std::memcpy(p.data() + 32, body.data() + i * 94, n * 2);
        fixPacketSum(p.data());
        out.push_back(p);
    }
    return out;
}

// A DATA transfer: batches of seven 8192-byte slots, the last batch cut after its last packet.
inline std::vector<Bytes> dataWrites(const Bytes& data, uint16_t serial) {
    uint32_t words = uint32_t(data.size() / 2);
    uint32_t count = (words + 4063) / 4064;
    std::vector<Bytes> out;
    Bytes batch(7 * 8192, 0);
    for (uint32_t i = 0; i < count; ++i) {
        uint32_t n = std::min<uint32_t>(4064, words - i * 4064);
        uint8_t* p = batch.data() + (i % 7) * 8192;
        std::memset(p, 0, 8192);
        header(p, DATA, kindOf(i, count), serial, uint16_t(i), uint16_t(n - 1), uint16_t(count),
               words);
        std::memcpy(p + 32, data.data() + size_t(i) * 8128, size_t(n) * 2);
        if (i % 7 == 6) {
            out.push_back(batch);
        } else if (i + 1 == count) {
            out.emplace_back(batch.begin(), batch.begin() + (i % 7) * 8192 + 32 + n * 2);
        }
    }
    return out;
}

inline Bytes commandBlock(uint32_t command) {
    Bytes b(64, 0);
    put32(b.data(), 0, command);
    return b;
}

inline Bytes transactionBlock(uint16_t sub, const uint8_t* data = nullptr, size_t len = 0) {
    Bytes b = commandBlock(1);
    put16(b.data(), 4, sub);
    if (data) std::memcpy(b.data() + 6, data, std::min<size_t>(len, 54));
    return b;
}

// Swath block: header fields at their places (record offset r sits at block byte r + 20).
struct Swath {
    uint32_t number = 1, size = 0, feed = 0;
    uint8_t resolution = 2, r2l = 0, spit = 0;
    uint16_t speed = 40 * 600, start = 0, stop = 0, next = 0, spitDistance = 0;
};
inline Bytes swathBlock(const Swath& s) {
    Bytes b = commandBlock(9);
    put32(b.data(), 8, s.size);
    b[28] = 1;
    b[29] = s.resolution;
    b[30] = s.r2l;
    b[32] = s.r2l ? 0 : 1;
    b[33] = s.spit;
    put16(b.data(), 34, s.speed);
    put16(b.data(), 36, s.start);
    put16(b.data(), 38, s.stop);
    put16(b.data(), 40, s.next);
    put16(b.data(), 42, s.spitDistance);
    put16(b.data(), 44, s.speed);
    put32(b.data(), 48, s.number);
    put32(b.data(), 56, s.feed);
    return b;
}

// A host talking to the board through the installed driver table.
struct Host {
    UsbHandle h = USB_INVALID_HANDLE;
    uint16_t serial = 1;
    uint32_t lastError = 0;

    bool write(const Bytes& bytes) {
        uint8_t in[4] = {0, 0, 0, 0};
        uint32_t ret = 0;
        bool ok = UsbDriver_Get()->ioctl(h, USB_IOCTL_WRITE_PACKETS, in, 4,
                                         const_cast<uint8_t*>(bytes.data()), uint32_t(bytes.size()),
                                         &ret);
        if (!ok) lastError = UsbDriver_Get()->lastError();
        return ok;
    }
    bool sendCmm(const Bytes& body) {
        for (const Bytes& p : cmmPackets(body, serial))
            if (!write(p)) return false;
        ++serial;
        return true;
    }
    bool sendData(const Bytes& data) {
        for (const Bytes& w : dataWrites(data, serial))
            if (!write(w)) return false;
        ++serial;
        return true;
    }
    bool readPacket(Bytes* out) {
        uint8_t in[4] = {2, 0, 0, 0};
        out->assign(128, 0);
        uint32_t ret = 0;
        bool ok = UsbDriver_Get()->ioctl(h, USB_IOCTL_READ_PACKET, in, 4, out->data(), 128, &ret);
        if (!ok) lastError = UsbDriver_Get()->lastError();
        return ok;
    }
    // Gathers the bodies of one reply (first..last or only); false on a failed read or an
    // unknown kind (kind returned in *badKind).
    bool readReply(Bytes* body, uint16_t* badKind = nullptr) {
        body->clear();
        Bytes p;
        for (;;) {
            if (!readPacket(&p)) return false;
            uint16_t kind = get16(p.data(), 16);
            if (kind != ONLY && kind != FIRST && kind != MIDDLE && kind != LAST) {
                if (badKind) *badKind = kind;
                return false;
            }
            if (kind == ONLY || kind == FIRST) body->clear();
            uint16_t words = get16(p.data(), 22);
            body->insert(body->end(), p.begin() + 32, p.begin() + 32 + words * 2);
            if (kind == ONLY || kind == LAST) return true;
        }
    }
};

}  // namespace vpt
